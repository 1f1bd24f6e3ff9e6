// A Basic scan through a search session and a save of everything it found,
// as the dialog's Scan Now and Save Data do, for tests that check what
// lands on disk.
#pragma once

#include "fsrecovery/search_session.h"
#include "results/save_job.h"

#include <cstdint>
#include <filesystem>
#include <string>

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

}  // namespace torvane::test
