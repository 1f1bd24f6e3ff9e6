// Shared pieces of the partition-search tests: the fixture disks with their
// partition tables wiped (and, for some, boot sectors too), made by zeroing
// bytes over the unpacked images without copying them, and a Basic scan and
// save of one found partition through the core.
#pragma once

#include "../e2e/sha256.h"
#include "disk/partition_table.h"
#include "fsrecovery/basic_scan.h"
#include "fsrecovery/ntfs/ntfs_module.h"
#include "fsrecovery/search_session.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "partsearch/partition_search.h"
#include "results/save_job.h"
#include "support/fixtures.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace torvane::test {

// A device whose chosen byte ranges read as zeros.
class ZeroedRanges final : public Device {
public:
    explicit ZeroedRanges(DevicePtr inner) : inner_(std::move(inner)) {}
    void ZeroBytes(std::uint64_t offset, std::uint64_t length) { ranges_.push_back({offset, offset + length}); }
    void ZeroSectors(std::uint64_t sector, std::uint64_t count) { ZeroBytes(sector * kSectorSize, count * kSectorSize); }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        const std::int64_t got = inner_->ReadAt(offset, buffer, length);
        if (got <= 0)
            return got;
        const std::uint64_t end = offset + static_cast<std::uint64_t>(got);
        for (auto [a, b] : ranges_) {
            const std::uint64_t from = std::max(a, offset), to = std::min(b, end);
            if (from < to)
                std::memset(static_cast<char*>(buffer) + (from - offset), 0, static_cast<std::size_t>(to - from));
        }
        return got;
    }
    std::uint64_t SizeBytes() const override { return inner_->SizeBytes(); }
    const std::string& Path() const override { return inner_->Path(); }

private:
    DevicePtr inner_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

// A fixture disk whose partition table is gone: the MBR's four entries, every
// EBR's entries (mbr.img), or the protective entry, both GPT headers and both
// entry arrays (gpt.img). The file systems are left as they were written.
inline std::shared_ptr<ZeroedRanges> DiskWithoutTable(const std::string& image)
{
    DevicePtr file = OpenFileDevice(FixtureImage(image).string());
    if (!file)
        return nullptr;
    auto disk = std::make_shared<ZeroedRanges>(file);
    disk->ZeroBytes(446, 64);
    const Geometry g = LoadGeometry(image);
    for (int p = 5; p <= 8; ++p)
        if (auto ebr = GeometryNumber(g, "p" + std::to_string(p) + ".ebr"))
            disk->ZeroBytes(*ebr * kSectorSize + 446, 64);
    if (auto backup = GeometryNumber(g, "gpt.backup_lba")) {
        disk->ZeroSectors(1, 33);
        disk->ZeroSectors(*backup - 32, 33);
    }
    return disk;
}

// The first sector of partition `part` of `image` and its backup boot sector
// (FAT32: 6 sectors on; NTFS: the volume's last sector; exFAT: the boot region's 12 sectors).
inline void ZeroBootSectors(ZeroedRanges& disk, const std::string& image, int part)
{
    const Geometry g = LoadGeometry(image);
    const std::string p = "p" + std::to_string(part) + ".";
    const std::uint64_t start = GeometryNumber(g, p + "start").value_or(0);
    const std::string fs = g.count(p + "fs") ? g.at(p + "fs") : "";
    disk.ZeroSectors(start, 1);
    if (fs == "FAT32")
        disk.ZeroSectors(start + 6, 1);
    else if (fs == "NTFS")
        disk.ZeroSectors(start + GeometryNumber(g, p + "total_sectors").value_or(0), 1);
    else if (fs == "exFAT")
        disk.ZeroSectors(start, 24);
}

struct SavedFile {
    std::uint64_t size = 0;
    std::string sha;
};

struct ScanAndSaveResult {
    bool scanned = false;
    std::string error;
    std::map<std::string, SavedFile> files;   // "/Documents/Notes.txt" -> size and hash
};

inline void SaveTree(ScanResults& results, SaveRequest request, const std::filesystem::path& out, ScanAndSaveResult& r);

// Scans the partition a search found with a Basic scan of the core and saves
// everything under `out`. A volume whose boot sector is gone is read with the
// geometry the search recorded for it (NTFS found by its $MFTMirr record).
inline ScanAndSaveResult ScanAndSaveFound(DevicePtr device, const FoundPartitionEvent& found,
                                          const std::filesystem::path& out)
{
    ScanAndSaveResult r;
    CurrentPartition partition;
    partition.Descriptor.FsType = found.fsName;
    partition.Descriptor.StartSector = found.start;
    partition.Descriptor.EndSector = found.end;
    partition.Descriptor.EndByte = found.end * kSectorSize;
    partition.Descriptor.ItemStart = found.start;
    partition.DevicePath = device->Path();
    partition.RecoveryMode = 1;
    partition.Device = device;

    SearchSession session(1);
    ScanResults& results = session.Results();
    SaveRequest request;
    if (found.fsName == "NTFS" && found.by == FoundBy::MftMirr) {
        // No boot sector to read: the geometry the $MFTMirr record gave.
        partition.Geometry = found.geometry;
        partition.Descriptor.CopyGeometry(found.geometry, true);
        partition.Descriptor.FsName = "NTFS";
        results.SetFsName("NTFS");
        RunBasicNtfsScan(results, partition, {});
        auto volumes = std::make_shared<VolumeSet>();
        auto table = std::make_shared<MftRunTable>(BuildMftRunTable(
            NtfsVolumeOf(partition), partition.Geometry.MftStart, partition.Geometry.MftMirrStart));
        volumes->Add(MakeNtfsFileSystemVolume(partition, table));
        request.results = &results;
        request.volumes = volumes;
    } else {
        if (!session.RunScanHere(partition) || session.ScanJob()->Failed() || session.ScanJob()->GeometryFailed()) {
            r.error = "the scan failed: " + session.ScanJob()->ErrorText();
            return r;
        }
        request = session.TreeSaveRequest();
    }
    SaveTree(results, std::move(request), out, r);
    return r;
}

// Saves the whole results tree of `results` under `out` with `request` (its
// volumes) and lists what was written in `r.files`.
inline void SaveTree(ScanResults& results, SaveRequest request, const std::filesystem::path& out, ScanAndSaveResult& r)
{
    request.source = SaveSource::Tree;
    request.destination = out.string();
    TreeModel& tree = results.Tree();
    if (tree.RootItem() == kNoTreeNode) {
        r.error = "nothing found";
        return;
    }
    tree.SetSubtreeCheck(tree.RootItem(), CheckState::Checked);
    SaveJob save(request);
    if (!save.RunHere() || save.Failed()) {
        r.error = "the save failed: " + save.ErrorText();
        return;
    }
    r.scanned = true;
    if (!std::filesystem::exists(out))
        return;
    for (auto it = std::filesystem::recursive_directory_iterator(out); it != std::filesystem::recursive_directory_iterator();
         ++it) {
        if (!it->is_regular_file())
            continue;
        r.files["/" + std::filesystem::relative(it->path(), out).string()] =
            SavedFile{it->file_size(), Sha256OfFile(it->path().string())};
    }
}

}  // namespace torvane::test
