// `torvane_e2e partitions --image IMG --depth standard|advanced|cylinder`:
// runs Search More Partitions on a disk image whose partition table is
// taken as it is (the records the listing finds count as known), and prints
// each partition the search records.
#include "e2e_partitions.h"

#include "disk/partition_table.h"
#include "partsearch/partition_search.h"

#include <cstdio>
#include <iostream>
#include <string>

int RunPartitionsMode(int argc, char** argv)
{
    using namespace torvane;
    std::string image, depth = "standard";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--image") {
            image = value;
            ++i;
        } else if (arg == "--depth") {
            depth = value;
            ++i;
        } else {
            image.clear();
            break;
        }
    }
    SmpMode mode = depth == "standard" ? SmpMode::Standard : depth == "advanced" ? SmpMode::Advanced
                 : depth == "cylinder" ? SmpMode::Cylinder : SmpMode::None;
    if (image.empty() || mode == SmpMode::None) {
        std::cerr << "usage: torvane_e2e partitions --image IMG --depth standard|advanced|cylinder\n";
        return 2;
    }
    std::string error;
    DevicePtr device = OpenFileDevice(image, &error);
    if (!device) {
        std::cerr << "cannot open " << image << ": " << error << "\n";
        return 1;
    }
    PartitionSearchParams params;
    params.device = device;
    params.depth = mode;
    params.diskSectors = device->SizeBytes() / kSectorSize;
    params.readAheadThreads = SuggestedReadAheadThreads(image);
    // What the partition listing shows of the disk is known already.
    const PartitionWalk walk = WalkPartitionTable(*device, params.diskSectors);
    for (const FoundPartition& p : walk.Partitions) {
        const int pos = params.table.Append(p.FsName, p.StartSector, p.EndSector, kNoTreeItem);
        VolumeGeometry g;
        if (pos >= 0 && p.FsName.rfind("FAT", 0) == 0 && ReadPartitionGeometry(*device, p, g))
            params.table.Records[static_cast<std::size_t>(pos)].Geometry = g;
    }
    PartitionSearchControl control;
    control.onFound = [](const FoundPartitionEvent& f) {
        std::printf("%s %llu %llu\t%s\n", f.fsName.c_str(), static_cast<unsigned long long>(f.start),
                    static_cast<unsigned long long>(f.end - f.start), FoundByText(f.by));
        std::fflush(stdout);
    };
    RunPartitionSearch(params, control);
    return 0;
}
