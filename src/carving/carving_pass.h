// One carving pass over a sector range: the engine both carving searches run.
//
// The range is read in blocks of 256 KB (block_read_ahead.h) and every sector
// is probed at the key offsets of the pass's signatures (signature_probe.h).
// A sector that matches starts a carved file there: its data begins at the
// start of that sector, even when the header lies further in.
//
// The Photo Search takes the first matching signature of a sector and has one
// file open at a time; the signature search opens a file for every matching
// signature, so several files started in one sector can be open at once.
//
// A carved file is always one run of consecutive device bytes. It ends at the
// first of:
// - the next sector that starts a file: it keeps every byte before that
//   sector, even past its type's largest size (which is only tested at block
//   ends);
// - a block end at which the bytes it holds plus the block's bytes would pass
//   its largest size: it keeps the bytes up to the previous block end;
// - its largest size reached within its first block: it keeps that many
//   bytes and is closed right there (left open, a later header would append
//   bytes from further on after a gap);
// - the end of the range, or a stop: it keeps what it held at the last block
//   end.
//
// A block that cannot be read is put to the user (carving_events.h: retry,
// skip with zeros in place of what cannot be read, or cancel). A stop, a
// cancel or a destination that takes no more closes every open carved file,
// flushed, and lists it, before the pass returns.
#pragma once

#include "base/job.h"
#include "carving/block_read_ahead.h"
#include "carving/carved_output.h"
#include "carving/carving_events.h"
#include "carving/extension_table.h"
#include "carving/signature_file.h"
#include "carving/signature_probe.h"
#include "results/save_target.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace torvane {

enum class CarvingHitPolicy {
    FirstHit,  // Photo Search: the first matching signature of a sector
    EveryHit,  // signature search: every matching signature
};

enum class CarvingPassEnd {
    RangeDone,          // searched to the end of the range
    Stopped,            // Stop (the job's stop request)
    ReadCancelled,      // "Cancel Searching" after a read failure
    DestinationFailed,  // the destination took no more carved files
    NoSignatures,       // nothing to search for
};

// What the passes of one search share.
struct CarvingSearchState {
    DevicePtr device;          // null: opened from devicePath when a pass starts
    std::string devicePath;    // opened again on Retry; empty: `device` is read again
    TargetFileSystem* fileSystem = nullptr;
    std::string destination;
    std::vector<std::string> searchLevels;  // {ProgramBaseName, "Photo Search"}
    ExtensionTable table;
    CarvingCounters counters;
    std::uint64_t filesPerFolder = kCarvedFilesPerFolder;
    std::size_t readAheadBlocks = 8;
    std::uint32_t blockSectors = kCarvingBlockSectors;   // smaller in tests and fuzzing
    std::set<std::string> foldersUsed;
};

struct CarvingPassSetup {
    CarvingHitPolicy policy = CarvingHitPolicy::FirstHit;
    CarvingPassKind pass = CarvingPassKind::General;
    const SignatureList* signatures = nullptr;
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;  // not itself read
    std::string statusText;
    CarvedNaming naming;
};

class CarvingPass {
public:
    CarvingPass(Job& job, CarvingEvents* events, CarvingSearchState& search, CarvingPassSetup setup);
    CarvingPass(const CarvingPass&) = delete;
    CarvingPass& operator=(const CarvingPass&) = delete;
    ~CarvingPass();

    CarvingPassEnd Run();

    // Closes every open carved file without appending anything more, and
    // lists it. The Photo Search's name for it; the signature search calls
    // it CloseOpenSigFiles. Both end every way out of a pass.
    void ClosePendingPhotoFiles() { CloseOpenFiles(); }
    void CloseOpenSigFiles() { CloseOpenFiles(); }

private:
    struct OpenFile {
        std::unique_ptr<CarvedTarget> target;
        std::uint64_t maxSize = 0;
        std::uint64_t total = 0;        // bytes counted against maxSize at block ends
        std::uint64_t written = 0;
        std::uint64_t firstSector = 0;
        std::size_t start = 0;          // where its data begins in the current block
        bool complete = true;
    };
    enum class ReadOutcome { Go, Cancelled, Stopped };

    ReadOutcome ResolveReadFailure(CarvingBlock& block);
    void RetryRead(CarvingBlock& block);
    bool ProbeBlock(const CarvingBlock& block, CarvingPassEnd& end);
    bool Hit(const CarvingBlock& block, std::size_t sector, std::uint32_t record, bool firstOfSector);
    bool EndOfBlock(const CarvingBlock& block);
    bool Append(OpenFile& file, const std::uint8_t* data, std::size_t length);
    void CloseFile(OpenFile& file);
    void CloseOpenFiles();
    void DestinationFailure();

    Job& job_;
    CarvingEvents* events_;
    CarvingSearchState& search_;
    CarvingPassSetup setup_;
    SignatureProbe probe_;
    std::unique_ptr<CarvedOutput> output_;
    std::unique_ptr<BlockReadAhead> reader_;
    std::vector<OpenFile> open_;
    std::vector<std::uint32_t> hits_;
    int applyToAll_ = -1;  // a Retry or Skip that holds for the rest of the pass
};

}  // namespace torvane
