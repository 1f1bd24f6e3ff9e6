#include "partsearch/partition_search_tree.h"

#include "disk/drive_selection.h"
#include "disk/drive_tree_rules.h"
#include "partsearch/found_partition_apply.h"
#include "platform/device_registry.h"

#include <cstdio>

namespace torvane {

PartitionSearchTarget PartitionSearchTargetOf(const DriveInventory& inv, TreeNodeId node)
{
    PartitionSearchTarget target;
    DriveNodeKind kind = ClassifyDriveNode(inv, node);
    if (kind == DriveNodeKind::Partition) {
        // A partition searches its disk.
        node = inv.Tree.Parent(node);
        kind = ClassifyDriveNode(inv, node);
    }
    if (kind != DriveNodeKind::Disk)
        return target;
    const ScanSource source = DescribeDriveNode(inv, node);
    if (source.DiskNumber < 0 || source.DiskNumber >= kMaxDiskEntries)
        return target;
    target.disk = source.DiskNumber;
    target.diskItem = node;
    target.sectors = source.Disk.SectorCount;
    target.devicePath = PhysicalDrivePath(source.DiskNumber);
    return target;
}

std::string NoPhysicalStorageText(int disk)
{
    char text[320];
    std::snprintf(text, sizeof text,
                  "No physical storage area found in Disk(Disk - %d).\n\nIf you have connected your storage using any "
                  "usb hub or extension, check storage connections or connect the storage media directly to your system.",
                  disk);
    return text;
}

PartitionSearchParams PreparePartitionSearch(const DriveInventory& inv, const PartitionSearchTarget& target,
                                             SmpMode depth)
{
    PartitionSearchParams params;
    params.diskNumber = target.disk;
    params.depth = depth;
    params.diskSectors = target.sectors;
    {
        auto lock = inv.Lock();
        if (const DiskPartitionEntry* entry = inv.PartitionTable.Entry(target.disk))
            params.table = *entry;
        params.shownPartitions = target.diskItem == kNoTreeNode ? 0 : static_cast<int>(inv.Tree.ChildCount(target.diskItem));
    }
    if (!target.devicePath.empty()) {
        params.device = DeviceRegistry::Instance().Open(target.devicePath);
        if (params.device)
            params.readAheadThreads = SuggestedReadAheadThreads(params.device->Path());
    }
    return params;
}

std::string WholeDiskEntryType(std::uint64_t sectors)
{
    if ((sectors >> 21) > 34)
        return "NTFS";
    if (sectors >= 2048)
        return "FAT32";
    return "Unknown";
}

SearchEndInTree ShowSearchResultInTree(DriveInventory& inv, int disk, TreeNodeId diskItem, std::uint64_t diskSectors)
{
    SearchEndInTree end;
    if (diskItem == kNoTreeNode || !inv.Tree.IsValid(diskItem))
        return end;
    auto lock = inv.Lock();
    const TreeNodeId first = inv.Tree.FirstChild(diskItem);
    if (first != kNoTreeNode) {
        end.select = first;
        return end;
    }
    DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk);
    if (!entry)
        return end;
    const std::string type = WholeDiskEntryType(diskSectors);
    end.entryText = type == "Unknown" ? std::string("Unknown Partition") : PartitionItemText(1, type);
    const TreeNodeId item = AddDriveTreeItem(inv, end.entryText, diskItem);
    if (item == kNoTreeNode || item == diskItem)
        return end;
    entry->Put(0, type, 0, diskSectors, item);
    HighlightFoundPartition(inv, disk, 0, end.entryText);
    inv.Tree.RequestExpand(diskItem);
    end.select = item;
    end.wholeDiskEntry = true;
    return end;
}

TreeNodeId FirstRemovableDiskWithoutPartitions(const DriveInventory& inv)
{
    auto lock = inv.Lock();
    const TreeNodeId drives = inv.PhysicalDrivesItem;
    if (drives == kNoTreeNode || inv.Tree.Text(drives) != "Physical Drives")
        return kNoTreeNode;
    for (TreeNodeId child : inv.Tree.Children(drives))
        if (inv.Tree.Text(child).find("Removable Media") != std::string::npos && inv.Tree.ChildCount(child) == 0)
            return child;
    return kNoTreeNode;
}

std::uint32_t TranslatedCylinders(std::uint32_t cylinders, std::uint32_t heads, std::uint32_t sectorsPerTrack)
{
    if (sectorsPerTrack == 63)
        return cylinders;
    // Widened: a product past 2^32 would probe wrapped positions.
    const std::uint64_t n = static_cast<std::uint64_t>(sectorsPerTrack) * heads * cylinders / 16065u;
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(n);
}

std::vector<MediaScanDisk> RemovableMediaDisks(const DriveInventory& inv)
{
    std::vector<MediaScanDisk> disks;
    auto lock = inv.Lock();
    for (const SmpParam& job : inv.SmpParamList) {
        if (job.TreeItem == kNoTreeNode || !inv.Tree.IsValid(job.TreeItem))
            continue;
        const TreeNodeId parent = inv.Tree.Parent(job.TreeItem);
        if (inv.Tree.Text(job.TreeItem).find("Removable Media") == std::string::npos ||
            parent == kNoTreeNode || inv.Tree.Text(parent) != "Physical Drives")
            continue;
        MediaScanDisk d;
        d.disk = ParsePhysicalDriveNumber(job.DevicePath);
        if (d.disk < 0 || d.disk >= kMaxDiskEntries)
            continue;
        d.item = job.TreeItem;
        d.devicePath = job.DevicePath;
        d.totalSectors = job.TotalSectors;
        d.cylinders = TranslatedCylinders(job.Cylinders, job.TracksPerCylinder, job.SectorsPerTrack);
        if (const DiskPartitionEntry* entry = inv.PartitionTable.Entry(d.disk))
            d.table = *entry;
        d.shownPartitions = static_cast<int>(inv.Tree.ChildCount(job.TreeItem));
        disks.push_back(std::move(d));
    }
    if (!disks.empty())
        disks.back().last = true;
    return disks;
}

}  // namespace torvane
