// The partition discovery on removable media: every time a search dialog's
// drive tree is filled, each removable disk that lists no partition (a memory
// card formatted without a table, or whose table is gone) is probed once per
// cylinder, and at every 1 MiB boundary, for boot sectors (the cylinder depth
// of the partition search). What it finds goes under the disk in the drive
// tree, so the user can pick a partition at once.
//
// The job walks the disks one after the other. Per disk it reports the start,
// every partition recorded (in order) and the end with how many partitions the
// disk gained (a disk where nothing was found gains its whole-disk entry);
// then, unless told not to, it asks the result message of the disk and waits
// until it is answered, as the dialog shows one message per disk. Stop ends
// the probe at its next cylinder and the walk before the next disk; a stopped
// disk reports no end (the dialog's Stop shows what was found).
#pragma once

#include "base/job.h"
#include "partsearch/partition_search.h"
#include "partsearch/partition_search_tree.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

class RemovableMediaEvents : public JobEvents {
public:
    virtual void OnDiskStarted(const MediaScanDisk& /*disk*/) {}
    virtual void OnMediaPartitionFound(const MediaScanDisk& /*disk*/, const FoundPartitionEvent& /*found*/) {}
    // The disk's probe ran to its end; `found` counts the partitions it
    // recorded, plus the whole-disk entry when the disk shows none.
    virtual void OnDiskEnded(const MediaScanDisk& /*disk*/, int /*found*/) {}
};

struct RemovableMediaScanParams {
    std::vector<MediaScanDisk> disks;    // RemovableMediaDisks of the inventory
    bool askResults = true;              // ask each disk's result message (no scan log pending)
    // Opens a disk by its device path (default: the program's device registry).
    std::function<DevicePtr(const std::string& devicePath)> open;
};

// The question each disk ends with: its result message.
inline constexpr char kPartitionSearchResultQuestion[] = "partition-search-result";

class RemovableMediaScanJob : public Job {
public:
    explicit RemovableMediaScanJob(RemovableMediaScanParams params, RemovableMediaEvents* events = nullptr);
    ~RemovableMediaScanJob() override;

    const RemovableMediaScanParams& Params() const { return params_; }
    // Progress().done is the sector being probed on the current disk,
    // Progress().total that disk's sector count; CurrentDisk() its position in
    // the list (-1 before the first), CurrentCylinders() its cylinder count.
    int CurrentDisk() const { return current_.load(); }
    std::uint32_t CurrentCylinders() const { return cylinders_.load(); }

protected:
    void Run() override;

private:
    RemovableMediaScanParams params_;
    RemovableMediaEvents* mediaEvents_;
    std::atomic<int> current_{-1};
    std::atomic<std::uint32_t> cylinders_{0};
};

}  // namespace torvane
