#include "fsrecovery/exfat/exfat_format.h"

#include "base/text_encoding.h"

#include <cstring>

namespace torvane {

bool ParseExfatBootSector(const std::uint8_t* boot, std::size_t size, ExfatBootParams& out)
{
    if (!boot || size < 512 || std::memcmp(boot + 3, "EXFAT   ", 8) != 0)
        return false;
    const std::uint8_t bpsShift = boot[108];
    const std::uint8_t spcShift = boot[109];
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift)
        return false;
    ExfatBootParams p;
    p.partitionOffset = ExfatU64(boot + 64);
    p.volumeLength = ExfatU64(boot + 72);
    p.fatOffset = ExfatU32(boot + 80);
    p.fatLength = ExfatU32(boot + 84);
    p.heapOffset = ExfatU32(boot + 88);
    p.clusterCount = ExfatU32(boot + 92);
    p.rootCluster = ExfatU32(boot + 96);
    p.serial = ExfatU32(boot + 100);
    p.bytesPerSector = 1u << bpsShift;
    p.sectorsPerCluster = 1u << spcShift;
    // The FAT and the heap lie inside the volume (when the volume length is
    // known), the FAT before the heap, and the root inside the heap.
    if (p.fatOffset == 0 || p.fatLength == 0 || p.heapOffset < p.fatOffset)
        return false;
    if (p.volumeLength != 0 && (p.heapOffset >= p.volumeLength || p.fatOffset >= p.volumeLength))
        return false;
    if (p.clusterCount == 0 || p.clusterCount > 0xFFFFFFF5u)
        return false;
    if (p.rootCluster < 2 || p.rootCluster - 2 >= p.clusterCount)
        return false;
    // The FAT must hold a cell for every cluster.
    const std::uint64_t fatBytes = static_cast<std::uint64_t>(p.fatLength) * p.bytesPerSector;
    if (fatBytes / 4 < static_cast<std::uint64_t>(p.clusterCount) + 2)
        return false;
    out = p;
    return true;
}

std::string DecodeExfatNameEntry(const std::uint8_t* entry)
{
    std::size_t units = 0;
    while (units < 15 && ExfatU16(entry + 2 + 2 * units) != 0)
        ++units;
    return Utf16LeToUtf8(entry + 2, units);
}

std::uint16_t ExfatSetChecksum(const std::uint8_t* entries, std::size_t count)
{
    std::uint16_t sum = 0;
    const std::size_t bytes = count * kExfatEntrySize;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i == 2 || i == 3)
            continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + entries[i]);
    }
    return sum;
}

void SplitExfatTimestamp(std::uint32_t timestamp, std::uint32_t& date, std::uint32_t& time)
{
    if (timestamp & 0x80000000u) {
        date = 0;
        time = 0;
        return;
    }
    date = timestamp >> 16;
    time = timestamp & 0xFFFF;
}

}  // namespace torvane
