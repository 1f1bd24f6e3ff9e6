// Carving throughput: the Photo Search's and the signature search's General
// pass over a 2 GiB image in the page cache, against a plain sequential read
// of the same bytes in the same run; and the per-sector probe alone, on one
// thread.
//
// The image is generated under the temporary folder (random-looking bytes, no
// file headers) once per process and removed at the end; set
// TORVANE_CARVING_BENCH_IMAGE to carve a real image instead. Counters:
//   plain_MBps, carve_MBps  the two rates of one iteration
//   ratio                   carve rate / plain read rate (aim: 0.7 or more)
//   photorec_s              when Debian's photorec is installed: its time on
//                           the same image (its default file types), for
//                           comparison only
#include "carving/carving_search_job.h"
#include "carving/signature_probe.h"
#include "carving/signature_selection.h"
#include "disk/sector_reader.h"
#include "platform/device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef TORVANE_RES_DIR
#define TORVANE_RES_DIR "res"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kImageBytes = 2ull << 30;

struct TempImage {
    std::string path;
    ~TempImage()
    {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

std::uint64_t NextRandom(std::uint64_t& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

std::string MakeImage()
{
    std::string tmpl = (fs::temp_directory_path() / "torvane-carving-bench-XXXXXX.img").string();
    const int fd = ::mkstemps(tmpl.data(), 4);
    if (fd < 0)
        throw std::runtime_error("cannot create the bench image");
    std::vector<std::uint64_t> chunk((8u << 20) / sizeof(std::uint64_t));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t written = 0; written < kImageBytes; written += chunk.size() * sizeof(std::uint64_t)) {
        for (auto& word : chunk)
            word = NextRandom(state);
        const std::size_t bytes = chunk.size() * sizeof(std::uint64_t);
        if (::write(fd, chunk.data(), bytes) != static_cast<ssize_t>(bytes)) {
            ::close(fd);
            ::unlink(tmpl.c_str());
            throw std::runtime_error("cannot write the bench image");
        }
    }
    ::close(fd);
    return tmpl;
}

const std::string& ImagePath()
{
    if (const char* env = std::getenv("TORVANE_CARVING_BENCH_IMAGE"); env && *env) {
        static const std::string given = env;
        return given;
    }
    static TempImage image{MakeImage()};
    return image.path;
}

torvane::SignatureList Shipped(const char* name, bool upper)
{
    auto file = torvane::SignatureDataFile::Load(torvane::SignatureFilePath(TORVANE_RES_DIR, name));
    if (!file)
        throw std::runtime_error(std::string("cannot read ") + name);
    torvane::SignatureList list;
    if (upper)
        torvane::AppendCheckedSignatures(*file, {}, list);
    else
        torvane::AppendSignatureFile(*file, list);
    return list;
}

double PlainReadSeconds(torvane::Device& device)
{
    std::vector<unsigned char> block(torvane::kCarvingBlockBytes);
    const std::uint64_t sectors = device.SizeBytes() / torvane::kSectorSize;
    const auto start = Clock::now();
    for (std::uint64_t s = 0; s < sectors; s += torvane::kCarvingBlockSectors) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(torvane::kCarvingBlockSectors, sectors - s));
        torvane::ReadSectorsFrom(device, n, s, block.data());
        benchmark::DoNotOptimize(block.data());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// state.range(0): 0 Photo Search, 1 signature search.
void CarvingVsPlainRead(benchmark::State& state)
{
    std::string error;
    torvane::DevicePtr device = torvane::OpenFileDevice(ImagePath(), &error);
    if (!device) {
        state.SkipWithError(("cannot open the image: " + error).c_str());
        return;
    }
    const bool photo = state.range(0) == 0;
    const torvane::SignatureList general = Shipped(photo ? "QOVExt2.dll" : "QOVSig.dll", !photo);
    const fs::path out = fs::temp_directory_path() / ("torvane-carving-bench-out-" + std::to_string(::getpid()));
    const double bytes = static_cast<double>(device->SizeBytes());
    PlainReadSeconds(*device);  // warm the page cache
    double plainTotal = 0, carveTotal = 0;
    std::uint64_t files = 0;
    for (auto _ : state) {
        const double plain = PlainReadSeconds(*device);
        torvane::CarvingSearchRequest base;
        base.device = device;
        base.startSector = 0;
        base.endSector = device->SizeBytes() / torvane::kSectorSize;
        base.destination = out.string();
        base.readAheadBlocks = static_cast<std::size_t>(state.range(1));
        std::unique_ptr<torvane::CarvingSearchJob> job;
        if (photo) {
            torvane::PhotoSearchRequest request;
            static_cast<torvane::CarvingSearchRequest&>(request) = base;
            request.general = general;
            job = std::make_unique<torvane::PhotoSearchJob>(request);
        } else {
            torvane::SignatureSearchRequest request;
            static_cast<torvane::CarvingSearchRequest&>(request) = base;
            request.general = general;
            job = std::make_unique<torvane::SignatureSearchJob>(request);
        }
        const auto start = Clock::now();
        job->RunHere();
        const double carve = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(carve);
        files += job->Counters().filesFound.load();
        plainTotal += plain;
        carveTotal += carve;
        std::error_code ec;
        fs::remove_all(out, ec);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_MBps"] = bytes * n / plainTotal / 1e6;
    state.counters["carve_MBps"] = bytes * n / carveTotal / 1e6;
    state.counters["ratio"] = plainTotal / carveTotal;
    state.counters["files"] = static_cast<double>(files) / n;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * n));
}
// state.range(1): blocks read ahead (0: read on the carving thread).
BENCHMARK(CarvingVsPlainRead)->Args({0, 8})->Args({1, 8})->Args({0, 0})->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The probe alone: sectors of random bytes, one thread. state.range(0): 0
// first hit with the Photo Search's General list, 1 every hit with the
// signature search's.
void ProbeRate(benchmark::State& state)
{
    const bool photo = state.range(0) == 0;
    const torvane::SignatureProbe probe(Shipped(photo ? "QOVExt2.dll" : "QOVSig.dll", !photo));
    std::vector<std::uint8_t> sectors(std::size_t{1} << state.range(1));
    std::uint64_t seed = 12345;
    for (std::size_t i = 0; i < sectors.size(); i += 8) {
        const std::uint64_t word = NextRandom(seed);
        std::memcpy(&sectors[i], &word, 8);
    }
    const std::size_t count = sectors.size() / torvane::kSectorSize;
    std::vector<std::uint32_t> hits;
    std::uint64_t found = 0;
    for (auto _ : state) {
        for (std::size_t s = 0; s < count; ++s) {
            const std::uint8_t* sector = sectors.data() + s * torvane::kSectorSize;
            if (photo) {
                found += probe.FirstHit(sector) >= 0;
            } else {
                hits.clear();
                probe.AllHits(sector, hits);
                found += hits.size();
            }
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.counters["sectors_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * count), benchmark::Counter::kIsRate);
}
BENCHMARK(ProbeRate)->Args({0, 18})->Args({1, 18})->Args({0, 26})->Args({1, 26})->Unit(benchmark::kMillisecond);

// Debian's photorec on the same image, when installed (optional).
void PhotorecSameImage(benchmark::State& state)
{
    if (std::system("command -v photorec >/dev/null 2>&1") != 0) {
        state.SkipWithError("photorec is not installed (Debian package testdisk)");
        return;
    }
    const fs::path out = fs::temp_directory_path() / ("torvane-photorec-bench-" + std::to_string(::getpid()));
    for (auto _ : state) {
        fs::create_directories(out);
        const std::string cmd = "photorec /log /d '" + (out / "recup").string() + "' /cmd '" + ImagePath() +
                                "' partition_none,options,paranoid_no,search > /dev/null 2>&1 < /dev/null";
        const auto start = Clock::now();
        const int rc = std::system(cmd.c_str());
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["photorec_s"] = seconds;
        state.counters["photorec_rc"] = rc;
        std::error_code ec;
        fs::remove_all(out, ec);
    }
    fs::remove("photorec.log");
}
BENCHMARK(PhotorecSameImage)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
