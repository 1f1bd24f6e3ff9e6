// The pieces a Basic scan needs beyond the FAT sweep, put together once for
// every caller (the Basic Search dialog, the command-line tools, tests):
// the exFAT and NTFS branches of the scan and, once the scan is done, the
// writers that save the files those branches found.
#pragma once

#include "fsrecovery/basic_scan.h"

#include <memory>

namespace torvane {

class Device;
class ExfatFileIndex;
struct CurrentPartition;

class BasicScanWiring {
public:
    BasicScanWiring();

    // The branches to hand to BasicScanJob.
    BasicScanBranches Branches() const;

    // After the scan: registers the file writer of the scanned volume's file
    // system (exFAT or NTFS; FAT needs none). `device` is the device scanned.
    void RegisterWriters(const CurrentPartition& scanned, Device& device) const;

    // The exFAT file records of the latest scan (emptied when a scan starts).
    std::shared_ptr<const ExfatFileIndex> ExfatIndex() const { return exfatIndex_; }

private:
    std::shared_ptr<ExfatFileIndex> exfatIndex_;
};

}  // namespace torvane
