#include "fsrecovery/scan_log_source.h"

#include "base/program_state.h"
#include "base/text_routines.h"
#include "fsrecovery/store/name_rules.h"
#include "disk/drive_inventory.h"
#include "disk/drive_refresh.h"

#include <utility>

namespace torvane {
namespace {

// An identity text without its disk number, and the number: the number is
// the text after the last "|" (every "|" removed, trimmed), the rest the text
// before the "|" that precedes the last one.
struct IdentityParts {
    std::string rest;
    std::string number;
};

IdentityParts SplitIdentity(const std::string& identity)
{
    IdentityParts parts;
    const std::size_t last = identity.rfind('|');
    if (last == std::string::npos) {
        parts.rest = TrimWhite(identity);
        return parts;
    }
    std::string tail = identity.substr(last + 1);
    std::erase(tail, '|');
    parts.number = TrimWhite(tail);
    const std::size_t before = last == 0 ? std::string::npos : identity.rfind('|', last - 1);
    parts.rest = TrimWhite(identity.substr(0, before == std::string::npos ? last : before));
    return parts;
}

int NumberOf(const std::string& text)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int n = std::stoi(text);
    return n < kMaxDisks ? n : -1;
}

std::vector<ScanLogCandidate> DiskCandidates(const std::string& identity, const ScanLogDevices& devices, bool trim)
{
    std::vector<ScanLogCandidate> out;
    const std::string wanted = trim ? TrimWhite(identity) : identity;
    std::size_t exact = devices.diskIdentities.size();
    for (std::size_t i = 0; i < devices.diskIdentities.size(); ++i) {
        const std::string& entry = devices.diskIdentities[i];
        if ((trim ? TrimWhite(entry) : entry) == wanted) {
            const int n = NumberOf(SplitIdentity(entry).number);
            if (n >= 0) {
                out.push_back({PhysicalDrivePath(n), n, true});
                exact = i;
                break;
            }
        }
    }
    const std::string rest = SplitIdentity(identity).rest;
    for (std::size_t i = 0; i < devices.diskIdentities.size(); ++i) {
        if (i == exact)
            continue;
        const IdentityParts parts = SplitIdentity(devices.diskIdentities[i]);
        const int n = NumberOf(parts.number);
        if (n >= 0 && parts.rest == rest)
            out.push_back({PhysicalDrivePath(n), n, false});
    }
    return out;
}

std::vector<ScanLogCandidate> VolumeCandidates(const ScanLogSource& source, const ScanLogDevices& devices)
{
    std::vector<ScanLogCandidate> out;
    const std::string sectors = std::to_string(source.volumeSectors);
    const std::string wanted = source.volumePath + "|" + sectors;
    std::size_t exact = devices.volumeSizes.size();
    for (std::size_t i = 0; i < devices.volumeSizes.size(); ++i) {
        if (devices.volumeSizes[i] == wanted) {
            out.push_back({source.volumePath, -1, true});
            exact = i;
            break;
        }
    }
    for (std::size_t i = 0; i < devices.volumeSizes.size(); ++i) {
        const std::string& entry = devices.volumeSizes[i];
        const std::size_t bar = entry.rfind('|');
        if (i == exact || bar == std::string::npos)
            continue;
        if (TrimWhite(entry.substr(bar + 1)) == sectors)
            out.push_back({entry.substr(0, bar), -1, false});
    }
    return out;
}

}  // namespace

ScanLogDevices ListScanLogDevices(DeviceRegistry& registry)
{
    DriveInventory inv;
    inv.RecoveryMode = 0;
    inv.ListAllDriveTypes = true;
    DriveRefreshOptions options;
    options.WithLogicalDrives = true;
    BuildDriveInventory(inv, registry, options);
    auto lock = inv.Lock();
    return ScanLogDevices{inv.DiskIdentityList, inv.VolumeSizeList};
}

std::vector<ScanLogCandidate> ScanLogSourceCandidates(const ScanLogDocument& doc, const ScanLogDevices& devices,
                                                      ScanLogReaderKind reader)
{
    switch (doc.source.form) {
    case ScanLogSourceForm::Physical:
        return DiskCandidates(doc.source.diskIdentity, devices, reader == ScanLogReaderKind::Basic);
    case ScanLogSourceForm::Logical:
        return VolumeCandidates(doc.source, devices);
    case ScanLogSourceForm::TagOnly:
        break;
    }
    // A tag alone names no device.
    return {};
}

LoggedVolumeCheck CheckLoggedVolume(const CurrentPartition& logged, Device& device, CurrentPartition* fresh)
{
    CurrentPartition read = logged;
    read.Device = nullptr;
    read.Geometry = VolumeGeometry{};
    if (!ReadVolumeParameters(read, device))
        return LoggedVolumeCheck::Unreadable;
    const VolumeGeometry& a = read.Geometry;
    const VolumeGeometry& b = logged.Geometry;
    const bool same = a.SectorsPerFat == b.SectorsPerFat && a.SectorsPerCluster == b.SectorsPerCluster &&
                      a.RootSectors == b.RootSectors && a.RootStart == b.RootStart &&
                      a.ReservedSectors == b.ReservedSectors && a.Cluster0Start == b.Cluster0Start &&
                      a.FirstFatStart == b.FirstFatStart && a.SecondFatStart == b.SecondFatStart &&
                      a.MftStart == b.MftStart && a.MftMirrStart == b.MftMirrStart &&
                      a.FileRecordSectors == b.FileRecordSectors && a.IndexRecordSectors == b.IndexRecordSectors &&
                      read.Descriptor.StartSector == logged.Descriptor.StartSector;
    if (!same)
        return LoggedVolumeCheck::Other;
    if (fresh) {
        *fresh = logged;
        fresh->Geometry = read.Geometry;
        fresh->Exfat = read.Exfat;
        fresh->ExfatFallbackGeometry = read.ExfatFallbackGeometry;
    }
    return LoggedVolumeCheck::Same;
}

std::optional<CurrentPartition> FindLoggedPartition(const CurrentPartition& logged,
                                                    const std::vector<ScanLogCandidate>& candidates,
                                                    DeviceRegistry& registry)
{
    std::optional<CurrentPartition> undecided;
    const bool deep = logged.RecoveryMode == 2;
    for (const ScanLogCandidate& c : candidates) {
        DevicePtr device = registry.Open(c.devicePath);
        if (!device)
            continue;
        CurrentPartition found;
        LoggedVolumeCheck check = CheckLoggedVolume(logged, *device, &found);
        // A Deep Search reads a range, not a volume: its first sector may
        // hold anything (a partition table, another volume's boot sector),
        // and the scan keeps the layout it found, not the one a boot sector
        // gives. Such a log is confirmed by the disk alone.
        if (check == LoggedVolumeCheck::Other && deep)
            check = LoggedVolumeCheck::Unreadable;
        if (check == LoggedVolumeCheck::Other)
            continue;
        if (check == LoggedVolumeCheck::Unreadable) {
            if (undecided)
                continue;
            found = logged;
        }
        found.DevicePath = c.devicePath;
        found.Device = std::move(device);
        if (c.diskNumber >= 0) {
            found.Descriptor.DiskNumber = static_cast<std::uint16_t>(c.diskNumber);
            found.VolumeExtent.DiskNumber = static_cast<std::uint32_t>(c.diskNumber);
        }
        if (check == LoggedVolumeCheck::Same)
            return found;
        undecided = std::move(found);
    }
    return undecided;
}

}  // namespace torvane
