// Stopping the NTFS Deep Search on a slowed device: a stop during the sweep,
// or while the incremental passes grow the tree, ends the sweep before the
// next chunk and the steps still build the whole tree of what was found; a
// session closed while its scan runs waits for its worker, which then holds
// nothing of the device.
#include "fsrecovery/search_session.h"
#include "platform/device.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/session_support.h"
#include "../../e2e/sha256.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace torvane {
namespace {

namespace fs = std::filesystem;

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
        return cv.wait_for(lk, std::chrono::seconds(120), [this] { return ended; });
    }
    std::mutex m;
    std::condition_variable cv;
    bool ended = false;
};

// The whole sample disk as the range, swept for NTFS: its NTFS partition
// (sector 75776) comes after 74 chunks of other partitions.
CurrentPartition WholeDisk(DevicePtr device)
{
    CurrentPartition p;
    p.Device = device;
    p.DevicePath = device->Path();
    p.Descriptor.FsType = "NTFS";
    p.Descriptor.StartSector = 0;
    p.Descriptor.EndSector = device->SizeBytes() / 512;
    p.Descriptor.EndByte = device->SizeBytes();
    p.RecoveryMode = 2;
    return p;
}

bool WaitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 12000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Every folder record has its item and every item but "Root" its record;
// returns the folder names.
std::set<std::string> CheckTree(ScanResults& results)
{
    std::set<std::string> names;
    auto lk = results.Lock();
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    EXPECT_NE(root, kNoTreeNode);
    std::set<TreeNodeId> items;
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        EXPECT_NE(results.FolderOfItem(n), nullptr) << tree.Text(n);
        items.insert(n);
        names.insert(tree.Text(n));
    }
    for (RecoveredFolder* f = results.FirstFolder(); f; f = f->next)
        EXPECT_TRUE(items.count(f->treeItem)) << f->name;
    return names;
}

class DeepNtfsStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(test::FixtureImage("mbr.img")))
            GTEST_SKIP() << "fixture mbr.img not unpacked";
        disk_ = OpenFileDevice(test::FixtureImage("mbr.img").string());
        ASSERT_TRUE(disk_);
    }
    DevicePtr disk_;
};

TEST_F(DeepNtfsStop, DuringTheSweepKeepsWhatWasFoundAndSavesIt)
{
    auto slow = std::make_shared<test::SlowDevice>(disk_, 4, 0);
    Ends ends;
    SearchSession session(2);
    session.SetObserver(&ends);
    session.SetDeepPassInterval(std::chrono::milliseconds(0));
    ASSERT_TRUE(session.StartDeepScan(WholeDisk(slow)));
    // Past the NTFS volume's $MFT, well before the end of the disk.
    ASSERT_TRUE(WaitUntil([&] { return session.Results().CurrentScanSector.load() > 75776 + 2048; }));
    ASSERT_TRUE(session.ScanRunning());
    session.StopScan();
    ASSERT_TRUE(ends.Wait());
    ASSERT_TRUE(session.FinishScan());
    slow->delayMs = 0;
    EXPECT_FALSE(session.ScanRunning());
    EXPECT_TRUE(session.ScanStoppedByUser());
    EXPECT_LT(session.Results().CurrentScanSector.load(), slow->SizeBytes() / 512 - 4096);

    const std::set<std::string> folders = CheckTree(session.Results());
    for (const char* f : {"Documents", "Projekte", "Q3 Planung", "Alter Ordner", "Tiefer", "Komprimiert"})
        EXPECT_TRUE(folders.count(f)) << f;
    test::TempDir dir;
    ASSERT_TRUE(test::SaveEverything(session, dir.path()).ran);
    std::size_t checked = 0;
    for (const test::ManifestEntry& m : test::ManifestOfPartition(test::LoadManifest("mbr.img"), 2)) {
        if (m.IsDir() || m.IsDeleted())
            continue;
        const fs::path saved = dir.path() / fs::path(m.path).relative_path();
        ASSERT_TRUE(fs::is_regular_file(saved)) << m.path;
        EXPECT_EQ(test::Sha256OfFile(saved.string()), m.sha256) << m.path;
        ++checked;
    }
    EXPECT_GT(checked, 20u);
}

TEST_F(DeepNtfsStop, WhileThePassesGrowTheTreeTheEndIsWhole)
{
    auto slow = std::make_shared<test::SlowDevice>(disk_, 4, 0);
    Ends ends;
    SearchSession session(2);
    session.SetObserver(&ends);
    // A pass after every chunk: the tree grows while the sweep goes on.
    session.SetDeepPassInterval(std::chrono::milliseconds(1));
    ASSERT_TRUE(session.StartDeepScan(WholeDisk(slow)));
    ASSERT_TRUE(WaitUntil([&] {
        auto lk = session.Results().Lock();
        return session.Results().FolderCount() > 5;
    })) << "no folder reached the tree during the sweep";
    EXPECT_TRUE(session.ScanRunning());
    session.StopScan();
    ASSERT_TRUE(ends.Wait());
    ASSERT_TRUE(session.FinishScan());
    EXPECT_TRUE(session.ScanStoppedByUser());
    const std::set<std::string> folders = CheckTree(session.Results());
    EXPECT_TRUE(folders.count("Documents"));
    EXPECT_TRUE(folders.count("Abend"));
}

TEST_F(DeepNtfsStop, AClosedSessionLeavesNoWorkerBehind)
{
    std::atomic<bool> destroyed{false};
    auto gated = std::make_shared<test::GatedDevice>(disk_, &destroyed);
    std::weak_ptr<test::GatedDevice> watch = gated;
    {
        Ends ends;
        SearchSession session(2);
        session.SetObserver(&ends);
        session.SetDeepPassInterval(std::chrono::milliseconds(1));
        ASSERT_TRUE(session.StartDeepScan(WholeDisk(gated)));
        gated->WaitForReaders(1);  // a read of the sweep is in flight
        session.StopScan();
        gated->Release();
        gated.reset();
        // The session goes (the dialog closes) without FinishScan: its
        // destructor waits for the worker.
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(destroyed.load());
}

}  // namespace
}  // namespace torvane
