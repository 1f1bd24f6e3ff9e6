#include "carving/signature_probe.h"

#include "carving/carved_names.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace torvane {

SignatureProbe::SignatureProbe(const SignatureList& list)
{
    const std::size_t n = list.records.size();
    std::vector<char> usable(n);
    for (std::size_t i = 0; i < n; ++i) {
        const FileType1& r = list.records[i];
        usable[i] = r.FitsInSector() && !CarvedExtensionText(r.extension).empty();
    }
    // Key offsets in the order the list first names them (an unusable record
    // names one too); those that no usable record has are left out, since
    // they never give a hit. Only offsets 1..512 can have usable records.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::array<std::size_t, kSignatureSectorSize + 1> firstNamed;
    firstNamed.fill(kNone);
    std::array<std::vector<std::uint32_t>, kSignatureSectorSize + 1> members;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t pos = list.records[i].keyPos;
        if (pos < 1 || pos > kSignatureSectorSize)
            continue;
        const auto p = static_cast<std::size_t>(pos);
        if (firstNamed[p] == kNone)
            firstNamed[p] = i;
        if (usable[i])
            members[p].push_back(static_cast<std::uint32_t>(i));
    }
    std::vector<std::size_t> positions;
    for (std::size_t p = 1; p <= kSignatureSectorSize; ++p) {
        if (!members[p].empty())
            positions.push_back(p);
    }
    std::sort(positions.begin(), positions.end(),
              [&](std::size_t a, std::size_t b) { return firstNamed[a] < firstNamed[b]; });

    keyOffsets_.reserve(positions.size());
    keyBits_.assign(positions.size() * 4, 0);
    slots_.assign(positions.size() * 4, 0);
    for (std::size_t k = 0; k < positions.size(); ++k) {
        keyOffsets_.push_back(static_cast<std::uint16_t>(positions[k] - 1));
        // A stable counting sort by key byte keeps list order within one byte.
        const std::vector<std::uint32_t>& records = members[positions[k]];
        std::array<std::uint32_t, 257> counts{};
        for (std::uint32_t index : records)
            ++counts[static_cast<std::uint8_t>(list.records[index].header[0]) + 1u];
        const auto base = static_cast<std::uint32_t>(candidates_.size());
        for (std::size_t b = 0; b < 256; ++b) {
            if (b % 64 == 0)
                slots_[k * 4 + b / 64] = static_cast<std::uint32_t>(starts_.size());
            counts[b + 1] += counts[b];
            if (counts[b + 1] != counts[b]) {
                keyBits_[k * 4 + b / 64] |= std::uint64_t{1} << (b % 64);
                starts_.push_back(base + counts[b]);
            }
        }
        candidates_.resize(candidates_.size() + records.size());
        for (std::uint32_t index : records) {
            const FileType1& r = list.records[index];
            Candidate& c = candidates_[base + counts[static_cast<std::uint8_t>(r.header[0])]++];
            c.record = index;
            c.bytes = static_cast<std::uint32_t>(bytes_.size());
            c.offset = static_cast<std::uint16_t>(r.keyPos - 1);
            c.length = static_cast<std::uint16_t>(r.headerLen);
            for (int j = 0; j < r.headerLen; ++j)
                bytes_.push_back(static_cast<std::uint8_t>(r.header[static_cast<std::size_t>(j)]));
        }
    }
    // Closes the last byte's candidates (those of every other byte end where
    // the next byte's, or the next key offset's, begin).
    starts_.push_back(static_cast<std::uint32_t>(candidates_.size()));
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
        std::uint32_t first = 0, last = 0;
        if (!Range(k, sector[keyOffsets_[k]], first, last))
            continue;
        for (std::uint32_t i = first; i < last; ++i) {
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
    std::uint32_t first = 0, last = 0;
    if (!Range(key, sector[keyOffsets_[key]], first, last))
        return;
    for (std::uint32_t i = first; i < last; ++i) {
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
