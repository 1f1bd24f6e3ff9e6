#include "fsrecovery/ntfs/ntfs_data_runs.h"

#include "fsrecovery/ntfs/ntfs_record.h"

#include <limits>

namespace torvane {
namespace {

// Cluster numbers and counts beyond 2^40 (4 PiB with 4 KiB clusters) are
// taken as corruption; below it every sector and byte position computed from
// them fits in 64 bits.
constexpr std::uint64_t kMaxCluster = std::uint64_t(1) << 40;

std::uint64_t ReadUnsigned(NtfsBytes b, std::size_t at, unsigned width)
{
    std::uint64_t v = 0;
    for (unsigned i = width; i-- > 0;)
        v = (v << 8) | b.U8(at + i);
    return v;
}

std::int64_t ReadSigned(NtfsBytes b, std::size_t at, unsigned width)
{
    std::uint64_t v = ReadUnsigned(b, at, width);
    if (width < 8 && (b.U8(at + width - 1) & 0x80))
        v |= ~std::uint64_t(0) << (8 * width);
    return static_cast<std::int64_t>(v);
}

}  // namespace

std::uint64_t RunList::TotalClusters() const
{
    std::uint64_t total = 0;
    for (const DataRun& r : runs)
        total += r.length;
    return total;
}

RunList DecodeMappingPairs(NtfsBytes pairs, std::uint64_t firstVcn)
{
    RunList out;
    std::size_t p = 0;
    std::uint64_t vcn = firstVcn;
    std::int64_t lcn = 0;
    bool haveAllocated = false;
    while (true) {
        if (!pairs.Has(p, 1)) {
            out.status = RunListStatus::Truncated;
            return out;
        }
        const std::uint8_t header = pairs.U8(p);
        if (header == 0)
            return out;
        const unsigned lengthBytes = header & 0x0F;
        const unsigned offsetBytes = header >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) {
            out.status = RunListStatus::Invalid;
            return out;
        }
        if (!pairs.Has(p + 1, lengthBytes + offsetBytes)) {
            out.status = RunListStatus::Truncated;
            return out;
        }
        const std::uint64_t length = ReadUnsigned(pairs, p + 1, lengthBytes);
        if (length == 0 || length > kMaxCluster || vcn > kMaxCluster - length) {
            out.status = RunListStatus::Invalid;
            return out;
        }
        DataRun run;
        run.vcn = vcn;
        run.length = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            if (!haveAllocated) {
                // The first allocated run carries the cluster number itself.
                const std::uint64_t first = ReadUnsigned(pairs, p + 1 + lengthBytes, offsetBytes);
                if (first > kMaxCluster) {
                    out.status = RunListStatus::Invalid;
                    return out;
                }
                lcn = static_cast<std::int64_t>(first);
            } else {
                const std::int64_t delta = ReadSigned(pairs, p + 1 + lengthBytes, offsetBytes);
                // Both are within +-2^63 here; the sum is checked before use.
                if ((delta > 0 && lcn > std::numeric_limits<std::int64_t>::max() - delta)) {
                    out.status = RunListStatus::Invalid;
                    return out;
                }
                lcn += delta;
            }
            if (lcn < 0 || static_cast<std::uint64_t>(lcn) > kMaxCluster - length) {
                out.status = RunListStatus::Invalid;
                return out;
            }
            haveAllocated = true;
            run.lcn = static_cast<std::uint64_t>(lcn);
        }
        out.runs.push_back(run);
        vcn += length;
        p += 1 + lengthBytes + offsetBytes;
    }
}

RunList DecodeRunList(NtfsBytes record, const NtfsAttribute& attribute)
{
    if (!attribute.nonResident) {
        RunList out;
        out.status = RunListStatus::Invalid;
        return out;
    }
    return DecodeMappingPairs(attribute.MappingPairs(record), attribute.firstVcn);
}

}  // namespace torvane
