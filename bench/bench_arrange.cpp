// The lost-directory arrangement of a FAT scan over synthetic pending
// directories: 100,000 and 1,000,000 of them. The arrangement must grow
// linearly: BM_ArrangeGrowth times both sizes in one run and reports the ratio
// (1M against 100k; linear is 10, the aim is below 12).
//
// The folders form a tree of random shape: each names a random earlier folder
// (or the root) as its parent, a few name a parent that was never found and
// end under "KZU_Miscellaneous" with their subtrees, and rows are queued in
// an order unrelated to the tree.
//
// Pages. A million folders are about a gigabyte of records, tree nodes, rows
// and indexes, touched in tree order rather than memory order. With 4 KiB
// pages the page-table walks of the larger run alone add some 40 % per
// folder, which is the machine's cost, not the arrangement's. The benchmark
// therefore asks glibc's malloc for transparent huge pages
// (GLIBC_TUNABLES=glibc.malloc.hugetlb=1, re-executing itself once to set
// it); TORVANE_BENCH_SMALL_PAGES=1 runs it with the default pages instead.
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/store/lost_directory_arrangement.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace torvane;

// Before main: re-executes the program with huge pages for malloc, once.
struct HugePagesForMalloc {
    HugePagesForMalloc()
    {
        if (std::getenv("TORVANE_BENCH_SMALL_PAGES") || std::getenv("TORVANE_BENCH_REEXECUTED"))
            return;
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> args;
        for (std::size_t start = 0; start < all.size();) {
            std::size_t end = all.find('\0', start);
            if (end == std::string::npos)
                end = all.size();
            args.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::string tunables = "glibc.malloc.hugetlb=1";
        if (const char* old = std::getenv("GLIBC_TUNABLES"))
            tunables = std::string(old) + ":" + tunables;
        ::setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
        ::setenv("TORVANE_BENCH_REEXECUTED", "1", 1);
        ::execv("/proc/self/exe", argv.data());
        // execv failed: run as we are.
    }
} hugePagesForMalloc;

struct Row {
    std::uint32_t self, parent;
};

std::vector<Row> MakeRows(std::size_t n)
{
    std::mt19937_64 rng(42);
    std::vector<Row> rows(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t self = static_cast<std::uint32_t>(3 + i);
        std::uint32_t parent = 0;
        if (i >= 16) {
            std::uint64_t r = rng() % 1000;
            if (r < 5)
                parent = static_cast<std::uint32_t>(3 + n + rng() % n);   // a parent never found
            else if (r >= 50)
                parent = static_cast<std::uint32_t>(3 + rng() % i);       // an earlier folder
        }
        rows[i] = {self, parent};
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    return rows;
}

// Queues the rows as the sweep does, then runs steps 1 to 5. Returns seconds
// spent in the steps (queueing excluded) and the number of folders placed.
double Arrange(const std::vector<Row>& rows, std::size_t* folders)
{
    auto results = std::make_unique<ScanResults>();
    results->SetFsName("FAT32");
    results->EnsureRootItem();
    results->AddPendingDirectory(kMiscFolderName, 0, kMiscFolderId, kNtfsRootId, 0, 0);
    for (const Row& r : rows)
        results->AddPendingDirectory("DIR" + std::to_string(r.self), 0, r.self, r.parent, 0, 0);
    auto t0 = std::chrono::steady_clock::now();
    RunBasicFatSteps(*results);
    auto t1 = std::chrono::steady_clock::now();
    if (folders)
        *folders = results->FolderCount();
    results.reset();
    // Hand the freed memory back, so that every run starts from the same heap
    // whatever ran before it (a small run after a large one would otherwise
    // find its memory already mapped).
    malloc_trim(0);
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_ArrangeDirectories(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<Row> rows = MakeRows(n);
    double seconds = 0;
    std::size_t folders = 0;
    for (auto _ : state) {
        double s = Arrange(rows, &folders);
        seconds += s;
        state.SetIterationTime(s);
    }
    state.counters["ns_per_directory"] = seconds * 1e9 / (static_cast<double>(n) * state.iterations());
    state.counters["folders_placed"] = static_cast<double>(folders);
}
BENCHMARK(BM_ArrangeDirectories)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// One arrangement in a child process of its own, so that every run starts
// from the same fresh heap whatever ran before it; returns its seconds.
double ArrangeInFreshProcess(const std::vector<Row>& rows)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return Arrange(rows, nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        double s = Arrange(rows, nullptr);
        ssize_t w = ::write(fds[1], &s, sizeof s);
        ::_exit(w == sizeof s ? 0 : 1);
    }
    ::close(fds[1]);
    double s = -1;
    if (pid < 0 || ::read(fds[0], &s, sizeof s) != sizeof s)
        s = -1;
    ::close(fds[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    return s > 0 ? s : Arrange(rows, nullptr);
}

void BM_ArrangeGrowth(benchmark::State& state)
{
    std::vector<Row> small = MakeRows(100000);
    std::vector<Row> large = MakeRows(1000000);
    double bestSmall = 1e30, bestLarge = 1e30;
    for (auto _ : state) {
        bestSmall = std::min(bestSmall, ArrangeInFreshProcess(small));
        bestLarge = std::min(bestLarge, ArrangeInFreshProcess(large));
    }
    state.counters["seconds_100k"] = bestSmall;
    state.counters["seconds_1M"] = bestLarge;
    state.counters["ratio_1M_to_100k"] = bestLarge / bestSmall;
}
BENCHMARK(BM_ArrangeGrowth)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
