// Feeds one 1024-byte FILE record through every NTFS record reader: the
// update-sequence fixup, the attribute walk, the names of every namespace,
// the sizes, the data runs and the attribute list, then the $MFT run table,
// the Basic sweep over it and the file reader as the scan and the savers use
// them. The record is
// record 0 of a small volume made of the whole input, so the runs, the
// attribute list and extension records it names land on fuzzed bytes.
//
// Input: bytes 0-1023 the record (zero-padded), byte 1024 the sectors per
// cluster (as a power of two), the rest the volume after the record.
#include "fsrecovery/ntfs/mft_run_table.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_attribute_list.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "fsrecovery/ntfs/ntfs_standard_info.h"
#include "platform/device.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class CountingSink final : public torvane::NtfsDataSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override
    {
        for (std::size_t i = 0; i < size; i += 4096)
            sum_ += data[i];
        return true;
    }
    std::uint64_t sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    std::vector<std::uint8_t> record(kMftRecordSize, 0);
    std::copy_n(data, std::min(size, record.size()), record.begin());

    const std::uint32_t spc = 1u << ((size > 1024 ? data[1024] : 3) % 8);
    std::string volumeBytes(reinterpret_cast<const char*>(data), size);
    volumeBytes.resize(std::max<std::size_t>(volumeBytes.size(), 4096), '\0');
    DevicePtr device = MakeMemoryDevice("fuzz", volumeBytes);
    NtfsVolume volume;
    volume.device = device.get();
    volume.sectorsPerCluster = spc;

    (void)ApplyUpdateSequenceFixup(record.data(), record.size());
    NtfsBytes view(record.data(), record.size());

    NtfsRecordHeader header;
    (void)ReadNtfsRecordHeader(view, header);
    NtfsAttributeCursor cursor(view);
    NtfsAttribute attr;
    while (cursor.Next(attr)) {
        (void)attr.Name(view);
        if (attr.nonResident) {
            RunList runs = DecodeRunList(view, attr);
            (void)runs.TotalClusters();
        } else if (attr.type == kNtfsAttrAttributeList) {
            std::vector<NtfsAttributeListEntry> entries;
            (void)ParseAttributeList(attr.Value(view), entries);
        }
        if (attr.type == kNtfsAttrAttributeList) {
            std::vector<std::uint8_t> value;
            (void)ReadAttributeListValue(volume, view, attr, value);
        }
    }
    for (std::uint8_t ns : kNtfsNamespaceOrder) {
        if (auto fn = GetNtfsFileName(view, ns)) {
            (void)CleanNtfsFileName(fn->name);
            (void)CleanNtfsFileName(std::string(fn->name));
        }
    }
    std::string name;
    if (auto fn = FindNtfsFileName(view)) {
        name = fn->name;
        (void)SectorsPerClusterFromMftMirr(fn->dataSize, spc);
    }
    std::uint32_t offset = 0;
    (void)FindUnnamedDataAttribute(view, offset);
    const std::uint64_t dataSize = GetNtfsDataSize(view, name).value_or(0);
    (void)GetNtfsStandardInformation(view);

    // The record as record 0 of a $MFT at sector 0 of the volume.
    MftRunTable table = BuildMftRunTable(volume, 0, 2);
    for (std::uint64_t r = 0; r < 4; ++r)
        (void)table.MftRecordToSector(r);
    (void)table.SectorToMftRecord(2);

    // The Basic sweep over that table, when it is small enough to read at once.
    std::uint64_t tableSectors = 0;
    for (const MftExtent& e : table.Extents())
        tableSectors += e.sectors;
    if (tableSectors <= 64) {
        ScanResults results;
        results.SetRecoveryMode(1);
        results.EnsureRootItem();
        MftSweepControl control;
        control.interimInterval = std::chrono::milliseconds(0);
        SweepMftRecords(results, volume, table, control);
    }

    CountingSink sink;
    (void)ReadNtfsFileData(volume, view, std::min<std::uint64_t>(dataSize, 1u << 20), sink, {}, &table);
    return 0;
}
