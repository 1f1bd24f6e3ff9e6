// File systems found inside logical drives by the Deep Search's sweep of a
// logical drive: the rows of the dialog's recognised-volume list (hidden; one
// row per file system, of every drive swept so far), the "Recognised" items
// under the drive in the drive tree, what the "Found File System" list shows
// when such an item is selected, and what a Deep scan of the item starts with.
//
// A row's sector numbers count from the logical drive's own first sector; its
// end is one past its last sector. The table belongs to a dialog's drive
// inventory and is emptied with its drive list. All members are thread-safe.
#pragma once

#include "base/tree_model.h"
#include "disk/drive_details.h"
#include "disk/volume_geometry.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

class DriveInventory;

// The 16 column titles of the recognised-volume list ("SNo" ... "partType");
// the "Found File System" list shows columns 1 to 15.
inline constexpr std::size_t kRecognisedColumnCount = 16;
extern const std::array<const char*, kRecognisedColumnCount> kRecognisedColumnTitles;
// Columns of the "Found File System" list the user sees: "Found File System" to "Size".
inline constexpr std::size_t kFoundFsVisibleColumns = 5;

// "Log|" + the drive's device path + "|": the key of a logical drive's rows.
std::string RecognisedVolumeKey(const std::string& volumePath);

// One file system found inside a logical drive.
struct RecognisedVolume {
    std::string Key;                 // "Log|\\.\E:|"
    std::string Name;                // "Recognised1"
    std::string FsName;              // "NTFS", "FAT16", "FAT32" or "exFAT"
    std::uint64_t Start = 0;         // first sector, on the drive
    std::uint64_t End = 0;           // one past the last sector
    std::uint64_t SizeSectors = 0;   // the size the row was recorded with
    // Columns 6 to 13: "SPF", "SPC", "RootSec", "RootStartSec", "ReserveSecStart",
    // "Cluster0Start", "firstFAT", "secondFAT" (empty cells stay empty).
    std::array<std::string, 8> Geometry;
    std::string TypeText;            // the last part of the tree text (the type, or a rebuild's type text)

    // FormatByteSize of the size in bytes ("16.00 MB").
    std::string SizeText() const;
    // "Recognised1 - 16.00 MB - FAT16"
    std::string TreeText() const;
    // The 16 cells of the recognised-volume list.
    std::vector<std::string> Cells() const;
    // The 15 cells of the "Found File System" list (columns 1 to 15).
    std::vector<std::string> FoundFsCells() const;
    // The geometry a scan of the row starts with (the columns as numbers; an
    // empty cell gives 0). NTFS rows fill the NTFS fields, the others the FAT ones.
    VolumeGeometry ScanGeometry() const;
};

class RecognisedVolumeTable {
public:
    void Clear();
    std::size_t Size() const;
    std::vector<RecognisedVolume> Rows() const;
    // The rows of one drive, in list order (the key compared ignoring case,
    // as the list's own text search does).
    std::vector<RecognisedVolume> RowsOf(const std::string& key) const;
    // The first row of `key` named `name` ("Recognised2").
    std::optional<RecognisedVolume> Find(const std::string& key, const std::string& name) const;
    // Appends a row; false (and nothing added) when the drive already has a
    // row of the same type, start and end, or one of the same name.
    bool Append(const RecognisedVolume& row);

private:
    mutable std::mutex mutex_;
    std::vector<RecognisedVolume> rows_;
};

// Adds `row` to the inventory's table and its item under `driveItem` (the
// logical drive's item): last among its siblings, image 2, dark green, the
// drive expanded. Returns the new item, or kNoTreeNode when the table already
// holds the row or the drive item is gone. Any thread (under the inventory's lock).
TreeNodeId AddRecognisedVolume(DriveInventory& inv, TreeNodeId driveItem, const RecognisedVolume& row);

// The "Recognised" item under `driveItem` named `name`, or kNoTreeNode.
TreeNodeId FindRecognisedItem(const DriveInventory& inv, TreeNodeId driveItem, const std::string& name);

// What a selected "Recognised" item stands for.
struct RecognisedSource {
    TreeNodeId Node = kNoTreeNode;
    TreeNodeId DriveItem = kNoTreeNode;   // the logical drive's item (the parent)
    std::string DriveText;                // "E:"
    std::string VolumePath;               // "\\.\E:" (from the drive's record)
    std::string Key;                      // "Log|\\.\E:|"
    std::string Name;                     // "Recognised2": the item text before its first "-"
    std::string FsName;                   // the item text after its last "-"
    std::uint64_t DriveSectors = 0;       // the drive's sector count (DriveEndSector)
    std::vector<RecognisedVolume> DriveRows;  // the drive's rows (the "Found File System" list)
    std::optional<RecognisedVolume> Row;      // the row of this item, when the table holds it
    DriveDetails DriveRecord;             // a copy of the drive's record
};

// Describes a "Recognised" node; nullopt for any other node.
std::optional<RecognisedSource> DescribeRecognisedNode(const DriveInventory& inv, TreeNodeId node);

// The sector range the dialog shows for a "Recognised" selection: the row's
// start and end, bounded by the drive (min 0, max the drive's sector count;
// without a count, the row's end).
struct RecognisedRange {
    std::uint64_t Start = 0, End = 0, Min = 0, Max = 0;
};
RecognisedRange RecognisedSelectionRange(const RecognisedSource& source);

// Scan Now of the Deep Search on a "Recognised" selection: the partition a
// Deep scan of [rangeStart, rangeEnd) of the logical drive starts with, the
// type forced to `fsType` ("FAT16", "FAT32", "NTFS", "exFAT"). The item's
// start is the row's start, the volume geometry that of the row's columns,
// the device the logical drive's own, and the description
// "( Drive - E: ) Recognised2 / FAT32 / 34.00 MB".
CurrentPartition PrepareRecognisedDeepScan(const RecognisedSource& source, std::uint64_t rangeStart,
                                           std::uint64_t rangeEnd, const std::string& fsType,
                                           std::string* description = nullptr);

}  // namespace torvane
