// The file rows of one folder of an NTFS result in a search dialog's file
// list: the entries ListNtfsFolderFiles gives (completed from their FILE
// records where the scan left them without a name or a size), one row each:
//   0 name, 1 type text, 2 size "%llu", 3 date, 4 time (from the FILETIME),
//   5 own id "%llu" (the FILE record's sector), 6 "0", 7 "0", 8 empty,
//   and on the Deep list 11 the index mark ("1": taken from an index record).
#pragma once

#include "fsrecovery/ntfs/mft_run_table.h"
#include "results/file_list_population.h"
#include "fsrecovery/ntfs/ntfs_file_writer.h"

namespace torvane {

// The listing hook of NTFS volumes (FileListHooks::ntfsOrExfat). The context
// is the one the NTFS writer takes (volume geometry and run table); `device`
// reads the FILE records.
FoundEntryListing MakeNtfsFolderListing(DevicePtr device, NtfsSaveContext context);

}  // namespace torvane
