// "Scan Now" of the Deep Search: from the drive-tree selection, the sector
// range the user set (the range group's edits) and the file-system choice,
// work out what to sweep: the device, the range, the type and the
// description of the selection.
//
// The type is the one listed for the selection (a disk's is that of its
// first partition record); the file-system combo overrides it, and its last
// entry ("Unknown") asks the user to choose one. A logical drive read
// through its disk has the range moved onto the disk: the same distances
// from the volume's first and last sector as the edits keep from the range
// group's Min and Max.
//
// The checks run in a fixed order and the first that fails decides what the
// user sees; nothing here touches a window or writes the inventory.
#pragma once

#include "disk/recognised_volumes.h"
#include "fsrecovery/basic_scan_start.h"

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

inline constexpr char kSelectFileSystemText[] = "Select file system type for recovery of selected drive.";
inline constexpr char kEnterPositiveIntegerText[] = "Enter a positive integer.";

// The entries of the file-system combo, in order; the last asks for a choice.
inline constexpr const char* kDeepFileSystemChoices[] = {"FAT16", "FAT32", "NTFS", "exFAT", "Unknown"};
inline constexpr int kDeepFileSystemChoiceCount = 5;

struct DeepScanStartInput {
    TreeNodeId selectedItem = kNoTreeNode;     // the drive tree's selected item
    ScanSource source;                         // what the last selection described
    std::uint32_t deepScanCount = 0;           // DeepScanCount: not 0 -> refused
    std::string startText, endText;            // the "Start Sector" and "End Sector" edits
    std::uint64_t rangeMin = 0, rangeMax = 0;  // the range group's Min and Max
    int fileSystemChoice = -1;                 // the combo's entry (-1: none chosen)
    std::function<int()> askLogicalScan;       // as for the Basic Search
    std::function<bool(const std::string& devicePath)> canOpen;
    // A "Recognised" selection: the file system found inside a logical drive
    // (what the selection described). The range and the combo's type are
    // those of the edits and the combo; the geometry is the row's, and the
    // drive is read through its own device.
    std::optional<RecognisedSource> recognised;
};

// The same result as the Basic Search's; rangeStart .. rangeEnd is what is
// swept (the end not itself read).
using DeepScanStart = BasicScanStart;

DeepScanStart ResolveDeepScanStart(const DriveInventory& inv, const DeepScanStartInput& input);

// A sector number as typed: decimal digits, white space around allowed.
std::optional<std::uint64_t> ParseSectorNumber(std::string_view text);

}  // namespace torvane
