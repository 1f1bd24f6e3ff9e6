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
    void Message(const std::string& text) override
    {
        if (SearchSessionObserver* o = observer_.load())
            o->OnMessage(text);
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

private:
    std::mutex mutex_;
    std::string step_, status_;
    std::vector<std::string> live_;
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
    namingJob_.reset();
    listJob_.reset();
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

void SearchSession::PrepareScan(const CurrentPartition& partition)
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
    scanJob_ = std::make_unique<BasicScanJob>(results_, partition_, reports_.get(), &reports_->scanEnd);
    scanJob_->SetInterimInterval(interim_);
}

bool SearchSession::StartScan(const CurrentPartition& partition)
{
    if (ScanRunning() || ListBusy())
        return false;
    PrepareScan(partition);
    return scanJob_->Start();
}

bool SearchSession::RunScanHere(const CurrentPartition& partition)
{
    if (ScanRunning() || ListBusy())
        return false;
    PrepareScan(partition);
    scanJob_->SetInterimInterval(std::chrono::milliseconds(0));
    SearchSessionObserver* observer = reports_->observer_.exchange(nullptr);
    const bool ran = scanJob_->RunHere();
    reports_->observer_ = observer;
    return ran && FinishScan();
}

bool SearchSession::FinishScan()
{
    if (!scanJob_)
        return false;
    if (scanJob_->Running()) {
        scanJob_->Wait();
        if (scanJob_->Running())
            return false;
    }
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
    scanJob_->Stop();
}

bool SearchSession::ScanRunning() const
{
    return scanJob_ && scanJob_->Running();
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
    if (ListBusy())
        return false;
    PrepareListing(item);
    return listJob_->Start();
}

bool SearchSession::RunListingHere(TreeNodeId item)
{
    if (ListBusy())
        return false;
    PrepareListing(item);
    SearchSessionObserver* observer = reports_->observer_.exchange(nullptr);
    const bool ran = listJob_->RunHere();
    reports_->observer_ = observer;
    return ran && FinishListing();
}

bool SearchSession::FinishListing()
{
    if (!listJob_)
        return true;
    if (listJob_->Running()) {
        listJob_->Wait();
        if (listJob_->Running())
            return false;
    }
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
    if (ScanRunning() || ListBusy() || item == kNoTreeNode)
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

// ---- the whole session ------------------------------------------------------------------

void SearchSession::Reset()
{
    StopAll();
    namingJob_.reset();
    listJob_.reset();
    scanJob_.reset();
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
    if (namingJob_)
        namingJob_->StopAndWait();
    if (listJob_)
        listJob_->StopAndWait();
    if (scanJob_)
        scanJob_->StopAndWait();
}

}  // namespace torvane
