// The Basic FAT sweep over a FAT32 volume of 1 GiB read from the page cache,
// against a plain sequential read of the same bytes in the same run.
//
// The image is written once to a temporary file (4 KiB clusters, a directory
// header every 64 clusters, filler elsewhere) and read once before timing so
// that it sits in the page cache. Counters: sweep and plain-read bytes per
// second, and their ratio (the sweep's share of the raw read speed).
#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint64_t kImageBytes = 1ull << 30;   // 1 GiB
constexpr std::uint32_t kSpc = 8;
constexpr std::uint64_t kFatStart = 32;
constexpr std::uint32_t kSectorsPerFat = 2048;       // 262,144 cells
constexpr std::uint64_t kCluster0 = kFatStart + 2 * kSectorsPerFat - 2 * kSpc;

struct Image {
    std::filesystem::path path;
    FatVolume volume;
    DevicePtr device;

    Image()
    {
        path = std::filesystem::temp_directory_path() / ("torvane-bench-fat32-" + std::to_string(::getpid()) + ".img");
        volume.kind = FatKind::Fat32;
        volume.fs = FsKind::Fat32;
        volume.startSector = 0;
        volume.endSector = kImageBytes / 512;
        volume.endByte = kImageBytes;
        volume.fatStart = kFatStart;
        volume.sectorsPerFat = kSectorsPerFat;
        volume.sectorsPerCluster = kSpc;
        volume.cluster0Start = kCluster0;
        volume.rootStart = 2;

        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(1 << 20);
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>('A' + (i * 7) % 26);
        const std::uint64_t clusterBytes = kSpc * 512ull;
        for (std::uint64_t off = 0; off < kImageBytes; off += chunk.size()) {
            std::vector<char> buf = chunk;
            if (off < (kCluster0 + 2 * kSpc) * 512)
                std::fill(buf.begin(), buf.end(), 0);
            // Directory headers: "." names the cluster, ".." the one 64 clusters before.
            for (std::uint64_t p = 0; p < buf.size(); p += clusterBytes) {
                std::uint64_t sector = (off + p) / 512;
                if (sector < kCluster0 + 2 * kSpc)
                    continue;
                std::uint64_t cluster = (sector - kCluster0) / kSpc;
                if (cluster % 64 != 0)
                    continue;
                char* e = buf.data() + p;
                std::memset(e, 0, 96);
                std::memcpy(e, ".          ", 11);
                std::memcpy(e + 32, "..         ", 11);
                e[11] = e[43] = 0x10;
                std::uint32_t self = static_cast<std::uint32_t>(cluster);
                std::uint32_t parent = cluster >= 128 ? self - 64 : 0;
                e[26] = static_cast<char>(self & 0xFF);
                e[27] = static_cast<char>((self >> 8) & 0xFF);
                e[20] = static_cast<char>((self >> 16) & 0xFF);
                e[21] = static_cast<char>((self >> 24) & 0xFF);
                e[32 + 26] = static_cast<char>(parent & 0xFF);
                e[32 + 27] = static_cast<char>((parent >> 8) & 0xFF);
                e[32 + 20] = static_cast<char>((parent >> 16) & 0xFF);
                e[32 + 21] = static_cast<char>((parent >> 24) & 0xFF);
            }
            // FAT: the root (cluster 2) is one cluster.
            if (off == 0) {
                std::uint32_t end = 0x0FFFFFFF;
                std::memcpy(buf.data() + kFatStart * 512 + 2 * 4, &end, 4);
            }
            out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        }
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
        std::vector<std::uint8_t> block(kSweepBlockSectors * 512);
        std::uint64_t sum = 0;
        const std::uint64_t first = kCluster0 + 2 * kSpc;
        for (std::uint64_t b = first; b < volume.endSector; b += kSweepBlockSectors) {
            auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kSweepBlockSectors, volume.endSector - b));
            ReadSectorsFrom(*device, count, b, block.data());
            sum += block[0];
        }
        return sum;
    }
};

Image& TheImage()
{
    static Image image;
    return image;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_FatSweepVsPlainRead(benchmark::State& state)
{
    Image& image = TheImage();
    const double bytes = static_cast<double>(kImageBytes - (kCluster0 + 2 * kSpc) * 512);
    // Best of the iterations for each: the machine may be busy with other work,
    // and the fastest pass is the one least disturbed by it.
    double sweepSeconds = 1e30, plainSeconds = 1e30;
    std::uint64_t found = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(image.PlainRead());
        auto t1 = std::chrono::steady_clock::now();
        ScanResults results;
        results.SetFsName("FAT32");
        FatSweepControl control;
        control.interimInterval = std::chrono::milliseconds(0);
        SweepFatVolume(results, image.volume, *image.device, control);
        auto t2 = std::chrono::steady_clock::now();
        found = results.FoundFolderCount.load();
        plainSeconds = std::min(plainSeconds, Seconds(t1 - t0));
        sweepSeconds = std::min(sweepSeconds, Seconds(t2 - t1));
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["sweep_bytes_per_second"] = bytes / sweepSeconds;
    state.counters["plain_read_bytes_per_second"] = bytes / plainSeconds;
    state.counters["sweep_to_plain_ratio"] = plainSeconds / sweepSeconds;
    state.counters["directories_found"] = static_cast<double>(found);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * n));
}
BENCHMARK(BM_FatSweepVsPlainRead)->Unit(benchmark::kMillisecond)->Iterations(9)->UseRealTime();

}  // namespace
