// A search session's results as a scan log, and a scan log as a session's
// results: the document a log is written from (the partition, the results
// tree with its folder records, the found-file table, where the scan read),
// and what loading a log puts back (the tree, the found entries, the
// partition and the volumes files are listed and saved from).
//
// The log keeps numbers as texts where the file format does: each found NTFS
// or exFAT file is seven texts made from the numbers of its FoundEntry
//   NTFS:  (4) the creation FILETIME "%llu", (5) "1" for an entry taken from
//          a folder's index record else "", (7) "";
//   exFAT: (4) the date and time texts as the list shows them, (5) the FAT
//          date word "%llu", (7) the FAT time word "%llu";
// and loading reads the numbers back. An exFAT date or time word of 0 shows
// the day and time of the scan; a loaded result takes them from such a row's
// text (4), so that it shows what the scan showed.
//
// Loading keeps every id as the log has it and places folders by their
// indentation only, never by their ids: a FAT folder at cluster 5 is an
// ordinary folder, and logs that filed the FAT root's children under 5 load
// the same. exFAT rows filed under 0 or the volume's root cluster are the
// root's files, and so are rows filed under 5 unless the log holds a folder
// at cluster 5 (the first folder of a card whose root is at cluster 4).
//
// Deep Search logs add the file systems the sweep found and the partition
// extents, and every folder record carries the key of its file system. A
// Deep session supplies them through ScanLogDeepTables; without one such a
// log's tables are dropped and its volumes are built as for a Basic log.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"
#include "results/scan_log_document.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// Where the results came from, as the log records it.
struct ScanLogSourceFacts {
    std::string sourceKind;             // "Hard Disk", "Logical", "part", "Recognised"
    bool throughDisk = false;           // a volume kind that was read through its disk
    std::string diskIdentity;           // model||capacity||sectors||N of the disk read
    std::uint16_t diskNumber = 0;
    std::string driveDescription;       // the disk's model text
    std::string volumePath;             // "\\.\E:" of a volume read through its own path
    std::uint64_t volumeSectors = 0;
    std::string description;            // the source description shown with the results
    std::uint64_t selectedVolumeStart = 0;
};

// The facts of the partition a session scanned. `diskIdentities` are the
// identity texts of the attached disks (the drive list's); the disk's own is
// the one whose number (after its last "|") is the disk read. An empty source
// kind is taken as a partition ("part").
ScanLogSourceFacts ScanLogSourceFactsOf(const CurrentPartition& partition,
                                        const std::vector<std::string>& diskIdentities, std::string description);

// What a Deep Search adds to its logs and takes back from them.
class ScanLogDeepTables {
public:
    virtual ~ScanLogDeepTables() = default;
    // The FAT file systems the sweep found (Sector ... End Sector) and the
    // partition extents, as the log keeps them.
    virtual std::vector<ScanLogFileSystemRow> FileSystemRows() const = 0;
    virtual std::vector<ScanLogExtentRow> ExtentRows() const = 0;
    // A loaded log's tables.
    virtual void RestoreTables(const std::vector<ScanLogFileSystemRow>& fileSystems,
                               const std::vector<ScanLogExtentRow>& extents) = 0;
    // The volumes of a loaded result, one per file system its folders' keys
    // name (the tables are restored first).
    virtual std::vector<std::shared_ptr<FileSystemVolume>> RebuildVolumes(const CurrentPartition& partition,
                                                                           ScanResults& results) = 0;
};

// The log of a session's results. `mode` 1 Basic, 2 Deep; `deep` (may be
// null) gives a Deep log's tables. Takes the results lock while it reads.
ScanLogDocument MakeScanLogDocument(ScanResults& results, const CurrentPartition& partition, int mode,
                                    const ScanLogSourceFacts& facts, const ScanLogDeepTables* deep = nullptr);

// The seven texts of one found file (scanTime: the day and time a zero exFAT
// date or time word shows).
ScanLogFileRow ScanLogRowOfEntry(const FoundEntry& entry, const std::string& fsName, std::time_t scanTime);
// A found file from its row. `exfatRoot`: the volume's root cluster (0 when
// unknown); rows filed under it or 0 become the root's files (filed under
// ExfatRootFolderId(exfatRoot)), and so do rows filed under 5 unless the log
// holds a folder at cluster 5 (`folderAtCluster5`) of a root elsewhere.
FoundEntry EntryOfScanLogRow(const ScanLogFileRow& row, const std::string& fsName, std::uint32_t exfatRoot,
                             bool folderAtCluster5 = false);
// The time of the scan an exFAT file table was written at, from the first
// row whose date word is 0 (and the first whose time word is 0); 0 when no
// row tells.
std::time_t ScanTimeOfExfatRows(const std::vector<ScanLogFileRow>& rows);

// The partition as the log describes it: the partition block, the geometry
// and the descriptor's copy with the file-system name. The device is not set.
CurrentPartition ScanLogPartitionOf(const ScanLogDocument& doc);

// What InsertScanLogResults put into the results.
struct ScanLogInsertCount {
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
};

// Puts the tree and the file table of `doc` into `results` (emptied first),
// as a scan leaves them: every item below "Root" through
// InsertRecoveredFolder under the item its indentation names. `stop` (may be
// empty) is tested per item and row; `progress` (may be empty) hears the
// items and rows done so far.
ScanLogInsertCount InsertScanLogResults(const ScanLogDocument& doc, ScanResults& results, int mode,
                                        const std::function<bool()>& stop = {},
                                        const std::function<void(std::uint64_t)>& progress = {});

// The volume a Basic result is listed and saved from, for the partition of a
// loaded log (its device open): the file system's own volume, the NTFS $MFT
// located again from the geometry. Null for a file system the program does
// not read or without a device.
std::shared_ptr<FileSystemVolume> MakeLoadedVolume(const CurrentPartition& partition);

}  // namespace torvane
