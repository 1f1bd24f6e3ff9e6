#include "fsrecovery/scan_log_jobs.h"

#include "base/program_state.h"
#include "results/save_walkers.h"

#include <cerrno>
#include <optional>
#include <utility>

namespace torvane {

// ---- saving ---------------------------------------------------------------------

ScanLogSaveJob::ScanLogSaveJob(ScanResults& results, const CurrentPartition& partition, ScanLogSaveRequest request,
                               JobEvents* events)
    : Job(events), results_(results), partition_(partition), request_(std::move(request))
{
}

ScanLogSaveJob::~ScanLogSaveJob() { StopAndWait(); }

void ScanLogSaveJob::Run()
{
    result_ = {};
    const ScanLogDocument doc =
        MakeScanLogDocument(results_, partition_, request_.mode, request_.source, request_.deep);
    if (StopRequested()) {
        result_ = ScanLogWriteResult{ECANCELED, "The scanning log was not written."};
        return;
    }
    result_ = WriteScanLogFile(doc, request_.path);
}

// ---- loading --------------------------------------------------------------------

ScanLogLoadJob::ScanLogLoadJob(ScanResults& results, ScanLogLoadRequest request, JobEvents* events)
    : Job(events), results_(results), request_(std::move(request))
{
}

ScanLogLoadJob::~ScanLogLoadJob() { StopAndWait(); }

void ScanLogLoadJob::End(ScanLogLoadOutcome outcome, std::string message)
{
    outcome_ = outcome;
    message_ = std::move(message);
}

void ScanLogLoadJob::Run()
{
    const SharedMessageTexts& texts = ProgramState::Instance().Messages;
    outcome_ = ScanLogLoadOutcome::Stopped;
    message_.clear();
    volumes_.clear();
    partition_ = CurrentPartition{};
    done = 0;
    total = 0;

    const bool deepDialog = request_.mode == 2;
    const ScanLogReaderKind kind = deepDialog ? ScanLogReaderKind::Deep : ScanLogReaderKind::Basic;
    read_ = ReadScanLogFile(request_.path, kind);
    const ScanLogDocument& doc = read_.document;
    switch (read_.status) {
    case ScanLogReadStatus::OpenFailed:
        return End(ScanLogLoadOutcome::OpenFailed,
                   "The scanning log file \"" + request_.path.string() + "\" cannot be opened: " + read_.detail + ".");
    case ScanLogReadStatus::InvalidLog:
        return End(ScanLogLoadOutcome::InvalidLog, texts.InvalidScanLogText);
    case ScanLogReadStatus::HandOver:
        handOverMode_ = static_cast<int>(doc.header.mode);
        return End(ScanLogLoadOutcome::HandOver);
    case ScanLogReadStatus::UnknownMode:
        return End(ScanLogLoadOutcome::MediaMoved, texts.OriginalMediaMovedText);
    case ScanLogReadStatus::Damaged:
        // Without the whole partition and its geometry there is nothing to
        // read files from: a log that breaks off before its tree loads nothing.
        if (read_.failedSection < ScanLogSection::FolderTree)
            return End(ScanLogLoadOutcome::InvalidLog, texts.InvalidScanLogText);
        break;
    case ScanLogReadStatus::Loaded:
        break;
    }
    if (StopRequested())
        return;

    // The source, among the devices attached now.
    DeviceRegistry& registry = request_.registry ? *request_.registry : DeviceRegistry::Instance();
    const ScanLogDevices devices = request_.devices ? request_.devices() : ListScanLogDevices(registry);
    const CurrentPartition logged = ScanLogPartitionOf(doc);
    std::optional<CurrentPartition> found =
        FindLoggedPartition(logged, ScanLogSourceCandidates(doc, devices, kind), registry);
    if (!found)
        return End(ScanLogLoadOutcome::MediaMoved, texts.OriginalMediaMovedText);
    if (StopRequested())
        return;
    partition_ = std::move(*found);
    // The disk's identity as it is listed now (its number may have changed),
    // so that the results can be logged again.
    partition_.Descriptor.DiskIdentity = doc.source.diskIdentity;
    const std::string number = "||" + std::to_string(partition_.Descriptor.DiskNumber);
    for (const std::string& identity : devices.diskIdentities)
        if (ParsePhysicalDriveNumber(partition_.DevicePath) >= 0 && identity.size() >= number.size() &&
            identity.compare(identity.size() - number.size(), number.size(), number) == 0)
            partition_.Descriptor.DiskIdentity = identity;

    // What the log holds.
    total = doc.tree.size() + doc.files.size();
    InsertScanLogResults(
        doc, results_, request_.mode, [this] { return StopRequested(); }, [this](std::uint64_t n) { done = n; });
    if (StopRequested())
        return;
    done = total.load();
    if (deepDialog && request_.deep) {
        request_.deep->RestoreTables(doc.fileSystemRows, doc.extents);
        volumes_ = request_.deep->RebuildVolumes(partition_, results_);
    } else if (std::shared_ptr<FileSystemVolume> volume = MakeLoadedVolume(partition_)) {
        volumes_.push_back(std::move(volume));
    }

    // A FAT log lists folders, not files (a folder's files are read when it
    // is listed): the files are counted here as the scan counted them.
    if (results_.FoundFileCount == 0 && results_.FolderCount() > 0) {
        if (const std::optional<std::uint64_t> files =
                CountEveryFoundFile(results_, volumes_, [this] { return StopRequested(); }))
            results_.FoundFileCount = *files;
        if (StopRequested())
            return;
    }

    description_ = !doc.trailer.sourceDescription.empty() ? doc.trailer.sourceDescription
                                                           : doc.header.driveDescription;
    const bool whole = read_.status == ScanLogReadStatus::Loaded;
    results_.SetLogLoadedFlag(whole);
    if (whole)
        End(ScanLogLoadOutcome::Loaded);
    else
        End(ScanLogLoadOutcome::Damaged, texts.InvalidScanLogText);
}

}  // namespace torvane
