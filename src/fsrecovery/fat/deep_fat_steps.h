// The steps after a Deep FAT sweep (and after a stop): merge, the volumes
// found, the root-directory names, and the lost-directory steps that turn
// DirTable into the results tree ("[ Step n of 7 ]"); the incremental passes
// that run between chunks while the sweep is under way; and the volumes the
// results are listed and saved from, one per FileSystemTable row.
#pragma once

#include "fsrecovery/fat/deep_fat_assign.h"
#include "results/file_system_volume.h"

#include <memory>
#include <vector>

namespace torvane {

// The finishing steps (the same after a complete sweep and after a stop).
void RunDeepFatFinish(DeepFatStepContext& ctx);

// The incremental passes: assignment, the first volume's root names and
// the placement of what can be placed already. They never place a folder
// where the finishing steps would put it elsewhere.
void RunDeepFatQuickPasses(DeepFatStepContext& ctx);

// ArrangeDeepFatDirectories: one pass per file system found.
void ArrangeDeepFatDirectories(DeepFatStepContext& ctx, bool quick);

// One volume per FileSystemTable row, keyed by its cluster-0 sector.
std::vector<std::shared_ptr<FileSystemVolume>> MakeDeepFatVolumes(DeepFatStepContext& ctx);
// The same for `rows` found in the range of `partition` (its device set):
// each volume read through the partition with the row's geometry, within
// the volume's own extent where its boot sector gave one.
std::vector<std::shared_ptr<FileSystemVolume>> MakeDeepFatVolumesOf(const std::vector<FatFileSystemRow>& rows,
                                                                    const CurrentPartition& partition);

}  // namespace torvane
