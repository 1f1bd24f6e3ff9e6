// The carving engines' reader: a sector range in blocks of 256 KB (512
// sectors; the last block of the range is shorter), read ahead on a thread of
// its own into a small ring of block buffers while the engine probes and
// writes the blocks before them.
//
// The blocks stay the engines' logical unit: a file's size limit is tested at
// block ends and a read failure is put to the user per block, so every block
// is read on its own and reports its own failure.
//
// A block that could not be read whole comes with `failed` set: its
// unreadable sectors (or all of it, when nothing could be read) are zeros.
// The engine decides what to do with it (ask, read it again, go on).
//
// A source much faster than the carving (the page cache) is better read on
// the carving thread itself: the block then lands in that thread's own cache
// instead of travelling between cores. So after the first kSettleBlocks
// blocks, when the source gave its blocks faster than kInlineBlockTime each
// (the median of those first reads),
// the reader thread stops and the carving thread reads the rest; the blocks
// and their order are the same either way.
//
// The reader thread tests its cancel flag before every block and is joined by
// the destructor; it is never left running behind the engine.
#pragma once

#include "platform/device.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace torvane {

inline constexpr std::uint32_t kCarvingBlockSectors = 512;
inline constexpr std::size_t kCarvingBlockBytes = std::size_t{kCarvingBlockSectors} * kSectorSize;  // 262,144
// Blocks after which the reader decides whether to keep its thread, and the
// time per block below which the source counts as memory-fast (256 KB in
// 64 us: 4 GB/s).
inline constexpr std::uint64_t kSettleBlocks = 32;
inline constexpr std::chrono::microseconds kInlineBlockTime{64};

struct CarvingBlock {
    std::uint64_t firstSector = 0;
    std::uint32_t sectors = 0;          // 512, or fewer for the last block of the range
    std::uint8_t* data = nullptr;       // sectors * 512 bytes
    bool failed = false;                // some sectors could not be read (they are zeros)
    std::uint32_t unreadableSectors = 0;

    std::size_t Bytes() const { return std::size_t{sectors} * kSectorSize; }
};

// Reads `block` (its firstSector and sectors set) from `device` into its
// buffer: zeros stand for what cannot be read; `failed` tells whether
// anything could not. A null device fails every block.
void ReadCarvingBlock(Device* device, CarvingBlock& block);

class BlockReadAhead {
public:
    // Reads sectors [first, end) of `device`. `depth` is the number of block
    // buffers (at least 2); 0 reads each block on the caller's thread when
    // Next() asks for it, with no thread at all.
    // `blockSectors` is the size of a block (the engines' 512; tests and the
    // fuzz target take smaller ones to keep their inputs small).
    BlockReadAhead(DevicePtr device, std::uint64_t first, std::uint64_t end, std::size_t depth = 8,
                   std::uint32_t blockSectors = kCarvingBlockSectors);
    ~BlockReadAhead();
    BlockReadAhead(const BlockReadAhead&) = delete;
    BlockReadAhead& operator=(const BlockReadAhead&) = delete;

    // The next block in order, or nullptr after the last. The block (and its
    // buffer, which the caller may read into again) stays the caller's until
    // the next call.
    CarvingBlock* Next();

    // Blocks not yet read are read from `device` from now on (a retry that
    // opened the device again).
    void SwitchDevice(DevicePtr device);
    DevicePtr CurrentDevice() const;

    // Stops reading ahead; Next() then returns nullptr. Also done by the destructor.
    void Cancel();

private:
    void ReaderLoop();
    std::uint64_t BlockCount() const;
    void Fill(CarvingBlock& block, std::uint64_t index);

    std::uint64_t first_;
    std::uint32_t blockSectors_ = kCarvingBlockSectors;
    std::uint64_t end_;
    std::size_t depth_;
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    std::vector<CarvingBlock> slots_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    DevicePtr device_;
    std::uint64_t readCount_ = 0;      // blocks the reader has finished
    std::uint64_t consumed_ = 0;       // blocks handed out by Next()
    bool holding_ = false;             // the caller holds block consumed_-1
    bool cancel_ = false;
    // Who sleeps: each side wakes the other only when it waits, and a full
    // ring resumes only once half of it is free, so the two threads hand
    // blocks over without a wake-up per block.
    bool readerWaiting_ = false;
    bool callerWaiting_ = false;
    bool readerDone_ = false;          // the reader thread has left its loop
    bool decided_ = false;
    bool inline_ = false;              // the caller reads the blocks not yet read
    std::uint64_t callerWaits_ = 0;    // times the caller had to wait for a block
    std::vector<std::chrono::steady_clock::duration> readTimes_;  // of the first blocks
    std::thread reader_;
};

}  // namespace torvane
