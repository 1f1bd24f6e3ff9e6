#include "fsrecovery/fat/fat_lost_folder_names.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_chain.h"

#include <string>
#include <vector>

namespace torvane {
namespace {

struct NamedEntry {
    std::string name;
    std::uint32_t cluster = 0;
    bool deleted = false;
};

// The named entries of one directory sector; false at the end of the
// directory or when the sector cannot be read.
bool ReadNamedEntries(Device& device, const FatVolume& volume, std::uint64_t sector, const SectorFetch& previous,
                      std::vector<NamedEntry>& out)
{
    std::uint8_t data[512];
    if (!ReadSectorsFrom(device, 1, sector, data))
        return false;
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    rules.endByte = volume.endByte;
    for (int i = 0; i < kFatEntriesPerSector; ++i) {
        FatEntryResult entry;
        std::string name = ParseFatDirEntry(data, i, sector, rules, previous, entry);
        if (entry.endOfDirectory)
            return false;
        if (!name.empty())
            out.push_back(NamedEntry{std::move(name), FatEntryFirstCluster(data + i * kFatEntrySize), entry.deleted});
    }
    return true;
}

}  // namespace

int NameLostFoldersFromDirSector(ScanResults& results, Device& device, const FatVolume& volume, std::uint64_t sector,
                                 std::uint32_t parentSelfId, TreeNodeId parentItem,
                                 const SectorFetch* previousInDirectory)
{
    SectorFetch previous = previousInDirectory ? *previousInDirectory : DeviceOrderPrevious(device);
    std::vector<NamedEntry> entries;
    const bool goOn = ReadNamedEntries(device, volume, sector, previous, entries);
    if (!goOn && entries.empty())
        return 0;

    auto lk = results.Lock();
    const RecoveredFolder* parentRec = results.FolderOfItem(parentItem);
    const std::uint64_t fromSequence = parentRec ? parentRec->sequence : 0;
    // Only the parent's own volume's folders: another volume may use the same clusters.
    const std::uint64_t fsKey = parentRec ? parentRec->fsKey : 0;
    for (const NamedEntry& e : entries) {
        RecoveredFolder* rec = results.FindFolderByParentSelf(parentSelfId, e.cluster, fromSequence, fsKey);
        if (!rec)
            continue;
        std::string newName = e.name;
        if (results.RecoveryMode() == 2 && results.FindDirNameChild(parentItem, e.name))
            newName = e.name + "_" + std::to_string(e.cluster);
        if (newName != rec->name)
            results.RenameFolder(*rec, newName);
        if (e.deleted)
            rec->deleted = 1;
    }
    return goOn ? 1 : 0;
}

bool NameLostSubfolders(ScanResults& results, Device& device, const FatVolume& volume, TreeNodeId item)
{
    // Only FAT16/FAT32 folders are named from FAT directory entries.
    if (!IsFatKind(volume.fs))
        return false;
    std::uint32_t selfId = 0;
    std::uint64_t fsKey = 0;
    {
        auto lk = results.Lock();
        TreeModel& tree = results.Tree();
        if (tree.Parent(item) == kNoTreeNode || tree.Text(tree.Parent(item)).empty())
            return false;
        RecoveredFolder* rec = results.FolderOfItem(item);
        if (!rec)
            return false;
        if (rec->selfId == kMiscFolderId) {
            rec->named = 1;
            return false;
        }
        if (rec->named)
            return false;
        rec->named = 1;
        TreeNodeId first = tree.FirstChild(item);
        if (first == kNoTreeNode || tree.Text(first).find("DIR") == std::string::npos)
            return false;
        selfId = rec->selfId;
        fsKey = rec->fsKey;
    }
    ChainWalkOptions options;
    options.isIndexedFolder = [&results, fsKey](std::uint32_t c) { return results.IsIndexedFolderCluster(c, fsKey); };
    std::vector<std::uint32_t> chain = BuildVolumeClusterChain(device, volume, selfId, options);
    SectorFetch previous = ChainOrderPrevious(device, volume, chain);
    for (std::uint32_t cluster : chain) {
        std::uint64_t first = volume.ClusterSector(cluster);
        for (std::uint32_t j = 0; j < volume.sectorsPerCluster; ++j)
            if (NameLostFoldersFromDirSector(results, device, volume, first + j, selfId, item, &previous) == 0)
                return true;
    }
    return true;
}

}  // namespace torvane
