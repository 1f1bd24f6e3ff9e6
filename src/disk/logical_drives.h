// Logical drives: the "Logical Drives" branch of a drive tree.
//
// A logical drive is a mounted file system on a block device. The mount
// table (/proc/self/mountinfo) lists them; each gets a drive letter from the
// DeviceRegistry (C, D, ... in mount order, kept while mounted), so the rest
// of the program can name it "\\.\E:". Network and pseudo file systems have
// no device to read and are not listed, nor are optical discs, floppies and
// read-only images (iso9660, udf, squashfs).
//
// Label and file-system type come from libblkid when the program was built
// with it, else from the volume's boot sector; capacity and free space from
// statvfs; the sector count from the block device itself (not the file
// system's capacity, which leaves out the FATs and reserved sectors).
#pragma once

#include "disk/drive_inventory.h"
#include "platform/device_registry.h"

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// One line of /proc/self/mountinfo.
struct MountInfoEntry {
    int MountId = 0;
    int ParentId = 0;
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string Root;         // the mounted directory of the file system ("/" for the whole)
    std::string MountPoint;   // unescaped
    std::string Options;
    std::string FsType;
    std::string Source;       // unescaped ("/dev/sdc1", "tmpfs", "server:/export")
    std::string SuperOptions;
};

// "\040" -> " ", "\011" -> tab, "\012" -> newline, "\134" -> "\".
std::string UnescapeMountField(std::string_view field);
// Lines that do not have the mountinfo shape are skipped.
std::vector<MountInfoEntry> ParseMountInfo(std::istream& in);

// A mounted file system on a block device, once per device.
struct MountedBlockVolume {
    std::string BlockName;    // "sdc1"
    std::string BlockDevice;  // "/dev/sdc1"
    std::string MountPoint;
    std::string FsType;       // as mounted: "vfat", "fuseblk", "ext4"
};

// The block-device mounts of `entries`, in mount order, one per device (the
// mount of the file system's root with the shortest mount point wins). The
// device is found from the major:minor numbers through <sysfsRoot>/dev/block,
// or, for FUSE mounts (major 0), from a "/dev/..." source.
std::vector<MountedBlockVolume> SelectBlockVolumes(const std::vector<MountInfoEntry>& entries,
                                                   const std::string& sysfsRoot, const std::string& devRoot = "/dev");

// What the listing needs to know of one lettered volume.
struct LogicalVolumeInfo {
    char Letter = 0;
    std::string Id;               // "\\.\E:"
    std::string BlockDevice;      // "/dev/sdc1"
    std::string MountPoint;
    std::string FsName;           // "FAT32", "FAT" (a FAT16/FAT12 boot sector), "exFAT", "NTFS", "ext4", "" unknown
    std::string Label;
    std::string SerialText;       // "%X"
    bool SizeKnown = false;       // statvfs succeeded
    std::uint64_t TotalBytes = 0;
    std::uint64_t FreeBytes = 0;
    std::uint64_t SectorCount = 0;  // of the block device
    VolumeDiskExtent Extent;
    bool Dynamic = false;
    bool Removable = false;       // the volume's disk holds removable media
    bool Image = false;           // an image file listed as a volume (--logical-image): no disk holds it
};

// File-system name, label and serial from a volume's first sector.
struct BootSectorIdentity {
    std::string FsName;           // "FAT32", "FAT", "NTFS", "exFAT" or ""
    std::string Label;            // FAT: the boot-sector label ("NO NAME" gives "")
    std::string SerialText;       // "%X"
};
BootSectorIdentity IdentifyBootSector(const std::uint8_t* sector512);

struct LogicalDriveSources {
    std::string MountInfoPath = "/proc/self/mountinfo";
    bool UseBlkid = true;         // labels and types from libblkid, when built with it
    bool UseStatvfs = true;
};

// Reads the mount table, letters the volumes through the registry and probes
// each one. Never fails: what cannot be read stays empty.
std::vector<LogicalVolumeInfo> CollectLogicalVolumes(DeviceRegistry& registry, const LogicalDriveSources& sources = {});

// The item text: "E: /media/card (14.91 GB - CARD - FAT32)". The first two
// characters are the letter and colon; "Unknown Size " stands for a size that
// could not be read.
std::string LogicalDriveItemText(const LogicalVolumeInfo& v, const std::string& capacityText, const std::string& fsName);

// EnumerateLogicalDrives: lists `volumes` under inv's "Logical Drives" item,
// fills VolumeSizeList and LastVolumeSectorCount, and adds each
// volume's extent as a partition of its disk when the table walk did not list
// it. `excludedLetter` ("ALL" excludes none). Lists nothing a second time
// until LogicalDrivesListed is cleared. Clears DriveListBusy on every exit.
void EnumerateLogicalDrives(DriveInventory& inv, const std::vector<LogicalVolumeInfo>& volumes,
                            const std::string& excludedLetter = "ALL");

}  // namespace torvane
