#include "fsrecovery/fat/deep_fat_steps.h"

#include "fsrecovery/deep/deep_arrangement.h"
#include "fsrecovery/fat/fat_lost_folder_names.h"
#include "fsrecovery/fat/fat_module.h"
#include "fsrecovery/fat/fat_volume.h"
#include "fsrecovery/store/lost_directory_arrangement.h"
#include "fsrecovery/store/name_rules.h"

#include <algorithm>

namespace torvane {
namespace {

void Step(DeepFatStepContext& ctx, const std::string& text)
{
    if (ctx.sink)
        ctx.sink->StepText(text);
}

void PurgePlacedDirRows(DeepTables& t)
{
    t.dirs.erase(std::remove_if(t.dirs.begin(), t.dirs.end(), [](const DirTableRow& r) { return r.placed; }),
                 t.dirs.end());
}

FatVolume VolumeOfRow(const DeepFatStepContext& ctx, const FatFileSystemRow& row)
{
    PartitionDescriptor d = ctx.partition.Descriptor;
    LoadFatVolumeRow(row, d);
    FatVolume v = FatVolumeFromDescriptor(d);
    v.fs = FsKindFromText(row.partType);
    v.kind = FatKindOf(v.fs);
    return v;
}

// Places one DirTable row of the file system being arranged.
void PlaceDirRow(DeepFatStepContext& ctx, DirTableRow& row)
{
    ScanResults& results = ctx.results;
    DeepTables& t = ctx.tables;
    if (row.cluster0Start == 0 && row.fileSystem != 0 && row.fileSystem <= t.fileSystems.size())
        row.cluster0Start = t.fileSystems[row.fileSystem - 1].cluster0Start;
    std::string name = TrimWhite(row.name);
    if (name.empty()) {
        RootDirectoryName named;
        auto lk = results.Lock();
        if (results.DirNameList().TakeLastOf(row.self, row.cluster0Start, named)) {
            name = TrimWhite(named.name);
            row.deleted = named.deleted;
        }
    }
    if (name.empty())
        name = "DIR" + std::to_string(t.dirSerial);
    if (row.parent == 0) {
        results.InsertRecoveredFolder(results.Tree().RootItem(), name, row.self, row.date, row.time, 0,
                                      row.deleted ? 1 : 0, row.cluster0Start, 0);
    } else {
        PendingDirectory p;
        p.name = name;
        p.sector = row.sector;
        p.self = row.self;
        p.parent = row.parent;
        p.date = row.date;
        p.time = row.time;
        p.cluster0Start = row.cluster0Start;
        results.AddPendingRow(std::move(p));
    }
    row.placed = true;
}

void AddMiscRow(DeepFatStepContext& ctx)
{
    PendingDirectory misc;
    misc.name = kMiscFolderName;
    misc.self = kMiscFolderId;
    misc.parent = 0;
    misc.time = CurrentFatTimeWord();
    ctx.results.AddPendingRow(std::move(misc));
}

// The root names that met no directory: pending rows under the
// miscellaneous folder, each with its own volume's key.
void DrainRootNames(DeepFatStepContext& ctx)
{
    auto lk = ctx.results.Lock();
    for (const RootDirectoryName& n : ctx.results.DirNameList().LiveRows()) {
        PendingDirectory p;
        p.name = n.name;
        p.sector = n.sector;
        p.self = n.self;
        p.parent = kMiscFolderId;
        p.date = n.date;
        p.time = n.time;
        p.deleted = n.deleted;
        p.cluster0Start = n.fsKey;
        ctx.results.AddPendingRow(std::move(p));
    }
    ctx.results.DirNameList().Clear();
}

}  // namespace

void ArrangeDeepFatDirectories(DeepFatStepContext& ctx, bool quick)
{
    DeepTables& t = ctx.tables;
    ScanResults& results = ctx.results;
    if (quick && t.workersStopped)
        return;
    if (!quick)
        PurgePlacedDirRows(t);
    results.EnsureRootItem();
    const std::size_t n = t.dirs.size();
    std::size_t m = t.fileSystems.size();
    const bool keyed = t.fileSystems.size() > 1;
    DeepFolderIndex index;
    if (!quick) {
        Step(ctx, kDeepStep2Of7Text);
        if (m > 1)
            std::stable_sort(t.dirs.begin(), t.dirs.end(), [](const DirTableRow& a, const DirTableRow& b) {
                return SortKey32(a.fileSystem) < SortKey32(b.fileSystem);
            });
    } else if (m > 1) {
        m = 1;
    }
    for (std::size_t i = 0; i < m; ++i) {
        if (!quick)
            Step(ctx, DeepStep3Of7Text(i + 1, m));
        if (i == 0 && !t.miscFolderCreated) {
            t.miscFolderCreated = true;
            AddMiscRow(ctx);
        }
        if (!quick && ctx.sink)
            ctx.sink->ProgressRange(0, n);
        const std::uint32_t number = static_cast<std::uint32_t>(i + 1);
        for (std::size_t r = 0; r < n && r < t.dirs.size(); ++r) {
            if (!quick && ctx.sink)
                ctx.sink->Progress(r);
            DirTableRow& row = t.dirs[r];
            if (row.placed)
                continue;
            if (row.fileSystem == number) {
                PlaceDirRow(ctx, row);
                ++t.dirSerial;
                continue;
            }
            if (row.fileSystem == kNoFileSystem || quick)
                continue;
            // The table is sorted by file system: the rows of the next ones
            // follow. A row no pair explained (file system 0) does not end
            // the pass: it is skipped like a row of no file system.
            if (row.fileSystem > number)
                break;
        }
        FatVolume volume = VolumeOfRow(ctx, t.fileSystems[i]);
        DeepArrangeOptions options;
        options.quick = quick;
        options.keyed = keyed;
        options.sink = ctx.sink;
        if (quick) {
            ArrangeDeepPendingDirectories(results, index, options);
            return;
        }
        PurgePlacedDirRows(t);
        // The volume's FAT, searched in full when the row has none.
        FatFileSystemRow& fsRow = t.fileSystems[i];
        LoadFileSystemRow(ctx, i);
        if (fsRow.firstFat == 0) {
            SearchFatStart(ctx, fsRow);
            LoadFileSystemRow(ctx, i);
        }
        volume = VolumeOfRow(ctx, fsRow);
        const std::uint64_t key = fsRow.cluster0Start;
        Device& device = ctx.device;
        options.nameFolder = [&results, &device, volume, key](RecoveredFolder& rec) {
            if (rec.fsKey == key)
                NameLostSubfolders(results, device, volume, rec.treeItem);
        };
        ArrangeDeepPendingDirectories(results, index, options);
    }
    if (quick)
        return;   // what is left is placed by the finishing steps only
    DrainRootNames(ctx);
    results.SortPendingDirectories();
    Step(ctx, kDeepStep4Of7Text);
    DeepArrangeOptions options;
    options.keyed = keyed;
    options.sink = ctx.sink;
    ArrangeDeepPendingDirectories(results, index, options);
    if (keyed)
        BuildDeepMiscellaneousFolder(results, index, ctx.sink);
    else
        BuildMiscellaneousFolder(results, false, ctx.sink, {}, ctx.partition.Descriptor.Cluster0Start);
    Step(ctx, kDeepStep7Of7Text);
}

void RunDeepFatQuickPasses(DeepFatStepContext& ctx)
{
    if (ctx.tables.workersStopped)
        return;
    AssignDirectoriesToFileSystems(ctx, true);
    CollectRootDirectoryNames(ctx, true);
    ArrangeDeepFatDirectories(ctx, true);
}

void RunDeepFatFinish(DeepFatStepContext& ctx)
{
    DeepTables& t = ctx.tables;
    MergeNewListIntoDirTable(ctx);
    if (t.dirs.empty() && !t.bootSectors.empty()) {
        LoadGeometryFromFirstBootSector(ctx);
        t.rootWalkResult = WalkFatRootDirectory(ctx);
    }
    PurgePlacedDirRows(t);
    AssignDirectoriesToFileSystems(ctx, false);
    if (t.fileSystems.empty()) {
        ctx.results.EnsureRootItem();
        t.workersStopped = true;
        Step(ctx, "");
        return;
    }
    ManageMultipleFileSystems(ctx);
    LoadFileSystemRow(ctx, 0);
    CollectRootDirectoryNames(ctx, false);
    t.workersStopped = true;
    Step(ctx, kDeepStep1Of7Text);
    ArrangeDeepFatDirectories(ctx, false);
    LoadFileSystemRow(ctx, 0);
    Step(ctx, "");
}

std::vector<std::shared_ptr<FileSystemVolume>> MakeDeepFatVolumes(DeepFatStepContext& ctx)
{
    return MakeDeepFatVolumesOf(ctx.tables.fileSystems, ctx.partition);
}

std::vector<std::shared_ptr<FileSystemVolume>> MakeDeepFatVolumesOf(const std::vector<FatFileSystemRow>& rows,
                                                                    const CurrentPartition& partition)
{
    std::vector<std::shared_ptr<FileSystemVolume>> out;
    std::uint32_t number = 0;
    for (const FatFileSystemRow& row : rows) {
        ++number;
        CurrentPartition p = partition;
        LoadFatVolumeRow(row, p.Descriptor);
        p.Descriptor.FsType = row.partType;
        // The volume's own extent where its boot sector told it.
        if (row.sector != 0 && row.totalSectors > row.sector) {
            p.Descriptor.StartSector = row.sector;
            p.Descriptor.EndSector = std::min(row.totalSectors, partition.Descriptor.EndSector);
            p.Descriptor.EndByte = p.Descriptor.EndSector * kSectorSize;
        }
        p.Geometry = p.Descriptor.GeometryCopy();
        out.push_back(MakeFatFileSystemVolume(p, row.cluster0Start, number));
    }
    return out;
}

}  // namespace torvane
