// LZNT1, the compression of NTFS compressed files.
//
// A compressed attribute is cut into compression units (16 clusters as a
// rule). A unit whose data did not shrink is stored as is; otherwise its
// compressed form is stored in the unit's first clusters and the rest of the
// unit is a sparse run. The compressed form is a sequence of chunks, each
// standing for 4096 bytes of data:
//
//   u16 header: bits 0-11 = chunk bytes after the header - 1,
//               bits 12-14 = signature (3), bit 15 = compressed
//   header 0 ends the unit (the rest of the unit is zeros).
//   An uncompressed chunk holds its 4096 bytes as they are.
//   A compressed chunk is groups of one flag byte and up to eight tokens; a
//   flag bit 0 is a literal byte, a flag bit 1 a two-byte back-reference
//   whose split between distance and length depends on how far into the
//   chunk's 4096 bytes the output has come (more distance bits further on).
// A compressed chunk that yields fewer than 4096 bytes is padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvane {

struct Lznt1Result {
    std::size_t produced = 0;  // bytes written to the output (the rest stays zero)
    bool ok = true;            // false: a chunk was malformed; decoding stopped there
};

// Decompresses one compression unit from `in` into `out`. The whole of `out`
// is written: what the chunks do not cover is zero-filled, also after a
// malformed chunk (Lznt1Result::ok false), so that the unit keeps its size.
Lznt1Result DecompressLznt1(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

}  // namespace torvane
