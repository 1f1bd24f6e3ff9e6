#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/lost_directory_arrangement.h"
#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace torvane {
namespace {

// "Root/a/b" style paths of every folder, with the record's ids.
std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> Dump(ScanResults& r)
{
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> out;
    TreeModel& t = r.Tree();
    std::map<TreeNodeId, std::string> path;
    for (TreeNodeId n = t.NextPreOrder(kNoTreeNode); n != kNoTreeNode; n = t.NextPreOrder(n)) {
        path[n] = (t.Parent(n) == kNoTreeNode ? "" : path[t.Parent(n)] + "/") + t.Text(n);
        if (auto* rec = r.FolderOfItem(n))
            out[path[n]] = {rec->selfId, rec->parentId};
        else
            out[path[n]] = {0, 0};
    }
    return out;
}

std::vector<std::uint64_t> SelfColumn(ScanResults& r)
{
    std::vector<std::uint64_t> v;
    for (std::size_t i = 0; i < r.DirList().Count(); ++i)
        v.push_back(r.DirList().Row(i).self);
    return v;
}

TEST(FoundItems, PendingRowsGoInBeforeTheLastRow)
{
    ScanResults r;
    for (std::uint64_t id : {1, 2, 3, 4})
        r.AddPendingDirectory("d", 0, id, 0, 0, 0);
    EXPECT_EQ(SelfColumn(r), (std::vector<std::uint64_t>{2, 3, 4, 1}));
    r.AddPendingDirectory("", 0, 77, 0, 0, 0);
    EXPECT_EQ(r.DirList().Row(3).name, "DIR_77");
}

TEST(FoundItems, InsertNamesRootAndDeduplicates)
{
    ScanResults r;
    r.SetFsName("FAT32");
    TreeNodeId a = r.InsertRecoveredFolder(kNoTreeNode, "  Alpha ", 10, 1, 2, 0, 0, 0, 1);
    ASSERT_NE(a, kNoTreeNode);
    TreeNodeId root = r.Tree().RootItem();
    EXPECT_EQ(r.Tree().Text(root), "Root");
    EXPECT_EQ(r.Tree().Image(root), 0);
    EXPECT_EQ(r.Tree().Text(a), "Alpha");
    EXPECT_EQ(r.Tree().Image(a), 1);
    EXPECT_EQ(r.Tree().GetCheck(a), CheckState::Unchecked);
    EXPECT_EQ(r.Tree().Parent(a), root);

    // The same id again: the existing item, no second node.
    EXPECT_EQ(r.InsertRecoveredFolder(root, "Other", 10, 0, 0, 0, 0, 0, 1), a);
    EXPECT_EQ(r.FolderCount(), 1u);

    // Blank names, DIR clashes and plain clashes.
    TreeNodeId blank = r.InsertRecoveredFolder(root, "   ", 11, 0, 0, 0, 0, 0, 1);
    EXPECT_EQ(r.Tree().Text(blank), "DIR_11");
    TreeNodeId d1 = r.InsertRecoveredFolder(root, "DIR7", 12, 0, 0, 0, 0, 0, 1);
    TreeNodeId d2 = r.InsertRecoveredFolder(root, "DIR7", 13, 0, 0, 0, 0, 0, 1);
    EXPECT_EQ(r.Tree().Text(d1), "DIR7");
    EXPECT_EQ(r.Tree().Text(d2), "DIR7_13");
    TreeNodeId p2 = r.InsertRecoveredFolder(root, "Alpha", 14, 0, 0, 0, 0, 0, 1);
    EXPECT_EQ(r.Tree().Text(p2), "Alpha");
    EXPECT_TRUE(r.IsIndexedFolderCluster(14));
    EXPECT_FALSE(r.IsIndexedFolderCluster(15));
}

TEST(FoundItems, MiscellaneousFolderRulesAndRootNormalisation)
{
    ScanResults r;
    r.SetFsName("FAT16");
    EXPECT_EQ(r.InsertRecoveredFolder(kNoTreeNode, "KZU_Miscellaneous", 9, 0, 0, 0, 0, 0, 1), kNoTreeNode);
    TreeNodeId misc = r.InsertRecoveredFolder(kNoTreeNode, "KZU_Miscellaneous", kMiscFolderId, 0, 0, 5, 0, 0, 1);
    ASSERT_NE(misc, kNoTreeNode);
    EXPECT_EQ(r.MiscFolderItem(), misc);
    EXPECT_EQ(r.InsertRecoveredFolder(kNoTreeNode, "KZU_Miscellaneous", kMiscFolderId, 0, 0, 5, 0, 0, 1), misc);
    EXPECT_EQ(r.FolderOfItem(misc)->parentId, 0u);   // on FAT the misc folder hangs off the FAT root
    // On FAT, cluster 5 is a folder like any other: a child of it keeps parent 5.
    TreeNodeId c5 = r.InsertRecoveredFolder(r.Tree().RootItem(), "c", 5, 0, 0, 0, 0, 0, 1);
    TreeNodeId d = r.InsertRecoveredFolder(c5, "d", 6, 0, 0, 5, 0, 0, 1);
    EXPECT_EQ(r.FolderOfItem(d)->parentId, 5u);

    ScanResults ntfs;
    ntfs.SetFsName("NTFS");
    TreeNodeId n = ntfs.InsertRecoveredFolder(kNoTreeNode, "x", 40, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(ntfs.FolderOfItem(n)->parentId, 5u);
}

TEST(FoundItems, LiveFolderAndNewFatFolderEvents)
{
    struct Events : ResultsEvents {
        std::vector<std::string> live;
        std::vector<std::uint32_t> fat;
        void OnLiveFolder(const std::string& name) override { live.push_back(name); }
        void OnNewFatFolder(std::uint32_t id) override { fat.push_back(id); }
    } events;
    ScanResults r;
    r.SetFsName("FAT32");
    r.SetEvents(&events);
    r.InsertRecoveredFolder(kNoTreeNode, "a", 3, 0, 0, 0, 0, 0, 0);
    r.InsertRecoveredFolder(kNoTreeNode, "b", 4, 0, 0, 0, 0, 0, 2);   // file count known
    EXPECT_EQ(events.live, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(events.fat, (std::vector<std::uint32_t>{3}));
}

class Arrangement : public ::testing::Test {
protected:
    ScanResults r;
    void SetUp() override
    {
        r.SetFsName("FAT32");
        r.EnsureRootItem();
        r.AddPendingDirectory(kMiscFolderName, 0, kMiscFolderId, 5, 0, 0);
    }
    void Steps()
    {
        r.PurgePlacedPendingDirectories();
        r.SortPendingDirectories();
        ArrangeBasicFatDirectories(r, nullptr, false);
    }
};

TEST_F(Arrangement, ChainOfThreeIsPlacedInOneWalk)
{
    r.AddPendingDirectory("third", 0, 30, 20, 0, 0);
    r.AddPendingDirectory("second", 0, 20, 10, 0, 0);
    r.AddPendingDirectory("first", 0, 10, 0, 0, 0);
    Steps();
    auto d = Dump(r);
    EXPECT_EQ(d.count("Root/first/second/third"), 1u);
    EXPECT_EQ(d["Root/first/second/third"], std::make_pair(30u, 20u));
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous"), 1u);
    EXPECT_EQ(r.DirList().Count(), 0u);
}

TEST_F(Arrangement, OrphansAndCyclesEndUnderTheMiscellaneousFolder)
{
    r.AddPendingDirectory("orphan", 0, 40, 999, 0, 0);
    r.AddPendingDirectory("child", 0, 41, 40, 0, 0);
    // A and B name each other as parent; neither loops.
    r.AddPendingDirectory("A", 0, 50, 60, 0, 0);
    r.AddPendingDirectory("B", 0, 60, 50, 0, 0);
    // A folder that names itself as its parent.
    r.AddPendingDirectory("self", 0, 70, 70, 0, 0);
    Steps();
    auto d = Dump(r);
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/orphan/child"), 1u);
    EXPECT_EQ(d["Root/KZU_Miscellaneous/orphan"].second, kMiscFolderId);
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/B/A"), 1u);
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/self"), 1u);
    EXPECT_EQ(r.DirList().Count(), 0u);
}

TEST_F(Arrangement, FolderAtClusterFiveKeepsItsChildren)
{
    r.AddPendingDirectory("c", 0, 5, 0, 0, 0);
    r.AddPendingDirectory("d", 0, 6, 5, 0, 0);
    r.AddPendingDirectory("e", 0, 7, 5, 0, 0);
    Steps();
    auto d = Dump(r);
    EXPECT_EQ(d.count("Root/c/d"), 1u);
    EXPECT_EQ(d.count("Root/c/e"), 1u);
}

TEST_F(Arrangement, InterimPlacesKnownParentsOnly)
{
    r.AddPendingDirectory("child", 0, 21, 20, 0, 0);
    r.AddPendingDirectory("top", 0, 20, 0, 0, 0);
    r.AddPendingDirectory("lost", 0, 22, 999, 0, 0);
    ArrangeBasicFatDirectories(r, nullptr, true);
    auto d = Dump(r);
    EXPECT_EQ(d.count("Root/top"), 1u);
    EXPECT_EQ(d.count("Root/top/child"), 0u) << "its row came before its parent's";
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/lost"), 0u);
    // The final run places the rest exactly once.
    Steps();
    d = Dump(r);
    EXPECT_EQ(d.count("Root/top/child"), 1u);
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/lost"), 1u);
    EXPECT_EQ(r.FolderCount(), 4u);
}

TEST_F(Arrangement, EmptyNamesTakeTheRunningNumber)
{
    r.AddPendingDirectory("top", 0, 20, 0, 0, 0);
    { PendingDirectory row; row.self = 21; row.parent = 20; r.AddPendingRow(std::move(row)); }
    r.DirList().Row(r.DirList().Count() - 2).name.clear();   // the row added above, before the misc row
    Steps();
    auto d = Dump(r);
    bool found = false;
    for (auto& [path, ids] : d)
        found = found || (path.rfind("Root/top/DIR_", 0) == 0 && ids.first == 21);
    EXPECT_TRUE(found);
}

TEST(NtfsArrangement, RootRecordIsNeverAFolderAndTopLevelIsSorted)
{
    ScanResults r;
    r.SetFsName("NTFS");
    r.EnsureRootItem();
    r.InsertRecoveredFolder(r.Tree().RootItem(), kMiscFolderName, kMiscFolderId, 0, 0, 5, 0, 0, 0);
    r.AddPendingDirectory("zeta", 0, 64, 5, 0, 0);
    r.AddPendingDirectory("$Root", 0, 5, 5, 0, 0);
    r.AddPendingDirectory("alpha", 0, 65, 5, 0, 0);
    r.AddPendingDirectory("sub", 0, 66, 65, 0, 0);
    r.AddPendingDirectory("gone", 0, 67, 1234, 0, 0);
    r.SortPendingDirectories();
    ArrangeLostDirectories(r, true, nullptr, false);
    auto d = Dump(r);
    EXPECT_EQ(d.count("Root/alpha/sub"), 1u);
    EXPECT_EQ(d.count("Root/KZU_Miscellaneous/gone"), 1u);
    EXPECT_EQ(d.count("Root/$Root"), 0u);
    TreeModel& t = r.Tree();
    auto kids = t.Children(t.RootItem());
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(t.Text(kids[0]), "alpha");
    EXPECT_EQ(t.Text(kids[1]), "KZU_Miscellaneous");
    EXPECT_EQ(t.Text(kids[2]), "zeta");
}

// The store's folder index and its refiling keep exactly the order that
// sorting by folder (stable) when the scan ends, refiling, and sorting again
// gives (the scan log writes the store in that order).
TEST(FoundEntryStoreTest, IndexAndRefileMatchAStableSort)
{
    struct Case {
        const char* what;
        std::vector<std::uint64_t> parents;   // in the order found
        std::vector<std::uint64_t> lost;      // entries of these folders are refiled
    };
    // Many folders on both sides of the miscellaneous folder, most of them
    // lost on one side and few on the other, names too long to be kept
    // inside the string: the refiling's partitions take either part aside.
    auto mixed = [](unsigned seed, unsigned lostEvery) {
        Case c{"mixed", {}, {}};
        std::uint64_t x = seed;
        for (int i = 0; i < 300; ++i) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            const std::uint64_t folder = (x >> 33) % 40;
            c.parents.push_back(folder < 20 ? 100 + folder : 0x0FFFFFFF + folder - 19);
        }
        for (std::uint64_t f = 0; f < 40; ++f)
            if (f % lostEvery != 0)
                c.lost.push_back(f < 20 ? 100 + f : 0x0FFFFFFF + f - 19);
        return c;
    };
    const Case cases[] = {
        {"refiled below the target", {9, 3, 3, 0x0FFFFFFF, 7, 3, 9, 0x0FFFFFFF}, {3}},
        {"refiled above the target", {0x10000000, 5, 0x10000000, 5, 0x0FFFFFFF}, {0x10000000}},
        {"nothing refiled", {4, 2, 4}, {99}},
        {"folders with the top bit of 32", {0xFFFFFFF0, 7, 0x80000001, 7, 0xFFFFFFF0, 2}, {7}},
        {"empty store", {}, {3}},
        mixed(1, 7),    // most folders lost
        mixed(2, 1),    // none lost (every f % 1 == 0)
        {"few lost", mixed(3, 2).parents, {101, 0x0FFFFFFF + 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto isLost = [&](std::uint64_t parent) {
            return std::find(c.lost.begin(), c.lost.end(), parent) != c.lost.end();
        };
        FoundEntryStore store;
        std::vector<FoundEntry> expected;
        for (std::size_t i = 0; i < c.parents.size(); ++i) {
            FoundEntry e;
            e.name = "a found file with a long name number " + std::to_string(i);
            e.parentId = c.parents[i];
            store.push_back(e);
            expected.push_back(e);
        }
        store.SortByParent();
        const std::size_t moved =
            store.Refile([&](const FoundEntry& e) { return isLost(e.parentId); }, kMiscFolderId);
        // Sorted when the scan ended, refiled, sorted again.
        auto byParent = [](const FoundEntry& a, const FoundEntry& b) { return a.parentId < b.parentId; };
        std::stable_sort(expected.begin(), expected.end(), byParent);
        std::size_t lostCount = 0;
        for (FoundEntry& e : expected)
            if (isLost(e.parentId) && e.parentId != kMiscFolderId) {
                e.parentId = kMiscFolderId;
                ++lostCount;
            }
        std::stable_sort(expected.begin(), expected.end(), byParent);
        EXPECT_EQ(moved, lostCount);
        ASSERT_EQ(store.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(store[i].name, expected[i].name) << i;
            EXPECT_EQ(store[i].parentId, expected[i].parentId) << i;
        }
        // Every folder's run through the index, and none for a folder without files.
        std::map<std::uint64_t, std::vector<std::string>> byFolder;
        for (const FoundEntry& e : expected)
            byFolder[e.parentId].push_back(e.name);
        for (const auto& [folder, names] : byFolder) {
            auto [first, last] = store.Range(folder);
            ASSERT_EQ(last - first, names.size());
            EXPECT_EQ(store.CountOf(folder), names.size());
            for (std::size_t i = first; i < last; ++i)
                EXPECT_EQ(store[i].name, names[i - first]);
        }
        EXPECT_EQ(store.CountOf(123456), 0u);
        // An addition after the index undoes it; the next look-up sorts again.
        FoundEntry late;
        late.name = "late";
        late.parentId = 1;
        store.push_back(late);
        auto [first, last] = store.Range(1);
        ASSERT_EQ(last - first, 1u);
        EXPECT_EQ(store[first].name, "late");
    }
}

TEST(FoundItems, CommonChildFileSystem)
{
    TreeModel t;
    TreeNodeId disk = t.InsertChild(kNoTreeNode, "Disk");
    EXPECT_EQ(GetCommonChildFileSystem(t, disk), "");
    t.InsertChild(disk, "Partition - 1 ( FAT32 )");
    t.InsertChild(disk, "Partition - 2 ( FAT32 )");
    EXPECT_EQ(GetCommonChildFileSystem(t, disk), "FAT32");
    t.InsertChild(disk, "Partition - 3 ( NTFS )");
    EXPECT_EQ(GetCommonChildFileSystem(t, disk), "");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// The end-of-scan message of unreadable folder sectors: the count and the
// folders named; sectors where a folder may have begun apart; nothing when
// every folder sector was read.
TEST(UnreadableFolders, TheMessageCountsAndNamesThem)
{
    EXPECT_EQ(UnreadableFolderSectorsText({}), "");
    EXPECT_EQ(UnreadableFolderSectorsText({{"/DCIM", 0}}), "");
    EXPECT_EQ(UnreadableFolderSectorsText({{"/", 1}, {"/DCIM", 2}}),
              "3 sectors of folders could not be read; the files and folders they held are missing from the "
              "results:\n  / (1 sector)\n  /DCIM (2 sectors)");
    EXPECT_EQ(UnreadableFolderSectorsText({{"", 4}}), "4 sectors where folders may have begun could not be read.");
    EXPECT_EQ(UnreadableFolderSectorsText({{"/A", 1}, {"", 1}}),
              "1 sector of folders could not be read; the files and folders they held are missing from the "
              "results:\n  /A (1 sector)\n\n1 sector where folders may have begun could not be read.");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A Deep result of two FAT volumes whose cluster numbers collide: a folder
// is found, indexed and named by (file system, cluster), never by the
// cluster alone.
TEST(FoundItemsKeyed, TwoVolumesWithCollidingClustersStayApart)
{
    ScanResults r;
    r.SetFsName("FAT32");
    r.SetRecoveryMode(2);
    r.SetFileSystemCount(2);
    ASSERT_TRUE(r.FoldersKeyedByFileSystem());
    const TreeNodeId root = r.EnsureRootItem();
    const TreeNodeId parentA = r.InsertRecoveredFolder(root, "Parent", 7, 0, 0, 0, 0, 1000, 0);
    const TreeNodeId parentB = r.InsertRecoveredFolder(root, "Parent", 7, 0, 0, 0, 0, 5000, 0);
    ASSERT_NE(parentA, parentB);
    const TreeNodeId childA = r.InsertRecoveredFolder(parentA, "DIR_9", 9, 0, 0, 7, 0, 1000, 0);
    const TreeNodeId childB = r.InsertRecoveredFolder(parentB, "DIR_9", 9, 0, 0, 7, 0, 5000, 0);
    ASSERT_NE(childA, childB);

    EXPECT_TRUE(r.IsIndexedFolderCluster(9, 1000));
    EXPECT_TRUE(r.IsIndexedFolderCluster(9, 5000));
    EXPECT_FALSE(r.IsIndexedFolderCluster(9, 7777));
    EXPECT_FALSE(r.IsIndexedFolderCluster(11, 1000));
    EXPECT_TRUE(r.IsIndexedFolderCluster(9));
    EXPECT_EQ(r.FindFolderByParentSelf(7, 9, 0, 1000), r.FolderOfItem(childA));
    EXPECT_EQ(r.FindFolderByParentSelf(7, 9, 0, 5000), r.FolderOfItem(childB));
    EXPECT_EQ(r.FindFolderByParentSelf(7, 9, 0, 7777), nullptr);

    // The second volume's directory names its sub-folder at cluster 9: only
    // that volume's folder takes the name.
    auto device = std::make_shared<test::SparseDevice>(1 << 20);
    std::string sector(512, '\0');
    sector.replace(0, 11, "REALNAME   ");
    sector[11] = 0x10;
    sector[26] = 9;
    device->WriteSector(100, sector);
    FatVolume volume;
    volume.kind = FatKind::Fat32;
    volume.fs = FsKind::Fat32;
    volume.endSector = 2048;
    volume.endByte = 1 << 20;
    volume.sectorsPerCluster = 1;
    EXPECT_EQ(NameLostFoldersFromDirSector(r, *device, volume, 100, 7, parentB), 0);
    EXPECT_EQ(r.Tree().Text(childB), "REALNAME");
    EXPECT_EQ(r.Tree().Text(childA), "DIR_9");

    // One file system: the cluster alone, as in every other result.
    r.SetFileSystemCount(1);
    EXPECT_FALSE(r.FoldersKeyedByFileSystem());
    EXPECT_TRUE(r.IsIndexedFolderCluster(9, 7777));
    EXPECT_EQ(r.FindFolderByParentSelf(7, 9, 0, 7777), r.FolderOfItem(childA));
}

// The (file system, cluster) pairs are gathered at the first keyed question:
// they must cover the FAT folders inserted since the found stores were last
// emptied, before and after that question, and nothing else.
TEST(FoundItemsKeyed, KeyedClustersCoverTheFatFoldersSinceTheStoresWereEmptied)
{
    ScanResults r;
    r.SetRecoveryMode(2);
    r.SetFileSystemCount(2);
    r.SetFsName("NTFS");
    const TreeNodeId root = r.EnsureRootItem();
    r.InsertRecoveredFolder(root, "Ntfs", 20, 0, 0, 0, 0, 1000, 0);   // not a FAT folder
    r.SetFsName("FAT32");
    ASSERT_TRUE(r.FoldersKeyedByFileSystem());
    r.InsertRecoveredFolder(root, "Before", 9, 0, 0, 0, 0, 1000, 0);   // before any question

    struct Case {
        std::uint32_t cluster;
        std::uint64_t fsKey;
        bool indexed;
    };
    auto check = [&r](const char* when, std::initializer_list<Case> cases) {
        for (const Case& c : cases)
            EXPECT_EQ(r.IsIndexedFolderCluster(c.cluster, c.fsKey), c.indexed)
                << when << ": cluster " << c.cluster << " of " << c.fsKey;
    };
    check("first question", {{9, 1000, true}, {9, 5000, false}, {20, 1000, false}, {11, 5000, false}});
    r.InsertRecoveredFolder(root, "After", 11, 0, 0, 0, 0, 5000, 0);   // after it
    check("second folder", {{9, 1000, true}, {11, 5000, true}, {11, 1000, false}});

    r.ClearFoundStores();
    check("stores emptied", {{9, 1000, false}, {11, 5000, false}});
    r.InsertRecoveredFolder(root, "Again", 12, 0, 0, 0, 0, 1000, 0);
    check("folder after emptying", {{12, 1000, true}, {9, 1000, false}});

    r.ForgetResults();
    check("results forgotten", {{12, 1000, false}});
    r.InsertRecoveredFolder(r.EnsureRootItem(), "Fresh", 13, 0, 0, 0, 0, 5000, 0);
    check("fresh result", {{13, 5000, true}, {12, 1000, false}});
}

}  // namespace
}  // namespace torvane
