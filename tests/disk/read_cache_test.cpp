// The device read cache: what a read through it gives is what the device
// gives (errors, short reads and the device's end included), each block is
// read once or handed over by the sweep, and only a scope's own thread and
// device are served by it.
#include "disk/read_cache.h"
#include "disk/sector_reader.h"
#include "support/device_doubles.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace torvane {
namespace {

using test::FaultyDevice;
using test::SectorPattern;
using test::SparseDevice;

constexpr std::uint64_t kBlock = kReadCacheBlock;
// Not a whole number of blocks: the last block is short.
constexpr std::uint64_t kDeviceBytes = 64 * kBlock + 3 * kSectorSize;

struct Read {
    std::uint64_t offset;
    std::size_t length;
};

struct Outcome {
    std::uint64_t bytes = 0;
    SectorReadReport report;
    std::vector<std::uint8_t> data;
    bool operator==(const Outcome& o) const
    {
        return bytes == o.bytes && report.bytesRead == o.report.bytesRead &&
               report.unreadableSectors == o.report.unreadableSectors && report.reachedEnd == o.report.reachedEnd &&
               data == o.data;
    }
};

Outcome ReadThrough(Device& device, const Read& r)
{
    Outcome o;
    o.data.assign(r.length, 0xAA);
    o.bytes = ReadBytesFrom(device, r.offset, o.data.data(), r.length, &o.report);
    return o;
}

std::shared_ptr<FaultyDevice> MakeDevice()
{
    auto device = std::make_shared<FaultyDevice>(std::make_shared<SparseDevice>(kDeviceBytes, SectorPattern));
    device->FailSectors(20 * kBlock / kSectorSize + 5, 2);   // two bad sectors inside block 20
    return device;
}

// Every read, cached or not, gives the bytes and the report the device
// gives without the cache: within a block, across blocks, over bad
// sectors, over the device's end, past it, and larger than the cache serves.
TEST(DeviceReadCache, GivesWhatTheDeviceGives)
{
    const std::vector<Read> reads = {
        {0, 512},
        {kBlock - 512, 1024},                          // across two blocks
        {3 * kBlock + 100, 3000},                      // not sector-aligned
        {5 * kBlock, kReadCacheMaxRead},               // the largest read served
        {5 * kBlock + 512, kReadCacheMaxRead},         // one block more, unaligned
        {7 * kBlock, kReadCacheMaxRead + 512},         // larger: passed on
        {20 * kBlock, 4096},                           // over the bad sectors
        {20 * kBlock + 5 * kSectorSize, 512},          // a bad sector itself
        {19 * kBlock + 8192, 2 * kBlock},              // runs into the bad block
        {64 * kBlock, 3 * kSectorSize},                // the short last block
        {kDeviceBytes - 512, 4096},                    // over the device's end
        {kDeviceBytes + 512, 512},                     // past it
        {0, 512},                                      // again, now from the cache
        {3 * kBlock + 100, 3000},
    };
    auto direct = MakeDevice();
    auto cached = MakeDevice();
    DeviceReadCache cache(*cached);
    ReadCacheScope scope(cache);
    for (const Read& r : reads) {
        SCOPED_TRACE(testing::Message() << "offset " << r.offset << " length " << r.length);
        EXPECT_TRUE(ReadThrough(*cached, r) == ReadThrough(*direct, r));
    }
    EXPECT_GT(cache.BlocksHeld(), 0u);
}

// A block is read from the device once, however often its sectors are read;
// a cache at its capacity passes further blocks on, still giving their bytes.
TEST(DeviceReadCache, ReadsEachBlockOnceUpToItsCapacity)
{
    auto device = MakeDevice();
    auto reference = MakeDevice();
    DeviceReadCache cache(*device, 2 * kBlock);
    ReadCacheScope scope(cache);
    for (int pass = 0; pass < 3; ++pass)
        for (std::uint64_t s = 0; s < kBlock / kSectorSize; ++s)
            EXPECT_TRUE(ReadThrough(*device, {kBlock + s * kSectorSize, 512}) ==
                        ReadThrough(*reference, {kBlock + s * kSectorSize, 512}));
    EXPECT_EQ(device->ReadCalls(), 1u);
    EXPECT_TRUE(ReadThrough(*device, {9 * kBlock, 512}) == ReadThrough(*reference, {9 * kBlock, 512}));
    EXPECT_EQ(cache.BlocksHeld(), 2u);
    for (int pass = 0; pass < 2; ++pass)
        EXPECT_TRUE(ReadThrough(*device, {30 * kBlock, 512}) == ReadThrough(*reference, {30 * kBlock, 512}));
    EXPECT_EQ(cache.BlocksHeld(), 2u);
    EXPECT_EQ(cache.ReadsPassedOn(), 2u);
    EXPECT_EQ(device->ReadCalls(), 4u);
}

// Another thread, another device, and the time after the scope read the
// device directly; a nested scope serves its own device only.
TEST(DeviceReadCache, ServesOnlyItsThreadItsDeviceAndItsLifetime)
{
    auto device = MakeDevice();
    auto other = MakeDevice();
    DeviceReadCache cache(*device);
    DeviceReadCache otherCache(*other);
    {
        ReadCacheScope scope(cache);
        ReadThrough(*device, {0, 512});
        ReadThrough(*device, {512, 512});
        EXPECT_EQ(device->ReadCalls(), 1u);
        std::thread([&] {
            ReadThrough(*device, {0, 512});
            EXPECT_EQ(ReadCacheScope::ActiveFor(*device), nullptr);
        }).join();
        EXPECT_EQ(device->ReadCalls(), 2u);
        ReadThrough(*other, {0, 512});
        ReadThrough(*other, {0, 512});
        EXPECT_EQ(other->ReadCalls(), 2u);
        {
            ReadCacheScope inner(otherCache);
            EXPECT_EQ(ReadCacheScope::ActiveFor(*device), &cache);
            EXPECT_EQ(ReadCacheScope::ActiveFor(*other), &otherCache);
            ReadThrough(*other, {0, 512});
            ReadThrough(*other, {0, 512});
            EXPECT_EQ(other->ReadCalls(), 3u);
        }
        EXPECT_EQ(ReadCacheScope::ActiveFor(*other), nullptr);
    }
    EXPECT_EQ(ReadCacheScope::ActiveFor(*device), nullptr);
    ReadThrough(*device, {0, 512});
    EXPECT_EQ(device->ReadCalls(), 3u);
}

// Blocks the sweep hands over are read from memory: only whole blocks that
// overlap the range asked for and lie inside the bytes given are kept.
TEST(DeviceReadCache, KeepsTheWholeBlocksASweepHandsOver)
{
    auto device = MakeDevice();
    auto reference = MakeDevice();
    DeviceReadCache cache(*device);
    // Bytes of blocks 2 .. 5 less the first sector: block 2 is not whole.
    const std::uint64_t offset = 2 * kBlock + kSectorSize;
    Outcome chunk = ReadThrough(*reference, {offset, static_cast<std::size_t>(4 * kBlock - kSectorSize)});
    cache.Offer(offset, chunk.data.data(), chunk.data.size(), 2 * kBlock + 3 * kSectorSize, 4 * kBlock + 1);
    EXPECT_EQ(cache.BlocksHeld(), 2u);   // blocks 3 and 4
    EXPECT_EQ(device->ReadCalls(), 0u);
    ReadCacheScope scope(cache);
    EXPECT_TRUE(ReadThrough(*device, {3 * kBlock, 2 * kBlock}) == ReadThrough(*reference, {3 * kBlock, 2 * kBlock}));
    EXPECT_EQ(device->ReadCalls(), 0u);
    EXPECT_TRUE(ReadThrough(*device, {2 * kBlock + kSectorSize, 512}) ==
                ReadThrough(*reference, {2 * kBlock + kSectorSize, 512}));
    EXPECT_EQ(device->ReadCalls(), 1u);
}

}  // namespace
}  // namespace torvane
