// Where the clusters and the FAT of one exFAT volume lie on the device, and
// the reads every exFAT reader shares: FAT cells, cluster chains (with a cycle
// guard), contiguous runs, bounds.
//
// All positions are absolute byte offsets on the device. A volume known from
// its boot sector places cluster 2 at the cluster heap; a volume whose boot
// sector is lost (the Deep Search's fallback geometry) places cluster k at
// Cluster0Start + k * sectors per cluster and may know no FAT at all.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_format.h"
#include "platform/device.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace torvane {

struct ExfatVolume {
    Device* device = nullptr;
    std::uint64_t volumeByte = 0;      // the volume's first byte on the device
    std::uint64_t heapByte = 0;        // the first byte of cluster 2
    std::uint32_t clusterBytes = 0;    // bytes per cluster (512 .. 32 MiB)
    std::uint32_t clusterCount = 0;    // clusters of the heap; 0 when unknown
    std::uint64_t fatByte = 0;         // the first byte of the first FAT; 0 when unknown
    std::uint32_t fatCells = 0;        // cells the FAT holds (0 when unknown)
    std::uint64_t endByte = 0;         // nothing at or beyond is read (the volume's or device's end)
    std::uint32_t rootCluster = 0;

    bool Usable() const { return device && clusterBytes >= 512; }
    std::uint32_t SectorsPerCluster() const { return clusterBytes / 512; }
    // A cluster number that names a cluster of the heap inside the readable range.
    bool ValidCluster(std::uint32_t cluster) const;
    // The first byte of `cluster` (no bounds check: use ValidCluster first).
    std::uint64_t ClusterByte(std::uint32_t cluster) const
    {
        return heapByte + static_cast<std::uint64_t>(cluster - 2) * clusterBytes;
    }
    // The device sector (512 bytes) where `cluster` starts.
    std::uint64_t ClusterSector(std::uint32_t cluster) const { return ClusterByte(cluster) / 512; }
    // The cluster that holds device byte `byte`; nullopt outside the heap.
    std::optional<std::uint32_t> ClusterOfByte(std::uint64_t byte) const;
    // Bytes of the heap from `cluster` to the end of the readable range.
    std::uint64_t BytesFromClusterToEnd(std::uint32_t cluster) const;
};

// The volume from a parsed boot sector at `volumeByte` on a device of `deviceEnd` bytes.
ExfatVolume MakeExfatVolume(Device& device, std::uint64_t volumeByte, const ExfatBootRecord& boot,
                            std::uint64_t deviceEnd);

// The volume as ReadVolumeParameters left it in `p` (boot sector or fallback).
ExfatVolume ExfatVolumeOf(const CurrentPartition& p, Device& device);

// Reads FAT cells, keeping the last FAT sector read.
class ExfatFatReader {
public:
    explicit ExfatFatReader(const ExfatVolume& volume) : volume_(volume) {}
    // The cell of `cluster`; nullopt when there is no FAT, the cell lies
    // outside it, or the sector cannot be read.
    std::optional<std::uint32_t> Cell(std::uint32_t cluster);
    // True (and `next` set) when the cell of `cluster` names a next cluster
    // (a cell of 0, 0xFFFFFFF7 or 0xFFFFFFFF names none).
    bool Next(std::uint32_t cluster, std::uint32_t& next);

private:
    const ExfatVolume& volume_;
    std::uint64_t cachedSector_ = ~std::uint64_t(0);
    std::uint8_t sector_[512] = {};
    bool cachedOk_ = false;
};

// How a file's or folder's clusters are found.
struct ExfatAllocation {
    std::uint32_t firstCluster = 0;
    std::uint64_t length = 0;     // bytes the clusters hold data for (DataLength)
    bool noFatChain = false;      // the clusters are consecutive; the FAT is not used
};

// The clusters of an allocation, in order, at most `maxClusters`:
//  - consecutive clusters from the first when flagged NoFatChain, or when the
//    first cluster's FAT cell is 0 (a deleted file whose chain was cleared);
//  - otherwise the FAT chain, which ends at an end mark, a bad or free cell, a
//    cluster outside the heap, or a cluster met before (a cycle).
// `chainBroken` (optional) is set when a FAT chain ended before `maxClusters`
// clusters for another reason than its end mark.
std::vector<std::uint32_t> ExfatClusterList(const ExfatVolume& volume, ExfatFatReader& fat,
                                            const ExfatAllocation& allocation, std::uint64_t maxClusters,
                                            bool* chainBroken = nullptr);

}  // namespace torvane

namespace torvane {

// The volume of `p` on `device`: from the boot sector at Descriptor.StartSector
// when it is sound, else from its backup (sector 12 of the boot region), else
// as ReadVolumeParameters left the exFAT values (fallback geometry). Check
// Usable() on the result.
ExfatVolume LoadExfatVolume(const CurrentPartition& p, Device& device, bool* fromBootSector = nullptr);

}  // namespace torvane

namespace torvane {

// The classic names of the cluster arithmetic and the FAT cell reader.
// ExfatClusterToPosition: the device byte where `cluster` starts.
inline std::uint64_t ExfatClusterToPosition(const ExfatVolume& volume, std::uint32_t cluster)
{
    return volume.ClusterByte(cluster);
}
// ExfatPositionToCluster: the cluster holding device byte `position`, or -1.
inline std::int64_t ExfatPositionToCluster(const ExfatVolume& volume, std::uint64_t position)
{
    auto c = volume.ClusterOfByte(position);
    return c ? static_cast<std::int64_t>(*c) : -1;
}
// ReadFatEntry32: true and `next` set when the FAT cell of `cluster` names a next cluster.
inline bool ReadFatEntry32(ExfatFatReader& fat, std::uint32_t cluster, std::uint32_t& next)
{
    return fat.Next(cluster, next);
}
// IsExfatDirectoryCluster: the first byte of the cluster's first sector is a
// file, stream or name entry type (in use or deleted).
bool IsExfatDirectoryCluster(const ExfatVolume& volume, std::uint32_t cluster);

}  // namespace torvane
