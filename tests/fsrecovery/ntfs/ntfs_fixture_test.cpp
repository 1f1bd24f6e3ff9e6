// The NTFS readers on the fixture volume made by mkntfs and ntfs-3g: every
// FILE record of the $MFT is found, named and placed, and every file whose
// content the manifest knows (live, deleted, fragmented, resident, sparse,
// compressed) reads back byte for byte.
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "ntfs_test_records.h"
#include "../../e2e/sha256.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

namespace torvane {
namespace {

struct Boot {
    std::uint32_t spc = 0;
    std::uint64_t totalSectors = 0;
    std::uint64_t mftLcn = 0;
    std::uint64_t mirrLcn = 0;
};

struct FoundRecord {
    std::uint64_t number = 0;
    std::uint64_t sector = 0;
    std::string name;
    std::uint64_t parent = 0;
    bool directory = false;
    bool inUse = false;
};

class NtfsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto path = test::FixtureImage("ntfs.img");
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        device_ = OpenFileDevice(path.string());
        ASSERT_TRUE(device_);
        std::array<std::uint8_t, 512> bs{};
        ASSERT_EQ(device_->ReadAt(0, bs.data(), bs.size()), 512);
        NtfsBytes b(bs.data(), bs.size());
        boot_.spc = b.U8(13);
        boot_.totalSectors = b.U64(40);
        boot_.mftLcn = b.U64(48);
        boot_.mirrLcn = b.U64(56);
        const test::Geometry g = test::LoadGeometry("ntfs.img");
        ASSERT_EQ(boot_.spc, test::GeometryNumber(g, "sectors_per_cluster"));
        ASSERT_EQ(boot_.mftLcn, test::GeometryNumber(g, "mft_lcn"));
        volume_.device = device_.get();
        volume_.cluster0Sector = 0;
        volume_.sectorsPerCluster = boot_.spc;
        volume_.endSector = boot_.totalSectors + 1;  // the backup boot sector follows the volume
        table_ = BuildMftRunTable(volume_, boot_.mftLcn * boot_.spc, boot_.mirrLcn * boot_.spc, &report_);
    }

    // Every FILE record of the table with its name, as the sweep sees them.
    std::map<std::uint64_t, FoundRecord> Sweep()
    {
        std::map<std::uint64_t, FoundRecord> out;
        std::array<std::uint8_t, kMftRecordSize> rec{};
        for (std::uint64_t n = 0; n < table_.RecordCount(); ++n) {
            const std::uint64_t sector = table_.MftRecordToSector(n);
            if (ReadMftRecord(volume_, sector, rec.data()) != MftRecordRead::Ok)
                continue;
            NtfsBytes view(rec.data(), rec.size());
            NtfsRecordHeader h;
            ReadNtfsRecordHeader(view, h);
            std::optional<NtfsFileName> fn = FindNtfsFileName(view);
            if (!fn)
                continue;
            out[n] = {n, sector, fn->name, MftReferenceRecord(fn->parentReference), h.IsDirectory(), h.IsInUse()};
        }
        return out;
    }

    static std::string PathOf(const std::map<std::uint64_t, FoundRecord>& all, std::uint64_t n)
    {
        std::string path;
        for (int depth = 0; depth < 64; ++depth) {
            auto it = all.find(n);
            if (it == all.end() || n == 5)
                break;
            path = "/" + it->second.name + path;
            n = it->second.parent;
        }
        return path;
    }

    DevicePtr device_;
    Boot boot_;
    NtfsVolume volume_;
    MftRunTable table_;
    MftRunTableReport report_;
};

TEST_F(NtfsFixture, RunTableLocatesTheMft)
{
    ASSERT_FALSE(table_.Empty());
    EXPECT_FALSE(report_.recordZeroFromMirror);
    EXPECT_FALSE(report_.incomplete);
    EXPECT_EQ(table_.Extents().front().startSector, boot_.mftLcn * boot_.spc);
    EXPECT_EQ(table_.MftRecordToSector(0), boot_.mftLcn * boot_.spc);
    EXPECT_EQ(table_.MftRecordToSector(5), boot_.mftLcn * boot_.spc + 10);
    EXPECT_EQ(table_.MftRecordToSector(table_.RecordCount()), 0u);
    EXPECT_EQ(table_.SectorToMftRecord(boot_.mftLcn * boot_.spc + 10), 5u);

    std::array<std::uint8_t, kMftRecordSize> rec{};
    ASSERT_EQ(ReadMftRecord(volume_, table_.MftRecordToSector(0), rec.data()), MftRecordRead::Ok);
    std::optional<NtfsFileName> fn = FindNtfsFileName(NtfsBytes(rec.data(), rec.size()));
    ASSERT_TRUE(fn);
    EXPECT_EQ(fn->name, "$MFT");
    ASSERT_EQ(ReadMftRecord(volume_, table_.MftRecordToSector(5), rec.data()), MftRecordRead::Ok);
    EXPECT_EQ(FindNtfsFileName(NtfsBytes(rec.data(), rec.size()))->name, ".");
}

TEST_F(NtfsFixture, DamagedRecordZeroIsTakenFromTheMirror)
{
    std::string bytes(device_->SizeBytes(), '\0');
    ASSERT_EQ(device_->ReadAt(0, bytes.data(), bytes.size()), static_cast<std::int64_t>(bytes.size()));
    bytes[boot_.mftLcn * boot_.spc * 512] = 'X';  // "XILE"
    DevicePtr damaged = MakeMemoryDevice("damaged", std::move(bytes));
    NtfsVolume v = volume_;
    v.device = damaged.get();
    MftRunTableReport rep;
    MftRunTable t = BuildMftRunTable(v, boot_.mftLcn * boot_.spc, boot_.mirrLcn * boot_.spc, &rep);
    EXPECT_TRUE(rep.recordZeroFromMirror);
    EXPECT_EQ(t.Extents(), table_.Extents());
    EXPECT_TRUE(BuildMftRunTable(v, boot_.mftLcn * boot_.spc, 0).Empty());
}

TEST_F(NtfsFixture, EveryFolderOfTheManifestIsADirectoryRecord)
{
    const auto records = Sweep();
    std::map<std::string, const FoundRecord*> byPath;
    for (const auto& [n, r] : records)
        byPath[PathOf(records, n)] = &r;
    for (const test::ManifestEntry& e : test::LoadManifest("ntfs.img")) {
        if (!e.IsDir())
            continue;
        auto it = byPath.find(e.path);
        ASSERT_NE(it, byPath.end()) << e.path;
        EXPECT_TRUE(it->second->directory) << e.path;
        EXPECT_EQ(it->second->inUse, !e.IsDeleted()) << e.path;
    }
}

TEST_F(NtfsFixture, EveryFileWithKnownContentReadsBackByteForByte)
{
    const auto records = Sweep();
    std::map<std::string, const FoundRecord*> byPath;
    for (const auto& [n, r] : records)
        if (!r.directory)
            byPath[PathOf(records, n)] = &r;
    int checked = 0;
    std::array<std::uint8_t, kMftRecordSize> rec{};
    for (const test::ManifestEntry& e : test::LoadManifest("ntfs.img")) {
        if (!e.HasContent())
            continue;
        auto it = byPath.find(e.path);
        ASSERT_NE(it, byPath.end()) << e.path;
        ASSERT_EQ(ReadMftRecord(volume_, it->second->sector, rec.data()), MftRecordRead::Ok);
        NtfsBytes view(rec.data(), rec.size());
        EXPECT_EQ(GetNtfsDataSize(view, it->second->name), e.size) << e.path;
        NtfsStringSink sink;
        NtfsReadReport r = ReadNtfsFileData(volume_, view, e.size, sink, {}, &table_);
        EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete) << e.path;
        EXPECT_EQ(r.unreadableSectors, 0u) << e.path;
        EXPECT_EQ(sink.bytes.size(), e.size) << e.path;
        EXPECT_EQ(test::Sha256Hex(sink.bytes), e.sha256) << e.path;
        if (e.path == "/Spezial/klein resident.txt") {
            EXPECT_TRUE(r.resident);
        }
        if (e.path == "/Spezial/sparse.bin") {
            EXPECT_GT(r.sparseBytes, 0u);
        }
        if (e.path == "/Komprimiert/Protokoll.txt") {
            EXPECT_TRUE(r.compressed);
            EXPECT_EQ(r.damagedUnits, 0u);
        }
        ++checked;
    }
    EXPECT_GE(checked, 30);
}

// An unreadable sector inside a file: zeros in its place, every later byte
// at its offset, and the read says so.
TEST_F(NtfsFixture, UnreadableSectorBecomesZerosAtItsOffset)
{
    const auto records = Sweep();
    const FoundRecord* big = nullptr;
    for (const auto& [n, r] : records)
        if (PathOf(records, n) == "/Large/big-pattern.bin")
            big = &r;
    ASSERT_TRUE(big);
    std::array<std::uint8_t, kMftRecordSize> rec{};
    ASSERT_EQ(ReadMftRecord(volume_, big->sector, rec.data()), MftRecordRead::Ok);
    NtfsBytes view(rec.data(), rec.size());

    NtfsStringSink clean;
    ReadNtfsFileData(volume_, view, 2097152, clean);
    ASSERT_EQ(clean.bytes.size(), 2097152u);

    std::optional<NtfsAttribute> data = FindNtfsAttribute(view, kNtfsAttrData);
    ASSERT_TRUE(data);
    RunList runs = DecodeRunList(view, *data);
    ASSERT_FALSE(runs.runs.empty());
    // Sector 10 of the file's first run fails.
    const std::uint64_t bad = runs.runs[0].lcn * boot_.spc + 10;
    auto faulty = std::make_shared<test::FaultyDevice>(device_);
    faulty->FailSectors(bad, 1);
    NtfsVolume v = volume_;
    v.device = faulty.get();
    NtfsStringSink sink;
    NtfsReadReport r = ReadNtfsFileData(v, view, 2097152, sink);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete);
    EXPECT_EQ(r.unreadableSectors, 1u);
    ASSERT_EQ(sink.bytes.size(), clean.bytes.size());
    EXPECT_EQ(sink.bytes.substr(10 * 512, 512), std::string(512, '\0'));
    EXPECT_EQ(sink.bytes.substr(0, 10 * 512), clean.bytes.substr(0, 10 * 512));
    EXPECT_EQ(sink.bytes.substr(11 * 512), clean.bytes.substr(11 * 512));
}

// Real records made unsound: each is passed over or read without a byte
// from outside the record or the volume.
TEST_F(NtfsFixture, CorruptRealRecordsAreSkippedCleanly)
{
    const auto records = Sweep();
    const FoundRecord* notes = nullptr;
    const FoundRecord* big = nullptr;
    for (const auto& [n, r] : records) {
        const std::string p = PathOf(records, n);
        if (p == "/Documents/Notes.txt")
            notes = &r;
        if (p == "/Large/big-pattern.bin")
            big = &r;
    }
    ASSERT_TRUE(notes && big);
    std::string bytes(device_->SizeBytes(), '\0');
    ASSERT_EQ(device_->ReadAt(0, bytes.data(), bytes.size()), static_cast<std::int64_t>(bytes.size()));

    // A bad fixup: an update sequence count larger than the record has sectors.
    {
        std::string b = bytes;
        b[notes->sector * 512 + 6] = 9;
        DevicePtr d = MakeMemoryDevice("bad fixup", std::move(b));
        NtfsVolume v = volume_;
        v.device = d.get();
        std::array<std::uint8_t, kMftRecordSize> rec{};
        EXPECT_EQ(ReadMftRecord(v, notes->sector, rec.data()), MftRecordRead::BadFixup);
    }
    // A run list reaching past the volume: the clusters beyond it are not
    // read; they come out as zeros and are counted unreadable.
    {
        std::array<std::uint8_t, kMftRecordSize> rec{};
        ASSERT_EQ(ReadMftRecord(volume_, big->sector, rec.data()), MftRecordRead::Ok);
        NtfsBytes view(rec.data(), rec.size());
        NtfsVolume v = volume_;
        std::optional<NtfsAttribute> data = FindNtfsAttribute(view, kNtfsAttrData);
        ASSERT_TRUE(data);
        RunList runs = DecodeRunList(view, *data);
        // The volume ends 16 sectors into the file's first run.
        v.endSector = runs.runs[0].lcn * boot_.spc + 16;
        auto faulty = std::make_shared<test::FaultyDevice>(device_);
        faulty->FailRange(v.endSector * 512, device_->SizeBytes() - v.endSector * 512);
        v.device = faulty.get();
        NtfsStringSink sink;
        NtfsReadReport r = ReadNtfsFileData(v, view, 2097152, sink);
        EXPECT_EQ(sink.bytes.size(), 2097152u);
        EXPECT_EQ(r.unreadableSectors, 2097152u / 512 - 16);
        EXPECT_EQ(sink.bytes.substr(16 * 512), std::string(2097152 - 16 * 512, '\0'));
    }
}

}  // namespace
}  // namespace torvane
