// GUI-free parts of the progress, status and per-mode control routines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// Maps 64-bit positions (sectors, clusters, ticks) onto a progress bar whose
// range is an int. Each bar keeps its own mapper, so two bars driven at once
// never disturb each other.
//
// A span of 0x7FFFFFFF or more runs in percent mode: range 0..100, the bar
// only moves forward. Otherwise the range is 0..span with the given step; a
// step larger than the range fills the bar at once.
class ProgressMapper {
public:
    static constexpr std::uint64_t kPercentThreshold = 0x7FFFFFFF;

    // Prepares for positions between low and high; returns the bar's value
    // (0, or the maximum when the step exceeds the range).
    int SetRange(std::uint64_t low, std::uint64_t high, int step);

    // The bar's new value for `position`:
    // - percent mode: (position - low) * 100 / span, only when it grows;
    // - byValue: the position itself; with `forwardOnly` a smaller position
    //   leaves the bar where it is;
    // - by step: the bar advances by its step, or goes to its maximum when
    //   position + increment passes high. It never wraps round.
    int Update(std::uint64_t position, int increment, bool byValue, bool forwardOnly = false);

    bool PercentMode() const { return percent_; }
    int Maximum() const { return maximum_; }
    int Value() const { return value_; }
    int Step() const { return step_; }

private:
    std::uint64_t low_ = 0;
    std::uint64_t high_ = 0;
    std::uint64_t span_ = 0;
    bool percent_ = false;
    int maximum_ = 0;
    int step_ = 1;
    int value_ = 0;
    int lastPercent_ = 0;
};

// "%llu Files, %llu Folders", with "( " + name + " )    " in front when a
// results-tree item is selected; a name of 50 or more characters is cut to
// its first 50 characters and "...".
std::string FormatFoundCountStatus(std::uint64_t files, std::uint64_t folders,
                                   std::optional<std::string_view> selectedName = std::nullopt);

// Entry of the Deep Search file-system combo for a file-system name: 0 for a
// name containing "FAT16" or equal to "FAT"; else 1 for "FAT32"; else 2 for
// "NTFS"; else 3 for "exFAT"; else 4.
int FileSystemComboIndex(std::string_view fileSystemName);

}  // namespace torvane

namespace torvane {

// The main text of the end-of-search box: chosen by `finished` (0: the
// search could not run, or a carving range was searched to its end; 1: the
// search is over or was stopped), the search mode and whether the user
// stopped the scan.
std::string EndOfSearchText(int finished, int recoveryMode, bool stoppedByUser);

}  // namespace torvane
