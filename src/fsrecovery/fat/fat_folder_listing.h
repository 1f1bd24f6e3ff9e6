// The file rows of one FAT16/FAT32 folder in a search dialog's file list.
//
// The folder's directory sectors are read again at each listing (FAT files
// are not stored by the scan), every file entry the directory-entry decoder
// accepts is listed, deleted entries included. A deleted FAT32 entry whose
// high cluster word was cleared keeps its stored cluster in the "SelfCluster"
// column; the high part the walk guessed goes into a hidden addend column as
// "%llu" of (high part - 1), so that 0 can mean "no addend". A saver takes
// the first cluster as column 5 + addend + 1 when the addend is not empty.
#pragma once

#include "base/list_model.h"
#include "results/file_list_columns.h"
#include "fsrecovery/fat/fat_volume.h"
#include "platform/device.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

struct FatListingContext {
    Device* device = nullptr;
    FatVolume volume;
    bool deepSearch = false;      // Deep list layout (and no continuation)
    int volumeRow = 0;            // Deep: the FAT volume row written into column 9
    // The listed-folder test (the results' folder index): the walk does not run
    // into a folder that is already in the tree.
    std::function<bool(std::uint32_t)> isIndexedFolder;
    // Tested per sector and per entry: true ends the listing (Cancel).
    std::function<bool()> abort;
    // The FAT32 root's high-word search: the first clusters of the folders
    // directly below the results tree's root (see WalkFatFolderEntries).
    std::function<std::vector<std::uint32_t>()> rootChildFolders;
    // Called after every 50th row with the number of files listed by this call.
    std::function<void(std::uint64_t)> progress;
};

// Lists the files of the folder whose first cluster is `cluster` (0 = the
// root) into `list`, inserting from row `firstRow` on. Returns the number of
// file rows added. Reads nothing beyond the volume; unreadable sectors are
// skipped; a folder whose chain cannot be built lists nothing.
std::uint64_t ListFatFolderFiles(ListRowModel& list, std::uint64_t firstRow, std::uint32_t cluster,
                                 const FatListingContext& context);

}  // namespace torvane
