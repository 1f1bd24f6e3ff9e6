// The Basic Search worker: opens the partition, obtains its geometry (from the
// boot sector, or derived from the data when the boot sector is damaged),
// sweeps it for directories and arranges them into the results tree.
//
// It runs as a Job: Stop() ends the sweep between two blocks, and the
// lost-directory steps then still run on everything found so far, so a
// stopped scan ends with a full tree exactly like a finished one. The
// interim tree is built on the worker itself, between blocks, so it never
// races the sweep.
#pragma once

#include "base/job.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/store/found_items.h"

#include <chrono>
#include <functional>

namespace torvane {

class BasicScanJob;

// File systems the FAT sweep does not cover are handed to these branches
// when they are set (the exFAT walk and the MFT sweep live in their own folders).
struct BasicScanBranches {
    // Called with the geometry read; queues directories and files into the results.
    std::function<void(BasicScanJob&, CurrentPartition&, ScanResults&)> exfat;
    // The whole NTFS branch, steps included.
    std::function<void(BasicScanJob&, CurrentPartition&, ScanResults&)> ntfs;
};

class BasicScanJob : public Job {
public:
    // `partition` is copied at construction: Descriptor (FsType, StartSector,
    // EndSector, EndByte), DevicePath, and Device when the caller already
    // opened it. `results` must outlive the job.
    BasicScanJob(ScanResults& results, CurrentPartition partition, ScanSink* sink = nullptr,
                 JobEvents* events = nullptr, BasicScanBranches branches = {});
    ~BasicScanJob() override;

    // The interim tree period (default 10 s; zero turns it off).
    void SetInterimInterval(std::chrono::milliseconds interval) { interim_ = interval; }

    // After the job: the partition with its geometry as the scan used it.
    const CurrentPartition& Partition() const { return partition_; }
    // The geometry could be neither read nor derived ("Unable to calculate
    // partition parameters..." was reported).
    bool GeometryFailed() const { return geometryFailed_; }
    // Called from the worker when the volume's layout cannot be used (no
    // geometry, or an NTFS volume whose $MFT cannot be located): reports
    // "Unable to calculate partition parameters..." through the sink and the
    // job's events, and GeometryFailed() then tells. An empty tree alone
    // would pass for a scan that found nothing.
    void ReportUnusableVolume();
    // BasicEndNoticeState: 1 when the scan ended with an empty results tree.
    int EndNoticeState() const { return endNotice_; }

protected:
    void Run() override;

private:
    ScanResults& results_;
    CurrentPartition partition_;
    ScanSink* sink_;
    BasicScanBranches branches_;
    std::chrono::milliseconds interim_{10000};
    bool geometryFailed_ = false;
    int endNotice_ = 0;
};

}  // namespace torvane
