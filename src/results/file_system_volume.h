// A file system that a scan found, as the results views and the save pipeline
// meet it, and the set of them that one search session holds.
//
// The results know file systems only through this interface: listing a
// folder's files, naming what must be named before a folder's children are
// shown or saved, and a saver that writes the files. Each file-system module
// (fsrecovery/fat, fsrecovery/exfat, fsrecovery/ntfs) implements it; its scan
// hands the session one volume per file system it read.
//
// Volumes are keyed by their file-system key, the key every folder record of
// that volume carries (RecoveredFolder::fsKey): 0 for the one volume of a
// Basic scan, the cluster-0 sector of each file system a Deep scan finds.
#pragma once

#include "base/list_model.h"
#include "base/tree_model.h"
#include "disk/fs_kind.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/store/found_items.h"
#include "results/save_session.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace torvane {

// One selected row of the file list (the list road of a save), typed.
struct SaveRow {
    std::string name;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::uint64_t id = 0;             // FAT: first cluster; NTFS/exFAT: own id (file) or folder id
    TreeNodeId item = kNoTreeNode;    // a folder row's results-tree item
    std::string shortName;            // the 8.3 name of a FAT entry
    bool deleted = false;
    std::uint32_t highClusterAddend = 0;   // FAT32: the high word the folder walk guessed (deleted files)
    std::uint64_t fsKey = 0;          // the volume the row was listed from
    // Deep FAT file rows: the FAT volume (1-based, in the order the volumes
    // were found) the row was listed from; 0 when the row does not say.
    std::uint32_t volumeRow = 0;
};

// How one volume's files are saved: which files a folder holds and how each
// is written.
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
    // Called before the children of `item` are taken (see FileSystemVolume::PrepareChildren).
    virtual void PrepareChildren(TreeNodeId /*item*/) {}
};

// Where a folder listing writes and how it is told to stop.
struct FolderListing {
    ListRowModel* list = nullptr;
    std::uint64_t firstRow = 0;                 // rows are inserted from here on
    bool deepLayout = false;                    // the Deep Search's columns
    std::function<bool()> abort;                // tested per sector and per entry
    // Files listed so far by this call, reported every few rows.
    std::function<void(std::uint64_t)> progress;
};

class FileSystemVolume {
public:
    FileSystemVolume(FsKind kind, CurrentPartition partition, std::uint64_t fsKey = 0)
        : kind_(kind), partition_(std::move(partition)), fsKey_(fsKey)
    {
    }
    virtual ~FileSystemVolume() = default;
    FileSystemVolume(const FileSystemVolume&) = delete;
    FileSystemVolume& operator=(const FileSystemVolume&) = delete;

    FsKind Kind() const { return kind_; }
    std::uint64_t Key() const { return fsKey_; }
    // The partition as the scan used it: extent, geometry, the device read.
    const CurrentPartition& Partition() const { return partition_; }
    const DevicePtr& Device() const { return partition_.Device; }

    // The folder id under which the volume root's own files are filed.
    virtual std::uint64_t RootFolderId() const = 0;
    // Lists the files of folder `folderId` (RootFolderId() for the root);
    // returns the number of file rows added.
    virtual std::uint64_t ListFolderFiles(ScanResults& results, std::uint64_t folderId,
                                          const FolderListing& listing) = 0;
    // Before a folder's children are listed, expanded or saved: a FAT volume
    // names the lost sub-folders ("DIR_n") from the folder's entries. Reads
    // the device; never called on the GUI thread.
    virtual void PrepareChildren(ScanResults& /*results*/, TreeNodeId /*item*/) {}
    // The saver of this volume's files. `basicSearch`: the walk of a Basic
    // result (FAT folders then follow continuation clusters).
    virtual std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults& results, bool basicSearch) = 0;

private:
    FsKind kind_;
    CurrentPartition partition_;
    std::uint64_t fsKey_;
};

// The volumes of one search session. Filled by the GUI or scan thread while
// nothing lists or saves; read by listing and saving jobs, which hold the
// volumes they use by shared pointer.
class VolumeSet {
public:
    // Adds or replaces the volume of `volume->Key()`.
    void Add(std::shared_ptr<FileSystemVolume> volume);
    // The volume of `fsKey`; null when there is none.
    std::shared_ptr<FileSystemVolume> Find(std::uint64_t fsKey) const;
    // The volume a folder belongs to: its key's volume, else the first one
    // (a Basic result has one volume; the miscellaneous folder has key 0).
    std::shared_ptr<FileSystemVolume> OfFolder(const RecoveredFolder* folder) const;
    // The volume added first, or null.
    std::shared_ptr<FileSystemVolume> First() const;
    std::vector<std::shared_ptr<FileSystemVolume>> All() const;
    std::size_t Size() const;
    bool Empty() const { return Size() == 0; }
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FileSystemVolume>> volumes_;   // in the order added
};

}  // namespace torvane
