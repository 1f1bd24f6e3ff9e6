// The Basic NTFS sweep over a synthetic $MFT of 1,000,000 FILE records
// (1 GiB, in four extents) read from the page cache, against a plain read of
// the same blocks in the same run.
//
// Records: every 10th a directory, one in 50 a deleted file, one in 25 an
// empty slot, the rest files with a resident $DATA; every record has a
// $STANDARD_INFORMATION and a $FILE_NAME with its own number in the name,
// and carries an update sequence array, so the fixup and the name decoding
// are timed as on a real volume. Counters: records per second of the sweep
// and of the plain read, and their ratio (the sweep's share of the raw read
// speed); the whole scan (the sweep and the steps that arrange its folders
// and sort its files) against the plain read (aim: at most 3), and the heap
// bytes the results hold per found file. BM_MftScanGrowth compares the scan
// of 100,000 records with that of 1,000,000 (linear is 10).
#include "disk/sector_reader.h"
#include "fsrecovery/store/found_items.h"
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <map>
#include <memory>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint64_t kRecords = 1000000;
constexpr std::uint64_t kExtents = 4;
constexpr std::uint64_t kGapSectors = 2048;  // 1 MiB between extents
constexpr std::uint32_t kBlockSectors = 512; // the sweep's 256 KiB

void Put16(std::uint8_t* p, std::uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void Put32(std::uint8_t* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
void Put64(std::uint8_t* p, std::uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = (v >> (8 * i)) & 0xFF; }

constexpr std::size_t kNameAt = 56 + 96 + 24 + 66;  // $FILE_NAME name in the records below

// One FILE record: $STANDARD_INFORMATION (72 bytes), $FILE_NAME "rec-NNNNNNN.txt"
// (or "dir-NNNNNNN"), and for files a resident $DATA of 40 bytes.
void MakeRecord(std::uint8_t* r, std::uint64_t number, bool directory, bool deleted)
{
    std::memset(r, 0, 1024);
    std::memcpy(r, "FILE", 4);
    Put16(r + 4, 48);
    Put16(r + 6, 3);
    Put16(r + 16, 1);
    Put16(r + 20, 56);
    Put16(r + 22, static_cast<std::uint16_t>((deleted ? 0 : 1) | (directory ? 2 : 0)));
    Put32(r + 28, 1024);
    Put32(r + 44, static_cast<std::uint32_t>(number));
    std::size_t a = 56;
    // $STANDARD_INFORMATION
    Put32(r + a, 0x10); Put32(r + a + 4, 96); Put32(r + a + 16, 72); Put16(r + a + 20, 24);
    a += 96;
    // $FILE_NAME
    char name[32];
    const int len = std::snprintf(name, sizeof name, directory ? "dir-%07llu" : "rec-%07llu.txt",
                                  static_cast<unsigned long long>(number));
    const std::size_t value = 66 + 2 * static_cast<std::size_t>(len);
    const std::size_t length = (24 + value + 7) & ~std::size_t(7);
    Put32(r + a, 0x30); Put32(r + a + 4, static_cast<std::uint32_t>(length));
    Put32(r + a + 16, static_cast<std::uint32_t>(value)); Put16(r + a + 20, 24);
    std::uint8_t* v = r + a + 24;
    Put64(v, directory || number < 64 ? 5 : 64 + number % 1000);  // parent
    Put64(v + 8, 132000000000000000ull + number);                    // creation time
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
    // Update sequence: the sector ends go into the array, the USN takes their place.
    Put16(r + 48, 0x0101);
    for (int s = 0; s < 2; ++s) {
        r[50 + 2 * s] = r[512 * s + 510];
        r[51 + 2 * s] = r[512 * s + 511];
        Put16(r + 512 * s + 510, 0x0101);
    }
}

struct Volume {
    std::filesystem::path path;
    DevicePtr device;
    MftRunTable table;

    std::uint64_t records;

    explicit Volume(std::uint64_t recordCount) : records(recordCount)
    {
        const std::uint64_t kRecordsPerExtent = records / kExtents;
        path = std::filesystem::temp_directory_path() /
               ("torvane-bench-mft-" + std::to_string(::getpid()) + "-" + std::to_string(records) + ".img");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<std::uint8_t> block(kBlockSectors * 512);
        std::vector<std::uint8_t> gap(kGapSectors * 512, 0x5A);
        std::uint64_t sector = 0;
        std::uint64_t number = 0;
        for (std::uint64_t e = 0; e < kExtents; ++e) {
            out.write(reinterpret_cast<const char*>(gap.data()), static_cast<std::streamsize>(gap.size()));
            sector += kGapSectors;
            table.AppendMftExtent(sector, kRecordsPerExtent * 2);
            for (std::uint64_t done = 0; done < kRecordsPerExtent;) {
                const std::uint64_t n = std::min<std::uint64_t>(kBlockSectors / 2, kRecordsPerExtent - done);
                for (std::uint64_t i = 0; i < n; ++i, ++number) {
                    std::uint8_t* r = block.data() + i * 1024;
                    if (number % 25 == 24)
                        std::memset(r, 0, 1024);
                    else
                        MakeRecord(r, number, number % 10 == 0, number % 50 == 7);
                }
                out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 1024));
                done += n;
                sector += n * 2;
            }
        }
        out.write(reinterpret_cast<const char*>(gap.data()), static_cast<std::streamsize>(gap.size()));
        out.close();
        device = OpenFileDevice(path.string());
        PlainRead();  // into the page cache
    }
    ~Volume()
    {
        device.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }

    NtfsVolume Ntfs() const
    {
        NtfsVolume v;
        v.device = device.get();
        v.sectorsPerCluster = 8;
        return v;
    }

    // The baseline: the same extents in the same 256 KiB blocks, read and
    // touched, nothing examined.
    std::uint64_t PlainRead() const
    {
        std::vector<std::uint8_t> block(kBlockSectors * 512);
        std::uint64_t sum = 0;
        for (const MftExtent& e : table.Extents()) {
            for (std::uint64_t s = 0; s < e.sectors; s += kBlockSectors) {
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSectors, e.sectors - s));
                ReadSectorsFrom(*device, n, e.startSector + s, block.data());
                sum += block[0];
            }
        }
        return sum;
    }
};

Volume& TheVolume(std::uint64_t records = kRecords)
{
    static std::map<std::uint64_t, std::unique_ptr<Volume>> volumes;
    auto& v = volumes[records];
    if (!v)
        v = std::make_unique<Volume>(records);
    return *v;
}

// Heap bytes in use, the large blocks malloc maps of their own included.
std::size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_MftSweepVsPlainRead(benchmark::State& state)
{
    Volume& volume = TheVolume();
    const NtfsVolume ntfs = volume.Ntfs();
    double sweepSeconds = 0, plainSeconds = 0, scanSeconds = 0, heapBytes = 0;
    std::uint64_t files = 0, folders = 0;
    for (auto _ : state) {
        malloc_trim(0);
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(volume.PlainRead());
        auto t1 = std::chrono::steady_clock::now();
        const std::size_t heapBefore = HeapInUse();
        {
            ScanResults results;
            results.SetFsName("NTFS");
            results.SetRecoveryMode(1);
            results.EnsureRootItem();
            MftSweepControl control;
            control.interimInterval = std::chrono::milliseconds(0);
            auto t2 = std::chrono::steady_clock::now();
            SweepMftRecords(results, ntfs, volume.table, control);
            auto t3 = std::chrono::steady_clock::now();
            RunBasicNtfsSteps(results, nullptr);
            auto t4 = std::chrono::steady_clock::now();
            heapBytes = static_cast<double>(HeapInUse() - heapBefore);
            files = results.FoundEntries().size();
            folders = results.FoundFolderCount.load();
            plainSeconds += Seconds(t1 - t0);
            sweepSeconds += Seconds(t3 - t2);
            scanSeconds += Seconds(t4 - t2);
        }
        malloc_trim(0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["sweep_records_per_second"] = static_cast<double>(kRecords) * n / sweepSeconds;
    state.counters["plain_read_records_per_second"] = static_cast<double>(kRecords) * n / plainSeconds;
    state.counters["sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["scan_to_plain_read_ratio"] = scanSeconds / plainSeconds;
    state.counters["heap_bytes_per_file"] = files ? heapBytes / static_cast<double>(files) : 0;
    state.counters["files_found"] = static_cast<double>(files);
    state.counters["folders_found"] = static_cast<double>(folders);
    state.SetItemsProcessed(static_cast<std::int64_t>(static_cast<double>(kRecords) * n));
}
BENCHMARK(BM_MftSweepVsPlainRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The whole scan (sweep and steps) of 100,000 and of 1,000,000 records, best of the runs.
double ScanSeconds(Volume& volume)
{
    const NtfsVolume ntfs = volume.Ntfs();
    malloc_trim(0);
    auto results = std::make_unique<ScanResults>();
    results->SetFsName("NTFS");
    results->SetRecoveryMode(1);
    results->EnsureRootItem();
    MftSweepControl control;
    control.interimInterval = std::chrono::milliseconds(0);
    auto t0 = std::chrono::steady_clock::now();
    SweepMftRecords(*results, ntfs, volume.table, control);
    RunBasicNtfsSteps(*results, nullptr);
    auto t1 = std::chrono::steady_clock::now();
    results.reset();
    malloc_trim(0);
    return Seconds(t1 - t0);
}

void BM_MftScanGrowth(benchmark::State& state)
{
    Volume& small = TheVolume(kRecords / 10);
    Volume& large = TheVolume(kRecords);
    double bestSmall = 1e30, bestLarge = 1e30;
    for (auto _ : state) {
        bestSmall = std::min(bestSmall, ScanSeconds(small));
        bestLarge = std::min(bestLarge, ScanSeconds(large));
    }
    state.counters["seconds_100k"] = bestSmall;
    state.counters["seconds_1M"] = bestLarge;
    state.counters["ratio_1M_to_100k"] = bestLarge / bestSmall;
}
BENCHMARK(BM_MftScanGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
