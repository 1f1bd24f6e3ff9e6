// The NTFS Deep Search from the first chunk to the volume the results are
// saved from: the sweep of every sector (deep_ntfs_sweep.h), the incremental
// passes that grow the tree during the sweep, and the steps after it
// (deep_ntfs_assemble.h), which run after a stop too.
//
// All of it runs on the thread that reads the chunks; nothing here is shared
// with another thread except the results (whose members lock).
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/ntfs/deep_ntfs_assemble.h"
#include "fsrecovery/ntfs/deep_ntfs_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace torvane {

// The incremental passes of an NTFS sweep: every 10 s.
inline constexpr std::chrono::milliseconds kDeepNtfsPassInterval{10000};

class DeepNtfsScan {
public:
    explicit DeepNtfsScan(ScanResults& results);

    // Before the first chunk. `partition`: the range (Descriptor StartSector
    // .. EndSector) and the geometry a boot sector gave (zeros: none).
    // Sectors before the $MFT the boot sector names are not examined.
    void Begin(const CurrentPartition& partition, Device& device);
    // `sectorCount` sectors from `firstSector`, as read.
    void Chunk(std::uint64_t firstSector, const std::uint8_t* data, std::size_t sectorCount);
    // The incremental pass (between chunks).
    void TimedPass(const StopTest& stop = {});
    // The steps after the sweep, on what was found. Writes the layout found
    // into `partition` (Geometry and the descriptor's copy: cluster 0, sectors
    // per cluster, $MFT start) and returns the volume to list and save from.
    std::shared_ptr<FileSystemVolume> Finish(CurrentPartition& partition, ScanSink* sink);

    const DeepNtfsTable& Table() const { return table_; }
    const DeepNtfsLayout& Layout() const { return layout_; }

private:
    ScanResults& results_;
    DeepNtfsTable table_;
    DeepNtfsAssembler assembler_;
    std::optional<DeepNtfsSweep> sweep_;
    Device* device_ = nullptr;
    DeepNtfsKnownGeometry known_;
    DeepNtfsLayout layout_;
    std::uint64_t firstExamined_ = 0;
};

// Control of RunDeepNtfsScan.
struct DeepNtfsScanControl {
    std::function<bool()> stop;                       // tested before every chunk
    ScanSink* sink = nullptr;
    std::chrono::milliseconds passInterval = kDeepNtfsPassInterval;  // zero: no incremental passes
};

// Sweeps the range of `partition` on `partition.Device` in chunks of 1024
// sectors (a chunk that cannot be read is read sector by sector) and runs
// the steps; a stop ends the sweep, not the steps.
std::shared_ptr<FileSystemVolume> RunDeepNtfsScan(ScanResults& results, CurrentPartition& partition,
                                                  const DeepNtfsScanControl& control = {});

}  // namespace torvane
