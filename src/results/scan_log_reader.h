// Reading a scan log back into a ScanLogDocument: the current layout (see
// scan_log_writer.h) and the older generations.
//
// Generations:
//  - current: the magic (second text) holds "KZUWIN7SR2015_2023";
//  - older: the magic holds "KZUWIN7SR" only. Folder records (the root
//    record included) end before the file count, which reads as 0; a Basic
//    log's file rows have six texts (the seventh reads as "");
//  - oldest, Basic reader only: the first text holds "KZUWIN7SR" or
//    "ZJWIN7SR". Whatever the second text holds, it is replaced by
//    "KZUWIN7SR2015" and the log is read as an older one; the first text
//    stays the source kind.
// In every generation the trailer may be missing.
//
// The two readers differ where the Basic and Deep dialogs' loaders differ:
// the Basic reader takes mode 1 and hands mode 2 over, applies the oldest
// rule and reads the source's tag for the kind "Logical"; the Deep reader
// takes mode 2, hands mode 1 over and reads the tag for "Logical" and
// "Recognised". For any other kind the tag is read and not looked at, and a
// disk identity and number follow. For a volume kind the tag decides: "LOG"
// a volume path and size, "PHY" a disk identity and number, any other tag
// nothing more.
//
// The tree is rebuilt by depth as the loaders rebuild it: a line's leading
// tabs less those of the first line give its level; a line deeper than the
// item before it plus one hangs under that item; a shallower one goes up to
// its level (a negative one to the top). Empty lines are skipped. The tree
// ends at the end-marker line, or at the end of the file once as many items
// as the folder count have been read after the first. A first line of
// exactly one tab has no root record after it (when the folder count is not
// 0). With a folder count of 0 the first line, the root record and the end
// marker are all there is; should the line after the root record be neither
// the end marker nor empty, the tree goes on as with a count above 0.
//
// A log is untrusted input: every length is checked against the bytes that
// remain, no count is used to size anything, and every failure ends the read
// with what was read before it.
#pragma once

#include "results/scan_log_document.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace torvane {

enum class ScanLogReaderKind : std::uint8_t { Basic, Deep };

enum class ScanLogReadStatus : std::uint8_t {
    // Every section was read (the trailer may be missing: see `trailer`).
    Loaded,
    // The file could not be opened or read (file readers only): `error`.
    OpenFailed,
    // The magic does not hold "KZUWIN7SR": not a scan log. Only the first two
    // texts were read.
    InvalidLog,
    // A log of the other search (a Basic reader met mode 2, a Deep reader
    // mode 1): the header is read, the other reader takes the log.
    HandOver,
    // A mode other than 1 and 2: the header is read.
    UnknownMode,
    // A read failed: the file ends early or holds a malformed element (a
    // truncated log, a damaged length). Everything before the failure is in
    // the document: the sections before `failedSection` are whole, and in
    // that section the values and the complete items, records and rows that
    // were read (a row or item cut by the failure is left out).
    Damaged,
};

// The sections, in file order.
enum class ScanLogSection : std::uint8_t {
    Header,
    Source,
    Partition,
    Geometry,
    DescriptorGeometry,  // with the file-system name
    FileSystemRows,
    FolderCount,
    FolderTree,
    FileTable,           // with the sorted flag
    ExtentRows,
    Trailer,
    End,
};

enum class ScanLogTrailerState : std::uint8_t {
    Complete,
    DescriptionOnly,  // the file ends inside the u64 after the description
    Missing,          // the file ends before (or inside) the description
};

struct ScanLogReadResult {
    ScanLogReadStatus status = ScanLogReadStatus::Damaged;
    ScanLogDocument document;
    // Damaged: the section that failed and the offset of the element that failed.
    ScanLogSection failedSection = ScanLogSection::End;
    std::uint64_t failedOffset = 0;
    // Loaded: how much of the trailer there was. A missing part reads as ""
    // and 0 in the document.
    ScanLogTrailerState trailer = ScanLogTrailerState::Complete;
    // The tree ended at the end of the file, without its end marker, after
    // as many items as the folder count.
    bool treeEndedWithoutMarker = false;
    // OpenFailed: the errno value.
    int error = 0;
    // A short English description of a failure, for diagnostics.
    std::string detail;

    bool loaded() const { return status == ScanLogReadStatus::Loaded; }
};

ScanLogReadResult ReadScanLog(std::span<const std::uint8_t> bytes, ScanLogReaderKind reader);
ScanLogReadResult ReadScanLogFile(const std::filesystem::path& path, ScanLogReaderKind reader);

// The header only, the way a log is opened from the command line or the main
// window: first text, magic, drive description, u32 mode; the magic must hold
// "KZUWIN7SR" (no oldest rule). Loaded with document.header set for mode 1 or
// 2; InvalidLog, UnknownMode, Damaged (shorter than the header) or OpenFailed
// otherwise.
ScanLogReadResult PeekScanLogHeader(std::span<const std::uint8_t> bytes);
ScanLogReadResult PeekScanLogHeaderFile(const std::filesystem::path& path);

}  // namespace torvane
