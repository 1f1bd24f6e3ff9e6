#include "disk/drive_inventory.h"
#include "base/text_routines.h"
#include "disk/drive_properties.h"
#include "disk/drive_selection.h"
#include "disk/drive_text.h"
#include "disk/volume_geometry.h"
#include "disk_image_builder.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

using test::SparseImage;

// An inventory with disk items for disks 0 and 1 (records behind them).
struct TwoDisks {
    DriveInventory inv;
    TreeNodeId disk0 = kNoTreeNode, disk1 = kNoTreeNode;
    TwoDisks() {
        inv.RecoveryMode = 1;
        inv.CreateRoots(true);
        disk0 = AddDisk(0, "1000000", "Fixed hard disk media (Disk0 - 488.28 MB)");
        disk1 = AddDisk(1, "2000000", "Removable Media (Disk1 - 976.56 MB)");
    }
    TreeNodeId AddDisk(int n, const std::string& sectors, const std::string& text) {
        DriveDetails* d = inv.NewRecord();
        d->DiskNumberText = std::to_string(n);
        d->ModelText = "Model " + std::to_string(n);
        d->DiskCapacityText = "cap" + std::to_string(n);
        d->TotalSectorsText = sectors;
        d->SizeMiB = 100u + static_cast<unsigned>(n);
        TreeNodeInit init;
        init.text = text;
        init.image = kImageDisk;
        init.payload = d;
        return inv.Tree.InsertChild(inv.PhysicalDrivesItem, init);
    }
};

TEST(DriveTreeItems, AddingInsertsTheItemAndNothingElse) {
    TwoDisks t;
    t.inv.SelectedItem = t.disk0;
    TreeNodeId item = AddDriveTreeItem(t.inv, "Partition - 1 ( NTFS )", t.disk1);
    ASSERT_NE(item, kNoTreeNode);
    EXPECT_EQ(t.inv.Tree.Parent(item), t.disk1);
    EXPECT_EQ(t.inv.Tree.Image(item), kImagePartition);
    // No disk becomes current, no record is stored, the selection stays.
    EXPECT_EQ(t.inv.SelectedItem.load(), t.disk0);
    EXPECT_EQ(t.inv.PartitionTable.Entry(1)->RecordCount, 0u);
    EXPECT_EQ(t.inv.Tree.NodeCount(), 6u);

    // Under a partition item nothing is inserted.
    EXPECT_EQ(AddDriveTreeItem(t.inv, "Partition - 9 ( FAT32 )", item), item);
    EXPECT_EQ(t.inv.Tree.ChildCount(item), 0u);

    // No parent: the selected item.
    t.inv.SelectedItem = t.disk0;
    TreeNodeId under0 = AddDriveTreeItem(t.inv, "Partition - 1 ( FAT32 )", kNoTreeNode);
    EXPECT_EQ(t.inv.Tree.Parent(under0), t.disk0);

    // Outside the search modes: nothing.
    t.inv.RecoveryMode = 0;
    EXPECT_EQ(AddDriveTreeItem(t.inv, "Partition - 2 ( FAT32 )", t.disk0), kNoTreeNode);
    EXPECT_EQ(t.inv.Tree.ChildCount(t.disk0), 1u);
}

TEST(DriveTreeItems, PropertyRows) {
    TwoDisks t;
    DiskPartitionEntry& e = *t.inv.PartitionTable.Entry(1);
    e.Append("NTFS", 34, 100, kNoTreeNode);  // GPT first LBA 34, last LBA 99
    auto rows = PartitionPropertyRows(t.inv, 0, "NTFS", 1);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"1. Disk Number : ", "1"}));
    EXPECT_EQ(rows[1].second, "1");
    EXPECT_EQ(rows[2].second, "NTFS");
    EXPECT_EQ(rows[3].second, "Basic Search");
    EXPECT_EQ(rows[4], (std::pair<std::string, std::string>{"5. Start Sector : ", "34"}));
    EXPECT_EQ(rows[5], (std::pair<std::string, std::string>{"6. End Sector : ", "100"}));
    EXPECT_EQ(rows[6], (std::pair<std::string, std::string>{"7. Size : ", "33.00 KB"}));  // 66 sectors
    // A record whose table entry ended past the disk says so.
    e.Records[0].TableEndSector = 1ull << 40;
    rows = PartitionPropertyRows(t.inv, 0, "NTFS", 1);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[7].first, "8. Note : ");
    EXPECT_EQ(rows[7].second, "The partition table gives the end sector 1099511627776, past the end of the disk: only "
                              "the sectors up to 100 are read.");
    t.inv.RecoveryMode = 5;
    EXPECT_EQ(PartitionPropertyRows(t.inv, 0, "NTFS", 1)[3].second, "Signature Search");
    EXPECT_TRUE(PartitionPropertyRows(t.inv, 50, "NTFS", 1).empty());
    EXPECT_TRUE(PartitionPropertyRows(t.inv, -1, "NTFS", 1).empty());
    EXPECT_TRUE(PartitionPropertyRows(t.inv, 0, "NTFS", 26).empty());
}

TEST(DriveTreeItems, ListingNumbersItemsAndStopsAtFifty) {
    TwoDisks t;
    SparseImage img(3'000'000);
    img.MbrEntry(0, 0, 0x07, 2048, 1000);
    img.MbrEntry(0, 1, 0x0F, 10000, 2'900'000);
    for (int i = 0; i < 60; ++i) {
        std::uint64_t ebr = 10000 + 20000ull * i;
        img.MbrEntry(ebr, 0, i % 2 ? 0x07 : 0x0C, 63, 1000);
        img.MbrEntry(ebr, 1, 0x05, static_cast<std::uint32_t>(20000ull * (i + 1)), 20000);
    }
    auto dev = img.Device();
    PartitionWalk w = ListDiskPartitions(t.inv, 1, *dev, img.Sectors(), t.disk1);
    EXPECT_TRUE(w.TableFull);
    ASSERT_EQ(t.inv.Tree.ChildCount(t.disk1), 50u);
    EXPECT_EQ(t.inv.Tree.Text(t.inv.Tree.Child(t.disk1, 0)), "Partition - 1 ( NTFS )");
    EXPECT_EQ(t.inv.Tree.Text(t.inv.Tree.Child(t.disk1, 1)), "Partition - 2 ( FAT32 )");
    EXPECT_EQ(t.inv.Tree.Text(t.inv.Tree.Child(t.disk1, 49)), "Partition - 50 ( FAT32 )");
    const DiskPartitionEntry& e = *t.inv.PartitionTable.Entry(1);
    EXPECT_EQ(e.RecordCount, 50u);
    EXPECT_EQ(e.Records[1].StartSector, 10063u);
    EXPECT_EQ(e.Records[1].TreeItem, t.inv.Tree.Child(t.disk1, 1));
    EXPECT_EQ(t.inv.PartitionTable.Entry(0)->RecordCount, 0u);  // another disk's entry is left alone

    // A full table takes no mounted volume either.
    VolumeDiskExtent ext{true, 1, 2'950'000, 2'960'000};
    AddLogicalVolumePartition(t.inv, "ext4", ext);
    EXPECT_EQ(t.inv.Tree.ChildCount(t.disk1), 50u);
    EXPECT_EQ(e.RecordCount, 50u);
}

// A partition whose table entry ends past the disk is listed up to the
// disk's end (its record, its size) and its property list says so.
TEST(DriveTreeItems, APartitionPastTheDiskIsListedUpToItsEnd) {
    TwoDisks t;
    SparseImage img(3'000'000);
    img.MbrEntry(0, 0, 0x07, 2048, 0xFFFFFF00u);
    img.PutText(2048, 3, "NTFS");
    auto dev = img.Device();
    ListDiskPartitions(t.inv, 1, *dev, img.Sectors(), t.disk1);
    const PartitionRecord& r = t.inv.PartitionTable.Entry(1)->Records[0];
    EXPECT_EQ(r.EndSector, 3'000'000u);
    EXPECT_EQ(r.TableEndSector, 2048ull + 0xFFFFFF00u);
    EXPECT_EQ(PartitionSizeText(r), TrimText(FormatByteSize((3'000'000ull - 2048) * 512)));
    const auto rows = PartitionPropertyRows(t.inv, 0, "NTFS", 1);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[5].second, "3000000");
    EXPECT_NE(rows[7].second.find("4294969088"), std::string::npos) << rows[7].second;
}

TEST(DriveTreeItems, MountedVolumesAddedOnlyWhenNotListed) {
    struct Case {
        const char* what;
        VolumeDiskExtent ext;
        bool added;
    };
    const Case cases[] = {
        {"exact match", {true, 0, 2048, 100000}, false},
        {"ends 100 sectors beyond the last record", {true, 0, 200000, 300100}, true},
        {"same start, ends 100 later", {true, 0, 2048, 100100}, true},
        {"starts inside, ends within 63", {true, 0, 199000, 300040}, false},
        {"between two records", {true, 0, 120000, 180000}, true},  // not hidden by a later record
        {"same end, other start", {true, 0, 150000, 300000}, true},
        {"unknown extent", {false, 0, 120000, 180000}, false},
        {"disk without an item", {true, 5, 120000, 180000}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TwoDisks t;
        DiskPartitionEntry& e = *t.inv.PartitionTable.Entry(0);
        e.Append("NTFS", 2048, 100000, AddDriveTreeItem(t.inv, "Partition - 1 ( NTFS )", t.disk0));
        e.Append("NTFS", 200000, 300000, AddDriveTreeItem(t.inv, "Partition - 2 ( NTFS )", t.disk0));
        AddLogicalVolumePartition(t.inv, "FAT", c.ext);
        if (c.added) {
            ASSERT_EQ(t.inv.Tree.ChildCount(t.disk0), 3u);
            EXPECT_EQ(t.inv.Tree.Text(t.inv.Tree.Child(t.disk0, 2)), "Partition - 3 ( FAT16 )");
            EXPECT_EQ(e.RecordCount, 3u);
            EXPECT_EQ(e.FsNames[2], "FAT16");
            EXPECT_EQ(e.Records[2].StartSector, c.ext.StartSector);
            EXPECT_EQ(e.Records[2].EndSector, c.ext.EndSector);
            EXPECT_EQ(e.Records[0].StartSector, 2048u);  // nothing overwritten
        } else {
            EXPECT_EQ(t.inv.Tree.ChildCount(t.disk0), 2u);
            EXPECT_EQ(e.RecordCount, 2u);
        }
    }
}

TEST(DriveTreeItems, DiskContextReachesTheScan) {
    TwoDisks t;
    const DiskContext one = DescribeDisk(t.inv, 1);
    ASSERT_TRUE(one.Found());
    EXPECT_EQ(one.Number, 1);
    EXPECT_EQ(one.Item, t.disk1);
    EXPECT_EQ(one.SectorCount, 2000000u);
    EXPECT_EQ(one.SizeMiB, 101u);
    EXPECT_EQ(one.ModelText, "Model 1");
    EXPECT_EQ(one.IdentityText, "Model 1||cap1||2000000||1");
    EXPECT_EQ(one.Record.DiskNumberText, "1");
    EXPECT_FALSE(DescribeDisk(t.inv, 7).Found());  // no such disk
    CurrentPartition p;
    CopyDiskContext(DescribeDisk(t.inv, 0), p);
    EXPECT_EQ(p.CurrentDiskSectorCount, 1000000u);
    EXPECT_EQ(p.Descriptor.DiskIdentity, "Model 0||cap0||1000000||0");
    EXPECT_EQ(p.Descriptor.DiskModelText, "Model 0");
    EXPECT_EQ(FindDiskTreeItem(t.inv, 1, t.inv.PhysicalDrivesItem), t.disk1);
    EXPECT_EQ(FindDiskTreeItem(t.inv, 10, t.inv.PhysicalDrivesItem), kNoTreeNode);
}

TEST(DriveTreeItems, SelectedVolumeRecord) {
    TwoDisks t;
    DriveDetails* vol = t.inv.NewRecord();
    vol->KindText = "Logical Drives";
    vol->ExtentDiskNumber = 1;
    vol->Dynamic = 1;
    vol->ExtentStart = 2048;
    vol->ExtentEnd = 4096;
    TreeNodeInit init;
    init.text = "E: /media/x (1.00 MB - X - FAT32)";
    init.payload = vol;
    TreeNodeId item = t.inv.Tree.InsertChild(t.inv.LogicalDrivesItem, init);
    // A node without a record has no extent.
    EXPECT_EQ(DescribeDriveNode(t.inv, t.inv.MyComputerItem).Volume.Extent.StartSector, 0u);
    const ScanSource s = DescribeDriveNode(t.inv, item);
    EXPECT_EQ(s.Volume.Record.ItemText, vol->ItemText);
    EXPECT_EQ(s.Volume.Extent.DiskNumber, 1u);
    EXPECT_EQ(s.Volume.Extent.Dynamic, 1u);
    EXPECT_EQ(s.Volume.Extent.StartSector, 2048u);
    EXPECT_EQ(s.Volume.Extent.EndSector, 4096u);
    EXPECT_EQ(s.DiskNumber, 1);
}

TEST(DriveTreeItems, RefreshResetKeepsGeometry) {
    TwoDisks t;
    DiskPartitionEntry& e = *t.inv.PartitionTable.Entry(0);
    e.Append("FAT32", 2048, 100000, kNoTreeNode);
    e.Records[0].Geometry.SectorsPerCluster = 8;
    t.inv.DiskMediaList = {"0", "Removable Media"};
    t.inv.VolumeSizeList = {"x"};
    t.inv.LogicalDrivesListed = true;
    t.inv.ResetForRefresh();
    EXPECT_EQ(e.RecordCount, 0u);
    EXPECT_EQ(e.Records[0].Geometry.SectorsPerCluster, 8u);
    EXPECT_TRUE(t.inv.DiskMediaList.empty());
    EXPECT_TRUE(t.inv.VolumeSizeList.empty());
    EXPECT_FALSE(t.inv.LogicalDrivesListed);
}

}  // namespace
}  // namespace torvane
