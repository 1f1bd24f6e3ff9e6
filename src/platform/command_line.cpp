#include "platform/command_line.h"

namespace torvane {

DeviceOptionsResult ApplyDeviceOptions(int argc, const char* const* argv, DeviceRegistry& registry, bool readEnvironment)
{
    DeviceOptionsResult result;
    if (readEnvironment)
        result.errors = registry.AddImagesFromEnvironment();

    auto add = [&](const std::string& path, bool removable) {
        std::string error;
        if (registry.AddImage(path, removable, &error) < 0)
            result.errors.push_back("cannot list disk image " + path + ": " + error);
    };

    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (i == 0 || optionsEnded) {
            result.remainingArgs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // --logical-image PATH: an image of one volume, listed as a logical drive.
        if (arg == "--logical-image" || arg.rfind("--logical-image=", 0) == 0) {
            std::string path;
            if (arg == "--logical-image") {
                if (i + 1 < argc && argv[i + 1])
                    path = argv[++i];
            } else {
                path = arg.substr(std::string("--logical-image=").size());
            }
            std::string error;
            if (path.empty())
                result.errors.push_back("--logical-image needs a path");
            else if (registry.AddVolumeImage(path, &error) == 0)
                result.errors.push_back("cannot list volume image " + path + ": " + error);
            continue;
        }
        bool matched = false;
        for (const auto& [name, removable] : {std::pair<std::string, bool>{"--image", false},
                                              std::pair<std::string, bool>{"--removable-image", true}}) {
            if (arg == name) {
                matched = true;
                if (i + 1 < argc && argv[i + 1]) {
                    add(argv[++i], removable);
                } else {
                    result.errors.push_back(name + " needs a path");
                }
                break;
            }
            if (arg.compare(0, name.size() + 1, name + "=") == 0) {
                matched = true;
                std::string path = arg.substr(name.size() + 1);
                if (path.empty())
                    result.errors.push_back(name + " needs a path");
                else
                    add(path, removable);
                break;
            }
        }
        if (!matched)
            result.remainingArgs.push_back(arg);
    }
    return result;
}

bool WantsUsage(int argc, const char* const* argv)
{
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

std::string UsageText(const std::string& programName)
{
    const std::string name = programName.empty() ? std::string("torvane") : programName;
    return "Usage: " + name + " [OPTION]... [SCAN_LOG]\n"
           "Finds deleted and lost files and folders on disks, partitions, memory cards\n"
           "and disk images, and copies them to a folder of your choice. Devices are only\n"
           "ever read.\n"
           "\n"
           "  SCAN_LOG                  a scan log (.VQL) saved before: opens its results\n"
           "  --image PATH              list a disk image as a further physical disk\n"
           "  --removable-image PATH    list a disk image as removable media (a dump of a\n"
           "                            memory card)\n"
           "  -h, --help                show this text and exit\n"
           "\n"
           "--image=PATH and --removable-image=PATH are accepted too; \"--\" ends the options.\n"
           "Images named in the environment variable TORVANE_DISK_IMAGES (separated by\n"
           "colons) are listed as well. Reading disks needs root or membership of the\n"
           "\"disk\" group.\n";
}

}  // namespace torvane
