// Feeds arbitrary bytes through the signature data file reader and the
// per-sector probe the carving engines run with the records it yields.
#include "carving/signature_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const torvane::SignatureDataFile file = torvane::SignatureDataFile::Parse(text);

    torvane::SignatureList list;
    torvane::AppendSignatureFile(file, list);

    // Probe a sector made of the input itself (cycled), the way the engines
    // probe: for each key offset, every record of that (offset, byte).
    std::vector<std::uint8_t> sector(torvane::kSignatureSectorSize, 0);
    for (std::size_t i = 0; i < sector.size() && size > 0; ++i) sector[i] = data[i % size];
    for (std::int32_t pos : list.keyPositions) {
        if (pos < 1 || pos > torvane::kSignatureSectorSize) continue;
        torvane::FileType1 key;
        key.keyPos = pos;
        key.keyByte = sector[static_cast<std::size_t>(pos - 1)];
        for (auto at = torvane::FindSignatureRecord(list, key); at; at = torvane::FindSignatureRecord(list, key, at)) {
            (void)list.records[*at].MatchesSector(sector.data(), sector.size());
        }
    }
    for (const torvane::SignatureFileEntry& entry : file.entries) {
        (void)entry.record.MaxSizeBytes();
        (void)torvane::SignatureListItemText(entry.record.extension);
    }
    return 0;
}
