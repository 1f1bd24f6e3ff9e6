// The boot-record readers and the recogniser: on the real boot sectors (and
// their backups) of every fixture volume and disk partition, whose values the
// formatting tools reported, and on hostile sectors made from them one field
// at a time.
#include "disk/boot_record.h"
#include "disk/sector_bytes.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace torvane {
namespace {

using test::FixtureImage;
using test::GeometryNumber;
using test::LoadGeometry;

// Sector `sector` of fixture image `image`.
SectorBytes FixtureSector(const std::string& image, std::uint64_t sector)
{
    SectorBytes out;
    std::string error;
    DevicePtr d = OpenFileDevice(FixtureImage(image).string(), &error);
    EXPECT_NE(d, nullptr) << image << ": " << error;
    if (d) {
        EXPECT_TRUE(ReadOneSector(*d, sector, out)) << image << " sector " << sector;
    }
    return out;
}

struct RealBootSector {
    const char* image;
    const char* part;        // geometry key prefix ("p1."), "" on a volume image
    FsKind kind;
    bool backup;             // the backup copy: FAT32 +6, exFAT +12, NTFS at the volume's last sector
};

const RealBootSector kRealBootSectors[] = {
    {"fat16.img", "", FsKind::Fat16, false},
    {"fat32.img", "", FsKind::Fat32, false},
    {"fat32.img", "", FsKind::Fat32, true},
    {"fat32-cluster5.img", "", FsKind::Fat32, false},
    {"exfat.img", "", FsKind::Exfat, false},
    {"exfat.img", "", FsKind::Exfat, true},
    {"ntfs.img", "", FsKind::Ntfs, false},
    {"ntfs.img", "", FsKind::Ntfs, true},
    {"mbr.img", "p1.", FsKind::Fat32, false},
    {"mbr.img", "p1.", FsKind::Fat32, true},
    {"mbr.img", "p2.", FsKind::Ntfs, false},
    {"mbr.img", "p2.", FsKind::Ntfs, true},
    {"mbr.img", "p5.", FsKind::Fat16, false},
    {"mbr.img", "p6.", FsKind::Exfat, false},
    {"mbr.img", "p6.", FsKind::Exfat, true},
    {"gpt.img", "p2.", FsKind::Fat32, false},
    {"gpt.img", "p3.", FsKind::Ntfs, false},
    {"gpt.img", "p3.", FsKind::Ntfs, true},
    {"gpt.img", "p4.", FsKind::Exfat, false},
};

TEST(BootRecord, RealBootSectorsReadAsTheToolsReported)
{
    for (const RealBootSector& c : kRealBootSectors) {
        const std::string what = std::string(c.image) + " " + c.part + (c.backup ? " backup" : "");
        SCOPED_TRACE(what);
        const test::Geometry g = LoadGeometry(c.image);
        const std::string p = c.part;
        auto num = [&](const std::string& key) {
            auto v = GeometryNumber(g, p + key);
            EXPECT_TRUE(v.has_value()) << key;
            return v.value_or(0);
        };
        const std::uint64_t start = p.empty() ? 0 : num("start");
        std::uint64_t at = start;
        if (c.backup)
            at = c.kind == FsKind::Fat32 ? start + 6 : c.kind == FsKind::Exfat ? start + 12 : start + num("total_sectors");
        const SectorBytes s = FixtureSector(c.image, at);
        const ByteView v = s.View();

        EXPECT_TRUE(HasBootSignature(v));
        EXPECT_EQ(RecognizeBootRecord(v, BootMarks::TypeNames), c.kind);
        EXPECT_EQ(RecognizeBootRecord(v, BootMarks::SweepMarks), c.kind);
        switch (c.kind) {
        case FsKind::Fat16:
        case FsKind::Fat32: {
            EXPECT_EQ(BootRecordSectors(v, c.kind), num("total_sectors"));
            const auto r = ReadFatBootRecord(v);
            ASSERT_TRUE(r.has_value());
            EXPECT_EQ(r->named, c.kind);
            EXPECT_EQ(r->bytesPerSector, num("bytes_per_sector"));
            EXPECT_EQ(r->sectorsPerCluster, num("sectors_per_cluster"));
            EXPECT_EQ(r->reservedSectors, num("reserved_sectors"));
            EXPECT_EQ(r->numberOfFats, num("fat_count"));
            EXPECT_EQ(r->rootEntryCount, num("root_entries"));
            EXPECT_EQ(r->totalSectors, num("total_sectors"));
            EXPECT_EQ(r->media, num("media"));
            EXPECT_EQ(r->SectorsPerFat(c.kind), num("fat_size"));
            EXPECT_EQ(r->hiddenSectors, num("hidden_sectors"));
            if (c.kind == FsKind::Fat32) {
                EXPECT_EQ(r->rootCluster, num("root_cluster"));
            }
            // The data area starts where the fields say.
            EXPECT_EQ(r->reservedSectors + r->numberOfFats * r->SectorsPerFat(c.kind) + r->RootDirectorySectors(),
                      num("first_data_sector"));
            break;
        }
        case FsKind::Exfat: {
            EXPECT_EQ(BootRecordSectors(v, c.kind), num("volume_length"));
            const auto r = ReadExfatBootRecord(v);
            ASSERT_TRUE(r.has_value());
            EXPECT_EQ(r->partitionOffset, num("partition_offset"));
            EXPECT_EQ(r->volumeLength, num("volume_length"));
            EXPECT_EQ(r->fatOffset, num("fat_offset"));
            EXPECT_EQ(r->fatLength, num("fat_length"));
            EXPECT_EQ(r->heapOffset, num("cluster_heap_offset"));
            EXPECT_EQ(r->clusterCount, num("cluster_count"));
            if (c.kind == FsKind::Fat32) {
                EXPECT_EQ(r->rootCluster, num("root_cluster"));
            }
            EXPECT_EQ(r->numberOfFats, num("fat_count"));
            EXPECT_EQ(r->bytesPerSector, 1u << num("bytes_per_sector_shift"));
            EXPECT_EQ(r->sectorsPerCluster, num("sectors_per_cluster"));
            EXPECT_EQ(r->serial, std::stoul(g.at(p + "volume_serial"), nullptr, 16));
            break;
        }
        case FsKind::Ntfs: {
            EXPECT_EQ(BootRecordSectors(v, c.kind), num("total_sectors"));
            const auto r = ReadNtfsBootRecord(v);
            ASSERT_TRUE(r.has_value());
            EXPECT_TRUE(r->named);
            EXPECT_EQ(r->bytesPerSector, num("bytes_per_sector"));
            EXPECT_EQ(r->sectorsPerCluster, num("sectors_per_cluster"));
            EXPECT_EQ(r->totalSectors, num("total_sectors"));
            EXPECT_EQ(r->mftLcn, num("mft_lcn"));
            EXPECT_EQ(r->mftMirrLcn, num("mftmirr_lcn"));
            EXPECT_EQ(r->FileRecordSectors() * 512, num("mft_record_size"));
            EXPECT_EQ(r->IndexRecordSectors(r->sectorsPerCluster) * 512, num("index_block_size"));
            EXPECT_EQ(r->serial, std::stoull(g.at(p + "volume_serial"), nullptr, 16));
            break;
        }
        case FsKind::Unknown: FAIL();
        }
        // A boot record of one kind is no record of the others.
        if (c.kind != FsKind::Exfat) {
            EXPECT_FALSE(ReadExfatBootRecord(v).has_value());
        } else {
            EXPECT_FALSE(ReadFatBootRecord(v).has_value());
        }
    }
}

// --- hostile sectors, each a real boot sector with one change -------------------------

void Put(SectorBytes& s, std::size_t off, std::uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        s.b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutText(SectorBytes& s, std::size_t off, const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        s.b[off + i] = static_cast<std::uint8_t>(text[i]);
}

struct Damage {
    const char* what;
    std::function<void(SectorBytes&)> apply;
    bool readable;           // the reader still gives a record
};

TEST(BootRecord, HostileExfatBootSectors)
{
    const SectorBytes real = FixtureSector("exfat.img", 0);
    const Damage cases[] = {
        {"untouched", [](SectorBytes&) {}, true},
        {"no signature", [](SectorBytes& s) { s.b[511] = 0; }, false},
        {"name cut short", [](SectorBytes& s) { PutText(s, 3, "EXFAT  X"); }, false},
        {"bytes-per-sector shift 8", [](SectorBytes& s) { Put(s, 108, 8, 1); }, false},
        {"bytes-per-sector shift 13", [](SectorBytes& s) { Put(s, 108, 13, 1); }, false},
        {"cluster shift 16 (32 MiB clusters)", [](SectorBytes& s) { Put(s, 109, 16, 1); }, true},
        {"cluster shift 17 (past 32 MiB)", [](SectorBytes& s) { Put(s, 109, 17, 1); }, false},
        {"cluster shift 255", [](SectorBytes& s) { Put(s, 109, 255, 1); }, false},
        {"FAT at 0", [](SectorBytes& s) { Put(s, 80, 0, 4); }, false},
        {"FAT of length 0", [](SectorBytes& s) { Put(s, 84, 0, 4); }, false},
        {"heap before the FAT", [](SectorBytes& s) { Put(s, 88, 1000, 4); }, false},
        {"heap at the volume's end", [](SectorBytes& s) { Put(s, 88, 32768, 4); }, false},
        {"no clusters", [](SectorBytes& s) { Put(s, 92, 0, 4); }, false},
        {"too many clusters", [](SectorBytes& s) { Put(s, 92, 0xFFFFFFF6u, 4); }, false},
        {"FAT too small for the clusters", [](SectorBytes& s) { Put(s, 92, 32 * 128 - 1, 4); }, false},
        {"root cluster 1", [](SectorBytes& s) { Put(s, 96, 1, 4); }, false},
        {"root cluster past the heap", [](SectorBytes& s) { Put(s, 96, 3584 + 2, 4); }, false},
        {"unknown volume length", [](SectorBytes& s) { Put(s, 72, 0, 8); }, true},
        {"FAT offset past 32-bit bytes", [](SectorBytes& s) {
             Put(s, 108, 12, 1);
             Put(s, 80, 0x00100000u, 4);
             Put(s, 88, 0x00200000u, 4);
             Put(s, 72, 0, 8);
         }, false},
    };
    for (const Damage& c : cases) {
        SectorBytes s = real;
        c.apply(s);
        EXPECT_EQ(ReadExfatBootRecord(s.View()).has_value(), c.readable) << c.what;
    }
}

TEST(BootRecord, HostileFatAndNtfsBootSectors)
{
    const SectorBytes fat = FixtureSector("fat32.img", 0);
    const Damage fatCases[] = {
        {"untouched", [](SectorBytes&) {}, true},
        {"no signature", [](SectorBytes& s) { s.b[510] = 0; }, false},
        {"0 sectors per cluster", [](SectorBytes& s) { Put(s, 13, 0, 1); }, false},
        {"3 sectors per cluster", [](SectorBytes& s) { Put(s, 13, 3, 1); }, false},
        {"255 sectors per cluster", [](SectorBytes& s) { Put(s, 13, 255, 1); }, false},
        {"128 sectors per cluster", [](SectorBytes& s) { Put(s, 13, 128, 1); }, true},
        {"type text gone", [](SectorBytes& s) { PutText(s, 82, "        "); }, true},
    };
    for (const Damage& c : fatCases) {
        SectorBytes s = fat;
        c.apply(s);
        EXPECT_EQ(ReadFatBootRecord(s.View()).has_value(), c.readable) << c.what;
    }

    const SectorBytes ntfs = FixtureSector("ntfs.img", 0);
    const Damage ntfsCases[] = {
        {"untouched", [](SectorBytes&) {}, true},
        {"no signature", [](SectorBytes& s) { s.b[511] = 0; }, false},
        {"0xF4 sectors per cluster (4096, never valid)", [](SectorBytes& s) { Put(s, 13, 0xF4, 1); }, false},
        {"6 sectors per cluster", [](SectorBytes& s) { Put(s, 13, 6, 1); }, false},
        {"record field 0xF7 (2 KiB)", [](SectorBytes& s) { Put(s, 64, 0xF7, 4); }, false},
        {"one-cluster records of 8 sectors", [](SectorBytes& s) { Put(s, 64, 1, 4); }, true},
        {"two-cluster records of 16 sectors", [](SectorBytes& s) { Put(s, 64, 2, 4); }, false},
        {"record field of all ones", [](SectorBytes& s) { Put(s, 64, 0xFFFFFFFFu, 4); }, false},
        {"name gone (the fields still decide)", [](SectorBytes& s) { PutText(s, 3, "    "); }, true},
    };
    for (const Damage& c : ntfsCases) {
        SectorBytes s = ntfs;
        c.apply(s);
        EXPECT_EQ(ReadNtfsBootRecord(s.View()).has_value(), c.readable) << c.what;
    }
    SectorBytes f4 = ntfs;
    Put(f4, 13, 0xF4, 1);
    EXPECT_EQ(DecodeNtfsBootRecord(f4.View()).sectorsPerCluster, 4096u);
}

TEST(BootRecord, RecognitionByTypeNamesAndBySweepMarks)
{
    const SectorBytes fat32 = FixtureSector("fat32.img", 0);
    const SectorBytes fat16 = FixtureSector("fat16.img", 0);
    const SectorBytes exfat = FixtureSector("exfat.img", 0);
    const SectorBytes ntfs = FixtureSector("ntfs.img", 0);
    struct Case {
        const char* what;
        const SectorBytes* base;
        std::function<void(SectorBytes&)> apply;
        FsKind byNames, byMarks;
    };
    const Case cases[] = {
        {"FAT32", &fat32, [](SectorBytes&) {}, FsKind::Fat32, FsKind::Fat32},
        {"FAT16", &fat16, [](SectorBytes&) {}, FsKind::Fat16, FsKind::Fat16},
        {"exFAT", &exfat, [](SectorBytes&) {}, FsKind::Exfat, FsKind::Exfat},
        {"NTFS", &ntfs, [](SectorBytes&) {}, FsKind::Ntfs, FsKind::Ntfs},
        {"FAT32 without signature", &fat32, [](SectorBytes& s) { s.b[511] = 0; }, FsKind::Fat32, FsKind::Unknown},
        {"only the digits of FAT32", &fat32, [](SectorBytes& s) { PutText(s, 0x52, "XYZ32"); }, FsKind::Unknown,
         FsKind::Fat32},
        {"only the digits of FAT16", &fat16, [](SectorBytes& s) { PutText(s, 0x36, "ABC16"); }, FsKind::Unknown,
         FsKind::Fat16},
        {"FAT32 name with the wrong digits", &fat32, [](SectorBytes& s) { PutText(s, 0x55, "12"); }, FsKind::Unknown,
         FsKind::Unknown},
        {"exFAT with cluster shift 0", &exfat, [](SectorBytes& s) { Put(s, 0x6D, 0, 1); }, FsKind::Exfat,
         FsKind::Unknown},
        {"NTFS in lower case", &ntfs, [](SectorBytes& s) { PutText(s, 3, "ntfs"); }, FsKind::Unknown,
         FsKind::Unknown},
        {"zeros", &ntfs, [](SectorBytes& s) { s.Clear(); }, FsKind::Unknown, FsKind::Unknown},
        {"signature alone", &ntfs, [](SectorBytes& s) { s.Clear(); s.b[510] = 0x55; s.b[511] = 0xAA; },
         FsKind::Unknown, FsKind::Unknown},
    };
    for (const Case& c : cases) {
        SectorBytes s = *c.base;
        c.apply(s);
        EXPECT_EQ(RecognizeBootRecord(s.View(), BootMarks::TypeNames), c.byNames) << c.what;
        EXPECT_EQ(RecognizeBootRecord(s.View(), BootMarks::SweepMarks), c.byMarks) << c.what;
    }
}

TEST(BootRecord, ShortViewsReadAsZerosWhereTheyEnd)
{
    const SectorBytes ntfs = FixtureSector("ntfs.img", 0);
    const SectorBytes fat16 = FixtureSector("fat16.img", 0);
    for (std::size_t size : {0u, 1u, 7u, 20u, 44u, 100u, 511u}) {
        SCOPED_TRACE(size);
        const ByteView cut = ntfs.View().Sub(0, size);
        EXPECT_EQ(RecognizeBootRecord(cut, BootMarks::SweepMarks), FsKind::Unknown);
        EXPECT_FALSE(ReadNtfsBootRecord(cut).has_value());
        EXPECT_FALSE(ReadFatBootRecord(fat16.View().Sub(0, size)).has_value());
        EXPECT_FALSE(ReadExfatBootRecord(cut).has_value());
        // The 16-bit size field at 19 is read only when both its bytes are there.
        EXPECT_EQ(BootRecordSectors(fat16.View().Sub(0, size), FsKind::Fat16), size >= 21 ? 32760u : 0u);
    }
    EXPECT_EQ(RecognizeBootRecord(ntfs.View().Sub(0, 7), BootMarks::TypeNames), FsKind::Ntfs);
    EXPECT_EQ(RecognizeBootRecord(ByteView(), BootMarks::TypeNames), FsKind::Unknown);
}

TEST(BootRecord, SizeFieldOfSmallAndLargeFatVolumes)
{
    SectorBytes s = FixtureSector("fat16.img", 0);
    EXPECT_EQ(BootRecordSectors(s.View(), FsKind::Fat16), 32760u);   // 16-bit field
    Put(s, 19, 0, 2);
    Put(s, 32, 70000, 4);
    EXPECT_EQ(BootRecordSectors(s.View(), FsKind::Fat16), 70000u);   // 32-bit field when the 16-bit one is 0
    EXPECT_EQ(DecodeFatBootRecord(s.View()).totalSectors, 70000u);
    EXPECT_EQ(BootRecordSectors(s.View(), FsKind::Unknown), 0u);
}

TEST(FsKindText, BothWays)
{
    const std::pair<FsKind, const char*> table[] = {
        {FsKind::Fat16, "FAT16"}, {FsKind::Fat32, "FAT32"}, {FsKind::Exfat, "exFAT"}, {FsKind::Ntfs, "NTFS"}};
    for (auto [kind, text] : table) {
        EXPECT_EQ(FsKindText(kind), text);
        EXPECT_EQ(FsKindFromText(text), kind);
    }
    EXPECT_EQ(FsKindText(FsKind::Unknown), "");
    for (const char* other : {"", "Unknown", "EXFAT", "fat32", "FAT", "FAT32 ", "NTFS5"})
        EXPECT_EQ(FsKindFromText(other), FsKind::Unknown) << other;
    EXPECT_TRUE(IsFatKind(FsKind::Fat16));
    EXPECT_TRUE(IsFatKind(FsKind::Fat32));
    EXPECT_FALSE(IsFatKind(FsKind::Exfat));
}

}  // namespace
}  // namespace torvane
