#include "fsrecovery/basic_scan.h"

#include "fsrecovery/exfat/exfat_module.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "fsrecovery/fat/fat_module.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/ntfs/ntfs_module.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <unordered_set>

namespace torvane {
namespace {

// While the FAT sweep runs: the files of each folder it adds are counted
// (a FAT folder's files are not stored, so its entries are read for this) and
// go to the live list of latest finds; everything else goes on to whoever
// listened before.
class FatLiveFiles final : public ResultsEvents {
public:
    FatLiveFiles(ScanResults& results, Device& device, FatVolume volume, ScanSink* sink,
                 std::function<bool()> stop)
        : results_(results), inner_(results.Events()), device_(device), volume_(std::move(volume)), sink_(sink),
          stop_(std::move(stop))
    {
        results_.SetEvents(this);
        // The root's files: the root is in the tree before any folder.
        Walk(0);
    }
    ~FatLiveFiles() override { results_.SetEvents(inner_); }
    FatLiveFiles(const FatLiveFiles&) = delete;
    FatLiveFiles& operator=(const FatLiveFiles&) = delete;

    void OnLiveFolder(const std::string& name) override
    {
        if (inner_)
            inner_->OnLiveFolder(name);
    }

    void OnNewFatFolder(std::uint32_t selfId) override
    {
        if (inner_)
            inner_->OnNewFatFolder(selfId);
        if (selfId != 0 && selfId != kMiscFolderId)
            Walk(selfId);
    }

private:
    void Walk(std::uint32_t selfId)
    {
        if (!walked_.insert(selfId).second)
            return;
        // The list shows the latest few: a folder's first files, for a few
        // folders a second, are enough (the arrangement adds thousands).
        const auto now = std::chrono::steady_clock::now();
        const bool show = sink_ != nullptr && (!shown_ || now - lastShown_ >= std::chrono::milliseconds(100));
        if (show) {
            shown_ = true;
            lastShown_ = now;
        }
        constexpr int kMostFiles = 50;
        int listed = 0;
        std::uint64_t files = 0;
        FatFolderWalkOptions options;
        options.followContinuation = false;
        options.countFiles = false;
        options.stop = [this] { return stop_ && stop_(); };
        options.onFile = [&](const FatFileEntry& f) {
            if ((f.attribute & 0x08) != 0)
                return;   // the volume label is no file
            ++files;
            if (show && listed < kMostFiles) {
                ++listed;
                sink_->LiveItem(f.name);
            }
        };
        WalkFatFolderEntries(device_, volume_, selfId, options);
        results_.FoundFileCount += files;
    }

    ScanResults& results_;
    ResultsEvents* inner_;
    Device& device_;
    FatVolume volume_;
    ScanSink* sink_;
    std::function<bool()> stop_;
    std::unordered_set<std::uint32_t> walked_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastShown_;
};

}  // namespace

void ClampToDevice(PartitionDescriptor& d, std::uint64_t deviceBytes)
{
    if (deviceBytes == 0)
        return;   // a size nobody could tell: nothing to clamp to
    const std::uint64_t sectors = deviceBytes / kSectorSize;
    if (d.EndSector > sectors)
        d.EndSector = std::max(d.StartSector, sectors);
    if (d.EndByte > deviceBytes)
        d.EndByte = deviceBytes;
}

BasicScanJob::BasicScanJob(ScanResults& results, CurrentPartition partition, ScanSink* sink, JobEvents* events)
    : Job(events), results_(results), partition_(std::move(partition)), sink_(sink)
{
}

BasicScanJob::~BasicScanJob()
{
    StopAndWait();
}

void BasicScanJob::ReportUnusableVolume()
{
    ReportGeometryFailure(kUnableToCalculateText);
}

void BasicScanJob::ReportGeometryFailure(const std::string& text)
{
    geometryFailed_ = true;
    geometryFailureText_ = text;
    // Once: a session hears both its sink and its job's events.
    if (sink_)
        sink_->Message(text);
    else if (Events())
        Events()->OnError(text);
}

void BasicScanJob::Run()
{
    geometryFailed_ = false;
    geometryFailureText_.clear();
    endNotice_ = 0;
    volume_.reset();
    results_.ForgetResults();
    results_.SetRecoveryMode(1);
    if (sink_)
        sink_->StepText("");

    // Nothing past the device exists: an extent that a damaged table (or a
    // log, or a guess) carries beyond it is swept only as far as it goes.
    if (partition_.Device || OpenCurrentDevice(partition_))
        ClampToDevice(partition_.Descriptor, partition_.Device->SizeBytes());
    // A disk that lists no partition: what it holds decides what is read.
    diskOutcome_ = DiskWithoutPartitionsOutcome::NotApplicable;
    if (partition_.DiskListsNoPartition && OpenCurrentDevice(partition_)) {
        const DevicePtr device = partition_.Device;
        diskOutcome_ = PrepareDiskWithoutPartitions(partition_, *device, search_, [this] { return StopRequested(); },
                                                    &results_.CurrentScanSector, sink_);
    }

    // Geometry from the boot sector.
    VolumeParameterReport parameters;
    int geometryOk = partition_.Device ? ReadVolumeParameters(partition_, *partition_.Device, &parameters)
                                       : ReadVolumeParameters(partition_, &parameters);
    // A volume of a kind the program does not read (other sectors than 512
    // bytes, a FAT volume beyond 2^32 sectors) is said to be so; deriving a
    // geometry from its data would only invent one.
    const std::string refusal = VolumeRefusalText(parameters);
    const std::string fs = partition_.Descriptor.FsType;
    const FsKind kind = FsKindFromText(fs);
    // The exFAT reader checks the boot sector itself, and derives the
    // geometry from the folders when it must.
    if (kind == FsKind::Exfat)
        geometryOk = 1;
    const bool fatFamily = IsFatKind(kind) || kind == FsKind::Exfat;

    FatSweepControl control;
    control.stop = [this] { return StopRequested(); };
    control.sink = sink_;
    control.interimInterval = interim_;

    if (fatFamily) {
        std::optional<FatLiveFiles> live;   // from the sweep to the end of the steps
        if (!geometryOk && !refusal.empty()) {
            ReportGeometryFailure(refusal);
        } else if (!geometryOk) {
            int derived = partition_.Device ? RecalculateFatParameters(partition_, *partition_.Device, control) : 0;
            if (!derived)
                ReportUnusableVolume();
        }
        partition_.Descriptor.CopyGeometry(partition_.Geometry, false);
        partition_.Descriptor.FsName = fs;
        if (partition_.Descriptor.EndByte == 0)
            partition_.Descriptor.EndByte = partition_.Descriptor.EndSector * kSectorSize;
        results_.SetFsKind(kind);
        Progress().total = partition_.Descriptor.EndSector;
        if (!geometryFailed_ && partition_.Device) {
            results_.EnsureRootItem();
            // A failure inside the sweep (memory, an internal error) ends
            // only the sweep: what it queued is still arranged below.
            try {
                if (kind == FsKind::Exfat) {
                    volume_ = ScanBasicExfat(*this, partition_, results_);
                } else {
                    volume_ = MakeFatFileSystemVolume(partition_);
                    const FatVolume fat = FatVolumeFromDescriptor(partition_.Descriptor);
                    live.emplace(results_, *partition_.Device, fat, sink_, [this] { return StopRequested(); });
                    SweepFatVolume(results_, fat, *partition_.Device, control);
                }
            } catch (const std::exception& e) {
                if (Events())
                    Events()->OnError(std::string("Searching lost directories stopped: ") + e.what());
            }
        }
        if (sink_)
            sink_->StepText(kSearchingLostDirectoriesText);
        // The steps run on whatever was found, after a stop too.
        RunBasicFatSteps(results_, sink_);
    } else if (kind == FsKind::Ntfs) {
        partition_.Descriptor.CopyGeometry(partition_.Geometry, true);
        partition_.Descriptor.FsName = fs;
        results_.SetFsKind(kind);
        // Without the cluster size and the place of the $MFT (or of its
        // mirror) there is nothing the MFT sweep can read.
        if (!geometryOk)
            ReportGeometryFailure(refusal.empty() ? std::string(kUnableToCalculateText) : refusal);
        else
            volume_ = ScanBasicNtfs(*this, partition_, results_);
    }

    // Result state.
    Progress().done = results_.CurrentScanSector.load();
    Progress().folders = results_.FoundFolderCount.load();
    if (results_.Tree().NodeCount() == 0) {
        results_.EnsureRootItem();
        endNotice_ = 1;
    }
}

}  // namespace torvane
