// Listing the selected folder of a results tree: the folder's sub-folders
// (one "FOLDER" row each) and then its files, deleted ones included.
//
// The listing runs as a Job behind the "Populating List Items" window; its
// Cancel stops the job, which keeps the rows listed so far. File rows come
// through the folder's volume: from its directory clusters on FAT16/FAT32,
// from the scan's found-entry store on NTFS and exFAT.
//
// Counters for the status line: Progress().folders (ListedFolderCount) and
// Progress().files (ListedFileCount).
#pragma once

#include "base/job.h"
#include "base/list_model.h"
#include "disk/fs_kind.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace torvane {

// What the results view keeps between two selections (one per search dialog).
struct FileListState {
    TreeNodeId LastPopulatedItem = kNoTreeNode;
    TreeNodeId PreviousFolderItem = kNoTreeNode;
    // Set by any listing that finds a file; cleared by "Scan Now" and the log loaders.
    std::atomic<bool> FilesFoundFlag{false};
    // The dialog's empty-result mark (BasicEndNoticeState's twin of the list).
    int EmptyResultMark = 0;

    void Reset()
    {
        LastPopulatedItem = kNoTreeNode;
        PreviousFolderItem = kNoTreeNode;
        FilesFoundFlag = false;
        EmptyResultMark = 0;
    }
};

// Whether selecting `item` starts a listing: not when it is the root "Root"
// that was listed last. Records the item as the last listed otherwise.
bool BeginFolderSelection(FileListState& state, const TreeModel& tree, TreeNodeId item);

// What the end of a listing asks the dialog to show.
enum class ListingEndNotice {
    None,
    EmptyResult,     // ShowEndOfSearchMessage(finished 0): nothing was found
    SearchFinished,  // ShowEndOfSearchMessage(finished 1): shown once per scan
};

struct FileListRequest {
    TreeNodeId item = kNoTreeNode;   // the selected results-tree item
    int recoveryMode = 1;            // 1 Basic, 2 Deep
    bool loadedFromLog = false;      // the results came from a scan log (state 10)
    bool scanLogActive = false;      // a scan log is being written or read
    std::time_t now = 0;             // 0: the present moment (today's date of the misc folder)
};

class FileListPopulationJob : public Job {
public:
    // `results`, `list` and `state` must outlive the job; the volumes list
    // the files (each folder by its own volume).
    FileListPopulationJob(ScanResults& results, ListRowModel& list, FileListState& state,
                          std::shared_ptr<const VolumeSet> volumes, FileListRequest request,
                          JobEvents* events = nullptr);
    ~FileListPopulationJob() override;

    std::uint64_t ListedFolderCount() const { return Progress().folders.load(); }
    std::uint64_t ListedFileCount() const { return Progress().files.load(); }
    ListingEndNotice EndNotice() const { return endNotice_; }

protected:
    void Run() override;

private:
    void AddSubfolderRows(TreeNodeId item, std::uint64_t& rowCount);
    void FillFolderFileList(FileSystemVolume& volume, std::uint64_t folderId, std::uint64_t rowCount);
    void DecideEndNotice();

    ScanResults& results_;
    ListRowModel& list_;
    FileListState& state_;
    std::shared_ptr<const VolumeSet> volumes_;
    FileListRequest request_;
    ListingEndNotice endNotice_ = ListingEndNotice::None;
};

// The folder row of a results-tree item of a `kind` volume: "FOLDER", size
// "0", date and time texts (FAT words; NTFS a FILETIME; "KZU_Miscellaneous" today's date), own
// and parent id, tree item. `columns` is the list's column count.
std::vector<std::string> FolderRowCells(const RecoveredFolder& folder, TreeNodeId item, FsKind kind, int columns,
                                        std::time_t now);

// Makes `list` the Basic Search results list: no rows, the columns "Name"
// 140, "Type" 70, "Size" 70, "Date" 80, "Time" 70, then the hidden data
// columns 5..10 of width 0.
void SetupBasicResultColumns(ListRowModel& list);

// The texts of a tree item's path below the top-level item, joined with
// `separator` ("\\" for the savers, " \\" for a wrapping static).
std::string GetTreeItemPath(const TreeModel& tree, TreeNodeId item, const std::string& separator = "\\");

}  // namespace torvane
