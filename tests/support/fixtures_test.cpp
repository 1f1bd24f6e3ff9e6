// The fixture archive unpacks into a consistent set: every image has its manifest and
// geometry, and the manifest reader splits disk paths into partition and path.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace torvane::test {
namespace {

struct ImageCase {
    const char* name;
    std::set<int> partitions;  // partitions named in the manifest (0: a volume image)
    std::size_t minEntries;
};

const ImageCase kImages[] = {
    {"fat16.img", {0}, 40},         {"fat32.img", {0}, 40},  {"exfat.img", {0}, 40},
    {"ntfs.img", {0}, 40},          {"fat32-cluster5.img", {0}, 8},
    {"mbr.img", {1, 2, 5, 6}, 160}, {"gpt.img", {2, 3, 4}, 120}, {"sample.img", {1, 2, 5, 6}, 160},
};

TEST(FixtureImages, EveryImageHasManifestAndGeometryThatFitIt)
{
    const std::set<std::string> states = {"live", "fragmented", "dir", "deleted", "deleted-dir", "overwritten"};
    for (const ImageCase& image : kImages) {
        SCOPED_TRACE(image.name);
        const auto path = FixtureImage(image.name);
        ASSERT_TRUE(std::filesystem::exists(path));
        const std::uint64_t bytes = std::filesystem::file_size(path);

        const auto entries = LoadManifest(image.name);
        ASSERT_GE(entries.size(), image.minEntries);
        std::set<int> partitions;
        std::set<std::pair<int, std::string>> dirs;
        for (const ManifestEntry& e : entries) {
            SCOPED_TRACE(e.path);
            partitions.insert(e.partition);
            EXPECT_TRUE(states.count(e.state));
            ASSERT_FALSE(e.path.empty());
            EXPECT_EQ(e.path[0], '/');
            // parents come first
            const std::string parent = e.path.substr(0, e.path.rfind('/'));
            if (!parent.empty()) {
                EXPECT_TRUE(dirs.count({e.partition, parent}));
            }
            if (e.IsDir()) {
                dirs.insert({e.partition, e.path});
                EXPECT_EQ(e.size, 0u);
                EXPECT_TRUE(e.sha256.empty());
            } else {
                EXPECT_EQ(e.HasContent(), e.state != "overwritten");
                if (e.HasContent()) {
                    EXPECT_EQ(e.sha256.size(), 64u);
                }
            }
        }
        EXPECT_EQ(partitions, image.partitions);

        const Geometry g = LoadGeometry(image.name);
        if (image.partitions.count(0)) {
            const auto total = GeometryNumber(g, "total_sectors");
            const auto length = GeometryNumber(g, "volume_length");
            ASSERT_TRUE(total || length);
            EXPECT_LE((total ? *total : *length) * 512, bytes);
        } else {
            EXPECT_EQ(GeometryNumber(g, "disk.sectors").value_or(0) * 512, bytes);
            for (int p : image.partitions) {
                const std::string k = "p" + std::to_string(p) + ".";
                ASSERT_TRUE(GeometryNumber(g, k + "start"));
                EXPECT_EQ(*GeometryNumber(g, k + "start") + *GeometryNumber(g, k + "size"),
                          *GeometryNumber(g, k + "end"));
                EXPECT_LE(*GeometryNumber(g, k + "end") * 512, bytes);
                EXPECT_TRUE(g.count(k + "fs"));
            }
        }
    }
}

TEST(FixtureImages, DiskManifestPathsSplitIntoPartitionAndPath)
{
    const auto entries = LoadManifest("mbr.img");
    const auto p5 = ManifestOfPartition(entries, 5);
    ASSERT_FALSE(p5.empty());
    bool found = false;
    for (const ManifestEntry& e : p5) {
        EXPECT_EQ(e.partition, 5);
        if (e.path == "/Sizes/size-511.bin") {
            found = true;
            EXPECT_EQ(e.size, 511u);
            EXPECT_EQ(e.state, "live");
        }
    }
    EXPECT_TRUE(found);
}

TEST(FixtureImages, GeometryNumbersReadDecimalAndHex)
{
    const Geometry g = {{"a", "2048"}, {"b", "0x0c"}, {"c", "FAT32"}, {"d", ""}, {"e", "12x"}};
    EXPECT_EQ(GeometryNumber(g, "a"), 2048u);
    EXPECT_EQ(GeometryNumber(g, "b"), 12u);
    EXPECT_FALSE(GeometryNumber(g, "c"));
    EXPECT_FALSE(GeometryNumber(g, "d"));
    EXPECT_FALSE(GeometryNumber(g, "e"));
    EXPECT_FALSE(GeometryNumber(g, "missing"));
    EXPECT_EQ(LoadGeometry("fat32.img").at("fs"), "FAT32");
}

}  // namespace
}  // namespace torvane::test
