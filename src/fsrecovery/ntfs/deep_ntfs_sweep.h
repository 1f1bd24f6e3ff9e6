// The NTFS half of the Deep Search sweep: every sector of the swept range is
// looked at once; a sector that begins a FILE record (allocated size 1024) or
// an INDX block is taken apart into a DeepNtfsTable.
//
// A record or block is copied out of the chunk when it lies inside it, and
// read from the device only when it runs past the chunk's end; either way
// the update-sequence fixup is applied to the copy before a byte of it is
// believed, and a copy whose update sequence does not fit is dropped. Every
// field is read through bounds-checked views: a torn or hostile structure
// never makes a read leave its buffer.
//
// FILE records: the name in the namespace order (Win32, Win32+DOS, DOS,
// POSIX), its parent and creation time, the flags, own number and sequence,
// the size of the unnamed $DATA when the record holds it, and votes for the
// cluster size. INDX blocks (4 KiB typically, at most 64 KiB, a multiple of
// 512 bytes): every entry with a name, the walk ending at the last entry, at
// an entry that does not fit, or at the block's end. A block whose first entry
// names a system file's parent (0..4) or no parent is not an ordinary
// directory's and is dropped.
#pragma once

#include "fsrecovery/ntfs/deep_ntfs_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace torvane {

inline constexpr std::size_t kMaxIndxBlockBytes = 65536;

// Reads `count` sectors from `first` into `out` (count * 512 bytes); false
// when they cannot all be read (the caller then drops the structure).
using DeepSectorReader = std::function<bool(std::uint64_t first, std::uint32_t count, std::uint8_t* out)>;

// Takes a FILE record apart: `record` holds 1024 bytes as read; the fixup is
// applied in place. False when it is no FILE record of 1024 bytes or its
// update sequence does not fit. Votes and copies of records 0 and 1 go to
// `table` when given.
bool ParseDeepFileRecord(std::uint8_t* record, std::uint64_t sector, DeepNtfsFileRecord& out,
                         DeepNtfsTable* table = nullptr);

// The size in bytes of the INDX block beginning with `firstSector` (its
// allocated size + 24), or 0 when it is no INDX header or the size is not a
// multiple of 512 between 512 and kMaxIndxBlockBytes.
std::size_t DeepIndexBlockSize(const std::uint8_t* firstSector, std::size_t available);

// Takes an INDX block of `size` bytes apart (fixup applied in place): its
// entries are appended to `out`. Returns the number appended; 0 and nothing
// appended when the block is dropped (not INDX, fixup does not fit, first
// entry outside the block or naming parent < 5 or 0xFFFFFFFF).
std::size_t ParseDeepIndexBlock(std::uint8_t* block, std::size_t size, std::uint64_t sector,
                                std::vector<DeepNtfsIndexEntry>& out);

class DeepNtfsSweep {
public:
    // `read` fetches a structure that runs past the end of a chunk; sectors
    // at or past `endSector` are never read (0: no limit).
    DeepNtfsSweep(DeepNtfsTable& table, DeepSectorReader read, std::uint64_t endSector = 0);

    // Looks at every whole sector of `data` (`bytes` bytes actually read,
    // the first of them sector `firstSector`).
    void ExamineChunk(const std::uint8_t* data, std::size_t bytes, std::uint64_t firstSector);

    std::uint64_t FileRecordsSeen() const { return fileRecords_; }
    std::uint64_t IndexBlocksSeen() const { return indexBlocks_; }

private:
    // Copies `sectors` sectors from the chunk, reading what lies past its end.
    // The copy buffer, at least `bytes` long.
    std::uint8_t* Buffer(std::size_t bytes);
    bool Fetch(const std::uint8_t* data, std::size_t bytes, std::uint64_t firstSector, std::size_t at,
               std::uint32_t sectors, std::uint8_t* out);

    DeepNtfsTable& table_;
    DeepSectorReader read_;
    std::uint64_t endSector_;
    std::vector<std::uint8_t> buffer_;  // grows to the largest structure met
    std::vector<DeepNtfsIndexEntry> entries_;
    std::uint64_t fileRecords_ = 0;
    std::uint64_t indexBlocks_ = 0;
};

}  // namespace torvane
