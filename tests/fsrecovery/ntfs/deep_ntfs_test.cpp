// The NTFS half of the Deep Search: the sweep that takes FILE records and
// INDX blocks apart wherever they lie, the layout of a volume without a boot
// sector, the numbering by $MFT slot and the results it builds; on records
// made by the test builder (the corrupt and rare shapes) and on the fixture
// volume made by mkntfs and ntfs-3g.
#include "fsrecovery/ntfs/deep_ntfs_assemble.h"
#include "fsrecovery/ntfs/deep_ntfs_scan.h"
#include "fsrecovery/ntfs/deep_ntfs_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "disk/volume_geometry.h"
#include "ntfs_test_records.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <set>

namespace torvane {
namespace {

using test::Bytes;
using test::PutU16;
using test::PutU32;
using test::PutU64;

constexpr std::uint64_t kDirFlag = 0x10000000;

struct IndexItem {
    std::uint64_t reference = 0;
    std::uint64_t parent = 5;
    std::u16string name;
    bool directory = false;
    std::uint64_t size = 0;
    std::uint8_t nameSpace = 1;
};

// An INDX block of `size` bytes (update sequence protected) holding `items`
// and the last entry.
Bytes IndexBlock(const std::vector<IndexItem>& items, std::size_t size = 4096)
{
    Bytes b(size, 0);
    b[0] = 'I';
    b[1] = 'N';
    b[2] = 'D';
    b[3] = 'X';
    const std::uint16_t sectors = static_cast<std::uint16_t>(size / 512);
    PutU16(b, 4, 40);
    PutU16(b, 6, static_cast<std::uint16_t>(sectors + 1));
    const std::size_t firstEntry = 40 + 2 * (sectors + 1);
    const std::size_t aligned = (firstEntry + 7) / 8 * 8;
    PutU32(b, 24, static_cast<std::uint32_t>(aligned - 24));
    PutU32(b, 32, static_cast<std::uint32_t>(size - 24));
    std::size_t at = aligned;
    for (const IndexItem& it : items) {
        Bytes key = test::FileNameValue(it.parent, it.name, it.nameSpace, 1000, it.size, it.size);
        PutU32(key, 56, it.directory ? static_cast<std::uint32_t>(kDirFlag) : 0x20);
        const std::size_t length = (16 + key.size() + 7) / 8 * 8;
        PutU64(b, at, it.reference);
        PutU16(b, at + 8, static_cast<std::uint16_t>(length));
        PutU16(b, at + 10, static_cast<std::uint16_t>(key.size()));
        std::copy(key.begin(), key.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 16));
        at += length;
    }
    PutU16(b, at + 8, 16);
    b[at + 12] = 2;
    PutU32(b, 28, static_cast<std::uint32_t>(at + 16 - 24));
    // Protect: sector ends into the array.
    PutU16(b, 40, 0x0009);
    for (std::size_t s = 0; s < sectors; ++s) {
        const std::size_t end = s * 512 + 510;
        b[40 + 2 * (s + 1)] = b[end];
        b[40 + 2 * (s + 1) + 1] = b[end + 1];
        PutU16(b, end, 0x0009);
    }
    return b;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes FileRecord(std::uint32_t number, std::uint16_t flags, std::uint64_t parent, const std::u16string& name,
                 std::uint16_t sequence = 1)
{
    return test::RecordBuilder(flags, number, sequence)
        .FileName(parent, name, kNtfsNamespaceWin32, 777)
        .Resident(0x80, Bytes(37, 'x'))
        .Build();
}

// Rows keep their order and their address across the small first chunks and
// the full ones that follow.
TEST(DeepNtfsRowChunks, EveryRowIsFoundAtItsNumberAndKeepsItsAddress)
{
    DeepRowChunks<std::uint64_t> rows;
    const std::size_t n = 3 * DeepRowChunks<std::uint64_t>::kChunkRows + 7;
    std::vector<const std::uint64_t*> addresses;
    for (std::size_t i = 0; i < n; ++i) {
        rows.push_back(i * 3 + 1);
        addresses.push_back(&rows.back());
        ASSERT_EQ(rows.size(), i + 1);
    }
    std::size_t i = 0;
    for (const std::uint64_t& v : rows) {
        ASSERT_EQ(v, i * 3 + 1) << i;
        ASSERT_EQ(&rows[i], addresses[i]) << i;
        ASSERT_EQ(&v, addresses[i]) << i;
        ++i;
    }
    EXPECT_EQ(i, n);
    rows.clear();
    EXPECT_TRUE(rows.empty());
    rows.push_back(5);
    EXPECT_EQ(rows[0], 5u);
}

TEST(DeepNtfsRecord, TakesNameParentNumberSizeAndFlagsFromAFixedUpRecord)
{
    Bytes rec = FileRecord(70, 1, 66, u"  report.txt ", 4);
    DeepNtfsFileRecord row;
    ASSERT_TRUE(ParseDeepFileRecord(rec.data(), 1234, row));
    EXPECT_EQ(row.sector, 1234u);
    EXPECT_EQ(row.number, 70u);
    EXPECT_TRUE(row.hasNumber);
    EXPECT_EQ(row.parent, 66u);
    EXPECT_EQ(row.name, "report.txt");
    EXPECT_EQ(row.size, 37u);
    EXPECT_EQ(row.sequence, 4);
    EXPECT_EQ(row.creationTime, 777u);
    EXPECT_FALSE(row.IsDirectory());
}

TEST(DeepNtfsRecord, RefusesOtherAllocatedSizesAndArraysThatDoNotFit)
{
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"allocated size 4096", [](Bytes& b) { PutU32(b, 28, 4096); }},
        {"no signature", [](Bytes& b) { b[0] = 'B'; }},
        {"update sequence past the record", [](Bytes& b) { PutU16(b, 4, 1020); }},
        {"update sequence count too large", [](Bytes& b) { PutU16(b, 6, 40); }},
    };
    for (const Case& c : cases) {
        Bytes rec = FileRecord(70, 1, 66, u"a.txt");
        c.damage(rec);
        DeepNtfsFileRecord row;
        EXPECT_FALSE(ParseDeepFileRecord(rec.data(), 0, row)) << c.what;
    }
}

TEST(DeepNtfsIndex, KeepsOrdinaryDirectoriesBlocksAndWalksEveryEntry)
{
    const std::vector<IndexItem> items = {
        {0x0001000000000040ull, 5, u"Docs", true},
        {0x0002000000000041ull, 5, u"a.txt", false, 300},
        {0x0001000000000042ull, 5, u"LONGNA~1.TXT", false, 10, 2},
    };
    struct Case {
        std::uint64_t parent;
        std::size_t expected;
    };
    for (Case c : {Case{5, 3}, Case{77, 3}, Case{3, 0}, Case{0, 0}, Case{0xFFFFFFFF, 0}}) {
        std::vector<IndexItem> its = items;
        for (auto& it : its)
            it.parent = c.parent;
        Bytes block = IndexBlock(its);
        std::vector<DeepNtfsIndexEntry> out;
        EXPECT_EQ(ParseDeepIndexBlock(block.data(), block.size(), 99, out), c.expected) << c.parent;
        if (c.expected == 3) {
            EXPECT_TRUE(out[0].directory);
            EXPECT_EQ(out[0].name, "Docs");
            EXPECT_EQ(out[1].reference, 0x0002000000000041ull);
            EXPECT_EQ(out[1].size, 300u);
            EXPECT_EQ(out[2].nameSpace, 2);
            EXPECT_EQ(out[1].indexSector, 99u);
        }
    }
}

TEST(DeepNtfsIndex, HostileBlocksNeverReadPastTheirBuffer)
{
    const Bytes good = IndexBlock({{64, 5, u"Docs", true}, {65, 5, u"b.txt"}});
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        std::size_t expected;
    };
    const Case cases[] = {
        {"first entry past the block", [](Bytes& b) { PutU32(b, 24, 0xFFFFFF00u); }, 0},
        {"update sequence count 200", [](Bytes& b) { PutU16(b, 6, 200); }, 0},
        {"update sequence offset at the end", [](Bytes& b) { PutU16(b, 4, 4094); }, 0},
        {"entry length 0", [](Bytes& b) { PutU16(b, 64 + 8, 0); }, 0},
        {"entry length past the block", [](Bytes& b) { PutU16(b, 64 + 8, 0xFFF0); }, 0},
        {"key longer than the entry", [](Bytes& b) { PutU16(b, 64 + 10, 0x400); }, 1},
        {"name length past the key", [](Bytes& b) { b[64 + 16 + 64] = 250; }, 1},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        c.damage(b);
        // The block alone in a buffer of its exact size (ASan sees any overrun).
        std::vector<std::uint8_t> exact(b.begin(), b.end());
        std::vector<DeepNtfsIndexEntry> out;
        EXPECT_EQ(ParseDeepIndexBlock(exact.data(), exact.size(), 0, out), c.expected) << c.what;
    }
    std::vector<DeepNtfsIndexEntry> out;
    Bytes b = good;
    EXPECT_EQ(ParseDeepIndexBlock(b.data(), 100, 0, out), 0u) << "a size that is no multiple of 512";
    EXPECT_EQ(DeepIndexBlockSize(good.data(), 512), 4096u);
    Bytes big = good;
    PutU32(big, 32, 70000);
    EXPECT_EQ(DeepIndexBlockSize(big.data(), 512), 0u);
    PutU32(big, 32, 0);
    EXPECT_EQ(DeepIndexBlockSize(big.data(), 512), 0u);
}

TEST(DeepNtfsSweep, FindsRecordsAndBlocksAnywhereAndReadsWhatRunsPastTheChunk)
{
    // A 1 MiB device: records at odd places, a block across the chunk end.
    auto device = std::make_shared<test::SparseDevice>(1 << 20);
    device->WriteSector(3, Str(FileRecord(64, 3, 5, u"Docs")));
    device->WriteSector(1023, Str(FileRecord(65, 1, 64, u"straddles.txt")));  // sectors 1023 and 1024
    device->WriteSector(2040, Str(IndexBlock({{65, 64, u"straddles.txt"}})));   // 8 sectors: 2040..2047
    Bytes big = FileRecord(66, 1, 64, u"wrong size");
    PutU32(big, 28, 4096);
    device->WriteSector(100, Str(big));

    DeepNtfsTable table;
    DeepNtfsSweep sweep(table, [&](std::uint64_t first, std::uint32_t count, std::uint8_t* out) {
        return device->ReadAt(first * 512, out, count * 512ull) == static_cast<std::int64_t>(count * 512ull);
    });
    std::vector<std::uint8_t> chunk(1024 * 512);
    for (std::uint64_t at = 0; at < 2048; at += 1024) {
        // The second chunk comes in two pieces, as after a failed read.
        ASSERT_EQ(device->ReadAt(at * 512, chunk.data(), chunk.size()), static_cast<std::int64_t>(chunk.size()));
        if (at == 0) {
            sweep.ExamineChunk(chunk.data(), chunk.size(), at);
        } else {
            sweep.ExamineChunk(chunk.data(), 1020 * 512, at);
            sweep.ExamineChunk(chunk.data() + 1020 * 512, 4 * 512, at + 1020);
        }
    }
    ASSERT_EQ(table.FileRecords().size(), 2u);
    EXPECT_EQ(table.FileRecords()[0].sector, 3u);
    EXPECT_TRUE(table.FileRecords()[0].IsDirectory());
    EXPECT_EQ(table.FileRecords()[1].name, "straddles.txt");
    EXPECT_EQ(table.FileRecords()[1].sector, 1023u);
    ASSERT_EQ(table.IndexEntries().size(), 1u);
    EXPECT_EQ(table.IndexEntries()[0].indexSector, 2040u);
    EXPECT_EQ(table.FirstRowOfNumber(65), 1);
    EXPECT_EQ(table.FirstRowOfNumber(66), -1);

    // With an end at 1024, the record across the chunk end is not read.
    DeepNtfsTable bounded;
    DeepNtfsSweep limited(bounded, [&](std::uint64_t first, std::uint32_t count, std::uint8_t* out) {
        return device->ReadAt(first * 512, out, count * 512ull) == static_cast<std::int64_t>(count * 512ull);
    }, 1024);
    ASSERT_EQ(device->ReadAt(0, chunk.data(), chunk.size()), static_cast<std::int64_t>(chunk.size()));
    limited.ExamineChunk(chunk.data(), chunk.size(), 0);
    EXPECT_EQ(bounded.FileRecords().size(), 1u);
}

// Builds results from records placed on a device, all at once.
struct Built {
    std::shared_ptr<test::SparseDevice> device = std::make_shared<test::SparseDevice>(4 << 20);
    ScanResults results;
    CurrentPartition partition;

    Built()
    {
        results.SetRecoveryMode(2);
        partition.Device = device;
        partition.Descriptor.StartSector = 0;
        partition.Descriptor.EndSector = device->SizeBytes() / 512;
    }
    std::shared_ptr<FileSystemVolume> Scan(std::chrono::milliseconds pass = std::chrono::milliseconds(0))
    {
        DeepNtfsScanControl c;
        c.passInterval = pass;
        return RunDeepNtfsScan(results, partition, c);
    }
    std::set<std::string> Folders()
    {
        std::set<std::string> out;
        std::function<void(TreeNodeId, const std::string&)> walk = [&](TreeNodeId item, const std::string& path) {
            for (TreeNodeId c : results.Tree().Children(item)) {
                const std::string p = path + "/" + results.Tree().Text(c);
                out.insert(p);
                walk(c, p);
            }
        };
        walk(results.Tree().RootItem(), "");
        return out;
    }
    std::map<std::string, std::uint64_t> FilesOf(std::uint64_t parent)
    {
        std::map<std::string, std::uint64_t> out;
        for (const FoundEntry& e : results.FoundEntries())
            if (e.parentId == parent)
                out[e.name + (e.fromIndex ? " (index)" : "")] = e.ownId;
        return out;
    }
};

TEST(DeepNtfsAssemble, PlacesFoldersFilesAndIndexEntriesAndGivesMissingParentsPlaceholders)
{
    Built b;
    b.device->WriteSector(10, Str(FileRecord(64, 3, 5, u"Docs")));
    b.device->WriteSector(12, Str(FileRecord(65, 2, 64, u"Old")));       // deleted folder in Docs
    b.device->WriteSector(14, Str(FileRecord(66, 1, 65, u"in old.txt")));
    b.device->WriteSector(16, Str(FileRecord(67, 1, 900, u"orphan.txt")));  // parent never found
    b.device->WriteSector(18, Str(FileRecord(5, 3, 5, u".")));            // the root itself
    b.device->WriteSector(20, Str(FileRecord(68, 0, 5, u"deleted.txt")));
    b.device->WriteSector(22, Str(FileRecord(64, 3, 5, u"Docs")));        // a second copy of 64
    // Docs' index: a file whose record is gone, a folder whose record is
    // gone, a file whose record was found (not repeated), a "~" name.
    b.device->WriteSector(40, Str(IndexBlock({{0x0001000000000041ull, 64, u"Old", true},
                                              {0x0001000000000045ull, 64, u"gone.txt", false, 10},
                                              {0x0001000000000046ull, 64, u"Lost folder", true},
                                              {0x0001000000000046ull, 64, u"LOSTFO~1", true, 0, 2},
                                              {0x0001000000000042ull, 64, u"in old.txt", false, 37},
                                              {0x0001000000000047ull, 64, u"GONE~1.TXT", false, 10, 2}})));
    b.Scan();
    const std::set<std::string> folders = b.Folders();
    // Below "Root": 64 once (its second copy adds nothing), the deleted
    // folder found by its record, the folder only its parent's index names,
    // and a placeholder for the parent nobody found.
    EXPECT_EQ(folders, (std::set<std::string>{"/Docs", "/Docs/Lost folder", "/Docs/Old", "/KZU_Miscellaneous",
                                              "/KZU_Miscellaneous/DIR1"}));

    EXPECT_EQ(b.FilesOf(65), (std::map<std::string, std::uint64_t>{{"in old.txt", 14}}));
    EXPECT_EQ(b.FilesOf(64), (std::map<std::string, std::uint64_t>{{"gone.txt (index)", 0x0001000000000045ull}}));
    EXPECT_EQ(b.FilesOf(900), (std::map<std::string, std::uint64_t>{{"orphan.txt", 16}}));
    EXPECT_EQ(b.FilesOf(5), (std::map<std::string, std::uint64_t>{{"deleted.txt", 20}}));
    // The deleted folder carries its mark.
    auto lk = b.results.Lock();
    for (std::size_t i = 0; i < b.results.FolderCount(); ++i) {
        const RecoveredFolder* f = b.results.FolderAt(i);
        EXPECT_EQ(f->deleted, f->name == "Old" ? 1u : 0u) << f->name;
    }
}

TEST(DeepNtfsAssemble, IncrementalPassesGrowTheTreeAndTheEndIsTheSame)
{
    Built once, passes;
    for (Built* b : {&once, &passes}) {
        for (std::uint32_t i = 0; i < 200; ++i) {
            const std::uint64_t parent = i == 0 ? 5 : 64 + (i - 1) / 3;
            b->device->WriteSector(4 * i, Str(FileRecord(64 + i, 3, parent, u"d" + std::u16string(1, u'a' + i % 26) +
                                                                              std::u16string(1, u'a' + i / 26))));
            b->device->WriteSector(4 * i + 2, Str(FileRecord(5000 + i, 1, 64 + i, u"f.txt")));
        }
    }
    once.Scan();
    // A pass after every chunk: the tree grows while the sweep goes on.
    passes.Scan(std::chrono::milliseconds(1));
    EXPECT_EQ(passes.Folders(), once.Folders());
    EXPECT_EQ(passes.results.FoundEntries().size(), once.results.FoundEntries().size());
    EXPECT_EQ(once.results.FoundEntries().size(), 200u);
    EXPECT_EQ(once.Folders().size(), 201u);  // the 200 and KZU_Miscellaneous
}

// ---- the fixture volume ------------------------------------------------------------

class DeepNtfsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(test::FixtureImage("ntfs.img")))
            GTEST_SKIP() << "fixture ntfs.img not unpacked";
        ASSERT_TRUE(test::OpenFixtureVolume("ntfs.img", "NTFS", partition_));
        ASSERT_TRUE(ReadVolumeParameters(partition_));
        boot_ = partition_.Geometry;
        ASSERT_EQ(boot_.SectorsPerCluster, 8u);
    }

    // Sweeps the whole image into a table.
    DeepNtfsTable Sweep(Device& device)
    {
        DeepNtfsTable table;
        DeepNtfsSweep sweep(table, {});
        std::vector<std::uint8_t> chunk(1024 * 512);
        const std::uint64_t sectors = device.SizeBytes() / 512;
        for (std::uint64_t at = 0; at < sectors; at += 1024) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(1024, sectors - at));
            EXPECT_EQ(device.ReadAt(at * 512, chunk.data(), n * 512), static_cast<std::int64_t>(n * 512));
            sweep.ExamineChunk(chunk.data(), n * 512, at);
        }
        return table;
    }

    CurrentPartition partition_;
    VolumeGeometry boot_;
};

TEST_F(DeepNtfsFixture, EveryMftRecordIsFoundAndNumberedByItsSlot)
{
    DeepNtfsTable table = Sweep(*partition_.Device);
    NtfsVolume volume;
    volume.device = partition_.Device.get();
    volume.sectorsPerCluster = 8;
    const MftRunTable mft = BuildMftRunTable(volume, boot_.MftStart);
    ASSERT_FALSE(mft.Empty());
    std::map<std::uint64_t, std::size_t> bySector;  // sector -> row
    for (std::size_t i = 0; i < table.FileRecords().size(); ++i)
        bySector[table.FileRecords()[i].sector] = i;
    std::size_t inMft = 0, named = 0;
    for (std::uint64_t n = 0; n < mft.RecordCount(); ++n) {
        std::array<std::uint8_t, 1024> rec{};
        if (ReadMftRecordByNumber(volume, mft, n, rec.data()) != MftRecordRead::Ok)
            continue;
        ++inMft;
        auto it = bySector.find(mft.MftRecordToSector(n));
        ASSERT_NE(it, bySector.end()) << "record " << n;
        const DeepNtfsFileRecord& r = table.FileRecords()[it->second];
        // By its slot; the own number agrees where the record has one (the
        // reserved records 16 to 23 are written in the older layout).
        EXPECT_EQ(DeepNtfsRecordNumber(r, &mft), std::optional<std::uint32_t>(static_cast<std::uint32_t>(n)));
        if (r.hasNumber) {
            EXPECT_EQ(r.number, n);
            if (!r.IsExtension())
                EXPECT_EQ(table.FirstRowOfNumber(r.number), static_cast<std::int64_t>(it->second)) << n;
        }
        named += r.hasName ? 1 : 0;
    }
    EXPECT_GT(inMft, 60u);
    EXPECT_GT(named, 40u);
    // The mirror's copies of records 0 and 1, the cluster size from the allocations.
    EXPECT_EQ(table.RecordZeroCopies().size(), 2u);
    EXPECT_EQ(table.RecordOneCopies().size(), 2u);
    const auto& votes = table.ClusterShiftVotes();
    EXPECT_EQ(std::max_element(votes.begin(), votes.end()) - votes.begin(), 3);
    EXPECT_GT(table.IndexBlocks(), 3u);

    // Without the boot sector: the same layout from the records alone.
    DeepNtfsLayout layout = DeriveDeepNtfsLayout(table, partition_.Device.get(), 0, {}, 0);
    EXPECT_TRUE(layout.derived);
    EXPECT_EQ(layout.cluster0, 0u);
    EXPECT_EQ(layout.sectorsPerCluster, 8u);
    EXPECT_EQ(layout.mft->Extents(), mft.Extents());
}

TEST_F(DeepNtfsFixture, ClusterZeroIsFoundWhereTheVolumeWasMovedWithoutTable)
{
    // The volume 3000 sectors into a bigger device; nothing tells where it starts.
    const std::uint64_t shift = 3000;
    const std::uint64_t bytes = partition_.Device->SizeBytes();
    std::string image(bytes, '\0');
    ASSERT_EQ(partition_.Device->ReadAt(0, image.data(), bytes), static_cast<std::int64_t>(bytes));
    image.replace(0, 512, std::string(512, '\0'));
    image.replace(bytes - 512, 512, std::string(512, '\0'));
    auto device = std::make_shared<test::SparseDevice>(bytes + shift * 512 + (1 << 20));
    device->Write(shift * 512, image);
    DeepNtfsTable table = Sweep(*device);
    DeepNtfsLayout layout = DeriveDeepNtfsLayout(table, device.get(), 0, {}, 0);
    EXPECT_EQ(layout.cluster0, shift);
    EXPECT_EQ(layout.sectorsPerCluster, 8u);
    EXPECT_EQ(layout.mft->MftRecordToSector(0), shift + boot_.MftStart);
    EXPECT_GT(layout.recordsInPlace, 40u);
}

}  // namespace
}  // namespace torvane
