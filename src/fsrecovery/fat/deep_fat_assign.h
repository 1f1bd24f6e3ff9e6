// Which FAT volumes a Deep sweep found, and which volume each directory
// belongs to.
//
// A volume is known from a boot sector whose geometry places a directory
// (its sector = self cluster x sectors per cluster + the cluster-0 sector,
// inside the volume), or, without a boot sector, from two directories whose
// sectors and clusters fit one power-of-two cluster size and one cluster-0
// sector. Each directory then carries its volume's number and cluster-0
// sector, which is the key its folders are filed under (fsKey).
//
// Cost: every lookup is a hash lookup keyed by (sectors per cluster,
// sector - self x sectors per cluster), built once per pass, so a pass is
// linear in rows (there are at most eight cluster sizes).
#pragma once

#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_sink.h"
#include "platform/device.h"

#include <cstdint>
#include <functional>

namespace torvane {

// Phase 1 looks at this many boot sectors at most.
inline constexpr std::size_t kMaxBootRowsForPhase1 = 65535;

struct DeepFatStepContext {
    ScanResults& results;
    DeepTables& tables;
    CurrentPartition& partition;   // its descriptor holds the volume loaded last
    Device& device;
    ScanSink* sink = nullptr;
    std::function<bool()> stop;    // only the FAT-start search tests it
};

// MergeNewListIntoDirTable.
void MergeNewListIntoDirTable(DeepFatStepContext& ctx);

// A FAT start: F8 FF FF, byte 3 not FF, bytes 4-7 FF FF FF FF, byte 11 not FF.
bool IsFatStartSector(const std::uint8_t* b);

// Searches the FAT in front of the cluster-0 sector of `row` (firstFAT 0):
// both hits go to the row and the descriptor; with both, SPF and Root Start
// follow. `maxSectors` 0: no limit but the window.
void SearchFatStart(DeepFatStepContext& ctx, FatBootRow& row, std::uint64_t maxSectors = 0);

// The geometry from the first boot sector (DirTable empty after the merge):
// the FAT search when "firstFAT" is 0, then the descriptor from row 0.
void LoadGeometryFromFirstBootSector(DeepFatStepContext& ctx);

// WalkFatRootDirectory: 2 when the loaded volume's root holds two named entries, else 0.
int WalkFatRootDirectory(DeepFatStepContext& ctx);

// MatchFoundFileSystem: true when a FileSystemTable row's cluster-0 sector
// lies less than 10 sectors from `value`; `value` becomes the row's and
// `*row` its index.
bool MatchFoundFileSystem(const DeepTables& tables, std::uint64_t& value, std::size_t* row = nullptr);

// AssignDirectoriesToFileSystems (quick: phase 1 only, no texts).
void AssignDirectoriesToFileSystems(DeepFatStepContext& ctx, bool quick);

// ManageMultipleFileSystems: the FAT-start search of every row without one.
void ManageMultipleFileSystems(DeepFatStepContext& ctx);

// CollectRootDirectoryNames (quick: the first file system only).
void CollectRootDirectoryNames(DeepFatStepContext& ctx, bool quick);

// Loads FileSystemTable row `index` into the context's descriptor; false when there is none.
bool LoadFileSystemRow(DeepFatStepContext& ctx, std::size_t index);

// The texts.
inline constexpr char kPhase1Text[] = "Analyzing The Data For File Systems Phase 1 \\ 2   ...";
inline constexpr char kPhase2Text[] = "Analyzing The Data For File Systems Phase 2 \\ 2   ...";

}  // namespace torvane
