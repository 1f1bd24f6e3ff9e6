// What a Basic (or Deep) scan does with a disk that lists no partition.
//
// Scan Now on such a disk guesses the file system from the disk's size. Two
// things come first:
//   - a disk whose first sector holds a valid FAT16, FAT32, exFAT or NTFS boot
//     record (a whole-volume image, a card formatted without a table) is
//     scanned as that file system from sector 0;
//   - otherwise, when the guessed file system shows no boot sector where the
//     scan was to start, the scan waits for a partition search of the disk
//     (stop-aware: the scan's stop ends it) and goes on with the first
//     partition the search finds by its boot sector (the automatic way).
// Only when both give nothing does the scan go on with the guess.
//
// How partitions are searched is not the scan's business: whoever starts the
// scan hands it the search as a function (partsearch/automatic_search.h
// builds one over the Search More Partitions engine), so this folder needs
// nothing of that one.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/store/scan_sink.h"
#include "platform/device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace torvane {

// What the automatic search is asked: the disk, and how to stop and report.
struct AutomaticSearchRequest {
    DevicePtr device;                                    // the disk, open read-only
    std::string devicePath;                              // "\\.\PhysicalDriveN"
    int diskNumber = 0;
    std::uint64_t diskSectors = 0;
    std::function<bool()> stop;                          // the scan's stop request
    std::atomic<std::uint64_t>* currentSector = nullptr; // the sector being examined
};

// The first partition the search found by its boot sector.
struct AutomaticSearchFind {
    std::string fsName;                                  // "FAT16", "FAT32", "exFAT", "NTFS"
    std::uint64_t start = 0;
    std::uint64_t end = 0;                               // one past the last sector
};

using AutomaticPartitionSearch = std::function<std::optional<AutomaticSearchFind>(const AutomaticSearchRequest&)>;

inline constexpr char kAutomaticSearchStatusText[] = "Searching Partitions by Standard Mode:";

enum class DiskWithoutPartitionsOutcome {
    NotApplicable,       // not a disk that lists no partition: the scan goes on as it is
    VolumeAtSectorZero,  // sector 0 holds a boot record: that file system from sector 0
    GuessReadable,       // the guessed file system's boot sector is where the scan starts
    PartitionFound,      // the automatic search made its first find current
    NothingFound,        // no search, or it found nothing (or was stopped): the guess stays
};

// Settles what the scan of `p` reads when p.DiskListsNoPartition is set:
// p.Descriptor's FsType, StartSector, EndSector, EndByte, ItemStart and
// ItemEnd change as the outcome says. `search` may be empty (no automatic
// search); `sink` may be null. Reads `device` only.
DiskWithoutPartitionsOutcome PrepareDiskWithoutPartitions(CurrentPartition& p, Device& device,
                                                          const AutomaticPartitionSearch& search,
                                                          const std::function<bool()>& stop,
                                                          std::atomic<std::uint64_t>* currentSector,
                                                          ScanSink* sink = nullptr);

}  // namespace torvane
