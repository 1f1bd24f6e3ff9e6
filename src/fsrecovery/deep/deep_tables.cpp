#include "fsrecovery/deep/deep_tables.h"

#include "fsrecovery/deep/deep_sweeper.h"

#include <cstdio>
#include <utility>

namespace torvane {

void DeepTables::Clear()
{
    bootSectors.clear();
    dirs.clear();
    newList.clear();
    fileSystems.clear();
    extents.clear();
    firstPairChecked = false;
    finalAnalysis = false;
    rootNamesRead = false;
    rootWalkResult = 0;
    dirSerial = 1;
    miscFolderCreated = false;
    workersStopped = false;
    Publish({});
}

std::vector<DeepFoundFileSystem> DeepTables::FoundFileSystems() const
{
    std::lock_guard<std::mutex> lk(publishMutex_);
    return published_;
}

void DeepTables::Publish(std::vector<DeepFoundFileSystem> found)
{
    std::lock_guard<std::mutex> lk(publishMutex_);
    published_ = std::move(found);
}

std::string DeepSweepStatusText(std::uint64_t endSector)
{
    char text[64];
    std::snprintf(text, sizeof text, "sectors  of  total %llu", static_cast<unsigned long long>(endSector));
    return text;
}

void LoadFatVolumeRow(const FatFileSystemRow& row, PartitionDescriptor& d)
{
    d.Cluster0Start = row.cluster0Start;
    d.SectorsPerFat = row.sectorsPerFat;
    d.SectorsPerCluster = row.sectorsPerCluster;
    d.RootSectors = row.rootSectors;
    if (d.RootSectors == 0 && row.partType == "FAT16")
        d.RootSectors = 32;
    std::uint64_t rootStart = row.rootStart;
    if (rootStart == 0) {
        rootStart = d.Cluster0Start != 0 ? d.Cluster0Start : 2;
        if (d.ItemStart != 0)
            rootStart = d.ItemStart;
    }
    // The FAT values of a descriptor are 32-bit (FAT volumes lie within the
    // first 2^32 sectors); a row beyond gives 0, which no reader follows.
    auto u32 = [](std::uint64_t v) { return v > 0xFFFFFFFFull ? 0u : static_cast<std::uint32_t>(v); };
    d.RootStart = u32(rootStart);
    d.ReservedSectors = row.reservedSectors;
    d.FirstFatStart = u32(row.firstFat);
    d.SecondFatStart = u32(row.secondFat);
    d.FsName = row.partType;
}

const FatFileSystemRow* FindFatVolumeRow(const std::vector<FatFileSystemRow>& rows, std::uint64_t key)
{
    for (const FatFileSystemRow& r : rows)
        if (r.cluster0Start == key)
            return &r;
    return nullptr;
}

std::vector<DeepFoundFileSystem> FoundFatFileSystems(const std::vector<FatFileSystemRow>& rows)
{
    std::vector<DeepFoundFileSystem> found;
    found.reserve(rows.size());
    for (const FatFileSystemRow& r : rows)
        found.push_back(DeepFoundFileSystem{r.partType, r.cluster0Start, r.sector, r.totalSectors, r.sectorsPerCluster});
    return found;
}

}  // namespace torvane
