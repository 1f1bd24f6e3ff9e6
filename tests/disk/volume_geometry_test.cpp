#include "disk/volume_geometry.h"
#include "platform/device_registry.h"
#include "disk_image_builder.h"

#include <gtest/gtest.h>

#include <tuple>

#include <ostream>

namespace torvane {

// Every value, so that a failed comparison of two geometries shows which differ.
static void PrintTo(const VolumeGeometry& g, std::ostream* os) {
    *os << "{SectorsPerFat " << g.SectorsPerFat << ", SectorsPerCluster " << g.SectorsPerCluster
        << ", RootSectors " << g.RootSectors << ", RootStart " << g.RootStart << ", ReservedSectors "
        << g.ReservedSectors << ", Cluster0Start " << g.Cluster0Start << ", FirstFatStart " << g.FirstFatStart
        << ", SecondFatStart " << g.SecondFatStart << ", MftStart " << g.MftStart << ", MftMirrStart "
        << g.MftMirrStart << ", FileRecordSectors " << g.FileRecordSectors << ", IndexRecordSectors "
        << g.IndexRecordSectors << ", TotalSectors " << g.TotalSectors << ", NumberOfFats " << g.NumberOfFats
        << ", RootEntryCount " << g.RootEntryCount << "}";
}

namespace {

using test::SparseImage;

constexpr std::uint64_t kDisk = 3'000'000;

struct GeoRun {
    int result;
    CurrentPartition p;
    VolumeParameterReport report;
};

GeoRun Read(const SparseImage& img, const std::string& fsType, std::uint64_t start, std::uint64_t end,
         const std::string& chosen = {}) {
    GeoRun r;
    r.p.Descriptor.FsType = fsType;
    r.p.Descriptor.StartSector = start;
    r.p.Descriptor.EndSector = end;
    r.p.Descriptor.ItemStart = start;
    r.p.ScanStartFsName = chosen.empty() ? fsType : chosen;
    auto dev = img.Device();
    r.result = ReadVolumeParameters(r.p, *dev, &r.report);
    return r;
}

// The volumes most cases read, each alone on a kDisk-sector image.
// FAT16 at 63: 4 reserved sectors, 200 per FAT, 4 per cluster, 512 root
// entries, 40000 sectors.
SparseImage Fat16Image() {
    SparseImage img(kDisk);
    img.Fat16(63, 4, 200, 4, 512, 40000);
    return img;
}
// FAT32 at 2048, backup boot sector at 2054: 32 reserved sectors, 1000 per
// FAT, 8 per cluster, root cluster 2, 200000 sectors.
SparseImage Fat32Image() {
    SparseImage img(kDisk);
    img.Fat32(2048, 32, 1000, 8, 2, 200000);
    return img;
}
// exFAT at 4096 that names 4096 as its partition offset; inside the volume
// the FAT at 2048 (128 sectors) and the cluster heap at 4096: 12000 clusters
// of 8 sectors, root cluster 4, 100000 sectors.
SparseImage ExfatImage() {
    SparseImage img(kDisk);
    img.Exfat(4096, 4096, 2048, 128, 4096, 12000, 4, 3, 100000);
    return img;
}

TEST(VolumeGeometry, Fat16) {
    SparseImage img = Fat16Image();
    GeoRun r = Read(img, "FAT16", 63, 40063);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.p.Geometry, (VolumeGeometry{.SectorsPerFat = 200, .SectorsPerCluster = 4, .RootSectors = 32,
                                            .RootStart = 63 + 4 + 400, .ReservedSectors = 4,
                                            .Cluster0Start = 63 + 4 + 400 + 32 - 8, .FirstFatStart = 67,
                                            .SecondFatStart = 267,
                                            .TotalSectors = 40000,  // from the 16-bit field
                                            .NumberOfFats = 2, .RootEntryCount = 512}));
    EXPECT_EQ(r.p.Descriptor.FsType, "FAT16");
    EXPECT_TRUE(r.p.Descriptor.FsName.empty());  // the scan copies the geometry itself
}

TEST(VolumeGeometry, Fat16Variants) {
    {   // "FAT32" at byte 82 makes it FAT32
        SparseImage img = Fat32Image();
        GeoRun r = Read(img, "FAT16", 2048, 202048);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Descriptor.FsType, "FAT32");
        EXPECT_EQ(r.p.Geometry.Cluster0Start, 2048u + 32 + 2000 - 16);
    }
    {   // one FAT copy or another media byte: the second FAT does not start with 0xF8
        SparseImage img = Fat16Image();
        img.Put8(63 + 4 + 200, 0, 0xF0);
        EXPECT_EQ(Read(img, "FAT16", 63, 40063).result, 0);
    }
    {   // a root entry count that is not a multiple of 16 still gets its last sector
        SparseImage img(kDisk);
        img.Fat16(63, 4, 200, 4, 500, 40000);
        GeoRun r = Read(img, "FAT16", 63, 40063);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Geometry.RootSectors, 32u);
        EXPECT_EQ(r.p.Geometry.Cluster0Start, 63u + 4 + 400 + 32 - 8);
    }
    {   // zero sectors per cluster cannot address clusters
        SparseImage img(kDisk);
        img.Fat16(63, 4, 200, 0, 512, 40000);
        EXPECT_EQ(Read(img, "FAT16", 63, 40063).result, 0);
    }
    {   // no signature
        SparseImage img = Fat16Image();
        img.Put8(63, 511, 0);
        EXPECT_EQ(Read(img, "FAT16", 63, 40063).result, 0);
    }
    {   // large FAT16 keeps its size in the 32-bit field
        SparseImage img(kDisk);
        img.Fat16(63, 4, 256, 64, 512, 4000000);
        GeoRun r = Read(img, "FAT16", 63, 4000063);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Geometry.TotalSectors, 4000000u);
    }
}

TEST(VolumeGeometry, FatBeyondThirtyTwoBitSectorsIsRefused) {
    // The FAT values are 32-bit sector numbers: a volume at 2^32 is refused,
    // not read at wrapped positions, and the report says why (whether its
    // boot sector can be read or not).
    const std::uint64_t start = 0x100000000ull + 2048;
    SparseImage img(start + 400000);
    img.Fat32(start, 32, 1000, 8, 2, 200000);
    img.Fat16(start + 300000, 4, 200, 4, 512, 40000);
    for (const auto& [fs, at] : {std::pair{"FAT32", start}, std::pair{"FAT16", start + 300000},
                                 std::pair{"FAT32", start + 250000}}) {
        const GeoRun r = Read(img, fs, at, at + 40000);
        EXPECT_EQ(r.result, 0) << fs << " " << at;
        EXPECT_EQ(r.report.Refused, VolumeParameterReport::Refusal::BeyondFatLimit) << fs << " " << at;
        EXPECT_NE(VolumeRefusalText(r.report).find("2 TiB"), std::string::npos);
    }
    // Just below the limit, a volume is read.
    const std::uint64_t below = 0xFFFFFFFFull - 300000;
    SparseImage low(below + 300000);
    low.Fat32(below, 32, 1000, 8, 2, 200000);
    const GeoRun r = Read(low, "FAT32", below, below + 200000);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.report.Refused, VolumeParameterReport::Refusal::None);
}

// Sectors of 1024, 2048 or 4096 bytes: the volume is refused with that
// reason, never read as if its sector counts were 512-byte ones. exFAT
// volumes, whose readers take their sector size from the boot sector, and
// a bytes-per-sector field of any other (damaged) value are not refused so.
TEST(VolumeGeometry, LargerSectorsAreRefusedWithTheirSize) {
    for (const std::uint16_t size : {1024, 2048, 4096}) {
        SparseImage fat16 = Fat16Image();
        fat16.Put16(63, 11, size);
        SparseImage fat32 = Fat32Image();
        fat32.Put16(2048, 11, size);
        SparseImage ntfs(kDisk);
        ntfs.Ntfs(2048, 2048, 8, 4, 2, 200000);
        ntfs.Put16(2048, 11, size);
        for (const auto& [img, fs, start] : {std::tuple{&fat16, "FAT16", 63ull}, std::tuple{&fat32, "FAT32", 2048ull},
                                             std::tuple{&ntfs, "NTFS", 2048ull}}) {
            const GeoRun r = Read(*img, fs, start, start + 200001);
            EXPECT_EQ(r.result, 0) << fs << " " << size;
            EXPECT_EQ(r.report.Refused, VolumeParameterReport::Refusal::SectorSize) << fs << " " << size;
            EXPECT_EQ(r.report.BytesPerSector, size);
            EXPECT_NE(VolumeRefusalText(r.report).find(std::to_string(size) + "-byte sectors"), std::string::npos);
        }
    }
    SparseImage odd = Fat32Image();
    odd.Put16(2048, 11, 513);
    const GeoRun r = Read(odd, "FAT32", 2048, 202048);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.report.Refused, VolumeParameterReport::Refusal::None);
    EXPECT_EQ(VolumeRefusalText(r.report), "");
}

TEST(VolumeGeometry, Fat32) {
    SparseImage img = Fat32Image();
    GeoRun r = Read(img, "FAT32", 2048, 202048);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.p.Geometry, (VolumeGeometry{.SectorsPerFat = 1000, .SectorsPerCluster = 8, .RootSectors = 0,
                                            .RootStart = 2,  // the root cluster
                                            .ReservedSectors = 32, .Cluster0Start = 2048 + 32 + 2 * (1000 - 8),
                                            .FirstFatStart = 2080, .SecondFatStart = 3080, .TotalSectors = 200000,
                                            .NumberOfFats = 2}));
    EXPECT_FALSE(r.report.StartSectorMoved);
}

TEST(VolumeGeometry, Fat32ZeroedBootSectorReadFromBackup) {
    SparseImage img = Fat32Image();
    img.Zero(2048);
    GeoRun r = Read(img, "FAT32", 2048, 202048);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.p.Descriptor.StartSector, 2048u);
    EXPECT_EQ(r.p.Geometry.Cluster0Start, 2048u + 32 + 2 * (1000 - 8));
}

TEST(VolumeGeometry, Fat32StartPointingAtTheBackupMovesBack) {
    SparseImage img = Fat32Image();
    GeoRun r = Read(img, "FAT32", 2054, 202048);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.p.Descriptor.StartSector, 2048u);
    EXPECT_TRUE(r.report.StartSectorMoved);
    EXPECT_EQ(r.p.Geometry.FirstFatStart, 2080u);
}

TEST(VolumeGeometry, Fat32Failures) {
    {   // zero sectors per cluster
        SparseImage img(kDisk);
        img.Fat32(2048, 32, 1000, 0, 2, 200000);
        GeoRun r = Read(img, "FAT32", 2048, 202048);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 0u);
    }
    {   // neither copy: the exFAT readers are told to derive their own values
        SparseImage img(kDisk);
        GeoRun r = Read(img, "FAT32", 2048, 202048);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.p.ExfatFallbackGeometry);
    }
    {   // a boot sector whose FAT fields point nowhere (no 0xF8 anywhere)
        SparseImage img = Fat32Image();
        img.Put32(2048, 36, 0xFFFFFFFF);
        img.Put32(2054, 36, 0xFFFFFFFF);
        GeoRun r = Read(img, "FAT32", 2048, 202048);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 8u);
    }
}

TEST(VolumeGeometry, Exfat) {
    SparseImage img = ExfatImage();
    GeoRun r = Read(img, "exFAT", 4096, 104096);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.p.Geometry, (VolumeGeometry{.SectorsPerFat = 128, .SectorsPerCluster = 8, .RootStart = 4,
                                            .Cluster0Start = 4096,  // relative, as the FAT positions
                                            .FirstFatStart = 2048, .SecondFatStart = 2176, .TotalSectors = 100000,
                                            .NumberOfFats = 1}));
    EXPECT_EQ(r.p.Exfat.VolumeByteBase, 4096u * 512);
    EXPECT_EQ(r.p.Exfat.FatByteOffset, 2048u * 512);
    EXPECT_EQ(r.p.Exfat.HeapOffsetClusters, 512u);
    EXPECT_EQ(r.p.Exfat.ClusterCount, 12000u);
    EXPECT_FALSE(r.p.ExfatFallbackGeometry);
    EXPECT_EQ(r.p.Descriptor.FsName, "exFAT");
    EXPECT_EQ(r.p.Descriptor.SectorsPerCluster, 8u);
    EXPECT_EQ(r.p.Descriptor.Cluster0Start, 4096u);
}

TEST(VolumeGeometry, ExfatPartitionOffset) {
    {   // read through the volume itself (start 0): PartitionOffset names the disk
        // position, where this device holds something else. The start stays.
        SparseImage img(kDisk);
        img.Exfat(0, 4096, 2048, 128, 4096, 12000, 4, 3, 100000);
        GeoRun r = Read(img, "exFAT", 0, 100000);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Descriptor.StartSector, 0u);
        EXPECT_EQ(r.p.Exfat.VolumeByteBase, 0u);
    }
    {   // PartitionOffset names the same volume's boot sector: the start moves
        SparseImage img = ExfatImage();
        img.Exfat(4000, 4096, 2048, 128, 4096, 12000, 4, 3, 100000);  // a stale copy
        GeoRun r = Read(img, "exFAT", 4000, 104000);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Descriptor.StartSector, 4096u);
        EXPECT_EQ(r.p.Exfat.VolumeByteBase, 4096u * 512);
    }
    {   // PartitionOffset 0: the start stays
        SparseImage img(kDisk);
        img.Exfat(4096, 0, 2048, 128, 4096, 12000, 4, 3, 100000);
        GeoRun r = Read(img, "exFAT", 4096, 104096);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Exfat.VolumeByteBase, 4096u * 512);
    }
}

TEST(VolumeGeometry, ExfatFallback) {
    {   // shift fields out of range: no exFAT values, no undefined shift
        SparseImage img(kDisk);
        img.Exfat(4096, 4096, 2048, 128, 4096, 12000, 4, 200, 100000);
        GeoRun r = Read(img, "exFAT", 4096, 104096);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.p.ExfatFallbackGeometry);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 1u);
    }
    {   // a FAT32 boot sector where exFAT was chosen, scan start name FAT32
        SparseImage img = Fat32Image();
        GeoRun r = Read(img, "exFAT", 2048, 202048, "FAT32");
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.p.ExfatFallbackGeometry);
        EXPECT_EQ(r.p.Geometry.Cluster0Start, 2048u + 32 + 2 * (1000 - 8));
        EXPECT_EQ(r.p.Geometry.FirstFatStart, 2080u);
        EXPECT_EQ(r.p.Geometry.SecondFatStart, 3080u);
        EXPECT_EQ(r.p.Exfat.Cluster0Sector, r.p.Geometry.Cluster0Start);
        EXPECT_EQ(r.p.Exfat.VolumeByteBase, 2048u * 512);
        EXPECT_EQ(r.p.Exfat.FatByteOffset, 32u * 512);
        EXPECT_EQ(r.p.Exfat.HeapOffsetClusters, (2048u + 32 + 2 * (1000 - 8)) / 8);
        EXPECT_EQ(r.p.Descriptor.FsName, "exFAT");
    }
    {   // chosen name exFAT itself: nothing to derive, one sector per cluster
        SparseImage img = Fat32Image();
        GeoRun r = Read(img, "exFAT", 2048, 202048, "exFAT");
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 1u);
        EXPECT_EQ(r.p.Geometry.Cluster0Start, 0u);
    }
}

TEST(VolumeGeometry, RecognisedExfatReadsAtTheItemStart) {
    SparseImage img = ExfatImage();
    GeoRun r;
    r.p.Descriptor.FsType = "exFAT";
    r.p.Descriptor.StartSector = 0;      // the range a partition search found
    r.p.Descriptor.ItemStart = 4096;     // where the file system it found begins
    r.p.SelectedSourceKind = "Recognised";
    r.p.ScanStartFsName = "exFAT";
    auto dev = img.Device();
    ASSERT_EQ(ReadVolumeParameters(r.p, *dev), 1);
    EXPECT_EQ(r.p.Geometry.RootStart, 4u);
    EXPECT_EQ(r.p.Exfat.VolumeByteBase, 4096u * 512);
}

TEST(VolumeGeometry, OpensTheCurrentDeviceThroughTheRegistry) {
    SparseImage img = Fat32Image();
    DeviceRegistry& registry = DeviceRegistry::Instance();
    const int n = registry.RegisterMemoryDisk(img.Device("geometry-test"));
    ASSERT_GE(n, 0);
    CurrentPartition p;
    p.DevicePath = PhysicalDrivePath(n);
    p.Descriptor.FsType = "FAT32";
    p.Descriptor.StartSector = 2048;
    p.Descriptor.EndSector = 202048;
    EXPECT_TRUE(CanOpenCurrentDevice(p));
    EXPECT_EQ(ReadVolumeParameters(p), 1);
    EXPECT_NE(p.Device, nullptr);  // left open for the scan
    CloseCurrentDevice(p);
    EXPECT_EQ(p.Device, nullptr);
    registry.RemoveDisk(n);
    EXPECT_FALSE(CanOpenCurrentDevice(p));
    EXPECT_EQ(ReadVolumeParameters(p), 0);
}

TEST(VolumeGeometry, Ntfs) {
    SparseImage img(kDisk);
    img.Ntfs(2048, 2048, 8, 4, 2, 999999);
    GeoRun r = Read(img, "NTFS", 2048, 1002048);
    ASSERT_EQ(r.result, 1);
    // No FAT values: only those NTFS has.
    EXPECT_EQ(r.p.Geometry, (VolumeGeometry{.SectorsPerCluster = 8, .Cluster0Start = 2048, .MftStart = 2048 + 32,
                                            .MftMirrStart = 2048 + 16, .FileRecordSectors = 2,
                                            .IndexRecordSectors = 8, .TotalSectors = 999999}));
}

TEST(VolumeGeometry, NtfsCopiesAndFailures) {
    {   // only the backup at the last sector is valid
        SparseImage img(kDisk);
        img.Ntfs(1002047, 2048, 8, 4, 2, 999999);
        GeoRun r = Read(img, "NTFS", 2048, 1002048);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Geometry.MftStart, 2080u);
    }
    {   // 0xF4 sectors per cluster in both copies: never accepted
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 0xF4, 4, 2, 999999);
        img.Ntfs(1002047, 2048, 0xF4, 4, 2, 999999, 0xF6, 1, false);
        GeoRun r = Read(img, "NTFS", 2048, 1002048);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 4096u);
    }
    {   // zero sectors per cluster in the primary, a good backup
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 0, 4, 2, 999999, 0xF6, 1, false);
        img.Ntfs(1002047, 2048, 8, 4, 2, 999999);
        GeoRun r = Read(img, "NTFS", 2048, 1002048);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Geometry.SectorsPerCluster, 8u);
    }
    {   // "FILE" at $MFT only: enough
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 8, 4, 2, 999999);
        img.Zero(2048 + 16);
        GeoRun r = Read(img, "NTFS", 2048, 1002048);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.p.Geometry.MftStart, 2080u);
        EXPECT_EQ(r.p.Geometry.MftMirrStart, 0u);
    }
    {   // neither
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 8, 4, 2, 999999, 0xF6, 1, false);
        EXPECT_EQ(Read(img, "NTFS", 2048, 1002048).result, 0);
    }
    {   // record size field 0xF7 (2 KiB records) is not among the accepted sizes
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 8, 4, 2, 999999, 0xF7);
        EXPECT_EQ(Read(img, "NTFS", 2048, 1002048).result, 0);
    }
    {   // LCNs that overflow a 64-bit sector number
        SparseImage img(kDisk);
        img.Ntfs(2048, 2048, 128, 0xFFFFFFFFFFFFFFFFull, 0x0200000000000000ull, 999999, 0xF6, 1, false);
        EXPECT_EQ(Read(img, "NTFS", 2048, 1002048).result, 0);
    }
    {   // no boot sector at either end: the caller may search for partitions
        SparseImage img(kDisk);
        GeoRun r = Read(img, "NTFS", 2048, 1002048);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.report.NoNtfsBootSector);
    }
    {   // EndSector 0: no backup to read, and no read at sector "-1"
        SparseImage img(kDisk);
        GeoRun r = Read(img, "NTFS", 0, 0);
        EXPECT_EQ(r.result, 0);
        EXPECT_TRUE(r.report.NoNtfsBootSector);
    }
}

TEST(VolumeGeometry, OtherTypesAndShortDevices) {
    SparseImage img(100);
    EXPECT_EQ(Read(img, "Unknown", 0, 100).result, 0);
    EXPECT_EQ(Read(img, "", 0, 100).result, 0);
    // Starts past the end of the device read as zeros.
    EXPECT_EQ(Read(img, "FAT32", 5000, 6000).result, 0);
    EXPECT_EQ(Read(img, "NTFS", 0xFFFFFFFFFFFFFF00ull, 0xFFFFFFFFFFFFFFFFull).result, 0);
}

TEST(VolumeGeometry, Helpers) {
    const std::pair<std::uint32_t, std::uint32_t> table[] = {
        {0, 1}, {1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {7, 8}, {8, 8}, {9, 16}, {15, 16}, {16, 16},
        {17, 32}, {31, 32}, {33, 64}, {63, 64}, {64, 64}, {65, 128}, {127, 128}, {128, 128}, {129, 129}, {4096, 4096}};
    for (auto [in, out] : table) EXPECT_EQ(RoundUpSectorsPerCluster(in), out) << in;

    CurrentPartition p;
    p.Descriptor.DiskNumber = 3;
    p.Descriptor.FsType = "NTFS";
    p.Descriptor.StartSector = 9;
    p.Descriptor.DiskIdentity = "id";
    p.Geometry.SectorsPerCluster = 8;
    p.Descriptor.CopyGeometry(p.Geometry);
    p.Descriptor.FsName = "NTFS";
    ResetPartitionDescriptor(p.Descriptor);
    EXPECT_EQ(p.Descriptor.DiskNumber, 0);
    EXPECT_TRUE(p.Descriptor.FsType.empty());
    EXPECT_EQ(p.Descriptor.StartSector, 0u);
    EXPECT_EQ(p.Descriptor.DiskIdentity, "id");
    EXPECT_EQ(p.Descriptor.SectorsPerCluster, 8u);
    ResetVolumeGeometry(p);
    EXPECT_EQ(p.Descriptor.SectorsPerCluster, 0u);
    EXPECT_TRUE(p.Descriptor.FsName.empty());
    EXPECT_EQ(p.Geometry, VolumeGeometry{});

    CurrentPartition n;
    n.Descriptor.ItemStart = 500;
    n.SelectedSourceKind = "Hard Disk";
    SetNtfsVolumeContext(n, 2048);
    EXPECT_EQ(n.Descriptor.Cluster0Start, 2048u);
    EXPECT_EQ(n.Descriptor.SectorsPerCluster, 8u);
    EXPECT_EQ(n.Descriptor.FsName, "NTFS");
    n.SelectedSourceKind = "Logical";
    n.Geometry.SectorsPerCluster = 16;
    SetNtfsVolumeContext(n, 2048);
    EXPECT_EQ(n.Descriptor.Cluster0Start, 500u);
    EXPECT_EQ(n.Descriptor.SectorsPerCluster, 16u);
}

}  // namespace
}  // namespace torvane
