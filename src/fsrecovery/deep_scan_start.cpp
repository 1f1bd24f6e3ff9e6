#include "fsrecovery/deep_scan_start.h"

#include "base/program_state.h"
#include "disk/drive_selection.h"
#include "disk/drive_text.h"
#include "disk/partition_table.h"
#include "fsrecovery/store/name_rules.h"
#include "platform/device_registry.h"

#include <algorithm>
#include <cctype>

namespace torvane {
namespace {

bool IsFixedNodeText(const std::string& text)
{
    return text == "Logical Drives" || text == "Physical Drives" || text == "My Computer";
}

DeepScanStart Tell(DeepScanStart out, const std::string& text)
{
    out.outcome = ScanStartOutcome::Message;
    out.message = text;
    return out;
}

}  // namespace

std::optional<std::uint64_t> ParseSectorNumber(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

DeepScanStart ResolveDeepScanStart(const DriveInventory& inv, const DeepScanStartInput& in)
{
    DeepScanStart out;
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    const ScanSource& src = in.source;
    const bool isDisk = src.Kind == DriveNodeKind::Disk;
    const bool isVolume = src.Kind == DriveNodeKind::Volume;
    std::string itemText, parentText;
    {
        auto lock = inv.Lock();
        itemText = inv.Tree.Text(in.selectedItem);
        const TreeNodeId parent = in.selectedItem == kNoTreeNode ? kNoTreeNode : inv.Tree.Parent(in.selectedItem);
        parentText = inv.Tree.Text(parent);
    }

    if (in.selectedItem == kNoTreeNode || IsFixedNodeText(itemText) || src.Kind == DriveNodeKind::None)
        return Tell(out, texts.SelectDriveText);
    // A logical drive: on a dynamic disk the prompt decides how it is read;
    // otherwise it is read through its physical disk.
    int answer = 0;
    if (parentText == "Logical Drives") {
        if (src.Volume.Extent.Dynamic != 0) {
            answer = in.askLogicalScan ? in.askLogicalScan() : 0;
            if (answer != 1 && answer != 2)
                return out;
        } else {
            answer = 2;
        }
    }
    CurrentPartition& p = out.partition;
    ResetPartitionDescriptor(p.Descriptor);
    ResetVolumeGeometry(p);
    if (in.deepScanCount != 0)
        return out;

    // The range as the edits hold it.
    const std::string startText = TrimWhite(in.startText), endText = TrimWhite(in.endText);
    if (startText.empty() || endText.empty())
        return Tell(out, texts.EndSectorOrderText);
    const std::optional<std::uint64_t> first = ParseSectorNumber(startText);
    const std::optional<std::uint64_t> last = ParseSectorNumber(endText);
    if (!first || !last)
        return Tell(out, kEnterPositiveIntegerText);
    if (*first >= *last)
        return Tell(out, texts.EndSectorOrderText);
    std::uint64_t start = *first, end = *last;

    // A file system found inside a logical drive: its row gives the geometry.
    if (src.Kind == DriveNodeKind::Recognised) {
        if (!in.recognised || !in.recognised->Row)
            return Tell(out, texts.SelectDriveText);
        if (in.fileSystemChoice < 0 || in.fileSystemChoice >= kDeepFileSystemChoiceCount - 1)
            return Tell(out, kSelectFileSystemText);
        // Never past the drive's end.
        if (in.recognised->DriveSectors != 0 && end > in.recognised->DriveSectors)
            end = in.recognised->DriveSectors;
        if (start >= end)
            return Tell(out, texts.EndSectorOrderText);
        const std::string type = kDeepFileSystemChoices[in.fileSystemChoice];
        out.partition = PrepareRecognisedDeepScan(*in.recognised, start, end, type, &out.selectionDescription);
        if (out.partition.DevicePath.empty() ||
            !(in.canOpen ? in.canOpen(out.partition.DevicePath) : CanOpenCurrentDevice(out.partition)))
            return Tell(out, texts.DriveUnavailableText);
        out.currentDiskIndex = 0;
        out.rangeStart = start;
        out.rangeEnd = end;
        out.outcome = ScanStartOutcome::Start;
        return out;
    }

    // The type listed for the selection; a disk's is its first record's.
    PartitionDescriptor& d = p.Descriptor;
    out.currentDiskIndex = std::max(src.DiskNumber, 0);
    std::uint64_t itemStart = 0, itemEnd = 0;
    std::string listed;
    if (isVolume) {
        listed = src.Volume.FsName;
        itemStart = src.Volume.Extent.StartSector;
        itemEnd = src.Volume.Extent.EndSector != 0 ? src.Volume.Extent.EndSector : src.Volume.SectorCount;
    } else if (isDisk) {
        itemEnd = src.Disk.SectorCount;
        auto lock = inv.Lock();
        const DiskPartitionEntry* entry = inv.PartitionTable.Entry(out.currentDiskIndex);
        if (entry && entry->RecordCount > 0) {
            listed = entry->FsNames[0];
            itemStart = entry->Records[0].StartSector;
        }
    } else {
        listed = src.Partition.FsName;
        itemStart = src.Partition.Record.StartSector;
        itemEnd = src.Partition.Record.EndSector;
    }
    p.ScanStartFsName = NormalizeFsName(listed);
    d.FsType = p.ScanStartFsName;
    // The combo overrides; its last entry asks for a type.
    if (in.fileSystemChoice >= kDeepFileSystemChoiceCount - 1)
        return Tell(out, kSelectFileSystemText);
    if (in.fileSystemChoice >= 0)
        d.FsType = kDeepFileSystemChoices[in.fileSystemChoice];

    // The description of the selection.
    if (isDisk) {
        out.selectionDescription = src.Description + " as " + d.FsType;
    } else if (isVolume) {
        out.selectionDescription = src.Description;
        if (NormalizeFsName(src.Volume.FsName) != d.FsType)
            out.selectionDescription += " as " + d.FsType;
    } else {
        out.selectionDescription = "Disk " + std::to_string(out.currentDiskIndex) + " ( Partition " +
                                   std::to_string(src.Partition.Position + 1) + " / " + d.FsType + " / " +
                                   src.Partition.SizeText + " )";
    }

    // The device.
    auto canOpen = [&](const std::string& path) {
        if (in.canOpen)
            return in.canOpen(path);
        CurrentPartition probe;
        probe.DevicePath = path;
        return CanOpenCurrentDevice(probe);
    };
    std::uint64_t diskSectors = src.Disk.SectorCount;
    const bool viaDisk = parentText == "Logical Drives" && isVolume && answer == 2;
    if (isVolume && !viaDisk) {
        p.DevicePath = src.Volume.Path;
        diskSectors = src.Volume.SectorCount;
        itemStart = 0;
        itemEnd = src.Volume.SectorCount;
    } else if (!isVolume) {
        if (src.DiskNumber < 0)
            return Tell(out, texts.DriveUnavailableText);
        p.DevicePath = PhysicalDrivePath(out.currentDiskIndex);
    }
    if (viaDisk) {
        // The same sectors of the volume, counted on its disk.
        p.VolumeExtent = src.Volume.Extent;
        const SelectedVolumeExtent& ext = p.VolumeExtent;
        const DiskContext disk = DescribeDisk(inv, static_cast<int>(ext.DiskNumber));
        if (disk.Found())
            diskSectors = disk.SectorCount;
        const std::uint64_t min = std::min(in.rangeMin, start);
        const std::uint64_t max = std::max(in.rangeMax, end);
        start = ext.StartSector + (start - min);
        const std::uint64_t beforeMax = max - end;
        end = ext.EndSector > beforeMax ? ext.EndSector - beforeMax : 0;
        if (diskSectors != 0)
            end = std::min(end, diskSectors);
        if (end <= start)
            return Tell(out, texts.EndSectorOrderText);
        itemStart = ext.StartSector;
        itemEnd = diskSectors;
        out.currentDiskIndex = static_cast<int>(ext.DiskNumber);
        out.logicalVolumeViaDisk = true;
        p.DevicePath = PhysicalDrivePath(out.currentDiskIndex);
    }
    if (p.DevicePath.empty() || !canOpen(p.DevicePath))
        return Tell(out, texts.DriveUnavailableText);

    d.StartSector = start;
    d.EndSector = end;
    d.ItemStart = itemStart;
    d.ItemEnd = itemEnd;
    d.EndByte = (isVolume && !viaDisk ? itemEnd : std::max(diskSectors, itemEnd)) * kSectorSize;
    d.ModeText = "Deep Search";
    d.DiskNumber = static_cast<std::uint16_t>(out.currentDiskIndex);
    if (!isVolume && !isDisk) {
        out.contextDisk = ParseDiskNumber(parentText);
        const DiskContext disk = DescribeDisk(inv, out.contextDisk);
        if (disk.Found())
            diskSectors = disk.SectorCount;
    }
    p.SelectedSourceKind = src.KindText;
    p.CurrentDiskSectorCount = diskSectors;
    p.RecoveryMode = kModeDeep;
    out.rangeStart = start;
    out.rangeEnd = end;
    out.outcome = ScanStartOutcome::Start;
    return out;
}

}  // namespace torvane
