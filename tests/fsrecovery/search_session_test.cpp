// The Basic search session without a window, on each file system of the
// fixture disk (FAT32, NTFS, FAT16 and exFAT partitions made by the real
// tools): Scan Now, a click on folders to list their files, Save Data of
// everything, Stop in the middle of a sweep, Back. What the dialog shows
// through its widgets is checked here on the session's own stores.
#include "fsrecovery/search_session.h"

#include "results/file_list_columns.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/session_support.h"
#include "../e2e/sha256.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace torvane {
namespace {

namespace fs = std::filesystem;

// Where a manifest file is saved under `root`: at its path, or, for a deleted
// FAT file with only a short name, with the first letter its entry lost.
fs::path SavedPath(const fs::path& root, const test::ManifestEntry& e)
{
    const fs::path exact = root / fs::path(e.path).relative_path();
    if (fs::exists(exact) || !e.IsDeleted())
        return exact;
    const std::string leaf = exact.filename().string();
    return exact.parent_path() / ("_" + leaf.substr(1));
}

struct Case {
    int partition;
    const char* fs;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(info.param.fs) + "_p" + std::to_string(info.param.partition);
}

// The partition of the fixture disk as Scan Now describes it.
CurrentPartition FixturePartition(const Case& c, DevicePtr device = {})
{
    const test::Geometry g = test::LoadGeometry("mbr.img");
    const std::string p = "p" + std::to_string(c.partition) + ".";
    if (!device)
        device = OpenFileDevice(test::FixtureImage("mbr.img").string());
    CurrentPartition part;
    if (!device)
        return part;
    part.Descriptor.FsType = c.fs;
    part.Descriptor.StartSector = test::GeometryNumber(g, p + "start").value_or(0);
    part.Descriptor.EndSector = test::GeometryNumber(g, p + "end").value_or(0);
    part.Descriptor.EndByte = part.Descriptor.EndSector * 512;
    part.RecoveryMode = 1;
    part.Device = std::move(device);
    return part;
}

std::string PathOf(const TreeModel& tree, TreeNodeId node)
{
    std::string path;
    for (TreeNodeId n = node; n != kNoTreeNode && tree.Parent(n) != kNoTreeNode; n = tree.Parent(n))
        path = "/" + tree.Text(n) + path;
    return path;
}

struct Row {
    std::string type;
    std::uint64_t size = 0;
    bool deleted = false;
};

std::map<std::string, Row> ListedRows(SearchSession& session)
{
    std::map<std::string, Row> rows;
    ListRowModel& list = session.FileRows();
    for (int r = 0; r < list.RowCount(); ++r) {
        Row row;
        row.type = list.Cell(r, kListType);
        row.size = std::stoull("0" + list.Cell(r, kListSize));
        row.deleted = (list.RowData(r) & kRowDeletedBit) != 0;
        rows[list.Cell(r, kListName)] = row;
    }
    return rows;
}

class SearchSessionTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        manifest_ = test::ManifestOfPartition(test::LoadManifest("mbr.img"), GetParam().partition);
        if (manifest_.empty())
            GTEST_SKIP() << "fixture mbr.img not unpacked";
    }
    std::vector<test::ManifestEntry> manifest_;
};

TEST_P(SearchSessionTest, ScanListsEveryFolderAndItsFiles)
{
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(FixturePartition(GetParam())));
    ASSERT_FALSE(session.ScanJob()->GeometryFailed());
    EXPECT_EQ(session.ScanCount(), 1u);
    ASSERT_EQ(session.Volumes()->Size(), 1u);
    EXPECT_EQ(FsKindText(session.Volumes()->First()->Kind()), GetParam().fs);

    // Folders are opened one after the other, as a user clicks through the
    // tree (an opened FAT folder names its lost sub-folders).
    TreeModel& tree = session.Results().Tree();
    const TreeNodeId root = tree.RootItem();
    ASSERT_NE(root, kNoTreeNode);
    EXPECT_EQ(tree.Text(root), "Root");
    std::map<std::string, std::map<std::string, Row>> listed;
    ASSERT_TRUE(session.RunListingHere(root));
    listed[""] = ListedRows(session);
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        ASSERT_TRUE(session.RunListingHere(n));
        listed[PathOf(tree, n)] = ListedRows(session);
    }

    int files = 0, deleted = 0;
    for (const test::ManifestEntry& e : manifest_) {
        const auto slash = e.path.rfind('/');
        const std::string folder = e.path.substr(0, slash);
        const std::string name = e.path.substr(slash + 1);
        if (e.IsDir()) {
            EXPECT_TRUE(listed.count(e.path)) << "folder not in the tree: " << e.path;
        }
        auto in = listed.find(folder);
        if (in == listed.end())
            continue;   // reported above
        auto it = in->second.find(name);
        if (it == in->second.end() && e.IsDeleted())
            it = in->second.find("_" + name.substr(1));   // a deleted 8.3 name lost its first letter
        if (it == in->second.end()) {
            // A deleted file whose clusters were reused may be gone from an
            // exFAT or NTFS volume: only overwritten entries may be missing.
            EXPECT_EQ(e.state, "overwritten") << "not listed: " << e.path;
            continue;
        }
        if (e.IsDir()) {
            EXPECT_EQ(it->second.type, "FOLDER") << e.path;
        } else if (e.HasContent()) {
            EXPECT_EQ(it->second.size, e.size) << e.path;
            // FAT rows carry their entry's deleted mark (the list shows them red).
            if (IsFatKind(FsKindFromText(GetParam().fs))) {
                EXPECT_EQ(it->second.deleted, e.IsDeleted()) << e.path;
            }
            ++files;
            deleted += e.IsDeleted() ? 1 : 0;
        }
    }
    EXPECT_GT(files, 20);
    EXPECT_GE(deleted, 3);
}

TEST_P(SearchSessionTest, SaveDataWritesEveryRecoverableFileByteForByte)
{
    SearchSession session(1);
    test::TempDir dir;
    test::SavedEverything save = test::ScanAndSaveEverything(session, FixturePartition(GetParam()), dir.path());
    ASSERT_TRUE(save.ran);
    EXPECT_EQ(save.failed, 0u);
    int checked = 0;
    for (const test::ManifestEntry& e : manifest_) {
        if (!e.HasContent())
            continue;
        const fs::path saved = SavedPath(dir.path(), e);
        ASSERT_TRUE(fs::is_regular_file(saved)) << e.state << " file not saved: " << e.path;
        EXPECT_EQ(test::Sha256OfFile(saved.string()), e.sha256) << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

// Stop during the sweep: the scan ends between two blocks and still arranges
// what it found; the tree is whole and its folders list and save.
TEST_P(SearchSessionTest, StopMidSweepKeepsAConsistentTree)
{
    class Ends final : public SearchSessionObserver {
    public:
        void OnScanEnded() override
        {
            std::lock_guard<std::mutex> lk(m);
            ended = true;
            cv.notify_all();
        }
        bool Wait()
        {
            std::unique_lock<std::mutex> lk(m);
            return cv.wait_for(lk, std::chrono::seconds(60), [this] { return ended; });
        }
        std::mutex m;
        std::condition_variable cv;
        bool ended = false;
    } ends;

    DevicePtr disk = OpenFileDevice(test::FixtureImage("mbr.img").string());
    ASSERT_TRUE(disk);
    // Every read waits a little: the stop comes while the sweep is under way.
    auto slow = std::make_shared<test::SlowDevice>(disk, 25, 0);
    SearchSession session(1);
    session.SetObserver(&ends);
    session.SetInterimInterval(std::chrono::milliseconds(0));
    ASSERT_TRUE(session.StartScan(FixturePartition(GetParam(), slow)));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    ASSERT_TRUE(session.ScanRunning());
    session.StopScan();
    ASSERT_TRUE(ends.Wait());
    ASSERT_TRUE(session.FinishScan());
    slow->delayMs = 0;
    EXPECT_FALSE(session.ScanRunning());
    EXPECT_TRUE(session.ScanStoppedByUser());

    // Every folder record has its item and every item but "Root" its record.
    ScanResults& results = session.Results();
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    ASSERT_NE(root, kNoTreeNode);
    std::set<TreeNodeId> items;
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        ASSERT_NE(results.FolderOfItem(n), nullptr) << tree.Text(n);
        items.insert(n);
        EXPECT_TRUE(session.RunListingHere(n)) << tree.Text(n);
    }
    for (RecoveredFolder* f = results.FirstFolder(); f; f = f->next)
        EXPECT_TRUE(items.count(f->treeItem)) << f->name;
    test::TempDir dir;
    EXPECT_TRUE(test::SaveEverything(session, dir.path()).ran);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SearchSessionTest,
                         ::testing::Values(Case{1, "FAT32"}, Case{2, "NTFS"}, Case{5, "FAT16"}, Case{6, "exFAT"}),
                         CaseName);

// Back forgets everything: a second scan starts from nothing.
// A volume whose geometry cannot be found says so once (the dialog would
// otherwise show the same box twice, the second over the end of the search).
TEST(SearchSessionMessages, AnUnusableVolumeIsReportedOnce)
{
    class Messages final : public SearchSessionObserver {
    public:
        void OnMessage(const std::string& text) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            texts.push_back(text);
        }
        void OnScanEnded() override
        {
            std::lock_guard<std::mutex> lock(mutex);
            ended = true;
            cv.notify_all();
        }
        std::mutex mutex;
        std::condition_variable cv;
        std::vector<std::string> texts;
        bool ended = false;
    } messages;
    SearchSession session;
    session.SetObserver(&messages);
    CurrentPartition p;
    p.Device = MakeMemoryDevice("blank ntfs", std::string(2048 * 512, '\0'));
    p.Descriptor.FsType = "NTFS";
    p.Descriptor.EndSector = 2048;
    ASSERT_TRUE(session.StartScan(p));
    {
        std::unique_lock<std::mutex> lock(messages.mutex);
        ASSERT_TRUE(messages.cv.wait_for(lock, std::chrono::seconds(30), [&] { return messages.ended; }));
    }
    ASSERT_TRUE(session.FinishScan());
    session.SetObserver(nullptr);
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_EQ(messages.texts.front(), kUnableToCalculateText);
}

TEST(SearchSessionReset, BackForgetsTheResultAndItsState)
{
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(FixturePartition(Case{5, "FAT16"})));
    ASSERT_TRUE(session.HasResults());
    session.SetResultsLogged(true);
    session.Reset();
    EXPECT_EQ(session.ScanCount(), 0u);
    EXPECT_FALSE(session.HasResults());
    EXPECT_FALSE(session.ResultsLogged());
    EXPECT_TRUE(session.Volumes()->Empty());
    EXPECT_EQ(session.Results().Tree().NodeCount(), 0u);
    EXPECT_EQ(session.FileRows().RowCount(), 0);
}

// Two sessions scan two volumes at the same time without a word between
// them: nothing a scan or a save needs is program-wide.
TEST(SearchSessionReset, TwoSessionsSaveTheirOwnVolumes)
{
    SearchSession fat(1), ntfs(1);
    test::TempDir a, b;
    test::SavedEverything savedFat, savedNtfs;
    std::thread other([&] { savedNtfs = test::ScanAndSaveEverything(ntfs, FixturePartition(Case{2, "NTFS"}), b.path()); });
    savedFat = test::ScanAndSaveEverything(fat, FixturePartition(Case{1, "FAT32"}), a.path());
    other.join();
    ASSERT_TRUE(savedFat.ran);
    ASSERT_TRUE(savedNtfs.ran);
    EXPECT_EQ(savedFat.failed, 0u);
    EXPECT_EQ(savedNtfs.failed, 0u);
    for (const auto& [partition, dir] : {std::make_pair(1, a.path()), std::make_pair(2, b.path())}) {
        for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest("mbr.img"), partition)) {
            if (!e.HasContent())
                continue;
            const fs::path saved = SavedPath(dir, e);
            EXPECT_EQ(test::Sha256OfFile(saved.string()), e.sha256) << partition << e.path;
        }
    }
}

}  // namespace
}  // namespace torvane
