#include "disk/sector_reader.h"

#include "disk/read_cache.h"
#include "platform/device_registry.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace torvane {

DeviceHandle SharedDiskHandle;

namespace {

constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

bool SameDevice(const std::string& a, const std::string& b)
{
    return !a.empty() && CanonicalDevicePath(a) == CanonicalDevicePath(b);
}

}  // namespace

// ---------------------------------------------------------------- DeviceHandle

bool DeviceHandle::Open(const std::string& devicePath, std::string* error, int* errnoOut)
{
    DevicePtr device;
    try {
        device = DeviceRegistry::Instance().Open(devicePath, error, errnoOut);
    } catch (...) {
        device = nullptr;
    }
    DevicePtr previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(device_);  // released outside the lock
        device_ = device;
        path_ = device ? devicePath : std::string();
        position_ = 0;
    }
    return device != nullptr;
}

void DeviceHandle::Adopt(DevicePtr device, const std::string& devicePath)
{
    DevicePtr previous;
    std::lock_guard lock(mutex_);
    previous = std::move(device_);
    device_ = std::move(device);
    path_ = device_ ? devicePath : std::string();
    position_ = 0;
}

void DeviceHandle::Close()
{
    DevicePtr previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(device_);
        device_.reset();
        path_.clear();
        position_ = 0;
    }
    // `previous` goes here. When a read on another thread still holds the
    // device, the descriptor is closed only when that read lets go of it.
}

bool DeviceHandle::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return device_ != nullptr;
}

std::string DeviceHandle::OpenPath() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

DevicePtr DeviceHandle::Get() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

std::uint64_t DeviceHandle::Position() const
{
    std::lock_guard lock(mutex_);
    return position_;
}

void DeviceHandle::SetPosition(std::uint64_t pos)
{
    std::lock_guard lock(mutex_);
    position_ = pos;
}

// ------------------------------------------------------------ shared handle

bool OpenDeviceHandle(const std::string& devicePath)
{
    if (SharedDiskHandle.IsOpen() && SameDevice(SharedDiskHandle.OpenPath(), devicePath))
        return true;
    return SharedDiskHandle.Open(devicePath);
}

void CloseDeviceHandle()
{
    SharedDiskHandle.Close();
}

// ------------------------------------------------------------------- reading

std::uint64_t ReadBytesFrom(Device& device, std::uint64_t offset, void* buffer, std::size_t length,
                            SectorReadReport* report)
{
    SectorReadReport rep;
    auto* out = static_cast<unsigned char*>(buffer);
    const std::uint64_t size = device.SizeBytes();  // 0 when the device did not say
    DeviceReadCache* cache = ReadCacheScope::ActiveFor(device);
    std::size_t pos = 0;
    while (pos < length) {
        if (offset > kMaxU64 - pos) {
            rep.reachedEnd = true;
            break;
        }
        const std::uint64_t at = offset + pos;
        std::int64_t n = -1;
        try {
            n = cache ? cache->ReadAt(at, out + pos, length - pos) : device.ReadAt(at, out + pos, length - pos);
        } catch (...) {
            n = -1;
        }
        if (n > 0) {
            std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), length - pos));
            pos += got;
            rep.bytesRead += got;
            continue;
        }
        if (n == 0 || (size != 0 && at >= size)) {
            rep.reachedEnd = true;
            break;
        }
        // An I/O error at `at`: that sector reads as zeros, and the rest of
        // the range is asked for again from the next sector on.
        std::uint64_t next = (at / kSectorSize + 1) * kSectorSize;
        std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(next - at, length - pos));
        std::memset(out + pos, 0, skip);
        pos += skip;
        ++rep.unreadableSectors;
    }
    if (pos < length)
        std::memset(out + pos, 0, length - pos);
    if (rep.bytesRead == 0 && length > 0)
        std::memset(out, 0, length);  // nothing read: not a byte of what was there before stays
    if (report)
        *report = rep;
    return rep.bytesRead;
}

int ReadSectorsFrom(Device& device, std::uint32_t count, std::uint64_t firstSector, void* buffer,
                    SectorReadReport* report)
{
    if (report)
        *report = SectorReadReport{};
    if (count == 0)
        return 1;
    if (!buffer)
        return 0;
    const std::size_t length = static_cast<std::size_t>(count) * kSectorSize;
    if (firstSector > kMaxU64 / kSectorSize) {
        std::memset(buffer, 0, length);
        if (report)
            report->reachedEnd = true;
        return 0;
    }
    return ReadBytesFrom(device, firstSector * kSectorSize, buffer, length, report) > 0 ? 1 : 0;
}

int ReadSectors(std::uint32_t count, const std::string& devicePath, std::uint64_t firstSector, void* buffer,
                std::uint8_t useSharedHandle)
{
    try {
        DevicePtr device;
        // The shared handle serves only reads of the device it was opened on.
        if (useSharedHandle != 0 && SameDevice(SharedDiskHandle.OpenPath(), devicePath))
            device = SharedDiskHandle.Get();
        if (!device)
            device = DeviceRegistry::Instance().Open(devicePath);
        if (!device) {
            if (count > 0 && buffer)
                std::memset(buffer, 0, static_cast<std::size_t>(count) * kSectorSize);
            return 0;
        }
        return ReadSectorsFrom(*device, count, firstSector, buffer);
    } catch (...) {
        if (count > 0 && buffer)
            std::memset(buffer, 0, static_cast<std::size_t>(count) * kSectorSize);
        return 0;
    }
}

// --------------------------------------------------------- position reading

std::uint64_t SeekDevice(DeviceHandle& handle, std::int64_t distance, int moveMethod)
{
    std::lock_guard lock(handle.mutex_);
    if (!handle.device_)
        return kInvalidSeekPosition;
    std::uint64_t base = 0;
    switch (moveMethod) {
    case kSeekBegin:
        base = 0;
        break;
    case kSeekCurrent:
        base = handle.position_;
        break;
    case kSeekEnd:
        base = handle.device_->SizeBytes();
        break;
    default:
        return kInvalidSeekPosition;
    }
    std::uint64_t target = 0;
    if (distance >= 0) {
        std::uint64_t d = static_cast<std::uint64_t>(distance);
        if (base > kMaxU64 - 1 - d)
            return kInvalidSeekPosition;
        target = base + d;
    } else {
        // Magnitude of a negative distance, INT64_MIN included.
        std::uint64_t d = static_cast<std::uint64_t>(-(distance + 1)) + 1;
        if (d > base)
            return kInvalidSeekPosition;  // before the start: the position stays
        target = base - d;
    }
    handle.position_ = target;
    return target;
}

std::uint64_t SeekDevice(DeviceHandle& handle, std::uint32_t distanceLow, std::int32_t distanceHigh, int moveMethod)
{
    std::uint64_t joined = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(distanceHigh)) << 32) | distanceLow;
    return SeekDevice(handle, static_cast<std::int64_t>(joined), moveMethod);
}

std::int64_t ReadFromPosition(DeviceHandle& handle, void* buffer, std::size_t length)
{
    DevicePtr device;
    std::uint64_t at = 0;
    std::uint64_t covered = 0;
    {
        // Claim the range first: two threads reading on one handle get
        // consecutive ranges, never the same one.
        std::lock_guard lock(handle.mutex_);
        device = handle.device_;
        if (!device) {
            if (buffer && length)
                std::memset(buffer, 0, length);
            return -1;
        }
        at = handle.position_;
        const std::uint64_t size = device->SizeBytes();
        if (size == 0)
            covered = length;  // size unknown: let the read find the end
        else
            covered = at >= size ? 0 : std::min<std::uint64_t>(length, size - at);
        handle.position_ = at + covered;
    }
    if (length == 0)
        return 0;
    if (!buffer)
        return -1;
    if (covered == 0) {
        std::memset(buffer, 0, length);
        return 0;
    }
    std::uint64_t got = ReadBytesFrom(*device, at, buffer, length);
    if (got == 0)
        return -1;
    return static_cast<std::int64_t>(covered);
}

}  // namespace torvane
