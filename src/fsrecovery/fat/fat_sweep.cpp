#include "fsrecovery/fat/fat_sweep.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_chain.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/store/name_rules.h"
#include "fsrecovery/store/lost_directory_arrangement.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <unordered_set>
#include <vector>

namespace torvane {
namespace {

using Clock = std::chrono::steady_clock;

// A sector that begins with the "." and ".." entries of a directory.
bool IsDirectoryHeader(const std::uint8_t* s)
{
    return s[0] == '.' && s[1] == ' ' && s[32] == '.' && s[33] == '.' && s[34] == ' ';
}

std::string Printf(const char* fmt, unsigned long long v)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

bool Stopped(const FatSweepControl& c) { return c.stop && c.stop(); }

// The clusters of the block [b, b + count) (data area from `dataStart`)
// whose first sector cannot be read, each read alone.
void NoteUnreadableHeaders(Device& device, std::uint64_t b, std::uint32_t count, std::uint64_t dataStart,
                           std::uint32_t spc, std::vector<std::uint32_t>& out)
{
    std::uint8_t one[512];
    for (std::uint64_t idx = (b - dataStart + spc - 1) / spc;; ++idx) {
        const std::uint64_t t = dataStart + idx * spc;
        if (t >= b + count || idx + 2 > 0xFFFFFFFFull)
            break;
        SectorReadReport read;
        ReadSectorsFrom(device, 1, t, one, &read);
        if (read.unreadableSectors != 0)
            out.push_back(static_cast<std::uint32_t>(idx + 2));
    }
}

void ReportUnreadable(const FatSweepControl& control, std::string folder, std::uint64_t sectors)
{
    if (sectors != 0 && control.sink)
        control.sink->UnreadableFolder(UnreadableFolderSectors{std::move(folder), sectors});
}

// The root directory's entries that name sub-folders go to DirNameListTable.
// Root sectors that cannot be read are reported (their entries are lost).
void RootPass(ScanResults& results, const FatVolume& volume, Device& device, const FatSweepControl& control)
{
    std::uint64_t unreadable = 0;
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    rules.endByte = volume.endByte;
    SectorFetch previous;
    std::uint8_t data[512];
    auto takeSector = [&](std::uint64_t sectorNo) {
        SectorReadReport read;
        if (!ReadSectorsFrom(device, 1, sectorNo, data, &read)) {
            unreadable += read.unreadableSectors;
            return;
        }
        for (int i = 0; i < kFatEntriesPerSector; ++i) {
            FatEntryResult r;
            std::string name = TrimWhite(ParseFatDirEntry(data, i, sectorNo, rules, previous, r));
            if (r.endOfDirectory)
                return;      // the end entry ends this sector; the next one is still read
            if (name.empty())
                continue;
            const std::uint8_t* e = data + i * kFatEntrySize;
            RootDirectoryName row;
            row.self = FatEntryFirstCluster(e);
            row.name = name;
            row.date = FatEntryBytes(e).U16(24);
            row.time = FatEntryBytes(e).U16(22);
            row.sector = sectorNo;
            row.deleted = r.deleted;
            auto lk = results.Lock();
            results.DirNameList().Add(std::move(row));
        }
    };
    if (volume.fs == FsKind::Fat16) {
        previous = FixedRootPrevious(device, volume.rootStart);
        if (control.sink)
            control.sink->ProgressRange(0, static_cast<std::uint64_t>(volume.rootSectors) * 16);
        for (std::uint32_t k = 0; k < volume.rootSectors && volume.rootStart != 0 && !Stopped(control); ++k) {
            takeSector(static_cast<std::uint64_t>(volume.rootStart) + k);
            if (control.sink)
                control.sink->Progress((k + 1) * 16ull);
        }
    } else {
        ChainWalkOptions options;
        options.isIndexedFolder = [&results](std::uint32_t c) { return results.IsIndexedFolderCluster(c); };
        options.stop = control.stop;
        std::vector<std::uint32_t> chain = BuildVolumeClusterChain(device, volume, volume.rootStart, options);
        previous = ChainOrderPrevious(device, volume, chain);
        if (control.sink)
            control.sink->ProgressRange(0, chain.size() * volume.sectorsPerCluster * 16ull);
        std::uint64_t done = 0;
        for (std::uint32_t c : chain) {
            for (std::uint32_t j = 0; j < volume.sectorsPerCluster && !Stopped(control); ++j) {
                std::uint64_t sectorNo = volume.ClusterSector(c) + j;
                if (volume.endSector != 0 && sectorNo >= volume.endSector)
                    break;
                takeSector(sectorNo);
                done += 16;
                if (control.sink)
                    control.sink->Progress(done);
            }
        }
    }
    ReportUnreadable(control, "/", unreadable);
}

// The sub-folder entries of one directory sector (directory rules).
struct FolderEntry {
    std::string name;
    std::uint32_t cluster = 0;
    std::uint16_t date = 0, time = 0;
    std::uint64_t sector = 0;
    bool deleted = false;
};

// Folders whose first sector could not be read were not found by the sweep,
// but the entries that name them in their parents' directories still can
// be: the directories of the folders found are read for entries naming a
// cluster of `lost`, and each one becomes a pending folder under the folder
// whose entry names it, in its place. Folders placed so are read in turn
// (their other sectors may hold entries of lost folders too).
void PlaceFoldersOfUnreadableHeaders(ScanResults& results, const FatVolume& volume, Device& device,
                                     const FatSweepControl& control, std::unordered_set<std::uint32_t>& lost)
{
    if (lost.empty())
        return;
    std::deque<std::pair<std::uint32_t, std::string>> folders;   // cluster, name
    {
        auto lk = results.Lock();
        for (const PendingDirectory& row : results.DirList().Rows())
            if (row.self != kMiscFolderId && row.self <= 0xFFFFFFFFu)
                folders.emplace_back(static_cast<std::uint32_t>(row.self), row.name);
    }
    std::unordered_set<std::uint32_t> read;
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    rules.endByte = volume.endByte;
    constexpr std::size_t kMaxFoldersRead = 1u << 20;
    while (!folders.empty() && !lost.empty() && read.size() < kMaxFoldersRead && !Stopped(control)) {
        const auto [self, parentName] = folders.front();
        folders.pop_front();
        if (!read.insert(self).second)
            continue;
        ChainWalkOptions options;
        options.stop = control.stop;
        const std::vector<std::uint32_t> chain = BuildVolumeClusterChain(device, volume, self, options);
        const SectorFetch previous = ChainOrderPrevious(device, volume, chain);
        bool end = false;
        for (std::size_t k = 0; k < chain.size() && !end; ++k) {
            for (std::uint32_t j = 0; j < volume.sectorsPerCluster && !end; ++j) {
                const std::uint64_t sectorNo = volume.ClusterSector(chain[k]) + j;
                if (volume.endSector != 0 && sectorNo >= volume.endSector)
                    break;
                std::uint8_t data[512];
                if (!ReadSectorsFrom(device, 1, sectorNo, data))
                    continue;
                for (int i = 0; i < kFatEntriesPerSector; ++i) {
                    FatEntryResult r;
                    std::string name = TrimWhite(ParseFatDirEntry(data, i, sectorNo, rules, previous, r));
                    if (r.endOfDirectory) {
                        end = true;
                        break;
                    }
                    const std::uint8_t* e = data + i * kFatEntrySize;
                    const std::uint32_t cluster = FatEntryFirstCluster(e);
                    if (name.empty() || !lost.count(cluster))
                        continue;
                    lost.erase(cluster);
                    auto lk = results.Lock();
                    std::size_t row = results.AddPendingDirectory(name, sectorNo, cluster, self,
                                                                  FatEntryBytes(e).U16(24), FatEntryBytes(e).U16(22));
                    results.DirList().Row(row).deleted = r.deleted;
                    ++results.FoundFolderCount;
                    ReportUnreadable(control, parentName + "/" + name, 1);
                    folders.emplace_back(cluster, name);
                }
            }
        }
    }
}

}  // namespace

int RecalculateFatParameters(CurrentPartition& p, Device& device, const FatSweepControl& control)
{
    const FsKind fs = FsKindFromText(p.Descriptor.FsType);
    const std::uint64_t start = p.Descriptor.StartSector;
    const std::uint64_t end = std::min<std::uint64_t>(p.Descriptor.EndSector, device.SizeBytes() / kSectorSize);
    const bool fat16 = fs == FsKind::Fat16;
    if (!IsFatKind(fs) && fs != FsKind::Exfat)
        return 0;
    VolumeGeometry& g = p.Geometry;
    ScanSink* sink = control.sink;

    // Reserved sectors: the last sector of the window that begins like a FAT.
    g.ReservedSectors = 0;
    std::uint8_t one[512];
    const unsigned first = fat16 ? 0 : 30, last = fat16 ? 9 : 59;
    for (unsigned off = first; off <= last; ++off)
        if (ReadSectorsFrom(device, 1, start + off, one) && one[0] == 0xF8 && one[1] == 0xFF)
            g.ReservedSectors = off;
    if (g.ReservedSectors == 0)
        g.ReservedSectors = fat16 ? 1 : 32;
    if (fat16) {
        g.RootSectors = 32;
    } else {
        g.RootStart = 2;
        g.RootSectors = 0;
    }
    if (sink) {
        sink->ProgressRange(start, end);
        sink->StatusText(Printf("/ %llu [ Calculating Partition Parameters ] ...", p.Descriptor.EndSector));
    }

    bool pairing = false;
    std::uint64_t s0 = 0;
    std::uint32_t n0 = 0;
    // A volume smaller than one block needs no more than its own size.
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(kSweepBlockSectors, end > start ? end - start : 1)) *
        kSectorSize);
    const std::uint64_t fatStart = start + g.ReservedSectors;
    for (std::uint64_t b = start; b < end; b += kSweepBlockSectors) {
        if (Stopped(control))
            return 0;
        std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kSweepBlockSectors, end - b));
        if (sink)
            sink->Progress(b);
        if (!ReadSectorsFrom(device, count, b, block.data()))
            continue;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* sec = block.data() + static_cast<std::size_t>(i) * kSectorSize;
            if (!IsDirectoryHeader(sec))
                continue;
            const std::uint64_t s = b + i;
            const std::uint32_t n = FatEntryFirstCluster(sec);
            if (!pairing) {
                s0 = s;
                n0 = n;
                pairing = n >= 2 && n <= 0xFFFFFFFEu;
                continue;
            }
            bool ok = n0 >= 2 && n != 0xFFFFFFFFu && n != n0 && n < s && n < s0;
            std::uint32_t d = n - n0;
            std::uint64_t delta = s - s0;
            std::uint64_t q = 0;
            std::uint64_t k = 0;
            if (ok && d != 0 && delta % d == 0) {
                q = delta / d;
                ok = q == 1 || q == 2 || q == 4 || q == 8 || q == 16 || q == 32 || q == 64 || q == 128;
            } else {
                ok = false;
            }
            if (ok) {
                ok = static_cast<std::uint64_t>(n0) * q <= s0 && static_cast<std::uint64_t>(n) * q <= s &&
                     s0 - static_cast<std::uint64_t>(n0) * q == s - static_cast<std::uint64_t>(n) * q;
                k = s0 - static_cast<std::uint64_t>(n0) * q;
            }
            // The FAT area must have room: a cluster 0 in front of the FATs
            // would give a negative FAT length.
            std::uint64_t fatArea = 0;
            if (ok) {
                std::uint64_t dataStart = k + 2 * q;
                std::uint64_t used = fatStart + (fat16 ? 32 : 0);
                ok = dataStart > used;
                fatArea = ok ? dataStart - used : 0;
                ok = ok && fatArea / 2 > 0 && fatArea / 2 <= 0xFFFFFFFFull && k <= 0xFFFFFFFFull;
            }
            if (!ok) {
                s0 = s;
                n0 = n;
                continue;
            }
            g.Cluster0Start = k;
            g.SectorsPerCluster = static_cast<std::uint32_t>(q);
            g.SectorsPerFat = static_cast<std::uint32_t>(fatArea / 2);
            g.FirstFatStart = static_cast<std::uint32_t>(fatStart);
            g.SecondFatStart = g.FirstFatStart + g.SectorsPerFat;
            if (fat16)
                g.RootStart = g.SecondFatStart + g.SectorsPerFat;
            g.NumberOfFats = 2;
            return 1;
        }
    }
    return 0;
}

void SweepFatVolume(ScanResults& results, const FatVolume& volume, Device& device, const FatSweepControl& control)
{
    ScanSink* sink = control.sink;
    const std::uint32_t spc = volume.sectorsPerCluster;
    const std::uint64_t dataStart = volume.cluster0Start + 2ull * spc;
    std::uint64_t end = volume.endSector;
    if (volume.endByte != 0)
        end = std::min<std::uint64_t>(end, volume.endByte / kSectorSize);

    {
        auto lk = results.Lock();
        // Names left over from a sweep that did not finish must not name this one's clusters.
        results.DirNameList().Clear();
        ++results.FoundFolderCount;
        results.AddPendingDirectory(kMiscFolderName, 0, kMiscFolderId, kNtfsRootId, 0, CurrentFatTimeWord());
    }
    if (sink) {
        sink->StatusText(Printf("sectors  of  total %llu", volume.endSector));
        sink->ProgressRange(dataStart, volume.endSector);
    }
    if (spc == 0)
        return;

    const bool fat32 = volume.fs == FsKind::Fat32;
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(kSweepBlockSectors, end > dataStart ? end - dataStart : 1)) *
        kSectorSize);
    bool rootDone = false;
    std::uint64_t dirNumber = 0;
    // Clusters whose first sector could not be read: a folder may have begun there.
    std::vector<std::uint32_t> unreadableHeaders;
    Clock::time_point lastInterim = Clock::now();
    for (std::uint64_t b = dataStart; b < end; b += kSweepBlockSectors) {
        results.CurrentScanSector = b;
        if (sink)
            sink->Progress(b);
        if (Stopped(control))
            break;
        std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kSweepBlockSectors, end - b));
        // A short read at the end of the device comes back zero-filled, and a
        // failed read leaves nothing to examine: no stale bytes of the
        // previous block are ever tested. Unreadable sectors read as zeros;
        // the first sectors of clusters among them are noted.
        SectorReadReport read;
        const bool readable = ReadSectorsFrom(device, count, b, block.data(), &read) != 0;
        if (read.unreadableSectors != 0)
            NoteUnreadableHeaders(device, b, count, dataStart, spc, unreadableHeaders);
        if (!readable)
            continue;
        if (!rootDone) {
            rootDone = true;
            if (sink)
                sink->StepText(kSearchingLostDirectoriesText);
            RootPass(results, volume, device, control);
            if (sink) {
                sink->StepText("");
                sink->StatusText(Printf("sectors  of  total %llu", volume.endSector));
                sink->ProgressRange(dataStart, volume.endSector);
            }
        }
        // The clusters whose first sector lies in this block. Their numbers
        // follow from the block's position, so a block that could not be
        // read never puts later clusters out of step.
        std::uint64_t firstIndex = (b - dataStart + spc - 1) / spc;
        // Only the first 64 bytes of each cluster are tested. Large reads
        // reach memory past the cache, so ask for all those lines at once
        // rather than waiting for them one by one.
        for (std::uint64_t t = dataStart + firstIndex * spc; t < b + count; t += spc)
            __builtin_prefetch(block.data() + (t - b) * kSectorSize);
        for (std::uint64_t idx = firstIndex;; ++idx) {
            std::uint64_t t = dataStart + idx * spc;
            if (t >= b + count)
                break;
            std::uint64_t e = idx + 2;
            if (e > 0xFFFFFFFFull)
                break;
            const std::uint8_t* sec = block.data() + (t - b) * kSectorSize;
            if (!IsDirectoryHeader(sec) || FatEntryFirstCluster(sec) != e)
                continue;
            std::uint32_t parent = FatEntryFirstCluster(sec + 32);
            // ".." of a root child names 0; some writers name the FAT32 root cluster instead.
            if (fat32 && parent == volume.rootStart)
                parent = 0;
            ++dirNumber;
            std::string name = "DIR" + std::to_string(dirNumber);
            bool deleted = false;
            auto lk = results.Lock();
            RootDirectoryName rootName;
            if (results.DirNameList().TakeLast(static_cast<std::uint32_t>(e), rootName)) {
                name = rootName.name;
                deleted = rootName.deleted;
            }
            ++results.FoundFolderCount;
            const ByteView dot = FatEntryBytes(sec);
            std::size_t row = results.AddPendingDirectory(name, t, e, parent, dot.U16(24), dot.U16(22));
            results.DirList().Row(row).deleted = deleted;
        }
        if (control.interimInterval.count() > 0 && Clock::now() - lastInterim >= control.interimInterval) {
            ArrangeBasicFatDirectories(results, nullptr, true, control.stop);
            lastInterim = Clock::now();
        }
    }
    // A volume with no readable block still gets its root names.
    if (!rootDone && !Stopped(control))
        RootPass(results, volume, device, control);

    // A folder whose first sector could not be read keeps its place when
    // its own entry can be read: a root folder by its root name, any other
    // by its parent's entries. What is left may have been a folder or not.
    std::unordered_set<std::uint32_t> lost;
    for (std::uint32_t e : unreadableHeaders) {
        RootDirectoryName rootName;
        auto lk = results.Lock();
        if (results.DirNameList().TakeLast(e, rootName)) {
            ++results.FoundFolderCount;
            std::size_t row =
                results.AddPendingDirectory(rootName.name, rootName.sector, e, 0, rootName.date, rootName.time);
            results.DirList().Row(row).deleted = rootName.deleted;
            ReportUnreadable(control, "/" + rootName.name, 1);
        } else {
            lost.insert(e);
        }
    }
    PlaceFoldersOfUnreadableHeaders(results, volume, device, control, lost);
    ReportUnreadable(control, "", lost.size());
}

void DrainRootDirectoryNames(ScanResults& results)
{
    auto lk = results.Lock();
    for (const RootDirectoryName& n : results.DirNameList().LiveRows()) {
        std::size_t row = results.AddPendingDirectory(n.name, n.sector, n.self, kMiscFolderId, n.date, n.time);
        results.DirList().Row(row).deleted = n.deleted;
    }
    results.DirNameList().Clear();
}

void RunBasicFatSteps(ScanResults& results, ScanSink* sink)
{
    if (results.Kind() == FsKind::Exfat)
        results.SortFoundEntries();
    if (sink) {
        sink->Progress(0);
        sink->StepText(kStep1Of5Text);
    }
    results.PurgePlacedPendingDirectories(sink);
    DrainRootDirectoryNames(results);
    if (sink)
        sink->StepText(kStep2Of5Text);
    results.SortPendingDirectories();
    if (sink) {
        sink->StatusText("");
        sink->StepText(kStep3Of5Text);
    }
    ArrangeBasicFatDirectories(results, sink, false);
}

}  // namespace torvane
