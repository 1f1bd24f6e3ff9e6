// The NTFS file writer on the fixture volume: every file the Basic NTFS scan
// found is saved from its FoundEntry and comes out byte for byte; a record
// that cannot be read makes no file and is reported; Stop leaves an
// incomplete file that the report names.
#include "results/ntfs_file_writer.h"

#include "fsrecovery/ntfs/mft_sweep.h"
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
        partition_.Device = OpenFileDevice(path.string());
        ASSERT_TRUE(partition_.Device);
        partition_.Descriptor.FsType = "NTFS";
        partition_.Descriptor.EndSector = partition_.Device->SizeBytes() / 512;
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

}  // namespace
}  // namespace torvane
