#include "fsrecovery/store/scan_sink.h"

namespace torvane {

std::string UnreadableFolderSectorsText(const std::vector<UnreadableFolderSectors>& folders)
{
    std::uint64_t total = 0, maybe = 0;
    for (const UnreadableFolderSectors& f : folders) {
        total += f.sectors;
        if (f.folder.empty())
            maybe += f.sectors;
    }
    if (total == 0)
        return {};
    auto sectors = [](std::uint64_t n) { return std::to_string(n) + (n == 1 ? " sector" : " sectors"); };
    std::string text;
    if (total > maybe) {
        text = sectors(total - maybe) + " of folders could not be read; the files and folders they held are "
                                        "missing from the results:";
        std::size_t listed = 0;
        for (const UnreadableFolderSectors& f : folders) {
            if (f.folder.empty() || f.sectors == 0)
                continue;
            if (++listed > 20) {
                text += "\n  ...";
                break;
            }
            text += "\n  " + f.folder + " (" + sectors(f.sectors) + ")";
        }
    }
    if (maybe > 0) {
        if (!text.empty())
            text += "\n\n";
        text += sectors(maybe) + " where folders may have begun could not be read.";
    }
    return text;
}

}  // namespace torvane
