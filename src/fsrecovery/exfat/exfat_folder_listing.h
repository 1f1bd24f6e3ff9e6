// The file rows of one folder of an exFAT volume, from the found-entry store
// that the scan filled (sorted by folder id). The scan names and sizes every
// entry, so listing never touches the device.
//
// Date and time: the entry's first text is the date text directly followed by
// the 8-character time text; the row shows the part before the last 8
// characters (trimmed) as the date and the last 8 as the time.
#pragma once

#include "fsrecovery/store/found_items.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

struct ExfatFileRow {
    std::string name;          // column 0
    std::string sizeText;      // column 2, "%llu"
    std::string dateText;      // column 3
    std::string timeText;      // column 4
    std::string ownIdText;     // column 5, "%llu": the sector of the file's first cluster
    std::string indexMark;     // column 11 of the Deep list: the date word in decimal
    std::uint64_t size = 0;
    std::uint64_t ownId = 0;
};

// The files whose folder id is `folderId` (the root's cluster for the volume root), in store
// order; entries without a name are left out. Stops early, keeping the rows
// so far, when `abort` becomes true. Sets *filesFound when the store holds
// any entry at all.
std::vector<ExfatFileRow> ListExfatFolderFiles(ScanResults& results, std::uint64_t folderId,
                                               const std::atomic<bool>* abort = nullptr, bool* filesFound = nullptr);

// Splits an entry's first text into the date and time texts.
void SplitExfatDateTimeText(const std::string& text, std::string& date, std::string& time);

}  // namespace torvane
