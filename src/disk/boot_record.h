// Boot records: the first sector of a FAT16, FAT32, exFAT or NTFS volume,
// read from 512 bytes into typed fields.
//
// RecognizeBootRecord says which kind of file system a sector's boot record
// names; one reader per file system turns the sector into a typed record. Each
// record keeps its fields as stored (widened, never trusted) and says which of
// its values are usable; the Read* functions give a record only when it passes
// its checks. Every load goes through the bounds-checked ByteView, so a short
// or hostile sector reads as zeros where it ends.
//
// FAT BPB (FAT16 and FAT32 share bytes 0..35):
//   11 u16 bytes per sector      13 u8  sectors per cluster   14 u16 reserved sectors
//   16 u8  number of FATs        17 u16 root entries (FAT16)  19 u16 total sectors (small volumes)
//   21 u8  media                 22 u16 sectors per FAT (FAT16)
//   28 u32 hidden sectors        32 u32 total sectors (when the u16 at 19 is 0)
//   FAT16: 54 "FAT16   " type text.  FAT32: 36 u32 sectors per FAT, 44 u32 root
//   cluster, 82 "FAT32   " type text.
// exFAT: 3 "EXFAT   ", 64 u64 PartitionOffset, 72 u64 VolumeLength, 80 u32 FatOffset,
//   84 u32 FatLength, 88 u32 ClusterHeapOffset, 92 u32 ClusterCount, 96 u32 root
//   cluster, 100 u32 serial, 104 u16 revision, 106 u16 flags, 108 u8 bytes-per-sector
//   shift (9..12), 109 u8 sectors-per-cluster shift, 110 u8 number of FATs.
// NTFS: 3 "NTFS    ", 11 u16 bytes per sector, 13 u8 sectors per cluster (0xF4 reads
//   as 4096), 40 u64 total sectors, 48 u64 $MFT LCN, 56 u64 $MFTMirr LCN, 64 u32
//   FILE record size (0xF6 = 1 KiB, else clusters), 68 u32 INDX record size (0xF4 =
//   4 KiB, else clusters), 72 u64 serial.
// Every boot record ends with the signature 0x55 0xAA at 510.
#pragma once

#include "base/byte_view.h"
#include "disk/fs_kind.h"

#include <cstdint>
#include <optional>

namespace torvane {

inline constexpr std::size_t kBootRecordSize = 512;

// 0x55 at byte 510 and 0xAA at byte 511.
bool HasBootSignature(ByteView sector);

// 1, 2, 4, ..., 128 sectors per cluster: the cluster sizes FAT and NTFS
// volumes may have (a FAT32 cluster of 64 KiB included).
constexpr bool IsClusterSizeValid(std::uint64_t sectorsPerCluster)
{
    return sectorsPerCluster >= 1 && sectorsPerCluster <= 128 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
}

// How a sector is recognised as a boot record.
enum class BootMarks {
    // The type texts where the formatters write them, tested in this order:
    // "FAT32" at 0x52, "FAT16" at 0x36, "NTFS" at 3, "EXFAT" at 3. The
    // signature is not required (a partition table names the partition).
    TypeNames,
    // The marks the sector sweeps test: the signature, then in this order
    // "32" at 0x55 (the end of "FAT32"), "16" at 0x39 (the end of "FAT16"),
    // "NTFS" at 3, "EXFAT" at 3 with a cluster shift (0x6D) that is not 0.
    SweepMarks,
};

// The kind of file system the boot record in `sector` names, or Unknown.
FsKind RecognizeBootRecord(ByteView sector, BootMarks marks = BootMarks::TypeNames);

// The kind of file system whose boot record `sector` holds when that record
// passes its reader's checks (the signature, usable cluster and sector sizes,
// a FAT and a size; NTFS and FAT with 512-byte sectors); Unknown otherwise. A
// disk that lists no partition and holds such a record in its first sector is
// that file system from sector 0 (a whole-volume image, a card formatted
// without a table).
FsKind RecognizeVolumeBootRecord(ByteView sector);

// The size in sectors that the boot record of `kind` declares: FAT the u16 at
// 19, or the u32 at 32 when that is 0 (small FAT16 volumes keep their size in
// the 16-bit field); exFAT VolumeLength; NTFS the u64 at 40. 0 for Unknown.
std::uint64_t BootRecordSectors(ByteView sector, FsKind kind);

// --- FAT16 and FAT32 -----------------------------------------------------------

struct FatBootRecord {
    bool signature = false;
    FsKind named = FsKind::Unknown;       // Fat32 for "FAT32" at 82, else Fat16 for "FAT16" at 54
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t numberOfFats = 0;
    std::uint32_t rootEntryCount = 0;
    std::uint32_t totalSectors = 0;       // u16 at 19, or u32 at 32 when that is 0
    std::uint32_t media = 0;
    std::uint32_t sectorsPerFat16 = 0;    // u16 at 22
    std::uint32_t hiddenSectors = 0;
    std::uint32_t sectorsPerFat32 = 0;    // u32 at 36
    std::uint32_t rootCluster = 0;        // u32 at 44

    // The sectors per FAT as the volume of `kind` stores them (FAT16: the
    // u16 at 22; FAT32: the u32 at 36).
    std::uint32_t SectorsPerFat(FsKind kind) const { return kind == FsKind::Fat16 ? sectorsPerFat16 : sectorsPerFat32; }
    // Sectors of the fixed FAT16 root folder; a partial sector still holds entries.
    std::uint32_t RootDirectorySectors() const { return (rootEntryCount + 15) / 16; }
    bool ClusterSizeValid() const { return IsClusterSizeValid(sectorsPerCluster); }
    bool Valid() const { return signature && ClusterSizeValid(); }
};

// Every field, checked or not.
FatBootRecord DecodeFatBootRecord(ByteView sector);
// The record when it has the signature and a usable cluster size.
std::optional<FatBootRecord> ReadFatBootRecord(ByteView sector);

// --- exFAT -----------------------------------------------------------------------

struct ExfatBootRecord {
    std::uint64_t partitionOffset = 0;
    std::uint64_t volumeLength = 0;       // sectors
    std::uint32_t fatOffset = 0;          // sectors, inside the volume
    std::uint32_t fatLength = 0;          // sectors
    std::uint32_t heapOffset = 0;         // sectors, inside the volume
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;
    std::uint32_t serial = 0;
    std::uint32_t numberOfFats = 0;
    std::uint32_t bytesPerSector = 0;     // 512 .. 4096
    std::uint32_t sectorsPerCluster = 0;  // 1 .. 2^(25 - bytes-per-sector shift)
};

// The record when the sector is a usable exFAT boot record: the signature,
// "EXFAT   " at 3, shifts in range (never used as a shift otherwise), the FAT
// and the heap inside the volume with the FAT first, a FAT that holds a cell
// for every cluster and whose byte offset fits 32 bits, a root cluster inside
// the heap.
std::optional<ExfatBootRecord> ReadExfatBootRecord(ByteView sector);

// --- NTFS ---------------------------------------------------------------------------

struct NtfsBootRecord {
    bool signature = false;
    bool named = false;                   // "NTFS" at 3
    std::uint32_t bytesPerSector = 0;
    std::uint64_t sectorsPerCluster = 0;  // byte 13; 0xF4 reads as 4096, which is never valid
    std::uint64_t totalSectors = 0;
    std::uint64_t mftLcn = 0;
    std::uint64_t mftMirrLcn = 0;
    std::uint32_t fileRecordField = 0;    // u32 at 64: 0xF6 is 1 KiB, any other value counts clusters
    std::uint32_t indexRecordField = 0;   // u32 at 68: 0xF4 is 4 KiB, any other value counts clusters
    std::uint64_t serial = 0;

    // Sectors of a FILE record and of an INDX record, for clusters of
    // `clusterSectors` sectors (this record's own cluster size by default).
    std::uint64_t FileRecordSectors(std::uint64_t clusterSectors) const;
    std::uint64_t FileRecordSectors() const { return FileRecordSectors(sectorsPerCluster); }
    std::uint64_t IndexRecordSectors(std::uint64_t clusterSectors) const;
    bool ClusterSizeValid() const { return IsClusterSizeValid(sectorsPerCluster); }
    // FILE records of 2, 4, 6 or 8 sectors.
    bool RecordSizeValid() const;
    bool Valid() const { return signature && ClusterSizeValid() && RecordSizeValid(); }
};

// Every field, checked or not.
NtfsBootRecord DecodeNtfsBootRecord(ByteView sector);
// The record when it has the signature, a usable cluster size and a usable
// FILE record size.
std::optional<NtfsBootRecord> ReadNtfsBootRecord(ByteView sector);

}  // namespace torvane
