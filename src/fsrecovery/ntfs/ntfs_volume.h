// The NTFS volume being read: its device, where cluster 0 lies and how big a
// cluster is, and the sector reads that every NTFS reader goes through.
#pragma once

#include "platform/device.h"

#include <cstddef>
#include <cstdint>

namespace torvane {

struct NtfsVolume {
    Device* device = nullptr;
    std::uint64_t cluster0Sector = 0;     // absolute sector of cluster 0 (the partition start)
    std::uint32_t sectorsPerCluster = 0;  // 1..128
    std::uint64_t endSector = 0;          // one past the volume's last sector; 0 = the device's end

    // One past the last sector that may be read: the volume's end, never past
    // the device's.
    std::uint64_t LimitSector() const;
    // The absolute sector of cluster `lcn`; false when it overflows or lies
    // at or past LimitSector().
    bool ClusterToSector(std::uint64_t lcn, std::uint64_t& sector) const;
};

// Reads `count` sectors from `first` into `buffer` (count * 512 bytes). When
// the whole read fails or comes back short, the sectors are read one by one;
// a sector that still cannot be read, or lies at or past the volume's limit,
// is left as zeros so that later bytes keep their offsets. Returns the number
// of such sectors (0 when everything was read).
std::uint64_t ReadSectorsOrZeros(const NtfsVolume& volume, std::uint64_t first, std::uint32_t count,
                                 std::uint8_t* buffer);

enum class MftRecordRead {
    Ok,             // a FILE record, fixed up (possibly torn: see `torn`)
    ReadFailed,     // the sectors could not be read or lie outside the volume
    NotFileRecord,  // no "FILE" signature
    BadFixup,       // the update sequence array does not fit: not to be trusted
};

// Reads the 1024-byte record at `sector` into `record` and applies the
// update-sequence fixup. `torn`, when given, tells whether a sector end did
// not hold the update sequence number.
MftRecordRead ReadMftRecord(const NtfsVolume& volume, std::uint64_t sector, std::uint8_t* record,
                            bool* torn = nullptr);

// Checks the signature of a record read by the caller and applies the fixup.
MftRecordRead CheckMftRecord(std::uint8_t* record, bool* torn = nullptr);

}  // namespace torvane
