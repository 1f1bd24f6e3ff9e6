#include "results/save_session.h"

namespace torvane {

void SaveReport::Add(FileOutcome outcome, const std::string& path, const std::string& detail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[static_cast<int>(outcome)];
    if (outcome != FileOutcome::Written && problems_.size() < kMaxListed)
        problems_.push_back(SaveProblem{path, outcome, detail});
}

void SaveReport::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : counts_)
        c = 0;
    problems_.clear();
}

std::uint64_t SaveReport::Count(FileOutcome outcome) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[static_cast<int>(outcome)];
}

std::uint64_t SaveReport::Files() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t n = 0;
    for (auto c : counts_)
        n += c;
    return n;
}

std::vector<SaveProblem> SaveReport::Problems() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

bool SaveReport::AllWritten() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 1; i < 7; ++i)
        if (counts_[i] != 0)
            return false;
    return true;
}

std::string SaveReport::CompletionText(bool stopped, std::uint64_t filesCounted) const
{
    const bool noneWritten = filesCounted != 0 && Count(FileOutcome::Written) == 0;
    if (!stopped && AllWritten() && !noneWritten)
        return kSaveSuccessText;
    auto n = [this](FileOutcome o) { return std::to_string(Count(o)); };
    std::string text = stopped ? "Saving was stopped.\n\n" : "Saving has finished with problems.\n\n";
    text += "Files written: " + n(FileOutcome::Written) + "\n";
    auto line = [&](FileOutcome o, const char* label) {
        if (Count(o) != 0)
            text += std::string(label) + n(o) + "\n";
    };
    line(FileOutcome::Unreadable, "Files written with unreadable sectors (zeros in their place): ");
    line(FileOutcome::Incomplete, "Files incomplete: ");
    line(FileOutcome::Skipped, "Files skipped (name conflict): ");
    line(FileOutcome::GivenUp, "Files given up (path too long): ");
    line(FileOutcome::Failed, "Files failed: ");
    line(FileOutcome::NotSaved, "Invalid entries (not saved): ");
    // Files the save set out to write that never got an outcome (a
    // destination that could not be used ends the save before them).
    const std::uint64_t reached = Files();
    if (!stopped && filesCounted > reached)
        text += "Files not saved: " + std::to_string(filesCounted - reached) + "\n";
    return text;
}

SaveSession::SaveSession(TargetFileSystem& fs, SaveQuestions* questions) : fs_(fs), questions_(questions) {}

void SaveSession::SetDestination(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    destination_ = std::move(folder);
    fs_.TrustFolder(destination_);
}

void SaveSession::SetExternalStop(std::function<bool()> stopped, std::function<void()> requestStop)
{
    externalStopped_ = std::move(stopped);
    externalStop_ = std::move(requestStop);
}

bool SaveSession::StopRequested() const
{
    return stop_.load() || (externalStopped_ && externalStopped_());
}

void SaveSession::RequestStop()
{
    stop_ = true;
    if (externalStop_)
        externalStop_();
}

void SaveSession::ShowMessageOnce(const std::string& text)
{
    if (!messagesShown_.insert(text).second)
        return;
    if (questions_)
        questions_->ShowMessage(text);
}

void SaveSession::SetCurrentItem(std::string name, std::string path)
{
    std::lock_guard<std::mutex> lock(currentMutex_);
    currentName_ = std::move(name);
    currentPath_ = std::move(path);
}

std::pair<std::string, std::string> SaveSession::CurrentItem() const
{
    std::lock_guard<std::mutex> lock(currentMutex_);
    return {currentName_, currentPath_};
}

void SaveSession::ResetForSave()
{
    replaceAnswer = ReplaceAnswer::Overwrite;
    longPathRedirectFolder.clear();
    longPathApplyAll = false;
    longPathIgnoreAll = false;
    shortenedTargets.clear();
    failedFolders.clear();
    messagesShown_.clear();
    stop_ = false;
    skip_.skip = false;
    counters_.ResetProgress();
    report_.Clear();
}

}  // namespace torvane
