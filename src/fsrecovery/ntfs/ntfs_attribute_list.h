// The $ATTRIBUTE_LIST attribute (type 0x20): when a record's attributes do not
// fit in its 1024 bytes, NTFS moves some into extension records and lists
// every attribute of the file, wherever it lives, here. Its value is a
// sequence of entries (resident, or in clusters when the list itself is big):
//
//   offset  width  field
//   0       u32    attribute type
//   4       u16    entry length (8-byte aligned, at least 26)
//   6       u8     name length in UTF-16 units
//   7       u8     offset of the name in the entry
//   8       u64    first VCN of the attribute piece held there
//   16      u64    reference of the record that holds the piece
//   24      u16    attribute id
//   26      UTF-16 the name
#pragma once

#include "fsrecovery/ntfs/ntfs_bytes.h"
#include "fsrecovery/ntfs/ntfs_volume.h"

#include <cstdint>
#include <vector>

namespace torvane {

struct NtfsAttributeListEntry {
    std::uint32_t type = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t firstVcn = 0;
    std::uint64_t recordReference = 0;
    std::uint16_t id = 0;
};

// Most bytes of an attribute list value the readers accept. Lists of real
// volumes stay far below (they grow by about 32 bytes per extension piece);
// a larger size field is corruption and no allocation is made from it.
inline constexpr std::uint64_t kMaxAttributeListBytes = 1u << 20;

// Parses the entries of an attribute list value. Stops at the end of the
// value, at an entry shorter than 26 bytes or running past the value, or at
// one whose name runs past the entry; returns false when it stopped early
// (the entries before stay in `out`).
bool ParseAttributeList(NtfsBytes value, std::vector<NtfsAttributeListEntry>& out);

struct NtfsAttribute;

// The value of a record's $ATTRIBUTE_LIST: its resident value, or, for a list
// kept in clusters, its data read from the volume (at most
// kMaxAttributeListBytes; a larger size, malformed runs or an unreadable
// cluster give false).
bool ReadAttributeListValue(const NtfsVolume& volume, NtfsBytes record, const NtfsAttribute& list,
                            std::vector<std::uint8_t>& out);

}  // namespace torvane
