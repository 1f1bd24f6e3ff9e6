// The Deep twin of the Basic arrangement: the pending folders of a Deep scan
// (DirListTable) go into the results tree under their parents, sub-folders
// follow their folders, and what is left goes under "KZU_Miscellaneous".
//
// With several file systems in one range (keyed mode) a folder's parent is
// looked for among the folders of its own file system only: folders are
// known by (file-system key, cluster), so two volumes whose cluster numbers
// collide stay apart. With one file system the lookups are those of the
// folder index (TreeTable), as in the Basic Search.
#pragma once

#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/scan_sink.h"

#include <cstdint>
#include <functional>
#include <unordered_map>

namespace torvane {

// Folders by (file-system key, own id), first insert wins; fed from the
// record list as it grows (Update), so each record is indexed once.
class DeepFolderIndex {
public:
    void Update(ScanResults& results);
    TreeNodeId Find(std::uint64_t fsKey, std::uint64_t id) const;
    void Clear();

private:
    struct KeyHash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const
        {
            return std::hash<std::uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };
    std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, TreeNodeId, KeyHash> items_;
    std::size_t indexed_ = 0;
};

struct DeepArrangeOptions {
    bool quick = false;
    bool exfat = false;
    bool keyed = false;            // several file systems: (key, cluster) lookups
    ScanSink* sink = nullptr;
    // The FAT naming walk of step 6: names the lost sub-folders of a folder.
    std::function<void(RecoveredFolder&)> nameFolder;
};

// ArrangeDeepPendingDirectories. Returns 1.
int ArrangeDeepPendingDirectories(ScanResults& results, DeepFolderIndex& index, const DeepArrangeOptions& options);

// AddMissingParentFolders: a "DIR%llu" placeholder (parent 0x0FFFFFFF) for
// every folder id that found files name but no folder has; `nameless`
// numbers them.
void AddMissingParentFolders(ScanResults& results, bool exfat, std::uint64_t& nameless);

// BuildMiscellaneousFolder in keyed mode: what is left goes under its parent
// of the same file system when that is in the tree, else under "KZU_Miscellaneous".
void BuildDeepMiscellaneousFolder(ScanResults& results, DeepFolderIndex& index, ScanSink* sink);

// The step texts of the FAT and exFAT lost-directory steps.
inline constexpr char kDeepStep1Of7Text[] = "[ Step 1 of 7 ] Searching Lost Directories. Please wait...";
inline constexpr char kDeepStep2Of7Text[] = "[ Step 2 of 7 ] Shorting Directory Information. Please wait...";
inline constexpr char kDeepStep4Of7Text[] = "[ Step 4 of 7 ] Arranging Directory Information. Please wait...";
inline constexpr char kDeepStep5Of7Text[] = "[ Step 5 of 7 ] Arranging Sub Directory Information. Please wait...";
inline constexpr char kDeepStep6Of7Text[] = "[ Step 6 of 7 ] Manage Lost Directory Information. Please wait...";
inline constexpr char kDeepStep7Of7Text[] = "[ Step 7 of 7 ] List All Lost Directory Information. Please wait...";
// Step 3: "[ Step 3 of 7 ] Arranging Multiple File System " + counter + " Directory Information. Please wait..."
std::string DeepStep3Of7Text(std::size_t number, std::size_t count);

}  // namespace torvane
