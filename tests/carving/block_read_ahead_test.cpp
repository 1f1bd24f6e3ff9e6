// The carving reader: blocks in order with the device's bytes, failures per
// block, and a reader thread that never outlives its owner.
#include "carving/block_read_ahead.h"

#include "carving_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace torvane {
namespace {

TEST(BlockReadAhead, BlocksInOrderWithTheDevicesBytes)
{
    auto device = test::PatternDevice(3000);
    for (std::size_t depth : {0, 2, 8}) {
        SCOPED_TRACE(depth);
        BlockReadAhead reader(device, 100, 1312, depth);  // 2 whole blocks and one of 188 sectors
        std::vector<std::uint32_t> sizes;
        std::uint64_t next = 100;
        while (CarvingBlock* block = reader.Next()) {
            EXPECT_EQ(block->firstSector, next);
            EXPECT_FALSE(block->failed);
            const std::string want = test::DeviceBytes(*device, next * kSectorSize, block->Bytes());
            EXPECT_EQ(std::memcmp(block->data, want.data(), want.size()), 0);
            sizes.push_back(block->sectors);
            next += block->sectors;
        }
        EXPECT_EQ(sizes, (std::vector<std::uint32_t>{512, 512, 188}));
        EXPECT_EQ(reader.Next(), nullptr);
    }
    BlockReadAhead empty(device, 5, 5);
    EXPECT_EQ(empty.Next(), nullptr);
}

TEST(BlockReadAhead, AFailingBlockIsMarkedAndZeroFilled)
{
    auto scripted = std::make_shared<test::ScriptedDevice>(test::PatternDevice(2048));
    scripted->failFirst = 700 * kSectorSize;
    scripted->failEnd = 702 * kSectorSize;
    scripted->broken = true;
    BlockReadAhead reader(scripted, 0, 2048, 4);
    std::vector<bool> failed;
    while (CarvingBlock* block = reader.Next()) {
        failed.push_back(block->failed);
        if (block->failed) {
            EXPECT_EQ(block->unreadableSectors, 2u);
            const std::size_t at = (700 - 512) * kSectorSize;
            EXPECT_EQ(std::count(block->data + at, block->data + at + 1024, 0), 1024);
            EXPECT_NE(block->data[at + 1024], 0);  // the rest of the block was read
            scripted->broken = false;
            ReadCarvingBlock(scripted.get(), *block);
            EXPECT_FALSE(block->failed);
        }
    }
    EXPECT_EQ(failed, (std::vector<bool>{false, true, false, false}));

    CarvingBlock block;
    std::vector<std::uint8_t> buffer(kCarvingBlockBytes, 0xEE);
    block.data = buffer.data();
    block.sectors = 512;
    ReadCarvingBlock(nullptr, block);  // no device at all
    EXPECT_TRUE(block.failed);
    EXPECT_EQ(buffer[0], 0);
}

TEST(BlockReadAhead, DestroyedWhileTheReaderWaitsOrReads)
{
    // The reader fills its ring and waits for a slot: destroying the reader
    // wakes and joins it.
    {
        BlockReadAhead reader(test::PatternDevice(1 << 16), 0, 1 << 16, 2);
        ASSERT_NE(reader.Next(), nullptr);
    }
    // A read in flight: the destructor waits for it, then the thread leaves.
    std::atomic<bool> destroyed{false};
    auto gated = std::make_shared<test::GatedDevice>(test::PatternDevice(4096), &destroyed);
    {
        auto reader = std::make_unique<BlockReadAhead>(gated, 0, 4096, 4);
        gated->WaitForReaders(1);
        reader->Cancel();
        gated->Release();
        reader.reset();
    }
    EXPECT_FALSE(destroyed);
    gated.reset();
    EXPECT_TRUE(destroyed);
}

TEST(BlockReadAhead, SwitchDeviceServesTheBlocksNotYetRead)
{
    auto first = test::PatternDevice(1024);
    auto second = std::make_shared<test::SparseDevice>(1024 * kSectorSize);  // zeros
    BlockReadAhead reader(first, 0, 1024, 0);
    CarvingBlock* block = reader.Next();
    ASSERT_NE(block, nullptr);
    EXPECT_NE(block->data[1], 0);
    reader.SwitchDevice(second);
    EXPECT_EQ(reader.CurrentDevice(), second);
    block = reader.Next();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::count(block->data, block->data + block->Bytes(), 0), static_cast<long>(block->Bytes()));
}

}  // namespace
}  // namespace torvane
