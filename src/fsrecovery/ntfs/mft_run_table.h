// Where the $MFT lies: its extents as sector ranges, in the $MFT's own data
// order, so that a record number can be turned into the sector that holds it.
//
// The $MFT is a file like any other: record 0 describes it, and its unnamed
// $DATA attribute's data runs say where its clusters are. When the $MFT is so
// fragmented that its runs no longer fit in record 0, record 0 carries an
// $ATTRIBUTE_LIST naming the extension records that hold the later pieces of
// the $DATA attribute; the table follows them.
//
// An MFT record is 1024 bytes, two sectors: record n begins at sector offset
// 2n within the $MFT's data.
#pragma once

#include "fsrecovery/ntfs/ntfs_volume.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace torvane {

struct MftExtent {
    std::uint64_t startSector = 0;  // absolute on the device; 0 for a sparse extent
    std::uint64_t sectors = 0;
    bool sparse = false;            // clusters the $MFT does not store: no records there

    bool operator==(const MftExtent&) const = default;
};

class MftRunTable {
public:
    // Most extents a table takes; appends beyond are refused.
    static constexpr std::size_t kMaxExtents = 1u << 20;

    void Clear();
    // Appends an extent of `sectors` sectors; false when the table is full or
    // `sectors` is 0.
    bool AppendMftExtent(std::uint64_t startSector, std::uint64_t sectors, bool sparse = false);

    const std::vector<MftExtent>& Extents() const { return extents_; }
    std::size_t Count() const { return extents_.size(); }
    bool Empty() const { return extents_.empty(); }
    std::uint64_t TotalSectors() const { return ends_.empty() ? 0 : ends_.back(); }
    // Record slots the table covers (two sectors each).
    std::uint64_t RecordCount() const { return TotalSectors() / 2; }

    // The first sector of record `record`, or 0 when the table does not reach
    // it or it falls in a sparse extent. Logarithmic in the extents.
    std::uint64_t MftRecordToSector(std::uint64_t record) const;
    // Both sectors of record `record`. They follow each other unless the
    // record straddles two extents (possible with 512-byte clusters). False
    // when the table does not reach the record or a half lies in a sparse extent.
    bool MftRecordSectors(std::uint64_t record, std::uint64_t& first, std::uint64_t& second) const;
    // The record number whose first sector is `sector`, when the table holds it.
    std::optional<std::uint64_t> SectorToMftRecord(std::uint64_t sector) const;

private:
    std::vector<MftExtent> extents_;
    std::vector<std::uint64_t> ends_;  // sectors through extent i
};

// Reads record `record` through the table (both halves, wherever they lie)
// and applies the fixup, as ReadMftRecord does.
MftRecordRead ReadMftRecordByNumber(const NtfsVolume& volume, const MftRunTable& table, std::uint64_t record,
                                    std::uint8_t* buffer);

struct MftRunTableReport {
    bool recordZeroFromMirror = false;   // record 0 came from $MFTMirr
    bool attributeListFollowed = false;  // pieces came from extension records
    std::size_t extensionRecords = 0;
    bool incomplete = false;             // a piece could not be read, or runs were malformed
};

// Builds the table from record 0 of the $MFT at `mftStartSector`. When that
// record cannot be read or is not a sound FILE record, the copy in $MFTMirr at
// `mftMirrStartSector` (when not 0) stands in. Runs that fall outside the
// volume end the table there. An empty table means the $MFT could not be
// located.
MftRunTable BuildMftRunTable(const NtfsVolume& volume, std::uint64_t mftStartSector,
                             std::uint64_t mftMirrStartSector = 0, MftRunTableReport* report = nullptr);

}  // namespace torvane
