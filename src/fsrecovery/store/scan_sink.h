// What a running scan shows: step texts, the status counter text, progress
// over a range, and messages for the user; plus the texts every scan shows
// in the same words, whichever file system it reads.
//
// A sink is written by the scan's worker and read by whoever shows it (the
// search session keeps the latest values for the dialog's timers); every
// member has a default that ignores the call, so a scan may run without one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

// Sectors of one folder that a scan could not read: the files and folders
// they held are missing from the results. `folder` is the folder's path as
// the scan knows it ("/" for the root, "/DCIM"); sectors that may have begun
// a folder the scan could not find are reported under an empty path.
struct UnreadableFolderSectors {
    std::string folder;
    std::uint64_t sectors = 0;
};

// The end-of-scan message of the unreadable folder sectors (count and
// folders), or an empty text when every folder sector could be read.
std::string UnreadableFolderSectorsText(const std::vector<UnreadableFolderSectors>& folders);

class ScanSink {
public:
    virtual ~ScanSink() = default;
    // The step line ("[ Step 1 of 5 ] ...").
    virtual void StepText(const std::string& /*text*/) {}
    // The status statics: "sectors  of  total %llu", the "Calculating
    // Partition Parameters" counter, ...
    virtual void StatusText(const std::string& /*text*/) {}
    virtual void ProgressRange(std::uint64_t /*lo*/, std::uint64_t /*hi*/) {}
    virtual void Progress(std::uint64_t /*pos*/) {}
    // A file or folder just found, for the dialog's live list of latest finds.
    virtual void LiveItem(const std::string& /*name*/) {}
    // A message box for the user ("Unable to calculate partition parameters...").
    virtual void Message(const std::string& /*text*/) {}
    // Sectors of a folder that could not be read (see UnreadableFolderSectors);
    // told once per folder, at the end of its walk.
    virtual void UnreadableFolder(const UnreadableFolderSectors& /*folder*/) {}
};

inline constexpr char kStep1Of5Text[] = "[ Step 1 of 5 ] Searching Lost Directories. Please wait...";
inline constexpr char kStep2Of5Text[] = "[ Step 2 of 5 ] Shorting Directory Information. Please wait...";
inline constexpr char kStep3Of5Text[] = "[ Step 3 of 5 ] Arranging Directory Information. Please wait...";
inline constexpr char kStep4Of5Text[] = "[ Step 4 of 5 ] Arranging Sub Directory Information. Please wait...";
inline constexpr char kStep5Of5Text[] = "[ Step 5 of 5 ] Manage Lost Directory Information. Please wait...";
inline constexpr char kSearchingLostDirectoriesText[] = "Searching Lost Directories. Please wait...";
inline constexpr char kUnableToCalculateText[] =
    "Unable to calculate partition parameters.\n\nPlease select the partition from the list of Logical Drive or "
    "click on 'Search more Partitions' in case of deleted or missing Drives.";

}  // namespace torvane
