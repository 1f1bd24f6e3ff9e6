// Saving a session's results to a scan log, and loading one into a
// session's results, as jobs on a worker.
//
// Saving takes the results as they stand (the save is refused while a scan
// or a listing changes them), writes the log to a new file beside the chosen
// path and renames it into place: the results count as logged only once the
// rename succeeded.
//
// Loading reads the whole log, finds the device it came from, and puts the
// tree, the found files and the volumes back. Every way a log can fail has
// its own outcome, which the dialog turns into its message:
//   OpenFailed   the file cannot be read (the reason is in the message);
//   InvalidLog   not a scan log, or one that breaks off before its tree;
//   HandOver     a log of the other search: that dialog loads it;
//   MediaMoved   the source is not attached, or the mode is unknown;
//   Damaged      the log breaks off or holds a malformed element in its tree
//                or later: what was read before the break is loaded (and can
//                be browsed and saved), and the user is told the log is
//                invalid;
//   Loaded       everything was read.
// The results are changed only once the source was found; a load that ends
// before leaves them empty.
#pragma once

#include "base/job.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/scan_log_session.h"
#include "fsrecovery/scan_log_source.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_system_volume.h"
#include "results/scan_log_reader.h"
#include "results/scan_log_writer.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

// Shown when a log has been written.
inline constexpr char kScanLogSavedText[] = "The Recovery scanning Log has been saved successfully.";
// Shown when a log has been loaded (the Deep Search's text has two blanks before "has").
inline constexpr char kScanLogLoadedText[] = "The Recovery scanning Log has been loaded successfully.";
inline constexpr char kDeepScanLogLoadedText[] = "The Recovery scanning Log  has been loaded successfully.";
// Shown while the tree of a log is rebuilt.
inline constexpr char kScanLogLoadingStepText[] = "Please wait, It may take some time to load the tree...";

struct ScanLogSaveRequest {
    std::filesystem::path path;
    ScanLogSourceFacts source;
    int mode = 1;                                  // 1 Basic, 2 Deep
    const ScanLogDeepTables* deep = nullptr;       // a Deep session's tables (may be null)
};

class ScanLogSaveJob : public Job {
public:
    // `results` and `partition` must outlive the job and not change while it runs.
    ScanLogSaveJob(ScanResults& results, const CurrentPartition& partition, ScanLogSaveRequest request,
                   JobEvents* events = nullptr);
    ~ScanLogSaveJob() override;

    const ScanLogSaveRequest& Request() const { return request_; }
    // After the run: ok, or why not (the message names the file and the reason).
    const ScanLogWriteResult& Result() const { return result_; }

protected:
    void Run() override;

private:
    ScanResults& results_;
    const CurrentPartition& partition_;
    ScanLogSaveRequest request_;
    ScanLogWriteResult result_;
};

enum class ScanLogLoadOutcome { Loaded, Damaged, OpenFailed, InvalidLog, HandOver, MediaMoved, Stopped };

struct ScanLogLoadRequest {
    std::filesystem::path path;
    int mode = 1;                                  // the dialog loading it: 1 Basic, 2 Deep
    // What is attached now (default: ListScanLogDevices of the registry).
    std::function<ScanLogDevices()> devices;
    DeviceRegistry* registry = nullptr;            // default: DeviceRegistry::Instance()
    ScanLogDeepTables* deep = nullptr;             // a Deep session's tables (may be null)
};

class ScanLogLoadJob : public Job {
public:
    // `results` must outlive the job; it is filled once the source is found.
    ScanLogLoadJob(ScanResults& results, ScanLogLoadRequest request, JobEvents* events = nullptr);
    ~ScanLogLoadJob() override;

    const ScanLogLoadRequest& Request() const { return request_; }
    ScanLogLoadOutcome Outcome() const { return outcome_; }
    // The message for the user (empty for Loaded and HandOver).
    const std::string& Message() const { return message_; }
    // HandOver: the mode of the log.
    int HandOverMode() const { return handOverMode_; }
    // Loaded and Damaged: the partition on the device found (open), the
    // volumes to list and save from, what was read.
    const CurrentPartition& Partition() const { return partition_; }
    const std::vector<std::shared_ptr<FileSystemVolume>>& Volumes() const { return volumes_; }
    const ScanLogReadResult& Read() const { return read_; }
    // The description of the source shown with the results (the trailer's,
    // else the drive description of the header).
    const std::string& SourceDescription() const { return description_; }
    // Items and rows inserted so far, and how many the log holds (progress).
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};

protected:
    void Run() override;

private:
    void End(ScanLogLoadOutcome outcome, std::string message = {});

    ScanResults& results_;
    ScanLogLoadRequest request_;
    ScanLogLoadOutcome outcome_ = ScanLogLoadOutcome::Stopped;
    std::string message_;
    int handOverMode_ = 0;
    CurrentPartition partition_;
    std::vector<std::shared_ptr<FileSystemVolume>> volumes_;
    ScanLogReadResult read_;
    std::string description_;
};

}  // namespace torvane
