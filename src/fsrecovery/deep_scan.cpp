#include "fsrecovery/deep_scan.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/exfat/deep_exfat_sweep.h"
#include "fsrecovery/fat/deep_fat_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_sweeper.h"
#include "disk/partition_table.h"
#include "disk/read_cache.h"
#include "results/save_walkers.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace torvane {

std::unique_ptr<DeepSweeper> MakeDeepSweeper(FsKind kind)
{
    switch (kind) {
    case FsKind::Fat16:
    case FsKind::Fat32:
    case FsKind::Unknown:
        return MakeDeepFatSweeper();
    case FsKind::Exfat:
        return MakeDeepExfatSweeper();
    case FsKind::Ntfs:
        return std::make_unique<DeepNtfsSweeper>();
    default:
        return nullptr;
    }
}

DeepScanJob::DeepScanJob(ScanResults& results, DeepTables& tables, CurrentPartition partition, ScanSink* sink,
                         JobEvents* events)
    : Job(events), results_(results), tables_(tables), partition_(std::move(partition)), sink_(sink)
{
}

DeepScanJob::~DeepScanJob()
{
    StopAndWait();
}

void DeepScanJob::ReportUnusableVolume()
{
    // A Deep scan does not need a readable boot sector: it reads what it finds.
}

void DeepScanJob::Run()
{
    volumes_.clear();
    unreadable_ = 0;
    endNotice_ = 0;
    outside_ = false;
    results_.ForgetResults();
    results_.SetRecoveryMode(2);
    results_.SetFileSystemCount(0);
    results_.SetScanTime(std::time(nullptr));
    results_.CurrentScanSector = 0;
    tables_.Clear();
    Progress().Reset();
    if (sink_) {
        sink_->StepText("");
        sink_->StatusText("");
    }

    PartitionDescriptor& d = partition_.Descriptor;
    if (d.FsType.empty())
        d.FsType = "FAT32";   // no type chosen: the FAT sweep finds FAT16 and FAT32 alike

    diskOutcome_ = DiskWithoutPartitionsOutcome::NotApplicable;
    if (partition_.Device || OpenCurrentDevice(partition_)) {
        ClampToDevice(d, partition_.Device->SizeBytes());
        // A disk that lists no partition: what it holds decides the range.
        if (partition_.DiskListsNoPartition) {
            const DevicePtr device = partition_.Device;
            diskOutcome_ = PrepareDiskWithoutPartitions(partition_, *device, search_,
                                                        [this] { return StopRequested(); },
                                                        &results_.CurrentScanSector, sink_);
            results_.CurrentScanSector = 0;
        }
    }
    if (partition_.Device)
        FillPartitionExtents();
    const std::string chosen = d.FsType;
    const FsKind kind = FsKindFromText(chosen);
    if (!partition_.Device || d.StartSector >= d.EndSector) {
        outside_ = partition_.Device != nullptr;
    } else {
        // The geometry of the range's first sector, when it holds a boot
        // sector of the chosen kind; the sweep works without one.
        const std::uint64_t start = d.StartSector, end = d.EndSector, endByte = d.EndByte;
        if (d.ItemStart == 0 && d.ItemEnd == 0) {
            d.ItemStart = start;
            d.ItemEnd = end;
        }
        VolumeParameterReport report;
        if (!ReadVolumeParameters(partition_, *partition_.Device, &report)) {
            // Nothing usable there: no geometry at all rather than half of one.
            partition_.Geometry = VolumeGeometry{};
            if (kind != FsKind::Exfat)
                partition_.Exfat = ExfatPositions{};
        }
        // The range is the user's, whatever the boot sector says.
        d.StartSector = start;
        d.EndSector = end;
        d.EndByte = endByte ? std::min(endByte, end * kSectorSize) : end * kSectorSize;
        d.FsType = chosen;
        d.CopyGeometry(partition_.Geometry, kind == FsKind::Ntfs);
        d.FsName = chosen;
        d.ModeText = "Deep Search";
        partition_.RecoveryMode = 2;
        results_.SetFsKind(kind == FsKind::Unknown ? FsKind::Fat32 : kind);
        Progress().total = end;

        if (!sweeper_)
            sweeper_ = MakeDeepSweeper(kind);
        if (sweeper_) {
            const DevicePtr device = partition_.Device;
            DeviceReadCache readCache(*device);
            DeepSweepContext ctx{results_, tables_, partition_, *device, *this, &readCache};
            try {
                sweeper_->Begin(ctx);
                if (sweeper_->SweepsItself())
                    sweeper_->Sweep(ctx);
                else
                    SweepChunks(ctx);
            } catch (const std::bad_alloc&) {
                if (Events())
                    Events()->OnError("Not enough memory to go on reading: the search ends with what it found.");
            } catch (const std::exception& e) {
                if (Events())
                    Events()->OnError(std::string("Searching lost directories stopped: ") + e.what());
            }
            // The finishing steps and the count of the files read the FAT
            // and the folders found again and again, a few sectors at a time:
            // each block is read from the device once.
            const ReadCacheScope cached(readCache);
            try {
                sweeper_->Finish(ctx, StopRequested());
            } catch (const std::exception& e) {
                if (Events())
                    Events()->OnError(std::string("Arranging the found directories stopped: ") + e.what());
            }
            volumes_ = sweeper_->Volumes();
            if (results_.FoundFileCount == 0 && !StopRequested())
                CountFolderFiles();
        }
    }

    Progress().done = results_.CurrentScanSector.load();
    Progress().folders = results_.FoundFolderCount.load();
    if (results_.Tree().NodeCount() == 0 || results_.Tree().RootItem() == kNoTreeNode) {
        results_.EnsureRootItem();
        endNotice_ = 1;
    } else if (results_.FolderCount() == 0) {
        endNotice_ = 1;
    }
    if (sink_)
        sink_->StepText("");
}

// The FAT sweep finds folders, not files: what each folder holds is read
// when it is listed. The count of files the results hold is what the user
// is shown at the end, so it is read here once, folder by folder, from each
// folder's own volume (the same count a save of everything would make).
void DeepScanJob::CountFolderFiles()
{
    if (const std::optional<std::uint64_t> files =
            CountEveryFoundFile(results_, volumes_, [this] { return StopRequested(); }))
        results_.FoundFileCount = *files;
}

// The extents of the partitions of the disk scanned, as its table lists them
// now (kept with the results and written to the scan log). A logical drive
// or a recognised file system has no table of its own: no rows.
void DeepScanJob::FillPartitionExtents()
{
    const std::string& kind = partition_.SelectedSourceKind;
    if (kind != "Hard Disk" && kind != "part")
        return;
    Device& device = *partition_.Device;
    std::uint64_t diskSectors = partition_.CurrentDiskSectorCount;
    if (diskSectors == 0 || diskSectors > device.SizeBytes() / kSectorSize)
        diskSectors = device.SizeBytes() / kSectorSize;
    const PartitionWalk walk = WalkPartitionTable(device, diskSectors);
    std::uint32_t position = 0;
    for (const FoundPartition& part : walk.Partitions) {
        PartitionExtentRow row;
        row.drive = std::to_string(partition_.Descriptor.DiskNumber);
        row.part = ++position;
        row.startSector = part.StartSector;
        row.endSector = std::min(part.EndSector, diskSectors);
        row.cluster0 = part.StartSector;
        row.driveEndSector = diskSectors;
        tables_.extents.push_back(std::move(row));
    }
}

void DeepScanJob::SweepChunks(DeepSweepContext& ctx)
{
    const std::uint64_t start = partition_.Descriptor.StartSector;
    const std::uint64_t end = partition_.Descriptor.EndSector;
    Device& device = ctx.device;
    // A range shorter than a chunk (a small card, a test, a fuzz input)
    // needs no chunk-sized buffer.
    const std::uint64_t bufferSectors = end > start ? std::min<std::uint64_t>(chunkSectors_, end - start) : 1;
    // Not cleared: only sectors a read has just filled are ever examined.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[static_cast<std::size_t>(bufferSectors) * kSectorSize]);
    const std::chrono::milliseconds interval =
        passInterval_.count() >= 0 ? passInterval_ : sweeper_->TimedPassInterval();
    auto lastPass = std::chrono::steady_clock::now();

    for (std::uint64_t p = start; p < end;) {
        if (StopRequested())
            return;
        const std::uint64_t n = std::min<std::uint64_t>(chunkSectors_, end - p);
        results_.CurrentScanSector = p;
        Progress().done = p;
        if (sink_)
            sink_->Progress(p);
        if (interval.count() > 0 && std::chrono::steady_clock::now() - lastPass >= interval) {
            std::optional<ReadCacheScope> cached;
            if (ctx.readCache)
                cached.emplace(*ctx.readCache);
            sweeper_->TimedPass(ctx);
            lastPass = std::chrono::steady_clock::now();
        }

        const std::size_t bytes = static_cast<std::size_t>(n) * kSectorSize;
        const std::int64_t got = device.ReadAt(p * kSectorSize, buffer.get(), bytes);
        if (got == static_cast<std::int64_t>(bytes)) {
            sweeper_->Chunk(ctx, p, buffer.get(), static_cast<std::size_t>(n));
            p += n;
            continue;
        }
        // Only whole sectors that were really read are examined (never what
        // an earlier chunk left in the buffer); the rest is read again one
        // sector at a time, and each run of readable sectors is passed on.
        std::uint64_t whole = got > 0 ? static_cast<std::uint64_t>(got) / kSectorSize : 0;
        if (whole > 0)
            sweeper_->Chunk(ctx, p, buffer.get(), static_cast<std::size_t>(whole));
        std::uint64_t runStart = p + whole, runCount = 0;
        bool deviceEnded = false;
        for (std::uint64_t s = p + whole; s < p + n; ++s) {
            if (StopRequested())
                break;
            std::uint8_t* at = buffer.get() + (s - p) * kSectorSize;
            const std::int64_t one = device.ReadAt(s * kSectorSize, at, kSectorSize);
            if (one == static_cast<std::int64_t>(kSectorSize)) {
                if (runCount == 0)
                    runStart = s;
                ++runCount;
                continue;
            }
            if (runCount > 0)
                sweeper_->Chunk(ctx, runStart, buffer.get() + (runStart - p) * kSectorSize,
                                static_cast<std::size_t>(runCount));
            runCount = 0;
            if (one >= 0 && one < static_cast<std::int64_t>(kSectorSize)) {
                deviceEnded = true;   // the device is shorter than it said
                break;
            }
            ++unreadable_;
        }
        if (runCount > 0)
            sweeper_->Chunk(ctx, runStart, buffer.get() + (runStart - p) * kSectorSize,
                            static_cast<std::size_t>(runCount));
        if (deviceEnded)
            return;
        p += n;
    }
    results_.CurrentScanSector = end;
    Progress().done = end;
}

}  // namespace torvane
