// Saving one file of an exFAT volume, given by the sector of its first
// cluster (the own id of a FoundEntry that the exFAT scan made).
//
// The data are read by the exFAT file reader (fsrecovery/exfat/
// exfat_file_reader.h): along the FAT chain, or as consecutive clusters for a
// file flagged NoFatChain or a deleted file whose chain was cleared; bytes
// past the valid data length as zeros; an unreadable sector as 512 zero
// bytes. How a file is allocated comes from the scan's file index when the
// entry is in it, otherwise from the FAT.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/exfat/exfat_volume.h"
#include "platform/device.h"
#include "results/save_session.h"
#include "results/found_entry_saver.h"

#include <cstdint>
#include <memory>
#include <string>

namespace torvane {

struct ExfatSaveContext {
    ExfatVolume volume;                          // its device is replaced by the one a call is given
    std::shared_ptr<const ExfatFileIndex> index; // the scan's file records (may be null)
};

// The reason of a file whose first cluster lies outside the volume.
inline constexpr char kFirstClusterOutsideText[] = "its first cluster lies outside the volume";

// SaveExfatFile: settles the target (name conflict, once, when
// `resolveConflict`), writes the first `size` bytes of the file whose first
// cluster starts at device sector `firstSector`, and reports the outcome. An
// empty file is created without a read; a file whose first cluster lies
// outside the volume is created empty and reported incomplete. `entry`, when
// given, is the found entry being saved: its record in the scan's index is
// then the one made for that very entry (another file starting at the same
// cluster is not used).
FileOutcome SaveExfatFile(SaveSession& session, Device& device, const ExfatSaveContext& context,
                          std::uint64_t firstSector, std::uint64_t size, std::string target, std::string name,
                          bool resolveConflict = true, const FoundEntry* entry = nullptr);

// The found-entry writer of exFAT volumes for the save walkers
// (RegisterFoundEntryWriter("exFAT", MakeExfatEntryWriter(context))).
FoundEntryWriter MakeExfatEntryWriter(ExfatSaveContext context);

// The context of the partition a scan read (the volume from its boot sector,
// its backup, or the derived geometry left in the partition).
ExfatSaveContext ExfatSaveContextOf(const CurrentPartition& partition, Device& device,
                                    std::shared_ptr<const ExfatFileIndex> index = {});

}  // namespace torvane
