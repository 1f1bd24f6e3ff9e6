// Feeds arbitrary boot sectors through ReadVolumeParameters for each
// file-system type and each way a scan can name the chosen file system.
#include "disk/volume_geometry.h"
#include "fuzz_disk_input.h"

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
    return 0;
}
