// The table of devices the program can read, keyed by the program's own
// device identifiers: "\\.\PhysicalDriveN" for a disk and "\\.\X:" for a
// mounted volume. The registry maps each identifier to what backs it on this
// machine: a block device (/dev/sdb), a disk image file, or (in tests and fuzz
// targets) an in-memory device.
//
// Disk numbers 0..25 are handed out at first sight and kept while the device
// stays present; a number freed by a removed disk goes to the next new disk
// (the lowest free number first). Real block disks are read from sysfs the
// first time the registry is used, so they take the first numbers; disk images
// (TORVANE_DISK_IMAGES, --image, --removable-image) and in-memory disks come
// after them. Disks() lists everything in number order.
//
// Which block devices count as disks: whole disks named sd*, nvme<c>n<n>,
// mmcblk<n>, vd*, xvd* and hd*, plus loop devices that have a backing file
// (a disk image attached with losetup; snap packages' *.snap loops are left
// out). Partitions, RAM disks (ram, zram), device-mapper and md volumes,
// CD/DVD drives (sr), floppies, eMMC boot and RPMB areas, hidden multipath
// paths and devices of size 0 (a card reader without a card) are not listed.
//
// A disk that cannot be opened (no permission, node missing) is still
// listed, with the errno of the refused open, so that the program can say
// once why nothing can be read instead of showing an empty list.
//
// All members are thread-safe.
#pragma once

#include "platform/device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int kMaxDisks = 26;

// The message shown once when disks are listed that cannot be opened for lack
// of permission (RegisteredDisk::PermissionDenied()).
inline constexpr const char* kDiskPermissionMessage =
    "Some disks cannot be read: reading disks needs administrator rights (run the program as root) "
    "or membership of the \"disk\" group.";

// The same message for the disks given (their numbers), saying what failed
// for each ("/dev/sdb: Permission denied"). A program that runs as root
// already has the rights the message above asks for: then it says that the
// system refused even root (a security policy, a container, a locked device).
std::string DiskPermissionMessageFor(const std::vector<int>& diskNumbers, bool runningAsRoot);

// "\\.\PhysicalDrive3"
std::string PhysicalDrivePath(int diskNumber);
// "\\.\E:"
std::string VolumePath(char driveLetter);
// Disk number of a "\\.\PhysicalDriveN" text (the prefix in any case, then
// decimal digits only), or -1.
int ParsePhysicalDriveNumber(const std::string& devicePath);
// Letter (upper case) of a "\\.\X:" text (an optional trailing backslash is
// allowed), or 0.
char ParseVolumeLetter(const std::string& devicePath);
// One spelling per device: "\\.\PHYSICALDRIVE3" -> "\\.\PhysicalDrive3",
// "\\.\e:" -> "\\.\E:"; any other text is returned unchanged.
std::string CanonicalDevicePath(const std::string& devicePath);

// True for the errno values of a refused open (EACCES, EPERM).
bool IsPermissionErrno(int e);

enum class DiskSource { kBlockDevice, kImage, kMemory };

struct RegisteredDisk {
    int number = -1;              // N of \\.\PhysicalDriveN
    std::string id;               // \\.\PhysicalDriveN
    std::string backingPath;      // /dev/sdb, /path/to/image.img, or "memory:<name>"
    std::string sysfsName;        // "sdb" for block disks, empty for images and memory disks
    std::string sysfsPath;        // <sysfs root>/block/sdb, empty for images and memory disks
    DiskSource source = DiskSource::kBlockDevice;
    bool isImage = false;         // a disk image file (or a memory disk) listed as a disk
    bool removable = false;       // removable media (sysfs flag or --removable-image)
    std::uint64_t sizeBytes = 0;  // the device's own size
    std::uint32_t logicalBlockSize = 512;  // from sysfs; images and memory disks: 512
    std::string loopBackingFile;  // for a loop device: the file behind it
    int openErrno = 0;            // 0 when the device opened at the last refresh
    std::string openError;        // strerror text of openErrno
    DevicePtr memory;             // set for in-memory devices registered by tests

    bool PermissionDenied() const { return IsPermissionErrno(openErrno); }
};

struct RegisteredVolume {
    char letter = 0;              // C, D, ... in mount order
    std::string id;               // \\.\C:
    std::string blockDevice;      // /dev/sdb1
    std::string mountPoint;       // /media/user/CARD
    DevicePtr memory;             // set for in-memory volumes registered by tests
    bool isImage = false;         // an image file listed as a volume (--logical-image)
};

// One mounted block-device file system, as the mount table lists it.
struct MountedVolume {
    std::string blockDevice;      // /dev/sdb1
    std::string mountPoint;       // /media/user/CARD
};

class DeviceRegistry {
public:
    // The program's registry. Tests may also build registries of their own.
    static DeviceRegistry& Instance();

    DeviceRegistry() = default;
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    // Configuration, normally done once at start-up. An empty sysfs root
    // lists no block devices at all (tests, fuzz targets).
    void SetSysfsRoot(std::string root);       // default "/sys"
    void SetDevRoot(std::string root);         // default "/dev"
    std::string SysfsRoot() const;
    std::string DevRoot() const;

    // Lists a disk image file as a disk (read-only) and returns its number.
    // Returns -1 (and the reason in `error`) when the file cannot be opened or
    // all 26 numbers are taken. Adding a path that is already listed returns
    // its number again (and makes it removable when asked).
    int AddImage(const std::string& path, bool removable, std::string* error = nullptr);
    // Adds every path of TORVANE_DISK_IMAGES (colon-separated; empty entries
    // skipped). Returns one error line per path that could not be added.
    std::vector<std::string> AddImagesFromEnvironment();

    // Tests and fuzz targets: list an in-memory device as a disk; returns its
    // number, or -1 when all numbers are taken or the device is null.
    int RegisterMemoryDisk(DevicePtr device, bool removable = false);
    // Forgets a disk image or memory disk (as if it were unplugged). Block
    // disks come and go with sysfs (Refresh). Returns whether it was listed.
    bool RemoveDisk(int number);

    // Volumes: the logical-drive enumeration hands over the mounted block
    // devices in mount order; letters from C are given at first sight and kept
    // while the device stays mounted. Returns the volumes in letter order.
    std::vector<RegisteredVolume> SetMountedVolumes(const std::vector<MountedVolume>& mounted);
    // Lists an image file of one volume (a file system, not a disk) as a
    // mounted logical drive and returns its letter: the first free one from C,
    // kept while the program runs. Adding a path already listed returns its
    // letter again. Returns 0 (and the reason in `error`) when the file cannot
    // be opened or C..Z are all taken.
    char AddVolumeImage(const std::string& path, std::string* error = nullptr);
    // Tests: a volume letter backed by a path or by an in-memory device.
    void RegisterVolume(char letter, std::string blockDevice, std::string mountPoint);
    void RegisterMemoryVolume(char letter, DevicePtr device, std::string mountPoint = {});

    // Re-reads sysfs: keeps the numbers of block disks still present, frees
    // those of removed ones, numbers new ones. Images and memory disks keep theirs.
    // Each block disk is opened once, read-only, to learn whether it can be
    // read (RegisteredDisk::openErrno); the table stays readable meanwhile.
    void Refresh();

    std::vector<RegisteredDisk> Disks() const;
    std::vector<RegisteredVolume> Volumes() const;
    std::optional<RegisteredDisk> Disk(int number) const;
    // True when a listed disk could not be opened for lack of permission.
    bool AnyPermissionDenied() const;

    // Opens the device behind an identifier ("\\.\PhysicalDrive2", "\\.\E:")
    // or a plain path, read-only. A memory disk is returned itself (reads of
    // it need no lock). On failure returns nullptr with the reason.
    DevicePtr Open(const std::string& devicePath, std::string* error = nullptr, int* errnoOut = nullptr) const;

    // Tests: how block devices and images are opened (default OpenFileDevice),
    // e.g. to refuse one with EACCES as a machine without root would.
    using Opener = std::function<DevicePtr(const std::string& path, std::string* error, int* errnoOut)>;
    void SetOpener(Opener opener);

    // Forgets everything and returns to the defaults (tests).
    void Reset();

private:
    struct Entry {
        RegisteredDisk disk;
        std::string key;          // what identifies the source across refreshes
    };
    // Reads sysfs the first time the table is looked at.
    void EnsureInitialised() const;
    // Scans sysfs and probes the devices without holding mutex_ (a slow disk
    // must not hold up readers of the table), then merges under it.
    // Refreshes are serialised by refreshMutex_ (always taken before mutex_).
    void RefreshNow() const;
    int LowestFreeNumberLocked() const;
    void SortLocked() const;

    mutable std::mutex refreshMutex_;
    mutable std::mutex mutex_;
    std::string sysfsRoot_ = "/sys";
    std::string devRoot_ = "/dev";
    Opener opener_;
    mutable std::atomic<bool> initialised_{false};
    mutable std::vector<Entry> disks_;     // sorted by number
    std::vector<RegisteredVolume> volumes_;  // sorted by letter
};

}  // namespace torvane
