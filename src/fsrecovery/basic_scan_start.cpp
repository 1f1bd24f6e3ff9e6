#include "fsrecovery/basic_scan_start.h"

#include "base/program_state.h"
#include "disk/drive_selection.h"
#include "disk/drive_text.h"
#include "disk/partition_table.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device_registry.h"

#include <algorithm>

namespace torvane {
namespace {

bool IsFixedNodeText(const std::string& text)
{
    return text == "Logical Drives" || text == "Physical Drives" || text == "My Computer";
}

}  // namespace

std::string ScanRangeText(std::uint64_t start, std::uint64_t end)
{
    return std::to_string(start) + " to " + std::to_string(end);
}

BasicScanStart ResolveBasicScanStart(const DriveInventory& inv, const BasicScanStartInput& in)
{
    BasicScanStart out;
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    const TreeModel& tree = inv.Tree;
    const TreeNodeId item = in.selectedItem;
    const std::string itemText = tree.Text(item);
    const TreeNodeId parent = item == kNoTreeNode ? kNoTreeNode : tree.Parent(item);
    const std::string parentText = tree.Text(parent);
    const ScanSource& src = in.source;
    const bool isDisk = src.Kind == DriveNodeKind::Disk;
    const bool isVolume = src.Kind == DriveNodeKind::Volume;

    // A fixed node of the tree is no drive.
    if (item == kNoTreeNode || IsFixedNodeText(itemText)) {
        out.outcome = ScanStartOutcome::Message;
        out.message = texts.SelectDriveText;
        return out;
    }
    // A logical drive: on a dynamic disk the prompt decides how to scan it;
    // otherwise it is scanned through its physical disk.
    int answer = 0;
    if (parentText == "Logical Drives") {
        if (!src.Volume.Record.OnListedDisk) {
            answer = 1;   // an image listed as a volume lies on no disk: read it itself
        } else if (src.Volume.Extent.Dynamic != 0) {
            answer = in.askLogicalScan ? in.askLogicalScan() : 0;
            if (answer != 1 && answer != 2)
                return out;   // cancelled
        } else {
            answer = 2;
        }
    }
    out.currentDiskIndex = 0;
    CurrentPartition& p = out.partition;
    ResetPartitionDescriptor(p.Descriptor);
    ResetVolumeGeometry(p);
    if (in.basicScanCount != 0)
        return out;   // a scan ran or a log is loaded: silent

    // The disk the scan is measured against: the selected disk, or the disk
    // of the selected partition (a volume has none until it is scanned
    // through its disk).
    std::uint64_t diskSectors = src.Disk.SectorCount;
    std::uint64_t diskSizeMiB = src.SizeMiB;

    // The type as listed (a disk's is decided below).
    PartitionDescriptor& d = p.Descriptor;
    d.FsType = NormalizeFsName(isVolume ? src.Volume.FsName : isDisk ? std::string() : src.Partition.FsName);

    // Disk and description.
    out.currentDiskIndex = std::max(src.DiskNumber, 0);
    out.selectionDescription = src.Description;

    // The extent.
    std::uint64_t start = 0, end = 0;
    if (isVolume) {
        start = 0;
        end = src.Volume.SectorCount;
    } else if (isDisk) {
        end = src.Disk.SectorCount;
        if (end != 0) {
            auto lock = inv.Lock();
            const DiskPartitionEntry* entry = inv.PartitionTable.Entry(out.currentDiskIndex);
            const PartitionRecord* r0 = entry ? &entry->Records[0] : nullptr;
            const PartitionRecord* r1 = entry ? &entry->Records[1] : nullptr;
            const std::uint64_t share = r0 ? (r0->EndSector * 100) / end : 0;
            if (tree.ChildCount(item) == 1) {
                d.FsType = NormalizeFsName(GetTextInParentheses(tree.Text(tree.FirstChild(item))));
                start = r0 ? r0->StartSector : 0;
            } else {
                d.FsType = GetCommonChildFileSystem(tree, item);
                if (d.FsType.empty())
                    d.FsType = GetPartitionTypeName(inv.PartitionTable, out.currentDiskIndex, 63, end, 0);
                if (share >= 5) {
                    start = r0 ? r0->StartSector : 0;
                } else {
                    start = r1 ? r1->StartSector : 0;
                    d.FsType = GetPartitionTypeName(inv.PartitionTable, out.currentDiskIndex, start, end, 1);
                }
            }
            d.FsType = NormalizeFsName(d.FsType);
        }
    } else {
        start = src.Partition.Record.StartSector;
        end = src.Partition.Record.EndSector;
    }
    std::uint64_t itemStart = start, itemEnd = end;

    if (end == 0) {
        out.outcome = ScanStartOutcome::Message;
        out.message = texts.EndSectorOrderText;
        return out;
    }
    if (FsKindFromText(d.FsType) == FsKind::Unknown) {
        out.outcome = ScanStartOutcome::NotPossible;
        out.message = kRecoveryNotPossibleBasicText;
        return out;
    }
    // The device.
    p.DevicePath = isVolume ? src.Volume.Path : PhysicalDrivePath(out.currentDiskIndex);
    auto canOpen = [&](const std::string& path) {
        if (in.canOpen)
            return in.canOpen(path);
        CurrentPartition probe;
        probe.DevicePath = path;
        return CanOpenCurrentDevice(probe);
    };
    // A logical drive scanned through its disk.
    const bool viaDisk = parentText == "Logical Drives" && isVolume && answer != 1;
    if (!viaDisk && !canOpen(p.DevicePath)) {
        out.outcome = ScanStartOutcome::Message;
        out.message = texts.DriveUnavailableText;
        return out;
    }
    if (viaDisk) {
        if (answer != 2)
            return out;
        p.VolumeExtent = src.Volume.Extent;
        const SelectedVolumeExtent ext = p.VolumeExtent;
        const DiskContext disk = DescribeDisk(inv, static_cast<int>(ext.DiskNumber));
        if (disk.Found()) {
            diskSectors = disk.SectorCount;
            diskSizeMiB = disk.SizeMiB;
        }
        p.DevicePath = PhysicalDrivePath(static_cast<int>(ext.DiskNumber));
        if (!canOpen(p.DevicePath)) {
            out.outcome = ScanStartOutcome::Message;
            out.message = texts.DriveUnavailableText;
            return out;
        }
        start = ext.StartSector;
        end = ext.EndSector;
        if (diskSectors != 0 && diskSectors < end)
            end = diskSectors;
        itemStart = start;
        itemEnd = end;
        out.currentDiskIndex = static_cast<int>(ext.DiskNumber);
        d.DiskNumber = static_cast<std::uint16_t>(ext.DiskNumber);
        out.logicalVolumeViaDisk = true;
    }
    // Never past the disk: a partition record whose end lies beyond it (a
    // damaged table) is swept only as far as the disk goes.
    if (end > start && diskSizeMiB != 0 && diskSectors != 0 && end - start > diskSectors)
        end = diskSectors;
    if (!isVolume && diskSectors != 0) {
        end = std::min(end, std::max(start, diskSectors));
        itemEnd = std::min(itemEnd, std::max(itemStart, diskSectors));
    }
    d.StartSector = start;
    d.EndSector = end;
    d.ItemStart = itemStart;
    d.ItemEnd = itemEnd;
    if (isVolume || src.Kind == DriveNodeKind::Recognised)
        d.EndByte = itemEnd * kSectorSize;
    else
        d.EndByte = std::max(diskSectors, itemEnd) * kSectorSize;
    d.ModeText = "Basic Search";
    d.DiskNumber = static_cast<std::uint16_t>(out.currentDiskIndex);
    // A partition is measured against the disk its parent item names.
    if (!isVolume && !isDisk) {
        out.contextDisk = ParseDiskNumber(parentText);
        const DiskContext disk = DescribeDisk(inv, out.contextDisk);
        if (disk.Found())
            diskSectors = disk.SectorCount;
    }

    // A disk that lists nothing: the scan looks at what it holds first.
    p.DiskListsNoPartition = isDisk && parentText == "Physical Drives" && tree.ChildCount(item) == 0;
    p.SelectedSourceKind = src.KindText;
    p.ScanStartFsName = d.FsType;
    p.CurrentDiskSectorCount = diskSectors;
    p.RecoveryMode = 1;
    out.rangeStart = start;
    out.rangeEnd = end;
    out.outcome = ScanStartOutcome::Start;
    return out;
}

}  // namespace torvane
