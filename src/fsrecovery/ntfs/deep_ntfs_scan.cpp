#include "fsrecovery/ntfs/deep_ntfs_scan.h"

#include "fsrecovery/ntfs/ntfs_module.h"

#include <algorithm>
#include <vector>

namespace torvane {
namespace {

constexpr std::uint32_t kChunkSectors = 1024;

bool ReadWhole(Device& device, std::uint64_t first, std::uint32_t count, std::uint8_t* out)
{
    const std::size_t want = static_cast<std::size_t>(count) * kSectorSize;
    return device.ReadAt(first * kSectorSize, out, want) == static_cast<std::int64_t>(want);
}

}  // namespace

DeepNtfsScan::DeepNtfsScan(ScanResults& results) : results_(results), assembler_(results, table_) {}

void DeepNtfsScan::Begin(const CurrentPartition& partition, Device& device)
{
    device_ = &device;
    table_.Clear();
    const VolumeGeometry& g = partition.Geometry;
    known_ = DeepNtfsKnownGeometry{};
    if (g.SectorsPerCluster != 0 && (g.MftStart != 0 || g.MftMirrStart != 0)) {
        known_.fromBootSector = true;
        known_.cluster0 = g.Cluster0Start;
        known_.sectorsPerCluster = g.SectorsPerCluster;
        known_.mftStart = g.MftStart;
        known_.mftMirrStart = g.MftMirrStart;
    }
    firstExamined_ = known_.fromBootSector && g.MftStart != 0 ? g.MftStart : 0;
    const std::uint64_t end = partition.Descriptor.EndSector;
    sweep_.emplace(table_, [&device](std::uint64_t first, std::uint32_t count, std::uint8_t* out) {
        return ReadWhole(device, first, count, out);
    }, end);
    // With the boot sector's $MFT the records are numbered by their slots
    // from the start.
    if (known_.fromBootSector) {
        NtfsVolume volume;
        volume.device = &device;
        volume.cluster0Sector = known_.cluster0;
        volume.sectorsPerCluster = known_.sectorsPerCluster;
        volume.endSector = end;
        auto mft = std::make_shared<MftRunTable>(BuildMftRunTable(volume, known_.mftStart, known_.mftMirrStart));
        if (!mft->Empty())
            assembler_.SetMftTable(mft);
    }
    results_.EnsureRootItem();
}

void DeepNtfsScan::Chunk(std::uint64_t firstSector, const std::uint8_t* data, std::size_t sectorCount)
{
    if (!sweep_ || sectorCount == 0)
        return;
    if (firstSector + sectorCount <= firstExamined_)
        return;
    if (firstSector < firstExamined_) {
        const std::uint64_t skip = firstExamined_ - firstSector;
        data += skip * kSectorSize;
        sectorCount -= static_cast<std::size_t>(skip);
        firstSector = firstExamined_;
    }
    sweep_->ExamineChunk(data, sectorCount * kSectorSize, firstSector);
}

void DeepNtfsScan::TimedPass(const StopTest& stop) { assembler_.InterimPass(stop); }

std::shared_ptr<FileSystemVolume> DeepNtfsScan::Finish(CurrentPartition& partition, ScanSink* sink)
{
    const std::uint64_t end = partition.Descriptor.EndSector;
    layout_ = DeriveDeepNtfsLayout(table_, device_, end, known_, partition.Descriptor.StartSector);
    if (!layout_.mft->Empty())
        assembler_.SetMftTable(layout_.mft);

    VolumeGeometry& g = partition.Geometry;
    g.Cluster0Start = layout_.cluster0;
    g.SectorsPerCluster = layout_.sectorsPerCluster;
    if (!layout_.mft->Empty() && g.MftStart == 0)
        g.MftStart = layout_.mft->MftRecordToSector(0);
    partition.Descriptor.CopyGeometry(g, true);
    partition.Descriptor.FsName = "NTFS";
    results_.SetFsKind(FsKind::Ntfs);

    NtfsVolume volume;
    volume.device = device_;
    volume.cluster0Sector = layout_.cluster0;
    volume.sectorsPerCluster = layout_.sectorsPerCluster;
    volume.endSector = end;
    const std::uint64_t extent = end > partition.Descriptor.StartSector ? end - partition.Descriptor.StartSector : 0;
    assembler_.Finish(volume, extent * kSectorSize, sink);
    return MakeNtfsFileSystemVolume(partition, layout_.mft);
}

std::shared_ptr<FileSystemVolume> RunDeepNtfsScan(ScanResults& results, CurrentPartition& partition,
                                                  const DeepNtfsScanControl& control)
{
    DeepNtfsScan scan(results);
    if (!partition.Device)
        return nullptr;
    Device& device = *partition.Device;
    scan.Begin(partition, device);
    const std::uint64_t end = std::min<std::uint64_t>(partition.Descriptor.EndSector, device.SizeBytes() / kSectorSize);
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kChunkSectors) * kSectorSize);
    auto lastPass = std::chrono::steady_clock::now();
    for (std::uint64_t at = partition.Descriptor.StartSector; at < end; at += kChunkSectors) {
        if (control.stop && control.stop())
            break;
        const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, end - at));
        results.CurrentScanSector = at;
        if (ReadWhole(device, at, n, chunk.data())) {
            scan.Chunk(at, chunk.data(), n);
        } else {
            // Sector by sector: only what cannot be read is left out.
            for (std::uint32_t i = 0; i < n; ++i)
                if (ReadWhole(device, at + i, 1, chunk.data()))
                    scan.Chunk(at + i, chunk.data(), 1);
        }
        if (control.sink)
            control.sink->Progress(at + n);
        if (control.passInterval.count() > 0 &&
            std::chrono::steady_clock::now() - lastPass >= control.passInterval) {
            scan.TimedPass(control.stop);
            lastPass = std::chrono::steady_clock::now();
        }
    }
    return scan.Finish(partition, control.sink);
}

}  // namespace torvane
