// Feeds arbitrary directory clusters through the exFAT readers the scans use:
// the entry-set assembly, the breadth-first walk of the Basic scan (the sets
// found send it to other clusters), the lost-directory search with and
// without a boot sector (the sweep, the geometry derivation), the folder
// listing and the file reader.
//
// Input: the raw bytes of one folder, whole 4 KiB clusters (at most 4). A
// small exFAT volume is built around them: boot sector at 0, FAT at sector
// 24, heap at sector 32, 4 KiB clusters; the folder is the root, in clusters
// 2.. chained in order; the 4 clusters behind it repeat the folder's bytes,
// so that sets pointing there read fuzzed entries again.
//
// The volume is kept this small on purpose: every input runs the whole
// search twice, and a larger heap only repeats the same bytes more often.
// File reads stop at 4 KiB: a longer read only adds zeros past the end of
// the volume (and fresh pages to clear, which made up most of the time).
#include "fsrecovery/exfat/exfat_file_reader.h"
#include "fsrecovery/exfat/exfat_folder_listing.h"
#include "fsrecovery/exfat/exfat_scan.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr std::size_t kClusterBytes = 4096;
constexpr std::size_t kMaxClusters = 4;
constexpr std::size_t kSpareClusters = 4;
constexpr std::size_t kFatSector = 24;
constexpr std::size_t kHeapSector = 32;

void Put32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(std::string& s, std::size_t at, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class NullSink final : public torvane::ExfatDataSink {
public:
    bool Write(const std::uint8_t*, std::size_t) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    const std::size_t clusters = (size + kClusterBytes - 1) / kClusterBytes;
    if (clusters == 0 || clusters > kMaxClusters)
        return 0;
    const std::size_t heapClusters = clusters + kSpareClusters;
    const std::size_t sectors = kHeapSector + heapClusters * (kClusterBytes / 512);
    std::string image(sectors * 512, '\0');
    std::string folder(reinterpret_cast<const char*>(data), size);
    folder.resize(clusters * kClusterBytes, '\0');

    // Boot sector.
    image.replace(3, 8, "EXFAT   ");
    Put64(image, 72, sectors);
    Put32(image, 80, kFatSector);
    Put32(image, 84, 8);
    Put32(image, 88, kHeapSector);
    Put32(image, 92, static_cast<std::uint32_t>(heapClusters));
    Put32(image, 96, 2);
    image[108] = 9;
    image[109] = 3;
    image[110] = 1;
    image[510] = static_cast<char>(0x55);
    image[511] = static_cast<char>(0xAA);
    // FAT: media cells, then the folder's chain 2 -> 3 -> ... -> end.
    const std::size_t fat = kFatSector * 512;
    Put32(image, fat, 0xFFFFFFF8u);
    Put32(image, fat + 4, 0xFFFFFFFFu);
    for (std::size_t c = 2; c < 2 + clusters; ++c)
        Put32(image, fat + 4 * c, c + 1 < 2 + clusters ? static_cast<std::uint32_t>(c + 1) : 0xFFFFFFFFu);
    // Heap: the folder, then its bytes again.
    const std::size_t heap = kHeapSector * 512;
    image.replace(heap, folder.size(), folder);
    for (std::size_t k = 0; k < kSpareClusters; ++k) {
        const std::size_t from = (k % clusters) * kClusterBytes;
        image.replace(heap + (clusters + k) * kClusterBytes, kClusterBytes, folder, from, kClusterBytes);
    }

    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1)
            std::fill(image.begin(), image.begin() + 24 * 512, '\0');   // no boot region
        DevicePtr device = MakeMemoryDevice("fuzz", image);
        CurrentPartition p;
        p.Descriptor.FsType = "exFAT";
        p.Descriptor.StartSector = 0;
        p.Descriptor.EndSector = sectors;
        p.Descriptor.EndByte = sectors * 512;
        p.Device = device;
        ExfatFileIndex index;
        ScanResults basic;
        ReadExfatVolume(basic, p, *device, &index);
        ScanResults deep;
        SearchExfatDirectories(deep, p, *device, &index);
        ExfatVolume volume = LoadExfatVolume(p, *device);
        for (ScanResults* r : {&basic, &deep}) {
            for (const auto& row : r->DirList().Rows())
                ListExfatFolderFiles(*r, row.self);
            for (const FoundEntry& e : std::as_const(*r).FoundEntries()) {
                ExfatFileRecord rec;
                if (!index.Find(e.ownId, rec))
                    continue;
                ExfatFileData file{rec.firstCluster, std::min<std::uint64_t>(e.size, 4u << 10), rec.validLength, true,
                                   rec.noFatChain};
                NullSink sink;
                ReadExfatFileData(volume, file, sink);
            }
        }
    }
    return 0;
}
