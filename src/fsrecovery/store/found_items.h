// What a Basic or Deep scan finds, and the results tree it builds.
//
// A scan delivers two kinds of items:
//  - folders: items of the results tree, each with a RecoveredFolder record
//    behind it (the node's payload). Folders enter the tree only through
//    ScanResults::InsertRecoveredFolder, which keeps the tree, the folder
//    index (TreeTable) and the record list in step;
//  - files of NTFS and exFAT volumes: FoundEntry values, kept sorted by the
//    id of their folder. FAT files are not stored: the file list reads them
//    from the folder's directory clusters when the folder is opened.
// Folders wait as pending rows (DirListTable) until their parent is in the
// tree; see lost_directory_arrangement.h.
//
// Folder ids: the first cluster on FAT and exFAT, the MFT record number on
// NTFS. Parent 0 is the FAT root, 5 the NTFS root, the root's own cluster the
// exFAT root (ExfatRootFolderId). A folder whose parent is unknown gets the
// miscellaneous folder "KZU_Miscellaneous" (id 0x0FFFFFFF) as its parent:
// that folder gathers the folders (and NTFS files) nobody claims. On FAT16,
// FAT32 and exFAT a real folder may sit at cluster 5: it is an ordinary
// folder there.
//
// Threads. One ScanResults per search dialog. Every member takes the object's
// recursive mutex, so any thread may call any member; hold Lock() across a
// compound step (read a row, then insert). The tree has its own lock
// (TreeModel); the results lock is always taken first. Counters the dialog's
// timers read are atomics and need no lock.
#pragma once

#include "base/tree_model.h"
#include "disk/fs_kind.h"
#include "fsrecovery/store/flat_id_map.h"
#include "fsrecovery/store/scan_sink.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace torvane {

// The miscellaneous folder's id, and so the parent id of every folder whose
// own parent is unknown.
inline constexpr std::uint32_t kMiscFolderId = 0x0FFFFFFF;
inline constexpr std::uint64_t kNtfsRootId = 5;
inline constexpr char kMiscFolderName[] = "KZU_Miscellaneous";

// The folder id under which an exFAT root's own files and folders are filed:
// the root's cluster. (Every card of 32 GiB and more has its root at cluster
// 4 and its first folder at 5.) Where the root cluster is unknown (0: a scan
// log of a volume whose geometry was derived from its folders) the root's
// children keep the id older logs give them, 5.
inline constexpr std::uint64_t kExfatUnknownRootId = 5;
inline std::uint64_t ExfatRootFolderId(std::uint32_t rootCluster)
{
    return rootCluster >= 2 ? rootCluster : kExfatUnknownRootId;
}
inline constexpr char kRootItemText[] = "Root";

// One found file of an NTFS or exFAT volume. Numbers stay numbers: the texts
// the list and the scan log show are made from them where they are shown.
struct FoundEntry {
    std::string name;
    std::uint64_t parentId = 0;   // id of the folder holding it; the sort key
    std::uint64_t ownId = 0;      // where its data are described: NTFS the FILE record's sector (or, taken
                                  // from an index record, a file reference); exFAT its first cluster's sector
    std::uint64_t size = 0;
    std::uint64_t stamp = 0;      // NTFS: the creation FILETIME; exFAT: FAT date word << 16 | time word
    std::uint64_t fsKey = 0;      // the volume it was found on (RecoveredFolder::fsKey)
    bool fromIndex = false;       // NTFS: taken from a folder's index record, not from a FILE record

    std::uint16_t FatDate() const { return static_cast<std::uint16_t>(stamp >> 16); }
    std::uint16_t FatTime() const { return static_cast<std::uint16_t>(stamp & 0xFFFF); }
};

// FoundEntryStore: every found file, in the order found until the scan ends,
// then sorted by the id of its folder once, so that a folder's files are one
// run of the store; an index (folder id -> its run) is built with the sort, so
// a folder's files are found in constant time. Adding or refiling entries
// undoes the order and the index; reading and completing entries (name, size,
// time) keeps both.
class FoundEntryStore {
public:
    void push_back(FoundEntry entry);
    void clear()
    {
        entries_.clear();
        runs_.Clear();
        sorted_ = true;
        indexed_ = true;
    }
    // Room for `n` entries (a scan that knows how many it may find).
    void reserve(std::size_t n);
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // An entry may be completed in place; its parentId must not change.
    FoundEntry& operator[](std::size_t i) { return entries_[i]; }
    const FoundEntry& operator[](std::size_t i) const { return entries_[i]; }
    std::vector<FoundEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<FoundEntry>::const_iterator end() const { return entries_.end(); }
    const FoundEntry& back() const { return entries_.back(); }

    // Files filed under a folder that never reached the tree (its record
    // zeroed or unreadable) are filed under `parentId` instead (the
    // miscellaneous folder): every entry for which `lost` holds. Keeps the
    // order a stable sort by folder would give. Returns how many moved.
    std::size_t Refile(const std::function<bool(const FoundEntry&)>& lost, std::uint64_t parentId);
    // Stable sort by parentId and the folder index; nothing to do when
    // nothing was added since.
    void SortByParent();
    bool Sorted() const { return sorted_; }
    // [first, last) of the entries of folder `parentId`, every one of them
    // filed under that folder; sorts and indexes first when needed.
    std::pair<std::size_t, std::size_t> Range(std::uint64_t parentId);
    // The number of entries of folder `parentId` (as Range).
    std::size_t CountOf(std::uint64_t parentId)
    {
        auto [first, last] = Range(parentId);
        return last - first;
    }

private:
    void Invalidate()
    {
        sorted_ = false;
        indexed_ = false;
    }
    void BuildIndex();

    std::vector<FoundEntry> entries_;
    // Folder id -> (first << 32 | count) of its run; valid while indexed_.
    FlatIdMap<std::uint64_t> runs_;
    bool sorted_ = true;
    bool indexed_ = true;
};

// The record behind every folder item of a results tree.
struct RecoveredFolder {
    std::string name;             // the item's text
    TreeNodeId treeItem = kNoTreeNode;
    std::uint32_t selfId = 0;     // low 32 bits of the folder's own id
    std::uint32_t parentId = 0;   // low 32 bits of the parent id after root normalisation
    bool fatCluster = false;      // inserted into a FAT result: its (fsKey, selfId) names a FAT folder cluster
    std::uint64_t date = 0;       // FAT date word (NTFS: a FILETIME), as passed
    std::uint64_t time = 0;       // FAT time word, as passed
    std::uint32_t named = 0;      // 1 once the naming pass of its lost sub-folders ran
    std::uint32_t deleted = 0;    // 1 when the folder's entry is marked deleted
    std::uint64_t fsKey = 0;      // Deep: cluster-0 sector of its file system; Basic: 0
    std::uint64_t fileCount = 0;  // stored by the save-side folder walker
    RecoveredFolder* next = nullptr;   // creation order
    std::uint64_t sequence = 0;   // position in creation order (0-based)
};

// A pending directory: a found folder waiting for its place (a DirListTable row).
struct PendingDirectory {
    std::string name;
    std::uint64_t sector = 0;
    std::uint64_t self = 0;
    std::uint64_t parent = 0;
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    std::uint64_t cluster0Start = 0;       // column 11: Deep file-system key
    std::uint64_t fileCount = 0;           // column 12: known file count
    bool deleted = false;                  // column 10 "1"
    bool placed = false;                   // the "A" mark: placed, removed by the next purge
    // Columns 6..9 (size, attr, sysID, Type), written by the Deep sweeps only;
    // kept aside so that the rows stay small (tables of a million rows are sorted).
    struct Texts {
        std::string size, attr, sysId, type;
    };
    std::shared_ptr<Texts> texts;          // null when none were written
};

// DirListTable. Rows keep the order the table had: a new row goes in before
// the last row (so the first row ever added stays last until the sort).
class PendingDirectoryTable {
public:
    std::size_t Add(PendingDirectory row);           // returns the row's index
    // Room for `n` rows (a scan that can tell how many folders it may find).
    void Reserve(std::size_t n);
    std::size_t Count() const { return rows_.size(); }
    bool Empty() const { return rows_.empty(); }
    PendingDirectory& Row(std::size_t i) { return rows_[i]; }
    const PendingDirectory& Row(std::size_t i) const { return rows_[i]; }
    void MarkPlaced(std::size_t i) { rows_[i].placed = true; }
    // Removes every placed row, keeping the order of the rest.
    void PurgePlaced();
    // Stable ascending sort by parent (SortPendingDirectories).
    void SortByParent();
    bool Sorted() const { return sorted_; }
    // Rows [first, last) whose parent equals `parent` (after SortByParent;
    // placed rows included). A row whose parent was changed after the sort
    // may leave rows of other parents inside the range: check each row.
    // Sorts again first when a parent was changed out of order since the sort.
    std::pair<std::size_t, std::size_t> ParentRange(std::uint64_t parent);
    void Clear();
    std::vector<PendingDirectory>& Rows() { return rows_; }

private:
    std::vector<PendingDirectory> rows_;
    bool sorted_ = false;
    // parent -> first row of its run, built on first use after a change.
    FlatIdMap<std::uint32_t> runStart_;
    bool rangesValid_ = false;
};

// A root-directory entry naming a sub-folder (a DirNameListTable row).
struct RootDirectoryName {
    std::uint32_t self = 0;       // the entry's first cluster
    std::string name;             // display name, trimmed
    std::uint16_t date = 0;       // write date (bytes 24-25)
    std::uint16_t time = 0;       // write time (bytes 22-23)
    std::uint64_t sector = 0;     // sector that holds the entry
    bool deleted = false;         // the entry is marked deleted (carried to the folder's mark)
    std::uint64_t fsKey = 0;      // Deep: the file system whose root holds the entry
};

// DirNameListTable: rows in root-directory order; the sweep takes the last
// live row of a cluster, the drain takes the rest in order.
class RootDirectoryNameTable {
public:
    void Add(RootDirectoryName row);
    // Removes and returns the last live row whose self is `cluster`.
    bool TakeLast(std::uint32_t cluster, RootDirectoryName& out);
    // The same among the rows of one file system (Deep, several volumes in one range).
    bool TakeLastOf(std::uint32_t cluster, std::uint64_t fsKey, RootDirectoryName& out);
    // The live rows in order.
    std::vector<RootDirectoryName> LiveRows() const;
    std::size_t LiveCount() const { return live_; }
    void Clear();

private:
    std::vector<RootDirectoryName> rows_;
    std::vector<bool> taken_;
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> byCluster_;
    std::size_t live_ = 0;
};

// TreeTable, the folder index: folder id -> tree item; the earliest insert wins.
class FolderIndex {
public:
    // Adds `id` -> `item` unless `id` is indexed already (then it keeps the first).
    void Add(std::uint64_t id, TreeNodeId item);
    // The item of the first folder indexed under `id`, or kNoTreeNode.
    TreeNodeId Find(std::uint64_t id) const;
    bool Contains(std::uint64_t id) const { return items_.Find(id) != nullptr; }
    std::size_t Count() const { return items_.Size(); }
    void Clear() { items_.Clear(); }
    void Reserve(std::size_t n) { items_.Reserve(n); }

private:
    FlatIdMap<TreeNodeId> items_;
};

// Where the results report things the dialog shows.
class ResultsEvents {
public:
    virtual ~ResultsEvents() = default;
    // A folder was added to the tree (the dialog's live list of latest found items).
    virtual void OnLiveFolder(const std::string& /*name*/) {}
    // A FAT folder with an unknown file count was added during a scan; the
    // dialog may walk its entries to show its files in the live list.
    virtual void OnNewFatFolder(std::uint32_t /*selfId*/) {}
};

// The found items of one search dialog.
class ScanResults {
public:
    ScanResults();
    ~ScanResults();
    ScanResults(const ScanResults&) = delete;
    ScanResults& operator=(const ScanResults&) = delete;

    [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() const;

    // ---- context -------------------------------------------------------------
    // The file system of the volume being scanned or loaded (what
    // PartitionDescriptor.FsName says); FsName() is its text ("FAT16", ...).
    void SetFsKind(FsKind kind);
    void SetFsName(const std::string& fsName);   // the text form, e.g. from a scan log
    FsKind Kind() const;
    std::string FsName() const;
    bool IsFat() const;                       // FAT16 or FAT32
    void SetRecoveryMode(int mode);           // 1 Basic, 2 Deep
    int RecoveryMode() const;
    void SetLogLoading(bool on);              // a scan-log loader is inserting
    bool LogLoading() const;
    void SetLogLoadedFlag(bool on);           // the shown result is held in a scan log
    bool LogLoadedFlag() const;
    void SetFileSystemCount(std::uint64_t n); // Deep: rows of FileSystemTable
    // exFAT: the cluster of the root folder the scan walked (0 until then),
    // and so the parent id of the root's children (ExfatRootFolderId).
    void SetExfatRootCluster(std::uint32_t cluster);
    std::uint32_t ExfatRootCluster() const;
    // When the results were made (the scan's start; a loaded log's scan):
    // a zero FAT date or time word shows this day and time.
    std::time_t ScanTime() const;
    void SetScanTime(std::time_t t);
    void SetEvents(ResultsEvents* events);    // may be null
    ResultsEvents* Events() const;

    // ---- stores --------------------------------------------------------------
    TreeModel& Tree() { return tree_; }
    const TreeModel& Tree() const { return tree_; }
    PendingDirectoryTable& DirList() { return dirList_; }             // DirListTable
    RootDirectoryNameTable& DirNameList() { return dirNameList_; }    // DirNameListTable
    FolderIndex& TreeTable() { return treeTable_; }
    const FolderIndex& TreeTable() const { return treeTable_; }
    FoundEntryStore& FoundEntries() { return foundEntries_; }
    const FoundEntryStore& FoundEntries() const { return foundEntries_; }

    // RecoveredFolderList, in creation order (stable addresses).
    RecoveredFolder* FirstFolder();
    std::size_t FolderCount() const { return folders_.size(); }
    RecoveredFolder* FolderAt(std::size_t sequence);
    // The record behind a tree item, or null.
    RecoveredFolder* FolderOfItem(TreeNodeId item) const;

    TreeNodeId MiscFolderItem() const { return miscFolderItem_; }
    void SetMiscFolderItem(TreeNodeId item) { miscFolderItem_ = item; }
    bool SeveralFoldersFlag() const { return severalFolders_; }
    void SetSeveralFoldersFlag(bool on) { severalFolders_ = on; }

    // Counters the dialog's timers show.
    std::atomic<std::uint64_t> FoundFolderCount{0};
    std::atomic<std::uint64_t> FoundFileCount{0};
    std::atomic<std::uint64_t> CurrentScanSector{0};

    // ---- operations ----------------------------------------------------------
    // Adds a folder to the results tree; returns its item (an existing item when
    // the folder is there already; kNoTreeNode when refused: a folder named
    // "KZU_Miscellaneous" whose id is not 0x0FFFFFFF).
    TreeNodeId InsertRecoveredFolder(TreeNodeId parentItem, std::string name, std::uint64_t selfId,
                                     std::uint64_t date, std::uint64_t time, std::uint64_t parentId,
                                     std::uint32_t deleted, std::uint64_t fsKey, std::uint64_t knownFileCount);
    // The top-level "Root" item (created, last at the top level, when missing).
    TreeNodeId EnsureRootItem();
    // Sets the root item's text to "Root" and its image to 0.
    void ResetRootItemText();
    // Empties TreeTable, FoundEntryStore and DirListTable (not the records,
    // the tree or DirNameListTable).
    void ClearFoundStores();
    // Forgets the whole result: tree, records, every store, misc item, flags.
    void ForgetResults();

    // Queues a pending directory (an empty name becomes "DIR_<self>").
    std::size_t AddPendingDirectory(std::string name, std::uint64_t sector, std::uint64_t selfId,
                                    std::uint64_t parentId, std::uint64_t date, std::uint64_t time);
    // Queues a complete row (Deep writers that fill columns 6..12).
    std::size_t AddPendingRow(PendingDirectory row);
    void SortPendingDirectories();
    void PurgePlacedPendingDirectories(ScanSink* sink = nullptr);
    // Stable sort of FoundEntryStore by parentId (once: nothing to do when sorted).
    void SortFoundEntries();
    // Entries whose parentId equals `parentId`, as [first, last) indexes
    // (the store is sorted and indexed first when it is not): constant time
    // once indexed.
    std::pair<std::size_t, std::size_t> FoundEntryRange(std::uint64_t parentId);
    // How many entries folder `parentId` holds (as FoundEntryRange).
    std::size_t FoundEntryCount(std::uint64_t parentId);

    // True when `cluster` is the first cluster of a folder already in the tree.
    bool IsIndexedFolderCluster(std::uint32_t cluster) const;
    // The same for the volume `fsKey`: while the folders are keyed by file
    // system (FoldersKeyedByFileSystem), only a folder of that volume counts;
    // otherwise as above.
    bool IsIndexedFolderCluster(std::uint32_t cluster, std::uint64_t fsKey) const;
    // A Deep result of several FAT file systems: folders are told apart by
    // (file system, cluster), since two volumes may use the same numbers.
    bool FoldersKeyedByFileSystem() const;
    // True (and *child set) when `parentItem` has a child whose text equals
    // `name` exactly and begins with "DIR".
    bool FindDirNameChild(TreeNodeId parentItem, std::string_view name, TreeNodeId* child = nullptr) const;
    // Makes room for `n` folders in the indexes (before placing many at once).
    void ReserveFolders(std::size_t n);
    // Changes a folder's text (item and record) and keeps the indexes right.
    void RenameFolder(RecoveredFolder& folder, const std::string& name);

    // The first folder record with this (parent id, own id) created at or
    // after `fromSequence` (creation order), or null: the naming of lost
    // sub-folders finds the records an entry names with it.
    RecoveredFolder* FindFolderByParentSelf(std::uint32_t parentId, std::uint32_t selfId, std::uint64_t fromSequence);
    // The same, among the folders of the volume `fsKey` only while the
    // folders are keyed by file system.
    RecoveredFolder* FindFolderByParentSelf(std::uint32_t parentId, std::uint32_t selfId, std::uint64_t fromSequence,
                                            std::uint64_t fsKey);

    // Number of folders ever given a "DIR_<n>" name by the arrangement (program-wide).
    static int NextUnnamedDirNumber();

private:
    bool IsRootLevelParentOnFat(std::uint64_t parentId) const;
    void IndexChildText(TreeNodeId parent, const std::string& text, int delta);

    mutable std::recursive_mutex mutex_;
    TreeModel tree_;
    FsKind fsKind_ = FsKind::Unknown;
    int recoveryMode_ = 1;
    bool logLoading_ = false;
    bool logLoaded_ = false;
    std::uint64_t fileSystemCount_ = 0;
    std::uint32_t exfatRootCluster_ = 0;
    std::time_t scanTime_ = 0;
    ResultsEvents* events_ = nullptr;

    PendingDirectoryTable dirList_;
    RootDirectoryNameTable dirNameList_;
    FolderIndex treeTable_;
    // (file system, first cluster) of the FAT folders in the tree, for the
    // keyed lookups; emptied with treeTable_. Only Deep results of several
    // FAT volumes ask for it, so it is built from the records at its first
    // use (the records from keyedFrom_ on that are FAT folders) and kept up
    // to date from then on: a scan that never asks never pays for it.
    struct KeyedClusterHash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint32_t>& k) const
        {
            return std::hash<std::uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };
    mutable std::unordered_set<std::pair<std::uint64_t, std::uint32_t>, KeyedClusterHash> keyedFolderClusters_;
    std::size_t keyedFrom_ = 0;          // first record the keyed set covers (ClearFoundStores moves it)
    mutable bool keyedClustersBuilt_ = false;
    void BuildKeyedFolderClusters() const;
    FoundEntryStore foundEntries_;
    std::deque<RecoveredFolder> folders_;
    // (parentId << 32 | selfId) -> first and last record of that pair, the
    // records of one pair linked in creation order: the naming pass.
    std::unordered_map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> foldersByParentSelf_;
    std::vector<std::uint64_t> nextSameParentSelf_;
    // Children whose text begins with "DIR", by a 64-bit hash of (parent
    // item, text), with their count: FindDirNameChild.
    FlatIdMap<std::uint32_t> dirChildTexts_;
    std::size_t reservedFolders_ = 0;   // ReserveFolders: dirChildTexts_ takes it on its first text
    bool parentSelfIndexBuilt_ = false;
    void BuildParentSelfIndex();
    void IndexParentSelf(const RecoveredFolder& rec);
    TreeNodeId miscFolderItem_ = kNoTreeNode;
    bool severalFolders_ = false;
};

// The file-system name that every child of a drive-tree item shows in
// parentheses ("Partition - 1 ( FAT32 )"), normalised; empty when the
// children disagree or there are none.
std::string GetCommonChildFileSystem(const TreeModel& tree, TreeNodeId item);

}  // namespace torvane
