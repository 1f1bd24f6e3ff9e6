// The counting and saving jobs behind the saving dialog.
//
// CountSelectionJob fills the totals of a save (files and folders the save
// will meet); SaveJob then walks the selection and writes it. Both run on a
// worker thread (Job). The save's questions (Replace, too-long path) and its
// messages are blocking requests to the GUI through Job::Ask, so the worker
// waits for the answer while the GUI thread shows the dialog; a Stop wakes
// a pending question (the file is then skipped).
//
// The questions as they reach JobEvents::OnQuestion:
//  - kind "replace": text = the existing path, choices = {existing, proposed
//    rename}. The answer is a ReplaceAnswer value (0..6). For Rename the GUI
//    first hands the (maybe edited) path over with SetReplyText.
//  - kind "too-long-path": text = the path. The answer is a TooLongChoice
//    value, plus kApplyToAllBit when "Do this for all next conflicts." is
//    ticked. For Browse the GUI first hands the folder over with SetReplyText.
//  - kind "message": text = a message to show; any answer goes on.
#pragma once

#include "base/job.h"
#include "results/save_session.h"
#include "results/save_walkers.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace torvane {

inline constexpr int kApplyToAllBit = 0x100;

struct SaveRequest {
    ScanResults* results = nullptr;
    // The volumes the selection's files are read from (each folder from its own).
    std::shared_ptr<const VolumeSet> volumes;
    bool basicSearch = true;     // a Basic result (FAT folder walks follow continuation clusters)
    SaveSource source = SaveSource::Tree;
    std::vector<SaveRow> rows;   // the list road's selected rows
    std::string destination;
};

class CountSelectionJob : public Job {
public:
    // The totals go to `counters` (the save's own, which the dialog shows).
    CountSelectionJob(SaveRequest request, SaveCounters& counters, JobEvents* events = nullptr);
    ~CountSelectionJob() override;
    // True once a count ran to its end (not stopped).
    bool Finished() const { return finished_.load(); }

protected:
    void Run() override;

private:
    SaveRequest request_;
    SaveCounters& counters_;
    std::atomic<bool> finished_{false};
};

class SaveJob : public Job, private SaveQuestions {
public:
    SaveJob(SaveRequest request, JobEvents* events = nullptr, TargetFileSystem& fs = PosixTargetFileSystem());
    ~SaveJob() override;

    SaveSession& Session() { return session_; }
    const SaveRequest& Request() const { return request_; }
    // The Skip button: abandons the file being written.
    void SkipFile() { session_.Skip().skip = true; }
    // The text that goes with the next answer (a Rename path, a browsed folder).
    void SetReplyText(std::string text);
    // After the run: whether it ended through Stop (or a full destination).
    bool EndedStopped() const { return endedStopped_.load(); }

protected:
    void Run() override;

private:
    ReplaceReply AskReplace(const std::string& existing, const std::string& proposed) override;
    TooLongReply AskTooLong(const std::string& path) override;
    void ShowMessage(const std::string& text) override;
    std::string TakeReplyText();

    SaveRequest request_;
    SaveSession session_;
    std::mutex replyMutex_;
    std::string replyText_;
    std::atomic<bool> endedStopped_{false};
};

}  // namespace torvane
