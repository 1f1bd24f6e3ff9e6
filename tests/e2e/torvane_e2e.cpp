// torvane_e2e: runs a search of a disk image through the same core the
// program uses and saves everything it finds under a destination folder.
//
//   torvane_e2e basic|deep|photo|signature --image IMG [--partition N]
//               [--range FIRST:LAST] --out DIR [--on-conflict rename|overwrite|skip]
//               [--log FILE]
//   torvane_e2e deep --image IMG [--range FIRST:LAST] [--fs FAT16|FAT32|exFAT|NTFS] --out DIR [--log FILE]
//   torvane_e2e load --log FILE [--image IMG] --out DIR
//   torvane_e2e logical --logical-image IMG [--sweeps N] [--scan K [--fs TYPE] --out DIR]
//
// "logical" sweeps a volume image listed as a logical drive for the file
// systems inside it and Deep-scans one of them (e2e_logical.cpp).
//
// --log FILE also writes the scan log of the scan; "load" saves everything a
// scan log holds (e2e_scan_log.h).
//
// "deep" sweeps sectors FIRST..LAST (both included; default the whole image)
// for the type given (default: FAT, which finds FAT16 and FAT32 volumes).
//
// --partition N numbers partitions as the partitioning tools do: MBR
// primaries 1-4, logical drives from 5 in chain order, GPT entries from 1.
// Without it the image is one volume.
//
// Prints one line "files N folders N bytes N" (files created, folders
// created or passed, bytes written) on standard output, and every file that
// could not be saved exactly, with the reason, on standard error.
// Exit code: 0 when the scan and the save ran, 1 on an error, 2 on bad usage.
#include "e2e_modes.h"
#include "e2e_scan_log.h"

#include "disk/partition_table.h"
#include "disk/sector_bytes.h"
#include "fsrecovery/search_session.h"
#include "e2e_partitions.h"
#include "results/save_destination.h"
#include "results/save_job.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

namespace torvane {
namespace {

struct Options {
    std::string mode;
    std::string image;
    int partition = 0;
    std::string out;
    std::string range;
    ReplaceAnswer onConflict = ReplaceAnswer::RenameAll;
    std::string log;
    std::string fs;
};

int Usage()
{
    std::cerr << "usage: torvane_e2e basic --image IMG [--partition N] --out DIR "
                 "[--on-conflict rename|overwrite|skip] [--log FILE]\n"
                 "       torvane_e2e deep --image IMG [--range FIRST:LAST] [--fs FAT16|FAT32|exFAT|NTFS] --out DIR "
                 "[--log FILE]\n"
                 "       torvane_e2e load --log FILE [--image IMG] --out DIR\n";
    return 2;
}

struct Extent {
    std::uint64_t start = 0, end = 0;
};

std::uint32_t Le32(const SectorBytes& s, std::size_t off) { return s.U32(off); }

// The extent of partition `n` (numbered as the tools number it).
std::optional<Extent> FindPartition(Device& disk, int n)
{
    SectorBytes mbr;
    if (!ReadOneSector(disk, 0, mbr) || !mbr.HasSignature())
        return std::nullopt;
    bool gpt = false;
    for (int i = 0; i < 4; ++i)
        gpt = gpt || mbr.U8(446 + 16 * i + 4) == 0xEE;
    if (gpt) {
        SectorBytes header;
        if (!ReadOneSector(disk, 1, header) || !header.Has(0, "EFI PART"))
            return std::nullopt;
        std::uint64_t arrayLba = header.U64(72);
        std::uint32_t count = header.U32(80), size = header.U32(84);
        if (n < 1 || static_cast<std::uint32_t>(n) > count || size < 128 || size > 4096)
            return std::nullopt;
        std::uint64_t byte = arrayLba * 512 + static_cast<std::uint64_t>(n - 1) * size;
        SectorBytes entry;
        if (!ReadOneSector(disk, byte / 512, entry))
            return std::nullopt;
        std::size_t off = byte % 512;
        std::uint64_t first = entry.U64(off + 32), last = entry.U64(off + 40);
        if (first == 0 || last < first)
            return std::nullopt;
        return Extent{first, last + 1};
    }
    if (n >= 1 && n <= 4) {
        std::size_t off = 446 + 16 * (n - 1);
        std::uint64_t start = Le32(mbr, off + 8), size = Le32(mbr, off + 12);
        if (size == 0)
            return std::nullopt;
        return Extent{start, start + size};
    }
    // Logical drives: along the EBR chain of the extended partition.
    std::uint64_t extended = 0;
    for (int i = 0; i < 4 && extended == 0; ++i) {
        std::uint8_t type = mbr.U8(446 + 16 * i + 4);
        if (type == 0x05 || type == 0x0F || type == 0x85)
            extended = Le32(mbr, 446 + 16 * i + 8);
    }
    if (extended == 0)
        return std::nullopt;
    std::uint64_t ebr = extended;
    for (int k = 5; k <= 64; ++k) {
        SectorBytes s;
        if (!ReadOneSector(disk, ebr, s) || !s.HasSignature())
            return std::nullopt;
        if (k == n) {
            std::uint64_t start = ebr + Le32(s, 446 + 8), size = Le32(s, 446 + 12);
            return Extent{start, start + size};
        }
        std::uint64_t next = Le32(s, 446 + 16 + 8);
        if (next == 0)
            return std::nullopt;
        ebr = extended + next;
    }
    return std::nullopt;
}

class E2eEvents final : public JobEvents {
public:
    explicit E2eEvents(ReplaceAnswer onConflict) : onConflict_(onConflict) {}
    void OnStatusText(const std::string& text) override { std::cerr << "status: " << text << "\n"; }
    void OnError(const std::string& what) override { std::cerr << "error: " << what << "\n"; }
    void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override
    {
        if (q.kind == "replace")
            reply(static_cast<int>(onConflict_));
        else if (q.kind == "too-long-path")
            reply(static_cast<int>(TooLongChoice::Move) | kApplyToAllBit);
        else {
            std::cerr << "message: " << q.text << "\n";
            reply(0);
        }
    }

private:
    ReplaceAnswer onConflict_;
};

const char* OutcomeText(FileOutcome o)
{
    switch (o) {
    case FileOutcome::Written: return "written";
    case FileOutcome::Unreadable: return "unreadable-sectors";
    case FileOutcome::Incomplete: return "incomplete";
    case FileOutcome::Skipped: return "skipped";
    case FileOutcome::GivenUp: return "given-up";
    case FileOutcome::Failed: return "failed";
    case FileOutcome::NotSaved: return "not-saved";
    }
    return "?";
}

int RunBasic(const Options& options)
{
    std::string error;
    DevicePtr device = OpenFileDevice(options.image, &error);
    if (!device) {
        std::cerr << "cannot open " << options.image << ": " << error << "\n";
        return 1;
    }
    const std::uint64_t diskSectors = device->SizeBytes() / kSectorSize;
    Extent extent{0, diskSectors};
    if (options.partition != 0) {
        auto found = FindPartition(*device, options.partition);
        if (!found || found->end > diskSectors) {
            std::cerr << "no partition " << options.partition << " on " << options.image << "\n";
            return 1;
        }
        extent = *found;
    }
    SectorBytes boot;
    ReadOneSector(*device, extent.start, boot);
    std::string fsName = RecognizeBootSector(boot, false);
    if (fsName.empty()) {
        PartitionWalk walk = WalkPartitionTable(*device, diskSectors);
        for (const auto& p : walk.Partitions)
            if (p.StartSector == extent.start)
                fsName = p.FsName;
    }
    if (fsName.empty()) {
        std::cerr << "no file system recognised at sector " << extent.start << "\n";
        return 1;
    }

    CurrentPartition partition;
    if (!options.log.empty() && !e2e::UseImageAsOnlyDisk(options.image, partition))
        return 1;
    if (partition.Device)
        device = partition.Device;
    partition.Descriptor.FsType = fsName;
    partition.Descriptor.StartSector = extent.start;
    partition.Descriptor.EndSector = extent.end;
    partition.Descriptor.EndByte = extent.end * kSectorSize;
    if (partition.DevicePath.empty())
        partition.DevicePath = options.image;
    partition.Descriptor.ItemStart = extent.start;
    partition.Descriptor.ItemEnd = extent.end;
    partition.Descriptor.ModeText = "Basic Search";
    partition.Descriptor.PartitionNumber = static_cast<std::uint32_t>(options.partition > 0 ? options.partition - 1 : 0);
    partition.SelectedSourceKind = options.partition != 0 ? "part" : "Hard Disk";
    partition.RecoveryMode = 1;
    partition.Device = device;

    SearchSession search(1);
    if (!search.RunScanHere(partition) || !search.ScanJob() || search.ScanJob()->Failed()) {
        std::cerr << "the scan failed: " << (search.ScanJob() ? search.ScanJob()->ErrorText() : "") << "\n";
        return 1;
    }
    if (search.ScanJob()->GeometryFailed()) {
        std::cerr << "the volume's geometry could not be found: " << search.ScanJob()->GeometryFailureText() << "\n";
        return 1;
    }
    if (const std::string unreadable = search.UnreadableFoldersText(); !unreadable.empty())
        std::cerr << unreadable << "\n";
    if (!options.log.empty() && !e2e::WriteScanLogOf(search, options.log, options.image))
        return 1;
    return e2e::SaveEverythingAndReport(search, options.out, options.onConflict);
}

int RunDeep(const Options& options)
{
    std::string error;
    DevicePtr device = OpenFileDevice(options.image, &error);
    if (!device) {
        std::cerr << "cannot open " << options.image << ": " << error << "\n";
        return 1;
    }
    const std::uint64_t diskSectors = device->SizeBytes() / kSectorSize;
    std::uint64_t first = 0, last = diskSectors ? diskSectors - 1 : 0;
    if (!options.range.empty()) {
        unsigned long long a = 0, b = 0;
        char tail = 0;
        if (std::sscanf(options.range.c_str(), "%llu:%llu%c", &a, &b, &tail) != 2 || b < a) {
            std::cerr << "bad range " << options.range << " (FIRST:LAST)\n";
            return 2;
        }
        first = a;
        last = b;
    }
    const std::string fs = options.fs;
    if (!fs.empty() && fs != "FAT16" && fs != "FAT32" && fs != "exFAT" && fs != "NTFS") {
        std::cerr << "unknown file-system type " << fs << "\n";
        return 2;
    }
    CurrentPartition partition;
    // A logged scan reads the image as the registry's only disk (the log names it).
    if (!options.log.empty() && !e2e::UseImageAsOnlyDisk(options.image, partition))
        return 1;
    if (partition.Device)
        device = partition.Device;
    partition.Descriptor.FsType = fs;
    partition.Descriptor.StartSector = first;
    partition.Descriptor.EndSector = last + 1;
    partition.Descriptor.EndByte = (last + 1) * kSectorSize;
    partition.Descriptor.ItemStart = first;
    partition.Descriptor.ItemEnd = last + 1;
    partition.Descriptor.ModeText = "Deep Search";
    if (partition.DevicePath.empty())
        partition.DevicePath = options.image;
    partition.SelectedSourceKind = "Hard Disk";
    partition.RecoveryMode = 2;
    partition.CurrentDiskSectorCount = diskSectors;
    partition.Device = device;

    SearchSession search(2);
    if (!search.RunDeepScanHere(partition) || !search.DeepJob() || search.DeepJob()->Failed()) {
        std::cerr << "the scan failed: " << (search.DeepJob() ? search.DeepJob()->ErrorText() : "") << "\n";
        return 1;
    }
    for (const DeepFoundFileSystem& f : search.FoundFileSystems())
        std::cerr << "found: " << f.kind << " key " << f.key << " boot sector " << f.bootSector << "\n";
    if (search.DeepJob()->UnreadableSectors() != 0)
        std::cerr << "unreadable sectors: " << search.DeepJob()->UnreadableSectors() << "\n";
    if (const std::string unreadable = search.UnreadableFoldersText(); !unreadable.empty())
        std::cerr << unreadable << "\n";
    if (!options.log.empty() && !e2e::WriteScanLogOf(search, options.log, options.image))
        return 1;
    return e2e::SaveEverythingAndReport(search, options.out, options.onConflict);
}

}  // namespace

int e2e::SaveEverythingAndReport(SearchSession& search, const std::string& out, ReplaceAnswer onConflict)
{
    TreeModel& tree = search.Results().Tree();
    const TreeNodeId root = tree.RootItem();
    SaveRequest request = search.TreeSaveRequest();
    request.destination = out;

    std::uint64_t files = 0, folders = 0, bytes = 0;
    if (root != kNoTreeNode) {
        tree.SetSubtreeCheck(root, CheckState::Checked);
        E2eEvents events(onConflict);
        SaveJob save(request, &events);
        if (!save.RunHere() || save.Failed()) {
            std::cerr << "the save failed: " << save.ErrorText() << "\n";
            return 1;
        }
        SaveSession& session = save.Session();
        const SaveReport& report = session.Report();
        files = report.Count(FileOutcome::Written) + report.Count(FileOutcome::Unreadable) +
                report.Count(FileOutcome::Incomplete);
        folders = session.Counters().foldersSaved.load();
        bytes = session.Counters().bytesWritten.load();
        for (const SaveProblem& p : report.Problems())
            std::cerr << OutcomeText(p.outcome) << "\t" << p.path << "\t" << p.detail << "\n";
    }
    std::printf("files %llu folders %llu bytes %llu\n", static_cast<unsigned long long>(files),
                static_cast<unsigned long long>(folders), static_cast<unsigned long long>(bytes));
    return 0;
}

}  // namespace torvane

int main(int argc, char** argv)
{
    if (argc > 1 && (std::string(argv[1]) == "photo" || std::string(argv[1]) == "signature"))
        return torvane::RunCarvingMode(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "partitions")
        return RunPartitionsMode(argc, argv);
    if (argc >= 2 && std::string(argv[1]) == "logical")
        return torvane::RunLogicalMode(argc, argv);
    using namespace torvane;
    if (argc >= 2 && std::string(argv[1]) == "load")
        return e2e::RunLoad(argc, argv);
    Options options;
    if (argc < 2)
        return Usage();
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--image")
            options.image = value();
        else if (arg == "--partition")
            options.partition = std::atoi(value().c_str());
        else if (arg == "--out")
            options.out = value();
        else if (arg == "--log")
            options.log = value();
        else if (arg == "--range")
            options.range = value();   // the sector range of the sweeping modes; a Basic scan reads the volume
        else if (arg == "--fs")
            options.fs = value();
        else if (arg == "--on-conflict") {
            std::string v = value();
            if (v == "rename")
                options.onConflict = ReplaceAnswer::RenameAll;
            else if (v == "overwrite")
                options.onConflict = ReplaceAnswer::OverwriteAll;
            else if (v == "skip")
                options.onConflict = ReplaceAnswer::SkipAll;
            else
                return Usage();
        } else
            return Usage();
    }
    if (options.image.empty() || options.out.empty())
        return Usage();
    if (options.mode == "basic")
        return RunBasic(options);
    if (options.mode == "deep")
        return RunDeep(options);
    std::cerr << "mode " << options.mode << " is not available yet\n";
    return 2;
}
