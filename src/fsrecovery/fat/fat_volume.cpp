#include "fsrecovery/fat/fat_volume.h"

namespace torvane {

FatKind FatKindOf(FsKind fs)
{
    if (fs == FsKind::Fat16)
        return FatKind::Fat16;
    if (fs == FsKind::Fat32 || fs == FsKind::Exfat)
        return FatKind::Fat32;
    return FatKind::None;
}

std::uint64_t FatVolume::FatCellCapacity() const
{
    if (sectorsPerFat == 0)
        return 0;
    return static_cast<std::uint64_t>(sectorsPerFat) * (kind == FatKind::Fat16 ? 256u : 128u);
}

std::uint64_t FatVolume::LastClusterInVolume() const
{
    if (sectorsPerCluster == 0 || endSector <= cluster0Start)
        return 0;
    return (endSector - 1 - cluster0Start) / sectorsPerCluster;
}

FatVolume FatVolumeFromDescriptor(const PartitionDescriptor& d)
{
    FatVolume v;
    v.fs = FsKindFromText(d.FsName.empty() ? d.FsType : d.FsName);
    v.kind = FatKindOf(v.fs);
    v.startSector = d.StartSector;
    v.endSector = d.EndSector;
    v.endByte = d.EndByte ? d.EndByte : d.EndSector * 512;
    v.fatStart = d.FirstFatStart;
    v.sectorsPerFat = d.SectorsPerFat;
    v.sectorsPerCluster = d.SectorsPerCluster;
    v.cluster0Start = d.Cluster0Start;
    v.rootStart = d.RootStart;
    v.rootSectors = d.RootSectors;
    return v;
}

FatVolume FatVolumeFromPartition(const CurrentPartition& p)
{
    return FatVolumeFromDescriptor(p.Descriptor);
}

}  // namespace torvane
