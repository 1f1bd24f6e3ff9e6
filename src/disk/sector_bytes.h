// One 512-byte sector read from a device, with bounds-checked little-endian
// loads. Offsets past the sector read as zero bytes, so a parser that is handed
// a damaged structure can never read outside the buffer.
#pragma once

#include "platform/device.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace torvane {

struct SectorBytes {
    std::array<std::uint8_t, kSectorSize> b{};

    std::uint8_t U8(std::size_t off) const { return off < b.size() ? b[off] : 0; }
    std::uint16_t U16(std::size_t off) const {
        return static_cast<std::uint16_t>(U8(off) | (U8(off + 1) << 8));
    }
    std::uint32_t U32(std::size_t off) const {
        return static_cast<std::uint32_t>(U16(off)) | (static_cast<std::uint32_t>(U16(off + 2)) << 16);
    }
    std::uint64_t U64(std::size_t off) const {
        return static_cast<std::uint64_t>(U32(off)) | (static_cast<std::uint64_t>(U32(off + 4)) << 32);
    }
    // True when the bytes at `off` equal `text` exactly (case-sensitive).
    bool Has(std::size_t off, std::string_view text) const {
        if (off > b.size() || text.size() > b.size() - off) return false;
        return std::memcmp(b.data() + off, text.data(), text.size()) == 0;
    }
    // 0x55 at byte 510 and 0xAA at byte 511.
    bool HasSignature() const { return b[510] == 0x55 && b[511] == 0xAA; }
    void Clear() { b.fill(0); }
};

// Reads sector `sector` of `device` into `out`. A sector that lies partly past
// the end keeps what exists and zero-fills the rest; a sector that cannot be
// read at all (I/O error, past the end) is all zeros and the result is false.
bool ReadOneSector(Device& device, std::uint64_t sector, SectorBytes& out);

}  // namespace torvane
