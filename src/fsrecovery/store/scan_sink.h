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

namespace torvane {

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
    // A message box for the user ("Unable to calculate partition parameters...").
    virtual void Message(const std::string& /*text*/) {}
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
