#include "partsearch/partition_search.h"

#include "disk/boot_record.h"
#include "disk/fs_kind.h"
#include "disk/sector_bytes.h"
#include "partsearch/boot_candidate.h"
#include "partsearch/evidence_engine.h"
#include "partsearch/sweep_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
// Blocks are read where they are examined: from the page cache a reading
// thread of its own costs more (the block crosses to another core) than it
// saves, and a disk read sequentially is read ahead by the kernel anyway.
constexpr unsigned kBlockStreamDepth = 0;
constexpr std::size_t kProbesPerThread = 16;
constexpr std::uint64_t kAlignSectors = 2048;   // 1 MiB

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

class Search final : private EvidenceHost {
public:
    Search(const PartitionSearchParams& params, const PartitionSearchControl& control)
        : params_(params), control_(control), device_(*params.device)
    {
        T_ = params.diskSectors ? params.diskSectors : device_.SizeBytes() / kSectorSize;
        out_.table = params.table;
        out_.table.RecordCount = std::min<std::uint32_t>(out_.table.RecordCount, kMaxPartitionsPerDisk);
        shown_ = params.shownPartitions >= 0 ? static_cast<std::uint32_t>(params.shownPartitions)
                                             : out_.table.RecordCount;
        q_ = shown_;
    }

    PartitionSearchOutcome Run()
    {
        switch (params_.depth) {
        case SmpMode::Standard: StandardSweep(); break;
        case SmpMode::Advanced: AdvancedSweep(); break;
        case SmpMode::Cylinder: CylinderProbe(); break;
        case SmpMode::None: break;
        }
        return std::move(out_);
    }

private:
    DiskPartitionEntry& Table() { return out_.table; }

    bool StopNow() { return SweepStopAsked(control_.stop, out_.stopped); }
    void Publish(std::uint64_t sector) { PublishSweepSector(control_.currentSector, sector); }

    // What ReadVolumeParameters derives for a partition of `type` at [start, end).
    std::optional<VolumeGeometry> ReadGeometry(const std::string& type, std::uint64_t start, std::uint64_t end)
    {
        CurrentPartition scratch;
        scratch.Descriptor.FsType = type;
        scratch.Descriptor.StartSector = start;
        scratch.Descriptor.EndSector = end;
        scratch.Descriptor.ItemStart = start;
        if (ReadVolumeParameters(scratch, device_) != 1)
            return std::nullopt;
        return scratch.Geometry;
    }

    // ReadVolumeParameters of known record j, read once per record (the disk
    // does not change while it is searched).
    const std::optional<VolumeGeometry>& RecordGeometry(std::uint32_t j)
    {
        auto it = recordGeometry_.find(j);
        if (it == recordGeometry_.end()) {
            const PartitionRecord& r = Table().Records[j];
            it = recordGeometry_.emplace(j, ReadGeometry(Table().FsNames[j], r.StartSector, r.EndSector)).first;
        }
        return it->second;
    }

    // The end of the first record that starts at `start`, else `fallback`.
    std::uint64_t LookupEnd(std::uint64_t start, std::uint64_t fallback)
    {
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j)
            if (Table().Records[j].StartSector == start)
                return Table().Records[j].EndSector;
        return fallback;
    }

    // Writes a new record and reports it. True when the search must end: the
    // automatic way made this partition current, or the table is full.
    bool Record(FsKind kind, std::uint64_t start, std::uint64_t end, const VolumeGeometry* geometry, FoundBy by,
                std::uint64_t automaticEnd = 0)
    {
        const std::string type(FsKindText(kind));
        if (Table().Full()) {
            out_.tableFull = true;
            return true;
        }
        const int pos = Table().Append(type, start, end, kNoTreeItem);
        FoundPartitionEvent ev;
        ev.index = pos;
        ev.fsName = type;
        ev.start = start;
        ev.end = end;
        ev.by = by;
        ev.itemText = PartitionItemText(pos + 1, type);
        if (geometry) {
            Table().Records[static_cast<std::size_t>(pos)].Geometry = *geometry;
            ev.hasGeometry = true;
            ev.geometry = *geometry;
        }
        const bool automatic = params_.automatic && by == FoundBy::BootSector;
        if (automatic) {
            AutomaticFind find;
            find.partition.Descriptor.FsType = type;
            find.partition.Descriptor.StartSector = start;
            find.partition.Descriptor.EndSector = automaticEnd;
            find.partition.Descriptor.EndByte =
                automaticEnd > kU64Max / kSectorSize ? kU64Max : automaticEnd * kSectorSize;
            find.partition.Descriptor.ItemStart = start;
            find.partition.Descriptor.DiskNumber = static_cast<std::uint16_t>(params_.diskNumber);
            find.partition.DevicePath = params_.device->Path();
            find.partition.Device = params_.device;
            find.volumeParamsOk = ReadVolumeParameters(find.partition, device_);
            out_.automatic = std::move(find);
            ev.automatic = true;
        } else {
            ++q_;
        }
        out_.found.push_back(ev);
        if (control_.onFound)
            control_.onFound(ev);
        return automatic;
    }

    // --- Standard sweep ---------------------------------------------------------------

    // Reads sector `s` for the Standard sweep: one read per probe, or, with
    // read-ahead, the dense start in one read and the later probes in
    // parallel batches laid out as if no partition were found in between.
    class ProbeSource {
    public:
        ProbeSource(Device& device, std::uint64_t diskSectors, unsigned threads)
            : device_(device), T_(diskSectors)
        {
            if (threads > 0)
                pool_ = std::make_unique<ProbeReader>(device, threads);
            batchSize_ = std::max<std::size_t>(1, threads * kProbesPerThread);
        }

        bool Read(std::uint64_t s, SectorBytes& out)
        {
            if (!pool_)
                return ReadOneSector(device_, s, out);
            if (s < kStandardDenseSectors) {
                if (!denseRead_) {
                    denseRead_ = true;
                    denseFirst_ = s;
                    const std::uint64_t end = std::min(kStandardDenseSectors, T_);
                    dense_.resize(static_cast<std::size_t>(end > s ? end - s : 0) * kSectorSize);
                    denseGot_ = ReadAsFarAsPossible(device_, s * kSectorSize, dense_.data(), dense_.size());
                }
                if (s >= denseFirst_) {
                    const std::uint64_t off = (s - denseFirst_) * kSectorSize;
                    if (off + kSectorSize <= denseGot_) {
                        std::memcpy(out.b.data(), dense_.data() + off, kSectorSize);
                        return true;
                    }
                }
                return ReadOneSector(device_, s, out);
            }
            auto it = std::lower_bound(positions_.begin(), positions_.end(), s);
            if (it == positions_.end() || *it != s) {
                positions_.clear();
                for (std::uint64_t p = s; p < T_ && positions_.size() < batchSize_;
                     p = SaturatingAdd(p, p < kStandardDenseSectors ? 1 : kStandardStep))
                    positions_.push_back(p);
                pool_->Read(positions_, data_, ok_);
                it = positions_.begin();
            }
            const std::size_t i = static_cast<std::size_t>(it - positions_.begin());
            std::memcpy(out.b.data(), data_[i].data(), kSectorSize);
            return ok_[i] != 0;
        }

    private:
        Device& device_;
        std::uint64_t T_;
        std::unique_ptr<ProbeReader> pool_;
        std::size_t batchSize_ = 1;
        bool denseRead_ = false;
        std::uint64_t denseFirst_ = 0;
        std::vector<std::uint8_t> dense_;
        std::size_t denseGot_ = 0;
        std::vector<std::uint64_t> positions_;
        std::vector<ProbeReader::Sector> data_;
        std::vector<char> ok_;
    };

    void StandardSweep()
    {
        ProbeSource source(device_, T_, params_.readAheadThreads);
        std::uint64_t s = 0, step = 1;
        SectorBytes sector;
        while (s < T_) {
            if (StopNow())
                return;
            Publish(s);
            if (step == 1)
                step = s < kStandardDenseSectors ? 1 : kStandardStep;
            const std::uint64_t next = SaturatingAdd(s, step);
            if (!source.Read(s, sector) || !sector.HasSignature()) {
                s = next;
                continue;
            }
            if (q_ >= kPartitionSearchLimit)
                return;
            const auto c = MatchSweepBootSector(sector.View(), s);
            if (!c) {
                s = next;
                continue;
            }
            // The next sector examined is the one just past the partition
            // (past its backup boot sector on NTFS). A size that would wrap
            // ends the sweep instead of leading back before the boot sector.
            const std::uint64_t past = c->kind == FsKind::Ntfs ? SaturatingAdd(c->End(), 1) : c->End();
            // A FAT boot sector of a known volume listed with another end.
            std::optional<std::uint64_t> cluster0;
            if (IsFatKind(c->kind) && HasFatRecord())
                if (auto g = ReadGeometry(std::string(FsKindText(c->kind)), c->start, c->End()))
                    cluster0 = g->Cluster0Start;
            if (IsKnownToStandardSweep(Table(), q_, *c, cluster0)) {
                s = past;
                continue;
            }
            if (Record(c->kind, c->start, c->End(), nullptr, FoundBy::BootSector, c->End()))
                return;
            step = kStandardStep;
            s = past;
        }
    }

    // --- Advanced sweep -----------------------------------------------------------------

    void AdvancedSweep()
    {
        const std::uint64_t S0 = params_.rangeStart;
        if (S0 >= T_)
            return;
        // The disk's records are what the evidence may already belong to;
        // every partition shown forgets the FAT tables met before it.
        EvidenceRules rules;
        rules.end = T_;
        rules.sectorBase = S0;
        rules.keptFindForgetsFatTables = true;
        rules.currentSector = control_.currentSector;
        EvidenceEngine evidence(device_, *this, rules);
        BlockStream stream(device_, S0, T_, kAdvancedBlockSectors, kBlockStreamDepth);
        BlockStream::Block block;
        while (stream.Next(block)) {
            if (StopNow())
                return;
            Publish(block.start);
            if (evidence.ExamineBlock(block.start, block.data, block.sectors))
                return;
            Publish(block.start + block.sectors - (block.sectors ? 1 : 0));
        }
    }

    static EvidenceVerdict Kept(bool endsSearch)
    {
        return endsSearch ? EvidenceVerdict::EndSweep : EvidenceVerdict::Recorded;
    }

    // A record as the sweep itself writes one for a find at `start` (to the
    // disk's end) or for one in the block at `b`.
    bool SweepLikeRecord(const PartitionRecord& r, std::uint64_t start, std::uint64_t b) const
    {
        return (r.StartSector == start && (r.EndSector == SaturatingAdd(start, T_) || r.EndSector == T_)) ||
               (r.StartSector == b && r.EndSector == SaturatingAdd(b, T_));
    }

    bool BootSector(EvidenceEngine& evidence, std::uint64_t x, std::uint64_t b, ByteView sector) override
    {
        if (q_ >= kPartitionSearchLimit)
            return true;
        const auto c = MatchSweepBootSector(sector, x);
        if (!c)
            return false;
        evidence.ForgetFatTablePair();
        const std::uint64_t ec = std::min(c->End(), T_);
        // The candidate's own volume, read the way a scan would read it: its
        // cluster 0 tells a FAT32 boot sector of a known volume (its backup
        // copy) apart, and a new FAT partition keeps the geometry.
        std::optional<VolumeGeometry> geometry;
        if (IsFatKind(c->kind))
            geometry = ReadGeometry(std::string(FsKindText(c->kind)), c->start, ec);
        std::optional<std::uint64_t> cluster0;
        if (geometry)
            cluster0 = geometry->Cluster0Start;
        if (c->start >= T_ || IsKnownToAdvancedSweep(Table(), q_, *c, b, T_, cluster0))
            return false;
        evidence.BootSectorTaken(c->kind);
        return Record(c->kind, c->start, ec, geometry ? &*geometry : nullptr, FoundBy::BootSector, c->End());
    }

    bool HasFatRecord()
    {
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j)
            if (StartsWith(Table().FsNames[j], "FAT"))
                return true;
        return false;
    }

    // A FAT table at X that is the first or second FAT of a known FAT record.
    bool KnownFatTable(std::uint64_t x) override
    {
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j) {
            if (!StartsWith(Table().FsNames[j], "FAT"))
                continue;
            const auto& g = RecordGeometry(j);
            if (g && x <= 0xFFFFFFFFu && (g->FirstFatStart == x || g->SecondFatStart == x))
                return true;
        }
        return false;
    }

    // A record of a known NTFS volume: its $MFT or $MFTMirr starts 2 sectors
    // before, or the record starts where the $MFTMirr record places it.
    bool KnownMftMirrRecord(std::uint64_t x, const NtfsPlacement& placement) override
    {
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j) {
            if (!StartsWith(Table().FsNames[j], "NTFS"))
                continue;
            const auto& g = RecordGeometry(j);
            if (g && x >= 2 && (g->MftStart == x - 2 || g->MftMirrStart == x - 2))
                return true;
            if (Table().Records[j].StartSector == placement.start)
                return true;
        }
        return false;
    }

    EvidenceVerdict NtfsFound(const NtfsPlacement& n, std::uint64_t b) override
    {
        const std::uint64_t P = n.start;
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j)
            if (Table().FsNames[j] == "NTFS" && SweepLikeRecord(Table().Records[j], P, b))
                return EvidenceVerdict::Known;
        VolumeGeometry g;
        g.SectorsPerCluster = n.sectorsPerCluster;
        g.Cluster0Start = P;
        g.MftStart = n.mftStart;
        g.MftMirrStart = n.mftMirrStart;
        g.FileRecordSectors = n.fileRecordSectors;
        return Kept(Record(FsKind::Ntfs, P, LookupEnd(P, T_), &g, FoundBy::MftMirr));
    }

    EvidenceVerdict ExfatFound(std::uint64_t x, std::uint64_t b) override
    {
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j) {
            const PartitionRecord& r = Table().Records[j];
            if (Table().FsNames[j] != "exFAT")
                continue;
            // The folders of a known exFAT volume are that volume's.
            if (SweepLikeRecord(r, x, b) || (r.StartSector <= x && x < r.EndSector))
                return EvidenceVerdict::Known;
        }
        return Kept(Record(FsKind::Exfat, x, LookupEnd(x, T_), nullptr, FoundBy::ExfatEntries));
    }

    EvidenceVerdict FatFound(const FatEvidence& fat, std::uint64_t b) override
    {
        const std::string type(FsKindText(fat.type));
        for (std::uint32_t j = 0; j < Table().RecordCount; ++j) {
            const std::string& nj = Table().FsNames[j];
            if (StartsWith(nj, "FAT") && Table().Records[j].Geometry.Cluster0Start == fat.geometry.Cluster0Start)
                return EvidenceVerdict::Known;
            if (nj == type && SweepLikeRecord(Table().Records[j], fat.start, b))
                return EvidenceVerdict::Known;
        }
        return Kept(Record(fat.type, fat.start, LookupEnd(fat.start, fat.end), &fat.geometry, fat.by));
    }
    // --- Cylinder probe -------------------------------------------------------------------

    void CylinderProbe()
    {
        constexpr std::uint64_t H = 255, S = 63;
        const std::uint64_t cylinders = params_.cylinders ? params_.cylinders : T_ / (H * S);
        const std::uint32_t known = shown_;
        SectorBytes sector;
        auto probe = [&](std::uint64_t L) {
            Publish(L);
            return ReadOneSector(device_, L, sector) && sector.HasSignature();
        };
        for (std::uint64_t y = 0; y < cylinders; ++y) {
            if (StopNow())
                return;
            // The first sector of head 1, else the first sector of the cylinder.
            std::uint64_t L = (y * H + 1) * S;
            bool signed_ = probe(L);
            if (!signed_) {
                L = y * H * S;
                signed_ = probe(L);
            }
            if (signed_) {
                if (known >= kPartitionSearchLimit)
                    return;
                if (CylinderCandidate(L, sector, known))
                    return;
            }
            // Then every 1 MiB-aligned sector of the cylinder: memory cards
            // formatted the modern way start their partition there.
            for (std::uint64_t a = (y * H * S + kAlignSectors - 1) / kAlignSectors * kAlignSectors;
                 a < (y + 1) * H * S; a += kAlignSectors) {
                if (a == (y * H + 1) * S || a == y * H * S || !probe(a))
                    continue;
                if (known >= kPartitionSearchLimit)
                    return;
                if (CylinderCandidate(a, sector, known))
                    return;
            }
        }
    }

    // The boot sector of a probe (NTFS is tested only when byte 3 is 'N'):
    // recorded unless records 0 to K - 1 hold it already. True when the probe ends.
    bool CylinderCandidate(std::uint64_t L, const SectorBytes& sector, std::uint32_t known)
    {
        const ByteView v = sector.View();
        FsKind kind = FsKind::Unknown;
        if (v.Matches(0x55, "32"))
            kind = FsKind::Fat32;
        else if (v.Matches(0x39, "16"))
            kind = FsKind::Fat16;
        else if (v.U8(3) == 'N')
            kind = v.Matches(3, "NTFS") ? FsKind::Ntfs : FsKind::Unknown;
        else if (v.Matches(3, "EXFAT"))
            kind = FsKind::Exfat;
        const std::uint64_t size = BootRecordSectors(v, kind);
        if (kind == FsKind::Unknown || size == 0)
            return false;
        const std::uint64_t end = SaturatingAdd(L, size);
        const std::string type(FsKindText(kind));
        for (std::uint32_t j = 0; j < std::min(known, Table().RecordCount); ++j)
            if (Table().Records[j].StartSector == L && Table().Records[j].EndSector == end && Table().FsNames[j] == type)
                return false;
        std::optional<VolumeGeometry> geometry;
        if (IsFatKind(kind))
            geometry = ReadGeometry(type, L, end);
        return Record(kind, L, end, geometry ? &*geometry : nullptr, FoundBy::BootSector, end);
    }

    const PartitionSearchParams& params_;
    const PartitionSearchControl& control_;
    Device& device_;
    std::uint64_t T_ = 0;
    std::uint32_t shown_ = 0;     // K: partitions the disk showed at the start
    std::uint32_t q_ = 0;         // K plus the partitions shown since
    std::map<std::uint32_t, std::optional<VolumeGeometry>> recordGeometry_;
    PartitionSearchOutcome out_;
};

}  // namespace

const char* FoundByText(FoundBy by)
{
    switch (by) {
    case FoundBy::BootSector: return "boot-sector";
    case FoundBy::MftMirr: return "mftmirr";
    case FoundBy::ExfatEntries: return "exfat-entries";
    case FoundBy::FatFolders: return "fat-folders";
    case FoundBy::FatTables: return "fat-tables";
    }
    return "?";
}

PartitionSearchOutcome RunPartitionSearch(const PartitionSearchParams& params, const PartitionSearchControl& control)
{
    if (!params.device)
        return PartitionSearchOutcome{params.table, {}, std::nullopt, false, false};
    return Search(params, control).Run();
}

std::optional<AutomaticFind> FindFirstPartition(PartitionSearchParams params, std::function<bool()> stop)
{
    params.automatic = true;
    PartitionSearchControl control;
    control.stop = std::move(stop);
    return RunPartitionSearch(params, control).automatic;
}

PartitionSearchJob::PartitionSearchJob(PartitionSearchParams params, PartitionSearchEvents* events)
    : Job(events), params_(std::move(params)), searchEvents_(events)
{
}

PartitionSearchJob::~PartitionSearchJob() { StopAndWait(); }

void PartitionSearchJob::Run()
{
    outcome_ = PartitionSearchOutcome{};
    outcome_.table = params_.table;
    Progress().Reset();
    if (!params_.device)
        return;
    Progress().total = params_.diskSectors ? params_.diskSectors : params_.device->SizeBytes() / kSectorSize;
    if (!SmpModeStatusLetter(params_.depth).empty())
        Status(SmpModeStatusLetter(params_.depth));
    PartitionSearchControl control;
    control.stop = [this] { return StopRequested(); };
    control.currentSector = &Progress().done;
    control.onFound = [this](const FoundPartitionEvent& found) {
        if (!found.automatic)
            ++Progress().folders;
        if (searchEvents_)
            searchEvents_->OnPartitionFound(found);
    };
    outcome_ = RunPartitionSearch(params_, control);
}

unsigned SuggestedReadAheadThreads(const std::string& devicePath)
{
    // A block device's queue says whether it rotates; anything else (an
    // image file, a device sysfs does not describe) is read ahead.
    const std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : std::string();
    if (!name.empty()) {
        for (std::string base = name; !base.empty(); base.pop_back()) {
            std::ifstream in("/sys/block/" + base + "/queue/rotational");
            int rotational = 0;
            if (in >> rotational)
                return rotational ? 0 : 8;
        }
    }
    return 8;
}

}  // namespace torvane
