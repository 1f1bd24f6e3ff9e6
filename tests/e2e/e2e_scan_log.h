// The scan-log modes of torvane_e2e:
//   torvane_e2e basic|deep --image IMG ... --log FILE
//                                                   also writes the scan's log
//   torvane_e2e load --log FILE [--image IMG] --out DIR
//                                                   loads a log and saves
//                                                   everything it holds
// A log names its disk by number and identity, so a scan that is logged
// reads its image as a disk of the device registry, with no other disk
// listed; `load --image IMG` lists the image the same way (without it the
// machine's own disks are searched for the log's source).
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/search_session.h"
#include "results/save_session.h"

#include <string>

namespace torvane::e2e {

// Lists `image` as the only disk and opens it into `partition` by its disk
// path. False (with the reason on standard error) when it cannot be listed.
bool UseImageAsOnlyDisk(const std::string& image, CurrentPartition& partition);

// Writes the log of the session's results to `path`; false (reason on
// standard error) when it could not be written.
bool WriteScanLogOf(SearchSession& session, const std::string& path, const std::string& description);

// Ticks the whole results tree, saves it under `out` and prints the summary
// line "files N folders N bytes N" (torvane_e2e.cpp). 0, or 1 on a failure.
int SaveEverythingAndReport(SearchSession& session, const std::string& out, ReplaceAnswer onConflict);

// The "load" mode: argv as main's. Exit code 0 when the log loaded whole and
// its files were saved, 1 on a failure (or a log that broke off: what it held
// is saved all the same), 2 on bad usage.
int RunLoad(int argc, char** argv);

}  // namespace torvane::e2e
