#include "fsrecovery/disk_without_partitions.h"

#include "disk/boot_record.h"
#include "disk/fs_kind.h"
#include "disk/sector_bytes.h"

#include <limits>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

}  // namespace

DiskWithoutPartitionsOutcome PrepareDiskWithoutPartitions(CurrentPartition& p, Device& device,
                                                          const AutomaticPartitionSearch& search,
                                                          const std::function<bool()>& stop,
                                                          std::atomic<std::uint64_t>* currentSector, ScanSink* sink)
{
    if (!p.DiskListsNoPartition)
        return DiskWithoutPartitionsOutcome::NotApplicable;
    PartitionDescriptor& d = p.Descriptor;

    // A volume that begins at the disk's first sector is read as what its
    // boot record says, whatever the disk's size suggests: a FAT16 volume
    // read as FAT32 shows invented folders, an exFAT or NTFS one nothing.
    SectorBytes first;
    ReadOneSector(device, 0, first);
    const FsKind atZero = RecognizeVolumeBootRecord(first.View());
    if (atZero != FsKind::Unknown) {
        d.FsType = std::string(FsKindText(atZero));
        d.StartSector = 0;
        d.ItemStart = 0;
        p.ScanStartFsName = d.FsType;
        return DiskWithoutPartitionsOutcome::VolumeAtSectorZero;
    }

    // The guess, when its boot sector is where the scan starts.
    CurrentPartition probe = p;
    if (ReadVolumeParameters(probe, device) == 1)
        return DiskWithoutPartitionsOutcome::GuessReadable;
    if (!search)
        return DiskWithoutPartitionsOutcome::NothingFound;

    AutomaticSearchRequest request;
    request.device = p.Device;
    request.devicePath = p.DevicePath;
    request.diskNumber = d.DiskNumber;
    request.diskSectors = p.CurrentDiskSectorCount != 0 ? p.CurrentDiskSectorCount : d.EndSector;
    request.stop = stop;
    request.currentSector = currentSector;
    if (!request.device)
        return DiskWithoutPartitionsOutcome::NothingFound;
    if (sink) {
        sink->StepText(kAutomaticSearchStatusText);
        sink->ProgressRange(0, request.diskSectors);
    }
    const std::optional<AutomaticSearchFind> find = search(request);
    if (sink)
        sink->StepText("");
    if (!find)
        return DiskWithoutPartitionsOutcome::NothingFound;
    d.FsType = find->fsName;
    d.StartSector = find->start;
    d.EndSector = find->end;
    d.ItemStart = find->start;
    d.ItemEnd = find->end;
    d.EndByte = find->end > kU64Max / kSectorSize ? kU64Max : find->end * kSectorSize;
    p.ScanStartFsName = d.FsType;
    return DiskWithoutPartitionsOutcome::PartitionFound;
}

}  // namespace torvane
