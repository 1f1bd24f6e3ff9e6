// The working tables of a Deep Search, typed.
//
// A Deep scan reads every sector of a range and writes what it meets into
// these tables; the steps after the sweep read them to decide which FAT
// volumes exist, which volume each directory belongs to, and where each
// directory goes in the results tree:
//  - BootSecTable: every FAT16/FAT32 boot sector met, with the geometry it names;
//  - DirTable: every directory first cluster (a sector that begins with the
//    "." and ".." entries), later with its file system and that file
//    system's cluster-0 sector;
//  - NewListTable: the first sector of every other run of sectors that look
//    like directory entries (continuation clusters of directories whose
//    first cluster is gone);
//  - FileSystemTable: one row per FAT volume found, keyed by its cluster-0
//    sector (the key every folder of that volume carries: RecoveredFolder::fsKey);
//  - PartitionExtentTable: the extents of the partitions of the disk scanned.
//
// Numbers stay numbers. Where the steps sort a column "as text read as a
// number", they use SortKey32 (a 32-bit signed saturating parse of the
// decimal text: every value above 2147483647 sorts as 2147483647, so
// 4294967295, "no file system", sorts last), and every sort is stable.
//
// Threads: the tables are written by the Deep scan job's own thread only
// (its incremental passes run there too, between chunks); other threads read
// the found file systems through FileSystemsSnapshot(), which the sweep
// refreshes with Publish(). After the job has ended, the session's thread
// may read them directly.
#pragma once

#include "disk/volume_geometry.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace torvane {

// The sort key of a number the steps sort as text: its decimal text read
// as a 32-bit signed value, saturating at 2147483647.
inline std::int32_t SortKey32(std::uint64_t value)
{
    return value > 0x7FFFFFFFull ? 0x7FFFFFFF : static_cast<std::int32_t>(value);
}

// "File System" of a DirTable row that belongs to no file system.
inline constexpr std::uint32_t kNoFileSystem = 0xFFFFFFFFu;

// One BootSecTable row (and the first eleven columns of a FileSystemTable row).
struct FatBootRow {
    std::uint64_t sector = 0;          // 0 "Sector" (0 for a volume derived from its folders)
    std::uint32_t sectorsPerFat = 0;   // 1 "SPF"
    std::uint32_t sectorsPerCluster = 0;   // 2 "SPC"
    std::uint32_t rootSectors = 0;     // 3 "Root Sectors"
    std::uint64_t rootStart = 0;       // 4 "Root Start": FAT32 root cluster, FAT16 first root sector
    std::uint32_t reservedSectors = 0; // 5 "Reserve Sectors"
    std::uint64_t cluster0Start = 0;   // 6 "Cluster0Start"
    std::uint64_t firstFat = 0;        // 7 "firstFAT" (0: unknown)
    std::uint64_t secondFat = 0;       // 8 "secondFAT"
    std::uint64_t totalSectors = 0;    // 9 "TotalSectors": the sector after the volume
    std::string partType;              // 10 "PartType": "FAT16" or "FAT32"
};

// One FileSystemTable row: a FAT volume found in the range.
struct FatFileSystemRow : FatBootRow {
    std::uint64_t endSector = 0;       // 11 "End Sector" (not written by the sweep)
    bool fatSearched = false;          // 12 "Read_4_fat_0": the FAT position was searched for
};

// One DirTable row: a directory's first cluster.
struct DirTableRow {
    std::uint64_t sector = 0;          // 0 "Sector"
    std::uint32_t self = 0;            // 1 "Self Cluster"
    std::uint32_t parent = 0;          // 2 "Parent Cluster"
    std::uint32_t fileSystem = 0;      // 3 "File System": 0 unassigned, n = FileSystemTable row n-1, kNoFileSystem
    std::uint16_t date = 0;            // 4 "Date"
    std::uint16_t time = 0;            // 5 "Time"
    std::uint64_t cluster0Start = 0;   // 7 "Cluster0Start" of its file system
    std::string name;                  // 8 "Name"
    bool placed = false;               // "A" in columns 1 and 2: placed in the tree
    // With a name from the root directory: whether that entry was deleted.
    // A root folder with no entry left for it is a lost one.
    bool deleted = true;
};

// One NewListTable row: the first sector of a run of directory-looking sectors.
struct NewListRow {
    std::uint64_t sector = 0;          // 0 "Sector"
    std::uint64_t self = 0;            // 1 "Self Cluster" (the computed cluster + 1, or an entry's cluster)
    bool selfIsClusterPlusOne = false; // the sweep computed the cluster from the geometry
    std::uint16_t date = 0;            // 4 "Date"
    std::uint16_t time = 0;            // 5 "Time"
};

// One PartitionExtentTable row.
struct PartitionExtentRow {
    std::string drive;                 // 0 "Drive": disk number, or a recognised file system's key text
    std::uint32_t part = 0;            // 1 "Part": 1-based position
    std::uint64_t startSector = 0;     // 2 "St_Sec"
    std::uint64_t endSector = 0;       // 3 "End_Sec", at most the disk's sector count
    std::uint64_t cluster0 = 0;        // 4 "Clus0": the start again
    std::uint64_t driveEndSector = 0;  // 5 "Drive_E_Sec": the disk's sector count
};

// A found file system as a dialog lists it.
struct DeepFoundFileSystem {
    std::string kind;                  // "FAT16", "FAT32", "exFAT", "NTFS"
    std::uint64_t key = 0;             // the fsKey of its folders
    std::uint64_t bootSector = 0;      // 0 when derived from its folders
    std::uint64_t endSector = 0;       // 0 when unknown
    std::uint32_t sectorsPerCluster = 0;
};

class DeepTables {
public:
    std::vector<FatBootRow> bootSectors;         // BootSecTable
    std::vector<DirTableRow> dirs;               // DirTable
    std::vector<NewListRow> newList;             // NewListTable
    std::vector<FatFileSystemRow> fileSystems;   // FileSystemTable
    std::vector<PartitionExtentRow> extents;     // PartitionExtentTable

    // The flags the steps keep between their runs.
    bool firstPairChecked = false;     // FirstPairChecked
    bool finalAnalysis = false;        // FinalAnalysisFlag
    bool rootNamesRead = false;        // RootNamesRead
    int rootWalkResult = 0;            // RootWalkResult (0 or 2)
    std::uint64_t dirSerial = 1;       // DeepDirSerial: the number of the next "DIR" name
    bool miscFolderCreated = false;    // MiscFolderCreated
    bool workersStopped = false;       // DeepWorkersStoppedFlag

    // Empties every table and resets the flags (a new scan).
    void Clear();

    // The file systems found so far, as the sweep last published them
    // (any thread).
    std::vector<DeepFoundFileSystem> FoundFileSystems() const;
    // Publishes `found` (the sweep's thread).
    void Publish(std::vector<DeepFoundFileSystem> found);

private:
    mutable std::mutex publishMutex_;
    std::vector<DeepFoundFileSystem> published_;
};

// The FAT16/FAT32 volume rows as the results of a Deep scan are listed,
// opened and saved from: each copies a FileSystemTable row into the
// descriptor of the partition the volume is read through.

// LoadFatVolumeRow: row `row` into `d`; `fallback` stands in for cells the
// row left empty (the Deep scan never leaves one empty, so it is only read
// for a row of zeros: the FAT16 root-sector rule then applies to its value).
void LoadFatVolumeRow(const FatFileSystemRow& row, PartitionDescriptor& d);

// The row whose "Cluster0Start" is `key` (the first such), or null.
const FatFileSystemRow* FindFatVolumeRow(const std::vector<FatFileSystemRow>& rows, std::uint64_t key);

// The FAT file systems of FileSystemTable rows, as a dialog lists them.
std::vector<DeepFoundFileSystem> FoundFatFileSystems(const std::vector<FatFileSystemRow>& rows);

}  // namespace torvane
