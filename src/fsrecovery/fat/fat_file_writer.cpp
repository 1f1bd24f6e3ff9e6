#include "fsrecovery/fat/fat_file_writer.h"

#include "fsrecovery/fat/fat_chain.h"
#include "results/save_destination.h"

#include <algorithm>
#include <unordered_set>

namespace torvane {
namespace {

bool IsEndOfChainMark(FatKind kind, std::uint32_t value)
{
    return kind == FatKind::Fat16 ? (value >= 0xFFF8 && value <= 0xFFFF) : (value >= 0x0FFFFFF8);
}

std::uint64_t HighestDataCluster(const FatVolume& volume)
{
    std::uint64_t last = volume.LastClusterInVolume();
    std::uint64_t cells = volume.FatCellCapacity();
    if (cells != 0 && (last == 0 || cells - 1 < last))
        last = cells - 1;
    return last;
}

std::vector<std::uint32_t> ChainPrefixInFat(Device& device, const FatVolume& volume, std::uint64_t fatStart,
                                            std::uint32_t first, std::uint64_t count, std::uint64_t highest)
{
    std::vector<std::uint32_t> chain;
    FatTable table(device, volume.kind, fatStart, volume.sectorsPerFat);
    chain.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 20)));
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t c = first;
    while (chain.size() < count) {
        if (c < 2 || (highest != 0 && c > highest) || !seen.insert(c).second)
            break;
        chain.push_back(c);
        if (chain.size() == count)
            break;
        std::uint32_t next = 0;
        if (!table.Cell(c, next) || IsEndOfChainMark(volume.kind, next) || next < 2)
            break;
        c = next;
    }
    return chain;
}

}  // namespace

std::vector<std::uint32_t> FatFileChainPrefix(Device& device, const FatVolume& volume, std::uint32_t firstCluster,
                                              std::uint64_t clusterCount)
{
    if (volume.kind == FatKind::None || clusterCount == 0 || volume.sectorsPerCluster == 0)
        return {};
    const std::uint64_t highest = HighestDataCluster(volume);
    auto chain = ChainPrefixInFat(device, volume, volume.fatStart, firstCluster, clusterCount, highest);
    if (chain.size() < clusterCount && volume.sectorsPerFat != 0) {
        auto second = ChainPrefixInFat(device, volume, volume.fatStart + volume.sectorsPerFat, firstCluster,
                                       clusterCount, highest);
        if (second.size() > chain.size())
            chain = std::move(second);
    }
    return chain;
}

FatDataPlan PlanFatFileData(Device& device, const FatVolume& volume, std::uint32_t firstCluster, std::uint64_t size,
                            bool deleted)
{
    FatDataPlan plan;
    if (size == 0)
        return plan;
    const std::uint64_t spc = volume.sectorsPerCluster;
    if (spc == 0 || firstCluster < 2) {
        plan.shortOfData = true;
        return plan;
    }
    const std::uint64_t clusterBytes = spc * kSectorSize;
    const std::uint64_t clusters = (size + clusterBytes - 1) / clusterBytes;
    const std::uint64_t sectorsNeeded = (size + kSectorSize - 1) / kSectorSize;
    std::vector<SectorExtent> raw;
    auto add = [&raw](std::uint64_t sector, std::uint64_t count) {
        if (!raw.empty() && raw.back().firstSector + raw.back().sectorCount == sector)
            raw.back().sectorCount += count;
        else
            raw.push_back(SectorExtent{sector, count});
    };
    if (!deleted) {
        std::vector<std::uint32_t> chain = FatFileChainPrefix(device, volume, firstCluster, clusters);
        if (!chain.empty()) {
            plan.alongChain = true;
            for (std::uint32_t c : chain)
                add(volume.ClusterSector(c), spc);
            if (chain.size() < clusters) {
                // The FAT no longer knows the rest: the clusters that follow
                // the last one walked are the best guess, and the file says so.
                plan.chainShort = true;
                add(volume.ClusterSector(chain.back() + 1), (clusters - chain.size()) * spc);
            }
        }
    }
    if (!plan.alongChain)
        add(volume.ClusterSector(firstCluster), clusters * spc);
    // Nothing past the end of the volume (or of the source) is read.
    std::uint64_t end = volume.endSector;
    if (volume.endByte != 0 && (end == 0 || volume.endByte / kSectorSize < end))
        end = volume.endByte / kSectorSize;
    std::uint64_t total = 0;
    for (SectorExtent e : raw) {
        if (end != 0) {
            if (e.firstSector >= end)
                break;
            e.sectorCount = std::min(e.sectorCount, end - e.firstSector);
        }
        plan.extents.push_back(e);
        total += e.sectorCount;
        if (e.firstSector + e.sectorCount == end && end != 0)
            break;
    }
    plan.shortOfData = total < sectorsNeeded;
    return plan;
}

FileOutcome SaveFatFile(SaveSession& session, Device& device, const FatVolume& volume, FatFileToSave file,
                        bool resolveConflict)
{
    session.Skip().skip = false;
    SaveCounters& counters = session.Counters();
    counters.fileBytesDone = 0;
    counters.fileBytesTotal = file.size;
    if (resolveConflict) {
        std::string resolved = ResolveNameConflict(session, file.target);
        if (resolved.empty()) {
            session.Report().Add(FileOutcome::Skipped, file.target, "a file of that name exists");
            return FileOutcome::Skipped;
        }
        file.target = std::move(resolved);
        file.name = LastComponent(file.target);
        ++counters.filesWritten;
    }
    session.SetCurrentItem(file.name, file.target);
    counters.gatheringClusters = true;
    FatDataPlan plan = PlanFatFileData(device, volume, file.firstCluster, file.size, file.deleted);
    counters.gatheringClusters = false;
    FileOutcome failure = FileOutcome::Failed;
    std::unique_ptr<TargetFile> target = OpenRecoveredTarget(session, file.target, file.name, failure);
    if (!target)
        return failure;
    CopyResult copy = CopySectorExtents(session, device, plan.extents, file.size, *target);
    const std::string why = plan.chainShort ? kChainEndsBeforeSizeText : plan.shortOfData ? kDataPastEndText : "";
    return FinishTarget(session, std::move(target), file.target, copy, file.size, why);
}

}  // namespace torvane
