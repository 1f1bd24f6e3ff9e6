// The depth of a partition search and the texts the search reports with.
#pragma once

#include <string>

namespace torvane {

// How deep "Search More Partitions" reads a disk (the depth dialog's choice).
enum class SmpMode {
    None = 0,       // no depth chosen: nothing is searched
    Cylinder = 5,   // one boot-sector probe per cylinder
    Advanced = 10,  // every sector, in 256 KB blocks, with the evidence of lost file systems
    Standard = 15,  // every sector below 10240, then every 512th sector
};

// The depth a stored value names; any other value is None.
SmpMode SmpModeFromValue(int value);

// The letter the status text shows for a depth: "S" (Standard and cylinder
// probe), "A" (Advanced), "" for None.
std::string SmpModeStatusLetter(SmpMode mode);

// The result message of a partition search. With the kind "Disk" (exact,
// case-sensitive) the disk number closes the text, with any other kind `text`:
//   found:     "Found %d more partitions in selected %s ( %s - %d )"
//   not found: "No more partitions found in selected %s ( %s - %d )"
// ("( %s - %s )" with `text` for the other kinds).
std::string FormatPartitionSearchResult(int disk, int count, bool found, const std::string& kind,
                                        const std::string& text);

}  // namespace torvane
