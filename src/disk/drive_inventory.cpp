#include "disk/drive_inventory.h"

#include "base/program_state.h"
#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "disk/volume_geometry.h"

#include <algorithm>

namespace torvane {

void DriveInventory::CreateRoots(bool withLogicalDrives) {
    Tree.Clear();
    TreeNodeInit init;
    init.text = "My Computer";
    init.image = kImageComputer;
    MyComputerItem = Tree.InsertChild(kNoTreeNode, init);
    init.text = "Physical Drives";
    init.image = kImageDriveGroup;
    PhysicalDrivesItem = Tree.InsertChild(MyComputerItem, init);
    LogicalDrivesItem = kNoTreeNode;
    if (withLogicalDrives) {
        init.text = "Logical Drives";
        LogicalDrivesItem = Tree.InsertChild(MyComputerItem, init);
    }
    Tree.RequestExpand(MyComputerItem);
    SelectedItem = MyComputerItem;
}

DriveDetails* DriveInventory::NewRecord() {
    auto lock = Lock();
    records_.push_back(std::make_unique<DriveDetails>());
    return records_.back().get();
}

void DriveInventory::ClearRecords() {
    auto lock = Lock();
    records_.clear();
}

std::string DriveInventory::ModeName() const { return RecoveryModeText(RecoveryMode, SignatureModeText); }

void DriveInventory::ResetForRefresh() {
    auto lock = Lock();
    PartitionTable.Reset();
    DiskMediaList.clear();
    DiskIdentityList.clear();
    VolumeSizeList.clear();
    SmpParamList.clear();
    AccessDeniedDisks.clear();
    DynamicDisks.clear();
    RecognisedVolumes.Clear();
    LogicalDrivesListed = false;
}

namespace {
bool InSearchMode(const DriveInventory& inv) { return inv.RecoveryMode >= 1 && inv.RecoveryMode <= 5; }
}  // namespace

TreeNodeId AddDriveTreeItem(DriveInventory& inv, const std::string& text, TreeNodeId parent) {
    if (!InSearchMode(inv)) return kNoTreeNode;
    // The inventory's lock first, then the tree's: the order every reader takes.
    auto lock = inv.Lock();
    auto treeLock = inv.Tree.Lock();
    if (parent != kNoTreeNode && inv.Tree.Text(parent).find("Partition") != std::string::npos) return parent;
    if (parent == kNoTreeNode) parent = inv.SelectedItem.load();
    if (parent == kNoTreeNode || !inv.Tree.IsValid(parent)) return kNoTreeNode;
    TreeNodeInit init;
    init.text = text;
    init.image = kImagePartition;
    TreeNodeId item = inv.Tree.InsertChild(parent, init);
    inv.Tree.RequestExpand(parent);
    return item;
}

TreeNodeId FindDiskTreeItem(const DriveInventory& inv, int disk, TreeNodeId parent) {
    const std::string tag = FormatDiskTag(disk);
    return inv.Tree.FindChildIf(parent, [&](TreeNodeId child) {
        return inv.Tree.Text(child).find(tag) != std::string::npos;
    });
}

std::string DiskIdentityText(const DriveDetails& d) {
    return TrimText(d.ModelText + "||" + d.DiskCapacityText + "||" +
                    std::to_string(ParseDecimalU64(d.TotalSectorsText)) + "||" + d.DiskNumberText);
}

PartitionWalk ListDiskPartitions(DriveInventory& inv, int diskIndex, Device& disk, std::uint64_t diskSectors,
                                 TreeNodeId parent) {
    PartitionWalk walk = WalkPartitionTable(disk, diskSectors);
    // Geometry of the FAT partitions is read before any lock is taken.
    std::vector<VolumeGeometry> geometry(walk.Partitions.size());
    std::vector<bool> haveGeometry(walk.Partitions.size(), false);
    for (std::size_t i = 0; i < walk.Partitions.size(); ++i)
        if (walk.Partitions[i].FsName.rfind("FAT", 0) == 0)
            haveGeometry[i] = ReadPartitionGeometry(disk, walk.Partitions[i], geometry[i]);

    auto lock = inv.Lock();
    DiskPartitionEntry* entry = inv.PartitionTable.Entry(diskIndex);
    if (!entry) return walk;
    if (walk.Dynamic) inv.DynamicDisks.push_back(diskIndex);
    for (std::size_t i = 0; i < walk.Partitions.size(); ++i) {
        const FoundPartition& part = walk.Partitions[i];
        const int pos = static_cast<int>(i);
        TreeNodeId item = kNoTreeNode;
        if (parent != kNoTreeNode) item = AddDriveTreeItem(inv, PartitionItemText(pos + 1, part.FsName), parent);
        if (!entry->Put(pos, part.FsName, part.StartSector, part.EndSector, item)) break;
        entry->Records[i].TableEndSector = part.TableEndSector;
        if (haveGeometry[i]) entry->Records[i].Geometry = geometry[i];
    }
    return walk;
}

namespace {

// Whether a listed partition already stands for the mounted volume's extent.
bool VolumeListed(const DiskPartitionEntry& entry, const VolumeDiskExtent& ext) {
    std::uint32_t n = std::min<std::uint32_t>(entry.RecordCount, kMaxPartitionsPerDisk);
    for (std::uint32_t i = 0; i < n; ++i) {
        const PartitionRecord& r = entry.Records[i];
        if (r.StartSector == ext.StartSector && r.EndSector == ext.EndSector) return true;
        if (r.EndSector == ext.EndSector) continue;  // same end, another start: a different partition
        bool startInside = r.StartSector >= ext.StartSector && r.StartSector < ext.EndSector;
        bool endNear = r.EndSector + 63 >= ext.EndSector && r.EndSector <= ext.EndSector + 63;
        if (startInside && endNear) return true;
    }
    return false;
}

}  // namespace

void AddLogicalVolumePartition(DriveInventory& inv, const std::string& fsName, const VolumeDiskExtent& extent) {
    if (!extent.Known) return;
    std::string name = fsName == "FAT" ? "FAT16" : fsName;
    auto lock = inv.Lock();
    DiskPartitionEntry* entry = inv.PartitionTable.Entry(static_cast<int>(extent.DiskNumber));
    if (!entry) return;
    if (VolumeListed(*entry, extent)) return;
    TreeNodeId diskItem = FindDiskTreeItem(inv, static_cast<int>(extent.DiskNumber), inv.PhysicalDrivesItem);
    if (diskItem == kNoTreeNode || inv.PhysicalDrivesItem == kNoTreeNode) return;
    // The partition's number follows the disk item's children; its record
    // never overwrites one in use.
    int pos = std::max(inv.Tree.CountChildItems(diskItem), static_cast<int>(entry->RecordCount));
    if (pos >= kMaxPartitionsPerDisk) return;
    TreeNodeId item = AddDriveTreeItem(inv, PartitionItemText(pos + 1, name), diskItem);
    if (item == diskItem) item = kNoTreeNode;
    entry->Put(pos, name, extent.StartSector, extent.EndSector, item);
}

}  // namespace torvane
