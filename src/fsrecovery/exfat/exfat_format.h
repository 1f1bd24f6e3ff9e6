// The exFAT on-disk structures the readers use: the 32-byte directory entries
// of an entry set and the FAT cells. The boot sector is read by
// ReadExfatBootRecord (disk/boot_record.h).
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

#include "base/byte_view.h"
#include "disk/boot_record.h"

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

// The view over one 32-byte directory entry that starts at `entry`.
inline ByteView ExfatEntryBytes(const std::uint8_t* entry) { return ByteView(entry, kExfatEntrySize); }

inline bool IsExfatFileType(std::uint8_t t) { return t == 0x85 || t == 0x05; }
inline bool IsExfatStreamType(std::uint8_t t) { return t == 0xC0 || t == 0x40; }
inline bool IsExfatNameType(std::uint8_t t) { return t == 0xC1 || t == 0x41; }

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
