// Walking the file entries of one FAT folder: its directory clusters in chain
// order, entry by entry, deleted entries included, with the FAT32 guess of a
// deleted entry's cleared high cluster word and the continuation of a
// one-cluster directory into the free cluster behind its last file.
#pragma once

#include "fsrecovery/fat/fat_chain.h"
#include "fsrecovery/fat/fat_volume.h"
#include "platform/device.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

// The guess state of one folder walk (and its continuations).
struct FatGuessState {
    std::uint64_t previousCluster = 0;   // P
    std::uint64_t previousCount = 0;     // N: clusters of the previous file
    std::uint64_t highWord = 0;          // H: the high-word candidate
    bool fileMet = false;                // F
    std::uint64_t lastCluster = 0;       // the volume's last cluster (0: unknown)
};

// Completes the first cluster of a FAT32 file entry whose stored high word is
// 0, from the walk's context; updates the state. `startCluster` is the
// directory cluster that holds the entry; `sector` the 512 bytes holding it.
// Returns the first cluster to use. `addedHighWord` (optional) receives the
// high part added (0 when the stored value stands).
// An entry whose stored cluster is 0 (an empty file has none) takes no part
// in the guess: it gets 0 and leaves the state as it was. A guess that lands
// past the volume's last cluster (state.lastCluster) is no cluster of the
// volume: the stored value stands.
std::uint32_t GuessDeletedFat32Cluster(FatGuessState& state, std::uint32_t startCluster, const std::uint8_t* sector,
                                       const std::uint8_t* entry, std::uint32_t sectorsPerCluster,
                                       std::uint64_t* addedHighWord = nullptr);

// In Basic Search, for a one-cluster chain and a size above 0: the cluster
// right behind the last file's data (first + ceil(size / cluster bytes)) when
// it differs from `lastTried` (which it then becomes) and is no folder of the
// tree. False otherwise.
bool IsClusterAfterFileUnlisted(std::uint64_t& lastTried, std::uint32_t& next, std::size_t chainSize,
                                std::uint64_t size, std::uint64_t firstCluster, std::uint32_t sectorsPerCluster,
                                bool basicSearch, const std::function<bool(std::uint32_t)>& isIndexedFolder);

// One file entry met by a walk.
struct FatFileEntry {
    std::string name;            // display name (long name when there is one)
    std::string shortName;       // NAME.EXT
    bool deleted = false;
    std::uint8_t attribute = 0;
    std::uint32_t storedCluster = 0;   // high word * 65536 + low word, as stored
    std::uint32_t firstCluster = 0;    // after the FAT32 high-word guess
    std::uint32_t size = 0;
    std::uint16_t date = 0;            // write date
    std::uint16_t time = 0;            // write time
    std::uint64_t sector = 0;          // sector holding the entry
    int index = 0;                     // entry index in that sector
};

struct FatFolderWalkOptions {
    // Try the cluster behind the last file. Entries read there (and along its
    // chain) pass the strict name rules (FatEntryRules::strictNames).
    bool followContinuation = false;
    bool countFiles = true;
    bool basicSearch = true;           // the continuation is a Basic Search rule
    std::function<bool(std::uint32_t)> isIndexedFolder;   // TreeTable test
    std::function<bool()> stop;                           // tested per cluster and per sector
    std::function<void(const FatFileEntry&)> onFile;      // every file met
    // Bound on continuations (each into a cluster not walked before).
    std::uint32_t maxContinuations = 4096;
    // The FAT32 root only: the first cluster of each folder directly below
    // the results tree's root, in tree order. When set, the guess of the
    // root's first file starts from the last file of the last sub-folder
    // entry met before it (see WalkFatFolderEntries).
    std::function<std::vector<std::uint32_t>()> rootChildFolders;
};

struct FatFolderWalkResult {
    std::uint32_t count = 0;
    std::uint64_t lastFileSize = 0;      // LastWalkedFileSize
    std::uint64_t lastFileCluster = 0;   // LastWalkedFileCluster
    std::uint64_t lastHighWord = 0;      // LastWalkedHighWord
    bool endOfDirectory = false;
};

// Walks the folder whose first cluster is `cluster`. Cluster 0 is the volume
// root (FAT32: the root cluster; FAT16: the fixed root area, where an
// end-of-directory entry ends only its sector). Cluster 0x0FFFFFFF is the
// miscellaneous folder and holds nothing.
//
// The FAT32 root with options.rootChildFolders: the root cluster is low, so
// nothing in the root itself tells the high word of a deleted file whose
// entry lost it. A file written after a sub-folder was filled lies behind
// that folder's last file; so before the root's first file, the last
// sub-folder entry met (cluster D) is walked and its last file seeds the
// guess. When D is below 0x10000 (its own high word may be gone), the first
// root child folder whose cluster has D as its low word and a high word
// above 0 is walked first and, when it holds a file, seeds the guess instead.
FatFolderWalkResult WalkFatFolderEntries(Device& device, const FatVolume& volume, std::uint32_t cluster,
                                         const FatFolderWalkOptions& options = {});

// The last file of folder `cluster` as the root's high-word guess uses it
// (the walk above, with its continuation): P, N and H for the first root file.
// False when no folder below gives one.
bool SeedRootHighWordGuess(Device& device, const FatVolume& volume, std::uint32_t lastSubfolder,
                           const FatFolderWalkOptions& options, FatGuessState& guess);

}  // namespace torvane
