#include "disk/logical_drives.h"

#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "disk/sector_bytes.h"
#include "disk/volume_mapping.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef TORVANE_HAVE_BLKID
#include <blkid/blkid.h>
#endif

namespace torvane {

namespace fs = std::filesystem;

std::string UnescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    auto oct = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && oct(field[i + 1]) && oct(field[i + 2]) && oct(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(v));
            i += 3;
            continue;
        }
        out.push_back(field[i]);
    }
    return out;
}

namespace {

std::vector<std::string> SplitBlanks(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string word;
    while (in >> word) out.push_back(word);
    return out;
}

bool ParseUnsigned(const std::string& s, unsigned& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = static_cast<unsigned>(std::stoul(s));
    return true;
}

}  // namespace

std::vector<MountInfoEntry> ParseMountInfo(std::istream& in) {
    std::vector<MountInfoEntry> out;
    std::string line;
    while (std::getline(in, line)) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        std::vector<std::string> w = SplitBlanks(line);
        if (w.size() < 10) continue;
        auto dash = std::find(w.begin() + 6, w.end(), "-");
        if (dash == w.end() || w.end() - dash < 3) continue;
        MountInfoEntry e;
        unsigned id = 0, parent = 0;
        if (!ParseUnsigned(w[0], id) || !ParseUnsigned(w[1], parent)) continue;
        e.MountId = static_cast<int>(id);
        e.ParentId = static_cast<int>(parent);
        auto colon = w[2].find(':');
        if (colon == std::string::npos || !ParseUnsigned(w[2].substr(0, colon), e.Major) ||
            !ParseUnsigned(w[2].substr(colon + 1), e.Minor))
            continue;
        e.Root = UnescapeMountField(w[3]);
        e.MountPoint = UnescapeMountField(w[4]);
        e.Options = w[5];
        e.FsType = *(dash + 1);
        e.Source = UnescapeMountField(*(dash + 2));
        if (w.end() - dash >= 4) e.SuperOptions = *(dash + 3);
        out.push_back(std::move(e));
    }
    return out;
}

namespace {

bool Excluded(const std::string& fsType, const std::string& name, unsigned major) {
    if (fsType == "iso9660" || fsType == "udf" || fsType == "squashfs") return true;
    if (name.rfind("sr", 0) == 0 || name.rfind("fd", 0) == 0) return true;
    if (major == 2 || major == 11) return true;  // floppy, SCSI CD-ROM
    return false;
}

std::string NameFromNumbers(const std::string& sysfsRoot, unsigned major, unsigned minor) {
    std::error_code ec;
    fs::path link = fs::path(sysfsRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    fs::path real = fs::canonical(link, ec);
    if (ec) return {};
    return real.filename().string();
}

bool BlockExists(const std::string& sysfsRoot, const std::string& name) {
    std::error_code ec;
    return fs::exists(fs::path(sysfsRoot) / "class" / "block" / name, ec) ||
           fs::exists(fs::path(sysfsRoot) / "block" / name, ec);
}

}  // namespace

std::vector<MountedBlockVolume> SelectBlockVolumes(const std::vector<MountInfoEntry>& entries,
                                                   const std::string& sysfsRoot, const std::string& devRoot) {
    struct Pick {
        MountedBlockVolume v;
        bool rootMount;
    };
    std::vector<Pick> picks;
    for (const MountInfoEntry& e : entries) {
        std::string name;
        if (e.Major != 0) name = NameFromNumbers(sysfsRoot, e.Major, e.Minor);
        if (name.empty() && e.Source.rfind("/dev/", 0) == 0) {
            std::error_code ec;
            fs::path real = fs::canonical(e.Source, ec);  // /dev/mapper/x -> /dev/dm-0
            std::string candidate = ec ? fs::path(e.Source).filename().string() : real.filename().string();
            if (BlockExists(sysfsRoot, candidate)) name = candidate;
        }
        if (name.empty()) continue;  // no block device behind it
        if (Excluded(e.FsType, name, e.Major)) continue;
        MountedBlockVolume v{name, (fs::path(devRoot) / name).string(), e.MountPoint, e.FsType};
        bool rootMount = e.Root == "/";
        auto same = std::find_if(picks.begin(), picks.end(), [&](const Pick& p) { return p.v.BlockName == name; });
        if (same == picks.end()) {
            picks.push_back(Pick{std::move(v), rootMount});
            continue;
        }
        bool better = (rootMount && !same->rootMount) ||
                      (rootMount == same->rootMount && v.MountPoint.size() < same->v.MountPoint.size());
        if (better) {
            same->v.MountPoint = v.MountPoint;
            same->v.FsType = v.FsType;
            same->rootMount = rootMount;
        }
    }
    std::vector<MountedBlockVolume> out;
    for (Pick& p : picks) out.push_back(std::move(p.v));
    return out;
}

BootSectorIdentity IdentifyBootSector(const std::uint8_t* sector512) {
    SectorBytes s;
    std::copy(sector512, sector512 + kSectorSize, s.b.begin());
    BootSectorIdentity id;
    char serial[16];
    auto label = [&](std::size_t off) {
        std::string t(reinterpret_cast<const char*>(s.b.data() + off), 11);
        t = TrimText(t);
        return t == "NO NAME" ? std::string() : t;
    };
    if (s.Has(0x52, "FAT32")) {
        id.FsName = "FAT32";
        std::snprintf(serial, sizeof serial, "%X", s.U32(0x43));
        id.SerialText = serial;
        id.Label = label(0x47);
    } else if (s.Has(0x36, "FAT")) {
        id.FsName = "FAT";
        std::snprintf(serial, sizeof serial, "%X", s.U32(0x27));
        id.SerialText = serial;
        id.Label = label(0x2B);
    } else if (s.Has(3, "NTFS")) {
        id.FsName = "NTFS";
        std::snprintf(serial, sizeof serial, "%X", s.U32(0x48));
        id.SerialText = serial;
    } else if (s.Has(3, "EXFAT")) {
        id.FsName = "exFAT";
        std::snprintf(serial, sizeof serial, "%X", s.U32(100));
        id.SerialText = serial;
    }
    return id;
}

namespace {

std::string FsNameFromMountType(const std::string& type, std::uint64_t bytes) {
    if (type == "vfat" || type == "msdos") return bytes >= (2ull << 30) ? "FAT32" : "FAT";
    if (type == "exfat") return "exFAT";
    if (type == "ntfs" || type == "ntfs3") return "NTFS";
    if (type == "fuseblk") return {};
    return type;
}

#ifdef TORVANE_HAVE_BLKID
struct BlkidResult {
    std::string type, version, label, uuid;
};

bool ProbeWithBlkid(const std::string& path, BlkidResult& r) {
    blkid_probe pr = blkid_new_probe_from_filename(path.c_str());
    if (!pr) return false;
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE |
                                              BLKID_SUBLKS_VERSION);
    bool ok = blkid_do_safeprobe(pr) == 0;
    if (ok) {
        const char* v = nullptr;
        if (blkid_probe_lookup_value(pr, "TYPE", &v, nullptr) == 0 && v) r.type = v;
        if (blkid_probe_lookup_value(pr, "VERSION", &v, nullptr) == 0 && v) r.version = v;
        if (blkid_probe_lookup_value(pr, "LABEL", &v, nullptr) == 0 && v) r.label = v;
        if (blkid_probe_lookup_value(pr, "UUID", &v, nullptr) == 0 && v) r.uuid = v;
    }
    blkid_free_probe(pr);
    return ok;
}
#endif

std::uint64_t SysfsSectorCount(const std::string& sysfsRoot, const std::string& name) {
    for (const char* sub : {"class/block", "block"}) {
        std::ifstream in(fs::path(sysfsRoot) / sub / name / "size");
        std::string t;
        if (in && std::getline(in, t)) {
            t = TrimText(t);
            if (!t.empty() && t.size() < 20 && t.find_first_not_of("0123456789") == std::string::npos)
                return std::stoull(t);
        }
    }
    return 0;
}

}  // namespace

std::vector<LogicalVolumeInfo> CollectLogicalVolumes(DeviceRegistry& registry, const LogicalDriveSources& sources) {
    std::vector<LogicalVolumeInfo> out;
    std::ifstream in(sources.MountInfoPath);
    std::vector<MountInfoEntry> entries = ParseMountInfo(in);
    std::vector<MountedBlockVolume> mounted = SelectBlockVolumes(entries, registry.SysfsRoot(), registry.DevRoot());
    std::vector<MountedVolume> forRegistry;
    for (const auto& m : mounted) forRegistry.push_back(MountedVolume{m.BlockDevice, m.MountPoint});
    std::vector<RegisteredVolume> lettered = registry.SetMountedVolumes(forRegistry);

    for (const RegisteredVolume& rv : lettered) {
        auto m = std::find_if(mounted.begin(), mounted.end(),
                              [&](const MountedBlockVolume& x) { return x.BlockDevice == rv.blockDevice; });
        LogicalVolumeInfo v;
        v.Letter = rv.letter;
        v.Id = rv.id;
        v.BlockDevice = rv.blockDevice;
        v.MountPoint = rv.mountPoint;
        const std::string name = fs::path(rv.blockDevice).filename().string();
        const std::string mountType = m != mounted.end() ? m->FsType : std::string();

        v.Image = rv.isImage;
        if (sources.UseStatvfs && !v.MountPoint.empty() && !v.Image) {
            struct statvfs st {};
            if (statvfs(v.MountPoint.c_str(), &st) == 0) {
                v.SizeKnown = true;
                v.TotalBytes = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
                v.FreeBytes = static_cast<std::uint64_t>(st.f_bfree) * st.f_frsize;
            }
        }
        // Sector count of the device itself.
        v.SectorCount = v.Image ? 0 : SysfsSectorCount(registry.SysfsRoot(), name);
        DevicePtr device = registry.Open(rv.id);
        if (device && v.SectorCount == 0) v.SectorCount = device->SizeBytes() / kSectorSize;
        if (v.SectorCount == 0) v.SectorCount = v.TotalBytes / kSectorSize;

        // Name, label and serial: the boot sector first (it decides between the
        // FAT kinds as the rest of the program does), then libblkid.
        if (device) {
            SectorBytes boot;
            if (ReadOneSector(*device, 0, boot)) {
                BootSectorIdentity id = IdentifyBootSector(boot.b.data());
                v.FsName = id.FsName;
                v.Label = id.Label;
                v.SerialText = id.SerialText;
            }
        }
#ifdef TORVANE_HAVE_BLKID
        if (sources.UseBlkid && !rv.memory) {
            BlkidResult r;
            if (ProbeWithBlkid(rv.blockDevice, r)) {
                if (!r.label.empty()) v.Label = r.label;
                if (v.FsName.empty()) {
                    if (r.type == "vfat") v.FsName = r.version == "FAT32" ? "FAT32" : "FAT";
                    else if (r.type == "exfat") v.FsName = "exFAT";
                    else if (r.type == "ntfs") v.FsName = "NTFS";
                    else v.FsName = r.type;
                }
                if (v.SerialText.empty() && !r.uuid.empty()) {
                    std::string hex;
                    for (char c : r.uuid)
                        if (c != '-') hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
                    if (hex.size() > 8) hex = hex.substr(hex.size() - 8);
                    if (hex.find_first_not_of("0123456789ABCDEF") == std::string::npos) {
                        hex.erase(0, std::min(hex.find_first_not_of('0'), hex.size() - 1));
                        v.SerialText = hex;
                    }
                }
            }
        }
#endif
        if (v.FsName.empty()) v.FsName = FsNameFromMountType(mountType, v.SectorCount * kSectorSize);

        if (v.Image) {
            // The image is the whole volume; it lies on no listed disk.
            v.SizeKnown = true;
            v.TotalBytes = v.SectorCount * kSectorSize;
            out.push_back(std::move(v));
            continue;
        }
        v.Dynamic = QueryVolumeDiskExtent(registry, rv.blockDevice, v.Extent);
        if (v.Extent.Known) {
            auto disk = registry.Disk(static_cast<int>(v.Extent.DiskNumber));
            v.Removable = disk && disk->removable;
        }
        out.push_back(std::move(v));
    }
    return out;
}

std::string LogicalDriveItemText(const LogicalVolumeInfo& v, const std::string& capacityText, const std::string& fsName) {
    std::string root(1, v.Letter);
    root += ":";
    if (!v.MountPoint.empty()) root += " " + v.MountPoint;
    return root + " (" + capacityText + " - " + v.Label + " - " + fsName + ")";
}

void EnumerateLogicalDrives(DriveInventory& inv, const std::vector<LogicalVolumeInfo>& volumes,
                            const std::string& excludedLetter) {
    struct BusyGuard {
        std::atomic<bool>& flag;
        explicit BusyGuard(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~BusyGuard() { flag = false; }
    } busy(inv.DriveListBusy);
    auto lock = inv.Lock();
    if (inv.LogicalDrivesListed) return;

    for (const LogicalVolumeInfo& v : volumes) {
        if (v.Letter == 0 || std::string(1, v.Letter) == excludedLetter) continue;
        if (!inv.ListAllDriveTypes) {
            bool external = false;
            if (v.Extent.Known) {
                const std::string number = std::to_string(v.Extent.DiskNumber);
                for (std::size_t i = 0; i + 1 < inv.DiskMediaList.size(); i += 2)
                    if (inv.DiskMediaList[i] == number && inv.DiskMediaList[i + 1].find("External") != std::string::npos)
                        external = true;
            }
            if (!v.Removable && !external && !v.Image) continue;
        }
        std::string fsName = v.FsName.empty() ? "Unknown" : v.FsName;
        if (fsName == "FAT") fsName = "FAT16";
        std::string freeText;
        if (!v.SizeKnown) freeText = "Unknown Size ";
        else if (v.FreeBytes != 0) freeText = TrimText(FormatByteSize(v.FreeBytes));
        const std::uint64_t total = v.SizeKnown ? v.TotalBytes : 0;

        const std::string path = std::string("\\\\.\\") + v.Letter + ":";
        inv.LastVolumeSectorCount = v.SectorCount;
        inv.VolumeSizeList.push_back(path + "|" + std::to_string(v.SectorCount));

        std::string capacityText = total == 0 ? "Unknown Size " : TrimText(FormatByteSize(total));
        const std::string itemText = LogicalDriveItemText(v, capacityText, fsName);
        capacityText = TrimText(capacityText);
        freeText = TrimText(freeText);

        DriveDetails* d = inv.NewRecord();
        if (inv.RecoveryMode >= 1 && inv.RecoveryMode <= 5 && inv.LogicalDrivesItem != kNoTreeNode) {
            TreeNodeInit init;
            init.text = itemText;
            init.image = kImageVolume;
            init.payload = d;
            d->TreeItem = inv.Tree.InsertChild(inv.LogicalDrivesItem, init);
            inv.Tree.RequestExpand(inv.LogicalDrivesItem);
        }
        d->ItemText = itemText;
        d->KindText = "Logical Drives";
        d->ModeName = inv.ModeName();
        d->VolumeZeroText = "0";
        d->VolumeSectorCountText = std::to_string(v.SectorCount);
        d->FsName = fsName;
        d->DriveLetter = std::string(1, v.Letter) + ":";
        d->VolumeLabel = v.Label;
        d->CapacityText = capacityText;
        d->FreeSpaceText = freeText;
        d->SerialText = v.SerialText;
        d->VolumeDiskSizeMiB = 0;
        d->VolumeReserved = 0;
        d->TotalBytes = total;
        d->ExtentDiskNumber = v.Extent.DiskNumber;
        d->Dynamic = v.Dynamic ? 1 : 0;
        d->ExtentStart = v.Extent.StartSector;
        d->ExtentEnd = v.Extent.EndSector;
        if (v.Image) {
            d->ExtentEnd = v.SectorCount;  // the image is its own extent
            d->OnListedDisk = false;
        }
        d->DeviceId = v.Id;
        d->DevicePath = v.BlockDevice;
        d->MountPoint = v.MountPoint;

        if (inv.RecoveryMode >= 1 && inv.RecoveryMode <= 5) AddLogicalVolumePartition(inv, fsName, v.Extent);
    }
    inv.LogicalDrivesListed = true;
}

}  // namespace torvane
