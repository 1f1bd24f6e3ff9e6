#include "fsrecovery/exfat/exfat_format.h"

#include "base/text_encoding.h"

namespace torvane {

std::string DecodeExfatNameEntry(const std::uint8_t* entry)
{
    const ByteView e = ExfatEntryBytes(entry);
    std::size_t units = 0;
    while (units < 15 && e.U16(2 + 2 * units) != 0)
        ++units;
    return Utf16LeToUtf8(entry + 2, units);
}

std::uint16_t ExfatSetChecksum(const std::uint8_t* entries, std::size_t count)
{
    const ByteView set(entries, count * kExfatEntrySize);
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (i == 2 || i == 3)
            continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set.U8(i));
    }
    return sum;
}

void SplitExfatTimestamp(std::uint32_t timestamp, std::uint32_t& date, std::uint32_t& time)
{
    if (timestamp & 0x80000000u) {
        date = 0;
        time = 0;
        return;
    }
    date = timestamp >> 16;
    time = timestamp & 0xFFFF;
}

}  // namespace torvane
