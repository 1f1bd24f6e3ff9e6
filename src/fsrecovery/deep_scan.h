// The Deep Search worker: reads every sector of a range, in chunks of 1024
// sectors, and hands each chunk to the sweeper of the chosen file-system type
// (fsrecovery/deep/deep_sweeper.h), which finds boot sectors, directory
// clusters or MFT records in it; then the sweeper's finishing steps build the
// results tree, and the job hands back one volume per file system found.
//
// It runs as a Job: Stop() ends the sweep before the next chunk, and the
// finishing steps still run on everything found so far. The incremental
// passes that grow the tree during the sweep run on the job's own thread,
// between chunks, so nothing races the sweep.
//
// The finishing steps, the incremental passes and the count of the files
// found read the FAT over and over and the folders found a few sectors at a
// time; those reads go through a read cache of the job's own
// (disk/read_cache.h), which the sweeper also hands the first cluster of
// every folder it meets, so the steps read them from memory.
//
// A chunk whose read fails is read again sector by sector, so that one bad
// sector does not hide the other 1,023. A range beyond the device's end is
// swept only as far as the device goes.
//
// A disk that lists no partition (CurrentPartition::DiskListsNoPartition)
// is settled first as the Basic scan settles it (disk_without_partitions.h):
// a volume at sector 0 is swept as its own type, and a disk with no boot
// sector where the sweep was to start waits, stop-aware, for the automatic
// partition search and sweeps the first partition it finds.
#pragma once

#include "base/job.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/deep/deep_sweeper.h"
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/disk_without_partitions.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_control.h"
#include "results/file_system_volume.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// The sweeper that reads a range of type `kind` (null: nothing reads it).
// FAT16 and FAT32 share one sweeper (it finds boot sectors of both); the
// NTFS sweeper plugs in here.
std::unique_ptr<DeepSweeper> MakeDeepSweeper(FsKind kind);

class DeepScanJob : public Job, private ScanControl {
public:
    // `partition`: Descriptor.StartSector .. EndSector is the range (EndSector
    // one past the last sector), Descriptor.FsType the chosen type ("FAT16",
    // "FAT32", "exFAT", "NTFS"; empty: FAT, which finds both FAT kinds),
    // DevicePath or Device the source. `results` and `tables` must outlive the
    // job; `sink` may be null.
    DeepScanJob(ScanResults& results, DeepTables& tables, CurrentPartition partition, ScanSink* sink = nullptr,
                JobEvents* events = nullptr);
    ~DeepScanJob() override;

    // Replaces the sweeper MakeDeepSweeper would give (tests).
    void SetSweeper(std::unique_ptr<DeepSweeper> sweeper) { sweeper_ = std::move(sweeper); }
    // The period of the incremental passes (default: the sweeper's own; zero: none).
    void SetTimedPassInterval(std::chrono::milliseconds interval) { passInterval_ = interval; }
    // Sectors per read of the sweep (zero: kDeepChunkSectors). Smaller in
    // tests and fuzzing, where structures cut at chunk ends are the point.
    void SetChunkSectors(std::uint32_t sectors) { chunkSectors_ = sectors == 0 ? kDeepChunkSectors : sectors; }
    // The partition search a disk listing no partition waits for (empty: none).
    void SetAutomaticPartitionSearch(AutomaticPartitionSearch search) { search_ = std::move(search); }

    // After the job.
    const CurrentPartition& Partition() const { return partition_; }
    std::vector<std::shared_ptr<FileSystemVolume>> Volumes() const { return volumes_; }
    // Sectors that could not be read even one by one.
    std::uint64_t UnreadableSectors() const { return unreadable_; }
    // DeepEndNoticeState: 1 when the scan ended with an empty results tree.
    int EndNoticeState() const { return endNotice_; }
    // The range did not lie on the device at all.
    bool RangeOutsideDevice() const { return outside_; }
    // What a disk listing no partition gave (NotApplicable for any other source).
    DiskWithoutPartitionsOutcome DiskOutcome() const { return diskOutcome_; }
    bool StopRequested() const override { return Job::StopRequested(); }

protected:
    void Run() override;

private:
    JobProgress& Counters() override { return Progress(); }
    ScanSink* Sink() override { return sink_; }
    std::chrono::milliseconds InterimInterval() const override { return passInterval_; }
    void ReportUnusableVolume() override;

    void FillPartitionExtents();
    void CountFolderFiles();
    void SweepChunks(DeepSweepContext& ctx);

    ScanResults& results_;
    DeepTables& tables_;
    CurrentPartition partition_;
    ScanSink* sink_;
    std::unique_ptr<DeepSweeper> sweeper_;
    std::chrono::milliseconds passInterval_{-1};
    std::uint32_t chunkSectors_ = kDeepChunkSectors;
    AutomaticPartitionSearch search_;
    DiskWithoutPartitionsOutcome diskOutcome_ = DiskWithoutPartitionsOutcome::NotApplicable;
    std::vector<std::shared_ptr<FileSystemVolume>> volumes_;
    std::uint64_t unreadable_ = 0;
    int endNotice_ = 0;
    bool outside_ = false;
};

}  // namespace torvane
