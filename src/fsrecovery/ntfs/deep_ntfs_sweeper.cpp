#include "fsrecovery/ntfs/deep_ntfs_sweeper.h"

namespace torvane {

void DeepNtfsSweeper::Begin(DeepSweepContext& ctx)
{
    scan_.emplace(ctx.results);
    scan_->Begin(ctx.partition, ctx.device);
}

void DeepNtfsSweeper::Chunk(DeepSweepContext& /*ctx*/, std::uint64_t firstSector, const std::uint8_t* data,
                            std::size_t sectorCount)
{
    if (scan_)
        scan_->Chunk(firstSector, data, sectorCount);
}

void DeepNtfsSweeper::TimedPass(DeepSweepContext& ctx)
{
    if (scan_)
        scan_->TimedPass([&ctx] { return ctx.control.StopRequested(); });
}

void DeepNtfsSweeper::Finish(DeepSweepContext& ctx, bool /*stopped*/)
{
    if (!scan_) {
        scan_.emplace(ctx.results);
        scan_->Begin(ctx.partition, ctx.device);
    }
    volume_ = scan_->Finish(ctx.partition, ctx.control.Sink());
}

std::vector<std::shared_ptr<FileSystemVolume>> DeepNtfsSweeper::Volumes()
{
    if (!volume_)
        return {};
    return {volume_};
}

}  // namespace torvane
