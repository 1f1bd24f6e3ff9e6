#include "partsearch/removable_media_scan.h"

#include "partsearch/partition_search_text.h"
#include "platform/device_registry.h"

namespace torvane {

RemovableMediaScanJob::RemovableMediaScanJob(RemovableMediaScanParams params, RemovableMediaEvents* events)
    : Job(events), params_(std::move(params)), mediaEvents_(events)
{
}

RemovableMediaScanJob::~RemovableMediaScanJob() { StopAndWait(); }

void RemovableMediaScanJob::Run()
{
    current_ = -1;
    Progress().Reset();
    for (std::size_t i = 0; i < params_.disks.size(); ++i) {
        if (StopRequested())
            return;
        const MediaScanDisk& disk = params_.disks[i];
        current_ = static_cast<int>(i);
        cylinders_ = disk.cylinders;
        Progress().done = 0;
        Progress().total = disk.totalSectors;
        if (mediaEvents_)
            mediaEvents_->OnDiskStarted(disk);

        PartitionSearchParams search;
        // A disk that cannot be opened is probed nowhere: it still gets its end.
        search.device = params_.open ? params_.open(disk.devicePath) : DeviceRegistry::Instance().Open(disk.devicePath);
        search.diskNumber = disk.disk;
        search.depth = SmpMode::Cylinder;
        search.diskSectors = disk.totalSectors;
        search.table = disk.table;
        search.shownPartitions = disk.shownPartitions;
        // A disk smaller than one cylinder still has its first sector and its
        // 1 MiB boundaries probed.
        search.cylinders = disk.cylinders != 0 ? disk.cylinders : (disk.totalSectors != 0 ? 1 : 0);
        int found = 0;
        PartitionSearchControl control;
        control.stop = [this] { return StopRequested(); };
        control.currentSector = &Progress().done;
        control.onFound = [&](const FoundPartitionEvent& ev) {
            ++found;
            ++Progress().folders;
            if (mediaEvents_)
                mediaEvents_->OnMediaPartitionFound(disk, ev);
        };
        const PartitionSearchOutcome outcome = RunPartitionSearch(search, control);
        if (outcome.stopped || StopRequested())
            return;
        // A disk that shows nothing gets its whole-disk entry.
        const int gained = found + (disk.shownPartitions == 0 && found == 0 ? 1 : 0);
        if (mediaEvents_)
            mediaEvents_->OnDiskEnded(disk, gained);
        if (params_.askResults) {
            JobQuestion question;
            question.kind = kPartitionSearchResultQuestion;
            question.text = FormatPartitionSearchResult(disk.disk, gained, gained != 0, "Disk", "");
            if (!Ask(question))
                return;   // stopped while the message showed
        }
    }
}

}  // namespace torvane
