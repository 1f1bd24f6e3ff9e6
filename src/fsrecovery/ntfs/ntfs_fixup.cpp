#include "fsrecovery/ntfs/ntfs_fixup.h"

#include "fsrecovery/ntfs/ntfs_bytes.h"

namespace torvane {

FixupResult ApplyUpdateSequenceFixup(std::uint8_t* buffer, std::size_t length)
{
    constexpr std::size_t kSector = 512;
    if (buffer == nullptr || length < kSector)
        return FixupResult::Invalid;
    NtfsBytes view(buffer, length);
    const std::uint32_t arrayOffset = view.U16(4);
    const std::uint32_t entries = view.U16(6);
    const std::size_t sectors = length / kSector;
    // At least the USN and one saved value; no more saved values than sectors.
    if (entries < 2 || entries - 1 > sectors)
        return FixupResult::Invalid;
    // The array sits in the header, after the 8 bytes above and before the
    // first sector's protected bytes (510-511).
    if (arrayOffset < 8 || arrayOffset + 2u * entries > kSector - 2)
        return FixupResult::Invalid;

    const std::uint8_t usnLow = buffer[arrayOffset];
    const std::uint8_t usnHigh = buffer[arrayOffset + 1];
    bool torn = false;
    for (std::size_t i = 0; i + 1 < entries; ++i) {
        std::uint8_t* end = buffer + kSector * i + kSector - 2;
        const std::uint8_t* saved = buffer + arrayOffset + 2 * (i + 1);
        if (end[0] != usnLow || end[1] != usnHigh)
            torn = true;
        end[0] = saved[0];
        end[1] = saved[1];
    }
    return torn ? FixupResult::Torn : FixupResult::Applied;
}

}  // namespace torvane
