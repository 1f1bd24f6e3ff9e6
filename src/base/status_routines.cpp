#include "base/status_routines.h"

#include "base/text_routines.h"

#include <algorithm>

namespace torvane {

int ProgressMapper::SetRange(std::uint64_t low, std::uint64_t high, int step)
{
    low_ = low;
    high_ = high;
    span_ = high > low ? high - low : 0;
    lastPercent_ = 0;
    value_ = 0;
    if (span_ >= kPercentThreshold) {
        percent_ = true;
        maximum_ = 100;
        step_ = 1;
        return value_;
    }
    percent_ = false;
    maximum_ = static_cast<int>(span_);
    step_ = step;
    if (step > 0 && (static_cast<std::uint64_t>(step) > high || static_cast<std::uint64_t>(step) > span_))
        value_ = maximum_;
    return value_;
}

int ProgressMapper::Update(std::uint64_t position, int increment, bool byValue, bool forwardOnly)
{
    if (percent_) {
        // A position below low reads as 0, one past high as 100.
        const std::uint64_t done = position > low_ ? position - low_ : 0;
        std::uint64_t p = 0;
        if (span_ != 0) {
            const unsigned __int128 scaled = static_cast<unsigned __int128>(done) * 100u / span_;
            p = scaled > 100 ? 100 : static_cast<std::uint64_t>(scaled);
        }
        if (static_cast<int>(p) > lastPercent_) {
            value_ = static_cast<int>(p);
            lastPercent_ = value_;
        }
        return value_;
    }
    if (byValue) {
        const int target = static_cast<int>(std::min<std::uint64_t>(position, static_cast<std::uint64_t>(maximum_)));
        if (!forwardOnly || target >= value_) value_ = target;
        return value_;
    }
    const std::uint64_t next = position + static_cast<std::uint64_t>(std::max(increment, 0));
    if (next > high_ || next < position) {
        value_ = maximum_;
    } else {
        value_ = static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(value_) + step_, maximum_));
    }
    return value_;
}

std::string FormatFoundCountStatus(std::uint64_t files, std::uint64_t folders, std::optional<std::string_view> selectedName)
{
    std::string text = std::to_string(files) + " Files, " + std::to_string(folders) + " Folders";
    if (!selectedName) return text;
    std::string name(*selectedName);
    if (Utf8CharCount(name) >= 50) {
        // Cut after 50 characters (code points, not bytes).
        std::size_t bytes = 0;
        for (int chars = 0; bytes < name.size() && chars < 50; ++chars) {
            ++bytes;
            while (bytes < name.size() && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) ++bytes;
        }
        name = name.substr(0, bytes) + "...";
    }
    return "( " + name + " )    " + text;
}

int FileSystemComboIndex(std::string_view name)
{
    if (name.find("FAT16") != std::string_view::npos || name == "FAT") return 0;
    if (name.find("FAT32") != std::string_view::npos) return 1;
    if (name.find("NTFS") != std::string_view::npos) return 2;
    if (name.find("exFAT") != std::string_view::npos) return 3;
    return 4;
}

}  // namespace torvane

namespace torvane {

std::string EndOfSearchText(int finished, int recoveryMode, bool stoppedByUser)
{
    if (finished == 0) {
        if (recoveryMode == 1)
            return "Recovery is not possible in Basic Search Mode, use other search modes to recover your data.";
        if (recoveryMode == 2)
            return "Recovery is not possible in Deep Search Mode, use other search modes to recover your data.";
        return "Searching of files in specified disk sectors is completed.";
    }
    if (recoveryMode == 1 || recoveryMode == 2) {
        const std::string mode = recoveryMode == 1 ? "Basic" : "Deep";
        return std::string("Recovery is ") + (stoppedByUser ? "stopped" : "completed") + " in " + mode +
               " Search Mode, If your data is not recovered, use other search modes to recover your data.";
    }
    return "Searching of files in specified disk sectors is stopped.";
}

}  // namespace torvane
