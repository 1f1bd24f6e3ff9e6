// The window-free rules of the drive trees (icons, the empty tree, the item
// selected again, node kinds, the logical branch) and the device-event
// sources (the /sys/block comparison, which events matter).
#include "disk/device_events.h"
#include "disk/drive_tree_rules.h"
#include "disk/physical_disks.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace torvane {
namespace {

namespace fs = std::filesystem;

TEST(DriveTreeIcons, FirstMatchingRuleWins) {
    struct Case {
        const char* text;
        const char* parent;
        int current;
        int expected;
    } cases[] = {
        {"My Computer", "", 9, 0},
        {"Logical Drives", "My Computer", 9, 1},
        {"Physical Drives", "My Computer", 9, 3},
        {"Recognised1 - 2048 - FAT32", "E: /media/card (1.00 GB - CARD - FAT32)", 9, 2},
        {"Removable Media (Disk2 - 14.91 GB)", "Physical Drives", 9, 3},
        // "Media (" comes before "Partition".
        {"Partition - 1 ( FAT32 ) Media (x)", "Removable Media (Disk2 - 14.91 GB)", 9, 3},
        {"Partition - 2 ( NTFS )", "Fixed hard disk media (Disk0 - 1.00 GB)", 9, 2},
        {"E: /media/card (1.00 GB - CARD - FAT32)", "Logical Drives", 9, 4},
        {"something else", "Physical Drives", 7, 7},
    };
    for (const Case& c : cases) EXPECT_EQ(DriveTreeImageFor(c.text, c.parent, c.current), c.expected) << c.text;
}

// A tree shaped like a listed one: two disks (the first with two partitions)
// and, when asked, a logical drive.
struct SmallTree {
    DriveInventory inv;
    TreeNodeId disk0 = kNoTreeNode, disk1 = kNoTreeNode, part1 = kNoTreeNode, part2 = kNoTreeNode,
               volume = kNoTreeNode;
    explicit SmallTree(bool withLogical, bool withDisks = true) {
        inv.RecoveryMode = 1;
        inv.CreateRoots(withLogical);
        if (withDisks) {
            disk0 = inv.Tree.InsertChild(inv.PhysicalDrivesItem, "Fixed hard disk media (Disk0 - 105.50 MB)");
            disk1 = inv.Tree.InsertChild(inv.PhysicalDrivesItem, "Removable Media (Disk1 - 1.00 GB)");
            part1 = inv.Tree.InsertChild(disk0, "Partition - 1 ( FAT32 )");
            part2 = inv.Tree.InsertChild(disk0, "Partition - 2 ( NTFS )");
        }
        if (withLogical) volume = inv.Tree.InsertChild(inv.LogicalDrivesItem, "E: /media/card (1.00 GB - CARD - FAT32)");
    }
};

TEST(DriveTreeIcons, SetOverTheWholeTree) {
    SmallTree t(true);
    SetDriveTreeIcons(t.inv.Tree);
    EXPECT_EQ(t.inv.Tree.Image(t.inv.MyComputerItem), kImageComputer);
    EXPECT_EQ(t.inv.Tree.Image(t.inv.PhysicalDrivesItem), kImageDisk);
    EXPECT_EQ(t.inv.Tree.Image(t.inv.LogicalDrivesItem), kImageDriveGroup);
    EXPECT_EQ(t.inv.Tree.Image(t.disk1), kImageDisk);
    // "Fixed hard disk media (" has no "Media (": the image stays as inserted.
    EXPECT_EQ(t.inv.Tree.Image(t.disk0), 0);
    EXPECT_EQ(t.inv.Tree.Image(t.part2), kImagePartition);
    EXPECT_EQ(t.inv.Tree.Image(t.volume), kImageVolume);
}

TEST(DriveTree, EmptyAndReselect) {
    SmallTree none(false, false);
    EXPECT_TRUE(DriveTreeIsEmpty(none.inv));
    EXPECT_EQ(ChooseReselectItem(none.inv), none.inv.MyComputerItem);

    SmallTree onlyVolume(true, false);
    EXPECT_FALSE(DriveTreeIsEmpty(onlyVolume.inv));

    SmallTree full(true);
    EXPECT_FALSE(DriveTreeIsEmpty(full.inv));
    EXPECT_EQ(ChooseReselectItem(full.inv), full.part1);
    // A first disk without partitions is selected itself.
    full.inv.Tree.RemoveChildren(full.disk0);
    EXPECT_EQ(ChooseReselectItem(full.inv), full.disk0);
}

TEST(DriveTree, RemovingTheLogicalBranchMovesTheSelection) {
    SmallTree t(true);
    t.inv.SelectedItem = t.volume;
    EXPECT_TRUE(RemoveLogicalDrivesBranch(t.inv));
    EXPECT_EQ(t.inv.SelectedItem.load(), t.inv.MyComputerItem);
    EXPECT_EQ(t.inv.LogicalDrivesItem, kNoTreeNode);
    EXPECT_FALSE(t.inv.Tree.IsValid(t.volume));
    EXPECT_FALSE(RemoveLogicalDrivesBranch(t.inv));

    SmallTree other(true);
    other.inv.SelectedItem = other.part1;
    EXPECT_FALSE(RemoveLogicalDrivesBranch(other.inv));
    EXPECT_EQ(other.inv.SelectedItem.load(), other.part1);
}

TEST(DriveTree, NodeKinds) {
    SmallTree t(true);
    const TreeNodeId recognised = t.inv.Tree.InsertChild(t.volume, "Recognised1 - 2048 - FAT32");
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.inv.MyComputerItem), DriveNodeKind::Computer);
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.inv.PhysicalDrivesItem), DriveNodeKind::PhysicalDrives);
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.inv.LogicalDrivesItem), DriveNodeKind::LogicalDrives);
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.disk1), DriveNodeKind::Disk);
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.part2), DriveNodeKind::Partition);
    EXPECT_EQ(ClassifyDriveNode(t.inv, t.volume), DriveNodeKind::Volume);
    EXPECT_EQ(ClassifyDriveNode(t.inv, recognised), DriveNodeKind::Recognised);
    EXPECT_EQ(ClassifyDriveNode(t.inv, kNoTreeNode), DriveNodeKind::None);
    EXPECT_EQ(ClassifyDriveNode(t.inv, 9999), DriveNodeKind::None);
    EXPECT_EQ(SelectedNodeKindText(DriveNodeKind::Disk), "Hard Disk");
    EXPECT_EQ(SelectedNodeKindText(DriveNodeKind::Volume), "Logical");
    EXPECT_EQ(SelectedNodeKindText(DriveNodeKind::Partition), "part");
}

TEST(DeviceEvents, WhatAnEventAsks) {
    using K = DeviceEventKind;
    using A = DeviceEventAction;
    struct Case {
        K kind;
        bool box, retry, busy, idle, follow;
        A expected;
    } cases[] = {
        // The box is up: an arrival retries, once at a time; a removal does nothing.
        {K::Arrival, true, false, false, false, true, A::Retry},
        {K::Arrival, true, true, false, true, true, A::Ignore},
        {K::Arrival, true, false, true, true, true, A::Ignore},
        {K::Removal, true, false, false, true, true, A::Ignore},
        // No box: the tree follows the devices while the dialog is idle.
        {K::Arrival, false, false, false, true, true, A::RefreshTree},
        {K::Removal, false, false, false, true, true, A::RefreshTree},
        {K::Removal, false, false, false, false, true, A::Ignore},
        {K::Arrival, false, false, true, true, true, A::Ignore},
        {K::Arrival, false, false, false, true, false, A::Ignore},
    };
    for (const Case& c : cases) {
        DeviceEventContext ctx{c.box, c.retry, c.busy, c.idle, c.follow};
        EXPECT_EQ(DecideDeviceEvent(c.kind, ctx), c.expected)
            << static_cast<int>(c.kind) << c.box << c.retry << c.busy << c.idle << c.follow;
    }
}

TEST(DeviceEvents, WhichEventsConcernTheDrives) {
    const std::vector<std::string> listed = {"sdb", "nvme0n1", "mmcblk0"};
    using K = DeviceEventKind;
    struct Case {
        K kind;
        const char* name;
        bool expected;
    } cases[] = {
        {K::Removal, "sdb", true},      {K::Removal, "sdb1", true},     {K::Removal, "nvme0n1p2", true},
        {K::Removal, "mmcblk0p1", true}, {K::Removal, "sdba", false},   {K::Removal, "sdc", false},
        {K::Removal, "", true},          {K::Arrival, "sdc", true},     {K::Arrival, "loop3", true},
        {K::Arrival, "zram0", false},    {K::Arrival, "sr0", false},    {K::Arrival, "ram1", false},
        {K::Arrival, "srv", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceEventConcernsDrives({c.kind, c.name}, listed), c.expected) << c.name;
}

TEST(DeviceEvents, BlockSnapshotDifferences) {
    BlockSnapshot before = {{"sda", {1000, "1"}}, {"sdb", {0, "2"}}, {"sdc", {500, "3"}}, {"sdd", {64, "4"}}};
    BlockSnapshot after = {{"sda", {1000, "1"}},   // unchanged
                           {"sdb", {2048, "2"}},   // a card went into the reader
                           {"sdd", {64, "9"}},     // another medium
                           {"sde", {4096, "5"}},   // a new disk
                           {"sdf", {0, "6"}}};     // a reader without a card
    // sdc is gone.
    std::vector<DeviceEvent> events = DiffBlockSnapshots(before, after);
    std::map<std::string, DeviceEventKind> byName;
    for (const DeviceEvent& e : events) byName[e.Name] = e.Kind;
    EXPECT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName.at("sdb"), DeviceEventKind::Arrival);
    EXPECT_EQ(byName.at("sdc"), DeviceEventKind::Removal);
    EXPECT_EQ(byName.at("sdd"), DeviceEventKind::Arrival);
    EXPECT_EQ(byName.at("sde"), DeviceEventKind::Arrival);
    // A card taken out leaves the reader with size 0: a removal.
    EXPECT_EQ(DiffBlockSnapshots(after, {{"sdb", {0, "2"}}}).size(), 4u);
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

TEST(DeviceEvents, PollerReadsSysBlock) {
    test::TempDir dir;
    const fs::path root = dir.path();
    WriteFile(root / "block" / "sda" / "size", "2048");
    SysBlockPoller poller(root.string(), 10);
    EXPECT_EQ(poller.PollIntervalMs(), 10);
    EXPECT_EQ(poller.Fd(), -1);
    EXPECT_TRUE(poller.Poll().empty());
    WriteFile(root / "block" / "sdb" / "size", "4096");
    WriteFile(root / "block" / "sdb" / "diskseq", "7");
    std::vector<DeviceEvent> events = poller.Poll();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Kind, DeviceEventKind::Arrival);
    EXPECT_EQ(events[0].Name, "sdb");
    EXPECT_TRUE(poller.Poll().empty());
    fs::remove_all(root / "block" / "sdb");
    events = poller.Poll();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Kind, DeviceEventKind::Removal);
    // A missing sysfs gives no events and no failure.
    SysBlockPoller nowhere((root / "missing").string());
    EXPECT_TRUE(nowhere.Poll().empty());
    // Tests and fuzz targets (no sysfs) get the poller.
    EXPECT_EQ(MakeDeviceEventSource("")->Describe(), "sysfs polling");
}

TEST(DeviceEvents, ManualSourceHandsOverOnce) {
    ManualDeviceEventSource source;
    source.Push(DeviceEventKind::Arrival, "sdb");
    source.Push(DeviceEventKind::Removal, "sdb");
    EXPECT_EQ(source.Poll().size(), 2u);
    EXPECT_TRUE(source.Poll().empty());
}

}  // namespace
}  // namespace torvane
