#include "disk/physical_disks.h"

#include "base/text_routines.h"
#include "disk/drive_text.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace torvane {

namespace fs = std::filesystem;

std::string BusTypeName(int busType) {
    static const std::array<const char*, 23> kNames = {
        "UNKNOWN", "SCSI", "ATAPI", "ATA", "IEEE 1394", "SSA", "FIBRE", "USB", "RAID", "iSCSI", "SAS", "SATA",
        "SD", "MMC", "VIRTUAL", "FILEBACKEDVIRTUAL", "SPACES", "NVME", "SCM", "UFS", "NVMEOF", "Reserved", ""};
    if (busType < 0 || busType >= static_cast<int>(kNames.size())) return "Other Device";
    return kNames[static_cast<std::size_t>(busType)];
}

std::string MediaText(int mediaType, const std::string& busText) {
    if (mediaType == kMediaRemovable) return "Removable Media";
    if (mediaType == kMediaFixed) return busText == "USB" ? "External hard disk media" : "Fixed hard disk media";
    return {};
}

namespace {

// A sysfs attribute, trimmed (SCSI strings are padded with blanks); nullopt when absent.
std::optional<std::string> Attr(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char buf[4096];
    in.read(buf, sizeof buf);  // attributes are short; never read more than a page
    text.assign(buf, static_cast<std::size_t>(in.gcount()));
    return TrimText(text);
}

std::string FirstAttr(std::initializer_list<fs::path> files) {
    for (const fs::path& f : files) {
        auto v = Attr(f);
        if (v && !v->empty()) return *v;
    }
    return {};
}

bool IsHexNumber(const std::string& s) {
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
    return std::all_of(s.begin() + 2, s.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// Printable ASCII only, trimmed.
std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s)
        if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
    return TrimText(out);
}

// Properties udev recorded for the device ("E:KEY=VALUE" lines), when it runs.
std::string UdevProperty(const std::string& udevDataRoot, const std::string& devNumbers, const std::string& key) {
    if (udevDataRoot.empty() || devNumbers.empty()) return {};
    std::ifstream in(fs::path(udevDataRoot) / ("b" + devNumbers));
    std::string line;
    const std::string prefix = "E:" + key + "=";
    for (int n = 0; n < 4096 && std::getline(in, line); ++n)
        if (line.compare(0, prefix.size(), prefix) == 0) return TrimText(line.substr(prefix.size()));
    return {};
}

int BusFromUdev(const std::string& idBus) {
    if (idBus == "usb") return kBusUsb;
    if (idBus == "ata") return kBusSata;
    if (idBus == "nvme") return kBusNvme;
    if (idBus == "scsi") return kBusScsi;
    if (idBus == "ieee1394") return kBus1394;
    if (idBus == "mmc") return kBusSd;
    return -1;
}

int BusFromSysfsPath(const std::string& devicePath, const fs::path& diskDir) {
    auto has = [&](const char* part) { return devicePath.find(part) != std::string::npos; };
    if (has("/usb")) return kBusUsb;
    if (has("/nvme")) return kBusNvme;
    if (has("/mmc_host/") || has("/mmc")) {
        std::string type = Attr(diskDir / "device" / "type").value_or("");
        return type == "MMC" ? kBusMmc : kBusSd;
    }
    if (has("virtio")) return kBusVirtual;
    if (has("/rport-")) return kBusFibre;
    if (has("/session")) return kBusIscsi;
    if (has("/end_device") || has("sas_")) return kBusSas;
    if (has("firewire") || has("/fw")) return kBus1394;
    if (has("/ata")) return kBusSata;
    if (has("/host")) return kBusScsi;
    return kBusUnknown;
}

std::string BaseName(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    return name.empty() ? path : name;
}

}  // namespace

DiskProperties ReadDiskProperties(const RegisteredDisk& disk, const std::string& udevDataRoot) {
    DiskProperties p;
    p.Media = disk.removable ? kMediaRemovable : kMediaFixed;
    if (disk.source != DiskSource::kBlockDevice || disk.sysfsPath.empty()) {
        p.Bus = kBusFileBackedVirtual;
        p.Product = BaseName(disk.backingPath);
        return p;
    }
    const fs::path dir(disk.sysfsPath);
    const fs::path dev = dir / "device";
    const std::string devNumbers = Attr(dir / "dev").value_or("");

    p.Vendor = Printable(Attr(dev / "vendor").value_or(""));
    if (IsHexNumber(p.Vendor) || p.Vendor == "ATA") p.Vendor.clear();
    p.Product = Printable(FirstAttr({dev / "model", dev / "name"}));
    p.Revision = Printable(FirstAttr({dev / "rev", dev / "firmware_rev", dev / "fwrev"}));
    p.Serial = Printable(UdevProperty(udevDataRoot, devNumbers, "ID_SERIAL_SHORT"));
    if (p.Serial.empty()) p.Serial = Printable(FirstAttr({dev / "serial", dir / "serial"}));
    if (p.Serial.empty()) {
        // Unit serial number VPD page: a 4-byte header, then the serial.
        auto page = Attr(dev / "vpd_pg80");
        if (page && page->size() > 4) p.Serial = Printable(page->substr(4));
    }

    if (!disk.loopBackingFile.empty() || disk.sysfsName.rfind("loop", 0) == 0) {
        p.Bus = kBusFileBackedVirtual;
        if (p.Product.empty()) p.Product = BaseName(disk.loopBackingFile);
        return p;
    }
    int bus = BusFromUdev(UdevProperty(udevDataRoot, devNumbers, "ID_BUS"));
    if (bus < 0) {
        std::error_code ec;
        fs::path real = fs::canonical(dev, ec);
        bus = ec ? kBusUnknown : BusFromSysfsPath(real.generic_string(), dir);
    }
    p.Bus = bus;
    // Memory cards are removable media even in readers that report them fixed.
    if (bus == kBusSd) p.Media = kMediaRemovable;
    return p;
}

std::string BuildModelText(const DiskProperties& props, const std::string& fallbackProduct) {
    std::string product = TrimText(props.Product);
    if (product.empty()) product = fallbackProduct;
    std::string vendor = TrimText(props.Vendor);
    std::string model = vendor.empty() ? product : vendor + " " + product;
    return TrimText(model) + " " + BusTypeName(props.Bus) + " Device";
}

std::string GetComputerNameText() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

namespace {

constexpr std::uint32_t kTracksPerCylinder = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;

struct BusyGuard {
    std::atomic<bool>& flag;
    explicit BusyGuard(std::atomic<bool>& f) : flag(f) { flag = true; }
    ~BusyGuard() { flag = false; }
};

void ListOneDisk(DriveInventory& inv, DeviceRegistry& registry, const RegisteredDisk& disk,
                 const PhysicalDiskOptions& options) {
    const int n = disk.number;
    const std::uint64_t sectors = disk.sizeBytes / kSectorSize;
    DiskProperties props = ReadDiskProperties(disk, options.UdevDataRoot);
    const std::string busText = BusTypeName(props.Bus);
    const std::string media = MediaText(props.Media, busText);
    const std::string stem = media + FormatDiskTag(n);

    inv.DiskMediaList.push_back(std::to_string(n));
    inv.DiskMediaList.push_back(media);
    if (!inv.ListAllDriveTypes && media.find("Removable") == std::string::npos &&
        media.find("External") == std::string::npos)
        return;

    const std::string fallbackName = disk.sysfsName.empty() ? BaseName(disk.backingPath) : disk.sysfsName;
    const std::string model = BuildModelText(props, fallbackName);
    const std::string capacity = TrimText(FormatByteSize(disk.sizeBytes));
    const std::string itemText = stem + capacity + ")";
    const std::uint64_t cylinders = sectors / (kTracksPerCylinder * kSectorsPerTrack);

    DriveDetails* d = inv.NewRecord();
    d->ItemText = itemText;
    d->KindText = media;
    d->ModeName = inv.ModeName();
    d->DiskNumberText = std::to_string(n);
    d->DiskLabel = "Disk" + std::to_string(n);
    d->ModelText = model;
    d->CapacityMediaText = media.empty() ? std::string() : capacity + " - " + media;
    d->ModelText2 = model;
    d->MediaText = media;
    d->BusTypeText = busText;
    d->DiskCapacityText = capacity;
    d->CylindersText = std::to_string(cylinders);
    d->TracksPerCylinderText = std::to_string(kTracksPerCylinder);
    d->TotalSectorsText = std::to_string(sectors);
    d->BytesPerSectorText = std::to_string(kSectorSize);
    d->SectorsPerTrackText = std::to_string(kSectorsPerTrack);
    d->FirmwareRevision = props.Revision;
    d->SerialNumber = props.Serial;
    d->ComputerName = inv.ComputerName;
    d->DevicePath = disk.backingPath;
    d->SizeMiB = disk.sizeBytes >> 20;
    d->DeviceId = disk.id;
    d->LogicalBlockSize = disk.logicalBlockSize;

    TreeNodeId item = kNoTreeNode;
    if (inv.RecoveryMode >= 1 && inv.RecoveryMode <= 5 && inv.PhysicalDrivesItem != kNoTreeNode) {
        TreeNodeInit init;
        init.text = itemText;
        init.image = kImageDisk;
        init.payload = d;
        item = inv.Tree.InsertChild(inv.PhysicalDrivesItem, init);
        inv.Tree.RequestExpand(inv.PhysicalDrivesItem);
        inv.Tree.SortChildren(inv.PhysicalDrivesItem);
    }
    d->TreeItem = item;

    // The partitions. A disk that cannot be read is listed all the same, so
    // the user sees it and learns why nothing can be read from it.
    bool readable = false;
    if (disk.logicalBlockSize != kSectorSize) {
        d->Note = "Disks with " + std::to_string(disk.logicalBlockSize) + "-byte sectors are not supported.";
    } else {
        std::string error;
        int err = 0;
        DevicePtr device = registry.Open(disk.id, &error, &err);
        if (!device) {
            d->OpenError = error;
            if (IsPermissionErrno(err) || disk.PermissionDenied()) {
                d->AccessDenied = true;
                inv.AccessDeniedDisks.push_back(n);
            }
        } else {
            readable = true;
            ListDiskPartitions(inv, n, *device, sectors, item);
        }
    }
    if (readable && (item == kNoTreeNode || inv.Tree.ChildCount(item) == 0)) {
        SmpParam job;
        job.Cylinders = static_cast<std::uint32_t>(cylinders);
        job.TracksPerCylinder = kTracksPerCylinder;
        job.SectorsPerTrack = kSectorsPerTrack;
        job.TreeItem = item;
        job.TotalSectors = sectors;
        job.DevicePath = disk.id;
        inv.SmpParamList.push_back(job);
    }
    // A disk whose only partition reaches beyond its reported size is as
    // large as that partition.
    std::uint64_t diskSectors = sectors;
    ExtendDiskSectorCount(inv.PartitionTable, n, diskSectors);
    d->TotalSectorsText = std::to_string(diskSectors);
    inv.DiskIdentityList.push_back(DiskIdentityText(*d));
}

}  // namespace

void EnumeratePhysicalDisks(DriveInventory& inv, DeviceRegistry& registry, const PhysicalDiskOptions& options) {
    BusyGuard busy(inv.DriveListBusy);
    auto lock = inv.Lock();
    inv.DiskIdentityList.clear();
    for (const RegisteredDisk& disk : registry.Disks()) {
        // Every number the registry hands out (0..25) is listed: a disk that
        // was given the last number must not vanish from the tree.
        if (disk.number < 0 || disk.number >= kMaxDisks) continue;
        ListOneDisk(inv, registry, disk, options);
    }
}

}  // namespace torvane
