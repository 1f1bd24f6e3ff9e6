// Saving one file of a FAT16/FAT32 volume.
//
// Where the data are: a live file whose cluster chain is intact (exactly the
// clusters its size needs, each a data cluster of the volume, none twice,
// the last one marked end-of-chain, in the first FAT or else the second) is
// read along its chain, so a fragmented file comes out right. A deleted
// file's chain is gone (its cells are zero), and so is the chain of a file
// whose table is damaged: those are read as consecutive clusters from the
// first one, which is how a deleted file was most likely laid down.
// Adjacent clusters are read together; nothing past the volume's end is read.
#pragma once

#include "fsrecovery/fat/fat_volume.h"
#include "platform/device.h"
#include "results/recovered_target.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

struct FatFileToSave {
    std::string target;          // full path of the file to create
    std::string name;            // the name shown
    std::string shortName;       // the 8.3 name (preset of a shortened name); may be empty
    std::uint64_t size = 0;
    std::uint32_t firstCluster = 0;
    bool deleted = false;
};

// The first clusters of a live file's chain, at most `clusterCount` of them:
// from the first FAT, or from the second when it gives more. The walk ends at
// an end mark, a free or bad cell, a cluster outside the volume, a cluster met
// before, or a cell that cannot be read; what was walked until then is kept.
std::vector<std::uint32_t> FatFileChainPrefix(Device& device, const FatVolume& volume, std::uint32_t firstCluster,
                                              std::uint64_t clusterCount);

struct FatDataPlan {
    std::vector<SectorExtent> extents;
    bool alongChain = false;     // read along the file's chain (all of it, or as far as it goes)
    bool chainShort = false;     // a live file's chain ends before its size: the rest is read consecutively
    bool shortOfData = false;    // the data run past the volume (or there is no first cluster)
};

inline constexpr char kChainEndsBeforeSizeText[] =
    "its cluster chain ends before its size; the rest was read from the clusters that follow";

// Where the `size` bytes of a file starting at `firstCluster` are read from:
// a live file along its chain; where the chain ends early (a damaged FAT,
// both copies) the clusters after the last one walked follow, as for a
// deleted file, and the plan says so; a deleted file from its first cluster
// on.
FatDataPlan PlanFatFileData(Device& device, const FatVolume& volume, std::uint32_t firstCluster, std::uint64_t size,
                            bool deleted);

// SaveFatFile: settles the target (name conflict, once), opens it, copies the
// data and reports the outcome. `resolveConflict` false: no conflict test and
// no counting (extraction of a file for viewing).
FileOutcome SaveFatFile(SaveSession& session, Device& device, const FatVolume& volume, FatFileToSave file,
                        bool resolveConflict = true);

}  // namespace torvane
