// The property tables a search dialog shows for the nodes of its drive tree,
// as data: which columns and rows the main list gets when "Physical Drives",
// "Logical Drives", a disk, a volume or a partition is selected, and what the
// selection prepares for the next Scan Now (the current disk or volume, the
// sector range, the file-system choice of Deep Search).
//
// The row texts are read back later (Scan Now reads the sector rows, the
// logical-drive sweep the volume's "2. End Sector : " row), so labels and
// their order are fixed, blanks after the colons included.
#pragma once

#include "disk/drive_details.h"
#include "disk/drive_inventory.h"
#include "disk/drive_properties.h"
#include "disk/drive_tree_rules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace torvane {

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
};

// CTreeClass::OnSelChanged for the drive tree: classifies `node`, builds its
// table and makes its disk or volume current in `inv` (CurrentDriveDetails,
// CurrentDiskIndex, the disk's sector count, model and identity texts,
// VolumePath). Device paths come from the records behind the items, never
// from their texts.
DriveSelection PrepareDriveSelection(DriveInventory& inv, TreeNodeId node, const DriveSelectionContext& context);

}  // namespace torvane
