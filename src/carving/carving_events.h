// What a carving search tells the dialog that runs it, and what it asks.
//
// Events (CarvingEvents, called on the worker thread; the GUI posts them to
// its own thread):
// - OnPassStarted: a pass begins (its range and status texts);
// - OnCarvedFile: a carved file was closed, in the order the files close;
// - OnExtensionRow: an extension's row changed (folder, count, number);
// - OnSearchEnded: the search is over; `finished` is 1 when it was stopped
//   (Stop Search, "Cancel Searching", a destination that takes no file), 0
//   when it searched its range to the end. The end-of-search box shows it.
// - OnStatusText (from JobEvents): the status line.
//
// Questions (Job::Ask, kind and answers):
// - "read-failure": a block could not be read. Answers: kReadFailureRetry
//   (open the device again and read the block again), kReadFailureSkip (go on
//   with the unreadable sectors as zeros), kReadFailureCancel (end the search;
//   every carved file is closed and listed). Add kReadFailureApplyToAll to
//   apply a Retry or Skip to every further failure of the pass ("Apply this
//   action until the searching completes"). Any other answer is a Skip; a
//   Stop while the question waits is a Cancel.
// - "message": a message to show (the End Sector order, a destination that
//   takes no file); any answer goes on.
//
// Counters (CarvingCounters) are atomics a dialog's timer reads.
#pragma once

#include "base/job.h"
#include "carving/carved_names.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace torvane {

enum class CarvingPassKind { General, Thorough };

struct CarvedFile {
    std::string path;        // full path of the carved file
    std::string name;        // its file name
    std::string extension;   // without the dot, as the signature data file writes it ("jpg", "MP4")
    std::uint64_t size = 0;  // bytes written
    std::uint64_t firstSector = 0;  // the device sector it was carved from
    CarvingPassKind pass = CarvingPassKind::General;
    bool complete = true;    // false: writing it failed part-way
};

struct CarvingPassInfo {
    CarvingPassKind pass = CarvingPassKind::General;
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;   // not itself read
    std::string rangeText;         // "sectors  of  total <end>"
    std::string statusText;        // which procedure runs
    std::string passFolder;
};

class CarvingEvents : public JobEvents {
public:
    virtual void OnPassStarted(const CarvingPassInfo& /*info*/) {}
    virtual void OnCarvedFile(const CarvedFile& /*file*/) {}
    virtual void OnExtensionRow(const ExtensionFolderRow& /*row*/) {}
    virtual void OnSearchEnded(int /*finished*/) {}
};

struct CarvingCounters {
    std::atomic<std::uint64_t> currentSector{0};  // the sector being probed
    std::atomic<std::uint64_t> filesFound{0};     // carved files closed in this search
    std::atomic<std::uint64_t> generalFiles{0};   // of them in the General pass
    std::atomic<std::uint64_t> omittedFiles{0};   // of them in the Thorough pass
    std::atomic<std::uint64_t> bytesWritten{0};
    std::atomic<int> pass{0};                     // 0 none, 1 General, 2 Thorough

    void Reset()
    {
        currentSector = 0;
        filesFound = 0;
        generalFiles = 0;
        omittedFiles = 0;
        bytesWritten = 0;
        pass = 0;
    }
};

inline constexpr const char* kReadFailureQuestion = "read-failure";
inline constexpr const char* kMessageQuestion = "message";
inline constexpr int kReadFailureRetry = 0;
inline constexpr int kReadFailureSkip = 1;
inline constexpr int kReadFailureCancel = 2;
inline constexpr int kReadFailureApplyToAll = 0x100;

// The read-failure question's text and answer labels.
inline constexpr const char* kReadFailureText = "The selected storage device is no longer available.";
inline constexpr const char* kReadFailureRetryLabel = "Retry and Continue...";
inline constexpr const char* kReadFailureSkipLabel = "Skip";
inline constexpr const char* kReadFailureCancelLabel = "Cancel Searching";

}  // namespace torvane
