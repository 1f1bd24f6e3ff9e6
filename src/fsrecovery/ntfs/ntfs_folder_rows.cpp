#include "fsrecovery/ntfs/ntfs_folder_rows.h"

#include "fsrecovery/ntfs/ntfs_folder_listing.h"
#include "fsrecovery/fat/fat_folder_listing.h"
#include "results/file_type_texts.h"

#include <string>
#include <vector>

namespace torvane {

FoundEntryListing MakeNtfsFolderListing(DevicePtr device, NtfsSaveContext context)
{
    return [device = std::move(device), context = std::move(context)](
               ScanResults& results, ListRowModel& list, std::uint64_t firstRow, std::uint64_t folderId,
               const std::function<bool()>& abort) -> std::uint64_t {
        NtfsVolume volume;
        volume.device = device.get();
        volume.cluster0Sector = context.cluster0Sector;
        volume.sectorsPerCluster = context.sectorsPerCluster;
        volume.endSector = context.endSector;
        NtfsListing listing = ListNtfsFolderFiles(results, folderId, volume, context.mft.get(), abort);
        const bool deep = list.ColumnCount() >= kDeepListColumnCount;
        std::uint64_t row = firstRow;
        for (const NtfsListedFile& f : listing.files) {
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
        return row - firstRow;
    };
}

}  // namespace torvane
