// The property tables of the drive-tree nodes, on the fixture disks listed
// as physical disks (mbr.img as disk 0, gpt.img as disk 1) and one mounted
// volume: the rows each kind of node shows, and what a selection prepares
// for the next scan (disk, device, sector range, file-system choice). Then
// what each kind of node stands for as a scan source, that describing a node
// changes nothing, and the partition search adding items from its worker
// while the GUI thread describes nodes (run it under ThreadSanitizer).
#include "base/program_state.h"
#include "disk/drive_selection.h"
#include "disk/logical_drives.h"
#include "disk/physical_disks.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace torvane {
namespace {

using test::FixtureImage;

struct Listed {
    DeviceRegistry registry;
    DriveInventory inv;
    TreeNodeId mbrDisk = kNoTreeNode, gptDisk = kNoTreeNode, volume = kNoTreeNode;

    explicit Listed(int mode) {
        registry.SetSysfsRoot("");
        EXPECT_EQ(registry.AddImage(FixtureImage("mbr.img").string(), false), 0);
        EXPECT_EQ(registry.AddImage(FixtureImage("gpt.img").string(), true), 1);
        inv.RecoveryMode = mode;
        inv.ComputerName = "testhost";
        inv.CreateRoots(true);
        EnumeratePhysicalDisks(inv, registry);
        LogicalVolumeInfo v;
        v.Letter = 'E';
        v.Id = "\\\\.\\E:";
        v.BlockDevice = "/dev/sdz1";
        v.MountPoint = "/media/card";
        v.FsName = "FAT32";
        v.Label = "CARD";
        v.SerialText = "1A2B3C4D";
        v.SizeKnown = true;
        v.TotalBytes = 37748736;
        v.FreeBytes = 1048576;
        v.SectorCount = 73728;
        v.Extent = VolumeDiskExtent{true, 0, 2048, 75776};
        EnumerateLogicalDrives(inv, {v});
        mbrDisk = FindDiskTreeItem(inv, 0, inv.PhysicalDrivesItem);
        gptDisk = FindDiskTreeItem(inv, 1, inv.PhysicalDrivesItem);
        volume = inv.Tree.FirstChild(inv.LogicalDrivesItem);
    }
    DriveSelection Select(TreeNodeId node, const std::string& shown = {}, bool results = false) {
        DriveSelectionContext ctx;
        ctx.RecoveryMode = inv.RecoveryMode;
        ctx.ShownItem = shown;
        ctx.HoldsResults = results;
        return PrepareDriveSelection(inv, node, ctx);
    }
};

std::vector<std::string> Column(const PropertyTable& t, std::size_t c) {
    std::vector<std::string> out;
    for (const auto& row : t.Rows) out.push_back(c < row.size() ? row[c] : std::string());
    return out;
}

TEST(PropertyTables, DiskRows) {
    Listed l(kModeBasic);
    ASSERT_NE(l.mbrDisk, kNoTreeNode);
    DriveSelection s = l.Select(l.mbrDisk);
    EXPECT_EQ(s.Kind, DriveNodeKind::Disk);
    EXPECT_EQ(s.NodeKindText, "Hard Disk");
    EXPECT_TRUE(s.ShowTable);
    ASSERT_EQ(s.Table.Columns.size(), 2u);
    EXPECT_EQ(s.Table.Columns[0].name, "Name");
    EXPECT_EQ(s.Table.Columns[1].name, "Value");
    const std::vector<std::string> labels = {
        "1. Model :", "2. MediaType :", "3. Interface Type :", "4. Capacity(size) :", "5. Cylinders :",
        "6. Heads :", "7. Sectors :", "8. Bytes per Sector :", "9. Sector per Track :",
        "10. Firmware Revision ID :", "11. Serial Number :", "12. System Name :", "13. Physical Device ID :"};
    EXPECT_EQ(Column(s.Table, 0), labels);
    const std::vector<std::string> values = Column(s.Table, 1);
    EXPECT_EQ(values[1], "Fixed hard disk media");
    EXPECT_EQ(values[2], "FILEBACKEDVIRTUAL");
    EXPECT_EQ(values[5], "255");
    EXPECT_EQ(values[6], "216064");  // the image's exact size
    EXPECT_EQ(values[7], "512");
    EXPECT_EQ(values[8], "63");
    EXPECT_EQ(values[11], "testhost");
    EXPECT_EQ(values[12].rfind("PhysicalDrive0 (", 0), 0u) << values[12];
    EXPECT_NE(values[12].find("mbr.img"), std::string::npos);
    // The scan gets the disk's identity and device.
    EXPECT_EQ(s.DiskIndex, 0);
    EXPECT_EQ(s.DeviceId, "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(s.Source.DiskNumber, 0);
    EXPECT_EQ(s.Source.Disk.SectorCount, 216064u);
    EXPECT_EQ(s.Source.Disk.IdentityText, DiskIdentityText(*l.inv.Tree.PayloadAs<DriveDetails>(l.mbrDisk)));
    EXPECT_EQ(s.MediaDiskSectors, 216064u);
    // Basic Search has no sector range.
    EXPECT_FALSE(s.SetRange);
    EXPECT_FALSE(s.ShowRange.has_value());
    EXPECT_FALSE(s.FsComboName.has_value());
}

TEST(PropertyTables, DiskPreparesRangeAndFileSystemByMode) {
    for (int mode : {kModeDeep, kModePhoto, kModeVideo, kModeSignature}) {
        Listed l(mode);
        DriveSelection s = l.Select(l.gptDisk);
        ASSERT_TRUE(s.SetRange) << mode;
        EXPECT_EQ(s.ShowRange, std::optional<bool>(true));
        // From the first partition's start to the end of the disk.
        const DiskPartitionEntry& entry = *l.inv.PartitionTable.Entry(1);
        EXPECT_EQ(s.RangeStart, entry.Records[0].StartSector);
        EXPECT_EQ(s.RangeEnd, DescribeDisk(l.inv, 1).SectorCount);
        EXPECT_EQ(s.RangeMin, 0u);
        EXPECT_EQ(s.RangeMax, s.RangeEnd);
        if (mode == kModeDeep) {
            // The first partition of gpt.img is the FAT32 one (the reserved one is not listed).
            EXPECT_EQ(s.FsComboName, std::optional<std::string>("FAT32"));
        } else {
            EXPECT_FALSE(s.FsComboName.has_value());
        }
    }
    // A disk without partition items selects the "other" file system.
    Listed l(kModeDeep);
    l.inv.Tree.RemoveChildren(l.mbrDisk);
    EXPECT_EQ(l.Select(l.mbrDisk).FsComboName, std::optional<std::string>(""));
}

TEST(PropertyTables, PartitionRowsOfEveryFixturePartition) {
    Listed l(kModeDeep);
    struct Expect {
        TreeNodeId disk;
        int pos;
        const char* fs;
        std::uint64_t start, end;
    };
    const std::vector<Expect> expected = {
        {l.mbrDisk, 0, "FAT32", 2048, 75776},   {l.mbrDisk, 1, "NTFS", 75776, 108544},
        {l.mbrDisk, 2, "FAT16", 110592, 180224}, {l.mbrDisk, 3, "exFAT", 182272, 215040},
    };
    for (const Expect& e : expected) {
        const TreeNodeId item = l.inv.Tree.Child(e.disk, static_cast<std::size_t>(e.pos));
        ASSERT_NE(item, kNoTreeNode);
        DriveSelection s = l.Select(item);
        EXPECT_EQ(s.Kind, DriveNodeKind::Partition);
        EXPECT_EQ(s.NodeKindText, "part");
        EXPECT_EQ(s.PartitionPosition, e.pos);
        EXPECT_EQ(s.DriveSizeMiB, 0u);
        EXPECT_EQ(s.DeviceId, "\\\\.\\PhysicalDrive0");
        const std::vector<std::string> labels = {"1. Disk Number : ",  "2. Partition Number : ", "3. Partition Type : ",
                                                 "4. Search Mode : ",  "5. Start Sector : ",     "6. End Sector : ",
                                                 "7. Size : "};
        EXPECT_EQ(Column(s.Table, 0), labels);
        const std::vector<std::string> v = Column(s.Table, 1);
        EXPECT_EQ(v[0], "0");
        EXPECT_EQ(v[1], std::to_string(e.pos + 1));
        EXPECT_EQ(v[2], e.fs);
        EXPECT_EQ(v[3], "Deep Search");
        EXPECT_EQ(v[4], std::to_string(e.start));
        EXPECT_EQ(v[5], std::to_string(e.end));
        EXPECT_EQ(s.FsComboName, std::optional<std::string>(e.fs));
        EXPECT_TRUE(s.SetRange);
        EXPECT_EQ(s.RangeStart, e.start);
        EXPECT_EQ(s.RangeEnd, e.end);
        EXPECT_EQ(s.RangeMax, 216064u);
    }
    // The first partition of mbr.img: 73728 sectors are 36.00 MB.
    EXPECT_EQ(Column(l.Select(l.inv.Tree.Child(l.mbrDisk, 0)).Table, 1)[6], "36.00 MB");
    // GPT partitions show their whole extent (the end is one past the last LBA).
    DriveSelection g = l.Select(l.inv.Tree.Child(l.gptDisk, 0));
    const auto geometry = test::LoadGeometry("gpt.img");
    EXPECT_EQ(Column(g.Table, 1)[5], std::to_string(test::GeometryNumber(geometry, "p2.end").value_or(0)));
    EXPECT_EQ(Column(g.Table, 1)[0], "1");
}

TEST(PropertyTables, RemovableScanKeepsTheRangeHiddenButSet) {
    Listed l(kModeDeep);
    DriveSelectionContext ctx;
    ctx.RecoveryMode = kModeDeep;
    ctx.RemovableScanRunning = true;
    DriveSelection s = PrepareDriveSelection(l.inv, l.inv.Tree.Child(l.mbrDisk, 1), ctx);
    EXPECT_FALSE(s.ShowRange.has_value());
    EXPECT_TRUE(s.SetRange);
    EXPECT_EQ(s.RangeStart, 75776u);
}

TEST(PropertyTables, VolumeRows) {
    Listed l(kModePhoto);
    ASSERT_NE(l.volume, kNoTreeNode);
    DriveSelection s = l.Select(l.volume);
    EXPECT_EQ(s.Kind, DriveNodeKind::Volume);
    EXPECT_EQ(s.NodeKindText, "Logical");
    EXPECT_EQ(s.VolumePath, "\\\\.\\E:");
    EXPECT_EQ(s.Source.Volume.Path, "\\\\.\\E:");
    const std::vector<std::string> labels = {"1. Start Sector :", "2. End Sector : ", "3. Partition Type : ",
                                             "4. Volume : ",       "5. Label : ",       "6. Size : ",
                                             "7. Free Space : ",   "8. Search Mode : ", "9. Serial Number : "};
    EXPECT_EQ(Column(s.Table, 0), labels);
    const std::vector<std::string> v = Column(s.Table, 1);
    EXPECT_EQ(v[0], "0");
    EXPECT_EQ(v[1], "73728");
    EXPECT_EQ(v[2], "FAT32");
    EXPECT_EQ(v[3], "E: /media/card");
    EXPECT_EQ(v[4], "CARD");
    EXPECT_EQ(v[5], "36.00 MB");
    EXPECT_EQ(v[6], "1.00 MB");
    EXPECT_EQ(v[7], "Photo Search");
    EXPECT_EQ(v[8], "1A2B3C4D");
    EXPECT_TRUE(s.SetRange);
    EXPECT_EQ(s.RangeEnd, 73728u);
    EXPECT_EQ(s.RangeMax, 73728u);
    // The same volume again changes nothing; another node does.
    EXPECT_TRUE(l.Select(l.volume, s.ShownItem).Unchanged);
    EXPECT_FALSE(l.Select(l.mbrDisk, s.ShownItem).Unchanged);
}

TEST(PropertyTables, VolumeRowsWithheldWhileResultsShow) {
    Listed l(kModeDeep);
    DriveSelection s = l.Select(l.volume, {}, true);
    EXPECT_TRUE(s.ShowTable);
    EXPECT_TRUE(s.Table.Rows.empty());
    Listed photo(kModePhoto);
    EXPECT_EQ(photo.Select(photo.volume, {}, true).Table.Rows.size(), 9u);
}

TEST(PropertyTables, DrivesTables) {
    Listed l(kModeDeep);
    DriveSelection p = l.Select(l.inv.PhysicalDrivesItem);
    EXPECT_EQ(p.Kind, DriveNodeKind::PhysicalDrives);
    EXPECT_EQ(p.ShowRange, std::optional<bool>(false));
    EXPECT_TRUE(p.Table.HideFirstColumn);
    EXPECT_TRUE(p.Table.SortByColumn1);
    ASSERT_EQ(p.Table.Rows.size(), 2u);
    EXPECT_EQ(p.Table.Rows[0][0], "1");
    EXPECT_EQ(p.Table.Rows[0][1], "Disk0");
    EXPECT_EQ(p.Table.Rows[1][1], "Disk1");
    EXPECT_EQ(p.Table.Rows[1][3], l.inv.Tree.PayloadAs<DriveDetails>(l.gptDisk)->CapacityMediaText);

    DriveSelection v = l.Select(l.inv.LogicalDrivesItem);
    ASSERT_EQ(v.Table.Columns.size(), 5u);
    EXPECT_EQ(v.Table.Columns[1].name, "Volume");
    ASSERT_EQ(v.Table.Rows.size(), 1u);
    EXPECT_EQ(v.Table.Rows[0], (std::vector<std::string>{"1", "E: /media/card", "CARD", "36.00 MB", "FAT32"}));

    DriveSelection c = l.Select(l.inv.MyComputerItem);
    EXPECT_FALSE(c.ShowTable);
    EXPECT_TRUE(c.ShowProgressStatics);
}

TEST(PropertyTables, PartitionWithoutRecordShowsNothing) {
    Listed l(kModeBasic);
    const TreeNodeId stray = l.inv.Tree.InsertChild(l.mbrDisk, "Partition - 9 ( NTFS )");
    DriveSelection s = l.Select(stray);
    EXPECT_FALSE(s.ShowTable);
    EXPECT_EQ(s.PartitionPosition, -1);
}

TEST(PropertyTables, DeviceIdRowWithoutBackslashes) {
    DriveDetails d;
    d.DeviceId = "\\\\.\\PhysicalDrive3";
    EXPECT_EQ(DiskPropertyRows(d)[12].second, "PhysicalDrive3");
    d.DevicePath = "/dev/sdb";
    EXPECT_EQ(DiskPropertyRows(d)[12].second, "PhysicalDrive3 (/dev/sdb)");
}

// ---- what a node stands for ------------------------------------------------------

TEST(ScanSources, EveryKindOfNode) {
    Listed l(kModeBasic);
    const TreeNodeId recognised = l.inv.Tree.InsertChild(l.volume, "Recognised1 - FAT32");
    const auto gpt = test::LoadGeometry("gpt.img");
    const std::uint64_t gptStart = test::GeometryNumber(gpt, "p2.start").value_or(0);
    const std::uint64_t gptEnd = test::GeometryNumber(gpt, "p2.end").value_or(0);
    const std::uint64_t gptSectors = DescribeDisk(l.inv, 1).SectorCount;
    ASSERT_NE(gptSectors, 0u);
    PartitionRecord gptRecord;
    gptRecord.StartSector = gptStart;
    gptRecord.EndSector = gptEnd;
    const std::string gptSize = PartitionSizeText(gptRecord);
    const std::string none;
    const struct Case {
        const char* what;
        TreeNodeId node;
        DriveNodeKind kind;
        std::string kindText;
        int disk;                   // ScanSource::DiskNumber
        bool diskFound;
        std::uint64_t diskSectors;
        int position;               // the partition's record
        std::string fs;             // partition or volume
        std::uint64_t start, end;   // partition record or volume extent
        std::string volumePath;
        std::uint64_t volumeSectors;
        std::uint64_t sizeMiB;
        std::string description;
    } cases[] = {
        {"My Computer", l.inv.MyComputerItem, DriveNodeKind::Computer, "My Computer", -1, false, 0, -1, none, 0, 0,
         none, 0, 0, none},
        {"Physical Drives", l.inv.PhysicalDrivesItem, DriveNodeKind::PhysicalDrives, "Physical Drives", -1, false, 0,
         -1, none, 0, 0, none, 0, 0, none},
        {"Logical Drives", l.inv.LogicalDrivesItem, DriveNodeKind::LogicalDrives, "Logical Drives", -1, false, 0, -1,
         none, 0, 0, none, 0, 0, none},
        {"disk", l.mbrDisk, DriveNodeKind::Disk, "Hard Disk", 0, true, 216064, -1, none, 0, 0, none, 0, 105,
         l.inv.Tree.Text(l.mbrDisk)},
        {"MBR partition", l.inv.Tree.Child(l.mbrDisk, 1), DriveNodeKind::Partition, "part", 0, true, 216064, 1,
         "NTFS", 75776, 108544, none, 0, 0, "Disk 0 ( Partition 2 / NTFS / 16.00 MB )"},
        {"GPT partition", l.inv.Tree.Child(l.gptDisk, 0), DriveNodeKind::Partition, "part", 1, true, gptSectors, 0,
         "FAT32", gptStart, gptEnd, none, 0, 0,
         "Disk 1 ( Partition 1 / FAT32 / " + gptSize + " )"},
        {"volume", l.volume, DriveNodeKind::Volume, "Logical", 0, false, 0, -1, "FAT32", 2048, 75776,
         "\\\\.\\E:", 73728, 0, "E: /media/card (36.00 MB - CARD - FAT32)"},
        {"recognised", recognised, DriveNodeKind::Recognised, "Recognised", -1, false, 0, -1, none, 0, 0, none, 0,
         0, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScanSource s = DescribeDriveNode(l.inv, c.node);
        EXPECT_EQ(s.Node, c.node);
        EXPECT_EQ(s.Kind, c.kind);
        EXPECT_EQ(s.KindText, c.kindText);
        EXPECT_EQ(s.ItemText, l.inv.Tree.Text(c.node));
        EXPECT_EQ(s.DiskNumber, c.disk);
        EXPECT_EQ(s.Disk.Found(), c.diskFound);
        EXPECT_EQ(s.Disk.SectorCount, c.diskSectors);
        EXPECT_EQ(s.Partition.Position, c.position);
        EXPECT_EQ(s.Volume.Path, c.volumePath);
        EXPECT_EQ(s.Volume.SectorCount, c.volumeSectors);
        EXPECT_EQ(s.SizeMiB, c.sizeMiB);
        EXPECT_EQ(s.Description, c.description);
        if (c.kind == DriveNodeKind::Partition) {
            EXPECT_EQ(s.Partition.FsName, c.fs);
            EXPECT_EQ(s.Partition.Record.StartSector, c.start);
            EXPECT_EQ(s.Partition.Record.EndSector, c.end);
            EXPECT_EQ(s.Partition.Record.TreeItem, c.node);
            // The disk context is the disk's, as selecting the disk itself gives it.
            const ScanSource disk = DescribeDriveNode(l.inv, l.inv.Tree.Parent(c.node));
            EXPECT_EQ(s.Disk.IdentityText, disk.Disk.IdentityText);
            EXPECT_EQ(s.Disk.Item, disk.Node);
        }
        if (c.kind == DriveNodeKind::Volume) {
            EXPECT_EQ(s.Volume.FsName, c.fs);
            EXPECT_EQ(s.Volume.Extent.DiskNumber, 0u);
            EXPECT_EQ(s.Volume.Extent.Dynamic, 0u);
            EXPECT_EQ(s.Volume.Extent.StartSector, c.start);
            EXPECT_EQ(s.Volume.Extent.EndSector, c.end);
        }
        if (c.kind == DriveNodeKind::Disk) {
            EXPECT_EQ(s.Disk.Number, 0);
            EXPECT_EQ(s.Disk.Item, c.node);
            EXPECT_EQ(s.Disk.ModelText, l.inv.Tree.PayloadAs<DriveDetails>(c.node)->ModelText);
            EXPECT_EQ(s.Disk.Record.DeviceId, "\\\\.\\PhysicalDrive0");
        }
        // The selection carries the same description.
        EXPECT_EQ(l.Select(c.node).Source.Description, c.description);
    }
    EXPECT_EQ(DescribeDriveNode(l.inv, kNoTreeNode).Kind, DriveNodeKind::None);
}

// Everything describing could touch, to compare before and after.
struct InventoryState {
    std::vector<std::tuple<TreeNodeId, TreeNodeId, std::string, int, void*, bool>> Nodes;
    std::vector<std::tuple<int, std::uint32_t, std::string, std::uint64_t, std::uint64_t, TreeNodeId>> Records;
    std::vector<std::string> Lists;
    TreeNodeId Selected = kNoTreeNode;
    int Mode = 0;
    bool LogicalListed = false;
    std::uint64_t LastVolumeSectors = 0;
    bool operator==(const InventoryState&) const = default;
};

InventoryState Capture(const DriveInventory& inv) {
    InventoryState s;
    inv.Tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
        s.Nodes.emplace_back(id, inv.Tree.Parent(id), inv.Tree.Text(id), inv.Tree.Image(id), inv.Tree.Payload(id),
                             inv.Tree.Highlighted(id));
        return true;
    });
    for (int disk = 0; disk < kMaxDiskEntries; ++disk) {
        const DiskPartitionEntry& e = *inv.PartitionTable.Entry(disk);
        for (std::uint32_t i = 0; i < e.RecordCount && i < kMaxPartitionsPerDisk; ++i)
            s.Records.emplace_back(disk, e.RecordCount, e.FsNames[i], e.Records[i].StartSector,
                                   e.Records[i].EndSector, e.Records[i].TreeItem);
    }
    for (const auto* list : {&inv.DiskMediaList, &inv.DiskIdentityList, &inv.VolumeSizeList})
        s.Lists.insert(s.Lists.end(), list->begin(), list->end());
    s.Selected = inv.SelectedItem.load();
    s.Mode = inv.RecoveryMode.load();
    s.LogicalListed = inv.LogicalDrivesListed;
    s.LastVolumeSectors = inv.LastVolumeSectorCount;
    return s;
}

TEST(ScanSources, DescribingChangesNothing) {
    for (int mode : {kModeBasic, kModeDeep, kModePhoto}) {
        Listed l(mode);
        l.inv.Tree.InsertChild(l.volume, "Recognised1 - FAT32");
        l.inv.Tree.InsertChild(l.mbrDisk, "Partition - 9 ( NTFS )");  // an item without a record
        const InventoryState before = Capture(l.inv);
        std::vector<TreeNodeId> nodes;
        l.inv.Tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
            nodes.push_back(id);
            return true;
        });
        for (TreeNodeId node : nodes) {
            DescribeDriveNode(l.inv, node);
            l.Select(node);
            l.Select(node, l.inv.Tree.Text(node), true);
        }
        for (int disk = -1; disk <= kMaxDiskEntries; ++disk) DescribeDisk(l.inv, disk);
        EXPECT_TRUE(Capture(l.inv) == before) << mode;
    }
}

// The partition search adds partition items and their records from its
// worker while the GUI thread selects nodes (as the view does: the mode, the
// description, the selected item). Under ThreadSanitizer any unguarded field
// shows as a race.
TEST(ScanSources, PartitionSearchAddsWhileTheGuiDescribes) {
    Listed l(kModeBasic);
    DiskPartitionEntry& entry = *l.inv.PartitionTable.Entry(1);
    const std::uint32_t listed = entry.RecordCount;
    ASSERT_LT(listed, static_cast<std::uint32_t>(kMaxPartitionsPerDisk));
    std::atomic<bool> done{false};
    // Nodes the GUI thread has described: the worker lets it describe a few
    // between two additions, so the two really interleave.
    std::atomic<int> described{0};
    std::thread worker([&] {
        for (std::uint64_t i = 0;; ++i) {
            {
                auto lock = l.inv.Lock();
                const int pos = static_cast<int>(entry.RecordCount);
                if (pos >= kMaxPartitionsPerDisk) break;
                const TreeNodeId item = AddDriveTreeItem(l.inv, PartitionItemText(pos + 1, "NTFS"), l.gptDisk);
                entry.Put(pos, "NTFS", 100000 + i * 1000, 100000 + i * 1000 + 800, item);
            }
            const int seen = described.load();
            while (described.load() < seen + 3) std::this_thread::yield();
        }
        done = true;
    });
    int rounds = 0;
    while (!done.load() || rounds < 3) {
        std::vector<TreeNodeId> nodes;
        l.inv.Tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
            nodes.push_back(id);
            return true;
        });
        for (TreeNodeId node : nodes) {
            l.inv.RecoveryMode = kModeBasic;
            const DriveSelection s = l.Select(node);
            l.inv.SelectedItem = node;
            ++described;
            if (s.Kind == DriveNodeKind::Partition) {
                // An item is never seen without its record: both change under one lock.
                EXPECT_GE(s.Source.Partition.Position, 0) << l.inv.Tree.Text(node);
                EXPECT_TRUE(s.Source.Disk.Found());
            }
        }
        ++rounds;
    }
    worker.join();
    ASSERT_EQ(l.inv.Tree.ChildCount(l.gptDisk), static_cast<std::size_t>(kMaxPartitionsPerDisk));
    const DiskContext gpt = DescribeDisk(l.inv, 1);
    for (std::size_t row = listed; row < kMaxPartitionsPerDisk; ++row) {
        const ScanSource s = DescribeDriveNode(l.inv, l.inv.Tree.Child(l.gptDisk, row));
        EXPECT_EQ(s.Partition.Position, static_cast<int>(row));
        EXPECT_EQ(s.Partition.FsName, "NTFS");
        EXPECT_EQ(s.DiskNumber, 1);
        EXPECT_EQ(s.Disk.SectorCount, gpt.SectorCount);
    }
}

}  // namespace
}  // namespace torvane
