// Device options of the command line.
//
//   --image PATH              list a disk image as a further physical disk
//   --removable-image PATH    the same, listed as removable media (a dump of a
//                             memory card, so the removable-media partition
//                             discovery runs on it)
//   --logical-image PATH      an image of one volume (a file system, not a
//                             disk), listed as a mounted logical drive, so the
//                             searches that start from a logical drive run on it
//   --image=PATH, --removable-image=PATH, --logical-image=PATH are accepted too;
//   "--" ends the options.
//
// Images named in TORVANE_DISK_IMAGES (colon-separated) are listed first, then
// those of the command line, in the order given; all come after the real disks.
#pragma once

#include "platform/device_registry.h"

#include <string>
#include <vector>

namespace torvane {

struct DeviceOptionsResult {
    // argv without the device options (argv[0] stays first), for the rest of
    // the start-up, e.g. the scan-log path.
    std::vector<std::string> remainingArgs;
    // One line per problem, for the user: an option without its path, an
    // image that cannot be opened.
    std::vector<std::string> errors;
};

// Applies the device options of argc/argv (and TORVANE_DISK_IMAGES when
// `readEnvironment` is set) to `registry`.
DeviceOptionsResult ApplyDeviceOptions(int argc, const char* const* argv,
                                       DeviceRegistry& registry = DeviceRegistry::Instance(),
                                       bool readEnvironment = true);

// True when the command line asks for the usage (--help or -h before "--").
bool WantsUsage(int argc, const char* const* argv);

// What `torvane --help` prints: the program's command line and its options.
std::string UsageText(const std::string& programName);

}  // namespace torvane
