#include "fsrecovery/ntfs/mft_sweep.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/fat/fat_names.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/lost_directory_arrangement.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace torvane {
namespace {

constexpr std::uint32_t kBlockRecords = 256;  // 256 KiB per read

bool Stopped(const MftSweepControl& c) { return c.stop && c.stop(); }

void InsertMiscFolder(ScanResults& results)
{
    results.InsertRecoveredFolder(results.EnsureRootItem(), kMiscFolderName, kMiscFolderId, 0, CurrentFatTimeWord(),
                                  kNtfsRootId, 0, 0, 0);
}

}  // namespace

NtfsVolume NtfsVolumeOf(const CurrentPartition& partition)
{
    NtfsVolume v;
    v.device = partition.Device.get();
    v.cluster0Sector = partition.Geometry.Cluster0Start;
    v.sectorsPerCluster = partition.Geometry.SectorsPerCluster;
    v.endSector = partition.Descriptor.EndSector;
    return v;
}

void SweepMftRecords(ScanResults& results, const NtfsVolume& volume, const MftRunTable& table,
                     const MftSweepControl& control)
{
    using Clock = std::chrono::steady_clock;
    {
        auto lk = results.Lock();
        results.FoundEntries().clear();
    }
    std::uint64_t total = 0;
    for (const MftExtent& e : table.Extents())
        if (!e.sparse)
            total += e.sectors;
    if (total == 0 || volume.device == nullptr) {
        auto lk = results.Lock();
        const TreeNodeId root = results.EnsureRootItem();
        if (results.Tree().ChildCount(root) == 0)
            InsertMiscFolder(results);
        return;
    }
    if (control.sink)
        control.sink->ProgressRange(0, total);
    if (control.status) {
        char text[64];
        std::snprintf(text, sizeof text, "sectors  of  total %llu", static_cast<unsigned long long>(total));
        control.status(text);
    }

    const bool basicMode = results.RecoveryMode() == 1;
    {
        // Room for one entry per record slot (most records are files), so the
        // store is not copied over and over while it grows. The slot count
        // comes from runs already checked against the volume; the cap keeps
        // a huge $MFT from reserving more than it needs up front.
        auto lk = results.Lock();
        results.FoundEntries().reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total / 2, 1u << 22)));
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kBlockRecords) * kMftRecordSize);
    std::uint64_t recordNumber = 0;
    std::uint64_t sectorsRead = 0;
    Clock::time_point lastInterim = Clock::now();

    for (const MftExtent& extent : table.Extents()) {
        const std::uint64_t slots = extent.sectors / kMftRecordSectors;
        if (extent.sparse) {
            recordNumber += slots;  // records of a hole do not exist, but keep their numbers
            continue;
        }
        for (std::uint64_t slot = 0; slot < slots && !Stopped(control);) {
            const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockRecords, slots - slot));
            const std::uint64_t first = extent.startSector + slot * kMftRecordSectors;
            ReadSectorsOrZeros(volume, first, n * kMftRecordSectors, block.data());
            for (std::uint32_t i = 0; i < n; ++i, ++recordNumber) {
                std::uint8_t* rec = block.data() + static_cast<std::size_t>(i) * kMftRecordSize;
                NtfsBytes view(rec, kMftRecordSize);
                if (!HasFileSignature(view))
                    continue;
                if (ApplyUpdateSequenceFixup(rec, kMftRecordSize) == FixupResult::Invalid)
                    continue;
                std::optional<NtfsFileName> fn = FindNtfsFileName(view);
                if (!fn)
                    continue;
                // One byte of the flags decides: 2 (deleted) or 3 (in use) is a directory.
                const std::uint8_t flags = view.U8(22);
                const bool directory = flags == 2 || flags == 3;
                const std::uint64_t parent = fn->ParentRecord32();
                if (!directory) {
                    if (!basicMode)
                        continue;
                    FoundEntry entry;
                    entry.name = CleanNtfsFileName(fn->name);
                    entry.parentId = parent;
                    entry.ownId = first + static_cast<std::uint64_t>(i) * kMftRecordSectors;
                    entry.size = GetNtfsDataSize(view, entry.name).value_or(0);
                    entry.text1 = std::to_string(fn->creationTime);
                    auto lk = results.Lock();
                    results.FoundEntries().push_back(std::move(entry));
                    ++results.FoundFileCount;
                    continue;
                }
                auto lk = results.Lock();
                if (results.FolderCount() == 0) {
                    InsertMiscFolder(results);
                    ++results.FoundFolderCount;
                    results.Tree().RequestExpand(results.EnsureRootItem());
                }
                if (fn->name == ".")
                    continue;  // the volume's root: its children go straight under "Root"
                ++results.FoundFolderCount;
                results.AddPendingDirectory(fn->name, 0, recordNumber, parent, fn->creationTime, 0);
            }
            slot += n;
            sectorsRead += static_cast<std::uint64_t>(n) * kMftRecordSectors;
            results.CurrentScanSector = sectorsRead;
            if (control.sink)
                control.sink->Progress(sectorsRead);
            if (control.interimInterval.count() > 0 && Clock::now() - lastInterim >= control.interimInterval) {
                ArrangeLostDirectories(results, false, nullptr, true, control.stop);
                lastInterim = Clock::now();
            }
        }
        if (Stopped(control))
            break;
    }
}

void RunBasicNtfsSteps(ScanResults& results, StepSink* sink)
{
    results.SortFoundEntries();
    {
        auto lk = results.Lock();
        results.SetSeveralFoldersFlag(results.FoundEntries().size() > 2);
    }
    if (sink) {
        sink->StepText(kStep1Of5Text);
        sink->Progress(0);
    }
    results.PurgePlacedPendingDirectories(sink);
    if (sink)
        sink->StepText(kStep2Of5Text);
    results.SortPendingDirectories();
    if (sink)
        sink->StepText(kStep3Of5Text);
    // Final mode, after a stop too: what was found is arranged in full.
    ArrangeLostDirectories(results, true, sink, false);
    if (sink)
        sink->StepText("");
}

MftRunTableReport RunBasicNtfsScan(ScanResults& results, const CurrentPartition& partition,
                                   const MftSweepControl& control)
{
    MftRunTableReport report;
    const NtfsVolume volume = NtfsVolumeOf(partition);
    MftRunTable table;
    if (volume.device != nullptr && (partition.Geometry.MftStart != 0 || partition.Geometry.MftMirrStart != 0))
        table = BuildMftRunTable(volume, partition.Geometry.MftStart, partition.Geometry.MftMirrStart, &report);
    results.EnsureRootItem();
    SweepMftRecords(results, volume, table, control);
    RunBasicNtfsSteps(results, control.sink);
    return report;
}

void BasicNtfsBranch(BasicScanJob& job, CurrentPartition& partition, ScanResults& results)
{
    MftSweepControl control;
    control.stop = [&job] { return job.StopRequested(); };
    RunBasicNtfsScan(results, partition, control);
}

}  // namespace torvane
