#include "disk/drive_refresh.h"

namespace torvane {

void BuildDriveInventory(DriveInventory& inv, DeviceRegistry& registry, const DriveRefreshOptions& options) {
    auto lock = inv.Lock();
    inv.ResetForRefresh();
    inv.CreateRoots(options.WithLogicalDrives);
    inv.ClearRecords();  // the tree no longer points at them
    if (inv.ComputerName.empty()) inv.ComputerName = GetComputerNameText();
    if (options.RefreshRegistry) registry.Refresh();
    EnumeratePhysicalDisks(inv, registry, options.Physical);
    if (options.WithLogicalDrives) EnumerateLogicalDrives(inv, CollectLogicalVolumes(registry, options.Logical));
}

void AddLogicalDrivesBranch(DriveInventory& inv, DeviceRegistry& registry, const LogicalDriveSources& sources) {
    auto lock = inv.Lock();
    if (inv.LogicalDrivesItem == kNoTreeNode && inv.MyComputerItem != kNoTreeNode) {
        TreeNodeInit init;
        init.text = "Logical Drives";
        init.image = kImageDriveGroup;
        inv.LogicalDrivesItem = inv.Tree.InsertChild(inv.MyComputerItem, init);
    }
    inv.LogicalDrivesListed = false;
    EnumerateLogicalDrives(inv, CollectLogicalVolumes(registry, sources));
}

}  // namespace torvane
