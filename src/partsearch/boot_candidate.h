// Boot sectors met by the sector sweeps, and the rules that tell a boot
// sector of a partition the disk already has (its own, or its backup copy)
// from a new one.
#pragma once

#include "base/byte_view.h"
#include "disk/fs_kind.h"
#include "disk/partition_table.h"

#include <cstdint>
#include <optional>

namespace torvane {

// A boot sector the sweeps would record: its kind, where it lies and the
// size it declares. Sizes are read 64 bits wide, and a FAT volume's size falls
// back to the 16-bit field (small FAT16 volumes keep it there).
struct BootCandidate {
    FsKind kind = FsKind::Unknown;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    // One past the last sector (saturating: a size that would wrap ends at 2^64 - 1).
    std::uint64_t End() const;
};

// The candidate the sector at `sector` holds: the signature 0x55 0xAA and one
// of the sweeps' marks (BootMarks::SweepMarks), with a size that is not 0.
std::optional<BootCandidate> MatchSweepBootSector(ByteView bytes, std::uint64_t sector);

// The Advanced sweep's known-partition rules. `blockStart` is the start of the
// 256 KB block the candidate lies in, `diskSectors` the disk's sector count.
// FAT32 candidates are compared with records 0 to fat32Records - 1, the others
// with all records. `candidateCluster0` is the cluster-0 sector the
// candidate's own boot sector gives (FAT only; empty when it gives none): a
// FAT candidate whose volume has the cluster 0 of a known FAT record is that
// record's volume, whatever end the record was listed with.
bool IsKnownToAdvancedSweep(const DiskPartitionEntry& table, std::uint32_t fat32Records, const BootCandidate& c,
                            std::uint64_t blockStart, std::uint64_t diskSectors,
                            std::optional<std::uint64_t> candidateCluster0);

// The Standard sweep's rule: a record with the candidate's start, type and
// end (NTFS: an end less than 10 sectors away); or, for a FAT candidate, a FAT
// record whose volume has the candidate's cluster 0 (`candidateCluster0`).
bool IsKnownToStandardSweep(const DiskPartitionEntry& table, std::uint32_t fat32Records, const BootCandidate& c,
                            std::optional<std::uint64_t> candidateCluster0 = std::nullopt);

}  // namespace torvane
