#include "disk/physical_disks.h"
#include "disk/drive_text.h"
#include "disk_image_builder.h"
#include "fake_sysfs.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>

namespace torvane {
namespace {

using test::FakeTree;
using test::SparseImage;

// A machine with a USB stick, a SATA disk (not readable without root), a USB
// hard disk known to udev, a loop-attached image, an SD card and an NVMe disk,
// plus devices that are not disks.
struct FakeMachine {
    test::TempDir tmp;
    FakeTree sys{tmp.path() / "sys"};
    FakeTree udev{tmp.path() / "udev"};
    DeviceRegistry registry;
    std::map<std::string, DevicePtr> devices;

    FakeMachine() {
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0";
        sys.Disk("sdb", usb, 30031872, true, "8:16");
        sys.File("devices/" + usb + "/vendor", "SanDisk \n");
        sys.File("devices/" + usb + "/model", "Ultra           \n");
        sys.File("devices/" + usb + "/rev", "1.00\n");
        sys.File("devices/" + usb + "/vpd_pg80", std::string("\x00\x80\x00\x0c", 4) + "4C530001230\n");

        const std::string sata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
        sys.Disk("sdc", sata, 1953525168, false, "8:32");
        sys.File("devices/" + sata + "/vendor", "ATA     \n");
        sys.File("devices/" + sata + "/model", "Samsung SSD 860 \n");

        // Behind a SAS-less SCSI path, but udev knows it is on USB.
        const std::string scsi = "platform/host7/target7:0:0/7:0:0:0";
        sys.Disk("sdd", scsi, 3907029168ull, false, "8:48");
        sys.File("devices/" + scsi + "/vendor", "WD      \n");
        sys.File("devices/" + scsi + "/model", "Elements 25A2   \n");
        udev.File("b8:48", "S:disk/by-id/usb-WD\nE:ID_BUS=usb\nE:ID_SERIAL_SHORT=WX11A\n");

        sys.Disk("loop3", "", 131072, false, "7:3");
        sys.File("block/loop3/loop/backing_file", "/home/u/card dump.img\n");

        const std::string mmc = "pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa";
        sys.Disk("mmcblk0", mmc, 62333952, false, "179:0");
        sys.File("devices/" + mmc + "/name", "SD32G\n");
        sys.File("devices/" + mmc + "/type", "SD\n");
        sys.File("devices/" + mmc + "/fwrev", "0x8\n");
        sys.File("devices/" + mmc + "/serial", "0x1234abcd\n");

        const std::string nvme = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
        sys.Disk("nvme0n1", nvme, 1953525168, false, "259:0");
        sys.File("devices/" + nvme + "/model", "Samsung SSD 980 PRO 1TB                 \n");
        sys.File("devices/" + nvme + "/firmware_rev", "5B2QGXA7\n");
        sys.File("devices/" + nvme + "/serial", "S5GXNF0R123456 \n");

        // Not disks: skipped by the registry.
        sys.Disk("zram0", "", 8388608, false, "252:0");
        sys.Disk("sr0", "pci0000:00/ata2/host1/target1:0:0/1:0:0:0", 2097152, true, "11:0");
        sys.Disk("dm-0", "", 1000000, false, "253:0");

        // The USB stick holds one FAT32 partition; the other readable disks are blank.
        SparseImage stick(30031872);
        stick.MbrEntry(0, 0, 0x0C, 2048, 30029824);
        stick.Fat32(2048, 32, 29000, 64, 2, 30029824);
        devices["/dev/sdb"] = stick.Device("/dev/sdb");
        for (const char* blank : {"/dev/sdd", "/dev/loop3", "/dev/mmcblk0", "/dev/nvme0n1"})
            devices[blank] = SparseImage(1000000).Device(blank);

        registry.SetSysfsRoot(sys.RootText());
        registry.SetDevRoot("/dev");
        registry.SetOpener([this](const std::string& path, std::string* error, int* err) -> DevicePtr {
            auto it = devices.find(path);
            int e = path == "/dev/sdc" ? EACCES : ENOENT;
            if (it != devices.end()) return it->second;
            if (error) *error = e == EACCES ? "Permission denied" : "No such file or directory";
            if (err) *err = e;
            return nullptr;
        });
        registry.Refresh();
    }

    const DriveDetails* Details(DriveInventory& inv, const std::string& sysfsName) {
        for (const RegisteredDisk& d : registry.Disks()) {
            if (d.sysfsName != sysfsName) continue;
            TreeNodeId item = FindDiskTreeItem(inv, d.number, inv.PhysicalDrivesItem);
            return item == kNoTreeNode ? nullptr : inv.Tree.PayloadAs<DriveDetails>(item);
        }
        return nullptr;
    }
};

TEST(PhysicalDisks, BusMediaAndModelFromSysfs) {
    FakeMachine m;
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(true);
    EnumeratePhysicalDisks(inv, m.registry, PhysicalDiskOptions{m.udev.RootText()});
    EXPECT_FALSE(inv.DriveListBusy);

    struct Want {
        const char* name;
        const char* bus;
        const char* media;
        const char* model;
        const char* revision;
        const char* serial;
    };
    const Want wants[] = {
        {"sdb", "USB", "Removable Media", "SanDisk Ultra USB Device", "1.00", "4C530001230"},
        {"sdc", "SATA", "Fixed hard disk media", "Samsung SSD 860 SATA Device", "", ""},
        {"sdd", "USB", "External hard disk media", "WD Elements 25A2 USB Device", "", "WX11A"},
        {"loop3", "FILEBACKEDVIRTUAL", "Fixed hard disk media", "card dump.img FILEBACKEDVIRTUAL Device", "", ""},
        {"mmcblk0", "SD", "Removable Media", "SD32G SD Device", "0x8", "0x1234abcd"},
        {"nvme0n1", "NVME", "Fixed hard disk media", "Samsung SSD 980 PRO 1TB NVME Device", "5B2QGXA7", "S5GXNF0R123456"},
    };
    for (const Want& w : wants) {
        SCOPED_TRACE(w.name);
        const DriveDetails* d = m.Details(inv, w.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->BusTypeText, w.bus);
        EXPECT_EQ(d->MediaText, w.media);
        EXPECT_EQ(d->KindText, w.media);
        EXPECT_EQ(d->ModelText, w.model);
        EXPECT_EQ(d->ModelText2, w.model);
        EXPECT_EQ(d->FirmwareRevision, w.revision);
        EXPECT_EQ(d->SerialNumber, w.serial);
        EXPECT_TRUE(d->VendorText.empty());
        EXPECT_EQ(d->TracksPerCylinderText, "255");
        EXPECT_EQ(d->SectorsPerTrackText, "63");
        EXPECT_EQ(d->BytesPerSectorText, "512");
        EXPECT_EQ(d->ModeName, "Basic Search");
        EXPECT_EQ(d->DevicePath, std::string("/dev/") + w.name);
        EXPECT_EQ(d->ItemText, std::string(w.media) + FormatDiskTag(std::stoi(d->DiskNumberText)) + d->DiskCapacityText + ")");
        EXPECT_EQ(d->CapacityMediaText, d->DiskCapacityText + " - " + w.media);
    }
    // Not disks.
    for (const RegisteredDisk& d : m.registry.Disks())
        EXPECT_TRUE(d.sysfsName != "zram0" && d.sysfsName != "sr0" && d.sysfsName != "dm-0") << d.sysfsName;
    EXPECT_EQ(inv.Tree.ChildCount(inv.PhysicalDrivesItem), 6u);
}

TEST(PhysicalDisks, SizesGeometryAndIdentity) {
    FakeMachine m;
    DriveInventory inv;
    inv.RecoveryMode = 2;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, m.registry, PhysicalDiskOptions{m.udev.RootText()});
    const DriveDetails* nvme = m.Details(inv, "nvme0n1");
    ASSERT_NE(nvme, nullptr);
    EXPECT_EQ(nvme->TotalSectorsText, "1953525168");  // exact, not cut to whole cylinders
    EXPECT_EQ(nvme->CylindersText, std::to_string(1953525168ull / 16065));
    EXPECT_EQ(nvme->DiskCapacityText, "931.51 GB");
    EXPECT_EQ(nvme->SizeMiB, 1953525168ull * 512 >> 20);
    EXPECT_EQ(nvme->ModeName, "Deep Search");
    const std::string identity = "Samsung SSD 980 PRO 1TB NVME Device||931.51 GB||1953525168||" + nvme->DiskNumberText;
    EXPECT_NE(std::find(inv.DiskIdentityList.begin(), inv.DiskIdentityList.end(), identity), inv.DiskIdentityList.end());
    EXPECT_EQ(inv.DiskIdentityList.size(), 6u);
    EXPECT_EQ(inv.DiskMediaList.size(), 12u);
    EXPECT_EQ(inv.DiskMediaList[0], "0");
}

TEST(PhysicalDisks, PartitionsJobsAndRefusedDisk) {
    FakeMachine m;
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(true);
    EnumeratePhysicalDisks(inv, m.registry, PhysicalDiskOptions{m.udev.RootText()});

    const DriveDetails* stick = m.Details(inv, "sdb");
    ASSERT_NE(stick, nullptr);
    ASSERT_EQ(inv.Tree.ChildCount(stick->TreeItem), 1u);
    EXPECT_EQ(inv.Tree.Text(inv.Tree.Child(stick->TreeItem, 0)), "Partition - 1 ( FAT32 )");
    const int stickNumber = std::stoi(stick->DiskNumberText);
    const PartitionRecord& rec = inv.PartitionTable.Entry(stickNumber)->Records[0];
    EXPECT_EQ(rec.StartSector, 2048u);
    EXPECT_EQ(rec.EndSector, 2048u + 30029824);
    EXPECT_EQ(rec.Geometry.SectorsPerCluster, 64u);  // FAT partitions carry their geometry
    EXPECT_EQ(rec.TreeItem, inv.Tree.Child(stick->TreeItem, 0));

    // The SATA disk cannot be opened: listed, flagged, not a job.
    const DriveDetails* sata = m.Details(inv, "sdc");
    ASSERT_NE(sata, nullptr);
    EXPECT_TRUE(sata->AccessDenied);
    EXPECT_EQ(sata->OpenError, "Permission denied");
    ASSERT_EQ(inv.AccessDeniedDisks.size(), 1u);
    EXPECT_EQ(inv.AccessDeniedDisks[0], std::stoi(sata->DiskNumberText));
    EXPECT_TRUE(m.registry.AnyPermissionDenied());

    // Blank readable disks become partition-discovery jobs.
    EXPECT_EQ(inv.SmpParamList.size(), 4u);
    for (const SmpParam& job : inv.SmpParamList) {
        EXPECT_EQ(job.TracksPerCylinder, 255u);
        EXPECT_EQ(job.SectorsPerTrack, 63u);
        EXPECT_NE(job.TreeItem, kNoTreeNode);
        EXPECT_EQ(inv.Tree.ChildCount(job.TreeItem), 0u);
        EXPECT_NE(job.DevicePath, sata->DeviceId);
        EXPECT_NE(job.DevicePath, stick->DeviceId);
    }

    // Sorted by text: external before fixed before removable.
    std::vector<std::string> texts;
    for (TreeNodeId c : inv.Tree.Children(inv.PhysicalDrivesItem)) texts.push_back(inv.Tree.Text(c));
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end(),
                               [](const std::string& a, const std::string& b) { return CompareTreeText(a, b) < 0; }));
    EXPECT_EQ(texts.front().rfind("External hard disk media", 0), 0u);
    EXPECT_EQ(texts.back().rfind("Removable Media", 0), 0u);
}

TEST(PhysicalDisks, OnlyRemovableAndExternalWhenNotListingAll) {
    FakeMachine m;
    DriveInventory inv;
    inv.RecoveryMode = 3;
    inv.ListAllDriveTypes = false;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, m.registry, PhysicalDiskOptions{m.udev.RootText()});
    for (TreeNodeId c : inv.Tree.Children(inv.PhysicalDrivesItem)) {
        std::string t = inv.Tree.Text(c);
        EXPECT_TRUE(t.rfind("Removable", 0) == 0 || t.rfind("External", 0) == 0) << t;
    }
    EXPECT_EQ(inv.Tree.ChildCount(inv.PhysicalDrivesItem), 3u);
    EXPECT_EQ(inv.DiskMediaList.size(), 12u);  // every disk keeps its media entry
}

TEST(PhysicalDisks, ImagesAreFileBackedDisks) {
    DeviceRegistry registry;
    registry.SetSysfsRoot("");
    SparseImage img(100000);
    img.MbrEntry(0, 0, 0x07, 2048, 50000);
    img.PutText(2048, 3, "NTFS");
    registry.RegisterMemoryDisk(img.Device("sample.img"), true);
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, registry);
    ASSERT_EQ(inv.Tree.ChildCount(inv.PhysicalDrivesItem), 1u);
    TreeNodeId disk = inv.Tree.Child(inv.PhysicalDrivesItem, 0);
    auto* d = inv.Tree.PayloadAs<DriveDetails>(disk);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->BusTypeText, "FILEBACKEDVIRTUAL");
    EXPECT_EQ(d->MediaText, "Removable Media");
    EXPECT_EQ(d->ItemText, "Removable Media (Disk0 - 48.83 MB)");
    EXPECT_EQ(inv.Tree.Text(inv.Tree.Child(disk, 0)), "Partition - 1 ( NTFS )");
    EXPECT_TRUE(inv.SmpParamList.empty());
}

// The registry hands out 26 numbers; the disk given the last one is listed
// like any other and gets its partition-table entry.
TEST(PhysicalDisks, EveryRegistryNumberIsListed) {
    DeviceRegistry registry;
    registry.SetSysfsRoot("");
    for (int i = 0; i < kMaxDisks; ++i) {
        SparseImage img(100000);
        if (i == kMaxDisks - 1) {
            img.MbrEntry(0, 0, 0x07, 2048, 50000);
            img.PutText(2048, 3, "NTFS");
        }
        ASSERT_EQ(registry.RegisterMemoryDisk(img.Device("disk" + std::to_string(i) + ".img")), i);
    }
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, registry);
    EXPECT_EQ(inv.Tree.ChildCount(inv.PhysicalDrivesItem), static_cast<std::size_t>(kMaxDisks));
    TreeNodeId last = FindDiskTreeItem(inv, kMaxDisks - 1, inv.PhysicalDrivesItem);
    ASSERT_NE(last, kNoTreeNode);
    EXPECT_NE(inv.Tree.Text(last).find("(Disk25 - "), std::string::npos);
    ASSERT_EQ(inv.Tree.ChildCount(last), 1u);
    EXPECT_EQ(inv.Tree.Text(inv.Tree.Child(last, 0)), "Partition - 1 ( NTFS )");
    EXPECT_EQ(inv.PartitionTable.Entry(kMaxDisks - 1)->RecordCount, 1u);
    EXPECT_EQ(inv.DiskMediaList.size(), 2u * kMaxDisks);
    EXPECT_EQ(inv.DiskIdentityList.size(), static_cast<std::size_t>(kMaxDisks));
}

TEST(PhysicalDisks, LargeSectorDiskListedWithANote) {
    test::TempDir tmp;
    FakeTree sys(tmp.path());
    sys.Disk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", 7814037168ull, false, "8:0");
    sys.File("block/sda/queue/logical_block_size", "4096\n");
    DeviceRegistry registry;
    registry.SetSysfsRoot(sys.RootText());
    registry.SetOpener([](const std::string& path, std::string*, int*) -> DevicePtr {
        return SparseImage(1000).Device(path);
    });
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, registry);
    ASSERT_EQ(inv.Tree.ChildCount(inv.PhysicalDrivesItem), 1u);
    auto* d = inv.Tree.PayloadAs<DriveDetails>(inv.Tree.Child(inv.PhysicalDrivesItem, 0));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->LogicalBlockSize, 4096u);
    EXPECT_EQ(d->Note, "Disks with 4096-byte sectors are not supported.");
    EXPECT_EQ(inv.Tree.ChildCount(d->TreeItem), 0u);
    EXPECT_TRUE(inv.SmpParamList.empty());  // no partition discovery on it either
}

TEST(PhysicalDisks, BusNameTable) {
    EXPECT_EQ(BusTypeName(4), "IEEE 1394");
    EXPECT_EQ(BusTypeName(9), "iSCSI");
    EXPECT_EQ(BusTypeName(21), "Reserved");
    EXPECT_EQ(BusTypeName(22), "");
    EXPECT_EQ(BusTypeName(23), "Other Device");
    EXPECT_EQ(BusTypeName(-1), "Other Device");
    EXPECT_EQ(MediaText(12, "USB"), "External hard disk media");
    EXPECT_EQ(MediaText(11, "USB"), "Removable Media");
    EXPECT_EQ(MediaText(0, "USB"), "");
    DiskProperties blankVendor;
    blankVendor.Product = "Flash Disk";
    blankVendor.Bus = kBusUsb;
    EXPECT_EQ(BuildModelText(blankVendor, "sdz"), "Flash Disk USB Device");
    DiskProperties noProduct;
    noProduct.Bus = kBusVirtual;
    EXPECT_EQ(BuildModelText(noProduct, "vda"), "vda VIRTUAL Device");
}

}  // namespace
}  // namespace torvane
