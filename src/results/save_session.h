// The state of one save: the destination, the answers the user gave for all
// files (name conflicts, too-long paths), the counters, the stop and skip
// requests, and the end report that says what became of every file.
//
// The save worker owns the session. Questions go to a SaveQuestions
// implementation: the save job turns them into blocking requests to the GUI
// thread; tests answer them directly.
#pragma once

#include "results/save_progress.h"
#include "results/save_target.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace torvane {

// The answers of the Replace dialog (ReplaceAnswer); Cancel skips the file
// and stops the save.
enum class ReplaceAnswer : int {
    Overwrite = 0,
    Skip = 1,
    OverwriteAll = 2,
    SkipAll = 3,
    Rename = 4,
    RenameAll = 5,
    Cancel = 6,
};

struct ReplaceReply {
    ReplaceAnswer answer = ReplaceAnswer::Skip;
    std::string path;   // Rename: the new path (the proposal, maybe edited by the user)
};

// The choices of the "Destination Path too long" dialog.
enum class TooLongChoice : int { Ignore = 0, Move = 1, Browse = 2 };

struct TooLongReply {
    TooLongChoice choice = TooLongChoice::Ignore;
    bool applyAll = false;
    std::string browsedFolder;   // Browse: the folder chosen
};

class SaveQuestions {
public:
    virtual ~SaveQuestions() = default;
    // A file named `existing` is in the way; `proposed` is the first free rename.
    virtual ReplaceReply AskReplace(const std::string& existing, const std::string& proposed) = 0;
    virtual TooLongReply AskTooLong(const std::string& path) = 0;
    // A message the user must see (the destination is full, the source is gone).
    virtual void ShowMessage(const std::string& /*text*/) {}
};

// What became of one file.
enum class FileOutcome {
    Written,        // complete and byte for byte as read
    Unreadable,     // complete, with unreadable sectors written as zeros
    Incomplete,     // partial: stopped, skipped, or its data run past the volume
    Skipped,        // a name conflict answered Skip (or Cancel)
    GivenUp,        // too long a path, answered Ignore
    Failed,         // could not be created or written
    NotSaved,       // an index duplicate whose target exists
};

struct SaveProblem {
    std::string path;
    FileOutcome outcome = FileOutcome::Failed;
    std::string detail;
};

// The end report of a save.
class SaveReport {
public:
    void Add(FileOutcome outcome, const std::string& path, const std::string& detail = {});
    void Clear();
    std::uint64_t Count(FileOutcome outcome) const;
    std::uint64_t Files() const;   // every file with an outcome
    // Problems in the order met (written files are not listed); at most
    // kMaxListed are kept, the counts are always complete.
    std::vector<SaveProblem> Problems() const;
    static constexpr std::size_t kMaxListed = 10000;
    // True when every file was written completely and nothing else happened.
    bool AllWritten() const;
    // The completion text: the success text when every file was written
    // completely, otherwise the counts. `filesCounted` is the number of files
    // the save set out to write (0: not known): when files were counted and
    // not one was written, the save did not succeed whatever was recorded.
    std::string CompletionText(bool stopped, std::uint64_t filesCounted = 0) const;

private:
    mutable std::mutex mutex_;
    std::uint64_t counts_[7] = {};
    std::vector<SaveProblem> problems_;
};

inline constexpr char kSaveSuccessText[] = "Recovered data has been saved successfully.";
inline constexpr char kDestinationFullText[] =
    "Unable to continue saving recovered data.\n\nEither Destination Drive is inaccessible.\n\nOR\n\n"
    "There is no free space available in drive to save recovered data.";
inline constexpr char kSourceGoneText[] = "The source device can no longer be read.";
inline constexpr char kMiscFolderLeaf[] = "KZU_Miscellaneous";

class SaveSession {
public:
    explicit SaveSession(TargetFileSystem& fs = PosixTargetFileSystem(), SaveQuestions* questions = nullptr);

    // The destination folder, kept ending in "/".
    void SetDestination(std::string folder);
    const std::string& Destination() const { return destination_; }

    TargetFileSystem& Fs() { return fs_; }
    SaveQuestions* Questions() { return questions_; }
    void SetQuestions(SaveQuestions* q) { questions_ = q; }

    // Stop: a request from the dialog, the Replace dialog's Cancel, a full
    // destination. `external` (e.g. the job's stop request) is tested too.
    void SetExternalStop(std::function<bool()> stopped, std::function<void()> requestStop);
    bool StopRequested() const;
    void RequestStop();
    SkipRequest& Skip() { return skip_; }

    SaveCounters& Counters() { return counters_; }
    SaveReport& Report() { return report_; }

    // Shows `text` once per save (the destination-full message is shared by
    // every writer; the user sees it one time).
    void ShowMessageOnce(const std::string& text);

    // The answers given for all files (reset for every save).
    ReplaceAnswer replaceAnswer = ReplaceAnswer::Overwrite;
    std::string longPathRedirectFolder;
    bool longPathApplyAll = false;
    bool longPathIgnoreAll = false;
    // Targets given a shortened name in this save (kept unique).
    std::set<std::string> shortenedTargets;
    // Folders already reported as impossible to create in this save.
    std::set<std::string> failedFolders;

    // Clears the answers, the counters of progress and the report.
    void ResetForSave();

    // The report's completion text, given the files counted for this save.
    std::string CompletionText(bool stopped) const
    {
        return report_.CompletionText(stopped, counters_.totalFiles.load());
    }

    // The file or folder being written, for the dialog's name and path labels.
    void SetCurrentItem(std::string name, std::string path);
    std::pair<std::string, std::string> CurrentItem() const;

private:
    TargetFileSystem& fs_;
    SaveQuestions* questions_;
    std::string destination_;
    std::atomic<bool> stop_{false};
    std::function<bool()> externalStopped_;
    std::function<void()> externalStop_;
    SkipRequest skip_;
    SaveCounters counters_;
    SaveReport report_;
    std::set<std::string> messagesShown_;
    mutable std::mutex currentMutex_;
    std::string currentName_, currentPath_;
};

}  // namespace torvane
