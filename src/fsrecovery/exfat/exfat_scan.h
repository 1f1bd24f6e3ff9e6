// The exFAT readers of the Basic and Deep Searches.
//
// ReadExfatVolume walks the directory tree breadth-first from the root,
// deleted entry sets included: every folder becomes a pending directory (its
// own id is its first cluster, the root's children have the root's cluster as
// their parent: ExfatRootFolderId) and every
// file a FoundEntry (own id: the device sector of its first cluster; size:
// its DataLength; text1 the date and time texts, text2 and text3 the FAT
// date and time words). The lost-directory arrangement then builds the tree.
//
// SearchExfatDirectories is the Deep Search's search for lost exFAT folders:
// the same walk from the root when the volume still knows one, then a sweep
// of every sector for directory clusters nobody references any more (a
// deleted parent, a damaged directory, a zeroed boot sector). When the boot
// sector is gone the geometry is derived from the directory contents: from
// the root's allocation-bitmap and up-case entries, else from the first file.
//
// Safety: every directory is walked once (a folder that names itself or an
// ancestor does not loop), chains end at a cluster met before, directory
// lengths are bounded by the format's 256 MiB, and the boot sector's shifts
// and offsets are checked before use.
#pragma once

#include "disk/volume_geometry.h"
#include "fsrecovery/exfat/exfat_volume.h"
#include "fsrecovery/store/found_items.h"
#include "platform/device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace torvane {

// The name a file entry set without a name is listed and saved under:
// "FILE_" and the number of its file entry on the device (its byte / 32).
std::string ExfatUnnamedFileName(std::uint64_t entryByte);

// A directory holds at most 256 MiB of entries.
inline constexpr std::uint64_t kExfatMaxDirectoryBytes = 256ull << 20;

// How a found file's data lie: kept by the scan for the file writer, by the
// entry's own id (the sector of its first cluster).
struct ExfatFileRecord {
    std::uint32_t firstCluster = 0;
    std::uint64_t validLength = 0;
    std::uint64_t dataLength = 0;
    bool noFatChain = false;
};

// Which found file a record belongs to. The own id alone (the sector of the
// first cluster) is shared by a deleted file and the live one that reused its
// clusters, so the folder holding the entry, its name and its size go with it.
struct ExfatFileKey {
    std::uint64_t ownId = 0;
    std::uint64_t parentId = 0;
    std::string name;
    std::uint64_t size = 0;
};

// The file records of one scan. Two files may start at one cluster: FindExact
// gives only the record made for the very entry asked about; Find (the own id
// alone) prefers the record whose DataLength equals `size`, else the one added
// last.
//
// Records are kept flat (no name nor folder: a 64-bit hash of both tells
// entries of one own id apart) and sorted by own id on the first look-up after
// additions.
class ExfatFileIndex {
public:
    void Add(const ExfatFileKey& key, const ExfatFileRecord& record);
    void Add(std::uint64_t ownId, std::uint64_t parentId, std::string_view name, std::uint64_t size,
             const ExfatFileRecord& record);
    void Add(std::uint64_t ownId, const ExfatFileRecord& record);
    // Several records under one lock.
    struct Keyed {
        std::uint64_t ownId = 0;
        std::uint64_t parentId = 0;
        std::string_view name;
        ExfatFileRecord record;
    };
    void AddMany(const Keyed* items, std::size_t n);
    bool FindExact(const ExfatFileKey& key, ExfatFileRecord& out) const;
    bool Find(std::uint64_t ownId, ExfatFileRecord& out, std::uint64_t size = ~std::uint64_t(0)) const;
    std::size_t Size() const;
    void Clear();
    // Sorts the records and gives back the room their growth left (a scan's end).
    void Compact() const;

private:
    // 32 bytes. The valid length is nearly always the data length; the few
    // that differ are kept aside (validLengths_), the slot holding their place.
    struct Slot {
        std::uint64_t ownId = 0;
        std::uint64_t keyHash = 0;    // of the folder id and the name; 0: added without them
        std::uint64_t dataLength = 0;
        std::uint32_t firstCluster = 0;
        std::uint32_t extra = 0;      // kNoFatChain | kValidAside | place in validLengths_
    };
    static constexpr std::uint32_t kNoFatChain = 0x80000000u;
    static constexpr std::uint32_t kValidAside = 0x40000000u;
    static constexpr std::uint32_t kAsideMask = 0x3FFFFFFFu;
    // Adds a slot for `record` (mutex held).
    void Push(std::uint64_t ownId, std::uint64_t keyHash, const ExfatFileRecord& record);
    ExfatFileRecord RecordOf(const Slot& slot) const;
    static std::uint64_t KeyHash(std::uint64_t parentId, std::string_view name);
    // The slots of `ownId`, added last first: [first, last) walked backwards.
    std::pair<std::size_t, std::size_t> Run(std::uint64_t ownId) const;

    mutable std::mutex mutex_;
    mutable std::vector<Slot> slots_;
    std::vector<std::uint64_t> validLengths_;
    mutable bool sorted_ = true;
};

struct ExfatScanControl {
    std::function<bool()> stop;   // tested per directory cluster and per sweep chunk
    // Told, at the end of a folder's walk, how many of its sectors could not
    // be read (their entries are lost; the walk went on behind them).
    std::function<void(const UnreadableFolderSectors&)> unreadableFolder;
    // The device sector the walk reads (after each read), and the name of
    // each file it finds; both for what the dialog shows while it runs.
    std::function<void(std::uint64_t)> progress;
    std::function<void(const std::string&)> liveFile;
};

struct ExfatScanReport {
    std::uint32_t rootCluster = 0;    // the root the walk started from (0: none)
    bool bootSectorUsed = false;      // the geometry came from a sound boot sector
    bool geometryDerived = false;     // the lost-directory search derived it from entries
    std::uint64_t directoriesWalked = 0;
    std::uint64_t sectorsSwept = 0;
    std::uint64_t lostDirectories = 0; // directory clusters found only by the sweep
    std::uint64_t checksumMismatches = 0;
    std::uint64_t unreadableFolderSectors = 0;  // directory sectors that could not be read
    bool stopped = false;
};

// Reads the exFAT volume of `partition` (its Descriptor.StartSector holds the
// boot sector) into `results`. `index` may be null.
ExfatScanReport ReadExfatVolume(ScanResults& results, const CurrentPartition& partition, Device& device,
                                ExfatFileIndex* index = nullptr, const ExfatScanControl& control = {});

// The same on an already known volume (tests, fuzzing).
ExfatScanReport ReadExfatVolumeAt(ScanResults& results, const ExfatVolume& volume, ExfatFileIndex* index,
                                  const ExfatScanControl& control);

// The Deep Search's lost-directory search over [Descriptor.StartSector,
// Descriptor.EndSector). Leaves the geometry it used (boot sector or derived)
// in partition.Geometry / partition.Exfat.
ExfatScanReport SearchExfatDirectories(ScanResults& results, CurrentPartition& partition, Device& device,
                                       ExfatFileIndex* index = nullptr, const ExfatScanControl& control = {});

// The directory-start test of the sweep on one 512-byte sector: true when the
// sector begins like a cluster of directory entries. `tag` (optional) gets
// "C0_40" when it begins inside a set at a stream entry, "C1_41" at a name
// entry, and "" otherwise.
bool IsExfatDirectoryStart(const std::uint8_t* sector, std::string* tag = nullptr);

}  // namespace torvane
