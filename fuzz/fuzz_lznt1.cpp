// Feeds arbitrary bytes through the LZNT1 decompressor as the NTFS file
// reader calls it. Input: bytes 0-1 the output size (at most 64 KiB, one
// compression unit of 4 KiB clusters), the rest the compressed unit.
#include "fsrecovery/ntfs/lznt1.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t outSize = static_cast<std::size_t>(data[0] | (data[1] << 8)) + 1;
    std::vector<std::uint8_t> out(outSize);
    torvane::Lznt1Result r =
        torvane::DecompressLznt1(std::span<const std::uint8_t>(data + 2, size - 2), std::span<std::uint8_t>(out));
    if (r.produced > out.size())
        __builtin_trap();
    return 0;
}
