// Feeds arbitrary directory clusters through the FAT directory readers the
// Basic Search uses: the entry decoder with its long-name assembly across
// sector and cluster starts, the folder walk (high-word guess, continuation),
// the sweep and the lost-directory arrangement, and the naming pass.
//
// Input: the raw bytes of one folder, whole 512-byte clusters (at most 8). A
// small FAT32 volume is built around them: FAT at sector 1, one sector per
// cluster, cluster n at sector n, the folder in clusters 2.. chained in
// order, some spare sectors behind so that entries pointing there read
// something.
#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/lost_directory_arrangement.h"
#include "platform/device.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxClusters = 8;
constexpr std::size_t kSpareSectors = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    std::size_t clusters = (size + 511) / 512;
    if (clusters == 0 || clusters > kMaxClusters)
        return 0;
    const std::size_t sectors = 2 + clusters + kSpareSectors;
    std::string image(sectors * 512, '\0');
    // FAT: 2 -> 3 -> ... -> end.
    for (std::size_t c = 0; c < 2 + clusters; ++c) {
        std::uint32_t v = c < 2 ? 0x0FFFFFFF : (c + 1 < 2 + clusters ? static_cast<std::uint32_t>(c + 1) : 0x0FFFFFFF);
        for (int i = 0; i < 4; ++i)
            image[512 + c * 4 + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    image.replace(2 * 512, size, reinterpret_cast<const char*>(data), size);
    DevicePtr device = MakeMemoryDevice("fuzz", image);

    FatVolume volume;
    volume.kind = FatKind::Fat32;
    volume.fs = FsKind::Fat32;
    volume.startSector = 0;
    volume.endSector = sectors;
    volume.endByte = sectors * 512;
    volume.fatStart = 1;
    volume.sectorsPerFat = 1;
    volume.sectorsPerCluster = 1;
    volume.cluster0Start = 0;
    volume.rootStart = 2;

    // Every entry under both rule sets, long names followed along the chain.
    std::vector<std::uint32_t> chain;
    for (std::size_t c = 0; c < clusters; ++c)
        chain.push_back(static_cast<std::uint32_t>(2 + c));
    SectorFetch previous = ChainOrderPrevious(*device, volume, chain);
    for (std::size_t s = 0; s < clusters; ++s) {
        const std::uint8_t* sector = reinterpret_cast<const std::uint8_t*>(image.data()) + (2 + s) * 512;
        for (int i = 0; i < kFatEntriesPerSector; ++i) {
            for (FatEntryMode mode : {FatEntryMode::Directory, FatEntryMode::File}) {
                FatEntryRules rules;
                rules.mode = mode;
                rules.filesOnly = mode == FatEntryMode::File;
                rules.endByte = volume.endByte;
                FatEntryResult r;
                ParseFatDirEntry(sector, i, 2 + s, rules, previous, r);
            }
        }
    }

    // The folder walk, as the file list and the counters run it.
    FatFolderWalkOptions walk;
    walk.followContinuation = true;
    WalkFatFolderEntries(*device, volume, 2, walk);
    WalkFatFolderEntries(*device, volume, 0, walk);
    // The root's high-word search: the sub-folder entries of the input, and
    // root children taken from its bytes.
    walk.rootChildFolders = [&] {
        std::vector<std::uint32_t> children;
        for (std::size_t i = 0; i + 4 <= size && children.size() < 4; i += 97) {
            std::uint32_t c = 0;
            std::memcpy(&c, data + i, 4);
            children.push_back(c);
        }
        return children;
    };
    WalkFatFolderEntries(*device, volume, 0, walk);

    // The Basic steps with the folder as the root directory, then the naming pass.
    ScanResults results;
    results.SetFsName("FAT32");
    FatSweepControl control;
    control.interimInterval = std::chrono::milliseconds(0);
    SweepFatVolume(results, volume, *device, control);
    RunBasicFatSteps(results);
    TreeModel& tree = results.Tree();
    for (TreeNodeId n = tree.NextPreOrder(kNoTreeNode); n != kNoTreeNode; n = tree.NextPreOrder(n))
        NameLostSubfolders(results, *device, volume, n);
    return 0;
}
