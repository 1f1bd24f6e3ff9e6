// The $STANDARD_INFORMATION attribute (type 0x10): the times and DOS
// attributes of a record. Always resident; 48 bytes before NTFS 3.0, 72 after.
//
//   offset  width  field
//   0       u64    creation time (FILETIME)
//   8       u64    modification time
//   16      u64    MFT change time
//   24      u64    access time
//   32      u32    file attributes (0x01 read-only, 0x02 hidden, 0x04 system,
//                  0x20 archive, 0x800 compressed, 0x4000 encrypted, ...)
#pragma once

#include "fsrecovery/ntfs/ntfs_bytes.h"

#include <cstdint>
#include <optional>

namespace torvane {

struct NtfsStandardInformation {
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::uint64_t mftChangeTime = 0;
    std::uint64_t accessTime = 0;
    std::uint32_t fileAttributes = 0;
};

// The record's $STANDARD_INFORMATION, or empty when it has none (or one
// shorter than its 36 bytes of times and attributes).
std::optional<NtfsStandardInformation> GetNtfsStandardInformation(NtfsBytes record);

}  // namespace torvane
