// The property tables a search dialog shows for the nodes of its drive tree,
// as data: the Name / Value rows of a disk, a volume and a partition, and the
// disks and volumes tables of "Physical Drives" and "Logical Drives".
//
// The tables are for the eye only: labels and their order are fixed, blanks
// after the colons included, and nothing reads a value back from them (what
// a scan needs comes from the records, see disk/drive_selection.h). Building
// a table reads the inventory and writes nothing.
#pragma once

#include "base/list_model.h"
#include "disk/drive_details.h"
#include "disk/drive_inventory.h"

#include <string>
#include <utility>
#include <vector>

namespace torvane {

using PropertyRow = std::pair<std::string, std::string>;

// Image of every property row in the list's image list.
inline constexpr int kPropertyRowImage = 10;

struct PropertyTable {
    std::vector<ListColumn> Columns;
    std::vector<std::vector<std::string>> Rows;
    bool HideFirstColumn = false;   // the "No." column of the drives tables
    bool SortByColumn1 = false;     // the disks table is sorted by its "Disk number" text
};

// The 13 rows of a disk: "1. Model :" ... "13. Physical Device ID :". The
// device id row shows the device path without its backslashes and dots
// ("\\.\PhysicalDrive0" shows "PhysicalDrive0"), then where the disk is on
// this machine (/dev/sdb, an image file).
std::vector<PropertyRow> DiskPropertyRows(const DriveDetails& disk);
// The 9 rows of a volume: "1. Start Sector :" "0", "2. End Sector : " ...
std::vector<PropertyRow> VolumePropertyRows(const DriveDetails& volume);
// "E: /media/card": the letter and colon, then the mount point.
std::string VolumeNameText(const DriveDetails& volume);

// The seven property rows of partition `pos` (0-based) of `disk`:
// "1. Disk Number : " ... "7. Size : ", and "8. Note : " (PartitionClampNote)
// when its table entry ends past the disk. Empty for a position or disk out
// of range.
std::vector<PropertyRow> PartitionPropertyRows(const DriveInventory& inv, int pos, const std::string& typeName,
                                               int disk);
// The "7. Size : " value of a partition record: "36.00 MB".
std::string PartitionSizeText(const PartitionRecord& record);
// The note of a partition whose table entry ends past the disk.
std::string PartitionClampNote(const PartitionRecord& record);

// The "Physical Drives" table: one row per disk ("No.", "Disk number", "Name",
// "Value"), and the "Logical Drives" table: one row per volume ("No.",
// "Volume", "Label", "Size", "Type").
PropertyTable PhysicalDrivesTable(const DriveInventory& inv);
PropertyTable LogicalDrivesTable(const DriveInventory& inv);
// A two-column "Name" / "Value" table of rows.
PropertyTable NameValueTable(const std::vector<PropertyRow>& rows);

}  // namespace torvane
