#include "fsrecovery/basic_scan.h"

#include "fsrecovery/exfat/exfat_module.h"
#include "fsrecovery/fat/fat_module.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/ntfs/ntfs_module.h"

#include <exception>
#include <string>

namespace torvane {

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
    geometryFailed_ = true;
    if (sink_)
        sink_->Message(kUnableToCalculateText);
    if (Events())
        Events()->OnError(kUnableToCalculateText);
}

void BasicScanJob::Run()
{
    geometryFailed_ = false;
    endNotice_ = 0;
    volume_.reset();
    results_.ForgetResults();
    results_.SetRecoveryMode(1);
    if (sink_)
        sink_->StepText("");

    // A disk that lists no partition: what it holds decides what is read.
    diskOutcome_ = DiskWithoutPartitionsOutcome::NotApplicable;
    if (partition_.DiskListsNoPartition && OpenCurrentDevice(partition_)) {
        const DevicePtr device = partition_.Device;
        diskOutcome_ = PrepareDiskWithoutPartitions(partition_, *device, search_, [this] { return StopRequested(); },
                                                    &results_.CurrentScanSector, sink_);
    }

    // Geometry from the boot sector.
    int geometryOk = partition_.Device ? ReadVolumeParameters(partition_, *partition_.Device)
                                       : ReadVolumeParameters(partition_);
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
        if (!geometryOk) {
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
                    SweepFatVolume(results_, FatVolumeFromDescriptor(partition_.Descriptor), *partition_.Device,
                                   control);
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
            ReportUnusableVolume();
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
