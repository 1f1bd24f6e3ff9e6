// What follows a scan of NTFS and exFAT volumes, over synthetic results:
// saving everything found (to a destination that discards what it is given),
// counting it (the saving dialog's bars) and listing every folder's files
// (the file list, one folder after the other), each on stores of 100,000
// entries in 5,000 folders and of 1,000,000 entries in 50,000 folders.
//
// The cost must be linear in what was found: every benchmark times both
// sizes in one run and reports the ratio (1M against 100k; linear is 10, the
// aim is below 12). A per-folder sort or search over the whole store shows
// here as a ratio near 100.
//
// The results: folders of random shape (each under a random earlier folder or
// the root), entries filed under random folders in an order unrelated to the
// tree, then sorted once as a scan's end does. NTFS: folder ids are record
// numbers, the root's files sit under 5, one entry in 20 comes from an index
// record. exFAT: folder ids are clusters, the root's files sit under cluster 4.
// The writer of the save writes nothing (the device is not read): the
// benchmark times the walk, the targets and the store, not the copying.
#include "base/list_model.h"
#include "fsrecovery/exfat/exfat_module.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/ntfs/ntfs_module.h"
#include "fsrecovery/store/found_items.h"
#include "results/file_list_columns.h"
#include "results/file_system_volume.h"
#include "results/found_entry_saver.h"
#include "results/save_session.h"
#include "results/save_walkers.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint32_t kExfatRootCluster = 4;

struct Shape {
    std::size_t entries;
    std::size_t folders;
};
constexpr Shape kSmall{100000, 5000};
constexpr Shape kLarge{1000000, 50000};

class DiscardFile final : public TargetFile {
public:
    int Write(const void* data, std::size_t) override
    {
        benchmark::DoNotOptimize(data);
        return 0;
    }
    int Close() override { return 0; }
};

class DiscardFileSystem final : public TargetFileSystem {
public:
    bool Exists(const std::string&) override { return false; }
    bool IsDirectory(const std::string&) override { return true; }
    int MakeDirectory(const std::string&) override { return 0; }
    std::unique_ptr<TargetFile> Create(const std::string&, int& error) override
    {
        error = 0;
        return std::make_unique<DiscardFile>();
    }
    int RemoveFile(const std::string&) override { return 0; }
    int RemoveDirectory(const std::string&) override { return 0; }
};

// The file system's own volume for listing; a saver whose writer only opens
// and closes the target.
class BenchVolume final : public FileSystemVolume {
public:
    BenchVolume(std::shared_ptr<FileSystemVolume> inner, const CurrentPartition& partition)
        : FileSystemVolume(inner->Kind(), partition), inner_(std::move(inner))
    {
    }
    std::uint64_t RootFolderId() const override { return inner_->RootFolderId(); }
    std::uint64_t ListFolderFiles(ScanResults& results, std::uint64_t folderId, const FolderListing& listing) override
    {
        return inner_->ListFolderFiles(results, folderId, listing);
    }
    std::unique_ptr<FileSystemSaver> MakeSaver(ScanResults& results, bool) override
    {
        return MakeFoundEntrySaver(results, Device(), RootFolderId(),
                                   [](SaveSession& session, torvane::Device&, const FoundEntry& entry, const std::string& target,
                                      const std::string&) {
                                       int error = 0;
                                       auto file = session.Fs().Create(target, error);
                                       if (file) {
                                           file->Write(&entry, 0);
                                           file->Close();
                                       }
                                       return FileOutcome::Written;
                                   });
    }

private:
    std::shared_ptr<FileSystemVolume> inner_;
};

struct Store {
    bool ntfs = true;
    std::unique_ptr<ScanResults> results;
    VolumeSet volumes;
    std::vector<std::uint64_t> folderIds;   // the root's id first
};

std::unique_ptr<Store> MakeStore(bool ntfs, Shape shape)
{
    auto store = std::make_unique<Store>();
    store->ntfs = ntfs;
    store->results = std::make_unique<ScanResults>();
    ScanResults& results = *store->results;
    results.SetFsName(ntfs ? "NTFS" : "exFAT");
    results.SetRecoveryMode(1);
    if (!ntfs)
        results.SetExfatRootCluster(kExfatRootCluster);
    const TreeNodeId root = results.EnsureRootItem();
    const std::uint64_t rootId = ntfs ? kNtfsRootId : kExfatRootCluster;
    std::mt19937_64 rng(ntfs ? 7 : 11);
    std::vector<TreeNodeId> items{root};
    store->folderIds.push_back(rootId);
    results.ReserveFolders(shape.folders);
    for (std::size_t i = 0; i < shape.folders; ++i) {
        const std::size_t parent = i < 8 ? 0 : static_cast<std::size_t>(rng() % items.size());
        const std::uint64_t id = (ntfs ? 64 : 16) + i;
        const std::uint64_t parentId = store->folderIds[parent];
        TreeNodeId item = results.InsertRecoveredFolder(items[parent], "folder " + std::to_string(i), id, 0, 0,
                                                        parentId, 0, 0, 0);
        items.push_back(item);
        store->folderIds.push_back(id);
    }
    std::vector<FoundEntry> entries(shape.entries);
    for (std::size_t i = 0; i < shape.entries; ++i) {
        FoundEntry& e = entries[i];
        e.parentId = store->folderIds[rng() % store->folderIds.size()];
        e.name = (i % 3 == 0 ? "Holiday photo " : "doc-") + std::to_string(i) + (i % 2 ? ".jpg" : ".txt");
        e.ownId = 100000 + 2 * i;
        e.size = 1 + rng() % 100000;
        e.stamp = ntfs ? 132000000000000000ull + i : (0x5A21ull << 16 | 0x6000u);
        e.fromIndex = ntfs && i % 20 == 7;
    }
    {
        auto lock = results.Lock();
        FoundEntryStore& found = results.FoundEntries();
        found.reserve(entries.size());
        for (FoundEntry& e : entries)
            found.push_back(std::move(e));
    }
    results.SortFoundEntries();   // as the scan's end does
    results.Tree().SetSubtreeCheck(root, CheckState::Checked);

    CurrentPartition partition;
    partition.Device = MakeMemoryDevice("bench", std::string(4096, '\0'));
    partition.Geometry.RootStart = kExfatRootCluster;
    partition.Geometry.SectorsPerCluster = 8;
    std::shared_ptr<FileSystemVolume> inner = ntfs ? MakeNtfsFileSystemVolume(partition, nullptr)
                                                   : MakeExfatFileSystemVolume(partition, std::make_shared<ExfatFileIndex>());
    store->volumes.Add(std::make_shared<BenchVolume>(std::move(inner), partition));
    return store;
}

Store& TheStore(bool ntfs, bool large)
{
    static std::map<int, std::unique_ptr<Store>> stores;
    const int key = (ntfs ? 2 : 0) + (large ? 1 : 0);
    auto& s = stores[key];
    if (!s)
        s = MakeStore(ntfs, large ? kLarge : kSmall);
    return *s;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The operations, each returning what it met (files saved, counted, listed).
std::uint64_t SaveAll(Store& s)
{
    DiscardFileSystem discard;
    SaverSet savers(*s.results, s.volumes, true);
    SaveSession session(discard);
    session.SetDestination("/bench-destination");
    session.ResetForSave();
    WalkAndSaveTree(session, *s.results, savers);
    return session.Counters().filesSaved.load();
}

std::uint64_t CountAll(Store& s)
{
    SaverSet savers(*s.results, s.volumes, true);
    SaveCounters counters;
    CountCheckedTreeItems(*s.results, savers, counters, {});
    return counters.totalFiles.load();
}

std::uint64_t ListEveryFolder(Store& s)
{
    std::shared_ptr<FileSystemVolume> volume = s.volumes.First();
    ListRowModel list;
    for (int c = 0; c < kBasicListColumnCount; ++c)
        list.InsertColumn(c, "c");
    std::uint64_t rows = 0;
    for (std::uint64_t id : s.folderIds) {
        list.Clear();
        FolderListing listing;
        listing.list = &list;
        rows += volume->ListFolderFiles(*s.results, id, listing);
    }
    return rows;
}

using Operation = std::uint64_t (*)(Store&);

// Times `op` on both sizes (best of the iterations) and reports the growth.
void Growth(benchmark::State& state, bool ntfs, Operation op)
{
    Store& small = TheStore(ntfs, false);
    Store& large = TheStore(ntfs, true);
    double bestSmall = 1e30, bestLarge = 1e30;
    std::uint64_t metSmall = 0, metLarge = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        metSmall = op(small);
        auto t1 = std::chrono::steady_clock::now();
        metLarge = op(large);
        auto t2 = std::chrono::steady_clock::now();
        bestSmall = std::min(bestSmall, Seconds(t1 - t0));
        bestLarge = std::min(bestLarge, Seconds(t2 - t1));
    }
    state.counters["files_100k"] = static_cast<double>(metSmall);
    state.counters["files_1M"] = static_cast<double>(metLarge);
    state.counters["seconds_100k"] = bestSmall;
    state.counters["seconds_1M"] = bestLarge;
    state.counters["ratio_1M_to_100k"] = bestLarge / bestSmall;
    if (metSmall != kSmall.entries || metLarge != kLarge.entries)
        state.SkipWithError("an operation did not meet every entry");
}

void BM_NtfsSaveAllGrowth(benchmark::State& s) { Growth(s, true, SaveAll); }
void BM_NtfsCountAllGrowth(benchmark::State& s) { Growth(s, true, CountAll); }
void BM_NtfsListEveryFolderGrowth(benchmark::State& s) { Growth(s, true, ListEveryFolder); }
void BM_ExfatSaveAllGrowth(benchmark::State& s) { Growth(s, false, SaveAll); }
void BM_ExfatCountAllGrowth(benchmark::State& s) { Growth(s, false, CountAll); }
void BM_ExfatListEveryFolderGrowth(benchmark::State& s) { Growth(s, false, ListEveryFolder); }

BENCHMARK(BM_NtfsSaveAllGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NtfsCountAllGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NtfsListEveryFolderGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExfatSaveAllGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExfatCountAllGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExfatListEveryFolderGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
