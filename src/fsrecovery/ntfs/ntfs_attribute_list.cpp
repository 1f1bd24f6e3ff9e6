#include "fsrecovery/ntfs/ntfs_attribute_list.h"

#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>

namespace torvane {

bool ParseAttributeList(NtfsBytes value, std::vector<NtfsAttributeListEntry>& out)
{
    constexpr std::uint32_t kEntryMin = 26;
    std::size_t p = 0;
    while (p < value.size()) {
        if (!value.Has(p, kEntryMin))
            return false;
        const std::uint32_t length = value.U16(p + 4);
        // Every entry moves the walk forward by at least its fixed part, so
        // the walk cannot loop.
        if (length < kEntryMin || !value.Has(p, length))
            return false;
        NtfsAttributeListEntry e;
        e.type = value.U32(p);
        e.nameLength = value.U8(p + 6);
        const std::uint32_t nameOffset = value.U8(p + 7);
        if (e.nameLength != 0 && nameOffset + 2u * e.nameLength > length)
            return false;
        e.firstVcn = value.U64(p + 8);
        e.recordReference = value.U64(p + 16);
        e.id = value.U16(p + 24);
        out.push_back(e);
        p += length;
    }
    return true;
}

bool ReadAttributeListValue(const NtfsVolume& volume, NtfsBytes record, const NtfsAttribute& list,
                            std::vector<std::uint8_t>& out)
{
    if (!list.nonResident) {
        NtfsBytes value = list.Value(record);
        out.assign(value.data(), value.data() + value.size());
        return true;
    }
    if (list.dataSize == 0 || list.dataSize > kMaxAttributeListBytes || volume.sectorsPerCluster == 0 ||
        volume.sectorsPerCluster > 128)
        return false;
    RunList runs = DecodeRunList(record, list);
    if (runs.status == RunListStatus::Invalid)
        return false;
    out.assign(static_cast<std::size_t>(list.dataSize), 0);
    const std::uint64_t clusterBytes = std::uint64_t(volume.sectorsPerCluster) * kSectorSize;
    std::vector<std::uint8_t> cluster(clusterBytes);
    std::uint64_t filled = 0;
    for (const DataRun& run : runs.runs) {
        for (std::uint64_t c = 0; c < run.length && filled < out.size(); ++c) {
            const std::uint64_t take = std::min<std::uint64_t>(clusterBytes, out.size() - filled);
            if (!run.sparse) {
                std::uint64_t sector = 0;
                if (!volume.ClusterToSector(run.lcn + c, sector))
                    return false;
                if (ReadSectorsOrZeros(volume, sector, volume.sectorsPerCluster, cluster.data()) != 0)
                    return false;
                std::copy_n(cluster.begin(), take, out.begin() + static_cast<std::ptrdiff_t>(filled));
            }
            filled += take;
        }
        if (filled >= out.size())
            break;
    }
    return filled >= out.size();
}

}  // namespace torvane
