// The partition discovery on removable media, without a window: which disks
// of a drive list it scans (and which one is the last), what each card gains
// (the card images: FAT32 at sector 8192 without a table, an exFAT volume
// without a table, FAT16 whose MBR entry was zeroed; a blank card gains its
// whole-disk entry), the result message of each disk, the tree at the end of a
// disk's search, and Stop between and within disks.
#include "partsearch_test_support.h"

#include "disk/drive_refresh.h"
#include "partsearch/found_partition_apply.h"
#include "partsearch/partition_search_text.h"
#include "partsearch/partition_search_tree.h"
#include "partsearch/removable_media_scan.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace torvane {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1024ull * 1024;

struct Listed {
    DevicePtr device;
    bool removable;
};

// The devices listed as the program's disks (numbers 0, 1, ... in order), and their drive list.
class Disks {
public:
    explicit Disks(const std::vector<Listed>& devices)
    {
        DeviceRegistry& registry = DeviceRegistry::Instance();
        registry.Reset();
        registry.SetSysfsRoot("");
        for (const Listed& d : devices)
            numbers.push_back(registry.RegisterMemoryDisk(d.device, d.removable));
        inv.RecoveryMode = 1;
        DriveRefreshOptions options;
        options.RefreshRegistry = false;
        options.Logical.MountInfoPath = "/nonexistent/mountinfo";
        BuildDriveInventory(inv, registry, options);
    }
    ~Disks() { DeviceRegistry::Instance().Reset(); }
    TreeNodeId Item(std::size_t i) const { return FindDiskTreeItem(inv, numbers[i], inv.PhysicalDrivesItem); }

    DriveInventory inv;
    std::vector<int> numbers;
};

DevicePtr Fixture(const char* image) { return OpenFileDevice(test::FixtureImage(image).string()); }
DevicePtr Blank(std::uint64_t bytes) { return std::make_shared<test::SparseDevice>(bytes); }

// Everything a discovery reports, in order.
class Recorder final : public RemovableMediaEvents {
public:
    struct Disk {
        int number = -1;
        std::vector<FoundPartitionEvent> found;
        bool ended = false;
        int gained = -1;
    };
    void OnDiskStarted(const MediaScanDisk& disk) override
    {
        std::lock_guard<std::mutex> lk(mutex);
        disks.push_back(Disk{disk.disk, {}, false, -1});
    }
    void OnMediaPartitionFound(const MediaScanDisk& /*disk*/, const FoundPartitionEvent& found) override
    {
        std::lock_guard<std::mutex> lk(mutex);
        disks.back().found.push_back(found);
    }
    void OnDiskEnded(const MediaScanDisk& /*disk*/, int gained) override
    {
        std::lock_guard<std::mutex> lk(mutex);
        disks.back().ended = true;
        disks.back().gained = gained;
    }
    void OnQuestion(const JobQuestion& question, std::function<void(int)> reply) override
    {
        {
            std::lock_guard<std::mutex> lk(mutex);
            questions.push_back(question);
        }
        reply(0);
    }
    std::mutex mutex;
    std::vector<Disk> disks;
    std::vector<JobQuestion> questions;
};

TEST(RemovableMedia, ScansTheRemovableDisksThatListNothingInListOrder)
{
    DevicePtr card32 = Fixture("card-fat32.img");
    if (!card32)
        GTEST_SKIP() << "the card images are not unpacked";
    Disks d({{card32, true},
             {Blank(64 * kMiB), false},          // fixed: passed over
             {Fixture("mbr.img"), true},         // lists its partitions: no job
             {Fixture("exfat.img"), true},
             {Blank(64 * kMiB), false}});        // fixed, after the last removable one
    EXPECT_EQ(d.inv.SmpParamList.size(), 4u);
    const std::vector<MediaScanDisk> disks = RemovableMediaDisks(d.inv);
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].disk, d.numbers[0]);
    EXPECT_EQ(disks[0].item, d.Item(0));
    EXPECT_FALSE(disks[0].last);
    EXPECT_EQ(disks[1].disk, d.numbers[3]);
    EXPECT_TRUE(disks[1].last);   // the fixed disk after it does not qualify
    EXPECT_EQ(disks[1].totalSectors, 32768u);
    EXPECT_EQ(disks[1].cylinders, 32768u / 16065);
    EXPECT_EQ(disks[1].shownPartitions, 0);
    EXPECT_EQ(FirstRemovableDiskWithoutPartitions(d.inv), d.Item(0));

    // Only fixed disks without partitions: nothing qualifies.
    Disks fixedOnly({{Blank(64 * kMiB), false}});
    EXPECT_TRUE(RemovableMediaDisks(fixedOnly.inv).empty());
    EXPECT_EQ(FirstRemovableDiskWithoutPartitions(fixedOnly.inv), kNoTreeNode);
}

TEST(RemovableMedia, TranslatesGeometriesTo255HeadsAnd63Sectors)
{
    EXPECT_EQ(TranslatedCylinders(1000, 255, 63), 1000u);
    EXPECT_EQ(TranslatedCylinders(1000, 64, 32), 32u * 64 * 1000 / 16065);
    // Widened: no wrap at 2^32.
    EXPECT_EQ(TranslatedCylinders(4000000, 255, 32), static_cast<std::uint32_t>(32ull * 255 * 4000000 / 16065));
}

struct CardCase {
    const char* name;
    const char* image;
    const char* fs;
    std::uint64_t start;
    std::uint64_t sectors;
};

const CardCase kCards[] = {
    {"Fat32At8192WithoutTable", "card-fat32.img", "FAT32", 8192, 122880},
    {"ExfatWithoutTable", "exfat.img", "exFAT", 0, 32768},
    {"Fat16WithZeroedEntry", "card-fat16.img", "FAT16", 2048, 63488},
};

TEST(RemovableMedia, EachCardShowsItsPartitionAndItsFilesComeBack)
{
    std::vector<Listed> listed;
    for (const CardCase& c : kCards) {
        DevicePtr card = Fixture(c.image);
        if (!card)
            GTEST_SKIP() << c.image << " is not unpacked";
        listed.push_back({card, true});
    }
    Disks d(listed);
    RemovableMediaScanParams params;
    params.disks = RemovableMediaDisks(d.inv);
    ASSERT_EQ(params.disks.size(), std::size(kCards));
    Recorder events;
    RemovableMediaScanJob job(params, &events);
    ASSERT_TRUE(job.RunHere());
    ASSERT_EQ(events.disks.size(), std::size(kCards));
    ASSERT_EQ(events.questions.size(), std::size(kCards));
    test::TempDir tmp;
    for (std::size_t i = 0; i < std::size(kCards); ++i) {
        const CardCase& c = kCards[i];
        SCOPED_TRACE(c.name);
        const Recorder::Disk& disk = events.disks[i];
        EXPECT_EQ(disk.number, d.numbers[i]);
        ASSERT_EQ(disk.found.size(), 1u);
        const FoundPartitionEvent& f = disk.found[0];
        EXPECT_EQ(f.fsName, c.fs);
        EXPECT_EQ(f.start, c.start);
        EXPECT_EQ(f.end - f.start, c.sectors);
        EXPECT_EQ(f.itemText, PartitionItemText(1, c.fs));
        EXPECT_TRUE(disk.ended);
        EXPECT_EQ(disk.gained, 1);
        EXPECT_EQ(events.questions[i].kind, kPartitionSearchResultQuestion);
        EXPECT_EQ(events.questions[i].text,
                  "Found 1 more partitions in selected Disk ( Disk - " + std::to_string(d.numbers[i]) + " )");

        // The partition under the disk, as the dialog puts it there.
        const TreeNodeId item = ApplyFoundPartition(d.inv, d.numbers[i], d.Item(i), f);
        ASSERT_NE(item, kNoTreeNode);
        EXPECT_EQ(d.inv.Tree.Parent(item), d.Item(i));
        EXPECT_TRUE(d.inv.Tree.Highlighted(item));
        const SearchEndInTree end = ShowSearchResultInTree(d.inv, d.numbers[i], d.Item(i), params.disks[i].totalSectors);
        EXPECT_EQ(end.select, item);
        EXPECT_FALSE(end.wholeDiskEntry);

        // A Basic scan of it gives its live files back byte for byte.
        const test::ScanAndSaveResult saved = test::ScanAndSaveFound(Fixture(c.image), f, tmp.path() / c.name);
        ASSERT_TRUE(saved.scanned) << saved.error;
        int live = 0;
        for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest(c.image), 0)) {
            if (e.state != "live")
                continue;
            ++live;
            auto it = saved.files.find(e.path);
            ASSERT_NE(it, saved.files.end()) << e.path;
            EXPECT_EQ(it->second.sha, e.sha256) << e.path;
        }
        EXPECT_GT(live, 5);
    }
}

TEST(RemovableMedia, ABlankCardGainsItsWholeDiskEntry)
{
    struct Blanks {
        std::uint64_t sectors;
        const char* text;
        const char* type;
    } blanks[] = {
        {64 * kMiB / kSectorSize, "Partition - 1 ( FAT32 )", "FAT32"},
        {2047, "Unknown Partition", "Unknown"},
        {35ull << 21, "Partition - 1 ( NTFS )", "NTFS"},
        {(35ull << 21) - 1, "Partition - 1 ( FAT32 )", "FAT32"},
    };
    for (const Blanks& b : blanks) {
        SCOPED_TRACE(b.sectors);
        Disks d({{Blank(b.sectors * kSectorSize), true}});
        RemovableMediaScanParams params;
        params.disks = RemovableMediaDisks(d.inv);
        ASSERT_EQ(params.disks.size(), 1u);
        Recorder events;
        RemovableMediaScanJob job(params, &events);
        ASSERT_TRUE(job.RunHere());
        ASSERT_EQ(events.disks.size(), 1u);
        EXPECT_TRUE(events.disks[0].found.empty());
        EXPECT_EQ(events.disks[0].gained, 1);
        EXPECT_EQ(events.questions.at(0).text,
                  "Found 1 more partitions in selected Disk ( Disk - " + std::to_string(d.numbers[0]) + " )");

        const SearchEndInTree end = ShowSearchResultInTree(d.inv, d.numbers[0], d.Item(0), b.sectors);
        ASSERT_TRUE(end.wholeDiskEntry);
        EXPECT_EQ(end.entryText, b.text);
        EXPECT_EQ(d.inv.Tree.Text(end.select), b.text);
        EXPECT_TRUE(d.inv.Tree.Highlighted(end.select));
        const DiskPartitionEntry& entry = *d.inv.PartitionTable.Entry(d.numbers[0]);
        EXPECT_EQ(entry.RecordCount, 1u);
        EXPECT_EQ(entry.FsNames[0], b.type);
        EXPECT_EQ(entry.Records[0].StartSector, 0u);
        EXPECT_EQ(entry.Records[0].EndSector, b.sectors);
        EXPECT_EQ(entry.Records[0].TreeItem, end.select);
        // A second end adds nothing: the disk shows its entry now.
        const SearchEndInTree again = ShowSearchResultInTree(d.inv, d.numbers[0], d.Item(0), b.sectors);
        EXPECT_FALSE(again.wholeDiskEntry);
        EXPECT_EQ(again.select, end.select);
    }
}

TEST(RemovableMedia, NoResultMessagesWhileAScanLogIsPending)
{
    Disks d({{Blank(8 * kMiB), true}, {Blank(8 * kMiB), true}});
    RemovableMediaScanParams params;
    params.disks = RemovableMediaDisks(d.inv);
    params.askResults = false;
    Recorder events;
    RemovableMediaScanJob job(params, &events);
    ASSERT_TRUE(job.RunHere());
    EXPECT_EQ(events.disks.size(), 2u);
    EXPECT_TRUE(events.questions.empty());
}

TEST(RemovableMedia, StopEndsTheProbeAtItsNextCylinderAndTheWalkBeforeTheNextDisk)
{
    // Two large blank cards read slowly: probing either would take minutes.
    auto slow = [] { return std::make_shared<test::SlowDevice>(Blank(64ull << 30), 10, 512); };
    Disks d({{slow(), true}, {slow(), true}});
    RemovableMediaScanParams params;
    params.disks = RemovableMediaDisks(d.inv);
    ASSERT_EQ(params.disks.size(), 2u);
    Recorder events;
    RemovableMediaScanJob job(params, &events);
    ASSERT_TRUE(job.Start());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (job.Progress().done.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    job.Stop();
    job.Wait();
    EXPECT_TRUE(job.Stopped());
    ASSERT_EQ(events.disks.size(), 1u);   // the second disk never started
    EXPECT_FALSE(events.disks[0].ended);  // a stopped disk reports no end
    EXPECT_TRUE(events.questions.empty());
    EXPECT_LT(job.Progress().done.load(), (64ull << 30) / kSectorSize / 2);
}

}  // namespace
}  // namespace torvane
