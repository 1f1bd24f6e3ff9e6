// The exFAT on-disk structures the readers use: the boot sector, the 32-byte
// directory entries of an entry set, the FAT cells.
//
// Boot sector (offsets in the first sector of the volume, little-endian):
//   3   8  "EXFAT   "
//   64  u64 PartitionOffset (sectors, from the start of the disk)
//   72  u64 VolumeLength (sectors)
//   80  u32 FatOffset (sectors, inside the volume)
//   84  u32 FatLength (sectors)
//   88  u32 ClusterHeapOffset (sectors, inside the volume)
//   92  u32 ClusterCount
//   96  u32 FirstClusterOfRootDirectory
//   100 u32 VolumeSerialNumber
//   108 u8  BytesPerSectorShift (9..12)
//   109 u8  SectorsPerClusterShift (BytesPerSectorShift + this <= 25)
//   110 u8  NumberOfFats
//
// Directory entries (32 bytes; bit 7 of the type byte set = in use, clear =
// deleted):
//   0x85 file:         1 SecondaryCount, 2 SetChecksum (u16), 4 FileAttributes
//                      (u16, 0x10 directory), 8 CreateTimestamp (u32: FAT date
//                      word high, FAT time word low)
//   0xC0 stream:       1 GeneralSecondaryFlags (bit 1 NoFatChain), 3 NameLength,
//                      8 ValidDataLength (u64), 20 FirstCluster (u32), 24 DataLength (u64)
//   0xC1 file name:    2..31 fifteen UTF-16 units
//   0x81 bitmap, 0x82 up-case table: 20 FirstCluster, 24 DataLength
//   0x83 volume label, 0xA0 GUID, 0xA1 TexFAT, 0xA2 access control
//   0x00 end of directory
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

inline constexpr std::size_t kExfatEntrySize = 32;

// Entry types (in-use forms; the deleted form has bit 7 clear).
inline constexpr std::uint8_t kExfatFileEntry = 0x85;
inline constexpr std::uint8_t kExfatStreamEntry = 0xC0;
inline constexpr std::uint8_t kExfatNameEntry = 0xC1;
inline constexpr std::uint8_t kExfatBitmapEntry = 0x81;
inline constexpr std::uint8_t kExfatUpcaseEntry = 0x82;
inline constexpr std::uint8_t kExfatLabelEntry = 0x83;

inline constexpr std::uint16_t kExfatDirectoryAttribute = 0x10;
inline constexpr std::uint8_t kExfatNoFatChainFlag = 0x02;

// FAT cell values.
inline constexpr std::uint32_t kExfatBadCluster = 0xFFFFFFF7;
inline constexpr std::uint32_t kExfatEndOfChain = 0xFFFFFFFF;

inline std::uint16_t ExfatU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t ExfatU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(ExfatU16(p)) | (static_cast<std::uint32_t>(ExfatU16(p + 2)) << 16);
}
inline std::uint64_t ExfatU64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(ExfatU32(p)) | (static_cast<std::uint64_t>(ExfatU32(p + 4)) << 32);
}

inline bool IsExfatFileType(std::uint8_t t) { return t == 0x85 || t == 0x05; }
inline bool IsExfatStreamType(std::uint8_t t) { return t == 0xC0 || t == 0x40; }
inline bool IsExfatNameType(std::uint8_t t) { return t == 0xC1 || t == 0x41; }

// The boot-sector values the readers use, each checked before use.
struct ExfatBootParams {
    std::uint64_t partitionOffset = 0;
    std::uint64_t volumeLength = 0;       // sectors
    std::uint32_t fatOffset = 0;          // sectors
    std::uint32_t fatLength = 0;          // sectors
    std::uint32_t heapOffset = 0;         // sectors
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;
    std::uint32_t serial = 0;
    std::uint32_t bytesPerSector = 0;     // 512 .. 4096
    std::uint32_t sectorsPerCluster = 0;  // 1 .. 2^(25 - bytes-per-sector shift)
};

// Reads and checks the boot sector (`boot` holds at least 512 bytes). False,
// with `out` untouched, when it is no usable exFAT boot sector: a wrong name,
// a shift out of range (never used as a shift then), a FAT or heap outside
// the volume, a root cluster outside the heap.
bool ParseExfatBootSector(const std::uint8_t* boot, std::size_t size, ExfatBootParams& out);

// The text of one name entry (its 30 name bytes at offset 2): the UTF-16
// units up to the first 0 unit, decoded (unpaired surrogates replaced).
std::string DecodeExfatNameEntry(const std::uint8_t* entry);

// The entry-set checksum over `count` entries (the primary's bytes 2 and 3
// left out), as the file system computes it.
std::uint16_t ExfatSetChecksum(const std::uint8_t* entries, std::size_t count);

// The date and time words of a CreateTimestamp. A timestamp with bit 31 set
// (years from 2044) gives 0 and 0, as the walk has always stored it.
void SplitExfatTimestamp(std::uint32_t timestamp, std::uint32_t& date, std::uint32_t& time);

}  // namespace torvane
