// Physical disks: the "Physical Drives" branch of a drive tree.
//
// The DeviceRegistry lists the disks (block devices from sysfs, disk images,
// memory disks) and numbers them. This file reads what a person needs to
// recognise each one (model, bus, media kind, size), builds the disk item
// "Removable Media (Disk2 - 14.91 GB)" with its DriveDetails record, and lists
// the disk's partitions under it.
//
// Where a property comes from on Linux:
//   vendor, model     <sysfs>/block/X/device/{vendor,model} (MMC: device/name;
//                     loop devices and images: the file's base name)
//   revision          device/rev, device/firmware_rev (NVMe), device/fwrev (MMC)
//   serial            udev ID_SERIAL_SHORT, device/serial, X/serial, device/vpd_pg80
//   bus type          udev ID_BUS when the udev database has the device, else
//                     the path of the device in sysfs (…/usbN/… is USB, …/nvme/…
//                     NVMe, …/mmc_host/… SD or MMC, …/ataN/… SATA, virtio)
//   media             removable flag (SD cards count as removable media)
//   geometry          none is reported: 255 heads x 63 sectors per track
#pragma once

#include "disk/drive_inventory.h"
#include "platform/device_registry.h"

#include <cstdint>
#include <string>

namespace torvane {

// STORAGE_BUS_TYPE values the program names.
enum BusType : int {
    kBusUnknown = 0, kBusScsi = 1, kBusAtapi = 2, kBusAta = 3, kBus1394 = 4, kBusSsa = 5, kBusFibre = 6,
    kBusUsb = 7, kBusRaid = 8, kBusIscsi = 9, kBusSas = 10, kBusSata = 11, kBusSd = 12, kBusMmc = 13,
    kBusVirtual = 14, kBusFileBackedVirtual = 15, kBusSpaces = 16, kBusNvme = 17, kBusScm = 18,
    kBusUfs = 19, kBusNvmeof = 20,
};

// Media types of the disk geometry.
enum MediaType : int { kMediaUnknown = 0, kMediaRemovable = 11, kMediaFixed = 12 };

// "USB", "SATA", "IEEE 1394", "iSCSI", ... for 0..22; "Other Device" beyond.
std::string BusTypeName(int busType);
// "Removable Media"; "External hard disk media" (fixed on USB); "Fixed hard
// disk media"; "" for any other media type.
std::string MediaText(int mediaType, const std::string& busText);

struct DiskProperties {
    std::string Vendor;
    std::string Product;
    std::string Revision;
    std::string Serial;
    int Bus = kBusUnknown;
    int Media = kMediaFixed;
};

// Reads the properties of a registered disk from sysfs (under the path the
// registry found it at) and the udev database under `udevDataRoot`.
DiskProperties ReadDiskProperties(const RegisteredDisk& disk, const std::string& udevDataRoot = "/run/udev/data");

// The model text: vendor and product (vendors that are only a number or the
// "ATA" placeholder are left out), then the bus name and " Device".
std::string BuildModelText(const DiskProperties& props, const std::string& fallbackProduct);

// The host name (GetComputerNameText); empty when unknown.
std::string GetComputerNameText();

struct PhysicalDiskOptions {
    std::string UdevDataRoot = "/run/udev/data";
};

// Lists every registered disk (numbers 0..25) into inv's "Physical Drives"
// branch, with its partitions; disks without partition items become jobs in
// SmpParamList. A disk that cannot be opened for lack of permission is listed
// without partitions, flagged (DriveDetails::AccessDenied) and noted in
// inv.AccessDeniedDisks. Clears DriveListBusy on every exit.
void EnumeratePhysicalDisks(DriveInventory& inv, DeviceRegistry& registry, const PhysicalDiskOptions& options = {});

}  // namespace torvane
