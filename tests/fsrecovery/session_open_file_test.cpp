// Opening a found file from a search session's file list, on each file
// system of the fixture disk: the copy in the temporary folder is the file
// byte for byte; opening it again opens the same copy; Back forgets the
// copies, and a copy shorter than the file is made again.
#include "fsrecovery/search_session.h"

#include "results/file_list_rows.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "../e2e/sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace torvane {
namespace {

namespace fs = std::filesystem;

struct Case {
    int partition;
    const char* fs;
};

CurrentPartition FixturePartition(const Case& c)
{
    const test::Geometry g = test::LoadGeometry("mbr.img");
    const std::string p = "p" + std::to_string(c.partition) + ".";
    CurrentPartition part;
    part.Descriptor.FsType = c.fs;
    part.Descriptor.StartSector = test::GeometryNumber(g, p + "start").value_or(0);
    part.Descriptor.EndSector = test::GeometryNumber(g, p + "end").value_or(0);
    part.Descriptor.EndByte = part.Descriptor.EndSector * 512;
    part.RecoveryMode = 1;
    part.Device = OpenFileDevice(test::FixtureImage("mbr.img").string());
    return part;
}

std::string PathOf(const TreeModel& tree, TreeNodeId node)
{
    std::string path;
    for (TreeNodeId n = node; n != kNoTreeNode && tree.Parent(n) != kNoTreeNode; n = tree.Parent(n))
        path = "/" + tree.Text(n) + path;
    return path;
}

class SessionOpenFile : public ::testing::TestWithParam<Case> {};

TEST_P(SessionOpenFile, FileRowsOpenAsByteIdenticalCopies)
{
    std::map<std::string, test::ManifestEntry> live;
    for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest("mbr.img"), GetParam().partition))
        if (e.state == "live" || e.state == "fragmented")
            live[e.path] = e;
    if (live.empty())
        GTEST_SKIP() << "fixture not unpacked";
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(FixturePartition(GetParam())));
    test::TempDir temp;
    const std::string folder = temp.path().string() + "/";

    // Every live file of every folder, as a double click on its row opens it.
    TreeModel& tree = session.Results().Tree();
    std::vector<TreeNodeId> folders;
    for (TreeNodeId n = tree.RootItem(); n != kNoTreeNode; n = tree.NextPreOrder(n, tree.RootItem()))
        folders.push_back(n);
    int opened = 0;
    std::set<std::string> paths;
    for (TreeNodeId item : folders) {
        ASSERT_TRUE(session.RunListingHere(item));
        const std::string where = PathOf(tree, item);
        ListRowModel& rows = session.FileRows();
        std::vector<SaveRow> files;
        for (int r = 0; r < rows.RowCount(); ++r) {
            if (!IsFileListRow(rows, r))
                continue;
            auto it = live.find(where + "/" + rows.Cell(r, 0));
            if (it != live.end() && it->second.HasContent())
                files.push_back(SaveRowOfListRow(rows, r, false));
        }
        for (const SaveRow& row : files) {
            const std::string manifestPath = where + "/" + row.name;
            ASSERT_TRUE(session.RunOpenFileHere(row, folder)) << manifestPath << ": " << session.OpenFileJob()->Message();
            const OpenFoundFileJob* job = session.OpenFileJob();
            EXPECT_TRUE(job->Copied());
            EXPECT_EQ(fs::path(job->Path()).parent_path(), temp.path());
            EXPECT_EQ(fs::path(job->Path()).filename().string().rfind("KZUC", 0), 0u);
            EXPECT_EQ(test::Sha256OfFile(job->Path()), live[manifestPath].sha256) << manifestPath;
            EXPECT_TRUE(paths.insert(job->Path()).second) << "each file its own copy";
            ++opened;
        }
    }
    EXPECT_GT(opened, 5);

    // A second open of a file opens its copy; one cut short is copied again.
    const std::string first = *paths.begin();
    std::vector<SaveRow> again;
    ASSERT_TRUE(session.RunListingHere(tree.RootItem()));
    for (TreeNodeId item : folders) {
        ASSERT_TRUE(session.RunListingHere(item));
        ListRowModel& rows = session.FileRows();
        for (int r = 0; r < rows.RowCount() && again.empty(); ++r)
            if (IsFileListRow(rows, r) && live.count(PathOf(tree, item) + "/" + rows.Cell(r, 0)) &&
                rows.Cell(r, 2) != "0")
                again.push_back(SaveRowOfListRow(rows, r, false));
        if (!again.empty())
            break;
    }
    ASSERT_FALSE(again.empty());
    ASSERT_TRUE(session.RunOpenFileHere(again[0], folder));
    const std::string copy = session.OpenFileJob()->Path();
    const std::string sha = test::Sha256OfFile(copy);
    ASSERT_TRUE(session.RunOpenFileHere(again[0], folder));
    EXPECT_FALSE(session.OpenFileJob()->Copied());
    EXPECT_EQ(session.OpenFileJob()->Path(), copy);
    fs::resize_file(copy, 0);
    ASSERT_TRUE(session.RunOpenFileHere(again[0], folder));
    EXPECT_TRUE(session.OpenFileJob()->Copied());
    EXPECT_EQ(session.OpenFileJob()->Path(), copy);
    EXPECT_EQ(test::Sha256OfFile(copy), sha);

    // A file that cannot be copied is not opened, and leaves nothing behind.
    SaveRow ghost = again[0];
    ghost.name = "ghost.bin";
    ghost.id = 0xFFFFFFFFFFull;
    ghost.size = 5000;
    EXPECT_FALSE(session.RunOpenFileHere(ghost, folder)) << GetParam().fs;
    EXPECT_FALSE(session.OpenFileJob()->Openable());
    EXPECT_FALSE(session.OpenFileJob()->Message().empty());
    EXPECT_FALSE(fs::exists(session.OpenFileJob()->Path()));

    // Back forgets the copies (they stay on disk until the program ends).
    EXPECT_GT(session.ExtractedFiles().Size(), 0u);
    session.Reset();
    EXPECT_EQ(session.ExtractedFiles().Size(), 0u);
    EXPECT_TRUE(fs::exists(copy));
    // And nothing opens without results.
    EXPECT_FALSE(session.RunOpenFileHere(again[0], folder));
}

// Stop during a slow copy: the copy so far is opened; the next open of the
// file copies it again, whole, under the same name.
TEST(SessionOpenFileStop, AStoppedCopyOpensAsFarAsItGotAndIsMadeAgainNextTime)
{
    CurrentPartition part = FixturePartition(Case{1, "FAT32"});
    if (!part.Device)
        GTEST_SKIP() << "fixture not unpacked";
    auto slow = std::make_shared<test::SlowDevice>(part.Device, 0, 4096);
    part.Device = slow;
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(part));
    TreeModel& tree = session.Results().Tree();
    const TreeNodeId large = tree.FindChild(tree.RootItem(), "Large");
    ASSERT_NE(large, kNoTreeNode);
    ASSERT_TRUE(session.RunListingHere(large));
    ListRowModel& rows = session.FileRows();
    SaveRow big;
    for (int r = 0; r < rows.RowCount(); ++r)
        if (rows.Cell(r, 0) == "big-pattern.bin")
            big = SaveRowOfListRow(rows, r, false);
    ASSERT_EQ(big.size, 2097152u);

    test::TempDir temp;
    const std::string folder = temp.path().string() + "/";
    slow->delayMs = 20;
    ASSERT_TRUE(session.StartOpenFile(big, folder));
    while (session.OpenFileJob()->Counters().fileBytesDone.load() == 0 && session.OpenFileRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session.StopOpenFile();
    ASSERT_TRUE(session.FinishOpenFile());
    slow->delayMs = 0;
    const std::string path = session.OpenFileJob()->Path();
    EXPECT_TRUE(session.OpenFileJob()->Openable());
    ASSERT_TRUE(fs::exists(path));
    EXPECT_LT(fs::file_size(path), big.size);

    ASSERT_TRUE(session.RunOpenFileHere(big, folder));
    EXPECT_TRUE(session.OpenFileJob()->Copied());
    EXPECT_EQ(session.OpenFileJob()->Path(), path);
    EXPECT_EQ(fs::file_size(path), big.size);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SessionOpenFile,
                         ::testing::Values(Case{1, "FAT32"}, Case{2, "NTFS"}, Case{5, "FAT16"}, Case{6, "exFAT"}),
                         [](const auto& info) { return std::string(info.param.fs) + "_p" + std::to_string(info.param.partition); });

}  // namespace
}  // namespace torvane
