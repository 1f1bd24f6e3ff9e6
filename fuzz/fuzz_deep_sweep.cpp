// Feeds hostile sectors through the Deep Search over FAT16, FAT32 and exFAT:
// the sector classification (boot sectors, directory first clusters,
// continuation runs), the assignment of directories to the volumes found
// (pair checks, FAT-start searches, root walks), the lost-directory steps,
// the exFAT directory search, and a listing of every folder found.
//
// Input: byte 0 chooses the type (bits 0-1: FAT32, FAT16, exFAT, none) and
// whether the range starts one sector in (bit 2); the rest is the device,
// whole 512-byte sectors (at most 256), laid out twice so that directories
// of one copy find the other's clusters.
#include "fsrecovery/search_session.h"
#include "platform/device.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    if (size < 1 + 512 || size > 1 + 256 * 512)
        return 0;
    const std::uint8_t mode = data[0];
    std::string sectors(reinterpret_cast<const char*>(data + 1), size - 1);
    sectors.resize((sectors.size() + 511) / 512 * 512, '\0');
    DevicePtr device = MakeMemoryDevice("fuzz", sectors + sectors);
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
    if (!session.RunDeepScanHere(p))
        return 0;
    TreeModel& tree = session.Results().Tree();
    int listed = 0;
    for (TreeNodeId n = tree.RootItem(); n != kNoTreeNode && listed < 16; n = tree.NextPreOrder(n, tree.RootItem()), ++listed)
        session.RunListingHere(n);
    return 0;
}
