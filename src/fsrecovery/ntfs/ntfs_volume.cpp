#include "fsrecovery/ntfs/ntfs_volume.h"

#include "fsrecovery/ntfs/ntfs_bytes.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <cstring>

namespace torvane {

std::uint64_t NtfsVolume::LimitSector() const
{
    const std::uint64_t deviceSectors = device ? device->SizeBytes() / kSectorSize : 0;
    if (endSector == 0)
        return deviceSectors;
    return std::min(endSector, deviceSectors);
}

bool NtfsVolume::ClusterToSector(std::uint64_t lcn, std::uint64_t& sector) const
{
    if (sectorsPerCluster == 0)
        return false;
    if (lcn > (~std::uint64_t(0) - cluster0Sector) / sectorsPerCluster)
        return false;
    sector = cluster0Sector + lcn * sectorsPerCluster;
    return sector < LimitSector();
}

std::uint64_t ReadSectorsOrZeros(const NtfsVolume& volume, std::uint64_t first, std::uint32_t count,
                                 std::uint8_t* buffer)
{
    if (count == 0)
        return 0;
    const std::uint64_t limit = volume.LimitSector();
    if (volume.device == nullptr || first >= limit) {
        std::memset(buffer, 0, static_cast<std::size_t>(count) * kSectorSize);
        return count;
    }
    const std::uint32_t inside = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, limit - first));
    std::uint64_t missing = count - inside;
    const std::size_t bytes = static_cast<std::size_t>(inside) * kSectorSize;
    // Only the sectors past the limit are zeroed up front: a full read
    // overwrites the rest, and a failed one zeroes it below.
    std::memset(buffer + bytes, 0, static_cast<std::size_t>(missing) * kSectorSize);
    const std::int64_t got = volume.device->ReadAt(first * kSectorSize, buffer, bytes);
    if (got == static_cast<std::int64_t>(bytes))
        return missing;
    // Part of the range failed: take the sectors one at a time, so that one bad
    // sector costs 512 bytes and not the whole read.
    std::memset(buffer, 0, bytes);
    for (std::uint32_t i = 0; i < inside; ++i) {
        std::uint8_t* at = buffer + static_cast<std::size_t>(i) * kSectorSize;
        const std::int64_t n = volume.device->ReadAt((first + i) * kSectorSize, at, kSectorSize);
        if (n != static_cast<std::int64_t>(kSectorSize)) {
            std::memset(at, 0, kSectorSize);
            ++missing;
        }
    }
    return missing;
}

MftRecordRead ReadMftRecord(const NtfsVolume& volume, std::uint64_t sector, std::uint8_t* record, bool* torn)
{
    if (torn)
        *torn = false;
    if (ReadSectorsOrZeros(volume, sector, kMftRecordSectors, record) != 0)
        return MftRecordRead::ReadFailed;
    return CheckMftRecord(record, torn);
}

MftRecordRead CheckMftRecord(std::uint8_t* record, bool* torn)
{
    if (torn)
        *torn = false;
    if (!HasFileSignature(NtfsBytes(record, kMftRecordSize)))
        return MftRecordRead::NotFileRecord;
    const FixupResult fixup = ApplyUpdateSequenceFixup(record, kMftRecordSize);
    if (fixup == FixupResult::Invalid)
        return MftRecordRead::BadFixup;
    if (torn)
        *torn = fixup == FixupResult::Torn;
    return MftRecordRead::Ok;
}

}  // namespace torvane
