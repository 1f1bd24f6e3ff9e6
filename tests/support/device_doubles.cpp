#include "support/device_doubles.h"

#include <chrono>
#include <thread>

#include "disk/sector_reader.h"
#include "platform/device_registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace torvane::test {

std::uint8_t SectorPattern(std::uint64_t offset)
{
    std::uint64_t n = offset / kSectorSize;
    std::uint64_t i = offset % kSectorSize;
    return static_cast<std::uint8_t>((n * 31 + i + (n >> 32) * 7) & 0xFF);
}

// ------------------------------------------------------------- SparseDevice

SparseDevice::SparseDevice(std::uint64_t sizeBytes, ByteFunction content, std::string name)
    : size_(sizeBytes), content_(std::move(content)), name_(std::move(name))
{
}

void SparseDevice::Write(std::uint64_t offset, const std::string& bytes)
{
    if (offset >= size_ || bytes.empty())
        return;
    std::string data = bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), size_ - offset)));
    const std::uint64_t end = offset + data.size();
    std::lock_guard lock(mutex_);
    // Merge with every region that overlaps or touches [offset, end): the new
    // bytes win, the old ones outside the new range are kept.
    auto it = regions_.upper_bound(offset);
    if (it != regions_.begin())
        --it;
    std::uint64_t mergedStart = offset;
    std::string merged = data;
    while (it != regions_.end() && it->first <= end) {
        const std::uint64_t rStart = it->first;
        const std::uint64_t rEnd = rStart + it->second.size();
        if (rEnd < offset) {
            ++it;
            continue;
        }
        if (rStart < mergedStart) {
            merged = it->second.substr(0, static_cast<std::size_t>(mergedStart - rStart)) + merged;
            mergedStart = rStart;
        }
        const std::uint64_t mergedEnd = mergedStart + merged.size();
        if (rEnd > mergedEnd)
            merged += it->second.substr(static_cast<std::size_t>(mergedEnd - rStart));
        it = regions_.erase(it);
    }
    regions_[mergedStart] = std::move(merged);
}

std::int64_t SparseDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    if (offset >= size_ || length == 0)
        return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (content_) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = content_(offset + i);
    } else {
        std::memset(out, 0, n);
    }
    std::lock_guard lock(mutex_);
    const std::uint64_t end = offset + n;
    auto it = regions_.upper_bound(offset);
    if (it != regions_.begin())
        --it;
    for (; it != regions_.end() && it->first < end; ++it) {
        const std::uint64_t rStart = it->first;
        const std::uint64_t rEnd = rStart + it->second.size();
        if (rEnd <= offset)
            continue;
        const std::uint64_t from = std::max(rStart, offset);
        const std::uint64_t to = std::min(rEnd, end);
        std::memcpy(out + (from - offset), it->second.data() + (from - rStart), static_cast<std::size_t>(to - from));
    }
    return static_cast<std::int64_t>(n);
}

// ------------------------------------------------------------- FaultyDevice

FaultyDevice::FaultyDevice(DevicePtr inner) : inner_(std::move(inner)) {}

void FaultyDevice::FailRange(std::uint64_t first, std::uint64_t length)
{
    std::lock_guard lock(mutex_);
    failing_.emplace_back(first, first + length);
}

std::int64_t FaultyDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    ++calls_;
    if (failAll_) {
        errno = EIO;
        return -1;
    }
    if (length == 0)
        return 0;
    std::size_t limit = length;
    if (std::size_t chunk = maxChunk_; chunk != 0)
        limit = std::min(limit, chunk);
    {
        std::lock_guard lock(mutex_);
        for (const auto& [first, end] : failing_) {
            if (offset >= first && offset < end) {
                errno = EIO;
                return -1;
            }
            if (first > offset && first - offset < limit)
                limit = static_cast<std::size_t>(first - offset);  // stop short before the bad range
        }
    }
    return inner_->ReadAt(offset, buffer, limit);
}

// -------------------------------------------------------------- GatedDevice

GatedDevice::GatedDevice(DevicePtr inner, std::atomic<bool>* destroyed) : inner_(std::move(inner)), destroyed_(destroyed)
{
}

GatedDevice::~GatedDevice()
{
    if (destroyed_)
        *destroyed_ = true;
}

void GatedDevice::WaitForReaders(int n)
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return waiting_ >= n; });
}

void GatedDevice::Release()
{
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
}

std::int64_t GatedDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return open_; });
        --waiting_;
    }
    return inner_->ReadAt(offset, buffer, length);
}

// ------------------------------------------------------- ScopedTestRegistry

ScopedTestRegistry::ScopedTestRegistry()
{
    CloseDeviceHandle();
    DeviceRegistry::Instance().Reset();
    DeviceRegistry::Instance().SetSysfsRoot("");
}

ScopedTestRegistry::~ScopedTestRegistry()
{
    CloseDeviceHandle();
    DeviceRegistry::Instance().Reset();
}

std::int64_t SlowDevice::ReadAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    if (const int ms = delayMs.load(); ms > 0 && length >= minLength_)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return inner_->ReadAt(offset, buffer, length);
}

}  // namespace torvane::test
