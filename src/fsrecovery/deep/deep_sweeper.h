// What reads a Deep Search range: one sweeper per kind of file system.
//
// The Deep scan job (fsrecovery/deep_scan.h) reads the range in chunks of
// 1024 sectors and hands every chunk to the sweeper of the file-system type
// the user chose. Plugging a sweeper in:
//
//   1. implement DeepSweeper (below) in the file system's own folder
//      (fsrecovery/fat/deep_fat_*, fsrecovery/ntfs/deep_ntfs_*, ...);
//   2. return it from MakeDeepSweeper() in fsrecovery/deep_scan.cpp for its FsKind.
//
// The job then calls, all on its own thread:
//   Begin()                       once, before the first chunk;
//   Chunk(first, data, count)     for every run of sectors read, in ascending
//                                 order: `data` holds `count` * 512 bytes of
//                                 sectors first .. first + count - 1. A chunk
//                                 that cannot be read is read again sector by
//                                 sector; the sectors that still fail are
//                                 never passed (the runs around them are), so
//                                 one bad sector hides nothing else;
//   TimedPass()                   between chunks, every TimedPassInterval():
//                                 the incremental work that grows the results
//                                 tree while the disk is still being read;
//   Finish(stopped)               after the last chunk, or after a stop: the
//                                 finishing steps, on whatever was found
//                                 (a stopped scan ends with a whole tree too);
//   Volumes()                     the volumes the results are listed and
//                                 saved from, one per file system found,
//                                 each keyed by the fsKey its folders carry.
// A sweeper that reads the range its own way (exFAT's directory search)
// returns true from SweepsItself() and does its reading in Sweep() instead
// of Chunk(); it tests ctx.control.StopRequested() itself.
//
// Stop: the job tests the stop request before every chunk; Chunk() and
// TimedPass() need not test it. Finish() always runs to its end.
// Allocation failure or an internal error (an exception) in Begin, Chunk,
// TimedPass or Sweep ends the sweep; Finish still runs on what was found.
#pragma once

#include "disk/read_cache.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_control.h"
#include "platform/device.h"
#include "results/file_system_volume.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

inline constexpr std::uint32_t kDeepChunkSectors = 1024;   // 512 KB per read

// The status text of a sweep: "sectors  of  total %llu" with the end sector.
std::string DeepSweepStatusText(std::uint64_t endSector);

// What a sweeper works on. The partition holds the range (Descriptor
// StartSector .. EndSector, clamped to the device), the chosen type
// (Descriptor.FsType) and the geometry read from the range's first sector
// (Geometry and the descriptor's copy; zeros when there was none).
struct DeepSweepContext {
    ScanResults& results;
    DeepTables& tables;
    CurrentPartition& partition;
    Device& device;
    ScanControl& control;
    // Where a sweeper hands over sectors the finishing steps will read
    // again (a folder's first cluster); they then read them from memory.
    // Null: no cache.
    DeviceReadCache* readCache = nullptr;
};

class DeepSweeper {
public:
    virtual ~DeepSweeper() = default;

    virtual void Begin(DeepSweepContext& /*ctx*/) {}
    virtual void Chunk(DeepSweepContext& ctx, std::uint64_t firstSector, const std::uint8_t* data,
                       std::size_t sectorCount) = 0;
    virtual std::chrono::milliseconds TimedPassInterval() const { return std::chrono::milliseconds(0); }
    virtual void TimedPass(DeepSweepContext& /*ctx*/) {}
    virtual bool SweepsItself() const { return false; }
    virtual void Sweep(DeepSweepContext& /*ctx*/) {}
    virtual void Finish(DeepSweepContext& ctx, bool stopped) = 0;
    virtual std::vector<std::shared_ptr<FileSystemVolume>> Volumes() = 0;
};

}  // namespace torvane
