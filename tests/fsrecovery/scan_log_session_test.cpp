// Scan logs of a search session: a scan of each file system of the fixture
// disks is saved to a log, a fresh session loads it, and the loaded result
// is the scanned one (the same tree and folder records, the same file lists,
// the same bytes saved). Then the ways a log goes wrong: not a log, cut
// short, of the other search, of a disk that is not attached; and a save
// that cannot be written.
#include "fsrecovery/search_session.h"

#include "base/program_state.h"
#include "base/text_routines.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/scan_log_test_support.h"
#include "fsrecovery/store/name_rules.h"
#include "results/file_list_columns.h"
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"
#include "support/session_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::LoggedFixture;

std::vector<std::uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

ScanLogLoadRequest LoadRequest(const fs::path& path)
{
    ScanLogLoadRequest request;
    request.path = path;
    return request;
}

// A scanned fixture and the log written of it.
class LoggedScan {
public:
    explicit LoggedScan(const LoggedFixture& f) : fixture_(f)
    {
        disk_ = test::AddFixtureDisk(f.image);
        if (disk_ < 0)
            return;
        std::optional<CurrentPartition> p = test::FixtureDiskPartition(f, disk_);
        if (!p || !session.RunScanHere(*p) || session.ScanJob()->GeometryFailed())
            return;
        ScanLogSaveRequest save;
        save.path = dir.path() / "scan.VQL";
        save.source = test::FixtureFacts(session.Partition());
        saved_ = session.RunSaveLogHere(save);
    }
    bool Ready() const { return saved_; }
    int Disk() const { return disk_; }
    fs::path LogPath() const { return dir.path() / "scan.VQL"; }

    test::TempDir dir;
    SearchSession session{1};

private:
    LoggedFixture fixture_;
    int disk_ = -1;
    bool saved_ = false;
};

class ScanLogRoundTrip : public ::testing::TestWithParam<LoggedFixture> {
protected:
    test::ScopedTestRegistry registry_;
};

TEST_P(ScanLogRoundTrip, ALoadedLogGivesTheScannedResultBack)
{
    LoggedScan scan(GetParam());
    if (scan.Disk() < 0)
        GTEST_SKIP() << "fixture not unpacked";
    ASSERT_TRUE(scan.Ready());
    EXPECT_TRUE(scan.session.ResultsLogged());
    EXPECT_TRUE(scan.session.Results().LogLoadedFlag());

    SearchSession loaded(1);
    ASSERT_TRUE(loaded.RunLoadLogHere(LoadRequest(scan.LogPath())));
    ASSERT_EQ(loaded.LoadLogJob()->Outcome(), ScanLogLoadOutcome::Loaded) << loaded.LoadLogJob()->Message();
    EXPECT_EQ(loaded.ScanCount(), SearchSession::kLoadedFromLogState);
    EXPECT_TRUE(loaded.ResultsLogged());
    EXPECT_EQ(loaded.Partition().DevicePath, scan.session.Partition().DevicePath);
    EXPECT_EQ(loaded.Partition().Geometry, scan.session.Partition().Geometry);
    ASSERT_EQ(loaded.Volumes()->Size(), 1u);
    EXPECT_EQ(loaded.Volumes()->First()->Kind(), scan.session.Volumes()->First()->Kind());

    // The tree and its records.
    const std::vector<std::string> tree = test::DescribeTree(scan.session.Results());
    EXPECT_GT(tree.size(), 2u);
    EXPECT_EQ(test::DescribeTree(loaded.Results()), tree);
    // The counts the dialog shows ("Folder Entries", "File Entries").
    EXPECT_EQ(loaded.Results().FoundFolderCount.load(), scan.session.Results().FoundFolderCount.load());
    EXPECT_EQ(loaded.Results().FoundFileCount.load(), scan.session.Results().FoundFileCount.load());

    // Saved again at once, the loaded result gives the same log, even where
    // the drive list is not at hand (the identity came with the load).
    ScanLogSaveRequest again;
    again.path = scan.dir.path() / "again.VQL";
    again.source = ScanLogSourceFactsOf(loaded.Partition(), {}, "Fixture disk");
    EXPECT_EQ(again.source.diskIdentity, test::FixtureFacts(scan.session.Partition()).diskIdentity);
    ASSERT_TRUE(loaded.RunSaveLogHere(again));
    EXPECT_EQ(FileBytes(again.path), FileBytes(scan.LogPath()));

    // What every folder lists.
    const std::vector<std::string> lists = test::DescribeListings(scan.session);
    EXPECT_EQ(test::DescribeListings(loaded), lists);

    // What a save of everything writes.
    test::TempDir out;
    test::SavedEverything a = test::SaveEverything(scan.session, out.path() / "scanned");
    test::SavedEverything b = test::SaveEverything(loaded, out.path() / "loaded");
    ASSERT_TRUE(a.ran);
    ASSERT_TRUE(b.ran);
    const auto scanned = test::HashFolder(out.path() / "scanned");
    EXPECT_GT(scanned.size(), 5u);
    EXPECT_EQ(test::HashFolder(out.path() / "loaded"), scanned);
    EXPECT_EQ(b.written, a.written);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ScanLogRoundTrip,
                         ::testing::Values(LoggedFixture{"mbr.img", 1, "FAT32"}, LoggedFixture{"mbr.img", 2, "NTFS"},
                                           LoggedFixture{"mbr.img", 5, "FAT16"}, LoggedFixture{"mbr.img", 6, "exFAT"},
                                           LoggedFixture{"fat32-cluster5.img", 0, "FAT32"}),
                         [](const auto& info) { return test::FixtureName(info.param); });

// A log whose FAT folder records file the root's children under 5 (the way
// the root was once numbered) loads the same tree and saves the same files:
// folders are placed by the log's indentation, never by their ids, and a
// folder at cluster 5 stays an ordinary folder.
TEST(ScanLogLoad, FatLogsThatFileTheRootUnderFiveLoadTheSame)
{
    test::ScopedTestRegistry registry;
    LoggedScan scan(LoggedFixture{"fat32-cluster5.img", 0, "FAT32"});
    if (scan.Disk() < 0)
        GTEST_SKIP() << "fixture not unpacked";
    ASSERT_TRUE(scan.Ready());
    ScanLogReadResult read = ReadScanLogFile(scan.LogPath(), ScanLogReaderKind::Basic);
    ASSERT_TRUE(read.loaded());
    bool clusterFive = false;
    for (ScanLogTreeItem& item : read.document.tree) {
        if (item.depth == 1 && item.record && item.record->parentId == 0)
            item.record->parentId = 5;
        clusterFive = clusterFive || (item.record && item.record->ownId == 5);
    }
    EXPECT_TRUE(clusterFive) << "the fixture has a folder at cluster 5";
    const fs::path other = scan.dir.path() / "other.VQL";
    ASSERT_TRUE(WriteScanLogFile(read.document, other).ok());

    SearchSession loaded(1);
    ASSERT_TRUE(loaded.RunLoadLogHere(LoadRequest(other)));
    // The same tree but for the parent ids the log holds.
    std::vector<std::string> expected;
    for (std::string line : test::DescribeTree(scan.session.Results()))
        expected.push_back(line);
    std::vector<std::string> got = test::DescribeTree(loaded.Results());
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].substr(0, got[i].find(" | ")), expected[i].substr(0, expected[i].find(" | ")));
    // The folder rows show the parent ids the log holds.
    const std::set<int> shown = {kListTreeItem, kListParentId};
    EXPECT_EQ(test::DescribeListings(loaded, shown), test::DescribeListings(scan.session, shown));
    test::TempDir out;
    ASSERT_TRUE(test::SaveEverything(scan.session, out.path() / "a").ran);
    ASSERT_TRUE(test::SaveEverything(loaded, out.path() / "b").ran);
    EXPECT_EQ(test::HashFolder(out.path() / "b"), test::HashFolder(out.path() / "a"));
}

// The load on its worker, as the dialog runs it: the tree fills while
// another thread reads it, the observer hears the end, and a save and a
// listing refuse to start meanwhile.
TEST(ScanLogLoad, LoadsOnAWorkerWhileTheTreeIsRead)
{
    test::ScopedTestRegistry registry;
    LoggedScan scan(LoggedFixture{"mbr.img", 2, "NTFS"});
    if (scan.Disk() < 0)
        GTEST_SKIP() << "fixture not unpacked";
    ASSERT_TRUE(scan.Ready());

    class Ends final : public SearchSessionObserver {
    public:
        void OnLogLoaded() override
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
    SearchSession loaded(1);
    loaded.SetObserver(&ends);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            auto lock = loaded.Results().Lock();
            (void)loaded.Results().Tree().NodeCount();
            (void)loaded.Results().FoundEntries().size();
        }
    });
    ASSERT_TRUE(loaded.StartLoadLog(LoadRequest(scan.LogPath())));
    EXPECT_FALSE(loaded.StartLoadLog(LoadRequest(scan.LogPath())));
    ScanLogSaveRequest save;
    save.path = scan.dir.path() / "meanwhile.VQL";
    EXPECT_FALSE(loaded.StartSaveLog(save));
    EXPECT_TRUE(ends.Wait());
    done = true;
    reader.join();
    ASSERT_TRUE(loaded.FinishLoadLog());
    loaded.SetObserver(nullptr);
    EXPECT_EQ(loaded.LoadLogJob()->Outcome(), ScanLogLoadOutcome::Loaded);
    EXPECT_EQ(test::DescribeTree(loaded.Results()), test::DescribeTree(scan.session.Results()));
}

// The disk came back under another number: found by its identity without
// the number, and the results then name the disk by its new number.
TEST(ScanLogLoad, ADiskWithAnotherNumberIsFoundByItsIdentity)
{
    test::ScopedTestRegistry registry;
    LoggedScan scan(LoggedFixture{"mbr.img", 5, "FAT16"});
    if (scan.Disk() < 0)
        GTEST_SKIP() << "fixture not unpacked";
    ASSERT_TRUE(scan.Ready());
    const std::vector<std::string> tree = test::DescribeTree(scan.session.Results());

    // Unplugged, another disk plugged in, then the fixture again.
    DeviceRegistry& r = DeviceRegistry::Instance();
    ASSERT_TRUE(r.RemoveDisk(scan.Disk()));
    const int other = r.RegisterMemoryDisk(std::make_shared<test::SparseDevice>(1u << 20));
    ASSERT_EQ(other, scan.Disk());
    const int now = test::AddFixtureDisk("mbr.img");
    ASSERT_NE(now, scan.Disk());

    SearchSession loaded(1);
    ASSERT_TRUE(loaded.RunLoadLogHere(LoadRequest(scan.LogPath())));
    EXPECT_EQ(loaded.LoadLogJob()->Outcome(), ScanLogLoadOutcome::Loaded);
    EXPECT_EQ(loaded.Partition().DevicePath, PhysicalDrivePath(now));
    EXPECT_EQ(loaded.Partition().Descriptor.DiskNumber, now);
    const std::string identity = loaded.Partition().Descriptor.DiskIdentity;
    EXPECT_EQ(identity.substr(identity.rfind('|') + 1), std::to_string(now));
    EXPECT_EQ(test::DescribeTree(loaded.Results()), tree);
    test::TempDir out;
    ASSERT_TRUE(test::SaveEverything(scan.session, out.path() / "a").ran);
    ASSERT_TRUE(test::SaveEverything(loaded, out.path() / "b").ran);
    EXPECT_EQ(test::HashFolder(out.path() / "b"), test::HashFolder(out.path() / "a"));
}

// Logs that go wrong: each ends with its outcome and message; the session is
// left empty (or with what a broken log held before the break) and usable.
class ScanLogFailures : public ::testing::Test {
protected:
    void SetUp() override
    {
        scan_ = std::make_unique<LoggedScan>(LoggedFixture{"mbr.img", 2, "NTFS"});
        if (scan_->Disk() < 0)
            GTEST_SKIP() << "fixture not unpacked";
        ASSERT_TRUE(scan_->Ready());
        bytes_ = FileBytes(scan_->LogPath());
        ASSERT_GT(bytes_.size(), 1000u);
    }

    // Loads `bytes` as a log into a fresh session.
    ScanLogLoadOutcome Load(const std::vector<std::uint8_t>& bytes, SearchSession& session)
    {
        const fs::path path = scan_->dir.path() / "case.VQL";
        WriteBytes(path, bytes);
        session.RunLoadLogHere(LoadRequest(path));
        return session.LoadLogJob() ? session.LoadLogJob()->Outcome() : ScanLogLoadOutcome::Stopped;
    }

    test::ScopedTestRegistry registry_;
    std::unique_ptr<LoggedScan> scan_;
    std::vector<std::uint8_t> bytes_;
};

TEST_F(ScanLogFailures, GarbageAndEmptyFilesAreInvalidLogs)
{
    const std::vector<std::vector<std::uint8_t>> cases = {
        {},
        {0x00},
        std::vector<std::uint8_t>(4096, 0xFF),
        {'h', 'e', 'l', 'l', 'o', '\n'},
        std::vector<std::uint8_t>(bytes_.begin(), bytes_.begin() + 10),
    };
    for (const auto& bytes : cases) {
        SearchSession session(1);
        EXPECT_EQ(Load(bytes, session), ScanLogLoadOutcome::InvalidLog) << bytes.size() << " bytes";
        EXPECT_EQ(session.LoadLogJob()->Message(), ProgramState::Instance().Messages.InvalidScanLogText);
        EXPECT_EQ(session.ScanCount(), 0u);
        EXPECT_FALSE(session.HasResults());
        // Still usable: the good log loads into the same session.
        EXPECT_TRUE(session.RunLoadLogHere(LoadRequest(scan_->LogPath())));
        EXPECT_EQ(session.LoadLogJob()->Outcome(), ScanLogLoadOutcome::Loaded);
    }
}

// Every cut of the log: never a crash or a hang. A cut before the tree ends
// invalid with nothing shown; a later cut loads what came before it,
// which can be listed and saved, and the user is told the log is invalid.
TEST_F(ScanLogFailures, EveryCutEndsInvalidKeepingWhatCameBefore)
{
    const ScanLogReadResult whole = ReadScanLog(bytes_, ScanLogReaderKind::Basic);
    ASSERT_TRUE(whole.loaded());
    const std::size_t folders = whole.document.tree.size() - 1;
    std::size_t partial = 0;
    const std::size_t step = std::max<std::size_t>(1, bytes_.size() / 400);
    for (std::size_t cut = 0; cut + 1 < bytes_.size(); cut += step) {
        SearchSession session(1);
        const std::vector<std::uint8_t> head(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(cut));
        const ScanLogLoadOutcome outcome = Load(head, session);
        const ScanLogReadResult read = ReadScanLog(head, ScanLogReaderKind::Basic);
        if (read.loaded()) {
            // Only the trailer was cut.
            EXPECT_EQ(outcome, ScanLogLoadOutcome::Loaded) << cut;
            continue;
        }
        if (read.failedSection < ScanLogSection::FolderTree) {
            EXPECT_EQ(outcome, ScanLogLoadOutcome::InvalidLog) << cut;
            EXPECT_FALSE(session.HasResults()) << cut;
            continue;
        }
        ASSERT_EQ(outcome, ScanLogLoadOutcome::Damaged) << cut;
        EXPECT_EQ(session.LoadLogJob()->Message(), ProgramState::Instance().Messages.InvalidScanLogText);
        EXPECT_EQ(session.ScanCount(), SearchSession::kLoadedFromLogState);
        EXPECT_FALSE(session.ResultsLogged());
        EXPECT_EQ(session.Results().FolderCount(), read.document.tree.empty() ? 0 : read.document.tree.size() - 1)
            << cut;
        EXPECT_EQ(session.Results().FoundEntries().size(), read.document.files.size()) << cut;
        partial += session.Results().FolderCount() > 0 && session.Results().FolderCount() < folders ? 1 : 0;
        // What was loaded lists.
        EXPECT_TRUE(session.RunListingHere(session.Results().Tree().RootItem())) << cut;
    }
    EXPECT_GT(partial, 0u) << "some cut falls inside the tree";
}

TEST_F(ScanLogFailures, ALogOfTheOtherSearchIsHandedOver)
{
    ScanLogReadResult read = ReadScanLog(bytes_, ScanLogReaderKind::Basic);
    ASSERT_TRUE(read.loaded());
    read.document.header.mode = kScanLogDeepMode;
    std::vector<std::uint8_t> deep;
    ASSERT_TRUE(WriteScanLog(read.document, deep).ok());
    SearchSession session(1);
    EXPECT_EQ(Load(deep, session), ScanLogLoadOutcome::HandOver);
    EXPECT_EQ(session.LoadLogJob()->HandOverMode(), 2);
    EXPECT_EQ(session.ScanCount(), 0u);
    // The Deep session takes it (its tables and volumes come with the Deep Search).
    SearchSession deepSession(2);
    EXPECT_EQ(Load(deep, deepSession), ScanLogLoadOutcome::Loaded);
    EXPECT_EQ(test::DescribeTree(deepSession.Results()).size(), test::DescribeTree(scan_->session.Results()).size());
}

TEST_F(ScanLogFailures, AnUnknownModeOrAnAbsentDiskIsMediaMoved)
{
    {
        // The mode word follows the three header texts (each FF FE FF, a
        // one-byte length and UTF-16 units in this log).
        std::vector<std::uint8_t> bytes = bytes_;
        std::size_t at = 0;
        for (int t = 0; t < 3; ++t)
            at += 4 + 2 * std::size_t{bytes[at + 3]};
        ASSERT_EQ(bytes[at], 1u);
        bytes[at] = 7;
        SearchSession session(1);
        EXPECT_EQ(Load(bytes, session), ScanLogLoadOutcome::MediaMoved);
        EXPECT_EQ(session.LoadLogJob()->Message(), ProgramState::Instance().Messages.OriginalMediaMovedText);
    }
    // The disk is unplugged.
    ASSERT_TRUE(DeviceRegistry::Instance().RemoveDisk(scan_->Disk()));
    SearchSession session(1);
    EXPECT_EQ(Load(bytes_, session), ScanLogLoadOutcome::MediaMoved);
    EXPECT_EQ(session.ScanCount(), 0u);
    EXPECT_FALSE(session.HasResults());
}

TEST_F(ScanLogFailures, AMissingFileSaysWhichAndWhy)
{
    SearchSession session(1);
    const fs::path missing = scan_->dir.path() / "no such log.VQL";
    EXPECT_FALSE(session.RunLoadLogHere(LoadRequest(missing)));
    EXPECT_EQ(session.LoadLogJob()->Outcome(), ScanLogLoadOutcome::OpenFailed);
    EXPECT_NE(session.LoadLogJob()->Message().find("no such log.VQL"), std::string::npos);
    EXPECT_NE(session.LoadLogJob()->Message().find("No such file"), std::string::npos);
}

// Loading is refused while the session holds results; saving before any.
TEST_F(ScanLogFailures, LogsOnlyWhereTheStateAllows)
{
    ScanLogSaveRequest save;
    save.path = scan_->dir.path() / "early.VQL";
    SearchSession empty(1);
    EXPECT_FALSE(empty.StartSaveLog(save));
    EXPECT_FALSE(scan_->session.StartLoadLog(LoadRequest(scan_->LogPath())));
}

// A log that cannot be written leaves the results unlogged (Close and Back
// still offer to save them) and whatever was at the path as it was.
TEST_F(ScanLogFailures, AFailedSaveLeavesTheResultsUnloggedAndThePathAsItWas)
{
    SearchSession session(1);
    ASSERT_TRUE(session.RunLoadLogHere(LoadRequest(scan_->LogPath())));
    session.SetResultsLogged(false);
    ScanLogSaveRequest save;
    save.path = scan_->dir.path() / "no such folder" / "scan.VQL";
    save.source = test::FixtureFacts(session.Partition());
    EXPECT_FALSE(session.RunSaveLogHere(save));
    EXPECT_FALSE(session.ResultsLogged());
    EXPECT_NE(session.SaveLogJob()->Result().message.find("no such folder"), std::string::npos);

    // A folder in the way of the name: nothing replaces it.
    const fs::path folder = scan_->dir.path() / "taken.VQL";
    fs::create_directory(folder);
    fs::create_directory(folder / "inside");
    save.path = folder;
    EXPECT_FALSE(session.RunSaveLogHere(save));
    EXPECT_FALSE(session.ResultsLogged());
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
    // Once written, the results are logged.
    save.path = scan_->dir.path() / "fine.VQL";
    EXPECT_TRUE(session.RunSaveLogHere(save));
    EXPECT_TRUE(session.ResultsLogged());
}

// ---- the seven texts of a found file ----------------------------------------------------

TEST(ScanLogRows, FoundFilesAndTheirTextsConvertBothWays)
{
    struct Case {
        const char* fs;
        FoundEntry entry;
        ScanLogFileRow row;
    };
    FoundEntry ntfs{"report.pdf", 40, 123456, 9000, 133000000000000000ull, 0, false};
    FoundEntry ntfsIndex{"a.txt", 5, 0x0001000000000123ull, 10, 0, 0, true};
    FoundEntry exfat{"photo.jpg", 7, 4096, 300, (0x5A21ull << 16) | 0x6B2Aull, 0, false};
    const std::time_t scan = 0;
    const std::vector<Case> cases = {
        {"NTFS", ntfs, {"40|123456|", "report.pdf", "9000", "133000000000000000", "", "40", ""}},
        {"NTFS", ntfsIndex, {"5|281474976710947|", "a.txt", "10", "0", "1", "5", ""}},
        {"exFAT", exfat,
         {"7|4096|", "photo.jpg", "300", FormatFatDate(0x5A21, scan) + FormatFatTime(0x6B2A, scan), "23073", "7",
          "27434"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScanLogRowOfEntry(c.entry, c.fs, scan), c.row) << c.entry.name;
        const FoundEntry back = EntryOfScanLogRow(c.row, c.fs, 0);
        EXPECT_EQ(back.name, c.entry.name);
        EXPECT_EQ(back.parentId, c.entry.parentId);
        EXPECT_EQ(back.ownId, c.entry.ownId);
        EXPECT_EQ(back.size, c.entry.size);
        EXPECT_EQ(back.stamp, c.entry.stamp);
        EXPECT_EQ(back.fromIndex, c.entry.fromIndex);
    }
}

// exFAT files of the root come filed under 0, 5 or the root's cluster,
// depending on who wrote the log; all of them are the root's files, filed
// under the root's cluster. A log that holds a folder at cluster 5 (the first
// folder of a card whose root is at 4) keeps 5 for that folder.
TEST(ScanLogRows, ExfatRootFilesUnderAnyOfItsIdsAreTheRootsFiles)
{
    struct Case {
        const char* parent;
        std::uint32_t root;
        bool folderAt5;
        std::uint64_t filed;
    };
    const Case cases[] = {
        {"0", 4, false, 4}, {"5", 4, false, 4}, {"4", 4, false, 4},  // root at 4, no folder at 5
        {"0", 4, true, 4},  {"5", 4, true, 5},  {"4", 4, true, 4},   // root at 4, a folder at 5
        {"0", 5, true, 5},  {"5", 5, true, 5},                        // root at 5
        {"0", 0, false, 5}, {"5", 0, true, 5},                        // root unknown: 5 as before
        {"9", 4, true, 9},                                            // a folder's own files
    };
    for (const Case& c : cases) {
        const ScanLogFileRow row{std::string(c.parent) + "|4096|", "a", "1", "", "0", c.parent, "0"};
        EXPECT_EQ(EntryOfScanLogRow(row, "exFAT", c.root, c.folderAt5).parentId, c.filed)
            << c.parent << " root " << c.root << " folder at 5 " << c.folderAt5;
    }
    // NTFS ids stay as they are.
    const ScanLogFileRow ntfs{"0|1|", "a", "1", "0", "", "0", ""};
    EXPECT_EQ(EntryOfScanLogRow(ntfs, "NTFS", 4).parentId, 0u);
}

// A zero exFAT date or time word shows the scan's day and time; a loaded
// result takes them from the rows that show them.
TEST(ScanLogRows, TheScanTimeComesBackFromRowsWithZeroWords)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::time_t scan = 1700000000;   // 14-NOV-2023 22:13:20 UTC
    FoundEntry dated{"a", 5, 1, 1, (0x5A21ull << 16) | 0x6B2A, 0, false};
    FoundEntry undated{"b", 5, 2, 1, 0, 0, false};
    std::vector<ScanLogFileRow> rows = {ScanLogRowOfEntry(dated, "exFAT", scan)};
    EXPECT_EQ(ScanTimeOfExfatRows(rows), 0);
    rows.push_back(ScanLogRowOfEntry(undated, "exFAT", scan));
    EXPECT_EQ(rows.back()[3], "14-NOV-202322:13:20");
    EXPECT_EQ(ScanTimeOfExfatRows(rows), scan);
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace torvane
