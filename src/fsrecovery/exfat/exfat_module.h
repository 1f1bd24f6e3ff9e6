// exFAT as the scans, the results views and the save pipeline meet it: the
// Basic scan walks the directory tree into pending folders and found
// entries, a folder's files are listed from the found-entry store (no device
// read), and files are written from the allocation the scan recorded.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_control.h"
#include "results/file_system_volume.h"

#include <cstdint>
#include <memory>

namespace torvane {

// The exFAT volume of a scanned partition; `index` holds the scan's file
// records. The root's files are those filed under the partition's root
// cluster (Geometry.RootStart; ExfatRootFolderId).
std::shared_ptr<FileSystemVolume> MakeExfatFileSystemVolume(const CurrentPartition& partition,
                                                            std::shared_ptr<const ExfatFileIndex> index,
                                                            std::uint64_t fsKey = 0);

// The Basic scan of an exFAT volume whose geometry was read: its folders and
// files go into `results`; returns the volume for listing and saving (null
// without a device).
std::shared_ptr<FileSystemVolume> ScanBasicExfat(ScanControl& control, CurrentPartition& partition,
                                                 ScanResults& results);

}  // namespace torvane
