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

}  // namespace

DriveSelection PrepareDriveSelection(DriveInventory& inv, TreeNodeId node, const DriveSelectionContext& ctx) {
    DriveSelection s;
    s.ShownItem = ctx.ShownItem;
    auto lock = inv.Lock();
    s.Kind = ClassifyDriveNode(inv, node);
    if (s.Kind == DriveNodeKind::None) return s;
    inv.SelectedItem = node;
    const int mode = ctx.RecoveryMode;
    const std::string text = inv.Tree.Text(node);

    switch (s.Kind) {
    case DriveNodeKind::Computer:
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShowTable = false;
        s.ShowProgressStatics = true;
        if (ScansRange(mode)) s.ShowRange = false;
        break;

    case DriveNodeKind::PhysicalDrives:
    case DriveNodeKind::LogicalDrives:
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        if (ScansRange(mode)) s.ShowRange = false;
        s.Table = s.Kind == DriveNodeKind::PhysicalDrives ? PhysicalDrivesTable(inv) : LogicalDrivesTable(inv);
        s.ShowTable = true;
        s.DriveSizeMiB = inv.DiskSizeMiB;
        break;

    case DriveNodeKind::Disk: {
        auto* d = inv.Tree.PayloadAs<DriveDetails>(node);
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        if (d == nullptr) break;
        const int disk = DiskNumberOf(*d, text);
        s.DiskIndex = disk;
        s.DeviceId = d->DeviceId;
        inv.CurrentDiskIndex = disk;
        inv.CurrentDriveDetails = d;
        inv.DiskSizeMiB = d->SizeMiB;
        inv.DiskFirstSector = 0;
        inv.CurrentDiskSectorCount = ParseDecimalU64(d->TotalSectorsText);
        inv.DiskModelText = d->ModelText;
        inv.DiskModelTextCopy = d->ModelText;
        inv.DiskIdentity = DiskIdentityText(*d);
        s.DriveSizeMiB = d->SizeMiB;
        s.Table = NameValueTable(DiskPropertyRows(*d));
        s.ShowTable = true;

        const std::uint64_t sectors = ParseDecimalU64(d->TotalSectorsText);
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
        if (text == ctx.ShownItem) {
            s.Unchanged = true;
            s.Kind = DriveNodeKind::Volume;
            return s;
        }
        auto* d = inv.Tree.PayloadAs<DriveDetails>(node);
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        s.ShowProgressStatics = false;
        if (d == nullptr) break;
        inv.CurrentDriveDetails = d;
        inv.DiskSizeMiB = d->VolumeDiskSizeMiB;
        s.DriveSizeMiB = d->VolumeDiskSizeMiB;
        s.DeviceId = d->DeviceId;
        s.VolumePath = !d->DeviceId.empty() ? d->DeviceId : "\\\\.\\" + text.substr(0, 1) + ":";
        inv.VolumePath = s.VolumePath;
        const bool withheld = (mode == kModeBasic || mode == kModeDeep) && ctx.HoldsResults;
        s.Table = NameValueTable(withheld ? std::vector<PropertyRow>{} : VolumePropertyRows(*d));
        s.ShowTable = true;
        const std::uint64_t end = withheld ? 0 : ParseDecimalU64(d->VolumeSectorCountText);
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
        const TreeNodeId parent = inv.Tree.Parent(node);
        auto* diskRecord = inv.Tree.PayloadAs<DriveDetails>(parent);
        const int disk = diskRecord != nullptr ? DiskNumberOf(*diskRecord, inv.Tree.Text(parent))
                                               : ParseDiskNumber(TrimText(inv.Tree.Text(parent)));
        SelectDiskContext(inv, disk, inv.PhysicalDrivesItem);
        inv.DiskSizeMiB = 0;
        const int pos = FindPartitionRecord(inv, disk, node);
        if (pos < 0) {
            s.Kind = DriveNodeKind::Partition;
            break;  // nothing shown, nothing more changed
        }
        inv.CurrentDiskIndex = disk;
        s.DiskIndex = disk;
        s.PartitionPosition = pos;
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = text;
        if (diskRecord != nullptr) s.DeviceId = diskRecord->DeviceId;
        const DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk);
        const std::string name = entry->FsNames[static_cast<std::size_t>(pos)];
        s.Table = NameValueTable(PartitionPropertyRows(inv, pos, name, disk));
        s.ShowTable = true;
        const PartitionRecord& r = entry->Records[static_cast<std::size_t>(pos)];
        s.MediaDiskSectors = inv.CurrentDiskSectorCount;
        if (mode == kModeDeep) s.FsComboName = name;
        if (ScansRange(mode)) {
            if (!(mode == kModeDeep && ctx.RemovableScanRunning)) s.ShowRange = true;
            s.SetRange = true;
            s.RangeStart = r.StartSector;
            s.RangeEnd = r.EndSector;
            s.RangeMin = inv.DiskFirstSector;
            s.RangeMax = inv.CurrentDiskSectorCount;
        }
        break;
    }

    case DriveNodeKind::Recognised:
        // The volumes found inside a logical drive are listed by the Deep
        // Search's logical-drive sweep, which keeps their table itself.
        s.NodeKindText = SelectedNodeKindText(s.Kind);
        s.ShownItem = std::string();
        break;

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
