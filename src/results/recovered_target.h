// The steps every file writer shares (FAT now; NTFS and exFAT plug in the
// same way): settling the target name, opening the target, copying sector
// runs of the source into it with every read and write checked, and
// recording what became of the file.
#pragma once

#include "platform/device.h"
#include "results/save_session.h"
#include "results/save_target.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// A run of consecutive sectors of the source.
struct SectorExtent {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

// Hands a file reader's chunks to the target file, keeping the first write
// error. `Sink` is the reader's sink interface (exFAT or NTFS).
template <class Sink>
class TargetSinkOf final : public Sink {
public:
    explicit TargetSinkOf(TargetFile& file) : file_(file) {}
    bool Write(const std::uint8_t* data, std::size_t size) override
    {
        error_ = file_.Write(data, size);
        return error_ == 0;
    }
    int error() const { return error_; }

private:
    TargetFile& file_;
    int error_ = 0;
};

// The conflict block every writer starts with: resets the per-file counters
// and, when `resolveConflict` is set, settles a name conflict (target and name
// may change). False when the file is skipped.
bool SettleTarget(SaveSession& session, std::string& target, std::string& name, std::uint64_t size,
                  bool resolveConflict);

// Opens the target for writing. On ENOENT or ENAMETOOLONG the target's folder
// is created and the open tried again; a path still too long goes through
// the too-long-path question once (give up, or move into the redirect
// folder). A full destination shows the shared message and stops the save.
// On success `target` and `name` hold what was opened; on failure the
// outcome (GivenUp, Failed, Skipped) is reported with its reason, set in
// `failure`, and null returned.
std::unique_ptr<TargetFile> OpenRecoveredTarget(SaveSession& session, std::string& target, std::string& name,
                                                FileOutcome& failure);

// Counts one file's bytes as a file reader reports them and tells the reader
// when Stop or Skip ends the file. `Attach` fills a reader's control (exFAT
// or NTFS: `stopRequested` and `progress`); the counter must outlive the read.
class ReadProgressCounter {
public:
    explicit ReadProgressCounter(SaveSession& session) : session_(session) {}

    template <class Control>
    void Attach(Control& control)
    {
        control.stopRequested = [this] { return StopOrSkip(); };
        control.progress = [this](std::uint64_t written) { Progress(written); };
    }
    // After the read: counts what the progress reports did not (a reader may
    // report only part of what it wrote).
    void Finish(std::uint64_t bytesWritten);

private:
    bool StopOrSkip() const;
    void Progress(std::uint64_t written);

    SaveSession& session_;
    std::uint64_t counted_ = 0;
};

// The chunk of one read: 8 sectors, or 64 when the file spans more than 128.
std::uint32_t CopyChunkSectors(std::uint64_t size);

struct CopyResult {
    std::uint64_t bytesWritten = 0;
    std::uint64_t unreadableSectors = 0;
    bool stopped = false;       // Stop or Skip before the end
    bool sourceGone = false;    // the device stopped answering
    int writeError = 0;         // errno of a failed write (0 = none)
};

// Copies `size` bytes from the extents (in order) of `device` into `file`,
// reading at most `chunkSectors` per read and only the sectors the size
// needs. An unreadable sector is retried alone and written as 512 zero bytes,
// so every later byte keeps its offset. Stop and Skip are tested before every
// chunk. Progress goes to the session's counters.
CopyResult CopySectorExtents(SaveSession& session, Device& device, const std::vector<SectorExtent>& extents,
                             std::uint64_t size, TargetFile& file);

// Closes the file, turns the copy's result into the file's outcome, reports
// it, and handles write errors: a full destination stops the save with the
// shared message and removes the partial file; a file too large for the
// destination is reported and the save goes on; any other write error stops.
// `shortReason`, when not empty, says why the data found fall short of the
// file (its chain ends before its size, its data run past the volume): the
// file is then reported incomplete with that reason.
FileOutcome FinishTarget(SaveSession& session, std::unique_ptr<TargetFile> file, const std::string& target,
                         const CopyResult& copy, std::uint64_t size, const std::string& shortReason);

// The reason of a file whose data run past the volume's or the source's end.
inline constexpr char kDataPastEndText[] = "only part of its data could be found";

// Text of an errno value in the C locale.
std::string ErrnoText(int error);

}  // namespace torvane
