// The Basic NTFS scan on the fixture volume: every folder of the manifest
// (deleted ones included) is placed at its path under "Root", every file is
// a FoundEntry of its folder, and what the entry points to reads back byte
// for byte.
#include "fsrecovery/ntfs/mft_sweep.h"

#include "fsrecovery/basic_scan.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "ntfs_test_records.h"
#include "../../e2e/sha256.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace torvane {
namespace {

class MftSweepFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const test::FixtureStatus status = test::OpenNtfsFixture(partition_, results_);
        if (status == test::FixtureStatus::NotUnpacked)
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        ASSERT_EQ(status, test::FixtureStatus::Ready);
    }

    // Path of a folder item below "Root" ("" for the root itself).
    std::string PathOf(TreeNodeId item) const
    {
        std::string path;
        for (int depth = 0; depth < 64 && item != kNoTreeNode; ++depth) {
            const TreeNodeId parent = results_.Tree().Parent(item);
            if (parent == kNoTreeNode)
                break;  // the "Root" item
            path = "/" + results_.Tree().Text(item) + path;
            item = parent;
        }
        return path;
    }

    CurrentPartition partition_;
    ScanResults results_;
};

TEST_F(MftSweepFixture, FoldersAndFilesAtTheirPlaces)
{
    MftRunTableReport report = RunBasicNtfsScan(results_, partition_);
    EXPECT_FALSE(report.incomplete);
    EXPECT_GT(results_.CurrentScanSector.load(), 0u);

    std::map<std::string, const RecoveredFolder*> folders;  // path -> record
    for (std::size_t i = 0; i < results_.FolderCount(); ++i) {
        const RecoveredFolder* f = results_.FolderAt(i);
        folders[PathOf(f->treeItem)] = f;
    }
    ASSERT_TRUE(folders.count("/KZU_Miscellaneous"));

    std::array<std::uint8_t, kMftRecordSize> rec{};
    const NtfsVolume volume = NtfsVolumeOf(partition_);
    int files = 0;
    for (const test::ManifestEntry& e : test::LoadManifest("ntfs.img")) {
        if (e.IsDir()) {
            ASSERT_TRUE(folders.count(e.path)) << e.path;
            continue;
        }
        const std::size_t slash = e.path.rfind('/');
        const std::string dir = e.path.substr(0, slash);
        const std::string name = e.path.substr(slash + 1);
        std::uint64_t folderId = kNtfsRootId;
        if (!dir.empty()) {
            ASSERT_TRUE(folders.count(dir)) << e.path;
            folderId = folders[dir]->selfId;
        }
        auto [first, last] = results_.FoundEntryRange(folderId);
        const FoundEntry* found = nullptr;
        for (std::size_t i = first; i < last; ++i)
            if (results_.FoundEntries()[i].name == name)
                found = &results_.FoundEntries()[i];
        ASSERT_TRUE(found) << e.path;
        EXPECT_EQ(found->size, e.size) << e.path;
        EXPECT_NE(found->stamp, 0u) << e.path;
        if (!e.HasContent())
            continue;
        // The entry's own id is the sector of its FILE record: the writer's road.
        ASSERT_EQ(ReadMftRecord(volume, found->ownId, rec.data()), MftRecordRead::Ok) << e.path;
        NtfsStringSink sink;
        NtfsReadReport r = ReadNtfsFileData(volume, NtfsBytes(rec.data(), rec.size()), found->size, sink);
        EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete) << e.path;
        EXPECT_EQ(test::Sha256Hex(sink.bytes), e.sha256) << e.path;
        ++files;
    }
    EXPECT_GE(files, 30);
    EXPECT_EQ(results_.FoundFileCount.load(), results_.FoundEntries().size());
}

// The Basic scan job with the NTFS branch: the same tree as the direct call.
TEST_F(MftSweepFixture, BasicScanJobRunsTheNtfsBranch)
{
    CurrentPartition p;
    p.Device = partition_.Device;
    p.Descriptor.FsType = "NTFS";
    p.Descriptor.EndSector = partition_.Descriptor.EndSector;
    BasicScanJob job(results_, p);
    ASSERT_TRUE(job.RunHere());
    EXPECT_EQ(job.EndNoticeState(), 0);
    EXPECT_EQ(results_.FsName(), "NTFS");
    EXPECT_GT(results_.FoundEntries().size(), 40u);
    // "Documents" sits directly under "Root".
    const TreeNodeId root = results_.EnsureRootItem();
    bool documents = false;
    for (TreeNodeId child : results_.Tree().Children(root))
        documents = documents || results_.Tree().Text(child) == "Documents";
    EXPECT_TRUE(documents);
}

// The fixture volume with its boot sector damaged: a pointer the backup boot
// sector still holds is taken from there; when neither copy says where the
// $MFT is, or which cluster size the volume has, the scan says it cannot use
// the volume instead of ending as an empty success.
TEST_F(MftSweepFixture, DamagedBootSectorIsReportedNotAnEmptySuccess)
{
    std::ifstream in(test::FixtureImage("ntfs.img"), std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), 4096u);
    // The boot sectors: the first sector and its backup (an "NTFS    " OEM id at 3).
    std::vector<std::size_t> boots;
    for (std::size_t at = 0; at + 512 <= image.size(); at += 512)
        if (image.compare(at + 3, 8, "NTFS    ") == 0)
            boots.push_back(at);
    ASSERT_GE(boots.size(), 2u);
    ASSERT_EQ(boots.front(), 0u);

    struct Case {
        const char* what;
        bool backupToo;
        std::size_t offset;  // field zeroed: 48 $MFT cluster, 56 $MFTMirr cluster, 13 sectors per cluster
        std::size_t width;
        bool usable;
    };
    const Case cases[] = {
        {"$MFT and $MFTMirr pointers of the first copy", false, 48, 16, true},
        {"$MFT and $MFTMirr pointers of both copies", true, 48, 16, false},
        {"sectors per cluster of both copies", true, 13, 1, false},
        // The pointers are sound but record 0 is damaged at both places
        // (its update sequence does not fit): no $MFT to sweep.
        {"record 0 of the $MFT and of $MFTMirr", false, 0, 0, false},
    };
    auto u64 = [&](std::size_t at) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(image[at + static_cast<std::size_t>(i)]);
        return v;
    };
    const std::uint64_t spc = static_cast<unsigned char>(image[13]);
    const std::size_t records[] = {static_cast<std::size_t>(u64(48) * spc * 512),
                                   static_cast<std::size_t>(u64(56) * spc * 512)};
    struct Recorder : JobEvents {
        void OnError(const std::string& what) override { errors.push_back(what); }
        std::vector<std::string> errors;
    };
    for (const Case& c : cases) {
        std::string bytes = image;
        for (std::size_t k = 0; k < (c.backupToo ? boots.size() : 1) && c.width != 0; ++k)
            bytes.replace(boots[k] + c.offset, c.width, c.width, '\0');
        if (c.width == 0) {
            for (std::size_t at : records) {
                ASSERT_EQ(bytes.compare(at, 4, "FILE"), 0);
                bytes[at + 6] = 9;  // update sequence entries: 9 for a 2-sector record
            }
        }
        CurrentPartition p;
        p.Device = MakeMemoryDevice("damaged ntfs", bytes);
        p.Descriptor.FsType = "NTFS";
        p.Descriptor.EndSector = bytes.size() / 512;
        ScanResults results;
        Recorder events;
        BasicScanJob job(results, p, nullptr, &events);
        ASSERT_TRUE(job.RunHere()) << c.what;
        if (c.usable) {
            EXPECT_FALSE(job.GeometryFailed()) << c.what;
            EXPECT_TRUE(events.errors.empty()) << c.what;
            EXPECT_GT(results.FoundEntries().size(), 40u) << c.what;
        } else {
            EXPECT_TRUE(job.GeometryFailed()) << c.what;
            ASSERT_EQ(events.errors.size(), 1u) << c.what;
            EXPECT_EQ(events.errors[0], kUnableToCalculateText) << c.what;
            EXPECT_TRUE(results.FoundEntries().empty()) << c.what;
        }
    }
}

TEST_F(MftSweepFixture, StopKeepsWhatWasFoundAndArrangesIt)
{
    MftSweepControl control;
    control.stop = [] { return true; };
    RunBasicNtfsScan(results_, partition_, control);
    EXPECT_EQ(results_.CurrentScanSector.load(), 0u);
    EXPECT_TRUE(results_.FoundEntries().empty());
    // "Root" and nothing under it but, at most, the miscellaneous folder.
    const TreeNodeId root = results_.EnsureRootItem();
    EXPECT_LE(results_.Tree().ChildCount(root), 1u);
}

TEST(MftSweep, EmptyTableGivesRootAndMiscellaneous)
{
    ScanResults results;
    results.SetFsName("NTFS");
    DevicePtr device = MakeMemoryDevice("empty", std::string(64 * 1024, '\0'));
    NtfsVolume volume;
    volume.device = device.get();
    volume.sectorsPerCluster = 8;
    results.EnsureRootItem();
    SweepMftRecords(results, volume, MftRunTable{});
    const TreeNodeId root = results.EnsureRootItem();
    ASSERT_EQ(results.Tree().ChildCount(root), 1u);
    EXPECT_EQ(results.Tree().Text(results.Tree().Children(root)[0]), "KZU_Miscellaneous");
}

// Records of every kind in one synthetic $MFT: a bad fixup, a record without
// a name, a deleted directory and a file of the deleted directory.
TEST(MftSweep, SyntheticRecordsOfEveryKind)
{
    std::string bytes(256 * 1024, '\0');
    auto put = [&](std::uint64_t record, const test::Bytes& b) {
        std::copy(b.begin(), b.end(), bytes.begin() + static_cast<std::ptrdiff_t>(64 * 512 + record * 1024));
    };
    put(5, test::RecordBuilder(3, 5).FileName(5, u".", 3).Build());
    put(20, test::RecordBuilder(2, 20).FileName(5, u"Gone <dir>", 1, 777).Build());
    put(21, test::RecordBuilder(0, 21).FileName(20, u"inside?.txt", 1, 888).Resident(0x80, test::Bytes(12, 'x')).Build());
    test::Bytes badFixup = test::RecordBuilder(3, 22).FileName(5, u"bad fixup", 1).Build();
    test::PutU16(badFixup, 6, 9);
    put(22, badFixup);
    put(23, test::RecordBuilder(1, 23).Resident(0x80, test::Bytes(3, 'y')).Build());
    DevicePtr device = MakeMemoryDevice("mft", bytes);
    NtfsVolume volume;
    volume.device = device.get();
    volume.sectorsPerCluster = 2;
    MftRunTable table;
    table.AppendMftExtent(64, 64);  // records 0..31

    ScanResults results;
    results.SetFsName("NTFS");
    results.SetRecoveryMode(1);
    results.EnsureRootItem();
    SweepMftRecords(results, volume, table);
    EXPECT_EQ(results.CurrentScanSector.load(), 64u);
    ASSERT_EQ(results.DirList().Count(), 1u);
    const PendingDirectory& row = results.DirList().Row(0);
    EXPECT_EQ(row.name, "Gone <dir>");  // directory names are kept as stored
    EXPECT_EQ(row.self, 20u);
    EXPECT_EQ(row.parent, 5u);
    EXPECT_EQ(row.date, 777u);
    ASSERT_EQ(results.FoundEntries().size(), 1u);
    const FoundEntry& file = results.FoundEntries()[0];
    EXPECT_EQ(file.name, "inside.txt");
    EXPECT_EQ(file.parentId, 20u);
    EXPECT_EQ(file.ownId, 64u + 2 * 21);
    EXPECT_EQ(file.size, 12u);
    EXPECT_EQ(file.stamp, 888u);
    EXPECT_EQ(results.FoundFolderCount.load(), 2u);  // the miscellaneous folder and "Gone <dir>"
}

// With 512-byte clusters an $MFT extent may end in the middle of a record:
// extents of 3 and 5 sectors hold records 0 to 3, record 1 in both.
TEST(MftSweep, RecordCutByTheEndOfAnExtent)
{
    std::string bytes(128 * 1024, '\0');
    const std::uint64_t halves[4][2] = {{64, 65}, {66, 200}, {201, 202}, {203, 204}};
    for (std::uint64_t n = 0; n < 4; ++n) {
        const std::u16string name = u"d" + std::u16string(1, static_cast<char16_t>(u'0' + n));
        test::Bytes rec = test::RecordBuilder(3, static_cast<std::uint32_t>(n)).FileName(5, name, 1).Build();
        std::copy(rec.begin(), rec.begin() + 512, bytes.begin() + static_cast<std::ptrdiff_t>(halves[n][0] * 512));
        std::copy(rec.begin() + 512, rec.end(), bytes.begin() + static_cast<std::ptrdiff_t>(halves[n][1] * 512));
    }
    DevicePtr device = MakeMemoryDevice("mft", bytes);
    NtfsVolume volume;
    volume.device = device.get();
    volume.sectorsPerCluster = 1;
    MftRunTable table;
    table.AppendMftExtent(64, 3);
    table.AppendMftExtent(200, 5);

    std::uint64_t first = 0, second = 0;
    ASSERT_TRUE(table.MftRecordSectors(1, first, second));
    EXPECT_EQ(first, 66u);
    EXPECT_EQ(second, 200u);
    std::array<std::uint8_t, kMftRecordSize> buf{};
    ASSERT_EQ(ReadMftRecordByNumber(volume, table, 1, buf.data()), MftRecordRead::Ok);

    ScanResults results;
    results.SetFsName("NTFS");
    results.SetRecoveryMode(1);
    results.EnsureRootItem();
    SweepMftRecords(results, volume, table);
    std::map<std::string, std::uint64_t> selves;
    for (std::size_t i = 0; i < results.DirList().Count(); ++i)
        selves[results.DirList().Row(i).name] = results.DirList().Row(i).self;
    EXPECT_EQ(selves, (std::map<std::string, std::uint64_t>{{"d0", 0}, {"d1", 1}, {"d2", 2}, {"d3", 3}}));
    EXPECT_EQ(results.CurrentScanSector.load(), 8u);
}

}  // namespace
}  // namespace torvane
