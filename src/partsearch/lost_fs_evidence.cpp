#include "partsearch/lost_fs_evidence.h"

#include "disk/boot_record.h"
#include "fsrecovery/exfat/exfat_format.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include "partsearch/sweep_reader.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kMftRecordBytes = 1024;

bool IsExfatSetStartType(std::uint8_t t)
{
    return IsExfatFileType(t) || t == 0x83 || t == 0x03 || IsExfatStreamType(t) || IsExfatNameType(t);
}

// The first cluster of the unnamed non-resident $DATA of a FILE record read
// (and fixed up) at `sector`.
std::optional<std::uint64_t> FirstDataCluster(Device& device, std::uint64_t sector)
{
    if (sector > kU64Max / kSectorSize)
        return std::nullopt;
    std::array<std::uint8_t, kMftRecordBytes> record{};
    const std::int64_t got = device.ReadAt(sector * kSectorSize, record.data(), record.size());
    if (got != static_cast<std::int64_t>(record.size()))
        return std::nullopt;
    if (ApplyUpdateSequenceFixup(record.data(), record.size()) == FixupResult::Invalid)
        return std::nullopt;
    const NtfsBytes view(record.data(), record.size());
    if (!HasFileSignature(view))
        return std::nullopt;
    const auto data = FindNtfsAttribute(view, kNtfsAttrData, true);
    if (!data || !data->nonResident)
        return std::nullopt;
    const RunList runs = DecodeRunList(view, *data);
    if (runs.runs.empty() || runs.runs.front().sparse)
        return std::nullopt;
    return runs.runs.front().lcn;
}

bool BeginsWithFile(Device& device, std::uint64_t sector)
{
    if (sector > kU64Max / kSectorSize)
        return false;
    std::uint8_t head[4] = {};
    return device.ReadAt(sector * kSectorSize, head, sizeof head) == 4 && head[0] == 'F' && head[1] == 'I' &&
           head[2] == 'L' && head[3] == 'E';
}

bool IsSmallPowerOfTwo(std::uint64_t n) { return IsClusterSizeValid(n); }

std::uint64_t SaturatingAdd64(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

bool IsFsInfoSector(ByteView v) { return v.Matches(0, "RRaA") && v.Matches(484, "rrAa") && HasBootSignature(v); }

}  // namespace

bool IsMftMirrRecordSector(ByteView sector)
{
    return sector.Matches(0, "FILE") && sector.U8(0xF2) == '$' && sector.U8(0xF4) == 'M' &&
           sector.U8(0xF6) == 'F' && sector.U8(0xF8) == 'T' && sector.U8(0xFA) == 'M';
}

bool IsFatDirectoryStartSector(ByteView sector)
{
    return sector.Matches(0, ". ") && sector.Matches(32, ".. ");
}

bool IsFat32TableStartSector(ByteView sector)
{
    return sector.U8(0) == 0xF8 && sector.U8(1) == 0xFF && sector.U8(2) == 0xFF && sector.U8(3) != 0xFF &&
           sector.Has(0, 12) && sector.U32(4) == 0xFFFFFFFFu && sector.U8(11) != 0xFF;
}

std::uint32_t DirectoryStartCluster(ByteView sector)
{
    return MakeDwordFromBytes(sector.U8(26), sector.U8(27), sector.U8(20), sector.U8(21));
}

ExfatEvidence TestExfatEntrySet(ByteView sector, std::string* kind)
{
    if (kind)
        kind->clear();
    const std::uint8_t t0 = sector.U8(0);
    if (!IsExfatSetStartType(t0))
        return ExfatEvidence::NotApplicable;
    if (!sector.Has(0, 512))
        return ExfatEvidence::Fails;
    if (IsExfatDirectoryStart(sector.data(), kind))
        return ExfatEvidence::Passes;
    // A name entry followed by the next file's entry also passes when the
    // fourth entry is a deleted name entry.
    auto t = [&sector](unsigned k) { return sector.U8(32 * k); };
    if (IsExfatNameType(t0) && sector.U8(1) == 0 && t(1) != 0 && t(2) != 0 && IsExfatFileType(t(1)) && t(3) == 0x41) {
        if (kind)
            *kind = "C1_41";
        return ExfatEvidence::Passes;
    }
    return ExfatEvidence::Fails;
}

std::optional<FatRebuild> RebuildFromFolderPair(std::uint64_t prevSector, std::uint32_t prevCluster,
                                                std::uint64_t sector, std::uint32_t cluster,
                                                std::uint64_t rangeStart, std::uint32_t reserved, FsKind type)
{
    if (prevCluster < 2 || cluster == 0xFFFFFFFFu || cluster == prevCluster)
        return std::nullopt;
    if (cluster >= sector || cluster >= prevSector || sector < prevSector)
        return std::nullopt;
    const std::uint32_t clusterDistance = cluster - prevCluster;  // modulo 2^32, as the distances are compared
    const std::uint64_t sectorDistance = sector - prevSector;
    if (clusterDistance == 0 || sectorDistance % clusterDistance != 0)
        return std::nullopt;
    const std::uint64_t spc = sectorDistance / clusterDistance;
    if (!IsSmallPowerOfTwo(spc))
        return std::nullopt;
    FatRebuild r;
    r.sectorsPerCluster = static_cast<std::uint32_t>(spc);
    const std::uint64_t prevOffset = static_cast<std::uint64_t>(prevCluster) * spc;
    if (prevOffset > prevSector)
        return std::nullopt;
    r.cluster0 = prevSector - prevOffset;
    // The space between the reserved sectors and the data area, less 32 root
    // folder sectors, shared by two FATs.
    const std::uint64_t dataStart = r.cluster0 + 2 * spc;
    const std::uint64_t before = rangeStart + reserved + 32;
    if (before < rangeStart || dataStart < before)
        return std::nullopt;
    const std::uint64_t spf = (dataStart - before) / 2;
    if (spf > 0xFFFFFFFFu)
        return std::nullopt;
    r.sectorsPerFat = static_cast<std::uint32_t>(spf);
    r.fat1 = spf == 0 ? 0 : rangeStart + reserved;
    r.fat2 = rangeStart + spf + reserved;
    r.rootStart = r.fat2 + spf;
    r.type = spf * 128 > 65536 ? FsKind::Fat32 : (type == FsKind::Unknown ? FsKind::Fat16 : type);
    return r;
}

std::optional<FatRebuild> RebuildFromTablePair(std::uint64_t f1, std::uint64_t f2, std::uint8_t byte16,
                                               std::uint64_t diskSectors)
{
    if (f2 <= f1 || f2 - f1 > 0xFFFFFFFFu)
        return std::nullopt;
    FatRebuild r;
    r.fat1 = f1;
    r.fat2 = f2;
    r.sectorsPerFat = static_cast<std::uint32_t>(f2 - f1);
    const std::uint64_t root = f2 + r.sectorsPerFat;
    std::uint64_t entries = 0;
    if (byte16 == 0xFF) {
        r.type = FsKind::Fat32;
        entries = static_cast<std::uint64_t>(r.sectorsPerFat) * 128;
    } else {
        r.type = FsKind::Fat16;
        entries = static_cast<std::uint64_t>(r.sectorsPerFat) * 256;
    }
    if (entries > 65536)
        r.type = FsKind::Fat32;
    const std::uint64_t spc = diskSectors / entries;
    r.sectorsPerCluster = IsSmallPowerOfTwo(spc) ? static_cast<std::uint32_t>(spc) : 0;
    if (r.sectorsPerCluster > 0) {
        const std::uint64_t twoClusters = 2ull * r.sectorsPerCluster;
        r.cluster0 = root >= twoClusters ? root - twoClusters : 0;
        r.rootStart = 2;
    } else {
        r.cluster0 = root;
        r.rootStart = 0;
    }
    return r;
}

std::optional<std::uint64_t> FindFat32VolumeStart(Device& device, std::uint64_t fat1)
{
    // The nearest FSInfo sector in front of the FAT (reserved sectors are
    // counted in 16 bits); when another one lies 6 sectors before it, that
    // is the primary and this the backup.
    constexpr std::uint64_t kChunk = 64;
    const std::uint64_t lowest = fat1 > 0xFFFF ? fat1 - 0xFFFF : 0;
    if (fat1 > kU64Max / kSectorSize)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(kChunk * kSectorSize);
    auto isFsInfo = [&](std::uint64_t sector) {
        std::array<std::uint8_t, kSectorSize> one{};
        return ReadAsFarAsPossible(device, sector * kSectorSize, one.data(), one.size()) == one.size() &&
               IsFsInfoSector(ByteView(one.data(), one.size()));
    };
    for (std::uint64_t end = fat1; end > lowest + 1;) {
        const std::uint64_t first = std::max(lowest + 1, end >= kChunk ? end - kChunk : 0);
        const std::size_t got =
            ReadAsFarAsPossible(device, first * kSectorSize, bytes.data(), static_cast<std::size_t>(end - first) * kSectorSize);
        for (std::uint64_t s = end; s-- > first;) {
            const std::uint64_t off = (s - first) * kSectorSize;
            if (off + kSectorSize > got || !IsFsInfoSector(ByteView(bytes.data() + off, kSectorSize)))
                continue;
            if (s >= 7 && isFsInfo(s - 6))
                return s - 7;
            return s - 1;
        }
        end = first;
    }
    return std::nullopt;
}

std::optional<Fat32Tables> FindFat32Tables(Device& device, std::uint64_t volumeStart, std::uint64_t dataStart)
{
    auto beginsLikeFat = [&](std::uint64_t sector) {
        std::uint8_t head[3] = {};
        return sector <= kU64Max / kSectorSize && device.ReadAt(sector * kSectorSize, head, 3) == 3 &&
               head[0] == 0xF8 && head[1] == 0xFF && head[2] == 0xFF;
    };
    const std::uint64_t last = std::min(dataStart, SaturatingAdd64(volumeStart, 0x10000));
    for (std::uint64_t f1 = volumeStart + 1; f1 < last; ++f1) {
        if (!beginsLikeFat(f1))
            continue;
        if ((dataStart - f1) % 2 != 0 || (dataStart - f1) / 2 > 0xFFFFFFFFu)
            return std::nullopt;
        const std::uint64_t spf = (dataStart - f1) / 2;
        if (spf == 0 || !beginsLikeFat(f1 + spf))
            return std::nullopt;
        return Fat32Tables{f1, static_cast<std::uint32_t>(spf)};
    }
    return std::nullopt;
}

std::optional<std::uint32_t> FindFat32ClusterSize(Device& device, std::uint64_t dataStart)
{
    std::array<std::uint8_t, kSectorSize> root{}, probe{};
    if (dataStart > kU64Max / kSectorSize ||
        ReadAsFarAsPossible(device, dataStart * kSectorSize, root.data(), root.size()) != root.size())
        return std::nullopt;
    const ByteView entries(root.data(), root.size());
    for (std::size_t e = 0; e < kSectorSize; e += 32) {
        const ByteView entry = entries.Sub(e, 32);
        const std::uint8_t first = entry.U8(0);
        if (first == 0)
            break;
        if (first == 0xE5 || first == '.' || entry.U8(11) == 0x0F || (entry.U8(11) & 0x10) == 0)
            continue;
        const std::uint32_t cluster = DirectoryStartCluster(entry);
        if (cluster < 3 || cluster >= 0x0FFFFFF0u)
            continue;
        for (std::uint32_t spc = 1; spc <= 128; spc *= 2) {
            const std::uint64_t at = dataStart + static_cast<std::uint64_t>(cluster - 2) * spc;
            if (ReadAsFarAsPossible(device, at * kSectorSize, probe.data(), probe.size()) != probe.size())
                continue;
            const ByteView v(probe.data(), probe.size());
            if (IsFatDirectoryStartSector(v) && DirectoryStartCluster(v) == cluster)
                return spc;
        }
    }
    return std::nullopt;
}

std::uint32_t SectorsPerClusterFromMirrorSize(std::uint64_t size)
{
    const std::uint64_t v = size / 512;
    if (v > 0xFFFFFFFFu)
        return 0;
    return v == 244 ? 4096 : static_cast<std::uint32_t>(v);
}

std::optional<NtfsPlacement> PlaceNtfsFromMftMirrRecord(Device& device, std::uint64_t sector,
                                                        std::uint32_t preferred)
{
    if (sector < 2)
        return std::nullopt;
    const std::uint64_t recordZero = sector - 2;
    const auto mftLcn = FirstDataCluster(device, recordZero);
    const auto mirrLcn = FirstDataCluster(device, sector);
    if (!mftLcn || !mirrLcn || *mftLcn == *mirrLcn)
        return std::nullopt;
    std::uint32_t recordSectors = 2;
    {
        std::uint8_t header[32] = {};
        if (device.ReadAt(sector * kSectorSize, header, sizeof header) == sizeof header) {
            const std::uint32_t allocated = ByteView(header, sizeof header).U32(28);
            if (allocated == 1024 || allocated == 2048 || allocated == 4096)
                recordSectors = allocated / 512;
        }
    }
    std::uint32_t sizes[9] = {preferred, 1, 2, 4, 8, 16, 32, 64, 128};
    for (std::uint32_t spc : sizes) {
        if (!IsSmallPowerOfTwo(spc))
            continue;
        // The record lies in the $MFT itself, or in its mirror.
        for (std::uint64_t lcn : {*mftLcn, *mirrLcn}) {
            if (lcn > (kU64Max / spc) || lcn * spc > recordZero)
                continue;
            const std::uint64_t start = recordZero - lcn * spc;
            if (*mftLcn > (kU64Max - start) / spc || *mirrLcn > (kU64Max - start) / spc)
                continue;
            const std::uint64_t mft = start + *mftLcn * spc;
            const std::uint64_t mirr = start + *mirrLcn * spc;
            if (BeginsWithFile(device, mft) && BeginsWithFile(device, mirr))
                return NtfsPlacement{start, spc, mft, mirr, recordSectors};
        }
    }
    return std::nullopt;
}

}  // namespace torvane
