// Search More Partitions on the fixture disks after their partition tables
// were wiped (and, in some cases, boot sectors too): each depth must record
// the rows worked out for it, in order, and a Basic scan of every partition
// found must give back the files written on it, byte for byte.
//
// Why these rows:
//  - Standard reads sectors 0..10239, then every 512th sector counted from
//    the end of the last partition found. mkfs.fat gives its FAT32 volumes
//    fewer sectors than the partition (73710 of 73728), so after the FAT32
//    partition at 2048 the grid starts at 75758 and steps past the NTFS
//    partition at 75776 and the logical drives: only the first is found. On
//    the GPT disk the grid from 10240 meets 34816; after it the same happens.
//    With the FAT32 boot sector gone, the grid from 10240 meets the FAT16
//    logical drive at 110592 (10240 + 196 * 512), and nothing after it.
//  - Advanced reads every sector: each boot sector is found, listed with the
//    size it declares (NTFS: its total-sector field, one short of the
//    partition, the backup boot sector lying past it).
//  - A FAT32 volume without boot sector and backup is found by its two FATs
//    (placed by the FSInfo sector in front of them, and ending where the
//    FAT's cells end), or, with those gone too, by two of its folders; an
//    NTFS volume without boot sectors by its $MFTMirr record, reaching to the
//    disk's end (nothing tells its size).
//  - The cylinder probe (255 x 63) with its 1 MiB-aligned probes finds the
//    MBR disk's four volumes.
#include "partsearch_test_support.h"

#include <gtest/gtest.h>

#include <iostream>

namespace torvane {
namespace {

namespace fs = std::filesystem;

struct Row {
    const char* type;
    std::uint64_t start;
    std::uint64_t sectors;
    FoundBy by;
    int part;        // the manifest's partition number
};

struct Case {
    const char* name;
    const char* image;
    std::vector<int> withoutBootSectors;
    std::vector<std::uint64_t> zeroSectors;   // further sectors wiped
    SmpMode depth;
    std::vector<Row> rows;
    // Live files a scan cannot give back whole because the wiped sectors held
    // part of their folder's chain (the first sector of both FATs).
    int liveLostToWipedFats = 0;
};

constexpr std::uint64_t kMbrDiskSectors = 216064;

const Case kCases[] = {
    {"MbrStandard", "mbr.img", {}, {}, SmpMode::Standard, {{"FAT32", 2048, 73710, FoundBy::BootSector, 1}}},
    {"MbrAdvanced", "mbr.img", {}, {}, SmpMode::Advanced,
     {{"FAT32", 2048, 73710, FoundBy::BootSector, 1},
      {"NTFS", 75776, 32767, FoundBy::BootSector, 2},
      {"FAT16", 110592, 69615, FoundBy::BootSector, 5},
      {"exFAT", 182272, 32768, FoundBy::BootSector, 6}}},
    {"MbrCylinder", "mbr.img", {}, {}, SmpMode::Cylinder,
     {{"FAT32", 2048, 73710, FoundBy::BootSector, 1},
      {"NTFS", 75776, 32767, FoundBy::BootSector, 2},
      {"FAT16", 110592, 69615, FoundBy::BootSector, 5},
      {"exFAT", 182272, 32768, FoundBy::BootSector, 6}}},
    {"GptStandard", "gpt.img", {}, {}, SmpMode::Standard, {{"FAT32", 34816, 73710, FoundBy::BootSector, 2}}},
    {"GptAdvanced", "gpt.img", {}, {}, SmpMode::Advanced,
     {{"FAT32", 34816, 73710, FoundBy::BootSector, 2},
      {"NTFS", 108544, 32767, FoundBy::BootSector, 3},
      {"exFAT", 141312, 32768, FoundBy::BootSector, 4}}},
    {"MbrNoBootSectorsStandard", "mbr.img", {1, 2}, {}, SmpMode::Standard,
     {{"FAT16", 110592, 69615, FoundBy::BootSector, 5}}},
    {"MbrNoBootSectorsAdvanced", "mbr.img", {1, 2}, {}, SmpMode::Advanced,
     {{"FAT32", 2048, 73740, FoundBy::FatTables, 1},
      {"NTFS", 75776, kMbrDiskSectors - 75776, FoundBy::MftMirr, 2},
      {"FAT16", 110592, 69615, FoundBy::BootSector, 5},
      {"exFAT", 182272, 32768, FoundBy::BootSector, 6}}},
    // The first sector of both FATs wiped too: the FAT32 volume is found by
    // two of its folders, placed by its FSInfo sector, and reaches to the
    // disk's end (its FATs no longer tell where it ends).
    {"MbrNoBootSectorsNorFatsAdvanced", "mbr.img", {1, 2}, {2048 + 32, 2048 + 32 + 567}, SmpMode::Advanced,
     {{"FAT32", 2048, kMbrDiskSectors - 2048, FoundBy::FatFolders, 1},
      {"NTFS", 75776, kMbrDiskSectors - 75776, FoundBy::MftMirr, 2},
      {"FAT16", 110592, 69615, FoundBy::BootSector, 5},
      {"exFAT", 182272, 32768, FoundBy::BootSector, 6}},
     5},
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::shared_ptr<test::ZeroedRanges> DiskOf(const Case& c)
{
    auto disk = test::DiskWithoutTable(c.image);
    if (disk)
        for (int p : c.withoutBootSectors)
            test::ZeroBootSectors(*disk, c.image, p);
    if (disk)
        for (std::uint64_t sector : c.zeroSectors)
            disk->ZeroSectors(sector, 1);
    return disk;
}

PartitionSearchParams ParamsFor(DevicePtr disk, SmpMode depth, unsigned readAhead = 0)
{
    PartitionSearchParams p;
    p.device = std::move(disk);
    p.depth = depth;
    p.readAheadThreads = readAhead;
    return p;
}

class LostPartitions : public ::testing::TestWithParam<Case> {};

TEST_P(LostPartitions, FindsTheRowsOfItsDepth)
{
    const Case& c = GetParam();
    auto disk = DiskOf(c);
    ASSERT_NE(disk, nullptr);
    // The listing sees nothing left of the table.
    EXPECT_TRUE(WalkPartitionTable(*disk, disk->SizeBytes() / kSectorSize).Partitions.empty());

    std::vector<FoundPartitionEvent> events;
    PartitionSearchControl control;
    control.onFound = [&](const FoundPartitionEvent& e) { events.push_back(e); };
    const PartitionSearchOutcome out = RunPartitionSearch(ParamsFor(disk, c.depth), control);

    ASSERT_EQ(events.size(), c.rows.size());
    ASSERT_EQ(out.table.RecordCount, c.rows.size());
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        SCOPED_TRACE(i);
        const Row& want = c.rows[i];
        const FoundPartitionEvent& got = events[i];
        EXPECT_EQ(got.fsName, want.type);
        EXPECT_EQ(got.start, want.start);
        EXPECT_EQ(got.end - got.start, want.sectors);
        EXPECT_EQ(got.by, want.by);
        EXPECT_EQ(got.index, static_cast<int>(i));
        EXPECT_EQ(got.itemText, PartitionItemText(static_cast<int>(i) + 1, want.type));
        EXPECT_FALSE(got.automatic);
        // The table holds what the events said.
        EXPECT_EQ(out.table.FsNames[i], want.type);
        EXPECT_EQ(out.table.Records[i].StartSector, got.start);
        EXPECT_EQ(out.table.Records[i].EndSector, got.end);
        // FAT volumes keep the geometry their boot sector (or the evidence)
        // gave; the Standard sweep copies none.
        if (std::string(want.type).rfind("FAT", 0) == 0 && c.depth != SmpMode::Standard) {
            EXPECT_TRUE(got.hasGeometry);
            EXPECT_NE(got.geometry.Cluster0Start, 0u);
        }
    }
    EXPECT_FALSE(out.stopped);
    EXPECT_FALSE(out.tableFull);
}

TEST(LostPartitions, ReadAheadChangesNothing)
{
    for (const Case& c : kCases) {
        if (c.depth != SmpMode::Standard)
            continue;   // read-ahead is the Standard sweep's
        SCOPED_TRACE(c.name);
        auto disk = DiskOf(c);
        ASSERT_NE(disk, nullptr);
        const PartitionSearchOutcome one = RunPartitionSearch(ParamsFor(disk, c.depth, 0), {});
        const PartitionSearchOutcome ahead = RunPartitionSearch(ParamsFor(disk, c.depth, 8), {});
        ASSERT_EQ(one.found.size(), ahead.found.size());
        for (std::size_t i = 0; i < one.found.size(); ++i) {
            EXPECT_EQ(one.found[i].fsName, ahead.found[i].fsName);
            EXPECT_EQ(one.found[i].start, ahead.found[i].start);
            EXPECT_EQ(one.found[i].end, ahead.found[i].end);
        }
    }
}

TEST_P(LostPartitions, EveryFoundPartitionGivesItsFilesBack)
{
    const Case& c = GetParam();
    auto disk = DiskOf(c);
    ASSERT_NE(disk, nullptr);
    const PartitionSearchOutcome out = RunPartitionSearch(ParamsFor(disk, c.depth), {});
    ASSERT_EQ(out.found.size(), c.rows.size());
    const auto all = test::LoadManifest(c.image);
    for (std::size_t i = 0; i < out.found.size(); ++i) {
        const FoundPartitionEvent& found = out.found[i];
        SCOPED_TRACE(found.itemText);
        test::TempDir temp;
        const test::ScanAndSaveResult saved = test::ScanAndSaveFound(disk, found, temp.path() / "out");
        ASSERT_TRUE(saved.scanned) << saved.error;
        int live = 0, deletedExact = 0, deleted = 0, missing = 0;
        for (const auto& m : test::ManifestOfPartition(all, c.rows[i].part)) {
            if (m.IsDir() || !m.HasContent())
                continue;
            if (!m.IsDeleted()) {
                ++live;
                auto it = saved.files.find(m.path);
                if (it == saved.files.end() && i == 0 && c.liveLostToWipedFats > 0) {
                    ++missing;
                    continue;
                }
                ASSERT_NE(it, saved.files.end()) << "live file not saved: " << m.path;
                EXPECT_EQ(it->second.size, m.size) << m.path;
                EXPECT_EQ(it->second.sha, m.sha256) << "content of " << m.path;
                continue;
            }
            ++deleted;
            for (const auto& [path, f] : saved.files)
                if (f.sha == m.sha256 && f.size == m.size) {
                    ++deletedExact;
                    break;
                }
        }
        EXPECT_GT(live, 10);
        EXPECT_LE(missing, c.liveLostToWipedFats);
        std::cout << "[ report ] " << c.name << " " << found.itemText << " (" << FoundByText(found.by) << "): " << live - missing
                  << " of " << live << " live files exact (" << missing << " not saved), " << deletedExact << " of " << deleted << " deleted files exact\n";
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LostPartitions, ::testing::ValuesIn(kCases), CaseName);

TEST(LostPartitions, IntactDisksGainNothing)
{
    for (const char* image : {"mbr.img", "gpt.img"}) {
        DevicePtr disk = OpenFileDevice(test::FixtureImage(image).string());
        ASSERT_NE(disk, nullptr);
        PartitionSearchParams params = ParamsFor(disk, SmpMode::Standard);
        const std::uint64_t sectors = disk->SizeBytes() / kSectorSize;
        for (const FoundPartition& p : WalkPartitionTable(*disk, sectors).Partitions) {
            const int pos = params.table.Append(p.FsName, p.StartSector, p.EndSector, kNoTreeItem);
            VolumeGeometry g;
            if (p.FsName.rfind("FAT", 0) == 0 && ReadPartitionGeometry(*disk, p, g))
                params.table.Records[static_cast<std::size_t>(pos)].Geometry = g;
        }
        for (SmpMode depth : {SmpMode::Standard, SmpMode::Advanced}) {
            params.depth = depth;
            const PartitionSearchOutcome out = RunPartitionSearch(params, {});
            EXPECT_TRUE(out.found.empty()) << image << " depth " << static_cast<int>(depth) << ": "
                                           << (out.found.empty() ? "" : out.found[0].itemText);
            EXPECT_EQ(out.table.RecordCount, params.table.RecordCount);
        }
    }
}

TEST(LostPartitions, TheAutomaticWayMakesTheFirstPartitionCurrent)
{
    auto disk = test::DiskWithoutTable("mbr.img");
    ASSERT_NE(disk, nullptr);
    for (SmpMode depth : {SmpMode::Standard, SmpMode::Advanced}) {
        PartitionSearchParams params = ParamsFor(disk, depth);
        params.automatic = true;
        std::vector<FoundPartitionEvent> events;
        PartitionSearchControl control;
        control.onFound = [&](const FoundPartitionEvent& e) { events.push_back(e); };
        const PartitionSearchOutcome out = RunPartitionSearch(params, control);
        ASSERT_TRUE(out.automatic.has_value());
        // The search ended at the first partition: made current, not shown.
        ASSERT_EQ(events.size(), 1u);
        EXPECT_TRUE(events[0].automatic);
        const CurrentPartition& p = out.automatic->partition;
        EXPECT_EQ(p.Descriptor.FsType, "FAT32");
        EXPECT_EQ(p.Descriptor.StartSector, 2048u);
        EXPECT_EQ(p.Descriptor.EndSector, 2048u + 73710);
        EXPECT_EQ(out.automatic->volumeParamsOk, 1);
        EXPECT_EQ(p.Geometry.SectorsPerFat, 567u);
        EXPECT_EQ(p.Geometry.Cluster0Start, 2048u + 32 + 2 * 567 - 2);
    }
    const auto first = FindFirstPartition(ParamsFor(disk, SmpMode::Standard));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->partition.Descriptor.StartSector, 2048u);
    // A stop before the first block finds nothing.
    EXPECT_FALSE(FindFirstPartition(ParamsFor(disk, SmpMode::Advanced), [] { return true; }).has_value());
}

}  // namespace
}  // namespace torvane
