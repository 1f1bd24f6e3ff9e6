#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "results/save_walkers.h"

#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_file_writer.h"
#include "results/save_destination.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

namespace torvane {
namespace {

std::mutex& WriterRegistryMutex()
{
    static std::mutex m;
    return m;
}

std::map<std::string, FoundEntryWriter>& WriterRegistry()
{
    static std::map<std::string, FoundEntryWriter> writers;
    return writers;
}

FoundEntryWriter FindFoundEntryWriter(const std::string& fsName)
{
    std::lock_guard<std::mutex> lock(WriterRegistryMutex());
    auto it = WriterRegistry().find(fsName);
    return it == WriterRegistry().end() ? FoundEntryWriter{} : it->second;
}

// The target of a file in `folderPath`, shortened when too long for the destination.
std::string FileTarget(SaveSession& session, const std::string& folderPath, const std::string& rawName,
                       const std::string& preset)
{
    std::string name = SanitizeNameComponent(rawName);
    std::string target = JoinPath(folderPath, name);
    std::string shortName = ShortenTargetName(session, target, folderPath, name, SanitizeNameComponent(preset));
    if (!shortName.empty())
        target = JoinPath(folderPath, shortName);
    return target;
}

// ---- FAT16/FAT32 -------------------------------------------------------------

class FatSaver final : public FileSystemSaver {
public:
    FatSaver(ScanResults& results, DevicePtr device, FatVolume volume, bool basicSearch)
        : results_(results), device_(std::move(device)), volume_(std::move(volume)), basic_(basicSearch)
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
        options.isIndexedFolder = [this](std::uint32_t c) { return results_.IsIndexedFolderCluster(c); };
        options.stop = stop;
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
};

// ---- NTFS and exFAT: files from the found-entry store -------------------------

class FoundEntrySaver final : public FileSystemSaver {
public:
    FoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId, FoundEntryWriter writer)
        : results_(results), device_(std::move(device)), rootId_(rootId), writer_(std::move(writer))
    {
    }

    void SaveFolderFiles(SaveSession& session, const std::string& folderPath, const RecoveredFolder& folder) override
    {
        if (folder.selfId == 0 || folder.selfId == kMiscFolderId)
            return;
        SaveEntries(session, folderPath, folder.selfId);
    }

    void SaveRootFiles(SaveSession& session, const std::string& folderPath) override
    {
        SaveEntries(session, folderPath, rootId_);
    }

    void SaveFileRow(SaveSession& session, const std::string& target, const SaveRow& row) override
    {
        ++session.Counters().filesSaved;
        FoundEntry entry;
        entry.name = row.name;
        entry.ownId = row.id;
        entry.size = row.size;
        Write(session, entry, target);
    }

    std::uint64_t CountFolderFiles(const RecoveredFolder& folder, const std::function<bool()>&) override
    {
        if (folder.selfId == 0 || folder.selfId == kMiscFolderId)
            return 0;
        return Entries(folder.selfId).size();
    }

    std::uint64_t CountRootFiles(const std::function<bool()>&) override { return Entries(rootId_).size(); }

private:
    std::vector<FoundEntry> Entries(std::uint64_t parentId)
    {
        auto lock = results_.Lock();
        results_.SortFoundEntries();
        auto [first, last] = results_.FoundEntryRange(parentId);
        const auto& all = std::as_const(results_).FoundEntries();
        std::vector<FoundEntry> out;
        for (std::size_t i = first; i < last && i < all.size(); ++i)
            if (all[i].parentId == parentId)
                out.push_back(all[i]);
        return out;
    }

    void SaveEntries(SaveSession& session, const std::string& folderPath, std::uint64_t parentId)
    {
        for (const FoundEntry& entry : Entries(parentId)) {
            if (session.StopRequested())
                return;
            if (entry.name.empty())
                continue;
            std::string target = FileTarget(session, folderPath, entry.name, "");
            // An entry taken from an index record whose target exists is a duplicate.
            if (entry.text2 == "1" && session.Fs().Exists(target)) {
                ++session.Counters().invalidEntries;
                session.Report().Add(FileOutcome::NotSaved, target, "index entry of a file saved already");
                continue;
            }
            ++session.Counters().filesSaved;
            Write(session, entry, target);
        }
    }

    void Write(SaveSession& session, const FoundEntry& entry, const std::string& target)
    {
        if (!writer_) {
            session.Report().Add(FileOutcome::Failed, target, "no writer for this file system");
            return;
        }
        writer_(session, *device_, entry, target, LastComponent(target));
    }

    ScanResults& results_;
    DevicePtr device_;
    std::uint64_t rootId_;
    FoundEntryWriter writer_;
};

// The checked or partial folders of the tree road, pre-order, with their paths.
struct TreeVisit {
    TreeNodeId node;
    std::string parentPath;
};

}  // namespace

void RegisterFoundEntryWriter(const std::string& fsName, FoundEntryWriter writer)
{
    std::lock_guard<std::mutex> lock(WriterRegistryMutex());
    WriterRegistry()[fsName] = std::move(writer);
}

std::unique_ptr<FileSystemSaver> MakeFatSaver(ScanResults& results, DevicePtr device, FatVolume volume,
                                              bool basicSearch)
{
    return std::make_unique<FatSaver>(results, std::move(device), std::move(volume), basicSearch);
}

std::unique_ptr<FileSystemSaver> MakeFoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId,
                                                     FoundEntryWriter writer)
{
    return std::make_unique<FoundEntrySaver>(results, std::move(device), rootId, std::move(writer));
}

std::unique_ptr<FileSystemSaver> MakeFileSystemSaver(ScanResults& results, const SaveVolume& volume)
{
    if (!volume.device)
        return nullptr;
    if (volume.fsName == "FAT16" || volume.fsName == "FAT32")
        return MakeFatSaver(results, volume.device, volume.fat, volume.recoveryMode != 2);
    if (volume.fsName == "NTFS" || volume.fsName == "exFAT") {
        FoundEntryWriter writer = volume.entryWriter ? volume.entryWriter : FindFoundEntryWriter(volume.fsName);
        // Both scans file the volume's root-level entries under parent id 5.
        return MakeFoundEntrySaver(results, volume.device, kNtfsRootId, std::move(writer));
    }
    return nullptr;
}

std::string TreeItemPath(const TreeModel& tree, TreeNodeId item)
{
    auto lock = tree.Lock();
    std::vector<std::string> parts;
    for (TreeNodeId n = item; n != kNoTreeNode && tree.Parent(n) != kNoTreeNode; n = tree.Parent(n))
        parts.push_back(SanitizeNameComponent(tree.Text(n)));
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        path = path.empty() ? *it : path + "/" + *it;
    return path;
}

void WalkAndSaveTree(SaveSession& session, ScanResults& results, FileSystemSaver& saver)
{
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    if (root == kNoTreeNode)
        return;
    const CheckState rootState = tree.GetCheck(root);
    if (rootState != CheckState::Checked && rootState != CheckState::Partial)
        return;
    const std::string destination = session.Destination();
    std::vector<TreeVisit> stack;
    auto pushChildren = [&](TreeNodeId node, const std::string& path) {
        std::vector<TreeNodeId> children = tree.Children(node);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(TreeVisit{*it, path});
    };
    pushChildren(root, destination);
    while (!stack.empty() && !session.StopRequested()) {
        TreeVisit visit = std::move(stack.back());
        stack.pop_back();
        const CheckState state = tree.GetCheck(visit.node);
        if (state != CheckState::Checked && state != CheckState::Partial)
            continue;
        std::string path = JoinPath(visit.parentPath, SanitizeNameComponent(tree.Text(visit.node)));
        SaveCounters& counters = session.Counters();
        counters.fileBytesDone = 0;
        counters.fileBytesTotal = 0;
        session.SetCurrentItem(tree.Text(visit.node), path);
        if (state == CheckState::Checked) {
            std::string replacement = CreateDestinationFolder(session, path);
            if (!replacement.empty())
                path = replacement;
            ++counters.foldersSaved;
            if (const RecoveredFolder* folder = results.FolderOfItem(visit.node))
                saver.SaveFolderFiles(session, path, *folder);
        } else {
            ++counters.foldersSaved;
        }
        saver.PrepareChildren(visit.node);
        pushChildren(visit.node, path);
    }
    if (rootState == CheckState::Checked && !session.StopRequested())
        saver.SaveRootFiles(session, destination);
}

void CountCheckedTreeItems(ScanResults& results, FileSystemSaver& saver, SaveCounters& counters,
                           const std::function<bool()>& stop)
{
    TreeModel& tree = results.Tree();
    const TreeNodeId root = tree.RootItem();
    if (root == kNoTreeNode)
        return;
    const CheckState rootState = tree.GetCheck(root);
    if (rootState != CheckState::Checked && rootState != CheckState::Partial)
        return;
    auto stopped = [&stop] { return stop && stop(); };
    std::vector<TreeNodeId> stack;
    auto pushChildren = [&](TreeNodeId node) {
        std::vector<TreeNodeId> children = tree.Children(node);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(*it);
    };
    pushChildren(root);
    while (!stack.empty() && !stopped()) {
        TreeNodeId node = stack.back();
        stack.pop_back();
        const CheckState state = tree.GetCheck(node);
        if (state != CheckState::Checked && state != CheckState::Partial)
            continue;
        ++counters.totalFolders;
        if (state == CheckState::Checked)
            if (const RecoveredFolder* folder = results.FolderOfItem(node))
                counters.totalFiles += saver.CountFolderFiles(*folder, stop);
        pushChildren(node);
    }
    if (rootState == CheckState::Checked && !stopped())
        counters.totalFiles += saver.CountRootFiles(stop);
}

namespace {

// A folder row of the list road: the folder and everything below it,
// whatever the check boxes say.
void SaveFolderSubtree(SaveSession& session, ScanResults& results, FileSystemSaver& saver, TreeNodeId item,
                       const std::string& path)
{
    TreeModel& tree = results.Tree();
    std::vector<TreeVisit> stack{TreeVisit{item, path}};
    bool first = true;
    while (!stack.empty() && !session.StopRequested()) {
        TreeVisit visit = std::move(stack.back());
        stack.pop_back();
        std::string folderPath =
            first ? visit.parentPath
                  : JoinPath(visit.parentPath, SanitizeNameComponent(tree.Text(visit.node)));
        if (!first)
            ++session.Counters().foldersSaved;
        first = false;
        std::string replacement = CreateDestinationFolder(session, folderPath);
        if (!replacement.empty())
            folderPath = replacement;
        if (const RecoveredFolder* folder = results.FolderOfItem(visit.node))
            saver.SaveFolderFiles(session, folderPath, *folder);
        saver.PrepareChildren(visit.node);
        std::vector<TreeNodeId> children = tree.Children(visit.node);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(TreeVisit{*it, folderPath});
    }
}

}  // namespace

void SaveSelectedRows(SaveSession& session, ScanResults& results, FileSystemSaver& saver,
                      const std::vector<SaveRow>& rows)
{
    std::string destination = session.Destination();
    std::string replacement = CreateDestinationFolder(session, destination);
    if (!replacement.empty())
        destination = replacement;
    if (!session.Fs().IsDirectory(destination)) {
        // Nothing can be saved: the reason is in the report (recorded when
        // the folder could not be made), never a silent end.
        ReportFolderFailure(session, destination, session.Fs().Exists(destination) ? 0 : ENOENT);
        return;
    }
    for (const SaveRow& row : rows) {
        if (session.StopRequested())
            break;
        if (row.isFolder) {
            ++session.Counters().foldersSaved;
            SaveFolderSubtree(session, results, saver, row.item,
                              JoinPath(destination, SanitizeNameComponent(row.name)));
        } else {
            saver.SaveFileRow(session, FileTarget(session, destination, row.name, row.shortName), row);
        }
    }
}

void CountSelectedRows(ScanResults& results, FileSystemSaver& saver, const std::vector<SaveRow>& rows,
                       SaveCounters& counters, const std::function<bool()>& stop)
{
    auto stopped = [&stop] { return stop && stop(); };
    TreeModel& tree = results.Tree();
    for (const SaveRow& row : rows) {
        if (stopped())
            return;
        if (!row.isFolder) {
            ++counters.totalFiles;
            continue;
        }
        ++counters.totalFolders;
        std::vector<TreeNodeId> stack{row.item};
        bool first = true;
        while (!stack.empty() && !stopped()) {
            TreeNodeId node = stack.back();
            stack.pop_back();
            if (!first)
                ++counters.totalFolders;
            first = false;
            if (const RecoveredFolder* folder = results.FolderOfItem(node))
                counters.totalFiles += saver.CountFolderFiles(*folder, stop);
            for (TreeNodeId child : tree.Children(node))
                stack.push_back(child);
        }
    }
}

}  // namespace torvane
