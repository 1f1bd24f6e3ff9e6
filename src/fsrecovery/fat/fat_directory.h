// FAT directory entries: the 32-byte short entry and the long-name slots in
// front of it.
//
// Short entry (little-endian):
//   0  8  name, space padded   (0x00 = end of directory, 0xE5 = deleted)
//   8  3  extension, space padded
//  11  1  attribute            (0x0F = long-name slot, 0x10 = directory)
//  20  2  first cluster, high word (FAT32)
//  22  2  write time           (h << 11 | m << 5 | s / 2)
//  24  2  write date           ((y - 1980) << 9 | month << 5 | day)
//  26  2  first cluster, low word
//  28  4  file size
// Long-name slot: order byte at 0 (run position from 1 next to the short entry,
// + 0x40 on the last slot), 13 UTF-16LE units at 1..10, 14..25 and 28..31.
#pragma once

#include "base/byte_view.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

inline constexpr std::size_t kFatEntrySize = 32;
inline constexpr int kFatEntriesPerSector = 16;

class Device;
struct FatVolume;

// Reads the directory sector that comes in front of `sector` in the
// directory's own order into `out512` and gives its number in `previous`.
// Returns 1 when read, 0 when the directory has no sector in front, -1 when
// that sector cannot be read.
using SectorFetch = std::function<int(std::uint64_t sector, std::uint8_t* out512, std::uint64_t& previous)>;

// Device order: the sector in front is sector - 1 (none at sector 1 or below).
SectorFetch DeviceOrderPrevious(Device& device);
// Directory order along a cluster chain: inside a cluster the sector in
// front, at a cluster's first sector the last sector of the previous cluster
// of the chain (a fragmented directory continues there, not in the sector
// that happens to lie in front on the device).
SectorFetch ChainOrderPrevious(Device& device, const FatVolume& volume, std::vector<std::uint32_t> chain);
// The fixed FAT16 root area starting at `rootStart`.
SectorFetch FixedRootPrevious(Device& device, std::uint64_t rootStart);

// The view over one 32-byte directory entry (or long-name slot) at `entry`.
inline ByteView FatEntryBytes(const std::uint8_t* entry) { return ByteView(entry, kFatEntrySize); }

// First cluster of a short entry: high word (20..21) * 65536 + low word (26..27).
inline std::uint32_t FatEntryFirstCluster(const std::uint8_t* entry)
{
    const ByteView e = FatEntryBytes(entry);
    return (static_cast<std::uint32_t>(e.U16(20)) << 16) | e.U16(26);
}

enum class FatEntryMode {
    Directory,   // directory-entry rules: the 0x10 bit must be set
    File,        // file-entry rules: size within the source, a usable attribute
};

// What every entry must pass:
//  - the attribute: neither 0x40 nor 0x80 set, not a long-name slot (0x0F),
//    not a volume label (0x08 without 0x10); any mix of read-only (0x01),
//    hidden (0x02), system (0x04) and archive (0x20) is a file, and so is
//    attribute 0, which some devices and tools write. Directory rules want
//    the 0x10 bit;
//  - the 8.3 name: no control character, none of  " \ / ? * < > | :;
//  - the write date and time: a real month, day and time of day (any year).
// strictNames adds the stricter name test of IsPlausibleShortName.
struct FatEntryRules {
    FatEntryMode mode = FatEntryMode::Directory;
    bool filesOnly = false;          // refuse entries with the directory bit
    std::uint64_t endByte = 0;       // file-entry rules: a size above this is refused
    // The sector is only guessed to hold directory entries (a cluster read
    // behind a folder's own chain): any file's data may stand there, and the
    // name test is what keeps such bytes out of the results. The 8.3 name must
    // then pass the strict test, unless a long name stands in front whose
    // slots all carry the 8.3 name's checksum (which proves the pair).
    bool strictNames = false;
};

struct FatEntryResult {
    std::string name;                // display name (UTF-8): long name when there is one; empty = not taken
    std::string shortName;           // NAME.EXT (set only for a taken entry)
    bool deleted = false;            // first byte 0xE5 (set once the attribute tests pass)
    bool endOfDirectory = false;     // first byte 0x00
};

// Decodes entry `index` (0..15) of a 512-byte directory sector. `sectorNumber`
// is the device sector the data came from; `previous` reads the sector in
// front when the long-name slots continue there (may be empty: then no
// slot is taken from another sector). Returns result.name.
std::string ParseFatDirEntry(const std::uint8_t* sector, int index, std::uint64_t sectorNumber,
                             const FatEntryRules& rules, const SectorFetch& previous, FatEntryResult& result);

// Gathers the long name in front of the short entry at byte `offset` of
// `sector` (number `sectorNumber`). Empty when there is none, or when a sector
// in front that holds part of it cannot be read.
std::string AssembleLongFileName(const std::uint8_t* sector, unsigned offset, std::uint64_t sectorNumber,
                                 const SectorFetch& previous);

}  // namespace torvane
