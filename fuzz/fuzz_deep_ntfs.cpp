// The Deep NTFS path on fuzzed sectors: the input is a run of sectors swept
// as one chunk (FILE records and INDX blocks anywhere, a structure that runs
// past the chunk read from the device the input also forms), then the
// layout derived from what was found, and the results built from it. Each
// INDX block size is also tried directly on the input's start, so that torn
// and hostile index blocks meet the entry walk at every size.
//
// Input: the sectors, at most 256 KiB (a partial last sector is ignored by
// the sweep).
#include "fsrecovery/ntfs/deep_ntfs_assemble.h"
#include "fsrecovery/ntfs/deep_ntfs_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The input itself as the device (read in place: no copy per input).
class InputDevice final : public torvane::Device {
public:
    InputDevice(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= size_ || length == 0)
            return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        std::memcpy(buffer, data_ + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return size_; }
    const std::string& Path() const override { return path_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::string path_ = "fuzz";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    // 256 KiB: room for a $MFT head, its mirror and index blocks of every size.
    if (size > (1u << 18))
        return 0;
    auto device = std::make_shared<InputDevice>(data, size);
    const std::uint64_t sectors = size / 512;

    // The INDX walk on the input's first bytes at each size it may claim.
    for (std::size_t blockSize : {std::size_t(512), std::size_t(1024), std::size_t(4096)}) {
        if (size < blockSize)
            break;
        std::vector<std::uint8_t> block(data, data + blockSize);
        std::vector<DeepNtfsIndexEntry> entries;
        (void)ParseDeepIndexBlock(block.data(), block.size(), 0, entries);
    }

    DeepNtfsTable table;
    DeepNtfsSweep sweep(table, [&](std::uint64_t first, std::uint32_t count, std::uint8_t* out) {
        const std::size_t want = static_cast<std::size_t>(count) * 512;
        return device->ReadAt(first * 512, out, want) == static_cast<std::int64_t>(want);
    }, sectors);
    // In two pieces: structures cut by the first piece's end are read again.
    const std::size_t half = (sectors / 2) * 512;
    sweep.ExamineChunk(data, half, 0);
    sweep.ExamineChunk(data + half, size - half, half / 512);

    DeepNtfsLayout layout = DeriveDeepNtfsLayout(table, device.get(), sectors, {}, 0);
    ScanResults results;
    results.SetRecoveryMode(2);
    DeepNtfsAssembler assembler(results, table);
    assembler.SetMftTable(layout.mft);
    assembler.InterimPass();
    NtfsVolume volume;
    volume.device = device.get();
    volume.cluster0Sector = layout.cluster0;
    volume.sectorsPerCluster = layout.sectorsPerCluster;
    volume.endSector = sectors;
    assembler.Finish(volume, size, nullptr);
    return 0;
}
