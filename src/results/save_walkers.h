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
// system: the FileSystemSaver of the folder's volume does that part (FAT: the
// folder's directory entries; NTFS and exFAT: the found-entry store). A
// selection may span several volumes of one Deep result; each folder is
// saved by its own volume's saver.
#pragma once

#include "base/tree_model.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"
#include "results/save_session.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

// The savers of one save: one per volume the save meets, made on first use.
class SaverSet {
public:
    SaverSet(ScanResults& results, const VolumeSet& volumes, bool basicSearch)
        : results_(results), volumes_(volumes), basic_(basicSearch)
    {
    }
    // The saver of a folder's volume (OfFolder); null when no volume is known.
    FileSystemSaver* ForFolder(const RecoveredFolder* folder);
    // The saver of the volume `fsKey` names, else of the first volume.
    FileSystemSaver* ForKey(std::uint64_t fsKey);
    // The saver of the volume a list row was listed from: its FAT volume row
    // when it names one of the FAT volumes, else as ForKey(row.fsKey).
    FileSystemSaver* ForRow(const SaveRow& row);
    // The saver of the volume whose root files the root item stands for (the first).
    FileSystemSaver* ForRoot() { return ForFolder(nullptr); }
    // The savers of every volume, in the order the volumes were added: the
    // root item stands for the root files of each (a Deep result may hold
    // several volumes, each with files in its own root).
    std::vector<FileSystemSaver*> ForRoots();
    // The saver of a folder item (its record's volume; the first for an item without one).
    FileSystemSaver* ForItem(TreeNodeId item) { return ForFolder(results_.FolderOfItem(item)); }
    // No volume at all: nothing can be saved.
    bool Empty() const { return volumes_.Empty(); }

private:
    FileSystemSaver* ForVolume(const std::shared_ptr<FileSystemVolume>& volume);

    ScanResults& results_;
    const VolumeSet& volumes_;
    bool basic_;
    std::map<const FileSystemVolume*, std::pair<std::shared_ptr<FileSystemVolume>, std::unique_ptr<FileSystemSaver>>>
        savers_;
};

// The target of a file in `folderPath`: its sanitized name, shortened when too
// long for the destination (`preset`: the 8.3 name to prefer then).
std::string FileTarget(SaveSession& session, const std::string& folderPath, const std::string& rawName,
                       const std::string& preset);

// The folder path of a tree item below the root: the sanitized texts of its
// ancestors (the root excluded) and its own, joined with "/".
std::string TreeItemPath(const TreeModel& tree, TreeNodeId item);

// Tree road.
void WalkAndSaveTree(SaveSession& session, ScanResults& results, SaverSet& savers);
void CountCheckedTreeItems(ScanResults& results, SaverSet& savers, SaveCounters& counters,
                           const std::function<bool()>& stop);

// List road.
void SaveSelectedRows(SaveSession& session, ScanResults& results, SaverSet& savers,
                      const std::vector<SaveRow>& rows);
void CountSelectedRows(ScanResults& results, SaverSet& savers, const std::vector<SaveRow>& rows,
                       SaveCounters& counters, const std::function<bool()>& stop);

// The files the results hold, read folder by folder from each folder's own
// volume, the root's files from every volume (the count a save of everything
// would make). Empty when stopped, when no volume is known or when a read
// throws: a count is no reason to lose the results.
std::optional<std::uint64_t> CountEveryFoundFile(ScanResults& results,
                                                 const std::vector<std::shared_ptr<FileSystemVolume>>& volumes,
                                                 const std::function<bool()>& stop);

}  // namespace torvane
