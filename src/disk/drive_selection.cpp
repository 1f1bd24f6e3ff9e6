#include "disk/drive_selection.h"

#include "base/program_state.h"
#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "platform/device_registry.h"

#include <algorithm>

namespace torvane {
namespace {

bool IsSearchMode(int mode) { return mode >= 1 && mode <= 5; }
bool ScansRange(int mode) { return mode >= 2 && mode <= 5; }

// The disk number of a disk record: its own number, else its device id, else
// the tag in the item's text.
int DiskNumberOf(const DriveDetails& d, const std::string& itemText) {
    if (!d.DiskNumberText.empty()) {
        const std::uint64_t n = ParseDecimalU64(d.DiskNumberText);
        if (n < static_cast<std::uint64_t>(kMaxDisks)) return static_cast<int>(n);
    }
    const int fromId = ParsePhysicalDriveNumber(d.DeviceId);
    if (fromId >= 0) return fromId;
    return ParseDiskNumber(TrimText(itemText));
}

// The partition record behind a partition item: the record that names this
// item, else (records made before their item existed) the first whose item
// has the same text.
int FindPartitionRecord(const DriveInventory& inv, int disk, TreeNodeId node) {
    const DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk);
    if (entry == nullptr) return -1;
    const std::uint32_t n = std::min<std::uint32_t>(entry->RecordCount, kMaxPartitionsPerDisk);
    for (std::uint32_t i = 0; i < n; ++i)
        if (entry->Records[i].TreeItem == node) return static_cast<int>(i);
    const std::string text = inv.Tree.Text(node);
    for (std::uint32_t i = 0; i < n; ++i) {
        const TreeNodeId item = entry->Records[i].TreeItem;
        if (item != kNoTreeNode && inv.Tree.Text(item) == text) return static_cast<int>(i);
    }
    return -1;
}

// What a scan needs of the disk whose record is `d`.
DiskContext DiskContextOf(const DriveDetails& d, int number, TreeNodeId item) {
    DiskContext c;
    c.Number = number;
    c.Item = item;
    c.SectorCount = ParseDecimalU64(d.TotalSectorsText);
    c.SizeMiB = d.SizeMiB;
    c.ModelText = d.ModelText;
    c.IdentityText = DiskIdentityText(d);
    c.Record = d;
    return c;
}

// "Disk 0 ( Partition 2 / NTFS / 16.00 MB )": the first, second, third and
// seventh value of the partition's property rows.
std::string PartitionDescription(int disk, const PartitionSource& p) {
    return "Disk " + std::to_string(disk) + " ( Partition " + std::to_string(p.Position + 1) + " / " + p.FsName +
           " / " + p.SizeText + " )";
}

// The disk size a group node leaves for the main window: that of the last
// record listed under it (a volume record knows none: 0).
std::uint64_t LastRecordSizeMiB(const DriveInventory& inv, TreeNodeId group, bool volumes) {
    std::uint64_t size = 0;
    if (group == kNoTreeNode) return size;
    for (TreeNodeId child : inv.Tree.Children(group))
        if (const auto* d = inv.Tree.PayloadAs<const DriveDetails>(child))
            size = volumes ? d->VolumeDiskSizeMiB : d->SizeMiB;
    return size;
}

}  // namespace

DiskContext DescribeDisk(const DriveInventory& inv, int disk) {
    auto lock = inv.Lock();
    if (inv.PhysicalDrivesItem == kNoTreeNode) return {};
    const TreeNodeId item = FindDiskTreeItem(inv, disk, inv.PhysicalDrivesItem);
    if (item == kNoTreeNode) return {};
    const auto* d = inv.Tree.PayloadAs<const DriveDetails>(item);
    if (d == nullptr) return {};
    return DiskContextOf(*d, disk, item);
}

ScanSource DescribeDriveNode(const DriveInventory& inv, TreeNodeId node) {
    ScanSource s;
    auto lock = inv.Lock();
    s.Kind = ClassifyDriveNode(inv, node);
    if (s.Kind == DriveNodeKind::None) return s;
    s.Node = node;
    s.KindText = SelectedNodeKindText(s.Kind);
    s.ItemText = inv.Tree.Text(node);

    switch (s.Kind) {
    case DriveNodeKind::Disk: {
        const auto* d = inv.Tree.PayloadAs<const DriveDetails>(node);
        if (d == nullptr) {
            s.DiskNumber = ParseDiskNumber(TrimText(s.ItemText));
            s.Description = s.ItemText;
            break;
        }
        s.DiskNumber = DiskNumberOf(*d, s.ItemText);
        s.Disk = DiskContextOf(*d, s.DiskNumber, node);
        s.SizeMiB = d->SizeMiB;
        s.Description = d->ItemText;
        break;
    }

    case DriveNodeKind::Volume: {
        const auto* d = inv.Tree.PayloadAs<const DriveDetails>(node);
        VolumeSource& v = s.Volume;
        if (d == nullptr) {
            v.Path = "\\\\.\\" + s.ItemText.substr(0, 1) + ":";
            s.Description = s.ItemText;
            break;
        }
        v.Path = !d->DeviceId.empty() ? d->DeviceId : "\\\\.\\" + s.ItemText.substr(0, 1) + ":";
        v.FsName = d->FsName;
        v.SectorCount = ParseDecimalU64(d->VolumeSectorCountText);
        v.Extent.DiskNumber = d->ExtentDiskNumber;
        v.Extent.Dynamic = d->Dynamic;
        v.Extent.StartSector = d->ExtentStart;
        v.Extent.EndSector = d->ExtentEnd;
        v.Record = *d;
        s.DiskNumber = static_cast<int>(d->ExtentDiskNumber);
        s.SizeMiB = d->VolumeDiskSizeMiB;
        s.Description = d->ItemText;
        break;
    }

    case DriveNodeKind::Partition: {
        // The disk is the parent item's: its record's number, else its text's tag.
        const TreeNodeId parent = inv.Tree.Parent(node);
        const std::string parentText = inv.Tree.Text(parent);
        const auto* diskRecord = inv.Tree.PayloadAs<const DriveDetails>(parent);
        const int disk = diskRecord != nullptr ? DiskNumberOf(*diskRecord, parentText)
                                               : ParseDiskNumber(TrimText(parentText));
        s.DiskNumber = disk;
        s.Disk = DescribeDisk(inv, disk);
        const int pos = FindPartitionRecord(inv, disk, node);
        if (pos < 0) break;
        const DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk);
        PartitionSource& p = s.Partition;
        p.Position = pos;
        p.FsName = entry->FsNames[static_cast<std::size_t>(pos)];
        p.Record = entry->Records[static_cast<std::size_t>(pos)];
        p.SizeText = PartitionSizeText(p.Record);
        s.Description = PartitionDescription(disk, p);
        break;
    }

    case DriveNodeKind::Computer:
    case DriveNodeKind::PhysicalDrives:
    case DriveNodeKind::LogicalDrives:
    case DriveNodeKind::Recognised:
    case DriveNodeKind::None: break;
    }
    return s;
}

void CopyDiskContext(const DiskContext& disk, CurrentPartition& p) {
    p.CurrentDiskSectorCount = disk.SectorCount;
    p.DiskFirstSector = 0;
    p.Descriptor.DiskModelText = disk.ModelText;
    p.Descriptor.DiskModelTextCopy = disk.ModelText;
    p.Descriptor.DiskIdentity = disk.IdentityText;
}

DriveSelection PrepareDriveSelection(const DriveInventory& inv, TreeNodeId node, const DriveSelectionContext& ctx) {
    DriveSelection s;
    s.ShownItem = ctx.ShownItem;
    auto lock = inv.Lock();
    s.Kind = ClassifyDriveNode(inv, node);
    if (s.Kind == DriveNodeKind::None) return s;
    const int mode = ctx.RecoveryMode;
    const std::string text = inv.Tree.Text(node);
    if (s.Kind == DriveNodeKind::Volume && text == ctx.ShownItem) {
        s.Unchanged = true;
        return s;
    }
    s.Source = DescribeDriveNode(inv, node);
    const ScanSource& src = s.Source;

    switch (s.Kind) {
    case DriveNodeKind::Computer:
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShowTable = false;
        s.ShowProgressStatics = true;
        if (ScansRange(mode)) s.ShowRange = false;
        break;

    case DriveNodeKind::PhysicalDrives:
    case DriveNodeKind::LogicalDrives: {
        const bool volumes = s.Kind == DriveNodeKind::LogicalDrives;
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        if (ScansRange(mode)) s.ShowRange = false;
        s.Table = volumes ? LogicalDrivesTable(inv) : PhysicalDrivesTable(inv);
        s.ShowTable = true;
        s.DriveSizeMiB = LastRecordSizeMiB(inv, node, volumes);
        break;
    }

    case DriveNodeKind::Disk: {
        const auto* d = inv.Tree.PayloadAs<const DriveDetails>(node);
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        if (d == nullptr) break;
        const int disk = src.DiskNumber;
        s.DiskIndex = disk;
        s.DeviceId = d->DeviceId;
        s.DriveSizeMiB = src.SizeMiB;
        s.Table = NameValueTable(DiskPropertyRows(*d));
        s.ShowTable = true;

        const std::uint64_t sectors = src.Disk.SectorCount;
        std::uint64_t first = 0;
        if (const DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk); entry && entry->RecordCount > 0)
            first = entry->Records[0].StartSector;
        s.MediaDiskSectors = sectors;
        if (mode == kModeDeep) {
            const TreeNodeId firstChild = inv.Tree.FirstChild(node);
            std::string fs;
            if (firstChild != kNoTreeNode) {
                const std::string inner = GetTextInParentheses(inv.Tree.Text(firstChild));
                for (const char* name : {"FAT16", "FAT32", "NTFS", "exFAT"})
                    if (inner.find(name) != std::string::npos) {
                        fs = name;
                        break;
                    }
            }
            s.FsComboName = fs;  // "" selects the fifth ("other") entry
        }
        if (ScansRange(mode)) {
            s.ShowRange = true;
            s.SetRange = true;
            s.RangeStart = first;
            s.RangeEnd = sectors;
            s.RangeMin = 0;
            s.RangeMax = sectors;
        }
        break;
    }

    case DriveNodeKind::Volume: {
        const auto* d = inv.Tree.PayloadAs<const DriveDetails>(node);
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        s.ShowProgressStatics = false;
        if (d == nullptr) break;
        s.DriveSizeMiB = src.SizeMiB;
        s.DeviceId = d->DeviceId;
        s.VolumePath = src.Volume.Path;
        const bool withheld = (mode == kModeBasic || mode == kModeDeep) && ctx.HoldsResults;
        s.Table = NameValueTable(withheld ? std::vector<PropertyRow>{} : VolumePropertyRows(*d));
        s.ShowTable = true;
        const std::uint64_t end = withheld ? 0 : src.Volume.SectorCount;
        if (mode == kModeDeep && !withheld) s.FsComboName = d->FsName;
        if (ScansRange(mode)) {
            s.ShowRange = true;
            s.SetRange = true;
            s.RangeStart = 0;
            s.RangeEnd = end;
            s.RangeMin = 0;
            s.RangeMax = end;
        }
        break;
    }

    case DriveNodeKind::Partition: {
        s.DriveSizeMiB = 0;
        const PartitionSource& part = src.Partition;
        if (part.Position < 0) break;  // nothing shown
        const int disk = src.DiskNumber;
        s.DiskIndex = disk;
        s.PartitionPosition = part.Position;
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        if (const auto* diskRecord = inv.Tree.PayloadAs<const DriveDetails>(inv.Tree.Parent(node)))
            s.DeviceId = diskRecord->DeviceId;
        s.Table = NameValueTable(PartitionPropertyRows(inv, part.Position, part.FsName, disk));
        s.ShowTable = true;
        s.MediaDiskSectors = src.Disk.SectorCount;
        if (mode == kModeDeep) s.FsComboName = part.FsName;
        if (ScansRange(mode)) {
            if (!(mode == kModeDeep && ctx.RemovableScanRunning)) s.ShowRange = true;
            s.SetRange = true;
            s.RangeStart = part.Record.StartSector;
            s.RangeEnd = part.Record.EndSector;
            s.RangeMin = 0;
            s.RangeMax = src.Disk.SectorCount;
        }
        break;
    }

    case DriveNodeKind::Recognised: {
        // A file system the Deep Search's sweep found inside a logical drive:
        // the drive's rows in the "Found File System" list, the type in the
        // combo, the row's extent in the range group.
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = std::string();
        s.ShowTable = false;
        s.ShowProgressStatics = false;
        s.Recognised = DescribeRecognisedNode(inv, node);
        if (!s.Recognised || mode != kModeDeep) break;
        s.ShowFoundFsList = true;
        s.VolumePath = s.Recognised->VolumePath;
        s.DeviceId = s.Recognised->VolumePath;
        s.FsComboName = s.Recognised->FsName;
        const RecognisedRange range = RecognisedSelectionRange(*s.Recognised);
        s.ShowRange = true;
        s.SetRange = true;
        s.RangeStart = range.Start;
        s.RangeEnd = range.End;
        s.RangeMin = range.Min;
        s.RangeMax = range.Max;
        break;
    }

    case DriveNodeKind::None: break;
    }
    if (!IsSearchMode(mode)) {
        s.ShowRange.reset();
        s.SetRange = false;
        s.FsComboName.reset();
    }
    return s;
}

}  // namespace torvane
