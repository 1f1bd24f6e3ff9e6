// One search dialog's work, apart from its widgets: what is scanned, the
// volumes the scan read, the found-item stores and the results tree, the file
// list's rows, the jobs that fill them, and the state the dialog's buttons
// and questions depend on (scans run, results logged, the end notice).
//
// The dialog builds widgets over this and turns button presses into the
// requests below; `torvane_e2e` and the tests drive the same session without
// a window. Jobs run on workers and report to the observer from their
// threads (the dialog forwards to its GUI thread with queued calls); the
// texts a scan shows are kept here for the dialog's timers to take.
//
// Threads: the requests are made from one thread (the GUI thread, or the
// test's); the finish calls (FinishScan, FinishListing) are made on that
// thread after the observer reported the end.
#pragma once

#include "base/list_model.h"
#include "base/tree_model.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/basic_scan.h"
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/deep_scan.h"
#include "fsrecovery/deep_scan_log.h"
#include "fsrecovery/scan_log_jobs.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_list_population.h"
#include "results/file_system_volume.h"
#include "results/found_file_opener.h"
#include "results/save_job.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace torvane {

// What a session tells its dialog. Called on worker threads.
class SearchSessionObserver {
public:
    virtual ~SearchSessionObserver() = default;
    // The scan's worker ended (finished or stopped): call FinishScan().
    virtual void OnScanEnded() {}
    // The listing's worker ended (finished or cancelled): call FinishListing().
    virtual void OnListingEnded() {}
    // A folder's lost sub-folders were named (their texts changed).
    virtual void OnFoldersNamed() {}
    // A message box for the user.
    virtual void OnMessage(const std::string& /*text*/) {}
    // The scan-log writer ended: call FinishSaveLog().
    virtual void OnLogSaved() {}
    // The scan-log loader ended: call FinishLoadLog().
    virtual void OnLogLoaded() {}
    // The copy of a file to open is ready (or failed): call FinishOpenFile().
    virtual void OnFileOpenEnded() {}
};

// The texts and progress a running scan reported last.
struct ScanDisplay {
    std::string step;                    // the step line (empty: hidden)
    std::string status;                  // "sectors  of  total %llu", ...
    std::vector<std::string> liveFolders;// folders found since the last take, oldest first
    std::uint64_t progressLow = 0, progressHigh = 0, progressPos = 0;
    bool textsChanged = false;           // step or status changed since the last take
};

class SearchSession {
public:
    // `recoveryMode`: 1 Basic, 2 Deep.
    explicit SearchSession(int recoveryMode = 1);
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    void SetObserver(SearchSessionObserver* observer);
    int RecoveryMode() const { return recoveryMode_; }

    // ---- what was found ----------------------------------------------------------
    ScanResults& Results() { return results_; }
    const ScanResults& Results() const { return results_; }
    // The volumes the results are listed and saved from.
    std::shared_ptr<const VolumeSet> Volumes() const { return volumes_; }
    // The partition as the last scan used it (geometry, device).
    const CurrentPartition& Partition() const { return partition_; }
    // The file list's rows (the dialog's list shows them).
    ListRowModel& FileRows() { return fileRows_; }
    FileListState& ListState() { return listState_; }
    // True when the tree holds folders below "Root" or the list holds rows.
    bool HasResults() const;

    // ---- scanning ------------------------------------------------------------------
    // Starts a scan of `partition` on a worker (forgetting what was found
    // before); false when a scan or a listing runs or no worker could start.
    // In a Deep session (mode 2) this is StartDeepScan.
    bool StartScan(const CurrentPartition& partition);
    // The same scan on the calling thread, then FinishScan() (headless use).
    bool RunScanHere(const CurrentPartition& partition);
    // After OnScanEnded: joins the worker and takes the volume it read.
    // False while the worker still runs.
    bool FinishScan();
    // Asks the scan to stop; it still arranges what it found.
    void StopScan();
    bool ScanRunning() const;
    const BasicScanJob* ScanJob() const { return scanJob_.get(); }
    // The interim tree period of the next scan (tests shorten it).
    void SetInterimInterval(std::chrono::milliseconds ms) { interim_ = ms; }
    // The partition search that scans (Basic and Deep) of a disk listing no
    // partition wait for (the dialog and torvane_e2e hand in the engine's;
    // empty: none).
    void SetAutomaticPartitionSearch(AutomaticPartitionSearch search) { automaticSearch_ = std::move(search); }
    // ---- the Deep scan (a session made with recovery mode 2) ----------------------------
    // Starts a Deep scan of the range Descriptor.StartSector .. EndSector
    // (EndSector one past the last sector) of partition.Device or DevicePath,
    // for the type Descriptor.FsType ("FAT16", "FAT32", "exFAT", "NTFS"; empty:
    // FAT). The results tree grows during the sweep; FinishScan() after
    // OnScanEnded takes one volume per file system found. False when a job runs.
    bool StartDeepScan(const CurrentPartition& partition);
    // The same on the calling thread, then FinishScan().
    bool RunDeepScanHere(const CurrentPartition& partition);
    const DeepScanJob* DeepJob() const { return deepJob_.get(); }
    // The period of the Deep scan's incremental passes (tests shorten it).
    void SetDeepPassInterval(std::chrono::milliseconds ms) { deepPass_ = ms; }
    // Sectors per read of the Deep sweep (zero: the program's default).
    void SetDeepChunkSectors(std::uint32_t sectors) { deepChunk_ = sectors; }
    // The file systems the Deep scan found so far (any thread).
    std::vector<DeepFoundFileSystem> FoundFileSystems() const { return deepTables_.FoundFileSystems(); }
    // The Deep scan's working tables (read them once the scan or the loading
    // of a Deep log has ended).
    const DeepTables& Tables() const { return deepTables_; }

    // Takes what the scan reported since the last call.
    ScanDisplay TakeScanDisplay();
    // The folder sectors the last scan could not read, by folder, and the
    // message that tells the user of them after the scan (empty when none).
    std::vector<UnreadableFolderSectors> UnreadableFolders() const;
    std::string UnreadableFoldersText() const;

    // Scans started (BasicScanCount); 0 again after Reset().
    std::uint32_t ScanCount() const { return scanCount_; }
    bool ScanStoppedByUser() const { return stoppedByUser_; }
    // The end-of-search box was shown for this result.
    bool EndBoxShown() const { return endBoxShown_; }
    void SetEndBoxShown(bool shown) { endBoxShown_ = shown; }
    // The results are held in a scan log (written or loaded whole).
    bool ResultsLogged() const { return resultsLogged_; }
    void SetResultsLogged(bool logged) { resultsLogged_ = logged; }
    // The results state a loaded log leaves (ScanCount() after a load).
    static constexpr std::uint32_t kLoadedFromLogState = 10;

    // ---- the file list --------------------------------------------------------------
    // Lists the folder of `item` into FileRows() on a worker; false when busy.
    bool StartListing(TreeNodeId item);
    // The same on the calling thread, then FinishListing().
    bool RunListingHere(TreeNodeId item);
    // After OnListingEnded: joins the worker. False while it still runs.
    bool FinishListing();
    void StopListing();
    bool ListBusy() const;
    const FileListPopulationJob* ListJob() const { return listJob_.get(); }

    // Names the lost sub-folders of `item` (a FAT folder opened in the tree)
    // on a worker; OnFoldersNamed follows. Nothing while a scan or listing runs.
    void PrepareChildren(TreeNodeId item);

    // ---- saving ------------------------------------------------------------------------
    // A save of what is ticked in the tree, or of the given list rows.
    SaveRequest TreeSaveRequest();
    SaveRequest ListSaveRequest(std::vector<SaveRow> rows);

    // ---- the scan log ------------------------------------------------------------------------
    // Writes the results to a scan log on a worker (OnLogSaved follows).
    // False when nothing was scanned or loaded yet, or a scan, a listing or
    // another log job runs. The request's mode is the session's; a Deep
    // session writes its tables' rows too.
    bool StartSaveLog(ScanLogSaveRequest request);
    // The same on the calling thread, then FinishSaveLog(); true when written.
    bool RunSaveLogHere(ScanLogSaveRequest request);
    // After OnLogSaved: joins the worker; a written log makes the results
    // logged. False while the worker runs.
    bool FinishSaveLog();
    const ScanLogSaveJob* SaveLogJob() const { return saveLogJob_.get(); }

    // Loads a scan log into the session on a worker (OnLogLoaded follows).
    // False when the session holds results (a scan ran or a log is loaded)
    // or a job runs. The request's mode is the session's; a Deep session
    // takes back its tables (the found file systems) and one volume per
    // file system.
    bool StartLoadLog(ScanLogLoadRequest request);
    // The same on the calling thread, then FinishLoadLog(); true when
    // something was loaded (Loaded or Damaged).
    bool RunLoadLogHere(ScanLogLoadRequest request);
    // After OnLogLoaded: joins the worker and takes what it loaded: the
    // partition, the volumes, results state 10 (Loaded or Damaged). Any other
    // outcome leaves the session empty. False while the worker runs.
    bool FinishLoadLog();
    const ScanLogLoadJob* LoadLogJob() const { return loadLogJob_.get(); }
    bool LogJobRunning() const;

    // ---- opening a found file ---------------------------------------------------------------
    // Copies the file of `row` into `folder` (the run's temporary folder) on a
    // worker, or finds the copy made before; OnFileOpenEnded follows. False
    // when no results are shown, or a scan, a log job or another open runs.
    bool StartOpenFile(const SaveRow& row, std::string folder);
    bool RunOpenFileHere(const SaveRow& row, std::string folder);
    // After OnFileOpenEnded: joins the worker. False while it runs.
    bool FinishOpenFile();
    void StopOpenFile();
    bool OpenFileRunning() const;
    const OpenFoundFileJob* OpenFileJob() const { return openJob_.get(); }
    // The copies made for opening since the results were last reset.
    ExtractedFileRegistry& ExtractedFiles() { return extracted_; }

    // ---- the whole session ----------------------------------------------------------------
    // "Back": forgets the results and every state above.
    void Reset();
    // Stops every job and waits for them (closing the dialog).
    void StopAll();

private:
    class Reports;
    class NamingJob;

    // Runs `job` on the calling thread without telling the observer.
    bool RunQuietly(Job& job);
    // Joins a job whose worker reported its end; false while it still runs.
    static bool JoinEnded(Job& job);
    void PrepareScan(const CurrentPartition& partition);
    void ResetForScan(const CurrentPartition& partition);
    void PrepareListing(TreeNodeId item);
    bool PrepareSaveLog(ScanLogSaveRequest& request);
    bool PrepareLoadLog(ScanLogLoadRequest& request);
    bool PrepareOpenFile(const SaveRow& row, std::string folder);
    bool AnyJobRunning() const;

    const int recoveryMode_;
    std::unique_ptr<Reports> reports_;   // outlives the jobs (declared first)
    ScanResults results_;
    std::shared_ptr<VolumeSet> volumes_;
    CurrentPartition partition_;
    ListRowModel fileRows_;
    FileListState listState_;
    std::unique_ptr<BasicScanJob> scanJob_;
    DeepTables deepTables_;
    DeepScanLogTables deepLogTables_{deepTables_};
    std::unique_ptr<DeepScanJob> deepJob_;
    std::chrono::milliseconds deepPass_{-1};
    std::uint32_t deepChunk_ = 0;
    std::unique_ptr<FileListPopulationJob> listJob_;
    std::unique_ptr<NamingJob> namingJob_;
    std::unique_ptr<ScanLogSaveJob> saveLogJob_;
    std::unique_ptr<ScanLogLoadJob> loadLogJob_;
    std::unique_ptr<OpenFoundFileJob> openJob_;
    ExtractedFileRegistry extracted_;
    std::chrono::milliseconds interim_{10000};
    AutomaticPartitionSearch automaticSearch_;

    std::uint32_t scanCount_ = 0;
    bool stoppedByUser_ = false;
    bool endBoxShown_ = false;
    bool resultsLogged_ = false;
};

}  // namespace torvane
