#include "carving/signature_probe.h"

#include "carving/carved_names.h"

#include <algorithm>
#include <cstring>

namespace torvane {

SignatureProbe::SignatureProbe(const SignatureList& list)
{
    // Key offsets in the order the list first names them (an unusable record
    // names one too); then those that no usable record has are left out,
    // since they never give a hit.
    const auto usable = [](const FileType1& r) { return r.FitsInSector() && !CarvedExtensionText(r.extension).empty(); };
    std::vector<std::int32_t> named;
    for (const FileType1& r : list.records) {
        if (std::find(named.begin(), named.end(), r.keyPos) == named.end())
            named.push_back(r.keyPos);
    }
    std::vector<std::int32_t> positions;
    for (std::int32_t pos : named) {
        if (std::any_of(list.records.begin(), list.records.end(),
                        [&](const FileType1& r) { return r.keyPos == pos && usable(r); }))
            positions.push_back(pos);
    }
    keyOffsets_.reserve(positions.size());
    begin_.assign(positions.size() * 257, 0);
    keyBits_.assign(positions.size() * 4, 0);

    for (std::size_t k = 0; k < positions.size(); ++k) {
        keyOffsets_.push_back(static_cast<std::uint16_t>(positions[k] - 1));
        // Counting sort by key byte keeps list order within one byte.
        std::vector<std::vector<std::uint32_t>> byByte(256);
        for (std::size_t i = 0; i < list.records.size(); ++i) {
            const FileType1& r = list.records[i];
            if (r.keyPos != positions[k] || !usable(r))
                continue;
            byByte[static_cast<std::uint8_t>(r.header[0])].push_back(static_cast<std::uint32_t>(i));
        }
        std::uint32_t* begin = &begin_[k * 257];
        for (int b = 0; b < 256; ++b) {
            begin[b] = static_cast<std::uint32_t>(candidates_.size());
            if (!byByte[static_cast<std::size_t>(b)].empty())
                keyBits_[k * 4 + static_cast<std::size_t>(b >> 6)] |= std::uint64_t{1} << (b & 63);
            for (std::uint32_t index : byByte[static_cast<std::size_t>(b)]) {
                const FileType1& r = list.records[index];
                Candidate c;
                c.record = index;
                c.bytes = static_cast<std::uint32_t>(bytes_.size());
                c.offset = static_cast<std::uint16_t>(r.keyPos - 1);
                c.length = static_cast<std::uint16_t>(r.headerLen);
                for (int j = 0; j < r.headerLen; ++j)
                    bytes_.push_back(static_cast<std::uint8_t>(r.header[static_cast<std::size_t>(j)]));
                candidates_.push_back(c);
            }
        }
        begin[256] = static_cast<std::uint32_t>(candidates_.size());
    }
}

bool SignatureProbe::Matches(const Candidate& c, const std::uint8_t* sector) const
{
    return std::memcmp(sector + c.offset, bytes_.data() + c.bytes, c.length) == 0;
}

int SignatureProbe::FirstHit(const std::uint8_t* sector) const
{
    if (!AnyCandidate(sector))
        return -1;
    for (std::size_t k = 0; k < keyOffsets_.size(); ++k) {
        const std::uint32_t* begin = &begin_[k * 257];
        const std::uint8_t key = sector[keyOffsets_[k]];
        for (std::uint32_t i = begin[key], end = begin[key + 1]; i < end; ++i) {
            if (Matches(candidates_[i], sector))
                return static_cast<int>(candidates_[i].record);
        }
    }
    return -1;
}

void SignatureProbe::CollectHits(std::size_t key, const std::uint8_t* sector, std::vector<std::uint32_t>& hits) const
{
    if (key >= keyOffsets_.size())
        return;
    const std::uint32_t* begin = &begin_[key * 257];
    const std::uint8_t byte = sector[keyOffsets_[key]];
    for (std::uint32_t i = begin[byte], end = begin[byte + 1]; i < end; ++i) {
        if (Matches(candidates_[i], sector))
            hits.push_back(candidates_[i].record);
    }
}

void SignatureProbe::AllHits(const std::uint8_t* sector, std::vector<std::uint32_t>& hits) const
{
    if (!AnyCandidate(sector))
        return;
    for (std::size_t k = 0; k < keyOffsets_.size(); ++k)
        CollectHits(k, sector, hits);
}

}  // namespace torvane
