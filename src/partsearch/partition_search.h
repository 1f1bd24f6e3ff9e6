// "Search More Partitions": the engine that looks for partitions no partition
// table lists on one disk, at the depth the user chose.
//
//   - Standard: every sector below 10240, then every 512th sector, jumping
//     past each partition found or known; boot sectors only.
//   - Advanced: every sector from the range start, in 256 KB blocks; boot
//     sectors, and the traces of file systems whose boot sector is gone
//     ($MFTMirr records, FAT folders and tables, exFAT entry sets).
//   - Cylinder: one boot-sector probe per cylinder (255 heads x 63 sectors).
//
// The search runs as a job: its parameters are copied in, it reads the disk
// through a device of its own, tests its stop request once per 256 KB block
// (Advanced), per probe (Standard) or per cylinder, publishes the sector it examines in
// Progress().done, and reports every partition it records, in order, as a
// FoundPartitionEvent. It never writes the program's partition table or
// drive tree: it works on its own copy of the disk's records (at most 50),
// and the GUI applies the events to the real ones (record, tree item
// "Partition - N ( TYPE )", highlight).
//
// In the automatic way (a Basic or Deep scan of a disk that lists nothing
// and shows no boot sector where the scan was to start), the first partition
// found by its boot sector is made current instead of being shown: the
// search ends there and hands back the partition and its geometry
// (FindFirstPartition below, or the job's Automatic()).
#pragma once

#include "base/job.h"
#include "disk/partition_table.h"
#include "disk/volume_geometry.h"
#include "partsearch/partition_search_text.h"
#include "platform/device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

// Partitions a search may add to a disk that already shows this many, and
// more: the boot-sector paths stop at this many partitions on the disk.
inline constexpr std::uint32_t kPartitionSearchLimit = 26;
// The Advanced sweep's block: 512 sectors (256 KB).
inline constexpr std::uint32_t kAdvancedBlockSectors = 512;
// The Standard sweep reads every sector below this one, then every 512th.
inline constexpr std::uint64_t kStandardDenseSectors = 10240;
inline constexpr std::uint64_t kStandardStep = 512;

struct PartitionSearchParams {
    DevicePtr device;                   // the disk, opened read-only
    int diskNumber = 0;
    SmpMode depth = SmpMode::Standard;
    std::uint64_t diskSectors = 0;      // the disk's sector count; 0: the device's size
    std::uint64_t rangeStart = 0;       // where the Advanced sweep starts (the selected item's start)
    DiskPartitionEntry table;           // the disk's partition records when the search starts
    int shownPartitions = -1;           // partition items under the disk item; -1: the record count
    bool automatic = false;             // make the first boot-sector partition current and end
    unsigned readAheadThreads = 0;      // Standard sweep: probes read in parallel (0: one at a time)
    std::uint32_t cylinders = 0;        // Cylinder depth: 0 derives them from the sector count
};

// How a partition was found.
enum class FoundBy { BootSector, MftMirr, ExfatEntries, FatFolders, FatTables };
const char* FoundByText(FoundBy by);

struct FoundPartitionEvent {
    int index = 0;                       // its record's position in the disk's table
    std::string fsName;                  // "FAT16", "FAT32", "NTFS", "exFAT"
    std::uint64_t start = 0;
    std::uint64_t end = 0;               // one past the last sector
    bool hasGeometry = false;            // the record carries a geometry copy
    VolumeGeometry geometry;
    FoundBy by = FoundBy::BootSector;
    bool automatic = false;              // made current, not shown in the tree
    std::string itemText;                // "Partition - 3 ( NTFS )"
};

// The partition the automatic way made current.
struct AutomaticFind {
    CurrentPartition partition;          // type, start, end and what ReadVolumeParameters derived
    int volumeParamsOk = 0;              // ReadVolumeParameters' result
};

struct PartitionSearchOutcome {
    DiskPartitionEntry table;            // the records at the end (found ones appended)
    std::vector<FoundPartitionEvent> found;
    std::optional<AutomaticFind> automatic;
    bool tableFull = false;              // a partition was met with 50 records already there
    bool stopped = false;
};

struct PartitionSearchControl {
    std::function<bool()> stop;                                   // tested per block, probe or cylinder
    std::atomic<std::uint64_t>* currentSector = nullptr;          // the sector being examined
    std::function<void(const FoundPartitionEvent&)> onFound;      // each recorded partition, in order
};

// Runs a search on the calling thread.
PartitionSearchOutcome RunPartitionSearch(const PartitionSearchParams& params, const PartitionSearchControl& control);

// The automatic way: searches `params.device` (params.automatic is set) and
// returns the first partition found by its boot sector, made current; empty
// when none was found or `stop` said so first.
std::optional<AutomaticFind> FindFirstPartition(PartitionSearchParams params, std::function<bool()> stop = {});

class PartitionSearchEvents : public JobEvents {
public:
    virtual void OnPartitionFound(const FoundPartitionEvent& /*found*/) {}
};

// The search as a job. Progress().total is the disk's sector count,
// Progress().done the sector being examined, Progress().folders the
// partitions found. The outcome is there once the job has ended.
class PartitionSearchJob : public Job {
public:
    explicit PartitionSearchJob(PartitionSearchParams params, PartitionSearchEvents* events = nullptr);
    ~PartitionSearchJob() override;

    const PartitionSearchParams& Params() const { return params_; }
    // Valid after the job ended (Wait(), OnFinished).
    const PartitionSearchOutcome& Outcome() const { return outcome_; }

protected:
    void Run() override;

private:
    PartitionSearchParams params_;
    PartitionSearchEvents* searchEvents_;
    PartitionSearchOutcome outcome_;
};

// On a non-rotational block device (and on image files) the Standard sweep's
// probes are read ahead on this many threads; on a rotating disk, 0.
unsigned SuggestedReadAheadThreads(const std::string& devicePath);

}  // namespace torvane
