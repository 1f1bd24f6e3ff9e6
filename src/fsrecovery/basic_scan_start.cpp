#include "fsrecovery/basic_scan_start.h"

#include "base/program_state.h"
#include "disk/drive_selection.h"
#include "disk/drive_text.h"
#include "disk/partition_table.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device_registry.h"

#include <algorithm>
#include <charconv>

namespace torvane {
namespace {

// Decimal text to number; leading blanks skipped, anything else gives the
// digits read so far (0 for no digits).
std::uint64_t ParseU64(const std::string& text)
{
    const std::string t = TrimText(text);
    std::uint64_t v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

int ParseI32(const std::string& text)
{
    const std::string t = TrimText(text);
    int v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

std::string Row(const std::vector<std::string>& values, std::size_t i)
{
    return i < values.size() ? values[i] : std::string();
}

bool IsFixedNodeText(const std::string& text)
{
    return text == "Logical Drives" || text == "Physical Drives" || text == "My Computer";
}

}  // namespace

std::string ScanRangeText(std::uint64_t start, std::uint64_t end)
{
    return std::to_string(start) + " to " + std::to_string(end);
}

BasicScanStart ResolveBasicScanStart(DriveInventory& inv, const BasicScanStartInput& in)
{
    BasicScanStart out;
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    TreeModel& tree = inv.Tree;
    const TreeNodeId item = in.selectedItem;
    const std::string itemText = tree.Text(item);
    const TreeNodeId parent = item == kNoTreeNode ? kNoTreeNode : tree.Parent(item);
    const std::string parentText = tree.Text(parent);
    const std::vector<std::string>& v = in.propertyValues;
    const std::string& kind = in.selectedSourceKind;

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
        bool dynamic = false;
        if (inv.CurrentDriveDetails)
            dynamic = inv.CurrentDriveDetails->Dynamic != 0;
        if (dynamic) {
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

    // B1: the type.
    PartitionDescriptor& d = p.Descriptor;
    d.FsType = NormalizeFsName(Row(v, 2));

    // B2: disk and description.
    if (kind == "Hard Disk" || kind == "Logical") {
        out.currentDiskIndex = in.selectedDiskNumber;
        out.selectionDescription = inv.CurrentDriveDetails ? inv.CurrentDriveDetails->ItemText : itemText;
    } else {
        out.currentDiskIndex = ParseI32(Row(v, 0));
        out.selectionDescription = "Disk " + Row(v, 0) + " ( Partition " + Row(v, 1) + " / " + Row(v, 2) + " / " +
                                   Row(v, 6) + " )";
    }

    // B3: the extent.
    std::uint64_t start = 0, end = 0;
    if (kind == "Logical") {
        start = 0;
        end = ParseU64(Row(v, 1));
    } else if (kind == "Hard Disk") {
        end = ParseU64(Row(v, 6));
        if (end != 0) {
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
        start = ParseU64(Row(v, 4));
        end = ParseU64(Row(v, 5));
    }
    std::uint64_t itemStart = start, itemEnd = end;

    // B4.
    if (end == 0) {
        out.outcome = ScanStartOutcome::Message;
        out.message = texts.EndSectorOrderText;
        return out;
    }
    // B5.
    if (d.FsType != "NTFS" && d.FsType != "FAT16" && d.FsType != "FAT32" && d.FsType != "exFAT") {
        out.outcome = ScanStartOutcome::NotPossible;
        out.message = kRecoveryNotPossibleBasicText;
        return out;
    }
    // B7: the device.
    p.DevicePath = kind == "Logical" ? inv.VolumePath : PhysicalDrivePath(out.currentDiskIndex);
    auto canOpen = [&](const std::string& path) {
        if (in.canOpen)
            return in.canOpen(path);
        CurrentPartition probe;
        probe.DevicePath = path;
        return CanOpenCurrentDevice(probe);
    };
    // B8: a logical drive scanned through its disk.
    const bool viaDisk = parentText == "Logical Drives" && kind == "Logical" && answer != 1;
    if (!viaDisk && !canOpen(p.DevicePath)) {
        out.outcome = ScanStartOutcome::Message;
        out.message = texts.DriveUnavailableText;
        return out;
    }
    if (viaDisk) {
        if (answer != 2)
            return out;
        LoadSelectedDriveRecord(inv, p);
        const SelectedVolumeExtent ext = p.VolumeExtent;
        SelectDiskContext(inv, static_cast<int>(ext.DiskNumber), inv.PhysicalDrivesItem);
        p.DevicePath = PhysicalDrivePath(static_cast<int>(ext.DiskNumber));
        if (!canOpen(p.DevicePath)) {
            out.outcome = ScanStartOutcome::Message;
            out.message = texts.DriveUnavailableText;
            return out;
        }
        start = ext.StartSector;
        end = ext.EndSector;
        if (inv.CurrentDiskSectorCount != 0 && inv.CurrentDiskSectorCount < end)
            end = inv.CurrentDiskSectorCount;
        itemStart = start;
        itemEnd = end;
        out.currentDiskIndex = static_cast<int>(ext.DiskNumber);
        d.DiskNumber = static_cast<std::uint16_t>(ext.DiskNumber);
        out.logicalVolumeViaDisk = true;
    }
    // B9: never past the disk.
    if (end > start && inv.DiskSizeMiB != 0 && inv.CurrentDiskSectorCount != 0 && end - start > inv.CurrentDiskSectorCount)
        end = inv.CurrentDiskSectorCount;
    // B10.
    d.StartSector = start;
    d.EndSector = end;
    d.ItemStart = itemStart;
    d.ItemEnd = itemEnd;
    if (kind == "Logical" || kind == "Recognised")
        d.EndByte = itemEnd * kSectorSize;
    else
        d.EndByte = std::max(inv.CurrentDiskSectorCount, itemEnd) * kSectorSize;
    d.ModeText = "Basic Search";
    d.DiskNumber = static_cast<std::uint16_t>(out.currentDiskIndex);
    // B12: a partition makes its disk the current one.
    if (kind != "Logical" && kind != "Hard Disk") {
        out.contextDisk = ParseDiskNumber(parentText);
        SelectDiskContext(inv, out.contextDisk, inv.PhysicalDrivesItem);
    }

    p.SelectedSourceKind = kind;
    p.ScanStartFsName = d.FsType;
    p.CurrentDiskSectorCount = inv.CurrentDiskSectorCount;
    p.RecoveryMode = 1;
    out.rangeStart = start;
    out.rangeEnd = end;
    out.outcome = ScanStartOutcome::Start;
    return out;
}

}  // namespace torvane
