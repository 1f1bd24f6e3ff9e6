// The NTFS sweeper of the Deep scan job (fsrecovery/deep/deep_sweeper.h):
// hands every chunk to the NTFS Deep scan (deep_ntfs_scan.h), runs its
// incremental pass when the job says so, and its steps at the end.
#pragma once

#include "fsrecovery/deep/deep_sweeper.h"
#include "fsrecovery/ntfs/deep_ntfs_scan.h"

#include <memory>
#include <optional>
#include <vector>

namespace torvane {

class DeepNtfsSweeper final : public DeepSweeper {
public:
    void Begin(DeepSweepContext& ctx) override;
    void Chunk(DeepSweepContext& ctx, std::uint64_t firstSector, const std::uint8_t* data,
               std::size_t sectorCount) override;
    std::chrono::milliseconds TimedPassInterval() const override { return kDeepNtfsPassInterval; }
    void TimedPass(DeepSweepContext& ctx) override;
    void Finish(DeepSweepContext& ctx, bool stopped) override;
    std::vector<std::shared_ptr<FileSystemVolume>> Volumes() override;

private:
    std::optional<DeepNtfsScan> scan_;
    std::shared_ptr<FileSystemVolume> volume_;
};

}  // namespace torvane
