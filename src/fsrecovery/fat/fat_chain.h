// FAT cluster chains. The file allocation table is an array of little-endian
// cells indexed by cluster number, in 512-byte sectors from the FAT's first
// sector; the cell of a cluster holds the number of the next one.
//   FAT16: 2-byte cells, 256 per sector; 0, 1 and 0xFFF8..0xFFFF end a chain.
//   FAT32: 4-byte cells, 128 per sector, of which the low 28 bits count;
//          0 and 0x0FFFFFF8..0x0FFFFFFF end a chain. (exFAT FATs are read the same way.)
//
// A chain is returned as a vector: the start cluster first, then every
// cluster reached in chain order. Each walk has its own result, so walks on
// several threads never share a list.
//
// Corrupt tables are expected: a walk ends at a cell that points back into
// the chain (a cycle), at a cell outside the FAT, at a FAT sector that cannot
// be read, and after a node limit; it keeps what it has gathered.
#pragma once

#include "fsrecovery/fat/fat_volume.h"
#include "platform/device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

inline constexpr std::uint32_t kFat32CellMask = 0x0FFFFFFF;

// Reads FAT cells through a batch of FAT sectors kept in memory (8 sectors
// at first, doubling with every further read up to 512 sectors, 256 KB),
// re-read only when a cell lies outside it.
class FatTable {
public:
    // `fatStart`: absolute first sector of the FAT; `sectorsPerFat` bounds the
    // sectors read (0 = unknown: no bound beyond the device).
    FatTable(Device& device, FatKind kind, std::uint64_t fatStart, std::uint32_t sectorsPerFat);

    // The cell of `cluster` (FAT32: masked to 28 bits). False when the cell
    // lies beyond the FAT or its sector cannot be read.
    bool Cell(std::uint32_t cluster, std::uint32_t& value);

    // True when `value` ends a chain without naming a next cluster.
    bool IsEnd(std::uint32_t value) const;

    FatKind Kind() const { return kind_; }
    // Number of cells the table can hold: (sectors per FAT + 1) x cells per
    // sector, or the width's own maximum when the FAT size is unknown.
    std::uint64_t CellCapacity() const;
    std::uint64_t SectorReads() const { return reads_; }

private:
    bool Load(std::uint64_t index);

    Device& device_;
    FatKind kind_;
    std::uint64_t fatStart_;
    std::uint32_t sectorsPerFat_;
    // Not cleared when it grows: a read fills every byte it is asked for.
    std::unique_ptr<std::uint8_t[]> batch_;
    std::size_t batchCapacity_ = 0;     // bytes batch_ can hold
    std::size_t batchBytes_ = 0;        // bytes of the batch held
    std::uint64_t batchFirst_ = 0;      // FAT sector index of batch_[0]
    std::uint64_t batchCount_ = 0;      // sectors held
    std::uint64_t reads_ = 0;
    std::uint64_t batchSize_ = 8;       // sectors of the next batch
};

struct ChainWalkOptions {
    // The listed-folder test: a cluster that is the first cluster of a folder
    // already in the results tree ends the walk before it is appended.
    std::function<bool(std::uint32_t)> isIndexedFolder;
    // Tested before every cell; true ends the walk.
    std::function<bool()> stop;
    // Node limit (0 = only the table's own bound). The walk ends once the
    // chain holds more nodes than this.
    std::uint64_t maxNodes = 0;
    // Called after every node with the number of nodes so far.
    std::function<void(std::uint64_t)> progress;
};

// The common walk. `kind` None gives an empty chain.
std::vector<std::uint32_t> WalkClusterChain(FatTable& table, std::uint32_t start, const ChainWalkOptions& options);

// BuildClusterChain: a folder's chain. `fs` FAT16, or FAT32/exFAT (32-bit
// cells); any other kind gives an empty chain. With the listed-folder
// test, a node limit of sectors per FAT x cells per sector.
std::vector<std::uint32_t> BuildClusterChain(Device& device, std::uint32_t start, FsKind fs,
                                             std::uint32_t sectorsPerFat, std::uint64_t fatStart,
                                             const ChainWalkOptions& options = {});

// BuildFileClusterChain: a file's chain for saving. FAT16 and FAT32 only
// (anything else, exFAT included, gives an empty chain). A cluster count of 0
// ends after the start cluster; otherwise the walk ends once the chain holds
// more than `clusterCount` nodes.
std::vector<std::uint32_t> BuildFileClusterChain(Device& device, FsKind fs, std::uint32_t start,
                                                 std::uint64_t fatStart, std::uint32_t sectorsPerFat,
                                                 std::uint32_t clusterCount, const ChainWalkOptions& options = {});

// The chain of a folder of the current volume (the second and third walkers
// of old: geometry from the volume, exFAT read as FAT32). On FAT16/FAT32,
// when the walk of the first FAT ends at a free cell or at a FAT sector that
// cannot be read (a zeroed or damaged first FAT), the chain of the second FAT
// is taken when it holds more clusters.
std::vector<std::uint32_t> BuildVolumeClusterChain(Device& device, const FatVolume& volume, std::uint32_t start,
                                                   const ChainWalkOptions& options = {});

}  // namespace torvane
