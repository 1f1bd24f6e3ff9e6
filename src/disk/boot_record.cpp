#include "disk/boot_record.h"

#include <limits>

namespace torvane {
namespace {

constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

}  // namespace

bool HasBootSignature(ByteView sector) { return sector.U8(510) == 0x55 && sector.U8(511) == 0xAA; }

FsKind RecognizeBootRecord(ByteView sector, BootMarks marks)
{
    if (marks == BootMarks::TypeNames) {
        if (sector.Matches(0x52, "FAT32"))
            return FsKind::Fat32;
        if (sector.Matches(0x36, "FAT16"))
            return FsKind::Fat16;
        if (sector.Matches(3, "NTFS"))
            return FsKind::Ntfs;
        if (sector.Matches(3, "EXFAT"))
            return FsKind::Exfat;
        return FsKind::Unknown;
    }
    if (!HasBootSignature(sector))
        return FsKind::Unknown;
    if (sector.Matches(0x55, "32"))
        return FsKind::Fat32;
    if (sector.Matches(0x39, "16"))
        return FsKind::Fat16;
    if (sector.Matches(3, "NTFS"))
        return FsKind::Ntfs;
    if (sector.Matches(3, "EXFAT") && sector.U8(0x6D) != 0)
        return FsKind::Exfat;
    return FsKind::Unknown;
}

std::uint64_t BootRecordSectors(ByteView sector, FsKind kind)
{
    switch (kind) {
    case FsKind::Fat16:
    case FsKind::Fat32: {
        const std::uint16_t small = sector.U16(19);
        return small != 0 ? small : sector.U32(32);
    }
    case FsKind::Exfat: return sector.U64(72);
    case FsKind::Ntfs: return sector.U64(40);
    case FsKind::Unknown: break;
    }
    return 0;
}

// --- FAT -----------------------------------------------------------------------------

FatBootRecord DecodeFatBootRecord(ByteView sector)
{
    FatBootRecord r;
    r.signature = HasBootSignature(sector);
    if (sector.Matches(82, "FAT32"))
        r.named = FsKind::Fat32;
    else if (sector.Matches(54, "FAT16"))
        r.named = FsKind::Fat16;
    r.bytesPerSector = sector.U16(11);
    r.sectorsPerCluster = sector.U8(13);
    r.reservedSectors = sector.U16(14);
    r.numberOfFats = sector.U8(16);
    r.rootEntryCount = sector.U16(17);
    r.totalSectors = static_cast<std::uint32_t>(BootRecordSectors(sector, FsKind::Fat32));
    r.media = sector.U8(21);
    r.sectorsPerFat16 = sector.U16(22);
    r.hiddenSectors = sector.U32(28);
    r.sectorsPerFat32 = sector.U32(36);
    r.rootCluster = sector.U32(44);
    return r;
}

std::optional<FatBootRecord> ReadFatBootRecord(ByteView sector)
{
    FatBootRecord r = DecodeFatBootRecord(sector);
    if (!r.Valid())
        return std::nullopt;
    return r;
}

// --- exFAT ---------------------------------------------------------------------------

std::optional<ExfatBootRecord> ReadExfatBootRecord(ByteView sector)
{
    if (!HasBootSignature(sector) || !sector.Matches(3, "EXFAT   "))
        return std::nullopt;
    const std::uint32_t bpsShift = sector.U8(108);
    const std::uint32_t spcShift = sector.U8(109);
    // 512..4096-byte sectors, clusters up to 32 MiB.
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift)
        return std::nullopt;
    ExfatBootRecord r;
    r.partitionOffset = sector.U64(64);
    r.volumeLength = sector.U64(72);
    r.fatOffset = sector.U32(80);
    r.fatLength = sector.U32(84);
    r.heapOffset = sector.U32(88);
    r.clusterCount = sector.U32(92);
    r.rootCluster = sector.U32(96);
    r.serial = sector.U32(100);
    r.numberOfFats = sector.U8(110);
    r.bytesPerSector = 1u << bpsShift;
    r.sectorsPerCluster = 1u << spcShift;
    // The FAT and the heap lie inside the volume (when the volume length is
    // known), the FAT before the heap, and the root inside the heap.
    if (r.fatOffset == 0 || r.fatLength == 0 || r.heapOffset < r.fatOffset)
        return std::nullopt;
    if (r.volumeLength != 0 && (r.heapOffset >= r.volumeLength || r.fatOffset >= r.volumeLength))
        return std::nullopt;
    if (r.clusterCount == 0 || r.clusterCount > 0xFFFFFFF5u)
        return std::nullopt;
    if (r.rootCluster < 2 || r.rootCluster - 2 >= r.clusterCount)
        return std::nullopt;
    // The FAT must hold a cell for every cluster, and its byte offset is kept in 32 bits.
    const std::uint64_t fatBytes = static_cast<std::uint64_t>(r.fatLength) * r.bytesPerSector;
    if (fatBytes / 4 < static_cast<std::uint64_t>(r.clusterCount) + 2)
        return std::nullopt;
    if (static_cast<std::uint64_t>(r.bytesPerSector) * r.fatOffset > kU32Max)
        return std::nullopt;
    return r;
}

// --- NTFS ------------------------------------------------------------------------------

// A u32 field times a cluster size of at most 4096 sectors: no overflow.
std::uint64_t NtfsBootRecord::FileRecordSectors(std::uint64_t clusterSectors) const
{
    return fileRecordField == 0xF6 ? 2 : fileRecordField * clusterSectors;
}

std::uint64_t NtfsBootRecord::IndexRecordSectors(std::uint64_t clusterSectors) const
{
    return indexRecordField == 0xF4 ? 8 : indexRecordField * clusterSectors;
}

bool NtfsBootRecord::RecordSizeValid() const
{
    const std::uint64_t n = FileRecordSectors();
    return n == 2 || n == 4 || n == 6 || n == 8;
}

NtfsBootRecord DecodeNtfsBootRecord(ByteView sector)
{
    NtfsBootRecord r;
    r.signature = HasBootSignature(sector);
    r.named = sector.Matches(3, "NTFS");
    r.bytesPerSector = sector.U16(11);
    const std::uint64_t spc = sector.U8(13);
    r.sectorsPerCluster = spc == 0xF4 ? 4096 : spc;
    r.totalSectors = sector.U64(40);
    r.mftLcn = sector.U64(48);
    r.mftMirrLcn = sector.U64(56);
    r.fileRecordField = sector.U32(64);
    r.indexRecordField = sector.U32(68);
    r.serial = sector.U64(72);
    return r;
}

std::optional<NtfsBootRecord> ReadNtfsBootRecord(ByteView sector)
{
    NtfsBootRecord r = DecodeNtfsBootRecord(sector);
    if (!r.Valid())
        return std::nullopt;
    return r;
}

// --- the volume of a sector ----------------------------------------------------------

FsKind RecognizeVolumeBootRecord(ByteView sector)
{
    const FsKind kind = RecognizeBootRecord(sector, BootMarks::TypeNames);
    switch (kind) {
    case FsKind::Fat16:
    case FsKind::Fat32: {
        const auto r = ReadFatBootRecord(sector);
        if (!r || r->named != kind || r->bytesPerSector != 512 || r->reservedSectors == 0 || r->numberOfFats == 0 ||
            r->SectorsPerFat(kind) == 0 || r->totalSectors == 0)
            return FsKind::Unknown;
        return kind;
    }
    case FsKind::Exfat: return ReadExfatBootRecord(sector) ? kind : FsKind::Unknown;
    case FsKind::Ntfs: {
        const auto r = ReadNtfsBootRecord(sector);
        return r && r->named && r->bytesPerSector == 512 && r->totalSectors != 0 ? kind : FsKind::Unknown;
    }
    case FsKind::Unknown: break;
    }
    return FsKind::Unknown;
}

}  // namespace torvane
