// An exFAT card as `mkfs.exfat` formats every card of 32 GiB and more: the
// root at cluster 4, so the first folder (/DCIM) at cluster 5, the number
// that once stood for the root. Every folder stays at its place, every file
// is saved once, under its own folder, and scan logs of either form load.
#include "exfat_test_support.h"

#include "fsrecovery/scan_log_session.h"
#include "fsrecovery/search_session.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> ManifestFiles()
{
    std::map<std::string, std::string> out;
    for (const auto& m : test::LoadManifest("exfat-card.head"))
        if (m.HasContent())
            out[m.path.substr(1)] = m.sha256;
    return out;
}

// Every folder of the tree as a path below "Root", with its folder id.
std::set<std::string> FolderPaths(ScanResults& results)
{
    std::set<std::string> out;
    auto lock = results.Lock();
    const TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
        std::string path;
        for (TreeNodeId p = n; p != root; p = tree.Parent(p))
            path = "/" + tree.Text(p) + path;
        const RecoveredFolder* f = results.FolderOfItem(n);
        out.insert(path + " " + std::to_string(f ? f->selfId : 0));
    }
    return out;
}

class ExfatCardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_ = test::OpenExfatCard();
        if (!device_)
            GTEST_SKIP() << "fixture not unpacked";
    }
    DevicePtr device_;
};

TEST_F(ExfatCardTest, AFolderAtClusterFiveIsAnOrdinaryFolder)
{
    SearchSession session(1);
    test::TempDir out;
    test::SavedEverything saved = test::ScanAndSaveEverything(session, test::WholeVolume(device_), out.path());
    ASSERT_TRUE(saved.ran);
    EXPECT_EQ(FolderPaths(session.Results()),
              (std::set<std::string>{"/DCIM 5", "/DCIM/100MEDIA 6", "/KZU_Miscellaneous " +
                                                                       std::to_string(kMiscFolderId)}));
    // Each file once, under its own folder, byte for byte.
    EXPECT_EQ(test::HashFolder(out.path()), ([] {
                  auto files = ManifestFiles();
                  files["DCIM/"] = "folder";
                  files["DCIM/100MEDIA/"] = "folder";
                  return files;
              }()));
    EXPECT_EQ(saved.written, ManifestFiles().size());
    EXPECT_TRUE(saved.report->AllWritten());
    // The root's files are filed under the root's cluster; the volume lists
    // them from there.
    EXPECT_EQ(session.Volumes()->First()->RootFolderId(), 4u);
    EXPECT_EQ(session.Partition().Geometry.RootStart, 4u);
}

// The log of the card loads back to the same folders and files; a log that
// filed the root's files under 5 (as older versions wrote them) loads with
// them in the root only when no folder of the log sits at cluster 5.
TEST_F(ExfatCardTest, ScanLogsOfEitherFormLoad)
{
    SearchSession session(1);
    ASSERT_TRUE(session.RunScanHere(test::WholeVolume(device_)));
    ScanLogDocument doc = MakeScanLogDocument(session.Results(), session.Partition(), 1, ScanLogSourceFacts{});
    std::multiset<std::string> filed;
    for (const FoundEntry& e : std::as_const(session.Results()).FoundEntries())
        filed.insert(std::to_string(e.parentId) + " " + e.name);
    EXPECT_EQ(filed, (std::multiset<std::string>{"4 top.txt", "5 readme.txt", "6 IMG1.JPG", "6 IMG2.BIN"}));

    auto load = [](const ScanLogDocument& d) {
        ScanResults results;
        InsertScanLogResults(d, results, 1);
        std::multiset<std::string> out;
        for (const FoundEntry& e : std::as_const(results).FoundEntries())
            out.insert(std::to_string(e.parentId) + " " + e.name);
        return out;
    };
    EXPECT_EQ(load(doc), filed);
    // Root files under 0 load into the root too.
    ScanLogDocument zero = doc;
    for (ScanLogFileRow& row : zero.files)
        if (row[1] == "top.txt")
            row = MakeScanLogFileRow(0, ScanLogFileRowOwnId(row), row[1], ScanLogFileRowSize(row), row[3], row[4],
                                     row[6]);
    EXPECT_EQ(load(zero), filed);
}

}  // namespace
}  // namespace torvane
