// "Scan Now" of the Basic Search on the fixture disk image: what the drive
// tree's selection resolves to (type, device, range, description), and the
// refusals in their order.
#include "base/program_state.h"
#include "disk/drive_refresh.h"
#include "disk/logical_drives.h"
#include "disk/drive_selection.h"
#include "fsrecovery/basic_scan_start.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

class BasicScanStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.SetSysfsRoot("");
        ASSERT_EQ(registry.AddImage(test::FixtureImage("mbr.img").string(), false), 0);
        inv.RecoveryMode = 1;
        List();
    }

    // Lists the disk afresh (without logical drives).
    void List()
    {
        DriveRefreshOptions o;
        o.RefreshRegistry = false;
        BuildDriveInventory(inv, registry, o);
        disk = inv.Tree.FirstChild(inv.PhysicalDrivesItem);
        ASSERT_NE(disk, kNoTreeNode);
    }

    // Selects `node` as the tree does and takes what the selection describes.
    BasicScanStartInput Select(TreeNodeId node)
    {
        DriveSelectionContext ctx;
        ctx.RecoveryMode = 1;
        DriveSelection s = PrepareDriveSelection(inv, node, ctx);
        BasicScanStartInput in;
        in.selectedItem = node;
        in.source = s.Source;
        in.canOpen = [](const std::string& path) { return path == "\\\\.\\PhysicalDrive0"; };
        return in;
    }

    // Lists a mounted volume E: over the first partition of the disk, on a
    // dynamic disk or not.
    TreeNodeId ListVolume(bool dynamic)
    {
        TreeNodeInit init;
        init.text = "Logical Drives";
        init.image = kImageDriveGroup;
        inv.LogicalDrivesItem = inv.Tree.InsertChild(inv.MyComputerItem, init);
        LogicalVolumeInfo v;
        v.Letter = 'E';
        v.Id = "\\\\.\\E:";
        v.FsName = "FAT32";
        v.Label = "CARD";
        v.SectorCount = Num("p1.end") - Num("p1.start");
        v.Extent = VolumeDiskExtent{true, 0, Num("p1.start"), Num("p1.end")};
        v.Dynamic = dynamic;
        EnumerateLogicalDrives(inv, {v});
        return inv.Tree.FirstChild(inv.LogicalDrivesItem);
    }

    TreeNodeId Partition(int n) { return inv.Tree.Child(disk, static_cast<std::size_t>(n - 1)); }

    DeviceRegistry registry;
    DriveInventory inv;
    TreeNodeId disk = kNoTreeNode;
    const test::Geometry geometry = test::LoadGeometry("mbr.img");
    std::uint64_t Num(const std::string& key) { return test::GeometryNumber(geometry, key).value_or(0); }
};

TEST_F(BasicScanStartTest, PartitionResolvesToItsExtentOnTheDisk)
{
    const struct {
        int partition;
        const char* fs;
    } cases[] = {{1, "FAT32"}, {2, "NTFS"}};
    for (const auto& c : cases) {
        BasicScanStart s = ResolveBasicScanStart(inv, Select(Partition(c.partition)));
        ASSERT_EQ(s.outcome, ScanStartOutcome::Start) << s.message;
        const std::string k = "p" + std::to_string(c.partition) + ".";
        EXPECT_EQ(s.partition.Descriptor.FsType, c.fs);
        EXPECT_EQ(s.partition.ScanStartFsName, c.fs);
        EXPECT_EQ(s.partition.Descriptor.StartSector, Num(k + "start"));
        EXPECT_EQ(s.partition.Descriptor.EndSector, Num(k + "end"));
        EXPECT_EQ(s.partition.Descriptor.ItemStart, Num(k + "start"));
        EXPECT_EQ(s.partition.Descriptor.ModeText, "Basic Search");
        EXPECT_EQ(s.partition.DevicePath, "\\\\.\\PhysicalDrive0");
        EXPECT_EQ(s.partition.Descriptor.EndByte, Num("disk.sectors") * 512);
        EXPECT_EQ(s.selectionDescription.rfind("Disk 0 ( Partition " + std::to_string(c.partition) + " / " + c.fs + " / ", 0), 0u)
            << s.selectionDescription;
        EXPECT_EQ(ScanRangeText(s.rangeStart, s.rangeEnd), std::to_string(Num(k + "start")) + " to " + std::to_string(Num(k + "end")));
    }
}

// A partition record that ends past the disk (a damaged table) is swept only
// as far as the disk goes.
TEST_F(BasicScanStartTest, APartitionEndingPastTheDiskEndsWithIt)
{
    for (const std::uint64_t end : {Num("disk.sectors") + 1, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
        inv.PartitionTable.Entry(0)->Records[0].EndSector = end;
        BasicScanStart s = ResolveBasicScanStart(inv, Select(Partition(1)));
        ASSERT_EQ(s.outcome, ScanStartOutcome::Start) << s.message;
        EXPECT_EQ(s.partition.Descriptor.StartSector, Num("p1.start"));
        EXPECT_EQ(s.partition.Descriptor.EndSector, Num("disk.sectors")) << end;
        EXPECT_EQ(s.partition.Descriptor.ItemEnd, Num("disk.sectors")) << end;
        EXPECT_EQ(s.partition.Descriptor.EndByte, Num("disk.sectors") * 512) << end;
        EXPECT_EQ(s.rangeEnd, Num("disk.sectors"));
    }
}

TEST_F(BasicScanStartTest, WholeDiskStartsAtItsFirstPartition)
{
    BasicScanStart s = ResolveBasicScanStart(inv, Select(disk));
    ASSERT_EQ(s.outcome, ScanStartOutcome::Start) << s.message;
    EXPECT_EQ(s.partition.Descriptor.StartSector, Num("p1.start"));
    EXPECT_EQ(s.partition.Descriptor.EndSector, Num("disk.sectors"));
    EXPECT_EQ(s.partition.Descriptor.FsType, "FAT32");
}

TEST_F(BasicScanStartTest, RefusalsInTheirOrder)
{
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    // A fixed node.
    BasicScanStart s = ResolveBasicScanStart(inv, Select(inv.PhysicalDrivesItem));
    EXPECT_EQ(s.outcome, ScanStartOutcome::Message);
    EXPECT_EQ(s.message, texts.SelectDriveText);
    // A scan has run: silent, even for a drive that could not be opened.
    BasicScanStartInput in = Select(Partition(1));
    in.basicScanCount = 1;
    in.canOpen = [](const std::string&) { return false; };
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::Refused);
    EXPECT_TRUE(s.message.empty());
    // The device is gone.
    in.basicScanCount = 0;
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::Message);
    EXPECT_EQ(s.message, texts.DriveUnavailableText);
    // A type the Basic Search cannot read.
    in = Select(Partition(1));
    in.source.Partition.FsName = "Linux";
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::NotPossible);
    EXPECT_EQ(s.message, kRecoveryNotPossibleBasicText);
    // An end sector of 0.
    in = Select(Partition(1));
    in.source.Partition.Record.EndSector = 0;
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::Message);
    EXPECT_EQ(s.message, texts.EndSectorOrderText);
}

TEST_F(BasicScanStartTest, LogicalDriveThroughItsDiskOrItsOwnPath)
{
    const std::uint64_t start = Num("p1.start"), end = Num("p1.end");
    const struct {
        const char* what;
        bool dynamic;
        int answer;           // what the logical-scan question answers (not asked on a basic disk)
        bool asked;
        ScanStartOutcome outcome;
        const char* device;
        std::uint64_t first, last;
        bool viaDisk;
    } cases[] = {
        {"basic disk: through the disk, no question", false, 0, false, ScanStartOutcome::Start,
         "\\\\.\\PhysicalDrive0", start, end, true},
        {"dynamic disk, Perform Physical Scan", true, 2, true, ScanStartOutcome::Start, "\\\\.\\PhysicalDrive0",
         start, end, true},
        {"dynamic disk, Perform Logical Scan", true, 1, true, ScanStartOutcome::Start, "\\\\.\\E:", 0, end - start,
         false},
        {"dynamic disk, question cancelled", true, 0, true, ScanStartOutcome::Refused, "", 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        List();
        const TreeNodeId volume = ListVolume(c.dynamic);
        ASSERT_NE(volume, kNoTreeNode);
        BasicScanStartInput in = Select(volume);
        bool asked = false;
        in.askLogicalScan = [&] {
            asked = true;
            return c.answer;
        };
        in.canOpen = [](const std::string& path) { return path == "\\\\.\\PhysicalDrive0" || path == "\\\\.\\E:"; };
        const BasicScanStart s = ResolveBasicScanStart(inv, in);
        EXPECT_EQ(asked, c.asked);
        ASSERT_EQ(s.outcome, c.outcome) << s.message;
        if (c.outcome != ScanStartOutcome::Start) {
            EXPECT_TRUE(s.message.empty());
            continue;
        }
        EXPECT_EQ(s.partition.DevicePath, c.device);
        EXPECT_EQ(s.partition.Descriptor.FsType, "FAT32");
        EXPECT_EQ(s.partition.Descriptor.StartSector, c.first);
        EXPECT_EQ(s.partition.Descriptor.EndSector, c.last);
        EXPECT_EQ(s.partition.Descriptor.EndByte, c.last * 512);
        EXPECT_EQ(s.partition.Descriptor.DiskNumber, 0u);
        EXPECT_EQ(s.partition.SelectedSourceKind, "Logical");
        EXPECT_EQ(s.logicalVolumeViaDisk, c.viaDisk);
        EXPECT_EQ(s.selectionDescription, inv.Tree.Text(volume));
        if (c.viaDisk) {
            EXPECT_EQ(s.partition.VolumeExtent.StartSector, start);
            EXPECT_EQ(s.partition.VolumeExtent.EndSector, end);
            EXPECT_EQ(s.partition.CurrentDiskSectorCount, Num("disk.sectors"));
        }
    }
}

}  // namespace
}  // namespace torvane
