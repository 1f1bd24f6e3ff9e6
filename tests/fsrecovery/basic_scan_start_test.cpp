// "Scan Now" of the Basic Search on the fixture disk image: what the drive
// tree's selection resolves to (type, device, range, description), and the
// refusals in their order.
#include "base/program_state.h"
#include "disk/drive_refresh.h"
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
        DriveRefreshOptions o;
        o.RefreshRegistry = false;
        BuildDriveInventory(inv, registry, o);
        disk = inv.Tree.FirstChild(inv.PhysicalDrivesItem);
        ASSERT_NE(disk, kNoTreeNode);
    }

    // Selects `node` as the tree does and fills the input from its table.
    BasicScanStartInput Select(TreeNodeId node)
    {
        DriveSelectionContext ctx;
        ctx.RecoveryMode = 1;
        DriveSelection s = PrepareDriveSelection(inv, node, ctx);
        BasicScanStartInput in;
        in.selectedItem = node;
        for (const auto& row : s.Table.Rows)
            in.propertyValues.push_back(row.size() > 1 ? row[1] : std::string());
        in.selectedSourceKind = s.NodeKindText;
        in.selectedDiskNumber = inv.CurrentDiskIndex;
        in.canOpen = [](const std::string& path) { return path == "\\\\.\\PhysicalDrive0"; };
        return in;
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
    in.propertyValues[2] = "Linux";
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::NotPossible);
    EXPECT_EQ(s.message, kRecoveryNotPossibleBasicText);
    // An end sector of 0.
    in = Select(Partition(1));
    in.propertyValues[5] = "not a number";
    s = ResolveBasicScanStart(inv, in);
    EXPECT_EQ(s.outcome, ScanStartOutcome::Message);
    EXPECT_EQ(s.message, texts.EndSectorOrderText);
}

}  // namespace
}  // namespace torvane
