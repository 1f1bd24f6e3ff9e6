// A Basic scan through a search session and a save of everything it found,
// as the dialog's Scan Now and Save Data do, for tests that check what
// lands on disk.
#pragma once

#include "fsrecovery/search_session.h"
#include "results/file_list_columns.h"
#include "results/save_job.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace torvane::test {

struct SavedEverything {
    bool ran = false;
    std::uint64_t written = 0;       // files written, complete or with unreadable sectors zeroed
    std::uint64_t failed = 0;
    std::uint64_t folders = 0;
    SaveReport* report = nullptr;    // valid while the SavedEverything lives
    std::unique_ptr<SaveJob> job;
};

// Ticks the whole results tree of `session` and saves it under `out`
// (`events` answers the save's questions; null answers nothing).
SavedEverything SaveEverything(SearchSession& session, const std::filesystem::path& out,
                               JobEvents* events = nullptr);

// Scans `partition` with `session`, then SaveEverything. `ran` is false when
// the scan did not run or found no usable geometry.
SavedEverything ScanAndSaveEverything(SearchSession& session, const CurrentPartition& partition,
                                      const std::filesystem::path& out, JobEvents* events = nullptr);

// Every regular file below `root`, by its path relative to `root`, with the
// SHA-256 of its bytes: a saved tree to compare with another.
std::map<std::string, std::string> HashFolder(const std::filesystem::path& root);

// The results tree, one line per item in pre-order: its depth, its text and
// the numbers of its folder record.
std::vector<std::string> DescribeTree(ScanResults& results);

// What the file list shows for every item of the results tree, in
// pre-order: each folder is listed (as a click on it lists it) and each row
// given with every column but those in `skipped` (by default the one that
// holds a tree item's id, which no other session shares).
std::vector<std::string> DescribeListings(SearchSession& session, const std::set<int>& skipped = {kListTreeItem});

}  // namespace torvane::test
