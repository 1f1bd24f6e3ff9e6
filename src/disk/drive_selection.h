// Selecting a node of a search dialog's drive tree, as values.
//
// DescribeDriveNode says what a node stands for as the source of a scan, from
// the records behind the items (the DriveDetails of disks and volumes, the
// disk's DiskPartitionTable records): its kind, its disk with what a scan
// needs of it, the partition or the volume, and the description a scan shows.
// DescribeDisk does the same for a disk named by its number. Both read the
// inventory under its lock and write nothing, so the partition search may add
// items from its worker while the GUI describes nodes.
//
// PrepareDriveSelection adds what the dialog shows for the node: its property
// table, the "Select drive to start recovery..." panel, the sector range and
// the file-system choice of Deep Search. The property texts are for the eye;
// Scan Now reads the ScanSource, never the table.
#pragma once

#include "disk/drive_details.h"
#include "disk/drive_inventory.h"
#include "disk/drive_properties.h"
#include "disk/drive_tree_rules.h"
#include "disk/partition_table.h"
#include "disk/recognised_volumes.h"
#include "disk/volume_geometry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

// What a scan needs of a listed disk.
struct DiskContext {
    int Number = -1;                      // -1: no such disk is listed
    TreeNodeId Item = kNoTreeNode;        // its item under "Physical Drives"
    std::uint64_t SectorCount = 0;        // the exact sector count of its record
    std::uint64_t SizeMiB = 0;
    std::string ModelText;
    std::string IdentityText;             // model||capacity||sectors||number
    DriveDetails Record;                  // a copy of the record behind its item
    bool Found() const { return Number >= 0; }
};

// The partition a partition node stands for.
struct PartitionSource {
    int Position = -1;                    // its record in the disk's table (0-based); -1: none
    std::string FsName;                   // the listed file-system name: "FAT32", "NTFS", ...
    PartitionRecord Record;               // start, end (one past the last sector), geometry
    std::string SizeText;                 // "36.00 MB"
};

// The mounted volume a volume node stands for.
struct VolumeSource {
    std::string Path;                     // "\\.\E:"
    std::string FsName;
    std::uint64_t SectorCount = 0;
    SelectedVolumeExtent Extent;          // the disk that holds it, its dynamic flag, its extent there
    DriveDetails Record;                  // a copy of the record behind its item
};

// What a drive-tree node stands for as the source of a scan.
struct ScanSource {
    TreeNodeId Node = kNoTreeNode;
    DriveNodeKind Kind = DriveNodeKind::None;
    std::string KindText;                 // SelectedSourceKind: "Hard Disk", "Logical", "part", ...
    std::string ItemText;
    // The disk of a disk or partition node; for a volume the disk that holds
    // it. -1 for the other nodes.
    int DiskNumber = -1;
    DiskContext Disk;                     // disk and partition nodes
    PartitionSource Partition;            // partition nodes
    VolumeSource Volume;                  // volume nodes
    // The disk size the main window keeps for the selection (m_ullDiskSizeMiB):
    // a disk's size; 0 for a partition and a volume.
    std::uint64_t SizeMiB = 0;
    // SelectionDescription: the item text of a disk's or a volume's record;
    // "Disk 0 ( Partition 2 / NTFS / 16.00 MB )" for a partition.
    std::string Description;
};

// The disk numbered `disk` as listed under "Physical Drives" (not Found()
// when it has no item with a record there).
DiskContext DescribeDisk(const DriveInventory& inv, int disk);

// What `node` stands for (Kind None for an item of no drive tree).
ScanSource DescribeDriveNode(const DriveInventory& inv, TreeNodeId node);

// Copies what a scan records of its disk into `p`: the sector count and the
// model and identity texts.
void CopyDiskContext(const DiskContext& disk, CurrentPartition& p);

// What the dialog knows when a node is selected.
struct DriveSelectionContext {
    int RecoveryMode = 0;                 // 1 Basic, 2 Deep, 3 Photo, 4 Video, 5 signature
    std::string ShownItem;                // the text of the node whose table shows (m_strShownItem)
    bool HoldsResults = false;            // the dialog shows scan results (volume rows are withheld)
    bool RemovableScanRunning = false;    // Deep: the removable-media partition scan runs
};

// What selecting a node asks of the dialog.
struct DriveSelection {
    DriveNodeKind Kind = DriveNodeKind::None;
    std::string NodeKindText;             // SelectedNodeKind
    bool Unchanged = false;               // the same volume again: nothing to do
    std::string ShownItem;                // the new m_strShownItem

    bool ShowTable = false;               // the main list shows Table (else it is hidden)
    PropertyTable Table;
    bool ShowProgressStatics = false;     // the "Select drive to start recovery..." panel

    std::optional<bool> ShowRange;        // show or hide the sector-range group (nullopt: leave it)
    bool SetRange = false;                // InitSectorRangeControls(RangeStart, RangeEnd, RangeMin, RangeMax)
    std::uint64_t RangeStart = 0, RangeEnd = 0, RangeMin = 0, RangeMax = 0;
    std::optional<std::string> FsComboName;  // Deep: SelectFileSystemInCombo ("" selects the "other" entry)

    int DiskIndex = -1;                   // disk of a disk or partition node
    std::string DeviceId;                 // "\\.\PhysicalDriveN" or "\\.\E:" from the node's record
    std::string VolumePath;               // "\\.\E:" of a volume node
    std::uint64_t DriveSizeMiB = 0;       // 0 for a partition node
    std::uint64_t MediaDiskSectors = 0;   // the disk's sector count (m_ullMediaDiskSectors)
    int PartitionPosition = -1;           // the record of a partition node

    ScanSource Source;                    // what the node stands for (Scan Now reads this)
    // A "Recognised" node (Deep Search): its drive's rows, which the "Found
    // File System" list shows (the row named Recognised->Name in blue), and
    // what Scan Now reads of it (PrepareRecognisedDeepScan).
    std::optional<RecognisedSource> Recognised;
    bool ShowFoundFsList = false;         // show the "Found File System" list (else hide it in Deep)
};

// CTreeClass::OnSelChanged for the drive tree: classifies `node`, describes
// it and builds its table. Device paths come from the records behind the
// items, never from their texts. Writes nothing: the view keeps the result
// and sets the inventory's SelectedItem itself.
DriveSelection PrepareDriveSelection(const DriveInventory& inv, TreeNodeId node, const DriveSelectionContext& context);

}  // namespace torvane
