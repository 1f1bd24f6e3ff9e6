// The NTFS file writer on the fixture volume: every file the Basic NTFS scan
// found is saved from its FoundEntry and comes out byte for byte; a record
// that cannot be read makes no file and is reported; Stop leaves an
// incomplete file that the report names.
#include "fsrecovery/ntfs/ntfs_file_writer.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_folder_listing.h"
#include "results/save_job.h"
#include "fsrecovery/fat/fat_folder_listing.h"
#include "fsrecovery/ntfs/ntfs_module.h"
#include "fsrecovery/search_session.h"
#include "results/file_list_columns.h"
#include "support/session_support.h"
#include "ntfs_test_records.h"
#include "../e2e/sha256.h"
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
        auto table = std::make_shared<MftRunTable>();
        const test::FixtureStatus status = test::ScanNtfsFixture(partition_, results_, *table);
        if (status == test::FixtureStatus::NotUnpacked)
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        ASSERT_EQ(status, test::FixtureStatus::Ready);
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

// The NTFS listing: one row per file of the folder, in the list's columns.
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
    std::shared_ptr<FileSystemVolume> volume = MakeNtfsFileSystemVolume(partition_, context_.mft);
    FolderListing listing;
    listing.list = &list;
    listing.firstRow = 1;
    EXPECT_EQ(volume->ListFolderFiles(results_, sizes, listing), 6u);
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

// The whole road on the fixture volume: a Basic scan through a search
// session, every folder of "Root" ticked, the save job reading through the
// session's NTFS volume: every file of the manifest with known content, deleted ones
// included, lands at its path byte for byte.
TEST(NtfsSaveRoad, BasicScanThenSaveEverything)
{
    const auto path = test::FixtureImage("ntfs.img");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "fixture ntfs.img not unpacked";
    CurrentPartition partition;
    ASSERT_TRUE(test::OpenFixtureVolume("ntfs.img", "NTFS", partition));
    partition.RecoveryMode = 1;

    SearchSession session;
    test::TempDir out;
    test::SavedEverything save = test::ScanAndSaveEverything(session, partition, out.path());
    ASSERT_TRUE(save.ran);

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
    EXPECT_EQ(save.failed, 0u);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// Files whose $DATA, or whose name, lives in extension records, on a small
// volume in memory (1 KiB clusters, a 64-record $MFT at sector 200): the
// Basic sweep lists them at their real size, from their base record, and the
// writer saves every byte. Heavily fragmented files on real volumes look
// like this once their runs no longer fit in one 1024-byte record.
TEST(NtfsExtensionRecords, SweptAndSavedWhole)
{
    using test::Bytes;
    using test::EncodeRuns;
    using test::RecordBuilder;
    constexpr std::uint64_t kSpc = 2, kClusterBytes = 1024, kMft = 200;
    std::string disk(8192 * 512, '\0');
    auto putRecord = [&](std::uint64_t n, const Bytes& rec) {
        std::copy(rec.begin(), rec.end(), disk.begin() + static_cast<std::ptrdiff_t>((kMft + 2 * n) * 512));
    };
    // Clusters of distinct bytes, and what a file made of them holds.
    auto fill = [&](std::uint64_t lcn, std::uint64_t count) {
        std::string content;
        for (std::uint64_t i = 0; i < count * kClusterBytes; ++i) {
            const char c = static_cast<char>((lcn * 131 + i * 7 + i / 509) & 0xFF);
            disk[lcn * kClusterBytes + i] = c;
            content.push_back(c);
        }
        return content;
    };
    auto listValue = [](const std::vector<std::pair<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>>>& es) {
        Bytes v;
        for (const auto& [type, where] : es) {
            Bytes e(32, 0);
            test::PutU32(e, 0, type);
            test::PutU16(e, 4, 32);
            e[7] = 26;
            test::PutU64(e, 8, where.first);    // first VCN
            test::PutU64(e, 16, where.second);  // record reference
            v.insert(v.end(), e.begin(), e.end());
        }
        return v;
    };
    constexpr std::uint64_t kSeq1 = 0x0001000000000000ull;

    putRecord(0, RecordBuilder(1, 0).FileName(5, u"$MFT", 3).NonResident(0x80, EncodeRuns({{64, 100}}), 0, 63,
                                                                          64 * kClusterBytes).Build());
    // Record 40: only the list and the name; its $DATA is in records 41 and 42.
    const std::string fragmented = (fill(300, 4) + fill(400, 4)).substr(0, 8 * kClusterBytes - 100);
    putRecord(40, RecordBuilder(1, 40)
                      .Resident(0x20, listValue({{0x30, {0, kSeq1 | 40}},
                                                 {0x80, {0, kSeq1 | 41}},
                                                 {0x80, {4, kSeq1 | 42}}}))
                      .FileName(5, u"fragmented.bin", 1)
                      .Build());
    putRecord(41, RecordBuilder(1, 41).BaseRecord(kSeq1 | 40)
                      .NonResident(0x80, EncodeRuns({{4, 300}}), 0, 3, fragmented.size()).Build());
    putRecord(42, RecordBuilder(1, 42).BaseRecord(kSeq1 | 40)
                      .NonResident(0x80, EncodeRuns({{4, 400}}), 4, 7, 0).Build());
    // Record 44: the first piece of $DATA at home, its name moved to record 45
    // and the second piece to record 46.
    const std::string movedName = (fill(500, 2) + fill(520, 2)).substr(0, 4 * kClusterBytes - 7);
    putRecord(44, RecordBuilder(1, 44)
                      .Resident(0x20, listValue({{0x30, {0, kSeq1 | 45}},
                                                 {0x80, {0, kSeq1 | 44}},
                                                 {0x80, {2, kSeq1 | 46}}}))
                      .NonResident(0x80, EncodeRuns({{2, 500}}), 0, 1, movedName.size())
                      .Build());
    putRecord(45, RecordBuilder(1, 45).BaseRecord(kSeq1 | 44).FileName(5, u"moved name.bin", 1).Build());
    putRecord(46, RecordBuilder(1, 46).BaseRecord(kSeq1 | 44)
                      .NonResident(0x80, EncodeRuns({{2, 520}}), 2, 3, 0).Build());
    // Record 48: its list names record 49 for the $DATA, but record 49 now
    // belongs to another file. The size its $FILE_NAME recorded is listed.
    putRecord(48, RecordBuilder(1, 48)
                      .Resident(0x20, listValue({{0x80, {0, kSeq1 | 49}}}))
                      .Resident(0x30, test::FileNameValue(5, u"stale.bin", 1, 0, 8192, 5000))
                      .Build());
    putRecord(49, RecordBuilder(1, 49).BaseRecord(kSeq1 | 60)
                      .NonResident(0x80, EncodeRuns({{4, 300}}), 0, 3, 4096).Build());

    DevicePtr device = MakeMemoryDevice("extension records", disk);
    NtfsVolume volume;
    volume.device = device.get();
    volume.sectorsPerCluster = kSpc;
    volume.endSector = 8192;
    auto table = std::make_shared<MftRunTable>(BuildMftRunTable(volume, kMft));
    ASSERT_EQ(table->RecordCount(), 64u);

    ScanResults results;
    results.SetFsName("NTFS");
    results.SetRecoveryMode(1);
    results.EnsureRootItem();
    SweepMftRecords(results, volume, *table);
    std::map<std::string, FoundEntry> found;
    for (const FoundEntry& e : std::as_const(results).FoundEntries())
        EXPECT_TRUE(found.emplace(e.name, e).second) << e.name << " listed twice";
    ASSERT_TRUE(found.count("fragmented.bin"));
    ASSERT_TRUE(found.count("moved name.bin"));
    ASSERT_TRUE(found.count("stale.bin"));
    EXPECT_EQ(found.size(), 4u);  // and $MFT
    EXPECT_EQ(found["fragmented.bin"].size, fragmented.size());
    EXPECT_EQ(found["fragmented.bin"].ownId, kMft + 2 * 40);
    EXPECT_EQ(found["moved name.bin"].size, movedName.size());
    EXPECT_EQ(found["moved name.bin"].ownId, kMft + 2 * 44);  // the base record, which has the data
    EXPECT_EQ(found["stale.bin"].size, 5000u);
    // The file list completes an entry without a size from its record alike.
    for (const char* name : {"fragmented.bin", "moved name.bin"}) {
        FoundEntry blank = found[name];
        blank.size = 0;
        ASSERT_TRUE(CompleteNtfsFoundEntry(blank, volume, table.get())) << name;
        EXPECT_EQ(blank.size, found[name].size) << name;
    }

    NtfsSaveContext context;
    context.sectorsPerCluster = kSpc;
    context.endSector = 8192;
    context.mft = table;
    test::TempDir dir;
    SaveSession session;
    FoundEntryWriter writer = MakeNtfsEntryWriter(context);
    for (const auto& [name, want] : {std::pair{"fragmented.bin", &fragmented}, std::pair{"moved name.bin", &movedName}}) {
        const std::string target = (dir.path() / name).string();
        EXPECT_EQ(writer(session, *device, found[name], target, name), FileOutcome::Written) << name;
        const std::string saved = ReadFile(target);
        EXPECT_EQ(saved.size(), want->size()) << name;
        EXPECT_TRUE(saved == *want) << name << ": the saved bytes differ";
    }
    // No piece of stale.bin's data can be had: not a saved file.
    const std::string stale = (dir.path() / "stale.bin").string();
    EXPECT_EQ(writer(session, *device, found["stale.bin"], stale, "stale.bin"), FileOutcome::Incomplete);

    // A size short of the file's real length (a stale size from elsewhere)
    // saves that many bytes and says the file is incomplete.
    const std::string shortTarget = (dir.path() / "short.bin").string();
    EXPECT_EQ(SaveFileByMftRecord(session, *device, context, kMft + 2 * 40, 100, shortTarget, "short.bin"),
              FileOutcome::Incomplete);
    EXPECT_TRUE(ReadFile(shortTarget) == fragmented.substr(0, 100));
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A FILE record whose $DATA is damaged or gone gives no empty file that
// passes for a saved one: the file is reported with the reason. A file that
// is really empty (an empty $DATA of its own), or a metadata file whose
// content is an index, is complete.
TEST(NtfsDamagedData, NoDataAttributeIsReportedNotCountedAsWritten)
{
    DevicePtr device = MakeMemoryDevice("volume", std::string(64 * 1024, '\0'));
    NtfsSaveContext context;
    context.sectorsPerCluster = 2;
    context.endSector = 128;
    const test::Bytes empty = test::RecordBuilder(1, 30)
                                  .FileName((5ull << 48) | 5, u"empty.txt", 1)
                                  .Resident(0x80, {})
                                  .Build(false);
    test::Bytes damaged = test::RecordBuilder(1, 31)
                              .FileName((5ull << 48) | 5, u"damaged.txt", 1)
                              .Resident(0x80, test::Bytes(100, 'x'))
                              .Build(false);
    // The $DATA attribute's type is overwritten: the record has no $DATA left.
    damaged[test::RecordBuilder(1, 31).FileName((5ull << 48) | 5, u"damaged.txt", 1).AttributeOffset(0)] = 0;
    // A metadata file whose content is an index ($Secure, $Quota): no $DATA of its own.
    const test::Bytes indexOnly = test::RecordBuilder(1, 9)
                                      .FileName((5ull << 48) | 5, u"$Quota", 3)
                                      .Resident(0x90, test::Bytes(32, 0), u"$Q")
                                      .Build(false);
    test::TempDir dir;
    struct Case {
        const test::Bytes* record;
        std::uint64_t size;
        FileOutcome want;
    } cases[] = {{&empty, 0, FileOutcome::Written}, {&damaged, 0, FileOutcome::Incomplete},
                 {&damaged, 100, FileOutcome::Incomplete}, {&indexOnly, 0, FileOutcome::Written}};
    int n = 0;
    for (const Case& c : cases) {
        SaveSession session;
        session.SetDestination(dir.path().string());
        const std::string target = (dir.path() / ("f" + std::to_string(n++))).string();
        test::Bytes record = *c.record;
        EXPECT_EQ(SaveFileByMftBuffer(session, *device, context, record.data(), c.size, target, "f"), c.want) << n;
        if (c.want != FileOutcome::Written) {
            ASSERT_EQ(session.Report().Problems().size(), 1u) << n;
            EXPECT_NE(session.Report().Problems()[0].detail.find("data attribute"), std::string::npos) << n;
        }
    }
}

}  // namespace
}  // namespace torvane
