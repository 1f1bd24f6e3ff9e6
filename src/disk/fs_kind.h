// The kinds of file system the program reads, and the texts it shows for them.
//
// The program names file systems by text in its tables, tree items and scan
// logs ("FAT16", "FAT32", "exFAT", "NTFS"). FsKind is the typed form; the two
// functions below convert between them exactly (case-sensitive).
#pragma once

#include <string_view>

namespace torvane {

enum class FsKind { Unknown, Fat16, Fat32, Exfat, Ntfs };

// "FAT16", "FAT32", "exFAT", "NTFS"; the empty text for Unknown.
std::string_view FsKindText(FsKind kind);

// The kind a text names: exactly one of the four texts above, else Unknown.
FsKind FsKindFromText(std::string_view text);

// FAT16 or FAT32.
constexpr bool IsFatKind(FsKind kind) { return kind == FsKind::Fat16 || kind == FsKind::Fat32; }

}  // namespace torvane
