// "Scan Now" of the Basic Search: from the drive-tree selection and the
// property rows it shows, work out what to scan: the file-system type, the
// device, the sector range and the description of the selection.
//
// The property list's value column is read by row index:
//   partition: 0 disk number, 1 partition number, 2 type, 4 start, 5 end, 6 size
//   volume:    0 start sector, 1 end sector, 2 type
//   disk:      2 interface type, 6 total sector count
// Numbers are decimal; a text that is not a number reads as 0.
//
// The checks run in a fixed order and the first that fails decides what the
// user sees; nothing here touches a window.
#pragma once

#include "disk/drive_inventory.h"
#include "disk/volume_geometry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    TreeNodeId selectedItem = kNoTreeNode;
    std::vector<std::string> propertyValues;   // column 1 of the property list
    std::string selectedSourceKind;            // "Hard Disk", "Logical", "Recognised", anything else a partition
    int selectedDiskNumber = 0;                // the disk of the item selected last
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
    // For a partition: the disk whose context becomes current (SelectDiskContext
    // under "Physical Drives"); -1 when none.
    int contextDisk = -1;
};

// Resolves the Basic Search's Scan Now (checks 3 to 7, then B1 to B10) against
// the drive inventory. May make a disk current in `inv` (a logical drive
// scanned through its disk). Reads the volume and disk extents from `inv`.
BasicScanStart ResolveBasicScanStart(DriveInventory& inv, const BasicScanStartInput& input);

// "%s to %s" of the range.
std::string ScanRangeText(std::uint64_t start, std::uint64_t end);

}  // namespace torvane
