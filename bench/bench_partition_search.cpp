// The partition search's sweeps.
//
// BM_AdvancedSweepVsPlainRead: the Advanced sweep (every sector examined, in
// 256 KB blocks) over a 1 GiB image read from
// the page cache, against a plain sequential read of the same blocks in the
// same run. Counter sweep_to_plain_ratio: the sweep's share of the raw read
// speed (best pass of each).
//
// BM_StandardSweepSparse1TiB: the Standard sweep (sectors 0..10239, then every
// 512th: about 4.2 million probes) over a sparse 1 TiB disk whose every read
// waits a simulated latency (TORVANE_BENCH_LATENCY_US, default 10 us of sleep,
// about 30 us with the scheduler's wake-up), one probe at a time and with the
// probes read ahead on 8 threads (TORVANE_BENCH_READ_AHEAD_THREADS). Counters:
// the seconds of each and their ratio. Expect a few minutes;
// TORVANE_BENCH_STANDARD_GIB=64 sweeps a smaller disk for a quick look.
#include "partsearch/partition_search.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint64_t kImageBytes = 1ull << 30;   // 1 GiB
constexpr std::size_t kBlockBytes = kAdvancedBlockSectors * kSectorSize;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Image {
    std::filesystem::path path;
    DevicePtr device;

    Image()
    {
        path = std::filesystem::temp_directory_path() / ("torvane-bench-partsearch-" + std::to_string(::getpid()) + ".img");
        // Text-like filler: no boot-sector signature, no evidence of a lost
        // file system, so the sweep examines every sector and records nothing.
        std::vector<char> chunk(1 << 20);
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>('a' + (i * 7 + i / 512) % 26);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::uint64_t off = 0; off < kImageBytes; off += chunk.size())
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        out.close();
        device = OpenFileDevice(path.string());
        PlainRead();   // into the page cache
    }
    ~Image()
    {
        device.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }

    // The baseline: the same 256 KB blocks, read and touched, nothing examined.
    std::uint64_t PlainRead() const
    {
        std::vector<std::uint8_t> block(kBlockBytes);
        std::uint64_t sum = 0;
        for (std::uint64_t off = 0; off < kImageBytes; off += kBlockBytes) {
            device->ReadAt(off, block.data(), block.size());
            sum += block[0];
        }
        return sum;
    }
};

void BM_AdvancedSweepVsPlainRead(benchmark::State& state)
{
    static Image image;
    double sweepSeconds = 1e30, plainSeconds = 1e30;
    std::size_t found = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(image.PlainRead());
        const auto t1 = std::chrono::steady_clock::now();
        PartitionSearchParams params;
        params.device = image.device;
        params.depth = SmpMode::Advanced;
        const PartitionSearchOutcome out = RunPartitionSearch(params, {});
        const auto t2 = std::chrono::steady_clock::now();
        found = out.found.size();
        plainSeconds = std::min(plainSeconds, Seconds(t1 - t0));
        sweepSeconds = std::min(sweepSeconds, Seconds(t2 - t1));
    }
    const double bytes = static_cast<double>(kImageBytes);
    state.counters["sweep_bytes_per_second"] = bytes / sweepSeconds;
    state.counters["plain_read_bytes_per_second"] = bytes / plainSeconds;
    state.counters["sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["partitions_found"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * static_cast<double>(state.iterations())));
}
BENCHMARK(BM_AdvancedSweepVsPlainRead)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

// A disk of any size that reads as zeros, every read waiting `latency`.
class SlowSparseDisk final : public Device {
public:
    SlowSparseDisk(std::uint64_t bytes, std::chrono::microseconds latency) : size_(bytes), latency_(latency) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        reads_.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::sleep_for(latency_);
        if (offset >= size_)
            return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        std::memset(buffer, 0, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return path_; }
    std::uint64_t Reads() const { return reads_.load(); }

private:
    std::uint64_t size_;
    std::chrono::microseconds latency_;
    std::string path_ = "sparse-1TiB";
    std::atomic<std::uint64_t> reads_{0};
};

void BM_StandardSweepSparse1TiB(benchmark::State& state)
{
    ::prctl(PR_SET_TIMERSLACK, 1UL);   // sleeps close to what they ask for
    const char* env = std::getenv("TORVANE_BENCH_LATENCY_US");
    const std::chrono::microseconds latency(env ? std::atoi(env) : 10);
    const char* gib = std::getenv("TORVANE_BENCH_STANDARD_GIB");   // a smaller disk for quick runs
    const std::uint64_t diskBytes = (gib ? std::strtoull(gib, nullptr, 10) : 1024) << 30;
    const char* threadsEnv = std::getenv("TORVANE_BENCH_READ_AHEAD_THREADS");
    const unsigned aheadThreads = threadsEnv ? static_cast<unsigned>(std::atoi(threadsEnv)) : 8;
    double oneSeconds = 0, aheadSeconds = 0;
    std::uint64_t oneReads = 0, aheadReads = 0;
    for (auto _ : state) {
        for (unsigned threads : {0u, aheadThreads}) {
            auto disk = std::make_shared<SlowSparseDisk>(diskBytes, latency);
            PartitionSearchParams params;
            params.device = disk;
            params.depth = SmpMode::Standard;
            params.readAheadThreads = threads;
            const auto t0 = std::chrono::steady_clock::now();
            const PartitionSearchOutcome out = RunPartitionSearch(params, {});
            const double s = Seconds(std::chrono::steady_clock::now() - t0);
            benchmark::DoNotOptimize(out.found.size());
            (threads ? aheadSeconds : oneSeconds) = s;
            (threads ? aheadReads : oneReads) = disk->Reads();
        }
    }
    state.counters["latency_us"] = static_cast<double>(latency.count());
    state.counters["disk_gib"] = static_cast<double>(diskBytes >> 30);
    state.counters["read_ahead_threads"] = aheadThreads;
    state.counters["one_at_a_time_seconds"] = oneSeconds;
    state.counters["read_ahead_seconds"] = aheadSeconds;
    state.counters["one_at_a_time_reads"] = static_cast<double>(oneReads);
    state.counters["read_ahead_reads"] = static_cast<double>(aheadReads);
    state.counters["speedup_ratio"] = aheadSeconds > 0 ? oneSeconds / aheadSeconds : 0;
}
BENCHMARK(BM_StandardSweepSparse1TiB)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
