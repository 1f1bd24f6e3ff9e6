// The device registry over a fake sysfs tree: which block devices are disks,
// how numbers are handed out and kept, images and memory disks after the real
// disks, devices that refuse to open, volume letters.
#include "disk/sector_reader.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace torvane {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

// A fake /sys (block/<name>/...) and /dev (<name> as a regular file whose
// bytes are the name repeated, so a read shows which disk answered).
class FakeMachine {
public:
    FakeMachine() : sys_(dir_.path() / "sys"), dev_(dir_.path() / "dev")
    {
        fs::create_directories(sys_ / "block");
        fs::create_directories(dev_);
    }

    struct Block {
        std::uint64_t sectors = 2048;
        bool removable = false;
        std::string diskseq = "1";
        std::map<std::string, std::string> extra;  // relative attribute path -> text
    };

    void Add(const std::string& name, const Block& b)
    {
        fs::path d = sys_ / "block" / name;
        WriteText(d / "size", std::to_string(b.sectors));
        WriteText(d / "removable", b.removable ? "1" : "0");
        WriteText(d / "diskseq", b.diskseq);
        WriteText(d / "queue" / "logical_block_size", "512");
        for (const auto& [attr, text] : b.extra)
            WriteText(d / attr, text);
        std::string content;
        while (content.size() < 4 * kSectorSize)
            content += name + "|";
        content.resize(4 * kSectorSize);
        std::ofstream(dev_ / name, std::ios::binary) << content;
    }
    void Add(const std::string& name) { Add(name, Block{}); }

    void Remove(const std::string& name)
    {
        fs::remove_all(sys_ / "block" / name);
        fs::remove(dev_ / name);
    }

    std::string Sys() const { return sys_.string(); }
    std::string Dev() const { return dev_.string(); }
    fs::path Dir() const { return dir_.path(); }

private:
    test::TempDir dir_;
    fs::path sys_;
    fs::path dev_;
};

std::map<std::string, int> NumbersByName(const DeviceRegistry& reg)
{
    std::map<std::string, int> out;
    for (const RegisteredDisk& d : reg.Disks())
        out[d.sysfsName.empty() ? d.backingPath : d.sysfsName] = d.number;
    return out;
}

std::string FirstBytes(DeviceRegistry& reg, const std::string& id, std::size_t n)
{
    DevicePtr dev = reg.Open(id);
    if (!dev)
        return "<cannot open>";
    std::string out(n, '\0');
    std::int64_t got = dev->ReadAt(0, out.data(), n);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

TEST(DevicePaths, ParseAndFormat)
{
    EXPECT_EQ(PhysicalDrivePath(3), "\\\\.\\PhysicalDrive3");
    EXPECT_EQ(VolumePath('e'), "\\\\.\\E:");

    const std::pair<const char*, int> numbers[] = {
        {"\\\\.\\PhysicalDrive0", 0},   {"\\\\.\\PhysicalDrive25", 25}, {"\\\\.\\PHYSICALDRIVE7", 7},
        {"\\\\.\\PhysicalDrive", -1},   {"\\\\.\\PhysicalDrive1a", -1}, {"\\\\.\\PhysicalDrive-1", -1},
        {"\\\\.\\C:", -1},              {"/dev/sda", -1},               {"", -1},
    };
    for (const auto& [text, n] : numbers)
        EXPECT_EQ(ParsePhysicalDriveNumber(text), n) << text;

    const std::pair<const char*, char> letters[] = {
        {"\\\\.\\C:", 'C'}, {"\\\\.\\e:", 'E'}, {"\\\\.\\F:\\", 'F'}, {"\\\\.\\CD:", 0}, {"C:", 0}, {"\\\\.\\1:", 0},
    };
    for (const auto& [text, letter] : letters)
        EXPECT_EQ(ParseVolumeLetter(text), letter) << text;

    EXPECT_EQ(CanonicalDevicePath("\\\\.\\PHYSICALDRIVE3"), "\\\\.\\PhysicalDrive3");
    EXPECT_EQ(CanonicalDevicePath("\\\\.\\d:"), "\\\\.\\D:");
    EXPECT_EQ(CanonicalDevicePath("/tmp/x.img"), "/tmp/x.img");
}

TEST(DeviceRegistry, ListsWholeDisksOnly)
{
    FakeMachine m;
    for (const char* name : {"sda", "sdb", "vda", "xvda", "hda", "mmcblk0", "nvme0n1"})
        m.Add(name);
    m.Add("sdz", {2048, true, "9", {}});
    m.Add("loop0", {2048, false, "2", {{"loop/backing_file", "/home/me/card.img"}}});
    m.Add("loop1");                                                             // nothing attached
    m.Add("loop2", {2048, false, "3", {{"loop/backing_file", "/var/lib/snapd/snaps/core_1.snap"}}});
    m.Add("hdc", {2048, true, "4", {{"device/media", "cdrom"}}});
    m.Add("sdc", {0, true, "5", {}});                                          // card reader, no card
    m.Add("nvme1n1", {2048, false, "6", {{"hidden", "1"}}});
    for (const char* name : {"sda1", "nvme0n1p1", "nvme0c0n1", "mmcblk0p1", "mmcblk0boot0", "mmcblk0rpmb", "ram0",
                             "zram0", "dm-0", "md0", "sr0", "fd0", "nbd0"})
        m.Add(name);

    DeviceRegistry reg;
    reg.SetSysfsRoot(m.Sys());
    reg.SetDevRoot(m.Dev());
    // Numbers in natural name order: shorter names first, then alphabetical.
    std::map<std::string, int> expected = {{"hda", 0}, {"sda", 1}, {"sdb", 2}, {"sdz", 3},    {"vda", 4},
                                           {"xvda", 5}, {"loop0", 6}, {"mmcblk0", 7}, {"nvme0n1", 8}};
    EXPECT_EQ(NumbersByName(reg), expected);

    auto sdz = reg.Disk(3);
    ASSERT_TRUE(sdz);
    EXPECT_TRUE(sdz->removable);
    EXPECT_EQ(sdz->id, "\\\\.\\PhysicalDrive3");
    EXPECT_EQ(sdz->backingPath, (fs::path(m.Dev()) / "sdz").string());
    EXPECT_EQ(sdz->sizeBytes, 2048u * 512u);
    EXPECT_EQ(sdz->source, DiskSource::kBlockDevice);
    EXPECT_EQ(sdz->openErrno, 0);
    EXPECT_EQ(reg.Disk(6)->loopBackingFile, "/home/me/card.img");

    EXPECT_EQ(FirstBytes(reg, "\\\\.\\PhysicalDrive2", 8), "sdb|sdb|");
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\physicaldrive7", 8), "mmcblk0|");
}

// Numbers are given at first sight and kept while the disk stays; a removed
// disk's number goes to the next new disk.
TEST(DeviceRegistry, NumbersAreKeptWhileDisksStayPresent)
{
    FakeMachine m;
    m.Add("sda");
    m.Add("sdb");
    m.Add("sdc");
    DeviceRegistry reg;
    reg.SetDevRoot(m.Dev());
    reg.SetSysfsRoot(m.Sys());
    EXPECT_EQ(NumbersByName(reg), (std::map<std::string, int>{{"sda", 0}, {"sdb", 1}, {"sdc", 2}}));

    m.Remove("sdb");
    reg.Refresh();
    EXPECT_EQ(NumbersByName(reg), (std::map<std::string, int>{{"sda", 0}, {"sdc", 2}}));
    EXPECT_FALSE(reg.Disk(1));
    EXPECT_EQ(reg.Open("\\\\.\\PhysicalDrive1"), nullptr);
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\PhysicalDrive2", 4), "sdc|");

    m.Add("sdd", {4096, true, "7", {}});
    reg.Refresh();
    EXPECT_EQ(NumbersByName(reg), (std::map<std::string, int>{{"sda", 0}, {"sdd", 1}, {"sdc", 2}}));

    // Another medium under a known name (new diskseq) is a new disk.
    m.Remove("sda");
    m.Add("sda", {2048, false, "8", {}});
    m.Add("sde");
    reg.Refresh();
    auto numbers = NumbersByName(reg);
    EXPECT_EQ(numbers["sdc"], 2);
    EXPECT_EQ(numbers["sdd"], 1);
    EXPECT_EQ(numbers.size(), 4u);
    EXPECT_EQ(reg.Disks().size(), 4u);
    for (const RegisteredDisk& d : reg.Disks())  // listed in number order
        EXPECT_EQ(d.id, PhysicalDrivePath(d.number));
}

TEST(DeviceRegistry, ImagesAndMemoryDisksComeAfterTheRealDisks)
{
    FakeMachine m;
    m.Add("sda");
    m.Add("sdb");
    std::string image = (m.Dir() / "card.img").string();
    std::ofstream(image, std::ios::binary) << std::string(3 * kSectorSize, 'i');

    DeviceRegistry reg;
    reg.SetSysfsRoot(m.Sys());
    reg.SetDevRoot(m.Dev());
    EXPECT_EQ(reg.AddImage(image, true), 2);
    EXPECT_EQ(reg.AddImage(image, false), 2) << "the same image is listed once";
    int mem = reg.RegisterMemoryDisk(MakeMemoryDevice("fuzz", std::string(kSectorSize, 'm')));
    EXPECT_EQ(mem, 3);

    auto img = reg.Disk(2);
    ASSERT_TRUE(img);
    EXPECT_TRUE(img->isImage);
    EXPECT_TRUE(img->removable);
    EXPECT_EQ(img->source, DiskSource::kImage);
    EXPECT_EQ(img->sizeBytes, 3u * kSectorSize);
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\PhysicalDrive2", 2), "ii");
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\PhysicalDrive3", 2), "mm");
    EXPECT_EQ(FirstBytes(reg, "memory:fuzz", 2), "mm");

    // A refresh does not touch them, even when a real disk goes.
    m.Remove("sda");
    reg.Refresh();
    EXPECT_EQ(reg.Disk(2)->backingPath, image);
    EXPECT_TRUE(reg.Disk(3)->memory);
    EXPECT_FALSE(reg.Disk(0));

    EXPECT_TRUE(reg.RemoveDisk(3));
    EXPECT_FALSE(reg.RemoveDisk(1)) << "block disks come and go with sysfs only";
    EXPECT_FALSE(reg.Disk(3));

    std::string error;
    EXPECT_EQ(reg.AddImage((m.Dir() / "missing.img").string(), false, &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(reg.AddImage(m.Dir().string(), false, &error), -1) << "a folder is not a disk image";
}

TEST(DeviceRegistry, ImagesFromTheEnvironment)
{
    test::TempDir dir;
    std::string a = (dir.path() / "a.img").string();
    std::string b = (dir.path() / "b.img").string();
    std::ofstream(a, std::ios::binary) << std::string(kSectorSize, 'a');
    std::ofstream(b, std::ios::binary) << std::string(kSectorSize, 'b');
    std::string missing = (dir.path() / "gone.img").string();
    ::setenv("TORVANE_DISK_IMAGES", (a + "::" + missing + ":" + b + ":").c_str(), 1);

    DeviceRegistry reg;
    reg.SetSysfsRoot("");
    std::vector<std::string> errors = reg.AddImagesFromEnvironment();
    ::unsetenv("TORVANE_DISK_IMAGES");

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(missing), std::string::npos);
    auto disks = reg.Disks();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].backingPath, a);
    EXPECT_EQ(disks[1].backingPath, b);
    EXPECT_FALSE(disks[0].removable);
    EXPECT_EQ(FirstBytes(reg, disks[1].id, 1), "b");
}

// A disk that refuses to open for lack of permission is still listed, with
// its errno, so the program can say why it cannot read it.
TEST(DeviceRegistry, PermissionDeniedDiskIsListedAndFlagged)
{
    FakeMachine m;
    m.Add("sda");
    m.Add("sdb");
    DeviceRegistry reg;
    reg.SetSysfsRoot(m.Sys());
    reg.SetDevRoot(m.Dev());
    const std::string refused = (fs::path(m.Dev()) / "sdb").string();
    reg.SetOpener([refused](const std::string& path, std::string* error, int* errnoOut) -> DevicePtr {
        if (path == refused) {
            if (error)
                *error = "Permission denied";
            if (errnoOut)
                *errnoOut = EACCES;
            return nullptr;
        }
        return OpenFileDevice(path, error, errnoOut);
    });
    reg.Refresh();

    auto disks = reg.Disks();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].openErrno, 0);
    EXPECT_FALSE(disks[0].PermissionDenied());
    EXPECT_EQ(disks[1].sysfsName, "sdb");
    EXPECT_EQ(disks[1].openErrno, EACCES);
    EXPECT_EQ(disks[1].openError, "Permission denied");
    EXPECT_TRUE(disks[1].PermissionDenied());
    EXPECT_TRUE(reg.AnyPermissionDenied());

    int err = 0;
    EXPECT_EQ(reg.Open(disks[1].id, nullptr, &err), nullptr);
    EXPECT_EQ(err, EACCES);

    // A node missing under /dev is listed too, but is no permission problem.
    fs::remove(fs::path(m.Dev()) / "sda");
    reg.SetOpener(nullptr);
    reg.Refresh();
    EXPECT_EQ(reg.Disk(0)->openErrno, ENOENT);
    EXPECT_FALSE(reg.Disk(0)->PermissionDenied());
}

// A refresh that waits on a slow device must not hold up readers of the table.
TEST(DeviceRegistry, SlowDeviceDoesNotBlockTheList)
{
    FakeMachine m;
    m.Add("sda");
    DeviceRegistry reg;
    reg.SetSysfsRoot(m.Sys());
    reg.SetDevRoot(m.Dev());
    ASSERT_EQ(reg.Disks().size(), 1u);

    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, release = false;
    reg.SetOpener([&](const std::string& path, std::string* error, int* errnoOut) {
        std::unique_lock lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        return OpenFileDevice(path, error, errnoOut);
    });
    m.Add("sdb");
    std::thread refresher([&] { reg.Refresh(); });
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return entered; });
    }
    EXPECT_EQ(reg.Disks().size(), 1u) << "the list as it was before the refresh";
    EXPECT_TRUE(reg.Disk(0));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    cv.notify_all();
    refresher.join();
    EXPECT_EQ(reg.Disks().size(), 2u);
}

TEST(DeviceRegistry, NoDisksAtAll)
{
    DeviceRegistry reg;
    reg.SetSysfsRoot("");
    EXPECT_TRUE(reg.Disks().empty());
    EXPECT_FALSE(reg.Disk(0));
    EXPECT_FALSE(reg.AnyPermissionDenied());
    int err = 0;
    EXPECT_EQ(reg.Open("\\\\.\\PhysicalDrive0", nullptr, &err), nullptr);
    EXPECT_EQ(err, ENODEV);
    EXPECT_EQ(reg.Open("\\\\.\\C:", nullptr, &err), nullptr);
    EXPECT_EQ(reg.Open("\\\\.\\Harddisk0", nullptr, &err), nullptr);

    FakeMachine empty;  // a sysfs without a single disk
    reg.SetSysfsRoot(empty.Sys());
    EXPECT_TRUE(reg.Disks().empty());
    reg.SetSysfsRoot((empty.Dir() / "no-such-sys").string());
    EXPECT_TRUE(reg.Disks().empty());
}

TEST(DeviceRegistry, AtMostTwentySixDisks)
{
    DeviceRegistry reg;
    reg.SetSysfsRoot("");
    for (int i = 0; i < kMaxDisks; ++i)
        ASSERT_EQ(reg.RegisterMemoryDisk(MakeMemoryDevice("d" + std::to_string(i), "x")), i);
    EXPECT_EQ(reg.RegisterMemoryDisk(MakeMemoryDevice("one too many", "x")), -1);
    EXPECT_EQ(reg.RegisterMemoryDisk(nullptr), -1);
    EXPECT_TRUE(reg.RemoveDisk(4));
    EXPECT_EQ(reg.RegisterMemoryDisk(MakeMemoryDevice("again", "x")), 4);
}

TEST(DeviceRegistry, VolumeLettersAreKeptWhileMounted)
{
    FakeMachine m;
    m.Add("sdb1");
    m.Add("sdc1");
    m.Add("sdd1");
    const std::string b = (fs::path(m.Dev()) / "sdb1").string();
    const std::string c = (fs::path(m.Dev()) / "sdc1").string();
    const std::string d = (fs::path(m.Dev()) / "sdd1").string();

    DeviceRegistry reg;
    reg.SetSysfsRoot("");
    auto vols = reg.SetMountedVolumes({{b, "/media/CARD"}, {c, "/media/USB"}});
    ASSERT_EQ(vols.size(), 2u);
    EXPECT_EQ(vols[0].letter, 'C');
    EXPECT_EQ(vols[0].id, "\\\\.\\C:");
    EXPECT_EQ(vols[1].letter, 'D');
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\d:", 5), "sdc1|");

    vols = reg.SetMountedVolumes({{c, "/media/USB"}, {d, "/media/NEW"}});
    ASSERT_EQ(vols.size(), 2u);
    EXPECT_EQ(vols[0].letter, 'C');
    EXPECT_EQ(vols[0].blockDevice, d);
    EXPECT_EQ(vols[1].letter, 'D');
    EXPECT_EQ(vols[1].blockDevice, c);

    reg.RegisterMemoryVolume('q', MakeMemoryDevice("vol", "qqqq"), "/mnt/q");
    EXPECT_EQ(FirstBytes(reg, "\\\\.\\Q:", 4), "qqqq");
    EXPECT_EQ(reg.SetMountedVolumes({}).size(), 1u) << "test volumes stay";
}

// ReadSectors resolves identifiers through the program's registry.
TEST(DeviceRegistry, ReadSectorsGoesThroughTheProgramRegistry)
{
    test::ScopedTestRegistry scoped;
    FakeMachine m;
    m.Add("sda");
    auto& reg = DeviceRegistry::Instance();
    reg.SetDevRoot(m.Dev());
    reg.SetSysfsRoot(m.Sys());
    std::vector<char> buf(kSectorSize);
    ASSERT_EQ(ReadSectors(1, "\\\\.\\PhysicalDrive0", 0, buf.data(), 0), 1);
    EXPECT_EQ(std::string(buf.data(), 4), "sda|");
}


// The permission note names what failed; run as root, it does not ask for
// the rights the program already has.
TEST(DiskPermissionMessage, NamesTheDisksAndFitsTheUser)
{
    const int n = DeviceRegistry::Instance().RegisterMemoryDisk(MakeMemoryDevice("refused", std::string(4096, '\0')));
    ASSERT_GE(n, 0);
    const std::string user = DiskPermissionMessageFor({n}, false);
    EXPECT_EQ(user.rfind(kDiskPermissionMessage, 0), 0u);
    EXPECT_NE(user.find("refused"), std::string::npos) << user;
    const std::string root = DiskPermissionMessageFor({n}, true);
    EXPECT_EQ(root.find("run the program as root"), std::string::npos) << root;
    EXPECT_NE(root.find("administrator rights"), std::string::npos) << root;
    EXPECT_NE(root.find("refused"), std::string::npos) << root;
    EXPECT_EQ(DiskPermissionMessageFor({}, false), kDiskPermissionMessage);
    DeviceRegistry::Instance().RemoveDisk(n);
}

}  // namespace
}  // namespace torvane
