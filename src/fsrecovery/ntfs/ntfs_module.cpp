#include "fsrecovery/ntfs/ntfs_module.h"

#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_file_writer.h"
#include "fsrecovery/ntfs/ntfs_folder_listing.h"
#include "results/file_list_columns.h"
#include "results/file_type_texts.h"
#include "results/found_entry_saver.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace torvane {
namespace {

class NtfsFileSystemVolume final : public FileSystemVolume {
public:
    NtfsFileSystemVolume(const CurrentPartition& partition, std::shared_ptr<const MftRunTable> mft,
                         std::uint64_t fsKey)
        : FileSystemVolume(FsKind::Ntfs, partition, fsKey), context_(NtfsSaveContextOf(partition, std::move(mft)))
    {
    }

    std::uint64_t RootFolderId() const override { return kNtfsRootId; }

    std::uint64_t ListFolderFiles(ScanResults& results, std::uint64_t folderId, const FolderListing& listing) override
    {
        if (!listing.list)
            return 0;
        ListRowModel& list = *listing.list;
        const NtfsSaveContext context = Context();
        NtfsVolume volume;
        volume.device = Device().get();
        volume.cluster0Sector = context.cluster0Sector;
        volume.sectorsPerCluster = context.sectorsPerCluster;
        volume.endSector = context.endSector;
        NtfsListing found = ListNtfsFolderFiles(results, folderId, volume, context.mft.get(), listing.abort);
        // $MFTMirr's size proved the cluster size the boot sector could not
        // tell: the files listed from now on, and every save, read with it.
        if (found.sectorsPerCluster && *found.sectorsPerCluster != context.sectorsPerCluster) {
            std::lock_guard<std::mutex> lock(contextMutex_);
            context_.sectorsPerCluster = *found.sectorsPerCluster;
        }
        const bool deep = list.ColumnCount() >= kDeepListColumnCount;
        std::uint64_t row = listing.firstRow;
        for (const NtfsListedFile& f : found.files) {
            std::vector<std::string> cells(deep ? kDeepListColumnCount : kBasicListColumnCount);
            std::string date, time;
            FormatFileTime(f.fileTime, &date, &time);
            cells[kListName] = f.name;
            cells[kListType] = GetFileTypeTextOfName(f.name);
            cells[kListSize] = std::to_string(f.size);
            cells[kListDate] = date;
            cells[kListTime] = time;
            cells[kListSelfId] = std::to_string(f.ownId);
            cells[kListParentId] = "0";
            cells[kListTreeItem] = "0";
            if (deep)
                cells[kDeepListAddend] = f.indexMark;
            list.InsertRow(static_cast<int>(row), std::move(cells));
            ++row;
        }
        return row - listing.firstRow;
    }

    std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults& results, bool /*basicSearch*/) override
    {
        if (!Device())
            return nullptr;
        return MakeFoundEntrySaver(results, Device(), kNtfsRootId, MakeNtfsEntryWriter(Context()));
    }

private:
    NtfsSaveContext Context() const
    {
        std::lock_guard<std::mutex> lock(contextMutex_);
        return context_;
    }

    mutable std::mutex contextMutex_;
    NtfsSaveContext context_;
};

}  // namespace

std::shared_ptr<FileSystemVolume> MakeNtfsFileSystemVolume(const CurrentPartition& partition,
                                                           std::shared_ptr<const MftRunTable> mft,
                                                           std::uint64_t fsKey)
{
    return std::make_shared<NtfsFileSystemVolume>(partition, std::move(mft), fsKey);
}

std::shared_ptr<FileSystemVolume> ScanBasicNtfs(ScanControl& control, CurrentPartition& partition,
                                                ScanResults& results)
{
    const NtfsVolume volume = NtfsVolumeOf(partition);
    auto table = std::make_shared<MftRunTable>();
    if (volume.device != nullptr && (partition.Geometry.MftStart != 0 || partition.Geometry.MftMirrStart != 0))
        *table = BuildMftRunTable(volume, partition.Geometry.MftStart, partition.Geometry.MftMirrStart);
    results.EnsureRootItem();
    MftSweepControl sweep;
    sweep.stop = [&control] { return control.StopRequested(); };
    sweep.sink = control.Sink();
    if (ScanSink* sink = sweep.sink)
        sweep.status = [sink](const std::string& text) { sink->StatusText(text); };
    sweep.interimInterval = control.InterimInterval();
    SweepMftRecords(results, volume, *table, sweep);
    RunBasicNtfsSteps(results, sweep.sink);
    // No sector of the $MFT was read though nobody stopped the scan: record 0
    // could be found neither at the $MFT nor at its mirror (or its runs lie
    // outside the volume). Say so, rather than show an empty tree as a result.
    if (results.CurrentScanSector.load() == 0 && !control.StopRequested())
        control.ReportUnusableVolume();
    return MakeNtfsFileSystemVolume(partition, std::move(table));
}

}  // namespace torvane
