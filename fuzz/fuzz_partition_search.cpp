// Feeds hostile sectors through the partition search: the boot-record
// recogniser and readers (and the whole-volume test of a disk that lists no
// partition), the sweeps' candidate rules and the evidence tests
// of lost file systems on every block, then the Standard, Advanced and
// cylinder depths over a small disk made of the blocks (fuzz_disk_input.h;
// the disk is cut at 1024 sectors so that a run stays short).
#include "disk/boot_record.h"
#include "fuzz_disk_input.h"
#include "partsearch/boot_candidate.h"
#include "partsearch/lost_fs_evidence.h"
#include "partsearch/partition_search.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

class CutDisk final : public torvane::Device {
public:
    CutDisk(const std::uint8_t* data, std::size_t size) : disk_(data, size)
    {
        sectors_ = std::min<std::uint64_t>(disk_.Sectors(), 1024);
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (offset >= SizeBytes())
            return 0;
        return disk_.ReadAt(offset, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, SizeBytes() - offset)));
    }
    std::uint64_t SizeBytes() const override { return sectors_ * torvane::kSectorSize; }
    const std::string& Path() const override { return disk_.Path(); }

private:
    torvane::fuzz::RepeatingDisk disk_;
    std::uint64_t sectors_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    // Every block on its own, and cut short.
    for (std::size_t off = 8; off < size; off += kSectorSize) {
        const ByteView sector(data + off, std::min<std::size_t>(kSectorSize, size - off));
        for (BootMarks marks : {BootMarks::TypeNames, BootMarks::SweepMarks})
            (void)RecognizeBootRecord(sector, marks);
        (void)ReadFatBootRecord(sector);
        (void)ReadExfatBootRecord(sector);
        (void)ReadNtfsBootRecord(sector);
        // What a disk that lists no partition is scanned as from this sector.
        const FsKind volume = RecognizeVolumeBootRecord(sector);
        if (volume != FsKind::Unknown && RecognizeBootRecord(sector, BootMarks::TypeNames) != volume) __builtin_trap();
        if (const auto c = MatchSweepBootSector(sector, off / kSectorSize)) {
            if (c->size == 0) __builtin_trap();
            DiskPartitionEntry table;
            table.Append(std::string(FsKindText(c->kind)), c->start, c->End(), kNoTreeItem);
            (void)IsKnownToAdvancedSweep(table, 26, *c, 0, sector.U64(0), sector.U64(8));
            (void)IsKnownToStandardSweep(table, 26, *c, sector.U64(16));
        }
        std::string kind;
        (void)TestExfatEntrySet(sector, &kind);
        (void)IsMftMirrRecordSector(sector);
        (void)IsFatDirectoryStartSector(sector);
        (void)IsFat32TableStartSector(sector);
        (void)RebuildFromFolderPair(sector.U64(0), sector.U32(8), sector.U64(12), sector.U32(20), sector.U64(24),
                                    sector.U32(32), FsKind::Fat16);
        (void)RebuildFromTablePair(sector.U64(40), sector.U64(48), sector.U8(56), sector.U64(64));
    }
    // The depths over the disk.
    auto disk = std::make_shared<CutDisk>(data, size);
    for (SmpMode depth : {SmpMode::Standard, SmpMode::Advanced, SmpMode::Cylinder}) {
        PartitionSearchParams params;
        params.device = disk;
        params.depth = depth;
        params.cylinders = 2;
        const PartitionSearchOutcome out = RunPartitionSearch(params, {});
        if (out.table.RecordCount > static_cast<std::uint32_t>(kMaxPartitionsPerDisk)) __builtin_trap();
        for (const auto& f : out.found)
            if (f.index < 0 || f.index >= kMaxPartitionsPerDisk || f.end < f.start) __builtin_trap();
    }
    return 0;
}
