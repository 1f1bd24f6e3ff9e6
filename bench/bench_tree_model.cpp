// Filling the core tree model the way a scan fills a results tree: a "Root"
// item, folders of about a hundred items each, names like those found on disk.
// Reports nodes per second and the model's memory per node.
#include "base/tree_model.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

using namespace torvane;

constexpr int kNodes = 1000000;

std::string FolderName(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "DIR_%d", i);
    return buf;
}

void FillTree(TreeModel& m, int nodes, bool holdLock) {
    std::unique_lock<std::recursive_mutex> lock;
    if (holdLock) lock = m.Lock();
    TreeNodeInit init;
    init.text = "Root";
    init.check = CheckState::Unchecked;
    const TreeNodeId root = m.InsertChild(kNoTreeNode, init);
    TreeNodeId folder = root;
    init.image = 1;
    for (int i = 1; i < nodes; ++i) {
        const std::string name = FolderName(i);
        init.text = name;
        const TreeNodeId id = m.InsertChild(folder, init);
        if (i % 100 == 0) folder = id;  // every hundredth folder takes the next hundred
    }
}

void Report(benchmark::State& state, TreeModel& m, int nodes) {
    state.counters["nodes_per_s"] = benchmark::Counter(double(nodes) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes_per_node"] = double(m.MemoryBytes()) / double(m.NodeCount());
}

// One lock per insert: what a worker calling InsertChild does.
void BM_TreeModelInsert(benchmark::State& state) {
    TreeModel m;
    for (auto _ : state) {
        state.PauseTiming();
        m.Clear();
        m.TakeChanges();
        state.ResumeTiming();
        FillTree(m, kNodes, false);
    }
    Report(state, m, kNodes);
}
BENCHMARK(BM_TreeModelInsert)->Unit(benchmark::kMillisecond);

// The same under one held lock (a batch of inserts).
void BM_TreeModelInsertLocked(benchmark::State& state) {
    TreeModel m;
    for (auto _ : state) {
        state.PauseTiming();
        m.Clear();
        m.TakeChanges();
        state.ResumeTiming();
        FillTree(m, kNodes, true);
    }
    Report(state, m, kNodes);
}
BENCHMARK(BM_TreeModelInsertLocked)->Unit(benchmark::kMillisecond);

// A click on the box of the top item: the whole million changes state.
void BM_TreeModelToggleAll(benchmark::State& state) {
    TreeModel m;
    FillTree(m, kNodes, true);
    const TreeNodeId root = m.RootItem();
    for (auto _ : state) {
        m.ToggleCheck(root);
        m.TakeChanges();
    }
    state.counters["nodes_per_s"] = benchmark::Counter(double(kNodes) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TreeModelToggleAll)->Unit(benchmark::kMillisecond);

}  // namespace
