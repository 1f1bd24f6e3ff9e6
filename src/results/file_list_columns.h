// The columns of a search dialog's results file list, as every file system's
// listing fills them: the shown columns first, then hidden data columns that
// opening and saving read back.
#pragma once

#include <cstdint>

namespace torvane {

// Columns of the Basic Search file list.
inline constexpr int kListName = 0;
inline constexpr int kListType = 1;
inline constexpr int kListSize = 2;
inline constexpr int kListDate = 3;
inline constexpr int kListTime = 4;
inline constexpr int kListSelfId = 5;        // "SelfCluster-Debug Info 1"
inline constexpr int kListParentId = 6;      // "ParentCluster-Debug Info 2"
inline constexpr int kListTreeItem = 7;      // "TreeItem-Debug Info 3"
inline constexpr int kListShortName = 8;     // "SFN"
inline constexpr int kBasicListAddend = 9;   // "INDX": the high-cluster addend of a FAT file row
inline constexpr int kBasicListFileSys = 10; // "FILE_SYS"
inline constexpr int kBasicListColumnCount = 11;

// Deep Search list: columns 0..8 as Basic, then these.
inline constexpr int kDeepListVolumeRow = 9;   // "FILE_SYS": the FAT volume row of a FAT file row
inline constexpr int kDeepListAttribute = 10;  // "attr"
inline constexpr int kDeepListAddend = 11;     // "INDX"
inline constexpr int kDeepListColumnCount = 12;

// RowData bit of a row whose directory entry is marked deleted.
inline constexpr std::uint64_t kRowDeletedBit = 1;
// Background of deleted rows (COLORREF 0x00BBGGRR: a light red).
inline constexpr std::uint32_t kDeletedRowColor = 0x00E0E0FF;

}  // namespace torvane
