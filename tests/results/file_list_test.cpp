// The results file list: type and time texts, and the listing of every
// folder of a scanned fixture volume compared with what was written on it.
#include "fsrecovery/basic_scan.h"
#include "fsrecovery/fat/fat_folder_listing.h"
#include "results/file_list_population.h"
#include "results/file_type_texts.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace torvane {
namespace {

TEST(FileTypeText, VocabularyAndFallback)
{
    const struct {
        const char* name;
        const char* type;
    } cases[] = {
        {"a.docx", "Microsoft Word File"}, {"a.DocX", "Microsoft Word File"}, {"a.DOCX", "Microsoft Word File"},
        {"index.html", "Web file"},        {"run.ws", "Scripting File"},      {"noext", "File"},
        {"x.tar.gz", "Winzip File"},       {"IMG_0001.JPG", "Image File"},    {"a.abc", "ABC File"},
        {"a.xml", "XML Document"},         {"notes.txt", "Text file"},        {"a.c", "C++ file"},
        {"a.contact", "Contact File"},     {"size-0.bin", "BIN File"},        {"my dir.x/y", "File"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetFileTypeTextOfName(c.name), c.type) << c.name;
    EXPECT_EQ(GetFileTypeText("  .pdf ", "a.pdf"), "PDF file");
    EXPECT_EQ(GetFileTypeText("", "a"), "File");
}

TEST(FileTime, NtfsTimeStampTexts)
{
    // 5 January 2015 08:03:09 UTC = Unix 1420444989.
    const std::uint64_t ft = (1420444989ull + 11644473600ull) * 10000000ull + 1234567;
    std::string date, time;
    EXPECT_EQ(FormatFileTime(ft, &date, &time), "05-JAN-2015");
    EXPECT_EQ(date, "05-JAN-2015");
    EXPECT_EQ(time, "08:03:09");
    // 0 gives the local date and time of "now", the date upper-cased.
    std::tm tmv{};
    tmv.tm_year = 126;
    tmv.tm_mon = 11;
    tmv.tm_mday = 9;
    tmv.tm_hour = 7;
    tmv.tm_min = 5;
    tmv.tm_sec = 3;
    tmv.tm_isdst = -1;
    const std::time_t now = std::mktime(&tmv);
    FormatFileTime(0, &date, &time, now);
    EXPECT_EQ(date, "09-DEC-2026");
    EXPECT_EQ(time, "07:05:03");
    // Out of the converter's range: a fixed text of the same shape.
    FormatFileTime(~0ull, &date, &time);
    EXPECT_EQ(date.size(), 11u);
    EXPECT_EQ(time.size(), 8u);
}

struct ListedRow {
    std::string type;
    std::uint64_t size = 0;
    bool deleted = false;
};

class FixtureListing : public ::testing::Test {
protected:
    void Scan(const std::string& image)
    {
        std::string error;
        DevicePtr device = OpenFileDevice(test::FixtureImage(image).string(), &error);
        ASSERT_NE(device, nullptr) << error;
        CurrentPartition p;
        p.Descriptor.FsType = "FAT32";
        p.Descriptor.EndSector = device->SizeBytes() / 512;
        p.Descriptor.EndByte = device->SizeBytes();
        p.RecoveryMode = 1;
        p.Device = device;
        BasicScanJob job(results, p);
        job.SetInterimInterval(std::chrono::milliseconds(0));
        ASSERT_TRUE(job.RunHere());
        partition = job.Partition();
        auto set = std::make_shared<VolumeSet>();
        set->Add(job.Volume());
        volumes = set;
        SetupBasicResultColumns(list);
    }

    // Lists `item` the way a click on it does; rows by name.
    std::map<std::string, ListedRow> List(TreeNodeId item, FileListPopulationJob** jobOut = nullptr)
    {
        FileListRequest req;
        req.item = item;
        FileListPopulationJob job(results, list, state, volumes, req);
        EXPECT_TRUE(job.RunHere());
        std::map<std::string, ListedRow> rows;
        for (int r = 0; r < list.RowCount(); ++r) {
            ListedRow row;
            row.type = list.Cell(r, kListType);
            row.size = std::stoull(list.Cell(r, kListSize));
            row.deleted = (list.RowData(r) & kRowDeletedBit) != 0;
            EXPECT_EQ(row.deleted, list.RowColor(r).has_value()) << list.Cell(r, kListName);
            rows[list.Cell(r, kListName)] = row;
        }
        lastFiles = job.ListedFileCount();
        lastFolders = job.ListedFolderCount();
        (void)jobOut;
        return rows;
    }

    ScanResults results;
    ListRowModel list;
    FileListState state;
    CurrentPartition partition;
    std::shared_ptr<const VolumeSet> volumes;
    std::uint64_t lastFiles = 0, lastFolders = 0;
};

TEST_F(FixtureListing, EveryFolderListsItsFilesAndSubfolders)
{
    Scan("fat32.img");
    const auto manifest = test::LoadManifest("fat32.img");
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    ASSERT_NE(root, kNoTreeNode);

    // Open the root first, then every folder in tree order (as a person clicking through).
    std::map<std::string, TreeNodeId> folders{{"", root}};
    std::vector<TreeNodeId> order{root};
    for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root))
        order.push_back(n);
    std::map<std::string, std::map<std::string, ListedRow>> listed;
    for (TreeNodeId n : order) {
        auto rows = List(n);
        const std::string path = n == root ? "" : "/" + GetTreeItemPath(tree, n, "/");
        folders[path] = n;
        listed[path] = rows;
    }
    int checkedFiles = 0, checkedDeleted = 0;
    for (const auto& e : manifest) {
        const auto slash = e.path.rfind('/');
        const std::string parent = e.path.substr(0, slash);
        const std::string name = e.path.substr(slash + 1);
        ASSERT_TRUE(listed.count(parent)) << "folder not in the tree: " << parent;
        const auto& rows = listed[parent];
        auto it = rows.find(name);
        // A deleted entry with no long name has lost its first character.
        if (it == rows.end() && e.IsDeleted())
            it = rows.find("_" + name.substr(1));
        if (it == rows.end()) { std::string have; for (auto& [k, v] : rows) have += k + "|"; ADD_FAILURE() << e.path << " not in: " << have; continue; }
        if (e.IsDir()) {
            EXPECT_EQ(it->second.type, "FOLDER") << e.path;
        } else {
            EXPECT_NE(it->second.type, "FOLDER") << e.path;
            EXPECT_EQ(it->second.size, e.size) << e.path;
            ++checkedFiles;
        }
        EXPECT_EQ(it->second.deleted, e.IsDeleted()) << e.path;
        checkedDeleted += e.IsDeleted() ? 1 : 0;
    }
    EXPECT_GT(checkedFiles, 20);
    EXPECT_GT(checkedDeleted, 5);
    EXPECT_TRUE(state.FilesFoundFlag);

    // The root's folder rows carry the item they open and "FOLDER".
    List(root);
    const int docs = list.FindRow(kListName, "Documents");
    ASSERT_GE(docs, 0);
    EXPECT_EQ(list.Cell(docs, kListTreeItem), std::to_string(folders["/Documents"]));
    EXPECT_EQ(list.Cell(docs, kListSize), "0");
    EXPECT_GT(lastFolders, 5u);
}

TEST_F(FixtureListing, SelectingTheRootTwiceListsOnce)
{
    Scan("fat32.img");
    const TreeNodeId root = results.Tree().RootItem();
    EXPECT_TRUE(BeginFolderSelection(state, results.Tree(), root));
    EXPECT_FALSE(BeginFolderSelection(state, results.Tree(), root));
    const TreeNodeId child = results.Tree().FirstChild(root);
    EXPECT_TRUE(BeginFolderSelection(state, results.Tree(), child));
    EXPECT_TRUE(BeginFolderSelection(state, results.Tree(), child));
}

TEST_F(FixtureListing, CancelKeepsTheRowsListedSoFar)
{
    Scan("fat32.img");
    const TreeNodeId sizes = results.Tree().FindChild(results.Tree().RootItem(), "Sizes");
    ASSERT_NE(sizes, kNoTreeNode);
    FatListingContext ctx;
    ctx.device = partition.Device.get();
    ctx.volume = FatVolumeFromPartition(partition);
    int calls = 0;
    ctx.abort = [&] { return list.RowCount() >= 3 && ++calls > 0; };
    list.Clear();
    const std::uint64_t n = ListFatFolderFiles(list, 0, results.FolderOfItem(sizes)->selfId, ctx);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(list.RowCount(), 3);
    // Uncancelled: all six files of the folder.
    list.Clear();
    ctx.abort = nullptr;
    EXPECT_EQ(ListFatFolderFiles(list, 0, results.FolderOfItem(sizes)->selfId, ctx), 6u);
}

TEST(FolderRow, MiscellaneousFolderShowsToday)
{
    RecoveredFolder misc;
    misc.name = kMiscFolderName;
    misc.selfId = kMiscFolderId;
    std::tm tmv{};
    tmv.tm_year = 126;
    tmv.tm_mon = 0;
    tmv.tm_mday = 2;
    tmv.tm_hour = 12;
    tmv.tm_isdst = -1;
    auto cells = FolderRowCells(misc, 7, FsKind::Fat32, kBasicListColumnCount, std::mktime(&tmv));
    ASSERT_EQ(cells.size(), static_cast<std::size_t>(kBasicListColumnCount));
    EXPECT_EQ(cells[kListDate], "02-JAN-2026");
    EXPECT_EQ(cells[kListType], "FOLDER");
    EXPECT_EQ(cells[kListSelfId], "268435455");
    EXPECT_EQ(cells[kListTreeItem], "7");
    RecoveredFolder f;
    f.name = "Docs";
    f.date = (44u << 9) | (3u << 5) | 14u;   // 14-MAR-2024
    f.time = (10u << 11) | (30u << 5) | 5u;  // 10:30:10
    cells = FolderRowCells(f, 3, FsKind::Fat32, kBasicListColumnCount, std::time(nullptr));
    EXPECT_EQ(cells[kListDate], "14-MAR-2024");
    EXPECT_EQ(cells[kListTime], "10:30:10");
}

}  // namespace
}  // namespace torvane
