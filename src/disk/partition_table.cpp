#include "disk/partition_table.h"

#include "disk/boot_record.h"
#include "disk/drive_text.h"

#include <algorithm>
#include <limits>
#include <set>

namespace torvane {

const GuidBytes kMicrosoftReservedGuid = {0x16, 0xE3, 0xC9, 0xE3, 0x5C, 0x0B, 0xB8, 0x4D,
                                          0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE};
const GuidBytes kLdmDataGuid = {0xA0, 0x60, 0x9B, 0xAF, 0x31, 0x14, 0x62, 0x4F,
                                0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD};

std::string RecognizeBootSector(const SectorBytes& sector, bool allowEfi) {
    const FsKind kind = RecognizeBootRecord(sector.View(), BootMarks::TypeNames);
    if (kind != FsKind::Unknown) return std::string(FsKindText(kind));
    if (allowEfi && sector.Has(0, "EFI")) return "EFI";
    return {};
}

std::string PartitionTypeByteName(std::uint8_t type) {
    switch (type) {
        case 0x01: case 0x04: case 0x06: case 0x0E: return "FAT16";
        case 0x0B: case 0x0C: return "FAT32";
        case 0x07: return "NTFS";
        case 0x05: case 0x0F: return "extended";
        default: return {};
    }
}

namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

struct MbrEntry {
    std::uint8_t type;
    std::uint32_t start;
    std::uint32_t length;
};

MbrEntry EntryAt(const SectorBytes& s, int i) {
    std::size_t off = 0x1BE + 16 * static_cast<std::size_t>(i);
    return MbrEntry{s.U8(off + 4), s.U32(off + 8), s.U32(off + 12)};
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kU64Max - b ? kU64Max : a + b; }

class Walker {
public:
    Walker(Device& disk, std::uint64_t diskSectors) : disk_(disk), diskSectors_(diskSectors) {}

    PartitionWalk Run() {
        SectorBytes mbr;
        ReadOneSector(disk_, 0, mbr);
        if (!mbr.HasSignature()) return std::move(walk_);
        walk_.HasSignature = true;

        bool chainMarked = false;
        std::uint64_t extendedBase = 0;
        bool stop = false;
        for (int i = 0; i < 4 && !stop && !walk_.TableFull; ++i) {
            MbrEntry e = EntryAt(mbr, i);
            if (e.type == 0x42) walk_.Dynamic = true;
            if (e.type == 0 || e.length == 0) continue;
            // A partition that starts in the last 0x6000 sectors (or beyond the
            // end) is taken as the sign of a table that does not belong to this
            // disk: nothing more is listed.
            if (static_cast<std::int64_t>(diskSectors_ - e.start) < kPartitionTailSectors) {
                walk_.TailStop = true;
                return std::move(walk_);
            }
            SectorBytes first;
            ReadOneSector(disk_, e.start, first);
            std::string name = RecognizeBootSector(first, true);
            if (name == "EFI") {
                WalkGpt();
                break;  // the EBR chain still runs when an extended entry came earlier
            }
            if (name.empty()) {
                name = PartitionTypeByteName(e.type);
                if (name == "extended") {
                    extendedBase = e.start;
                    chainMarked = true;
                    continue;
                }
                if (name.empty()) continue;
            }
            Record(name, e.start, static_cast<std::uint64_t>(e.start) + e.length, FoundPartition::Source::Primary,
                   e.type, 0);
        }
        if (chainMarked && !walk_.TableFull) WalkEbrChain(extendedBase);
        return std::move(walk_);
    }

private:
    void Record(const std::string& name, std::uint64_t start, std::uint64_t end, FoundPartition::Source from,
                std::uint8_t type, std::uint64_t tableSector, const GuidBytes* guid = nullptr) {
        if (walk_.Partitions.size() >= static_cast<std::size_t>(kMaxPartitionsPerDisk)) {
            walk_.TableFull = true;
            return;
        }
        FoundPartition p;
        p.FsName = name;
        p.StartSector = start;
        p.EndSector = end;
        // Nothing past the disk exists to be read: the extent ends with the
        // disk, and the table's own end is kept to be shown.
        if (diskSectors_ != 0 && end > diskSectors_) {
            p.EndSector = std::max(start, diskSectors_);
            p.TableEndSector = end;
        }
        p.From = from;
        p.TypeByte = type;
        p.TableSector = tableSector;
        if (guid) p.TypeGuid = *guid;
        walk_.Partitions.push_back(std::move(p));
    }

    void WalkEbrChain(std::uint64_t base) {
        std::set<std::uint64_t> visited;
        std::uint64_t link = 0;
        bool marked = true;
        while (marked && !walk_.TableFull) {
            marked = false;
            std::uint64_t ebr = SaturatingAdd(base, link);
            if (!visited.insert(ebr).second) {
                walk_.EbrLoop = true;
                return;
            }
            if (visited.size() > static_cast<std::size_t>(kMaxEbrCount)) {
                walk_.EbrLimit = true;
                return;
            }
            SectorBytes sector;
            ReadOneSector(disk_, ebr, sector);
            for (int i = 0; i < 2 && !walk_.TableFull; ++i) {
                MbrEntry e = EntryAt(sector, i);
                if (e.type == 0x42) walk_.Dynamic = true;
                if (e.start > diskSectors_ || e.type == 0 || e.length == 0) continue;
                std::uint64_t start = SaturatingAdd(ebr, e.start);
                SectorBytes first;  // a link entry is not read: it counts as zeros
                bool isLink = e.type == 0x05 || e.type == 0x0F;
                if (!isLink) ReadOneSector(disk_, start, first);
                std::string name = RecognizeBootSector(first, false);
                if (name.empty()) {
                    name = PartitionTypeByteName(e.type);
                    if (name == "extended") {
                        link = e.start;
                        marked = true;
                        continue;
                    }
                    if (name.empty()) continue;
                }
                Record(name, start, SaturatingAdd(start, e.length), FoundPartition::Source::Logical, e.type, ebr);
            }
        }
    }

    // The entry array in sectors 2..33. What the GPT lists replaces what the
    // MBR entries before the protective entry listed (a hybrid MBR names the
    // same partitions again), so each partition is listed once.
    void WalkGpt() {
        walk_.GptWalked = true;
        std::vector<FoundPartition> fromMbr = std::move(walk_.Partitions);
        walk_.Partitions.clear();
        walk_.TableFull = false;
        ReadGptEntries();
        // An array that lists nothing leaves the MBR's own entries standing.
        if (walk_.Partitions.empty()) walk_.Partitions = std::move(fromMbr);
    }

    // How many slots of the array in sectors 2..33 to read: the header's own
    // entry count when the header (sector 1) is intact enough to say it, never
    // more than the 128 entries of 128 bytes those sectors hold.
    int GptSlotCount() {
        SectorBytes header;
        ReadOneSector(disk_, 1, header);
        if (!header.Has(0, "EFI PART")) return kGptEntryCount;
        std::uint32_t count = header.U32(80);
        std::uint32_t entrySize = header.U32(84);
        if (entrySize != 128 || count == 0) return kGptEntryCount;
        return static_cast<int>(std::min<std::uint32_t>(count, static_cast<std::uint32_t>(kGptEntryCount)));
    }

    void ReadGptEntries() {
        const int slots = GptSlotCount();
        for (int base = 0; base < slots; base += 4) {
            const std::uint64_t sectorNo = 2 + static_cast<std::uint64_t>(base) / 4;
            SectorBytes sector;
            ReadOneSector(disk_, sectorNo, sector);
            for (int i = 0; i < 4 && base + i < slots; ++i) {
                std::size_t off = 128 * static_cast<std::size_t>(i);
                GuidBytes guid;
                for (std::size_t k = 0; k < 16; ++k) guid[k] = sector.U8(off + k);
                std::uint64_t firstLba = sector.U64(off + 32);
                std::uint64_t lastLba = sector.U64(off + 40);
                if (guid == kMicrosoftReservedGuid) continue;
                // An unused slot (zero type GUID) may sit between used ones: a
                // partition deleted by a disk tool leaves its entry zeroed while
                // the ones after it stay in place. The walk goes on past it.
                if (guid == GuidBytes{} || lastLba == 0) continue;
                if (guid == kLdmDataGuid) walk_.Dynamic = true;
                if (lastLba < firstLba) continue;  // a damaged entry: no extent to list
                SectorBytes first;
                ReadOneSector(disk_, firstLba, first);
                std::string name = RecognizeBootSector(first, false);
                if (name.empty()) continue;  // no type-byte fallback on GPT
                Record(name, firstLba, SaturatingAdd(lastLba, 1), FoundPartition::Source::Gpt, 0, sectorNo, &guid);
                if (walk_.TableFull) return;
            }
        }
    }

    Device& disk_;
    std::uint64_t diskSectors_;
    PartitionWalk walk_;
};

}  // namespace

PartitionWalk WalkPartitionTable(Device& disk, std::uint64_t diskSectors) {
    return Walker(disk, diskSectors).Run();
}

bool IsDynamicDisk(Device& disk, std::uint64_t diskSectors) {
    SectorBytes mbr;
    ReadOneSector(disk, 0, mbr);
    if (!mbr.HasSignature()) return false;
    bool protective = false;
    for (int i = 0; i < 4; ++i) {
        MbrEntry e = EntryAt(mbr, i);
        if (e.type == 0x42) return true;
        if (e.type == 0xEE) protective = true;
    }
    if (protective) {
        // The whole entry array, independent of what the listing recognises.
        for (std::uint64_t sectorNo = 2; sectorNo < 2 + kGptEntryCount / 4; ++sectorNo) {
            SectorBytes sector;
            ReadOneSector(disk, sectorNo, sector);
            for (int i = 0; i < 4; ++i) {
                GuidBytes guid;
                for (std::size_t k = 0; k < 16; ++k) guid[k] = sector.U8(128 * static_cast<std::size_t>(i) + k);
                if (guid == kLdmDataGuid) return true;
            }
        }
    }
    return WalkPartitionTable(disk, diskSectors).Dynamic;
}

// --- DiskPartitionEntry -------------------------------------------------------

int DiskPartitionEntry::Append(const std::string& fsName, std::uint64_t start, std::uint64_t end, TreeItemId item) {
    if (Full()) return -1;
    int pos = static_cast<int>(RecordCount);
    Put(pos, fsName, start, end, item);
    return pos;
}

bool DiskPartitionEntry::Put(int pos, const std::string& fsName, std::uint64_t start, std::uint64_t end,
                             TreeItemId item) {
    if (pos < 0 || pos >= kMaxPartitionsPerDisk) return false;
    auto& r = Records[static_cast<std::size_t>(pos)];
    FsNames[static_cast<std::size_t>(pos)] = fsName;
    r.TreeItem = item;
    r.StartSector = start;
    r.EndSector = end;
    r.TableEndSector = 0;
    r.Index = static_cast<std::uint32_t>(pos);
    RecordCount = static_cast<std::uint32_t>(pos + 1);
    return true;
}

void DiskPartitionEntry::Reset() {
    RecordCount = 0;
    Header[0] = Header[1] = 0;
    for (auto& r : Records) {
        r.TreeItem = kNoTreeItem;
        r.StartSector = 0;
        r.EndSector = 0;
        r.TableEndSector = 0;
        r.Index = 0;
    }
}

std::string PartitionItemText(int number, const std::string& fsName) {
    return "Partition - " + std::to_string(number) + " ( " + fsName + " )";
}

std::uint64_t LookupPartitionEnd(const DiskPartitionTable& table, int disk, std::uint64_t start, std::uint64_t fallback) {
    const DiskPartitionEntry* e = table.Entry(disk);
    if (!e) return fallback;
    std::uint32_t n = std::min<std::uint32_t>(e->RecordCount, kMaxPartitionsPerDisk);
    for (std::uint32_t i = 0; i < n; ++i)
        if (e->Records[i].StartSector == start) return e->Records[i].EndSector;
    return fallback;
}

std::string GetPartitionTypeName(const DiskPartitionTable& table, int disk, std::uint64_t start, std::uint64_t end,
                                 int index) {
    const DiskPartitionEntry* e = table.Entry(disk);
    std::string name;
    if (e && index >= 0 && index < kMaxPartitionsPerDisk) name = TrimText(e->FsNames[static_cast<std::size_t>(index)]);
    if (!name.empty()) return name;
    std::uint64_t size = end > start ? end - start : 0;
    if (size >= 73400320ull) return "NTFS";
    if (size >= 2048) return "FAT32";
    return "Unknown";
}

void ExtendDiskSectorCount(const DiskPartitionTable& table, int disk, std::uint64_t& diskSectorCount) {
    const DiskPartitionEntry* e = table.Entry(disk);
    if (!e || e->RecordCount != 1) return;
    if (e->Records[0].EndSector > diskSectorCount) diskSectorCount = e->Records[0].EndSector;
}

bool ReadPartitionGeometry(Device& disk, const FoundPartition& part, VolumeGeometry& out) {
    CurrentPartition scratch;
    scratch.Descriptor.FsType = part.FsName;
    scratch.Descriptor.StartSector = part.StartSector;
    scratch.Descriptor.EndSector = part.EndSector;
    scratch.Descriptor.ItemStart = part.StartSector;
    if (ReadVolumeParameters(scratch, disk, nullptr) != 1) return false;
    out = scratch.Geometry;
    return true;
}

}  // namespace torvane
