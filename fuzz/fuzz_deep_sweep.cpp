// Feeds hostile sectors through the Deep Search over FAT16, FAT32 and exFAT:
// the sector classification (boot sectors, directory first clusters,
// continuation runs), the assignment of directories to the volumes found
// (pair checks, FAT-start searches, root walks), the lost-directory steps,
// the exFAT directory search, and a listing of every folder found.
//
// Input: byte 0 chooses the type (bits 0-1: FAT32, FAT16, exFAT, none),
// whether the range starts one sector in (bit 2) and the sectors per read of
// the sweep (bits 3-4: 64, 8, 200 or the program's own, so that structures
// are cut at chunk ends in many places); the rest is the device,
// whole 512-byte sectors (at most 256), laid out twice so that directories
// of one copy find the other's clusters.
#include "fsrecovery/search_session.h"
#include "platform/device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The input's sectors twice over, read in place: no copy of the device per
// input. A partial last sector reads as if padded with zeros.
class TwiceDevice final : public torvane::Device {
public:
    TwiceDevice(const std::uint8_t* data, std::size_t size)
        : data_(data), size_(size), copy_((size + 511) / 512 * 512)
    {
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= SizeBytes() || length == 0)
            return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, SizeBytes() - offset));
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>((offset + done) % copy_);
            const std::size_t piece = std::min(n - done, copy_ - at);
            const std::size_t real = at < size_ ? std::min(piece, size_ - at) : 0;
            if (real > 0)
                std::memcpy(out + done, data_ + at, real);
            std::memset(out + done + real, 0, piece - real);
            done += piece;
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t SizeBytes() const override { return 2 * std::uint64_t{copy_}; }
    const std::string& Path() const override { return path_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t copy_;
    std::string path_ = "fuzz";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    if (size < 1 + 512 || size > 1 + 256 * 512)
        return 0;
    const std::uint8_t mode = data[0];
    DevicePtr device = std::make_shared<TwiceDevice>(data + 1, size - 1);
    static const char* const kTypes[] = {"FAT32", "FAT16", "exFAT", ""};

    CurrentPartition p;
    p.Descriptor.FsType = kTypes[mode & 3];
    p.Descriptor.StartSector = (mode & 4) ? 1 : 0;
    p.Descriptor.EndSector = device->SizeBytes() / 512;
    p.Descriptor.EndByte = device->SizeBytes();
    p.DevicePath = "fuzz";
    p.RecoveryMode = 2;
    p.Device = device;

    SearchSession session(2);
    static const std::uint32_t kChunkSectors[] = {64, 8, 200, 0};
    session.SetDeepChunkSectors(kChunkSectors[(mode >> 3) & 3]);
    if (!session.RunDeepScanHere(p))
        return 0;
    TreeModel& tree = session.Results().Tree();
    int listed = 0;
    for (TreeNodeId n = tree.RootItem(); n != kNoTreeNode && listed < 16; n = tree.NextPreOrder(n, tree.RootItem()), ++listed)
        session.RunListingHere(n);
    return 0;
}
