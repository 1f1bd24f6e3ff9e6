#include "disk/drive_properties.h"

#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "disk/volume_geometry.h"

namespace torvane {
namespace {

// "\\.\PhysicalDrive0" -> "PhysicalDrive0": every backslash and dot removed.
std::string StripDeviceId(const std::string& id) {
    std::string out;
    for (char c : id)
        if (c != '\\' && c != '.') out += c;
    return TrimText(out);
}

}  // namespace

std::vector<PropertyRow> DiskPropertyRows(const DriveDetails& d) {
    std::string deviceId = StripDeviceId(d.DeviceId);
    if (!d.DevicePath.empty() && d.DevicePath != d.DeviceId)
        deviceId = deviceId.empty() ? d.DevicePath : deviceId + " (" + d.DevicePath + ")";
    return {
        {"1. Model :", d.ModelText},
        {"2. MediaType :", d.MediaText},
        {"3. Interface Type :", d.BusTypeText},
        {"4. Capacity(size) :", d.DiskCapacityText},
        {"5. Cylinders :", d.CylindersText},
        {"6. Heads :", d.TracksPerCylinderText},
        {"7. Sectors :", d.TotalSectorsText},
        {"8. Bytes per Sector :", d.BytesPerSectorText},
        {"9. Sector per Track :", d.SectorsPerTrackText},
        {"10. Firmware Revision ID :", d.FirmwareRevision},
        {"11. Serial Number :", d.SerialNumber},
        {"12. System Name :", d.ComputerName},
        {"13. Physical Device ID :", deviceId},
    };
}

std::string VolumeNameText(const DriveDetails& v) {
    if (v.MountPoint.empty()) return v.DriveLetter;
    return v.DriveLetter + " " + v.MountPoint;
}

std::vector<PropertyRow> VolumePropertyRows(const DriveDetails& v) {
    return {
        {"1. Start Sector :", v.VolumeZeroText.empty() ? std::string("0") : v.VolumeZeroText},
        {"2. End Sector : ", v.VolumeSectorCountText},
        {"3. Partition Type : ", v.FsName},
        {"4. Volume : ", VolumeNameText(v)},
        {"5. Label : ", v.VolumeLabel},
        {"6. Size : ", v.CapacityText},
        {"7. Free Space : ", v.FreeSpaceText},
        {"8. Search Mode : ", v.ModeName},
        {"9. Serial Number : ", v.SerialText},
    };
}

PropertyTable NameValueTable(const std::vector<PropertyRow>& rows) {
    PropertyTable t;
    t.Columns = {{"Name", 230}, {"Value", 230}};
    for (const PropertyRow& r : rows) t.Rows.push_back({r.first, r.second});
    return t;
}

PropertyTable PhysicalDrivesTable(const DriveInventory& inv) {
    PropertyTable t;
    t.Columns = {{"No.", 0}, {"Disk number", 80}, {"Name", 200}, {"Value", 180}};
    t.HideFirstColumn = true;
    t.SortByColumn1 = true;
    auto lock = inv.Lock();
    if (inv.PhysicalDrivesItem == kNoTreeNode) return t;
    for (TreeNodeId child : inv.Tree.Children(inv.PhysicalDrivesItem)) {
        auto* d = inv.Tree.PayloadAs<DriveDetails>(child);
        if (d == nullptr) continue;
        t.Rows.push_back({std::to_string(t.Rows.size() + 1), d->DiskLabel, d->ModelText, d->CapacityMediaText});
    }
    return t;
}

PropertyTable LogicalDrivesTable(const DriveInventory& inv) {
    PropertyTable t;
    t.Columns = {{"No.", 0}, {"Volume", 80}, {"Label", 100}, {"Size", 100}, {"Type", 100}};
    t.HideFirstColumn = true;
    auto lock = inv.Lock();
    if (inv.LogicalDrivesItem == kNoTreeNode) return t;
    for (TreeNodeId child : inv.Tree.Children(inv.LogicalDrivesItem)) {
        auto* d = inv.Tree.PayloadAs<DriveDetails>(child);
        if (d == nullptr) continue;
        t.Rows.push_back({std::to_string(t.Rows.size() + 1), VolumeNameText(*d), d->VolumeLabel, d->CapacityText,
                          d->FsName});
    }
    return t;
}

std::vector<PropertyRow> PartitionPropertyRows(const DriveInventory& inv, int pos, const std::string& typeName,
                                               int disk) {
    std::vector<PropertyRow> rows;
    const DiskPartitionEntry* entry = inv.PartitionTable.Entry(disk);
    if (!entry || pos < 0 || pos >= kMaxPartitionsPerDisk) return rows;
    const PartitionRecord& r = entry->Records[static_cast<std::size_t>(pos)];
    rows.emplace_back("1. Disk Number : ", std::to_string(disk));
    rows.emplace_back("2. Partition Number : ", std::to_string(pos + 1));
    rows.emplace_back("3. Partition Type : ", typeName);
    rows.emplace_back("4. Search Mode : ", inv.ModeName());
    rows.emplace_back("5. Start Sector : ", std::to_string(r.StartSector));
    rows.emplace_back("6. End Sector : ", std::to_string(r.EndSector));
    rows.emplace_back("7. Size : ", PartitionSizeText(r));
    if (r.TableEndSector != 0)
        rows.emplace_back("8. Note : ", PartitionClampNote(r));
    return rows;
}

std::string PartitionClampNote(const PartitionRecord& r) {
    return "The partition table gives the end sector " + std::to_string(r.TableEndSector) +
           ", past the end of the disk: only the sectors up to " + std::to_string(r.EndSector) + " are read.";
}

std::string PartitionSizeText(const PartitionRecord& r) {
    const std::uint64_t sectors = r.EndSector > r.StartSector ? r.EndSector - r.StartSector : 0;
    const std::uint64_t bytes = sectors > UINT64_MAX / kSectorSize ? UINT64_MAX : sectors * kSectorSize;
    return TrimText(FormatByteSize(bytes));
}

}  // namespace torvane
