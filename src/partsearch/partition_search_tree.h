// Search More Partitions and the removable-media discovery on a search
// dialog's drive inventory, apart from the widgets: which disk a selection
// searches, the parameters a search of it starts with (a snapshot of the
// disk's records taken under the inventory's lock), which removable disks
// the discovery scans, and what the tree shows when a disk's search ends
// (its first partition, or one whole-disk entry so that a disk where nothing
// was found can still be scanned like a partition).
//
// Everything here runs on the thread that owns the inventory's view (the
// GUI thread); the searches themselves run on their jobs' workers with the
// copies made here.
#pragma once

#include "disk/drive_inventory.h"
#include "partsearch/partition_search.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

// The disk a Search More Partitions press searches.
struct PartitionSearchTarget {
    int disk = -1;                       // -1: the selection names no disk
    TreeNodeId diskItem = kNoTreeNode;   // its item under "Physical Drives"
    std::uint64_t sectors = 0;           // its sector count (0: no storage)
    std::string devicePath;              // "\\.\PhysicalDriveN"
};

// The disk of `node` when it is a disk item or a partition item under one.
PartitionSearchTarget PartitionSearchTargetOf(const DriveInventory& inv, TreeNodeId node);

// "No physical storage area found in Disk(Disk - %d)...": what a disk without
// capacity gets instead of a search.
std::string NoPhysicalStorageText(int disk);

// The parameters of a search of `target` at `depth`: the disk's records as
// they are now, the partitions its item shows, the disk opened read-only
// through the program's device registry (params.device is null when it
// cannot be opened: the search then reads nothing).
PartitionSearchParams PreparePartitionSearch(const DriveInventory& inv, const PartitionSearchTarget& target,
                                             SmpMode depth);

// The type of the whole-disk entry from the disk's size: "NTFS" above 35 x
// 2^21 - 1 sectors, "FAT32" from 2048 sectors, "Unknown" below.
std::string WholeDiskEntryType(std::uint64_t sectors);

// What the end of a disk's search shows.
struct SearchEndInTree {
    TreeNodeId select = kNoTreeNode;     // the item to select: the first partition, or the new entry
    bool wholeDiskEntry = false;         // the whole-disk entry was added (it counts as found)
    std::string entryText;               // its text: "Partition - 1 ( FAT32 )" or "Unknown Partition"
};

// When the disk's item has children: its first child. Otherwise the
// whole-disk entry: record 0 of the disk (start 0, end `diskSectors`, the type
// of WholeDiskEntryType), an item under the disk, marked as found.
SearchEndInTree ShowSearchResultInTree(DriveInventory& inv, int disk, TreeNodeId diskItem, std::uint64_t diskSectors);

// ---- the removable-media discovery ------------------------------------------------

// One disk the discovery scans with the cylinder probe.
struct MediaScanDisk {
    int disk = -1;
    TreeNodeId item = kNoTreeNode;
    std::string devicePath;
    std::uint64_t totalSectors = 0;
    std::uint32_t cylinders = 0;         // after the 255 x 63 translation
    DiskPartitionEntry table;            // its records when the discovery starts
    int shownPartitions = 0;             // its item's children then
    bool last = false;                   // no later disk of the list qualifies
};

// StartRemovableMediaScan's test: the first child of "Physical Drives" whose
// text contains "Removable Media" and that has no child; kNoTreeNode without one.
TreeNodeId FirstRemovableDiskWithoutPartitions(const DriveInventory& inv);

// The cylinders of a disk geometry translated to 255 heads x 63 sectors: a
// geometry of 63 sectors per track is kept, any other gives (S x H x N) / 16065
// (in 64 bits, so a large disk is not probed at wrapped positions).
std::uint32_t TranslatedCylinders(std::uint32_t cylinders, std::uint32_t heads, std::uint32_t sectorsPerTrack);

// The disks of the inventory's SmpParamList whose item reads "Removable
// Media" under exactly "Physical Drives", in list order; the last one
// carries `last`. Fixed disks of the list are passed over.
std::vector<MediaScanDisk> RemovableMediaDisks(const DriveInventory& inv);

}  // namespace torvane
