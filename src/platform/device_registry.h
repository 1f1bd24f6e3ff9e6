// The table of devices the program can read, keyed by the program's own
// device identifiers: "\\.\PhysicalDriveN" for a disk and "\\.\X:" for a
// mounted volume. The registry maps each identifier to what backs it on this
// machine: a block device (/dev/sdb), a disk image file, or (in tests and fuzz
// targets) an in-memory device.
//
// Disk numbers 0..25 are handed out at first sight and kept while the device
// stays present. Real block disks come first (from sysfs), then disk images
// (TORVANE_DISK_IMAGES, --image, --removable-image).
#pragma once

#include "platform/device.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int kMaxDisks = 26;

// "\\.\PhysicalDrive3"
std::string PhysicalDrivePath(int diskNumber);
// "\\.\E:"
std::string VolumePath(char driveLetter);
// Disk number of a "\\.\PhysicalDriveN" text, or -1.
int ParsePhysicalDriveNumber(const std::string& devicePath);

struct RegisteredDisk {
    int number = -1;              // N of \\.\PhysicalDriveN
    std::string id;               // \\.\PhysicalDriveN
    std::string backingPath;      // /dev/sdb, /path/to/image.img, or "memory:<name>"
    std::string sysfsName;        // "sdb" for block disks, empty for images
    bool isImage = false;         // a disk image file listed as a disk
    bool removable = false;       // removable media (sysfs flag or --removable-image)
    DevicePtr memory;             // set for in-memory devices registered by tests
};

struct RegisteredVolume {
    char letter = 0;              // C, D, ... in mount order
    std::string id;               // \\.\C:
    std::string blockDevice;      // /dev/sdb1
    std::string mountPoint;       // /media/user/CARD
};

class DeviceRegistry {
public:
    static DeviceRegistry& Instance();

    // Configuration, normally done once at start-up.
    void SetSysfsRoot(std::string root);       // default "/sys"
    void SetDevRoot(std::string root);         // default "/dev"
    void AddImage(const std::string& path, bool removable);
    void AddImagesFromEnvironment();            // TORVANE_DISK_IMAGES, colon-separated

    // Tests and fuzz targets: list an in-memory device as a disk; returns its number.
    int RegisterMemoryDisk(DevicePtr device, bool removable = false);
    // Tests: register a volume identifier backed by a path or an in-memory device.
    void RegisterVolume(char letter, std::string blockDevice, std::string mountPoint);

    // Re-reads sysfs: keeps the numbers of disks still present, frees those of
    // removed ones, numbers new ones. Images and memory disks keep theirs.
    void Refresh();

    std::vector<RegisteredDisk> Disks() const;
    std::vector<RegisteredVolume> Volumes() const;
    std::optional<RegisteredDisk> Disk(int number) const;

    // Opens the device behind an identifier (or a plain path) read-only.
    DevicePtr Open(const std::string& devicePath, std::string* error = nullptr, int* errnoOut = nullptr) const;

    // Forgets everything (tests).
    void Reset();

private:
    DeviceRegistry() = default;
    mutable std::mutex mutex_;
    std::string sysfsRoot_ = "/sys";
    std::string devRoot_ = "/dev";
    std::vector<RegisteredDisk> disks_;
    std::vector<RegisteredVolume> volumes_;
    struct ImageSpec { std::string path; bool removable; };
    std::vector<ImageSpec> images_;
};

}  // namespace torvane
