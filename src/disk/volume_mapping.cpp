#include "disk/volume_mapping.h"

#include "disk/drive_text.h"
#include "disk/partition_table.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace torvane {

namespace fs = std::filesystem;

namespace {

std::uint64_t ReadSectorCount(const fs::path& file, bool& ok) {
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text)) {
        ok = false;
        return 0;
    }
    text = TrimText(text);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19) {
        ok = false;
        return 0;
    }
    return std::stoull(text);
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DiskNameOfPartition(const fs::path& dir) {
    std::error_code ec;
    fs::path real = fs::canonical(dir, ec);
    if (ec) return {};
    return real.parent_path().filename().string();
}

BlockDeviceLocation Locate(const std::string& sysfsRoot, const std::string& name, int depth) {
    BlockDeviceLocation loc;
    if (name.empty() || name.find('/') != std::string::npos || depth > 8) return loc;
    std::error_code ec;
    fs::path dir = fs::path(sysfsRoot) / "class" / "block" / name;
    if (!fs::exists(dir, ec)) dir = fs::path(sysfsRoot) / "block" / name;
    if (!fs::exists(dir, ec)) return loc;

    if (name.rfind("dm-", 0) == 0 || name.rfind("md", 0) == 0) {
        loc.Mapped = true;
        // The disk of its first slave, for the disk number.
        fs::directory_iterator it(dir / "slaves", ec);
        if (!ec && it != fs::directory_iterator()) {
            BlockDeviceLocation slave = Locate(sysfsRoot, it->path().filename().string(), depth + 1);
            loc.DiskName = slave.DiskName;
        }
        return loc;
    }
    bool ok = true;
    std::uint64_t size = ReadSectorCount(dir / "size", ok);
    if (!ok) return loc;
    if (fs::exists(dir / "partition", ec)) {
        std::uint64_t start = ReadSectorCount(dir / "start", ok);
        std::string disk = DiskNameOfPartition(dir);
        if (!ok || disk.empty() || size > UINT64_MAX - start) return loc;
        loc.DiskName = disk;
        loc.StartSector = start;
        loc.EndSector = start + size;
        loc.Known = true;
        return loc;
    }
    // A file system on the whole disk.
    loc.DiskName = name;
    loc.StartSector = 0;
    loc.EndSector = size;
    loc.Known = true;
    return loc;
}

int DiskNumberByName(DeviceRegistry& registry, const std::string& name) {
    if (name.empty()) return -1;
    for (const RegisteredDisk& d : registry.Disks())
        if (d.sysfsName == name) return d.number;
    return -1;
}

std::string VolumeBlockDevice(DeviceRegistry& registry, const std::string& driveText) {
    std::string t;
    for (char c : driveText)
        if (c != '\\') t.push_back(c);
    t = TrimText(t);
    if (t.size() >= 2 && t[t.size() - 1] == ':') {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(t[t.size() - 2])));
        for (const RegisteredVolume& v : registry.Volumes())
            if (v.letter == letter) return v.blockDevice;
    }
    return {};
}

}  // namespace

BlockDeviceLocation LocateBlockDevice(const std::string& sysfsRoot, const std::string& blockName) {
    return Locate(sysfsRoot, blockName, 0);
}

bool QueryVolumeDiskExtent(DeviceRegistry& registry, const std::string& blockDevice, VolumeDiskExtent& out) {
    out = VolumeDiskExtent{};
    BlockDeviceLocation loc = LocateBlockDevice(registry.SysfsRoot(), BaseName(blockDevice));
    if (loc.Mapped) return true;
    if (!loc.Known) return false;
    int disk = DiskNumberByName(registry, loc.DiskName);
    if (disk < 0) return false;
    out.Known = true;
    out.DiskNumber = static_cast<std::uint32_t>(disk);
    out.StartSector = loc.StartSector;
    out.EndSector = loc.EndSector;
    auto registered = registry.Disk(disk);
    DevicePtr device = registry.Open(PhysicalDrivePath(disk));
    if (!device || !registered) return true;  // the layout could not be read
    return IsDynamicDisk(*device, registered->sizeBytes / kSectorSize);
}

int GetVolumeDiskNumber(DeviceRegistry& registry, const std::string& driveText) {
    std::string block = VolumeBlockDevice(registry, driveText);
    if (block.empty()) return -1;
    BlockDeviceLocation loc = LocateBlockDevice(registry.SysfsRoot(), BaseName(block));
    return DiskNumberByName(registry, loc.DiskName);
}

bool IsExternalDiskNumber(const DriveInventory& inv, DeviceRegistry& registry, const std::string& driveText) {
    if (inv.ListAllDriveTypes) return false;
    int disk = GetVolumeDiskNumber(registry, driveText);
    if (disk < 0) return false;
    const std::string number = std::to_string(disk);
    for (std::size_t i = 0; i + 1 < inv.DiskMediaList.size(); i += 2)
        if (inv.DiskMediaList[i] == number && inv.DiskMediaList[i + 1].find("External") != std::string::npos)
            return true;
    return false;
}

}  // namespace torvane
