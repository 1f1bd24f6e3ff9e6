// The Basic NTFS scan: every 1024-byte slot of the $MFT, in the order of the
// $MFT's extents, deleted records included. A directory record becomes a
// pending directory (placed into the results tree by the lost-directory
// arrangement), a file record a FoundEntry of its directory. A record's id is
// its number: its position in the $MFT.
//
// The directory indexes are not walked: a deleted file whose index entry is
// gone still has its FILE record, and that is what this scan reads.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_volume.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace torvane {

// How the unreadable sectors of the $MFT are named among unreadable folders.
inline constexpr char kMftRecordsFolderText[] = "$MFT (the records of files and folders)";

struct MftSweepControl {
    std::function<bool()> stop;                     // tested between blocks of records
    ScanSink* sink = nullptr;                       // step texts and progress (may be null)
    std::function<void(const std::string&)> status; // "sectors  of  total %llu"
    // Every `interimInterval` the directories whose parent is already placed
    // go into the tree, on the sweep's own thread between blocks. Zero: off.
    std::chrono::milliseconds interimInterval{10000};
};

// The volume an NTFS geometry describes: cluster 0 at Cluster0Start (the
// partition start), the geometry's sectors per cluster, the partition's end.
NtfsVolume NtfsVolumeOf(const CurrentPartition& partition);

// Reads every record slot of `table` (SweepMftRecords). Each record is read
// once, in blocks along each extent; what a record says is taken from the
// bytes read:
//  - a directory (flags 2 or 3) with a $FILE_NAME: a pending directory (name
//    as stored, self = record number, parent = the low 32 bits of the parent
//    reference, date = the $FILE_NAME creation time); the root "." is not
//    queued; the first one also puts "KZU_Miscellaneous" under "Root";
//  - any other record with a $FILE_NAME (Basic mode): a FoundEntry with the
//    cleaned name (NtfsUnnamedFileName when nothing is left of it), the
//    parent's low 32 bits, the record's first sector as own
//    id, the data size (NtfsRecordDataSize: through the $ATTRIBUTE_LIST when
//    the $DATA lives in extension records; the $FILE_NAME's size when no
//    $DATA can be found) and the creation time in decimal;
//  - a base record whose $FILE_NAME was moved into an extension record takes
//    it from there (through its $ATTRIBUTE_LIST); the extension record itself
//    then gives no entry, so the entry points at the record with the data;
//  - unreadable slots, slots without "FILE", records whose update sequence
//    does not fit and records without a $FILE_NAME of their own: passed over,
//    still counted.
// results.CurrentScanSector counts the $MFT sectors read. $MFT sectors that
// cannot be read are told to the sink at the end (under
// kMftRecordsFolderText): the files and folders they described are missing.
void SweepMftRecords(ScanResults& results, const NtfsVolume& volume, const MftRunTable& table,
                     const MftSweepControl& control = {});

// The name of a file whose $FILE_NAME holds no usable name: "FILE_" and its
// record number.
std::string NtfsUnnamedFileName(std::uint64_t recordNumber);

// Steps 1 to 3 after the sweep (sort the files by folder, purge and sort the
// pending directories), then the NTFS arrangement (steps 3 to 5), in full
// also after a stop; then FileOrphanedNtfsEntries.
void RunBasicNtfsSteps(ScanResults& results, ScanSink* sink);

// Files whose folder is not in the tree (its FILE record zeroed, unreadable,
// or reused for a file, while their own records are intact) go under
// "KZU_Miscellaneous", as the arrangement places the sub-folders of such a
// folder: they are listed and saved from there.
void FileOrphanedNtfsEntries(ScanResults& results);

// The whole NTFS branch of the Basic scan on a partition whose geometry was
// read: the $MFT run table, the "Root" item, the sweep and the steps. The
// steps run after a stop too, on what was found. Returns the run table's
// report (an empty table: the $MFT could not be located).
MftRunTableReport RunBasicNtfsScan(ScanResults& results, const CurrentPartition& partition,
                                   const MftSweepControl& control = {});

}  // namespace torvane
