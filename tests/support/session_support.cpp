#include "support/session_support.h"

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

}  // namespace torvane::test
