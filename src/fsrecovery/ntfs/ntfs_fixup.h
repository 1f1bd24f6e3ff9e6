// The update-sequence fixup of NTFS multi-sector structures (FILE records,
// INDX index buffers).
//
// Before writing such a structure NTFS stores the last two bytes of every
// 512-byte sector in the update sequence array and puts the update sequence
// number (USN) in their place, so that a torn write shows. Reading it back
// means copying the saved bytes home again.
//
//   offset  width  field
//   0       4      signature ("FILE", "INDX")
//   4       u16    offset of the update sequence array (USA)
//   6       u16    entries of the array, the USN included (1 + sectors)
//   USA+0   u16    the USN, also found at bytes 510-511 of every sector
//   USA+2i  u16    saved bytes 510-511 of sector i-1 (i = 1 .. entries-1)
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane {

enum class FixupResult {
    Applied,  // every protected sector restored, each sector end held the USN
    Torn,     // restored, but at least one sector end did not hold the USN
              // (a write that did not finish); the bytes are still usable
    Invalid,  // the array's offset or count does not fit the buffer: nothing was
              // changed, and the structure must not be trusted
};

// Applies the fixup in place to a buffer of `length` bytes (1024 for a FILE
// record, 4096 for an INDX buffer; any multiple of 512). The array must hold
// at least one saved value, no more than the buffer has sectors, and lie in
// the first sector before its protected last two bytes. Sectors beyond the
// array's count are left as they are.
FixupResult ApplyUpdateSequenceFixup(std::uint8_t* buffer, std::size_t length);

}  // namespace torvane
