// `torvane_e2e logical --logical-image IMG [--sweeps N] [--scan K [--fs TYPE] --out DIR]`:
// lists a volume image as the only logical drive (as `torvane --logical-image`
// does, in a Deep Search drive list), runs the Deep Search's sweep of that
// drive N times (default once) and prints what the dialog shows:
//
//   tree: Recognised1 - 16.00 MB - FAT16        the items under the drive, in order
//   list: Recognised1<TAB>FAT16<TAB>0<TAB>32768<TAB>16.00 MB
//                                               the visible cells of the "Found File
//                                               System" list of the drive, in order
//   result: Found 2 more partitions in selected Drive ( Drive - C: )
//                                               the message each sweep ends with
//
// With --scan K it then selects the item "RecognisedK", takes the sector range
// and type the selection shows (the type overridden by --fs), runs a Deep scan
// of that range of the drive, and saves everything it found under DIR:
//
//   scan: C: 32768 102400 FAT32 ( Drive - C: ) Recognised2 / FAT32 / 34.00 MB
//   files N folders N bytes N
#include "e2e_modes.h"
#include "e2e_scan_log.h"

#include "disk/drive_refresh.h"
#include "disk/drive_selection.h"
#include "disk/recognised_volumes.h"
#include "fsrecovery/search_session.h"
#include "partsearch/logical_drive_sweep.h"
#include "platform/device_registry.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace torvane {
namespace {

class SweepToInventory final : public LogicalSweepEvents {
public:
    SweepToInventory(DriveInventory& inv, TreeNodeId drive) : inv_(inv), drive_(drive) {}
    void OnRecognised(const RecognisedVolume& row, FoundBy /*by*/) override { AddRecognisedVolume(inv_, drive_, row); }

private:
    DriveInventory& inv_;
    TreeNodeId drive_;
};

int Usage()
{
    std::cerr << "usage: torvane_e2e logical --logical-image IMG [--sweeps N] [--scan K [--fs TYPE] --out DIR]\n";
    return 2;
}

}  // namespace

int RunLogicalMode(int argc, char** argv)
{
    std::string image, fs, out;
    int sweeps = 1, scan = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (arg == "--logical-image")
            image = value;
        else if (arg == "--sweeps")
            sweeps = std::atoi(value.c_str());
        else if (arg == "--scan")
            scan = std::atoi(value.c_str());
        else if (arg == "--fs")
            fs = value;
        else if (arg == "--out")
            out = value;
        else
            return Usage();
    }
    if (image.empty() || sweeps < 0 || scan < 0 || (scan > 0 && out.empty()))
        return Usage();

    // The image is the only drive: no disks of this machine, no mounts.
    DeviceRegistry& registry = DeviceRegistry::Instance();
    registry.SetSysfsRoot("");
    std::string error;
    if (registry.AddVolumeImage(image, &error) == 0) {
        std::cerr << "cannot list volume image " << image << ": " << error << "\n";
        return 1;
    }
    DriveInventory inv;
    inv.RecoveryMode = 2;
    DriveRefreshOptions options;
    options.WithLogicalDrives = true;
    options.RefreshRegistry = false;
    options.Logical.MountInfoPath = "/dev/null";
    options.Logical.UseStatvfs = false;
    BuildDriveInventory(inv, registry, options);
    const std::vector<TreeNodeId> drives = inv.Tree.Children(inv.LogicalDrivesItem);
    if (drives.empty()) {
        std::cerr << "the image is not listed as a logical drive\n";
        return 1;
    }
    const TreeNodeId drive = drives.front();

    for (int n = 0; n < sweeps; ++n) {
        LogicalSweepParams params = PrepareLogicalDriveSweep(inv, LogicalSweepDriveItem(inv, drive));
        SweepToInventory events(inv, drive);
        LogicalDriveSweepJob job(std::move(params), &events);
        if (!job.RunHere() || job.Failed()) {
            std::cerr << "the sweep failed: " << job.ErrorText() << "\n";
            return 1;
        }
        std::printf("result: %s\n", job.ResultText().c_str());
    }
    for (TreeNodeId item : inv.Tree.Children(drive))
        std::printf("tree: %s\n", inv.Tree.Text(item).c_str());
    if (const TreeNodeId first = inv.Tree.FirstChild(drive); first != kNoTreeNode) {
        DriveSelectionContext ctx;
        ctx.RecoveryMode = 2;
        const DriveSelection sel = PrepareDriveSelection(inv, first, ctx);
        if (sel.Recognised)
            for (const RecognisedVolume& row : sel.Recognised->DriveRows) {
                const std::vector<std::string> cells = row.FoundFsCells();
                std::string line;
                for (std::size_t c = 0; c < kFoundFsVisibleColumns; ++c)
                    line += (c ? "\t" : "") + cells[c];
                std::printf("list: %s\n", line.c_str());
            }
    }
    std::fflush(stdout);
    if (scan == 0)
        return 0;

    const TreeNodeId item = FindRecognisedItem(inv, drive, "Recognised" + std::to_string(scan));
    DriveSelectionContext ctx;
    ctx.RecoveryMode = 2;
    const DriveSelection sel = PrepareDriveSelection(inv, item, ctx);
    if (item == kNoTreeNode || !sel.Recognised || !sel.Recognised->Row) {
        std::cerr << "no item Recognised" << scan << " under the drive\n";
        return 1;
    }
    const std::string type = !fs.empty() ? fs : sel.FsComboName.value_or("");
    if (type != "FAT16" && type != "FAT32" && type != "exFAT" && type != "NTFS") {
        std::cerr << "Select file system type for recovery of selected drive.\n";
        return 2;
    }
    std::string description;
    CurrentPartition partition =
        PrepareRecognisedDeepScan(*sel.Recognised, sel.RangeStart, sel.RangeEnd, type, &description);
    std::printf("scan: %s %llu %llu %s %s\n", sel.Recognised->DriveText.c_str(),
                static_cast<unsigned long long>(partition.Descriptor.StartSector),
                static_cast<unsigned long long>(partition.Descriptor.EndSector), type.c_str(), description.c_str());
    std::fflush(stdout);
    SearchSession search(2);
    if (!search.RunDeepScanHere(partition) || !search.DeepJob() || search.DeepJob()->Failed()) {
        std::cerr << "the scan failed: " << (search.DeepJob() ? search.DeepJob()->ErrorText() : "") << "\n";
        return 1;
    }
    for (const DeepFoundFileSystem& f : search.FoundFileSystems())
        std::cerr << "found: " << f.kind << " key " << f.key << " boot sector " << f.bootSector << "\n";
    return e2e::SaveEverythingAndReport(search, out, ReplaceAnswer::RenameAll);
}

}  // namespace torvane
