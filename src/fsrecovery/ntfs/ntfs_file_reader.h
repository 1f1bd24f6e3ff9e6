// Reading the data of one NTFS file, in order, from its FILE record.
//
// This is the core of the NTFS file writer: it turns the record's unnamed
// $DATA attribute into the file's bytes and hands them, chunk by chunk, to a
// sink (a target file, a temporary copy, a test buffer). It knows nothing of
// dialogs or destinations.
//
//   resident data       the attribute's value, from the record itself
//   non-resident data   run by run from the volume, in chunks of 8 sectors
//                       (64 when the file spans more than 128 sectors)
//   sparse runs         zeros
//   beyond the initialised size   zeros (NTFS never wrote those bytes)
//   compressed data     unit by unit: a unit stored whole is copied, a unit
//                       followed by sparse clusters is LZNT1-decompressed,
//                       a sparse unit is zeros
//   unreadable sectors  zeros, so that every later byte keeps its offset
//   pieces of $DATA in extension records (named by $ATTRIBUTE_LIST)
//                       followed through the $MFT run table when one is given
#pragma once

#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/ntfs_bytes.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_volume.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

// Where the bytes go. Write returns false when the destination failed (a full
// disk, an I/O error); reading then stops.
class NtfsDataSink {
public:
    virtual ~NtfsDataSink() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

// A sink that keeps the bytes in memory (previews, tests).
class NtfsStringSink final : public NtfsDataSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override
    {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

struct NtfsReadControl {
    // Tested before every chunk; true stops the copy (what was written stays).
    std::function<bool()> stopRequested;
    // Called after every chunk with the bytes written so far.
    std::function<void(std::uint64_t written)> progress;
};

enum class NtfsReadOutcome {
    Complete,     // every byte up to the size was written, and the size was
                  // no shorter than the stream's own data size
    NoData,       // the record has no unnamed $DATA: nothing written
    Incomplete,   // the data known to the record end before the size (a piece
                  // in an unreachable extension record, malformed runs): the
                  // bytes that exist were written, gaps as zeros
    Stopped,      // the stop request ended the copy
    WriteFailed,  // the sink refused a chunk
};

struct NtfsReadReport {
    NtfsReadOutcome outcome = NtfsReadOutcome::NoData;
    std::uint64_t bytesWritten = 0;
    std::uint64_t unreadableSectors = 0;  // written as zeros
    std::uint64_t sparseBytes = 0;        // zeros from sparse runs and sparse units
    std::uint64_t damagedUnits = 0;       // compressed units that did not decode (zeros)
    bool resident = false;
    bool compressed = false;
    bool encrypted = false;               // copied as stored: NTFS keeps it enciphered
    bool attributeListFollowed = false;
};

// The unnamed $DATA stream of a record, gathered from the record and, through
// its $ATTRIBUTE_LIST, from its extension records.
struct NtfsDataStream {
    bool found = false;
    bool resident = false;
    std::vector<std::uint8_t> residentValue;
    std::vector<DataRun> runs;  // by VCN; gaps are possible where a piece is missing
    std::uint64_t dataSize = 0;
    std::uint64_t initializedSize = 0;
    std::uint16_t flags = 0;
    std::uint16_t compressionUnit = 0;
    bool piecesMissing = false;  // a piece could not be read or its runs were malformed
    bool attributeListFollowed = false;
    // dataSize is the stream's own: the value was resident, or the first
    // piece (VCN 0, which alone holds the sizes) was found.
    bool sizeKnown = false;
};

// Reads extension record `reference` of base record `baseNumber` through the
// run table into `buffer` (1024 bytes, fixed up). True only when the record
// was read and still belongs to that file: it names `baseNumber` as its base,
// and it is the generation the reference names (a sequence of 0 in the
// reference is not checked).
bool ReadNtfsExtensionRecord(const NtfsVolume& volume, const MftRunTable& mft, std::uint64_t baseNumber,
                             std::uint64_t reference, std::uint8_t* buffer);

// Gathers the unnamed $DATA stream of a fixed-up FILE record. `mft` lets the
// extension records named by an $ATTRIBUTE_LIST be found; without it only
// what the record itself holds is known. `recordNumber` is the record's own
// number when the caller knows it (else the record's own field at 44 is used).
NtfsDataStream GatherNtfsDataStream(const NtfsVolume& volume, NtfsBytes record, const MftRunTable* mft = nullptr,
                                    std::uint64_t recordNumber = ~std::uint64_t(0));

// The size of a file's data as the file lists show it: GetNtfsDataSize of the
// record, except that a record keeping its $DATA in extension records (a
// large, fragmented file: the record has an $ATTRIBUTE_LIST and no unnamed
// $DATA, or only a later piece of it) takes the data size of the piece at
// VCN 0, the only one that holds it, reached through the list and `mft`.
// Empty when no unnamed $DATA can be found at all (nor its first piece).
std::optional<std::uint64_t> NtfsRecordDataSize(const NtfsVolume& volume, NtfsBytes record, const MftRunTable* mft,
                                                std::uint64_t recordNumber = ~std::uint64_t(0),
                                                const std::string& name = {});

// Writes the first `size` bytes of the record's data to `sink`. `mft` and
// `recordNumber` as for GatherNtfsDataStream. A `size` below the stream's own
// data size writes `size` bytes and reports Incomplete: the caller's size
// (the one the file list shows) was short of the file's real length, and the
// saved file must not pass for the whole file.
NtfsReadReport ReadNtfsFileData(const NtfsVolume& volume, NtfsBytes record, std::uint64_t size,
                                NtfsDataSink& sink, const NtfsReadControl& control = {},
                                const MftRunTable* mft = nullptr, std::uint64_t recordNumber = ~std::uint64_t(0));

// The same for a stream already gathered.
NtfsReadReport ReadNtfsDataStream(const NtfsVolume& volume, const NtfsDataStream& stream, std::uint64_t size,
                                  NtfsDataSink& sink, const NtfsReadControl& control = {});

// Bytes per copy chunk for a file of `size` bytes: 8 sectors, or 64 sectors
// when the file spans more than 128 sectors.
std::size_t NtfsCopyChunkBytes(std::uint64_t size);

}  // namespace torvane
