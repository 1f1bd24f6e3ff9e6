// Sector reading: every raw read of a disk or a volume goes through here.
#pragma once

#include "platform/device.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace torvane {

// The one open handle to the current device. Reference-counted: closing it
// never pulls the device from under a read that another thread has started.
// It remembers the path it was opened on and keeps a file position for the
// seek-then-read style of the bulk readers.
class DeviceHandle {
public:
    bool Open(const std::string& devicePath, std::string* error = nullptr);
    void Close();
    bool IsOpen() const;
    std::string OpenPath() const;
    DevicePtr Get() const;          // a reference that stays valid after Close()

    // Position used by SeekDevice / ReadFromPosition.
    std::uint64_t Position() const;
    void SetPosition(std::uint64_t pos);

private:
    mutable std::mutex mutex_;
    DevicePtr device_;
    std::string path_;
    std::uint64_t position_ = 0;
};

// The handle of the device being scanned.
extern DeviceHandle SharedDiskHandle;

// Opens / closes SharedDiskHandle on a device path. Open returns false on failure.
bool OpenDeviceHandle(const std::string& devicePath);
void CloseDeviceHandle();

// Reads `count` sectors starting at `firstSector` of the device `devicePath`
// into `buffer` (count * 512 bytes). With `useSharedHandle` non-zero and the
// shared handle open, reads through it; otherwise opens the path for this call.
// Returns 1 on success, 0 on failure. A read that runs past the end of the
// device returns what exists and zero-fills the rest; a read that yields
// nothing fails, and on failure no stale bytes are left in the buffer
// (it is zero-filled). A count of 0 succeeds and leaves the buffer untouched
// when the device can be opened.
int ReadSectors(std::uint32_t count, const std::string& devicePath, std::uint64_t firstSector,
                void* buffer, std::uint8_t useSharedHandle);

// Same, reading from an already opened device.
int ReadSectorsFrom(Device& device, std::uint32_t count, std::uint64_t firstSector, void* buffer);

enum SeekMethod { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Moves the handle's position; returns the new byte position or all ones on failure.
std::uint64_t SeekDevice(DeviceHandle& handle, std::uint32_t distanceLow, std::int32_t distanceHigh, int moveMethod);

// Reads `length` bytes at the handle's position and advances it; returns bytes read or -1.
std::int64_t ReadFromPosition(DeviceHandle& handle, void* buffer, std::size_t length);

}  // namespace torvane
