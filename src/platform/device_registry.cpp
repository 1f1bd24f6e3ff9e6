#include "platform/device_registry.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace torvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDrivePrefix = "\\\\.\\PhysicalDrive";  // \\.\PhysicalDrive
constexpr const char* kDevicePrefix = "\\\\.\\";              // \\.\ (four characters)

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A sysfs attribute as text, trimmed of white space; nullopt when missing.
std::optional<std::string> ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto notSpace = [](unsigned char c) { return std::isspace(c) == 0; };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

std::uint64_t ReadNumber(const fs::path& file, std::uint64_t fallback)
{
    auto text = ReadAttribute(file);
    if (!text || !AllDigits(*text) || text->size() > 19)
        return fallback;
    return std::strtoull(text->c_str(), nullptr, 10);
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "sd" followed by letters only: sda, sdb, sdaa (not sda1).
bool IsLettersAfter(const std::string& name, const std::string& stem)
{
    if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), name.end(),
                       [](unsigned char c) { return c >= 'a' && c <= 'z'; });
}

// "mmcblk" followed by digits only: mmcblk0 (not mmcblk0p1, mmcblk0boot0, mmcblk0rpmb).
bool IsDigitsAfter(const std::string& name, const std::string& stem)
{
    return name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 && AllDigits(name.substr(stem.size()));
}

// nvme<controller>n<namespace>: nvme0n1 (not nvme0n1p1, not the hidden path nvme0c0n1).
bool IsNvmeNamespace(const std::string& name)
{
    if (name.compare(0, 4, "nvme") != 0)
        return false;
    std::size_t n = name.find('n', 4);
    if (n == std::string::npos)
        return false;
    return AllDigits(name.substr(4, n - 4)) && AllDigits(name.substr(n + 1));
}

enum class Kind { kNotADisk, kDisk, kLoop };

Kind ClassifyBlockName(const std::string& name)
{
    if (IsLettersAfter(name, "sd") || IsLettersAfter(name, "vd") || IsLettersAfter(name, "xvd") ||
        IsLettersAfter(name, "hd") || IsDigitsAfter(name, "mmcblk") || IsNvmeNamespace(name))
        return Kind::kDisk;
    if (IsDigitsAfter(name, "loop"))
        return Kind::kLoop;
    return Kind::kNotADisk;
}

// Natural order of kernel names: sda .. sdz before sdaa, nvme0n2 before nvme0n10.
bool NameBefore(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

struct Candidate {
    RegisteredDisk disk;
    std::string key;
};

std::vector<Candidate> ScanSysfs(const std::string& sysfsRoot, const std::string& devRoot)
{
    std::vector<Candidate> out;
    if (sysfsRoot.empty())
        return out;
    std::error_code ec;
    fs::path blockDir = fs::path(sysfsRoot) / "block";
    fs::directory_iterator it(blockDir, ec);
    if (ec)
        return out;
    for (const fs::directory_entry& entry : it) {
        std::string name = entry.path().filename().string();
        Kind kind = ClassifyBlockName(name);
        if (kind == Kind::kNotADisk)
            continue;
        fs::path dir = entry.path();
        if (ReadAttribute(dir / "hidden").value_or("0") == "1")
            continue;
        // Old IDE CD-ROM drives are hd* too.
        if (ReadAttribute(dir / "device" / "media").value_or("") == "cdrom")
            continue;
        std::uint64_t sectors = ReadNumber(dir / "size", 0);  // always in 512-byte units
        if (sectors == 0)
            continue;  // no medium (an empty card reader), or a detached loop device
        Candidate c;
        RegisteredDisk& d = c.disk;
        if (kind == Kind::kLoop) {
            std::string backing = ReadAttribute(dir / "loop" / "backing_file").value_or("");
            if (backing.empty() || EndsWith(backing, ".snap"))
                continue;
            d.loopBackingFile = backing;
        }
        d.sysfsName = name;
        d.sysfsPath = dir.string();
        d.backingPath = (fs::path(devRoot) / name).string();
        d.source = DiskSource::kBlockDevice;
        d.removable = ReadAttribute(dir / "removable").value_or("0") == "1";
        d.sizeBytes = sectors * 512u;
        d.logicalBlockSize = static_cast<std::uint32_t>(ReadNumber(dir / "queue" / "logical_block_size", 512));
        // diskseq changes whenever another medium or backing file takes the
        // same name, so a different stick plugged in as sdb is a new disk.
        c.key = "blk:" + name + ":" + ReadAttribute(dir / "diskseq").value_or("") + ":" + d.loopBackingFile;
        out.push_back(std::move(c));
    }
    std::sort(out.begin(), out.end(),
              [](const Candidate& a, const Candidate& b) { return NameBefore(a.disk.sysfsName, b.disk.sysfsName); });
    return out;
}

std::string ImageKey(const std::string& path)
{
    std::error_code ec;
    fs::path canon = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return "img:" + (ec ? path : canon.string());
}

}  // namespace

std::string PhysicalDrivePath(int diskNumber)
{
    return std::string(kDrivePrefix) + std::to_string(diskNumber);
}

std::string VolumePath(char driveLetter)
{
    std::string s(kDevicePrefix);
    s += static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter)));
    s += ':';
    return s;
}

int ParsePhysicalDriveNumber(const std::string& devicePath)
{
    const std::string prefix(kDrivePrefix);
    if (!StartsWithNoCase(devicePath, prefix))
        return -1;
    std::string digits = devicePath.substr(prefix.size());
    if (!AllDigits(digits) || digits.size() > 9)
        return -1;
    return std::atoi(digits.c_str());
}

char ParseVolumeLetter(const std::string& devicePath)
{
    const std::string prefix(kDevicePrefix);
    if (devicePath.compare(0, prefix.size(), prefix) != 0)
        return 0;
    std::string rest = devicePath.substr(prefix.size());
    if (rest.size() == 3 && rest[2] == '\\')
        rest.pop_back();
    if (rest.size() != 2 || rest[1] != ':' || !std::isalpha(static_cast<unsigned char>(rest[0])))
        return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
}

std::string CanonicalDevicePath(const std::string& devicePath)
{
    int n = ParsePhysicalDriveNumber(devicePath);
    if (n >= 0)
        return PhysicalDrivePath(n);
    char letter = ParseVolumeLetter(devicePath);
    if (letter != 0)
        return VolumePath(letter);
    return devicePath;
}

bool IsPermissionErrno(int e)
{
    return e == EACCES || e == EPERM;
}

std::string DiskPermissionMessageFor(const std::vector<int>& diskNumbers, bool runningAsRoot)
{
    std::string which;
    for (int n : diskNumbers) {
        const std::optional<RegisteredDisk> disk = DeviceRegistry::Instance().Disk(n);
        if (!disk)
            continue;
        which += "\n    " + (disk->backingPath.empty() ? disk->id : disk->backingPath);
        if (!disk->openError.empty())
            which += ": " + disk->openError;
    }
    if (!runningAsRoot)
        return std::string(kDiskPermissionMessage) + (which.empty() ? "" : "\n" + which);
    return "Some disks cannot be read, although the program runs with administrator rights: the system refused "
           "to open them (a security policy, a container without access to the device, or a device that is "
           "locked)." +
           (which.empty() ? std::string() : "\n" + which);
}

DeviceRegistry& DeviceRegistry::Instance()
{
    static DeviceRegistry registry;
    return registry;
}

void DeviceRegistry::SetSysfsRoot(std::string root)
{
    {
        std::lock_guard lock(mutex_);
        sysfsRoot_ = std::move(root);
    }
    if (initialised_)
        RefreshNow();
}

void DeviceRegistry::SetDevRoot(std::string root)
{
    {
        std::lock_guard lock(mutex_);
        devRoot_ = std::move(root);
    }
    if (initialised_)
        RefreshNow();
}

std::string DeviceRegistry::SysfsRoot() const
{
    std::lock_guard lock(mutex_);
    return sysfsRoot_;
}

std::string DeviceRegistry::DevRoot() const
{
    std::lock_guard lock(mutex_);
    return devRoot_;
}

void DeviceRegistry::SetOpener(Opener opener)
{
    std::lock_guard lock(mutex_);
    opener_ = std::move(opener);
}

int DeviceRegistry::LowestFreeNumberLocked() const
{
    int n = 0;
    for (const Entry& e : disks_) {  // sorted by number
        if (e.disk.number != n)
            break;
        ++n;
    }
    return n < kMaxDisks ? n : -1;
}

void DeviceRegistry::SortLocked() const
{
    std::sort(disks_.begin(), disks_.end(), [](const Entry& a, const Entry& b) { return a.disk.number < b.disk.number; });
}

void DeviceRegistry::EnsureInitialised() const
{
    if (!initialised_)
        RefreshNow();
}

void DeviceRegistry::RefreshNow() const
{
    std::lock_guard refreshing(refreshMutex_);
    std::string sysfsRoot, devRoot;
    Opener opener;
    {
        std::lock_guard lock(mutex_);
        sysfsRoot = sysfsRoot_;
        devRoot = devRoot_;
        opener = opener_;
    }

    std::vector<Candidate> found = ScanSysfs(sysfsRoot, devRoot);
    for (Candidate& c : found) {
        // Probe whether the device opens; it is listed either way.
        int err = 0;
        std::string errText;
        DevicePtr probe = opener ? opener(c.disk.backingPath, &errText, &err)
                                 : OpenFileDevice(c.disk.backingPath, &errText, &err);
        if (probe) {
            err = 0;
            errText.clear();
        } else if (err == 0) {
            err = EIO;
        }
        if (err != 0 && errText.empty())
            errText = std::strerror(err);
        c.disk.openErrno = err;
        c.disk.openError = errText;
    }

    std::lock_guard lock(mutex_);
    // Block disks that went away free their numbers.
    disks_.erase(std::remove_if(disks_.begin(), disks_.end(),
                                [&](const Entry& e) {
                                    if (e.disk.source != DiskSource::kBlockDevice)
                                        return false;
                                    return std::none_of(found.begin(), found.end(),
                                                        [&](const Candidate& c) { return c.key == e.key; });
                                }),
                 disks_.end());
    for (Candidate& c : found) {
        auto known = std::find_if(disks_.begin(), disks_.end(), [&](const Entry& e) { return e.key == c.key; });
        if (known != disks_.end()) {
            c.disk.number = known->disk.number;
            c.disk.id = known->disk.id;
            known->disk = std::move(c.disk);
            continue;
        }
        int number = LowestFreeNumberLocked();
        if (number < 0)
            continue;  // all 26 numbers taken: the disk is not listed
        c.disk.number = number;
        c.disk.id = PhysicalDrivePath(number);
        disks_.push_back(Entry{std::move(c.disk), std::move(c.key)});
        SortLocked();
    }
    initialised_ = true;
}

void DeviceRegistry::Refresh()
{
    RefreshNow();
}

int DeviceRegistry::AddImage(const std::string& path, bool removable, std::string* error)
{
    EnsureInitialised();  // real disks take the first numbers
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    const std::string shown = ec ? path : absolute.string();
    const std::string key = ImageKey(path);
    auto findKnown = [&]() -> int {
        for (Entry& e : disks_) {
            if (e.key == key) {
                e.disk.removable = e.disk.removable || removable;
                return e.disk.number;
            }
        }
        return -1;
    };
    Opener opener;
    {
        std::lock_guard lock(mutex_);
        if (int known = findKnown(); known >= 0)
            return known;
        opener = opener_;
    }
    int err = 0;
    std::string errText;
    DevicePtr device = opener ? opener(shown, &errText, &err) : OpenFileDevice(shown, &errText, &err);
    if (!device) {
        if (error)
            *error = errText.empty() ? std::string(std::strerror(err ? err : EIO)) : errText;
        return -1;
    }
    std::lock_guard lock(mutex_);
    if (int known = findKnown(); known >= 0)
        return known;  // added by another thread meanwhile
    int number = LowestFreeNumberLocked();
    if (number < 0) {
        if (error)
            *error = "too many disks (at most 26)";
        return -1;
    }
    RegisteredDisk d;
    d.number = number;
    d.id = PhysicalDrivePath(number);
    d.backingPath = shown;
    d.source = DiskSource::kImage;
    d.isImage = true;
    d.removable = removable;
    d.sizeBytes = device->SizeBytes();
    disks_.push_back(Entry{std::move(d), key});
    SortLocked();
    return number;
}

std::vector<std::string> DeviceRegistry::AddImagesFromEnvironment()
{
    std::vector<std::string> errors;
    const char* env = std::getenv("TORVANE_DISK_IMAGES");
    if (!env)
        return errors;
    std::string list(env);
    std::size_t begin = 0;
    while (begin <= list.size()) {
        std::size_t end = list.find(':', begin);
        if (end == std::string::npos)
            end = list.size();
        std::string path = list.substr(begin, end - begin);
        if (!path.empty()) {
            std::string error;
            if (AddImage(path, false, &error) < 0)
                errors.push_back("cannot list disk image " + path + ": " + error);
        }
        begin = end + 1;
    }
    return errors;
}

int DeviceRegistry::RegisterMemoryDisk(DevicePtr device, bool removable)
{
    if (!device)
        return -1;
    static std::atomic<unsigned> serial{0};
    std::lock_guard lock(mutex_);
    int number = LowestFreeNumberLocked();
    if (number < 0)
        return -1;
    RegisteredDisk d;
    d.number = number;
    d.id = PhysicalDrivePath(number);
    d.backingPath = "memory:" + (device->Path().empty() ? "disk" + std::to_string(number) : device->Path());
    d.source = DiskSource::kMemory;
    d.isImage = true;
    d.removable = removable;
    d.sizeBytes = device->SizeBytes();
    d.memory = std::move(device);
    disks_.push_back(Entry{std::move(d), "mem:" + std::to_string(serial++)});
    SortLocked();
    return number;
}

bool DeviceRegistry::RemoveDisk(int number)
{
    std::lock_guard lock(mutex_);
    auto it = std::find_if(disks_.begin(), disks_.end(), [&](const Entry& e) {
        return e.disk.number == number && e.disk.source != DiskSource::kBlockDevice;
    });
    if (it == disks_.end())
        return false;
    disks_.erase(it);
    return true;
}

std::vector<RegisteredVolume> DeviceRegistry::SetMountedVolumes(const std::vector<MountedVolume>& mounted)
{
    std::lock_guard lock(mutex_);
    // Volumes no longer mounted give their letters back (test volumes stay).
    volumes_.erase(std::remove_if(volumes_.begin(), volumes_.end(),
                                  [&](const RegisteredVolume& v) {
                                      if (v.memory || v.isImage)
                                          return false;
                                      return std::none_of(mounted.begin(), mounted.end(), [&](const MountedVolume& m) {
                                          return m.blockDevice == v.blockDevice;
                                      });
                                  }),
                   volumes_.end());
    for (const MountedVolume& m : mounted) {
        auto known = std::find_if(volumes_.begin(), volumes_.end(),
                                  [&](const RegisteredVolume& v) {
                                      return !v.memory && !v.isImage && v.blockDevice == m.blockDevice;
                                  });
        if (known != volumes_.end()) {
            known->mountPoint = m.mountPoint;
            continue;
        }
        char letter = 0;
        for (char l = 'C'; l <= 'Z'; ++l) {
            if (std::none_of(volumes_.begin(), volumes_.end(), [&](const RegisteredVolume& v) { return v.letter == l; })) {
                letter = l;
                break;
            }
        }
        if (letter == 0)
            break;  // C..Z all taken: further volumes get no letter
        volumes_.push_back(RegisteredVolume{letter, VolumePath(letter), m.blockDevice, m.mountPoint, nullptr});
        std::sort(volumes_.begin(), volumes_.end(),
                  [](const RegisteredVolume& a, const RegisteredVolume& b) { return a.letter < b.letter; });
    }
    return volumes_;
}

char DeviceRegistry::AddVolumeImage(const std::string& path, std::string* error)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    const std::string key = ec ? path : absolute.lexically_normal().string();
    {
        std::lock_guard lock(mutex_);
        for (const RegisteredVolume& v : volumes_)
            if (v.isImage && v.blockDevice == key)
                return v.letter;
    }
    std::string why;
    int e = 0;
    Opener opener;
    {
        std::lock_guard lock(mutex_);
        opener = opener_;
    }
    DevicePtr probe = opener ? opener(key, &why, &e) : OpenFileDevice(key, &why, &e);
    if (!probe) {
        if (error)
            *error = why.empty() ? std::string("cannot be opened") : why;
        return 0;
    }
    std::lock_guard lock(mutex_);
    for (char l = 'C'; l <= 'Z'; ++l) {
        if (std::any_of(volumes_.begin(), volumes_.end(), [&](const RegisteredVolume& v) { return v.letter == l; }))
            continue;
        RegisteredVolume v{l, VolumePath(l), key, std::string(), nullptr};
        v.isImage = true;
        volumes_.push_back(std::move(v));
        std::sort(volumes_.begin(), volumes_.end(),
                  [](const RegisteredVolume& a, const RegisteredVolume& b) { return a.letter < b.letter; });
        return l;
    }
    if (error)
        *error = "no drive letter is free";
    return 0;
}

void DeviceRegistry::RegisterVolume(char letter, std::string blockDevice, std::string mountPoint)
{
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::lock_guard lock(mutex_);
    volumes_.erase(std::remove_if(volumes_.begin(), volumes_.end(),
                                  [&](const RegisteredVolume& v) { return v.letter == letter; }),
                   volumes_.end());
    volumes_.push_back(RegisteredVolume{letter, VolumePath(letter), std::move(blockDevice), std::move(mountPoint), nullptr});
    std::sort(volumes_.begin(), volumes_.end(),
              [](const RegisteredVolume& a, const RegisteredVolume& b) { return a.letter < b.letter; });
}

void DeviceRegistry::RegisterMemoryVolume(char letter, DevicePtr device, std::string mountPoint)
{
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::lock_guard lock(mutex_);
    volumes_.erase(std::remove_if(volumes_.begin(), volumes_.end(),
                                  [&](const RegisteredVolume& v) { return v.letter == letter; }),
                   volumes_.end());
    std::string backing = "memory:" + (device ? device->Path() : std::string());
    volumes_.push_back(RegisteredVolume{letter, VolumePath(letter), backing, std::move(mountPoint), std::move(device)});
    std::sort(volumes_.begin(), volumes_.end(),
              [](const RegisteredVolume& a, const RegisteredVolume& b) { return a.letter < b.letter; });
}

std::vector<RegisteredDisk> DeviceRegistry::Disks() const
{
    EnsureInitialised();
    std::lock_guard lock(mutex_);
    std::vector<RegisteredDisk> out;
    out.reserve(disks_.size());
    for (const Entry& e : disks_)
        out.push_back(e.disk);
    return out;
}

std::vector<RegisteredVolume> DeviceRegistry::Volumes() const
{
    std::lock_guard lock(mutex_);
    return volumes_;
}

std::optional<RegisteredDisk> DeviceRegistry::Disk(int number) const
{
    EnsureInitialised();
    std::lock_guard lock(mutex_);
    for (const Entry& e : disks_) {
        if (e.disk.number == number)
            return e.disk;
    }
    return std::nullopt;
}

bool DeviceRegistry::AnyPermissionDenied() const
{
    EnsureInitialised();
    std::lock_guard lock(mutex_);
    return std::any_of(disks_.begin(), disks_.end(), [](const Entry& e) { return e.disk.PermissionDenied(); });
}

DevicePtr DeviceRegistry::Open(const std::string& devicePath, std::string* error, int* errnoOut) const
{
    auto fail = [&](int e) -> DevicePtr {
        if (error)
            *error = std::strerror(e);
        if (errnoOut)
            *errnoOut = e;
        return nullptr;
    };
    auto found = [&](DevicePtr memory) -> DevicePtr {
        if (error)
            error->clear();
        if (errnoOut)
            *errnoOut = 0;
        return memory;
    };

    const int number = ParsePhysicalDriveNumber(devicePath);
    const char letter = ParseVolumeLetter(devicePath);
    if (number >= 0)
        EnsureInitialised();
    std::string path;
    Opener opener;
    {
        std::lock_guard lock(mutex_);
        opener = opener_;
        if (number >= 0) {
            auto it = std::find_if(disks_.begin(), disks_.end(), [&](const Entry& e) { return e.disk.number == number; });
            if (it == disks_.end())
                return fail(ENODEV);
            if (it->disk.memory)
                return found(it->disk.memory);
            path = it->disk.backingPath;
        } else if (letter != 0) {
            auto it = std::find_if(volumes_.begin(), volumes_.end(),
                                   [&](const RegisteredVolume& v) { return v.letter == letter; });
            if (it == volumes_.end())
                return fail(ENODEV);
            if (it->memory)
                return found(it->memory);
            path = it->blockDevice;
        } else if (devicePath.compare(0, 4, kDevicePrefix) == 0) {
            return fail(ENODEV);  // another \\.\ name: nothing on this machine answers to it
        } else if (devicePath.compare(0, 7, "memory:") == 0) {
            for (const Entry& e : disks_) {
                if (e.disk.memory && e.disk.backingPath == devicePath)
                    return found(e.disk.memory);
            }
            for (const RegisteredVolume& v : volumes_) {
                if (v.memory && v.blockDevice == devicePath)
                    return found(v.memory);
            }
            return fail(ENODEV);
        } else {
            path = devicePath;
        }
    }
    // Opened outside the lock: a slow device must not hold up the registry.
    return opener ? opener(path, error, errnoOut) : OpenFileDevice(path, error, errnoOut);
}

void DeviceRegistry::Reset()
{
    std::lock_guard refreshing(refreshMutex_);
    std::lock_guard lock(mutex_);
    sysfsRoot_ = "/sys";
    devRoot_ = "/dev";
    opener_ = nullptr;
    initialised_ = false;
    disks_.clear();
    volumes_.clear();
}

}  // namespace torvane
