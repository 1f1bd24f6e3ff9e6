#include "results/file_list_rows.h"

#include "base/text_routines.h"
#include "fsrecovery/store/name_rules.h"
#include "results/file_list_columns.h"

namespace torvane {

bool IsFolderListRow(const ListRowModel& list, int row)
{
    return row >= 0 && row < list.RowCount() && TrimWhite(list.Cell(row, kListType)) == "FOLDER";
}

bool IsFileListRow(const ListRowModel& list, int row)
{
    return row >= 0 && row < list.RowCount() && !TrimWhite(list.Cell(row, kListType)).empty() &&
           !IsFolderListRow(list, row);
}

SaveRow SaveRowOfListRow(const ListRowModel& list, int row, bool deepLayout)
{
    SaveRow r;
    if (row < 0 || row >= list.RowCount())
        return r;
    r.name = list.Cell(row, kListName);
    r.isFolder = IsFolderListRow(list, row);
    r.size = ParseDecimalU64(list.Cell(row, kListSize));
    r.id = ParseDecimalU64(list.Cell(row, kListSelfId));
    r.shortName = list.Cell(row, kListShortName);
    r.deleted = (list.RowData(row) & kRowDeletedBit) != 0;
    if (r.isFolder)
        r.item = static_cast<TreeNodeId>(ParseDecimalU64(list.Cell(row, kListTreeItem)));
    // A Deep FAT file row names the volume it was listed from (a range may
    // hold several); only FAT rows carry a short name.
    if (deepLayout && !r.isFolder && !r.shortName.empty()) {
        const std::uint64_t volume = ParseDecimalU64(list.Cell(row, kDeepListVolumeRow));
        r.volumeRow = volume <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(volume) : 0;
    }
    const std::string addend = TrimWhite(list.Cell(row, deepLayout ? kDeepListAddend : kBasicListAddend));
    // The addend column of NTFS and exFAT rows in the Deep layout holds the
    // index mark instead; only FAT rows carry a short name or an addend there.
    if (!r.isFolder && !addend.empty() && (!deepLayout || !r.shortName.empty())) {
        const std::uint64_t high = ParseDecimalU64(addend) + 1;
        r.highClusterAddend = static_cast<std::uint32_t>(high);
        r.id += high;
    }
    return r;
}

}  // namespace torvane
