// Feeds arbitrary boot sectors through ReadVolumeParameters for each
// file-system type and each way a scan can name the chosen file system, and
// through what a scan makes of a disk that lists no partition.
#include "base/byte_view.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/disk_without_partitions.h"
#include "fuzz_disk_input.h"

#include <memory>
#include <optional>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    torvane::fuzz::RepeatingDisk disk(data, size);
    static const char* const kTypes[] = {"FAT16", "FAT32", "exFAT", "NTFS"};
    static const char* const kChosen[] = {"", "FAT16", "FAT32", "exFAT", "NTFS"};
    const std::uint64_t sectors = disk.Sectors();
    for (const char* type : kTypes) {
        for (const char* chosen : kChosen) {
            torvane::CurrentPartition p;
            p.Descriptor.FsType = type;
            p.Descriptor.StartSector = 0;
            p.Descriptor.EndSector = sectors;
            p.ScanStartFsName = chosen;
            p.SelectedSourceKind = (size & 1) ? "Recognised" : "Hard Disk";
            p.Descriptor.ItemStart = sectors / 2;
            torvane::VolumeParameterReport report;
            (void)torvane::ReadVolumeParameters(p, disk, &report);
        }
    }
    // The same disk listing no partition: sector 0 decides, else the guess,
    // else a search that finds what the input's first bytes say.
    for (const char* type : kTypes) {
        torvane::CurrentPartition p;
        p.Descriptor.FsType = type;
        p.Descriptor.EndSector = sectors;
        p.DiskListsNoPartition = true;
        p.Device = std::make_shared<torvane::fuzz::RepeatingDisk>(data, size);
        const torvane::ByteView head(data, size);
        torvane::AutomaticPartitionSearch search = [&](const torvane::AutomaticSearchRequest&) {
            return std::optional<torvane::AutomaticSearchFind>(
                torvane::AutomaticSearchFind{kTypes[head.U8(0) & 3], head.U64(1), head.U64(9)});
        };
        const auto outcome = torvane::PrepareDiskWithoutPartitions(p, disk, search, {}, nullptr);
        if (outcome == torvane::DiskWithoutPartitionsOutcome::VolumeAtSectorZero && p.Descriptor.StartSector != 0)
            __builtin_trap();
        (void)torvane::ReadVolumeParameters(p, disk);
    }
    return 0;
}
