#include "fsrecovery/ntfs/mft_run_table.h"

#include "fsrecovery/ntfs/ntfs_attribute_list.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <array>

namespace torvane {

void MftRunTable::Clear()
{
    extents_.clear();
    ends_.clear();
}

bool MftRunTable::AppendMftExtent(std::uint64_t startSector, std::uint64_t sectors, bool sparse)
{
    if (sectors == 0 || extents_.size() >= kMaxExtents)
        return false;
    const std::uint64_t before = TotalSectors();
    if (sectors > ~std::uint64_t(0) - before)
        return false;
    extents_.push_back({sparse ? 0 : startSector, sectors, sparse});
    ends_.push_back(before + sectors);
    return true;
}

std::uint64_t MftRunTable::MftRecordToSector(std::uint64_t record) const
{
    if (record > (~std::uint64_t(0)) / 2)
        return 0;
    const std::uint64_t offset = record * 2;
    // The first extent whose end lies beyond the offset holds it.
    auto it = std::upper_bound(ends_.begin(), ends_.end(), offset);
    if (it == ends_.end())
        return 0;
    const std::size_t i = static_cast<std::size_t>(it - ends_.begin());
    const std::uint64_t before = i == 0 ? 0 : ends_[i - 1];
    const MftExtent& e = extents_[i];
    if (e.sparse)
        return 0;
    return e.startSector + (offset - before);
}

bool MftRunTable::MftRecordSectors(std::uint64_t record, std::uint64_t& first, std::uint64_t& second) const
{
    if (record > (~std::uint64_t(0)) / 2 - 1)
        return false;
    auto sectorAt = [this](std::uint64_t offset, std::uint64_t& out) {
        auto it = std::upper_bound(ends_.begin(), ends_.end(), offset);
        if (it == ends_.end())
            return false;
        const std::size_t i = static_cast<std::size_t>(it - ends_.begin());
        const std::uint64_t before = i == 0 ? 0 : ends_[i - 1];
        if (extents_[i].sparse)
            return false;
        out = extents_[i].startSector + (offset - before);
        return true;
    };
    return sectorAt(record * 2, first) && sectorAt(record * 2 + 1, second);
}

MftRecordRead ReadMftRecordByNumber(const NtfsVolume& volume, const MftRunTable& table, std::uint64_t record,
                                    std::uint8_t* buffer)
{
    std::uint64_t first = 0, second = 0;
    if (!table.MftRecordSectors(record, first, second))
        return MftRecordRead::ReadFailed;
    if (second == first + 1)
        return ReadMftRecord(volume, first, buffer);
    // A record cut in two by the end of an extent.
    if (ReadSectorsOrZeros(volume, first, 1, buffer) != 0 || ReadSectorsOrZeros(volume, second, 1, buffer + kSectorSize) != 0)
        return MftRecordRead::ReadFailed;
    return CheckMftRecord(buffer);
}

std::optional<std::uint64_t> MftRunTable::SectorToMftRecord(std::uint64_t sector) const
{
    std::uint64_t before = 0;
    for (const MftExtent& e : extents_) {
        if (!e.sparse && sector >= e.startSector && sector - e.startSector < e.sectors) {
            const std::uint64_t offset = before + (sector - e.startSector);
            if (offset % 2 == 0)
                return offset / 2;
            return std::nullopt;
        }
        before += e.sectors;
    }
    return std::nullopt;
}

namespace {

struct DataPiece {
    std::uint64_t firstVcn = 0;
    RunList runs;
};

// Appends the runs of one $DATA piece; false when the table must end here.
bool AppendRuns(const NtfsVolume& volume, const RunList& runs, std::uint64_t& nextVcn, MftRunTable& table)
{
    const std::uint64_t limit = volume.LimitSector();
    for (const DataRun& run : runs.runs) {
        if (run.vcn != nextVcn)
            return false;  // a gap or an overlap: later records would be misplaced
        if (run.length > ~std::uint64_t(0) / volume.sectorsPerCluster)
            return false;
        const std::uint64_t sectors = run.length * volume.sectorsPerCluster;
        if (run.sparse) {
            if (!table.AppendMftExtent(0, sectors, true))
                return false;
        } else {
            std::uint64_t start = 0;
            if (!volume.ClusterToSector(run.lcn, start))
                return false;
            // A run reaching past the volume keeps what lies inside it.
            const std::uint64_t inside = std::min(sectors, limit - start);
            if (!table.AppendMftExtent(start, inside, false) || inside != sectors)
                return false;
        }
        nextVcn = run.vcn + run.length;
    }
    return runs.status == RunListStatus::Complete;
}

}  // namespace

MftRunTable BuildMftRunTable(const NtfsVolume& volume, std::uint64_t mftStartSector,
                             std::uint64_t mftMirrStartSector, MftRunTableReport* report)
{
    MftRunTableReport local;
    MftRunTableReport& rep = report ? *report : local;
    rep = {};
    MftRunTable table;
    if (volume.device == nullptr || volume.sectorsPerCluster == 0)
        return table;

    std::array<std::uint8_t, kMftRecordSize> base{};
    MftRecordRead read = ReadMftRecord(volume, mftStartSector, base.data());
    if (read != MftRecordRead::Ok && mftMirrStartSector != 0) {
        read = ReadMftRecord(volume, mftMirrStartSector, base.data());
        rep.recordZeroFromMirror = read == MftRecordRead::Ok;
    }
    if (read != MftRecordRead::Ok)
        return table;
    NtfsBytes record(base.data(), base.size());

    std::optional<NtfsAttribute> data = FindNtfsAttribute(record, kNtfsAttrData, true);
    std::optional<NtfsAttribute> list = FindNtfsAttribute(record, kNtfsAttrAttributeList, false);

    std::uint64_t nextVcn = 0;
    if (data && data->nonResident && data->firstVcn == 0) {
        RunList runs = DecodeRunList(record, *data);
        if (!AppendRuns(volume, runs, nextVcn, table)) {
            rep.incomplete = true;
            return table;
        }
    }
    if (!list)
        return table;

    // The later pieces of $DATA live in extension records that the list names.
    std::vector<std::uint8_t> listValue;
    std::vector<NtfsAttributeListEntry> entries;
    if (!ReadAttributeListValue(volume, record, *list, listValue) ||
        !ParseAttributeList(NtfsBytes(listValue.data(), listValue.size()), entries))
        rep.incomplete = true;
    std::vector<NtfsAttributeListEntry> pieces;
    for (const NtfsAttributeListEntry& e : entries)
        if (e.type == kNtfsAttrData && e.nameLength == 0 && MftReferenceRecord(e.recordReference) != 0)
            pieces.push_back(e);
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const auto& a, const auto& b) { return a.firstVcn < b.firstVcn; });

    // Every piece taken moves nextVcn forward and a piece below it is passed
    // over, so entries that name a piece again (a looping list) cost nothing;
    // the reads are bounded all the same.
    std::size_t reads = 0;
    std::array<std::uint8_t, kMftRecordSize> ext{};
    for (const NtfsAttributeListEntry& piece : pieces) {
        if (piece.firstVcn < nextVcn)
            continue;  // already covered (a duplicate entry)
        const std::uint64_t number = MftReferenceRecord(piece.recordReference);
        // An extension record is read through the extents found so far; one
        // that lies beyond them, or comes round again, ends the table.
        // (With no extent yet, the record is taken to lie in the $MFT's first
        // clusters, where the boot sector says the $MFT begins.)
        if (number > (std::uint64_t(1) << 40) || ++reads > 4096) {
            rep.incomplete = true;
            break;
        }
        const MftRecordRead extRead = table.Empty() ? ReadMftRecord(volume, mftStartSector + 2 * number, ext.data())
                                                    : ReadMftRecordByNumber(volume, table, number, ext.data());
        if (extRead != MftRecordRead::Ok) {
            rep.incomplete = true;
            break;
        }
        NtfsBytes extRecord(ext.data(), ext.size());
        NtfsRecordHeader header;
        ReadNtfsRecordHeader(extRecord, header);
        const std::uint16_t wantSequence = MftReferenceSequence(piece.recordReference);
        if (wantSequence != 0 && header.sequenceNumber != 0 && wantSequence != header.sequenceNumber) {
            rep.incomplete = true;
            break;
        }
        std::optional<NtfsAttribute> found;
        NtfsAttributeCursor cursor(extRecord);
        NtfsAttribute attr;
        while (cursor.Next(attr)) {
            if (attr.type == kNtfsAttrData && !attr.IsNamed() && attr.nonResident && attr.firstVcn == piece.firstVcn) {
                found = attr;
                break;
            }
        }
        if (!found) {
            rep.incomplete = true;
            break;
        }
        rep.attributeListFollowed = true;
        ++rep.extensionRecords;
        if (!AppendRuns(volume, DecodeRunList(extRecord, *found), nextVcn, table)) {
            rep.incomplete = true;
            break;
        }
    }
    return table;
}

}  // namespace torvane
