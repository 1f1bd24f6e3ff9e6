// Sector reading: every raw read of a disk or a volume goes through here.
//
// Sectors are 512 bytes; sector numbers are unsigned 64-bit and byte offsets
// are computed in 64 bits. Reads are positional (pread): there is no shared
// file position to race on, so any number of threads may read one device.
//
// What a read gives:
// - every byte that exists on the device lands in the buffer;
// - the part of the buffer past the end of the device is zero-filled;
// - a sector that cannot be read (an I/O error in the middle of a block) is
//   zero-filled and the rest of the block is still read, so one bad sector
//   does not cost the whole block;
// - a read that yields no byte at all fails, and then the whole buffer is
//   zeroed: a caller never sees bytes of an earlier read as device data.
#pragma once

#include "platform/device.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace torvane {

// Which road the sector reads take. There is one road on this platform,
// positional reads on the device, known as 'N'.
inline constexpr char PlatformKind = 'N';

// A device handle that remembers the path it was opened on.
// Reference-counted: Close() drops the handle's reference only; a read that
// another thread has started through Get() keeps the device (and its file
// descriptor) alive until it ends. It also keeps a file position for the
// seek-then-read style of the bulk readers (SeekDevice, ReadFromPosition).
class DeviceHandle {
public:
    DeviceHandle() = default;
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    // Opens `devicePath` ("\\.\PhysicalDriveN", "\\.\X:" or a file path)
    // through the device registry, replacing what the handle held. On failure
    // the handle is closed and false is returned with the reason.
    bool Open(const std::string& devicePath, std::string* error = nullptr, int* errnoOut = nullptr);
    // Makes the handle hold an already opened device under `devicePath`
    // (tests, fuzz targets, engines that opened the device themselves).
    void Adopt(DevicePtr device, const std::string& devicePath);
    void Close();
    bool IsOpen() const;
    std::string OpenPath() const;   // as given to Open/Adopt; empty when closed
    DevicePtr Get() const;          // a reference that stays valid after Close()

    // Position used by SeekDevice / ReadFromPosition.
    std::uint64_t Position() const;
    void SetPosition(std::uint64_t pos);

private:
    friend std::uint64_t SeekDevice(DeviceHandle&, std::int64_t, int);
    friend std::int64_t ReadFromPosition(DeviceHandle&, void*, std::size_t);
    mutable std::mutex mutex_;
    DevicePtr device_;
    std::string path_;
    std::uint64_t position_ = 0;
};

// The handle of the device being scanned (Basic and Deep Search).
extern DeviceHandle SharedDiskHandle;

// Opens SharedDiskHandle on a device path. When it is already open on that
// same device it is kept as it is (the readers of one scan share it); when it
// is open on another device it is reopened on the one asked for. Returns false
// when the device cannot be opened (the handle is then closed).
// Engines that want a handle of their own use a DeviceHandle of their own.
bool OpenDeviceHandle(const std::string& devicePath);
// Closes SharedDiskHandle. Reads already running through it finish normally.
void CloseDeviceHandle();

// Reads `count` sectors starting at `firstSector` of the device `devicePath`
// into `buffer` (count * 512 bytes). With `useSharedHandle` non-zero and the
// shared handle open on that same device, reads through it; otherwise opens
// the path for this call (a flagged read of another device never goes to the
// shared handle's device). Returns 1 on success, 0 on failure, as described
// at the top of this file. A count of 0 succeeds and leaves the buffer
// untouched when the device can be opened.
int ReadSectors(std::uint32_t count, const std::string& devicePath, std::uint64_t firstSector,
                void* buffer, std::uint8_t useSharedHandle);

// What one read found, for callers that want to know more than 1 or 0.
struct SectorReadReport {
    std::uint64_t bytesRead = 0;        // bytes that came from the device
    std::uint32_t unreadableSectors = 0;  // sectors zero-filled after an I/O error
    bool reachedEnd = false;            // the range ran past the end of the device
};

// Same as ReadSectors, reading from an already opened device.
int ReadSectorsFrom(Device& device, std::uint32_t count, std::uint64_t firstSector, void* buffer,
                    SectorReadReport* report = nullptr);

// Reads `length` bytes at byte `offset` with the rules above (zero-fill past
// the end and over unreadable sectors). Returns the bytes read from the device;
// 0 means nothing could be read and the buffer is all zeros.
std::uint64_t ReadBytesFrom(Device& device, std::uint64_t offset, void* buffer, std::size_t length,
                            SectorReadReport* report = nullptr);

enum SeekMethod { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };
inline constexpr std::uint64_t kInvalidSeekPosition = ~std::uint64_t{0};

// Moves the handle's position (distance = high:low, a signed 64-bit value);
// returns the new byte position, or all ones on failure: a closed handle, an
// unknown method or a position before the start. A position past the end is
// allowed (the next read then yields nothing).
std::uint64_t SeekDevice(DeviceHandle& handle, std::uint32_t distanceLow, std::int32_t distanceHigh, int moveMethod);
std::uint64_t SeekDevice(DeviceHandle& handle, std::int64_t distance, int moveMethod);

// Reads `length` bytes at the handle's position and advances the position
// past them (never past the end of the device). The part of the buffer beyond
// the end of the device, and unreadable sectors, are zero-filled. Returns the
// number of bytes up to the end of the device that the read covered (0 at the
// end), or -1 when nothing could be read (the buffer is then all zeros; the
// position still moves on, so a sequential reader does not loop on a bad block).
std::int64_t ReadFromPosition(DeviceHandle& handle, void* buffer, std::size_t length);

}  // namespace torvane
