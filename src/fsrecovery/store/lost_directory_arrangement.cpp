#include "fsrecovery/store/lost_directory_arrangement.h"

#include "fsrecovery/store/name_rules.h"

#include <string>
#include <unordered_set>

namespace torvane {
namespace {

bool IsFatFamily(FsKind fs) { return IsFatKind(fs) || fs == FsKind::Exfat; }

// Root-level rows of the FAT/exFAT arrangement. On FAT16/FAT32 only parent 0
// is the root; on exFAT the root's own cluster (ExfatRootFolderId) and 0. A
// folder may sit at cluster 5 on either (on exFAT the first folder of every
// card of 32 GiB and more, whose root is at cluster 4): it is an ordinary
// folder. The miscellaneous folder's own row (parent 5) is root-level.
bool IsFatRootLevel(const ScanResults& results, FsKind fs, const PendingDirectory& row)
{
    if (row.parent == 0)
        return true;
    if (fs == FsKind::Exfat && row.parent == ExfatRootFolderId(results.ExfatRootCluster()))
        return true;
    return row.parent == kNtfsRootId && row.self == kMiscFolderId;
}

bool IsRootLevelLeftover(const ScanResults& results, FsKind fs, const PendingDirectory& row)
{
    if (IsFatFamily(fs))
        return IsFatRootLevel(results, fs, row);
    return row.parent == 0 || row.parent == kNtfsRootId;
}

std::uint64_t PendingCount(PendingDirectoryTable& table)
{
    std::uint64_t n = 0;
    for (const auto& r : table.Rows())
        n += r.placed ? 0 : 1;
    return n;
}

}  // namespace

int MoveChildRowsIntoTree(ScanResults& results, std::uint64_t key, TreeNodeId parentItem)
{
    try {
        auto lk = results.Lock();
        PendingDirectoryTable& table = results.DirList();
        if (!table.Sorted())
            table.SortByParent();
        auto [lo, hi] = table.ParentRange(static_cast<std::uint32_t>(key));
        const bool deep = results.RecoveryMode() == 2;
        for (std::size_t i = lo; i < hi; ++i) {
            PendingDirectory& row = table.Row(i);
            if (row.placed || row.parent != static_cast<std::uint32_t>(key))
                continue;
            std::string name = row.name;
            if (name.empty())
                name = "DIR_" + std::to_string(ScanResults::NextUnnamedDirNumber());
            results.SetSeveralFoldersFlag(true);
            std::uint32_t self = static_cast<std::uint32_t>(row.self);
            std::uint32_t parent = static_cast<std::uint32_t>(row.parent);
            results.InsertRecoveredFolder(parentItem, name, self, row.date, row.time, parent, row.deleted ? 1 : 0,
                                          deep ? row.cluster0Start : 0, deep ? 0 : row.fileCount);
            table.MarkPlaced(i);
        }
    } catch (const std::exception&) {
        // A failed insert leaves the rest pending; the steps go on.
    }
    return 1;
}

void BuildMiscellaneousFolder(ScanResults& results, bool interim, ScanSink* sink, const StopTest& stop,
                              std::uint64_t deepFsKey)
{
    auto lk = results.Lock();
    results.PurgePlacedPendingDirectories(sink);
    PendingDirectoryTable& table = results.DirList();
    if (table.Empty() || results.FolderCount() == 0)
        return;
    const FsKind fs = results.Kind();
    const bool deep = results.RecoveryMode() == 2;
    TreeNodeId misc = results.MiscFolderItem();
    if (misc == kNoTreeNode || !results.Tree().IsValid(misc)) {
        misc = results.InsertRecoveredFolder(results.Tree().RootItem(), kMiscFolderName, kMiscFolderId, 0,
                                             CurrentFatTimeWord(), kNtfsRootId, 0, 0, 0);
        results.SetMiscFolderItem(misc);
    }
    // Rows whose parent is in the tree go under it; rows whose parent is no
    // pending folder either (the tops of lost subtrees) go under the
    // miscellaneous folder. Their own pending sub-folders then follow them
    // by the same child walk as step 4, so a lost subtree stays whole
    // whatever the order of its ids. Folders that only name each other
    // (a cycle) are taken one at a time, first row first.
    std::unordered_set<std::uint64_t> pendingSelves;
    for (const PendingDirectory& row : table.Rows())
        if (!row.placed && !IsRootLevelLeftover(results, fs, row))
            pendingSelves.insert(row.self);
    if (sink)
        sink->ProgressRange(0, table.Count());
    auto place = [&](std::size_t r) {
        PendingDirectory& row = table.Row(r);
        std::uint64_t time = static_cast<std::uint32_t>(row.time);
        std::uint64_t fsKey = deep ? row.cluster0Start : 0;
        TreeNodeId parentItem = results.TreeTable().Find(row.parent);
        if (parentItem != kNoTreeNode)
            results.InsertRecoveredFolder(parentItem, row.name, row.self, row.date, time, row.parent,
                                          row.deleted ? 1 : 0, fsKey, 0);
        else
            results.InsertRecoveredFolder(misc, row.name, row.self, row.date, time, kMiscFolderId, row.deleted ? 1 : 0,
                                          fsKey, 0);
        table.MarkPlaced(r);
    };
    auto takeChildren = [&](std::size_t fromSequence) {
        for (std::size_t seq = fromSequence; seq < results.FolderCount(); ++seq) {
            RecoveredFolder* rec = results.FolderAt(seq);
            if (rec->selfId != kMiscFolderId)
                MoveChildRowsIntoTree(results, rec->selfId, rec->treeItem);
        }
    };
    const std::size_t firstNew = results.FolderCount();
    bool stopped = false;
    for (std::size_t r = 0; r < table.Count(); ++r) {
        if (sink)
            sink->Progress(r + 1);
        if (interim && stop && stop()) {
            stopped = true;
            break;
        }
        const PendingDirectory& row = table.Row(r);
        if (row.placed || IsRootLevelLeftover(results, fs, row))
            continue;
        if (results.TreeTable().Contains(row.parent) || !pendingSelves.count(row.parent))
            place(r);
    }
    if (!stopped) {
        takeChildren(firstNew);
        for (std::size_t r = 0; r < table.Count(); ++r) {
            const PendingDirectory& row = table.Row(r);
            if (row.placed || IsRootLevelLeftover(results, fs, row))
                continue;
            std::size_t before = results.FolderCount();
            place(r);
            takeChildren(before);
        }
    }
    table.PurgePlaced();

    // Root-directory names whose cluster held no directory (Deep; empty after the Basic steps).
    for (const RootDirectoryName& n : results.DirNameList().LiveRows())
        results.InsertRecoveredFolder(misc, n.name, n.self, n.date, n.time, kMiscFolderId, 1, deep ? deepFsKey : 0, 0);
}

int ArrangeBasicFatDirectories(ScanResults& results, ScanSink* sink, bool interim, const StopTest& stop)
{
    try {
        auto lk = results.Lock();
        PendingDirectoryTable& table = results.DirList();
        const FsKind fs = results.Kind();
        TreeModel& tree = results.Tree();

        // Step 3: rows whose parent is the root or already in the tree.
        if (!interim)
            results.ReserveFolders(results.FolderCount() + table.Count());
        if (!interim && sink)
            sink->ProgressRange(0, table.Count());
        for (std::size_t i = 0; i < table.Count(); ++i) {
            if (interim) {
                if (stop && stop())
                    break;
            } else if (sink) {
                sink->Progress(i);
            }
            PendingDirectory& row = table.Row(i);
            if (row.placed || !IsFatFamily(fs))
                continue;
            std::uint64_t date = row.date & 0xFFFF;
            std::uint64_t time = row.time & 0xFFFF;
            if (IsFatRootLevel(results, fs, row)) {
                if (i >= 2)
                    results.SetSeveralFoldersFlag(true);
                results.InsertRecoveredFolder(tree.RootItem(), row.name, row.self, date, time, row.parent,
                                              row.deleted ? 1 : 0, 0, row.fileCount);
                table.MarkPlaced(i);
            } else {
                TreeNodeId parentItem = results.TreeTable().Find(row.parent);
                if (parentItem != kNoTreeNode) {
                    results.InsertRecoveredFolder(parentItem, row.name, row.self, date, time, row.parent,
                                                  row.deleted ? 1 : 0, 0, 0);
                    table.MarkPlaced(i);
                }
            }
        }
        if (interim)
            return 1;

        // Step 4: every folder takes its pending children, folders appended
        // during the walk included, so whole subtrees are placed in one walk.
        if (sink) {
            sink->Progress(table.Count());
            sink->StepText(kStep4Of5Text);
        }
        tree.RequestExpand(tree.RootItem());
        results.ResetRootItemText();
        if (!table.Sorted())
            table.SortByParent();
        const std::size_t rowsBeforeStep4 = table.Count();
        // The rows step 3 placed go now rather than at step 5: the child walk
        // below then looks its parents up among the few rows still pending,
        // an index that stays in cache, instead of among every row found.
        // The purge keeps the order (and so the sort) of the rows left.
        table.PurgePlaced();
        std::uint64_t pending = PendingCount(table);
        if (sink)
            sink->ProgressRange(1, results.FolderCount() + rowsBeforeStep4);
        for (std::size_t seq = 0; seq < results.FolderCount() && pending > 0; ++seq) {
            RecoveredFolder* rec = results.FolderAt(seq);
            if (IsFatFamily(fs)) {
                std::size_t before = results.FolderCount();
                MoveChildRowsIntoTree(results, rec->selfId, rec->treeItem);
                std::uint64_t moved = results.FolderCount() - before;
                pending = moved >= pending ? 0 : pending - moved;
            }
            if (sink)
                sink->Progress(seq + 1);
        }

        // Step 5: what is left.
        if (sink)
            sink->StepText(kStep5Of5Text);
        BuildMiscellaneousFolder(results, false, sink);
        if (results.MiscFolderItem() != kNoTreeNode)
            tree.RequestExpand(results.MiscFolderItem());
    } catch (const std::exception&) {
    }
    return 1;
}

int ArrangeLostDirectories(ScanResults& results, bool withWindow, ScanSink* sink, bool interim,
                           const StopTest& stop, const std::function<void()>& addMissingParents)
{
    try {
        auto lk = results.Lock();
        PendingDirectoryTable& table = results.DirList();
        TreeModel& tree = results.Tree();
        const bool deep = results.RecoveryMode() == 2;

        const std::size_t n = table.Count();
        if (n >= 2)
            results.SetSeveralFoldersFlag(true);
        if (!interim)
            results.ReserveFolders(results.FolderCount() + n);
        if (!interim && sink)
            sink->ProgressRange(0, n);
        for (std::size_t i = 0; i < n && i < table.Count(); ++i) {
            if (interim && withWindow) {
                if (stop && stop())
                    break;
            } else if (!interim && sink) {
                sink->Progress(i);
            }
            PendingDirectory& row = table.Row(i);
            if (row.placed)
                continue;
            if (row.parent == kMiscFolderId && row.self == kMiscFolderId)
                row.parent = kNtfsRootId;
            std::uint64_t fsKey = deep ? row.cluster0Start : 0;
            std::uint64_t time = static_cast<std::uint32_t>(row.time);
            if (row.parent == kNtfsRootId && row.self != kNtfsRootId) {
                results.InsertRecoveredFolder(tree.RootItem(), row.name, row.self, row.date, time, row.parent,
                                              row.deleted ? 1 : 0, fsKey, 0);
                table.MarkPlaced(i);
            } else {
                TreeNodeId parentItem = results.TreeTable().Find(row.parent);
                if (parentItem != kNoTreeNode) {
                    results.InsertRecoveredFolder(parentItem, row.name, row.self, row.date, time, row.parent,
                                                  row.deleted ? 1 : 0, fsKey, 0);
                    table.MarkPlaced(i);
                }
            }
        }
        if (!withWindow || interim) {
            if (results.MiscFolderItem() != kNoTreeNode)
                tree.RequestExpand(results.MiscFolderItem());
            return 1;
        }

        // Step 4.
        if (sink)
            sink->StepText(deep ? kStep4Of6Text : kStep4Of5Text);
        tree.RequestExpand(tree.RootItem());
        results.ResetRootItemText();
        if (!table.Sorted())
            table.SortByParent();
        std::uint64_t pending = PendingCount(table);
        if (sink)
            sink->ProgressRange(1, results.FolderCount() + n);
        for (std::size_t seq = 0; seq < results.FolderCount() && pending > 0;) {
            RecoveredFolder* rec = results.FolderAt(seq);
            std::uint32_t self = rec->selfId;
            std::size_t before = results.FolderCount();
            MoveChildRowsIntoTree(results, self, rec->treeItem);
            std::uint64_t moved = results.FolderCount() - before;
            pending = moved >= pending ? 0 : pending - moved;
            ++seq;
            while (seq < results.FolderCount() && results.FolderAt(seq)->selfId == self)
                ++seq;
            if (sink)
                sink->Progress(seq);
        }

        // Step 5 (and Deep's step 6).
        if (sink)
            sink->StepText(deep ? kStep5Of6Text : kStep5Of5Text);
        if (deep) {
            if (addMissingParents)
                addMissingParents();
            if (sink)
                sink->StepText(kStep6Of6Text);
        }
        BuildMiscellaneousFolder(results, false, sink);
        // The folders directly under "Root" in text order.
        if (tree.RootItem() != kNoTreeNode)
            tree.SortChildren(tree.RootItem());
        if (results.MiscFolderItem() != kNoTreeNode)
            tree.RequestExpand(results.MiscFolderItem());
    } catch (const std::exception&) {
    }
    return 1;
}

}  // namespace torvane
