// The save walkers: which recovered files and folders a save writes, in which
// order and under which paths, and their counting twins that size the saving
// dialog's bars before the save starts.
//
// Two roads:
//  - the tree road walks the results tree by the check boxes: a checked
//    folder is created and its files written, a partially checked one is
//    only passed (its checked descendants are created with its name in their
//    path), an unchecked one ends its branch; the volume root's own files are
//    written when the root is checked;
//  - the list road takes the selected rows of the file list: a file row is
//    written, a folder row is written with its whole subtree.
//
// Which files a folder holds, and how a file is written, depends on the file
// system: a FileSystemSaver per file system does that part (FAT: the folder's
// directory entries and SaveFatFile; NTFS and exFAT: the found-entry store
// and the writer their readers register).
#pragma once

#include "base/tree_model.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"
#include "results/save_session.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// One selected row of the file list (the list road), typed.
struct SaveRow {
    std::string name;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::uint64_t id = 0;             // FAT: first cluster; NTFS/exFAT: own id (file) or folder id
    TreeNodeId item = kNoTreeNode;    // a folder row's results-tree item
    std::string shortName;            // the 8.3 name of a FAT entry
    bool deleted = false;
};

class FileSystemSaver {
public:
    virtual ~FileSystemSaver() = default;
    // Writes the files directly in `folder` under `folderPath`.
    virtual void SaveFolderFiles(SaveSession& session, const std::string& folderPath,
                                 const RecoveredFolder& folder) = 0;
    // Writes the files directly in the volume root under `folderPath`.
    virtual void SaveRootFiles(SaveSession& session, const std::string& folderPath) = 0;
    // Writes the file of one list row to `target`.
    virtual void SaveFileRow(SaveSession& session, const std::string& target, const SaveRow& row) = 0;
    // Counting twins: the files the savers above will meet.
    virtual std::uint64_t CountFolderFiles(const RecoveredFolder& folder, const std::function<bool()>& stop) = 0;
    virtual std::uint64_t CountRootFiles(const std::function<bool()>& stop) = 0;
    // Called before the children of `item` are taken: a FAT saver names the
    // lost sub-folders ("DIR_n") from their parent's entries, as opening the
    // folder in the tree would, so they are saved under their real names.
    virtual void PrepareChildren(TreeNodeId /*item*/) {}
};

// The volume a save reads.
struct SaveVolume {
    std::string fsName;      // "FAT16", "FAT32", "NTFS", "exFAT"
    DevicePtr device;
    FatVolume fat;           // FAT16/FAT32 geometry
    int recoveryMode = 1;    // 1 Basic, 2 Deep
    // NTFS/exFAT: the writer of this volume's found entries; when empty the
    // one registered for the file system (RegisterFoundEntryWriter) is used.
    std::function<FileOutcome(SaveSession&, Device&, const FoundEntry&, const std::string&, const std::string&)>
        entryWriter;
};

// Writes one found entry (NTFS, exFAT) to `target`; `name` is its shown name.
using FoundEntryWriter = std::function<FileOutcome(SaveSession& session, Device& device, const FoundEntry& entry,
                                                   const std::string& target, const std::string& name)>;

// The writer of the NTFS or exFAT readers, registered by them ("NTFS", "exFAT").
void RegisterFoundEntryWriter(const std::string& fsName, FoundEntryWriter writer);

// The saver for the volume's file system; null when there is none yet.
std::unique_ptr<FileSystemSaver> MakeFileSystemSaver(ScanResults& results, const SaveVolume& volume);
std::unique_ptr<FileSystemSaver> MakeFatSaver(ScanResults& results, DevicePtr device, FatVolume volume,
                                              bool basicSearch = true);
// `rootId`: 5 on NTFS, 0 on exFAT.
std::unique_ptr<FileSystemSaver> MakeFoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId,
                                                     FoundEntryWriter writer);

// The folder path of a tree item below the root: the sanitized texts of its
// ancestors (the root excluded) and its own, joined with "/".
std::string TreeItemPath(const TreeModel& tree, TreeNodeId item);

// Tree road.
void WalkAndSaveTree(SaveSession& session, ScanResults& results, FileSystemSaver& saver);
void CountCheckedTreeItems(ScanResults& results, FileSystemSaver& saver, SaveCounters& counters,
                           const std::function<bool()>& stop);

// List road.
void SaveSelectedRows(SaveSession& session, ScanResults& results, FileSystemSaver& saver,
                      const std::vector<SaveRow>& rows);
void CountSelectedRows(ScanResults& results, FileSystemSaver& saver, const std::vector<SaveRow>& rows,
                       SaveCounters& counters, const std::function<bool()>& stop);

}  // namespace torvane
