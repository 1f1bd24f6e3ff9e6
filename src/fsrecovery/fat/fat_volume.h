// The FAT16/FAT32 values a reader needs, taken once from the current
// partition so that the readers work on an explicit value instead of
// program-wide state.
#pragma once

#include "disk/fs_kind.h"
#include "disk/volume_geometry.h"

#include <cstdint>
#include <string>

namespace torvane {

enum class FatKind { None, Fat16, Fat32 };

// Fat16 -> Fat16; Fat32 and exFAT -> Fat32 (the chain walkers read an exFAT
// FAT with 32-bit cells); anything else -> None.
FatKind FatKindOf(FsKind fs);

struct FatVolume {
    FatKind kind = FatKind::None;
    FsKind fs = FsKind::Unknown;        // Fat16, Fat32 (or Exfat for the chain walkers)
    std::uint64_t startSector = 0;      // partition start
    std::uint64_t endSector = 0;        // one past the last sector of the partition
    std::uint64_t endByte = 0;          // end of the source in bytes; nothing beyond is read
    std::uint64_t fatStart = 0;         // first FAT, absolute sector
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t cluster0Start = 0;    // absolute sector where cluster 0 would lie
    std::uint32_t rootStart = 0;        // FAT16: absolute first root sector; FAT32: root cluster
    std::uint32_t rootSectors = 0;      // FAT16 root directory sectors

    // First sector of cluster `c` (64-bit: cluster-0 sector + c * spc).
    std::uint64_t ClusterSector(std::uint32_t c) const
    {
        return cluster0Start + static_cast<std::uint64_t>(c) * sectorsPerCluster;
    }
    // Cells the FAT can hold (sectors per FAT * cells per sector); 0 when unknown.
    std::uint64_t FatCellCapacity() const;
    // Highest cluster number whose first sector lies inside the partition
    // (0 when the geometry does not tell).
    std::uint64_t LastClusterInVolume() const;
};

// The FAT view of the current partition: geometry copied from the descriptor.
FatVolume FatVolumeFromPartition(const CurrentPartition& p);
FatVolume FatVolumeFromDescriptor(const PartitionDescriptor& d);

}  // namespace torvane
