#include "fsrecovery/fat/deep_fat_assign.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_chain.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/name_rules.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <vector>

namespace torvane {
namespace {

std::uint64_t AbsDiff(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

void PurgePlacedDirRows(DeepTables& t)
{
    t.dirs.erase(std::remove_if(t.dirs.begin(), t.dirs.end(), [](const DirTableRow& r) { return r.placed; }),
                 t.dirs.end());
}

FatFileSystemRow FromBoot(const FatBootRow& b)
{
    FatFileSystemRow r;
    static_cast<FatBootRow&>(r) = b;
    return r;
}

// The pair check of two directories: true with the cluster size and the
// cluster-0 sector that both fit.
bool CheckPair(const DirTableRow& a, const DirTableRow& b, std::uint32_t& spc, std::uint64_t& c0)
{
    const std::uint64_t ca = a.self, cb = b.self, sa = a.sector, sb = b.sector;
    if (!(cb > ca && sb > sa && cb < sb && cb < sa))
        return false;
    const std::uint64_t dc = cb - ca, ds = sb - sa;
    if (ds % dc != 0)
        return false;
    const std::uint64_t q = ds / dc;
    if (q == 0 || q > 128 || (q & (q - 1)) != 0)
        return false;
    if (!(sa > ca * q && sb > cb * q))
        return false;
    if (sa - ca * q != sb - cb * q)
        return false;
    spc = static_cast<std::uint32_t>(q);
    c0 = sa - ca * q;
    return true;
}

// The unassigned DirTable rows by (cluster size, sector - self x cluster size),
// in table order: the rows a geometry places.
class PlacementIndex {
public:
    explicit PlacementIndex(const std::vector<DirTableRow>& dirs) : dirs_(dirs) {}

    std::vector<std::size_t>& Rows(std::uint32_t spc, std::uint64_t c0)
    {
        auto it = bySpc_.find(spc);
        if (it == bySpc_.end()) {
            auto& map = bySpc_[spc];
            for (std::size_t i = 0; i < dirs_.size(); ++i) {
                const DirTableRow& d = dirs_[i];
                if (d.fileSystem != 0 || d.placed)
                    continue;
                const std::uint64_t used = static_cast<std::uint64_t>(d.self) * spc;
                if (used > d.sector)
                    continue;
                map[d.sector - used].push_back(i);
            }
            it = bySpc_.find(spc);
        }
        static std::vector<std::size_t> none;
        auto r = it->second.find(c0);
        if (r == it->second.end()) {
            none.clear();
            return none;
        }
        return r->second;
    }

private:
    const std::vector<DirTableRow>& dirs_;
    std::unordered_map<std::uint32_t, std::unordered_map<std::uint64_t, std::vector<std::size_t>>> bySpc_;
};

void Step(DeepFatStepContext& ctx, const std::string& text)
{
    if (ctx.sink)
        ctx.sink->StepText(text);
}

}  // namespace

bool MatchFoundFileSystem(const DeepTables& tables, std::uint64_t& value, std::size_t* row)
{
    for (std::size_t i = 0; i < tables.fileSystems.size(); ++i) {
        if (AbsDiff(tables.fileSystems[i].cluster0Start, value) < 10) {
            value = tables.fileSystems[i].cluster0Start;
            if (row)
                *row = i;
            return true;
        }
    }
    return false;
}

bool LoadFileSystemRow(DeepFatStepContext& ctx, std::size_t index)
{
    if (index >= ctx.tables.fileSystems.size())
        return false;
    LoadFatVolumeRow(ctx.tables.fileSystems[index], ctx.partition.Descriptor);
    return true;
}

void MergeNewListIntoDirTable(DeepFatStepContext& ctx)
{
    DeepTables& t = ctx.tables;
    if (t.fileSystems.empty())
        return;
    PurgePlacedDirRows(t);
    std::stable_sort(t.dirs.begin(), t.dirs.end(),
                     [](const DirTableRow& a, const DirTableRow& b) { return SortKey32(a.self) < SortKey32(b.self); });
    std::stable_sort(t.newList.begin(), t.newList.end(),
                     [](const NewListRow& a, const NewListRow& b) { return SortKey32(a.self) < SortKey32(b.self); });
    const std::uint32_t spc = t.fileSystems[0].sectorsPerCluster;
    const std::uint64_t c0 = t.fileSystems[0].cluster0Start;
    const VolumeGeometry& g = ctx.partition.Geometry;
    const bool fromSelf = g.SectorsPerCluster == spc && g.Cluster0Start == c0;
    auto key = [&](const NewListRow& r) -> std::uint64_t {
        if (fromSelf || spc == 0 || r.sector < c0)
            return r.selfIsClusterPlusOne && r.self > 0 ? r.self - 1 : r.self;
        return (r.sector - c0) / spc;
    };
    // Rows of one key keep the first of them.
    std::vector<bool> drop(t.newList.size(), false);
    std::uint64_t previous = 0;
    for (std::size_t k = t.newList.size(); k-- > 0;) {
        const std::uint64_t kk = key(t.newList[k]);
        if (kk == previous)
            drop[k] = true;
        previous = kk;
    }
    for (std::size_t k = 0; k < t.newList.size(); ++k) {
        if (drop[k])
            continue;
        const NewListRow& r = t.newList[k];
        DirTableRow d;
        d.sector = r.sector;
        const std::uint64_t kk = key(r);
        d.self = kk > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kk);
        d.parent = 0;
        d.fileSystem = 1;
        d.date = r.date;
        d.time = r.time;
        t.dirs.push_back(std::move(d));
    }
    t.newList.clear();
}

bool IsFatStartSector(const std::uint8_t* b)
{
    return b[0] == 0xF8 && b[1] == 0xFF && b[2] == 0xFF && b[3] != 0xFF && b[4] == 0xFF && b[5] == 0xFF &&
           b[6] == 0xFF && b[7] == 0xFF && b[11] != 0xFF;
}

void SearchFatStart(DeepFatStepContext& ctx, FatBootRow& row, std::uint64_t maxSectors)
{
    const std::uint64_t c0 = row.cluster0Start;
    std::uint64_t start = c0;
    if (row.partType == "FAT16")
        start = c0 > 550 ? c0 - 550 : 63;
    else if (row.partType == "FAT32")
        start = c0 > 30000 ? c0 - 30000 : 63;
    if (start == 0)
        start = 63;
    std::uint64_t end = c0;
    if (maxSectors != 0 && end > start + maxSectors)
        end = start + maxSectors;
    const std::uint64_t deviceSectors = ctx.device.SizeBytes() / kSectorSize;
    end = std::min(end, deviceSectors);
    if (start >= end)
        return;
    // Room for one read of at most 256 sectors, or for the whole span when
    // it is shorter (a small device, or a FAT-start search near its head).
    std::vector<std::uint8_t> batch(static_cast<std::size_t>(std::min<std::uint64_t>(256, end - start)) * kSectorSize);
    int hits = 0;
    PartitionDescriptor& d = ctx.partition.Descriptor;
    for (std::uint64_t s = start; s < end && hits < 2;) {
        if (ctx.stop && ctx.stop())
            return;
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(256, end - s));
        SectorReadReport report;
        ReadSectorsFrom(ctx.device, n, s, batch.data(), &report);
        for (std::uint32_t k = 0; k < n && hits < 2; ++k) {
            if (!IsFatStartSector(batch.data() + k * kSectorSize))
                continue;
            const std::uint64_t at = s + k;
            if (hits == 0) {
                row.firstFat = at;
                d.FirstFatStart = at > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(at);
            } else {
                row.secondFat = at;
                d.SecondFatStart = at > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(at);
            }
            ++hits;
        }
        s += n;
    }
    if (hits == 2) {
        const std::uint64_t spf = row.secondFat - row.firstFat;
        row.sectorsPerFat = spf > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(spf);
        row.rootStart = row.partType == "FAT32" ? 2 : row.secondFat + row.sectorsPerFat;
    }
}

void LoadGeometryFromFirstBootSector(DeepFatStepContext& ctx)
{
    if (ctx.tables.bootSectors.empty())
        return;
    FatBootRow& row = ctx.tables.bootSectors[0];
    PartitionDescriptor& d = ctx.partition.Descriptor;
    d.Cluster0Start = row.cluster0Start;
    d.FsName = row.partType;
    if (row.firstFat == 0)
        SearchFatStart(ctx, row);
    FatFileSystemRow asRow = FromBoot(row);
    const std::uint32_t rootSectors = d.RootSectors;
    (void)rootSectors;
    LoadFatVolumeRow(asRow, d);
}

int WalkFatRootDirectory(DeepFatStepContext& ctx)
{
    const PartitionDescriptor& d = ctx.partition.Descriptor;
    FatVolume volume = FatVolumeFromDescriptor(d);
    volume.fs = FsKindFromText(d.FsName);
    volume.kind = FatKindOf(volume.fs);
    std::vector<std::uint64_t> sectors;
    if (d.FsName == "FAT32" && d.RootStart != 0 && d.SectorsPerCluster != 0) {
        ChainWalkOptions options;
        options.maxNodes = 4096;
        for (std::uint32_t c : BuildVolumeClusterChain(ctx.device, volume, d.RootStart, options))
            for (std::uint32_t k = 0; k < d.SectorsPerCluster && sectors.size() < 65536; ++k)
                sectors.push_back(static_cast<std::uint64_t>(c) * d.SectorsPerCluster + d.Cluster0Start + k);
    } else if (d.FsName == "FAT16") {
        for (std::uint32_t k = 0; k < d.RootSectors && k < 4096; ++k)
            sectors.push_back(static_cast<std::uint64_t>(d.RootStart) + k);
    } else {
        return 0;
    }
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    int named = 0;
    std::uint8_t data[512];
    for (std::uint64_t s : sectors) {
        if (!ReadSectorsFrom(ctx.device, 1, s, data))
            continue;
        for (int i = 0; i < kFatEntriesPerSector; ++i) {
            FatEntryResult r;
            std::string name = ParseFatDirEntry(data, i, s, rules, {}, r);
            if (r.endOfDirectory)
                break;
            if (!TrimWhite(name).empty() && ++named == 2)
                return 2;
        }
    }
    return 0;
}

void AssignDirectoriesToFileSystems(DeepFatStepContext& ctx, bool quick)
{
    DeepTables& t = ctx.tables;
    // The root-walk case: a volume whose boot sector names a root with entries.
    if (t.rootWalkResult == 2 && !t.bootSectors.empty()) {
        std::uint64_t v = t.bootSectors[0].cluster0Start;
        if (!MatchFoundFileSystem(t, v)) {
            t.fileSystems.insert(t.fileSystems.begin(), FromBoot(t.bootSectors[0]));
            if (!t.dirs.empty()) {
                t.dirs[0].fileSystem = static_cast<std::uint32_t>(t.fileSystems.size());
                t.dirs[0].cluster0Start = t.bootSectors[0].cluster0Start;
            }
            ctx.results.SetFileSystemCount(t.fileSystems.size());
            return;
        }
    }
    // The first file system: the first boot sector, confirmed by the first two directories.
    if (!t.bootSectors.empty()) {
        std::uint64_t v = t.bootSectors[0].cluster0Start;
        if (!MatchFoundFileSystem(t, v) && !t.firstPairChecked && t.dirs.size() > 2) {
            t.firstPairChecked = true;
            std::uint32_t spc = 0;
            std::uint64_t c0 = 0;
            if (CheckPair(t.dirs[0], t.dirs[1], spc, c0) && c0 == t.bootSectors[0].cluster0Start)
                t.fileSystems.insert(t.fileSystems.begin(), FromBoot(t.bootSectors[0]));
        }
    }
    if (!quick) {
        Step(ctx, kPhase1Text);
        t.finalAnalysis = true;
        if (ctx.sink)
            ctx.sink->ProgressRange(0, t.bootSectors.size());
    }

    // Phase 1: the boot sectors, in order, take the directories their geometry places.
    {
        PlacementIndex index(t.dirs);
        const std::size_t boots = std::min(t.bootSectors.size(), kMaxBootRowsForPhase1);
        for (std::size_t bi = 0; bi < boots; ++bi) {
            const FatBootRow& b = t.bootSectors[bi];
            if (!quick && ctx.sink)
                ctx.sink->Progress(bi + 1);
            std::vector<std::size_t>& rows = index.Rows(b.sectorsPerCluster, b.cluster0Start);
            std::size_t number = 0;   // 1-based file-system number of b, once known
            std::uint64_t key = b.cluster0Start;
            for (std::size_t r : rows) {
                DirTableRow& d = t.dirs[r];
                if (d.fileSystem != 0 || d.sector < b.cluster0Start || d.sector > b.totalSectors)
                    continue;
                if (number == 0) {
                    std::size_t match = 0;
                    std::uint64_t v = b.cluster0Start;
                    if (MatchFoundFileSystem(t, v, &match)) {
                        number = match + 1;
                    } else {
                        t.fileSystems.push_back(FromBoot(b));
                        number = t.fileSystems.size();
                    }
                    key = t.fileSystems[number - 1].cluster0Start;
                }
                d.fileSystem = static_cast<std::uint32_t>(number);
                d.cluster0Start = key;
            }
        }
    }
    for (DirTableRow& d : t.dirs)
        if (d.fileSystem != 0 && d.fileSystem != kNoFileSystem && d.cluster0Start == 0 &&
            d.fileSystem <= t.fileSystems.size())
            d.cluster0Start = t.fileSystems[d.fileSystem - 1].cluster0Start;
    ctx.results.SetFileSystemCount(t.fileSystems.size());
    if (quick)
        return;

    // Phase 2: volumes without a boot sector, from pairs of directories.
    Step(ctx, kPhase2Text);
    if (ctx.sink)
        ctx.sink->ProgressRange(0, t.dirs.size());
    PlacementIndex index(t.dirs);
    const std::string fsType = ctx.partition.Descriptor.FsType;
    const VolumeGeometry& g = ctx.partition.Geometry;
    std::uint64_t lastC0 = 0;
    auto findUnassigned = [&](std::size_t from) -> std::size_t {
        for (std::size_t i = from; i < t.dirs.size(); ++i)
            if (t.dirs[i].fileSystem == 0)
                return i;
        return t.dirs.size();
    };
    for (std::size_t i = 0;;) {
        const std::size_t a = findUnassigned(i);
        if (a >= t.dirs.size())
            break;
        if (ctx.sink)
            ctx.sink->Progress(a);
        const std::size_t b = findUnassigned(a + 1);
        if (b >= t.dirs.size())
            break;
        std::uint32_t spc = 0;
        std::uint64_t c0 = 0;
        if (!CheckPair(t.dirs[a], t.dirs[b], spc, c0)) {
            t.dirs[a].fileSystem = t.fileSystems.empty() ? kNoFileSystem : 1;
            t.dirs[a].cluster0Start = lastC0;
            i = a + 1;
            continue;
        }
        lastC0 = c0;
        std::size_t match = 0;
        std::uint64_t v = c0;
        bool added = false;
        if (!MatchFoundFileSystem(t, v, &match)) {
            FatFileSystemRow row;
            row.sector = 0;
            const std::size_t bootRow = t.fileSystems.size();   // the count after adding, less one
            if (bootRow < t.bootSectors.size()) {
                const FatBootRow& bs = t.bootSectors[bootRow];
                row.sectorsPerFat = bs.sectorsPerFat;
                row.rootSectors = bs.rootSectors;
                row.rootStart = bs.rootStart;
                row.reservedSectors = bs.reservedSectors;
                row.firstFat = bs.firstFat;
                row.secondFat = bs.secondFat;
            } else {
                row.sectorsPerFat = g.SectorsPerFat;
                row.rootSectors = g.RootSectors;
                row.rootStart = g.RootStart;
                row.reservedSectors = g.ReservedSectors;
                row.firstFat = g.FirstFatStart;
                row.secondFat = g.SecondFatStart;
            }
            row.sectorsPerCluster = spc;
            row.cluster0Start = c0;
            row.partType = fsType;
            if (t.dirs[a].self > 0x10000 || t.dirs[b].self > 0x10000)
                row.partType = "FAT32";
            t.fileSystems.push_back(std::move(row));
            t.rootNamesRead = false;
            match = t.fileSystems.size() - 1;
            v = c0;
            added = true;
        }
        const std::uint32_t number = static_cast<std::uint32_t>(match + 1);
        t.dirs[a].fileSystem = t.dirs[b].fileSystem = number;
        t.dirs[a].cluster0Start = t.dirs[b].cluster0Start = v;
        std::vector<std::size_t>& rows = index.Rows(spc, c0);
        for (std::size_t r : rows) {
            DirTableRow& d = t.dirs[r];
            if (d.fileSystem != 0)
                continue;
            d.fileSystem = number;
            d.cluster0Start = v;
            if (added && fsType != "FAT32" && d.self > 0x10000)
                t.fileSystems[match].partType = "FAT32";
        }
        rows.clear();   // all taken: a later pair of this volume finds none left
        i = a + 1;
    }
    ctx.results.SetFileSystemCount(t.fileSystems.size());
    MergeNewListIntoDirTable(ctx);
}

void ManageMultipleFileSystems(DeepFatStepContext& ctx)
{
    DeepTables& t = ctx.tables;
    const std::size_t n = t.fileSystems.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::string text;
        if (n != 1) {
            char counter[48];
            std::snprintf(counter, sizeof counter, "( %zu / %zu )", i + 1, n);
            text = counter;
        }
        Step(ctx, text + " Manage Multiple File System " + " Information. Please wait...");
        LoadFileSystemRow(ctx, i);
        FatFileSystemRow& row = t.fileSystems[i];
        if (row.firstFat == 0) {
            row.fatSearched = true;
            SearchFatStart(ctx, row, t.finalAnalysis ? 2ull * row.sectorsPerCluster : 0);
        }
    }
}

void CollectRootDirectoryNames(DeepFatStepContext& ctx, bool quick)
{
    DeepTables& t = ctx.tables;
    if (t.fileSystems.empty() || t.rootNamesRead)
        return;
    const std::size_t n = quick ? 1 : t.fileSystems.size();
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    std::uint8_t data[512];
    for (std::size_t i = 0; i < n; ++i) {
        LoadFileSystemRow(ctx, i);
        const PartitionDescriptor& d = ctx.partition.Descriptor;
        const std::uint64_t key = t.fileSystems[i].cluster0Start;
        FatVolume volume = FatVolumeFromDescriptor(d);
        volume.fs = FsKindFromText(d.FsName);
        volume.kind = FatKindOf(volume.fs);
        std::vector<std::uint64_t> sectors;
        if (d.FsName == "FAT32") {
            if (d.SectorsPerCluster == 0 || d.RootStart < 2)
                continue;
            ChainWalkOptions options;
            options.maxNodes = 65536;
            for (std::uint32_t c : BuildVolumeClusterChain(ctx.device, volume, d.RootStart, options))
                for (std::uint32_t k = 0; k < d.SectorsPerCluster && sectors.size() < (1u << 20); ++k)
                    sectors.push_back(static_cast<std::uint64_t>(c) * d.SectorsPerCluster + d.Cluster0Start + k);
        } else if (d.FsName == "FAT16") {
            for (std::uint32_t k = 0; k < d.RootSectors && k < 4096; ++k)
                sectors.push_back(static_cast<std::uint64_t>(d.RootStart) + k);
        } else {
            continue;
        }
        const SectorFetch previous =
            d.FsName == "FAT16" ? FixedRootPrevious(ctx.device, d.RootStart) : DeviceOrderPrevious(ctx.device);
        for (std::uint64_t s : sectors) {
            if (!ReadSectorsFrom(ctx.device, 1, s, data))
                continue;
            for (int e = 0; e < kFatEntriesPerSector; ++e) {
                FatEntryResult r;
                std::string name = TrimWhite(ParseFatDirEntry(data, e, s, rules, previous, r));
                if (r.endOfDirectory)
                    break;
                if (name.empty())
                    continue;
                const std::uint8_t* entry = data + e * kFatEntrySize;
                RootDirectoryName row;
                row.self = FatEntryFirstCluster(entry);
                row.name = name;
                row.date = FatEntryBytes(entry).U16(24);
                row.time = FatEntryBytes(entry).U16(22);
                row.sector = s;
                row.deleted = r.deleted;
                row.fsKey = key;
                auto lk = ctx.results.Lock();
                ctx.results.DirNameList().Add(std::move(row));
            }
        }
    }
    t.rootNamesRead = true;
}

}  // namespace torvane
