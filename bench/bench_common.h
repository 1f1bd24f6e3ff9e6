// Shared pieces of the read benchmarks: the image they sweep and the plain
// sequential read that every sweep is measured against.
//
// A later benchmark compares its sweep with the plain read in the same run:
//
//   #include "bench_common.h"
//   BENCHMARK(torvane::bench::PlainReadBaseline)->UseRealTime();
//   static void MySweep(benchmark::State& s) { auto path = torvane::bench::BenchImagePath(); ... }
//
// Set TORVANE_BENCH_IMAGE to sweep a real disk image instead of the
// temporary 256 MiB file.
#pragma once

#include "disk/sector_reader.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace torvane::bench {

inline constexpr std::size_t kPlainReadBlock = 512 * 1024;        // the Deep Search sweep's block
inline constexpr std::uint64_t kDefaultImageBytes = 256ull << 20;  // 256 MiB

namespace detail {

struct TempImage {
    std::string path;
    ~TempImage()
    {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

inline std::string MakeTempImage(std::uint64_t bytes)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "torvane-bench-XXXXXX.img").string();
    int fd = ::mkstemps(tmpl.data(), 4);
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary bench image");
    // Content that is not all zeros, so no layer can take a short cut.
    std::vector<unsigned char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<unsigned char>((i * 131 + i / 512) & 0xFF);
    std::uint64_t written = 0;
    while (written < bytes) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), bytes - written));
        chunk[0] = static_cast<unsigned char>(written >> 20);
        if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) {
            ::close(fd);
            ::unlink(tmpl.c_str());
            throw std::runtime_error("cannot write the temporary bench image");
        }
        written += n;
    }
    ::close(fd);
    return tmpl;
}

}  // namespace detail

// The image the read benchmarks sweep: TORVANE_BENCH_IMAGE when set, else a
// temporary file of kDefaultImageBytes, made once per process (and so in the
// page cache) and removed when the program ends.
inline std::string BenchImagePath()
{
    if (const char* env = std::getenv("TORVANE_BENCH_IMAGE"); env && *env)
        return env;
    static detail::TempImage image{detail::MakeTempImage(kDefaultImageBytes)};
    return image.path;
}

// Reads the whole device from sector 0 to its end in blocks of `blockBytes`
// (a multiple of 512) through ReadSectorsFrom, the plain read every sweep
// starts from. Returns the bytes read. `scratch` is the block buffer.
inline std::uint64_t PlainSequentialRead(Device& device, std::size_t blockBytes, std::vector<unsigned char>& scratch)
{
    scratch.resize(blockBytes);
    const std::uint32_t blockSectors = static_cast<std::uint32_t>(blockBytes / kSectorSize);
    const std::uint64_t totalSectors = device.SizeBytes() / kSectorSize;
    std::uint64_t bytes = 0;
    for (std::uint64_t s = 0; s < totalSectors; s += blockSectors) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors, totalSectors - s));
        if (ReadSectorsFrom(device, n, s, scratch.data()) != 1)
            throw std::runtime_error("bench image read failed");
        benchmark::DoNotOptimize(scratch.data());
        bytes += std::uint64_t{n} * kSectorSize;
    }
    return bytes;
}

// The baseline: plain sequential 512 KB reads of the bench image, reported
// in bytes per second. Register it in any read benchmark to compare with.
inline void PlainReadBaseline(benchmark::State& state)
{
    std::string error;
    DevicePtr device = OpenFileDevice(BenchImagePath(), &error);
    if (!device) {
        state.SkipWithError(("cannot open the bench image: " + error).c_str());
        return;
    }
    std::vector<unsigned char> scratch;
    std::uint64_t total = 0;
    for (auto _ : state)
        total += PlainSequentialRead(*device, kPlainReadBlock, scratch);
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}

}  // namespace torvane::bench
