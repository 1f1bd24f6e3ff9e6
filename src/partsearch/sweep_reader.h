// The reads of the sector sweeps, done ahead of the sweep so that the disk
// is never idle while a sector is examined. The set and the order of the
// sectors the sweeps examine do not depend on how they were read.
//
// BlockStream reads consecutive blocks (the Advanced sweep's 256 KB blocks),
// in order, either each when it is asked for or ahead on a thread of its own
// into a small ring of buffers.
// ProbeReader reads many single sectors at once on a few threads (the
// Standard sweep's probes, one every 512 sectors, on devices that serve
// parallel reads faster than one after another).
#pragma once

#include "platform/device.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torvane {

// Reads `length` bytes at `offset` as far as the device gives them: ReadAt
// again after a short read, until the length, the end or an error. Returns
// the bytes read (0 when nothing could be read).
std::size_t ReadAsFarAsPossible(Device& device, std::uint64_t offset, std::uint8_t* buffer, std::size_t length);

// Publishes the sector a sweep examines (nowhere when `at` is null).
inline void PublishSweepSector(std::atomic<std::uint64_t>* at, std::uint64_t sector)
{
    if (at)
        at->store(sector, std::memory_order_relaxed);
}

// Asks a sweep's stop function (none: never stop); a yes is noted in `stopped`.
inline bool SweepStopAsked(const std::function<bool()>& stop, bool& stopped)
{
    if (stop && stop()) {
        stopped = true;
        return true;
    }
    return false;
}

class BlockStream {
public:
    struct Block {
        std::uint64_t start = 0;           // first sector of the block
        std::size_t sectors = 0;           // whole sectors read (0: the block could not be read)
        const std::uint8_t* data = nullptr;
    };

    // Blocks of `blockSectors` sectors from sector `first` while below `end`,
    // the last one cut at `end`; `depth` blocks are read ahead on a thread of
    // the stream's own, or, with depth 0, each block is read in Next().
    BlockStream(Device& device, std::uint64_t first, std::uint64_t end, std::uint32_t blockSectors,
                unsigned depth = 4);
    ~BlockStream();   // stops reading ahead and waits for the read in flight
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;

    // The next block, in order; the previous block's buffer is given back.
    // False after the last block.
    bool Next(Block& out);

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        Block block;
        bool full = false;
    };
    void Produce();

    Device& device_;
    const std::uint64_t first_, end_;
    const std::uint32_t blockSectors_;
    std::vector<Slot> slots_;
    std::uint64_t blockCount_ = 0;
    std::uint64_t consumed_ = 0;     // blocks handed out
    bool holding_ = false;           // the consumer holds slot (consumed_ - 1)
    bool synchronous_ = false;
    bool quit_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};

class ProbeReader {
public:
    using Sector = std::array<std::uint8_t, kSectorSize>;

    // `threads` readers (at least one).
    ProbeReader(Device& device, unsigned threads);
    ~ProbeReader();
    ProbeReader(const ProbeReader&) = delete;
    ProbeReader& operator=(const ProbeReader&) = delete;

    // Reads sector sectors[i] into out[i] for every i, in parallel; ok[i] is
    // false when nothing could be read there (out[i] is then zeros). A sector
    // that lies partly past the end keeps what exists, zero-filled.
    void Read(const std::vector<std::uint64_t>& sectors, std::vector<Sector>& out, std::vector<char>& ok);

private:
    void Work();

    Device& device_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable cv_, doneCv_;
    const std::vector<std::uint64_t>* sectors_ = nullptr;
    std::vector<Sector>* out_ = nullptr;
    std::vector<char>* ok_ = nullptr;
    // Set before a batch's slots are handed out; workers read them only
    // after taking a slot (next_), which orders the reads after the writes.
    std::atomic<std::size_t> count_{0}, next_{0}, done_{0};
    std::uint64_t batch_ = 0;
    bool quit_ = false;
};

}  // namespace torvane
