#include "results/save_job.h"

#include "results/save_destination.h"

#include <cerrno>

namespace torvane {

CountSelectionJob::CountSelectionJob(SaveRequest request, SaveCounters& counters, JobEvents* events)
    : Job(events), request_(std::move(request)), counters_(counters)
{
}

CountSelectionJob::~CountSelectionJob() { StopAndWait(); }

void CountSelectionJob::Run()
{
    finished_ = false;
    counters_.Reset();
    if (!request_.results)
        return;
    auto stop = [this] { return StopRequested(); };
    if (request_.volumes) {
        SaverSet savers(*request_.results, *request_.volumes, request_.basicSearch);
        if (request_.source == SaveSource::List)
            CountSelectedRows(*request_.results, savers, request_.rows, counters_, stop);
        else
            CountCheckedTreeItems(*request_.results, savers, counters_, stop);
    }
    Progress().files = counters_.totalFiles.load();
    Progress().folders = counters_.totalFolders.load();
    finished_ = !StopRequested();
}

SaveJob::SaveJob(SaveRequest request, JobEvents* events, TargetFileSystem& fs)
    : Job(events), request_(std::move(request)), session_(fs, this)
{
    session_.SetDestination(request_.destination);
    session_.SetExternalStop([this] { return StopRequested(); }, [this] { Stop(); });
}

SaveJob::~SaveJob() { StopAndWait(); }

void SaveJob::Run()
{
    endedStopped_ = false;
    session_.ResetForSave();
    if (!request_.results)
        return;
    if (!request_.volumes || request_.volumes->Empty()) {
        const std::string why = "There is no scanned volume to read the files from.";
        Status(why);
        session_.Report().Add(FileOutcome::Failed, session_.Destination(), why);
        return;
    }
    SaverSet savers(*request_.results, *request_.volumes, request_.basicSearch);
    if (!PrepareDestinationRoot(session_))
        return;
    if (request_.source == SaveSource::List)
        SaveSelectedRows(session_, *request_.results, savers, request_.rows);
    else
        WalkAndSaveTree(session_, *request_.results, savers);
    endedStopped_ = session_.StopRequested();
}

void SaveJob::SetReplyText(std::string text)
{
    std::lock_guard<std::mutex> lock(replyMutex_);
    replyText_ = std::move(text);
}

std::string SaveJob::TakeReplyText()
{
    std::lock_guard<std::mutex> lock(replyMutex_);
    return std::exchange(replyText_, {});
}

ReplaceReply SaveJob::AskReplace(const std::string& existing, const std::string& proposed)
{
    TakeReplyText();
    std::optional<int> answer = Ask(JobQuestion{"replace", existing, {existing, proposed}});
    ReplaceReply reply;
    if (!answer || *answer < 0 || *answer > static_cast<int>(ReplaceAnswer::Cancel)) {
        reply.answer = ReplaceAnswer::Skip;   // stopped, or no GUI to ask
        return reply;
    }
    reply.answer = static_cast<ReplaceAnswer>(*answer);
    reply.path = TakeReplyText();
    if ((reply.answer == ReplaceAnswer::Rename || reply.answer == ReplaceAnswer::RenameAll) && reply.path.empty())
        reply.path = proposed;
    return reply;
}

TooLongReply SaveJob::AskTooLong(const std::string& path)
{
    TakeReplyText();
    std::optional<int> answer = Ask(JobQuestion{"too-long-path", path, {"Ignore", "Move", "Browse"}});
    TooLongReply reply;
    if (!answer || *answer < 0)
        return reply;   // Ignore
    reply.applyAll = (*answer & kApplyToAllBit) != 0;
    int choice = *answer & 0xFF;
    if (choice == static_cast<int>(TooLongChoice::Move))
        reply.choice = TooLongChoice::Move;
    else if (choice == static_cast<int>(TooLongChoice::Browse))
        reply.choice = TooLongChoice::Browse;
    reply.browsedFolder = TakeReplyText();
    if (reply.choice == TooLongChoice::Browse && reply.browsedFolder.empty())
        reply.choice = TooLongChoice::Ignore;
    return reply;
}

void SaveJob::ShowMessage(const std::string& text)
{
    Ask(JobQuestion{"message", text, {"OK"}});
}

}  // namespace torvane
