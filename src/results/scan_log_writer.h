// Writing a scan log: a ScanLogDocument to the bytes of the current layout.
//
// Layout, in file order (T = Text, L = Line; the elements of scan_log_archive.h):
//   1. Header: T source kind, T magic "KZUWIN7SR2015_2023", T drive
//      description, u32 mode (1 Basic, 2 Deep).
//   2. Source: T "PHY", T disk identity, u16 disk number; or T "LOG", T volume
//      path, u64 volume sectors.
//   3. Partition: u16 disk number, u32 partition index, T file-system type,
//      T search mode, u64 range start, u64 range end, u64 item start, u64 item
//      end, u64 byte limit.
//   4. Geometry: u32 sectors per FAT, u32 sectors per cluster, u32 root
//      sectors, u32 root start, u32 reserved sectors, u64 cluster-0 sector,
//      u32 first FAT, u32 second FAT, u64 $MFT, u64 $MFTMirr, u32 file-record
//      sectors, u32 index-record sectors.
//   5. The descriptor's copy of the twelve, then T file-system name.
//   6. Deep log of type "FAT32"/"FAT16": u64 row count, rows of 12 T.
//   7. u64 folder count.
//   8. Tree in pre-order: L first item's text and the root record; for every
//      later item L one tab per ancestor and its text, then its folder record
//      (T name, u32 own id, u32 parent id, u64 date, u64 time, u32 deleted, in
//      a Deep log u64 file-system key, u64 file count); then the end-marker
//      line "KZUWIN7SR2015/:*?"<>|".
//   9. File-system name "NTFS"/"exFAT": u64 row count, rows of 7 T, u32
//      sorted flag; in a Deep log then u32 extent count and rows of 6 T.
//  10. Trailer: T source description, u64 selected volume start sector.
//
// What the writer does beyond copying the document, so that every log it
// writes reads back as it was meant:
//  - Line texts: CR, LF and tab become blanks (a reader would split the line
//    or take them for depth), and an empty later line becomes "?" (readers
//    skip empty lines, and would then read its record as the next line). A
//    top-level line that equals the end marker is written as "?" too.
//    Loading names items by their records, so nothing is lost.
//  - A source kind that holds "KZUWIN7SR" or "ZJWIN7SR" (the first text of
//    an oldest log, loaded and saved again) is written as "Hard Disk": the
//    Basic reader would otherwise take the new log for an oldest one and
//    misread it. Such logs always name a physical disk.
//  - A folder count of 0 with items after the first is written as the number
//    of those items: readers take a count of 0 for "the root and nothing else".
//  - An empty tree is written as the single item "Root" with the root record.
#pragma once

#include "results/scan_log_document.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace torvane {

struct ScanLogWriteResult {
    int error = 0;           // 0, an errno value, or EINVAL for a document that cannot be written
    std::string message;     // why it failed, for the user; empty on success
    bool ok() const { return error == 0; }
};

// Why `doc` cannot be written as a log that reads back as it is, or "" when it
// can: a mode other than 1 and 2; a source form that does not fit the source
// kind (readers choose the form from the kind); a first item below the top
// level or an item more than one level below its predecessor; more extent
// rows than a u32 counts.
std::string ScanLogDocumentProblem(const ScanLogDocument& doc);

// The whole log in memory.
ScanLogWriteResult WriteScanLog(const ScanLogDocument& doc, std::vector<std::uint8_t>& out);

// Writes the log to a new file in the folder of `path`, flushes it to the
// disk and only then renames it over `path`. A failure at any step removes
// the new file and leaves whatever was at `path` untouched; success is
// reported only after the rename.
ScanLogWriteResult WriteScanLogFile(const ScanLogDocument& doc, const std::filesystem::path& path);

}  // namespace torvane
