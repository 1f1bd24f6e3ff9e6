#include "disk/device_events.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifdef TORVANE_HAVE_UDEV
#include <libudev.h>
#endif

namespace torvane {
namespace fs = std::filesystem;

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

std::uint64_t ParseSize(const std::string& text) {
    if (text.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str()) return 0;
    return value;
}

}  // namespace

BlockSnapshot ReadBlockSnapshot(const std::string& sysfsRoot) {
    BlockSnapshot snapshot;
    if (sysfsRoot.empty()) return snapshot;
    std::error_code ec;
    const fs::path block = fs::path(sysfsRoot) / "block";
    fs::directory_iterator it(block, ec);
    if (ec) return snapshot;
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        BlockDeviceState state;
        state.Size = ParseSize(ReadFirstLine(entry.path() / "size"));
        state.DiskSeq = ReadFirstLine(entry.path() / "diskseq");
        snapshot.emplace(name, std::move(state));
    }
    return snapshot;
}

std::vector<DeviceEvent> DiffBlockSnapshots(const BlockSnapshot& before, const BlockSnapshot& after) {
    std::vector<DeviceEvent> events;
    for (const auto& [name, was] : before) {
        auto now = after.find(name);
        if (now == after.end()) {
            if (was.Size != 0) events.push_back({DeviceEventKind::Removal, name});
            continue;
        }
        if (was.Size != 0 && now->second.Size == 0) {
            events.push_back({DeviceEventKind::Removal, name});
        } else if (now->second.Size != 0 && (was.Size == 0 || was.Size != now->second.Size ||
                                             was.DiskSeq != now->second.DiskSeq)) {
            events.push_back({DeviceEventKind::Arrival, name});
        }
    }
    for (const auto& [name, now] : after)
        if (now.Size != 0 && before.find(name) == before.end()) events.push_back({DeviceEventKind::Arrival, name});
    return events;
}

SysBlockPoller::SysBlockPoller(std::string sysfsRoot, int intervalMs)
    : sysfsRoot_(std::move(sysfsRoot)), intervalMs_(intervalMs > 0 ? intervalMs : 2000),
      last_(ReadBlockSnapshot(sysfsRoot_)) {}

std::vector<DeviceEvent> SysBlockPoller::Poll() {
    BlockSnapshot now = ReadBlockSnapshot(sysfsRoot_);
    std::vector<DeviceEvent> events = DiffBlockSnapshots(last_, now);
    last_ = std::move(now);
    return events;
}

std::vector<DeviceEvent> ManualDeviceEventSource::Poll() {
    std::vector<DeviceEvent> out;
    out.swap(pending_);
    return out;
}

bool DeviceEventConcernsDrives(const DeviceEvent& event, const std::vector<std::string>& listedDiskNames) {
    if (event.Name.empty()) return true;
    if (event.Kind == DeviceEventKind::Removal) {
        for (const std::string& disk : listedDiskNames) {
            if (disk.empty() || event.Name.compare(0, disk.size(), disk) != 0) continue;
            // "sdb1" and "nvme0n1p2" are partitions of "sdb" and "nvme0n1"; "sdba" is another disk.
            const std::string rest = event.Name.substr(disk.size());
            if (rest.empty()) return true;
            const std::size_t digits = rest[0] == 'p' ? 1 : 0;
            if (rest.size() > digits && rest.find_first_not_of("0123456789", digits) == std::string::npos) return true;
        }
        return false;
    }
    for (const char* never : {"ram", "zram", "sr", "fd"}) {
        const std::string prefix = never;
        if (event.Name.compare(0, prefix.size(), prefix) == 0 && event.Name.size() > prefix.size() &&
            std::isdigit(static_cast<unsigned char>(event.Name[prefix.size()])))
            return false;
    }
    return true;
}

#ifdef TORVANE_HAVE_UDEV
namespace {

// A libudev monitor on the block subsystem. Source "udev" when udevd runs
// (events after its rules made the device nodes), else "kernel" (raw uevents).
class UdevMonitorSource : public DeviceEventSource {
public:
    static std::unique_ptr<UdevMonitorSource> Create() {
        udev* u = udev_new();
        if (u == nullptr) return nullptr;
        std::error_code ec;
        const bool udevRuns = fs::exists("/run/udev/control", ec);
        const char* source = udevRuns ? "udev" : "kernel";
        udev_monitor* m = udev_monitor_new_from_netlink(u, source);
        if (m == nullptr) {
            udev_unref(u);
            return nullptr;
        }
        if (udev_monitor_filter_add_match_subsystem_devtype(m, "block", nullptr) < 0 ||
            udev_monitor_enable_receiving(m) < 0) {
            udev_monitor_unref(m);
            udev_unref(u);
            return nullptr;
        }
        return std::unique_ptr<UdevMonitorSource>(new UdevMonitorSource(u, m, source));
    }
    ~UdevMonitorSource() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    int Fd() const override { return udev_monitor_get_fd(monitor_); }
    std::vector<DeviceEvent> Poll() override {
        std::vector<DeviceEvent> events;
        // The descriptor is non-blocking: receive until nothing waits. The
        // cap keeps a flood of events from holding the caller.
        for (int i = 0; i < 256; ++i) {
            udev_device* d = udev_monitor_receive_device(monitor_);
            if (d == nullptr) break;
            const char* action = udev_device_get_action(d);
            const char* name = udev_device_get_sysname(d);
            const std::string a = action != nullptr ? action : "";
            if (a == "add" || a == "change" || a == "online")
                events.push_back({DeviceEventKind::Arrival, name != nullptr ? name : ""});
            else if (a == "remove" || a == "offline")
                events.push_back({DeviceEventKind::Removal, name != nullptr ? name : ""});
            udev_device_unref(d);
        }
        return events;
    }
    std::string Describe() const override { return source_; }

private:
    UdevMonitorSource(udev* u, udev_monitor* m, std::string source) : udev_(u), monitor_(m), source_(std::move(source)) {}
    udev* udev_;
    udev_monitor* monitor_;
    std::string source_;
};

}  // namespace
#endif

std::unique_ptr<DeviceEventSource> MakeDeviceEventSource(const std::string& sysfsRoot) {
#ifdef TORVANE_HAVE_UDEV
    if (sysfsRoot == "/sys") {
        if (auto monitor = UdevMonitorSource::Create()) return monitor;
    }
#endif
    return std::make_unique<SysBlockPoller>(sysfsRoot);
}

}  // namespace torvane
