#include "fsrecovery/ntfs/ntfs_file_reader.h"

#include "fsrecovery/ntfs/lznt1.h"
#include "fsrecovery/ntfs/ntfs_attribute_list.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

namespace torvane {
namespace {

constexpr std::size_t kMaxExtensionRecords = 4096;
constexpr std::uint64_t kMaxUnitBytes = 4u << 20;

struct Piece {
    NtfsAttribute attr;
    RunList runs;
};

// Takes the runs of every piece into one list by VCN; a piece whose runs
// overlap what is already there is dropped.
void MergePieces(std::vector<Piece>& pieces, NtfsDataStream& s)
{
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.attr.firstVcn < b.attr.firstVcn; });
    std::uint64_t next = 0;
    for (const Piece& p : pieces) {
        if (p.runs.status != RunListStatus::Complete)
            s.piecesMissing = true;
        if (p.runs.runs.empty())
            continue;
        if (p.runs.runs.front().vcn < next) {
            s.piecesMissing = true;
            continue;
        }
        if (p.runs.runs.front().vcn > next)
            s.piecesMissing = true;  // a gap: an earlier piece is missing
        s.runs.insert(s.runs.end(), p.runs.runs.begin(), p.runs.runs.end());
        next = s.runs.back().vcn + s.runs.back().length;
    }
}

}  // namespace

std::size_t NtfsCopyChunkBytes(std::uint64_t size)
{
    const std::uint64_t sectors = size / kSectorSize + (size % kSectorSize ? 1 : 0);
    return sectors > 128 ? 64 * kSectorSize : 8 * kSectorSize;
}

bool ReadNtfsExtensionRecord(const NtfsVolume& volume, const MftRunTable& mft, std::uint64_t baseNumber,
                             std::uint64_t reference, std::uint8_t* buffer)
{
    if (ReadMftRecordByNumber(volume, mft, MftReferenceRecord(reference), buffer) != MftRecordRead::Ok)
        return false;
    NtfsRecordHeader header;
    if (!ReadNtfsRecordHeader(NtfsBytes(buffer, kMftRecordSize), header))
        return false;
    // The extension must still belong to this file: it names this record as
    // its base, and it is the generation the list names.
    const std::uint16_t wantSequence = MftReferenceSequence(reference);
    return MftReferenceRecord(header.baseRecordReference) == baseNumber &&
           (wantSequence == 0 || header.sequenceNumber == wantSequence);
}

NtfsDataStream GatherNtfsDataStream(const NtfsVolume& volume, NtfsBytes record, const MftRunTable* mft,
                                    std::uint64_t recordNumber)
{
    NtfsDataStream s;
    NtfsRecordHeader header;
    if (!ReadNtfsRecordHeader(record, header))
        return s;
    const std::uint64_t own = recordNumber != ~std::uint64_t(0) ? recordNumber : header.recordNumber;

    std::vector<Piece> pieces;
    std::optional<NtfsAttribute> list;
    NtfsAttributeCursor cursor(record);
    NtfsAttribute attr;
    while (cursor.Next(attr)) {
        if (attr.type == kNtfsAttrAttributeList && !list) {
            list = attr;
        } else if (attr.type == kNtfsAttrData && !attr.IsNamed()) {
            if (!attr.nonResident) {
                NtfsBytes value = attr.Value(record);
                s.found = true;
                s.resident = true;
                s.residentValue.assign(value.data(), value.data() + value.size());
                s.dataSize = s.initializedSize = value.size();
                s.flags = attr.flags;
                s.sizeKnown = true;
                return s;
            }
            pieces.push_back({attr, DecodeRunList(record, attr)});
        }
    }

    bool listNamesData = false;
    if (list) {
        std::vector<std::uint8_t> value;
        std::vector<NtfsAttributeListEntry> entries;
        if (!ReadAttributeListValue(volume, record, *list, value) ||
            !ParseAttributeList(NtfsBytes(value.data(), value.size()), entries))
            s.piecesMissing = true;
        std::set<std::uint64_t> visited;
        std::array<std::uint8_t, kMftRecordSize> ext{};
        for (const NtfsAttributeListEntry& e : entries) {
            if (e.type != kNtfsAttrData || e.nameLength != 0)
                continue;
            listNamesData = true;
            const std::uint64_t number = MftReferenceRecord(e.recordReference);
            if (number == own)
                continue;  // held by the record itself
            // Several pieces may share an extension record: each record is
            // read once, and a list naming a record again cannot loop.
            if (!visited.insert(number).second)
                continue;
            if (mft == nullptr || visited.size() > kMaxExtensionRecords) {
                s.piecesMissing = true;
                continue;
            }
            if (!ReadNtfsExtensionRecord(volume, *mft, own, e.recordReference, ext.data())) {
                s.piecesMissing = true;
                continue;
            }
            NtfsBytes extRecord(ext.data(), ext.size());
            NtfsAttributeCursor extCursor(extRecord);
            bool any = false;
            while (extCursor.Next(attr)) {
                if (attr.type == kNtfsAttrData && !attr.IsNamed() && attr.nonResident) {
                    pieces.push_back({attr, DecodeRunList(extRecord, attr)});
                    any = true;
                }
            }
            if (any)
                s.attributeListFollowed = true;
            else
                s.piecesMissing = true;
        }
    }

    if (pieces.empty()) {
        // The list says the file has data, but no piece of it could be had.
        if (listNamesData) {
            s.found = true;
            s.piecesMissing = true;
        }
        return s;
    }
    s.found = true;
    auto first = std::find_if(pieces.begin(), pieces.end(), [](const Piece& p) { return p.attr.firstVcn == 0; });
    if (first != pieces.end()) {
        s.dataSize = first->attr.dataSize;
        s.initializedSize = std::min(first->attr.initializedSize, first->attr.dataSize);
        s.flags = first->attr.flags;
        s.compressionUnit = first->attr.compressionUnit;
        s.sizeKnown = true;
    } else {
        s.piecesMissing = true;  // the sizes live in the first piece
    }
    MergePieces(pieces, s);
    return s;
}

std::optional<std::uint64_t> NtfsRecordDataSize(const NtfsVolume& volume, NtfsBytes record, const MftRunTable* mft,
                                                std::uint64_t recordNumber, const std::string& name)
{
    std::optional<NtfsAttribute> data = FindNtfsAttribute(record, kNtfsAttrData);
    if ((!data || (data->nonResident && data->firstVcn != 0)) && mft != nullptr &&
        FindNtfsAttribute(record, kNtfsAttrAttributeList)) {
        const NtfsDataStream stream = GatherNtfsDataStream(volume, record, mft, recordNumber);
        if (stream.found && stream.sizeKnown)
            return stream.dataSize;
    }
    if (!data)
        return std::nullopt;
    return GetNtfsDataSize(record, name);
}

namespace {

// Reads the data stream sector by sector range, following the runs.
class StreamReader {
public:
    StreamReader(const NtfsVolume& volume, const NtfsDataStream& stream, NtfsReadReport& report)
        : volume_(volume), stream_(stream), report_(report), spc_(volume.sectorsPerCluster)
    {
    }

    // Fills `count` sectors of the stream from stream sector `first`. Returns
    // false when some of them lie where no run is known.
    bool ReadSectors(std::uint64_t first, std::uint64_t count, std::uint8_t* out)
    {
        bool allKnown = true;
        while (count > 0) {
            const std::uint64_t vcn = first / spc_;
            const DataRun* run = FindRun(vcn);
            std::uint64_t take = 0;
            if (run == nullptr) {
                // Up to the next known run, or everything that is asked.
                const DataRun* next = NextRunAfter(vcn);
                const std::uint64_t until = next ? next->vcn * spc_ : first + count;
                take = std::min(count, until - first);
                std::memset(out, 0, take * kSectorSize);
                allKnown = false;
            } else {
                const std::uint64_t runEnd = (run->vcn + run->length) * spc_;
                take = std::min(count, runEnd - first);
                if (run->sparse) {
                    std::memset(out, 0, take * kSectorSize);
                    report_.sparseBytes += take * kSectorSize;
                } else {
                    std::uint64_t start = 0;
                    const std::uint64_t within = first - run->vcn * spc_;
                    if (!volume_.ClusterToSector(run->lcn, start) || within > ~std::uint64_t(0) - start) {
                        std::memset(out, 0, take * kSectorSize);
                        report_.unreadableSectors += take;
                    } else {
                        report_.unreadableSectors +=
                            ReadSectorsOrZeros(volume_, start + within, static_cast<std::uint32_t>(take), out);
                    }
                }
            }
            out += take * kSectorSize;
            first += take;
            count -= take;
        }
        return allKnown;
    }

    // True when every cluster of [vcn, vcn + n) is allocated; counts the
    // allocated and the unknown clusters.
    void Classify(std::uint64_t vcn, std::uint64_t n, std::uint64_t& allocated, std::uint64_t& unknown)
    {
        allocated = unknown = 0;
        const std::uint64_t end = vcn + n;
        while (vcn < end) {
            const DataRun* run = FindRun(vcn);
            if (run == nullptr) {
                const DataRun* next = NextRunAfter(vcn);
                const std::uint64_t until = next ? std::min(end, next->vcn) : end;
                unknown += until - vcn;
                vcn = until;
                continue;
            }
            const std::uint64_t until = std::min(end, run->vcn + run->length);
            if (!run->sparse)
                allocated += until - vcn;
            vcn = until;
        }
    }

    // Reads the allocated clusters of [vcn, vcn + n), in order, one after the
    // other into `out`; returns the bytes read.
    std::uint64_t ReadAllocated(std::uint64_t vcn, std::uint64_t n, std::uint8_t* out)
    {
        std::uint64_t bytes = 0;
        const std::uint64_t end = vcn + n;
        while (vcn < end) {
            const DataRun* run = FindRun(vcn);
            if (run == nullptr) {
                const DataRun* next = NextRunAfter(vcn);
                vcn = next ? std::min(end, next->vcn) : end;
                continue;
            }
            const std::uint64_t until = std::min(end, run->vcn + run->length);
            if (!run->sparse) {
                ReadSectors(vcn * spc_, (until - vcn) * spc_, out + bytes);
                bytes += (until - vcn) * spc_ * kSectorSize;
            }
            vcn = until;
        }
        return bytes;
    }

    // First VCN after the last known run.
    std::uint64_t KnownEndVcn() const
    {
        return stream_.runs.empty() ? 0 : stream_.runs.back().vcn + stream_.runs.back().length;
    }

private:
    const DataRun* FindRun(std::uint64_t vcn) const
    {
        const auto& runs = stream_.runs;
        auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                                   [](std::uint64_t v, const DataRun& r) { return v < r.vcn; });
        if (it == runs.begin())
            return nullptr;
        --it;
        return vcn < it->vcn + it->length ? &*it : nullptr;
    }
    const DataRun* NextRunAfter(std::uint64_t vcn) const
    {
        const auto& runs = stream_.runs;
        auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                                   [](std::uint64_t v, const DataRun& r) { return v < r.vcn; });
        return it == runs.end() ? nullptr : &*it;
    }

    const NtfsVolume& volume_;
    const NtfsDataStream& stream_;
    NtfsReadReport& report_;
    std::uint64_t spc_;
};

// Zeroes the bytes of [offset, offset + n) that lie at or past the
// initialised size: NTFS has allocated them but never written them.
void ZeroUninitialised(std::uint8_t* data, std::uint64_t offset, std::uint64_t n, std::uint64_t initialized)
{
    if (offset + n <= initialized)
        return;
    const std::uint64_t from = initialized > offset ? initialized - offset : 0;
    std::memset(data + from, 0, static_cast<std::size_t>(n - from));
}

}  // namespace

NtfsReadReport ReadNtfsDataStream(const NtfsVolume& volume, const NtfsDataStream& stream, std::uint64_t size,
                                  NtfsDataSink& sink, const NtfsReadControl& control)
{
    NtfsReadReport report;
    report.resident = stream.resident;
    report.compressed = (stream.flags & kNtfsAttrFlagCompressed) != 0;
    report.encrypted = (stream.flags & kNtfsAttrFlagEncrypted) != 0;
    report.attributeListFollowed = stream.attributeListFollowed;
    if (!stream.found) {
        report.outcome = NtfsReadOutcome::NoData;
        return report;
    }
    auto stopped = [&] { return control.stopRequested && control.stopRequested(); };

    if (stream.resident) {
        const std::uint64_t n = std::min<std::uint64_t>(size, stream.residentValue.size());
        if (n > 0 && !sink.Write(stream.residentValue.data(), static_cast<std::size_t>(n))) {
            report.outcome = NtfsReadOutcome::WriteFailed;
            return report;
        }
        report.bytesWritten = n;
        if (control.progress)
            control.progress(n);
        report.outcome = n < size || size < stream.residentValue.size() ? NtfsReadOutcome::Incomplete
                                                                        : NtfsReadOutcome::Complete;
        return report;
    }

    if (volume.sectorsPerCluster == 0 || volume.sectorsPerCluster > 128) {
        report.outcome = size == 0 && stream.dataSize == 0 ? NtfsReadOutcome::Complete : NtfsReadOutcome::Incomplete;
        return report;
    }
    const std::uint64_t clusterBytes = std::uint64_t(volume.sectorsPerCluster) * kSectorSize;
    const std::uint64_t total = std::min(size, stream.dataSize);
    StreamReader reader(volume, stream, report);
    const std::uint64_t knownEnd = reader.KnownEndVcn() > ~std::uint64_t(0) / clusterBytes
                                       ? ~std::uint64_t(0)
                                       : reader.KnownEndVcn() * clusterBytes;
    bool missing = stream.piecesMissing;
    std::uint64_t offset = 0;

    const unsigned unitShift = stream.compressionUnit;
    const bool compressed = report.compressed && unitShift >= 1 && unitShift <= 8 &&
                            (clusterBytes << unitShift) <= kMaxUnitBytes;
    const std::uint64_t step = compressed ? clusterBytes << unitShift : NtfsCopyChunkBytes(size);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(step));
    std::vector<std::uint8_t> packed(compressed ? static_cast<std::size_t>(step) : 0);

    while (offset < total) {
        if (stopped()) {
            report.outcome = NtfsReadOutcome::Stopped;
            return report;
        }
        if (offset >= knownEnd) {
            missing = true;  // the runs end before the size: stop at what exists
            break;
        }
        std::uint64_t n = std::min(step, total - offset);
        if (!compressed && knownEnd - offset < n) {
            n = knownEnd - offset;  // the last known bytes, then stop
            missing = true;
        }
        if (!compressed) {
            const std::uint64_t sectors = (n + kSectorSize - 1) / kSectorSize;
            if (!reader.ReadSectors(offset / kSectorSize, sectors, buffer.data()))
                missing = true;
        } else {
            const std::uint64_t unitClusters = std::uint64_t(1) << unitShift;
            const std::uint64_t vcn = offset / clusterBytes;
            std::uint64_t allocated = 0, unknown = 0;
            reader.Classify(vcn, unitClusters, allocated, unknown);
            if (unknown != 0)
                missing = true;
            if (allocated == unitClusters) {
                // Stored whole: compression did not pay for this unit.
                reader.ReadSectors(vcn * volume.sectorsPerCluster, unitClusters * volume.sectorsPerCluster,
                                   buffer.data());
            } else if (allocated == 0) {
                std::fill(buffer.begin(), buffer.end(), std::uint8_t(0));
                if (unknown == 0)
                    report.sparseBytes += n;
            } else {
                const std::uint64_t got = reader.ReadAllocated(vcn, unitClusters, packed.data());
                Lznt1Result r = DecompressLznt1(std::span<const std::uint8_t>(packed.data(), got),
                                                std::span<std::uint8_t>(buffer.data(), buffer.size()));
                if (!r.ok)
                    ++report.damagedUnits;
            }
        }
        ZeroUninitialised(buffer.data(), offset, n, stream.initializedSize);
        if (!sink.Write(buffer.data(), static_cast<std::size_t>(n))) {
            report.outcome = NtfsReadOutcome::WriteFailed;
            return report;
        }
        offset += n;
        report.bytesWritten = offset;
        if (control.progress)
            control.progress(offset);
    }
    // Fewer bytes than the file really has (the size asked was short of the
    // stream's data size) is no complete copy either.
    const bool cutShort = stream.sizeKnown && size < stream.dataSize;
    report.outcome =
        (missing || cutShort || report.bytesWritten < size) ? NtfsReadOutcome::Incomplete : NtfsReadOutcome::Complete;
    return report;
}

NtfsReadReport ReadNtfsFileData(const NtfsVolume& volume, NtfsBytes record, std::uint64_t size,
                                NtfsDataSink& sink, const NtfsReadControl& control, const MftRunTable* mft,
                                std::uint64_t recordNumber)
{
    NtfsDataStream stream = GatherNtfsDataStream(volume, record, mft, recordNumber);
    return ReadNtfsDataStream(volume, stream, size, sink, control);
}

}  // namespace torvane
