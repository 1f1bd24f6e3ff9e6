// The NTFS file writer on the fixture volume: every file the Basic NTFS scan
// found is saved from its FoundEntry and comes out byte for byte; a record
// that cannot be read makes no file and is reported; Stop leaves an
// incomplete file that the report names.
#include "results/ntfs_file_writer.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "results/save_job.h"
#include "results/fat_folder_listing.h"
#include "results/ntfs_folder_rows.h"
#include "ntfs_test_records.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace torvane {
namespace {

std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class NtfsWriterFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto path = test::FixtureImage("ntfs.img");
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        ASSERT_TRUE(test::OpenFixtureVolume("ntfs.img", "NTFS", partition_));
        ASSERT_EQ(ReadVolumeParameters(partition_, *partition_.Device), 1);
        results_.SetFsName("NTFS");
        results_.SetRecoveryMode(1);
        RunBasicNtfsScan(results_, partition_);
        const NtfsVolume volume = NtfsVolumeOf(partition_);
        auto table = std::make_shared<MftRunTable>(
            BuildMftRunTable(volume, partition_.Geometry.MftStart, partition_.Geometry.MftMirrStart));
        context_ = NtfsSaveContextOf(partition_, table);
        for (const test::ManifestEntry& e : test::LoadManifest("ntfs.img"))
            if (e.HasContent())
                byName_[e.path.substr(e.path.rfind('/') + 1)] = e;
    }

    CurrentPartition partition_;
    ScanResults results_;
    NtfsSaveContext context_;
    std::map<std::string, test::ManifestEntry> byName_;  // names are unique on the fixture
    test::TempDir dir_;
};

TEST_F(NtfsWriterFixture, EveryFoundFileIsSavedByteForByte)
{
    SaveSession session;
    FoundEntryWriter writer = MakeNtfsEntryWriter(context_);
    int saved = 0;
    for (const FoundEntry& entry : std::as_const(results_).FoundEntries()) {
        auto it = byName_.find(entry.name);
        if (it == byName_.end())
            continue;
        const std::string target = (dir_.path() / (std::to_string(saved) + ".bin")).string();
        FileOutcome outcome = writer(session, *partition_.Device, entry, target, entry.name);
        EXPECT_EQ(outcome, FileOutcome::Written) << entry.name;
        EXPECT_EQ(test::Sha256Hex(ReadFile(target)), it->second.sha256) << entry.name;
        ++saved;
    }
    EXPECT_GE(saved, 30);
    EXPECT_EQ(session.Counters().filesWritten.load(), static_cast<std::uint64_t>(saved));
}

TEST_F(NtfsWriterFixture, UnreadableRecordAndStop)
{
    const FoundEntry* big = nullptr;
    for (const FoundEntry& entry : std::as_const(results_).FoundEntries())
        if (entry.name == "big-pattern.bin")
            big = &entry;
    ASSERT_TRUE(big);

    auto faulty = std::make_shared<test::FaultyDevice>(partition_.Device);
    faulty->FailSectors(big->ownId, 2);
    SaveSession session;
    const std::string target = (dir_.path() / "unreadable.bin").string();
    EXPECT_EQ(SaveFileByMftRecord(session, *faulty, context_, big->ownId, big->size, target, "unreadable.bin"),
              FileOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(target));

    SaveSession stopping;
    stopping.RequestStop();
    const std::string partial = (dir_.path() / "stopped.bin").string();
    EXPECT_EQ(SaveFileByMftRecord(stopping, *partition_.Device, context_, big->ownId, big->size, partial,
                                  "stopped.bin", false),
              FileOutcome::Incomplete);
    EXPECT_LT(std::filesystem::file_size(partial), big->size);
}

// The list hook: one row per file of the folder, in the list's columns.
TEST_F(NtfsWriterFixture, FolderRowsOfTheFileList)
{
    ListRowModel list;
    for (int c = 0; c < kBasicListColumnCount; ++c)
        list.InsertColumn(c, "c" + std::to_string(c));
    list.AppendRow({"Sub", "FOLDER"});  // a folder row stays in front
    std::uint64_t sizes = 0;
    for (std::size_t i = 0; i < results_.FolderCount(); ++i)
        if (results_.FolderAt(i)->name == "Sizes")
            sizes = results_.FolderAt(i)->selfId;
    ASSERT_NE(sizes, 0u);
    FoundEntryListing listing = MakeNtfsFolderListing(partition_.Device, context_);
    EXPECT_EQ(listing(results_, list, 1, sizes, {}), 6u);
    ASSERT_EQ(list.RowCount(), 7);
    std::map<std::string, std::vector<std::string>> rows;
    for (int r = 1; r < list.RowCount(); ++r)
        rows[list.Cell(r, kListName)] = list.RowCells(r);
    ASSERT_TRUE(rows.count("size-511.bin"));
    const auto& row = rows["size-511.bin"];
    EXPECT_EQ(row[kListSize], "511");
    EXPECT_EQ(row[kListDate].size(), 11u);  // "05-JAN-2015"
    EXPECT_EQ(row[kListTime].size(), 8u);   // "08:03:09"
    EXPECT_EQ(row[kListParentId], "0");
    // The own id is the FILE record's sector: the writer saves from it.
    SaveSession session;
    const std::string target = (dir_.path() / "511.bin").string();
    EXPECT_EQ(SaveFileByMftRecord(session, *partition_.Device, context_, std::stoull(row[kListSelfId]), 511, target,
                                  "511.bin"),
              FileOutcome::Written);
    EXPECT_EQ(test::Sha256Hex(ReadFile(target)), byName_["size-511.bin"].sha256);
}

// The whole road on the fixture volume: the Basic scan job with the NTFS
// branch, every folder of "Root" ticked, the save job with the NTFS writer
// registered: every file of the manifest with known content, deleted ones
// included, lands at its path byte for byte.
TEST(NtfsSaveRoad, BasicScanThenSaveEverything)
{
    const auto path = test::FixtureImage("ntfs.img");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "fixture ntfs.img not unpacked";
    CurrentPartition partition;
    ASSERT_TRUE(test::OpenFixtureVolume("ntfs.img", "NTFS", partition));
    partition.RecoveryMode = 1;

    ScanResults results;
    BasicScanBranches branches;
    branches.ntfs = BasicNtfsBranch;
    BasicScanJob scan(results, partition, nullptr, nullptr, branches);
    ASSERT_TRUE(scan.RunHere());
    const CurrentPartition& scanned = scan.Partition();
    auto table = std::make_shared<MftRunTable>(BuildMftRunTable(
        NtfsVolumeOf(scanned), scanned.Geometry.MftStart, scanned.Geometry.MftMirrStart));
    RegisterFoundEntryWriter("NTFS", MakeNtfsEntryWriter(NtfsSaveContextOf(scanned, table)));

    test::TempDir out;
    SaveRequest request;
    request.results = &results;
    request.volume.fsName = "NTFS";
    request.volume.device = partition.Device;
    request.source = SaveSource::Tree;
    request.destination = out.path().string();
    results.Tree().SetSubtreeCheck(results.Tree().RootItem(), CheckState::Checked);
    SaveJob save(request);
    ASSERT_TRUE(save.RunHere());

    int checked = 0;
    for (const test::ManifestEntry& e : test::LoadManifest("ntfs.img")) {
        const std::filesystem::path saved = out.path() / std::filesystem::path(e.path).relative_path();
        if (e.IsDir()) {
            EXPECT_TRUE(std::filesystem::is_directory(saved)) << e.path;
            continue;
        }
        if (!e.HasContent())
            continue;
        ASSERT_TRUE(std::filesystem::exists(saved)) << e.path;
        EXPECT_EQ(test::Sha256Hex(ReadFile(saved)), e.sha256) << e.path;
        ++checked;
    }
    EXPECT_GE(checked, 30);
    EXPECT_EQ(save.Session().Report().Count(FileOutcome::Failed), 0u);
}

}  // namespace
}  // namespace torvane
