#include "results/save_progress.h"

#include "base/text_routines.h"

namespace torvane {

std::string FormatSizeProgress(std::uint64_t total, std::uint64_t done)
{
    return FormatByteSize(done) + " / " + FormatByteSize(total);
}

std::string FormatCountProgress(std::uint64_t done, std::uint64_t total, bool* hideTotals)
{
    if (hideTotals)
        *hideTotals = done > total;
    if (done > total)
        total = done;
    return std::to_string(done) + " / " + std::to_string(total);
}

std::string SavePathLabelText(std::string_view path)
{
    std::string text(path);
    if (Utf8CharCount(path) <= 70)
        return text;
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '/')
            out += " /";
        else
            out += c;
    }
    return out;
}

std::string FormatFileNameLabel(std::string_view name, std::uint64_t size)
{
    return std::string(name) + " (" + FormatByteSize(size) + ")";
}

std::string FormatSelectionTotals(std::uint64_t files, std::uint64_t folders)
{
    return "( Total selected recovered data to be saved : " + std::to_string(files) + " Files, " +
           std::to_string(folders) + " Folders )";
}

}  // namespace torvane
