#include "fsrecovery/deep/deep_arrangement.h"

#include "fsrecovery/store/lost_directory_arrangement.h"
#include "fsrecovery/store/name_rules.h"

#include <cstdio>
#include <string>
#include <unordered_set>

namespace torvane {

std::string DeepStep3Of7Text(std::size_t number, std::size_t count)
{
    std::string counter;
    if (count != 1) {
        char text[48];
        std::snprintf(text, sizeof text, "( %zu / %zu )", number, count);
        counter = text;
    }
    return "[ Step 3 of 7 ] Arranging Multiple File System " + counter + " Directory Information. Please wait...";
}

void DeepFolderIndex::Update(ScanResults& results)
{
    auto lk = results.Lock();
    for (; indexed_ < results.FolderCount(); ++indexed_) {
        const RecoveredFolder* rec = results.FolderAt(indexed_);
        if (rec)
            items_.emplace(std::make_pair(rec->fsKey, static_cast<std::uint64_t>(rec->selfId)), rec->treeItem);
    }
}

TreeNodeId DeepFolderIndex::Find(std::uint64_t fsKey, std::uint64_t id) const
{
    auto it = items_.find(std::make_pair(fsKey, static_cast<std::uint64_t>(static_cast<std::uint32_t>(id))));
    return it == items_.end() ? kNoTreeNode : it->second;
}

void DeepFolderIndex::Clear()
{
    items_.clear();
    indexed_ = 0;
}

namespace {

bool IsRootLevel(const ScanResults& results, bool exfat, const PendingDirectory& row)
{
    if (row.parent == 0)
        return true;
    if (exfat && row.parent == ExfatRootFolderId(results.ExfatRootCluster()))
        return true;
    return row.parent == kNtfsRootId && row.self == kMiscFolderId;
}

TreeNodeId FindParent(ScanResults& results, DeepFolderIndex& index, bool keyed, const PendingDirectory& row)
{
    if (!keyed)
        return results.TreeTable().Find(row.parent);
    index.Update(results);
    return index.Find(row.cluster0Start, row.parent);
}

// MoveChildRowsIntoTree of one folder, its own file system's rows only in keyed mode.
void MoveChildren(ScanResults& results, const RecoveredFolder& rec, bool keyed)
{
    if (!keyed) {
        MoveChildRowsIntoTree(results, rec.selfId, rec.treeItem);
        return;
    }
    PendingDirectoryTable& table = results.DirList();
    if (!table.Sorted())
        table.SortByParent();
    auto [lo, hi] = table.ParentRange(rec.selfId);
    for (std::size_t i = lo; i < hi; ++i) {
        PendingDirectory& row = table.Row(i);
        if (row.placed || row.parent != rec.selfId || row.cluster0Start != rec.fsKey)
            continue;
        results.SetSeveralFoldersFlag(true);
        results.InsertRecoveredFolder(rec.treeItem, row.name, static_cast<std::uint32_t>(row.self), row.date,
                                      row.time, rec.selfId, row.deleted ? 1 : 0, row.cluster0Start, 0);
        table.MarkPlaced(i);
    }
}

}  // namespace

int ArrangeDeepPendingDirectories(ScanResults& results, DeepFolderIndex& index, const DeepArrangeOptions& options)
{
    try {
        auto lk = results.Lock();
        PendingDirectoryTable& table = results.DirList();
        TreeModel& tree = results.Tree();
        ScanSink* sink = options.quick ? nullptr : options.sink;
        const std::size_t n = table.Count();
        if (n >= 2)
            results.SetSeveralFoldersFlag(true);
        if (!options.quick)
            results.ReserveFolders(results.FolderCount() + n);

        // Placement: root-level rows, and rows whose parent is in the tree.
        std::uint64_t rootLevel = 0, shown = 0;
        for (std::size_t i = 0; i < n && i < table.Count(); ++i) {
            PendingDirectory& row = table.Row(i);
            if (row.placed)
                continue;
            const std::uint64_t date = row.date & 0xFFFF, time = row.time & 0xFFFF;
            if (IsRootLevel(results, options.exfat, row)) {
                results.InsertRecoveredFolder(tree.RootItem(), row.name, row.self, date, time, row.parent,
                                              row.deleted ? 1 : 0, row.cluster0Start, 0);
                table.MarkPlaced(i);
                ++rootLevel;
                const std::uint64_t pos = rootLevel * 100 / n;
                if (sink && pos > shown) {
                    shown = pos;
                    sink->Progress(pos);
                }
                continue;
            }
            const TreeNodeId parentItem = FindParent(results, index, options.keyed, row);
            if (parentItem != kNoTreeNode) {
                results.InsertRecoveredFolder(parentItem, row.name, row.self, row.date,
                                              static_cast<std::uint32_t>(row.time), row.parent, row.deleted ? 1 : 0,
                                              row.cluster0Start, 0);
                table.MarkPlaced(i);
            }
        }
        if (options.quick)
            return 1;

        // Step 5: every folder takes its pending sub-folders (folders added
        // during the walk included, so whole subtrees come in one walk).
        if (sink) {
            sink->StepText(kDeepStep5Of7Text);
            sink->ProgressRange(1, results.FolderCount() + n);
        }
        tree.RequestExpand(tree.RootItem());
        results.ResetRootItemText();
        if (!table.Sorted())
            table.SortByParent();
        std::uint64_t pending = 0;
        for (const PendingDirectory& r : table.Rows())
            pending += r.placed ? 0 : 1;
        for (std::size_t seq = 0; seq < results.FolderCount() && pending > 0; ++seq) {
            const RecoveredFolder* rec = results.FolderAt(seq);
            const std::size_t before = results.FolderCount();
            if (rec->selfId != kMiscFolderId)
                MoveChildren(results, *rec, options.keyed);
            const std::uint64_t moved = results.FolderCount() - before;
            pending = moved >= pending ? 0 : pending - moved;
            if (sink)
                sink->Progress(seq + 1);
        }

        // Step 6.
        if (sink)
            sink->StepText(kDeepStep6Of7Text);
        if (options.exfat) {
            std::uint64_t nameless = 0;
            AddMissingParentFolders(results, true, nameless);
            if (options.keyed)
                BuildDeepMiscellaneousFolder(results, index, sink);
            else
                BuildMiscellaneousFolder(results, false, sink);
            if (sink)
                sink->StepText(kDeepStep7Of7Text);
        } else {
            if (sink)
                sink->ProgressRange(1, results.FolderCount());
            for (std::size_t seq = 0; seq < results.FolderCount(); ++seq) {
                RecoveredFolder* rec = results.FolderAt(seq);
                if (options.nameFolder && rec->selfId != kMiscFolderId &&
                    (tree.ChildCount(rec->treeItem) > 0 || rec->name.rfind("DIR", 0) == 0)) {
                    options.nameFolder(*rec);
                    rec->named = 1;
                }
                if (sink)
                    sink->Progress(seq + 1);
            }
            if (tree.RootItem() != kNoTreeNode)
                tree.SortChildren(tree.RootItem());
        }
        if (results.MiscFolderItem() != kNoTreeNode)
            tree.RequestExpand(results.MiscFolderItem());
    } catch (const std::exception&) {
        // What was placed stays; the rest waits for the next pass.
    }
    return 1;
}

void AddMissingParentFolders(ScanResults& results, bool exfat, std::uint64_t& nameless)
{
    auto lk = results.Lock();
    results.SortFoundEntries();
    const FoundEntryStore& store = results.FoundEntries();
    bool haveLast = false;
    std::uint64_t last = 0;
    std::vector<PendingDirectory> rows;
    for (const FoundEntry& e : store) {
        const std::uint64_t key = e.parentId;
        if (key == 0 || key == kNtfsRootId)
            continue;
        if (haveLast && key == last)
            continue;
        haveLast = true;
        last = key;
        if (results.TreeTable().Contains(key))
            continue;
        if (exfat && key == ExfatRootFolderId(results.ExfatRootCluster()))
            continue;
        ++nameless;
        results.FoundFolderCount.fetch_add(1);
        PendingDirectory row;
        row.name = "DIR" + std::to_string(nameless);
        row.self = key;
        row.parent = kMiscFolderId;
        if (exfat) {
            row.date = e.FatDate();
            row.time = e.FatTime();
        }
        row.cluster0Start = e.fsKey;
        rows.push_back(std::move(row));
    }
    for (PendingDirectory& r : rows)
        results.AddPendingRow(std::move(r));
}

void BuildDeepMiscellaneousFolder(ScanResults& results, DeepFolderIndex& index, ScanSink* sink)
{
    auto lk = results.Lock();
    results.PurgePlacedPendingDirectories(sink);
    PendingDirectoryTable& table = results.DirList();
    if (table.Empty() || results.FolderCount() == 0)
        return;
    TreeNodeId misc = results.MiscFolderItem();
    if (misc == kNoTreeNode || !results.Tree().IsValid(misc)) {
        misc = results.InsertRecoveredFolder(results.Tree().RootItem(), kMiscFolderName, kMiscFolderId, 0,
                                             CurrentFatTimeWord(), kNtfsRootId, 0, 0, 0);
        results.SetMiscFolderItem(misc);
    }
    struct PairHash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& k) const
        {
            return std::hash<std::uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
        }
    };
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, PairHash> pendingSelves;
    for (const PendingDirectory& row : table.Rows())
        if (!row.placed)
            pendingSelves.insert({row.cluster0Start, row.self});
    auto place = [&](std::size_t r) {
        PendingDirectory& row = table.Row(r);
        index.Update(results);
        const TreeNodeId parentItem = index.Find(row.cluster0Start, row.parent);
        const std::uint64_t time = static_cast<std::uint32_t>(row.time);
        if (parentItem != kNoTreeNode)
            results.InsertRecoveredFolder(parentItem, row.name, row.self, row.date, time, row.parent,
                                          row.deleted ? 1 : 0, row.cluster0Start, 0);
        else
            results.InsertRecoveredFolder(misc, row.name, row.self, row.date, time, kMiscFolderId,
                                          row.deleted ? 1 : 0, row.cluster0Start, 0);
        table.MarkPlaced(r);
    };
    auto takeChildren = [&](std::size_t fromSequence) {
        for (std::size_t seq = fromSequence; seq < results.FolderCount(); ++seq) {
            const RecoveredFolder* rec = results.FolderAt(seq);
            if (rec->selfId != kMiscFolderId)
                MoveChildren(results, *rec, true);
        }
    };
    const std::size_t firstNew = results.FolderCount();
    for (std::size_t r = 0; r < table.Count(); ++r) {
        const PendingDirectory& row = table.Row(r);
        if (row.placed || row.parent == 0)
            continue;
        index.Update(results);
        if (index.Find(row.cluster0Start, row.parent) != kNoTreeNode ||
            !pendingSelves.count({row.cluster0Start, row.parent}))
            place(r);
    }
    takeChildren(firstNew);
    for (std::size_t r = 0; r < table.Count(); ++r) {
        const PendingDirectory& row = table.Row(r);
        if (row.placed || row.parent == 0)
            continue;
        const std::size_t before = results.FolderCount();
        place(r);
        takeChildren(before);
    }
    table.PurgePlaced();
}

}  // namespace torvane
