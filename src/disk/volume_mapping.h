// Which disk, and which sectors of it, a mounted volume occupies.
//
// sysfs tells it: /sys/class/block/sdc1 has a "partition" file, and "start"
// and "size" in 512-byte units; its parent directory is the disk. A file
// system on a whole disk (a superfloppy memory card) covers the disk from
// sector 0. Device-mapper and md volumes (LVM, dm-crypt, RAID) have no single
// extent: they count as dynamic, as Windows' spanned and striped volumes do,
// so a scan of them reads the volume itself.
#pragma once

#include "disk/drive_inventory.h"
#include "platform/device_registry.h"

#include <cstdint>
#include <string>

namespace torvane {

struct BlockDeviceLocation {
    bool Known = false;          // the extent on a disk is known
    bool Mapped = false;         // a device-mapper or md device (no single extent)
    std::string DiskName;        // "sdc": the disk's kernel name (for a mapped device: its first slave's disk)
    std::uint64_t StartSector = 0;
    std::uint64_t EndSector = 0; // one past the last sector
};

// Where the block device `blockName` ("sdc1", "mmcblk0p1", "dm-0") lies,
// read from the sysfs tree under `sysfsRoot`.
BlockDeviceLocation LocateBlockDevice(const std::string& sysfsRoot, const std::string& blockName);

// Fills `out` with the registered disk and extent of a volume's block device
// ("/dev/sdc1" or "sdc1"). Returns true when the volume lies on a dynamic
// disk (an MBR entry of type 0x42, the LDM data GUID, or a mapped device) or
// when its disk's layout could not be read; false otherwise, also when the
// extent is unknown (out.Known is then false).
bool QueryVolumeDiskExtent(DeviceRegistry& registry, const std::string& blockDevice, VolumeDiskExtent& out);

// The number of the disk that holds the volume "E:" ("E:\", "\\.\E:"), or -1.
int GetVolumeDiskNumber(DeviceRegistry& registry, const std::string& driveText);

// True when the volume's disk is listed in inv.DiskMediaList with a media
// text containing "External"; always false while ListAllDriveTypes is set.
bool IsExternalDiskNumber(const DriveInventory& inv, DeviceRegistry& registry, const std::string& driveText);

}  // namespace torvane
