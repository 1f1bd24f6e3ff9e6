// What a drive-list refresh produces for one search dialog: the drive tree
// ("My Computer" / "Physical Drives" / "Logical Drives" with a DriveDetails
// record behind every disk and volume item), the per-disk partition table,
// and the lists other parts of the program consult (media kinds, disk
// identities, volume sizes, partition-discovery jobs).
//
// One DriveInventory belongs to one search dialog's session. The listing runs
// on one worker at a time (DriveListBusy); the partition search may append
// partitions from its worker while the GUI shows the tree: the tree model has
// its own lock, and the record table is changed only under Lock().
//
// Nothing here is "the current disk": what a selected node stands for is
// described on demand from the records (disk/drive_selection.h), so no field
// is written by both the GUI and a worker.
#pragma once

#include "base/tree_model.h"
#include "disk/drive_details.h"
#include "disk/partition_table.h"
#include "disk/recognised_volumes.h"
#include "platform/device.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace torvane {

// Tree images of the drive trees.
enum DriveTreeImage : int {
    kImageComputer = 0,
    kImageDriveGroup = 1,
    kImagePartition = 2,
    kImageDisk = 3,
    kImageVolume = 4,
};

// Where a mounted volume lies on its disk (VolumeDiskExtent).
struct VolumeDiskExtent {
    bool Known = false;          // false when the volume's disk could not be determined
    std::uint32_t DiskNumber = 0;
    std::uint64_t StartSector = 0;
    std::uint64_t EndSector = 0; // one past the last sector
};

class DriveInventory {
public:
    DriveInventory() = default;
    DriveInventory(const DriveInventory&) = delete;
    DriveInventory& operator=(const DriveInventory&) = delete;

    // ---- the tree --------------------------------------------------------
    TreeModel Tree;
    TreeNodeId MyComputerItem = kNoTreeNode;
    TreeNodeId PhysicalDrivesItem = kNoTreeNode;
    TreeNodeId LogicalDrivesItem = kNoTreeNode;
    // The item selected in the view. Only the view writes it (GUI thread);
    // AddDriveTreeItem reads it from a worker when given no parent.
    std::atomic<TreeNodeId> SelectedItem{kNoTreeNode};

    // Empties the tree and inserts "My Computer" with "Physical Drives" and,
    // when `withLogicalDrives`, "Logical Drives" under it.
    void CreateRoots(bool withLogicalDrives);

    // ---- listing context ---------------------------------------------------
    // 1..5 while a search dialog lists drives. The view sets it on the GUI
    // thread (the Video search shares the signature dialog); workers read it.
    std::atomic<int> RecoveryMode{0};
    std::string SignatureModeText = "Signature";
    bool ListAllDriveTypes = true;
    std::string ComputerName;             // field 36 of disk records
    std::atomic<bool> DriveListBusy{false};

    // ---- the per-disk table and lists ----------------------------------------
    DiskPartitionTable PartitionTable;
    std::vector<std::string> DiskMediaList;     // "N", media text, "N", media text, ...
    std::vector<std::string> DiskIdentityList;  // model||capacity||sectors||N
    std::vector<std::string> VolumeSizeList;    // "\\.\E:|sectors"
    std::vector<SmpParam> SmpParamList;
    // Disks listed that could not be opened for lack of permission.
    std::vector<int> AccessDeniedDisks;
    // Dynamic-disk flags per disk number, from the partition walk.
    std::vector<int> DynamicDisks;

    // ---- logical drives ---------------------------------------------------------
    bool LogicalDrivesListed = false;            // m_bLogicalDrivesListed
    std::uint64_t LastVolumeSectorCount = 0;     // sector count of the volume listed last
    // The file systems the Deep Search found inside logical drives (its
    // recognised-volume list); emptied with the drive list.
    RecognisedVolumeTable RecognisedVolumes;

    // Records are owned here and stay valid until ClearRecords().
    DriveDetails* NewRecord();
    void ClearRecords();

    // Lock for compound changes of the table and lists.
    std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock<std::recursive_mutex>(mutex_); }

    // The mode name of the current RecoveryMode ("Basic Search", ...).
    std::string ModeName() const;

    // ResetPartitionTable at a full refresh: the table's counts and extents,
    // the media, identity and volume lists and the jobs are emptied.
    void ResetForRefresh();

private:
    mutable std::recursive_mutex mutex_;
    std::deque<std::unique_ptr<DriveDetails>> records_;
};

// ---- drive-tree items (as data) -----------------------------------------------

// Inserts a partition item (image 2) under `parent`. Under an item whose text
// contains "Partition" nothing is inserted and the parent is returned. A
// missing parent is replaced by the selected item; with neither, or outside
// the search modes, nothing is inserted. Any thread: it holds the inventory's
// lock and changes the tree only (the caller stores the partition's record
// under the same lock).
TreeNodeId AddDriveTreeItem(DriveInventory& inv, const std::string& text, TreeNodeId parent);

// The first child of `parent` whose text contains " (Disk<N> - ".
TreeNodeId FindDiskTreeItem(const DriveInventory& inv, int disk, TreeNodeId parent);

// The identity text of a disk record: model||capacity||sectors||number, trimmed.
std::string DiskIdentityText(const DriveDetails& d);

// Lists the partitions of disk number `diskNumber` (read from `disk`, of
// `diskSectors` sectors) into its table entry and, when `parent` is given, as
// "Partition - N ( FS )" items under it. FAT partitions get a geometry copy.
// Returns the walk for the caller's flags.
PartitionWalk ListDiskPartitions(DriveInventory& inv, int diskNumber, Device& disk, std::uint64_t diskSectors,
                                 TreeNodeId parent);

// Adds a mounted volume's extent as a partition of its disk when the table
// walk did not list it. A volume is present when a record has the same extent,
// or starts inside it and ends within 63 sectors of its end (but not exactly
// at its end with another start). Nothing is added for an unknown extent, a
// disk without an item, or a full table.
void AddLogicalVolumePartition(DriveInventory& inv, const std::string& fsName, const VolumeDiskExtent& extent);

}  // namespace torvane
