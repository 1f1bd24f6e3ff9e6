// FAT16 and FAT32 as the results views and the save pipeline meet them: a
// folder's files are read from its directory clusters when it is listed or
// saved (the scans keep no file entries for FAT), lost sub-folders are named
// from their parent's entries on first use, and files are written along
// their cluster chains.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/fat/fat_volume.h"
#include "results/file_system_volume.h"

#include <cstdint>
#include <memory>

namespace torvane {

// The FAT volume of a scanned partition (its geometry as the scan used it).
// `volumeRow`: a Deep result's 1-based FAT volume row, written into the
// file rows the volume lists (0 for a Basic result).
std::shared_ptr<FileSystemVolume> MakeFatFileSystemVolume(const CurrentPartition& partition, std::uint64_t fsKey = 0,
                                                          std::uint32_t volumeRow = 0);

// The saver of a FAT volume (also for tests that build a volume by hand);
// `fsKey` is the volume's key (the folders of a Deep result of several
// volumes are told apart by it).
std::unique_ptr<FileSystemSaver> MakeFatSaver(ScanResults& results, DevicePtr device, FatVolume volume,
                                              bool basicSearch = true, std::uint64_t fsKey = 0);

}  // namespace torvane
