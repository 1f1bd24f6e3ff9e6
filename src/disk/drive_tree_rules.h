// The rules of a search dialog's drive tree that need no window: which icon
// an item shows, which item is selected again after the tree was rebuilt,
// when the tree counts as empty (the no-device box), what kind of node an item
// is, and how the "Logical Drives" branch leaves the tree.
#pragma once

#include "disk/drive_inventory.h"

#include <string>

namespace torvane {

// The image of a drive-tree item, from its text and its parent's text (empty
// for the root); the first rule that matches wins:
//   "My Computer" 0, "Logical Drives" 1, "Physical Drives" 3, text containing
//   "Recognised" 2, "Media (" 3, "Partition" 2, a child of "Logical Drives" 4.
// `current` is returned when no rule matches.
int DriveTreeImageFor(const std::string& text, const std::string& parentText, int current);

// SetDriveTreeIcons: every item of the tree gets its image by the rules above.
void SetDriveTreeIcons(TreeModel& tree);

// True when nothing is listed to recover from: "Physical Drives" has no child
// and "Logical Drives" is missing or has no child either.
bool DriveTreeIsEmpty(const DriveInventory& inv);

// ReselectDriveItem's choice: the first partition of the first disk, else the
// first disk, else "My Computer" (kNoTreeNode for an empty tree).
TreeNodeId ChooseReselectItem(const DriveInventory& inv);

// Removes "Logical Drives" with its children (the box was unticked). Returns
// true when the selected item was that branch or inside it; the inventory's
// selection then moves to "My Computer".
bool RemoveLogicalDrivesBranch(DriveInventory& inv);

// What a drive-tree node stands for.
enum class DriveNodeKind {
    None,            // no item, or an item of another tree
    Computer,        // "My Computer"
    PhysicalDrives,  // "Physical Drives"
    LogicalDrives,   // "Logical Drives"
    Disk,            // a disk under "Physical Drives"
    Volume,          // a drive under "Logical Drives"
    Partition,       // a partition under a disk
    Recognised,      // a volume found inside a logical drive ("Recognised%d - ...")
};
DriveNodeKind ClassifyDriveNode(const DriveInventory& inv, TreeNodeId node);

// The text SelectedNodeKind takes for a kind: "My Computer", "Physical Drives",
// "Logical Drives", "Hard Disk", "Logical", "part", "Recognised" ("" for None).
std::string SelectedNodeKindText(DriveNodeKind kind);

// What a device event asks of the drive tree.
enum class DeviceEventKind { Arrival, Removal };
enum class DeviceEventAction {
    Ignore,        // nothing to do now
    Retry,         // the no-device box is up: run its Retry step
    RefreshTree,   // the dialog is idle: rebuild the tree so it follows the devices
};
struct DeviceEventContext {
    bool NoDeviceBoxShown = false;
    bool RetryRunning = false;     // DeviceRetryRunning
    bool DriveListBusy = false;    // a refresh runs
    bool DialogIdle = false;       // no scan, search or log load runs and no results are shown
    bool FollowDevices = true;     // rebuild the tree on events while no box is up
};
// An arrival while the box is up retries (once at a time). Otherwise, while
// the dialog is idle and following devices, an arrival or a removal rebuilds
// the tree; a refresh already running takes the change with it.
DeviceEventAction DecideDeviceEvent(DeviceEventKind kind, const DeviceEventContext& context);

}  // namespace torvane
