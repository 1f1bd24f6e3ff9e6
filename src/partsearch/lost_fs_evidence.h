// Traces that a file system leaves when its boot sector is gone, as the
// Advanced sweep recognises them sector by sector:
//   - the FILE record of $MFTMirr (MFT record 1), which places an NTFS volume;
//   - the first sector of a FAT subfolder (its "." and ".." entries) and the
//     first sector of a FAT32 table, from which FAT geometry is rebuilt;
//   - a sector that begins with a plausible exFAT directory entry set.
// Pure tests and arithmetic on sector bytes; the evidence engine keeps the
// state that links them across sectors (partsearch/evidence_engine.h).
#pragma once

#include "base/byte_view.h"
#include "disk/fs_kind.h"
#include "platform/device.h"

#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

// b0 + b1 * 256 + b2 * 65536 + b3 * 16777216.
constexpr std::uint32_t MakeDwordFromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    return static_cast<std::uint32_t>(b0) | (static_cast<std::uint32_t>(b1) << 8) |
           (static_cast<std::uint32_t>(b2) << 16) | (static_cast<std::uint32_t>(b3) << 24);
}

// "FILE" at 0 and the low bytes of the UTF-16 name at 0xF2 reading "$MFTM":
// the record of the $MFTMirr file (its $FILE_NAME where mkntfs and Windows put it).
bool IsMftMirrRecordSector(ByteView sector);

// "." and " " at 0 and 1, "..", " " at 32..34: the first sector of a FAT subfolder.
bool IsFatDirectoryStartSector(ByteView sector);

// F8 FF FF at 0, a byte 3 that is not FF, FF FF FF FF at 4..7 and a byte 11
// that is not FF: the first sector of a FAT32 table as Windows writes it
// (media cell, end-of-chain cell, the root folder's chain).
bool IsFat32TableStartSector(ByteView sector);

// The first cluster of the "." entry of a folder's first sector (the u16 at
// 26 low, the u16 at 20 high).
std::uint32_t DirectoryStartCluster(ByteView sector);

// The exFAT entry-set test. NotApplicable when the first entry is not a file,
// volume-label, stream-extension or file-name entry (in use or deleted);
// otherwise Passes or Fails (a failing sector is not examined further).
// `kind` gets "C0_40" for a set met at its stream entry, "C1_41" at a name
// entry, "" otherwise.
enum class ExfatEvidence { NotApplicable, Fails, Passes };
ExfatEvidence TestExfatEntrySet(ByteView sector, std::string* kind = nullptr);

// FAT geometry rebuilt from evidence (sector numbers on the disk).
struct FatRebuild {
    FsKind type = FsKind::Fat16;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint64_t cluster0 = 0;       // where cluster 0 would lie
    std::uint64_t fat1 = 0, fat2 = 0; // starts of the two FATs
    std::uint64_t rootStart = 0;      // the root folder's sector (FAT16 layout), or its cluster
};

// Two folder starts: the earlier one at `prevSector` whose "." names
// `prevCluster`, the current one at `sector` naming `cluster`. The cluster
// size is the sector distance over the cluster distance; the volume is taken
// to start at `rangeStart` + `reserved` with two FATs and 32 root sectors.
// Empty when the pair does not add up: a cluster below 2 or all ones, equal
// clusters, a distance that is no exact multiple, a cluster not below both
// sectors, a cluster size that is not a power of two up to 128, or arithmetic
// that would leave the disk. The type is FAT32 when sectors per FAT * 128
// exceeds 65536, else `type` (the type so far; FAT16 when Unknown).
std::optional<FatRebuild> RebuildFromFolderPair(std::uint64_t prevSector, std::uint32_t prevCluster,
                                                std::uint64_t sector, std::uint32_t cluster,
                                                std::uint64_t rangeStart, std::uint32_t reserved, FsKind type);

// Two FAT-table starts F1 < F2 and byte 16 of the current sector; `diskSectors`
// gives the cluster size (the disk over the FAT's cells, when that is a power
// of two up to 128). The root start is then the root's cluster 2 (or 0).
// Empty when F2 is not after F1.
std::optional<FatRebuild> RebuildFromTablePair(std::uint64_t f1, std::uint64_t f2, std::uint8_t byte16,
                                               std::uint64_t diskSectors);

// The start of a FAT32 volume whose first FAT begins at `fat1`: one sector
// before its FSInfo sector ("RRaA" at 0, "rrAa" at 484, the signature), the
// lowest one among the reserved sectors in front of the FAT. Empty when no
// FSInfo sector is there.
std::optional<std::uint64_t> FindFat32VolumeStart(Device& device, std::uint64_t fat1);

// The two FATs of a FAT32 volume that starts at `volumeStart` and whose data
// area begins at `dataStart`: the first sector after the volume's start that
// begins with the media cell (F8 FF FF), when the rest of the way to the data
// splits into two FATs whose second one begins the same way. Empty otherwise.
struct Fat32Tables {
    std::uint64_t fat1 = 0;
    std::uint32_t sectorsPerFat = 0;
};
std::optional<Fat32Tables> FindFat32Tables(Device& device, std::uint64_t volumeStart, std::uint64_t dataStart);

// The cluster size of a FAT32 volume whose data area (cluster 2, the root
// folder) begins at `dataStart`: the size at which the first subfolder the
// root lists begins with its "." entry naming its own cluster. Empty when the
// root lists none that fits.
std::optional<std::uint32_t> FindFat32ClusterSize(Device& device, std::uint64_t dataStart);

// Where an NTFS volume starts, from the $MFTMirr record found at `sector` (MFT
// record 1, so record 0, the $MFT's own record, lies 2 sectors before it).
// The run lists of the two records give the $MFT and $MFTMirr clusters; the
// cluster size is the first of `preferred` (when not 0), 1, 2, ..., 128 for
// which both copies of the MFT hold FILE records where the volume would have
// them. Empty when no cluster size fits.
struct NtfsPlacement {
    std::uint64_t start = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t mftStart = 0, mftMirrStart = 0;
    std::uint32_t fileRecordSectors = 2;
};
std::optional<NtfsPlacement> PlaceNtfsFromMftMirrRecord(Device& device, std::uint64_t sector,
                                                        std::uint32_t preferred);

// The cluster size the $MFTMirr data size gives: size / 512 from 4096 bytes
// up (a value of 244 is read as 4096), size / 512 below.
std::uint32_t SectorsPerClusterFromMirrorSize(std::uint64_t size);

}  // namespace torvane
