// The Deep scan through a search session: the sector classification, stops
// at several places of a slowed sweep, the incremental passes, a bad sector,
// and damaged input (folders that name each other, absurd boot sectors, a
// truncated image). Whole-image recovery is checked by e2e_deep_test.
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/fat/deep_fat_sweep.h"
#include "fsrecovery/search_session.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::SparseDevice;

CurrentPartition RangeOf(DevicePtr device, std::uint64_t first, std::uint64_t end, const std::string& type)
{
    CurrentPartition p;
    p.Descriptor.FsType = type;
    p.Descriptor.StartSector = first;
    p.Descriptor.EndSector = end;
    p.Descriptor.EndByte = end * kSectorSize;
    p.DevicePath = device->Path();
    p.RecoveryMode = 2;
    p.Device = std::move(device);
    return p;
}

DevicePtr FixtureDevice(const std::string& image)
{
    return OpenFileDevice(test::FixtureImage(image).string());
}

// Every folder record's item is in the tree, below the root, once.
void ExpectConsistentTree(ScanResults& results)
{
    auto lk = results.Lock();
    const TreeModel& tree = results.Tree();
    ASSERT_NE(tree.RootItem(), kNoTreeNode);
    std::set<TreeNodeId> items;
    for (std::size_t i = 0; i < results.FolderCount(); ++i) {
        const RecoveredFolder* f = results.FolderAt(i);
        ASSERT_NE(f, nullptr);
        EXPECT_TRUE(tree.IsValid(f->treeItem)) << f->name;
        EXPECT_TRUE(items.insert(f->treeItem).second) << "two records share an item: " << f->name;
        EXPECT_EQ(results.FolderOfItem(f->treeItem), f);
    }
}

// The path of every item of the results tree, from the root.
std::multiset<std::string> TreePaths(ScanResults& results)
{
    std::multiset<std::string> out;
    auto lk = results.Lock();
    const TreeModel& tree = results.Tree();
    for (TreeNodeId n = tree.RootItem(); n != kNoTreeNode; n = tree.NextPreOrder(n, tree.RootItem())) {
        std::string p;
        for (TreeNodeId a = n; a != kNoTreeNode; a = tree.Parent(a))
            p = "/" + tree.Text(a) + p;
        out.insert(p);
    }
    return out;
}

// A directory's first cluster: "." (self) and ".." (parent) entries.
std::string DirSector(std::uint32_t self, std::uint32_t parent, const std::string& childName = "",
                      std::uint32_t childCluster = 0)
{
    std::string s(512, '\0');
    auto entry = [&](int i, const char* name11, std::uint8_t attr, std::uint32_t cluster) {
        char* e = &s[i * 32];
        std::memcpy(e, name11, 11);
        e[11] = static_cast<char>(attr);
        e[20] = static_cast<char>((cluster >> 16) & 0xFF);
        e[21] = static_cast<char>(cluster >> 24);
        e[26] = static_cast<char>(cluster & 0xFF);
        e[27] = static_cast<char>((cluster >> 8) & 0xFF);
        e[24] = 0x21;   // 1980-01-01
    };
    entry(0, ".          ", 0x10, self);
    entry(1, "..         ", 0x10, parent);
    if (!childName.empty())
        entry(2, childName.c_str(), 0x10, childCluster);
    return s;
}

TEST(DeepFatClassifier, RowsForBootSectorsDirectoriesAndContinuations)
{
    DeepFatSweepState state;
    DeepTables tables;
    ScanResults results;
    std::string data(4 * 512, '\0');
    // Sector 0: a FAT16 boot sector of a small volume (size in the 16-bit field).
    data[510] = 0x55;
    data[511] = static_cast<char>(0xAA);
    data[57] = '1';
    data[58] = '6';
    data[13] = 4;      // spc
    data[14] = 4;      // reserved
    data[17] = 0;      // 512 root entries
    data[18] = 2;
    data[19] = 0;      // 32768 sectors in the 16-bit field
    data[20] = static_cast<char>(0x80);
    data[22] = 32;     // spf
    // Sector 1: "." and ".." (cluster 3 in the root).
    std::memcpy(&data[512], DirSector(3, 0).data(), 512);
    // Sector 3: a continuation-looking sector (three deleted entries after a 0x20 gate).
    data[3 * 512 + 11] = 0x20;
    data[3 * 512 + 0] = data[3 * 512 + 32] = data[3 * 512 + 64] = static_cast<char>(0xE5);
    ClassifyDeepFatSectors(state, tables, results, 100, reinterpret_cast<const std::uint8_t*>(data.data()), 4);
    ASSERT_EQ(tables.bootSectors.size(), 1u);
    const FatBootRow& b = tables.bootSectors[0];
    EXPECT_EQ(b.sector, 100u);
    EXPECT_EQ(b.partType, "FAT16");
    EXPECT_EQ(b.rootSectors, 32u);
    EXPECT_EQ(b.rootStart, 100u + 4 + 64);
    EXPECT_EQ(b.cluster0Start, 100u + 4 + 32 + 64 - 8);
    EXPECT_EQ(b.totalSectors, 100u + 32768);   // the 16-bit size counts
    ASSERT_EQ(tables.dirs.size(), 1u);
    EXPECT_EQ(tables.dirs[0].sector, 101u);
    EXPECT_EQ(tables.dirs[0].self, 3u);
    EXPECT_EQ(tables.dirs[0].parent, 0u);
    // No geometry was read: a continuation sector is not written.
    EXPECT_TRUE(tables.newList.empty());
    // With a geometry (no FAT), the first sector of a run is.
    state.geometry.SectorsPerCluster = 1;
    state.geometry.Cluster0Start = 10;
    ClassifyDeepFatSectors(state, tables, results, 200, reinterpret_cast<const std::uint8_t*>(data.data()), 4);
    ASSERT_EQ(tables.newList.size(), 1u);
    EXPECT_EQ(tables.newList[0].sector, 203u);
    EXPECT_EQ(tables.newList[0].self, 203u - 10 + 1);
}

TEST(DeepFatClassifier, LongNameSlotsToTheChunkEndStayInside)
{
    DeepFatSweepState state;
    state.geometry.SectorsPerCluster = 1;
    DeepTables tables;
    ScanResults results;
    // One sector of nothing but long-name slots, the last of the chunk.
    std::string data(512, '\0');
    for (int i = 0; i < 16; ++i) {
        data[i * 32] = 0x41;
        data[i * 32 + 11] = 0x0F;
    }
    ClassifyDeepFatSectors(state, tables, results, 5000, reinterpret_cast<const std::uint8_t*>(data.data()), 1);
    ASSERT_EQ(tables.newList.size(), 1u);
    EXPECT_EQ(tables.newList[0].date, 0u);
}

TEST(DeepScan, IntactFat32VolumeBuildsItsTree)
{
    DevicePtr dev = FixtureDevice("fat32.img");
    if (!dev)
        GTEST_SKIP();
    SearchSession session(2);
    ASSERT_TRUE(session.RunDeepScanHere(RangeOf(dev, 0, dev->SizeBytes() / 512, "FAT32")));
    ASSERT_EQ(session.FoundFileSystems().size(), 1u);
    EXPECT_EQ(session.FoundFileSystems()[0].kind, "FAT32");
    ASSERT_EQ(session.Volumes()->Size(), 1u);
    EXPECT_EQ(session.Volumes()->First()->Key(), session.FoundFileSystems()[0].key);
    ExpectConsistentTree(session.Results());
    const auto tree = test::DescribeTree(session.Results());
    bool documents = false;
    for (const auto& line : tree)
        documents = documents || line.rfind("1 Documents |", 0) == 0;
    EXPECT_TRUE(documents) << ::testing::PrintToString(tree);
    EXPECT_EQ(session.DeepJob()->EndNoticeState(), 0);
}

// The incremental passes (every chunk here) leave the same tree as none.
TEST(DeepScan, IncrementalPassesGiveTheSameTree)
{
    DevicePtr dev = FixtureDevice("fat32.img");
    if (!dev)
        GTEST_SKIP();
    auto paths = TreePaths;
    SearchSession plain(2);
    ASSERT_TRUE(plain.RunDeepScanHere(RangeOf(dev, 0, dev->SizeBytes() / 512, "FAT32")));
    SearchSession passes(2);
    passes.SetDeepPassInterval(std::chrono::milliseconds(1));
    auto slow = std::make_shared<test::SlowDevice>(dev, 2, 64 * 1024);
    ASSERT_TRUE(passes.RunDeepScanHere(RangeOf(slow, 0, dev->SizeBytes() / 512, "FAT32")));
    EXPECT_EQ(paths(passes.Results()), paths(plain.Results()));
}

// The sweep's read size changes nothing found: structures cut at the ends
// of small reads (8 sectors, or 200, which no cluster divides) are met again
// whole, on every file system.
TEST(DeepScan, SmallReadsGiveTheSameTree)
{
    auto paths = TreePaths;
    const struct {
        const char* image;
        const char* type;
    } cases[] = {{"fat16.img", "FAT16"}, {"fat32.img", "FAT32"}, {"exfat.img", "exFAT"}, {"ntfs.img", "NTFS"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        DevicePtr dev = FixtureDevice(c.image);
        if (!dev)
            GTEST_SKIP();
        const std::uint64_t sectors = dev->SizeBytes() / 512;
        SearchSession whole(2);
        ASSERT_TRUE(whole.RunDeepScanHere(RangeOf(dev, 0, sectors, c.type)));
        const std::multiset<std::string> expected = paths(whole.Results());
        EXPECT_GT(expected.size(), 3u);
        for (std::uint32_t chunk : {8u, 200u}) {
            SCOPED_TRACE(chunk);
            SearchSession small(2);
            small.SetDeepChunkSectors(chunk);
            ASSERT_TRUE(small.RunDeepScanHere(RangeOf(dev, 0, sectors, c.type)));
            EXPECT_EQ(paths(small.Results()), expected);
        }
    }
}

// Stops at several places of a slowed sweep: the scan ends, keeps what it
// found and leaves a consistent tree that lists and saves.
TEST(DeepScan, StopAtSeveralSectorsKeepsAConsistentTree)
{
    DevicePtr dev = FixtureDevice("fat32.img");
    if (!dev)
        GTEST_SKIP();
    const std::uint64_t sectors = dev->SizeBytes() / 512;
    for (std::uint64_t stopAt : {std::uint64_t(0), std::uint64_t(3000), sectors / 2, sectors - 2000}) {
        SCOPED_TRACE(stopAt);
        auto slow = std::make_shared<test::SlowDevice>(dev, 3, 64 * 1024);
        SearchSession session(2);
        session.SetDeepPassInterval(std::chrono::milliseconds(5));
        ASSERT_TRUE(session.StartDeepScan(RangeOf(slow, 0, sectors, "FAT32")));
        while (session.ScanRunning() && session.Results().CurrentScanSector.load() < stopAt)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        session.StopScan();
        slow->delayMs = 0;
        while (!session.FinishScan())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(session.ScanRunning());
        ExpectConsistentTree(session.Results());
        const TreeNodeId root = session.Results().Tree().RootItem();
        ASSERT_NE(root, kNoTreeNode);
        EXPECT_TRUE(session.RunListingHere(root));
        test::TempDir temp;
        auto saved = test::SaveEverything(session, temp.path() / "out");
        EXPECT_TRUE(saved.ran);
        // (Nothing found yet: no volume to save from.)
        if (!session.Volumes()->Empty())
            EXPECT_EQ(saved.failed, 0u);
    }
}

// One unreadable sector costs that sector only.
TEST(DeepScan, ABadSectorHidesNothingElse)
{
    DevicePtr dev = FixtureDevice("fat32.img");
    if (!dev)
        GTEST_SKIP();
    const std::uint64_t sectors = dev->SizeBytes() / 512;
    SearchSession clean(2);
    ASSERT_TRUE(clean.RunDeepScanHere(RangeOf(dev, 0, sectors, "FAT32")));
    auto faulty = std::make_shared<test::FaultyDevice>(dev);
    faulty->FailSectors(1030, 1);   // inside the second chunk, not a folder's sector
    SearchSession damaged(2);
    ASSERT_TRUE(damaged.RunDeepScanHere(RangeOf(faulty, 0, sectors, "FAT32")));
    EXPECT_EQ(damaged.DeepJob()->UnreadableSectors(), 1u);
    EXPECT_EQ(damaged.Tables().dirs.size() + damaged.Results().FolderCount(),
              clean.Tables().dirs.size() + clean.Results().FolderCount());
}

// Folders that name each other as parents, and boot sectors of absurd
// geometry: the scan ends, and both folders are in the tree.
TEST(DeepScan, FoldersThatNameEachOtherAndAbsurdBootSectors)
{
    auto dev = std::make_shared<SparseDevice>(8ull << 20);
    // Cluster 10 at sector 1000 and cluster 11 at 1001 (1 sector per cluster,
    // cluster 0 at 990): each names the other as its parent.
    dev->WriteSector(1000, DirSector(10, 11, "B          ", 11));
    dev->WriteSector(1001, DirSector(11, 10, "A          ", 10));
    dev->WriteSector(1002, DirSector(12, 11));
    // Absurd boot sectors: FAT32 with 0 sectors per cluster and huge fields;
    // FAT16 with 255 sectors per cluster.
    std::string boot(512, '\xFF');
    boot[510] = 0x55;
    boot[511] = static_cast<char>(0xAA);
    boot[85] = '3';
    boot[86] = '2';
    boot[13] = 0;
    dev->WriteSector(7, boot);
    boot[85] = 'x';
    boot[57] = '1';
    boot[58] = '6';
    boot[13] = static_cast<char>(255);
    dev->WriteSector(9000, boot);
    SearchSession session(2);
    ASSERT_TRUE(session.RunDeepScanHere(RangeOf(dev, 0, dev->SizeBytes() / 512, "FAT32")));
    ExpectConsistentTree(session.Results());
    EXPECT_GE(session.Results().FolderCount(), 3u);
    EXPECT_EQ(session.Tables().bootSectors.size(), 2u);
    EXPECT_TRUE(session.RunListingHere(session.Results().Tree().RootItem()));
    test::TempDir temp;
    auto saved = test::SaveEverything(session, temp.path() / "out");
    EXPECT_TRUE(saved.ran);
}

// A truncated image (the device ends inside the range it reports) and a
// range past the end of the device end cleanly with what was found.
TEST(DeepScan, TruncatedImageAndRangePastTheEnd)
{
    DevicePtr full = FixtureDevice("fat16.img");
    if (!full)
        GTEST_SKIP();
    test::TempDir temp;
    const fs::path cut = temp.path() / "cut.img";
    {
        std::ifstream in(test::FixtureImage("fat16.img"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 3));
    }
    DevicePtr dev = OpenFileDevice(cut.string());
    ASSERT_TRUE(dev);
    SearchSession session(2);
    ASSERT_TRUE(session.RunDeepScanHere(RangeOf(dev, 0, full->SizeBytes() / 512, "FAT16")));
    ExpectConsistentTree(session.Results());
    EXPECT_GT(session.Results().FolderCount(), 0u);
    auto saved = test::SaveEverything(session, temp.path() / "out");
    EXPECT_TRUE(saved.ran);

    SearchSession past(2);
    ASSERT_TRUE(past.RunDeepScanHere(RangeOf(full, 1u << 30, (1u << 30) + 100, "FAT16")));
    EXPECT_TRUE(past.DeepJob()->RangeOutsideDevice());
    EXPECT_EQ(past.DeepJob()->EndNoticeState(), 1);
    EXPECT_EQ(past.Results().FolderCount(), 0u);
}

// A scan of a disk (or of a partition read through its disk) keeps the
// extents its table lists; a logical drive has no table of its own.
TEST(DeepScan, ExtentsOfTheDiskScannedAreKept)
{
    DevicePtr dev = FixtureDevice("mbr.img");
    const std::uint64_t sectors = dev->SizeBytes() / 512;
    struct Row { std::uint64_t start, end; };
    // The fixture's table: three primaries (the third extended) and two logical partitions.
    const std::vector<Row> expected = {{2048, 75776}, {75776, 108544}, {110592, 180224}, {182272, 215040}};
    for (const char* kind : {"Hard Disk", "part", "Logical"}) {
        SCOPED_TRACE(kind);
        CurrentPartition p = RangeOf(dev, 2048, 75776, "FAT32");
        p.SelectedSourceKind = kind;
        p.Descriptor.DiskNumber = 3;
        p.CurrentDiskSectorCount = sectors;
        SearchSession session(2);
        ASSERT_TRUE(session.RunDeepScanHere(p));
        const auto& rows = session.Tables().extents;
        if (std::string(kind) == "Logical") {
            EXPECT_TRUE(rows.empty());
            continue;
        }
        ASSERT_GE(rows.size(), expected.size());
        std::size_t matched = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].drive, "3");
            EXPECT_EQ(rows[i].part, i + 1);
            EXPECT_EQ(rows[i].cluster0, rows[i].startSector);
            EXPECT_LE(rows[i].endSector, sectors);
            EXPECT_EQ(rows[i].driveEndSector, sectors);
            for (const Row& e : expected)
                matched += rows[i].startSector == e.start && rows[i].endSector == e.end;
        }
        EXPECT_EQ(matched, expected.size());
    }
}

// The folders at the top of a Deep result take the state of their own entry
// in the root directory: a live folder is live, a deleted one deleted; on a
// volume image and on a disk of two volumes whose partition tables are gone.
TEST(DeepScan, RootFoldersKeepTheStateOfTheirEntries)
{
    struct Case {
        const char* image;
        bool zeroTables;
        std::uint64_t end;   // 0: the whole image
        std::set<int> partitions;
    };
    const Case cases[] = {
        {"fat32.img", false, 0, {0}},
        {"mbr.img", true, 182272, {1, 5}},   // its FAT32 and its FAT16 volume
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        test::TempDir dir;
        fs::path image = test::FixtureImage(c.image);
        if (!fs::exists(image))
            GTEST_SKIP() << "fixture not unpacked";
        if (c.zeroTables) {
            const fs::path copy = dir.path() / c.image;
            fs::copy_file(image, copy);
            std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
            const std::string zeros(64, '\0');
            for (std::uint64_t s : {0ull, 108544ull, 180224ull}) {
                f.seekp(static_cast<std::streamoff>(s * 512 + 446));
                f.write(zeros.data(), 64);
            }
            image = copy;
        }
        DevicePtr dev = OpenFileDevice(image.string());
        ASSERT_TRUE(dev);
        SearchSession session(2);
        ASSERT_TRUE(session.RunDeepScanHere(RangeOf(dev, 0, c.end ? c.end : dev->SizeBytes() / 512, "FAT32")));

        // The top folders of the volumes scanned, by name: deleted or not.
        std::map<std::string, std::set<bool>> expected;
        for (const test::ManifestEntry& e : test::LoadManifest(c.image)) {
            if (!e.IsDir() || !c.partitions.count(e.partition) || e.path.find('/', 1) != std::string::npos)
                continue;
            expected[e.path.substr(1)].insert(e.IsDeleted());
        }
        ASSERT_FALSE(expected.empty());
        std::map<std::string, std::set<bool>> found;
        {
            auto lk = session.Results().Lock();
            const TreeModel& tree = session.Results().Tree();
            for (std::size_t i = 0; i < session.Results().FolderCount(); ++i) {
                const RecoveredFolder* f = session.Results().FolderAt(i);
                if (f->name != kMiscFolderName && tree.Parent(f->treeItem) == tree.RootItem())
                    found[f->name].insert(f->deleted != 0);
            }
        }
        EXPECT_EQ(found, expected);
    }
}

// The FAT sweep finds folders; the files they hold are counted once at the
// end, so that "File Entries" tells what the Deep scan found: every file
// entry of the volumes scanned, live and deleted.
TEST(DeepScan, FileEntriesCountTheFilesOfEveryFolderFound)
{
    struct Case {
        const char* image;
        const char* type;
        std::set<int> partitions;
    };
    const Case cases[] = {
        {"fat16.img", "FAT16", {0}},
        {"fat32.img", "FAT32", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        DevicePtr dev = FixtureDevice(c.image);
        if (!dev)
            GTEST_SKIP() << "fixture not unpacked";
        SearchSession session(2);
        ASSERT_TRUE(session.RunDeepScanHere(RangeOf(dev, 0, dev->SizeBytes() / 512, c.type)));
        std::uint64_t files = 0, live = 0;
        for (const test::ManifestEntry& e : test::LoadManifest(c.image)) {
            if (e.IsDir() || !c.partitions.count(e.partition))
                continue;
            ++files;
            live += e.IsDeleted() ? 0 : 1;
        }
        ASSERT_GT(live, 0u);
        const std::uint64_t found = session.Results().FoundFileCount.load();
        EXPECT_GE(found, live);
        EXPECT_LE(found, files) << "live " << live;
    }
}

}  // namespace
}  // namespace torvane
