// TextTable throughput: rows inserted and looked up by their first column,
// as the scans do with the working tables.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "base/text_table.h"

namespace {

using torvane::TextTable;

std::vector<std::string> MakeKeys(std::size_t n) {
    std::vector<std::string> keys;
    keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i) keys.push_back(std::to_string(1000000000ull + i * 8));
    return keys;
}

// Appends n rows of 9 cells (like DirTable), then finds each by its key.
void BM_AppendThenLookup(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<std::string> keys = MakeKeys(n);
    for (auto _ : state) {
        TextTable t("DirTable", {{"Sector", 40}, {"Self Cluster", 40}, {"Parent Cluster", 40}, {"File System", 40},
                                 {"Date", 25}, {"Time", 25}, {"First Run", 40}, {"Cluster0Start", 40}, {"Name", 40}});
        for (std::size_t i = 0; i < n; ++i) {
            t.AppendRow({keys[i], "12345", "2", "0", "15393", "33768", "0", "2048", "DIR12345"});
        }
        std::size_t found = 0;
        for (std::size_t i = 0; i < n; ++i) found += t.FindFirst(keys[i]) == i;
        if (found != n) state.SkipWithError("lookup mismatch");
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["rows"] = static_cast<double>(n);
}
BENCHMARK(BM_AppendThenLookup)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Lookups alone, on a table of n rows built once.
void BM_LookupOnly(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<std::string> keys = MakeKeys(n);
    TextTable t("TreeTable", {{"Self_Clu", 50}, {"TreeItem", 100}, {"File_Count", 100}});
    for (std::size_t i = 0; i < n; ++i) t.AppendRow({keys[i], "7", "0"});
    for (auto _ : state) {
        std::size_t found = 0;
        for (std::size_t i = 0; i < n; ++i) found += t.FindFirst(keys[i]) == i;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_LookupOnly)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The pending-directory pattern: each row inserted at count - 1, looked up,
// and half of them deleted again one by one.
void BM_InsertBeforeLastAndDelete(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<std::string> keys = MakeKeys(n);
    for (auto _ : state) {
        TextTable t("DirListTable", {{"Name", 40}, {"sector", 40}, {"self", 40}, {"parent", 40}});
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t count = t.RowCount();
            t.InsertRow(count == 0 ? 0 : count - 1, {keys[i], "0", "5", "5"});
        }
        for (std::size_t i = 0; i < n; i += 2) t.DeleteRow(t.FindFirst(keys[i]));
        benchmark::DoNotOptimize(t.RowCount());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_InsertBeforeLastAndDelete)->Arg(300000)->Unit(benchmark::kMillisecond);

}  // namespace
