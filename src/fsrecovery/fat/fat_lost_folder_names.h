// Names for the lost sub-folders of a FAT folder.
//
// A folder found by the sweep but not named by its parent's entries enters
// the tree as "DIR_<n>". When the user first opens (lists, expands or saves)
// a folder, its own directory entries are read and every sub-folder that an
// entry points at gets that entry's name (and its deleted mark). The pass
// runs once per folder, only on FAT16/FAT32, and only when the folder's first
// child still carries a "DIR" name.
//
// The device is read with no lock held; the results are locked only to apply
// the names found.
#pragma once

#include "base/tree_model.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <cstdint>

namespace torvane {

// Names the sub-folders of `parentItem` (folder id parentSelfId) after the
// directory entries of one sector. 0 when the sector cannot be read or ends
// the directory, 1 otherwise. `previousInDirectory` finds the sector in front
// for long names that cross a sector start (default: the sector in front on
// the device).
int NameLostFoldersFromDirSector(ScanResults& results, Device& device, const FatVolume& volume, std::uint64_t sector,
                                 std::uint32_t parentSelfId, TreeNodeId parentItem,
                                 const SectorFetch* previousInDirectory = nullptr);

// The naming pass of one folder (see above). Returns true when it read the folder.
bool NameLostSubfolders(ScanResults& results, Device& device, const FatVolume& volume, TreeNodeId item);

}  // namespace torvane
