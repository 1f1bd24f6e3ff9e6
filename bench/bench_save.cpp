// Saving one 1 GiB file of a FAT32 volume from an image in the page cache,
// against the plain sequential read of the same machine.
//
// The image: a 1 MiB FAT whose cells chain clusters 2, 3, ... into one file,
// then 1 GiB of data clusters (4 KiB each). "chain" saves it as a live file
// (read along its chain), "consecutive" as a deleted one (read from its first
// cluster on). "discard" drops the bytes written, to time the read and copy
// pipeline alone; "file" writes a real file in the temporary folder.
#include "bench_common.h"

#include "fsrecovery/fat/fat_file_writer.h"
#include "support/fixtures.h"

#include <fcntl.h>
#include <unistd.h>

namespace torvane::bench {
namespace {

constexpr std::uint64_t kFileBytes = 1ull << 30;
constexpr std::uint32_t kSpc = 8;
constexpr std::uint64_t kFatSectors = 2048;   // 1 MiB: 262,144 FAT32 cells

struct SaveImage {
    std::string path;
    ~SaveImage()
    {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

const std::string& SaveImagePath()
{
    static SaveImage image{[] {
        std::string path = detail::MakeTempImage(kFatSectors * kSectorSize + kFileBytes);
        // The FAT: cluster c -> c + 1, the last one end-of-chain.
        const std::uint32_t clusters = static_cast<std::uint32_t>(kFileBytes / (kSpc * kSectorSize));
        std::vector<std::uint32_t> cells(kFatSectors * kSectorSize / 4, 0);
        cells[0] = 0x0FFFFFF8;
        cells[1] = 0x0FFFFFFF;
        for (std::uint32_t i = 0; i < clusters; ++i)
            cells[2 + i] = (i + 1 == clusters) ? 0x0FFFFFFF : 3 + i;
        int fd = ::open(path.c_str(), O_WRONLY);
        if (fd < 0 || ::pwrite(fd, cells.data(), cells.size() * 4, 0) != static_cast<ssize_t>(cells.size() * 4))
            throw std::runtime_error("cannot write the bench FAT");
        ::close(fd);
        return path;
    }()};
    return image.path;
}

FatVolume BenchVolume(const Device& device)
{
    FatVolume v;
    v.kind = FatKind::Fat32;
    v.fs = FsKind::Fat32;
    v.startSector = 0;
    v.endSector = device.SizeBytes() / kSectorSize;
    v.endByte = device.SizeBytes();
    v.fatStart = 0;
    v.sectorsPerFat = static_cast<std::uint32_t>(kFatSectors);
    v.sectorsPerCluster = kSpc;
    v.cluster0Start = kFatSectors - 2 * kSpc;   // cluster 2 starts right after the FAT
    return v;
}

class DiscardFile final : public TargetFile {
public:
    int Write(const void* data, std::size_t) override
    {
        benchmark::DoNotOptimize(data);
        return 0;
    }
    int Close() override { return 0; }
};

class DiscardFileSystem final : public TargetFileSystem {
public:
    bool Exists(const std::string&) override { return false; }
    bool IsDirectory(const std::string&) override { return true; }
    int MakeDirectory(const std::string&) override { return 0; }
    std::unique_ptr<TargetFile> Create(const std::string&, int& error) override
    {
        error = 0;
        return std::make_unique<DiscardFile>();
    }
    int RemoveFile(const std::string&) override { return 0; }
    int RemoveDirectory(const std::string&) override { return 0; }
};

void SaveBigFile(benchmark::State& state, bool deleted, bool realFile)
{
    std::string error;
    DevicePtr device = OpenFileDevice(SaveImagePath(), &error);
    if (!device) {
        state.SkipWithError(error.c_str());
        return;
    }
    FatVolume volume = BenchVolume(*device);
    DiscardFileSystem discard;
    test::TempDir dir;
    std::uint64_t total = 0;
    for (auto _ : state) {
        SaveSession session(realFile ? PosixTargetFileSystem() : static_cast<TargetFileSystem&>(discard));
        session.SetDestination(dir.path().string());
        FatFileToSave file;
        file.target = (dir.path() / "big.bin").string();
        file.name = "big.bin";
        file.size = kFileBytes;
        file.firstCluster = 2;
        file.deleted = deleted;
        FileOutcome outcome = SaveFatFile(session, *device, volume, file, false);
        if (outcome != FileOutcome::Written) {
            state.SkipWithError("the save did not write the file completely");
            return;
        }
        total += kFileBytes;
        if (realFile) {
            state.PauseTiming();
            ::unlink(file.target.c_str());
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}

void SaveAlongChainDiscard(benchmark::State& s) { SaveBigFile(s, false, false); }
void SaveConsecutiveDiscard(benchmark::State& s) { SaveBigFile(s, true, false); }
void SaveAlongChainToFile(benchmark::State& s) { SaveBigFile(s, false, true); }

// The plain read of the same image, 512 KB at a time.
void PlainReadOfSaveImage(benchmark::State& state)
{
    DevicePtr device = OpenFileDevice(SaveImagePath());
    std::vector<unsigned char> scratch;
    std::uint64_t total = 0;
    for (auto _ : state)
        total += PlainSequentialRead(*device, kPlainReadBlock, scratch);
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
}

}  // namespace

BENCHMARK(PlainReadOfSaveImage)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PlainReadBaseline)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SaveAlongChainDiscard)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SaveConsecutiveDiscard)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SaveAlongChainToFile)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace torvane::bench
