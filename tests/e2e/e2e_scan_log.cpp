#include "e2e_scan_log.h"

#include "fsrecovery/scan_log_jobs.h"
#include "fsrecovery/scan_log_source.h"
#include "platform/device_registry.h"
#include "results/scan_log_reader.h"

#include <iostream>

namespace torvane::e2e {

bool UseImageAsOnlyDisk(const std::string& image, CurrentPartition& partition)
{
    DeviceRegistry& registry = DeviceRegistry::Instance();
    registry.SetSysfsRoot("");
    std::string error;
    const int disk = registry.AddImage(image, false, &error);
    if (disk < 0) {
        std::cerr << "cannot list " << image << " as a disk: " << error << "\n";
        return false;
    }
    partition.DevicePath = PhysicalDrivePath(disk);
    partition.Device = registry.Open(partition.DevicePath, &error);
    if (!partition.Device) {
        std::cerr << "cannot open " << image << ": " << error << "\n";
        return false;
    }
    partition.Descriptor.DiskNumber = static_cast<std::uint16_t>(disk);
    return true;
}

bool WriteScanLogOf(SearchSession& session, const std::string& path, const std::string& description)
{
    ScanLogSaveRequest request;
    request.path = path;
    request.source = ScanLogSourceFactsOf(session.Partition(),
                                          ListScanLogDevices(DeviceRegistry::Instance()).diskIdentities, description);
    if (!session.RunSaveLogHere(request)) {
        std::cerr << "the scan log was not written: "
                  << (session.SaveLogJob() ? session.SaveLogJob()->Result().message : std::string("no results")) << "\n";
        return false;
    }
    return true;
}

int RunLoad(int argc, char** argv)
{
    std::string log, image, out;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return 2;
        if (arg == "--log")
            log = argv[++i];
        else if (arg == "--image")
            image = argv[++i];
        else if (arg == "--out")
            out = argv[++i];
        else
            return 2;
    }
    if (log.empty() || out.empty()) {
        std::cerr << "usage: torvane_e2e load --log FILE [--image IMG] --out DIR\n";
        return 2;
    }
    if (!image.empty()) {
        CurrentPartition unused;
        if (!UseImageAsOnlyDisk(image, unused))
            return 1;
    }
    // The dialog of the log's own search loads it.
    const ScanLogReadResult header = PeekScanLogHeaderFile(log);
    const int mode = header.loaded() && header.document.header.mode == kScanLogDeepMode ? 2 : 1;
    SearchSession session(mode);
    ScanLogLoadRequest request;
    request.path = log;
    const bool loaded = session.RunLoadLogHere(request);
    const ScanLogLoadJob* job = session.LoadLogJob();
    if (!loaded) {
        std::cerr << "the scan log was not loaded: " << (job ? job->Message() : std::string("refused")) << "\n";
        return 1;
    }
    for (const DeepFoundFileSystem& f : session.FoundFileSystems())
        std::cerr << "found: " << f.kind << " key " << f.key << " boot sector " << f.bootSector << "\n";
    const bool whole = job->Outcome() == ScanLogLoadOutcome::Loaded;
    if (!whole)
        std::cerr << "the scan log breaks off: " << job->Read().detail << "; saving what it holds\n";
    const int saved = SaveEverythingAndReport(session, out, ReplaceAnswer::RenameAll);
    return saved != 0 || !whole ? 1 : 0;
}

}  // namespace torvane::e2e
