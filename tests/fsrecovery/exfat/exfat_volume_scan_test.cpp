// The exFAT Basic road on the fixture volumes: the scan finds every folder
// and file (deleted sets included), the tree is arranged, and a save of the
// whole tree gives back every live file and every deleted file whose
// clusters were not reused byte for byte at its path, as the manifest says.
#include "exfat_test_support.h"

#include "disk/sector_bytes.h"
#include "fsrecovery/basic_scan.h"
#include "fsrecovery/search_session.h"
#include "support/session_support.h"
#include "fsrecovery/exfat/exfat_folder_listing.h"
#include "fsrecovery/exfat/exfat_file_writer.h"
#include "results/save_job.h"

#include <gtest/gtest.h>

#include <set>

namespace torvane {
namespace {

namespace fs = std::filesystem;
using test::ManifestEntry;

struct Fixture {
    std::string image;
    int partition;   // 0: a volume image
};

std::string FixtureName(const ::testing::TestParamInfo<Fixture>& info)
{
    std::string n = info.param.image.substr(0, info.param.image.find('.'));
    if (info.param.partition)
        n += "_p" + std::to_string(info.param.partition);
    return n;
}

CurrentPartition PartitionOf(const Fixture& f)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage(f.image).string());
    if (!device)
        return {};
    if (f.partition == 0)
        return test::WholeVolume(device);
    const test::Geometry g = test::LoadGeometry(f.image);
    const std::string p = "p" + std::to_string(f.partition) + ".";
    auto start = test::GeometryNumber(g, p + "start");
    auto size = test::GeometryNumber(g, p + "size");
    auto end = test::GeometryNumber(g, p + "end");
    std::uint64_t last = end ? *end + 1 : (start && size ? *start + *size : 0);
    if (!start || last == 0)
        return {};
    return test::WholeVolume(device, *start, last);
}

class ExfatFixtureTest : public ::testing::TestWithParam<Fixture> {};

TEST_P(ExfatFixtureTest, SavesEveryRecoverableFileByteForByte)
{
    const Fixture f = GetParam();
    CurrentPartition partition = PartitionOf(f);
    ASSERT_TRUE(partition.Device) << "fixture " << f.image << " missing";
    test::TempDir dir;
    SearchSession session;
    ASSERT_TRUE(test::ScanAndSaveEverything(session, partition, dir.path() / "out").ran);
    const auto saved = test::SavedFiles(dir.path() / "out");

    auto manifest = test::ManifestOfPartition(test::LoadManifest(f.image), f.partition);
    ASSERT_FALSE(manifest.empty());
    std::size_t checked = 0;
    for (const ManifestEntry& m : manifest) {
        if (!m.HasContent())
            continue;
        ++checked;
        auto it = saved.find(m.path);
        ASSERT_NE(it, saved.end()) << m.state << " file not saved: " << m.path;
        EXPECT_EQ(it->second.size, m.size) << m.path;
        EXPECT_EQ(it->second.sha, m.sha256) << m.state << " file differs: " << m.path;
    }
    EXPECT_GT(checked, 40u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExfatFixtureTest,
                         ::testing::Values(Fixture{"exfat.img", 0}, Fixture{"mbr.img", 6}, Fixture{"gpt.img", 4}),
                         FixtureName);

TEST(ExfatVolumeScanTest, FindsFoldersFilesAndDeletedSets)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("exfat.img").string());
    ASSERT_TRUE(device);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ExfatFileIndex index;
    ExfatScanReport report = ReadExfatVolume(results, p, *device, &index);
    EXPECT_TRUE(report.bootSectorUsed);
    EXPECT_EQ(report.checksumMismatches, 0u);

    std::set<std::string> folders;
    bool deletedFolder = false;
    for (const auto& row : results.DirList().Rows()) {
        folders.insert(row.name);
        if (row.name == "Alter Ordner")
            deletedFolder = row.deleted;
    }
    for (const char* name : {"KZU_Miscellaneous", "Documents", "Projekte", "2024", "Q3 Planung", "Fotos Sommer 2024",
                             "Strand", "Abend", "Sizes", "Large", "Alter Ordner", "Unterordner", "Tiefer", "Frag",
                             "Viele Dateien"})
        EXPECT_TRUE(folders.count(name)) << name;
    EXPECT_TRUE(deletedFolder);

    std::map<std::string, FoundEntry> files;
    for (const FoundEntry& e : std::as_const(results).FoundEntries())
        files[e.name] = e;
    // Names longer than one name entry, non-ASCII names.
    EXPECT_TRUE(files.count("This is a deliberately long file name to check long file name handling in directory "
                            "entries of every file system 0123456789.txt"));
    EXPECT_TRUE(files.count("日本語.txt"));
    ASSERT_TRUE(files.count("old draft.txt"));   // deleted
    EXPECT_EQ(files["old draft.txt"].size, 5000u);
    ASSERT_TRUE(files.count("size-0.bin"));
    EXPECT_EQ(files["size-0.bin"].size, 0u);
    // Root children have parent 5.
    const FoundEntry& big = files["big-pattern.bin"];
    EXPECT_EQ(big.size, 2097152u);
    ExfatFileRecord rec;
    ASSERT_TRUE(index.Find(big.ownId, rec));
    EXPECT_EQ(rec.dataLength, 2097152u);
    // The entry set's creation date and time words: a date after 1980 with
    // a valid month and day.
    EXPECT_GT(big.FatDate() >> 9, 0u);
    EXPECT_GE((big.FatDate() >> 5) & 15, 1u);
    EXPECT_LE((big.FatDate() >> 5) & 15, 12u);
    EXPECT_GE(big.FatDate() & 31, 1u);
}

TEST(ExfatVolumeScanTest, ListsAFolderLargerThanOneCluster)
{
    DevicePtr device = OpenFileDevice(test::FixtureImage("exfat.img").string());
    ASSERT_TRUE(device);
    CurrentPartition p = test::WholeVolume(device);
    ScanResults results;
    ReadExfatVolume(results, p, *device);
    std::uint64_t many = 0;
    for (const auto& row : results.DirList().Rows())
        if (row.name == "Viele Dateien")
            many = row.self;
    ASSERT_NE(many, 0u);
    bool anyFiles = false;
    auto rows = ListExfatFolderFiles(results, many, nullptr, &anyFiles);
    EXPECT_TRUE(anyFiles);
    std::size_t expected = 0;
    for (const auto& m : test::LoadManifest("exfat.img"))
        if (m.path.rfind("/Viele Dateien/", 0) == 0 && !m.IsDir())
            ++expected;
    EXPECT_EQ(rows.size(), expected);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].timeText.size(), 8u);
    EXPECT_FALSE(rows[0].dateText.empty());
    EXPECT_EQ(rows[0].sizeText, std::to_string(rows[0].size));

    std::atomic<bool> abort{true};
    EXPECT_TRUE(ListExfatFolderFiles(results, many, &abort).empty());
}

TEST(ExfatFolderListingTest, SplitsTheDateAndTimeText)
{
    std::string date, time;
    SplitExfatDateTimeText("10-Dec-2026 14:05:33", date, time);
    EXPECT_EQ(date, "10-Dec-2026");
    EXPECT_EQ(time, "14:05:33");
    SplitExfatDateTimeText("12:00:00", date, time);
    EXPECT_EQ(date, "");
    EXPECT_EQ(time, "12:00:00");
}

}  // namespace
}  // namespace torvane
