// Read-only access to a disk, a partition or a disk image.
//
// Every read is positional: there is no shared file position, so several
// threads may read one Device at once. A read that runs past the end of the
// device returns what exists; callers that need whole sectors zero-fill the
// rest (see disk/sector_reader.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace torvane {

inline constexpr std::uint32_t kSectorSize = 512;

class Device {
public:
    virtual ~Device() = default;

    // Reads up to `length` bytes at byte `offset` into `buffer`.
    // Returns the number of bytes read (0 at or past the end), or -1 on an I/O
    // error at `offset` (errno tells which). It may return fewer bytes than
    // asked before the end: a read that meets an I/O error part-way returns
    // the bytes before it, and the next read from there returns -1.
    // Bytes of `buffer` beyond the returned count are unspecified.
    virtual std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;

    // Size of the device in bytes.
    virtual std::uint64_t SizeBytes() const = 0;

    // What the device was opened on (a file or block-device path, or a test name).
    virtual const std::string& Path() const = 0;
};

using DevicePtr = std::shared_ptr<Device>;

// Opens a regular file or a block device read-only (O_RDONLY | O_CLOEXEC).
// On failure returns nullptr and, when `error` is given, a text such as
// "Permission denied"; `errnoOut` receives errno when given.
DevicePtr OpenFileDevice(const std::string& path, std::string* error = nullptr, int* errnoOut = nullptr);

// An in-memory device over a copy of `bytes`.
DevicePtr MakeMemoryDevice(std::string name, std::string bytes);

}  // namespace torvane
