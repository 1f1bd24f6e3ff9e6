// Feeds arbitrary disks through the partition-table walk (MBR, EBR chain,
// GPT array) and the boot-sector reader the listing runs on FAT partitions.
#include "disk/partition_table.h"
#include "fuzz_disk_input.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    torvane::fuzz::RepeatingDisk disk(data, size);
    torvane::PartitionWalk walk = torvane::WalkPartitionTable(disk, disk.Sectors());
    if (walk.Partitions.size() > static_cast<std::size_t>(torvane::kMaxPartitionsPerDisk)) __builtin_trap();
    for (const auto& part : walk.Partitions) {
        if (part.FsName.rfind("FAT", 0) == 0) {
            torvane::VolumeGeometry g;
            (void)torvane::ReadPartitionGeometry(disk, part, g);
        }
    }
    (void)torvane::IsDynamicDisk(disk, disk.Sectors());
    return 0;
}
