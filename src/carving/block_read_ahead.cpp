#include "carving/block_read_ahead.h"

#include "disk/sector_reader.h"

#include <cstring>

namespace torvane {

void ReadCarvingBlock(Device* device, CarvingBlock& block)
{
    const std::size_t length = block.Bytes();
    block.failed = false;
    block.unreadableSectors = 0;
    if (device == nullptr) {
        std::memset(block.data, 0, length);
        block.failed = true;
        block.unreadableSectors = block.sectors;
        return;
    }
    SectorReadReport report;
    ReadBytesFrom(*device, block.firstSector * kSectorSize, block.data, length, &report);
    // Running past the device's end is not a failure (those bytes are zeros);
    // an I/O error, or a block of which nothing at all could be read, is.
    if (report.unreadableSectors > 0) {
        block.failed = true;
        block.unreadableSectors = report.unreadableSectors;
    } else if (report.bytesRead == 0 && !report.reachedEnd) {
        block.failed = true;
        block.unreadableSectors = block.sectors;
    }
}

BlockReadAhead::BlockReadAhead(DevicePtr device, std::uint64_t first, std::uint64_t end, std::size_t depth)
    : first_(first), end_(end < first ? first : end), depth_(depth == 1 ? 2 : depth), device_(std::move(device))
{
    const std::size_t buffers = depth_ == 0 ? 1 : depth_;
    for (std::size_t i = 0; i < buffers; ++i) {
        buffers_.push_back(std::make_unique<std::uint8_t[]>(kCarvingBlockBytes));
        CarvingBlock block;
        block.data = buffers_.back().get();
        slots_.push_back(block);
    }
    if (depth_ > 0 && BlockCount() > 0)
        reader_ = std::thread([this] { ReaderLoop(); });
}

BlockReadAhead::~BlockReadAhead()
{
    Cancel();
    if (reader_.joinable())
        reader_.join();
}

std::uint64_t BlockReadAhead::BlockCount() const
{
    return (end_ - first_ + kCarvingBlockSectors - 1) / kCarvingBlockSectors;
}

void BlockReadAhead::Fill(CarvingBlock& block, std::uint64_t index)
{
    block.firstSector = first_ + index * kCarvingBlockSectors;
    const std::uint64_t left = end_ - block.firstSector;
    block.sectors = static_cast<std::uint32_t>(left < kCarvingBlockSectors ? left : kCarvingBlockSectors);
    ReadCarvingBlock(CurrentDevice().get(), block);
}

void BlockReadAhead::ReaderLoop()
{
    const std::uint64_t count = BlockCount();
    for (std::uint64_t i = 0; i < count; ++i) {
        {
            std::unique_lock lock(mutex_);
            // Block i may go into its slot once the block depth_ before it
            // has been handed back.
            cv_.wait(lock, [&] {
                const std::uint64_t freed = consumed_ - (holding_ ? 1 : 0);
                return cancel_ || i < freed + depth_;
            });
            if (cancel_)
                return;
        }
        Fill(slots_[i % depth_], i);
        {
            std::lock_guard lock(mutex_);
            readCount_ = i + 1;
        }
        cv_.notify_all();
    }
}

CarvingBlock* BlockReadAhead::Next()
{
    std::unique_lock lock(mutex_);
    if (holding_) {
        holding_ = false;
        cv_.notify_all();
    }
    if (cancel_ || consumed_ >= BlockCount())
        return nullptr;
    if (depth_ == 0) {
        const std::uint64_t index = consumed_;
        lock.unlock();
        Fill(slots_[0], index);
        lock.lock();
        ++consumed_;
        holding_ = true;
        return &slots_[0];
    }
    cv_.wait(lock, [&] { return cancel_ || readCount_ > consumed_; });
    if (cancel_)
        return nullptr;
    CarvingBlock* block = &slots_[consumed_ % depth_];
    ++consumed_;
    holding_ = true;
    return block;
}

void BlockReadAhead::SwitchDevice(DevicePtr device)
{
    std::lock_guard lock(mutex_);
    device_ = std::move(device);
}

DevicePtr BlockReadAhead::CurrentDevice() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

void BlockReadAhead::Cancel()
{
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
    }
    cv_.notify_all();
}

}  // namespace torvane
