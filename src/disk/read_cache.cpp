#include "disk/read_cache.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace torvane {
namespace {

thread_local ReadCacheScope* tActive = nullptr;

// The most blocks one read can cover (a read not aligned to a block).
constexpr std::size_t kSpanBlocks = kReadCacheMaxRead / kReadCacheBlock + 1;

// Blocks live in pieces from the heap the rest of the scan uses (memory the
// process has touched before costs no page faults, where fresh pages cost one
// each). The first piece holds a 256th of the device's blocks (at least 16)
// and each next one twice as many, up to 256 blocks (1 MiB): a disk gets
// megabyte pieces from the start, while a small device does not pay for a
// megabyte it could never fill.
constexpr std::size_t kMinArenaBlocks = 16;
constexpr std::size_t kMaxArenaBlocks = (std::size_t{1} << 20) / kReadCacheBlock;

}  // namespace

DeviceReadCache::DeviceReadCache(Device& device, std::size_t capacityBytes)
    : device_(device), size_(device.SizeBytes()), capacityBlocks_(capacityBytes / kReadCacheBlock)
{
}

std::uint8_t* DeviceReadCache::NewBlock(std::uint64_t index)
{
    if (slots_.size() >= capacityBlocks_)
        return nullptr;
    if (arenas_.empty() || arenaUsed_ == arenaBlocks_) {
        if (arenas_.empty()) {
            const std::uint64_t deviceBlocks = size_ / kReadCacheBlock;
            arenaBlocks_ = static_cast<std::size_t>(
                std::clamp<std::uint64_t>(deviceBlocks / 256, kMinArenaBlocks, kMaxArenaBlocks));
        } else {
            arenaBlocks_ = std::min(arenaBlocks_ * 2, kMaxArenaBlocks);
        }
        arenas_.emplace_back(new std::uint8_t[arenaBlocks_ * kReadCacheBlock]);
        arenaUsed_ = 0;
    }
    std::uint8_t* block = arenas_.back().get() + arenaUsed_++ * kReadCacheBlock;
    slots_.emplace(index, block);
    return block;
}

void DeviceReadCache::Offer(std::uint64_t offset, const std::uint8_t* data, std::size_t length, std::uint64_t from,
                            std::uint64_t to)
{
    // Whole blocks only, inside what was read and on the device.
    const std::uint64_t end = std::min<std::uint64_t>(offset + length, size_);
    from = std::max(from, offset);
    to = std::min(to, end);
    if (from >= to)
        return;
    std::uint64_t b = from / kReadCacheBlock;
    if (b * kReadCacheBlock < offset)
        ++b;
    for (; (b + 1) * kReadCacheBlock <= end && b * kReadCacheBlock < to; ++b) {
        if (slots_.count(b) != 0)
            continue;
        std::uint8_t* block = NewBlock(b);
        if (!block)
            return;
        std::memcpy(block, data + (b * kReadCacheBlock - offset), kReadCacheBlock);
    }
}

bool DeviceReadCache::Fill(std::uint64_t first, std::uint64_t last)
{
    std::uint64_t firstMissing = last + 1, lastMissing = 0;
    std::size_t missing = 0;
    for (std::uint64_t b = first; b <= last; ++b)
        if (slots_.count(b) == 0) {
            firstMissing = std::min(firstMissing, b);
            lastMissing = b;
            ++missing;
        }
    if (missing == 0)
        return true;
    if (slots_.size() + missing > capacityBlocks_)
        return false;
    const std::uint64_t from = firstMissing * kReadCacheBlock;
    const std::uint64_t to = std::min<std::uint64_t>((lastMissing + 1) * kReadCacheBlock, size_);
    const std::size_t want = static_cast<std::size_t>(to - from);
    if (!span_)
        span_.reset(new std::uint8_t[kSpanBlocks * kReadCacheBlock]);
    // Kept only when the device gives every byte asked for: a short read
    // (an error part-way) is left to the caller's own read.
    if (device_.ReadAt(from, span_.get(), want) != static_cast<std::int64_t>(want))
        return false;
    for (std::uint64_t b = firstMissing; b <= lastMissing; ++b) {
        if (slots_.count(b) != 0)
            continue;
        std::uint8_t* block = NewBlock(b);
        if (!block)
            return false;
        const std::uint64_t at = (b - firstMissing) * kReadCacheBlock;
        std::memcpy(block, span_.get() + at, static_cast<std::size_t>(std::min<std::uint64_t>(kReadCacheBlock, want - at)));
    }
    return true;
}

std::int64_t DeviceReadCache::ReadAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    // Only reads that lie wholly on the device as its size says, and small
    // enough to be worth it; the rest go to the device as asked.
    if (length == 0 || length > kReadCacheMaxRead || offset >= size_ || length > size_ - offset) {
        ++passedOn_;
        return device_.ReadAt(offset, buffer, length);
    }
    const std::uint64_t first = offset / kReadCacheBlock;
    const std::uint64_t last = (offset + length - 1) / kReadCacheBlock;
    if (first == last) {
        // Most reads lie inside one block held already: one look-up.
        auto held = slots_.find(first);
        if (held != slots_.end()) {
            std::memcpy(buffer, held->second + (offset - first * kReadCacheBlock), length);
            return static_cast<std::int64_t>(length);
        }
    }
    if (!Fill(first, last)) {
        ++passedOn_;
        return device_.ReadAt(offset, buffer, length);
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t at = offset;
    std::size_t left = length;
    while (left > 0) {
        const std::uint64_t b = at / kReadCacheBlock;
        const std::size_t within = static_cast<std::size_t>(at - b * kReadCacheBlock);
        const std::size_t n = std::min(left, kReadCacheBlock - within);
        std::memcpy(out, slots_.find(b)->second + within, n);
        out += n;
        at += n;
        left -= n;
    }
    return static_cast<std::int64_t>(length);
}

ReadCacheScope::ReadCacheScope(DeviceReadCache& cache) : cache_(cache), outer_(tActive)
{
    tActive = this;
}

ReadCacheScope::~ReadCacheScope()
{
    tActive = outer_;
}

DeviceReadCache* ReadCacheScope::ActiveFor(const Device& device)
{
    for (ReadCacheScope* s = tActive; s; s = s->outer_)
        if (&s->cache_.CachedDevice() == &device)
            return &s->cache_;
    return nullptr;
}

}  // namespace torvane
