#include "fsrecovery/ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

namespace torvane {
namespace {

constexpr std::size_t kChunkData = 4096;

// Decodes one compressed chunk's bytes [src, srcEnd) into [dst, dstEnd)
// (at most 4096 bytes). Returns false on a malformed token.
bool DecodeCompressedChunk(const std::uint8_t* src, const std::uint8_t* srcEnd, std::uint8_t* dst,
                           std::uint8_t* dstEnd, std::size_t& produced)
{
    std::uint8_t* const chunkStart = dst;
    while (src < srcEnd) {
        const std::uint8_t flags = *src++;
        for (int bit = 0; bit < 8 && src < srcEnd; ++bit) {
            if ((flags & (1u << bit)) == 0) {
                if (dst >= dstEnd)
                    return false;
                *dst++ = *src++;
                continue;
            }
            if (srcEnd - src < 2)
                return false;
            const std::uint16_t token = static_cast<std::uint16_t>(src[0] | (src[1] << 8));
            src += 2;
            const std::size_t pos = static_cast<std::size_t>(dst - chunkStart);
            if (pos == 0)
                return false;  // nothing to refer back to
            // The distance takes 4 bits at the chunk's start and one more bit
            // each time the position doubles past 16.
            unsigned lengthBits = 12;
            for (std::size_t i = pos - 1; i >= 0x10; i >>= 1)
                --lengthBits;
            const std::size_t distance = (token >> lengthBits) + 1u;
            const std::size_t length = (token & ((1u << lengthBits) - 1)) + 3u;
            if (distance > pos || length > static_cast<std::size_t>(dstEnd - dst))
                return false;
            const std::uint8_t* from = dst - distance;
            for (std::size_t i = 0; i < length; ++i)
                dst[i] = from[i];  // byte by byte: the ranges may overlap
            dst += length;
        }
    }
    produced = static_cast<std::size_t>(dst - chunkStart);
    return true;
}

}  // namespace

Lznt1Result DecompressLznt1(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Lznt1Result result;
    std::fill(out.begin(), out.end(), std::uint8_t(0));
    std::size_t p = 0;
    std::size_t o = 0;
    while (o < out.size() && p + 2 <= in.size()) {
        const std::uint16_t header = static_cast<std::uint16_t>(in[p] | (in[p + 1] << 8));
        if (header == 0)
            break;
        const std::size_t size = (header & 0x0FFFu) + 1u;
        p += 2;
        if (size > in.size() - p) {
            result.ok = false;
            break;
        }
        const std::size_t room = std::min(kChunkData, out.size() - o);
        if (header & 0x8000) {
            std::size_t produced = 0;
            if (!DecodeCompressedChunk(in.data() + p, in.data() + p + size, out.data() + o, out.data() + o + room,
                                       produced)) {
                // Keep nothing of a chunk that does not decode: zeros are a
                // clearer loss than half-decoded bytes.
                std::memset(out.data() + o, 0, room);
                result.ok = false;
                break;
            }
        } else {
            std::memcpy(out.data() + o, in.data() + p, std::min(size, room));
        }
        p += size;
        o += room;  // a chunk stands for 4096 bytes, padded with zeros
        result.produced = o;
    }
    return result;
}

}  // namespace torvane
