// Scan Now of the Basic Search on the node of a disk that lists no partition,
// through the same core the dialog uses (scan start, session, scan job):
//  - a disk whose sector 0 holds a boot record (a whole-volume image) is
//    scanned as that file system from sector 0, and gives back the same files
//    as the volume scanned as itself;
//  - a disk that shows no boot sector where its size guess says (a card whose
//    volume sits at sector 8192, a card whose MBR entry was zeroed, a disk
//    whose partition table was wiped, also one large enough that the guess says
//    NTFS) waits for the partition search and scans the first partition found;
//  - Stop during that wait ends the search at its next probe and the scan with it;
//  - Search More Partitions lists each whole volume at sector 0.
#include "partsearch_test_support.h"

#include "disk/drive_refresh.h"
#include "disk/boot_record.h"
#include "disk/drive_selection.h"
#include "disk/sector_bytes.h"
#include "fsrecovery/basic_scan_start.h"
#include "partsearch/automatic_search.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

namespace fs = std::filesystem;

// The disk with more zero sectors after its end: a larger disk of the same content.
class GrownDisk final : public Device {
public:
    GrownDisk(DevicePtr inner, std::uint64_t sizeBytes) : inner_(std::move(inner)), size_(sizeBytes) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= size_)
            return -1;
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        std::memset(buffer, 0, length);
        if (offset < inner_->SizeBytes())
            inner_->ReadAt(offset, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, inner_->SizeBytes() - offset)));
        return static_cast<std::int64_t>(length);
    }
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::uint64_t size_;
};

// A sparse image file read as a device, its holes given as zeros without a
// read: the same bytes as the file, at memory speed (a 128 GiB volume is
// mostly holes).
class HoleAwareFile final : public Device {
public:
    explicit HoleAwareFile(const std::string& path) : path_(path)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        struct stat st {};
        ::fstat(fd_, &st);
        size_ = static_cast<std::uint64_t>(st.st_size);
        for (off_t pos = 0; static_cast<std::uint64_t>(pos) < size_;) {
            const off_t data = ::lseek(fd_, pos, SEEK_DATA);
            if (data < 0)
                break;
            const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
            extents_.emplace_back(static_cast<std::uint64_t>(data), static_cast<std::uint64_t>(hole));
            pos = hole;
        }
    }
    ~HoleAwareFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= size_)
            return -1;
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        std::memset(buffer, 0, length);
        const std::uint64_t end = offset + length;
        auto it = std::upper_bound(extents_.begin(), extents_.end(), std::make_pair(offset, std::numeric_limits<std::uint64_t>::max()));
        if (it != extents_.begin())
            --it;
        for (; it != extents_.end() && it->first < end; ++it) {
            const std::uint64_t from = std::max(offset, it->first), to = std::min(end, it->second);
            if (from < to &&
                ::pread(fd_, static_cast<char*>(buffer) + (from - offset), to - from, static_cast<off_t>(from)) < 0)
                return -1;
        }
        return static_cast<std::int64_t>(length);
    }
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents_;   // [data, hole)
};

// The disk `device` listed as the only disk of the program, and its node.
class ListedDisk {
public:
    explicit ListedDisk(DevicePtr device)
    {
        DeviceRegistry& registry = DeviceRegistry::Instance();
        registry.Reset();
        registry.SetSysfsRoot("");
        number_ = registry.RegisterMemoryDisk(std::move(device));
        inv.RecoveryMode = 1;
        DriveRefreshOptions options;
        options.RefreshRegistry = false;
        options.Logical.MountInfoPath = "/nonexistent/mountinfo";
        BuildDriveInventory(inv, registry, options);
        item = FindDiskTreeItem(inv, number_, inv.PhysicalDrivesItem);
    }
    ~ListedDisk() { DeviceRegistry::Instance().Reset(); }

    // What Scan Now on the disk's node resolves.
    BasicScanStart ScanNow() const
    {
        BasicScanStartInput in;
        in.selectedItem = item;
        in.source = DescribeDriveNode(inv, item);
        return ResolveBasicScanStart(inv, in);
    }

    DriveInventory inv;
    TreeNodeId item = kNoTreeNode;

private:
    int number_ = -1;
};

struct DiskCase {
    const char* name;
    const char* image;
    std::uint64_t growTo;                 // bytes; 0 keeps the image's size
    bool wipeTable;                       // the fixture disk's partition table wiped
    int manifestPartition;                // whose files the scan must give back
    DiskWithoutPartitionsOutcome outcome;
    const char* fs;                       // what is scanned
    std::uint64_t start;
    std::uint64_t end;                    // 0: the disk's end
    bool sparse = false;                  // read with HoleAwareFile
};

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
using Outcome = DiskWithoutPartitionsOutcome;

const DiskCase kDiskCases[] = {
    {"Fat16Volume", "fat16.img", 0, false, 0, Outcome::VolumeAtSectorZero, "FAT16", 0, 0},
    {"Fat32Volume", "fat32.img", 0, false, 0, Outcome::VolumeAtSectorZero, "FAT32", 0, 0},
    {"ExfatVolume", "exfat.img", 0, false, 0, Outcome::VolumeAtSectorZero, "exFAT", 0, 0},
    {"NtfsVolume", "ntfs.img", 0, false, 0, Outcome::VolumeAtSectorZero, "NTFS", 0, 0},
    // The size guess says NTFS; sector 0 says FAT32 (a volume of 2^28 sectors).
    {"Fat32Volume128GiB", "fat32-128g.img", 0, false, 0, Outcome::VolumeAtSectorZero, "FAT32", 0, 0, true},
    {"CardFat32At8192", "card-fat32.img", 0, false, 0, Outcome::PartitionFound, "FAT32", 8192, 8192 + 122880},
    {"CardFat16EntryZeroed", "card-fat16.img", 0, false, 0, Outcome::PartitionFound, "FAT16", 2048, 2048 + 63488},
    // The size guess says FAT32 here, NTFS on the disk grown to 40 GiB.
    {"MbrTableWiped", "mbr.img", 0, true, 1, Outcome::PartitionFound, "FAT32", 2048, 2048 + 73710},
    {"MbrTableWipedLargeDisk", "mbr.img", 40 * kGiB, true, 1, Outcome::PartitionFound, "FAT32", 2048, 2048 + 73710},
};

std::string CaseName(const ::testing::TestParamInfo<DiskCase>& info) { return info.param.name; }
void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.name; }

DevicePtr DiskOf(const DiskCase& c)
{
    DevicePtr disk;
    if (c.sparse) {
        auto file = std::make_shared<HoleAwareFile>(test::FixtureImage(c.image).string());
        if (file->Open())
            disk = file;
    } else {
        disk = c.wipeTable ? DevicePtr(test::DiskWithoutTable(c.image)) : OpenFileDevice(test::FixtureImage(c.image).string());
    }
    if (disk && c.growTo != 0)
        disk = std::make_shared<GrownDisk>(disk, c.growTo);
    return disk;
}

// The files of a scan's whole tree, saved under `out`.
test::ScanAndSaveResult SaveAll(SearchSession& session, const fs::path& out)
{
    test::ScanAndSaveResult r;
    test::SaveTree(session.Results(), session.TreeSaveRequest(), out, r);
    return r;
}

class DiskNodeScan : public ::testing::TestWithParam<DiskCase> {};

TEST_P(DiskNodeScan, ScansWhatTheDiskHoldsAndGivesItsFilesBack)
{
    const DiskCase& c = GetParam();
    DevicePtr disk = DiskOf(c);
    if (!disk)
        GTEST_SKIP() << c.image << " is not unpacked";
    const std::uint64_t diskSectors = disk->SizeBytes() / kSectorSize;
    ListedDisk listed(disk);
    ASSERT_NE(listed.item, kNoTreeNode);
    ASSERT_EQ(listed.inv.Tree.ChildCount(listed.item), 0u) << "the disk lists a partition";

    const BasicScanStart start = listed.ScanNow();
    ASSERT_EQ(start.outcome, ScanStartOutcome::Start) << start.message;
    EXPECT_TRUE(start.partition.DiskListsNoPartition);

    SearchSession session(1);
    session.SetAutomaticPartitionSearch(MakeAutomaticPartitionSearch());
    ASSERT_TRUE(session.RunScanHere(start.partition));
    const BasicScanJob& job = *session.ScanJob();
    EXPECT_EQ(job.DiskOutcome(), c.outcome);
    EXPECT_FALSE(job.GeometryFailed());
    const PartitionDescriptor& d = session.Partition().Descriptor;
    EXPECT_EQ(d.FsType, c.fs);
    EXPECT_EQ(d.StartSector, c.start);
    EXPECT_EQ(d.EndSector, c.end != 0 ? c.end : diskSectors);

    test::TempDir tmp;
    const test::ScanAndSaveResult fromDisk = SaveAll(session, tmp.path() / "disk");
    ASSERT_TRUE(fromDisk.scanned) << fromDisk.error;

    // Every live file of the volume, byte for byte.
    int live = 0;
    for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest(c.image), c.manifestPartition)) {
        if (e.state != "live" && e.state != "fragmented")
            continue;
        ++live;
        auto it = fromDisk.files.find(e.path);
        ASSERT_NE(it, fromDisk.files.end()) << e.path;
        EXPECT_EQ(it->second.size, e.size) << e.path;
        EXPECT_EQ(it->second.sha, e.sha256) << e.path;
    }
    EXPECT_GT(live, 0);

    // The same files as the volume scanned as itself.
    CurrentPartition volume;
    volume.Descriptor.FsType = c.fs;
    volume.Descriptor.StartSector = c.start;
    volume.Descriptor.EndSector = d.EndSector;
    volume.Descriptor.EndByte = d.EndSector * kSectorSize;
    volume.Descriptor.ItemStart = c.start;
    volume.Descriptor.ItemEnd = d.EndSector;
    volume.Device = disk;
    volume.DevicePath = disk->Path();
    volume.RecoveryMode = 1;
    // The geometry the scan used is the volume's own.
    CurrentPartition read = volume;
    if (c.outcome != Outcome::PartitionFound || std::string(c.fs) != "exFAT") {
        ASSERT_EQ(ReadVolumeParameters(read, *disk), 1);
        EXPECT_TRUE(read.Geometry == session.Partition().Geometry);
    }
    // A scan reads all of a 128 GiB volume: once is enough there.
    if (c.sparse)
        return;
    SearchSession itself(1);
    ASSERT_TRUE(itself.RunScanHere(volume));
    const test::ScanAndSaveResult fromVolume = SaveAll(itself, tmp.path() / "volume");
    ASSERT_TRUE(fromVolume.scanned) << fromVolume.error;
    ASSERT_EQ(fromDisk.files.size(), fromVolume.files.size());
    for (const auto& [path, file] : fromVolume.files) {
        auto it = fromDisk.files.find(path);
        ASSERT_NE(it, fromDisk.files.end()) << path;
        EXPECT_EQ(it->second.sha, file.sha) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, DiskNodeScan, ::testing::ValuesIn(kDiskCases), CaseName);

// Search More Partitions on the same whole-volume images lists the volume.
TEST(DiskNodeScan, SearchMorePartitionsListsTheWholeVolume)
{
    for (const DiskCase& c : kDiskCases) {
        if (c.outcome != Outcome::VolumeAtSectorZero)
            continue;
        SCOPED_TRACE(c.name);
        DevicePtr disk = DiskOf(c);
        if (!disk)
            GTEST_SKIP() << c.image << " is not unpacked";
        PartitionSearchParams params;
        params.device = disk;
        params.depth = SmpMode::Standard;
        const PartitionSearchOutcome out = RunPartitionSearch(params, {});
        ASSERT_EQ(out.found.size(), 1u);
        EXPECT_EQ(out.found[0].fsName, c.fs);
        EXPECT_EQ(out.found[0].start, 0u);
        EXPECT_EQ(out.found[0].itemText, PartitionItemText(1, c.fs));
        SectorBytes boot;
        ASSERT_TRUE(ReadOneSector(*disk, 0, boot));
        EXPECT_EQ(out.found[0].end, BootRecordSectors(boot.View(), FsKindFromText(c.fs)));
    }
}

TEST(DiskNodeScan, WithoutASearchTheGuessStaysAndNothingIsRead)
{
    DevicePtr disk = test::DiskWithoutTable("mbr.img");
    ASSERT_NE(disk, nullptr);
    ListedDisk listed(disk);
    const BasicScanStart start = listed.ScanNow();
    ASSERT_EQ(start.outcome, ScanStartOutcome::Start);
    SearchSession session(1);   // no automatic search handed in
    ASSERT_TRUE(session.RunScanHere(start.partition));
    EXPECT_EQ(session.ScanJob()->DiskOutcome(), DiskWithoutPartitionsOutcome::NothingFound);
    EXPECT_EQ(session.Partition().Descriptor.StartSector, 0u);
}

TEST(DiskNodeScan, APartitionNodeIsScannedAsListed)
{
    DevicePtr disk = OpenFileDevice(test::FixtureImage("mbr.img").string());
    ASSERT_NE(disk, nullptr);
    ListedDisk listed(disk);
    ASSERT_GT(listed.inv.Tree.ChildCount(listed.item), 0u);
    // The disk lists partitions: nothing of the above applies to its node either.
    const BasicScanStart start = listed.ScanNow();
    ASSERT_EQ(start.outcome, ScanStartOutcome::Start);
    EXPECT_FALSE(start.partition.DiskListsNoPartition);
}

// Sector-0 records the whole-volume rule takes and leaves.
TEST(DiskNodeScan, WhichFirstSectorsAreVolumes)
{
    struct Probe {
        const char* image;
        std::uint64_t sector;
        FsKind kind;
    } probes[] = {
        {"fat16.img", 0, FsKind::Fat16},   {"fat32.img", 0, FsKind::Fat32},
        {"exfat.img", 0, FsKind::Exfat},   {"ntfs.img", 0, FsKind::Ntfs},
        {"mbr.img", 0, FsKind::Unknown},   // a partition table is no volume
        {"fat32.img", 6, FsKind::Fat32},   // the backup boot sector is a valid record too
        {"fat32.img", 1, FsKind::Unknown}, // FSInfo
        {"gpt.img", 0, FsKind::Unknown},   // the protective MBR
    };
    for (const Probe& p : probes) {
        DevicePtr disk = OpenFileDevice(test::FixtureImage(p.image).string());
        ASSERT_NE(disk, nullptr) << p.image;
        SectorBytes s;
        ASSERT_TRUE(ReadOneSector(*disk, p.sector, s));
        EXPECT_EQ(RecognizeVolumeBootRecord(s.View()), p.kind) << p.image << " sector " << p.sector;
        // A record that lost its signature, or says it has no FAT, is none.
        s.b[511] = 0;
        EXPECT_EQ(RecognizeVolumeBootRecord(s.View()), FsKind::Unknown) << p.image;
    }
    DevicePtr fat16 = OpenFileDevice(test::FixtureImage("fat16.img").string());
    SectorBytes s;
    ASSERT_TRUE(ReadOneSector(*fat16, 0, s));
    s.b[22] = s.b[23] = 0;   // no sectors per FAT
    EXPECT_EQ(RecognizeVolumeBootRecord(s.View()), FsKind::Unknown);
}

TEST(DiskNodeScan, StopDuringTheAutomaticSearchEndsItAtItsNextProbe)
{
    // A large disk with nothing on it, every read slowed: the search would
    // take hours.
    auto blank = std::make_shared<test::SparseDevice>(64 * kGiB, test::ByteFunction{}, "blank");
    auto slow = std::make_shared<test::SlowDevice>(blank, 5, 512);
    ListedDisk listed(slow);
    const BasicScanStart start = listed.ScanNow();
    ASSERT_EQ(start.outcome, ScanStartOutcome::Start);

    SearchSession session(1);
    std::atomic<int> searches{0};
    AutomaticPartitionSearch search = MakeAutomaticPartitionSearch();
    session.SetAutomaticPartitionSearch([&](const AutomaticSearchRequest& request) {
        ++searches;
        return search(request);
    });
    ASSERT_TRUE(session.StartScan(start.partition));
    // Wait until the search has started reading.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((searches.load() == 0 || session.Results().CurrentScanSector.load() < 100) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(searches.load(), 1);
    session.StopScan();
    // The search ends at its next probe, and the scan after it.
    ASSERT_TRUE(session.FinishScan());
    EXPECT_EQ(session.ScanJob()->DiskOutcome(), DiskWithoutPartitionsOutcome::NothingFound);
    EXPECT_LT(session.Results().CurrentScanSector.load(), 64 * kGiB / kSectorSize / 2);
}

// The Deep Search of the same disks: a disk that lists no partition and
// shows no boot sector where the sweep was to start waits for the partition
// search and sweeps the first partition it finds; Stop during that wait ends
// the search at its next probe and the sweep with it.
CurrentPartition DeepRangeOfDisk(const DevicePtr& disk, const std::string& type)
{
    CurrentPartition p;
    const std::uint64_t sectors = disk->SizeBytes() / kSectorSize;
    p.Descriptor.FsType = type;
    p.Descriptor.StartSector = 0;
    p.Descriptor.EndSector = sectors;
    p.Descriptor.EndByte = sectors * kSectorSize;
    p.Descriptor.ItemStart = 0;
    p.Descriptor.ItemEnd = sectors;
    p.Descriptor.ModeText = "Deep Search";
    p.DevicePath = disk->Path();
    p.Device = disk;
    p.RecoveryMode = 2;
    p.CurrentDiskSectorCount = sectors;
    p.DiskListsNoPartition = true;
    p.SelectedSourceKind = "Hard Disk";
    return p;
}

TEST(DiskNodeDeepScan, ADiskWithoutTableSweepsTheFirstPartitionTheSearchFinds)
{
    struct Case {
        const char* type;   // the type chosen for the sweep
    };
    for (const Case c : {Case{"FAT32"}, Case{"NTFS"}}) {
        SCOPED_TRACE(c.type);
        DevicePtr disk = test::DiskWithoutTable("mbr.img");
        if (!disk)
            GTEST_SKIP() << "mbr.img is not unpacked";
        SearchSession session(2);
        session.SetAutomaticPartitionSearch(MakeAutomaticPartitionSearch());
        ASSERT_TRUE(session.RunDeepScanHere(DeepRangeOfDisk(disk, c.type)));
        const DeepScanJob& job = *session.DeepJob();
        EXPECT_EQ(job.DiskOutcome(), Outcome::PartitionFound);
        const PartitionDescriptor& d = session.Partition().Descriptor;
        EXPECT_EQ(d.FsType, "FAT32");
        EXPECT_EQ(d.StartSector, 2048u);
        EXPECT_EQ(d.EndSector, 2048u + 73710u);
        ASSERT_EQ(session.FoundFileSystems().size(), 1u);
        EXPECT_EQ(session.FoundFileSystems()[0].bootSector, 2048u);

        test::TempDir tmp;
        const test::ScanAndSaveResult saved = SaveAll(session, tmp.path() / "deep");
        ASSERT_TRUE(saved.scanned) << saved.error;
        int live = 0;
        for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest("mbr.img"), 1)) {
            if (e.state != "live")
                continue;
            ++live;
            auto it = saved.files.find(e.path);
            ASSERT_NE(it, saved.files.end()) << e.path;
            EXPECT_EQ(it->second.sha, e.sha256) << e.path;
        }
        EXPECT_GT(live, 0);
    }

    // Without a search handed in, or with a range that is no whole disk, the
    // sweep reads the range it was given.
    DevicePtr disk = test::DiskWithoutTable("mbr.img");
    SearchSession plain(2);
    ASSERT_TRUE(plain.RunDeepScanHere(DeepRangeOfDisk(disk, "FAT32")));
    EXPECT_EQ(plain.DeepJob()->DiskOutcome(), Outcome::NothingFound);
    EXPECT_EQ(plain.Partition().Descriptor.StartSector, 0u);
    EXPECT_EQ(plain.FoundFileSystems().size(), 2u);
    CurrentPartition listed = DeepRangeOfDisk(disk, "FAT32");
    listed.DiskListsNoPartition = false;
    SearchSession withSearch(2);
    withSearch.SetAutomaticPartitionSearch(MakeAutomaticPartitionSearch());
    ASSERT_TRUE(withSearch.RunDeepScanHere(listed));
    EXPECT_EQ(withSearch.DeepJob()->DiskOutcome(), Outcome::NotApplicable);
    EXPECT_EQ(withSearch.FoundFileSystems().size(), 2u);
}

TEST(DiskNodeDeepScan, StopDuringTheAutomaticSearchEndsItAndTheSweep)
{
    auto blank = std::make_shared<test::SparseDevice>(64 * kGiB, test::ByteFunction{}, "blank");
    auto slow = std::make_shared<test::SlowDevice>(blank, 5, 512);
    SearchSession session(2);
    std::atomic<int> searches{0};
    AutomaticPartitionSearch search = MakeAutomaticPartitionSearch();
    session.SetAutomaticPartitionSearch([&](const AutomaticSearchRequest& request) {
        ++searches;
        return search(request);
    });
    ASSERT_TRUE(session.StartDeepScan(DeepRangeOfDisk(slow, "NTFS")));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((searches.load() == 0 || session.Results().CurrentScanSector.load() < 100) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(searches.load(), 1);
    session.StopScan();
    ASSERT_TRUE(session.FinishScan());
    EXPECT_EQ(session.DeepJob()->DiskOutcome(), Outcome::NothingFound);
    EXPECT_LT(session.DeepJob()->Progress().done.load(), 64 * kGiB / kSectorSize / 2);
}

}  // namespace
}  // namespace torvane
