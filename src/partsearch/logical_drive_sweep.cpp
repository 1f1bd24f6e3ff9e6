#include "partsearch/logical_drive_sweep.h"

#include "disk/boot_record.h"
#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "disk/drive_tree_rules.h"
#include "disk/fs_kind.h"
#include "disk/sector_bytes.h"
#include "partsearch/boot_candidate.h"
#include "partsearch/evidence_engine.h"
#include "partsearch/partition_search_text.h"
#include "partsearch/sweep_reader.h"
#include "platform/device_registry.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <optional>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Num(std::uint64_t v) { return std::to_string(v); }

// The FAT geometry a boot sector at X gives, as the row's columns store it:
// the FATs and cluster 0 on the drive. Cluster 0 lies where cluster 2 (the
// data area) begins, two clusters back.
struct FatColumns {
    std::uint64_t spf = 0, spc = 0, rootSectors = 0, rootStart = 0, reserved = 0, cluster0 = 0, fat1 = 0, fat2 = 0;
};

FatColumns FatColumnsOf(ByteView sector, FsKind kind, std::uint64_t x)
{
    const FatBootRecord r = DecodeFatBootRecord(sector);
    FatColumns c;
    c.spf = r.SectorsPerFat(kind);
    c.spc = r.sectorsPerCluster;
    c.reserved = r.reservedSectors;
    const std::uint64_t fats = r.numberOfFats == 1 ? 1 : 2;
    c.fat1 = x + c.reserved;
    c.fat2 = c.fat1 + c.spf;
    const std::uint64_t data = c.fat1 + fats * c.spf;
    if (kind == FsKind::Fat16) {
        c.rootSectors = r.rootEntryCount / 16;
        c.rootStart = data;
        c.cluster0 = data + c.rootSectors - 2 * c.spc;
    } else {
        c.rootSectors = 0;
        c.rootStart = r.rootCluster;
        c.cluster0 = data - 2 * c.spc;
    }
    // A hostile boot sector may give a cluster 0 in front of the volume.
    if (c.cluster0 > data + c.rootSectors)
        c.cluster0 = 0;
    return c;
}

class Sweep final : private EvidenceHost {
public:
    Sweep(const LogicalSweepParams& params, const LogicalSweepControl& control)
        : params_(params), control_(control), device_(*params.device)
    {
        E_ = params.driveSectors ? params.driveSectors : device_.SizeBytes() / kSectorSize;
        limit_ = params.endLimit ? params.endLimit : E_;
        key_ = RecognisedVolumeKey(params.volumePath);
        for (const RecognisedVolume& r : params.knownRows)
            if (SameKey(r.Key))
                rows_.push_back(r);
    }

    LogicalSweepOutcome Run()
    {
        out_.opened = true;
        // This drive's rows are what the evidence may already belong to;
        // sector numbers count from the drive's first sector.
        EvidenceRules rules;
        rules.end = E_;
        rules.sectorBase = 0;
        rules.dropStartPastFirstFat = true;
        rules.currentSector = control_.currentSector;
        EvidenceEngine evidence(device_, *this, rules);
        BlockStream stream(device_, 0, E_, kLogicalSweepChunkSectors, 0);
        BlockStream::Block block;
        while (!StopNow() && stream.Next(block)) {
            Publish(block.start);
            evidence.ExamineBlock(block.start, block.data, block.sectors);
        }
        return std::move(out_);
    }

private:
    bool SameKey(const std::string& key) const
    {
        return key.size() == key_.size() && std::equal(key.begin(), key.end(), key_.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
    }
    bool StopNow() { return SweepStopAsked(control_.stop, out_.stopped); }
    void Publish(std::uint64_t sector) { PublishSweepSector(control_.currentSector, sector); }

    // The volume-row test: a row of this drive with the type, start and end.
    bool Listed(const std::string& type, std::uint64_t start, std::uint64_t end) const
    {
        return std::any_of(rows_.begin(), rows_.end(), [&](const RecognisedVolume& r) {
            return r.FsName == type && r.Start == start && r.End == end;
        });
    }

    // A FAT row of this drive whose cluster 0 is `cluster0`.
    bool ListedFatCluster0(std::uint64_t cluster0) const
    {
        if (cluster0 == 0)
            return false;
        return std::any_of(rows_.begin(), rows_.end(), [&](const RecognisedVolume& r) {
            return StartsWith(r.FsName, "FAT") && r.ScanGeometry().Cluster0Start == cluster0;
        });
    }

    bool BootSector(EvidenceEngine& evidence, std::uint64_t x, std::uint64_t /*b*/, ByteView sector) override
    {
        const auto c = MatchSweepBootSector(sector, x);
        if (!c)
            return false;
        if (IsFatKind(c->kind))
            evidence.ForgetFatTablePair();
        std::uint64_t s = c->size;
        if (c->kind == FsKind::Ntfs && s > E_)
            s = E_;
        const std::uint64_t end = SaturatingAdd(x, s);
        const std::string type(FsKindText(c->kind));
        if (s == 0)
            return false;
        // This drive's rows: the file system itself, or the backup boot
        // sector of one (exFAT twelve sectors in, FAT32 six sectors in).
        bool listed = Listed(type, x, end);
        if (c->kind == FsKind::Exfat) {
            listed = listed || (x >= 12 && Listed(type, x - 12, end - 12));
            if (listed)
                evidence.StopExfatEntries();
        }
        if (c->kind == FsKind::Fat32 && x >= 6 && Listed(type, x - 6, end - 6))
            listed = true;
        if (listed)
            return false;
        FatColumns fat;
        if (IsFatKind(c->kind)) {
            fat = FatColumnsOf(sector, c->kind, x);
            if (ListedFatCluster0(fat.cluster0))
                return false;
        }
        if (end > limit_)
            return false;
        evidence.BootSectorTaken(c->kind);
        RecognisedVolume row;
        row.FsName = type;
        row.Start = x;
        row.End = end;
        row.SizeSectors = s;
        auto& g = row.Geometry;
        switch (c->kind) {
        case FsKind::Ntfs: {
            // The NTFS cells hold what a scan of the row reads back: the
            // cluster size, the INDX and FILE record sizes, and the $MFT and
            // $MFTMirr as sectors on the drive.
            const NtfsBootRecord n = DecodeNtfsBootRecord(sector);
            const std::uint64_t spc = n.ClusterSizeValid() ? n.sectorsPerCluster : 0;
            g[0] = Num(sector.U8(0x0D));
            g[1] = Num(spc ? n.IndexRecordSectors(spc) : 8);
            g[2] = Num(spc ? n.FileRecordSectors(spc) : 2);
            g[3] = Num(s);
            if (spc && n.mftLcn <= (kU64Max - x) / spc)
                g[4] = Num(x + n.mftLcn * spc);
            if (spc && n.mftMirrLcn <= (kU64Max - x) / spc)
                g[5] = Num(x + n.mftMirrLcn * spc);
            break;
        }
        case FsKind::Fat16:
        case FsKind::Fat32:
            g = {Num(fat.spf), Num(fat.spc), Num(fat.rootSectors), Num(fat.rootStart),
                 Num(fat.reserved), Num(fat.cluster0), Num(fat.fat1), Num(fat.fat2)};
            break;
        case FsKind::Exfat: {
            const std::uint32_t fatOffset = sector.U32(0x50), fatLength = sector.U32(0x54);
            const std::uint8_t shift = sector.U8(0x6D);
            g = {Num(fatLength), Num(shift < 32 ? (1ull << shift) : 0), "0", Num(sector.U32(0x60)),
                 Num(sector.U16(0x0E)), Num(sector.U32(0x58)), Num(fatOffset),
                 Num(static_cast<std::uint64_t>(fatOffset) + fatLength)};
            break;
        }
        case FsKind::Unknown: return false;
        }
        Add(std::move(row), FoundBy::BootSector);
        return false;
    }

    // A row of a file system found by its traces: nothing tells its size, it
    // runs to the drive's end.
    RecognisedVolume RowToDriveEnd(const std::string& type, std::uint64_t start) const
    {
        RecognisedVolume row;
        row.FsName = type;
        row.Start = start;
        row.End = E_;
        row.SizeSectors = E_ - start;
        return row;
    }

    // A FAT table at X that is the first or second FAT of a listed FAT row.
    bool KnownFatTable(std::uint64_t x) override
    {
        if (x > 0xFFFFFFFFu)
            return false;
        return std::any_of(rows_.begin(), rows_.end(), [&](const RecognisedVolume& r) {
            if (!StartsWith(r.FsName, "FAT"))
                return false;
            const VolumeGeometry g = r.ScanGeometry();
            return g.FirstFatStart == x || g.SecondFatStart == x;
        });
    }

    // The record of a listed NTFS file system: its $MFT or $MFTMirr lies two
    // sectors before, or the row starts where the record places it.
    bool KnownMftMirrRecord(std::uint64_t x, const NtfsPlacement& placement) override
    {
        return std::any_of(rows_.begin(), rows_.end(), [&](const RecognisedVolume& r) {
            if (!StartsWith(r.FsName, "NTFS"))
                return false;
            const VolumeGeometry g = r.ScanGeometry();
            return (x >= 2 && (g.MftStart == x - 2 || g.MftMirrStart == x - 2)) || r.Start == placement.start;
        });
    }

    EvidenceVerdict NtfsFound(const NtfsPlacement& n, std::uint64_t /*b*/) override
    {
        // The start is where the $MFT's run list places the file system on
        // this drive; it runs to the drive's end.
        const std::uint64_t P = n.start;
        if (P >= E_ || Listed("NTFS", P, E_) || E_ > limit_)
            return EvidenceVerdict::Known;
        RecognisedVolume row = RowToDriveEnd("NTFS", P);
        row.Geometry = {Num(n.sectorsPerCluster), "", Num(n.fileRecordSectors), Num(E_),
                        Num(n.mftStart), Num(n.mftMirrStart), "", ""};
        Add(std::move(row), FoundBy::MftMirr);
        return EvidenceVerdict::Recorded;
    }

    EvidenceVerdict ExfatFound(std::uint64_t x, std::uint64_t /*b*/) override
    {
        // Folders of a listed exFAT file system are that file system's.
        for (const RecognisedVolume& r : rows_)
            if (r.FsName == "exFAT" && r.Start <= x && x < r.End)
                return EvidenceVerdict::Known;
        // The entries' own sector: a drive-relative start (a scan of the row
        // looks for the file system from there on).
        if (Listed("exFAT", x, E_) || E_ > limit_)
            return EvidenceVerdict::Known;
        RecognisedVolume row = RowToDriveEnd("exFAT", x);
        Add(std::move(row), FoundBy::ExfatEntries);
        return EvidenceVerdict::Recorded;
    }

    EvidenceVerdict FatFound(const FatEvidence& fat, std::uint64_t /*b*/) override
    {
        const std::string type(FsKindText(fat.type));
        const VolumeGeometry& g = fat.geometry;
        if (Listed(type, fat.start, E_) || ListedFatCluster0(g.Cluster0Start) || E_ > limit_)
            return EvidenceVerdict::Known;
        RecognisedVolume row = RowToDriveEnd(type, fat.start);
        row.Geometry = {Num(g.SectorsPerFat), Num(g.SectorsPerCluster), "0",
                        Num(g.RootStart),     Num(g.ReservedSectors),   Num(g.Cluster0Start),
                        Num(g.FirstFatStart), Num(g.SecondFatStart)};
        Add(std::move(row), fat.by);
        return EvidenceVerdict::Recorded;
    }

    void Add(RecognisedVolume row, FoundBy by)
    {
        row.Key = key_;
        row.Name = "Recognised" + std::to_string(rows_.size() + 1);
        if (row.TypeText.empty())
            row.TypeText = row.FsName;
        rows_.push_back(row);
        out_.added.push_back(row);
        out_.addedBy.push_back(by);
        if (control_.onFound)
            control_.onFound(row, by);
    }

    const LogicalSweepParams& params_;
    const LogicalSweepControl& control_;
    Device& device_;
    std::uint64_t E_ = 0, limit_ = 0;
    std::string key_;
    std::vector<RecognisedVolume> rows_;   // this drive's rows: the known ones, then those added
    LogicalSweepOutcome out_;
};

}  // namespace

LogicalSweepOutcome RunLogicalDriveSweep(const LogicalSweepParams& params, const LogicalSweepControl& control)
{
    if (!params.device)
        return LogicalSweepOutcome{};
    return Sweep(params, control).Run();
}

TreeNodeId LogicalSweepDriveItem(const DriveInventory& inv, TreeNodeId node)
{
    auto lock = inv.Lock();
    switch (ClassifyDriveNode(inv, node)) {
    case DriveNodeKind::Volume: return node;
    case DriveNodeKind::Recognised: return inv.Tree.Parent(node);
    default: return kNoTreeNode;
    }
}

LogicalSweepParams PrepareLogicalDriveSweep(const DriveInventory& inv, TreeNodeId driveItem,
                                            const std::function<DevicePtr(const std::string&)>& open)
{
    LogicalSweepParams params;
    {
        auto lock = inv.Lock();
        const std::string text = inv.Tree.Text(driveItem);
        params.driveText = TrimText(text.substr(0, std::min<std::size_t>(2, text.size())));
        if (const auto* d = inv.Tree.PayloadAs<const DriveDetails>(driveItem)) {
            params.volumePath = d->DeviceId;
            params.driveSectors = ParseDecimalU64(d->VolumeSectorCountText);
            // The drive's extent on its disk bounds the file systems found in
            // it; counted from the drive's own start, that is its size.
            if (d->ExtentEnd > d->ExtentStart)
                params.endLimit = d->ExtentEnd - d->ExtentStart;
        }
        if (params.volumePath.empty() && !params.driveText.empty())
            params.volumePath = "\\\\.\\" + params.driveText;
        params.knownRows = inv.RecognisedVolumes.Rows();
    }
    if (!params.volumePath.empty())
        params.device = open ? open(params.volumePath) : DeviceRegistry::Instance().Open(params.volumePath);
    return params;
}

std::string LogicalSweepResultText(int count, const std::string& driveText)
{
    return FormatPartitionSearchResult(0, count, count != 0, "Drive", driveText);
}

LogicalDriveSweepJob::LogicalDriveSweepJob(LogicalSweepParams params, LogicalSweepEvents* events)
    : Job(events), params_(std::move(params)), sweepEvents_(events)
{
}

LogicalDriveSweepJob::~LogicalDriveSweepJob() { StopAndWait(); }

std::string LogicalDriveSweepJob::ResultText() const
{
    return LogicalSweepResultText(static_cast<int>(outcome_.added.size()), params_.driveText);
}

void LogicalDriveSweepJob::Run()
{
    outcome_ = LogicalSweepOutcome{};
    Progress().Reset();
    if (!params_.device)
        return;
    Progress().total = params_.driveSectors ? params_.driveSectors : params_.device->SizeBytes() / kSectorSize;
    LogicalSweepControl control;
    control.stop = [this] { return StopRequested(); };
    control.currentSector = &Progress().done;
    control.onFound = [this](const RecognisedVolume& row, FoundBy by) {
        ++Progress().folders;
        if (sweepEvents_)
            sweepEvents_->OnRecognised(row, by);
    };
    outcome_ = RunLogicalDriveSweep(params_, control);
}

}  // namespace torvane
