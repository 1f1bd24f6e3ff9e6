// The Basic Search worker: opens the partition, obtains its geometry (from the
// boot sector, or derived from the data when the boot sector is damaged),
// reads the volume's folders and files the way its file system keeps them,
// and arranges them into the results tree.
//
// It runs as a Job: Stop() ends the sweep between two blocks, and the
// lost-directory steps then still run on everything found so far, so a
// stopped scan ends with a full tree exactly like a finished one. The
// interim tree is built on the worker itself, between blocks, so it never
// races the sweep.
//
// Each file system's own module reads it (fsrecovery/fat, exfat, ntfs); the
// job hands back the volume the scan read, through which the results are
// listed and saved.
#pragma once

#include "base/job.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/disk_without_partitions.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_control.h"
#include "results/file_system_volume.h"

#include <chrono>
#include <memory>
#include <string>

namespace torvane {

// Ends the extent of `d` (EndSector, EndByte) at a device of `deviceBytes`
// bytes: the sectors beyond do not exist.
void ClampToDevice(PartitionDescriptor& d, std::uint64_t deviceBytes);

class BasicScanJob : public Job, private ScanControl {
public:
    // `partition` is copied at construction: Descriptor (FsType, StartSector,
    // EndSector, EndByte), DevicePath, and Device when the caller already
    // opened it. `results` must outlive the job; `sink` may be null.
    BasicScanJob(ScanResults& results, CurrentPartition partition, ScanSink* sink = nullptr,
                 JobEvents* events = nullptr);
    ~BasicScanJob() override;

    // The interim tree period (default 10 s; zero turns it off).
    void SetInterimInterval(std::chrono::milliseconds interval) { interim_ = interval; }
    // The partition search a scan of a disk that lists no partition waits
    // for when the disk shows no boot sector (empty: none).
    void SetAutomaticPartitionSearch(AutomaticPartitionSearch search) { search_ = std::move(search); }
    // After the job: what the scan made of a disk that lists no partition.
    DiskWithoutPartitionsOutcome DiskOutcome() const { return diskOutcome_; }

    // After the job: the partition with its geometry as the scan used it.
    const CurrentPartition& Partition() const { return partition_; }
    // After the job: the volume read, for listing and saving (null when the
    // geometry could not be found or the file system is not one the program reads).
    std::shared_ptr<FileSystemVolume> Volume() const { return volume_; }
    // The geometry could be neither read nor derived ("Unable to calculate
    // partition parameters..." was reported).
    bool GeometryFailed() const { return geometryFailed_; }
    // What the user was told then: "Unable to calculate partition
    // parameters...", or why a volume of a kind the program does not read
    // (sectors of 4096 bytes, a FAT volume beyond 2^32 sectors) is refused.
    const std::string& GeometryFailureText() const { return geometryFailureText_; }
    // BasicEndNoticeState: 1 when the scan ended with an empty results tree.
    int EndNoticeState() const { return endNotice_; }
    bool StopRequested() const override { return Job::StopRequested(); }

protected:
    void Run() override;

private:
    // ScanControl
    JobProgress& Counters() override { return Progress(); }
    ScanSink* Sink() override { return sink_; }
    std::chrono::milliseconds InterimInterval() const override { return interim_; }
    void ReportUnusableVolume() override;
    void ReportGeometryFailure(const std::string& text);

    ScanResults& results_;
    CurrentPartition partition_;
    ScanSink* sink_;
    std::chrono::milliseconds interim_{10000};
    AutomaticPartitionSearch search_;
    DiskWithoutPartitionsOutcome diskOutcome_ = DiskWithoutPartitionsOutcome::NotApplicable;
    std::shared_ptr<FileSystemVolume> volume_;
    bool geometryFailed_ = false;
    std::string geometryFailureText_;
    int endNotice_ = 0;
};

}  // namespace torvane
