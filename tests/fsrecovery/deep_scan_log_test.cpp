// The scan log of a Deep Search through search sessions: a Deep scan of a
// fixture range, its log, the log loaded into a fresh Deep session: the same
// tree and records, the same listings, the same found file systems and one
// volume per file system again, the same log when saved again and the same
// files when everything is saved. Also the text forms of the Deep tables'
// rows, and rows a hostile log may hold; and the file rows listed for a
// folder of the second of two volumes in one range, saved from that volume.
#include "fsrecovery/deep_scan_log.h"
#include "fsrecovery/scan_log_test_support.h"
#include "fsrecovery/search_session.h"
#include "results/file_list_rows.h"
#include "results/save_job.h"
#include "results/scan_log_reader.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(DeepScanLogRows, FileSystemAndExtentRowsReadBackAsWritten)
{
    FatFileSystemRow r;
    r.sector = 2048;
    r.sectorsPerFat = 1009;
    r.sectorsPerCluster = 8;
    r.rootSectors = 0;
    r.rootStart = 2;
    r.reservedSectors = 32;
    r.cluster0Start = 0xFFFFFFFFFFFFFFF0ull;   // a wrapped value stays what it was
    r.firstFat = 2080;
    r.secondFat = 3089;
    r.totalSectors = 106496;
    r.partType = "FAT32";
    const ScanLogFileSystemRow texts = ScanLogTextsOfFileSystemRow(r);
    EXPECT_EQ(texts, (ScanLogFileSystemRow{"2048", "1009", "8", "0", "2", "32", "18446744073709551600", "2080", "3089",
                                           "106496", "FAT32", ""}));
    const FatFileSystemRow back = FileSystemRowOfScanLogTexts(texts);
    EXPECT_EQ(ScanLogTextsOfFileSystemRow(back), texts);
    EXPECT_EQ(back.cluster0Start, r.cluster0Start);
    r.endSector = 5;
    EXPECT_EQ(ScanLogTextsOfFileSystemRow(r)[11], "5");

    PartitionExtentRow e{"0", 2, 108544, 180224, 108544, 215040};
    const ScanLogExtentRow et = ScanLogTextsOfExtentRow(e);
    EXPECT_EQ(et, (ScanLogExtentRow{"0", "2", "108544", "180224", "108544", "215040"}));
    EXPECT_EQ(ScanLogTextsOfExtentRow(ExtentRowOfScanLogTexts(et)), et);

    // Garbage, blanks and values too wide for a 32-bit column.
    const FatFileSystemRow hostile = FileSystemRowOfScanLogTexts(
        ScanLogFileSystemRow{"x", "99999999999", "-1", "", " 7", "1e9", "99999999999999999999999", "", "", "", " FAT16 ",
                             "zz"});
    EXPECT_EQ(hostile.sector, 0u);
    EXPECT_EQ(hostile.sectorsPerFat, 0u);
    EXPECT_EQ(hostile.rootStart, 7u);
    EXPECT_EQ(hostile.reservedSectors, 1u);
    EXPECT_EQ(hostile.cluster0Start, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(hostile.partType, "FAT16");
    EXPECT_EQ(hostile.endSector, 0u);
}

TEST(DeepScanLogRows, RestoringTablesPublishesTheFoundFileSystemsAndBoundsTheRows)
{
    DeepTables tables;
    tables.dirs.push_back(DirTableRow{});
    DeepScanLogTables log(tables);
    std::vector<ScanLogFileSystemRow> rows(kMaxDeepLogFileSystems + 3,
                                           ScanLogFileSystemRow{"63", "1", "4", "32", "67", "1", "35", "64", "65",
                                                                "20063", "FAT16", ""});
    rows[1][6] = "1000";
    log.RestoreTables(rows, {ScanLogExtentRow{"0", "1", "63", "20063", "63", "20480"}});
    EXPECT_TRUE(tables.dirs.empty());
    ASSERT_EQ(tables.fileSystems.size(), kMaxDeepLogFileSystems);
    EXPECT_EQ(tables.fileSystems[1].cluster0Start, 1000u);
    ASSERT_EQ(tables.extents.size(), 1u);
    EXPECT_EQ(tables.extents[0].driveEndSector, 20480u);
    const std::vector<DeepFoundFileSystem> found = tables.FoundFileSystems();
    ASSERT_EQ(found.size(), kMaxDeepLogFileSystems);
    EXPECT_EQ(found[0].kind, "FAT16");
    EXPECT_EQ(found[0].key, 35u);
    EXPECT_EQ(found[0].bootSector, 63u);
    EXPECT_EQ(found[0].endSector, 20063u);
}

struct DeepLogCase {
    const char* name;
    const char* image;
    int partition;       // 0: the whole disk
    const char* fs;
    std::vector<std::uint64_t> zeroedTables;   // partition-table sectors whose four entries are zeroed first
    std::size_t volumes;
};

void PrintTo(const DeepLogCase& c, std::ostream* os) { *os << c.name; }

class DeepScanLogRoundTrip : public ::testing::TestWithParam<DeepLogCase> {
protected:
    test::ScopedTestRegistry registry_;
};

TEST_P(DeepScanLogRoundTrip, ALoadedDeepLogGivesTheScannedResultBack)
{
    const DeepLogCase c = GetParam();
    if (!fs::exists(test::FixtureImage(c.image)))
        GTEST_SKIP() << "fixture not unpacked";
    test::TempDir dir;
    fs::path image = test::FixtureImage(c.image);
    if (!c.zeroedTables.empty()) {
        const fs::path copy = dir.path() / c.image;
        fs::copy_file(image, copy);
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(64, '\0');
        for (std::uint64_t s : c.zeroedTables) {
            f.seekp(static_cast<std::streamoff>(s * 512 + 446));
            f.write(zeros.data(), 64);
        }
        image = copy;
    }
    const int disk = DeviceRegistry::Instance().AddImage(image.string(), false);
    ASSERT_GE(disk, 0);
    std::optional<CurrentPartition> p = test::FixtureDiskPartition(test::LoggedFixture{c.image, c.partition, c.fs}, disk);
    ASSERT_TRUE(p);
    p->Descriptor.ModeText = "Deep Search";
    p->RecoveryMode = 2;

    SearchSession scanned(2);
    ASSERT_TRUE(scanned.RunDeepScanHere(*p));
    ASSERT_EQ(scanned.Volumes()->Size(), c.volumes);
    ScanLogSaveRequest save;
    save.path = dir.path() / "deep.VQL";
    save.source = test::FixtureFacts(scanned.Partition());
    ASSERT_TRUE(scanned.RunSaveLogHere(save));
    const ScanLogReadResult read = ReadScanLogFile(save.path, ScanLogReaderKind::Deep);
    ASSERT_TRUE(read.loaded());
    EXPECT_EQ(read.document.header.mode, kScanLogDeepMode);
    EXPECT_EQ(read.document.fileSystemRows.size(), scanned.Tables().fileSystems.size());

    SearchSession loaded(2);
    ScanLogLoadRequest load;
    load.path = save.path;
    ASSERT_TRUE(loaded.RunLoadLogHere(load));
    ASSERT_EQ(loaded.LoadLogJob()->Outcome(), ScanLogLoadOutcome::Loaded) << loaded.LoadLogJob()->Message();

    // The volumes, by key and kind, and the found file systems.
    const auto a = scanned.Volumes()->All();
    const auto b = loaded.Volumes()->All();
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i]->Key(), a[i]->Key());
        EXPECT_EQ(b[i]->Kind(), a[i]->Kind());
        EXPECT_EQ(b[i]->Partition().Descriptor.StartSector, a[i]->Partition().Descriptor.StartSector);
    }
    const auto foundA = scanned.FoundFileSystems();
    const auto foundB = loaded.FoundFileSystems();
    ASSERT_EQ(foundB.size(), foundA.size());
    for (std::size_t i = 0; i < foundA.size(); ++i) {
        EXPECT_EQ(foundB[i].kind, foundA[i].kind);
        EXPECT_EQ(foundB[i].key, foundA[i].key);
        EXPECT_EQ(foundB[i].bootSector, foundA[i].bootSector);
    }

    // The tree and its records, the log written again, the listings.
    const std::vector<std::string> tree = test::DescribeTree(scanned.Results());
    EXPECT_GT(tree.size(), 2u);
    EXPECT_EQ(test::DescribeTree(loaded.Results()), tree);
    // The counts the dialog shows ("Folder Entries", "File Entries").
    EXPECT_EQ(loaded.Results().FoundFolderCount.load(), scanned.Results().FoundFolderCount.load());
    EXPECT_EQ(loaded.Results().FoundFileCount.load(), scanned.Results().FoundFileCount.load());
    // Saved again at once (a listing stores the file counts it met), the
    // loaded result gives the same log.
    ScanLogSaveRequest again;
    again.path = dir.path() / "again.VQL";
    again.source = test::FixtureFacts(loaded.Partition());
    ASSERT_TRUE(loaded.RunSaveLogHere(again));
    const std::vector<std::uint8_t> first = FileBytes(save.path), second = FileBytes(again.path);
    std::size_t differ = 0;
    while (differ < first.size() && differ < second.size() && first[differ] == second[differ])
        ++differ;
    std::string around;
    for (std::size_t i = differ > 24 ? differ - 24 : 0; i < differ + 24 && i < first.size() && i < second.size(); ++i)
        around += std::to_string(first[i]) + "/" + std::to_string(second[i]) + " ";
    EXPECT_TRUE(first == second) << "the logs differ from byte " << differ << " on (sizes " << first.size() << ", "
                                 << second.size() << "): " << around;
    EXPECT_EQ(test::DescribeListings(loaded), test::DescribeListings(scanned));

    // A save of everything.
    test::SavedEverything sa = test::SaveEverything(scanned, dir.path() / "scanned");
    test::SavedEverything sb = test::SaveEverything(loaded, dir.path() / "loaded");
    ASSERT_TRUE(sa.ran);
    ASSERT_TRUE(sb.ran);
    const auto files = test::HashFolder(dir.path() / "scanned");
    EXPECT_GT(files.size(), 3u);
    EXPECT_EQ(test::HashFolder(dir.path() / "loaded"), files);
    EXPECT_EQ(sb.written, sa.written);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DeepScanLogRoundTrip,
                         ::testing::Values(DeepLogCase{"fat32_p1", "mbr.img", 1, "FAT32", {}, 1},
                                           DeepLogCase{"ntfs_p2", "mbr.img", 2, "NTFS", {}, 1},
                                           DeepLogCase{"fat16_p5", "mbr.img", 5, "FAT16", {}, 1},
                                           DeepLogCase{"exfat_p6", "mbr.img", 6, "exFAT", {}, 1},
                                           DeepLogCase{"two_fat_volumes", "mbr.img", 0, "FAT32",
                                                       {0, 108544, 180224}, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two FAT volumes in one range (the disk's partition tables zeroed): the
// file rows listed for a folder of either volume save from that volume, as
// the same folder saved from the tree does; the rows say which volume.
TEST(DeepTwoVolumes, ListedFileRowsSaveFromTheirOwnVolume)
{
    if (!fs::exists(test::FixtureImage("mbr.img")))
        GTEST_SKIP() << "fixture not unpacked";
    test::TempDir dir;
    const fs::path image = dir.path() / "mbr.img";
    fs::copy_file(test::FixtureImage("mbr.img"), image);
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        const std::string zeros(64, '\0');
        for (std::uint64_t s : {0ull, 108544ull, 180224ull}) {
            f.seekp(static_cast<std::streamoff>(s * 512 + 446));
            f.write(zeros.data(), 64);
        }
    }
    DevicePtr device = OpenFileDevice(image.string());
    ASSERT_TRUE(device);
    CurrentPartition p;
    p.Descriptor.FsType = "FAT32";
    p.Descriptor.EndSector = device->SizeBytes() / kSectorSize;
    p.Descriptor.EndByte = device->SizeBytes();
    p.DevicePath = device->Path();
    p.Device = device;
    p.RecoveryMode = 2;
    SearchSession session(2);
    ASSERT_TRUE(session.RunDeepScanHere(p));
    const auto volumes = session.Volumes()->All();
    ASSERT_EQ(volumes.size(), 2u);

    // A top-level folder of each volume that holds files.
    int checked = 0;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        TreeNodeId folder = kNoTreeNode;
        std::vector<SaveRow> rows;
        const TreeModel& tree = session.Results().Tree();
        for (TreeNodeId child : tree.Children(tree.RootItem())) {
            const RecoveredFolder* rec = session.Results().FolderOfItem(child);
            if (!rec || rec->fsKey != volumes[v]->Key())
                continue;
            ASSERT_TRUE(session.RunListingHere(child));
            rows.clear();
            for (int r = 0; r < session.FileRows().RowCount(); ++r) {
                const SaveRow row = SaveRowOfListRow(session.FileRows(), r, true);
                if (!row.isFolder && row.size > 0)
                    rows.push_back(row);
            }
            if (!rows.empty()) {
                folder = child;
                break;
            }
        }
        ASSERT_NE(folder, kNoTreeNode) << "volume " << v + 1;
        for (const SaveRow& row : rows)
            EXPECT_EQ(row.volumeRow, v + 1) << row.name;

        // The rows, and the folder ticked in the tree, saved.
        const fs::path byRows = dir.path() / ("rows" + std::to_string(v));
        SaveRequest request = session.ListSaveRequest(rows);
        request.destination = byRows.string();
        SaveJob listSave(request);
        ASSERT_TRUE(listSave.RunHere());
        TreeModel& ticks = session.Results().Tree();
        ticks.SetSubtreeCheck(ticks.RootItem(), CheckState::Unchecked);
        ticks.SetSubtreeCheck(folder, CheckState::Checked);
        ticks.SetCheck(ticks.RootItem(), CheckState::Partial);
        const fs::path byTree = dir.path() / ("tree" + std::to_string(v));
        SaveRequest treeRequest = session.TreeSaveRequest();
        treeRequest.destination = byTree.string();
        SaveJob treeSave(treeRequest);
        ASSERT_TRUE(treeSave.RunHere());
        const auto fromRows = test::HashFolder(byRows);
        // The one folder the tree save made (its name may carry a suffix
        // that tells it from the other volume's folder of the same name).
        fs::path saved;
        for (const auto& entry : fs::directory_iterator(byTree))
            if (entry.is_directory())
                saved = entry.path();
        ASSERT_FALSE(saved.empty());
        const auto fromTree = test::HashFolder(saved);
        ASSERT_FALSE(fromRows.empty());
        for (const auto& [path, sha] : fromRows) {
            auto it = fromTree.find(path);
            ASSERT_NE(it, fromTree.end()) << path;
            EXPECT_EQ(sha, it->second) << "volume " << v + 1 << ": " << path;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 2);
}

}  // namespace
}  // namespace torvane
