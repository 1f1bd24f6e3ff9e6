// Reading a results file list's rows back: whether a row is a folder or a
// file, and the file of a file row as the savers and the opener take it
// (from the hidden data columns the listings write).
#pragma once

#include "base/list_model.h"
#include "results/file_system_volume.h"

namespace torvane {

// A folder row (type "FOLDER", written by the list population for the
// sub-folders of the listed folder). Every other row with a type is a file,
// whatever its type text says ("PDF File", "XML Document", ...).
bool IsFolderListRow(const ListRowModel& list, int row);
// A row that names a file.
bool IsFileListRow(const ListRowModel& list, int row);

// The file of a file row. FAT rows: the first cluster is the stored one
// plus the high part the folder walk guessed (the addend column holds that
// part less one); NTFS and exFAT rows: the entry's own id. `deepLayout`: the
// Deep Search's columns. The volume key is 0 (a Basic result's one volume).
SaveRow SaveRowOfListRow(const ListRowModel& list, int row, bool deepLayout);

}  // namespace torvane
