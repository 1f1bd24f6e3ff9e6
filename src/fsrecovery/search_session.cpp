#include "fsrecovery/search_session.h"

#include <utility>

namespace torvane {

// Where the session's jobs report: keeps the scan's latest texts for the
// dialog's timers and passes the ends on to the observer.
class SearchSession::Reports final : public ScanSink, public ResultsEvents {
public:
    // ---- ScanSink (the scan's worker)
    void StepText(const std::string& text) override
    {
        std::lock_guard<std::mutex> lk(mutex_);
        step_ = text;
        changed_ = true;
    }
    void StatusText(const std::string& text) override
    {
        std::lock_guard<std::mutex> lk(mutex_);
        status_ = text;
        changed_ = true;
    }
    void ProgressRange(std::uint64_t lo, std::uint64_t hi) override
    {
        low_ = lo;
        high_ = hi;
        pos_ = lo;
    }
    void Progress(std::uint64_t pos) override { pos_ = pos; }
    void LiveItem(const std::string& name) override { OnLiveFolder(name); }
    void Message(const std::string& text) override
    {
        if (SearchSessionObserver* o = observer_.load())
            o->OnMessage(text);
    }
    void UnreadableFolder(const UnreadableFolderSectors& folder) override
    {
        std::lock_guard<std::mutex> lk(mutex_);
        for (UnreadableFolderSectors& f : unreadable_)
            if (f.folder == folder.folder) {
                f.sectors += folder.sectors;
                return;
            }
        unreadable_.push_back(folder);
    }
    std::vector<UnreadableFolderSectors> Unreadable()
    {
        std::lock_guard<std::mutex> lk(mutex_);
        return unreadable_;
    }

    // ---- ResultsEvents (whoever inserts folders)
    void OnLiveFolder(const std::string& name) override
    {
        std::lock_guard<std::mutex> lk(mutex_);
        live_.push_back(name);
        // The dialog shows the latest hundred; keep no more than twice that.
        if (live_.size() > 200)
            live_.erase(live_.begin(), live_.begin() + 100);
    }

    ScanDisplay Take()
    {
        ScanDisplay d;
        std::lock_guard<std::mutex> lk(mutex_);
        d.liveFolders.swap(live_);
        d.textsChanged = changed_;
        changed_ = false;
        d.step = step_;
        d.status = status_;
        d.progressLow = low_.load();
        d.progressHigh = high_.load();
        d.progressPos = pos_.load();
        return d;
    }

    void Reset()
    {
        std::lock_guard<std::mutex> lk(mutex_);
        step_.clear();
        status_.clear();
        live_.clear();
        unreadable_.clear();
        changed_ = true;
        low_ = high_ = pos_ = 0;
    }

    // Job ends, passed on as they come.
    class End final : public JobEvents {
    public:
        End(Reports& reports, void (SearchSessionObserver::*call)()) : reports_(reports), call_(call) {}
        void OnFinished(bool /*stopped*/) override
        {
            if (SearchSessionObserver* o = reports_.observer_.load())
                (o->*call_)();
        }
        void OnError(const std::string& what) override
        {
            if (SearchSessionObserver* o = reports_.observer_.load())
                o->OnMessage(what);
        }

    private:
        Reports& reports_;
        void (SearchSessionObserver::*call_)();
    };

    std::atomic<SearchSessionObserver*> observer_{nullptr};
    End scanEnd{*this, &SearchSessionObserver::OnScanEnded};
    End listEnd{*this, &SearchSessionObserver::OnListingEnded};
    End namingEnd{*this, &SearchSessionObserver::OnFoldersNamed};
    End logSaveEnd{*this, &SearchSessionObserver::OnLogSaved};
    End logLoadEnd{*this, &SearchSessionObserver::OnLogLoaded};
    End openEnd{*this, &SearchSessionObserver::OnFileOpenEnded};

private:
    std::mutex mutex_;
    std::string step_, status_;
    std::vector<std::string> live_;
    std::vector<UnreadableFolderSectors> unreadable_;
    bool changed_ = false;
    std::atomic<std::uint64_t> low_{0}, high_{0}, pos_{0};
};

// Names a folder's lost sub-folders off the GUI thread: the names come from
// the folder's directory entries on the device.
class SearchSession::NamingJob final : public Job {
public:
    NamingJob(ScanResults& results, std::shared_ptr<FileSystemVolume> volume, TreeNodeId item, JobEvents* events)
        : Job(events), results_(results), volume_(std::move(volume)), item_(item)
    {
    }
    ~NamingJob() override { StopAndWait(); }

protected:
    void Run() override
    {
        if (volume_)
            volume_->PrepareChildren(results_, item_);
    }

private:
    ScanResults& results_;
    std::shared_ptr<FileSystemVolume> volume_;
    TreeNodeId item_;
};

bool SearchSession::RunQuietly(Job& job)
{
    // The caller waits for the job itself: the observer hears of nothing.
    SearchSessionObserver* observer = reports_->observer_.exchange(nullptr);
    const bool ran = job.RunHere();
    reports_->observer_ = observer;
    return ran;
}

bool SearchSession::JoinEnded(Job& job)
{
    if (job.Running())
        job.Wait();
    return !job.Running();
}

SearchSession::SearchSession(int recoveryMode)
    : recoveryMode_(recoveryMode), reports_(std::make_unique<Reports>()), volumes_(std::make_shared<VolumeSet>())
{
    results_.SetRecoveryMode(recoveryMode_);
    results_.SetEvents(reports_.get());
    SetupBasicResultColumns(fileRows_);
}

SearchSession::~SearchSession()
{
    StopAll();
    // The jobs go before the stores they write.
    openJob_.reset();
    loadLogJob_.reset();
    saveLogJob_.reset();
    namingJob_.reset();
    listJob_.reset();
    deepJob_.reset();
    scanJob_.reset();
    results_.SetEvents(nullptr);
}

void SearchSession::SetObserver(SearchSessionObserver* observer)
{
    reports_->observer_ = observer;
}

bool SearchSession::HasResults() const
{
    const TreeModel& tree = results_.Tree();
    const TreeNodeId root = tree.RootItem();
    return (root != kNoTreeNode && tree.ChildCount(root) > 0) || fileRows_.RowCount() > 0;
}

// ---- scanning ----------------------------------------------------------------------

void SearchSession::ResetForScan(const CurrentPartition& partition)
{
    if (namingJob_)
        namingJob_->StopAndWait();
    listState_.Reset();
    fileRows_.Clear();
    fileRows_.ClearRowColors();
    volumes_->Clear();
    results_.ForgetResults();
    results_.FoundFolderCount = 0;
    results_.FoundFileCount = 0;
    results_.CurrentScanSector = 0;
    reports_->Reset();
    ++scanCount_;
    stoppedByUser_ = false;
    endBoxShown_ = false;
    resultsLogged_ = false;
    partition_ = partition;
    deepJob_.reset();
    scanJob_.reset();
}

void SearchSession::PrepareScan(const CurrentPartition& partition)
{
    ResetForScan(partition);
    scanJob_ = std::make_unique<BasicScanJob>(results_, partition_, reports_.get(), &reports_->scanEnd);
    scanJob_->SetInterimInterval(interim_);
    scanJob_->SetAutomaticPartitionSearch(automaticSearch_);
}

bool SearchSession::StartScan(const CurrentPartition& partition)
{
    if (AnyJobRunning())
        return false;
    if (recoveryMode_ == 2)
        return StartDeepScan(partition);
    PrepareScan(partition);
    return scanJob_->Start();
}

bool SearchSession::RunScanHere(const CurrentPartition& partition)
{
    if (AnyJobRunning())
        return false;
    PrepareScan(partition);
    scanJob_->SetInterimInterval(std::chrono::milliseconds(0));
    const bool ran = RunQuietly(*scanJob_);
    return ran && FinishScan();
}

bool SearchSession::StartDeepScan(const CurrentPartition& partition)
{
    if (AnyJobRunning())
        return false;
    ResetForScan(partition);
    deepJob_ = std::make_unique<DeepScanJob>(results_, deepTables_, partition_, reports_.get(), &reports_->scanEnd);
    deepJob_->SetAutomaticPartitionSearch(automaticSearch_);
    deepJob_->SetChunkSectors(deepChunk_);
    if (deepPass_.count() >= 0)
        deepJob_->SetTimedPassInterval(deepPass_);
    return deepJob_->Start();
}

bool SearchSession::RunDeepScanHere(const CurrentPartition& partition)
{
    if (AnyJobRunning())
        return false;
    ResetForScan(partition);
    deepJob_ = std::make_unique<DeepScanJob>(results_, deepTables_, partition_, reports_.get(), &reports_->scanEnd);
    deepJob_->SetAutomaticPartitionSearch(automaticSearch_);
    deepJob_->SetChunkSectors(deepChunk_);
    deepJob_->SetTimedPassInterval(deepPass_.count() >= 0 ? deepPass_ : std::chrono::milliseconds(0));
    const bool ran = RunQuietly(*deepJob_);
    return ran && FinishScan();
}

bool SearchSession::FinishScan()
{
    if (deepJob_) {
        if (!JoinEnded(*deepJob_))
            return false;
        partition_ = deepJob_->Partition();
        volumes_->Clear();
        for (const std::shared_ptr<FileSystemVolume>& volume : deepJob_->Volumes())
            volumes_->Add(volume);
        return true;
    }
    if (!scanJob_)
        return false;
    if (!JoinEnded(*scanJob_))
        return false;
    partition_ = scanJob_->Partition();
    volumes_->Clear();
    if (std::shared_ptr<FileSystemVolume> volume = scanJob_->Volume())
        volumes_->Add(std::move(volume));
    return true;
}

void SearchSession::StopScan()
{
    if (!ScanRunning())
        return;
    stoppedByUser_ = true;
    if (scanJob_)
        scanJob_->Stop();
    if (deepJob_)
        deepJob_->Stop();
}

bool SearchSession::ScanRunning() const
{
    return (scanJob_ && scanJob_->Running()) || (deepJob_ && deepJob_->Running());
}

std::vector<UnreadableFolderSectors> SearchSession::UnreadableFolders() const
{
    return reports_->Unreadable();
}

std::string SearchSession::UnreadableFoldersText() const
{
    return UnreadableFolderSectorsText(reports_->Unreadable());
}

ScanDisplay SearchSession::TakeScanDisplay()
{
    return reports_->Take();
}

// ---- the file list ------------------------------------------------------------------

void SearchSession::PrepareListing(TreeNodeId item)
{
    if (namingJob_)
        namingJob_->StopAndWait();
    FileListRequest request;
    request.item = item;
    request.recoveryMode = recoveryMode_;
    request.loadedFromLog = scanCount_ == 10;
    listJob_.reset();
    listJob_ = std::make_unique<FileListPopulationJob>(results_, fileRows_, listState_, volumes_, request,
                                                       &reports_->listEnd);
}

bool SearchSession::StartListing(TreeNodeId item)
{
    if (ListBusy() || LogJobRunning() || OpenFileRunning())
        return false;
    PrepareListing(item);
    return listJob_->Start();
}

bool SearchSession::RunListingHere(TreeNodeId item)
{
    if (ListBusy() || LogJobRunning() || OpenFileRunning())
        return false;
    PrepareListing(item);
    const bool ran = RunQuietly(*listJob_);
    return ran && FinishListing();
}

bool SearchSession::FinishListing()
{
    if (!listJob_)
        return true;
    if (!JoinEnded(*listJob_))
        return false;
    return true;
}

void SearchSession::StopListing()
{
    if (listJob_)
        listJob_->Stop();
}

bool SearchSession::ListBusy() const
{
    return listJob_ && listJob_->Running();
}

void SearchSession::PrepareChildren(TreeNodeId item)
{
    if (ScanRunning() || ListBusy() || LogJobRunning() || item == kNoTreeNode)
        return;
    if (namingJob_ && namingJob_->Running())
        return;
    std::shared_ptr<FileSystemVolume> volume = volumes_->OfFolder(results_.FolderOfItem(item));
    if (!volume || !IsFatKind(volume->Kind()))
        return;
    namingJob_ = std::make_unique<NamingJob>(results_, std::move(volume), item, &reports_->namingEnd);
    namingJob_->Start();
}

// ---- saving ---------------------------------------------------------------------------

SaveRequest SearchSession::TreeSaveRequest()
{
    SaveRequest request;
    request.results = &results_;
    request.volumes = volumes_;
    request.basicSearch = recoveryMode_ != 2;
    request.source = SaveSource::Tree;
    return request;
}

SaveRequest SearchSession::ListSaveRequest(std::vector<SaveRow> rows)
{
    SaveRequest request = TreeSaveRequest();
    request.source = SaveSource::List;
    request.rows = std::move(rows);
    return request;
}

// ---- the scan log -------------------------------------------------------------------------

bool SearchSession::LogJobRunning() const
{
    return (saveLogJob_ && saveLogJob_->Running()) || (loadLogJob_ && loadLogJob_->Running());
}

bool SearchSession::AnyJobRunning() const
{
    return ScanRunning() || ListBusy() || LogJobRunning() || OpenFileRunning();
}

bool SearchSession::PrepareSaveLog(ScanLogSaveRequest& request)
{
    if (scanCount_ == 0 || AnyJobRunning())
        return false;
    // The naming of lost sub-folders renames folders: not while they are written.
    if (namingJob_)
        namingJob_->StopAndWait();
    request.mode = recoveryMode_;
    request.deep = recoveryMode_ == 2 ? &deepLogTables_ : nullptr;
    saveLogJob_.reset();
    saveLogJob_ = std::make_unique<ScanLogSaveJob>(results_, partition_, std::move(request), &reports_->logSaveEnd);
    return true;
}

bool SearchSession::StartSaveLog(ScanLogSaveRequest request)
{
    return PrepareSaveLog(request) && saveLogJob_->Start();
}

bool SearchSession::RunSaveLogHere(ScanLogSaveRequest request)
{
    if (!PrepareSaveLog(request))
        return false;
    const bool ran = RunQuietly(*saveLogJob_);
    return ran && FinishSaveLog() && saveLogJob_->Result().ok();
}

bool SearchSession::FinishSaveLog()
{
    if (!saveLogJob_)
        return false;
    if (!JoinEnded(*saveLogJob_))
        return false;
    // Logged only once the log is in place.
    if (saveLogJob_->Result().ok() && !saveLogJob_->Failed()) {
        resultsLogged_ = true;
        results_.SetLogLoadedFlag(true);
    }
    return true;
}

bool SearchSession::PrepareLoadLog(ScanLogLoadRequest& request)
{
    if (scanCount_ != 0 || AnyJobRunning())
        return false;
    if (namingJob_)
        namingJob_->StopAndWait();
    listState_.Reset();
    fileRows_.Clear();
    fileRows_.ClearRowColors();
    volumes_->Clear();
    results_.ForgetResults();
    reports_->Reset();
    partition_ = CurrentPartition{};
    deepJob_.reset();
    deepTables_.Clear();
    request.mode = recoveryMode_;
    request.deep = recoveryMode_ == 2 ? &deepLogTables_ : nullptr;
    loadLogJob_.reset();
    loadLogJob_ = std::make_unique<ScanLogLoadJob>(results_, std::move(request), &reports_->logLoadEnd);
    return true;
}

bool SearchSession::StartLoadLog(ScanLogLoadRequest request)
{
    return PrepareLoadLog(request) && loadLogJob_->Start();
}

bool SearchSession::RunLoadLogHere(ScanLogLoadRequest request)
{
    if (!PrepareLoadLog(request))
        return false;
    const bool ran = RunQuietly(*loadLogJob_);
    if (!ran || !FinishLoadLog())
        return false;
    const ScanLogLoadOutcome outcome = loadLogJob_->Outcome();
    return outcome == ScanLogLoadOutcome::Loaded || outcome == ScanLogLoadOutcome::Damaged;
}

bool SearchSession::FinishLoadLog()
{
    if (!loadLogJob_)
        return false;
    if (!JoinEnded(*loadLogJob_))
        return false;
    const ScanLogLoadOutcome outcome = loadLogJob_->Failed() ? ScanLogLoadOutcome::Stopped : loadLogJob_->Outcome();
    stoppedByUser_ = false;
    if (outcome == ScanLogLoadOutcome::Loaded || outcome == ScanLogLoadOutcome::Damaged) {
        partition_ = loadLogJob_->Partition();
        volumes_->Clear();
        for (const std::shared_ptr<FileSystemVolume>& volume : loadLogJob_->Volumes())
            volumes_->Add(volume);
        scanCount_ = kLoadedFromLogState;
        // A log that broke off holds only part of the results: they are
        // shown, and Close and Back still offer to log them.
        resultsLogged_ = outcome == ScanLogLoadOutcome::Loaded;
        // The end-of-search box belongs to a scan.
        endBoxShown_ = true;
    } else {
        results_.ForgetResults();
        volumes_->Clear();
        deepTables_.Clear();
        partition_ = CurrentPartition{};
        scanCount_ = 0;
        resultsLogged_ = false;
    }
    return true;
}

// ---- opening a found file ----------------------------------------------------------------

bool SearchSession::OpenFileRunning() const
{
    return openJob_ && openJob_->Running();
}

bool SearchSession::PrepareOpenFile(const SaveRow& row, std::string folder)
{
    if (scanCount_ == 0 || AnyJobRunning() || row.isFolder)
        return false;
    OpenFoundFileRequest request;
    request.results = &results_;
    request.volumes = volumes_;
    request.basicSearch = recoveryMode_ != 2;
    request.row = row;
    request.folder = std::move(folder);
    request.registry = &extracted_;
    openJob_.reset();
    openJob_ = std::make_unique<OpenFoundFileJob>(std::move(request), &reports_->openEnd);
    return true;
}

bool SearchSession::StartOpenFile(const SaveRow& row, std::string folder)
{
    return PrepareOpenFile(row, std::move(folder)) && openJob_->Start();
}

bool SearchSession::RunOpenFileHere(const SaveRow& row, std::string folder)
{
    if (!PrepareOpenFile(row, std::move(folder)))
        return false;
    const bool ran = RunQuietly(*openJob_);
    return ran && FinishOpenFile() && openJob_->Openable();
}

bool SearchSession::FinishOpenFile()
{
    if (!openJob_)
        return false;
    if (!JoinEnded(*openJob_))
        return false;
    return true;
}

void SearchSession::StopOpenFile()
{
    if (openJob_ && openJob_->Running())
        openJob_->StopCopy();
}

// ---- the whole session ------------------------------------------------------------------

void SearchSession::Reset()
{
    StopAll();
    openJob_.reset();
    loadLogJob_.reset();
    saveLogJob_.reset();
    extracted_.Clear();
    namingJob_.reset();
    listJob_.reset();
    deepJob_.reset();
    scanJob_.reset();
    deepTables_.Clear();
    results_.SetLogLoadedFlag(false);
    results_.ForgetResults();
    volumes_->Clear();
    fileRows_.Clear();
    fileRows_.ClearRowColors();
    listState_.Reset();
    partition_ = CurrentPartition{};
    reports_->Reset();
    scanCount_ = 0;
    stoppedByUser_ = false;
    endBoxShown_ = false;
    resultsLogged_ = false;
}

void SearchSession::StopAll()
{
    if (openJob_)
        openJob_->StopAndWait();
    if (loadLogJob_)
        loadLogJob_->StopAndWait();
    if (saveLogJob_)
        saveLogJob_->Wait();   // a log being written is finished, not cut off
    if (namingJob_)
        namingJob_->StopAndWait();
    if (listJob_)
        listJob_->StopAndWait();
    if (scanJob_)
        scanJob_->StopAndWait();
    if (deepJob_)
        deepJob_->StopAndWait();
}

}  // namespace torvane
