// Sequential sector-reading throughput of an image file in the page cache:
// the baseline that the scan sweeps are measured against.
#include "bench_common.h"

#include "disk/sector_reader.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using torvane::bench::BenchImagePath;

// The baseline itself: ReadSectorsFrom on an open device, 512 KB blocks.
BENCHMARK(torvane::bench::PlainReadBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

// As the scans read: ReadSectors by device path through the shared handle,
// in blocks of the given size (256 KB: Basic Search; 512 KB: Deep Search).
void ReadSectorsSharedHandle(benchmark::State& state)
{
    const std::string path = BenchImagePath();
    if (!torvane::OpenDeviceHandle(path)) {
        state.SkipWithError("cannot open the bench image");
        return;
    }
    const std::uint64_t totalSectors = torvane::SharedDiskHandle.Get()->SizeBytes() / torvane::kSectorSize;
    const auto blockSectors = static_cast<std::uint32_t>(state.range(0) / torvane::kSectorSize);
    std::vector<unsigned char> buffer(static_cast<std::size_t>(state.range(0)));
    std::uint64_t total = 0;
    for (auto _ : state) {
        for (std::uint64_t s = 0; s < totalSectors; s += blockSectors) {
            auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors, totalSectors - s));
            if (torvane::ReadSectors(n, path, s, buffer.data(), 1) != 1) {
                state.SkipWithError("read failed");
                break;
            }
            benchmark::DoNotOptimize(buffer.data());
            total += std::uint64_t{n} * torvane::kSectorSize;
        }
    }
    torvane::CloseDeviceHandle();
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}
BENCHMARK(ReadSectorsSharedHandle)->Arg(256 << 10)->Arg(512 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the operating system gives without our layer: pread in 512 KB blocks.
void RawPread(benchmark::State& state)
{
    int fd = ::open(BenchImagePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the bench image");
        return;
    }
    std::vector<unsigned char> buffer(torvane::bench::kPlainReadBlock);
    std::uint64_t total = 0;
    for (auto _ : state) {
        off_t at = 0;
        ssize_t n;
        while ((n = ::pread(fd, buffer.data(), buffer.size(), at)) > 0) {
            benchmark::DoNotOptimize(buffer.data());
            at += n;
            total += static_cast<std::uint64_t>(n);
        }
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}
BENCHMARK(RawPread)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
