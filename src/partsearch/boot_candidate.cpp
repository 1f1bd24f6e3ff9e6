#include "partsearch/boot_candidate.h"

#include "disk/boot_record.h"

#include <algorithm>
#include <limits>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

// |a - b| < 10, as signed 64-bit distances are taken.
bool Near(std::uint64_t a, std::uint64_t b) { return (a > b ? a - b : b - a) < 10; }

std::uint32_t Count(const DiskPartitionEntry& table, std::uint32_t limit)
{
    return std::min<std::uint32_t>({table.RecordCount, limit, static_cast<std::uint32_t>(kMaxPartitionsPerDisk)});
}

}  // namespace

std::uint64_t BootCandidate::End() const { return SaturatingAdd(start, size); }

std::optional<BootCandidate> MatchSweepBootSector(ByteView bytes, std::uint64_t sector)
{
    const FsKind kind = RecognizeBootRecord(bytes, BootMarks::SweepMarks);
    if (kind == FsKind::Unknown)
        return std::nullopt;
    const std::uint64_t size = BootRecordSectors(bytes, kind);
    if (size == 0)
        return std::nullopt;
    return BootCandidate{kind, sector, size};
}

bool IsKnownToAdvancedSweep(const DiskPartitionEntry& table, std::uint32_t fat32Records, const BootCandidate& c,
                            std::uint64_t blockStart, std::uint64_t diskSectors,
                            std::optional<std::uint64_t> candidateCluster0)
{
    const std::uint64_t s = c.start, size = c.size, b = blockStart, T = diskSectors;
    const std::uint64_t e = c.End();
    const std::uint64_t ec = std::min(e, T);
    const std::uint64_t bEnd = SaturatingAdd(b, size);
    const std::string type(FsKindText(c.kind));
    const std::uint32_t n = Count(table, c.kind == FsKind::Fat32 ? fat32Records : table.RecordCount);
    for (std::uint32_t j = 0; j < n; ++j) {
        const std::string& nj = table.FsNames[j];
        const std::uint64_t sj = table.Records[j].StartSector, ej = table.Records[j].EndSector;
        switch (c.kind) {
        case FsKind::Fat32:
        case FsKind::Fat16: {
            // R0: the same volume as a known FAT record (its cluster 0).
            if (nj.rfind("FAT", 0) == 0 && candidateCluster0 && table.Records[j].Geometry.Cluster0Start != 0 &&
                *candidateCluster0 == table.Records[j].Geometry.Cluster0Start)
                return true;
            if (nj != type)
                break;
            // R1..R5 / F1..F5
            if ((sj == s && ej == e) || (sj == s && ej == T) || (sj == b && ej == bEnd) || (sj == s && ej == ec) ||
                (sj == b && ej == ec))
                return true;
            // R6, R7 / F6, F7: the backup boot sector six sectors in.
            if (s >= 6 && sj == s - 6 && (ej == e || ej == T))
                return true;
            // R8
            if (c.kind == FsKind::Fat32 && s >= 6 && sj == s - 6 && e >= 6 && ej == e - 6)
                return true;
            break;
        }
        case FsKind::Ntfs:
            if (nj != type)
                break;
            // N1 .. N4; N5: the candidate lies within 10 sectors of a record's
            // end (the backup boot sector at the last sector of a known volume).
            if ((sj == s && ej == e) || (sj == b && ej == bEnd) || (sj == s && Near(ej, ec)) || (sj == s && ej == T) ||
                Near(s, ej))
                return true;
            break;
        case FsKind::Exfat:
            if (nj != type)
                break;
            // X1, X2, X6; X3..X5: the backup boot sector twelve sectors in.
            if ((sj == s && ej == e) || (sj == s && ej == T) || (sj == b && ej == bEnd))
                return true;
            if (s >= 12 && sj == s - 12 && (ej == e || ej == T || (e >= 12 && ej == e - 12)))
                return true;
            break;
        case FsKind::Unknown: return false;
        }
    }
    return false;
}

bool IsKnownToStandardSweep(const DiskPartitionEntry& table, std::uint32_t fat32Records, const BootCandidate& c,
                            std::optional<std::uint64_t> candidateCluster0)
{
    const std::string type(FsKindText(c.kind));
    const std::uint64_t e = c.End();
    const std::uint32_t n = Count(table, c.kind == FsKind::Fat32 ? fat32Records : table.RecordCount);
    for (std::uint32_t j = 0; j < n; ++j) {
        if (candidateCluster0 && table.FsNames[j].rfind("FAT", 0) == 0 &&
            table.Records[j].Geometry.Cluster0Start != 0 && table.Records[j].Geometry.Cluster0Start == *candidateCluster0)
            return true;
        if (table.Records[j].StartSector != c.start || table.FsNames[j] != type)
            continue;
        const std::uint64_t ej = table.Records[j].EndSector;
        if (c.kind == FsKind::Ntfs ? Near(ej, e) : ej == e)
            return true;
    }
    return false;
}

}  // namespace torvane
