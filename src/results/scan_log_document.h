// What a scan log holds, as a plain value: the scanned source and how to find
// it again, the partition and its geometry, the FAT file systems a Deep Search
// found, the results tree with one folder record per item, the NTFS and exFAT
// file table, the Deep Search's partition extents and the source description.
//
// The members follow the file's order and widths (scan_log_writer.h gives the
// byte layout). Texts are UTF-8; numbers that the log keeps as text (the rows
// of the file-system, file and extent tables) stay text here, exactly as the
// log has them. The document knows nothing of the search session: producing
// one from a scan and inserting one into a session is the caller's business.
//
// Which optional sections a log holds follows from the document itself:
//  - file-system rows: a Deep log (mode 2) whose partition type is "FAT32" or
//    "FAT16" (HasFileSystemRows);
//  - file table and sorted flag: a log whose file-system name is "NTFS" or
//    "exFAT" (HasFileTable); extent rows only in such a Deep log
//    (HasExtentRows).
// Rows of a section the log does not hold are not written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The magic of the logs this program writes.
inline constexpr char kScanLogMagic[] = "KZUWIN7SR2015_2023";
// What every generation's magic contains.
inline constexpr char kScanLogMagicStem[] = "KZUWIN7SR";
// The earliest logs carry one of these in their first text instead.
inline constexpr char kScanLogOldestStem[] = "ZJWIN7SR";
// The magic an oldest log is read with.
inline constexpr char kScanLogOldestMagic[] = "KZUWIN7SR2015";
// The line after the last tree item: characters no folder name can hold.
inline constexpr char16_t kScanLogEndMarker[] = u"KZUWIN7SR2015/:*?\"<>|";
// The name of the root record that follows the first tree line.
inline constexpr char kScanLogRootRecordName[] = "Root_Item";
// The file-name extension of scan logs.
inline constexpr char kScanLogExtension[] = "VQL";

// The search that wrote the log (the header's mode).
inline constexpr std::uint32_t kScanLogBasicMode = 1;
inline constexpr std::uint32_t kScanLogDeepMode = 2;

// Which layout a log was read with. The writer always writes Current.
enum class ScanLogGeneration : std::uint8_t {
    Current,  // the magic holds "KZUWIN7SR2015_2023"
    Older,    // the magic holds "KZUWIN7SR" only: no file counts in the folder
              // records, six texts per file row in a Basic log
    Oldest,   // Basic only: the first text holds "KZUWIN7SR" or "ZJWIN7SR";
              // read as Older, the first text stays the source kind
};

// 1. Header.
struct ScanLogHeader {
    // The kind of the drive-tree node that was scanned: "Hard Disk",
    // "Logical", "part", "Recognised", ...
    std::string sourceKind;
    // As read (an oldest log's is replaced by "KZUWIN7SR2015"). The writer
    // ignores it and writes kScanLogMagic, since it writes the current layout.
    std::string magic = kScanLogMagic;
    // The disk model text of the scanned disk.
    std::string driveDescription;
    std::uint32_t mode = kScanLogBasicMode;

    bool operator==(const ScanLogHeader&) const = default;
};

// 2. Source identity.
enum class ScanLogSourceForm : std::uint8_t {
    Physical,  // tag, disk identity text, u16 disk number
    Logical,   // tag, volume path, u64 volume size in sectors
    TagOnly,   // a volume kind whose tag is neither "PHY" nor "LOG": nothing follows the tag
};

struct ScanLogSource {
    ScanLogSourceForm form = ScanLogSourceForm::Physical;
    // "PHY" or "LOG" in every log this program writes; kept as read.
    std::string tag = "PHY";
    // Physical: model, capacity, sector count and disk number joined by "||".
    std::string diskIdentity;
    std::uint16_t diskNumber = 0;
    // Logical: the volume path ("\\.\C:" on the platform the log came from).
    std::string volumePath;
    std::uint64_t volumeSectors = 0;

    bool operator==(const ScanLogSource&) const = default;
};

// 3. Partition block.
struct ScanLogPartition {
    std::uint16_t diskNumber = 0;
    std::uint32_t partitionIndex = 0;
    std::string fsType;       // "FAT32", "FAT16", "NTFS", "exFAT", ...
    std::string searchMode;   // "Basic Search", "Deep Search"
    std::uint64_t rangeStart = 0;
    std::uint64_t rangeEnd = 0;
    std::uint64_t itemStart = 0;
    std::uint64_t itemEnd = 0;
    std::uint64_t byteLimit = 0;

    bool operator==(const ScanLogPartition&) const = default;
};

// 4. and 5. The twelve geometry values, in the log's order and widths.
struct ScanLogGeometry {
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t rootStart = 0;
    std::uint32_t reservedSectors = 0;
    std::uint64_t cluster0Start = 0;
    std::uint32_t firstFatStart = 0;
    std::uint32_t secondFatStart = 0;
    std::uint64_t mftStart = 0;
    std::uint64_t mftMirrStart = 0;
    std::uint32_t fileRecordSectors = 0;
    std::uint32_t indexRecordSectors = 0;

    bool operator==(const ScanLogGeometry&) const = default;
};

// 6. One FAT file system found by a Deep Search: Sector, SPF, SPC, Root
// Sectors, Root Start, Reserve Sectors, Cluster0Start, firstFAT, secondFAT,
// TotalSectors, PartType, End Sector.
using ScanLogFileSystemRow = std::array<std::string, 12>;

// 8. The record after a tree line.
struct ScanLogFolderRecord {
    std::string name;             // names the item when the log is loaded
    std::uint32_t ownId = 0;
    std::uint32_t parentId = 0;
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    std::uint32_t deleted = 0;
    std::uint64_t fsKey = 0;      // stored in Deep logs only
    std::uint64_t fileCount = 0;  // stored in the current generation only

    bool operator==(const ScanLogFolderRecord&) const = default;
};

// The record that follows the first line: "Root_Item" and every number 0.
ScanLogFolderRecord MakeScanLogRootRecord();

// One results-tree item, in pre-order.
struct ScanLogTreeItem {
    // Ancestors of the item in the tree the log describes: 0 for a top-level
    // item (the first item, "Root", is one), and never more than the
    // preceding item's depth + 1.
    std::size_t depth = 0;
    // The item's text, without the indentation. Loading names items by their
    // record, not by this text.
    std::string text;
    // The folder record. The writer writes a record with an empty name and
    // every number 0 for an item without one. The first item's record is the
    // root record; a first item without a record is written as a line of one
    // tab, which tells readers that no root record follows.
    std::optional<ScanLogFolderRecord> record;

    bool operator==(const ScanLogTreeItem&) const = default;
};

// 9. One found NTFS or exFAT file, as seven texts: (1) "parent|own|",
// (2) name, (3) size, (4) first text, (5) second text, (6) parent id,
// (7) third text. Older Basic logs hold six; the seventh is then empty.
using ScanLogFileRow = std::array<std::string, 7>;

// 9. One Deep Search partition extent: Drive, Part, St_Sec, End_Sec, Clus0, Drive_E_Sec.
using ScanLogExtentRow = std::array<std::string, 6>;

// 10. Trailer.
struct ScanLogTrailer {
    std::string sourceDescription;        // the drive label or "Disk ... ( Partition ... )"
    std::uint64_t selectedVolumeStart = 0;

    bool operator==(const ScanLogTrailer&) const = default;
};

struct ScanLogDocument {
    ScanLogGeneration generation = ScanLogGeneration::Current;
    ScanLogHeader header;
    ScanLogSource source;
    ScanLogPartition partition;
    ScanLogGeometry geometry;               // the volume geometry
    ScanLogGeometry descriptorGeometry;     // the partition descriptor's copy
    std::string fsName;                     // "FAT32", "NTFS", ...: chooses the file table
    std::vector<ScanLogFileSystemRow> fileSystemRows;
    std::uint64_t folderCount = 0;          // folder records that existed at writing
    std::vector<ScanLogTreeItem> tree;
    std::vector<ScanLogFileRow> files;
    std::uint32_t sortedFlag = 1;
    std::vector<ScanLogExtentRow> extents;
    ScanLogTrailer trailer;

    bool operator==(const ScanLogDocument&) const = default;
};

// ---- sections -------------------------------------------------------------
bool IsDeepScanLog(const ScanLogDocument& doc);
bool HasFileSystemRows(const ScanLogDocument& doc);
bool HasFileTable(const ScanLogDocument& doc);
bool HasExtentRows(const ScanLogDocument& doc);

// ---- source ---------------------------------------------------------------
// Whether `sourceKind` names a volume that a log of `mode` may identify by its
// path ("Logical"; in a Deep log also "Recognised").
bool IsScanLogVolumeKind(std::string_view sourceKind, std::uint32_t mode);
// The form a scan's source is logged in: Logical for a volume kind read
// through its own path, Physical otherwise (a volume read through its disk
// included).
ScanLogSourceForm ChooseScanLogSourceForm(std::string_view sourceKind, std::uint32_t mode,
                                          bool scannedThroughDisk);
ScanLogSource MakePhysicalScanLogSource(std::string diskIdentity, std::uint16_t diskNumber);
ScanLogSource MakeLogicalScanLogSource(std::string volumePath, std::uint64_t volumeSectors);

// ---- file rows ------------------------------------------------------------
// The row of one found file, numbers written "%llu".
ScanLogFileRow MakeScanLogFileRow(std::uint64_t parentId, std::uint64_t ownId, std::string_view name,
                                  std::uint64_t size, std::string_view text1, std::string_view text2,
                                  std::string_view text3);
// The numbers of a row as loading reads them: parent id from text (6), size
// from text (3), own id from text (1) after its first "|" with every "|"
// removed (all of text (1) when it has no "|"). Each is read as a decimal
// number: leading blanks, an optional sign, then digits up to the first other
// character; every "%llu" number reads back exactly, a minus sign negates
// modulo 2^64, text without digits reads 0 and more than 64 bits saturate.
std::uint64_t ScanLogFileRowParentId(const ScanLogFileRow& row);
std::uint64_t ScanLogFileRowSize(const ScanLogFileRow& row);
std::uint64_t ScanLogFileRowOwnId(const ScanLogFileRow& row);

// ---- tree -----------------------------------------------------------------
inline constexpr std::size_t kNoScanLogParent = static_cast<std::size_t>(-1);
// For each item of `tree`, the index of its parent item, or kNoScanLogParent
// for a top-level item: the nearest earlier item one level up.
std::vector<std::size_t> ScanLogTreeParents(const std::vector<ScanLogTreeItem>& tree);

}  // namespace torvane
