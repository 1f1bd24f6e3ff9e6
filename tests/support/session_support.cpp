#include "support/session_support.h"

#include "e2e/sha256.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_list_columns.h"

namespace torvane::test {

SavedEverything SaveEverything(SearchSession& session, const std::filesystem::path& out, JobEvents* events)
{
    SavedEverything result;
    TreeModel& tree = session.Results().Tree();
    if (tree.RootItem() == kNoTreeNode)
        return result;
    tree.SetSubtreeCheck(tree.RootItem(), CheckState::Checked);
    SaveRequest request = session.TreeSaveRequest();
    request.destination = out.string();
    result.job = std::make_unique<SaveJob>(request, events);
    if (!result.job->RunHere() || result.job->Failed())
        return result;
    SaveReport& report = result.job->Session().Report();
    result.ran = true;
    result.report = &report;
    result.written = report.Count(FileOutcome::Written) + report.Count(FileOutcome::Unreadable);
    result.failed = report.Count(FileOutcome::Failed);
    result.folders = result.job->Session().Counters().foldersSaved.load();
    return result;
}

SavedEverything ScanAndSaveEverything(SearchSession& session, const CurrentPartition& partition,
                                      const std::filesystem::path& out, JobEvents* events)
{
    if (!session.RunScanHere(partition) || !session.ScanJob() || session.ScanJob()->GeometryFailed())
        return {};
    return SaveEverything(session, out, events);
}

std::map<std::string, std::string> HashFolder(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> out;
    if (!fs::is_directory(root))
        return out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file())
            out[fs::relative(it->path(), root).string()] = Sha256OfFile(it->path().string());
        else if (it->is_directory())
            out[fs::relative(it->path(), root).string() + "/"] = "folder";
    }
    return out;
}

std::vector<std::string> DescribeTree(ScanResults& results)
{
    std::vector<std::string> lines;
    auto lock = results.Lock();
    const TreeModel& tree = results.Tree();
    for (TreeNodeId root = tree.RootItem(); root != kNoTreeNode; root = tree.NextSibling(root)) {
        for (TreeNodeId n = root; n != kNoTreeNode; n = tree.NextPreOrder(n, root)) {
            std::string line = std::to_string(tree.Depth(n)) + " " + tree.Text(n);
            if (const RecoveredFolder* f = results.FolderOfItem(n)) {
                line += " | " + f->name + " " + std::to_string(f->selfId) + " " + std::to_string(f->parentId) + " " +
                        std::to_string(f->date) + " " + std::to_string(f->time) + " " + std::to_string(f->deleted) +
                        " " + std::to_string(f->fsKey) + " " + std::to_string(f->fileCount);
            }
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> DescribeListings(SearchSession& session, const std::set<int>& skipped)
{
    std::vector<std::string> lines;
    TreeModel& tree = session.Results().Tree();
    std::vector<TreeNodeId> items;
    for (TreeNodeId root = tree.RootItem(); root != kNoTreeNode; root = tree.NextSibling(root))
        for (TreeNodeId n = root; n != kNoTreeNode; n = tree.NextPreOrder(n, root))
            items.push_back(n);
    for (TreeNodeId n : items) {
        lines.push_back("== " + tree.Text(n));
        if (!session.RunListingHere(n)) {
            lines.push_back("(not listed)");
            continue;
        }
        ListRowModel& list = session.FileRows();
        for (int r = 0; r < list.RowCount(); ++r) {
            // The miscellaneous folder is dated when the results were made
            // (a scan, a loaded log): no two sessions share that time.
            const bool misc = list.Cell(r, 0) == kMiscFolderName;
            std::string line;
            for (int c = 0; c < list.ColumnCount(); ++c)
                if (!skipped.count(c))
                    line += (misc && (c == kListDate || c == kListTime) ? std::string("(made)") : list.Cell(r, c)) + "\t";
            lines.push_back(line + std::to_string(list.RowData(r)));
        }
    }
    return lines;
}

}  // namespace torvane::test
