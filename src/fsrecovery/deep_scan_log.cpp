#include "fsrecovery/deep_scan_log.h"

#include "base/byte_view.h"
#include "base/text_routines.h"
#include "disk/sector_reader.h"
#include "fsrecovery/fat/deep_fat_steps.h"
#include "fsrecovery/store/name_rules.h"

#include <string>

namespace torvane {
namespace {

std::string Dec(std::uint64_t v) { return std::to_string(v); }

std::uint64_t U64(const std::string& text) { return ParseDecimalU64(text); }

std::uint32_t U32(const std::string& text)
{
    const std::uint64_t v = ParseDecimalU64(text);
    return v > 0xFFFFFFFFull ? 0u : static_cast<std::uint32_t>(v);
}

// An exFAT volume the Deep scan read without its boot sector keeps the
// layout it derived (cluster-0 sector, cluster size, root cluster, FAT size)
// in the geometry the log holds, but not where its FAT begins: that is found
// again as the scan found it, the first sector between the volume's start and
// its cluster heap that begins with the media cell F8 FF FF FF and the end
// cell FF FF FF FF (64 MiB at most).
void RestoreDerivedExfatLayout(CurrentPartition& p)
{
    const VolumeGeometry& g = p.Geometry;
    if (p.Exfat.BytesPerSector != 0 || g.SectorsPerCluster == 0 || g.SectorsPerCluster > 65536 || !p.Device)
        return;
    p.ExfatFallbackGeometry = true;
    p.Exfat.Cluster0Sector = g.Cluster0Start;
    p.Exfat.VolumeByteBase = p.Descriptor.StartSector * kSectorSize;
    p.Exfat.SectorsPerCluster = g.SectorsPerCluster;
    const std::uint64_t heapByte = (g.Cluster0Start + 2ull * g.SectorsPerCluster) * kSectorSize;
    if (heapByte < p.Exfat.VolumeByteBase)
        return;
    p.Exfat.HeapOffsetClusters =
        static_cast<std::uint32_t>((heapByte - p.Exfat.VolumeByteBase) / kSectorSize / g.SectorsPerCluster);
    if (g.SectorsPerFat == 0)
        return;   // the scan found no FAT either
    const std::uint64_t base = p.Exfat.VolumeByteBase;
    std::uint8_t s[kSectorSize];
    for (std::uint64_t b = base; b + kSectorSize <= heapByte && b < base + (64ull << 20); b += kSectorSize) {
        if (ReadBytesFrom(*p.Device, b, s, sizeof s) == 0)
            continue;
        const ByteView fat(s, sizeof s);
        if (fat.U32(0) == 0xFFFFFFF8u && fat.U32(4) == 0xFFFFFFFFu) {
            if (b - base <= 0xFFFFFFFFull)
                p.Exfat.FatByteOffset = static_cast<std::uint32_t>(b - base);
            return;
        }
    }
}

}  // namespace

ScanLogFileSystemRow ScanLogTextsOfFileSystemRow(const FatFileSystemRow& r)
{
    return ScanLogFileSystemRow{Dec(r.sector),          Dec(r.sectorsPerFat), Dec(r.sectorsPerCluster),
                                Dec(r.rootSectors),     Dec(r.rootStart),     Dec(r.reservedSectors),
                                Dec(r.cluster0Start),   Dec(r.firstFat),      Dec(r.secondFat),
                                Dec(r.totalSectors),    r.partType,           r.endSector ? Dec(r.endSector) : ""};
}

FatFileSystemRow FileSystemRowOfScanLogTexts(const ScanLogFileSystemRow& t)
{
    FatFileSystemRow r;
    r.sector = U64(t[0]);
    r.sectorsPerFat = U32(t[1]);
    r.sectorsPerCluster = U32(t[2]);
    r.rootSectors = U32(t[3]);
    r.rootStart = U64(t[4]);
    r.reservedSectors = U32(t[5]);
    r.cluster0Start = U64(t[6]);
    r.firstFat = U64(t[7]);
    r.secondFat = U64(t[8]);
    r.totalSectors = U64(t[9]);
    r.partType = TrimWhite(t[10]);
    r.endSector = U64(t[11]);
    return r;
}

ScanLogExtentRow ScanLogTextsOfExtentRow(const PartitionExtentRow& r)
{
    return ScanLogExtentRow{r.drive,           Dec(r.part),     Dec(r.startSector),
                            Dec(r.endSector),  Dec(r.cluster0), Dec(r.driveEndSector)};
}

PartitionExtentRow ExtentRowOfScanLogTexts(const ScanLogExtentRow& t)
{
    PartitionExtentRow r;
    r.drive = t[0];
    r.part = U32(t[1]);
    r.startSector = U64(t[2]);
    r.endSector = U64(t[3]);
    r.cluster0 = U64(t[4]);
    r.driveEndSector = U64(t[5]);
    return r;
}

std::vector<ScanLogFileSystemRow> DeepScanLogTables::FileSystemRows() const
{
    std::vector<ScanLogFileSystemRow> rows;
    rows.reserve(tables_.fileSystems.size());
    for (const FatFileSystemRow& r : tables_.fileSystems)
        rows.push_back(ScanLogTextsOfFileSystemRow(r));
    return rows;
}

std::vector<ScanLogExtentRow> DeepScanLogTables::ExtentRows() const
{
    std::vector<ScanLogExtentRow> rows;
    rows.reserve(tables_.extents.size());
    for (const PartitionExtentRow& r : tables_.extents)
        rows.push_back(ScanLogTextsOfExtentRow(r));
    return rows;
}

void DeepScanLogTables::RestoreTables(const std::vector<ScanLogFileSystemRow>& fileSystems,
                                      const std::vector<ScanLogExtentRow>& extents)
{
    tables_.Clear();
    for (const ScanLogFileSystemRow& t : fileSystems) {
        if (tables_.fileSystems.size() >= kMaxDeepLogFileSystems)
            break;
        tables_.fileSystems.push_back(FileSystemRowOfScanLogTexts(t));
    }
    tables_.extents.reserve(extents.size());
    for (const ScanLogExtentRow& t : extents)
        tables_.extents.push_back(ExtentRowOfScanLogTexts(t));
    // The steps of the scan are over for these results.
    tables_.workersStopped = true;
    tables_.finalAnalysis = true;
    tables_.Publish(FoundFatFileSystems(tables_.fileSystems));
}

std::vector<std::shared_ptr<FileSystemVolume>> DeepScanLogTables::RebuildVolumes(const CurrentPartition& partition,
                                                                                  ScanResults& /*results*/)
{
    if (!partition.Device)
        return {};
    const FsKind kind = FsKindFromText(partition.Descriptor.FsType);
    if (kind == FsKind::Fat16 || kind == FsKind::Fat32) {
        // No file system found: nothing to read files from, as after the scan.
        if (tables_.fileSystems.empty())
            return {};
        CurrentPartition p = partition;
        // The first volume is the current one, as the scan left it.
        LoadFatVolumeRow(tables_.fileSystems.front(), p.Descriptor);
        return MakeDeepFatVolumesOf(tables_.fileSystems, p);
    }
    CurrentPartition p = partition;
    if (kind == FsKind::Exfat)
        RestoreDerivedExfatLayout(p);
    std::vector<std::shared_ptr<FileSystemVolume>> volumes;
    if (std::shared_ptr<FileSystemVolume> volume = MakeLoadedVolume(p))
        volumes.push_back(std::move(volume));
    return volumes;
}

}  // namespace torvane
