#include "fsrecovery/fat/deep_fat_sweep.h"

#include "base/byte_view.h"
#include "fsrecovery/fat/deep_fat_assign.h"
#include "fsrecovery/fat/deep_fat_steps.h"
#include "fsrecovery/fat/fat_directory.h"

#include <algorithm>

namespace torvane {
namespace {

std::uint16_t U16(const std::uint8_t* b, std::size_t off) { return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8)); }
std::uint32_t U32(const std::uint8_t* b, std::size_t off)
{
    return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
           (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

bool IsDirAttr(std::uint8_t a) { return a == 0x0F || a == 0x20; }

void AddBootRow(DeepTables& tables, std::uint64_t s, const std::uint8_t* b, bool fat32)
{
    if (tables.bootSectors.size() >= kMaxBootSectorRows)
        return;
    FatBootRow row;
    row.sector = s;
    row.sectorsPerCluster = b[13];
    row.reservedSectors = U16(b, 14);
    if (fat32) {
        row.sectorsPerFat = U32(b, 36);
        row.rootSectors = 0;
        row.rootStart = U32(b, 44);
        row.partType = "FAT32";
    } else {
        row.sectorsPerFat = U16(b, 22);
        row.rootSectors = U16(b, 17) / 16u;
        row.rootStart = s + row.reservedSectors + 2ull * row.sectorsPerFat;
        row.partType = "FAT16";
    }
    // Unsigned as the table's texts are; a row whose cluster 0 would lie in
    // front of sector 0 places no directory (the sector test fails).
    row.cluster0Start = s + row.reservedSectors + row.rootSectors + 2ull * row.sectorsPerFat -
                        2ull * row.sectorsPerCluster;
    row.firstFat = s + row.reservedSectors;
    row.secondFat = s + row.reservedSectors + row.sectorsPerFat;
    // Small volumes keep their size in the 16-bit field (u32 @32 is 0 then).
    std::uint64_t total = U32(b, 32);
    if (total == 0)
        total = U16(b, 19);
    row.totalSectors = s + total;
    tables.bootSectors.push_back(std::move(row));
}

// Whether the FAT still gives `cluster` to a chain: a cell that leads on, or
// an end-of-chain mark. Such a cluster belongs to a live file or folder (a
// live folder is found by its first cluster and read along its chain), so
// only free and bad cells, and cells that cannot be read, make a
// continuation row: the clusters of folders the FAT has forgotten.
bool CellInUse(DeepFatSweepState& state, std::uint32_t cluster)
{
    if (!state.fat)
        return false;
    std::uint32_t value = 0;
    if (!state.fat->Cell(cluster, value))
        return false;
    if (value == 0)
        return false;
    if (state.fatKind == FatKind::Fat16)
        return value != 0xFFF7;
    return value != 0x0FFFFFF7;
}

}  // namespace

void BeginDeepFatSweep(DeepFatSweepState& state, const CurrentPartition& partition, Device* device)
{
    state.lastNewListSector = 0;
    state.haveNewListRow = false;
    state.geometry = partition.Geometry;
    state.descriptor = partition.Descriptor;
    state.fatKind = state.geometry.RootSectors > 0 ? FatKind::Fat16 : FatKind::Fat32;
    state.fat.reset();
    if (device && state.geometry.FirstFatStart != 0)
        state.fat = std::make_unique<FatTable>(*device, state.fatKind, state.geometry.FirstFatStart,
                                               state.geometry.SectorsPerFat);
}

void ClassifyDeepFatSectors(DeepFatSweepState& state, DeepTables& tables, ScanResults& results,
                            std::uint64_t first, const std::uint8_t* data, std::size_t count)
{
    const VolumeGeometry& g = state.geometry;
    const bool fatKnown = g.FirstFatStart != 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* b = data + i * kSectorSize;
        const std::uint64_t s = first + i;
        results.CurrentScanSector.store(s, std::memory_order_relaxed);

        // 1. Boot sector.
        if (b[510] == 0x55 && b[511] == 0xAA) {
            if (b[85] == '3' && b[86] == '2')
                AddBootRow(tables, s, b, true);
            else if (b[57] == '1' && b[58] == '6')
                AddBootRow(tables, s, b, false);
        }

        // 2. Directory candidate.
        bool candidate = false, longName = false;
        if (b[11] == 0x0F || b[11] == 0x20) {
            const bool oneOfNext = IsDirAttr(b[43]) || IsDirAttr(b[75]) || IsDirAttr(b[107]) || IsDirAttr(b[139]);
            bool ok = false;
            if (b[11] == 0x0F) {
                ok = b[26] == 0 && b[27] == 0 && oneOfNext;
                longName = ok;
            } else {
                ok = b[13] >= 1 && b[13] <= 199 && b[12] == 0 && b[44] == 0 && b[76] == 0 && oneOfNext;
            }
            ok = ok && b[12] == 0;
            if (ok)
                ok = b[0] && b[32] && b[64] && b[96] && b[128] && b[160];
            if (!ok)
                ok = b[0] == 0xE5 && b[32] == 0xE5 && b[64] == 0xE5;
            candidate = ok;
        }

        // 3. A directory's first cluster.
        if (b[0] == '.' && b[1] == ' ' && b[32] == '.' && b[33] == '.' && b[34] == ' ') {
            results.FoundFolderCount.fetch_add(1, std::memory_order_relaxed);
            DirTableRow row;
            row.sector = s;
            row.self = (static_cast<std::uint32_t>(U16(b, 20)) << 16) | U16(b, 26);
            row.parent = (static_cast<std::uint32_t>(U16(b, 52)) << 16) | U16(b, 58);
            row.date = U16(b, 24);
            row.time = U16(b, 22);
            RootDirectoryName named;
            {
                auto lk = results.Lock();
                if (results.DirNameList().LiveCount() > 0 && results.DirNameList().TakeLast(row.self, named)) {
                    row.name = named.name;
                    row.deleted = named.deleted;
                }
            }
            tables.dirs.push_back(std::move(row));
            // The finishing steps read this cluster again (the names of
            // its lost subfolders, the count of its files).
            if (state.readCache) {
                const std::uint64_t clusterSectors = g.SectorsPerCluster != 0 ? g.SectorsPerCluster : 8;
                state.readCache->Offer(first * kSectorSize, data, count * kSectorSize, s * kSectorSize,
                                       (s + clusterSectors) * kSectorSize);
            }
            continue;
        }
        if (!candidate)
            continue;

        // 4. A continuation cluster. The entry that gives date, time and
        // cluster: after the long-name slots (which may run on into the
        // following sectors of the chunk), else the first.
        const std::uint8_t* entry = b;
        if (longName) {
            const std::uint8_t* end = data + count * kSectorSize;
            while (entry < end && entry[11] == 0x0F)
                entry += kFatEntrySize;
            if (entry >= end)
                entry = nullptr;
        }
        const std::uint16_t date = entry ? U16(entry, 24) : 0;
        const std::uint16_t time = entry ? U16(entry, 22) : 0;
        const std::uint32_t entryCluster = entry ? FatEntryFirstCluster(entry) : 0;

        const std::uint64_t d = s - (state.haveNewListRow ? state.lastNewListSector : 0);
        if (d <= 1)
            continue;
        if (state.haveNewListRow && d <= g.SectorsPerCluster && fatKnown)
            continue;
        NewListRow row;
        row.sector = s;
        row.date = date;
        row.time = time;
        bool write = true;
        if (g.SectorsPerCluster == 0) {
            write = g.Cluster0Start != 0 || state.descriptor.SectorsPerCluster != 0 ||
                    state.descriptor.Cluster0Start != 0;
            row.self = entryCluster;
        } else if (g.Cluster0Start > 0 && s >= g.Cluster0Start) {
            const std::uint64_t cluster = (s - g.Cluster0Start) / g.SectorsPerCluster;
            if (fatKnown)
                write = cluster > 0xFFFFFFFFull || !CellInUse(state, static_cast<std::uint32_t>(cluster));
            else
                write = !state.haveNewListRow || d > g.SectorsPerCluster;
            row.self = cluster + 1;
            row.selfIsClusterPlusOne = true;
        } else {
            row.self = entryCluster;
        }
        if (!write)
            continue;
        tables.newList.push_back(row);
        state.lastNewListSector = s;
        state.haveNewListRow = true;
    }
}

namespace {

class DeepFatSweeper final : public DeepSweeper {
public:
    void Begin(DeepSweepContext& ctx) override
    {
        BeginDeepFatSweep(state_, ctx.partition, &ctx.device);
        state_.readCache = ctx.readCache;
        ctx.tables.dirSerial = 1;
        ctx.tables.workersStopped = false;
        if (ScanSink* sink = ctx.control.Sink()) {
            sink->StatusText(DeepSweepStatusText(ctx.partition.Descriptor.EndSector));
            sink->ProgressRange(ctx.partition.Descriptor.StartSector, ctx.partition.Descriptor.EndSector);
        }
    }

    void Chunk(DeepSweepContext& ctx, std::uint64_t first, const std::uint8_t* data, std::size_t count) override
    {
        ClassifyDeepFatSectors(state_, ctx.tables, ctx.results, first, data, count);
    }

    std::chrono::milliseconds TimedPassInterval() const override { return std::chrono::seconds(10); }

    void TimedPass(DeepSweepContext& ctx) override
    {
        DeepFatStepContext step = StepContext(ctx);
        RunDeepFatQuickPasses(step);
        PublishFound(ctx);
    }

    void Finish(DeepSweepContext& ctx, bool /*stopped*/) override
    {
        state_.fat.reset();
        DeepFatStepContext step = StepContext(ctx);
        RunDeepFatFinish(step);
        volumes_ = MakeDeepFatVolumes(step);
        PublishFound(ctx);
    }

    std::vector<std::shared_ptr<FileSystemVolume>> Volumes() override { return volumes_; }

private:
    static DeepFatStepContext StepContext(DeepSweepContext& ctx)
    {
        DeepFatStepContext step{ctx.results, ctx.tables, ctx.partition, ctx.device, ctx.control.Sink(), {}};
        return step;
    }

    static void PublishFound(DeepSweepContext& ctx)
    {
        ctx.tables.Publish(FoundFatFileSystems(ctx.tables.fileSystems));
    }

    DeepFatSweepState state_;
    std::vector<std::shared_ptr<FileSystemVolume>> volumes_;
};

}  // namespace

std::unique_ptr<DeepSweeper> MakeDeepFatSweeper()
{
    return std::make_unique<DeepFatSweeper>();
}

}  // namespace torvane
