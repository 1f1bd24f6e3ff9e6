// Reads the data of one exFAT file in order and hands it to a sink: the
// clusters of its FAT chain, or consecutive clusters when the file is flagged
// NoFatChain (or its chain was cleared when it was deleted); bytes past the
// ValidDataLength as zeros (the file system never wrote them); an unreadable
// sector as 512 zero bytes, so that later bytes keep their offsets. Nothing
// past the end of the volume is read, and nothing is allocated by the file's
// size: a length beyond the volume gives what the volume holds and an
// Incomplete outcome.
#pragma once

#include "fsrecovery/exfat/exfat_volume.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace torvane {

class ExfatDataSink {
public:
    virtual ~ExfatDataSink() = default;
    // False stops the read (a write error).
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

struct ExfatReadControl {
    std::function<bool()> stopRequested;             // tested before every chunk
    std::function<void(std::uint64_t)> progress;     // bytes written so far
};

// What is known of the file's allocation.
struct ExfatFileData {
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;            // bytes to give back (DataLength)
    std::uint64_t validLength = ~std::uint64_t(0);  // bytes written by the file system (ValidDataLength)
    bool allocationKnown = false;      // noFatChain below comes from the stream entry
    bool noFatChain = false;
};

enum class ExfatReadOutcome { Complete, Incomplete, Stopped, WriteFailed };

struct ExfatReadReport {
    ExfatReadOutcome outcome = ExfatReadOutcome::Complete;
    std::uint64_t bytesWritten = 0;
    std::uint64_t unreadableSectors = 0;
    bool followedChain = false;        // the data came along a FAT chain
    bool dataShort = false;            // the clusters ended before the size (chain broken, volume end)
};

ExfatReadReport ReadExfatFileData(const ExfatVolume& volume, const ExfatFileData& file, ExfatDataSink& sink,
                                  const ExfatReadControl& control = {});

}  // namespace torvane
