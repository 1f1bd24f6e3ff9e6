// Lost-directory arrangement: turns the pending rows of DirListTable into
// folders of the results tree. Every folder goes under its parent when the
// parent is in the tree; what is left goes under "KZU_Miscellaneous".
//
// Cost: children of a folder are found by one binary search in the
// parent-sorted table, placed rows are only marked and dropped by the next
// purge, and every lookup of the folder index is a hash lookup, so the
// whole arrangement is linear in rows and folders (plus the sort).
#pragma once

#include "fsrecovery/store/found_items.h"

#include <cstdint>
#include <functional>

namespace torvane {

// Tested between rows in interim mode (the dialog's stop or the helper stop).
using StopTest = std::function<bool()>;

// Basic FAT and exFAT arrangement, steps 3 to 5 ("of 5" texts). In interim
// mode only the step-3 placement pass runs (rows whose parent is known),
// ending early when `stop` holds. Returns 1.
int ArrangeBasicFatDirectories(ScanResults& results, ScanSink* sink, bool interim, const StopTest& stop = {});

// NTFS arrangement shared by Basic and Deep Search ("of 5" / "of 6" texts by
// the results' recovery mode). `withWindow` false (the interim worker's call)
// ends after the placement pass. `addMissingParents` is Deep's step-5 hook.
// Returns 1.
int ArrangeLostDirectories(ScanResults& results, bool withWindow, ScanSink* sink, bool interim,
                           const StopTest& stop = {}, const std::function<void()>& addMissingParents = {});

// Moves every pending row whose parent is `key` under `parentItem`. Returns 1.
int MoveChildRowsIntoTree(ScanResults& results, std::uint64_t key, TreeNodeId parentItem);

// Places what is left: under its parent when the parent is indexed, else
// under the miscellaneous folder (created when missing). Then the rows of
// DirNameListTable go under the miscellaneous folder (Deep). `deepFsKey` is
// the current Cluster0Start in Deep mode.
void BuildMiscellaneousFolder(ScanResults& results, bool interim, ScanSink* sink, const StopTest& stop = {},
                              std::uint64_t deepFsKey = 0);

// The step texts.
inline constexpr char kStep4Of6Text[] = "[ Step 4 of 6 ] Arranging Sub Directory Information. Please wait...";
inline constexpr char kStep5Of6Text[] = "[ Step 5 of 6 ] Manage Lost Directory Information. Please wait...";
inline constexpr char kStep6Of6Text[] = "[ Step 6 of 6 ] List All Lost Directory Information. Please wait...";

}  // namespace torvane
