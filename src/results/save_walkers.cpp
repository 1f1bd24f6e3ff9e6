#include "results/save_walkers.h"

#include "results/save_destination.h"

#include <cerrno>
#include <algorithm>
#include <exception>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <mutex>
#include <utility>

namespace torvane {
namespace {

// The checked or partial folders of the tree road, pre-order, with their paths.
struct TreeVisit {
    TreeNodeId node;
    std::string parentPath;
    std::string name;   // the folder's name under its parent
};

// Folder names that never repeat within one parent: a deleted folder and a
// live folder of the same name would be merged, and their files would take
// each other's names. A live folder keeps its name; the others get the
// conflict rule's suffix ("Photos_zq_0"), deleted ones after live ones.
// `names` are sanitized; `deleted` tells which are deleted folders.
std::vector<std::string> DistinctFolderNames(std::vector<std::string> names, const std::vector<bool>& deleted)
{
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return deleted[a] < deleted[b]; });
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, std::uint64_t> nextSuffix;
    for (std::size_t i : order) {
        std::string& name = names[i];
        if (taken.insert(name).second)
            continue;
        std::uint64_t& n = nextSuffix[name];
        std::string candidate;
        do
            candidate = name + "_zq_" + std::to_string(n++);
        while (!taken.insert(candidate).second);
        name = candidate;
    }
    return names;
}

// The miscellaneous folder when it gathered nothing: no folder is made for it.
bool IsEmptyMiscFolder(const TreeModel& tree, TreeNodeId node, const RecoveredFolder* folder, SaverSet& savers)
{
    if (!folder || folder->selfId != kMiscFolderId || tree.ChildCount(node) > 0)
        return false;
    FileSystemSaver* saver = savers.ForFolder(folder);
    return !saver || saver->CountFolderFiles(*folder, {}) == 0;
}

// The names `node`'s child folders get under their parent (DistinctFolderNames).
std::vector<std::pair<TreeNodeId, std::string>> ChildFolderNames(ScanResults& results, TreeNodeId node)
{
    TreeModel& tree = results.Tree();
    std::vector<TreeNodeId> children = tree.Children(node);
    std::vector<std::string> names(children.size());
    std::vector<bool> deleted(children.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        names[i] = SanitizeNameComponent(tree.Text(children[i]));
        const RecoveredFolder* f = results.FolderOfItem(children[i]);
        deleted[i] = f && f->deleted;
    }
    names = DistinctFolderNames(std::move(names), deleted);
    std::vector<std::pair<TreeNodeId, std::string>> named(children.size());
    for (std::size_t i = 0; i < children.size(); ++i)
        named[i] = {children[i], std::move(names[i])};
    return named;
}

}  // namespace

std::string FileTarget(SaveSession& session, const std::string& folderPath, const std::string& rawName,
                       const std::string& preset)
{
    std::string name = SanitizeNameComponent(rawName);
    std::string target = JoinPath(folderPath, name);
    // No preset stays no preset (a sanitized empty name would be "_").
    const std::string safePreset = preset.empty() ? std::string() : SanitizeNameComponent(preset);
    std::string shortName = ShortenTargetName(session, target, folderPath, name, safePreset);
    if (!shortName.empty())
        target = JoinPath(folderPath, shortName);
    return target;
}

FileSystemSaver* SaverSet::ForVolume(const std::shared_ptr<FileSystemVolume>& volume)
{
    if (!volume)
        return nullptr;
    auto it = savers_.find(volume.get());
    if (it == savers_.end())
        it = savers_.emplace(volume.get(), std::make_pair(volume, volume->MakeSaver(results_, basic_))).first;
    return it->second.second.get();
}

FileSystemSaver* SaverSet::ForFolder(const RecoveredFolder* folder)
{
    return ForVolume(volumes_.OfFolder(folder));
}

std::vector<FileSystemSaver*> SaverSet::ForRoots()
{
    std::vector<FileSystemSaver*> savers;
    for (const std::shared_ptr<FileSystemVolume>& volume : volumes_.All())
        if (FileSystemSaver* saver = ForVolume(volume))
            savers.push_back(saver);
    return savers;
}

FileSystemSaver* SaverSet::ForRow(const SaveRow& row)
{
    if (row.volumeRow != 0) {
        const std::vector<std::shared_ptr<FileSystemVolume>> all = volumes_.All();
        if (row.volumeRow <= all.size() && IsFatKind(all[row.volumeRow - 1]->Kind()))
            return ForVolume(all[row.volumeRow - 1]);
    }
    return ForKey(row.fsKey);
}

FileSystemSaver* SaverSet::ForKey(std::uint64_t fsKey)
{
    std::shared_ptr<FileSystemVolume> volume = volumes_.Find(fsKey);
    return ForVolume(volume ? volume : volumes_.First());
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

void WalkAndSaveTree(SaveSession& session, ScanResults& results, SaverSet& savers)
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
        auto children = ChildFolderNames(results, node);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(TreeVisit{it->first, path, std::move(it->second)});
    };
    pushChildren(root, destination);
    while (!stack.empty() && !session.StopRequested()) {
        TreeVisit visit = std::move(stack.back());
        stack.pop_back();
        const CheckState state = tree.GetCheck(visit.node);
        if (state != CheckState::Checked && state != CheckState::Partial)
            continue;
        if (IsEmptyMiscFolder(tree, visit.node, results.FolderOfItem(visit.node), savers))
            continue;
        std::string path = JoinPath(visit.parentPath, visit.name);
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
                if (FileSystemSaver* saver = savers.ForFolder(folder))
                    saver->SaveFolderFiles(session, path, *folder);
        } else {
            ++counters.foldersSaved;
        }
        if (FileSystemSaver* saver = savers.ForItem(visit.node))
            saver->PrepareChildren(visit.node);
        pushChildren(visit.node, path);
    }
    if (rootState == CheckState::Checked)
        for (FileSystemSaver* saver : savers.ForRoots())
            if (!session.StopRequested())
                saver->SaveRootFiles(session, destination);
}

void CountCheckedTreeItems(ScanResults& results, SaverSet& savers, SaveCounters& counters,
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
        if (IsEmptyMiscFolder(tree, node, results.FolderOfItem(node), savers))
            continue;
        ++counters.totalFolders;
        if (state == CheckState::Checked)
            if (const RecoveredFolder* folder = results.FolderOfItem(node))
                if (FileSystemSaver* saver = savers.ForFolder(folder))
                    counters.totalFiles += saver->CountFolderFiles(*folder, stop);
        pushChildren(node);
    }
    if (rootState == CheckState::Checked)
        for (FileSystemSaver* saver : savers.ForRoots())
            if (!stopped())
                counters.totalFiles += saver->CountRootFiles(stop);
}

namespace {

// A folder row of the list road: the folder and everything below it,
// whatever the check boxes say.
void SaveFolderSubtree(SaveSession& session, ScanResults& results, SaverSet& savers, TreeNodeId item,
                       const std::string& path)
{
    std::vector<TreeVisit> stack{TreeVisit{item, path, {}}};
    bool first = true;
    while (!stack.empty() && !session.StopRequested()) {
        TreeVisit visit = std::move(stack.back());
        stack.pop_back();
        std::string folderPath = first ? visit.parentPath : JoinPath(visit.parentPath, visit.name);
        if (!first)
            ++session.Counters().foldersSaved;
        first = false;
        std::string replacement = CreateDestinationFolder(session, folderPath);
        if (!replacement.empty())
            folderPath = replacement;
        const RecoveredFolder* folder = results.FolderOfItem(visit.node);
        if (FileSystemSaver* saver = savers.ForFolder(folder)) {
            if (folder)
                saver->SaveFolderFiles(session, folderPath, *folder);
            saver->PrepareChildren(visit.node);
        }
        auto children = ChildFolderNames(results, visit.node);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(TreeVisit{it->first, folderPath, std::move(it->second)});
    }
}

}  // namespace

void SaveSelectedRows(SaveSession& session, ScanResults& results, SaverSet& savers,
                      const std::vector<SaveRow>& rows)
{
    if (!PrepareDestinationRoot(session))
        return;
    const std::string destination = session.Destination();
    // Folder rows of one name (a deleted and a live folder) stay apart.
    std::vector<std::string> folderNames(rows.size());
    std::vector<bool> deleted(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        folderNames[i] = rows[i].isFolder ? SanitizeNameComponent(rows[i].name) : std::string();
        deleted[i] = rows[i].deleted;
    }
    folderNames = DistinctFolderNames(std::move(folderNames), deleted);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const SaveRow& row = rows[i];
        if (session.StopRequested())
            break;
        if (row.isFolder) {
            ++session.Counters().foldersSaved;
            SaveFolderSubtree(session, results, savers, row.item, JoinPath(destination, folderNames[i]));
        } else {
            const std::string target = FileTarget(session, destination, row.name, row.shortName);
            if (FileSystemSaver* saver = savers.ForRow(row))
                saver->SaveFileRow(session, target, row);
            else
                session.Report().Add(FileOutcome::Failed, target, "no volume to read it from");
        }
    }
}

void CountSelectedRows(ScanResults& results, SaverSet& savers, const std::vector<SaveRow>& rows,
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
                if (FileSystemSaver* saver = savers.ForFolder(folder))
                    counters.totalFiles += saver->CountFolderFiles(*folder, stop);
            for (TreeNodeId child : tree.Children(node))
                stack.push_back(child);
        }
    }
}

std::optional<std::uint64_t> CountEveryFoundFile(ScanResults& results,
                                                 const std::vector<std::shared_ptr<FileSystemVolume>>& found,
                                                 const std::function<bool()>& stop)
{
    VolumeSet volumes;
    for (const std::shared_ptr<FileSystemVolume>& v : found)
        if (v)
            volumes.Add(v);
    if (volumes.Empty())
        return std::nullopt;
    SaverSet savers(results, volumes, false);
    const auto stopped = [&stop] { return stop && stop(); };
    std::uint64_t files = 0;
    try {
        const TreeNodeId root = results.Tree().RootItem();
        for (RecoveredFolder* folder = results.FirstFolder(); folder && !stopped(); folder = folder->next)
            if (folder->treeItem == root)
                continue;   // the root's files are the volumes' root files below
            else if (FileSystemSaver* saver = savers.ForFolder(folder))
                files += saver->CountFolderFiles(*folder, stop);
        for (FileSystemSaver* saver : savers.ForRoots())
            if (!stopped())
                files += saver->CountRootFiles(stop);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (stopped())
        return std::nullopt;
    return files;
}

}  // namespace torvane
