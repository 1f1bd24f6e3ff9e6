#include "disk/drive_refresh.h"
#include "disk/logical_drives.h"
#include "disk/physical_disks.h"
#include "disk/volume_mapping.h"
#include "disk_image_builder.h"
#include "fake_sysfs.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sstream>

namespace torvane {
namespace {

using test::FakeTree;
using test::SparseImage;

TEST(MountInfo, ParsesFieldsAndEscapes) {
    std::istringstream in(
        "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "30 22 8:17 / /media/u/MY\\040CARD rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw,fmask=0022\n"
        "garbage line\n"
        "31 22 8:17 /DCIM /mnt/x rw - vfat /dev/sdb1 rw\n"
        "40 22 0:45 / /media/u/Back\\134slash rw - fuseblk /dev/sdc1 rw\n");
    auto e = ParseMountInfo(in);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].Major, 254u);
    EXPECT_EQ(e[0].FsType, "ext4");
    EXPECT_EQ(e[1].MountPoint, "/media/u/MY CARD");
    EXPECT_EQ(e[1].Source, "/dev/sdb1");
    EXPECT_EQ(e[1].SuperOptions, "rw,fmask=0022");
    EXPECT_EQ(e[2].Root, "/DCIM");
    EXPECT_EQ(e[3].MountPoint, "/media/u/Back\\slash");
    EXPECT_EQ(UnescapeMountField("a\\011b\\012c\\04"), "a\tb\nc\\04");
}

// sysfs of a machine whose root file system lies on a whole virtio disk, with
// a USB card reader (one FAT32 partition) and a USB disk with an NTFS
// partition mounted through FUSE.
struct VolumeMachine {
    test::TempDir tmp;
    FakeTree sys{tmp.path() / "sys"};
    FakeTree proc{tmp.path() / "proc"};
    DeviceRegistry registry;
    std::map<std::string, DevicePtr> devices;

    VolumeMachine() {
        sys.Disk("vda", "pci0000:00/0000:00:05.0/virtio2", 2000000, false, "254:0");
        sys.Disk("sdb", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0", 1000000, true, "8:16");
        sys.Partition("sdb", "sdb1", 1, 2048, 997952, "8:17");
        sys.Disk("sdc", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0", 3000000, false, "8:32");
        sys.Partition("sdc", "sdc1", 1, 2048, 1000000, "8:33");
        sys.Disk("sr0", "pci0000:00/ata2/host1/target1:0:0/1:0:0:0", 100000, true, "11:0");
        sys.Disk("loop1", "", 50000, false, "7:1");
        sys.File("block/loop1/loop/backing_file", "/var/lib/snapd/snaps/core_1.snap\n");
        sys.Disk("dm-0", "", 500000, false, "253:0");
        sys.Link("block/dm-0/slaves/sdc2", "../../sdc/sdc2");
        sys.Partition("sdc", "sdc2", 2, 1002048, 500000, "8:34");
        proc.File("mountinfo",
                  "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                  "30 22 8:17 /DCIM /mnt/x rw - vfat /dev/sdb1 rw\n"
                  "31 22 8:17 / /media/u/MY\\040CARD rw,nosuid - vfat /dev/sdb1 rw\n"
                  "40 22 0:45 / /media/u/DATA rw - fuseblk /dev/sdc1 rw,user_id=0\n"
                  "41 22 253:0 / /home/crypt rw - ext4 /dev/mapper/crypt rw\n"
                  "50 22 0:50 / /net rw - nfs server:/export rw\n"
                  "51 22 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
                  "52 22 7:1 / /snap/core/1 ro - squashfs /dev/loop1 ro\n"
                  "60 22 0:5 / /dev/shm rw - tmpfs tmpfs rw\n"
                  "61 22 0:20 / /proc rw - proc proc rw\n");

        SparseImage vda(2000000);  // ext4: no boot sector the program knows
        vda.PutText(2, 56, "\x53\xEF");
        devices["/dev/vda"] = vda.Device();
        SparseImage sdb(1000000);
        sdb.MbrEntry(0, 0, 0x0C, 2048, 997952);
        sdb.Fat32(2048, 32, 1000, 8, 2, 997952);
        sdb.PutText(2048, 71, "MYCARD     ");
        devices["/dev/sdb"] = sdb.Device();
        SparseImage sdb1(997952);
        sdb1.Fat32(0, 32, 1000, 8, 2, 997952);
        sdb1.PutText(0, 71, "MYCARD     ");
        devices["/dev/sdb1"] = sdb1.Device();
        SparseImage sdc(3000000);  // a table the walk cannot read: no signature
        devices["/dev/sdc"] = sdc.Device();
        SparseImage sdc1(1000000);
        sdc1.Ntfs(0, 0, 8, 4, 2, 999999);
        sdc1.Put64(0, 0x48, 0x1122334455667788ull);
        devices["/dev/sdc1"] = sdc1.Device();

        registry.SetSysfsRoot(sys.RootText());
        registry.SetOpener([this](const std::string& path, std::string* error, int* err) -> DevicePtr {
            auto it = devices.find(path);
            if (it != devices.end()) return it->second;
            if (error) *error = "No such file or directory";
            if (err) *err = ENOENT;
            return nullptr;
        });
        registry.Refresh();
    }

    int DiskNumber(const std::string& name) {
        for (const RegisteredDisk& d : registry.Disks())
            if (d.sysfsName == name) return d.number;
        return -1;
    }
};

TEST(LogicalDrives, BlockMountsOncePerDeviceInMountOrder) {
    VolumeMachine m;
    std::ifstream in(m.proc.Root() / "mountinfo");
    auto volumes = SelectBlockVolumes(ParseMountInfo(in), m.sys.RootText());
    ASSERT_EQ(volumes.size(), 4u);
    EXPECT_EQ(volumes[0].BlockName, "vda");
    EXPECT_EQ(volumes[1].BlockName, "sdb1");
    EXPECT_EQ(volumes[1].MountPoint, "/media/u/MY CARD");  // the root mount, not the bind of /DCIM
    EXPECT_EQ(volumes[1].BlockDevice, "/dev/sdb1");
    EXPECT_EQ(volumes[2].BlockName, "sdc1");                // FUSE: found by its source
    EXPECT_EQ(volumes[3].BlockName, "dm-0");
}

TEST(LogicalDrives, VolumeToDiskMapping) {
    VolumeMachine m;
    BlockDeviceLocation p = LocateBlockDevice(m.sys.RootText(), "sdb1");
    EXPECT_TRUE(p.Known);
    EXPECT_EQ(p.DiskName, "sdb");
    EXPECT_EQ(p.StartSector, 2048u);
    EXPECT_EQ(p.EndSector, 2048u + 997952);
    BlockDeviceLocation whole = LocateBlockDevice(m.sys.RootText(), "vda");
    EXPECT_TRUE(whole.Known);
    EXPECT_EQ(whole.EndSector, 2000000u);
    BlockDeviceLocation dm = LocateBlockDevice(m.sys.RootText(), "dm-0");
    EXPECT_FALSE(dm.Known);
    EXPECT_TRUE(dm.Mapped);
    EXPECT_EQ(dm.DiskName, "sdc");
    EXPECT_FALSE(LocateBlockDevice(m.sys.RootText(), "nope").Known);
    EXPECT_FALSE(LocateBlockDevice(m.sys.RootText(), "../etc").Known);

    VolumeDiskExtent ext;
    EXPECT_FALSE(QueryVolumeDiskExtent(m.registry, "/dev/sdb1", ext));
    EXPECT_TRUE(ext.Known);
    EXPECT_EQ(ext.DiskNumber, static_cast<std::uint32_t>(m.DiskNumber("sdb")));
    EXPECT_TRUE(QueryVolumeDiskExtent(m.registry, "/dev/dm-0", ext));  // mapped: dynamic
    EXPECT_FALSE(ext.Known);
    EXPECT_FALSE(QueryVolumeDiskExtent(m.registry, "/dev/nothing", ext));
    EXPECT_FALSE(ext.Known);
}

TEST(LogicalDrives, CollectAndListUnderBothBranches) {
    VolumeMachine m;
    LogicalDriveSources src;
    src.MountInfoPath = (m.proc.Root() / "mountinfo").string();
    src.UseBlkid = false;
    src.UseStatvfs = false;
    std::vector<LogicalVolumeInfo> vols = CollectLogicalVolumes(m.registry, src);
    ASSERT_EQ(vols.size(), 4u);
    EXPECT_EQ(vols[0].Id, "\\\\.\\C:");
    EXPECT_EQ(vols[0].FsName, "ext4");
    EXPECT_EQ(vols[0].SectorCount, 2000000u);
    EXPECT_EQ(vols[1].Letter, 'D');
    EXPECT_EQ(vols[1].FsName, "FAT32");
    EXPECT_EQ(vols[1].Label, "MYCARD");
    EXPECT_EQ(vols[1].SerialText, "CAFE0001");
    EXPECT_EQ(vols[1].SectorCount, 997952u);  // the device's size, not the file system's capacity
    EXPECT_TRUE(vols[1].Removable);
    EXPECT_FALSE(vols[1].Dynamic);
    EXPECT_EQ(vols[2].FsName, "NTFS");
    EXPECT_EQ(vols[2].SerialText, "55667788");
    EXPECT_EQ(vols[3].Letter, 'F');
    EXPECT_TRUE(vols[3].Dynamic);

    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(true);
    EnumeratePhysicalDisks(inv, m.registry);
    EnumerateLogicalDrives(inv, vols);
    EXPECT_FALSE(inv.DriveListBusy);
    EXPECT_TRUE(inv.LogicalDrivesListed);

    std::vector<std::string> items;
    for (TreeNodeId c : inv.Tree.Children(inv.LogicalDrivesItem)) items.push_back(inv.Tree.Text(c));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], "C: / (Unknown Size  -  - ext4)");
    EXPECT_EQ(items[1], "D: /media/u/MY CARD (Unknown Size  - MYCARD - FAT32)");
    EXPECT_EQ(items[2], "E: /media/u/DATA (Unknown Size  -  - NTFS)");
    ASSERT_EQ(inv.VolumeSizeList.size(), 4u);
    EXPECT_EQ(inv.VolumeSizeList[1], "\\\\.\\D:|997952");
    EXPECT_EQ(inv.VolumeSizeList.back().rfind("\\\\.\\F:|", 0), 0u);  // the volume listed last

    auto* card = inv.Tree.PayloadAs<DriveDetails>(inv.Tree.Child(inv.LogicalDrivesItem, 1));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->KindText, "Logical Drives");
    EXPECT_EQ(card->DriveLetter, "D:");
    EXPECT_EQ(card->CapacityText, "Unknown Size");
    EXPECT_EQ(card->FreeSpaceText, "Unknown Size");
    EXPECT_EQ(card->VolumeSectorCountText, "997952");
    EXPECT_EQ(card->ExtentStart, 2048u);
    EXPECT_EQ(card->ExtentEnd, 2048u + 997952);
    EXPECT_EQ(card->VolumeDiskSizeMiB, 0u);

    // The card's partition was listed by the table walk: not added again.
    auto partitionsOf = [&](const std::string& disk) {
        std::vector<std::string> out;
        TreeNodeId item = FindDiskTreeItem(inv, m.DiskNumber(disk), inv.PhysicalDrivesItem);
        for (TreeNodeId c : inv.Tree.Children(item)) out.push_back(inv.Tree.Text(c));
        return out;
    };
    EXPECT_EQ(partitionsOf("sdb"), std::vector<std::string>{"Partition - 1 ( FAT32 )"});
    // A whole-disk file system and a partition the table walk could not see
    // are added from their mounts.
    EXPECT_EQ(partitionsOf("vda"), std::vector<std::string>{"Partition - 1 ( ext4 )"});
    EXPECT_EQ(partitionsOf("sdc"), std::vector<std::string>{"Partition - 1 ( NTFS )"});
    const PartitionRecord& added = inv.PartitionTable.Entry(m.DiskNumber("sdc"))->Records[0];
    EXPECT_EQ(added.StartSector, 2048u);
    EXPECT_EQ(added.EndSector, 1002048u);

    // A second listing adds nothing.
    EnumerateLogicalDrives(inv, vols);
    EXPECT_EQ(inv.Tree.ChildCount(inv.LogicalDrivesItem), 4u);
    EXPECT_FALSE(inv.DriveListBusy);

    // The disk of a drive letter.
    EXPECT_EQ(GetVolumeDiskNumber(m.registry, "D:\\"), m.DiskNumber("sdb"));
    EXPECT_EQ(GetVolumeDiskNumber(m.registry, "\\\\.\\E:"), m.DiskNumber("sdc"));
    EXPECT_EQ(GetVolumeDiskNumber(m.registry, "Q:"), -1);
    EXPECT_FALSE(IsExternalDiskNumber(inv, m.registry, "E:"));  // always false while listing all types
    inv.ListAllDriveTypes = false;
    EXPECT_TRUE(IsExternalDiskNumber(inv, m.registry, "E:"));
    EXPECT_FALSE(IsExternalDiskNumber(inv, m.registry, "D:"));
}

TEST(LogicalDrives, FullRefreshTwiceGivesTheSameTree) {
    VolumeMachine m;
    DriveInventory inv;
    inv.RecoveryMode = 2;
    DriveRefreshOptions o;
    o.WithLogicalDrives = true;
    o.Logical.MountInfoPath = (m.proc.Root() / "mountinfo").string();
    o.Logical.UseBlkid = false;
    o.Logical.UseStatvfs = false;
    auto snapshot = [&] {
        std::vector<std::string> texts;
        inv.Tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId n) {
            texts.push_back(std::string(inv.Tree.Depth(n), ' ') + inv.Tree.Text(n));
            return true;
        });
        return texts;
    };
    BuildDriveInventory(inv, m.registry, o);
    std::vector<std::string> first = snapshot();
    EXPECT_EQ(inv.Tree.Text(inv.MyComputerItem), "My Computer");
    EXPECT_EQ(inv.Tree.ChildCount(inv.LogicalDrivesItem), 4u);
    BuildDriveInventory(inv, m.registry, o);
    EXPECT_EQ(snapshot(), first);
    EXPECT_EQ(inv.VolumeSizeList.size(), 4u);
    EXPECT_EQ(inv.DiskIdentityList.size(), 3u);

    // Logical drives added to a tree listed without them.
    o.WithLogicalDrives = false;
    BuildDriveInventory(inv, m.registry, o);
    EXPECT_EQ(inv.LogicalDrivesItem, kNoTreeNode);
    AddLogicalDrivesBranch(inv, m.registry, o.Logical);
    EXPECT_EQ(inv.Tree.ChildCount(inv.LogicalDrivesItem), 4u);
    EXPECT_EQ(snapshot(), first);
}

TEST(LogicalDrives, ItemTextsAndFilters) {
    LogicalVolumeInfo v;
    v.Letter = 'G';
    v.MountPoint = "/media/x";
    v.Label = "L";
    EXPECT_EQ(LogicalDriveItemText(v, "1.00 GB", "FAT16"), "G: /media/x (1.00 GB - L - FAT16)");

    DriveInventory inv;
    inv.RecoveryMode = 2;
    inv.CreateRoots(true);
    std::vector<LogicalVolumeInfo> vols(3);
    vols[0].Letter = 'C';
    vols[0].FsName = "FAT";           // shown as FAT16
    vols[0].SizeKnown = true;
    vols[0].TotalBytes = 1536;
    vols[0].FreeBytes = 0;            // no free-space text
    vols[1].Letter = 'D';
    vols[1].FsName = "";              // Unknown
    vols[1].SizeKnown = true;
    vols[1].TotalBytes = 1048576;
    vols[1].FreeBytes = 1024;
    vols[2].Letter = 'E';
    EnumerateLogicalDrives(inv, vols, "E");
    ASSERT_EQ(inv.Tree.ChildCount(inv.LogicalDrivesItem), 2u);
    EXPECT_EQ(inv.Tree.Text(inv.Tree.Child(inv.LogicalDrivesItem, 0)), "C: (1.50 KB -  - FAT16)");
    EXPECT_EQ(inv.Tree.Text(inv.Tree.Child(inv.LogicalDrivesItem, 1)), "D: (1.00 MB -  - Unknown)");
    auto* c = inv.Tree.PayloadAs<DriveDetails>(inv.Tree.Child(inv.LogicalDrivesItem, 0));
    EXPECT_EQ(c->FsName, "FAT16");
    EXPECT_EQ(c->FreeSpaceText, "");
    auto* d = inv.Tree.PayloadAs<DriveDetails>(inv.Tree.Child(inv.LogicalDrivesItem, 1));
    EXPECT_EQ(d->FreeSpaceText, "1.00 KB");
    EXPECT_EQ(d->ModeName, "Deep Search");

    // Not listing all types: only volumes on removable media or external disks.
    DriveInventory few;
    few.RecoveryMode = 1;
    few.ListAllDriveTypes = false;
    few.CreateRoots(true);
    vols[0].Removable = true;
    EnumerateLogicalDrives(few, vols);
    EXPECT_EQ(few.Tree.ChildCount(few.LogicalDrivesItem), 1u);
}

TEST(LogicalDrives, BootSectorIdentity) {
    SparseImage img(10);
    img.Fat16(0, 4, 20, 4, 512, 4000);
    img.PutText(0, 0x2B, "PHOTOS     ");
    BootSectorIdentity a = IdentifyBootSector(img.Sector(0));
    EXPECT_EQ(a.FsName, "FAT");
    EXPECT_EQ(a.Label, "PHOTOS");
    EXPECT_EQ(a.SerialText, "1234ABCD");
    img.PutText(0, 0x2B, "NO NAME    ");
    EXPECT_EQ(IdentifyBootSector(img.Sector(0)).Label, "");
    img.Exfat(1, 0, 2048, 128, 4096, 100, 4, 3, 10000, 0x00C0FFEE);
    BootSectorIdentity e = IdentifyBootSector(img.Sector(1));
    EXPECT_EQ(e.FsName, "exFAT");
    EXPECT_EQ(e.SerialText, "C0FFEE");
    EXPECT_EQ(IdentifyBootSector(img.Sector(5)).FsName, "");
}

}  // namespace
}  // namespace torvane
