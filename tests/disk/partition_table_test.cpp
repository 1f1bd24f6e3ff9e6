#include "disk/partition_table.h"
#include "disk_image_builder.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

using test::SparseImage;
using Src = FoundPartition::Source;

constexpr std::uint64_t kDisk = 2'000'000;  // ~1 GB

struct Expect {
    std::string name;
    std::uint64_t start, end;
};

void ExpectPartitions(const PartitionWalk& w, const std::vector<Expect>& want) {
    ASSERT_EQ(w.Partitions.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("partition " + std::to_string(i + 1));
        EXPECT_EQ(w.Partitions[i].FsName, want[i].name);
        EXPECT_EQ(w.Partitions[i].StartSector, want[i].start);
        EXPECT_EQ(w.Partitions[i].EndSector, want[i].end);
    }
}

PartitionWalk Walk(const SparseImage& img) {
    auto dev = img.Device();
    return WalkPartitionTable(*dev, img.Sectors());
}

TEST(PartitionTable, PrimariesThenEbrChainWithRelativeStarts) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x06, 2048, 100000);        // FAT16
    img.Fat16(2048, 4, 100, 4, 512, 100000);
    img.MbrEntry(0, 1, 0x07, 102048, 200000);      // NTFS, unformatted: the type byte decides
    img.MbrEntry(0, 2, 0x0F, 400000, 900000);      // extended
    // EBR 1 at 400000: FAT32 at +2048, link to +300000
    img.MbrEntry(400000, 0, 0x0B, 2048, 200000);
    img.Fat32(402048, 32, 1000, 8, 2, 200000);
    img.MbrEntry(400000, 1, 0x05, 300000, 300000);
    // EBR 2 at 700000: exFAT data at +63, link to +600000
    img.MbrEntry(700000, 0, 0x07, 63, 100000);
    img.Exfat(700063, 700063, 2048, 128, 4096, 12000, 4, 3, 100000);
    img.MbrEntry(700000, 1, 0x05, 600000, 200000);
    // EBR 3 at 1000000: an NTFS volume (type byte says FAT16: the boot sector wins)
    img.MbrEntry(1000000, 0, 0x06, 2048, 150000);
    img.Ntfs(1002048, 1002048, 8, 4, 2, 149999);

    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.HasSignature);
    EXPECT_FALSE(w.EbrLoop);
    ExpectPartitions(w, {{"FAT16", 2048, 102048},
                         {"NTFS", 102048, 302048},
                         {"FAT32", 402048, 602048},
                         {"exFAT", 700063, 800063},
                         {"NTFS", 1002048, 1152048}});
    EXPECT_EQ(w.Partitions[0].From, Src::Primary);
    EXPECT_EQ(w.Partitions[2].From, Src::Logical);
    EXPECT_EQ(w.Partitions[2].TableSector, 400000u);
    EXPECT_EQ(w.Partitions[4].TableSector, 1000000u);
}

TEST(PartitionTable, TypeByteFallbackAndRecognitionTable) {
    struct Case {
        std::uint8_t type;
        const char* boot;   // text written at its offset, or nullptr
        std::size_t offset;
        const char* expected;  // "" = not listed
    };
    const Case cases[] = {
        {0x07, "FAT32", 0x52, "FAT32"},  // boot sector beats the type byte
        {0x07, nullptr, 0, "NTFS"},
        {0x01, nullptr, 0, "FAT16"},     // FAT12 type byte listed as FAT16
        {0x04, nullptr, 0, "FAT16"},
        {0x0E, nullptr, 0, "FAT16"},
        {0x0C, nullptr, 0, "FAT32"},
        {0x83, nullptr, 0, ""},          // Linux
        {0x83, "EXFAT", 3, "exFAT"},
        {0x83, "FAT12", 0x36, ""},       // FAT12 is not recognised
        {0x27, "NTFS", 3, "NTFS"},       // hidden recovery partition with NTFS inside
        {0xEE, nullptr, 0, ""},          // protective entry without a GPT header
        {0x85, nullptr, 0, ""},          // Linux extended is not followed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " boot " << (c.boot ? c.boot : "-"));
        SparseImage img(kDisk);
        img.MbrEntry(0, 0, c.type, 2048, 50000);
        if (c.boot) img.PutText(2048, c.offset, c.boot);
        PartitionWalk w = Walk(img);
        if (*c.expected) {
            ExpectPartitions(w, {{c.expected, 2048, 52048}});
        } else {
            EXPECT_TRUE(w.Partitions.empty());
        }
    }
}

TEST(PartitionTable, NoSignatureListsNothing) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x07, 2048, 50000);
    img.Put8(0, 511, 0x00);  // 0x55 0x00
    PartitionWalk w = Walk(img);
    EXPECT_FALSE(w.HasSignature);
    EXPECT_TRUE(w.Partitions.empty());
}

TEST(PartitionTable, EntryNearTheEndStopsEverythingAfterIt) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x07, 2048, 10000);
    img.MbrEntry(0, 1, 0x0F, 20000, 100000);   // extended: chain marked
    img.MbrEntry(20000, 0, 0x07, 63, 1000);
    img.MbrEntry(0, 2, 0x07, kDisk - 0x5FFF, 100);  // starts 0x5FFF before the end
    img.MbrEntry(0, 3, 0x07, 500000, 1000);
    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.TailStop);
    ExpectPartitions(w, {{"NTFS", 2048, 12048}});  // no fourth primary, no chain

    SparseImage ok(kDisk);
    ok.MbrEntry(0, 0, 0x07, kDisk - 0x6000, 100);  // exactly 0x6000 before the end is kept
    ExpectPartitions(Walk(ok), {{"NTFS", kDisk - 0x6000, kDisk - 0x6000 + 100}});

    SparseImage beyond(kDisk);
    beyond.MbrEntry(0, 0, 0x07, 0xFFFFFF00u, 100);  // beyond the end of the disk
    EXPECT_TRUE(Walk(beyond).Partitions.empty());
}

TEST(PartitionTable, ExfatPrimaryIsNotFollowedAsExtended) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x0F, 4096, 100000);  // extended type byte, but an exFAT boot sector
    img.Exfat(4096, 4096, 2048, 128, 4096, 12000, 4, 3, 100000);
    img.MbrEntry(4096, 0, 0x07, 63, 1000);   // would be a logical if followed
    PartitionWalk w = Walk(img);
    ExpectPartitions(w, {{"exFAT", 4096, 104096}});
}

TEST(PartitionTable, LoopingEbrChainEnds) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x05, 100000, 500000);
    img.MbrEntry(100000, 0, 0x07, 63, 1000);
    img.MbrEntry(100000, 1, 0x05, 10000, 1000);   // -> EBR at 110000
    img.MbrEntry(110000, 0, 0x07, 63, 1000);
    img.MbrEntry(110000, 1, 0x05, 0, 1000);       // -> back to the first EBR
    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.EbrLoop);
    ExpectPartitions(w, {{"NTFS", 100063, 101063}, {"NTFS", 110063, 111063}});

    SparseImage self(kDisk);
    self.MbrEntry(0, 0, 0x05, 100000, 500000);
    self.MbrEntry(100000, 1, 0x05, 0, 1000);      // links to itself
    PartitionWalk ws = Walk(self);
    EXPECT_TRUE(ws.EbrLoop);
    EXPECT_TRUE(ws.Partitions.empty());
}

TEST(PartitionTable, LongEbrChainStopsAtFiftyPartitions) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x07, 2048, 1000);
    img.MbrEntry(0, 1, 0x0F, 10000, 1'900'000);
    for (int i = 0; i < 60; ++i) {
        std::uint64_t ebr = 10000 + 20000ull * i;
        img.MbrEntry(ebr, 0, 0x07, 63, 1000);
        img.MbrEntry(ebr, 1, 0x05, static_cast<std::uint32_t>(20000ull * (i + 1)), 20000);
    }
    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.TableFull);
    ASSERT_EQ(w.Partitions.size(), 50u);
    EXPECT_EQ(w.Partitions[49].StartSector, 10000 + 20000ull * 48 + 63);
}

TEST(PartitionTable, EbrChainOfEmptyRecordsIsBounded) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x0F, 1000, 1'900'000);
    for (int i = 0; i < 1000; ++i) img.MbrEntry(1000 + 10ull * i, 1, 0x05, static_cast<std::uint32_t>(10 * (i + 1)), 10);
    auto dev = std::dynamic_pointer_cast<test::SparseImageDevice>(img.Device());
    PartitionWalk w = WalkPartitionTable(*dev, img.Sectors());
    EXPECT_TRUE(w.EbrLimit);
    EXPECT_LE(dev->reads, 2u + kMaxEbrCount);
}

SparseImage GptDisk() {
    SparseImage img(kDisk);
    img.ProtectiveMbr();
    return img;
}

const GuidBytes kBasicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                              0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
const GuidBytes kLinuxFs = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                            0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

TEST(PartitionTable, GptEntriesWithReservedUnformattedAndEndSlot) {
    SparseImage img = GptDisk();
    img.GptEntry(0, kBasicData, 2048, 206847);           // FAT32 (an ESP)
    img.Fat32(2048, 32, 1600, 1, 2, 204800);
    img.GptEntry(1, kMicrosoftReservedGuid, 206848, 239615);
    img.PutText(206848, 3, "NTFS");                      // even a recognisable MSR is passed over
    img.GptEntry(2, kBasicData, 239616, 600000);         // NTFS
    img.Ntfs(239616, 239616, 8, 4, 2, 360384);
    img.GptEntry(3, kLinuxFs, 600001, 700000);           // ext4: not listed, no number
    img.GptEntry(4, kBasicData, 700001, 800000);         // exFAT in the second array sector
    img.Exfat(700001, 700001, 2048, 128, 4096, 12000, 4, 3, 99999);
    img.GptEntry(5, kBasicData, 34, 99);                 // FAT16: end is last LBA + 1
    img.Fat16(34, 1, 16, 1, 16, 66);
    // slot 6 empty (a deleted partition's zeroed entry): the walk goes past it
    img.GptEntry(7, kBasicData, 900000, 950000);
    img.PutText(900000, 3, "NTFS");
    img.GptEntry(127, kBasicData, 960000, 970000);       // the array's last slot
    img.PutText(960000, 3, "NTFS");

    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.GptWalked);
    ExpectPartitions(w, {{"FAT32", 2048, 206848},
                         {"NTFS", 239616, 600001},
                         {"exFAT", 700001, 800001},
                         {"FAT16", 34, 100},
                         {"NTFS", 900000, 950001},
                         {"NTFS", 960000, 970001}});
    EXPECT_EQ(w.Partitions[2].From, Src::Gpt);
    EXPECT_EQ(w.Partitions[2].TableSector, 3u);
    EXPECT_EQ(w.Partitions[5].TableSector, 33u);
}

TEST(PartitionTable, GptHeaderEntryCountBoundsTheWalk) {
    // A header that declares 6 entries of 128 bytes: slots past the sixth are
    // not part of the array, whatever bytes they hold.
    SparseImage img = GptDisk();
    img.Put32(1, 80, 6);
    img.Put32(1, 84, 128);
    img.GptEntry(1, kBasicData, 10000, 19999);
    img.PutText(10000, 3, "NTFS");
    img.GptEntry(5, kBasicData, 20000, 29999);
    img.PutText(20000, 3, "NTFS");
    img.GptEntry(6, kBasicData, 30000, 39999);
    img.PutText(30000, 3, "NTFS");
    ExpectPartitions(Walk(img), {{"NTFS", 10000, 20000}, {"NTFS", 20000, 30000}});
}

TEST(PartitionTable, GptWithDamagedHeaderOrShortDiskIsReadSafely) {
    // The header is not consulted: a bad CRC and an entry count of 100000 do
    // not change what the array lists, and nothing beyond 128 entries is read.
    SparseImage img = GptDisk();
    img.Put32(1, 16, 0xDEADBEEF);   // header CRC
    img.Put32(1, 80, 100000);       // entry count
    img.Put32(1, 84, 4096);         // entry size
    for (int i = 0; i < 128; ++i) {
        std::uint64_t first = 10000 + 10000ull * i;
        img.GptEntry(i, kBasicData, first, first + 9999);
        img.PutText(first, 3, "NTFS");
    }
    img.GptEntry(0, kBasicData, 10000, 19999);
    // An entry past the 128th would be at sector 34: never read.
    img.PutText(34, 0, "garbage");
    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.TableFull);
    EXPECT_EQ(w.Partitions.size(), 50u);

    // A disk image cut short inside the array: the tail rule stops it before
    // anything is read past the end.
    SparseImage cut(20);
    cut.ProtectiveMbr();
    PartitionWalk wc = Walk(cut);
    EXPECT_TRUE(wc.TailStop);
    EXPECT_TRUE(wc.Partitions.empty());

    // An entry that ends before it starts is passed over; the walk goes on.
    SparseImage backwards = GptDisk();
    backwards.GptEntry(0, kBasicData, 50000, 40000);
    backwards.PutText(50000, 3, "NTFS");
    backwards.GptEntry(1, kBasicData, 60000, 70000);
    backwards.PutText(60000, 3, "NTFS");
    ExpectPartitions(Walk(backwards), {{"NTFS", 60000, 70001}});

    // Entries whose LBAs lie beyond the disk are not recognised (zeros).
    SparseImage far = GptDisk();
    far.GptEntry(0, kBasicData, 0xFFFFFFFFFFFFFFF0ull, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_TRUE(Walk(far).Partitions.empty());
}

// Entries that end past the disk (a GPT last LBA of 2^40 or 2^64-1, an MBR or
// EBR length beyond it) are listed up to the disk's end; the end the table
// gave is kept for the property list. Nothing past the disk is ever swept.
TEST(PartitionTable, EntriesEndingPastTheDiskEndWithTheDisk) {
    struct Case {
        const char* what;
        std::uint64_t tableEnd;   // the end (exclusive) the entry gives
    };
    for (const Case c : {Case{"GPT last LBA 2^40", (1ull << 40) + 1}, Case{"GPT last LBA 2^64-1", ~0ull},
                         Case{"GPT one sector past", kDisk + 1}}) {
        SCOPED_TRACE(c.what);
        SparseImage img = GptDisk();
        img.GptEntry(0, kBasicData, 2048, c.tableEnd == ~0ull ? ~0ull : c.tableEnd - 1);
        img.Fat32(2048, 32, 1600, 1, 2, 204800);
        PartitionWalk w = Walk(img);
        ExpectPartitions(w, {{"FAT32", 2048, kDisk}});
        EXPECT_EQ(w.Partitions[0].TableEndSector, c.tableEnd);
    }
    // MBR primaries and logical partitions alike.
    SparseImage mbr(kDisk);
    mbr.MbrEntry(0, 0, 0x07, 2048, 0xFFFFFF00u);
    mbr.PutText(2048, 3, "NTFS");
    mbr.MbrEntry(0, 1, 0x0F, 100000, 50000);
    mbr.MbrEntry(100000, 0, 0x07, 2048, 0xF0000000u);
    mbr.PutText(102048, 3, "NTFS");
    PartitionWalk w = Walk(mbr);
    ExpectPartitions(w, {{"NTFS", 2048, kDisk}, {"NTFS", 102048, kDisk}});
    EXPECT_EQ(w.Partitions[0].TableEndSector, 2048ull + 0xFFFFFF00u);
    EXPECT_EQ(w.Partitions[1].TableEndSector, 102048ull + 0xF0000000u);
    // An entry inside the disk keeps no table end.
    SparseImage fits = GptDisk();
    fits.GptEntry(0, kBasicData, 2048, 206847);
    fits.Fat32(2048, 32, 1600, 1, 2, 204800);
    EXPECT_EQ(Walk(fits).Partitions.at(0).TableEndSector, 0u);
}

TEST(PartitionTable, HybridMbrListsTheGptPartitionsOnce) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x0C, 2048, 204800);  // hybrid: the same FAT32 as GPT entry 0
    img.Fat32(2048, 32, 1600, 1, 2, 204800);
    img.MbrEntry(0, 1, 0xEE, 1, 2047);
    img.PutText(1, 0, "EFI PART");
    img.GptEntry(0, kBasicData, 2048, 206847);
    img.GptEntry(1, kBasicData, 300000, 400000);
    img.PutText(300000, 3, "NTFS");
    ExpectPartitions(Walk(img), {{"FAT32", 2048, 206848}, {"NTFS", 300000, 400001}});
}

TEST(PartitionTable, GptListingNothingKeepsTheMbrEntries) {
    SparseImage img(kDisk);
    img.MbrEntry(0, 0, 0x07, 2048, 100000);
    img.PutText(2048, 3, "NTFS");
    img.MbrEntry(0, 1, 0xEE, 1, 2047);
    img.PutText(1, 0, "EFI PART");
    img.GptEntry(0, kLinuxFs, 300000, 400000);  // nothing the program reads
    PartitionWalk w = Walk(img);
    EXPECT_TRUE(w.GptWalked);
    ExpectPartitions(w, {{"NTFS", 2048, 102048}});
}

TEST(PartitionTable, DynamicDiskRule) {
    SparseImage mbr(kDisk);
    mbr.MbrEntry(0, 0, 0x07, 2048, 1000);
    mbr.MbrEntry(0, 1, 0x42, 4096, 1000);
    auto d1 = mbr.Device();
    EXPECT_TRUE(IsDynamicDisk(*d1, kDisk));

    SparseImage gpt = GptDisk();
    gpt.GptEntry(0, kBasicData, 2048, 4095);
    gpt.GptEntry(1, kLdmDataGuid, 4096, 8191);
    auto d2 = gpt.Device();
    EXPECT_TRUE(IsDynamicDisk(*d2, kDisk));

    SparseImage basic(kDisk);
    basic.MbrEntry(0, 0, 0x07, 2048, 1000);
    auto d3 = basic.Device();
    EXPECT_FALSE(IsDynamicDisk(*d3, kDisk));
}

TEST(PartitionTable, RecordStoreNeverHoldsMoreThanFifty) {
    DiskPartitionTable table;
    DiskPartitionEntry& e = *table.Entry(3);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(e.Append("NTFS", 100u * i, 100u * i + 50, i + 1), i);
    EXPECT_TRUE(e.Full());
    EXPECT_EQ(e.Append("NTFS", 1, 2, 99), -1);
    EXPECT_FALSE(e.Put(50, "NTFS", 1, 2, 99));
    EXPECT_EQ(e.RecordCount, 50u);
    EXPECT_EQ(table.Entry(26), nullptr);
    EXPECT_EQ(table.Entry(-1), nullptr);

    e.Records[2].Geometry.SectorsPerCluster = 8;
    table.Reset();
    EXPECT_EQ(e.RecordCount, 0u);
    EXPECT_EQ(e.Records[2].StartSector, 0u);
    EXPECT_EQ(e.Records[2].TreeItem, kNoTreeItem);
    EXPECT_EQ(e.Records[2].Geometry.SectorsPerCluster, 8u);  // geometry copies outlive a reset
}

TEST(PartitionTable, LookupsOverTheStore) {
    DiskPartitionTable table;
    DiskPartitionEntry& e = *table.Entry(1);
    e.Append("NTFS", 2048, 100000, 0);
    e.Append("", 100000, 100000 + 2047, 0);
    EXPECT_EQ(LookupPartitionEnd(table, 1, 2048, 7), 100000u);
    EXPECT_EQ(LookupPartitionEnd(table, 1, 4096, 7), 7u);
    EXPECT_EQ(LookupPartitionEnd(table, 30, 2048, 7), 7u);

    EXPECT_EQ(GetPartitionTypeName(table, 1, 0, 0, 0), "NTFS");
    struct { std::uint64_t size; const char* name; } guesses[] = {
        {73400320, "NTFS"}, {73400319, "FAT32"}, {2048, "FAT32"}, {2047, "Unknown"}, {0, "Unknown"}};
    for (auto& g : guesses) EXPECT_EQ(GetPartitionTypeName(table, 1, 10, 10 + g.size, 1), g.name) << g.size;
    EXPECT_EQ(GetPartitionTypeName(table, 1, 10, 10 + 2048, 77), "FAT32");  // index out of range: guessed

    std::uint64_t count = 99000;
    ExtendDiskSectorCount(table, 1, count);
    EXPECT_EQ(count, 99000u);  // two records: unchanged
    DiskPartitionEntry& one = *table.Entry(2);
    one.Append("FAT32", 63, 100500, 0);
    ExtendDiskSectorCount(table, 2, count);
    EXPECT_EQ(count, 100500u);

    EXPECT_EQ(PartitionItemText(2, "NTFS"), "Partition - 2 ( NTFS )");
}

}  // namespace
}  // namespace torvane
