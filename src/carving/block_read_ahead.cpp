#include "carving/block_read_ahead.h"

#include "disk/sector_reader.h"

#include <algorithm>
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

BlockReadAhead::BlockReadAhead(DevicePtr device, std::uint64_t first, std::uint64_t end, std::size_t depth,
                               std::uint32_t blockSectors)
    : first_(first),
      blockSectors_(blockSectors == 0 ? kCarvingBlockSectors : blockSectors),
      end_(end < first ? first : end),
      depth_(depth == 1 ? 2 : depth),
      device_(std::move(device))
{
    const std::size_t buffers = depth_ == 0 ? 1 : depth_;
    for (std::size_t i = 0; i < buffers; ++i) {
        buffers_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{blockSectors_} * kSectorSize));
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
    return (end_ - first_ + blockSectors_ - 1) / blockSectors_;
}

void BlockReadAhead::Fill(CarvingBlock& block, std::uint64_t index)
{
    block.firstSector = first_ + index * blockSectors_;
    const std::uint64_t left = end_ - block.firstSector;
    block.sectors = static_cast<std::uint32_t>(left < blockSectors_ ? left : blockSectors_);
    ReadCarvingBlock(CurrentDevice().get(), block);
}

void BlockReadAhead::ReaderLoop()
{
    const std::uint64_t count = BlockCount();
    const std::uint64_t resume = depth_ / 2;
    for (std::uint64_t i = 0; i < count; ++i) {
        {
            std::unique_lock lock(mutex_);
            // Block i may go into its slot once the block depth_ before it
            // has been handed back; after a full ring, wait for half of it.
            auto occupied = [&] { return i - (consumed_ - (holding_ ? 1 : 0)); };
            if (!cancel_ && !inline_ && occupied() >= depth_) {
                readerWaiting_ = true;
                cv_.wait(lock, [&] { return cancel_ || inline_ || occupied() <= resume; });
                readerWaiting_ = false;
            }
            if (cancel_ || inline_)
                break;
        }
        const auto started = std::chrono::steady_clock::now();
        Fill(slots_[i % depth_], i);
        const auto took = std::chrono::steady_clock::now() - started;
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            readCount_ = i + 1;
            if (readTimes_.size() < kSettleBlocks)
                readTimes_.push_back(took);
            wake = callerWaiting_;
        }
        if (wake)
            cv_.notify_all();
    }
    {
        std::lock_guard lock(mutex_);
        readerDone_ = true;
    }
    cv_.notify_all();
}

CarvingBlock* BlockReadAhead::Next()
{
    std::unique_lock lock(mutex_);
    if (holding_) {
        holding_ = false;
        const std::uint64_t occupied = readCount_ - consumed_;
        if (readerWaiting_ && occupied <= depth_ / 2)
            cv_.notify_all();
    }
    const std::uint64_t count = BlockCount();
    if (cancel_ || consumed_ >= count)
        return nullptr;
    if (depth_ > 0 && !decided_ && consumed_ >= kSettleBlocks) {
        // A source that gives a block in no more time than copying it takes
        // (the page cache) is read faster on this thread, into a block that
        // stays in its own cache.
        // The median read, so that a reader thread put aside for a while by
        // a busy machine does not make the page cache look slow.
        decided_ = true;
        std::vector<std::chrono::steady_clock::duration> times = readTimes_;
        std::nth_element(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2), times.end());
        if (!times.empty() && times[times.size() / 2] < kInlineBlockTime) {
            inline_ = true;
            cv_.notify_all();
        }
    }
    if (depth_ > 0 && readCount_ <= consumed_) {
        if (inline_) {
            cv_.wait(lock, [&] { return readerDone_ || readCount_ > consumed_; });
        } else {
            ++callerWaits_;
            callerWaiting_ = true;
            cv_.wait(lock, [&] { return cancel_ || readerDone_ || readCount_ > consumed_; });
            callerWaiting_ = false;
        }
        if (cancel_)
            return nullptr;
    }
    CarvingBlock* block = &slots_[depth_ == 0 ? 0 : consumed_ % depth_];
    if (depth_ == 0 || readCount_ <= consumed_) {
        // Read here: no reader thread, or it has left the rest to this one.
        const std::uint64_t index = consumed_;
        lock.unlock();
        Fill(*block, index);
        lock.lock();
        readCount_ = std::max(readCount_, index + 1);
    }
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
