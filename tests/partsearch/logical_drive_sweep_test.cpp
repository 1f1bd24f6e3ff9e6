// The Deep Search's sweep of a logical drive, without a window:
//   - the fixture drive holding FAT16 and FAT32 back to back gives two rows
//     (the FAT32 backup boot sector six sectors in gives none), with the
//     geometry columns the tools' layout has; a second sweep adds nothing;
//   - numbering after the drive's own rows, rows of other drives ignored;
//   - the boot-sector edge cases (an exFAT backup twelve sectors into a
//     listed exFAT row, an NTFS size beyond the drive, a FAT16 size of 0, a
//     file system ending beyond the drive, E not a multiple of 512, E = 0);
//   - an unreadable chunk skipped, a drive that cannot be opened;
//   - the rows added to a drive list ("Recognised" items under the drive,
//     the "Found File System" rows, the range and type a selection shows and
//     the Deep scan it starts, Scan Now's checks on it), and --logical-image
//     listing;
//   - Stop while the sweep runs on its worker.
#include "disk/drive_refresh.h"
#include "disk/drive_selection.h"
#include "disk/recognised_volumes.h"
#include "base/program_state.h"
#include "fsrecovery/basic_scan_start.h"
#include "fsrecovery/deep_scan_start.h"
#include "partsearch/logical_drive_sweep.h"
#include "platform/command_line.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace torvane {
namespace {

constexpr char kVolume[] = "\\\\.\\E:";

DevicePtr LogicalFixture()
{
    return OpenFileDevice(test::FixtureImage("logical.img").string());
}

std::string SectorOf(const char* image, std::uint64_t sector)
{
    std::ifstream in(test::FixtureImage(image), std::ios::binary);
    std::string bytes(kSectorSize, '\0');
    in.seekg(static_cast<std::streamoff>(sector * kSectorSize));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return in ? bytes : std::string();
}

LogicalSweepParams Params(DevicePtr device, std::vector<RecognisedVolume> known = {})
{
    LogicalSweepParams p;
    p.device = std::move(device);
    p.volumePath = kVolume;
    p.driveText = "E:";
    p.knownRows = std::move(known);
    return p;
}

TEST(LogicalDriveSweep, TwoFileSystemsBackToBackGiveTwoRows)
{
    DevicePtr device = LogicalFixture();
    if (!device)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    std::vector<std::string> reported;
    LogicalSweepControl control;
    control.onFound = [&](const RecognisedVolume& r, FoundBy by) {
        reported.push_back(r.Name);
        EXPECT_EQ(by, FoundBy::BootSector);
    };
    const LogicalSweepOutcome out = RunLogicalDriveSweep(Params(device), control);
    ASSERT_EQ(out.added.size(), 2u);
    EXPECT_EQ(reported, (std::vector<std::string>{"Recognised1", "Recognised2"}));

    const RecognisedVolume& fat16 = out.added[0];
    EXPECT_EQ(fat16.Cells(),
              (std::vector<std::string>{"Log|\\\\.\\E:|", "Recognised1", "FAT16", "0", "32768", "16.00 MB",
                                        // SPF, SPC, RootSec, RootStartSec, ReserveSecStart, Cluster0Start, FATs
                                        "32", "4", "32", "68", "4", "92", "4", "36", "", ""}));
    EXPECT_EQ(fat16.TreeText(), "Recognised1 - 16.00 MB - FAT16");

    const RecognisedVolume& fat32 = out.added[1];
    EXPECT_EQ(fat32.Name, "Recognised2");
    EXPECT_EQ(fat32.FsName, "FAT32");
    EXPECT_EQ(fat32.Start, 32768u);
    EXPECT_EQ(fat32.End, 102400u);
    EXPECT_EQ(fat32.TreeText(), "Recognised2 - 34.00 MB - FAT32");
    // Cluster 2 (the root) lies where the second FAT ends, as mkfs.fat laid it out.
    const VolumeGeometry g = fat32.ScanGeometry();
    EXPECT_EQ(g.SectorsPerCluster, 1u);
    EXPECT_EQ(g.RootStart, 2u);
    EXPECT_EQ(g.FirstFatStart, 32768u + g.ReservedSectors);
    EXPECT_EQ(g.SecondFatStart, g.FirstFatStart + g.SectorsPerFat);
    EXPECT_EQ(g.Cluster0Start, g.SecondFatStart + g.SectorsPerFat - 2);
    EXPECT_EQ(LogicalSweepResultText(2, "E:"), "Found 2 more partitions in selected Drive ( Drive - E: )");

    // A second sweep knows both rows.
    const LogicalSweepOutcome again = RunLogicalDriveSweep(Params(device, out.added));
    EXPECT_TRUE(again.added.empty());
    EXPECT_EQ(LogicalSweepResultText(0, "E:"), "No more partitions found in selected Drive ( Drive - E: )");
}

TEST(LogicalDriveSweep, NumbersAfterTheDrivesOwnRows)
{
    DevicePtr device = LogicalFixture();
    if (!device)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    auto row = [](const std::string& key, const std::string& name, std::uint64_t start) {
        RecognisedVolume r;
        r.Key = key;
        r.Name = name;
        r.FsName = "NTFS";
        r.Start = start;
        r.End = start + 100;
        return r;
    };
    // Two rows of this drive (the key compared ignoring case), one of another drive.
    const std::vector<RecognisedVolume> known = {row("Log|\\\\.\\e:|", "Recognised1", 200000),
                                                 row("Log|\\\\.\\F:|", "Recognised1", 300000),
                                                 row(RecognisedVolumeKey(kVolume), "Recognised2", 400000)};
    const LogicalSweepOutcome out = RunLogicalDriveSweep(Params(device, known));
    ASSERT_EQ(out.added.size(), 2u);
    EXPECT_EQ(out.added[0].Name, "Recognised3");
    EXPECT_EQ(out.added[1].Name, "Recognised4");
}

// A boot sector planted on a blank drive of `sectors` sectors.
struct Planted {
    std::uint64_t sector;
    std::string bytes;
};

LogicalSweepOutcome SweepOf(std::uint64_t sectors, const std::vector<Planted>& planted,
                            std::vector<RecognisedVolume> known = {}, std::uint64_t driveSectors = 0)
{
    auto device = std::make_shared<test::SparseDevice>(sectors * kSectorSize);
    for (const Planted& p : planted)
        device->WriteSector(p.sector, p.bytes);
    LogicalSweepParams params = Params(device, std::move(known));
    params.driveSectors = driveSectors;
    return RunLogicalDriveSweep(params);
}

std::string WithU32(std::string sector, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        sector[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return sector;
}

TEST(LogicalDriveSweep, BootSectorEdgeCases)
{
    const std::string exfat = SectorOf("exfat.img", 0);
    const std::string fat16 = SectorOf("fat16.img", 0);
    const std::string ntfs = SectorOf("ntfs.img", 0);
    if (exfat.empty() || fat16.empty() || ntfs.empty())
        GTEST_SKIP() << "fixture images not unpacked";
    const std::uint64_t exfatSize = ByteView(reinterpret_cast<const std::uint8_t*>(exfat.data()), 512).U64(0x48);
    const std::uint64_t fat16Size = ByteView(reinterpret_cast<const std::uint8_t*>(fat16.data()), 512).U16(0x13);
    ASSERT_GT(fat16Size, 30000u);

    RecognisedVolume listedExfat;
    listedExfat.Key = RecognisedVolumeKey(kVolume);
    listedExfat.Name = "Recognised1";
    listedExfat.FsName = "exFAT";
    listedExfat.Start = 1000;
    listedExfat.End = 1000 + exfatSize;

    // The 16-bit and 32-bit size fields of the FAT16 sector both 0.
    std::string fat16NoSize = fat16;
    fat16NoSize[0x13] = fat16NoSize[0x14] = 0;
    fat16NoSize = WithU32(fat16NoSize, 0x20, 0);

    struct Case {
        const char* what;
        std::uint64_t sectors;
        std::vector<Planted> planted;
        std::vector<RecognisedVolume> known;
        std::uint64_t driveSectors;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> rows;   // start, end
    };
    const std::vector<Case> cases = {
        {"an exFAT backup twelve sectors into a listed exFAT row", 80000, {{1012, exfat}}, {listedExfat}, 0, {}},
        {"an NTFS size beyond the drive is the drive's", 5000, {{0, WithU32(ntfs, 0x28, 900000)}}, {}, 0, {{0, 5000}}},
        {"an NTFS file system whose end passes the drive", 30000, {{100, ntfs}}, {}, 0, {}},
        {"a FAT16 size of 0", 50000, {{0, fat16NoSize}}, {}, 0, {}},
        {"a FAT16 file system ending beyond the drive", 30000, {{0, fat16}}, {}, 0, {}},
        {"only sectors below E, not a multiple of 512", 40000, {{1000, fat16}, {33800, fat16}}, {}, 33800,
         {{1000, 1000 + fat16Size}}},
        {"without a sector count, the device's size", 40000, {{0, fat16}}, {}, 0, {{0, fat16Size}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LogicalSweepOutcome out = SweepOf(c.sectors, c.planted, c.known, c.driveSectors);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> rows;
        for (const RecognisedVolume& r : out.added)
            rows.emplace_back(r.Start, r.End);
        EXPECT_EQ(rows, c.rows);
    }
    // E = 0 with a device of no sectors: nothing is read, nothing found.
    auto empty = std::make_shared<test::SparseDevice>(0);
    EXPECT_TRUE(RunLogicalDriveSweep(Params(empty)).added.empty());
}

TEST(LogicalDriveSweep, UnreadableChunkIsSkippedAndMissingDriveFindsNothing)
{
    DevicePtr fixture = LogicalFixture();
    if (!fixture)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    auto faulty = std::make_shared<test::FaultyDevice>(fixture);
    faulty->FailSectors(0, 512);
    const LogicalSweepOutcome out = RunLogicalDriveSweep(Params(faulty));
    ASSERT_EQ(out.added.size(), 1u);
    EXPECT_EQ(out.added[0].FsName, "FAT32");
    EXPECT_EQ(out.added[0].Name, "Recognised1");

    const LogicalSweepOutcome none = RunLogicalDriveSweep(Params(nullptr));
    EXPECT_FALSE(none.opened);
    EXPECT_TRUE(none.added.empty());
}

// Another device with some sectors reading as zeros (a boot sector wiped).
class WipedSectors final : public Device {
public:
    WipedSectors(DevicePtr inner, std::vector<std::uint64_t> sectors) : inner_(std::move(inner)), wiped_(std::move(sectors)) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        const std::int64_t n = inner_->ReadAt(offset, buffer, length);
        for (std::uint64_t s : wiped_) {
            const std::uint64_t a = std::max(offset, s * kSectorSize), b = std::min(offset + length, (s + 1) * kSectorSize);
            if (n > 0 && a < b && a < offset + static_cast<std::uint64_t>(n))
                std::memset(static_cast<char*>(buffer) + (a - offset), 0,
                            static_cast<std::size_t>(std::min<std::uint64_t>(b, offset + n) - a));
        }
        return n;
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::vector<std::uint64_t> wiped_;
};

// Without its boot sectors, the FAT32 file system is placed by the traces it
// left (its folders' first sectors and the FSInfo sector in front of its FATs);
// the FAT16 file system's folders are known by its row and add nothing.
TEST(LogicalDriveSweep, FileSystemWithoutBootSectorFoundByItsTraces)
{
    DevicePtr fixture = LogicalFixture();
    if (!fixture)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    auto wiped = std::make_shared<WipedSectors>(fixture, std::vector<std::uint64_t>{32768, 32774});
    const LogicalSweepOutcome out = RunLogicalDriveSweep(Params(wiped));
    ASSERT_EQ(out.added.size(), 2u);
    EXPECT_EQ(out.addedBy[0], FoundBy::BootSector);
    EXPECT_EQ(out.added[0].FsName, "FAT16");
    EXPECT_EQ(out.addedBy[1], FoundBy::FatFolders);
    EXPECT_EQ(out.added[1].FsName, "FAT32");
    EXPECT_EQ(out.added[1].Name, "Recognised2");
    EXPECT_EQ(out.added[1].Start, 32768u);
    EXPECT_EQ(out.added[1].End, 102400u);
    EXPECT_EQ(out.added[1].TreeText(), "Recognised2 - 34.00 MB - FAT32");
    // Its geometry is the one the boot sector had.
    const LogicalSweepOutcome intact = RunLogicalDriveSweep(Params(fixture));
    ASSERT_EQ(intact.added.size(), 2u);
    const VolumeGeometry found = out.added[1].ScanGeometry(), real = intact.added[1].ScanGeometry();
    EXPECT_EQ(found.Cluster0Start, real.Cluster0Start);
    EXPECT_EQ(found.SectorsPerCluster, real.SectorsPerCluster);
    EXPECT_EQ(found.FirstFatStart, real.FirstFatStart);
    EXPECT_EQ(found.SecondFatStart, real.SecondFatStart);
}

// The fixture listed as logical drive C: of a Deep Search drive list.
class ListedDrive {
public:
    explicit ListedDrive(DevicePtr device)
    {
        DeviceRegistry& registry = DeviceRegistry::Instance();
        registry.Reset();
        registry.SetSysfsRoot("");
        registry.RegisterMemoryVolume('C', std::move(device));
        inv.RecoveryMode = 2;
        DriveRefreshOptions options;
        options.WithLogicalDrives = true;
        options.RefreshRegistry = false;
        options.Logical.MountInfoPath = "/nonexistent/mountinfo";
        options.Logical.UseStatvfs = false;
        BuildDriveInventory(inv, registry, options);
        drive = inv.Tree.FirstChild(inv.LogicalDrivesItem);
    }
    ~ListedDrive() { DeviceRegistry::Instance().Reset(); }

    // One sweep, its rows applied as the dialog applies them.
    LogicalSweepOutcome Sweep()
    {
        const LogicalSweepParams params = PrepareLogicalDriveSweep(inv, LogicalSweepDriveItem(inv, drive));
        LogicalSweepControl control;
        control.onFound = [&](const RecognisedVolume& r, FoundBy) { last = AddRecognisedVolume(inv, drive, r); };
        return RunLogicalDriveSweep(params, control);
    }
    std::vector<std::string> Items() const
    {
        std::vector<std::string> out;
        for (TreeNodeId c : inv.Tree.Children(drive))
            out.push_back(inv.Tree.Text(c));
        return out;
    }

    DriveInventory inv;
    TreeNodeId drive = kNoTreeNode;
    TreeNodeId last = kNoTreeNode;
};

TEST(LogicalDriveSweep, RowsBecomeItemsAndRowsOfTheDrive)
{
    DevicePtr device = LogicalFixture();
    if (!device)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    ListedDrive d(device);
    ASSERT_NE(d.drive, kNoTreeNode);
    // A sweep from a "Recognised" item sweeps its drive.
    EXPECT_EQ(LogicalSweepDriveItem(d.inv, d.drive), d.drive);
    EXPECT_EQ(LogicalSweepDriveItem(d.inv, d.inv.LogicalDrivesItem), kNoTreeNode);
    const LogicalSweepParams params = PrepareLogicalDriveSweep(d.inv, d.drive);
    EXPECT_EQ(params.volumePath, "\\\\.\\C:");
    EXPECT_EQ(params.driveText, "C:");
    EXPECT_EQ(params.driveSectors, 102400u);

    EXPECT_EQ(d.Sweep().added.size(), 2u);
    const std::vector<std::string> items = {"Recognised1 - 16.00 MB - FAT16", "Recognised2 - 34.00 MB - FAT32"};
    EXPECT_EQ(d.Items(), items);
    EXPECT_TRUE(d.inv.Tree.Highlighted(d.last));
    EXPECT_EQ(LogicalSweepDriveItem(d.inv, d.last), d.drive);
    // Swept again: no item and no row twice.
    EXPECT_TRUE(d.Sweep().added.empty());
    EXPECT_EQ(d.Items(), items);
    EXPECT_EQ(d.inv.RecognisedVolumes.Size(), 2u);
    // The same row applied twice is refused.
    EXPECT_EQ(AddRecognisedVolume(d.inv, d.drive, d.inv.RecognisedVolumes.Rows()[0]), kNoTreeNode);

    // Selecting the second item: the drive's rows, the type, the range.
    const TreeNodeId second = FindRecognisedItem(d.inv, d.drive, "Recognised2");
    DriveSelectionContext ctx;
    ctx.RecoveryMode = 2;
    const DriveSelection sel = PrepareDriveSelection(d.inv, second, ctx);
    EXPECT_EQ(sel.Kind, DriveNodeKind::Recognised);
    EXPECT_EQ(sel.NodeKindText, "Recognised");
    ASSERT_TRUE(sel.Recognised);
    EXPECT_TRUE(sel.ShowFoundFsList);
    ASSERT_EQ(sel.Recognised->DriveRows.size(), 2u);
    EXPECT_EQ(sel.Recognised->DriveRows[0].FoundFsCells()[0], "Recognised1");
    EXPECT_EQ(sel.Recognised->Name, "Recognised2");
    EXPECT_EQ(sel.FsComboName.value_or("?"), "FAT32");
    EXPECT_EQ(sel.RangeStart, 32768u);
    EXPECT_EQ(sel.RangeEnd, 102400u);
    EXPECT_EQ(sel.RangeMin, 0u);
    EXPECT_EQ(sel.RangeMax, 102400u);

    // What Scan Now starts with for it, the type forced to FAT32.
    std::string description;
    const CurrentPartition p =
        PrepareRecognisedDeepScan(*sel.Recognised, sel.RangeStart, sel.RangeEnd, "FAT32", &description);
    EXPECT_EQ(description, "( Drive - C: ) Recognised2 / FAT32 / 34.00 MB");
    EXPECT_EQ(p.DevicePath, "\\\\.\\C:");
    EXPECT_EQ(p.SelectedSourceKind, "Recognised");
    EXPECT_EQ(p.Descriptor.FsType, "FAT32");
    EXPECT_EQ(p.Descriptor.StartSector, 32768u);
    EXPECT_EQ(p.Descriptor.EndSector, 102400u);
    EXPECT_EQ(p.Descriptor.ItemStart, 32768u);
    EXPECT_EQ(p.Descriptor.ItemEnd, 102400u);
    EXPECT_EQ(p.Descriptor.EndByte, 102400u * kSectorSize);
    EXPECT_EQ(p.Geometry, sel.Recognised->Row->ScanGeometry());
    EXPECT_EQ(p.Descriptor.FirstFatStart, p.Geometry.FirstFatStart);

    // Outside the Deep Search a "Recognised" item shows no list and no range.
    ctx.RecoveryMode = 1;
    const DriveSelection basic = PrepareDriveSelection(d.inv, second, ctx);
    EXPECT_FALSE(basic.ShowFoundFsList);
    EXPECT_FALSE(basic.SetRange);

    // A refresh of the drive list empties the rows with the tree.
    DriveRefreshOptions options;
    options.WithLogicalDrives = true;
    options.RefreshRegistry = false;
    options.Logical.MountInfoPath = "/nonexistent/mountinfo";
    options.Logical.UseStatvfs = false;
    BuildDriveInventory(d.inv, DeviceRegistry::Instance(), options);
    EXPECT_EQ(d.inv.RecognisedVolumes.Size(), 0u);
}

// Scan Now of the Deep Search on a "Recognised" item: the edits' range on the
// drive's own device, the combo's type, the row's geometry.
TEST(LogicalDriveSweep, DeepScanNowOnARecognisedItem)
{
    DevicePtr device = LogicalFixture();
    if (!device)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    ListedDrive d(device);
    ASSERT_NE(d.drive, kNoTreeNode);
    ASSERT_EQ(d.Sweep().added.size(), 2u);
    const TreeNodeId second = FindRecognisedItem(d.inv, d.drive, "Recognised2");
    DeepScanStartInput in;
    in.selectedItem = second;
    in.source = DescribeDriveNode(d.inv, second);
    ASSERT_EQ(in.source.Kind, DriveNodeKind::Recognised);
    in.recognised = DescribeRecognisedNode(d.inv, second);
    ASSERT_TRUE(in.recognised);
    in.canOpen = [](const std::string& path) { return path == "\\\\.\\C:"; };
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    struct Case {
        const char* name;
        const char* start;
        const char* end;
        int choice;                 // 0 FAT16, 1 FAT32, 2 NTFS, 3 exFAT, 4 Unknown
        std::string message;        // empty: the scan starts
        std::uint64_t first, last;  // the range swept
    };
    const Case cases[] = {
        {"the row's extent", "32768", "102400", 1, "", 32768, 102400},
        {"a narrower range as FAT16", "40000", "50000", 0, "", 40000, 50000},
        {"an end beyond the drive stops at its end", "32768", "999999", 1, "", 32768, 102400},
        {"no type chosen", "32768", "102400", 4, kSelectFileSystemText, 0, 0},
        {"no choice at all", "32768", "102400", -1, kSelectFileSystemText, 0, 0},
        {"a start beyond the drive", "200000", "300000", 1, texts.EndSectorOrderText, 0, 0},
        {"an end before the start", "50000", "40000", 1, texts.EndSectorOrderText, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        in.startText = c.start;
        in.endText = c.end;
        in.fileSystemChoice = c.choice;
        const DeepScanStart s = ResolveDeepScanStart(d.inv, in);
        EXPECT_EQ(s.message, c.message);
        if (!c.message.empty()) {
            EXPECT_EQ(s.outcome, ScanStartOutcome::Message);
            continue;
        }
        ASSERT_EQ(s.outcome, ScanStartOutcome::Start);
        EXPECT_EQ(s.rangeStart, c.first);
        EXPECT_EQ(s.rangeEnd, c.last);
        EXPECT_EQ(s.partition.Descriptor.StartSector, c.first);
        EXPECT_EQ(s.partition.Descriptor.EndSector, c.last);
        EXPECT_EQ(s.partition.Descriptor.FsType, kDeepFileSystemChoices[c.choice]);
        EXPECT_EQ(s.partition.DevicePath, "\\\\.\\C:");
        EXPECT_EQ(s.partition.SelectedSourceKind, "Recognised");
        EXPECT_EQ(s.partition.Geometry, in.recognised->Row->ScanGeometry());
        EXPECT_EQ(s.selectionDescription, std::string("( Drive - C: ) Recognised2 / ") +
                                              kDeepFileSystemChoices[c.choice] + " / 34.00 MB");
        EXPECT_FALSE(s.logicalVolumeViaDisk);
    }
    // A second Scan Now is refused; a drive that cannot be opened is told.
    in.startText = "32768";
    in.endText = "102400";
    in.fileSystemChoice = 1;
    in.deepScanCount = 1;
    EXPECT_EQ(ResolveDeepScanStart(d.inv, in).outcome, ScanStartOutcome::Refused);
    in.deepScanCount = 0;
    in.canOpen = [](const std::string&) { return false; };
    EXPECT_EQ(ResolveDeepScanStart(d.inv, in).message, texts.DriveUnavailableText);
    // An item whose row is gone (not in the table) is not scanned.
    in.canOpen = {};
    in.recognised->Row.reset();
    EXPECT_EQ(ResolveDeepScanStart(d.inv, in).message, texts.SelectDriveText);
}

TEST(LogicalDriveSweep, LogicalImageOptionListsTheImageAsALogicalDrive)
{
    if (!LogicalFixture())
        GTEST_SKIP() << "fixture logical.img not unpacked";
    DeviceRegistry registry;
    registry.SetSysfsRoot("");
    const std::string image = test::FixtureImage("logical.img").string();
    const std::string arg0 = "torvane", arg1 = "--logical-image", arg3 = "--logical-image=/nonexistent.img";
    const char* argv[] = {arg0.c_str(), arg1.c_str(), image.c_str(), arg3.c_str(), "scan.VQL"};
    const DeviceOptionsResult r = ApplyDeviceOptions(5, argv, registry, false);
    EXPECT_EQ(r.remainingArgs, (std::vector<std::string>{"torvane", "scan.VQL"}));
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].rfind("cannot list volume image /nonexistent.img: ", 0), 0u);
    const char* missing[] = {arg0.c_str(), arg1.c_str()};
    EXPECT_EQ(ApplyDeviceOptions(2, missing, registry, false).errors,
              std::vector<std::string>{"--logical-image needs a path"});
    // Listed once, whatever the mount table says.
    EXPECT_EQ(registry.AddVolumeImage(image), 'C');
    ASSERT_EQ(registry.Volumes().size(), 1u);
    registry.SetMountedVolumes({});
    ASSERT_EQ(registry.Volumes().size(), 1u);
    EXPECT_TRUE(registry.Volumes()[0].isImage);
    EXPECT_TRUE(registry.Disks().empty());

    DriveInventory inv;
    inv.RecoveryMode = 2;
    inv.ListAllDriveTypes = false;   // an image is listed like removable media
    DriveRefreshOptions options;
    options.WithLogicalDrives = true;
    options.RefreshRegistry = false;
    options.Logical.MountInfoPath = "/nonexistent/mountinfo";
    options.Logical.UseStatvfs = false;
    options.Logical.UseBlkid = false;
    BuildDriveInventory(inv, registry, options);
    const TreeNodeId drive = inv.Tree.FirstChild(inv.LogicalDrivesItem);
    ASSERT_NE(drive, kNoTreeNode);
    EXPECT_EQ(inv.Tree.Text(drive), "C: (50.00 MB - LOGFAT16 - FAT16)");
    const auto* d = inv.Tree.PayloadAs<const DriveDetails>(drive);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->DeviceId, "\\\\.\\C:");
    EXPECT_EQ(d->VolumeSectorCountText, "102400");
    EXPECT_EQ(d->ExtentStart, 0u);
    EXPECT_EQ(d->ExtentEnd, 102400u);
    EXPECT_EQ(inv.VolumeSizeList, std::vector<std::string>{"\\\\.\\C:|102400"});
    ASSERT_NE(registry.Open("\\\\.\\C:"), nullptr);

    // Scan Now of the Basic Search reads the image itself: no disk holds it.
    BasicScanStartInput in;
    in.selectedItem = drive;
    in.source = DescribeDriveNode(inv, drive);
    in.canOpen = [](const std::string&) { return true; };
    in.askLogicalScan = [] { ADD_FAILURE() << "asked how to scan an image"; return 0; };
    const BasicScanStart start = ResolveBasicScanStart(inv, in);
    ASSERT_EQ(start.outcome, ScanStartOutcome::Start) << start.message;
    EXPECT_FALSE(start.logicalVolumeViaDisk);
    EXPECT_EQ(start.partition.DevicePath, "\\\\.\\C:");
    EXPECT_EQ(start.partition.Descriptor.FsType, "FAT16");
    EXPECT_EQ(start.partition.Descriptor.StartSector, 0u);
    EXPECT_EQ(start.partition.Descriptor.EndSector, 102400u);
}

TEST(LogicalDriveSweep, StopEndsTheSweepOnItsWorker)
{
    DevicePtr fixture = LogicalFixture();
    if (!fixture)
        GTEST_SKIP() << "fixture logical.img not unpacked";
    auto slow = std::make_shared<test::SlowDevice>(fixture, 20);
    struct Events final : LogicalSweepEvents {
        std::atomic<int> found{0};
        std::atomic<int> finished{0};
        void OnRecognised(const RecognisedVolume&, FoundBy) override { ++found; }
        void OnFinished(bool) override { ++finished; }
    } events;
    LogicalDriveSweepJob job(Params(slow), &events);
    ASSERT_TRUE(job.Start());
    // The FAT16 boot sector is in the first chunk; stop once it was reported.
    for (int i = 0; i < 2000 && events.found.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(events.found.load(), 1);
    job.Stop();
    job.Wait();
    EXPECT_TRUE(job.Outcome().stopped);
    EXPECT_EQ(job.Outcome().added.size(), 1u);   // what was found stays
    EXPECT_LT(job.Progress().done.load(), 32768u);
    EXPECT_EQ(events.finished.load(), 1);
    EXPECT_EQ(job.ResultText(), "Found 1 more partitions in selected Drive ( Drive - E: )");

    // Destroying a running job stops it and waits for its worker.
    auto job2 = std::make_unique<LogicalDriveSweepJob>(Params(slow));
    ASSERT_TRUE(job2->Start());
    job2.reset();
}

}  // namespace
}  // namespace torvane
