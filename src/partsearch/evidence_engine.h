// The traces of lost file systems followed sector by sector through a sweep:
// the state that links $MFTMirr records, FAT folder starts, FAT32 table
// starts and exFAT entry sets met on the way into file systems, for the
// Advanced partition search and the Deep Search's sweep of a logical drive.
//
// The engine decides what the sectors are evidence of, in the order they are
// met; its host decides what it knows already and how a find is kept (a
// partition record, a recognised-volume row), and handles the sectors that
// carry a boot signature itself, telling the engine what it took.
#pragma once

#include "base/byte_view.h"
#include "disk/fs_kind.h"
#include "disk/sector_bytes.h"
#include "disk/volume_geometry.h"
#include "partsearch/lost_fs_evidence.h"
#include "partsearch/partition_search.h"
#include "platform/device.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

// What the host made of a find.
enum class EvidenceVerdict {
    Known,      // a file system it holds already: nothing kept
    Recorded,   // kept
    EndSweep,   // kept or not, the sweep ends here
};

// A FAT file system rebuilt from its folders or its tables.
struct FatEvidence {
    FsKind type = FsKind::Fat16;
    std::uint64_t start = 0;        // the volume's first sector
    // Where its FAT's cells end, when the FSInfo sector placed the volume and
    // the FATs were found; else the sweep's end.
    std::uint64_t end = 0;
    VolumeGeometry geometry;        // FATs, cluster size and 0, root, reserved sectors
    FoundBy by = FoundBy::FatFolders;
};

class EvidenceEngine;

class EvidenceHost {
public:
    virtual ~EvidenceHost() = default;
    // A FAT32 table starting at `x` that is a FAT of a file system known already.
    virtual bool KnownFatTable(std::uint64_t x) = 0;
    // The $MFTMirr record at `x`, which places an NTFS volume at `placement`,
    // belongs to a file system known already.
    virtual bool KnownMftMirrRecord(std::uint64_t x, const NtfsPlacement& placement) = 0;
    // Sector `x` of the block at `b` carries the boot signature. The host
    // matches and keeps it, telling `engine` what it took; true ends the sweep.
    virtual bool BootSector(EvidenceEngine& engine, std::uint64_t x, std::uint64_t b, ByteView sector) = 0;
    // An NTFS volume placed by its $MFTMirr record.
    virtual EvidenceVerdict NtfsFound(const NtfsPlacement& placement, std::uint64_t b) = 0;
    // An exFAT entry set at sector `x`.
    virtual EvidenceVerdict ExfatFound(std::uint64_t x, std::uint64_t b) = 0;
    // A FAT volume rebuilt from its folders or tables.
    virtual EvidenceVerdict FatFound(const FatEvidence& fat, std::uint64_t b) = 0;
};

struct EvidenceRules {
    // Sectors of the device below this one are swept: a rebuild from two FAT
    // tables sizes clusters by it, and no volume starts at or after it.
    std::uint64_t end = 0;
    // Where a volume rebuilt from two folders is taken to start, before its
    // reserved sectors (the first sector the sweep examines, or the drive's 0).
    std::uint64_t sectorBase = 0;
    // A kept find forgets the FAT tables seen so far.
    bool keptFindForgetsFatTables = false;
    // A rebuild that places the volume's start past its first FAT is dropped,
    // and the reserved sectors carried to the next rebuild are those of the
    // last volume that lay in the sweep (a count above 2^32 - 1 cut there).
    // Otherwise such a rebuild is kept with a reserved-sector count of 0
    // (unknown), and every rebuild carries its count on.
    bool dropStartPastFirstFat = false;
    // Where the sector being examined is published (may be null).
    std::atomic<std::uint64_t>* currentSector = nullptr;
};

class EvidenceEngine {
public:
    EvidenceEngine(Device& device, EvidenceHost& host, const EvidenceRules& rules);

    // Examines the `sectors` sectors at `data`, read from sector `blockStart`
    // on. True when the host ended the sweep.
    bool ExamineBlock(std::uint64_t blockStart, const std::uint8_t* data, std::size_t sectors);

    // ---- for the host's boot sectors ------------------------------------------------
    // The FAT32 tables met so far no longer pair with later ones.
    void ForgetFatTablePair();
    // No more exFAT entry sets are examined.
    void StopExfatEntries();
    // A boot sector of `kind` was kept: pending folders, tables and $MFTMirr
    // records are its, and an exFAT one ends the entry-set tests.
    void BootSectorTaken(FsKind kind);

private:
    bool Sector(std::uint64_t x, std::uint64_t b, ByteView sector);
    void MftMirrTest(std::uint64_t x);
    bool FatRebuildStep(std::uint64_t x, std::uint64_t b, ByteView sector);
    bool Verdict(EvidenceVerdict v);

    Device& device_;
    EvidenceHost& host_;
    const EvidenceRules rules_;

    bool mftOff_ = false, ntfsPending_ = false;
    bool dirPending_ = false, dirOff_ = false, armed_ = false;
    bool exfatOff_ = false;
    bool fatTableSeen_ = false;
    std::uint64_t f1_ = 0, f2_ = 0;           // the FAT32 table starts met
    std::uint32_t prevCluster_ = 0;           // the folder start met before
    std::uint64_t prevSector_ = 0;
    std::uint32_t reserved_ = 0;              // the reserved sectors of the last rebuild
    FsKind type_ = FsKind::Fat16;             // the FAT type so far
    std::array<std::uint8_t, kSectorSize> dirSector_{};
    std::optional<NtfsPlacement> ntfs_;
    std::string exfatKind_;
};

}  // namespace torvane
