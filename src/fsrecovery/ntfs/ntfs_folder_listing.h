// The files of one folder of an NTFS result, as the file list shows them.
//
// The scans keep every found file as a FoundEntry sorted by the id of its
// folder. Listing a folder takes the entries of that id; an entry whose name
// is empty or whose size is 0 is completed from its FILE record (name in the
// namespace order, creation time, data size), and what is learnt is written
// back into the entry, so the next listing does not read it again (a size
// that is really 0 is read again: the record is the only proof of it).
//
// An entry taken from an index record (second text "1") holds a file
// reference, not a sector: it is completed from the record the reference
// names, through the $MFT run table, when the record still holds that
// generation (sequence number); otherwise it is left as it is. And such an
// entry is not listed when a file of the same name is listed already.
#pragma once

#include "fsrecovery/store/found_items.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_volume.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

struct NtfsListedFile {
    std::size_t entryIndex = 0;    // in the results' FoundEntries()
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t fileTime = 0;    // creation time (FILETIME); 0 when unknown
    std::uint64_t ownId = 0;
    std::string indexMark;         // "1" for an entry taken from an index record
};

struct NtfsListing {
    std::vector<NtfsListedFile> files;
    bool foundAny = false;         // the store holds entries at all (FilesFoundFlag)
    bool stopped = false;          // the stop test ended the listing
    // Set when a record named "$MFTMirr" was completed and its size proves
    // another cluster size (see SectorsPerClusterFromMftMirr).
    std::optional<std::uint32_t> sectorsPerCluster;
};

// Lists the files of folder `folderId` (5: the root). `volume` reads the FILE
// records (its endSector bounds them); `mft` resolves index-record entries
// (may be null). `stop` is tested before every entry.
NtfsListing ListNtfsFolderFiles(ScanResults& results, std::uint64_t folderId, const NtfsVolume& volume,
                                const MftRunTable* mft = nullptr, const std::function<bool()>& stop = {});

// Completes one entry from its FILE record, as the listing does; false when
// the record could not be read or is no sound FILE record (the entry is then
// unchanged). `spcOut` receives the $MFTMirr finding, if any.
bool CompleteNtfsFoundEntry(FoundEntry& entry, const NtfsVolume& volume, const MftRunTable* mft,
                            std::optional<std::uint32_t>* spcOut = nullptr);

}  // namespace torvane
