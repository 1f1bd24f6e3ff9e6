// The $MFT run table and the file reader on small synthetic volumes: the
// shapes that the fixture tools do not write (negative and sparse $MFT runs,
// a $MFT and files spread over extension records, looping attribute lists,
// runs past the volume) and the reader's stop and write failures.
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "ntfs_test_records.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

using test::Bytes;
using test::EncodeRuns;
using test::PutU16;
using test::PutU32;
using test::RecordBuilder;
using test::TestRun;

constexpr std::uint32_t kSpc = 2;           // 1 KiB clusters
constexpr std::uint64_t kVolumeSectors = 8192;
constexpr std::uint64_t kClusterBytes = kSpc * 512;

// A volume in memory: cluster 0 at sector 0.
class SyntheticVolume {
public:
    SyntheticVolume() : bytes_(kVolumeSectors * 512, '\0') {}

    void PutBytes(std::uint64_t offset, const Bytes& b) { std::copy(b.begin(), b.end(), bytes_.begin() + offset); }
    void PutCluster(std::uint64_t lcn, char fill, std::uint64_t count = 1)
    {
        for (std::uint64_t i = 0; i < count; ++i)
            for (std::uint64_t k = 0; k < kClusterBytes; ++k)
                bytes_[(lcn + i) * kClusterBytes + k] = static_cast<char>(fill + ((k / 512) % 2));
    }
    std::string ClusterContent(char fill, std::uint64_t count = 1) const
    {
        std::string s;
        for (std::uint64_t i = 0; i < count; ++i)
            for (std::uint64_t k = 0; k < kClusterBytes; ++k)
                s.push_back(static_cast<char>(fill + ((k / 512) % 2)));
        return s;
    }
    // Puts a record at record number `n` of an $MFT starting at `mftSector`
    // in one extent.
    void PutRecord(std::uint64_t mftSector, std::uint64_t n, const Bytes& record)
    {
        PutBytes((mftSector + 2 * n) * 512, record);
    }
    NtfsVolume Open()
    {
        device_ = MakeMemoryDevice("synthetic", bytes_);
        NtfsVolume v;
        v.device = device_.get();
        v.cluster0Sector = 0;
        v.sectorsPerCluster = kSpc;
        v.endSector = kVolumeSectors;
        return v;
    }

private:
    std::string bytes_;
    DevicePtr device_;
};

Bytes MftRecordZero(const std::vector<TestRun>& runs)
{
    std::uint64_t clusters = 0;
    for (const TestRun& r : runs)
        clusters += r.length;
    return RecordBuilder(1, 0)
        .FileName(5, u"$MFT", 3)
        .NonResident(0x80, EncodeRuns(runs), 0, clusters - 1, clusters * kClusterBytes)
        .Build();
}

Bytes ListEntry(std::uint32_t type, std::uint64_t firstVcn, std::uint64_t reference)
{
    Bytes e(32, 0);
    PutU32(e, 0, type);
    PutU16(e, 4, 32);
    e[7] = 26;
    test::PutU64(e, 8, firstVcn);
    test::PutU64(e, 16, reference);
    return e;
}

Bytes ListValue(const std::vector<Bytes>& entries)
{
    Bytes v;
    for (const Bytes& e : entries)
        v.insert(v.end(), e.begin(), e.end());
    return v;
}

// ---- MFT run table ----

TEST(MftRunTable, ExtentsFromRecordZero)
{
    struct Case {
        const char* what;
        std::vector<TestRun> runs;
        std::vector<MftExtent> extents;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> recordToSector;
    };
    const Case cases[] = {
        {"one extent", {{200, 100}}, {{200, 400, false}}, {{0, 200}, {100, 400}, {199, 598}, {200, 0}}},
        {"second run before the first", {{16, 1000}, {16, 500}},
         {{2000, 32, false}, {1000, 32, false}}, {{15, 2030}, {16, 1000}, {31, 1030}, {32, 0}}},
        {"sparse run between two", {{8, 1000}, {4, 0, true}, {8, 1100}},
         {{2000, 16, false}, {0, 8, true}, {2200, 16, false}}, {{7, 2014}, {8, 0}, {11, 0}, {12, 2200}}},
    };
    for (const Case& c : cases) {
        SyntheticVolume vol;
        const std::uint64_t mft = c.runs[0].lcn * kSpc;
        vol.PutRecord(mft, 0, MftRecordZero(c.runs));
        NtfsVolume v = vol.Open();
        MftRunTableReport rep;
        MftRunTable t = BuildMftRunTable(v, mft, 0, &rep);
        EXPECT_EQ(t.Extents(), c.extents) << c.what;
        EXPECT_FALSE(rep.incomplete) << c.what;
        for (auto [record, sector] : c.recordToSector)
            EXPECT_EQ(t.MftRecordToSector(record), sector) << c.what << " record " << record;
    }
}

TEST(MftRunTable, RunPastTheVolumeEndsTheTableThere)
{
    SyntheticVolume vol;
    vol.PutRecord(200, 0, MftRecordZero({{16, 100}, {5000, 3000}}));
    NtfsVolume v = vol.Open();
    MftRunTableReport rep;
    MftRunTable t = BuildMftRunTable(v, 200, 0, &rep);
    EXPECT_TRUE(rep.incomplete);
    ASSERT_EQ(t.Count(), 2u);
    EXPECT_EQ(t.Extents()[1].startSector, 6000u);
    EXPECT_EQ(t.Extents()[1].sectors, kVolumeSectors - 6000);  // up to the volume's end, not beyond
}

TEST(MftRunTable, NoFileRecordGivesAnEmptyTable)
{
    SyntheticVolume vol;
    NtfsVolume v = vol.Open();
    EXPECT_TRUE(BuildMftRunTable(v, 200, 0).Empty());
    EXPECT_TRUE(BuildMftRunTable(v, kVolumeSectors + 10, 0).Empty());  // outside the volume
}

// A $MFT whose $DATA continues in extension record 3, named by record 0's
// attribute list; and the same list made to loop.
TEST(MftRunTable, FollowsTheAttributeListIntoExtensionRecords)
{
    for (bool looping : {false, true}) {
        SyntheticVolume vol;
        std::vector<Bytes> entries = {ListEntry(0x10, 0, 0), ListEntry(0x80, 0, 0),
                                      ListEntry(0x80, 16, 0x0001000000000003ull)};
        if (looping) {
            // Record 3 named again, record 0 named as its own extension, and a
            // record far beyond the extents known.
            entries.push_back(ListEntry(0x80, 16, 0x0001000000000003ull));
            entries.push_back(ListEntry(0x80, 32, 0x0001000000000003ull));
            entries.push_back(ListEntry(0x80, 48, 0x00010000000F0000ull));
        }
        Bytes record0 = RecordBuilder(1, 0)
                            .Resident(0x20, ListValue(entries))
                            .FileName(5, u"$MFT", 3)
                            .NonResident(0x80, EncodeRuns({{16, 100}}), 0, 15, 32 * kClusterBytes)
                            .Build();
        vol.PutRecord(200, 0, record0);
        vol.PutRecord(200, 3, RecordBuilder(1, 3).NonResident(0x80, EncodeRuns({{16, 700}}), 16, 31, 0).Build());
        NtfsVolume v = vol.Open();
        MftRunTableReport rep;
        MftRunTable t = BuildMftRunTable(v, 200, 0, &rep);
        ASSERT_EQ(t.Count(), 2u) << looping;
        EXPECT_EQ(t.Extents()[1], (MftExtent{1400, 32, false}));
        EXPECT_TRUE(rep.attributeListFollowed);
        EXPECT_EQ(rep.extensionRecords, 1u);
        EXPECT_EQ(rep.incomplete, looping);
        EXPECT_EQ(t.MftRecordToSector(20), 1400u + 8);
    }
}

// ---- file reader ----

struct ReaderFixture : ::testing::Test {
    static constexpr std::uint64_t kMft = 200;  // sector; 64 records
    SyntheticVolume vol;
    NtfsVolume volume;
    MftRunTable table;

    void Finish()
    {
        vol.PutRecord(kMft, 0, MftRecordZero({{64, kMft / kSpc}}));
        volume = vol.Open();
        table = BuildMftRunTable(volume, kMft);
        ASSERT_EQ(table.RecordCount(), 64u);
    }
    Bytes Record(std::uint64_t n)
    {
        Bytes rec(kMftRecordSize);
        EXPECT_EQ(ReadMftRecord(volume, table.MftRecordToSector(n), rec.data()), MftRecordRead::Ok);
        return rec;
    }
    NtfsReadReport Read(std::uint64_t n, std::uint64_t size, std::string& out, const NtfsReadControl& c = {},
                        bool withTable = true)
    {
        Bytes rec = Record(n);
        NtfsStringSink sink;
        NtfsReadReport r = ReadNtfsFileData(volume, NtfsBytes(rec.data(), rec.size()), size, sink, c,
                                            withTable ? &table : nullptr);
        out = sink.bytes;
        return r;
    }
};

TEST_F(ReaderFixture, RunsInFileOrderCutAtTheSize)
{
    vol.PutCluster(300, 'a', 2);
    vol.PutCluster(200, 'c', 3);
    vol.PutCluster(400, 'e', 2);
    const std::uint64_t size = 6 * kClusterBytes + 300;
    vol.PutRecord(kMft, 30,
                  RecordBuilder(1, 30)
                      .FileName(5, u"three runs.bin", 1)
                      .NonResident(0x80, EncodeRuns({{2, 300}, {3, 200}, {2, 400}}), 0, 6, size)
                      .Build());
    Finish();
    std::string out;
    NtfsReadReport r = Read(30, size, out);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete);
    const std::string want = vol.ClusterContent('a', 2) + vol.ClusterContent('c', 3) + vol.ClusterContent('e', 2);
    EXPECT_EQ(out, want.substr(0, size));
}

TEST_F(ReaderFixture, SparseRunsAndUninitialisedBytesAreZeros)
{
    vol.PutCluster(300, 'a', 2);
    vol.PutCluster(310, 'g', 2);
    const std::uint64_t size = 6 * kClusterBytes;
    // 2 clusters, 2 sparse, 2 clusters; initialised only up to 5.5 clusters.
    vol.PutRecord(kMft, 31,
                  RecordBuilder(1, 31)
                      .NonResident(0x80, EncodeRuns({{2, 300}, {2, 0, true}, {2, 310}}), 0, 5, size,
                                   kNtfsAttrFlagSparse, 0, u"", size - 512)
                      .Build());
    Finish();
    std::string out;
    NtfsReadReport r = Read(31, size, out);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete);
    EXPECT_EQ(r.sparseBytes, 2 * kClusterBytes);
    std::string want = vol.ClusterContent('a', 2) + std::string(2 * kClusterBytes, '\0') + vol.ClusterContent('g', 2);
    want.replace(size - 512, 512, std::string(512, '\0'));
    EXPECT_EQ(out, want);
}

TEST_F(ReaderFixture, ResidentDataAndRecordsWithoutData)
{
    vol.PutRecord(kMft, 32, RecordBuilder(1, 32).Resident(0x80, Bytes{'h', 'e', 'l', 'l', 'o'}).Build());
    vol.PutRecord(kMft, 33, RecordBuilder(1, 33).FileName(5, u"no data", 1).Build());
    Finish();
    std::string out;
    NtfsReadReport r = Read(32, 5, out);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete);
    EXPECT_TRUE(r.resident);
    EXPECT_EQ(out, "hello");
    // A size beyond the value: the value, and the read says it is short.
    EXPECT_EQ(Read(32, 4096, out).outcome, NtfsReadOutcome::Incomplete);
    EXPECT_EQ(out, "hello");
    EXPECT_EQ(Read(33, 100, out).outcome, NtfsReadOutcome::NoData);
    EXPECT_EQ(out, "");
}

// File record 40 keeps its $DATA in extension records 41 and 42, named by
// its attribute list; variants make the list loop or name stale records.
TEST_F(ReaderFixture, DataInExtensionRecords)
{
    vol.PutCluster(300, 'a', 4);
    vol.PutCluster(400, 'k', 4);
    const std::uint64_t size = 8 * kClusterBytes - 100;
    const std::vector<Bytes> entries = {ListEntry(0x10, 0, 40), ListEntry(0x30, 0, 40),
                                        ListEntry(0x80, 0, 0x0001000000000029ull),
                                        ListEntry(0x80, 4, 0x000100000000002Aull)};
    vol.PutRecord(kMft, 40,
                  RecordBuilder(1, 40).Resident(0x20, ListValue(entries)).FileName(5, u"big", 1).Build());
    vol.PutRecord(kMft, 41,
                  RecordBuilder(1, 41).BaseRecord(40).NonResident(0x80, EncodeRuns({{4, 300}}), 0, 3, size).Build());
    vol.PutRecord(kMft, 42,
                  RecordBuilder(1, 42).BaseRecord(40).NonResident(0x80, EncodeRuns({{4, 400}}), 4, 7, 0).Build());
    // Record 50: the same list looping: record 41 named four times, the base
    // record itself, and record 43 which belongs to another file.
    const std::vector<Bytes> looping = {ListEntry(0x80, 0, 0x0001000000000029ull), ListEntry(0x80, 0, 0x0001000000000029ull),
                                        ListEntry(0x80, 0, 0x0001000000000032ull), ListEntry(0x80, 0, 0x0001000000000029ull),
                                        ListEntry(0x80, 4, 0x000100000000002Bull), ListEntry(0x80, 0, 0x0001000000000029ull)};
    vol.PutRecord(kMft, 50, RecordBuilder(1, 50).Resident(0x20, ListValue(looping)).Build());
    vol.PutRecord(kMft, 43,
                  RecordBuilder(1, 43).BaseRecord(44).NonResident(0x80, EncodeRuns({{4, 400}}), 4, 7, 0).Build());
    Finish();

    std::string out;
    NtfsReadReport r = Read(40, size, out);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Complete);
    EXPECT_TRUE(r.attributeListFollowed);
    EXPECT_EQ(out, (vol.ClusterContent('a', 4) + vol.ClusterContent('k', 4)).substr(0, size));

    // Without the run table the extension records cannot be found.
    r = Read(40, size, out, {}, false);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Incomplete);
    EXPECT_EQ(out, "");

    // Record 50's list: record 41 is read once (its base is 40, not 50, so
    // it is refused too), record 43 belongs to record 44: nothing is taken,
    // and the read ends.
    Bytes rec = Record(50);
    NtfsDataStream s = GatherNtfsDataStream(volume, NtfsBytes(rec.data(), rec.size()), &table);
    EXPECT_TRUE(s.found);
    EXPECT_TRUE(s.piecesMissing);
    EXPECT_TRUE(s.runs.empty());
    EXPECT_EQ(Read(50, size, out).outcome, NtfsReadOutcome::Incomplete);
}

TEST_F(ReaderFixture, StopAndWriteFailureEndTheCopy)
{
    vol.PutCluster(1000, 'm', 200);
    const std::uint64_t size = 200 * kClusterBytes;
    vol.PutRecord(kMft, 35, RecordBuilder(1, 35).NonResident(0x80, EncodeRuns({{200, 1000}}), 0, 199, size).Build());
    Finish();
    EXPECT_EQ(NtfsCopyChunkBytes(size), 64u * 512);
    EXPECT_EQ(NtfsCopyChunkBytes(128 * 512), 8u * 512);

    int chunks = 0;
    NtfsReadControl control;
    control.stopRequested = [&] { return chunks >= 2; };
    control.progress = [&](std::uint64_t) { ++chunks; };
    std::string out;
    NtfsReadReport r = Read(35, size, out, control);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::Stopped);
    EXPECT_EQ(out.size(), 2u * 64 * 512);

    struct FailingSink : NtfsDataSink {
        int calls = 0;
        bool Write(const std::uint8_t*, std::size_t) override { return ++calls < 3; }
    } failing;
    Bytes rec = Record(35);
    r = ReadNtfsFileData(volume, NtfsBytes(rec.data(), rec.size()), size, failing);
    EXPECT_EQ(r.outcome, NtfsReadOutcome::WriteFailed);
    EXPECT_EQ(failing.calls, 3);
    EXPECT_EQ(r.bytesWritten, 2u * 64 * 512);
}

}  // namespace
}  // namespace torvane
