#include "fsrecovery/exfat/exfat_scan.h"

#include "base/large_buffers.h"
#include "base/text_routines.h"
#include "disk/sector_reader.h"
#include "fsrecovery/exfat/exfat_entry_set.h"
#include "fsrecovery/store/name_rules.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <optional>
#include <unordered_set>
#include <vector>

namespace torvane {

// ---- file index ----------------------------------------------------------------

std::uint64_t ExfatFileIndex::KeyHash(std::uint64_t parentId, std::string_view name)
{
    // A multiply-mix over the folder id and the name, eight bytes a step,
    // never 0 (0 marks a record added without a name). 64 bits: a false
    // match between two entries of one first cluster and one length is
    // practically impossible.
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    auto mix = [](std::uint64_t h, std::uint64_t v) {
        h = (h ^ v) * kMul;
        return h ^ (h >> 29);
    };
    std::uint64_t h = mix(0x243F6A8885A308D3ull ^ name.size(), parentId);
    std::size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        std::uint64_t v;
        std::memcpy(&v, name.data() + i, 8);
        h = mix(h, v);
    }
    if (i < name.size()) {
        std::uint64_t v = 0;
        std::memcpy(&v, name.data() + i, name.size() - i);
        h = mix(h, v);
    }
    h = (h ^ (h >> 32)) * 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return h == 0 ? 1 : h;
}

void ExfatFileIndex::Add(const ExfatFileKey& key, const ExfatFileRecord& record)
{
    Add(key.ownId, key.parentId, key.name, key.size, record);
}

void ExfatFileIndex::Add(std::uint64_t ownId, std::uint64_t parentId, std::string_view name, std::uint64_t /*size*/,
                         const ExfatFileRecord& record)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Push(ownId, KeyHash(parentId, name), record);
}

void ExfatFileIndex::AddMany(const Keyed* items, std::size_t n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < n; ++i)
        Push(items[i].ownId, KeyHash(items[i].parentId, items[i].name), items[i].record);
}

void ExfatFileIndex::Push(std::uint64_t ownId, std::uint64_t keyHash, const ExfatFileRecord& record)
{
    std::uint32_t extra = record.noFatChain ? kNoFatChain : 0;
    if (record.validLength != record.dataLength) {
        // More than 2^30 such files cannot fit in memory anyway; past that
        // the valid length is taken as the data length.
        if (validLengths_.size() <= kAsideMask) {
            extra |= kValidAside | static_cast<std::uint32_t>(validLengths_.size());
            validLengths_.push_back(record.validLength);
        }
    }
    ReserveOneMore(slots_);
    slots_.push_back(Slot{ownId, keyHash, record.dataLength, record.firstCluster, extra});
    sorted_ = false;
}

ExfatFileRecord ExfatFileIndex::RecordOf(const Slot& slot) const
{
    ExfatFileRecord r;
    r.firstCluster = slot.firstCluster;
    r.dataLength = slot.dataLength;
    r.validLength = (slot.extra & kValidAside) ? validLengths_[slot.extra & kAsideMask] : slot.dataLength;
    r.noFatChain = (slot.extra & kNoFatChain) != 0;
    return r;
}

void ExfatFileIndex::Add(std::uint64_t ownId, const ExfatFileRecord& record)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Push(ownId, 0, record);
}

std::pair<std::size_t, std::size_t> ExfatFileIndex::Run(std::uint64_t ownId) const
{
    if (!sorted_) {
        // Stable: the slots of one own id stay in the order they were added.
        auto byOwnId = [](const Slot& a, const Slot& b) { return a.ownId < b.ownId; };
        if (!std::is_sorted(slots_.begin(), slots_.end(), byOwnId))
            std::stable_sort(slots_.begin(), slots_.end(), byOwnId);
        if (slots_.capacity() - slots_.size() > slots_.size() / 32) {
            std::vector<Slot> exact;
            ReserveLarge(exact, slots_.size(), true);
            exact.assign(slots_.begin(), slots_.end());
            slots_.swap(exact);
        }
        sorted_ = true;
    }
    auto lo = std::lower_bound(slots_.begin(), slots_.end(), ownId,
                               [](const Slot& s, std::uint64_t id) { return s.ownId < id; });
    auto hi = lo;
    while (hi != slots_.end() && hi->ownId == ownId)
        ++hi;
    return {static_cast<std::size_t>(lo - slots_.begin()), static_cast<std::size_t>(hi - slots_.begin())};
}

bool ExfatFileIndex::FindExact(const ExfatFileKey& key, ExfatFileRecord& out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t hash = KeyHash(key.parentId, key.name);
    auto [first, last] = Run(key.ownId);
    bool found = false;
    for (std::size_t i = last; i-- > first;) {
        const Slot& e = slots_[i];
        if (e.keyHash != hash || e.dataLength != key.size)
            continue;
        // The same entry met twice (a directory reached again by the
        // sweep) gives the same record; two that differ cannot be told
        // apart, and neither is used.
        const ExfatFileRecord record = RecordOf(e);
        if (found && (record.firstCluster != out.firstCluster || record.validLength != out.validLength ||
                      record.noFatChain != out.noFatChain))
            return false;
        out = record;
        found = true;
    }
    return found;
}

bool ExfatFileIndex::Find(std::uint64_t ownId, ExfatFileRecord& out, std::uint64_t size) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto [first, last] = Run(ownId);
    if (first == last)
        return false;
    out = RecordOf(slots_[last - 1]);
    for (std::size_t i = last; i-- > first;)
        if (slots_[i].dataLength == size) {
            out = RecordOf(slots_[i]);
            break;
        }
    return true;
}

std::size_t ExfatFileIndex::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.size();
}

void ExfatFileIndex::Compact() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Run(0);
}

void ExfatFileIndex::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.clear();
    validLengths_.clear();
    sorted_ = true;
}

namespace {

// Bytes to read per step of a sweep over [from, end): 256 KB, or less for a
// smaller range (whole sectors, at least one).
std::size_t SweepChunkBytes(std::uint64_t from, std::uint64_t end)
{
    constexpr std::uint64_t kChunk = 512 * 512;
    const std::uint64_t span = end > from ? end - from : 0;
    const std::uint64_t sectors = std::max<std::uint64_t>(1, (std::min(kChunk, span) + 511) / 512);
    return static_cast<std::size_t>(sectors * 512);
}

constexpr std::size_t kReadChunk = 64 * 1024;

// A folder waiting for its walk.
struct QueuedDirectory {
    ExfatAllocation allocation;
};

// The walk of directories of one volume: the queue, the clusters walked, and
// what the walk hands to the results.
class ExfatWalker {
public:
    ExfatWalker(ScanResults& results, const ExfatVolume& volume, ExfatFileIndex* index,
                const ExfatScanControl& control, ExfatScanReport& report)
        : results_(results), volume_(volume), fat_(volume), index_(index), control_(control), report_(report)
    {
    }

    bool Stopped()
    {
        if (!report_.stopped && control_.stop && control_.stop())
            report_.stopped = true;
        return report_.stopped;
    }

    bool IsWalked(std::uint32_t cluster) const { return walkedClusters_.Find(cluster) != nullptr; }

    // Walks the root directory (its children get the root's folder id).
    void WalkRoot(std::uint32_t rootCluster)
    {
        if (!volume_.ValidCluster(rootCluster))
            return;
        report_.rootCluster = rootCluster;
        results_.SetExfatRootCluster(rootCluster);
        paths_[ExfatRootFolderId(rootCluster)] = "/";
        walkedFirst_.Emplace(rootCluster, true);
        ExfatAllocation root{rootCluster, 0, false};
        auto clusters = ExfatClusterList(volume_, fat_, root, kExfatMaxDirectoryBytes / volume_.clusterBytes);
        // A root whose FAT cell is free (damaged FAT) is read as one cluster:
        // without a length there is no telling where it ends.
        if (!fat_.Cell(rootCluster) || *fat_.Cell(rootCluster) == 0)
            clusters.resize(std::min<std::size_t>(clusters.size(), 1));
        WalkClusters(clusters, 0, ExfatRootFolderId(rootCluster));
    }

    // Walks the queued folders, including those the walks add.
    void WalkQueue()
    {
        while (!queue_.empty() && !Stopped()) {
            QueuedDirectory d = queue_.front();
            queue_.pop_front();
            const std::uint64_t len = d.allocation.length;
            std::uint64_t maxClusters = kExfatMaxDirectoryBytes / volume_.clusterBytes;
            if (len != 0)
                maxClusters = std::min<std::uint64_t>(maxClusters, (len + volume_.clusterBytes - 1) / volume_.clusterBytes);
            auto clusters = ExfatClusterList(volume_, fat_, d.allocation, std::max<std::uint64_t>(maxClusters, 1));
            WalkClusters(clusters, 0, d.allocation.firstCluster);
        }
    }

    // Walks a directory found by the sweep at device byte `startByte` (inside
    // `cluster`), through the following clusters while the entries go on.
    void WalkLost(std::uint32_t cluster, std::uint64_t startByte)
    {
        std::vector<std::uint32_t> clusters;
        const std::uint64_t limit = kExfatMaxDirectoryBytes / volume_.clusterBytes;
        for (std::uint64_t i = 0; i < limit; ++i) {
            const std::uint64_t c = static_cast<std::uint64_t>(cluster) + i;
            if (c > 0xFFFFFFF0u || !volume_.ValidCluster(static_cast<std::uint32_t>(c)) ||
                (i > 0 && IsWalked(static_cast<std::uint32_t>(c))))
                break;
            clusters.push_back(static_cast<std::uint32_t>(c));
        }
        if (clusters.empty())
            return;
        walkedFirst_.Emplace(cluster, true);
        ++report_.lostDirectories;
        {
            auto lock = results_.Lock();
            results_.AddPendingDirectory("", startByte / 512, cluster, kMiscFolderId, 0, 0);
        }
        ++results_.FoundFolderCount;
        paths_[cluster] = std::string("/") + kMiscFolderName + "/DIR_" + std::to_string(cluster);
        WalkClusters(clusters, startByte - volume_.ClusterByte(cluster), cluster, /*stopAtEmptyCluster=*/true);
    }

private:
    // Reads the entries of `clusters` (the first from `firstOffset` bytes in),
    // handing every finished set to Take with `parentId`.
    void WalkClusters(const std::vector<std::uint32_t>& clusters, std::uint64_t firstOffset, std::uint64_t parentId,
                      bool stopAtEmptyCluster = false)
    {
        ++report_.directoriesWalked;
        std::uint64_t unreadable = 0;
        currentParent_ = parentId;
        ExfatEntrySetAssembler& sets = sets_;
        sets.Drop();
        sets.checksumMismatches = 0;
        buffer_.resize(std::min<std::size_t>(kReadChunk, volume_.clusterBytes));
        std::vector<std::uint8_t>& buffer = buffer_;
        bool ended = false;
        for (std::size_t ci = 0; ci < clusters.size() && !ended; ++ci) {
            if (Stopped())
                break;
            const std::uint32_t cluster = clusters[ci];
            // A lost directory ends where a cluster does not go on with entries.
            if (stopAtEmptyCluster && ci > 0) {
                std::uint8_t first[512];
                ReadBytesFrom(*volume_.device, volume_.ClusterByte(cluster), first, sizeof first);
                if (!IsExfatDirectoryStart(first))
                    break;
            }
            walkedClusters_.Emplace(cluster, true);
            const std::uint64_t base = volume_.ClusterByte(cluster);
            for (std::uint64_t off = ci == 0 ? firstOffset - firstOffset % 32 : 0;
                 off < volume_.clusterBytes && !ended; off += buffer.size()) {
                const std::size_t n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(buffer.size(), volume_.clusterBytes - off));
                if (base + off >= volume_.endByte) {
                    ended = true;
                    break;
                }
                SectorReadReport read;
                const std::uint8_t* data = ReadDirectoryBytes(clusters, ci, base + off, n, buffer.data(), read);
                results_.CurrentScanSector = (base + off) / 512;
                if (control_.progress)
                    control_.progress((base + off) / 512);
                if (read.unreadableSectors == 0) {
                    ended = !FeedEntries(sets, data, n, base + off);
                    FlushBatch();
                    continue;
                }
                // Some sector could not be read: its zeros would end the
                // folder there. Sector by sector, the unreadable ones are
                // counted and passed over (a set they cut is lost with them),
                // and the walk goes on behind them.
                for (std::size_t at = 0; at < n && !ended; at += 512) {
                    const std::size_t len = std::min<std::size_t>(512, n - at);
                    SectorReadReport one;
                    ReadBytesFrom(*volume_.device, base + off + at, buffer.data() + at, len, &one);
                    if (one.unreadableSectors != 0) {
                        ++unreadable;
                        sets.Drop();
                        continue;
                    }
                    ended = !FeedEntries(sets, buffer.data() + at, len, base + off + at);
                }
            }
        }
        sets.Flush();
        FlushBatch();
        report_.checksumMismatches += sets.checksumMismatches;
        if (unreadable != 0) {
            report_.unreadableFolderSectors += unreadable;
            if (control_.unreadableFolder)
                control_.unreadableFolder(UnreadableFolderSectors{PathOf(parentId), unreadable});
        }
    }

    // The `n` bytes at device byte `at` (a part of clusters[ci]): from the
    // clusters read ahead when they hold them, else read into `buffer`. A
    // whole cluster is read together with the directory clusters that follow
    // it on the device and are walked next (the rest of this folder, then the
    // first clusters of the folders queued), as one read of up to
    // kReadAheadBytes: folders a formatter or the system wrote one after the
    // other cost one read for many, not one each. The bytes are those the
    // single reads would give; a read ahead that meets an unreadable sector
    // is dropped and the cluster read alone.
    const std::uint8_t* ReadDirectoryBytes(const std::vector<std::uint32_t>& clusters, std::size_t ci,
                                           std::uint64_t at, std::size_t n, std::uint8_t* buffer,
                                           SectorReadReport& read)
    {
        read = SectorReadReport{};
        if (at >= aheadFirst_ && at - aheadFirst_ + n <= aheadBytes_) {
            read.bytesRead = n;
            return ahead_.data() + (at - aheadFirst_);
        }
        aheadBytes_ = 0;
        const std::uint64_t cb = volume_.clusterBytes;
        if (n == cb && cb * 2 <= kReadAheadBytes && at >= noReadAheadBefore_ &&
            at == volume_.ClusterByte(clusters[ci])) {
            std::uint64_t last = clusters[ci];
            std::uint64_t count = 1;
            auto follows = [&](std::uint32_t c) {
                if (c != last + 1 || (count + 1) * cb > kReadAheadBytes || at + (count + 1) * cb > volume_.endByte)
                    return false;
                last = c;
                ++count;
                return true;
            };
            bool going = true;
            for (std::size_t k = ci + 1; k < clusters.size() && going; ++k)
                going = follows(clusters[k]);
            for (auto q = queue_.begin(); going && q != queue_.end(); ++q)
                going = follows(q->allocation.firstCluster);
            if (count > 1) {
                const std::size_t bytes = static_cast<std::size_t>(count * cb);
                if (ahead_.size() < kReadAheadBytes)
                    ahead_.resize(kReadAheadBytes);
                SectorReadReport whole;
                ReadBytesFrom(*volume_.device, at, ahead_.data(), bytes, &whole);
                if (whole.unreadableSectors == 0) {
                    aheadFirst_ = at;
                    aheadBytes_ = bytes;
                    read.bytesRead = n;
                    return ahead_.data();
                }
                // Damaged ground: the clusters of this range are read one
                // by one, as without the read ahead, and no unreadable
                // sector of it is asked for by a read ahead again.
                noReadAheadBefore_ = at + bytes;
            }
        }
        ReadBytesFrom(*volume_.device, at, buffer, n, &read);
        return buffer;
    }

    static constexpr std::size_t kReadAheadBytes = 256 * 1024;

    // Hands the entries of `n` bytes read at device byte `at` to the
    // assembler; false at the end of the directory.
    static bool FeedEntries(ExfatEntrySetAssembler& sets, const std::uint8_t* data, std::size_t n, std::uint64_t at)
    {
        for (std::size_t e = 0; e + kExfatEntrySize <= n; e += kExfatEntrySize)
            if (sets.Feed(data + e, at + e) != ExfatEntrySetAssembler::Step::Continue)
                return false;
        return true;
    }

    // The path of a folder as the walk met it ("/" for the root).
    std::string PathOf(std::uint64_t folderId) const
    {
        auto it = paths_.find(folderId);
        return it != paths_.end() ? it->second : "/DIR_" + std::to_string(folderId);
    }

    void Take(const ExfatEntrySet& set, std::uint64_t parentId)
    {
        std::uint32_t date = 0, time = 0;
        SplitExfatTimestamp(set.createTimestamp, date, time);
        const std::uint32_t f = set.firstCluster;
        const bool located = volume_.ValidCluster(f);
        const std::uint64_t location = located ? volume_.ClusterSector(f) : 0;
        if (set.directory) {
            if (!located)
                return;   // no clusters: nothing to place or to walk
            {
                auto lock = results_.Lock();
                std::size_t row = results_.AddPendingDirectory(set.name, location, f, parentId, date, time);
                if (row < results_.DirList().Count())
                    results_.DirList().Row(row).deleted = set.deleted;
            }
            ++results_.FoundFolderCount;
            if (walkedFirst_.Find(f) == nullptr) {
                walkedFirst_.Emplace(f, true);
                const std::string parentPath = PathOf(parentId);
                paths_[f] = parentPath + (parentPath == "/" ? "" : "/") +
                            (set.name.empty() ? "DIR_" + std::to_string(f) : set.name);
                queue_.push_back(QueuedDirectory{ExfatAllocation{f, set.dataLength, set.noFatChain}});
            }
            return;
        }
        // Every file is listed: one without a name gets one from the place of
        // its entry (stable, and no two entries share it); one whose first
        // cluster lies outside the volume (or an empty file, which has none)
        // keeps own id 0, and a save says what became of it.
        if (batch_.capacity() == 0) {
            batch_.reserve(kBatchFiles);
            batchRecords_.reserve(kBatchFiles);
            batchRecordEntry_.reserve(kBatchFiles);
        }
        FoundEntry entry;
        entry.name = set.name.empty() ? ExfatUnnamedFileName(set.entryByte) : set.name;
        entry.parentId = parentId;
        entry.ownId = location;
        entry.size = set.dataLength;
        entry.stamp = (static_cast<std::uint64_t>(date) << 16) | time;
        batch_.push_back(std::move(entry));
        if (index_ && located) {
            batchRecords_.push_back(ExfatFileIndex::Keyed{location, parentId, {},
                                                          ExfatFileRecord{f, set.validLength, set.dataLength, set.noFatChain}});
            batchRecordEntry_.push_back(batch_.size() - 1);
        }
        if (control_.liveFile && !set.name.empty())
            control_.liveFile(set.name);
        if (batch_.size() >= kBatchFiles)
            FlushBatch();
    }

    static constexpr std::size_t kBatchFiles = 256;

public:
    // Hands the files met since the last call to the index and the results.
    void FlushBatch()
    {
        if (batch_.empty())
            return;
        if (index_ && !batchRecords_.empty()) {
            for (std::size_t i = 0; i < batchRecords_.size(); ++i)
                batchRecords_[i].name = batch_[batchRecordEntry_[i]].name;
            index_->AddMany(batchRecords_.data(), batchRecords_.size());
        }
        batchRecords_.clear();
        batchRecordEntry_.clear();
        {
            auto lock = results_.Lock();
            FoundEntryStore& store = results_.FoundEntries();
            for (FoundEntry& e : batch_)
                store.push_back(std::move(e));
        }
        results_.FoundFileCount += batch_.size();
        batch_.clear();
    }

private:

    ScanResults& results_;
    const ExfatVolume& volume_;
    ExfatFatReader fat_;
    ExfatFileIndex* index_;
    const ExfatScanControl& control_;
    ExfatScanReport& report_;
    std::deque<QueuedDirectory> queue_;
    FlatIdMap<bool> walkedFirst_;      // first clusters of the folders queued or walked
    FlatIdMap<bool> walkedClusters_;   // every directory cluster read
    // The files of the clusters being read, handed to the results and the
    // index together (one lock each per batch, not per file).
    std::vector<FoundEntry> batch_;
    std::vector<ExfatFileIndex::Keyed> batchRecords_;
    std::vector<std::size_t> batchRecordEntry_;   // the batch entry of each record
    std::uint64_t currentParent_ = 0;
    ExfatEntrySetAssembler sets_{[this](const ExfatEntrySet& set) { Take(set, currentParent_); }};
    std::vector<std::uint8_t> buffer_;
    // Directory clusters read ahead: [aheadFirst_, aheadFirst_ + aheadBytes_) of the device.
    std::vector<std::uint8_t> ahead_;
    std::uint64_t aheadFirst_ = 0;
    std::size_t aheadBytes_ = 0;
    std::uint64_t noReadAheadBefore_ = 0;   // the end of the last read ahead that met an unreadable sector
    std::unordered_map<std::uint64_t, std::string> paths_;   // folder id -> its path, for the reports
};

// After an allocation failure: the files of the batch still open go to the
// results when they can.
void KeepFound(std::optional<ExfatWalker>& walker)
{
    if (!walker)
        return;
    try {
        walker->FlushBatch();
    } catch (const std::bad_alloc&) {
    }
}

std::uint64_t DeviceEnd(const CurrentPartition& p, Device& device)
{
    std::uint64_t end = device.SizeBytes();
    if (p.Descriptor.EndByte != 0)
        end = std::min(end, p.Descriptor.EndByte);
    if (p.Descriptor.EndSector != 0)
        end = std::min(end, p.Descriptor.EndSector * 512);
    return end;
}

// The volume from the boot sector at `sector`, when it is a sound one.
bool VolumeFromBootSector(Device& device, std::uint64_t sector, std::uint64_t volumeByte, std::uint64_t end,
                          ExfatVolume& out, ExfatBootRecord* params = nullptr)
{
    std::uint8_t boot[512];
    if (ReadBytesFrom(device, sector * 512, boot, sizeof boot) == 0)
        return false;
    const auto p = ReadExfatBootRecord(ByteView(boot, sizeof boot));
    if (!p)
        return false;
    out = MakeExfatVolume(device, volumeByte, *p, end);
    if (params)
        *params = *p;
    return out.Usable() && out.heapByte < end;
}

void AddMiscFolder(ScanResults& results)
{
    auto lock = results.Lock();
    results.AddPendingDirectory(kMiscFolderName, 0, kMiscFolderId, 0, 0, CurrentFatTimeWord());
}


// The up-case table's checksum (TableChecksum of its directory entry) over
// `length` bytes at device byte `byte`.
bool UpcaseChecksumMatches(Device& device, std::uint64_t byte, std::uint64_t length, std::uint32_t expected)
{
    if (length == 0 || length > (1u << 20))
        return false;
    std::vector<std::uint8_t> table(static_cast<std::size_t>(length));
    if (ReadBytesFrom(device, byte, table.data(), table.size()) == 0)
        return false;
    std::uint32_t sum = 0;
    for (std::uint8_t b : table)
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b;
    return sum == expected;
}

std::uint32_t RoundDownPowerOfTwo(std::uint64_t n)
{
    std::uint32_t p = 1;
    while (static_cast<std::uint64_t>(p) * 2 <= n && p < 65536)
        p *= 2;
    return p;
}

// Derives the volume from a root directory found at device byte `rootByte`
// whose first sector holds the allocation-bitmap and up-case entries.
// The cluster size: the volume's sectors over the clusters the bitmap can
// describe, rounded down to a power of two (the metadata in front of the
// heap makes the quotient a little too large; rounding it up would double
// the cluster size), confirmed by the up-case table's checksum where it can
// be. The root is taken to follow the up-case table directly, as every
// formatter places it.
bool DeriveVolumeFromRoot(Device& device, std::uint64_t volumeByte, std::uint64_t end, std::uint64_t rootByte,
                          const std::uint8_t* rootSector, ExfatVolume& out)
{
    std::uint64_t bitmapLength = 0, upcaseLength = 0;
    std::uint32_t upcaseFirst = 0, upcaseSum = 0;
    bool bitmap = false, upcase = false;
    const ByteView root(rootSector, 512);
    for (std::size_t e = 0; e < 512; e += 32) {
        const ByteView x = root.Sub(e, kExfatEntrySize);
        if (x.U8(0) == kExfatBitmapEntry && !bitmap) {
            bitmap = true;
            bitmapLength = x.U64(24);
        } else if (x.U8(0) == kExfatUpcaseEntry && !upcase) {
            upcase = true;
            upcaseSum = x.U32(4);
            upcaseFirst = x.U32(20);
            upcaseLength = x.U64(24);
        }
    }
    // A bitmap describes at most 2^32 clusters (2^29 bytes); an up-case
    // table is at most 128 KiB (1 MiB is accepted). Larger lengths are
    // damage and would overflow the arithmetic below.
    constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{1} << 29;
    constexpr std::uint64_t kMaxUpcaseBytes = std::uint64_t{1} << 20;
    if (!bitmap || !upcase || bitmapLength == 0 || bitmapLength > kMaxBitmapBytes || upcaseFirst < 2 ||
        upcaseLength == 0 || upcaseLength > kMaxUpcaseBytes || end <= volumeByte)
        return false;
    const std::uint64_t clusters = bitmapLength * 8;
    const std::uint64_t volumeSectors = (end - volumeByte) / 512;
    const std::uint32_t guess = RoundDownPowerOfTwo(std::max<std::uint64_t>(volumeSectors / clusters, 1));
    std::uint32_t chosen = 0;
    std::uint64_t chosenHeap = 0;
    // The guess first, then its neighbours.
    const std::uint32_t candidates[] = {guess, guess / 2, guess * 2};
    for (std::uint32_t spc : candidates) {
        if (spc == 0 || spc > 65536)
            continue;
        const std::uint64_t cb = static_cast<std::uint64_t>(spc) * 512;
        const std::uint64_t upcaseClusters = (upcaseLength + cb - 1) / cb;
        const std::uint64_t root = upcaseFirst + upcaseClusters;
        if (rootByte < (root - 2) * cb + volumeByte)
            continue;
        const std::uint64_t heap = rootByte - (root - 2) * cb;
        const std::uint64_t upcaseByte = heap + (upcaseFirst - 2) * cb;
        if (UpcaseChecksumMatches(device, upcaseByte, upcaseLength, upcaseSum)) {
            chosen = spc;
            chosenHeap = heap;
            break;
        }
        if (chosen == 0 && spc == guess) {
            chosen = spc;   // unconfirmed, kept unless a neighbour is confirmed
            chosenHeap = heap;
        }
    }
    if (chosen == 0)
        return false;
    ExfatVolume v;
    v.device = &device;
    v.volumeByte = volumeByte;
    v.clusterBytes = chosen * 512;
    v.heapByte = chosenHeap;
    v.endByte = end;
    v.clusterCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({clusters, (end - chosenHeap) / v.clusterBytes, 0xFFFFFFF5u}));
    v.rootCluster = static_cast<std::uint32_t>((rootByte - chosenHeap) / v.clusterBytes + 2);
    // The FAT: the first sector between the volume start and the heap that
    // begins with the media cell F8 FF FF FF and the end cell FF FF FF FF.
    std::uint8_t s[512];
    for (std::uint64_t b = volumeByte + 512; b + 512 <= chosenHeap && b < volumeByte + (64ull << 20); b += 512) {
        if (ReadBytesFrom(device, b, s, sizeof s) == 0)
            continue;
        const ByteView fat(s, sizeof s);
        if (fat.U32(0) == 0xFFFFFFF8u && fat.U32(4) == 0xFFFFFFFFu) {
            v.fatByte = b;
            v.fatCells = static_cast<std::uint32_t>(std::min<std::uint64_t>((chosenHeap - b) / 4, 0xFFFFFFFFu));
            break;
        }
    }
    out = v;
    return true;
}

// Derives the volume from the directories alone, when no root with its
// bitmap and up-case entries is left: a folder's entry set names the first
// cluster F of that folder, and the folder's first sector begins with
// directory entries. Every pair (F, sector S) of one volume satisfies
// S = K + F * spc for one cluster-0 sector K and one power-of-two spc; the
// (spc, K) that places the most folder clusters on directory sectors wins
// (at least two).
bool DeriveVolumeFromFolders(Device& device, std::uint64_t volumeByte, std::uint64_t end,
                             const std::vector<std::uint64_t>& startSectors, const std::vector<std::uint32_t>& folders,
                             ExfatVolume& out)
{
    if (startSectors.empty() || folders.size() < 2)
        return false;
    const std::unordered_set<std::uint64_t> starts(startSectors.begin(), startSectors.end());
    std::uint32_t bestSpc = 0;
    std::uint64_t bestK = 0;
    std::size_t bestHits = 1;
    for (std::uint32_t spc = 1; spc <= 256; spc *= 2) {
        std::unordered_map<std::uint64_t, std::size_t> hits;
        for (std::uint32_t f : folders) {
            const std::uint64_t offset = static_cast<std::uint64_t>(f) * spc;
            for (std::uint64_t sector : startSectors)
                if (sector >= offset)
                    ++hits[sector - offset];
        }
        for (const auto& [k, n] : hits) {
            if (n > bestHits || (n == bestHits && bestSpc == spc && k < bestK)) {
                bestHits = n;
                bestSpc = spc;
                bestK = k;
            }
        }
    }
    if (bestSpc == 0)
        return false;
    ExfatVolume v;
    v.device = &device;
    v.volumeByte = volumeByte;
    v.clusterBytes = bestSpc * 512;
    v.heapByte = (bestK + 2ull * bestSpc) * 512;
    if (v.heapByte < volumeByte || v.heapByte >= end)
        return false;
    v.endByte = end;
    v.clusterCount = static_cast<std::uint32_t>(std::min<std::uint64_t>((end - v.heapByte) / v.clusterBytes, 0xFFFFFFF5u));
    std::uint8_t s[512];
    for (std::uint64_t b = volumeByte; b + 512 <= v.heapByte && b < volumeByte + (64ull << 20); b += 512) {
        if (ReadBytesFrom(device, b, s, sizeof s) == 0)
            continue;
        const ByteView fat(s, sizeof s);
        if (fat.U32(0) == 0xFFFFFFF8u && fat.U32(4) == 0xFFFFFFFFu) {
            v.fatByte = b;
            v.fatCells = static_cast<std::uint32_t>(std::min<std::uint64_t>((v.heapByte - b) / 4, 0xFFFFFFFFu));
            break;
        }
    }
    out = v;
    return true;
}

void StoreGeometry(CurrentPartition& p, const ExfatVolume& v)
{
    const std::uint32_t spc = v.SectorsPerCluster();
    p.Geometry.SectorsPerCluster = spc;
    p.Geometry.RootStart = v.rootCluster;
    p.Geometry.Cluster0Start = v.heapByte / 512 - 2ull * spc;
    p.Descriptor.SectorsPerCluster = spc;
    p.Descriptor.RootStart = v.rootCluster;
    p.Descriptor.Cluster0Start = p.Geometry.Cluster0Start;
    p.ExfatFallbackGeometry = true;
    p.Exfat.Cluster0Sector = p.Geometry.Cluster0Start;
    p.Exfat.VolumeByteBase = v.volumeByte;
    p.Exfat.SectorsPerCluster = spc;
    p.Exfat.HeapOffsetClusters = spc ? static_cast<std::uint32_t>((v.heapByte - v.volumeByte) / 512 / spc) : 0;
    if (v.fatByte > v.volumeByte && v.fatByte - v.volumeByte <= 0xFFFFFFFFu) {
        p.Exfat.FatByteOffset = static_cast<std::uint32_t>(v.fatByte - v.volumeByte);
        p.Geometry.SectorsPerFat = v.fatCells / 128;
        p.Descriptor.SectorsPerFat = p.Geometry.SectorsPerFat;
    }
}

}  // namespace

std::string ExfatUnnamedFileName(std::uint64_t entryByte)
{
    return "FILE_" + std::to_string(entryByte / kExfatEntrySize);
}

// ---- the directory-start test ----------------------------------------------------

bool IsExfatDirectoryStart(const std::uint8_t* sector, std::string* tag)
{
    const ByteView b(sector, 512);
    auto E = [&b](int k) { return b.U8(32 * static_cast<unsigned>(k)); };
    if (tag)
        tag->clear();
    const std::uint8_t e0 = E(0);
    const bool e0Label = e0 == 0x83 || e0 == 0x03;
    if (!IsExfatFileType(e0) && !IsExfatStreamType(e0) && !IsExfatNameType(e0) && !e0Label)
        return false;
    if (E(1) == 0 || E(2) == 0)
        return false;
    if (e0Label)
        return (IsExfatFileType(E(1)) || E(1) == 0x81 || E(1) == 0x82) && b.U64(24) == 0;
    if (IsExfatFileType(e0)) {
        return b.U8(1) >= 2 && b.U8(1) <= 18 && b.U16(4) <= 0x50 && b.U8(6) == 0 && b.U8(7) == 0 &&
               IsExfatStreamType(E(1));
    }
    if (IsExfatStreamType(e0)) {
        if (b.U8(2) != 0 || b.U16(6) != 0 || b.U32(16) != 0 || !IsExfatNameType(E(1)))
            return false;
        if (tag)
            *tag = "C0_40";
        return true;
    }
    // A name entry.
    if (b.U8(1) != 0)
        return false;
    bool pass = false;
    if (IsExfatFileType(E(1))) {
        pass = E(2) == 0xC0 || (E(2) == 0x40 && E(3) == 0xC1);
    } else if (IsExfatNameType(E(1))) {
        bool decided = false;
        for (int k = 2; k <= 4 && !decided; ++k) {
            if (IsExfatFileType(E(k))) {
                pass = true;
                decided = true;
            } else if (!IsExfatNameType(E(k))) {
                decided = true;   // rejected
            }
        }
        if (!decided) {
            pass = IsExfatNameType(E(5)) || IsExfatFileType(E(5));
            if (pass && (b.U8(80) == 0xC1 || (b.U8(80) == 0x41 && b.U8(112) == 0xC1) ||
                         (b.U8(112) == 0x41 && b.U8(144) == 0xC1) || b.U8(144) == 0x41))
                pass = false;
        }
    }
    if (pass && tag)
        *tag = "C1_41";
    return pass;
}

// ---- Basic: the volume walk ----------------------------------------------------------

ExfatScanReport ReadExfatVolumeAt(ScanResults& results, const ExfatVolume& volume, ExfatFileIndex* index,
                                  const ExfatScanControl& control)
{
    ExfatScanReport report;
    AddMiscFolder(results);
    if (!volume.Usable())
        return report;
    std::optional<ExfatWalker> walker;
    try {
        walker.emplace(results, volume, index, control, report);
        walker->WalkRoot(volume.rootCluster);
        walker->WalkQueue();
        if (index)
            index->Compact();
    } catch (const std::bad_alloc&) {
        // Out of memory: what was found stays.
        KeepFound(walker);
    }
    return report;
}

ExfatScanReport ReadExfatVolume(ScanResults& results, const CurrentPartition& partition, Device& device,
                                ExfatFileIndex* index, const ExfatScanControl& control)
{
    bool boot = false;
    const ExfatVolume volume = LoadExfatVolume(partition, device, &boot);
    ExfatScanReport report = ReadExfatVolumeAt(results, volume, index, control);
    report.bootSectorUsed = boot;
    return report;
}

// ---- Deep: the lost-directory search --------------------------------------------------

ExfatScanReport SearchExfatDirectories(ScanResults& results, CurrentPartition& partition, Device& device,
                                       ExfatFileIndex* index, const ExfatScanControl& control)
{
    ExfatScanReport report;
    const std::uint64_t end = DeviceEnd(partition, device);
    const std::uint64_t start = partition.Descriptor.StartSector;
    const std::uint64_t volumeByte = start * 512;
    if (end <= volumeByte)
        return report;
    AddMiscFolder(results);
    std::optional<ExfatWalker> walker;
    try {
        // The geometry: the boot sector, its backup (sector 12 of the boot
        // region), or the directory contents.
        ExfatVolume volume;
        bool known = VolumeFromBootSector(device, start, volumeByte, end, volume) ||
                     VolumeFromBootSector(device, start + 12, volumeByte, end, volume);
        report.bootSectorUsed = known;
        std::uint64_t sweepFrom = volumeByte;
        if (!known) {
            // The first sector that begins like a root directory (volume
            // label or bitmap entries) and derives a volume; on the way, the
            // directory sectors and the first clusters their folder sets name.
            std::vector<std::uint64_t> startSectors;
            std::vector<std::uint32_t> folders;
            std::unordered_set<std::uint32_t> folderSet;
            constexpr std::size_t kMaxStarts = 20000, kMaxFolders = 64;
            std::vector<std::uint8_t> chunk(SweepChunkBytes(volumeByte, end));
            for (std::uint64_t b = volumeByte; b < end && !known; b += chunk.size()) {
                if (control.stop && control.stop()) {
                    report.stopped = true;
                    return report;
                }
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), end - b));
                if (ReadBytesFrom(device, b, chunk.data(), n) == 0)
                    continue;
                for (std::size_t s = 0; s + 512 <= n; s += 512) {
                    const std::uint8_t* sec = chunk.data() + s;
                    const std::uint8_t e0 = sec[0];
                    if ((e0 == 0x83 || e0 == 0x03 || e0 == 0x81) &&
                        DeriveVolumeFromRoot(device, volumeByte, end, b + s, sec, volume)) {
                        known = true;
                        report.geometryDerived = true;
                        break;
                    }
                    if (!IsExfatDirectoryStart(sec))
                        continue;
                    if (startSectors.size() < kMaxStarts)
                        startSectors.push_back((b + s) / 512);
                    const ByteView entries(sec, 512);
                    for (std::size_t e = 0; e + 64 <= 512 && folders.size() < kMaxFolders; e += 32) {
                        const ByteView x = entries.Sub(e, 2 * kExfatEntrySize);
                        if (IsExfatFileType(x.U8(0)) && (x.U16(4) & kExfatDirectoryAttribute) &&
                            IsExfatStreamType(x.U8(32))) {
                            const std::uint32_t f = x.U32(32 + 20);
                            if (f >= 2 && folderSet.insert(f).second)
                                folders.push_back(f);
                        }
                    }
                }
            }
            if (!known && DeriveVolumeFromFolders(device, volumeByte, end, startSectors, folders, volume)) {
                known = true;
                report.geometryDerived = true;
            }
        }
        if (!known || !volume.Usable())
            return report;
        if (report.geometryDerived)
            StoreGeometry(partition, volume);
        sweepFrom = volume.heapByte;

        walker.emplace(results, volume, index, control, report);
        walker->WalkRoot(volume.rootCluster);
        walker->WalkQueue();

        // The sweep: every sector of the heap; clusters walked already are passed.
        std::vector<std::uint8_t> chunk(SweepChunkBytes(sweepFrom, end));
        for (std::uint64_t b = sweepFrom; b < end; b += chunk.size()) {
            if (walker->Stopped())
                break;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), end - b));
            results.CurrentScanSector = b / 512;
            report.sectorsSwept += n / 512;
            if (ReadBytesFrom(device, b, chunk.data(), n) == 0)
                continue;
            for (std::size_t s = 0; s + 512 <= n; s += 512) {
                auto cluster = volume.ClusterOfByte(b + s);
                if (!cluster || walker->IsWalked(*cluster))
                    continue;
                if (!IsExfatDirectoryStart(chunk.data() + s))
                    continue;
                walker->WalkLost(*cluster, b + s);
                walker->WalkQueue();
            }
        }
        if (index)
            index->Compact();
    } catch (const std::bad_alloc&) {
        // Out of memory: what was found stays.
        KeepFound(walker);
    }
    return report;
}

}  // namespace torvane
