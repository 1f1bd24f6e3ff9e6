// The Basic exFAT scan (the directory walk and the arrangement steps that
// follow it) over synthetic volumes of 100,000 files in 5,000 folders and of
// 1,000,000 files in 50,000 folders, against the plain read of the same
// directory bytes in the same run.
//
// The volume: 4 KiB clusters, a root (chained in the FAT) holding every
// folder, each folder one cluster of file entry sets (a third of the names
// need two name entries), every set with its checksum. File data is never
// read: the image is sparse beyond the directories. Counters: the scan's
// time over the plain read's (aim: at most 3), the growth from 100k to 1M
// (linear is 10), and the heap bytes the results hold per found file. The
// same ratio in the thread's CPU time is reported beside it: on a machine
// shared with other work the wall-clock ratio swings with the load.
#include "disk/sector_reader.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/fat/fat_sweep.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace torvane;

constexpr std::uint32_t kClusterBytes = 4096;
constexpr std::uint32_t kRootCluster = 4;
constexpr std::uint64_t kFatByte = 64 * 1024;

void Put16(std::uint8_t* p, std::uint16_t v) { p[0] = v & 0xFF; p[1] = v >> 8; }
void Put32(std::uint8_t* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF; }
void Put64(std::uint8_t* p, std::uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = (v >> (8 * i)) & 0xFF; }

// Appends the entry set of one file or folder to `out`.
void AppendSet(std::vector<std::uint8_t>& out, const std::string& name, bool directory, std::uint32_t firstCluster,
               std::uint64_t length, bool deleted)
{
    const std::size_t nameEntries = (name.size() + 14) / 15;
    const std::size_t at = out.size();
    out.resize(at + 32 * (2 + nameEntries), 0);
    std::uint8_t* e = out.data() + at;
    e[0] = 0x85;
    e[1] = static_cast<std::uint8_t>(1 + nameEntries);
    Put16(e + 4, directory ? 0x10 : 0x20);
    Put32(e + 8, 0x5A216000u);    // created 2025-01-01 12:00
    Put32(e + 12, 0x5A216000u);
    Put32(e + 16, 0x5A216000u);
    std::uint8_t* s = e + 32;
    s[0] = 0xC0;
    s[1] = 0x03;                  // allocation possible, no FAT chain
    s[3] = static_cast<std::uint8_t>(name.size());
    Put64(s + 8, length);
    Put32(s + 20, firstCluster);
    Put64(s + 24, length);
    for (std::size_t k = 0; k < nameEntries; ++k) {
        std::uint8_t* n = e + 64 + 32 * k;
        n[0] = 0xC1;
        for (std::size_t i = 0; i < 15 && 15 * k + i < name.size(); ++i)
            Put16(n + 2 + 2 * i, static_cast<std::uint8_t>(name[15 * k + i]));
    }
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 32 * (2 + nameEntries); ++i)
        if (i != 2 && i != 3)
            sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + e[i]);
    Put16(e + 2, sum);
    if (deleted)
        for (std::size_t k = 0; k < 2 + nameEntries; ++k)
            e[32 * k] &= 0x7F;
}

struct Image {
    std::filesystem::path path;
    DevicePtr device;
    ExfatVolume volume;
    std::uint64_t dirFirstByte = 0, dirEndByte = 0;   // the directory clusters, one run
    std::size_t files = 0;

    Image(std::size_t fileCount, std::size_t folderCount) : files(fileCount)
    {
        path = std::filesystem::temp_directory_path() /
               ("torvane-bench-exfat-" + std::to_string(::getpid()) + "-" + std::to_string(fileCount) + ".img");
        // The root: one set of three entries per folder.
        std::vector<std::uint8_t> root;
        const std::uint32_t firstFolder = kRootCluster + static_cast<std::uint32_t>((folderCount * 96 + kClusterBytes) / kClusterBytes);
        for (std::size_t f = 0; f < folderCount; ++f)
            AppendSet(root, "folder-" + std::to_string(f), true, firstFolder + static_cast<std::uint32_t>(f),
                      kClusterBytes, false);
        const std::uint32_t rootClusters = static_cast<std::uint32_t>((root.size() + kClusterBytes) / kClusterBytes);
        const std::uint32_t dataCluster = firstFolder + static_cast<std::uint32_t>(folderCount);
        const std::uint64_t clusterCount = dataCluster + fileCount + 16;
        const std::uint64_t fatBytes = (clusterCount + 2) * 4;
        const std::uint64_t heapByte = (kFatByte + fatBytes + kClusterBytes - 1) / kClusterBytes * kClusterBytes;

        volume.volumeByte = 0;
        volume.heapByte = heapByte;
        volume.clusterBytes = kClusterBytes;
        volume.clusterCount = static_cast<std::uint32_t>(clusterCount);
        volume.fatByte = kFatByte;
        volume.fatCells = static_cast<std::uint32_t>(clusterCount + 2);
        volume.endByte = heapByte + clusterCount * kClusterBytes;
        volume.rootCluster = kRootCluster;

        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            throw std::runtime_error("cannot create the bench image");
        auto write = [fd](std::uint64_t at, const void* data, std::size_t n) {
            if (::pwrite(fd, data, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n))
                throw std::runtime_error("cannot write the bench image");
        };
        // The FAT: the root's chain.
        std::vector<std::uint32_t> cells(clusterCount + 2, 0);
        cells[0] = 0xFFFFFFF8u;
        cells[1] = 0xFFFFFFFFu;
        for (std::uint32_t c = 0; c < rootClusters; ++c)
            cells[kRootCluster + c] = c + 1 == rootClusters ? 0xFFFFFFFFu : kRootCluster + c + 1;
        write(kFatByte, cells.data(), cells.size() * 4);
        root.resize(std::size_t{rootClusters} * kClusterBytes, 0);
        write(volume.ClusterByte(kRootCluster), root.data(), root.size());
        // The folders, one cluster each, one after the other.
        std::vector<std::uint8_t> folders(folderCount * kClusterBytes, 0);
        std::vector<std::uint8_t> cluster;
        for (std::size_t f = 0, file = 0; f < folderCount; ++f) {
            cluster.clear();
            const std::size_t end = (f + 1) * fileCount / folderCount;
            for (; file < end; ++file) {
                const std::string name = file % 3 == 0 ? "Holiday photo " + std::to_string(file) + ".jpg"
                                                        : "IMG_" + std::to_string(1000000 + file) + ".JPG";
                AppendSet(cluster, name, false, dataCluster + static_cast<std::uint32_t>(file), 1000 + file % 5000,
                          file % 5 == 4);
            }
            if (cluster.size() > kClusterBytes)
                throw std::runtime_error("too many files per folder");
            std::memcpy(folders.data() + f * kClusterBytes, cluster.data(), cluster.size());
        }
        write(volume.ClusterByte(firstFolder), folders.data(), folders.size());
        if (::ftruncate(fd, static_cast<off_t>(volume.endByte)) != 0)
            throw std::runtime_error("cannot size the bench image");
        ::close(fd);
        dirFirstByte = volume.ClusterByte(kRootCluster);
        dirEndByte = volume.ClusterByte(dataCluster);
        device = OpenFileDevice(path.string());
        volume.device = device.get();
        PlainRead();   // into the page cache
    }
    ~Image()
    {
        device.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }

    // The directory clusters in 64 KiB reads, touched, nothing examined.
    std::uint64_t PlainRead() const
    {
        std::vector<std::uint8_t> block(64 * 1024);
        std::uint64_t sum = 0;
        for (std::uint64_t b = dirFirstByte; b < dirEndByte; b += block.size()) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), dirEndByte - b));
            ReadBytesFrom(*device, b, block.data(), n);
            sum += block[0];
        }
        return sum;
    }
};

Image& TheImage(bool large)
{
    static std::map<bool, std::unique_ptr<Image>> images;
    auto& image = images[large];
    if (!image)
        image = large ? std::make_unique<Image>(1000000, 50000) : std::make_unique<Image>(100000, 5000);
    return *image;
}

// Heap bytes in use, the large blocks malloc maps of their own included.
std::size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU seconds of the calling thread (kernel time of its reads included).
double ThreadCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Run {
    double scanSeconds = 0, plainSeconds = 0;
    double scanCpuSeconds = 0, plainCpuSeconds = 0;
    std::size_t files = 0;
    double heapBytes = 0;
};

Run ScanOnce(Image& image)
{
    Run run;
    malloc_trim(0);
    const double c0 = ThreadCpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(image.PlainRead());
    auto t1 = std::chrono::steady_clock::now();
    const double c1 = ThreadCpuSeconds();
    const std::size_t heapBefore = HeapInUse();
    {
        auto results = std::make_unique<ScanResults>();
        results->SetFsName("exFAT");
        results->SetRecoveryMode(1);
        results->EnsureRootItem();
        auto index = std::make_unique<ExfatFileIndex>();
        const double c2 = ThreadCpuSeconds();
        auto t2 = std::chrono::steady_clock::now();
        ReadExfatVolumeAt(*results, image.volume, index.get(), {});
        RunBasicFatSteps(*results);
        auto t3 = std::chrono::steady_clock::now();
        run.scanCpuSeconds = ThreadCpuSeconds() - c2;
        run.plainCpuSeconds = c1 - c0;
        run.heapBytes = static_cast<double>(HeapInUse() - heapBefore);
        run.files = results->FoundEntries().size();
        run.plainSeconds = Seconds(t1 - t0);
        run.scanSeconds = Seconds(t3 - t2);
    }
    malloc_trim(0);
    return run;
}

void BM_ExfatScanVsPlainRead(benchmark::State& state)
{
    Image& image = TheImage(state.range(0) != 0);
    double scan = 0, plain = 0, heap = 0, scanCpu = 0, plainCpu = 0;
    std::size_t files = 0;
    for (auto _ : state) {
        Run run = ScanOnce(image);
        scan += run.scanSeconds;
        plain += run.plainSeconds;
        scanCpu += run.scanCpuSeconds;
        plainCpu += run.plainCpuSeconds;
        heap = run.heapBytes;
        files = run.files;
        state.SetIterationTime(run.scanSeconds);
    }
    state.counters["scan_to_plain_read_ratio"] = scan / plain;
    state.counters["scan_to_plain_read_cpu_ratio"] = plainCpu > 0 ? scanCpu / plainCpu : 0;
    state.counters["files_found"] = static_cast<double>(files);
    state.counters["heap_bytes_per_file"] = files ? heap / static_cast<double>(files) : 0;
    state.counters["directory_MiB"] = static_cast<double>(image.dirEndByte - image.dirFirstByte) / (1 << 20);
    if (files != image.files)
        state.SkipWithError("the scan did not find every file");
}
BENCHMARK(BM_ExfatScanVsPlainRead)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExfatScanGrowth(benchmark::State& state)
{
    Image& small = TheImage(false);
    Image& large = TheImage(true);
    double bestSmall = 1e30, bestLarge = 1e30;
    for (auto _ : state) {
        bestSmall = std::min(bestSmall, ScanOnce(small).scanSeconds);
        bestLarge = std::min(bestLarge, ScanOnce(large).scanSeconds);
    }
    state.counters["seconds_100k"] = bestSmall;
    state.counters["seconds_1M"] = bestLarge;
    state.counters["ratio_1M_to_100k"] = bestLarge / bestSmall;
}
BENCHMARK(BM_ExfatScanGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
