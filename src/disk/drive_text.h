// Texts of the drive trees that other code reads back: the disk tag in a
// disk item (" (Disk3 - "), the file-system name in a partition item
// ("Partition - 2 ( NTFS )"), and the normalised file-system names.
// All parsing and formatting is locale-independent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvane {

// Leading and trailing blanks (space, tab, CR, LF) removed.
std::string TrimText(std::string_view text);

// " (Disk3 - "
std::string FormatDiskTag(int diskNumber);

// The number after the first "(" and the four letters that follow it ("Disk"),
// up to the next "-", trimmed; 0 when there is no number there.
int ParseDiskNumber(std::string_view text);

// The trimmed text between the first "(" and the next ")"; "" without ")".
std::string GetTextInParentheses(std::string_view text);

// On the trimmed text, case-sensitively: contains "FAT16" or equals "FAT" ->
// "FAT16"; contains "FAT32" -> "FAT32"; "NTFS" -> "NTFS"; "exFAT" -> "exFAT";
// otherwise "Unknown".
std::string NormalizeFsName(std::string_view text);

}  // namespace torvane
