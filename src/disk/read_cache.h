// A read cache for the many small reads that follow a sweep of a device.
//
// The steps after a Deep sweep read the FAT over and over (every folder's
// chain is walked from a FAT table of its own) and the folders' clusters one
// sector at a time, and the count of every folder's files then reads them
// again: tens of thousands of reads of a few sectors each, where the system
// call costs more than the bytes. While a ReadCacheScope is open on a
// thread, the reads that thread makes of the cache's device through
// ReadBytesFrom/ReadSectorsFrom (disk/sector_reader.h) are served from
// aligned blocks of kReadCacheBlock bytes, each read from the device once.
// The sweep itself can hand over blocks it has just read and knows will be
// read again (Offer: a folder's first cluster), so those are not read twice.
//
// What a read gives is what the device gives: a block is kept only when the
// device gave all of it (or the sweep read all of it); a read that meets an
// error, runs past the device's end, is larger than kReadCacheMaxRead, or
// finds the cache full is passed to the device as asked. Blocks are never
// evicted: once the cache holds its capacity, further blocks are read
// straight from the device.
//
// Not thread-safe: one thread fills and reads a cache (the Deep scan job's
// own). Other threads, and reads of other devices, go to the device as
// before. Meant for the length of one scan of a device that does not change
// meanwhile; the memory (at most the capacity) is given back with the cache.
#pragma once

#include "platform/device.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace torvane {

inline constexpr std::size_t kReadCacheBlock = 4096;
inline constexpr std::size_t kReadCacheMaxRead = 64 * 1024;
inline constexpr std::size_t kReadCacheDefaultBytes = std::size_t{32} << 20;

class DeviceReadCache {
public:
    explicit DeviceReadCache(Device& device, std::size_t capacityBytes = kReadCacheDefaultBytes);
    DeviceReadCache(const DeviceReadCache&) = delete;
    DeviceReadCache& operator=(const DeviceReadCache&) = delete;

    Device& CachedDevice() const { return device_; }

    // As Device::ReadAt.
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length);

    // `length` bytes at device byte `offset`, as just read from the device:
    // the blocks that overlap [from, to) and lie wholly inside them are kept
    // (as far as the capacity allows).
    void Offer(std::uint64_t offset, const std::uint8_t* data, std::size_t length, std::uint64_t from,
               std::uint64_t to);

    // Blocks held; reads passed on to the device uncached.
    std::size_t BlocksHeld() const { return slots_.size(); }
    std::uint64_t ReadsPassedOn() const { return passedOn_; }

private:
    // Room for one more block, or null when the cache is full.
    std::uint8_t* NewBlock(std::uint64_t index);
    // Makes blocks first .. last present (reading the missing ones in one
    // read); false when they cannot all be held or read whole.
    bool Fill(std::uint64_t first, std::uint64_t last);

    Device& device_;
    std::uint64_t size_;
    std::size_t capacityBlocks_;
    std::unordered_map<std::uint64_t, std::uint8_t*> slots_;   // block index -> its bytes
    std::vector<std::unique_ptr<std::uint8_t[]>> arenas_;      // the blocks' memory, in large pieces
    std::size_t arenaUsed_ = 0;                                // blocks used of the last arena
    std::size_t arenaBlocks_ = 0;                              // blocks the last arena holds
    std::unique_ptr<std::uint8_t[]> span_;                     // a run of missing blocks, as read
    std::uint64_t passedOn_ = 0;
};

// While it lives, ReadBytesFrom on this thread reads `cache`'s device through
// `cache`. Scopes nest (the inner one serves its own device while it lives).
class ReadCacheScope {
public:
    explicit ReadCacheScope(DeviceReadCache& cache);
    ~ReadCacheScope();
    ReadCacheScope(const ReadCacheScope&) = delete;
    ReadCacheScope& operator=(const ReadCacheScope&) = delete;

    // The cache this thread reads `device` through, or null.
    static DeviceReadCache* ActiveFor(const Device& device);

private:
    DeviceReadCache& cache_;
    ReadCacheScope* outer_;
};

}  // namespace torvane
