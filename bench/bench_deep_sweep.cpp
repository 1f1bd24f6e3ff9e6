// The Deep sweep of a 1 GiB FAT32 image read from the page cache (the whole
// range, 1024 sectors per read, every sector classified, the volume found,
// its folders assigned and arranged), against a plain read of the same bytes
// in the same 512 KB chunks in the same run.
//
// The image: a FAT32 boot sector at sector 0 (4 KiB clusters), a directory
// first cluster every 64 clusters, a cluster of directory entries after
// each, filler elsewhere; written once to a temporary file and read once
// before timing. Counters: both speeds and their ratio (the sweep's share of
// the raw read speed).
#include "fsrecovery/deep_scan.h"
#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint64_t kImageBytes = 1ull << 30;
constexpr std::uint32_t kSpc = 8;
constexpr std::uint32_t kReserved = 32;
constexpr std::uint32_t kSectorsPerFat = 2048;
constexpr std::uint64_t kCluster0 = kReserved + 2 * kSectorsPerFat - 2 * kSpc;

void Put16(char* p, std::uint16_t v) { p[0] = static_cast<char>(v & 0xFF); p[1] = static_cast<char>(v >> 8); }
void Put32(char* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF); }

struct Image {
    std::filesystem::path path;
    DevicePtr device;

    Image()
    {
        path = std::filesystem::temp_directory_path() / ("torvane-bench-deep-" + std::to_string(::getpid()) + ".img");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(1 << 20);
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>('A' + (i * 7) % 26);
        const std::uint64_t clusterBytes = kSpc * 512ull;
        for (std::uint64_t off = 0; off < kImageBytes; off += chunk.size()) {
            std::vector<char> buf = chunk;
            const std::uint64_t zeroEnd = (kCluster0 + 3 * kSpc) * 512;
            if (off < zeroEnd)
                std::fill(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(buf.size(), zeroEnd - off)), 0);
            if (off == 0) {
                char* b = buf.data();
                b[13] = kSpc;
                Put16(b + 11, 512);
                Put16(b + 14, kReserved);
                b[16] = 2;
                Put32(b + 32, static_cast<std::uint32_t>(kImageBytes / 512));
                Put32(b + 36, kSectorsPerFat);
                Put32(b + 44, 2);
                std::memcpy(b + 82, "FAT32   ", 8);
                b[510] = 0x55;
                b[511] = static_cast<char>(0xAA);
                Put32(b + kReserved * 512 + 8, 0x0FFFFFFF);
            }
            for (std::uint64_t p = 0; p < buf.size(); p += clusterBytes) {
                const std::uint64_t sector = (off + p) / 512;
                if (sector < kCluster0 + 3 * kSpc)
                    continue;
                const std::uint64_t cluster = (sector - kCluster0) / kSpc;
                char* e = buf.data() + p;
                if (cluster % 64 == 1) {   // a cluster of entries (a continuation)
                    std::memset(e, 0, 512);
                    for (int k = 0; k < 16; ++k) {
                        std::memcpy(e + 32 * k, "FILE    TXT", 11);
                        e[32 * k + 11] = 0x20;
                        e[32 * k + 13] = 5;
                    }
                }
                if (cluster % 64 != 0)
                    continue;
                std::memset(e, 0, 96);
                std::memcpy(e, ".          ", 11);
                std::memcpy(e + 32, "..         ", 11);
                e[11] = e[43] = 0x10;
                const std::uint32_t self = static_cast<std::uint32_t>(cluster);
                const std::uint32_t parent = cluster >= 128 ? self - 64 : 0;
                Put16(e + 26, static_cast<std::uint16_t>(self));
                Put16(e + 20, static_cast<std::uint16_t>(self >> 16));
                Put16(e + 32 + 26, static_cast<std::uint16_t>(parent));
                Put16(e + 32 + 20, static_cast<std::uint16_t>(parent >> 16));
            }
            out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        }
        out.close();
        device = OpenFileDevice(path.string());
        PlainRead();
    }
    ~Image()
    {
        device.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }

    std::uint64_t PlainRead() const
    {
        std::vector<std::uint8_t> block(kDeepChunkSectors * 512);
        std::uint64_t sum = 0;
        for (std::uint64_t off = 0; off < kImageBytes; off += block.size()) {
            device->ReadAt(off, block.data(), block.size());
            sum += block[0];
        }
        return sum;
    }
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_DeepSweepVsPlainRead(benchmark::State& state)
{
    static Image image;
    double sweepSeconds = 1e30, plainSeconds = 1e30;
    std::uint64_t folders = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(image.PlainRead());
        auto t1 = std::chrono::steady_clock::now();
        ScanResults results;
        DeepTables tables;
        CurrentPartition p;
        p.Descriptor.FsType = "FAT32";
        p.Descriptor.EndSector = kImageBytes / 512;
        p.Descriptor.EndByte = kImageBytes;
        p.Device = image.device;
        DeepScanJob job(results, tables, p);
        job.SetTimedPassInterval(std::chrono::milliseconds(0));
        job.RunHere();
        auto t2 = std::chrono::steady_clock::now();
        folders = results.FolderCount();
        plainSeconds = std::min(plainSeconds, Seconds(t1 - t0));
        sweepSeconds = std::min(sweepSeconds, Seconds(t2 - t1));
    }
    const double bytes = static_cast<double>(kImageBytes);
    state.counters["sweep_bytes_per_second"] = bytes / sweepSeconds;
    state.counters["plain_read_bytes_per_second"] = bytes / plainSeconds;
    state.counters["sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["folders"] = static_cast<double>(folders);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * static_cast<double>(state.iterations())));
}
BENCHMARK(BM_DeepSweepVsPlainRead)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();

}  // namespace
