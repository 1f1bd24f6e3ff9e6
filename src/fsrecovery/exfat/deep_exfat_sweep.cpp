#include "fsrecovery/exfat/deep_exfat_sweep.h"

#include "fsrecovery/deep/deep_arrangement.h"
#include "fsrecovery/exfat/exfat_module.h"
#include "fsrecovery/exfat/exfat_scan.h"

namespace torvane {
namespace {

class DeepExfatSweeper final : public DeepSweeper {
public:
    void Begin(DeepSweepContext& ctx) override
    {
        ctx.tables.dirSerial = 1;
        ctx.tables.workersStopped = false;
        if (ScanSink* sink = ctx.control.Sink()) {
            sink->StatusText("Reading exFAT drive ...");
            sink->ProgressRange(ctx.partition.Descriptor.StartSector, ctx.partition.Descriptor.EndSector);
        }
        index_ = std::make_shared<ExfatFileIndex>();
    }

    bool SweepsItself() const override { return true; }

    void Sweep(DeepSweepContext& ctx) override
    {
        ExfatScanControl control;
        ScanControl& job = ctx.control;
        control.stop = [&job] { return job.StopRequested(); };
        control.unreadableFolder = [&job](const UnreadableFolderSectors& folder) {
            if (ScanSink* sink = job.Sink())
                sink->UnreadableFolder(folder);
        };
        const ExfatScanReport report =
            SearchExfatDirectories(ctx.results, ctx.partition, ctx.device, index_.get(), control);
        if (report.rootCluster != 0) {
            ctx.partition.Geometry.RootStart = report.rootCluster;
            ctx.partition.Descriptor.RootStart = report.rootCluster;
        }
    }

    void Chunk(DeepSweepContext&, std::uint64_t, const std::uint8_t*, std::size_t) override {}

    void Finish(DeepSweepContext& ctx, bool /*stopped*/) override
    {
        ScanSink* sink = ctx.control.Sink();
        ctx.tables.workersStopped = true;
        if (sink)
            sink->StepText(kDeepStep1Of7Text);
        ScanResults& results = ctx.results;
        results.SortFoundEntries();
        results.EnsureRootItem();
        results.SortPendingDirectories();
        if (sink)
            sink->StepText(kDeepStep4Of7Text);
        DeepFolderIndex index;
        DeepArrangeOptions options;
        options.exfat = true;
        options.sink = sink;
        ArrangeDeepPendingDirectories(results, index, options);
        if (sink)
            sink->StepText("");
        ctx.partition.Descriptor.FsName = "exFAT";
        volumes_.clear();
        volumes_.push_back(MakeExfatFileSystemVolume(ctx.partition, index_));
    }

    std::vector<std::shared_ptr<FileSystemVolume>> Volumes() override { return volumes_; }

private:
    std::shared_ptr<ExfatFileIndex> index_;
    std::vector<std::shared_ptr<FileSystemVolume>> volumes_;
};

}  // namespace

std::unique_ptr<DeepSweeper> MakeDeepExfatSweeper()
{
    return std::make_unique<DeepExfatSweeper>();
}

}  // namespace torvane
