#include "fsrecovery/basic_scan_wiring.h"

#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/exfat/exfat_file_writer.h"
#include "fsrecovery/ntfs/ntfs_file_writer.h"
#include "results/save_walkers.h"

namespace torvane {

BasicScanWiring::BasicScanWiring() : exfatIndex_(std::make_shared<ExfatFileIndex>()) {}

BasicScanBranches BasicScanWiring::Branches() const
{
    BasicScanBranches b;
    b.exfat = MakeBasicExfatBranch(exfatIndex_);
    b.ntfs = BasicNtfsBranch;
    return b;
}

void BasicScanWiring::RegisterWriters(const CurrentPartition& scanned, Device& device) const
{
    if (scanned.Descriptor.FsType == "exFAT") {
        RegisterFoundEntryWriter("exFAT", MakeExfatEntryWriter(ExfatSaveContextOf(scanned, device, exfatIndex_)));
    } else if (scanned.Descriptor.FsType == "NTFS") {
        // The run table lets the writer reach records kept in extension records.
        auto table = std::make_shared<MftRunTable>(
            BuildMftRunTable(NtfsVolumeOf(scanned), scanned.Geometry.MftStart, scanned.Geometry.MftMirrStart));
        RegisterFoundEntryWriter("NTFS", MakeNtfsEntryWriter(NtfsSaveContextOf(scanned, table)));
    }
}

}  // namespace torvane
