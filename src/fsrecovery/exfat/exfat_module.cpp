#include "fsrecovery/exfat/exfat_module.h"

#include "fsrecovery/exfat/exfat_file_writer.h"
#include "fsrecovery/exfat/exfat_folder_listing.h"
#include "results/file_list_columns.h"
#include "results/file_type_texts.h"
#include "results/found_entry_saver.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace torvane {
namespace {

class ExfatFileSystemVolume final : public FileSystemVolume {
public:
    ExfatFileSystemVolume(const CurrentPartition& partition, std::shared_ptr<const ExfatFileIndex> index,
                          std::uint64_t fsKey)
        : FileSystemVolume(FsKind::Exfat, partition, fsKey),
          index_(std::move(index)),
          rootId_(ExfatRootFolderId(partition.Geometry.RootStart))
    {
    }

    std::uint64_t RootFolderId() const override { return rootId_; }

    std::uint64_t ListFolderFiles(ScanResults& results, std::uint64_t folderId, const FolderListing& listing) override
    {
        if (!listing.list)
            return 0;
        ListRowModel& list = *listing.list;
        std::atomic<bool> stop{listing.abort && listing.abort()};
        std::vector<ExfatFileRow> rows = ListExfatFolderFiles(results, folderId, &stop);
        const int columns = list.ColumnCount() > 0 ? list.ColumnCount() : kBasicListColumnCount;
        std::uint64_t row = listing.firstRow, added = 0;
        for (const ExfatFileRow& r : rows) {
            if (listing.abort && listing.abort())
                break;
            std::vector<std::string> cells(
                static_cast<std::size_t>(columns < kListShortName + 1 ? kListShortName + 1 : columns));
            cells[kListName] = r.name;
            cells[kListType] = GetFileTypeTextOfName(r.name);
            cells[kListSize] = r.sizeText;
            cells[kListDate] = r.dateText;
            cells[kListTime] = r.timeText;
            cells[kListSelfId] = r.ownIdText;
            cells[kListParentId] = "0";
            cells[kListTreeItem] = "0";
            if (columns >= kDeepListColumnCount)
                cells[kDeepListAddend] = r.indexMark;
            list.InsertRow(static_cast<int>(row++), std::move(cells));
            ++added;
        }
        return added;
    }

    std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults& results, bool /*basicSearch*/) override
    {
        if (!Device())
            return nullptr;
        return MakeFoundEntrySaver(results, Device(), rootId_,
                                   MakeExfatEntryWriter(ExfatSaveContextOf(Partition(), *Device(), index_)));
    }

private:
    std::shared_ptr<const ExfatFileIndex> index_;
    std::uint64_t rootId_;
};

}  // namespace

std::shared_ptr<FileSystemVolume> MakeExfatFileSystemVolume(const CurrentPartition& partition,
                                                            std::shared_ptr<const ExfatFileIndex> index,
                                                            std::uint64_t fsKey)
{
    return std::make_shared<ExfatFileSystemVolume>(partition, std::move(index), fsKey);
}

std::shared_ptr<FileSystemVolume> ScanBasicExfat(ScanControl& control, CurrentPartition& partition,
                                                 ScanResults& results)
{
    if (!partition.Device)
        return nullptr;
    // The records of this scan only: another card's must not describe these files.
    auto index = std::make_shared<ExfatFileIndex>();
    ExfatScanControl exfatControl;
    exfatControl.stop = [&control] { return control.StopRequested(); };
    exfatControl.unreadableFolder = [&control](const UnreadableFolderSectors& folder) {
        if (ScanSink* sink = control.Sink())
            sink->UnreadableFolder(folder);
    };
    // The walk's place on the volume and the files it finds, as the FAT sweep
    // shows its own: "sectors  of  total", the bar over the partition (it
    // only moves forward: folders lie anywhere), the live list.
    if (ScanSink* sink = control.Sink()) {
        const std::uint64_t end = partition.Descriptor.EndSector;
        char text[64];
        std::snprintf(text, sizeof text, "sectors  of  total %llu", static_cast<unsigned long long>(end));
        sink->StatusText(text);
        sink->ProgressRange(partition.Descriptor.StartSector, end);
        std::uint64_t furthest = partition.Descriptor.StartSector;
        exfatControl.progress = [sink, furthest](std::uint64_t sector) mutable {
            if (sector > furthest) {
                furthest = sector;
                sink->Progress(sector);
            }
        };
        exfatControl.liveFile = [sink](const std::string& name) { sink->LiveItem(name); };
    }
    const ExfatScanReport report = ReadExfatVolume(results, partition, *partition.Device, index.get(), exfatControl);
    // The root the walk read (the backup boot sector's when the first one is
    // damaged) is the one its files are filed under, and the one a scan log
    // of this result records.
    if (report.rootCluster != 0) {
        partition.Geometry.RootStart = report.rootCluster;
        partition.Descriptor.RootStart = report.rootCluster;
    }
    return MakeExfatFileSystemVolume(partition, std::move(index));
}

}  // namespace torvane
