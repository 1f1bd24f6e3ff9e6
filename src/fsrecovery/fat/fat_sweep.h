// The Basic Search over a FAT16/FAT32 volume.
//
// Every sub-directory's first cluster begins with the "." entry, whose first
// cluster names the directory's own cluster, followed by the ".." entry,
// which names its parent (0 for the root). The sweep reads the data area in
// 256 KB blocks and tests the first sector of every cluster for such a pair
// whose "." names exactly the cluster being read; each one found becomes a
// pending directory. Deleted directories keep their "." and ".." entries, so
// they are found as well as live ones.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_sink.h"
#include "platform/device.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace torvane {

inline constexpr std::uint32_t kSweepBlockSectors = 512;   // 256 KB per read

struct FatSweepControl {
    std::function<bool()> stop;                 // tested once per block
    ScanSink* sink = nullptr;
    // The interim tree: every `interimInterval` the rows whose parent is
    // already placed go into the tree, on the sweep's own thread between
    // blocks. Zero turns it off.
    std::chrono::milliseconds interimInterval{10000};
};

// Derives the FAT geometry of p.Descriptor (FsType, StartSector, EndSector)
// from the data when the boot sector does not give it: the first FAT from the
// F8 FF sector after the reserved area, sectors per cluster and the cluster-0
// sector from two directory clusters whose sector distance is a power-of-two
// multiple of their cluster distance. Writes p.Geometry. 1 on success, 0 when
// no pair fits, the type is not FAT, or the device cannot be read.
int RecalculateFatParameters(CurrentPartition& p, Device& device, const FatSweepControl& control = {});

// Sweeps the data area of `volume` and queues every directory found in the
// results' DirListTable, named from the root directory where it names them.
void SweepFatVolume(ScanResults& results, const FatVolume& volume, Device& device,
                    const FatSweepControl& control = {});

// Step 1's transfer of the root names that met no directory cluster into the
// pending rows, with no parent (they end under "KZU_Miscellaneous").
void DrainRootDirectoryNames(ScanResults& results);

// Steps 1 to 3 and the arrangement (steps 3 to 5).
void RunBasicFatSteps(ScanResults& results, ScanSink* sink = nullptr);


}  // namespace torvane
