// Feeds hostile sectors through the Deep Search's sweep of a logical drive:
// a small drive made of the blocks (fuzz_disk_input.h, cut at 1024 sectors),
// swept once with no rows and once more with the rows of the first sweep plus
// rows whose cells are cut from the input (the geometry a row's cells give is
// read back by the known-file-system tests). Every row must lie on the drive,
// be numbered after the drive's rows, and never be recorded twice.
#include "fuzz_disk_input.h"
#include "disk/recognised_volumes.h"
#include "partsearch/logical_drive_sweep.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

class CutDrive final : public torvane::Device {
public:
    CutDrive(const std::uint8_t* data, std::size_t size) : disk_(data, size)
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

void CheckRows(const torvane::LogicalSweepOutcome& out, std::uint64_t sectors, std::size_t known)
{
    for (std::size_t i = 0; i < out.added.size(); ++i) {
        const torvane::RecognisedVolume& r = out.added[i];
        if (r.Start >= r.End || r.End > sectors) __builtin_trap();
        if (r.Name != "Recognised" + std::to_string(known + i + 1)) __builtin_trap();
        if (r.Cells().size() != torvane::kRecognisedColumnCount) __builtin_trap();
        (void)r.ScanGeometry();
        (void)r.TreeText();
        for (std::size_t j = 0; j < i; ++j)
            if (out.added[j].FsName == r.FsName && out.added[j].Start == r.Start && out.added[j].End == r.End)
                __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace torvane;
    auto drive = std::make_shared<CutDrive>(data, size);
    const std::uint64_t sectors = drive->SizeBytes() / kSectorSize;
    LogicalSweepParams params;
    params.device = drive;
    params.volumePath = "\\\\.\\E:";
    params.driveText = "E:";
    const LogicalSweepOutcome first = RunLogicalDriveSweep(params);
    CheckRows(first, sectors, 0);

    // Rows of this drive whose geometry cells are fuzzed text.
    params.knownRows = first.added;
    for (std::size_t off = 8; off + 64 <= size && params.knownRows.size() < 8; off += 509) {
        RecognisedVolume r;
        r.Key = RecognisedVolumeKey(params.volumePath);
        r.Name = "Recognised" + std::to_string(params.knownRows.size() + 1);
        r.FsName = (data[off] & 3) == 0 ? "NTFS" : (data[off] & 3) == 1 ? "FAT16" : (data[off] & 3) == 2 ? "FAT32" : "exFAT";
        r.Start = data[off + 1] * 7ull;
        r.End = r.Start + data[off + 2] * 11ull + 1;
        for (std::size_t c = 0; c < r.Geometry.size(); ++c)
            r.Geometry[c] = std::string(reinterpret_cast<const char*>(data + off + 3 + c * 7), 7);
        params.knownRows.push_back(r);
    }
    const LogicalSweepOutcome second = RunLogicalDriveSweep(params);
    CheckRows(second, sectors, params.knownRows.size());
    for (const RecognisedVolume& r : second.added)
        for (const RecognisedVolume& k : params.knownRows)
            if (k.FsName == r.FsName && k.Start == r.Start && k.End == r.End) __builtin_trap();
    return 0;
}
