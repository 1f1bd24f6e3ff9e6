#include "partsearch/logical_drive_sweep.h"

#include "disk/boot_record.h"
#include "base/text_routines.h"
#include "disk/drive_text.h"
#include "disk/drive_tree_rules.h"
#include "disk/fs_kind.h"
#include "disk/sector_bytes.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "partsearch/boot_candidate.h"
#include "partsearch/lost_fs_evidence.h"
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

// First bytes of the sectors the evidence tests can take (see the Advanced sweep).
constexpr std::array<bool, 256> MakeFirstBytesOfInterest()
{
    std::array<bool, 256> t{};
    for (int b : {0x46 /* F */, 0x2E /* . */, 0xF8, 0x85, 0x05, 0x83, 0x03, 0xC0, 0x40, 0xC1, 0x41})
        t[static_cast<std::size_t>(b)] = true;
    return t;
}
constexpr std::array<bool, 256> kFirstBytesOfInterest = MakeFirstBytesOfInterest();

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

class Sweep {
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
        BlockStream stream(device_, 0, E_, kLogicalSweepChunkSectors, 0);
        BlockStream::Block block;
        while (!StopNow() && stream.Next(block)) {
            Publish(block.start);
            for (std::size_t i = 0; i < block.sectors; ++i) {
                const std::uint8_t* bytes = block.data + i * kSectorSize;
                if (!kFirstBytesOfInterest[bytes[0]] && !(bytes[510] == 0x55 && bytes[511] == 0xAA) &&
                    !ev_.ntfsPending)
                    continue;
                const std::uint64_t x = block.start + i;
                Publish(x);
                Sector(x, ByteView(bytes, kSectorSize));
            }
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
    bool StopNow()
    {
        if (control_.stop && control_.stop()) {
            out_.stopped = true;
            return true;
        }
        return false;
    }
    void Publish(std::uint64_t sector)
    {
        if (control_.currentSector)
            control_.currentSector->store(sector, std::memory_order_relaxed);
    }

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

    // The evidence state (as in the Advanced sweep).
    struct Evidence {
        bool mftOff = false, ntfsPending = false;
        bool dirPending = false, dirOff = false, armed = false;
        bool exfatOff = false;
        std::uint64_t f1 = 0, f2 = 0;
        std::uint32_t prevCluster = 0;
        std::uint64_t prevSector = 0;
        FsKind type = FsKind::Fat16;
        std::array<std::uint8_t, kSectorSize> dirSector{};
        std::optional<NtfsPlacement> ntfs;
    };

    void Sector(std::uint64_t x, ByteView sector)
    {
        bool trig = false, exfatDir = false;
        if (!ev_.mftOff && IsMftMirrRecordSector(sector))
            MftMirrTest(x);
        if (!ev_.dirOff && IsFatDirectoryStartSector(sector)) {
            trig = true;
            ev_.dirPending = true;
            fatTableSeen_ = false;
            ev_.ntfsPending = false;
            std::memcpy(ev_.dirSector.data(), sector.data(), kSectorSize);
        }
        if (!ev_.dirOff && IsFat32TableStartSector(sector)) {
            ev_.dirPending = false;
            ev_.ntfsPending = false;
            if (!IsTableOfListedFat(x)) {
                (fatTableSeen_ ? ev_.f2 : ev_.f1) = x;
                fatTableSeen_ = true;
                trig = true;
            }
        }
        if (!ev_.exfatOff && !fatTableSeen_) {
            const ExfatEvidence e = TestExfatEntrySet(sector, &exfatKind_);
            if (e == ExfatEvidence::Fails)
                return;
            if (e == ExfatEvidence::Passes) {
                exfatDir = true;
                ev_.f1 = ev_.f2 = 0;
            }
        }
        if (HasBootSignature(sector)) {
            BootSector(x, sector);
            return;
        }
        if (ev_.ntfsPending) {
            ev_.mftOff = true;
            ev_.ntfsPending = false;
            NtfsFromMftMirr();
            return;
        }
        if (exfatDir) {
            ev_.exfatOff = true;
            ExfatFromEntries(x);
            return;
        }
        if (trig && (ev_.dirPending || fatTableSeen_))
            RebuildFat(x, sector);
    }

    void BootSector(std::uint64_t x, ByteView sector)
    {
        const auto c = MatchSweepBootSector(sector, x);
        if (!c)
            return;
        if (IsFatKind(c->kind))
            ev_.f1 = ev_.f2 = 0;
        std::uint64_t s = c->size;
        if (c->kind == FsKind::Ntfs && s > E_)
            s = E_;
        const std::uint64_t end = SaturatingAdd(x, s);
        const std::string type(FsKindText(c->kind));
        if (s == 0)
            return;
        // This drive's rows: the file system itself, or the backup boot
        // sector of one (exFAT twelve sectors in, FAT32 six sectors in).
        bool listed = Listed(type, x, end);
        if (c->kind == FsKind::Exfat) {
            listed = listed || (x >= 12 && Listed(type, x - 12, end - 12));
            if (listed)
                ev_.exfatOff = true;
        }
        if (c->kind == FsKind::Fat32 && x >= 6 && Listed(type, x - 6, end - 6))
            listed = true;
        if (listed)
            return;
        FatColumns fat;
        if (IsFatKind(c->kind)) {
            fat = FatColumnsOf(sector, c->kind, x);
            if (ListedFatCluster0(fat.cluster0))
                return;
        }
        if (end > limit_)
            return;
        ev_.dirPending = false;
        fatTableSeen_ = false;
        ev_.ntfsPending = false;
        if (c->kind == FsKind::Exfat)
            ev_.exfatOff = true;

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
        case FsKind::Unknown: return;
        }
        Add(std::move(row), FoundBy::BootSector);
    }

    // A FAT table at X that is the first or second FAT of a listed FAT row.
    bool IsTableOfListedFat(std::uint64_t x) const
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

    void MftMirrTest(std::uint64_t x)
    {
        std::uint64_t size = 0;
        std::array<std::uint8_t, 1024> record{};
        if (x <= kU64Max / kSectorSize &&
            ReadAsFarAsPossible(device_, x * kSectorSize, record.data(), record.size()) == record.size() &&
            ApplyUpdateSequenceFixup(record.data(), record.size()) != FixupResult::Invalid)
            size = GetNtfsDataSize(NtfsBytes(record.data(), record.size())).value_or(0);
        const auto placement = PlaceNtfsFromMftMirrRecord(device_, x, SectorsPerClusterFromMirrorSize(size));
        if (!placement)
            return;
        // The record of a listed NTFS file system: its $MFT or $MFTMirr lies
        // two sectors before, or the row starts where the record places it.
        for (const RecognisedVolume& r : rows_) {
            if (!StartsWith(r.FsName, "NTFS"))
                continue;
            const VolumeGeometry g = r.ScanGeometry();
            if (x >= 2 && (g.MftStart == x - 2 || g.MftMirrStart == x - 2))
                return;
            if (r.Start == placement->start)
                return;
        }
        ev_.ntfsPending = true;
        ev_.ntfs = placement;
    }

    void NtfsFromMftMirr()
    {
        if (!ev_.ntfs)
            return;
        // The start is where the $MFT's run list places the file system on
        // this drive; it runs to the drive's end.
        const NtfsPlacement& n = *ev_.ntfs;
        const std::uint64_t P = n.start;
        if (P >= E_ || Listed("NTFS", P, E_) || E_ > limit_)
            return;
        RecognisedVolume row;
        row.FsName = "NTFS";
        row.Start = P;
        row.End = E_;
        row.SizeSectors = E_ - P;
        row.Geometry = {Num(n.sectorsPerCluster), "", Num(n.fileRecordSectors), Num(E_),
                        Num(n.mftStart), Num(n.mftMirrStart), "", ""};
        Add(std::move(row), FoundBy::MftMirr);
    }

    void ExfatFromEntries(std::uint64_t x)
    {
        // Folders of a listed exFAT file system are that file system's.
        for (const RecognisedVolume& r : rows_)
            if (r.FsName == "exFAT" && r.Start <= x && x < r.End)
                return;
        // The entries' own sector: a drive-relative start (a scan of the row
        // looks for the file system from there on).
        if (Listed("exFAT", x, E_) || E_ > limit_)
            return;
        RecognisedVolume row;
        row.FsName = "exFAT";
        row.Start = x;
        row.End = E_;
        row.SizeSectors = E_ - x;
        Add(std::move(row), FoundBy::ExfatEntries);
    }

    void RebuildFat(std::uint64_t x, ByteView sector)
    {
        const ByteView dir(ev_.dirSector.data(), ev_.dirSector.size());
        std::optional<FatRebuild> rebuilt;
        std::optional<std::uint64_t> volumeStart;
        std::uint64_t fat1 = ev_.f1;
        FoundBy by = FoundBy::FatFolders;
        if (fatTableSeen_) {
            ev_.armed = true;
        } else {
            ev_.type = FsKind::Fat16;
            if (!ev_.armed) {
                const std::uint32_t u = DirectoryStartCluster(dir);
                ev_.prevSector = x;
                ev_.prevCluster = u;
                ev_.armed = u >= 2 && u != 0xFFFFFFFFu;
                return;
            }
        }
        if (ev_.dirPending) {
            const std::uint32_t u = DirectoryStartCluster(dir);
            rebuilt = RebuildFromFolderPair(ev_.prevSector, ev_.prevCluster, x, u, 0, reserved_, ev_.type);
            if (!rebuilt) {
                ev_.prevSector = x;
                ev_.prevCluster = u;
                return;
            }
            if (rebuilt->type == FsKind::Fat32) {
                const std::uint64_t dataStart = rebuilt->cluster0 + 2ull * rebuilt->sectorsPerCluster;
                volumeStart = FindFat32VolumeStart(device_, dataStart);
                if (volumeStart) {
                    rebuilt->rootStart = 2;
                    fat1 = *volumeStart + 1;
                    if (const auto fats = FindFat32Tables(device_, *volumeStart, dataStart)) {
                        rebuilt->fat1 = fats->fat1;
                        rebuilt->fat2 = fats->fat1 + fats->sectorsPerFat;
                        rebuilt->sectorsPerFat = fats->sectorsPerFat;
                        fat1 = fats->fat1;
                    }
                }
            }
        } else {
            if (ev_.f2 == 0)
                return;
            rebuilt = RebuildFromTablePair(ev_.f1, ev_.f2, sector.U8(16), E_);
            if (!rebuilt)
                return;
            by = FoundBy::FatTables;
            if (rebuilt->type == FsKind::Fat32) {
                const std::uint64_t dataStart = rebuilt->fat2 + rebuilt->sectorsPerFat;
                if (const auto spc = FindFat32ClusterSize(device_, dataStart)) {
                    rebuilt->sectorsPerCluster = *spc;
                    rebuilt->cluster0 = dataStart - 2ull * *spc;
                    rebuilt->rootStart = 2;
                }
                volumeStart = FindFat32VolumeStart(device_, ev_.f1);
            }
        }
        ev_.type = rebuilt->type;
        if (rebuilt->fat1 > 0xFFFFFFFFu || rebuilt->fat2 > 0xFFFFFFFFu || rebuilt->rootStart > 0xFFFFFFFFu)
            return;
        const std::uint64_t R = volumeStart && *volumeStart < fat1 ? *volumeStart : rebuilt->rootStart;
        if (R >= E_ || fat1 < R)
            return;
        reserved_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(fat1 - R, 0xFFFFFFFFu));
        const std::string type(FsKindText(ev_.type));
        if (Listed(type, R, E_) || ListedFatCluster0(rebuilt->cluster0) || E_ > limit_)
            return;
        if (fatTableSeen_)
            ev_.dirOff = true;
        RecognisedVolume row;
        row.FsName = type;
        row.Start = R;
        row.End = E_;
        row.SizeSectors = E_ - R;
        row.Geometry = {Num(rebuilt->sectorsPerFat), Num(rebuilt->sectorsPerCluster), "0", Num(rebuilt->rootStart),
                        Num(reserved_),            Num(rebuilt->cluster0),         Num(rebuilt->fat1),
                        Num(rebuilt->fat2)};
        Add(std::move(row), by);
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
    Evidence ev_;
    bool fatTableSeen_ = false;
    std::uint32_t reserved_ = 0;           // the reserved sectors of the last FAT rebuild
    std::string exfatKind_;
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
