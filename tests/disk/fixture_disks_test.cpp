// The partition listing and the boot-sector reader on the fixture images made
// with the real partitioning and file-system tools: every start, end and
// geometry value must equal what the tools reported.
#include "disk/drive_inventory.h"
#include "disk/partition_table.h"
#include "disk/physical_disks.h"
#include "disk/volume_geometry.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace torvane {
namespace {

using test::FixtureImage;
using test::GeometryNumber;
using test::LoadGeometry;

DevicePtr OpenFixture(const std::string& name) {
    std::string error;
    DevicePtr d = OpenFileDevice(FixtureImage(name).string(), &error);
    EXPECT_NE(d, nullptr) << name << ": " << error;
    return d;
}

std::uint64_t Num(const test::Geometry& g, const std::string& key) {
    auto v = GeometryNumber(g, key);
    EXPECT_TRUE(v.has_value()) << key;
    return v.value_or(0);
}

// A device whose chosen sectors read as other bytes (a damaged copy of a fixture).
class Overlay : public Device {
public:
    explicit Overlay(DevicePtr inner) : inner_(std::move(inner)) {}
    void SetSector(std::uint64_t s, const std::string& bytes) { sectors_[s] = bytes; }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        std::int64_t n = inner_->ReadAt(offset, buffer, length);
        for (const auto& [s, bytes] : sectors_) {
            std::uint64_t a = s * kSectorSize;
            for (std::size_t i = 0; i < bytes.size(); ++i)
                if (a + i >= offset && a + i < offset + static_cast<std::uint64_t>(std::max<std::int64_t>(n, 0)))
                    static_cast<char*>(buffer)[a + i - offset] = bytes[i];
        }
        return n;
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::map<std::uint64_t, std::string> sectors_;
};

struct Listed {
    std::string text;
    std::uint64_t start, end;
};

std::vector<Listed> ListFixture(const std::string& image) {
    DeviceRegistry registry;
    registry.SetSysfsRoot("");
    EXPECT_GE(registry.AddImage(FixtureImage(image).string(), false), 0);
    DriveInventory inv;
    inv.RecoveryMode = 1;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, registry);
    std::vector<Listed> out;
    TreeNodeId disk = inv.Tree.Child(inv.PhysicalDrivesItem, 0);
    const DiskPartitionEntry& entry = *inv.PartitionTable.Entry(0);
    EXPECT_EQ(entry.RecordCount, inv.Tree.ChildCount(disk));
    for (std::size_t i = 0; i < inv.Tree.ChildCount(disk); ++i)
        out.push_back({inv.Tree.Text(inv.Tree.Child(disk, i)), entry.Records[i].StartSector, entry.Records[i].EndSector});
    EXPECT_TRUE(inv.SmpParamList.empty());
    return out;
}

TEST(FixtureDisks, MbrPrimaryAndLogicalPartitions) {
    test::Geometry g = LoadGeometry("mbr.img");
    std::vector<Listed> got = ListFixture("mbr.img");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].text, "Partition - 1 ( FAT32 )");
    EXPECT_EQ(got[1].text, "Partition - 2 ( NTFS )");
    EXPECT_EQ(got[2].text, "Partition - 3 ( FAT16 )");
    EXPECT_EQ(got[3].text, "Partition - 4 ( exFAT )");  // type byte 0x07: the boot sector decides
    const char* keys[] = {"p1", "p2", "p5", "p6"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(keys[i]);
        EXPECT_EQ(got[static_cast<std::size_t>(i)].start, Num(g, std::string(keys[i]) + ".start"));
        EXPECT_EQ(got[static_cast<std::size_t>(i)].end, Num(g, std::string(keys[i]) + ".end"));
    }
}

TEST(FixtureDisks, GptPartitions) {
    test::Geometry g = LoadGeometry("gpt.img");
    std::vector<Listed> got = ListFixture("gpt.img");
    ASSERT_EQ(got.size(), 3u);  // the Microsoft reserved entry gets no item and no number
    EXPECT_EQ(got[0].text, "Partition - 1 ( FAT32 )");
    EXPECT_EQ(got[1].text, "Partition - 2 ( NTFS )");
    EXPECT_EQ(got[2].text, "Partition - 3 ( exFAT )");
    const char* keys[] = {"p2", "p3", "p4"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(keys[i]);
        EXPECT_EQ(got[static_cast<std::size_t>(i)].start, Num(g, std::string(keys[i]) + ".first_lba"));
        EXPECT_EQ(got[static_cast<std::size_t>(i)].end, Num(g, std::string(keys[i]) + ".last_lba") + 1);
    }
}

TEST(FixtureDisks, GptWithDeletedMiddlePartition) {
    // The second entry (the FAT32 data partition) zeroed, as a disk tool does
    // when it deletes a partition: the NTFS and exFAT entries after it must
    // still be listed at their own starts. The header and array CRCs are
    // recomputed so the copy is what a tool would have left.
    test::Geometry g = LoadGeometry("gpt.img");
    DevicePtr file = OpenFixture("gpt.img");
    ASSERT_NE(file, nullptr);
    std::string header(512, '\0'), array(32 * 512, '\0');
    ASSERT_EQ(file->ReadAt(512, header.data(), header.size()), 512);
    ASSERT_EQ(file->ReadAt(1024, array.data(), array.size()), static_cast<std::int64_t>(array.size()));
    std::fill(array.begin() + 128, array.begin() + 256, '\0');
    auto crc32 = [](const std::string& bytes, std::size_t n) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (std::size_t i = 0; i < n; ++i) {
            c ^= static_cast<std::uint8_t>(bytes[i]);
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return ~c;
    };
    auto put32 = [](std::string& bytes, std::size_t off, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) bytes[off + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k));
    };
    put32(header, 88, crc32(array, 128 * 128));
    put32(header, 16, 0);
    put32(header, 16, crc32(header, 92));
    auto dev = std::make_shared<Overlay>(file);
    dev->SetSector(1, header);
    dev->SetSector(2, array.substr(0, 512));  // entries 0..3 live in sector 2

    PartitionWalk w = WalkPartitionTable(*dev, dev->SizeBytes() / 512);
    ASSERT_EQ(w.Partitions.size(), 2u);
    EXPECT_EQ(w.Partitions[0].FsName, "NTFS");
    EXPECT_EQ(w.Partitions[0].StartSector, Num(g, "p3.first_lba"));
    EXPECT_EQ(w.Partitions[0].EndSector, Num(g, "p3.last_lba") + 1);
    EXPECT_EQ(w.Partitions[1].FsName, "exFAT");
    EXPECT_EQ(w.Partitions[1].StartSector, Num(g, "p4.first_lba"));
    EXPECT_EQ(w.Partitions[1].EndSector, Num(g, "p4.last_lba") + 1);
}

// The geometry of volume `prefix` ("" for a volume image, "p2." on a disk)
// starting at `start`, against the tools' values.
void CheckVolume(Device& dev, const test::Geometry& g, const std::string& prefix, std::uint64_t start, std::uint64_t end) {
    const std::string fs = g.at(prefix + "fs");
    SCOPED_TRACE(prefix + fs);
    CurrentPartition p;
    p.Descriptor.FsType = fs;
    p.Descriptor.StartSector = start;
    p.Descriptor.EndSector = end;
    p.Descriptor.ItemStart = start;
    p.ScanStartFsName = fs;
    VolumeParameterReport report;
    ASSERT_EQ(ReadVolumeParameters(p, dev, &report), 1);
    EXPECT_EQ(p.Descriptor.StartSector, start);
    EXPECT_EQ(p.Descriptor.FsType, fs);
    const VolumeGeometry& v = p.Geometry;
    EXPECT_EQ(v.SectorsPerCluster, Num(g, prefix + "sectors_per_cluster"));
    if (fs == "FAT16" || fs == "FAT32") {
        EXPECT_EQ(v.ReservedSectors, Num(g, prefix + "reserved_sectors"));
        EXPECT_EQ(v.SectorsPerFat, Num(g, prefix + "fat_size"));
        EXPECT_EQ(v.FirstFatStart, start + Num(g, prefix + "first_fat_sector"));
        EXPECT_EQ(v.SecondFatStart, start + Num(g, prefix + "first_fat_sector") + Num(g, prefix + "fat_size"));
        // Cluster 2 is the first data sector.
        EXPECT_EQ(v.Cluster0Start + 2 * v.SectorsPerCluster, start + Num(g, prefix + "first_data_sector"));
        EXPECT_EQ(v.TotalSectors, Num(g, prefix + "total_sectors"));
        EXPECT_EQ(v.NumberOfFats, Num(g, prefix + "fat_count"));
        if (fs == "FAT16") {
            EXPECT_EQ(v.RootSectors, Num(g, prefix + "root_entries") * 32 / 512);
            EXPECT_EQ(v.RootStart, v.FirstFatStart + 2 * v.SectorsPerFat);
            EXPECT_EQ(v.RootStart + v.RootSectors, start + Num(g, prefix + "first_data_sector"));
        } else {
            EXPECT_EQ(v.RootSectors, 0u);
            EXPECT_EQ(v.RootStart, Num(g, prefix + "root_cluster"));
        }
    } else if (fs == "exFAT") {
        EXPECT_EQ(v.SectorsPerFat, Num(g, prefix + "fat_length"));
        EXPECT_EQ(v.FirstFatStart, Num(g, prefix + "fat_offset"));
        EXPECT_EQ(v.Cluster0Start, Num(g, prefix + "cluster_heap_offset"));
        EXPECT_EQ(v.RootStart, Num(g, prefix + "root_cluster"));
        EXPECT_EQ(v.TotalSectors, Num(g, prefix + "volume_length"));
        EXPECT_EQ(p.Exfat.ClusterCount, Num(g, prefix + "cluster_count"));
        EXPECT_EQ(p.Exfat.VolumeByteBase, start * 512);
        EXPECT_EQ(p.Exfat.FatByteOffset, Num(g, prefix + "fat_offset") * 512);
        EXPECT_EQ(p.Exfat.HeapOffsetClusters, Num(g, prefix + "cluster_heap_offset") / Num(g, prefix + "sectors_per_cluster"));
        EXPECT_FALSE(p.ExfatFallbackGeometry);
    } else {
        EXPECT_EQ(v.Cluster0Start, start);
        EXPECT_EQ(v.MftStart, start + Num(g, prefix + "mft_lcn") * v.SectorsPerCluster);
        EXPECT_EQ(v.MftMirrStart, start + Num(g, prefix + "mftmirr_lcn") * v.SectorsPerCluster);
        EXPECT_EQ(v.FileRecordSectors, Num(g, prefix + "mft_record_size") / 512);
        EXPECT_EQ(v.IndexRecordSectors, Num(g, prefix + "index_block_size") / 512);
        EXPECT_EQ(v.TotalSectors, Num(g, prefix + "total_sectors"));
    }
}

TEST(FixtureDisks, VolumeImagesGeometry) {
    for (const char* image : {"fat16.img", "fat32.img", "exfat.img", "ntfs.img"}) {
        SCOPED_TRACE(image);
        DevicePtr dev = OpenFixture(image);
        ASSERT_NE(dev, nullptr);
        CheckVolume(*dev, LoadGeometry(image), "", 0, dev->SizeBytes() / 512);
    }
}

TEST(FixtureDisks, DiskImagesGeometry) {
    struct Vol {
        const char* image;
        const char* key;
    };
    for (Vol vol : {Vol{"mbr.img", "p1"}, Vol{"mbr.img", "p2"}, Vol{"mbr.img", "p5"}, Vol{"mbr.img", "p6"},
                    Vol{"gpt.img", "p2"}, Vol{"gpt.img", "p3"}, Vol{"gpt.img", "p4"}}) {
        SCOPED_TRACE(std::string(vol.image) + " " + vol.key);
        DevicePtr dev = OpenFixture(vol.image);
        ASSERT_NE(dev, nullptr);
        test::Geometry g = LoadGeometry(vol.image);
        std::string k = vol.key;
        CheckVolume(*dev, g, k + ".", Num(g, k + ".start"), Num(g, k + ".end"));
    }
}

TEST(FixtureDisks, ListingKeepsGeometryOfFatPartitions) {
    DeviceRegistry registry;
    registry.SetSysfsRoot("");
    ASSERT_GE(registry.AddImage(FixtureImage("mbr.img").string(), false), 0);
    DriveInventory inv;
    inv.RecoveryMode = 2;
    inv.CreateRoots(false);
    EnumeratePhysicalDisks(inv, registry);
    test::Geometry g = LoadGeometry("mbr.img");
    const DiskPartitionEntry& e = *inv.PartitionTable.Entry(0);
    EXPECT_EQ(e.Records[0].Geometry.SectorsPerFat, Num(g, "p1.fat_size"));
    EXPECT_EQ(e.Records[2].Geometry.SectorsPerFat, Num(g, "p5.fat_size"));
    EXPECT_EQ(e.Records[1].Geometry, VolumeGeometry{});  // NTFS: no geometry copy
    EXPECT_EQ(e.FsNames[3], "exFAT");
}

TEST(FixtureDisks, ZeroedPrimaryBootSectorWithIntactBackup) {
    std::string zeros(512, '\0');
    {   // FAT32: the backup 6 sectors on
        auto dev = std::make_shared<Overlay>(OpenFixture("fat32.img"));
        dev->SetSector(0, zeros);
        CheckVolume(*dev, LoadGeometry("fat32.img"), "", 0, dev->SizeBytes() / 512);
    }
    {   // NTFS: the backup in the last sector of the volume
        auto dev = std::make_shared<Overlay>(OpenFixture("ntfs.img"));
        dev->SetSector(0, zeros);
        CheckVolume(*dev, LoadGeometry("ntfs.img"), "", 0, dev->SizeBytes() / 512);
    }
    {   // On the disk image: the FAT32 partition still lists, by its type byte
        test::Geometry g = LoadGeometry("mbr.img");
        auto dev = std::make_shared<Overlay>(OpenFixture("mbr.img"));
        dev->SetSector(Num(g, "p1.start"), zeros);
        PartitionWalk w = WalkPartitionTable(*dev, dev->SizeBytes() / 512);
        ASSERT_EQ(w.Partitions.size(), 4u);
        EXPECT_EQ(w.Partitions[0].FsName, "FAT32");
        VolumeGeometry geo;
        EXPECT_TRUE(ReadPartitionGeometry(*dev, w.Partitions[0], geo));
        EXPECT_EQ(geo.SectorsPerFat, Num(g, "p1.fat_size"));
    }
}

// The first `bytes` of another device, as a copy cut short.
class Truncated : public Device {
public:
    Truncated(DevicePtr inner, std::uint64_t bytes) : inner_(std::move(inner)), size_(bytes) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= size_) return 0;
        return inner_->ReadAt(offset, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset)));
    }
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::uint64_t size_;
};

TEST(FixtureDisks, TruncatedGptImage) {
    test::Geometry g = LoadGeometry("gpt.img");
    DevicePtr full = OpenFixture("gpt.img");
    ASSERT_NE(full, nullptr);
    {   // cut inside the entry array: nothing is listed, nothing read past the end
        Truncated cut(full, 20 * 512);
        PartitionWalk w = WalkPartitionTable(cut, 20);
        EXPECT_TRUE(w.TailStop);
        EXPECT_TRUE(w.Partitions.empty());
    }
    {   // cut inside the NTFS partition: the FAT32 before it is still listed;
        // the NTFS boot sector is there, the exFAT one is gone
        const std::uint64_t sectors = Num(g, "p3.start") + 100;
        Truncated cut(full, sectors * 512);
        PartitionWalk w = WalkPartitionTable(cut, sectors);
        ASSERT_EQ(w.Partitions.size(), 2u);
        EXPECT_EQ(w.Partitions[0].FsName, "FAT32");
        EXPECT_EQ(w.Partitions[1].FsName, "NTFS");
        // Its backup boot sector lies beyond the cut: the primary copy serves.
        CurrentPartition p;
        p.Descriptor.FsType = "NTFS";
        p.Descriptor.StartSector = w.Partitions[1].StartSector;
        p.Descriptor.EndSector = w.Partitions[1].EndSector;
        EXPECT_EQ(ReadVolumeParameters(p, cut), 1);
    }
}

TEST(FixtureDisks, ZeroSectorsPerClusterFailsCleanly) {
    for (const char* image : {"fat16.img", "fat32.img", "ntfs.img"}) {
        SCOPED_TRACE(image);
        DevicePtr file = OpenFixture(image);
        auto dev = std::make_shared<Overlay>(file);
        std::string boot(512, '\0');
        ASSERT_EQ(file->ReadAt(0, boot.data(), 512), 512);
        boot[13] = 0;
        dev->SetSector(0, boot);
        test::Geometry g = LoadGeometry(image);
        std::uint64_t sectors = dev->SizeBytes() / 512;
        if (std::string(image) == "fat32.img") dev->SetSector(6, boot);  // the backup too
        if (std::string(image) == "ntfs.img") dev->SetSector(sectors - 1, boot);
        CurrentPartition p;
        p.Descriptor.FsType = g.at("fs");
        p.Descriptor.EndSector = sectors;
        p.ScanStartFsName = g.at("fs");
        EXPECT_EQ(ReadVolumeParameters(p, *dev), 0);
    }
    {   // exFAT with a cluster shift beyond any volume: fallback, no exFAT values
        DevicePtr file = OpenFixture("exfat.img");
        auto dev = std::make_shared<Overlay>(file);
        std::string boot(512, '\0');
        ASSERT_EQ(file->ReadAt(0, boot.data(), 512), 512);
        boot[109] = static_cast<char>(0xFF);
        dev->SetSector(0, boot);
        CurrentPartition p;
        p.Descriptor.FsType = "exFAT";
        p.ScanStartFsName = "exFAT";
        EXPECT_EQ(ReadVolumeParameters(p, *dev), 0);
        EXPECT_TRUE(p.ExfatFallbackGeometry);
    }
}

}  // namespace
}  // namespace torvane
