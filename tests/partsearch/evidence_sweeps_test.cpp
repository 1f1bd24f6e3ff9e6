// The evidence of lost file systems as the two sweeps that follow it record
// it, in full and in order, on the fixture disks with boot sectors (and
// sometimes FAT sectors) wiped:
//   - the Advanced partition search over the whole disk, from a later range
//     start (sector numbers then still count from the disk's start, the
//     folder-pair rebuild assumes the volume starts at the range start), and
//     with the disk's own partition records known, and again with the
//     partitions it recorded known;
//   - the logical-drive sweep of the same bytes read as one drive, with no
//     rows, again with the rows of the first sweep, and again with all of
//     them but the first;
//   - the logical fixture drive without the FAT32 boot sectors, and without
//     both file systems' boot sectors.
// Every row is printed with the geometry it carries, so any change in what
// the evidence gives (start, end, type, how found, cluster 0, FATs, reserved
// sectors, $MFT placement) or in the order it is met shows here. Where two
// folders place a volume's start past its first FAT, the partition search
// keeps it with its reserved sectors unknown (0, never a count wrapped past
// 2^32) and the drive sweep drops it.
#include "partsearch_test_support.h"

#include "disk/recognised_volumes.h"
#include "partsearch/logical_drive_sweep.h"

#include <gtest/gtest.h>

#include <sstream>

namespace torvane {
namespace {

std::string Line(const FoundPartitionEvent& e)
{
    std::ostringstream o;
    o << e.fsName << " " << e.start << ".." << e.end << " " << FoundByText(e.by);
    if (e.hasGeometry) {
        const VolumeGeometry& g = e.geometry;
        o << " spf=" << g.SectorsPerFat << " spc=" << g.SectorsPerCluster << " root=" << g.RootStart
          << " res=" << g.ReservedSectors << " c0=" << g.Cluster0Start << " fats=" << g.FirstFatStart << ","
          << g.SecondFatStart << " mft=" << g.MftStart << "," << g.MftMirrStart << " frs=" << g.FileRecordSectors;
    }
    return o.str();
}

std::string Line(const RecognisedVolume& r, FoundBy by)
{
    std::string o;
    for (const std::string& cell : r.Cells())
        o += cell + "|";
    return o + FoundByText(by);
}

std::vector<std::string> Lines(const PartitionSearchOutcome& out)
{
    std::vector<std::string> lines;
    for (const FoundPartitionEvent& e : out.found)
        lines.push_back(Line(e));
    return lines;
}

std::vector<std::string> Lines(const LogicalSweepOutcome& out)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < out.added.size(); ++i)
        lines.push_back(Line(out.added[i], out.addedBy[i]));
    return lines;
}

// Prints the lines as they would be written in a table below, for a table
// being filled in.
std::string AsLiterals(const std::vector<std::string>& lines)
{
    std::string o = "{";
    for (const std::string& l : lines) {
        o += "\n     \"";
        for (char c : l)
            o += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
        o += "\",";
    }
    return o + "}";
}

// A fixture with its table gone, some file systems' boot sectors and some
// further sectors wiped.
struct Disk {
    const char* name;
    const char* image;
    bool withoutTable;
    std::vector<int> withoutBootSectors;
    std::vector<std::uint64_t> zeroSectors;
};

std::shared_ptr<test::ZeroedRanges> Open(const Disk& d)
{
    std::shared_ptr<test::ZeroedRanges> disk;
    if (d.withoutTable) {
        disk = test::DiskWithoutTable(d.image);
    } else if (DevicePtr file = OpenFileDevice(test::FixtureImage(d.image).string())) {
        disk = std::make_shared<test::ZeroedRanges>(file);
    }
    if (!disk)
        return nullptr;
    for (int p : d.withoutBootSectors)
        test::ZeroBootSectors(*disk, d.image, p);
    for (std::uint64_t s : d.zeroSectors)
        disk->ZeroSectors(s, 1);
    return disk;
}

// The records the disk's own partition table lists, FAT ones with the
// geometry their boot sector gives (as the partition listing makes them).
DiskPartitionEntry TableOf(const char* image, Device& disk)
{
    DiskPartitionEntry table;
    DevicePtr file = OpenFileDevice(test::FixtureImage(image).string());
    for (const FoundPartition& p : WalkPartitionTable(*file, file->SizeBytes() / kSectorSize).Partitions) {
        const int pos = table.Append(p.FsName, p.StartSector, p.EndSector, kNoTreeItem);
        VolumeGeometry g;
        if (pos >= 0 && p.FsName.rfind("FAT", 0) == 0 && ReadPartitionGeometry(disk, p, g))
            table.Records[static_cast<std::size_t>(pos)].Geometry = g;
    }
    return table;
}

PartitionSearchOutcome Advanced(DevicePtr disk, std::uint64_t rangeStart = 0, DiskPartitionEntry table = {})
{
    PartitionSearchParams p;
    p.device = std::move(disk);
    p.depth = SmpMode::Advanced;
    p.rangeStart = rangeStart;
    p.table = std::move(table);
    return RunPartitionSearch(p, {});
}

LogicalSweepOutcome Logical(DevicePtr drive, std::vector<RecognisedVolume> known = {})
{
    LogicalSweepParams p;
    p.device = std::move(drive);
    p.volumePath = "\\\\.\\E:";
    p.driveText = "E:";
    p.knownRows = std::move(known);
    return RunLogicalDriveSweep(p);
}

void ExpectLines(const std::vector<std::string>& got, const std::vector<std::string>& want, const char* what)
{
    EXPECT_EQ(got, want) << what << ", got:\n" << AsLiterals(got);
}

struct Case {
    Disk disk;
    std::uint64_t rangeStart;                 // the second Advanced search's range start
    std::vector<std::string> advanced;        // from sector 0, nothing known
    std::vector<std::string> advancedFrom;    // from rangeStart, nothing known
    std::vector<std::string> advancedKnown;   // from 0, the image's own table known
    std::vector<std::string> logical;         // the bytes as one drive, no rows
    std::vector<std::string> logicalAgain;    // again, the first sweep's rows known
    std::vector<std::string> advancedAgain;   // again, what the first search recorded known
    std::vector<std::string> logicalOthers;   // again, the first sweep's rows but its first one known
};

const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        // FAT32 and NTFS without boot sectors: FAT32 by its tables, NTFS by $MFTMirr.
        {{"MbrFat32NtfsWiped", "mbr.img", true, {1, 2}, {}},
         75776,
         {"FAT32 2048..75788 fat-tables spf=567 spc=1 root=2 res=32 c0=3212 fats=2080,2647 mft=0,0 frs=0",
          "NTFS 75776..216064 mftmirr spf=0 spc=8 root=0 res=0 c0=75776 fats=0,0 mft=75808,92152 frs=2",
          "FAT16 110592..180207 boot-sector spf=68 spc=4 root=110732 res=4 c0=110756 fats=110596,110664 mft=0,0 frs=0",
          "exFAT 182272..215040 boot-sector"},
         {"NTFS 75776..216064 mftmirr spf=0 spc=8 root=0 res=0 c0=75776 fats=0,0 mft=75808,92152 frs=2",
          "FAT16 110592..180207 boot-sector spf=68 spc=4 root=110732 res=4 c0=110756 fats=110596,110664 mft=0,0 frs=0",
          "exFAT 182272..215040 boot-sector"},
         {"FAT32 2048..75776 fat-tables spf=567 spc=1 root=2 res=32 c0=3212 fats=2080,2647 mft=0,0 frs=0"},
         {"Log|\\\\.\\E:||Recognised1|FAT32|2048|216064|104.50 MB|567|1|0|2|32|3212|2080|2647|||fat-tables",
          "Log|\\\\.\\E:||Recognised2|NTFS|75776|216064|68.50 MB|8||2|216064|75808|92152|||||mftmirr",
          "Log|\\\\.\\E:||Recognised3|FAT16|110592|180207|33.99 MB|68|4|32|110732|4|110756|110596|110664|||boot-sector",
          "Log|\\\\.\\E:||Recognised4|exFAT|182272|215040|16.00 MB|32|8|0|5|0|4096|2048|2080|||boot-sector"},
         {},
         {},
         {"Log|\\\\.\\E:||Recognised4|FAT32|2048|216064|104.50 MB|567|1|0|2|32|3212|2080|2647|||fat-tables"}},
        // All four without boot sectors, the FAT32 FATs' first sectors too:
        // FAT32 by its folders, FAT16 by its folders, exFAT by its entry sets.
        {{"MbrAllWiped", "mbr.img", true, {1, 2, 5, 6}, {2048 + 32, 2048 + 32 + 567}},
         110592,
         {"FAT32 2048..216064 fat-folders spf=1591 spc=1 root=2 res=1 c0=3212 fats=0,1591 mft=0,0 frs=0",
          "NTFS 75776..216064 mftmirr spf=0 spc=8 root=0 res=0 c0=75776 fats=0,0 mft=75808,92152 frs=2",
          "FAT32 110731..216064 fat-folders spf=55365 spc=4 root=110731 res=0 c0=110756 fats=1,55366 mft=0,0 frs=0",
          "exFAT 186392..216064 exfat-entries"},
         {"FAT16 110732..216064 fat-folders spf=70 spc=4 root=110732 res=0 c0=110756 fats=110592,110662 mft=0,0 frs=0",
          "exFAT 186392..216064 exfat-entries"},
         {"FAT32 2048..75776 fat-folders spf=1591 spc=1 root=2 res=1 c0=3212 fats=0,1591 mft=0,0 frs=0",
          "FAT32 110731..216064 fat-folders spf=55365 spc=4 root=110731 res=0 c0=110756 fats=1,55366 mft=0,0 frs=0"},
         {"Log|\\\\.\\E:||Recognised1|FAT32|2048|216064|104.50 MB|1591|1|0|2|1|3212|0|1591|||fat-folders",
          "Log|\\\\.\\E:||Recognised2|NTFS|75776|216064|68.50 MB|8||2|216064|75808|92152|||||mftmirr",
          "Log|\\\\.\\E:||Recognised3|exFAT|186392|216064|14.49 MB|||||||||||exfat-entries"},
         {},
         {},
         {"Log|\\\\.\\E:||Recognised3|FAT32|2048|216064|104.50 MB|1591|1|0|2|1|3212|0|1591|||fat-folders"}},
        // The table intact, the logical drives' boot sectors gone.
        {{"MbrLogicalsWiped", "mbr.img", false, {5, 6}, {}},
         108544,
         {"FAT32 2048..75758 boot-sector spf=567 spc=1 root=2 res=32 c0=3212 fats=2080,2647 mft=0,0 frs=0",
          "NTFS 75776..108543 boot-sector",
          "FAT32 110732..216064 fat-folders spf=55350 spc=4 root=110732 res=0 c0=110756 fats=32,55382 mft=0,0 frs=0",
          "exFAT 186392..216064 exfat-entries"},
         {"FAT32 110732..216064 fat-folders spf=1094 spc=4 root=110732 res=0 c0=110756 fats=108544,109638 mft=0,0 frs=0",
          "exFAT 186392..216064 exfat-entries"},
         {"FAT32 110732..216064 fat-folders spf=55350 spc=4 root=110732 res=0 c0=110756 fats=32,55382 mft=0,0 frs=0"},
         {"Log|\\\\.\\E:||Recognised1|FAT32|2048|75758|35.99 MB|567|1|0|2|32|3212|2080|2647|||boot-sector",
          "Log|\\\\.\\E:||Recognised2|NTFS|75776|108543|16.00 MB|8|8|2|32767|75808|92152|||||boot-sector",
          "Log|\\\\.\\E:||Recognised3|NTFS|108543|141310|16.00 MB|8|8|2|32767|108575|124919|||||boot-sector",
          "Log|\\\\.\\E:||Recognised4|exFAT|186392|216064|14.49 MB|||||||||||exfat-entries"},
         {},
         {},
         {"Log|\\\\.\\E:||Recognised4|FAT32|2048|75758|35.99 MB|567|1|0|2|32|3212|2080|2647|||boot-sector"}},
        // The logical fixture: FAT32 without its boot sector and backup.
        {{"LogicalFat32Wiped", "logical.img", false, {}, {32768, 32774}},
         32768,
         {"FAT16 0..32768 boot-sector spf=32 spc=4 root=68 res=4 c0=92 fats=4,36 mft=0,0 frs=0",
          "FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"FAT16 0..32768 boot-sector spf=32 spc=4 root=68 res=4 c0=92 fats=4,36 mft=0,0 frs=0",
          "FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"Log|\\\\.\\E:||Recognised1|FAT16|0|32768|16.00 MB|32|4|32|68|4|92|4|36|||boot-sector",
          "Log|\\\\.\\E:||Recognised2|FAT32|32768|102400|34.00 MB|536|1|0|2|32|33870|32800|33336|||fat-folders"},
         {},
         {},
         {"Log|\\\\.\\E:||Recognised2|FAT16|0|32768|16.00 MB|32|4|32|68|4|92|4|36|||boot-sector"}},
        // Both file systems without boot sectors.
        {{"LogicalBothWiped", "logical.img", false, {}, {0, 32768, 32774}},
         16384,
         {"FAT16 68..102400 fat-folders spf=34 spc=4 root=68 res=0 c0=92 fats=0,34 mft=0,0 frs=0",
          "FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"FAT16 68..102400 fat-folders spf=34 spc=4 root=68 res=0 c0=92 fats=0,34 mft=0,0 frs=0",
          "FAT32 32768..102400 fat-folders spf=536 spc=1 root=2 res=32 c0=33870 fats=32800,33336 mft=0,0 frs=0"},
         {"Log|\\\\.\\E:||Recognised1|FAT32|32768|102400|34.00 MB|536|1|0|2|32|33870|32800|33336|||fat-folders"},
         {},
         {},
         {"Log|\\\\.\\E:||Recognised1|FAT32|32768|102400|34.00 MB|536|1|0|2|32|33870|32800|33336|||fat-folders"}},
    };
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.disk.name; }

class EvidenceSweeps : public ::testing::TestWithParam<Case> {};

TEST_P(EvidenceSweeps, RecordTheSameRowsInTheSameOrder)
{
    const Case& c = GetParam();
    auto disk = Open(c.disk);
    if (!disk)
        GTEST_SKIP() << "fixture " << c.disk.image << " not unpacked";
    const PartitionSearchOutcome search = Advanced(disk);
    ExpectLines(Lines(search), c.advanced, "Advanced search");
    ExpectLines(Lines(Advanced(disk, 0, search.table)), c.advancedAgain, "Advanced search with its finds known");
    ExpectLines(Lines(Advanced(disk, c.rangeStart)), c.advancedFrom, "Advanced search from the range start");
    ExpectLines(Lines(Advanced(disk, 0, TableOf(c.disk.image, *disk))), c.advancedKnown,
                "Advanced search with the table known");
    const LogicalSweepOutcome first = Logical(disk);
    ExpectLines(Lines(first), c.logical, "logical-drive sweep");
    std::vector<RecognisedVolume> known = first.added;
    const LogicalSweepOutcome again = Logical(disk, known);
    ExpectLines(Lines(again), c.logicalAgain, "logical-drive sweep with its rows known");
    if (!known.empty())
        known.erase(known.begin());
    ExpectLines(Lines(Logical(disk, known)), c.logicalOthers, "logical-drive sweep with its other rows known");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EvidenceSweeps, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.disk.name; });

}  // namespace
}  // namespace torvane
