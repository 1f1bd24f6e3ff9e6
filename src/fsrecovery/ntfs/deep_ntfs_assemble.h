// From the Deep NTFS table to the results: the volume's layout (where
// cluster 0 lies, the cluster size, the $MFT's extents), the number of each
// record by its place in the $MFT, and the folders and files of the results
// tree.
//
// Layout. A boot sector read at the start gives it all. Without one (the
// boot sector and its backup gone), the cluster size is the one most
// non-resident attributes were allocated in, and cluster 0 is the place
// where a found record 0 ($MFT, from the $MFT itself or from its mirror)
// puts the most found records at the sector its runs give for their own
// number: the partition's start, or the sector that record 0 or the mirror
// was found at less its cluster number.
//
// Numbering. A record inside the $MFT's extents takes the number of its
// slot; any other (a mirror copy, a stray copy) its own number (u32 @44).
// One record per number: the first found.
//
// Results. Directories whose parent is the root go straight under "Root",
// the others wait as pending rows; files become FoundEntries whose own id is
// the sector of their FILE record. The entries of the index blocks add, at
// the end, the folders and files no FILE record gave (a file reference as
// own id, second text "1"). Then the lost-directory arrangement builds the
// tree: folders of missing parents get "DIR<n>" placeholders under
// "KZU_Miscellaneous".
#pragma once

#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_volume.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/lost_directory_arrangement.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace torvane {

// What the boot sector said (zeros: not known).
struct DeepNtfsKnownGeometry {
    std::uint64_t cluster0 = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t mftStart = 0;
    std::uint64_t mftMirrStart = 0;
    bool fromBootSector = false;
};

struct DeepNtfsLayout {
    std::uint64_t cluster0 = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::shared_ptr<MftRunTable> mft;    // never null; empty when no record 0 was usable
    bool derived = false;                // taken from the records, not from a boot sector
    std::uint64_t recordsInPlace = 0;    // records found where the table puts them
};

// The layout of the volume the table was swept from. `device` reads the
// record 0 copies' extension records; `endSector` bounds every read (0: the
// device's end); `partitionStart` is the first candidate for cluster 0.
DeepNtfsLayout DeriveDeepNtfsLayout(const DeepNtfsTable& table, Device* device, std::uint64_t endSector,
                                    const DeepNtfsKnownGeometry& known, std::uint64_t partitionStart);

// The number of a found record: its $MFT slot when `mft` holds its sector,
// else its own number; empty when neither is known.
std::optional<std::uint32_t> DeepNtfsRecordNumber(const DeepNtfsFileRecord& row, const MftRunTable* mft);

class DeepNtfsAssembler {
public:
    DeepNtfsAssembler(ScanResults& results, const DeepNtfsTable& table);

    // The $MFT table that numbers records (null: own numbers only). Set it
    // before the first emission for numbers to stay the same throughout.
    void SetMftTable(std::shared_ptr<const MftRunTable> mft) { mft_ = std::move(mft); }

    // The incremental pass: the FILE records found since the last call go
    // into the results, then the pending folders whose parent is placed go
    // into the tree (ending early when `stop` holds).
    void InterimPass(const StopTest& stop = {});

    // The steps after the sweep (after a stop too): the records not yet
    // taken, the index entries (files larger than `sizeLimit` bytes, 0: no
    // limit, are left out), the placeholders of missing parents and the
    // full arrangement. `volume` reads the FILE records of files whose size
    // the record does not hold itself. Step texts go to `sink`.
    void Finish(const NtfsVolume& volume, std::uint64_t sizeLimit, ScanSink* sink);

    // The FILE records taken so far (rows of the table).
    std::size_t RowsTaken() const { return taken_; }

private:
    void TakeNewRecords();
    void TakeIndexEntries(std::uint64_t sizeLimit);
    void AddMissingParentFolders();
    void EnsureMiscFolder();

    ScanResults& results_;
    const DeepNtfsTable& table_;
    std::shared_ptr<const MftRunTable> mft_;
    std::size_t taken_ = 0;
    DeepNumberMap<std::uint8_t> folders_;  // numbers of the folders given
    DeepNumberMap<std::uint16_t> files_;   // numbers of the file records given -> sequence
    std::uint64_t namelessDirs_ = 0;
};

// "DIR%llu"
std::string DeepNtfsPlaceholderName(std::uint64_t n);

}  // namespace torvane
