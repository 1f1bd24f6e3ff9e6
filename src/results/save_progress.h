// What every stage of a save shares: which selection it takes, the counters
// the saving dialog shows, the stop and skip requests, and the small texts of
// the progress labels.
//
// The counters are atomics: the save worker writes them, the dialog's timer
// reads them. Stop and Skip are requests the worker tests between chunks,
// entries and folders; nothing is ever interrupted in the middle of a write.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvane {

// What a save takes.
enum class SaveSource : std::uint16_t {
    None = 0,
    Tree = 1,   // the checked results tree
    List = 2,   // the selected rows of the file list
};

struct SaveCounters {
    std::atomic<std::uint64_t> totalFiles{0};     // TotalFileCount: files the save will meet
    std::atomic<std::uint64_t> totalFolders{0};   // TotalFolderCount
    std::atomic<std::uint64_t> filesWritten{0};   // FilesWrittenCount: files whose target was settled
    std::atomic<std::uint64_t> filesSaved{0};     // FilesSavedCount: files handed to a writer
    std::atomic<std::uint64_t> foldersSaved{0};   // FoldersSavedCount: folders created or passed
    std::atomic<std::uint64_t> invalidEntries{0}; // InvalidEntryCount: index duplicates not saved
    std::atomic<std::uint64_t> fileBytesDone{0};  // bytes of the current file written so far
    std::atomic<std::uint64_t> fileBytesTotal{0}; // size of the current file
    std::atomic<std::uint64_t> bytesWritten{0};   // bytes of every file written so far
    // A writer follows a file's cluster chain through the FAT before its data
    // (a large file on a large volume takes a while): the saving dialog says so.
    std::atomic<bool> gatheringClusters{false};

    void Reset()
    {
        totalFiles = 0;
        totalFolders = 0;
        ResetProgress();
    }
    // What a save's worker clears when it starts (the totals stay: the
    // counting filled them for this save).
    void ResetProgress()
    {
        filesWritten = 0;
        filesSaved = 0;
        foldersSaved = 0;
        invalidEntries = 0;
        fileBytesDone = 0;
        fileBytesTotal = 0;
        bytesWritten = 0;
    }
};

// The Skip request of the saving dialog: abandons the file being written.
// Writers clear it when they start a file and when they end one.
struct SkipRequest {
    std::atomic<bool> skip{false};
};

// FormatByteSize(done) + " / " + FormatByteSize(total).
std::string FormatSizeProgress(std::uint64_t total, std::uint64_t done);

// "%llu / %llu" of (done, total); when more were done than counted, the
// done count stands on both sides and `hideTotals` (when given) becomes true:
// the dialog then hides its label of selection totals, which is no longer right.
std::string FormatCountProgress(std::uint64_t done, std::uint64_t total, bool* hideTotals = nullptr);

// The path label: a path longer than 70 characters gets " /" in place of
// every "/" so that the label can wrap between components.
std::string SavePathLabelText(std::string_view path);

// name + " (" + FormatByteSize(size) + ")".
std::string FormatFileNameLabel(std::string_view name, std::uint64_t size);

// "( Total selected recovered data to be saved : %llu Files, %llu Folders )".
std::string FormatSelectionTotals(std::uint64_t files, std::uint64_t folders);

}  // namespace torvane
