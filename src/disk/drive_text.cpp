#include "disk/drive_text.h"

#include <charconv>

namespace torvane {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string TrimText(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::string FormatDiskTag(int diskNumber) { return " (Disk" + std::to_string(diskNumber) + " - "; }

int ParseDiskNumber(std::string_view text) {
    std::size_t open = text.find('(');
    if (open == std::string_view::npos) return 0;
    std::string_view rest = text.substr(open + 1);
    if (rest.size() < 4) return 0;
    rest.remove_prefix(4);  // "Disk"
    std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return 0;
    std::string number = TrimText(rest.substr(0, dash));
    // A decimal conversion of the leading digits, with an optional sign.
    int value = 0;
    const char* first = number.data();
    const char* last = number.data() + number.size();
    if (first != last && *first == '+') ++first;
    auto res = std::from_chars(first, last, value);
    if (res.ec != std::errc()) return 0;
    return value;
}

std::string GetTextInParentheses(std::string_view text) {
    std::size_t open = text.find('(');
    if (open == std::string_view::npos) return {};
    std::size_t close = text.find(')', open + 1);
    if (close == std::string_view::npos) return {};
    return TrimText(text.substr(open + 1, close - open - 1));
}

std::string NormalizeFsName(std::string_view text) {
    std::string t = TrimText(text);
    if (t.find("FAT16") != std::string::npos || t == "FAT") return "FAT16";
    if (t.find("FAT32") != std::string::npos) return "FAT32";
    if (t.find("NTFS") != std::string::npos) return "NTFS";
    if (t.find("exFAT") != std::string::npos) return "exFAT";
    return "Unknown";
}

}  // namespace torvane
