// The FAT file writer on the fixture volumes: where it reads (along an
// intact chain, else consecutive clusters), unreadable sectors, a destination
// that fills up, Stop and Skip, and data that run past the volume.
#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_file_writer.h"
#include "results/save_destination.h"
#include "save_test_support.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::ScannedImage;

// The entry of `name` in the folder at `folderPath` ("" = root).
FatFileEntry FindEntry(const ScannedImage& s, const std::string& folderPath, const std::string& name)
{
    std::uint32_t cluster = 0;
    if (!folderPath.empty()) {
        const RecoveredFolder* rec = s.results->FolderOfItem(s.Item(folderPath));
        EXPECT_NE(rec, nullptr) << folderPath;
        if (!rec)
            return {};
        cluster = rec->selfId;
    }
    FatFileEntry found;
    FatFolderWalkOptions options;
    options.onFile = [&](const FatFileEntry& e) {
        if (e.name == name)
            found = e;
    };
    WalkFatFolderEntries(*s.device, s.fat, cluster, options);
    EXPECT_FALSE(found.name.empty()) << folderPath << "/" << name;
    return found;
}

FatFileToSave ToSave(const FatFileEntry& e, const fs::path& target)
{
    FatFileToSave f;
    f.target = target.string();
    f.name = e.name;
    f.size = e.size;
    f.firstCluster = e.deleted ? e.firstCluster : e.storedCluster;
    f.deleted = e.deleted;
    return f;
}

std::string ManifestSha(const std::string& image, const std::string& path)
{
    for (const auto& m : test::LoadManifest(image))
        if (m.path == path)
            return m.sha256;
    return {};
}

TEST(FatFileWriter, FragmentedFileIsReadAlongItsChainDeletedFileConsecutively)
{
    for (const std::string image : {"fat16.img", "fat32.img"}) {
        ScannedImage s = test::ScanFixture(image);
        FatFileEntry frag = FindEntry(s, "/Frag", "fragmented-file.bin");
        FatDataPlan plan = PlanFatFileData(*s.device, s.fat, frag.storedCluster, frag.size, false);
        EXPECT_TRUE(plan.alongChain) << image;
        EXPECT_GT(plan.extents.size(), 1u) << image;
        EXPECT_FALSE(plan.shortOfData);

        FatFileEntry del = FindEntry(s, "/Sizes", "deleted-4096.bin");
        ASSERT_TRUE(del.deleted);
        plan = PlanFatFileData(*s.device, s.fat, del.firstCluster, del.size, true);
        EXPECT_FALSE(plan.alongChain);
        ASSERT_EQ(plan.extents.size(), 1u);
        EXPECT_EQ(plan.extents[0].firstSector, s.fat.ClusterSector(del.firstCluster));

        // A live file whose table cells were cleared falls back to consecutive clusters.
        test::TempDir dir;
        SaveSession session;
        session.SetDestination(dir.path().string());
        EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(frag, dir.path() / "frag.bin")), FileOutcome::Written);
        EXPECT_EQ(test::Sha256OfFileForTest(dir.path() / "frag.bin"), ManifestSha(image, "/Frag/fragmented-file.bin"))
            << image;
    }
}

TEST(FatFileWriter, EmptyFileAndCounting)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry empty = FindEntry(s, "/Sizes", "size-0.bin");
    test::TempDir dir;
    SaveSession session;
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(empty, dir.path() / "size-0.bin")), FileOutcome::Written);
    EXPECT_TRUE(fs::exists(dir.path() / "size-0.bin"));
    EXPECT_EQ(fs::file_size(dir.path() / "size-0.bin"), 0u);
    EXPECT_EQ(session.Counters().filesWritten.load(), 1u);
}

TEST(FatFileWriter, UnreadableSectorsBecomeZerosAndTheRestKeepsItsPlace)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    FatDataPlan plan = PlanFatFileData(*s.device, s.fat, big.storedCluster, big.size, false);
    ASSERT_FALSE(plan.extents.empty());
    const std::uint64_t first = plan.extents[0].firstSector;
    ASSERT_GT(plan.extents[0].sectorCount, 200u);

    test::TempDir dir;
    SaveSession good;
    good.SetDestination(dir.path().string());
    ASSERT_EQ(SaveFatFile(good, *s.device, s.fat, ToSave(big, dir.path() / "good.bin")), FileOutcome::Written);

    auto faulty = std::make_shared<test::FaultyDevice>(s.device);
    faulty->FailSectors(first + 100, 3);   // inside the second 32 KiB chunk
    SaveSession session;
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *faulty, s.fat, ToSave(big, dir.path() / "bad.bin")), FileOutcome::Unreadable);

    std::string goodBytes = test::ReadWholeFile(dir.path() / "good.bin");
    std::string badBytes = test::ReadWholeFile(dir.path() / "bad.bin");
    ASSERT_EQ(badBytes.size(), big.size);
    EXPECT_EQ(badBytes.substr(0, 100 * 512), goodBytes.substr(0, 100 * 512));
    EXPECT_EQ(badBytes.substr(100 * 512, 3 * 512), std::string(3 * 512, '\0'));
    EXPECT_EQ(badBytes.substr(103 * 512), goodBytes.substr(103 * 512));
    auto problems = session.Report().Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].detail, "saved with 3 unreadable sectors");
}

TEST(FatFileWriter, ASourceThatStopsAnsweringStopsTheSave)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    auto faulty = std::make_shared<test::FaultyDevice>(s.device);
    faulty->FailEverything(true);   // unplugged
    test::TempDir dir;
    test::ScriptedQuestions questions;
    SaveSession session(PosixTargetFileSystem(), &questions);
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *faulty, s.fat, ToSave(big, dir.path() / "big.bin")), FileOutcome::Incomplete);
    EXPECT_TRUE(session.StopRequested());
    EXPECT_EQ(questions.messages, std::vector<std::string>{kSourceGoneText});
    // It gave up early instead of writing 2 MiB of zeros.
    EXPECT_LT(fs::file_size(dir.path() / "big.bin"), 65536u);
}

TEST(FatFileWriter, SkipLeavesAPartialFileAndTheNextFileIsWritten)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    FatFileEntry notes = FindEntry(s, "/Documents", "Notes.txt");
    test::TempDir dir;
    test::LimitedFileSystem limited(~0ull);
    SaveSession session(limited);
    session.SetDestination(dir.path().string());
    limited.onWrite = [&session](std::uint64_t total) {
        if (total >= 65536)
            session.Skip().skip = true;
    };
    EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(big, dir.path() / "big.bin")), FileOutcome::Incomplete);
    auto size = fs::file_size(dir.path() / "big.bin");
    EXPECT_LT(size, big.size);
    EXPECT_EQ(size % 32768, 0u);
    limited.onWrite = nullptr;
    EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(notes, dir.path() / "Notes.txt")), FileOutcome::Written);
    EXPECT_EQ(fs::file_size(dir.path() / "Notes.txt"), notes.size);
}

TEST(FatFileWriter, DataPastTheVolumeEndAreSavedUpToItAndReportedIncomplete)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    FatDataPlan plan = PlanFatFileData(*s.device, s.fat, big.storedCluster, big.size, false);
    FatVolume cut = s.fat;
    cut.endSector = plan.extents[0].firstSector + 10;   // the volume ends 10 sectors into the file
    cut.endByte = cut.endSector * 512;
    test::TempDir dir;
    SaveSession session;
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *s.device, cut, ToSave(big, dir.path() / "big.bin")), FileOutcome::Incomplete);
    EXPECT_EQ(fs::file_size(dir.path() / "big.bin"), 10u * 512);
}

TEST(FatFileWriter, AFullDestinationStopsWithTheMessageAndRemovesThePartialFile)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    test::TempDir dir;
    test::ScriptedQuestions questions;
    test::LimitedFileSystem limited(100000, ENOSPC);
    SaveSession session(limited, &questions);
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(big, dir.path() / "big.bin")), FileOutcome::Failed);
    EXPECT_TRUE(session.StopRequested());
    ASSERT_EQ(questions.messages.size(), 1u);
    EXPECT_EQ(questions.messages[0], kDestinationFullText);
    EXPECT_FALSE(fs::exists(dir.path() / "big.bin"));
    EXPECT_EQ(session.Report().Count(FileOutcome::Failed), 1u);
}

TEST(FatFileWriter, AFileTooLargeForTheDestinationFailsAloneAndTheSaveGoesOn)
{
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    FatFileEntry notes = FindEntry(s, "/Documents", "Notes.txt");
    test::TempDir dir;
    test::ScriptedQuestions questions;
    test::LimitedFileSystem limited(100000, EFBIG);
    SaveSession session(limited, &questions);
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *s.device, s.fat, ToSave(big, dir.path() / "big.bin")), FileOutcome::Failed);
    EXPECT_FALSE(session.StopRequested());
    EXPECT_TRUE(questions.messages.empty());
    auto problems = session.Report().Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].detail, "too large for the destination file system");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

TEST(FatFileWriter, ADeviceCutShortInsideAFileIsReportedNotWritten)
{
    // The volume's geometry says the file is all there, but the image ends
    // 10 sectors and 200 bytes into it (a copy that stopped early): the bytes
    // past the end are zeros in the saved file, and the report says so.
    ScannedImage s = test::ScanFixture("fat16.img");
    FatFileEntry big = FindEntry(s, "/Large", "big-pattern.bin");
    FatDataPlan plan = PlanFatFileData(*s.device, s.fat, big.storedCluster, big.size, false);
    ASSERT_FALSE(plan.extents.empty());
    ASSERT_GT(plan.extents[0].sectorCount, 20u);
    const std::uint64_t first = plan.extents[0].firstSector;
    const std::uint64_t kept = 10 * 512 + 200;
    const std::string image = test::ReadWholeFile(test::FixtureImage("fat16.img"));
    ASSERT_GT(image.size(), first * 512 + kept);
    DevicePtr cut = MakeMemoryDevice("cut.img", image.substr(0, first * 512 + kept));

    test::TempDir dir;
    SaveSession good;
    good.SetDestination(dir.path().string());
    ASSERT_EQ(SaveFatFile(good, *s.device, s.fat, ToSave(big, dir.path() / "good.bin")), FileOutcome::Written);
    SaveSession session;
    session.SetDestination(dir.path().string());
    EXPECT_EQ(SaveFatFile(session, *cut, s.fat, ToSave(big, dir.path() / "cut.bin")), FileOutcome::Unreadable);

    const std::string goodBytes = test::ReadWholeFile(dir.path() / "good.bin");
    const std::string cutBytes = test::ReadWholeFile(dir.path() / "cut.bin");
    ASSERT_EQ(cutBytes.size(), big.size);
    EXPECT_EQ(cutBytes.substr(0, kept), goodBytes.substr(0, kept));
    EXPECT_EQ(cutBytes.substr(kept), std::string(big.size - kept, '\0'));
    const std::uint64_t missing = (big.size + 511) / 512 - 10;   // the partial sector counts
    auto problems = session.Report().Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].outcome, FileOutcome::Unreadable);
    EXPECT_EQ(problems[0].detail, "saved with " + std::to_string(missing) + " unreadable sectors");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A live file whose chain ends before its size (its cells cut in both FATs):
// the part the chain covers is read along it, the rest from the clusters that
// follow, and the file is reported incomplete with the reason, never as a
// complete file holding another file's bytes.
TEST(FatFileWriter, ALiveChainThatEndsBeforeTheSizeIsReportedIncomplete)
{
    for (const std::string image : {"fat16.img", "fat32.img"}) {
        ScannedImage s = test::ScanFixture(image);
        FatFileEntry frag = FindEntry(s, "/Frag", "fragmented-file.bin");
        FatDataPlan whole = PlanFatFileData(*s.device, s.fat, frag.storedCluster, frag.size, false);
        ASSERT_GT(whole.extents.size(), 1u) << image;
        // The last cluster of the first fragment becomes the chain's end, in both copies.
        const std::uint64_t firstBytes = whole.extents[0].sectorCount * 512;
        const std::uint32_t lastOfFirst = static_cast<std::uint32_t>(
            frag.storedCluster + whole.extents[0].sectorCount / s.fat.sectorsPerCluster - 1);
        std::string bytes = test::ReadWholeFile(test::FixtureImage(image));
        const bool fat32 = s.fat.kind == FatKind::Fat32;
        for (std::uint64_t copy = 0; copy < 2; ++copy) {
            const std::uint64_t cell = (s.fat.fatStart + copy * s.fat.sectorsPerFat) * 512 +
                                       static_cast<std::uint64_t>(lastOfFirst) * (fat32 ? 4 : 2);
            const std::uint32_t end = fat32 ? 0x0FFFFFFF : 0xFFFF;
            for (unsigned i = 0; i < (fat32 ? 4u : 2u); ++i)
                bytes[cell + i] = static_cast<char>((end >> (8 * i)) & 0xFF);
        }
        DevicePtr cut = MakeMemoryDevice("cut chain", bytes);

        FatDataPlan plan = PlanFatFileData(*cut, s.fat, frag.storedCluster, frag.size, false);
        EXPECT_TRUE(plan.chainShort) << image;
        test::TempDir dir;
        SaveSession session;
        session.SetDestination(dir.path().string());
        EXPECT_EQ(SaveFatFile(session, *cut, s.fat, ToSave(frag, dir.path() / "frag.bin")), FileOutcome::Incomplete)
            << image;
        const auto problems = session.Report().Problems();
        ASSERT_EQ(problems.size(), 1u) << image;
        EXPECT_NE(problems[0].detail.find(kChainEndsBeforeSizeText), std::string::npos) << problems[0].detail;

        // The bytes the chain still covers are the file's own; the size is kept.
        SaveSession good;
        good.SetDestination(dir.path().string());
        ASSERT_EQ(SaveFatFile(good, *s.device, s.fat, ToSave(frag, dir.path() / "good.bin")), FileOutcome::Written);
        const std::string saved = test::ReadWholeFile(dir.path() / "frag.bin");
        const std::string original = test::ReadWholeFile(dir.path() / "good.bin");
        ASSERT_EQ(saved.size(), frag.size) << image;
        EXPECT_EQ(saved.substr(0, firstBytes), original.substr(0, firstBytes)) << image;
    }
}

}  // namespace
}  // namespace torvane
