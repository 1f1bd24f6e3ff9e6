// "Scan Now" of the Basic Search: from the drive-tree selection, work out what
// to scan: the file-system type, the device, the sector range and the
// description of the selection.
//
// What the selected node stands for comes from its ScanSource (described from
// the records behind the drive tree, disk/drive_selection.h):
//   partition: its disk, its listed file-system name, start and end sector,
//              and the description "Disk N ( Partition P / FS / size )"
//   volume:    its path, file-system name and sector count; its disk, dynamic
//              flag and extent there for a scan through the disk
//   disk:      its number, sector count and size; the type and the first
//              sector come from its partition records and items
// The selected item's own text and its parent's decide the fixed-node and the
// logical-drive checks, as the user sees the tree.
//
// The checks run in a fixed order and the first that fails decides what the
// user sees; nothing here touches a window, and nothing in the inventory is
// written.
#pragma once

#include "disk/drive_inventory.h"
#include "disk/drive_selection.h"
#include "disk/volume_geometry.h"

#include <cstdint>
#include <functional>
#include <string>

namespace torvane {

inline constexpr char kRecoveryNotPossibleBasicText[] =
    "Recovery is not possible in Basic Search Mode, use other search modes to recover your data.";

enum class ScanStartOutcome {
    Start,            // everything is resolved: start the scan
    Refused,          // leave silently (a prompt was cancelled, a scan count is set)
    Message,          // show `message` (caption "Message", information icon) and leave
    NotPossible,      // the end-of-search box, not finished ("Recovery is not possible ...")
};

// What the handler knows when "Scan Now" is pressed.
struct BasicScanStartInput {
    TreeNodeId selectedItem = kNoTreeNode;     // the drive tree's selected item
    ScanSource source;                         // what the last selection described
    std::uint32_t basicScanCount = 0;          // BasicScanCount: not 0 -> refused
    // The logical-drive prompt for a volume on a dynamic disk: 1 "Perform
    // Logical Scan", 2 "Perform Physical Scan", anything else cancelled.
    std::function<int()> askLogicalScan;
    // Whether a device path can be opened (defaults to CanOpenCurrentDevice).
    std::function<bool(const std::string& devicePath)> canOpen;
};

struct BasicScanStart {
    ScanStartOutcome outcome = ScanStartOutcome::Refused;
    std::string message;
    CurrentPartition partition;                // Descriptor, DevicePath, SelectedSourceKind, ScanStartFsName...
    int currentDiskIndex = 0;
    std::string selectionDescription;          // static 1333 and the scan log
    bool logicalVolumeViaDisk = false;
    std::uint64_t rangeStart = 0, rangeEnd = 0; // static 1078: start + " to " + end
    // For a partition: the disk named by the parent item, whose sector count
    // the scan records; -1 for the other kinds.
    int contextDisk = -1;
};

// Resolves the Basic Search's Scan Now against the drive inventory: the
// tree's texts and structure, the disk's partition records, and the disk
// that holds a logical drive scanned through its disk. The logical-scan
// question is asked without holding the inventory's lock.
BasicScanStart ResolveBasicScanStart(const DriveInventory& inv, const BasicScanStartInput& input);

// "%s to %s" of the range.
std::string ScanRangeText(std::uint64_t start, std::uint64_t end);

}  // namespace torvane
