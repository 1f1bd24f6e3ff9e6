#include "partsearch/partition_search_text.h"

#include <cstdio>

namespace torvane {

SmpMode SmpModeFromValue(int value)
{
    switch (value) {
    case 5: return SmpMode::Cylinder;
    case 10: return SmpMode::Advanced;
    case 15: return SmpMode::Standard;
    default: return SmpMode::None;
    }
}

std::string SmpModeStatusLetter(SmpMode mode)
{
    switch (mode) {
    case SmpMode::Cylinder:
    case SmpMode::Standard: return "S";
    case SmpMode::Advanced: return "A";
    case SmpMode::None: break;
    }
    return {};
}

std::string FormatPartitionSearchResult(int disk, int count, bool found, const std::string& kind,
                                        const std::string& text)
{
    const std::string closing = kind == "Disk" ? std::to_string(disk) : text;
    const std::string head = found ? "Found " + std::to_string(count) + " more partitions in selected "
                                   : std::string("No more partitions found in selected ");
    return head + kind + " ( " + kind + " - " + closing + " )";
}

}  // namespace torvane
