// The per-sector probe of the carving engines.
//
// A sector starts a file when, at one of the list's key offsets, the bytes
// equal a record's header. The records are walked in a fixed order: the key
// offsets in the order the list first names them, and for one key offset the
// records whose first header byte equals the sector's byte there, in list
// order. The Photo Search takes the first match; the signature search takes
// every match, in that order.
//
// Walking the whole list for every sector costs a compare per record; the
// probe instead keeps, per key offset, the records of each possible key byte
// (in list order), so a sector costs one table look-up per key offset plus a
// compare for the few records that share the byte, and gives exactly the hits
// of the linear walk, in the same order. The index holds, per key offset, a
// 256-bit set of the bytes that have records and one entry per byte of that
// set: its size follows the records, not key offsets times 256.
//
// A record whose header does not lie inside the sector, or whose extension
// leaves no name (see CarvedExtensionText), never matches.
#pragma once

#include "carving/signature_file.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvane {

class SignatureProbe {
public:
    SignatureProbe() = default;
    explicit SignatureProbe(const SignatureList& list);

    // No record can ever match.
    bool Empty() const { return keyOffsets_.empty(); }
    // Key offsets probed per sector.
    std::size_t KeyCount() const { return keyOffsets_.size(); }

    // The list index of the first record that matches `sector` (512 bytes),
    // or -1.
    int FirstHit(const std::uint8_t* sector) const;
    // Appends to `hits` the list index of every record of key offset number
    // `key` (0 .. KeyCount()-1) that matches `sector`, in list order.
    void CollectHits(std::size_t key, const std::uint8_t* sector, std::vector<std::uint32_t>& hits) const;
    // Every match of every key offset, in probe order.
    void AllHits(const std::uint8_t* sector, std::vector<std::uint32_t>& hits) const;
    // Bytes the index takes (for the tests: it grows with the records).
    std::size_t IndexBytes() const
    {
        return keyOffsets_.size() * sizeof(std::uint16_t) + keyBits_.size() * sizeof(std::uint64_t) +
               slots_.size() * sizeof(std::uint32_t) + starts_.size() * sizeof(std::uint32_t) +
               candidates_.size() * sizeof(Candidate) + bytes_.size();
    }
    // Whether any key offset of the sector holds a byte some record starts
    // with: most sectors hold none, and are done with one test per offset.
    bool AnyCandidate(const std::uint8_t* sector) const
    {
        std::uint64_t any = 0;
        for (std::size_t k = 0; k < keyOffsets_.size(); ++k) {
            const std::uint8_t byte = sector[keyOffsets_[k]];
            any |= keyBits_[k * 4 + (byte >> 6)] >> (byte & 63);
        }
        return (any & 1) != 0;
    }

private:
    struct Candidate {
        std::uint32_t record;  // index in the list
        std::uint32_t bytes;   // where its header starts in bytes_
        std::uint16_t offset;  // 0-based offset of its first header byte in the sector
        std::uint16_t length;  // header length
    };

    bool Matches(const Candidate& c, const std::uint8_t* sector) const;
    // The candidates of key offset number `key` for `byte`: [first, last);
    // false when there are none.
    bool Range(std::size_t key, std::uint8_t byte, std::uint32_t& first, std::uint32_t& last) const
    {
        const std::size_t word = key * 4 + (byte >> 6);
        const std::uint64_t bits = keyBits_[word];
        const std::uint64_t bit = std::uint64_t{1} << (byte & 63);
        if ((bits & bit) == 0)
            return false;
        const std::size_t slot = slots_[word] + static_cast<std::size_t>(std::popcount(bits & (bit - 1)));
        first = starts_[slot];
        last = starts_[slot + 1];
        return true;
    }

    std::vector<std::uint16_t> keyOffsets_;  // 0-based, probe order
    std::vector<std::uint64_t> keyBits_;     // per key offset 256 bits: bytes that have candidates
    // Per key offset and 64-bit word of keyBits_: the entry of starts_ of
    // the word's first byte; the bytes of the word follow in order.
    std::vector<std::uint32_t> slots_;
    // Per (key offset, byte with candidates): where its candidates begin;
    // the next entry is where they end (one more entry closes the last).
    std::vector<std::uint32_t> starts_;
    std::vector<Candidate> candidates_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace torvane
