#include "fsrecovery/exfat/exfat_volume.h"

#include "disk/sector_reader.h"

#include <algorithm>
#include <unordered_set>

namespace torvane {

bool ExfatVolume::ValidCluster(std::uint32_t cluster) const
{
    if (cluster < 2 || clusterBytes == 0)
        return false;
    if (clusterCount != 0 && cluster - 2 >= clusterCount)
        return false;
    const std::uint64_t start = ClusterByte(cluster);
    return start >= heapByte && start < endByte;
}

std::optional<std::uint32_t> ExfatVolume::ClusterOfByte(std::uint64_t byte) const
{
    if (clusterBytes == 0 || byte < heapByte)
        return std::nullopt;
    const std::uint64_t index = (byte - heapByte) / clusterBytes;
    if (index > 0xFFFFFFF0u)
        return std::nullopt;
    const auto cluster = static_cast<std::uint32_t>(index + 2);
    if (!ValidCluster(cluster))
        return std::nullopt;
    return cluster;
}

std::uint64_t ExfatVolume::BytesFromClusterToEnd(std::uint32_t cluster) const
{
    if (!ValidCluster(cluster))
        return 0;
    std::uint64_t end = endByte;
    if (clusterCount != 0)
        end = std::min<std::uint64_t>(end, heapByte + static_cast<std::uint64_t>(clusterCount) * clusterBytes);
    const std::uint64_t start = ClusterByte(cluster);
    return end > start ? end - start : 0;
}

ExfatVolume MakeExfatVolume(Device& device, std::uint64_t volumeByte, const ExfatBootRecord& boot,
                            std::uint64_t deviceEnd)
{
    ExfatVolume v;
    v.device = &device;
    v.volumeByte = volumeByte;
    v.clusterBytes = boot.bytesPerSector * boot.sectorsPerCluster;
    v.heapByte = volumeByte + static_cast<std::uint64_t>(boot.heapOffset) * boot.bytesPerSector;
    v.clusterCount = boot.clusterCount;
    v.fatByte = volumeByte + static_cast<std::uint64_t>(boot.fatOffset) * boot.bytesPerSector;
    const std::uint64_t cells = static_cast<std::uint64_t>(boot.fatLength) * boot.bytesPerSector / 4;
    v.fatCells = static_cast<std::uint32_t>(std::min<std::uint64_t>(cells, 0xFFFFFFFFu));
    std::uint64_t end = deviceEnd;
    if (boot.volumeLength != 0) {
        const std::uint64_t volumeEnd = volumeByte + boot.volumeLength * boot.bytesPerSector;
        if (volumeEnd > volumeByte)
            end = std::min(end, volumeEnd);
    }
    v.endByte = end;
    v.rootCluster = boot.rootCluster;
    return v;
}

ExfatVolume ExfatVolumeOf(const CurrentPartition& p, Device& device)
{
    ExfatVolume v;
    v.device = &device;
    const std::uint64_t deviceEnd = device.SizeBytes();
    std::uint64_t end = deviceEnd;
    if (p.Descriptor.EndByte != 0)
        end = std::min(end, p.Descriptor.EndByte);
    if (p.Descriptor.EndSector != 0)
        end = std::min(end, p.Descriptor.EndSector * 512);
    const ExfatPositions& e = p.Exfat;
    const std::uint32_t spc = p.Geometry.SectorsPerCluster;
    if (!p.ExfatFallbackGeometry && e.BytesPerSector >= 512 && e.BytesPerSector <= 4096 && e.SectorsPerCluster != 0) {
        // From the boot sector: Cluster0Start holds the heap offset (sectors of
        // the volume), FirstFatStart the FAT offset, relative to the volume.
        v.volumeByte = e.VolumeByteBase;
        const std::uint64_t bytes = static_cast<std::uint64_t>(e.BytesPerSector) * e.SectorsPerCluster;
        if (bytes > (32u << 20))
            return v;
        v.clusterBytes = static_cast<std::uint32_t>(bytes);
        v.heapByte = e.VolumeByteBase + p.Geometry.Cluster0Start * e.BytesPerSector;
        v.clusterCount = e.ClusterCount;
        v.fatByte = e.VolumeByteBase + e.FatByteOffset;
        const std::uint64_t cells = static_cast<std::uint64_t>(p.Geometry.SectorsPerFat) * e.BytesPerSector / 4;
        v.fatCells = static_cast<std::uint32_t>(std::min<std::uint64_t>(cells, 0xFFFFFFFFu));
        if (e.VolumeLength != 0)
            end = std::min(end, e.VolumeByteBase + e.VolumeLength * e.BytesPerSector);
        v.rootCluster = p.Geometry.RootStart;
    } else if (spc != 0 && spc <= 65536) {
        // Fallback: cluster k at Cluster0Start + k * spc (absolute sectors).
        v.volumeByte = p.Descriptor.StartSector * 512;
        v.clusterBytes = spc * 512;
        v.heapByte = (p.Geometry.Cluster0Start + 2ull * spc) * 512;
        if (e.FatByteOffset != 0) {
            v.fatByte = v.volumeByte + e.FatByteOffset;
            v.fatCells = p.Geometry.SectorsPerFat ? p.Geometry.SectorsPerFat * 128u : 0;
        }
        v.rootCluster = p.Geometry.RootStart;
    }
    v.endByte = end;
    return v;
}

std::optional<std::uint32_t> ExfatFatReader::Cell(std::uint32_t cluster)
{
    if (volume_.fatByte == 0 || !volume_.device || (volume_.fatCells != 0 && cluster >= volume_.fatCells))
        return std::nullopt;
    const std::uint64_t byte = volume_.fatByte + static_cast<std::uint64_t>(cluster) * 4;
    if (byte + 4 > volume_.endByte)
        return std::nullopt;
    const std::uint64_t sector = byte / 512;
    if (sector != cachedSector_) {
        cachedSector_ = sector;
        cachedOk_ = ReadBytesFrom(*volume_.device, sector * 512, sector_, 512) != 0;
    }
    if (!cachedOk_)
        return std::nullopt;
    return ByteView(sector_, sizeof sector_).U32(byte % 512);
}

bool ExfatFatReader::Next(std::uint32_t cluster, std::uint32_t& next)
{
    auto cell = Cell(cluster);
    if (!cell || *cell == 0 || *cell == kExfatBadCluster || *cell == kExfatEndOfChain || *cell == 0x0FFFFFFF)
        return false;
    next = *cell;
    return true;
}

std::vector<std::uint32_t> ExfatClusterList(const ExfatVolume& volume, ExfatFatReader& fat,
                                            const ExfatAllocation& allocation, std::uint64_t maxClusters,
                                            bool* chainBroken)
{
    std::vector<std::uint32_t> out;
    if (chainBroken)
        *chainBroken = false;
    const std::uint32_t first = allocation.firstCluster;
    if (maxClusters == 0 || !volume.ValidCluster(first))
        return out;
    // Never more clusters than the volume has.
    const std::uint64_t available = volume.BytesFromClusterToEnd(first) / volume.clusterBytes;
    bool contiguous = allocation.noFatChain;
    if (!contiguous) {
        auto cell = fat.Cell(first);
        contiguous = !cell || *cell == 0;
    }
    if (contiguous) {
        const std::uint64_t n = std::min(maxClusters, std::max<std::uint64_t>(available, 1));
        out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(n, 1u << 20)));
        for (std::uint64_t i = 0; i < n; ++i)
            out.push_back(static_cast<std::uint32_t>(first + i));
        return out;
    }
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t cluster = first;
    while (out.size() < maxClusters) {
        if (!volume.ValidCluster(cluster) || !seen.insert(cluster).second) {
            if (chainBroken)
                *chainBroken = true;
            break;
        }
        out.push_back(cluster);
        if (out.size() >= maxClusters)
            break;
        auto cell = fat.Cell(cluster);
        if (!cell || *cell == kExfatEndOfChain || *cell == 0x0FFFFFFF) {
            break;
        }
        if (*cell == 0 || *cell == kExfatBadCluster) {
            if (chainBroken)
                *chainBroken = true;
            break;
        }
        cluster = *cell;
    }
    return out;
}

}  // namespace torvane

namespace torvane {

ExfatVolume LoadExfatVolume(const CurrentPartition& p, Device& device, bool* fromBootSector)
{
    std::uint64_t end = device.SizeBytes();
    if (p.Descriptor.EndByte != 0)
        end = std::min(end, p.Descriptor.EndByte);
    if (p.Descriptor.EndSector != 0)
        end = std::min(end, p.Descriptor.EndSector * 512);
    const std::uint64_t start = p.Descriptor.StartSector;
    for (std::uint64_t sector : {start, start + 12}) {
        std::uint8_t boot[512];
        if (ReadBytesFrom(device, sector * 512, boot, sizeof boot) == 0)
            continue;
        if (const auto params = ReadExfatBootRecord(ByteView(boot, sizeof boot))) {
            ExfatVolume v = MakeExfatVolume(device, start * 512, *params, end);
            if (v.Usable() && v.heapByte < end) {
                if (fromBootSector)
                    *fromBootSector = true;
                return v;
            }
        }
    }
    if (fromBootSector)
        *fromBootSector = false;
    return ExfatVolumeOf(p, device);
}

}  // namespace torvane

namespace torvane {

bool IsExfatDirectoryCluster(const ExfatVolume& volume, std::uint32_t cluster)
{
    if (!volume.Usable() || !volume.ValidCluster(cluster))
        return false;
    std::uint8_t b[512];
    if (ReadBytesFrom(*volume.device, volume.ClusterByte(cluster), b, sizeof b) == 0)
        return false;
    return IsExfatFileType(b[0]) || IsExfatStreamType(b[0]) || IsExfatNameType(b[0]);
}

}  // namespace torvane
