// One 512-byte sector read from a device. Its loads go through the program's
// bounds-checked byte view: offsets past the sector read as zero bytes, so a
// parser that is handed a damaged structure can never read outside the buffer.
#pragma once

#include "base/byte_view.h"
#include "platform/device.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace torvane {

struct SectorBytes {
    std::array<std::uint8_t, kSectorSize> b{};

    ByteView View() const { return ByteView(b.data(), b.size()); }
    std::uint8_t U8(std::size_t off) const { return View().U8(off); }
    std::uint16_t U16(std::size_t off) const { return View().U16(off); }
    std::uint32_t U32(std::size_t off) const { return View().U32(off); }
    std::uint64_t U64(std::size_t off) const { return View().U64(off); }
    // True when the bytes at `off` equal `text` exactly (case-sensitive).
    bool Has(std::size_t off, std::string_view text) const { return View().Matches(off, text); }
    // 0x55 at byte 510 and 0xAA at byte 511.
    bool HasSignature() const { return b[510] == 0x55 && b[511] == 0xAA; }
    void Clear() { b.fill(0); }
};

// Reads sector `sector` of `device` into `out`. A sector that lies partly past
// the end keeps what exists and zero-fills the rest; a sector that cannot be
// read at all (I/O error, past the end) is all zeros and the result is false.
bool ReadOneSector(Device& device, std::uint64_t sector, SectorBytes& out);

}  // namespace torvane
