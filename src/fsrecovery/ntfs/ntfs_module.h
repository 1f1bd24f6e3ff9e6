// NTFS as the scans, the results views and the save pipeline meet it: the
// Basic scan sweeps every FILE record of the $MFT, a folder's files are
// listed from the found-entry store (completed from their FILE records where
// the scan left them without a name or size), and files are written from
// their records' data.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_control.h"
#include "results/file_system_volume.h"

#include <cstdint>
#include <memory>

namespace torvane {

// The NTFS volume of a scanned partition; `mft` (may be null) lets listing
// and saving reach records kept in extension records.
std::shared_ptr<FileSystemVolume> MakeNtfsFileSystemVolume(const CurrentPartition& partition,
                                                           std::shared_ptr<const MftRunTable> mft,
                                                           std::uint64_t fsKey = 0);

// The Basic scan of an NTFS volume whose geometry was read: the $MFT run
// table, the "Root" item, the sweep and the steps (which run after a stop
// too). When not one sector of the $MFT could be read and nobody stopped the
// scan, the volume is reported unusable. Returns the volume for listing and
// saving.
std::shared_ptr<FileSystemVolume> ScanBasicNtfs(ScanControl& control, CurrentPartition& partition,
                                                ScanResults& results);

}  // namespace torvane
