// Turns fuzz input into a disk for the partition-table and boot-sector
// parsers. The first 8 bytes give the disk's size in sectors; the rest are
// 512-byte blocks, and sector n of the disk reads block n mod (number of
// blocks), so partition entries that point anywhere land on fuzzed bytes.
#pragma once

#include "platform/device.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace torvane::fuzz {

class RepeatingDisk : public Device {
public:
    RepeatingDisk(const std::uint8_t* data, std::size_t size) : path_("fuzz") {
        std::uint64_t declared = 0;
        for (std::size_t i = 0; i < 8 && i < size; ++i) declared |= static_cast<std::uint64_t>(data[i]) << (8 * i);
        if (size > 8) blocks_.assign(reinterpret_cast<const char*>(data + 8), size - 8);
        std::size_t rem = blocks_.size() % kSectorSize;
        if (rem) blocks_.append(kSectorSize - rem, '\0');
        // At most 2^40 sectors, so sizes in bytes stay representable.
        sectors_ = declared & ((1ull << 40) - 1);
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        std::uint64_t size = SizeBytes();
        if (offset >= size) return 0;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
        auto* out = static_cast<std::uint8_t*>(buffer);
        if (blocks_.empty()) {
            std::memset(out, 0, n);
            return static_cast<std::int64_t>(n);
        }
        std::uint64_t count = blocks_.size() / kSectorSize;
        for (std::size_t done = 0; done < n;) {
            std::uint64_t pos = offset + done;
            std::uint64_t block = (pos / kSectorSize) % count;
            std::size_t in = static_cast<std::size_t>(pos % kSectorSize);
            std::size_t chunk = std::min<std::size_t>(kSectorSize - in, n - done);
            std::memcpy(out + done, blocks_.data() + block * kSectorSize + in, chunk);
            done += chunk;
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return sectors_ * kSectorSize; }
    const std::string& Path() const override { return path_; }
    std::uint64_t Sectors() const { return sectors_; }

private:
    std::string path_;
    std::string blocks_;
    std::uint64_t sectors_ = 0;
};

}  // namespace torvane::fuzz
