// The Deep NTFS path on fuzzed sectors: the input is a run of sectors swept
// as one chunk (FILE records and INDX blocks anywhere, a structure that runs
// past the chunk read from the device the input also forms), then the
// layout derived from what was found, and the results built from it. Each
// INDX block size is also tried directly on the input's start, so that torn
// and hostile index blocks meet the entry walk at every size.
//
// Input: the sectors (a partial last sector is ignored by the sweep).
#include "fsrecovery/ntfs/deep_ntfs_assemble.h"
#include "fsrecovery/ntfs/deep_ntfs_sweep.h"
#include "fsrecovery/ntfs/deep_ntfs_table.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    if (size > (1u << 20))
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    DevicePtr device = MakeMemoryDevice("fuzz", bytes);
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
