// Partition tables: the MBR, its chain of extended boot records (EBR) and the
// GUID partition table (GPT), read the way the drive trees list them.
//
// The walk is a pure function of the disk's bytes: WalkPartitionTable reads
// sectors of a Device and returns the partitions in the order they are
// numbered ("Partition - 1", "Partition - 2", ...). DiskPartitionTable is the
// per-disk store the drive listing, the partition search and the scans share.
//
// MBR (sector 0; an EBR has the same layout):
//   0x1BE + 16*i  four 16-byte entries: +4 type byte, +8 start (u32 LE), +12 length (u32 LE)
//   510, 511      signature 0x55 0xAA
//   In an EBR only entries 0 and 1 are used. A data entry's start is relative
//   to its EBR, a link entry's (type 0x05/0x0F) to the extended partition start.
// GPT entry array: 128-byte entries, four per sector, sectors 2..33 (128 entries):
//   +0 partition type GUID (16 bytes, on-disk order), +32 first LBA (u64), +40 last LBA (u64, inclusive).
//   The GPT header is not consulted: a damaged header (bad CRC, odd entry
//   count) does not hide the entries, and no more than 128 entries are read.
#pragma once

#include "base/tree_model.h"
#include "disk/sector_bytes.h"
#include "disk/volume_geometry.h"
#include "platform/device.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int kMaxPartitionsPerDisk = 50;
inline constexpr int kGptEntryCount = 128;
// Extended boot records followed at most per disk, besides the loop guard.
inline constexpr int kMaxEbrCount = 128;
// A primary entry that starts fewer than this many sectors before the disk's
// end stops the listing of the disk.
inline constexpr std::int64_t kPartitionTailSectors = 0x6000;

// Partition type GUIDs as stored on disk (the first three groups little-endian).
using GuidBytes = std::array<std::uint8_t, 16>;
// E3C9E316-0B5C-4DB8-817D-F92DF00215AE, Microsoft Reserved
extern const GuidBytes kMicrosoftReservedGuid;
// AF9B60A0-1431-4F62-BC68-3311714A69AD, Logical Disk Manager data (dynamic disks)
extern const GuidBytes kLdmDataGuid;

// Boot-sector recognition of a partition's first sector, in this order:
// "FAT32" at 0x52, "FAT16" at 0x36, "NTFS" at 3, "EXFAT" at 3 -> "FAT32",
// "FAT16", "NTFS", "exFAT"; with `allowEfi`, "EFI" at 0 -> "EFI" (a GPT header
// where a protective MBR entry begins). Otherwise "". Byte-exact, case-sensitive.
std::string RecognizeBootSector(const SectorBytes& sector, bool allowEfi);

// Type-byte fallback: 0x01, 0x04, 0x06, 0x0E -> "FAT16"; 0x0B, 0x0C -> "FAT32";
// 0x07 -> "NTFS"; 0x05, 0x0F -> "extended"; anything else -> "".
std::string PartitionTypeByteName(std::uint8_t type);

struct FoundPartition {
    enum class Source { Primary, Logical, Gpt };
    std::string FsName;          // "FAT16", "FAT32", "NTFS", "exFAT"
    std::uint64_t StartSector = 0;
    std::uint64_t EndSector = 0; // one past the last sector, for every source; never past the disk
    std::uint64_t TableEndSector = 0;  // the end the entry gives when it lies past the disk (else 0)
    Source From = Source::Primary;
    std::uint8_t TypeByte = 0;   // MBR/EBR entries
    GuidBytes TypeGuid{};        // GPT entries
    std::uint64_t TableSector = 0;  // the MBR/EBR sector or GPT array sector holding the entry
};

struct PartitionWalk {
    std::vector<FoundPartition> Partitions;  // in numbering order; position i is "Partition - i+1"
    bool HasSignature = false;   // sector 0 carried 0x55 0xAA
    bool TailStop = false;       // a primary entry near or past the disk's end stopped the listing
    bool GptWalked = false;      // a protective MBR led to the GPT entries
    bool EbrLoop = false;        // an EBR link led back to an EBR already read (chain ended there)
    bool EbrLimit = false;       // more than kMaxEbrCount EBRs (chain ended)
    bool TableFull = false;      // a 51st partition was met and not listed
    bool Dynamic = false;        // an MBR entry of type 0x42 or a GPT entry of the LDM data type
};

// Walks the partition table of a disk of `diskSectors` sectors. Unreadable
// sectors count as zeros. Never lists more than kMaxPartitionsPerDisk. An
// entry that ends past the disk (a damaged or hostile table: a GPT last LBA of
// 2^40) is listed up to the disk's end, with the end it gave kept aside.
PartitionWalk WalkPartitionTable(Device& disk, std::uint64_t diskSectors);

// The dynamic-disk rule alone (MBR type 0x42 among the primaries or the EBR
// chain, or a GPT entry with the LDM data type), for the volume-to-disk mapping.
bool IsDynamicDisk(Device& disk, std::uint64_t diskSectors);

// --- The per-disk store -------------------------------------------------------

// Drive-tree items are nodes of the dialog's TreeModel (app/tree_model.h).
using TreeItemId = TreeNodeId;
inline constexpr TreeItemId kNoTreeItem = kNoTreeNode;

struct PartitionRecord {
    TreeItemId TreeItem = kNoTreeItem;
    std::uint64_t StartSector = 0;
    std::uint64_t EndSector = 0;    // one past the last sector
    std::uint64_t TableEndSector = 0;  // the table's end when it lay past the disk (EndSector is the disk's end)
    std::uint32_t Index = 0;        // the record's position
    VolumeGeometry Geometry;        // FAT16/FAT32 partitions whose boot sector was read
};

struct DiskPartitionEntry {
    std::uint32_t Header[2] = {0, 0};
    std::uint32_t RecordCount = 0;
    std::array<std::string, kMaxPartitionsPerDisk> FsNames;
    std::array<PartitionRecord, kMaxPartitionsPerDisk> Records;

    bool Full() const { return RecordCount >= static_cast<std::uint32_t>(kMaxPartitionsPerDisk); }
    // Appends a record at position RecordCount; returns its position, or -1
    // when the table already holds kMaxPartitionsPerDisk records.
    int Append(const std::string& fsName, std::uint64_t start, std::uint64_t end, TreeItemId item);
    // Writes the record at `pos` (0-based) and sets the count to pos + 1, as a
    // partition numbered by its tree position is stored. False when pos >= 50.
    bool Put(int pos, const std::string& fsName, std::uint64_t start, std::uint64_t end, TreeItemId item);
    // The count becomes 0; records lose item, extent and index but keep their geometry.
    void Reset();
};

inline constexpr int kMaxDiskEntries = 26;

struct DiskPartitionTable {
    std::array<DiskPartitionEntry, kMaxDiskEntries> Disks;
    void Reset() { for (auto& d : Disks) d.Reset(); }
    // Null when `disk` is out of range.
    DiskPartitionEntry* Entry(int disk) { return disk >= 0 && disk < kMaxDiskEntries ? &Disks[static_cast<std::size_t>(disk)] : nullptr; }
    const DiskPartitionEntry* Entry(int disk) const { return disk >= 0 && disk < kMaxDiskEntries ? &Disks[static_cast<std::size_t>(disk)] : nullptr; }
};

// "Partition - 2 ( NTFS )"
std::string PartitionItemText(int number, const std::string& fsName);

// The end sector of the first record of `disk` that starts at `start`, else `fallback`.
std::uint64_t LookupPartitionEnd(const DiskPartitionTable& table, int disk, std::uint64_t start, std::uint64_t fallback);

// The stored file-system name of record `index` of `disk`, trimmed; when empty,
// a guess from the size: at least 73,400,320 sectors "NTFS", at least 2048
// "FAT32", else "Unknown".
std::string GetPartitionTypeName(const DiskPartitionTable& table, int disk, std::uint64_t start, std::uint64_t end, int index);

// Raises `diskSectorCount` to the end of the disk's only record when that lies beyond it.
void ExtendDiskSectorCount(const DiskPartitionTable& table, int disk, std::uint64_t& diskSectorCount);

// Geometry of a FAT partition found by the walk, derived from its boot sector
// without touching any session state. False when it cannot be derived.
bool ReadPartitionGeometry(Device& disk, const FoundPartition& part, VolumeGeometry& out);

}  // namespace torvane
