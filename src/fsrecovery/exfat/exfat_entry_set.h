// Assembles exFAT entry sets from a stream of 32-byte directory entries.
//
// A set is a file entry (0x85, deleted 0x05) followed by its secondaries: one
// stream extension (0xC0/0x40) and as many file-name entries (0xC1/0x41) as
// the name needs. Deleted sets keep their contents, so they are read like
// live ones. A damaged set is still taken when it can be:
//  - the name is cut to the stream's NameLength; the secondary count decides
//    the end of the set only when NameLength is unusable, so a wrong count
//    neither swallows the next file nor truncates the name;
//  - a set cut short by the next file entry is finished with what it has
//    when it holds a stream and a name;
//  - the set checksum is checked (a deleted set against its in-use form too)
//    and reported, never used to drop a set.
#pragma once

#include "fsrecovery/exfat/exfat_format.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

struct ExfatEntrySet {
    std::string name;
    bool directory = false;
    bool deleted = false;          // the file entry was marked deleted
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t validLength = 0;
    std::uint64_t dataLength = 0;
    bool noFatChain = false;
    std::uint64_t entryByte = 0;   // device byte of the file entry
    bool checksumOk = false;       // the set was complete and its checksum matched
};

class ExfatEntrySetAssembler {
public:
    enum class Step {
        Continue,          // go on with the next entry
        EndOfDirectory,    // a 0x00 entry
        NotDirectory,      // a type no directory holds: the data is no directory
    };
    using SetSink = std::function<void(const ExfatEntrySet&)>;

    explicit ExfatEntrySetAssembler(SetSink sink) : sink_(std::move(sink)) {}

    // Takes the entry at `entry` (32 bytes) found at device byte `entryByte`.
    Step Feed(const std::uint8_t* entry, std::uint64_t entryByte);
    // Finishes a set still open (the directory ended).
    void Flush();
    // Forgets a set still open (a walk moved to data it cannot continue in).
    void Drop();

    // Volume entries met so far (the lost-directory search derives geometry from them).
    bool sawBitmap = false;
    std::uint64_t bitmapLength = 0;
    bool sawUpcase = false;
    std::uint32_t upcaseFirstCluster = 0;
    std::uint64_t upcaseLength = 0;
    std::uint64_t upcaseEntryByte = 0;
    // Sets whose checksum did not match.
    std::uint64_t checksumMismatches = 0;

private:
    void Finish();

    SetSink sink_;
    bool open_ = false;
    bool haveStream_ = false;
    std::uint32_t expected_ = 0;
    std::uint32_t seen_ = 0;
    std::uint32_t names_ = 0;
    std::uint32_t nameLength_ = 0;
    std::vector<std::uint16_t> units_;
    // The set checksum, summed as the entries arrive: over the entries as
    // read, and (deleted sets) over their in-use form; at most 256 entries
    // are summed.
    void Sum(const std::uint8_t* entry, bool fileEntry);
    std::uint32_t summed_ = 0;        // entries summed
    std::uint16_t sumRead_ = 0;
    std::uint16_t sumInUse_ = 0;
    std::uint16_t storedSum_ = 0;
    ExfatEntrySet set_;
};

}  // namespace torvane
