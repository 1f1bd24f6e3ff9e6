#include "fsrecovery/fat/fat_chain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace torvane {
namespace {

// A device whose FAT starts at sector 1 and holds `spf` sectors.
struct FatImage {
    FatKind kind;
    std::uint32_t spf;
    std::string bytes;

    FatImage(FatKind k, std::uint32_t sectorsPerFat, std::uint32_t extraSectors = 0)
        : kind(k), spf(sectorsPerFat), bytes((1 + sectorsPerFat + extraSectors) * 512, '\0')
    {
    }
    void Set(std::uint32_t cluster, std::uint32_t value)
    {
        if (kind == FatKind::Fat16) {
            std::size_t off = 512 + std::size_t{cluster} * 2;
            ASSERT_LE(off + 2, bytes.size());
            bytes[off] = static_cast<char>(value & 0xFF);
            bytes[off + 1] = static_cast<char>((value >> 8) & 0xFF);
        } else {
            std::size_t off = 512 + std::size_t{cluster} * 4;
            ASSERT_LE(off + 4, bytes.size());
            for (int i = 0; i < 4; ++i)
                bytes[off + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    }
    DevicePtr Device() const { return MakeMemoryDevice("fat", bytes); }
    std::string Name() const { return kind == FatKind::Fat16 ? "FAT16" : "FAT32"; }
};

using Chain = std::vector<std::uint32_t>;

TEST(FatChain, EndValuesAndFreeCellsEndTheChain)
{
    struct Case { FatKind kind; std::uint32_t cell; Chain expected; };
    const Case cases[] = {
        {FatKind::Fat16, 0x0000, {2}},       {FatKind::Fat16, 0x0001, {2}},
        {FatKind::Fat16, 0xFFF8, {2}},       {FatKind::Fat16, 0xFFFE, {2}},
        {FatKind::Fat16, 0xFFFF, {2}},       {FatKind::Fat32, 0x00000000, {2}},
        {FatKind::Fat32, 0x0FFFFFF8, {2}},   {FatKind::Fat32, 0x0FFFFFFE, {2}},
        {FatKind::Fat32, 0x0FFFFFFF, {2}},   {FatKind::Fat32, 0xFFFFFFFF, {2}},
        // The top four bits of a FAT32 cell are reserved: 0x10000003 leads to 3.
        {FatKind::Fat32, 0x10000003, {2, 3}},
        // A FAT32 cell holding 1 is followed (cell 1 then ends the chain).
        {FatKind::Fat32, 0x00000001, {2, 1}},
    };
    for (const Case& c : cases) {
        FatImage img(c.kind, 4);
        img.Set(0, 0x0FFFFFF8);
        img.Set(1, 0x0FFFFFFF);
        img.Set(2, c.cell);
        auto dev = img.Device();
        EXPECT_EQ(BuildClusterChain(*dev, 2, FsKindFromText(img.Name()), img.spf, 1), c.expected) << std::hex << c.cell;
    }
}

TEST(FatChain, FollowsChainsAcrossBatchesBothWays)
{
    // FAT32 with 1200 FAT sectors: a batch holds 512, so jumps back and far
    // forward must re-read.
    FatImage img(FatKind::Fat32, 1200);
    const Chain expected = {2, 100000, 3, 140000, 5};
    for (std::size_t i = 0; i + 1 < expected.size(); ++i)
        img.Set(expected[i], expected[i + 1]);
    img.Set(5, 0x0FFFFFFF);
    auto dev = img.Device();
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, img.spf, 1), expected);
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Exfat, img.spf, 1), expected);

    FatTable table(*dev, FatKind::Fat32, 1, img.spf);
    std::uint32_t v = 0;
    ASSERT_TRUE(table.Cell(2, v));
    ASSERT_TRUE(table.Cell(3, v));
    EXPECT_EQ(table.SectorReads(), 1u) << "cells within one batch cost one read";
}

TEST(FatChain, CyclesEndAtTheFirstRepeatedCluster)
{
    for (FatKind kind : {FatKind::Fat16, FatKind::Fat32}) {
        FatImage img(kind, 8);
        img.Set(2, 3);
        img.Set(3, 4);
        img.Set(4, 2);   // back to the start
        img.Set(9, 9);   // a cluster pointing at itself
        auto dev = img.Device();
        EXPECT_EQ(BuildClusterChain(*dev, 2, FsKindFromText(img.Name()), img.spf, 1), (Chain{2, 3, 4}));
        EXPECT_EQ(BuildClusterChain(*dev, 9, FsKindFromText(img.Name()), img.spf, 1), (Chain{9}));
        // Without a FAT size the walk still ends.
        EXPECT_EQ(BuildClusterChain(*dev, 2, FsKindFromText(img.Name()), 0, 1), (Chain{2, 3, 4}));
    }
}

TEST(FatChain, LongCycleIsCaughtWithoutGrowingForever)
{
    FatImage img(FatKind::Fat32, 64);
    for (std::uint32_t c = 2; c < 5000; ++c)
        img.Set(c, c + 1);
    img.Set(5000, 1000);
    auto dev = img.Device();
    Chain chain = BuildClusterChain(*dev, 2, FsKind::Fat32, img.spf, 1);
    ASSERT_EQ(chain.size(), 4999u);
    EXPECT_EQ(chain.back(), 5000u);
}

TEST(FatChain, OutOfRangeCellsAndUnreadableFatEndTheWalk)
{
    FatImage img(FatKind::Fat32, 2);
    img.Set(2, 3);
    img.Set(3, 0x0ABCDEF0);   // no FAT of 2 sectors holds this cell
    auto dev = img.Device();
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, 2, 1), (Chain{2, 3}));

    // FAT16: the sector index equal to the FAT size is still read, above it is not.
    FatImage f16(FatKind::Fat16, 2, 2);
    f16.Set(2, 600);          // sector index 2 == spf
    f16.Set(600, 800);        // index 3 > spf
    auto dev16 = f16.Device();
    EXPECT_EQ(BuildClusterChain(*dev16, 2, FsKind::Fat16, 2, 1), (Chain{2, 600}));

    // A FAT that lies beyond the device: only the start cluster.
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, 2, 1000), (Chain{2}));
    // A FAT start of 0 is no FAT.
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, 2, 0), (Chain{2}));
}

TEST(FatChain, NamesListedFoldersAndStops)
{
    FatImage img(FatKind::Fat32, 4);
    img.Set(2, 3);
    img.Set(3, 4);
    img.Set(4, 0x0FFFFFFF);
    auto dev = img.Device();

    EXPECT_TRUE(BuildClusterChain(*dev, 2, FsKind::Ntfs, img.spf, 1).empty());

    ChainWalkOptions listed;
    listed.isIndexedFolder = [](std::uint32_t c) { return c == 4; };
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, img.spf, 1, listed), (Chain{2, 3}));

    int calls = 0;
    ChainWalkOptions stop;
    stop.stop = [&calls] { return ++calls > 1; };
    EXPECT_EQ(BuildClusterChain(*dev, 2, FsKind::Fat32, img.spf, 1, stop), (Chain{2, 3}));
}

TEST(FatChain, FileChainStopsOnceItHoldsMoreThanTheClusterCount)
{
    FatImage img(FatKind::Fat32, 4);
    img.Set(2, 3);
    img.Set(3, 4);
    img.Set(4, 5);
    img.Set(5, 0x0FFFFFFF);
    auto dev = img.Device();
    EXPECT_EQ(BuildFileClusterChain(*dev, FsKind::Fat32, 2, 1, img.spf, 1), (Chain{2, 3}));
    EXPECT_EQ(BuildFileClusterChain(*dev, FsKind::Fat32, 2, 1, img.spf, 0), (Chain{2}));
    EXPECT_EQ(BuildFileClusterChain(*dev, FsKind::Fat32, 2, 1, img.spf, 10), (Chain{2, 3, 4, 5}));
    EXPECT_TRUE(BuildFileClusterChain(*dev, FsKind::Exfat, 2, 1, img.spf, 10).empty());
}

}  // namespace
}  // namespace torvane
