#include "results/file_list_population.h"

#include "base/text_routines.h"
#include "results/file_list_columns.h"
#include "results/file_type_texts.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace torvane {
namespace {

bool IsTopLevelRoot(const TreeModel& tree, TreeNodeId item)
{
    return item != kNoTreeNode && tree.Parent(item) == kNoTreeNode && tree.Text(item).rfind(kRootItemText, 0) == 0;
}

std::string TodayText(std::time_t now)
{
    std::tm tmv{};
    localtime_r(&now, &tmv);
    static const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d-%s-%04d", tmv.tm_mday, kMonths[tmv.tm_mon % 12], tmv.tm_year + 1900);
    return buf;
}

}  // namespace

bool BeginFolderSelection(FileListState& state, const TreeModel& tree, TreeNodeId item)
{
    if (item == kNoTreeNode)
        return false;
    if (item == state.LastPopulatedItem && IsTopLevelRoot(tree, item) && tree.Text(item) == kRootItemText)
        return false;
    state.LastPopulatedItem = item;
    return true;
}

std::vector<std::string> FolderRowCells(const RecoveredFolder& folder, TreeNodeId item, FsKind kind, int columns,
                                        std::time_t now)
{
    std::vector<std::string> cells(static_cast<std::size_t>(columns < kListShortName + 1 ? kListShortName + 1 : columns));
    cells[kListName] = folder.name;
    cells[kListType] = "FOLDER";
    cells[kListSize] = "0";
    if (kind == FsKind::Ntfs) {
        std::string date, time;
        FormatFileTime(folder.date, &date, &time, now);
        cells[kListDate] = date;
        cells[kListTime] = time;
    } else {
        cells[kListDate] = FormatFatDate(static_cast<std::uint32_t>(folder.date), now);
        cells[kListTime] = FormatFatTime(static_cast<std::uint32_t>(folder.time), now);
    }
    if (folder.name == kMiscFolderName)
        cells[kListDate] = TodayText(now);
    cells[kListSelfId] = std::to_string(folder.selfId);
    cells[kListParentId] = std::to_string(folder.parentId);
    cells[kListTreeItem] = std::to_string(static_cast<std::uint64_t>(item));
    return cells;
}

void SetupBasicResultColumns(ListRowModel& list)
{
    list.Clear();
    list.ClearRowColors();
    while (list.ColumnCount() > 0)
        list.DeleteColumn(list.ColumnCount() - 1);
    static const struct {
        const char* name;
        int width;
    } columns[kBasicListColumnCount] = {
        {"Name", 140},
        {"Type", 70},
        {"Size", 70},
        {"Date", 80},
        {"Time", 70},
        {"SelfCluster-Debug Info 1", 0},
        {"ParentCluster-Debug Info 2", 0},
        {"TreeItem-Debug Info 3", 0},
        {"SFN", 0},
        {"INDX", 0},
        {"FILE_SYS", 0},
    };
    for (int i = 0; i < kBasicListColumnCount; ++i)
        list.InsertColumn(i, columns[i].name, columns[i].width);
}

std::string GetTreeItemPath(const TreeModel& tree, TreeNodeId item, const std::string& separator)
{
    if (item == kNoTreeNode || !tree.IsValid(item))
        return {};
    std::vector<std::string> parts;
    for (TreeNodeId n = item; n != kNoTreeNode && tree.Parent(n) != kNoTreeNode; n = tree.Parent(n))
        parts.push_back(tree.Text(n));
    if (tree.Parent(item) == kNoTreeNode)
        parts.push_back(tree.Text(item));
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!path.empty() && path.back() != '\\')
            path += separator;
        path += *it;
    }
    return path;
}

FileListPopulationJob::FileListPopulationJob(ScanResults& results, ListRowModel& list, FileListState& state,
                                             std::shared_ptr<const VolumeSet> volumes, FileListRequest request,
                                             JobEvents* events)
    : Job(events),
      results_(results),
      list_(list),
      state_(state),
      volumes_(std::move(volumes)),
      request_(request)
{
}

FileListPopulationJob::~FileListPopulationJob()
{
    StopAndWait();
}

void FileListPopulationJob::AddSubfolderRows(TreeNodeId item, std::uint64_t& rowCount)
{
    TreeModel& tree = results_.Tree();
    const std::time_t now = request_.now ? request_.now : std::time(nullptr);
    for (TreeNodeId child : tree.Children(item)) {
        if (StopRequested())
            return;
        RecoveredFolder* rec = results_.FolderOfItem(child);
        if (!rec)
            continue;
        // A folder row already there (the same folder listed once per volume) is not repeated.
        const int existing = list_.FindRow(kListName, rec->name);
        if (existing >= 0 && list_.Cell(existing, kListType) == "FOLDER" &&
            list_.Cell(existing, kListSelfId) == std::to_string(rec->selfId) &&
            list_.Cell(existing, kListParentId) == std::to_string(rec->parentId))
            continue;
        const int columns = list_.ColumnCount() > 0 ? list_.ColumnCount()
                            : request_.recoveryMode == 2 ? kDeepListColumnCount
                                                         : kBasicListColumnCount;
        const std::shared_ptr<FileSystemVolume> volume = volumes_ ? volumes_->OfFolder(rec) : nullptr;
        const FsKind kind = volume ? volume->Kind() : FsKindFromText(results_.FsName());
        const int at = list_.InsertRow(static_cast<int>(rowCount), FolderRowCells(*rec, child, kind, columns, now));
        if (at >= 0) {
            list_.SetRowImage(at, 1);   // the folder icon
            list_.SetRowData(at, rec->deleted ? kRowDeletedBit : 0);
            if (rec->deleted)
                list_.AddRowColor(at, kDeletedRowColor);
        }
        Progress().folders++;
        ++rowCount;
    }
}

void FileListPopulationJob::FillFolderFileList(FileSystemVolume& volume, std::uint64_t folderId,
                                               std::uint64_t rowCount)
{
    FolderListing listing;
    listing.list = &list_;
    listing.firstRow = rowCount;
    listing.deepLayout = request_.recoveryMode == 2;
    listing.abort = [this] { return StopRequested(); };
    std::atomic<std::uint64_t>& files = Progress().files;
    const std::uint64_t before = files.load();
    listing.progress = [&files, before](std::uint64_t n) { files = before + n; };
    const std::uint64_t added = volume.ListFolderFiles(results_, folderId, listing);
    files = before;
    if (added > 0)
        state_.FilesFoundFlag = true;
    Progress().files += added;
}

void FileListPopulationJob::DecideEndNotice()
{
    endNotice_ = ListingEndNotice::None;
    TreeModel& tree = results_.Tree();
    const TreeNodeId root = tree.RootItem();
    const std::size_t nodes = tree.NodeCount();
    bool pending = false;
    if (!state_.FilesFoundFlag) {
        if (nodes == 1)
            pending = true;
        else if (nodes == 2 && root != kNoTreeNode && tree.Text(tree.FirstChild(root)) == kMiscFolderName)
            pending = true;
    }
    if (request_.loadedFromLog)
        pending = false;
    if (pending) {
        if (state_.EmptyResultMark == 0)
            state_.EmptyResultMark = 1;
        if (state_.EmptyResultMark == 1)
            endNotice_ = ListingEndNotice::EmptyResult;
    } else if (!request_.scanLogActive) {
        endNotice_ = ListingEndNotice::SearchFinished;
    }
}

void FileListPopulationJob::Run()
{
    Progress().Reset();
    endNotice_ = ListingEndNotice::None;
    TreeModel& tree = results_.Tree();
    const TreeNodeId item = request_.item;
    if (item == kNoTreeNode || !tree.IsValid(item))
        return;
    list_.Clear();
    list_.ClearRowColors();
    const bool rootSelected = IsTopLevelRoot(tree, item);

    // Decide whether there is anything to list.
    if (results_.FolderCount() == 0 && !state_.FilesFoundFlag) {
        if (rootSelected)
            DecideEndNotice();
        return;
    }

    // Folder images: the selected folder shows open, the one before closed.
    if (state_.PreviousFolderItem != kNoTreeNode && tree.IsValid(state_.PreviousFolderItem) &&
        tree.Text(state_.PreviousFolderItem).rfind("Partition", 0) != 0)
        tree.SetImage(state_.PreviousFolderItem, 1);
    if (!rootSelected) {
        tree.SetImage(item, 2);
        state_.PreviousFolderItem = item;
    }

    RecoveredFolder* record = rootSelected ? nullptr : results_.FolderOfItem(item);
    const std::shared_ptr<FileSystemVolume> volume = volumes_ ? volumes_->OfFolder(record) : nullptr;
    std::uint64_t folderId = volume ? volume->RootFolderId() : 0;

    // Lost sub-folders of a FAT folder get their names from its directory
    // entries on its first listing.
    if (record) {
        folderId = record->selfId;
        if (volume && record->selfId != kMiscFolderId && tree.ChildCount(item) > 0)
            volume->PrepareChildren(results_, item);
    }
    if (StopRequested())
        return;

    std::uint64_t rowCount = 0;
    AddSubfolderRows(item, rowCount);
    if (StopRequested())
        return;
    if (rootSelected && volumes_) {
        // The root item stands for the root of every volume found.
        bool first = true;
        for (const std::shared_ptr<FileSystemVolume>& v : volumes_->All()) {
            if (StopRequested())
                return;
            FillFolderFileList(*v, v->RootFolderId(), first ? rowCount : static_cast<std::uint64_t>(list_.RowCount()));
            first = false;
        }
    } else if (volume) {
        FillFolderFileList(*volume, folderId, rowCount);
    }

    if (record && Progress().files.load() > record->fileCount)
        record->fileCount = Progress().files.load();
    DecideEndNotice();
}

}  // namespace torvane
