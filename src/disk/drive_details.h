// The record behind every disk and volume item of a drive tree, and the job a
// disk without partition items becomes for the partition discovery.
#pragma once

#include "base/tree_model.h"

#include <cstdint>
#include <string>

namespace torvane {

// Fields in the order the property tables list them. "D" fields are set for a
// physical disk, "V" fields for a mounted volume; the others stay empty or 0.
struct DriveDetails {
    TreeNodeId TreeItem = kNoTreeNode;   //  1 D V  the item that carries the record
    std::string ItemText;                //  2 D V  the text of that item
    std::string KindText;                //  3 D: the media text; V: "Logical Drives"
    std::string ModeName;                //  4 D V  "Basic Search", ... at listing time
    std::string VolumeZeroText;          //  5 V    "0"
    std::string VolumeSectorCountText;   //  6 V    sector count of the volume ("%lld")
    std::string FsName;                  //  7 V    file-system name
    std::string DriveLetter;             //  8 V    "E:"
    std::string VolumeLabel;             //  9 V
    std::string CapacityText;            // 10 V    "14.91 GB" or "Unknown Size"
    std::string FreeSpaceText;           // 11 V
    std::string SerialText;              // 12 V    volume serial number ("%X")
    std::uint64_t VolumeDiskSizeMiB = 0; // 13 V    0 (the disk size is not known to a volume record)
    std::uint32_t VolumeReserved = 0;    // 14 V    0
    std::uint64_t TotalBytes = 0;        // 15 V    capacity in bytes
    std::uint32_t ExtentDiskNumber = 0;  // 16 V    disk that holds the volume's first extent
    std::uint32_t Dynamic = 0;           // 17 V    1 when the volume lies on a dynamic disk
    std::uint64_t ExtentStart = 0;       // 18 V    first sector of the extent on its disk
    std::uint64_t ExtentEnd = 0;         // 19 V    one past the extent's last sector
    std::string DiskNumberText;          // 20 D    "3"
    std::string DiskLabel;               // 21 D    "Disk3"
    std::string ModelText;               // 22 D    "SanDisk Ultra USB Device"
    std::string CapacityMediaText;       // 23 D    "14.91 GB - Removable Media"
    std::string ModelText2;              // 24 D    same as 22
    std::string MediaText;               // 25 D    "Removable Media", ...
    std::string BusTypeText;             // 26 D    "USB", "SATA", ...
    std::string DiskCapacityText;        // 27 D    "14.91 GB"
    std::string CylindersText;           // 28 D
    std::string TracksPerCylinderText;   // 29 D    "255"
    std::string TotalSectorsText;        // 30 D    exact sector count
    std::string BytesPerSectorText;      // 31 D    "512"
    std::string SectorsPerTrackText;     // 32 D    "63"
    std::string FirmwareRevision;        // 33 D
    std::string VendorText;              // 34 D    always empty (folded into the model)
    std::string SerialNumber;            // 35 D
    std::string ComputerName;            // 36 D
    std::string DevicePath;              // 37 D    what a person recognises: /dev/sdb, the image path
    std::uint64_t SizeMiB = 0;           // 38 D

    // --- This platform's additions.
    std::string DeviceId;                // "\\.\PhysicalDrive3" or "\\.\E:"
    std::string MountPoint;              // V: where the volume is mounted
    bool AccessDenied = false;           // D: listed, but cannot be opened for lack of permission
    std::string OpenError;               // D: why it cannot be opened
    std::uint32_t LogicalBlockSize = 512;// D: sectors other than 512 bytes are not supported
    std::string Note;                    // D: why the disk is listed without partitions, or empty
    bool OnListedDisk = true;            // V: false for an image listed as a volume (no disk holds it)
    bool IsVolume() const { return KindText == "Logical Drives"; }
};

// A disk whose partition table lists nothing: a job for the partition discovery.
struct SmpParam {
    std::uint32_t Cylinders = 0;         // low 32 bits of the cylinder count
    std::uint32_t TracksPerCylinder = 0;
    std::uint32_t SectorsPerTrack = 0;
    TreeNodeId TreeItem = kNoTreeNode;   // the disk's item
    std::uint64_t TotalSectors = 0;
    std::string DevicePath;              // "\\.\PhysicalDriveN"
};

}  // namespace torvane
