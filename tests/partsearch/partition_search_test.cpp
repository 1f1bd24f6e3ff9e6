// The partition search's rules on small hand-laid disks: which sectors each
// depth reads, how it jumps past partitions, which boot sectors count as
// known, its limits, the evidence tests with the worked examples, and that
// a stop ends the worker within a block and keeps what was found.
#include "disk/disk_image_builder.h"
#include "partsearch/found_partition_apply.h"
#include "partsearch/lost_fs_evidence.h"
#include "partsearch/partition_search.h"
#include "partsearch/sweep_reader.h"
#include "partsearch_test_support.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace torvane {
namespace {

using test::SparseImage;

// Remembers the first sector of every read; may slow every read down.
class RecordingDevice final : public Device {
public:
    explicit RecordingDevice(DevicePtr inner, std::chrono::microseconds delay = {}) : inner_(std::move(inner)), delay_(delay) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        {
            std::lock_guard lock(mutex_);
            sectors_.push_back(offset / kSectorSize);
        }
        if (delay_.count() > 0)
            std::this_thread::sleep_for(delay_);
        return inner_->ReadAt(offset, buffer, length);
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }
    std::vector<std::uint64_t> Sectors() const
    {
        std::lock_guard lock(mutex_);
        return sectors_;
    }
    std::size_t Reads() const
    {
        std::lock_guard lock(mutex_);
        return sectors_.size();
    }

private:
    DevicePtr inner_;
    std::chrono::microseconds delay_;
    mutable std::mutex mutex_;
    std::vector<std::uint64_t> sectors_;
};

PartitionSearchOutcome Search(DevicePtr device, SmpMode depth, DiskPartitionEntry table = {}, int shown = -1)
{
    PartitionSearchParams p;
    p.device = std::move(device);
    p.depth = depth;
    p.table = table;
    p.shownPartitions = shown;
    return RunPartitionSearch(p, {});
}

TEST(PartitionSearchText, ResultMessagesAndDepths)
{
    struct Case {
        int disk, count;
        bool found;
        const char* kind;
        const char* text;
        const char* want;
    };
    const Case cases[] = {
        {2, 3, true, "Disk", "", "Found 3 more partitions in selected Disk ( Disk - 2 )"},
        {1, 0, false, "Disk", "", "No more partitions found in selected Disk ( Disk - 1 )"},
        {0, 1, true, "Disk", "", "Found 1 more partitions in selected Disk ( Disk - 0 )"},
        {0, 0, false, "Logical", "E:", "No more partitions found in selected Logical ( Logical - E: )"},
        {3, 2, true, "Drive", "E:", "Found 2 more partitions in selected Drive ( Drive - E: )"},
        {4, 2, true, "disk", "x", "Found 2 more partitions in selected disk ( disk - x )"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatPartitionSearchResult(c.disk, c.count, c.found, c.kind, c.text), c.want);
    const std::pair<int, SmpMode> depths[] = {{0, SmpMode::None}, {5, SmpMode::Cylinder}, {10, SmpMode::Advanced},
                                              {15, SmpMode::Standard}, {7, SmpMode::None}, {-1, SmpMode::None}};
    for (auto [value, mode] : depths)
        EXPECT_EQ(SmpModeFromValue(value), mode) << value;
    EXPECT_EQ(SmpModeStatusLetter(SmpMode::Standard), "S");
    EXPECT_EQ(SmpModeStatusLetter(SmpMode::Cylinder), "S");
    EXPECT_EQ(SmpModeStatusLetter(SmpMode::Advanced), "A");
}

TEST(StandardSweep, EmptyDiskReadsTheDenseStartThenEvery512thSector)
{
    SparseImage img(20480);
    auto disk = std::make_shared<RecordingDevice>(img.Device());
    const PartitionSearchOutcome out = Search(disk, SmpMode::Standard);
    EXPECT_TRUE(out.found.empty());
    std::vector<std::uint64_t> want;
    for (std::uint64_t s = 0; s < 10240; ++s)
        want.push_back(s);
    for (std::uint64_t s = 10240; s < 20480; s += 512)
        want.push_back(s);
    EXPECT_EQ(disk->Sectors(), want);
    EXPECT_EQ(want.back(), 19968u);
}

// The sector read right after `sector` in the read log.
std::uint64_t ReadAfter(const std::vector<std::uint64_t>& log, std::uint64_t sector)
{
    auto it = std::find(log.begin(), log.end(), sector);
    return it == log.end() || it + 1 == log.end() ? 0 : *(it + 1);
}

TEST(StandardSweep, JumpsPastEachPartitionItRecords)
{
    struct Case {
        const char* what;
        std::function<void(SparseImage&)> lay;
        const char* type;
        std::uint64_t end, nextRead;
    };
    const Case cases[] = {
        {"FAT32 of 1000000 sectors", [](SparseImage& i) { i.Fat32(2048, 32, 1000, 8, 2, 1000000); }, "FAT32",
         2048 + 1000000, 2048 + 1000000},
        {"NTFS of 409600 sectors: past its backup", [](SparseImage& i) { i.Ntfs(2048, 2048, 8, 4, 2, 409600); },
         "NTFS", 2048 + 409600, 2048 + 409600 + 1},
        {"exFAT", [](SparseImage& i) { i.Exfat(4096, 4096, 2048, 128, 4096, 12000, 4, 3, 100000); }, "exFAT",
         4096 + 100000, 4096 + 100000},
        {"small FAT16 (size in the 16-bit field)", [](SparseImage& i) { i.Fat16(63, 4, 200, 4, 512, 40000); },
         "FAT16", 63 + 40000, 63 + 40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SparseImage img(3'000'000);
        c.lay(img);
        auto disk = std::make_shared<RecordingDevice>(img.Device());
        const PartitionSearchOutcome out = Search(disk, SmpMode::Standard);
        ASSERT_EQ(out.found.size(), 1u);
        EXPECT_EQ(out.found[0].fsName, c.type);
        EXPECT_EQ(out.found[0].end, c.end);
        EXPECT_EQ(out.found[0].itemText, std::string("Partition - 1 ( ") + c.type + " )");
        EXPECT_EQ(ReadAfter(disk->Sectors(), out.found[0].start), c.nextRead);
    }
}

TEST(StandardSweep, KnownRulesJumpsAndLimits)
{
    SparseImage img(3'000'000);
    img.Fat32(2048, 32, 1000, 8, 2, 1000000);
    {   // the same start and end, another type: recorded again
        DiskPartitionEntry t;
        t.Append("FAT16", 2048, 2048 + 1000000, kNoTreeItem);
        const auto out = Search(img.Device(), SmpMode::Standard, t);
        ASSERT_EQ(out.found.size(), 1u);
        EXPECT_EQ(out.found[0].index, 1);
        EXPECT_EQ(out.found[0].itemText, "Partition - 2 ( FAT32 )");
    }
    {   // known: jumped over, nothing recorded, the next read is past it
        DiskPartitionEntry t;
        t.Append("FAT32", 2048, 2048 + 1000000, kNoTreeItem);
        auto disk = std::make_shared<RecordingDevice>(img.Device());
        const auto out = Search(disk, SmpMode::Standard, t);
        EXPECT_TRUE(out.found.empty());
        // (A FAT record is checked by reading the candidate's volume: those
        // reads lie below 10240.) No probe lies inside the partition.
        const auto log = disk->Sectors();
        EXPECT_NE(std::find(log.begin(), log.end(), 2048u + 1000000), log.end());
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](std::uint64_t r) { return r >= 10240 && r < 2048 + 1000000; }),
                  0);
    }
    {   // a disk showing 26 partitions: the sweep ends at the first signed sector
        auto disk = std::make_shared<RecordingDevice>(img.Device());
        const auto out = Search(disk, SmpMode::Standard, {}, 26);
        EXPECT_TRUE(out.found.empty());
        EXPECT_EQ(disk->Sectors().back(), 2048u);
    }
    {   // a table of 50 records takes no more
        DiskPartitionEntry t;
        for (int i = 0; i < kMaxPartitionsPerDisk; ++i)
            t.Append("NTFS", 5'000'000 + i, 5'000'001 + i, kNoTreeItem);
        const auto out = Search(img.Device(), SmpMode::Standard, t, 0);
        EXPECT_TRUE(out.found.empty());
        EXPECT_TRUE(out.tableFull);
        EXPECT_EQ(out.table.RecordCount, static_cast<std::uint32_t>(kMaxPartitionsPerDisk));
    }
    {   // a size that would wrap past 2^64 ends the sweep instead of looping
        SparseImage wrap(100000);
        wrap.Ntfs(2048, 2048, 8, 4, 2, ~0ull - 1000);
        const auto out = Search(wrap.Device(), SmpMode::Standard);
        ASSERT_EQ(out.found.size(), 1u);
        EXPECT_EQ(out.found[0].end, ~0ull);
    }
    {   // a boot sector whose size field is 0 is never recorded
        SparseImage zero(100000);
        zero.Fat32(2048, 32, 1000, 8, 2, 0);
        EXPECT_TRUE(Search(zero.Device(), SmpMode::Standard).found.empty());
        EXPECT_TRUE(Search(zero.Device(), SmpMode::Advanced).found.empty());
    }
}

TEST(AdvancedSweep, BackupBootSectorsOfKnownVolumesAddNothing)
{
    SparseImage img(1'000'000);
    img.Fat32(2048, 32, 1000, 8, 2, 200000);                          // backup at +6
    img.Ntfs(300000, 300000, 8, 4, 2, 99999);                         // backup at its last sector
    img.Ntfs(300000 + 99999, 300000, 8, 4, 2, 99999);
    img.Exfat(500000, 500000, 2048, 128, 4096, 12000, 4, 3, 100000);  // backup at +12
    std::memcpy(img.Sector(500012), img.Sector(500000), 512);
    const auto out = Search(img.Device(), SmpMode::Advanced);
    ASSERT_EQ(out.found.size(), 3u);
    EXPECT_EQ(out.found[0].fsName, "FAT32");
    EXPECT_EQ(out.found[0].start, 2048u);
    EXPECT_TRUE(out.found[0].hasGeometry);
    EXPECT_EQ(out.found[0].geometry.SectorsPerFat, 1000u);
    EXPECT_EQ(out.found[1].fsName, "NTFS");
    EXPECT_EQ(out.found[1].end, 300000u + 99999);
    EXPECT_EQ(out.found[2].fsName, "exFAT");
    EXPECT_EQ(out.found[2].start, 500000u);
}

TEST(AdvancedSweep, AFailingExfatEntryTestEndsTheSector)
{
    // A sector that starts like a deleted name entry with a bad second byte
    // is not examined as a boot sector, whatever else it carries.
    SparseImage img(100000);
    img.Ntfs(4096, 4096, 8, 4, 2, 50000);
    img.Put8(4096, 0, 0x41);
    img.Put8(4096, 1, 0x07);
    EXPECT_TRUE(Search(img.Device(), SmpMode::Advanced).found.empty());
    // The Standard sweep has no evidence tests: there it is a boot sector.
    EXPECT_EQ(Search(img.Device(), SmpMode::Standard).found.size(), 1u);
}

TEST(AdvancedSweep, ExamineOnlyTheDisksSectors)
{
    // A disk whose size is no whole number of blocks: the last block is cut
    // at the disk's end, and nothing past it is taken for a sector.
    SparseImage img(1000 + 7);
    img.Fat16(1000, 1, 1, 1, 16, 7);
    const auto out = Search(img.Device(), SmpMode::Advanced);
    ASSERT_EQ(out.found.size(), 1u);
    EXPECT_EQ(out.found[0].end, 1007u);
}

TEST(LostFsEvidence, FolderPairsOfTheWorkedExample)
{
    const auto r = RebuildFromFolderPair(20000, 100, 20400, 150, 0, 0, FsKind::Fat16);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->sectorsPerCluster, 8u);
    EXPECT_EQ(r->cluster0, 19200u);
    EXPECT_EQ(r->sectorsPerFat, 9592u);
    EXPECT_EQ(r->fat1, 0u);
    EXPECT_EQ(r->fat2, 9592u);
    EXPECT_EQ(r->rootStart, 19184u);
    EXPECT_EQ(r->type, FsKind::Fat32);
    // 350 sectors for 50 clusters: 7, no power of two.
    EXPECT_FALSE(RebuildFromFolderPair(20000, 100, 20350, 150, 0, 0, FsKind::Fat16).has_value());
    const struct {
        std::uint64_t ps;
        std::uint32_t pc;
        std::uint64_t s;
        std::uint32_t c;
    } refused[] = {
        {20000, 1, 20400, 150},            // a first cluster below 2
        {20000, 100, 20400, 100},          // the same cluster
        {20000, 100, 20400, 0xFFFFFFFFu},  // all ones
        {100, 90, 500, 140},               // clusters not below the sectors
        {20000, 100, 21024, 102},          // 512 sectors per cluster
    };
    for (const auto& c : refused)
        EXPECT_FALSE(RebuildFromFolderPair(c.ps, c.pc, c.s, c.c, 0, 0, FsKind::Fat16).has_value()) << c.s;
    // A small volume stays FAT16.
    const auto small = RebuildFromFolderPair(1000, 10, 1040, 20, 0, 0, FsKind::Fat16);
    ASSERT_TRUE(small.has_value());
    EXPECT_EQ(small->type, FsKind::Fat16);
}

TEST(LostFsEvidence, SectorShapes)
{
    EXPECT_EQ(MakeDwordFromBytes(0x34, 0x12, 0x78, 0x56), 0x56781234u);

    std::array<std::uint8_t, 512> s{};
    auto view = [&] { return ByteView(s.data(), s.size()); };
    const std::uint8_t table[12] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0xFF, 0xFF, 0x0F};
    std::memcpy(s.data(), table, sizeof table);
    EXPECT_TRUE(IsFat32TableStartSector(view()));
    s[3] = 0xFF;   // FAT16's F8 FF FF FF
    EXPECT_FALSE(IsFat32TableStartSector(view()));
    s[3] = 0x0F;
    s[7] = 0x0F;   // end-of-chain cell 0x0FFFFFFF
    EXPECT_FALSE(IsFat32TableStartSector(view()));
    s[7] = 0xFF;
    s[11] = 0xFF;
    EXPECT_FALSE(IsFat32TableStartSector(view()));

    s.fill(0);
    std::memcpy(s.data(), ".          ", 11);
    std::memcpy(s.data() + 32, "..         ", 11);
    s[26] = 0x34;
    s[27] = 0x12;
    s[20] = 0x01;
    EXPECT_TRUE(IsFatDirectoryStartSector(view()));
    EXPECT_EQ(DirectoryStartCluster(view()), 0x00011234u);
    s[33] = ' ';
    EXPECT_FALSE(IsFatDirectoryStartSector(view()));
}

TEST(LostFsEvidence, ExfatEntrySets)
{
    auto set = [](std::uint16_t attributes) {
        std::array<std::uint8_t, 512> s{};
        s[0] = 0x85;
        s[1] = 2;
        s[4] = static_cast<std::uint8_t>(attributes);
        s[32] = 0xC0;
        s[64] = 0xC1;
        return s;
    };
    std::string kind;
    auto a = set(0x20);
    EXPECT_EQ(TestExfatEntrySet(ByteView(a.data(), a.size()), &kind), ExfatEvidence::Passes);
    auto b = set(0x51);
    EXPECT_EQ(TestExfatEntrySet(ByteView(b.data(), b.size())), ExfatEvidence::Fails);
    std::array<std::uint8_t, 512> name{};
    name[0] = 0x41;
    name[1] = 3;
    name[32] = 0x85;
    name[64] = 0xC0;
    EXPECT_EQ(TestExfatEntrySet(ByteView(name.data(), name.size())), ExfatEvidence::Fails);
    name[1] = 0;
    EXPECT_EQ(TestExfatEntrySet(ByteView(name.data(), name.size()), &kind), ExfatEvidence::Passes);
    EXPECT_EQ(kind, "C1_41");
    // A name entry, the next file's entry, and a deleted name entry fourth.
    name[64] = 0x20;
    name[96] = 0x41;
    EXPECT_EQ(TestExfatEntrySet(ByteView(name.data(), name.size())), ExfatEvidence::Passes);
    std::array<std::uint8_t, 512> other{};
    other[0] = 0xEB;
    EXPECT_EQ(TestExfatEntrySet(ByteView(other.data(), other.size())), ExfatEvidence::NotApplicable);
}

TEST(LostFsEvidence, MftMirrRecordOfTheFixtureVolume)
{
    DevicePtr ntfs = OpenFileDevice(test::FixtureImage("ntfs.img").string());
    ASSERT_NE(ntfs, nullptr);
    SectorBytes record0, record1;
    ASSERT_TRUE(ReadOneSector(*ntfs, 4 * 8, record0));       // $MFT at cluster 4
    ASSERT_TRUE(ReadOneSector(*ntfs, 4 * 8 + 2, record1));   // MFT record 1
    EXPECT_FALSE(IsMftMirrRecordSector(record0.View()));
    EXPECT_TRUE(IsMftMirrRecordSector(record1.View()));
    const auto placed = PlaceNtfsFromMftMirrRecord(*ntfs, 4 * 8 + 2, 8);
    ASSERT_TRUE(placed.has_value());
    EXPECT_EQ(placed->start, 0u);
    EXPECT_EQ(placed->sectorsPerCluster, 8u);
    EXPECT_EQ(placed->mftStart, 32u);
    EXPECT_EQ(placed->mftMirrStart, 2047u * 8);
    // The same from the mirror's copy, and with a wrong hint.
    const auto fromMirror = PlaceNtfsFromMftMirrRecord(*ntfs, 2047 * 8 + 2, 1);
    ASSERT_TRUE(fromMirror.has_value());
    EXPECT_EQ(fromMirror->start, 0u);
    EXPECT_EQ(fromMirror->sectorsPerCluster, 8u);
    EXPECT_EQ(SectorsPerClusterFromMirrorSize(4096), 8u);
    EXPECT_EQ(SectorsPerClusterFromMirrorSize(65536), 128u);
    EXPECT_EQ(SectorsPerClusterFromMirrorSize(244 * 512), 4096u);
}

TEST(SweepReader, BlocksInOrderCutAtTheEndWhetherReadAheadOrNot)
{
    SparseImage img(1000 + 7);
    for (std::uint64_t s : {0ull, 511ull, 512ull, 1006ull})
        img.Put32(s, 0, static_cast<std::uint32_t>(s + 1));
    for (unsigned depth : {0u, 3u}) {
        SCOPED_TRACE(depth);
        DevicePtr dev = img.Device();
        BlockStream stream(*dev, 0, 1007, 512, depth);
        BlockStream::Block b;
        std::vector<std::pair<std::uint64_t, std::size_t>> seen;
        while (stream.Next(b)) {
            seen.push_back({b.start, b.sectors});
            for (std::uint64_t s : {0ull, 511ull, 512ull, 1006ull}) {
                if (s >= b.start && s < b.start + b.sectors) {
                    EXPECT_EQ(ByteView(b.data, b.sectors * 512).U32((s - b.start) * 512), s + 1);
                }
            }
        }
        const std::vector<std::pair<std::uint64_t, std::size_t>> want = {{0, 512}, {512, 495}};
        EXPECT_EQ(seen, want);
    }
    // Probes read in parallel land in their own slots; a probe past the end
    // reads as nothing.
    DevicePtr dev = img.Device();
    ProbeReader probes(*dev, 4);
    std::vector<ProbeReader::Sector> out;
    std::vector<char> ok;
    probes.Read({1006, 0, 512, 5000}, out, ok);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(ByteView(out[0].data(), 512).U32(0), 1007u);
    EXPECT_EQ(ByteView(out[1].data(), 512).U32(0), 1u);
    EXPECT_EQ(ByteView(out[2].data(), 512).U32(0), 513u);
    EXPECT_EQ(ok, (std::vector<char>{1, 1, 1, 0}));
}

TEST(FoundPartitionApply, RecordsItemsAndHighlightsOnTheInventory)
{
    auto disk = test::DiskWithoutTable("mbr.img");
    ASSERT_NE(disk, nullptr);
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(false);
    const TreeNodeId diskItem = inv.Tree.InsertChild(inv.PhysicalDrivesItem, "Fixed hard disk media (Disk0 - 105 MB)");
    PartitionSearchParams params;
    params.device = disk;
    params.depth = SmpMode::Advanced;
    params.table = *inv.PartitionTable.Entry(0);
    PartitionSearchControl control;
    std::vector<TreeNodeId> items;
    control.onFound = [&](const FoundPartitionEvent& f) { items.push_back(ApplyFoundPartition(inv, 0, diskItem, f)); };
    RunPartitionSearch(params, control);
    ASSERT_EQ(items.size(), 4u);
    const DiskPartitionEntry& entry = *inv.PartitionTable.Entry(0);
    EXPECT_EQ(entry.RecordCount, 4u);
    const char* texts[] = {"Partition - 1 ( FAT32 )", "Partition - 2 ( NTFS )", "Partition - 3 ( FAT16 )",
                           "Partition - 4 ( exFAT )"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(inv.Tree.Text(items[i]), texts[i]);
        EXPECT_EQ(inv.Tree.Parent(items[i]), diskItem);
        EXPECT_TRUE(inv.Tree.Highlighted(items[i]));
        EXPECT_EQ(entry.Records[i].TreeItem, items[i]);
    }
    EXPECT_EQ(entry.Records[0].StartSector, 2048u);
    EXPECT_NE(entry.Records[0].Geometry.Cluster0Start, 0u);

    // The automatic way's partition gets its record, no item.
    FoundPartitionEvent automatic;
    automatic.index = 4;
    automatic.fsName = "NTFS";
    automatic.start = 1;
    automatic.end = 2;
    automatic.automatic = true;
    EXPECT_EQ(ApplyFoundPartition(inv, 0, diskItem, automatic), kNoTreeNode);
    EXPECT_EQ(entry.RecordCount, 5u);
    EXPECT_EQ(inv.Tree.ChildCount(diskItem), 4u);
    // Past the table or the disks: nothing.
    automatic.index = kMaxPartitionsPerDisk;
    EXPECT_EQ(ApplyFoundPartition(inv, 0, diskItem, automatic), kNoTreeNode);
    EXPECT_EQ(ApplyFoundPartition(inv, 99, diskItem, automatic), kNoTreeNode);
}

// --- stopping -----------------------------------------------------------------------------

class StopAtFirstFind final : public PartitionSearchEvents {
public:
    std::function<void()> onFirst;
    std::atomic<int> found{0};
    void OnPartitionFound(const FoundPartitionEvent&) override
    {
        if (found.fetch_add(1) == 0 && onFirst)
            onFirst();
    }
};

TEST(PartitionSearchJob, StopEndsTheWorkerWithinABlockAndKeepsWhatWasFound)
{
    for (SmpMode depth : {SmpMode::Standard, SmpMode::Advanced}) {
        SCOPED_TRACE(static_cast<int>(depth));
        auto disk = test::DiskWithoutTable("mbr.img");
        ASSERT_NE(disk, nullptr);
        auto slow = std::make_shared<RecordingDevice>(disk, std::chrono::microseconds(200));
        PartitionSearchParams params;
        params.device = slow;
        params.depth = depth;
        params.readAheadThreads = depth == SmpMode::Standard ? 4 : 0;
        StopAtFirstFind events;
        PartitionSearchJob job(params, &events);
        std::atomic<std::size_t> readsAtStop{0};
        events.onFirst = [&] {
            readsAtStop = slow->Reads();
            job.Stop();
        };
        ASSERT_TRUE(job.Start());
        job.Wait();
        const PartitionSearchOutcome& out = job.Outcome();
        EXPECT_TRUE(out.stopped);
        ASSERT_EQ(out.found.size(), 1u);
        EXPECT_EQ(out.found[0].start, 2048u);
        EXPECT_EQ(out.table.RecordCount, 1u);
        EXPECT_EQ(job.Progress().folders.load(), 1u);
        // The worker examined nothing past the block (Advanced) or the probe
        // (Standard) it was at; after the stop it read at most what the rest
        // of that block needed and the blocks already read ahead, or one
        // batch of probes.
        if (depth == SmpMode::Advanced) {
            EXPECT_LT(job.Progress().done.load(), 2048u + kAdvancedBlockSectors);
        } else {
            EXPECT_EQ(job.Progress().done.load(), 2048u);
        }
        const std::size_t after = slow->Reads() - readsAtStop;
        EXPECT_LE(after, depth == SmpMode::Advanced ? 16u : 4u * 16u) << after;
    }
}

TEST(PartitionSearchJob, AStopWhileAReadHangsEndsOnceTheReadReturns)
{
    auto disk = test::DiskWithoutTable("mbr.img");
    ASSERT_NE(disk, nullptr);
    auto gated = std::make_shared<test::GatedDevice>(disk);
    PartitionSearchParams params;
    params.device = gated;
    params.depth = SmpMode::Advanced;
    PartitionSearchJob job(params);
    ASSERT_TRUE(job.Start());
    gated->WaitForReaders(1);
    job.Stop();
    EXPECT_FALSE(job.WaitFor(std::chrono::milliseconds(50)));   // the read is still held
    gated->Release();
    job.Wait();
    EXPECT_TRUE(job.Outcome().stopped);
    EXPECT_TRUE(job.Outcome().found.empty());
}

}  // namespace
}  // namespace torvane
