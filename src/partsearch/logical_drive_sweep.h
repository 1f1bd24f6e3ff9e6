// The Deep Search's sweep of a logical drive: "Search More Partitions" on a
// logical drive reads the whole drive through its own device, 512 sectors at a
// time, and looks inside it for file systems: their boot sectors (NTFS, FAT16,
// FAT32, exFAT), and, where a boot sector is gone, the traces the Advanced
// sweep also follows ($MFTMirr records, FAT folders and tables, exFAT entry
// sets). Each file system the drive's rows do not hold yet becomes one
// "Recognised" row (disk/recognised_volumes.h), numbered after the drive's
// rows; sector numbers count from the drive's first sector.
//
// The sweep runs as a job on a copy of the recognised-volume list taken when it
// starts; it never writes the list or the drive tree: every row it records is
// reported, in order, and the GUI (or the headless driver) applies it with
// AddRecognisedVolume. Stop ends it before the next 512-sector chunk; the rows
// reported so far stay. A chunk that cannot be read is skipped.
#pragma once

#include "base/job.h"
#include "disk/drive_inventory.h"
#include "disk/recognised_volumes.h"
#include "partsearch/partition_search.h"
#include "platform/device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace torvane {

// The sweep's chunk: 512 sectors (256 KB).
inline constexpr std::uint32_t kLogicalSweepChunkSectors = 512;

struct LogicalSweepParams {
    DevicePtr device;                      // the logical drive, opened read-only (null: nothing is read)
    std::string volumePath;                // "\\.\E:": the rows' key is formed from it
    std::string driveText;                 // "E:", for the result message
    std::uint64_t driveSectors = 0;        // E: sectors 0 .. E - 1 are swept (0: the device's size)
    // A file system whose end lies beyond this sector is not recorded
    // (0: the drive's end, E).
    std::uint64_t endLimit = 0;
    std::vector<RecognisedVolume> knownRows;   // the recognised-volume list when the sweep starts
};

struct LogicalSweepOutcome {
    std::vector<RecognisedVolume> added;   // in the order found
    std::vector<FoundBy> addedBy;          // how each was found
    bool opened = false;                   // the drive could be read
    bool stopped = false;
};

struct LogicalSweepControl {
    std::function<bool()> stop;                                  // tested once per chunk
    std::atomic<std::uint64_t>* currentSector = nullptr;         // the sector being examined
    std::function<void(const RecognisedVolume&, FoundBy)> onFound;
};

// Runs the sweep on the calling thread.
LogicalSweepOutcome RunLogicalDriveSweep(const LogicalSweepParams& params, const LogicalSweepControl& control = {});

// The message the sweep ends with: "Found 2 more partitions in selected Drive
// ( Drive - E: )" or "No more partitions found in selected Drive ( Drive - E: )".
std::string LogicalSweepResultText(int count, const std::string& driveText);

// ---- on a dialog's drive inventory ---------------------------------------------------

// The logical drive a sweep started on `node` reads: the node itself when it
// is a logical drive, its parent when it is a "Recognised" item (the drive is
// selected first). kNoTreeNode for any other node.
TreeNodeId LogicalSweepDriveItem(const DriveInventory& inv, TreeNodeId node);

// The parameters of a sweep of the logical drive `driveItem`: its path, its
// letter, its sector count (from its record) and a copy of the inventory's
// recognised-volume list; the drive opened read-only through `open` (default:
// the program's device registry; params.device is null when it cannot be
// opened: the sweep then reads nothing and reports that nothing was found).
LogicalSweepParams PrepareLogicalDriveSweep(const DriveInventory& inv, TreeNodeId driveItem,
                                            const std::function<DevicePtr(const std::string&)>& open = {});

class LogicalSweepEvents : public JobEvents {
public:
    // A file system recorded: add it with AddRecognisedVolume (on the GUI thread).
    virtual void OnRecognised(const RecognisedVolume& /*row*/, FoundBy /*by*/) {}
};

// The sweep as a job. Progress().total is E, Progress().done the sector being
// examined, Progress().folders the rows recorded. The outcome is there once
// the job has ended.
class LogicalDriveSweepJob : public Job {
public:
    explicit LogicalDriveSweepJob(LogicalSweepParams params, LogicalSweepEvents* events = nullptr);
    ~LogicalDriveSweepJob() override;

    const LogicalSweepParams& Params() const { return params_; }
    const LogicalSweepOutcome& Outcome() const { return outcome_; }
    // LogicalSweepResultText of the outcome.
    std::string ResultText() const;

protected:
    void Run() override;

private:
    LogicalSweepParams params_;
    LogicalSweepEvents* sweepEvents_;
    LogicalSweepOutcome outcome_;
};

}  // namespace torvane
