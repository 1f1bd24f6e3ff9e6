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

}  // namespace torvane
