// Device arrival and removal: disks and memory cards being plugged in or
// pulled out while the program runs.
//
// Where udev runs, a libudev monitor on the "block" subsystem reports the
// changes (after udev has made the device nodes). Where it does not (a
// container, a machine without udevd), the kernel's own uevents are read
// through the same library; and when that is not possible either, /sys/block
// is compared with its previous state every 2 seconds. A card put into a
// reader that is already present shows as a "change" of the reader (its size
// goes from 0 to the card's), so a change counts as an arrival.
//
// A source is polled by its owner: either when its descriptor becomes
// readable (Fd() >= 0) or every PollIntervalMs() milliseconds. Poll() never
// blocks.
#pragma once

#include "disk/drive_tree_rules.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

struct DeviceEvent {
    DeviceEventKind Kind = DeviceEventKind::Arrival;
    std::string Name;   // kernel name of the block device ("sdb", "sdb1"), when known
};

class DeviceEventSource {
public:
    virtual ~DeviceEventSource() = default;
    // A descriptor that becomes readable when events wait, or -1 (then poll
    // every PollIntervalMs()).
    virtual int Fd() const { return -1; }
    virtual int PollIntervalMs() const { return 2000; }
    // The events since the last call (empty when there are none).
    virtual std::vector<DeviceEvent> Poll() = 0;
    // "udev", "kernel" or "sysfs polling", for the log.
    virtual std::string Describe() const = 0;
};

// ---- /sys/block polling -------------------------------------------------------

// What identifies the state of one block device between two looks.
struct BlockDeviceState {
    std::uint64_t Size = 0;     // <dev>/size, in 512-byte units
    std::string DiskSeq;        // <dev>/diskseq (changes when the medium is replaced), may be empty
    bool operator==(const BlockDeviceState&) const = default;
};
using BlockSnapshot = std::map<std::string, BlockDeviceState>;

// Reads <sysfsRoot>/block/*: name, size and diskseq of every block device.
BlockSnapshot ReadBlockSnapshot(const std::string& sysfsRoot);

// The events between two snapshots: a new device with a size, a size that
// went from 0 to something, or a new diskseq are arrivals; a device that is
// gone, or whose size went to 0 (a card taken out of its reader), a removal.
std::vector<DeviceEvent> DiffBlockSnapshots(const BlockSnapshot& before, const BlockSnapshot& after);

class SysBlockPoller : public DeviceEventSource {
public:
    explicit SysBlockPoller(std::string sysfsRoot = "/sys", int intervalMs = 2000);
    int PollIntervalMs() const override { return intervalMs_; }
    std::vector<DeviceEvent> Poll() override;
    std::string Describe() const override { return "sysfs polling"; }

private:
    std::string sysfsRoot_;
    int intervalMs_;
    BlockSnapshot last_;
};

// ---- a source for tests ---------------------------------------------------------

// Events are handed in by the test (Push) and come out at the next Poll.
class ManualDeviceEventSource : public DeviceEventSource {
public:
    void Push(DeviceEventKind kind, std::string name = {}) { pending_.push_back({kind, std::move(name)}); }
    int PollIntervalMs() const override { return 50; }
    std::vector<DeviceEvent> Poll() override;
    std::string Describe() const override { return "manual"; }

private:
    std::vector<DeviceEvent> pending_;
};

// Whether an event can change what the drive tree lists. A removal matters
// when it names a listed disk (or one of its partitions: "sdb1" of "sdb"),
// or names nothing; an arrival unless it is a RAM disk, an optical drive or
// a floppy, which are never listed.
bool DeviceEventConcernsDrives(const DeviceEvent& event, const std::vector<std::string>& listedDiskNames);

// The best source this machine offers: a udev monitor (when the program was
// built with libudev and udevd runs), else a kernel-uevent monitor, else the
// /sys/block poller.
std::unique_ptr<DeviceEventSource> MakeDeviceEventSource(const std::string& sysfsRoot = "/sys");

}  // namespace torvane
