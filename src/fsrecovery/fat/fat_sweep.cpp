#include "fsrecovery/fat/fat_sweep.h"

#include "disk/sector_reader.h"
#include "fsrecovery/fat/fat_chain.h"
#include "fsrecovery/fat/fat_directory.h"
#include "fsrecovery/store/name_rules.h"
#include "fsrecovery/store/lost_directory_arrangement.h"

#include <algorithm>
#include <cstdio>
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

// The root directory's entries that name sub-folders go to DirNameListTable.
void RootPass(ScanResults& results, const FatVolume& volume, Device& device, const FatSweepControl& control)
{
    FatEntryRules rules;
    rules.mode = FatEntryMode::Directory;
    rules.endByte = volume.endByte;
    SectorFetch previous;
    std::uint8_t data[512];
    auto takeSector = [&](std::uint64_t sectorNo) {
        if (!ReadSectorsFrom(device, 1, sectorNo, data))
            return;
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
        // previous block are ever tested.
        if (!ReadSectorsFrom(device, count, b, block.data()))
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
