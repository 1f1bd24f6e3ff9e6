// A full rebuild of one search dialog's drive list, as data: the roots, the
// physical disks with their partitions and, when shown, the logical drives.
// The dialog runs it on a worker and mirrors inv.Tree in its view.
#pragma once

#include "disk/drive_inventory.h"
#include "disk/logical_drives.h"
#include "disk/physical_disks.h"

namespace torvane {

struct DriveRefreshOptions {
    bool WithLogicalDrives = false;   // "Show Logical Drives" is ticked
    bool RefreshRegistry = true;      // re-read sysfs for disks that came or went
    PhysicalDiskOptions Physical;
    LogicalDriveSources Logical;
};

// Empties the tree, the records and the per-disk table (geometry copies stay),
// re-creates the roots and lists everything again.
void BuildDriveInventory(DriveInventory& inv, DeviceRegistry& registry, const DriveRefreshOptions& options = {});

// Adds the "Logical Drives" branch and its drives to a listed inventory.
void AddLogicalDrivesBranch(DriveInventory& inv, DeviceRegistry& registry, const LogicalDriveSources& sources = {});

}  // namespace torvane
