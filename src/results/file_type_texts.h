// Texts of the file list's "Type", "Date" and "Time" columns.
//
// The type text comes from a fixed vocabulary of common extensions; any other
// extension shows as its upper-cased self followed by " File" (".abc" ->
// "ABC File"). NTFS time stamps (100 ns units since 1601-01-01 UTC) show in the
// same day-month-year / hour:minute:second shapes as the FAT date and time
// words. All formatting is done in the C locale.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace torvane {

// The extension of a file name: the last "." and what follows it, or empty
// when the name has no dot, the dot is its first character, or a blank
// follows the dot (the shell's rule).
std::string FileNameExtension(std::string_view name);

// The "Type" text for `extension` (with its leading dot, as FileNameExtension
// gives it). `name` is the file's name (kept for callers that only have the
// name; the extension decides). An empty extension gives "File".
std::string GetFileTypeText(std::string_view extension, std::string_view name);
// Same, taking the extension from the name.
std::string GetFileTypeTextOfName(std::string_view name);

// An NTFS FILETIME as the list's date and time texts: "05-JAN-2015" and
// "08:03:09", in UTC. A time stamp of 0 gives the local date and time of
// `now`, the date upper-cased. Returns the date text.
std::string FormatFileTime(std::uint64_t fileTime, std::string* date, std::string* time);
std::string FormatFileTime(std::uint64_t fileTime, std::string* date, std::string* time, std::time_t now);

}  // namespace torvane
