// Scans of fixture disks as the dialog makes them for scan logs: the image
// listed as a disk of the program's device registry (the only one, so its
// number and identity are the same at every run), the partition read
// through that disk's device path.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/scan_log_session.h"
#include "fsrecovery/scan_log_source.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <cstdint>
#include <optional>
#include <string>

namespace torvane::test {

// A partition of a fixture image listed as a disk: `partition` 0 is a volume
// image as a whole.
struct LoggedFixture {
    const char* image;
    int partition;
    const char* fs;
};

inline std::string FixtureName(const LoggedFixture& f)
{
    std::string n = std::string(f.image).substr(0, std::string(f.image).find('.'));
    for (char& c : n)
        if (c == '-')
            c = '_';
    if (f.partition)
        n += "_p" + std::to_string(f.partition);
    return n;
}

// Lists the image as a disk; its number, or -1 when it is not unpacked.
inline int AddFixtureDisk(const std::string& image)
{
    const std::string path = FixtureImage(image).string();
    return DeviceRegistry::Instance().AddImage(path, false);
}

// The partition Scan Now would hand the session for the fixture on disk
// `disk`: the extent from the geometry file, the device opened by its path.
inline std::optional<CurrentPartition> FixtureDiskPartition(const LoggedFixture& f, int disk)
{
    CurrentPartition p;
    const std::string key = "p" + std::to_string(f.partition) + ".";
    if (f.partition != 0) {
        const Geometry g = LoadGeometry(f.image);
        p.Descriptor.StartSector = GeometryNumber(g, key + "start").value_or(0);
        p.Descriptor.EndSector = GeometryNumber(g, key + "end").value_or(0);
    }
    p.DevicePath = PhysicalDrivePath(disk);
    p.Device = DeviceRegistry::Instance().Open(p.DevicePath);
    if (!p.Device)
        return std::nullopt;
    if (f.partition == 0)
        p.Descriptor.EndSector = p.Device->SizeBytes() / kSectorSize;
    p.Descriptor.FsType = f.fs;
    p.Descriptor.ModeText = "Basic Search";
    p.Descriptor.DiskNumber = static_cast<std::uint16_t>(disk);
    p.Descriptor.PartitionNumber = static_cast<std::uint32_t>(f.partition > 0 ? f.partition - 1 : 0);
    p.Descriptor.ItemStart = p.Descriptor.StartSector;
    p.Descriptor.ItemEnd = p.Descriptor.EndSector;
    p.Descriptor.EndByte = p.Descriptor.EndSector * kSectorSize;
    p.SelectedSourceKind = f.partition != 0 ? "part" : "Hard Disk";
    p.RecoveryMode = 1;
    return p;
}

// The facts the dialog writes for a scan of `p`.
inline ScanLogSourceFacts FixtureFacts(const CurrentPartition& p, const std::string& description = "Fixture disk")
{
    return ScanLogSourceFactsOf(p, ListScanLogDevices(DeviceRegistry::Instance()).diskIdentities, description);
}

}  // namespace torvane::test
