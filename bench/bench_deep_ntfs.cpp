// The NTFS Deep Search sweep.
//
// BM_DeepNtfsSweepVsPlainRead: a 1 GiB image read from the page cache in the
// sweep's 512 KiB chunks, every sector looked at by the NTFS sweep, against a
// plain read of the same chunks in the same run. The image is an NTFS-like
// volume: a $MFT of 200,000 FILE records (every 10th a directory), 2,000
// INDX blocks of 4 KiB, and data that is neither. Counter: the sweep's share
// of the plain read's speed (sweep_to_plain_ratio), in wall time and, since
// a machine shared with other work takes the CPU away at random moments, in
// the thread's CPU time as well (sweep_to_plain_ratio_cpu).
//
// BM_DeepNtfsGrowth: the whole NTFS half (sweep of in-memory chunks, the
// table, the results with every folder in the tree and every file in the
// store) on 100,000 and on 1,000,000 synthetic records, timed in the same run;
// counter growth_1m_over_100k (10 is linear), and growth_1m_over_100k_cpu in
// the thread's CPU time; measured on memory the process already holds, after
// one cold pass whose figures are reported too (cold_*).
#include "fsrecovery/ntfs/deep_ntfs_assemble.h"
#include "fsrecovery/ntfs/deep_ntfs_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <malloc.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace torvane;

constexpr std::size_t kChunkBytes = 512 * 1024;
constexpr std::uint64_t kImageBytes = 1ull << 30;
constexpr std::uint64_t kMftRecords = 200000;
constexpr std::uint64_t kIndexBlocks = 2000;

void Put16(std::uint8_t* p, std::uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void Put32(std::uint8_t* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
void Put64(std::uint8_t* p, std::uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = (v >> (8 * i)) & 0xFF; }

// Offsets of the fields a record generator changes per record.
constexpr std::size_t kParentAt = 56 + 96 + 24;

// A FILE record: $STANDARD_INFORMATION, $FILE_NAME "rec-NNNNNNN.txt" or
// "dir-NNNNNNN", a resident $DATA for files; update sequence applied.
void MakeRecord(std::uint8_t* r, std::uint64_t number, bool directory, std::uint64_t parent)
{
    std::memset(r, 0, 1024);
    std::memcpy(r, "FILE", 4);
    Put16(r + 4, 48);
    Put16(r + 6, 3);
    Put16(r + 16, 1);
    Put16(r + 20, 56);
    Put16(r + 22, static_cast<std::uint16_t>(1 | (directory ? 2 : 0)));
    Put32(r + 28, 1024);
    Put32(r + 44, static_cast<std::uint32_t>(number));
    std::size_t a = 56;
    Put32(r + a, 0x10); Put32(r + a + 4, 96); Put32(r + a + 16, 72); Put16(r + a + 20, 24);
    a += 96;
    char name[32];
    const int len = std::snprintf(name, sizeof name, directory ? "dir-%07llu" : "rec-%07llu.txt",
                                  static_cast<unsigned long long>(number));
    const std::size_t value = 66 + 2 * static_cast<std::size_t>(len);
    const std::size_t length = (24 + value + 7) & ~std::size_t(7);
    Put32(r + a, 0x30); Put32(r + a + 4, static_cast<std::uint32_t>(length));
    Put32(r + a + 16, static_cast<std::uint32_t>(value)); Put16(r + a + 20, 24);
    std::uint8_t* v = r + a + 24;
    Put64(v, parent);
    Put64(v + 8, 132000000000000000ull + number);
    v[64] = static_cast<std::uint8_t>(len);
    v[65] = 1;
    for (int i = 0; i < len; ++i)
        Put16(v + 66 + 2 * i, static_cast<std::uint8_t>(name[i]));
    a += length;
    if (!directory) {
        Put32(r + a, 0x80); Put32(r + a + 4, 64); Put32(r + a + 16, 40); Put16(r + a + 20, 24);
        std::memset(r + a + 24, 'd', 40);
        a += 64;
    }
    Put32(r + a, 0xFFFFFFFF);
    Put32(r + 24, static_cast<std::uint32_t>(a + 8));
    Put16(r + 48, 0x0101);
    for (int s = 0; s < 2; ++s) {
        r[50 + 2 * s] = r[512 * s + 510];
        r[51 + 2 * s] = r[512 * s + 511];
        Put16(r + 512 * s + 510, 0x0101);
    }
}

// The parent of record n: directories hang under the root or an earlier directory.
std::uint64_t ParentOf(std::uint64_t n, bool directory)
{
    if (n < 100)
        return 5;
    // A directory under the directory a tenth of its number; a file in the
    // directory of its ten.
    return directory ? (n / 100) * 10 : (n / 10) * 10;
}

// An INDX block of 4 KiB with 30 file entries.
void MakeIndexBlock(std::uint8_t* b, std::uint64_t dir)
{
    std::memset(b, 0, 4096);
    std::memcpy(b, "INDX", 4);
    Put16(b + 4, 40);
    Put16(b + 6, 9);
    Put32(b + 24, 64 - 24);
    Put32(b + 32, 4096 - 24);
    std::size_t at = 64;
    for (int i = 0; i < 30; ++i) {
        const char* name = "entry-name-of-a-file.txt";
        const std::size_t len = std::strlen(name);
        const std::size_t key = 66 + 2 * len;
        const std::size_t length = (16 + key + 7) & ~std::size_t(7);
        Put64(b + at, (1ull << 48) | (dir + 1 + i));
        Put16(b + at + 8, static_cast<std::uint16_t>(length));
        Put16(b + at + 10, static_cast<std::uint16_t>(key));
        std::uint8_t* k = b + at + 16;
        Put64(k, dir);
        Put64(k + 48, 1000 + i);
        k[64] = static_cast<std::uint8_t>(len);
        k[65] = 1;
        for (std::size_t c = 0; c < len; ++c)
            Put16(k + 66 + 2 * c, static_cast<std::uint8_t>(name[c]));
        at += length;
    }
    Put16(b + at + 8, 16);
    b[at + 12] = 2;
    Put32(b + 28, static_cast<std::uint32_t>(at + 16 - 24));
    Put16(b + 40, 0x0202);
    for (int s = 0; s < 8; ++s) {
        b[42 + 2 * s] = b[512 * s + 510];
        b[43 + 2 * s] = b[512 * s + 511];
        Put16(b + 512 * s + 510, 0x0202);
    }
}

struct Image {
    std::filesystem::path path;
    DevicePtr device;

    Image()
    {
        path = std::filesystem::temp_directory_path() / ("torvane-bench-deep-ntfs-" + std::to_string(::getpid()) + ".img");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<std::uint8_t> chunk(kChunkBytes);
        std::uint64_t written = 0, record = 0, blocks = 0;
        while (written < kImageBytes) {
            if (written >= (16 << 20) && record < kMftRecords) {
                for (std::size_t i = 0; i < kChunkBytes / 1024; ++i, ++record) {
                    const bool dir = record % 10 == 0;
                    MakeRecord(chunk.data() + i * 1024, record, dir, ParentOf(record, dir));
                }
            } else if (record >= kMftRecords && blocks < kIndexBlocks) {
                for (std::size_t i = 0; i < kChunkBytes / 4096; ++i, ++blocks)
                    MakeIndexBlock(chunk.data() + i * 4096, 100 + blocks * 10);
            } else {
                for (std::size_t i = 0; i < chunk.size(); ++i)
                    chunk[i] = static_cast<std::uint8_t>((i * 131 + written / 4096) & 0xFF);
            }
            out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
            written += chunk.size();
        }
        out.close();
        device = OpenFileDevice(path.string());
    }
    ~Image()
    {
        device.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

Image& TheImage()
{
    static Image image;
    return image;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Freed memory stays with the process: no block is given its own mapping
// (unmapped again when freed) and the heap is never trimmed, so a second run
// reuses the pages the first one touched.
void KeepFreedMemory()
{
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
}

// CPU time of the calling thread (user and system), in seconds.
double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_DeepNtfsSweepVsPlainRead(benchmark::State& state)
{
    Image& image = TheImage();
    Device& device = *image.device;
    std::vector<std::uint8_t> chunk(kChunkBytes);
    auto plain = [&] {
        std::uint64_t sum = 0;
        for (std::uint64_t at = 0; at < kImageBytes; at += kChunkBytes) {
            device.ReadAt(at, chunk.data(), chunk.size());
            sum += chunk[0];
        }
        return sum;
    };
    benchmark::DoNotOptimize(plain());  // into the page cache
    double plainSeconds = 0, sweepSeconds = 0, plainCpu = 0, sweepCpu = 0;
    std::uint64_t records = 0, entries = 0;
    auto once = [&] {
        const double c0 = ThreadCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(plain());
        auto t1 = std::chrono::steady_clock::now();
        const double c1 = ThreadCpuSeconds();
        DeepNtfsTable table;
        DeepNtfsSweep sweep(table, [&](std::uint64_t first, std::uint32_t count, std::uint8_t* out) {
            const std::size_t want = std::size_t{count} * 512;
            return device.ReadAt(first * 512, out, want) == static_cast<std::int64_t>(want);
        });
        for (std::uint64_t at = 0; at < kImageBytes; at += kChunkBytes) {
            const std::int64_t got = device.ReadAt(at, chunk.data(), chunk.size());
            sweep.ExamineChunk(chunk.data(), got > 0 ? static_cast<std::size_t>(got) : 0, at / 512);
        }
        auto t2 = std::chrono::steady_clock::now();
        const double c2 = ThreadCpuSeconds();
        records = table.FileRecords().size();
        entries = table.IndexEntries().size();
        plainSeconds += Seconds(t1 - t0);
        sweepSeconds += Seconds(t2 - t1);
        plainCpu += c1 - c0;
        sweepCpu += c2 - c1;
    };
    // Freed memory stays with the process (no unmapping, no trimming).
    KeepFreedMemory();
    // Cold: the table's rows land in memory the process never touched (see
    // BM_DeepNtfsGrowth on what a first write can cost on a virtual machine).
    once();
    state.counters["cold_sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["cold_sweep_to_plain_ratio_cpu"] = plainCpu / sweepCpu;
    plainSeconds = sweepSeconds = plainCpu = sweepCpu = 0;
    // Warm: the timed runs reuse what the cold one touched.
    for (auto _ : state)
        once();
    state.counters["sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["sweep_to_plain_ratio_cpu"] = plainCpu / sweepCpu;
    state.counters["sweep_MiB_per_second"] = static_cast<double>(state.iterations()) * 1024.0 / sweepSeconds;
    state.counters["plain_MiB_per_second"] = static_cast<double>(state.iterations()) * 1024.0 / plainSeconds;
    state.counters["file_records"] = static_cast<double>(records);
    state.counters["index_entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_DeepNtfsSweepVsPlainRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The whole NTFS half on `records` synthetic records; returns seconds of
// wall time and adds the thread's CPU seconds to `cpu`.
double RunWhole(std::uint64_t records, double& cpu)
{
    std::vector<std::uint8_t> chunk(kChunkBytes);
    const double c0 = ThreadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    DeepNtfsTable table;
    DeepNtfsSweep sweep(table, {});
    std::uint64_t n = 0;
    for (std::uint64_t at = 0; n < records; at += kChunkBytes / 512) {
        std::size_t i = 0;
        for (; i < kChunkBytes / 1024 && n < records; ++i, ++n) {
            const bool dir = n % 10 == 0;
            MakeRecord(chunk.data() + i * 1024, n, dir, ParentOf(n, dir));
        }
        sweep.ExamineChunk(chunk.data(), i * 1024, at);
    }
    ScanResults results;
    results.SetRecoveryMode(2);
    results.SetFsName("NTFS");
    results.EnsureRootItem();
    DeepNtfsAssembler assembler(results, table);
    NtfsVolume volume;
    assembler.Finish(volume, 0, nullptr);
    benchmark::DoNotOptimize(results.FolderCount());
    const double seconds = Seconds(std::chrono::steady_clock::now() - t0);
    cpu += ThreadCpuSeconds() - c0;
    return seconds;
}

void BM_DeepNtfsGrowth(benchmark::State& state)
{
    double small = 0, large = 0, smallCpu = 0, largeCpu = 0;
    // Cold: memory the process has never touched. On a virtual machine whose
    // host backs guest pages only when first written, that first write can
    // cost more than everything else the run does (150 MB/s was seen), so the
    // cold figures measure the host's paging as much as this code.
    KeepFreedMemory();
    const double coldSmall = RunWhole(100000, smallCpu);
    const double coldLarge = RunWhole(1000000, largeCpu);
    smallCpu = largeCpu = 0;
    // Warm: the cold runs above have touched all the runs below need.
    for (auto _ : state) {
        small += RunWhole(100000, smallCpu);
        large += RunWhole(1000000, largeCpu);
    }
    state.counters["seconds_100k"] = small / static_cast<double>(state.iterations());
    state.counters["seconds_1m"] = large / static_cast<double>(state.iterations());
    state.counters["cold_seconds_100k"] = coldSmall;
    state.counters["cold_seconds_1m"] = coldLarge;
    state.counters["cold_growth_1m_over_100k"] = coldLarge / coldSmall;
    state.counters["growth_1m_over_100k"] = large / small;
    state.counters["growth_1m_over_100k_cpu"] = largeCpu / smallCpu;
}
BENCHMARK(BM_DeepNtfsGrowth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
