// The Deep Search over FAT16 and FAT32: every sector of the range is looked
// at for
//  - boot sectors (55 AA, "32" at 85 or "16" at 57): BootSecTable rows with
//    the geometry each names, counted from its own sector;
//  - directory first clusters (the "." and ".." entries at 0 and 32):
//    DirTable rows with the directory's own and its parent's cluster;
//  - other sectors that look like directory entries: the first sector of
//    each run becomes a NewListTable row (a continuation cluster whose
//    directory lost its first cluster).
// After the sweep the rows are assigned to the FAT volumes they fit
// (deep_fat_assign.h) and arranged into the results tree (deep_fat_steps.h).
//
// Bounds: every sector is examined only within the bytes read; the long-name
// skip of a continuation sector stays inside the chunk; a cluster number is
// computed only for sectors at or after the cluster-0 sector; FAT cells are
// read at the volume's own FAT, 16 bits wide on FAT16; BootSecTable keeps at
// most 65,535 rows.
#pragma once

#include "fsrecovery/deep/deep_sweeper.h"
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/fat/fat_chain.h"
#include "fsrecovery/store/found_items.h"

#include <cstdint>
#include <memory>

namespace torvane {

inline constexpr std::size_t kMaxBootSectorRows = 65535;

// The per-sweep state of the sector classification.
struct DeepFatSweepState {
    std::uint64_t lastNewListSector = 0;   // 0: none yet
    bool haveNewListRow = false;
    // The geometry read from the range's first sector (zeros when none).
    VolumeGeometry geometry;
    PartitionDescriptor descriptor;        // SectorsPerCluster and Cluster0Start are read
    FatKind fatKind = FatKind::None;       // the width of the FAT cells of `geometry`
    std::unique_ptr<FatTable> fat;         // the geometry's FAT, when it names one
    // Given each directory's first cluster as the sweep meets it (null: none).
    DeviceReadCache* readCache = nullptr;
};

// Readies `state` for a sweep of `partition` (its geometry as read).
void BeginDeepFatSweep(DeepFatSweepState& state, const CurrentPartition& partition, Device* device);

// Examines the sectors first .. first + count - 1 held in `data`.
void ClassifyDeepFatSectors(DeepFatSweepState& state, DeepTables& tables, ScanResults& results,
                            std::uint64_t first, const std::uint8_t* data, std::size_t count);

// The FAT16/FAT32 sweeper of the Deep scan job.
std::unique_ptr<DeepSweeper> MakeDeepFatSweeper();

}  // namespace torvane
