#include "fsrecovery/fat/fat_module.h"

#include "fsrecovery/fat/fat_file_writer.h"
#include "fsrecovery/fat/fat_folder_listing.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "results/save_destination.h"
#include "results/save_walkers.h"

#include <utility>
#include <vector>

namespace torvane {
namespace {

// The first clusters of the folders of volume `fsKey` directly below the
// results tree's root, in tree order: where the FAT32 root's high-word search
// looks (a Deep scan's other volumes have folders there too).
std::function<std::vector<std::uint32_t>()> RootChildFolders(ScanResults& results, std::uint64_t fsKey)
{
    return [&results, fsKey] {
        std::vector<std::uint32_t> clusters;
        auto lock = results.Lock();
        const TreeModel& tree = results.Tree();
        const TreeNodeId root = tree.RootItem();
        if (root == kNoTreeNode)
            return clusters;
        for (TreeNodeId child : tree.Children(root))
            if (const RecoveredFolder* folder = results.FolderOfItem(child))
                if (folder->fsKey == fsKey && folder->selfId != 0 && folder->selfId != kMiscFolderId)
                    clusters.push_back(folder->selfId);
        return clusters;
    };
}

class FatSaver final : public FileSystemSaver {
public:
    FatSaver(ScanResults& results, DevicePtr device, FatVolume volume, bool basicSearch, std::uint64_t fsKey)
        : results_(results), device_(std::move(device)), volume_(std::move(volume)), basic_(basicSearch),
          fsKey_(fsKey)
    {
    }

    void SaveFolderFiles(SaveSession& session, const std::string& folderPath, const RecoveredFolder& folder) override
    {
        if (folder.selfId == 0 || folder.selfId == kMiscFolderId)
            return;
        SaveCluster(session, folderPath, folder.selfId);
    }

    void SaveRootFiles(SaveSession& session, const std::string& folderPath) override
    {
        SaveCluster(session, folderPath, 0);
    }

    void SaveFileRow(SaveSession& session, const std::string& target, const SaveRow& row) override
    {
        ++session.Counters().filesSaved;
        FatFileToSave file;
        file.target = target;
        file.name = LastComponent(target);
        file.shortName = row.shortName;
        file.size = row.size;
        file.firstCluster = static_cast<std::uint32_t>(row.id);
        file.deleted = row.deleted;
        SaveFatFile(session, *device_, volume_, std::move(file));
    }

    std::uint64_t CountFolderFiles(const RecoveredFolder& folder, const std::function<bool()>& stop) override
    {
        if (folder.selfId == 0 || folder.selfId == kMiscFolderId)
            return 0;
        return CountCluster(folder.selfId, stop);
    }

    std::uint64_t CountRootFiles(const std::function<bool()>& stop) override { return CountCluster(0, stop); }

    void PrepareChildren(TreeNodeId item) override { NameLostSubfolders(results_, *device_, volume_, item); }

private:
    FatFolderWalkOptions Options(const std::function<bool()>& stop) const
    {
        FatFolderWalkOptions options;
        options.followContinuation = true;
        options.basicSearch = basic_;
        options.isIndexedFolder = [this](std::uint32_t c) { return results_.IsIndexedFolderCluster(c, fsKey_); };
        options.stop = stop;
        options.rootChildFolders = RootChildFolders(results_, fsKey_);
        return options;
    }

    void SaveCluster(SaveSession& session, const std::string& folderPath, std::uint32_t cluster)
    {
        FatFolderWalkOptions options = Options([&session] { return session.StopRequested(); });
        options.countFiles = false;
        options.onFile = [&](const FatFileEntry& entry) {
            if (session.StopRequested() || !IsSavedEntry(entry))
                return;
            ++session.Counters().filesSaved;
            FatFileToSave file;
            file.target = FileTarget(session, folderPath, entry.name, entry.shortName);
            file.name = LastComponent(file.target);
            file.shortName = entry.shortName;
            file.size = entry.size;
            file.firstCluster = FirstClusterToRead(entry);
            file.deleted = entry.deleted;
            SaveFatFile(session, *device_, volume_, std::move(file));
        };
        WalkFatFolderEntries(*device_, volume_, cluster, options);
    }

    std::uint64_t CountCluster(std::uint32_t cluster, const std::function<bool()>& stop)
    {
        FatFolderWalkOptions options = Options(stop);
        options.countFiles = false;
        std::uint64_t count = 0;
        options.onFile = [&count](const FatFileEntry& entry) {
            if (IsSavedEntry(entry))
                ++count;
        };
        WalkFatFolderEntries(*device_, volume_, cluster, options);
        return count;
    }

    // The volume label lives in the root as an entry of its own; it holds no data.
    static bool IsSavedEntry(const FatFileEntry& entry) { return (entry.attribute & 0x08) == 0; }

    // A live entry's stored first cluster is right as it stands; only a deleted
    // FAT32 entry may have lost its high word, and only then the walk's guess
    // is taken.
    static std::uint32_t FirstClusterToRead(const FatFileEntry& entry)
    {
        return entry.deleted ? entry.firstCluster : entry.storedCluster;
    }

    ScanResults& results_;
    DevicePtr device_;
    FatVolume volume_;
    bool basic_;
    std::uint64_t fsKey_;
};

class FatFileSystemVolume final : public FileSystemVolume {
public:
    FatFileSystemVolume(const CurrentPartition& partition, std::uint64_t fsKey, std::uint32_t volumeRow)
        : FileSystemVolume(FsKindFromText(partition.Descriptor.FsName.empty() ? partition.Descriptor.FsType
                                                                                : partition.Descriptor.FsName),
                           partition, fsKey),
          volume_(FatVolumeFromPartition(partition)),
          volumeRow_(volumeRow)
    {
    }

    std::uint64_t RootFolderId() const override { return 0; }

    std::uint64_t ListFolderFiles(ScanResults& results, std::uint64_t folderId, const FolderListing& listing) override
    {
        if (folderId == kMiscFolderId || !Device() || !listing.list)
            return 0;
        FatListingContext ctx;
        ctx.device = Device().get();
        ctx.volume = volume_;
        ctx.deepSearch = listing.deepLayout;
        ctx.volumeRow = static_cast<int>(volumeRow_);
        const std::uint64_t key = Key();
        ctx.isIndexedFolder = [&results, key](std::uint32_t c) { return results.IsIndexedFolderCluster(c, key); };
        ctx.abort = listing.abort;
        ctx.rootChildFolders = RootChildFolders(results, Key());
        ctx.progress = listing.progress;
        return ListFatFolderFiles(*listing.list, listing.firstRow, static_cast<std::uint32_t>(folderId), ctx);
    }

    void PrepareChildren(ScanResults& results, TreeNodeId item) override
    {
        if (Device())
            NameLostSubfolders(results, *Device(), volume_, item);
    }

    std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults& results, bool basicSearch) override
    {
        if (!Device())
            return nullptr;
        return MakeFatSaver(results, Device(), volume_, basicSearch, Key());
    }

private:
    FatVolume volume_;
    std::uint32_t volumeRow_;
};

}  // namespace

std::unique_ptr<FileSystemSaver> MakeFatSaver(ScanResults& results, DevicePtr device, FatVolume volume,
                                              bool basicSearch, std::uint64_t fsKey)
{
    return std::make_unique<FatSaver>(results, std::move(device), std::move(volume), basicSearch, fsKey);
}

std::shared_ptr<FileSystemVolume> MakeFatFileSystemVolume(const CurrentPartition& partition, std::uint64_t fsKey,
                                                          std::uint32_t volumeRow)
{
    return std::make_shared<FatFileSystemVolume>(partition, fsKey, volumeRow);
}

}  // namespace torvane
