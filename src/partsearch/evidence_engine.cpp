#include "partsearch/evidence_engine.h"

#include "disk/boot_record.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "partsearch/sweep_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace torvane {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

// First bytes of the sectors the evidence tests can take: "FILE", ". ", F8
// (a FAT), and the exFAT entry types a set may start with.
constexpr std::array<bool, 256> MakeFirstBytesOfInterest()
{
    std::array<bool, 256> t{};
    for (int b : {0x46 /* F */, 0x2E /* . */, 0xF8, 0x85, 0x05, 0x83, 0x03, 0xC0, 0x40, 0xC1, 0x41})
        t[static_cast<std::size_t>(b)] = true;
    return t;
}
constexpr std::array<bool, 256> kFirstBytesOfInterest = MakeFirstBytesOfInterest();

}  // namespace

EvidenceEngine::EvidenceEngine(Device& device, EvidenceHost& host, const EvidenceRules& rules)
    : device_(device), host_(host), rules_(rules)
{
}

bool EvidenceEngine::ExamineBlock(std::uint64_t blockStart, const std::uint8_t* data, std::size_t sectors)
{
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::uint8_t* bytes = data + i * kSectorSize;
        // Most sectors begin with a byte no test looks for and carry no
        // signature: nothing to examine, nothing pending.
        if (!kFirstBytesOfInterest[bytes[0]] && !(bytes[510] == 0x55 && bytes[511] == 0xAA) && !ntfsPending_)
            continue;
        const std::uint64_t x = blockStart + i;
        PublishSweepSector(rules_.currentSector, x);
        if (Sector(x, blockStart, ByteView(bytes, kSectorSize)))
            return true;
    }
    return false;
}

void EvidenceEngine::ForgetFatTablePair() { f1_ = f2_ = 0; }

void EvidenceEngine::StopExfatEntries() { exfatOff_ = true; }

void EvidenceEngine::BootSectorTaken(FsKind kind)
{
    dirPending_ = false;
    fatTableSeen_ = false;
    ntfsPending_ = false;
    if (kind == FsKind::Exfat)
        exfatOff_ = true;
}

bool EvidenceEngine::Verdict(EvidenceVerdict v)
{
    if (v == EvidenceVerdict::EndSweep)
        return true;
    if (v == EvidenceVerdict::Recorded && rules_.keptFindForgetsFatTables)
        fatTableSeen_ = false;
    return false;
}

// One sector X of the block at B. True when the sweep ends.
bool EvidenceEngine::Sector(std::uint64_t x, std::uint64_t b, ByteView sector)
{
    bool trig = false, exfatDir = false;
    if (!mftOff_ && IsMftMirrRecordSector(sector))
        MftMirrTest(x);
    if (!dirOff_ && IsFatDirectoryStartSector(sector)) {
        trig = true;
        dirPending_ = true;
        fatTableSeen_ = false;
        ntfsPending_ = false;
        std::memcpy(dirSector_.data(), sector.data(), kSectorSize);
    }
    if (!dirOff_ && IsFat32TableStartSector(sector)) {
        dirPending_ = false;
        ntfsPending_ = false;
        if (!host_.KnownFatTable(x)) {
            (fatTableSeen_ ? f2_ : f1_) = x;
            fatTableSeen_ = true;
            trig = true;
        }
    }
    if (!exfatOff_ && !fatTableSeen_) {
        const ExfatEvidence e = TestExfatEntrySet(sector, &exfatKind_);
        if (e == ExfatEvidence::Fails)
            return false;   // not examined further, not even as a boot sector
        if (e == ExfatEvidence::Passes) {
            exfatDir = true;
            f1_ = f2_ = 0;
        }
    }
    if (HasBootSignature(sector))
        return host_.BootSector(*this, x, b, sector);

    if (ntfsPending_) {
        mftOff_ = true;
        ntfsPending_ = false;
        return ntfs_ && Verdict(host_.NtfsFound(*ntfs_, b));
    }
    if (exfatDir) {
        exfatOff_ = true;
        return Verdict(host_.ExfatFound(x, b));
    }
    if (trig && (dirPending_ || fatTableSeen_))
        return FatRebuildStep(x, b, sector);
    return false;
}

void EvidenceEngine::MftMirrTest(std::uint64_t x)
{
    // The $MFTMirr file's data size hints at the cluster size.
    std::uint64_t size = 0;
    std::array<std::uint8_t, 1024> record{};
    if (x <= kU64Max / kSectorSize &&
        ReadAsFarAsPossible(device_, x * kSectorSize, record.data(), record.size()) == record.size() &&
        ApplyUpdateSequenceFixup(record.data(), record.size()) != FixupResult::Invalid)
        size = GetNtfsDataSize(NtfsBytes(record.data(), record.size())).value_or(0);
    const auto placement = PlaceNtfsFromMftMirrRecord(device_, x, SectorsPerClusterFromMirrorSize(size));
    if (!placement || host_.KnownMftMirrRecord(x, *placement))
        return;
    ntfsPending_ = true;
    ntfs_ = placement;
}

bool EvidenceEngine::FatRebuildStep(std::uint64_t x, std::uint64_t b, ByteView sector)
{
    const ByteView dir(dirSector_.data(), dirSector_.size());
    std::optional<FatRebuild> rebuilt;
    std::optional<std::uint64_t> volumeStart;
    std::uint64_t fat1 = f1_;   // the reserved sectors end here
    bool fatsFound = false;
    FoundBy by = FoundBy::FatFolders;
    if (fatTableSeen_) {
        armed_ = true;
    } else {
        type_ = FsKind::Fat16;
        if (!armed_) {
            const std::uint32_t u = DirectoryStartCluster(dir);
            prevSector_ = x;
            prevCluster_ = u;
            armed_ = u >= 2 && u != 0xFFFFFFFFu;
            return false;
        }
    }
    if (dirPending_) {
        const std::uint32_t u = DirectoryStartCluster(dir);
        rebuilt = RebuildFromFolderPair(prevSector_, prevCluster_, x, u, rules_.sectorBase, reserved_, type_);
        if (!rebuilt) {
            prevSector_ = x;
            prevCluster_ = u;
            return false;
        }
        // The pair gives cluster 0 and the cluster size; a FAT32 volume's
        // start and FATs are where its FSInfo sector and FATs lie in front
        // of the data area.
        if (rebuilt->type == FsKind::Fat32) {
            const std::uint64_t dataStart = rebuilt->cluster0 + 2ull * rebuilt->sectorsPerCluster;
            volumeStart = FindFat32VolumeStart(device_, dataStart);
            if (volumeStart) {
                rebuilt->rootStart = 2;
                // Without its FATs the reserved sectors stay unknown (a scan
                // looks for them); with them the geometry is whole.
                fat1 = *volumeStart + 1;
                if (const auto fats = FindFat32Tables(device_, *volumeStart, dataStart)) {
                    rebuilt->fat1 = fats->fat1;
                    rebuilt->fat2 = fats->fat1 + fats->sectorsPerFat;
                    rebuilt->sectorsPerFat = fats->sectorsPerFat;
                    fat1 = fats->fat1;
                    fatsFound = true;
                }
            }
        }
    } else {
        if (f2_ == 0)
            return false;
        rebuilt = RebuildFromTablePair(f1_, f2_, sector.U8(16), rules_.end);
        if (!rebuilt)
            return false;
        by = FoundBy::FatTables;
        // The device's size says nothing of a volume's cluster size, and the
        // root's cluster number is no sector: the root folder's first
        // subfolder gives the cluster size, and the FSInfo sector in front
        // of the FAT gives the volume's start.
        if (rebuilt->type == FsKind::Fat32) {
            const std::uint64_t dataStart = rebuilt->fat2 + rebuilt->sectorsPerFat;
            if (const auto spc = FindFat32ClusterSize(device_, dataStart)) {
                rebuilt->sectorsPerCluster = *spc;
                rebuilt->cluster0 = dataStart - 2ull * *spc;
                rebuilt->rootStart = 2;
            }
            volumeStart = FindFat32VolumeStart(device_, f1_);
        }
        fatsFound = true;
    }
    type_ = rebuilt->type;
    // The FAT values are 32-bit sector numbers.
    if (rebuilt->fat1 > 0xFFFFFFFFu || rebuilt->fat2 > 0xFFFFFFFFu || rebuilt->rootStart > 0xFFFFFFFFu)
        return false;
    const std::uint64_t R = volumeStart && *volumeStart < fat1 ? *volumeStart : rebuilt->rootStart;
    // Folders that place the start past the first FAT leave the reserved
    // sectors unknown: 0, not a count wrapped round to four billion.
    if (!rules_.dropStartPastFirstFat)
        reserved_ = fat1 >= R ? static_cast<std::uint32_t>(fat1 - R) : 0;
    if (R >= rules_.end)
        return false;
    if (rules_.dropStartPastFirstFat) {
        if (fat1 < R)
            return false;
        reserved_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(fat1 - R, 0xFFFFFFFFu));
    }

    FatEvidence fat;
    fat.type = type_;
    fat.start = R;
    fat.by = by;
    VolumeGeometry& g = fat.geometry;
    g.SectorsPerFat = rebuilt->sectorsPerFat;
    g.SectorsPerCluster = rebuilt->sectorsPerCluster;
    g.RootStart = static_cast<std::uint32_t>(rebuilt->rootStart);
    g.Cluster0Start = rebuilt->cluster0;
    g.FirstFatStart = static_cast<std::uint32_t>(rebuilt->fat1);
    g.SecondFatStart = static_cast<std::uint32_t>(rebuilt->fat2);
    g.ReservedSectors = reserved_;
    // A volume placed by its FSInfo ends where its FAT's cells end at the latest.
    fat.end = rules_.end;
    if (volumeStart && g.SectorsPerCluster != 0 && (fatsFound || by == FoundBy::FatTables)) {
        const std::uint64_t cells = static_cast<std::uint64_t>(g.SectorsPerFat) * (kSectorSize / 4);
        fat.end = std::min(rules_.end, SaturatingAdd(g.Cluster0Start, cells * g.SectorsPerCluster));
    }
    const EvidenceVerdict v = host_.FatFound(fat, b);
    if (v == EvidenceVerdict::Recorded && fatTableSeen_)
        dirOff_ = true;
    return Verdict(v);
}

}  // namespace torvane
