// Saving one file of an NTFS volume, given by the sector of its FILE record
// (the own id of a FoundEntry that the MFT sweep made).
//
// The record is read once and its data written in order by the NTFS file
// reader (fsrecovery/ntfs/ntfs_file_reader.h): resident data from the record,
// non-resident data run by run, sparse runs and unwritten bytes as zeros,
// compressed data decompressed, pieces in extension records followed, an
// unreadable sector as 512 zero bytes so that later bytes keep their offsets.
#pragma once

#include "fsrecovery/store/found_items.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_volume.h"
#include "platform/device.h"
#include "results/save_session.h"
#include "results/found_entry_saver.h"

#include <cstdint>
#include <memory>
#include <string>

namespace torvane {

// What the writer needs to know of the volume, besides the device it is given.
struct NtfsSaveContext {
    std::uint64_t cluster0Sector = 0;     // where cluster 0 lies (the partition start)
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t endSector = 0;          // one past the volume's last sector (0: the device's end)
    std::shared_ptr<const MftRunTable> mft;  // to reach extension records (may be null)
};

// SaveFileByMftRecord: settles the target (name conflict, once, when
// `resolveConflict`), reads the FILE record at `recordSector`, writes the
// first `size` bytes of its data and reports the outcome. A record that
// cannot be read, or is no sound FILE record, creates no file and is
// reported as failed; a record without data gives an empty file.
FileOutcome SaveFileByMftRecord(SaveSession& session, Device& device, const NtfsSaveContext& context,
                                std::uint64_t recordSector, std::uint64_t size, std::string target,
                                std::string name, bool resolveConflict = true);

// SaveFileByMftBuffer: the same for a record already read and fixed up.
FileOutcome SaveFileByMftBuffer(SaveSession& session, Device& device, const NtfsSaveContext& context,
                                const std::uint8_t* record, std::uint64_t size, std::string target, std::string name,
                                bool resolveConflict = true);

// The found-entry writer of NTFS volumes for the save walkers
// (RegisterFoundEntryWriter("NTFS", MakeNtfsEntryWriter(context))).
FoundEntryWriter MakeNtfsEntryWriter(NtfsSaveContext context);

// The context of the partition a Basic or Deep NTFS scan read.
NtfsSaveContext NtfsSaveContextOf(const CurrentPartition& partition, std::shared_ptr<const MftRunTable> mft = {});

}  // namespace torvane
