#include "disk/volume_geometry.h"

#include "disk/boot_record.h"
#include "disk/sector_bytes.h"
#include "platform/device_registry.h"

#include <cstdio>
#include <limits>

namespace torvane {

bool ReadOneSector(Device& device, std::uint64_t sector, SectorBytes& out) {
    out.Clear();
    if (sector > std::numeric_limits<std::uint64_t>::max() / kSectorSize) return false;
    std::int64_t got = device.ReadAt(sector * kSectorSize, out.b.data(), out.b.size());
    if (got <= 0) {
        out.Clear();
        return false;
    }
    // A short read keeps what exists; the rest is already zero.
    return true;
}

void PartitionDescriptor::CopyGeometry(const VolumeGeometry& g, bool withNtfs) {
    SectorsPerFat = g.SectorsPerFat;
    SectorsPerCluster = g.SectorsPerCluster;
    RootSectors = g.RootSectors;
    RootStart = g.RootStart;
    ReservedSectors = g.ReservedSectors;
    Cluster0Start = g.Cluster0Start;
    FirstFatStart = g.FirstFatStart;
    SecondFatStart = g.SecondFatStart;
    if (withNtfs) {
        MftStart = g.MftStart;
        MftMirrStart = g.MftMirrStart;
        FileRecordSectors = g.FileRecordSectors;
        IndexRecordSectors = g.IndexRecordSectors;
    }
}

VolumeGeometry PartitionDescriptor::GeometryCopy() const {
    VolumeGeometry g;
    g.SectorsPerFat = SectorsPerFat;
    g.SectorsPerCluster = SectorsPerCluster;
    g.RootSectors = RootSectors;
    g.RootStart = RootStart;
    g.ReservedSectors = ReservedSectors;
    g.Cluster0Start = Cluster0Start;
    g.FirstFatStart = FirstFatStart;
    g.SecondFatStart = SecondFatStart;
    g.MftStart = MftStart;
    g.MftMirrStart = MftMirrStart;
    g.FileRecordSectors = FileRecordSectors;
    g.IndexRecordSectors = IndexRecordSectors;
    return g;
}

void ResetPartitionDescriptor(PartitionDescriptor& d) {
    d.DiskNumber = 0;
    d.PartitionNumber = 0;
    d.FsType.clear();
    d.ModeText.clear();
    d.StartSector = 0;
    d.EndSector = 0;
    d.EndByte = 0;
    d.ItemStart = 0;
    d.ItemEnd = 0;
}

void ResetVolumeGeometry(CurrentPartition& p) {
    p.Geometry = VolumeGeometry{};
    p.ScratchGeometry = VolumeGeometry{};
    p.Exfat = ExfatPositions{};
    p.Descriptor.CopyGeometry(VolumeGeometry{}, true);
    p.Descriptor.FsName.clear();
}

std::uint32_t RoundUpSectorsPerCluster(std::uint32_t n) {
    if (n == 0) return 1;
    if (n >= 128) return n;
    std::uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

void SetNtfsVolumeContext(CurrentPartition& p, std::uint64_t firstRecordStart) {
    PartitionDescriptor& d = p.Descriptor;
    d.Cluster0Start = d.ItemStart;
    d.FsName = "NTFS";
    if (d.SectorsPerCluster == 0) {
        d.SectorsPerCluster = 8;
    } else if (p.Geometry.SectorsPerCluster != 0) {
        d.SectorsPerCluster = p.Geometry.SectorsPerCluster;
    }
    if (p.SelectedSourceKind == "Hard Disk" && d.PartitionNumber == 0) d.Cluster0Start = firstRecordStart;
}

namespace {

constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

class Reader {
public:
    Reader(Device& device, VolumeParameterReport* report) : device_(device), report_(report) {}
    // Records why a sound volume is not read; returns 0 (the result).
    int Refuse(VolumeParameterReport::Refusal why, std::uint32_t bytesPerSector = 0) {
        if (report_) {
            report_->Refused = why;
            report_->BytesPerSector = bytesPerSector;
        }
        return 0;
    }
    bool Read(std::uint64_t sector, SectorBytes& out) { return ReadOneSector(device_, sector, out); }
    void Trace(const char* fmt, unsigned long long a = 0, unsigned long long b = 0) {
        if (!report_) return;
        char line[160];
        std::snprintf(line, sizeof line, fmt, a, b);
        report_->Trace.emplace_back(line);
    }
    VolumeParameterReport* report() { return report_; }

private:
    Device& device_;
    VolumeParameterReport* report_;
};

// Sectors of another size than 512 bytes that a formatter may have written
// (a damaged field of any other value is left to the usual checks).
bool IsLargerSectorSize(std::uint32_t bytesPerSector) {
    return bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096;
}

// FAT16: the boot sector at S, validated by the first byte of the second FAT.
int ReadFat16(CurrentPartition& p, Reader& r, std::uint64_t s) {
    SectorBytes sector;
    r.Read(s, sector);
    const FatBootRecord boot = DecodeFatBootRecord(sector.View());
    if (!boot.signature) return 0;
    if (IsLargerSectorSize(boot.bytesPerSector))
        return r.Refuse(VolumeParameterReport::Refusal::SectorSize, boot.bytesPerSector);
    std::uint32_t reserved = boot.reservedSectors;
    std::uint32_t spf = boot.sectorsPerFat16;
    std::uint32_t spc = boot.sectorsPerCluster;
    std::uint32_t entries = boot.rootEntryCount;
    r.Trace("SPC = %llu", spc);
    // FAT values are 32-bit sector numbers: a volume whose areas do not fit
    // is refused rather than read at wrapped positions.
    std::uint64_t firstFat = s + reserved;
    std::uint64_t rootStart = firstFat + 2ull * spf;
    std::uint32_t rootSectors = boot.RootDirectorySectors();
    std::uint64_t cluster2 = rootStart + rootSectors;
    if (cluster2 > kU32Max) return 0;
    // A cluster size of 0 (or not a power of two) cannot address anything.
    if (!boot.ClusterSizeValid() || cluster2 < 2ull * spc) return 0;
    SectorBytes fat2;
    r.Read(firstFat + spf, fat2);
    if (fat2.b[0] != 0xF8) return 0;

    VolumeGeometry& g = p.Geometry;
    g.SectorsPerFat = spf;
    g.SectorsPerCluster = spc;
    g.RootSectors = rootSectors;
    g.RootStart = static_cast<std::uint32_t>(rootStart);
    g.ReservedSectors = reserved;
    g.Cluster0Start = cluster2 - 2ull * spc;
    g.FirstFatStart = static_cast<std::uint32_t>(firstFat);
    g.SecondFatStart = static_cast<std::uint32_t>(firstFat + spf);
    g.TotalSectors = boot.totalSectors;
    g.NumberOfFats = boot.numberOfFats;
    g.RootEntryCount = entries;
    return 1;
}

std::uint32_t ExfatClusterShiftValue(const SectorBytes& boot) {
    std::uint32_t shift = boot.U8(109);
    return shift <= 25 ? (1u << shift) : 0;
}

// FAT32 from the boot sector in `sector` (read at b, or its backup at b + 6).
int ReadFat32(CurrentPartition& p, Reader& r, std::uint64_t b, SectorBytes& sector) {
    PartitionDescriptor& d = p.Descriptor;
    FatBootRecord boot = DecodeFatBootRecord(sector.View());
    if (boot.named == FsKind::Fat32 && IsLargerSectorSize(boot.bytesPerSector))
        return r.Refuse(VolumeParameterReport::Refusal::SectorSize, boot.bytesPerSector);
    std::uint32_t spf = boot.sectorsPerFat32;
    std::uint32_t reserved = boot.reservedSectors;
    std::uint32_t spc = boot.sectorsPerCluster;
    if (p.ScanStartFsName == "exFAT") spc = ExfatClusterShiftValue(sector);
    std::uint32_t firstSpc = spc;
    std::uint32_t rootCluster = boot.rootCluster;
    r.Trace("SPC = %llu", spc);

    SectorBytes fat2;
    r.Read(b + reserved + static_cast<std::uint64_t>(spf), fat2);
    if (fat2.b[0] != 0xF8) {
        // Not a FAT where the boot sector says: look at the sector 6 further on.
        // When that is no boot sector either, the start may be pointing at the
        // backup itself; the real boot sector is then 6 sectors earlier.
        r.Read(b + 6, sector);
        boot = DecodeFatBootRecord(sector.View());
        if (boot.named == FsKind::Unknown && b > 6) {
            b -= 6;
            d.StartSector = b;
            if (r.report()) r.report()->StartSectorMoved = true;
            r.Read(b, sector);
            boot = DecodeFatBootRecord(sector.View());
        }
        spf = boot.sectorsPerFat32;
        reserved = boot.reservedSectors;
        spc = boot.sectorsPerCluster;
        rootCluster = boot.rootCluster;
        r.Trace("SPC2 = %llu", spc);
        r.Read(b + reserved + static_cast<std::uint64_t>(spf), fat2);
        if (fat2.b[0] != 0xF8) {
            p.Geometry.SectorsPerCluster = firstSpc;
            return 0;
        }
    }
    std::uint64_t firstFat = b + reserved;
    std::uint64_t cluster2 = firstFat + 2ull * spf;
    if (cluster2 > kU32Max) return 0;
    if (!IsClusterSizeValid(spc) || cluster2 < 2ull * spc) {
        p.Geometry.SectorsPerCluster = spc;
        return 0;
    }
    VolumeGeometry& g = p.Geometry;
    g.SectorsPerFat = spf;
    g.SectorsPerCluster = spc;
    g.RootSectors = 0;
    g.RootStart = rootCluster;
    g.ReservedSectors = reserved;
    g.Cluster0Start = cluster2 - 2ull * spc;
    g.FirstFatStart = static_cast<std::uint32_t>(firstFat);
    g.SecondFatStart = static_cast<std::uint32_t>(firstFat + spf);
    g.TotalSectors = boot.totalSectors;
    g.NumberOfFats = boot.numberOfFats;
    g.RootEntryCount = 0;
    return 1;
}

int ReadExfat(CurrentPartition& p, Reader& r, std::uint64_t b, const SectorBytes& boot, const ExfatBootRecord& e) {
    PartitionDescriptor& d = p.Descriptor;
    r.Trace("Its a EXFAT Partition");
    r.Trace("part_offset :: %llu", e.partitionOffset);
    r.Trace("FatOffset :: %llu", e.fatOffset);
    r.Trace("ClusterHeapOffset :: %llu", e.heapOffset);
    r.Trace("first_cluster :: %llu", e.rootCluster);
    r.Trace("NumberOfFats :: %llu", e.numberOfFats);

    // PartitionOffset counts from the start of the disk. It moves the start
    // only when the sector it names is the same volume's boot sector: read
    // through a volume path, from a partition image or after the partition was
    // moved, it names some unrelated sector.
    std::uint64_t start = b;
    if (e.partitionOffset != 0) {
        std::uint64_t unit = e.bytesPerSector / kSectorSize;
        if (e.partitionOffset <= std::numeric_limits<std::uint64_t>::max() / unit) {
            std::uint64_t candidate = e.partitionOffset * unit;
            if (candidate != b) {
                SectorBytes other;
                if (r.Read(candidate, other) && other.HasSignature() && other.Has(3, "EXFAT") &&
                    other.U32(100) == e.serial) {
                    start = candidate;
                    d.StartSector = candidate;
                    if (r.report()) r.report()->StartSectorMoved = true;
                }
            }
        }
    }
    r.Trace("Partition_Offset = %llu (sector = %llu)", e.partitionOffset, start);

    VolumeGeometry& g = p.Geometry;
    g.SectorsPerFat = e.fatLength;
    g.SectorsPerCluster = e.sectorsPerCluster;
    g.RootSectors = 0;
    g.RootStart = e.rootCluster;
    g.ReservedSectors = boot.U16(14);  // the FAT field's place, 0 on exFAT
    g.Cluster0Start = e.heapOffset;
    g.FirstFatStart = e.fatOffset;
    g.SecondFatStart = static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.fatOffset) + e.fatLength);
    g.TotalSectors = e.volumeLength;
    g.NumberOfFats = e.numberOfFats;
    g.RootEntryCount = 0;

    p.Exfat.VolumeByteBase = start * kSectorSize;
    p.Exfat.FatByteOffset = e.bytesPerSector * e.fatOffset;
    p.Exfat.HeapOffsetClusters = e.heapOffset / e.sectorsPerCluster;
    p.Exfat.BytesPerSector = e.bytesPerSector;
    p.Exfat.SectorsPerCluster = e.sectorsPerCluster;
    p.Exfat.VolumeLength = e.volumeLength;
    p.Exfat.ClusterCount = e.clusterCount;
    p.Exfat.VolumeSerial = e.serial;

    d.CopyGeometry(g, false);
    d.FsName = d.FsType;
    return 1;
}

// No exFAT boot sector: derive what the chosen file-system name allows, so the
// exFAT readers can address clusters from Cluster0Start. Always 0.
int ExfatFallback(CurrentPartition& p, Reader& r, std::uint64_t b, const SectorBytes& sector) {
    PartitionDescriptor& d = p.Descriptor;
    VolumeGeometry& g = p.Geometry;
    const std::string& chosen = p.ScanStartFsName;
    const FatBootRecord boot = DecodeFatBootRecord(sector.View());
    std::uint64_t spf = 0, reserved = boot.reservedSectors, spc = boot.sectorsPerCluster, rootSectors = 0, rootStart = 0;
    std::uint64_t cluster0 = 0, firstFat = 0;
    bool derived = true;
    if (chosen == "FAT16") {
        spf = boot.sectorsPerFat16;
        rootSectors = boot.RootDirectorySectors();
        firstFat = b + reserved;
        std::uint64_t c2 = firstFat + 2 * spf + rootSectors;
        cluster0 = c2 >= 2 * spc ? c2 - 2 * spc : 0;
    } else if (chosen == "FAT32") {
        spf = boot.sectorsPerFat32;
        firstFat = b + reserved;
        std::uint64_t c2 = firstFat + 2 * spf;
        cluster0 = c2 >= 2 * spc ? c2 - 2 * spc : 0;
    } else if (chosen == "NTFS") {
        spf = boot.sectorsPerFat32;
        rootStart = boot.rootCluster;
        firstFat = b + reserved;
        cluster0 = firstFat + spf;
    } else {
        derived = false;
    }
    p.ExfatFallbackGeometry = true;
    r.Trace("return not fat");
    if (!derived) {
        g.SectorsPerCluster = 1;
        return 0;
    }
    if (spc == 0) spc = 1;
    // The values are stored in 32 bits; a volume beyond that is not derived.
    if (firstFat + spf > kU32Max || cluster0 > kU32Max) {
        g.SectorsPerCluster = 1;
        return 0;
    }
    g.SectorsPerFat = static_cast<std::uint32_t>(spf);
    g.SectorsPerCluster = static_cast<std::uint32_t>(spc);
    g.RootSectors = static_cast<std::uint32_t>(rootSectors);
    g.RootStart = static_cast<std::uint32_t>(rootStart);
    g.ReservedSectors = static_cast<std::uint32_t>(reserved);
    g.Cluster0Start = cluster0;
    g.FirstFatStart = static_cast<std::uint32_t>(firstFat);
    g.SecondFatStart = static_cast<std::uint32_t>(firstFat + spf);
    p.Exfat.Cluster0Sector = cluster0;
    p.Exfat.VolumeByteBase = b * kSectorSize;
    // Offset of the first FAT inside the volume, as the exFAT readers add it
    // to VolumeByteBase.
    std::uint64_t fatBytes = (firstFat - b) * kSectorSize;
    p.Exfat.FatByteOffset = fatBytes > kU32Max ? 0 : static_cast<std::uint32_t>(fatBytes);
    p.Exfat.HeapOffsetClusters = static_cast<std::uint32_t>(cluster0 / spc);
    d.CopyGeometry(g, false);
    d.FsName = d.FsType;
    return 0;
}

int ReadNtfs(CurrentPartition& p, Reader& r, VolumeParameterReport* report) {
    PartitionDescriptor& d = p.Descriptor;
    const std::uint64_t s = d.StartSector;
    const bool haveBackup = d.EndSector > 0;
    const std::uint64_t backup = haveBackup ? d.EndSector - 1 : 0;

    SectorBytes sector;
    bool onBackup = false;
    r.Read(s, sector);
    if (!sector.HasSignature()) {
        if (haveBackup) r.Read(backup, sector);
        if (!haveBackup || !sector.HasSignature()) {
            if (report) report->NoNtfsBootSector = true;
            return 0;
        }
        onBackup = true;
    }
    NtfsBootRecord boot = DecodeNtfsBootRecord(sector.View());
    if (boot.named && IsLargerSectorSize(boot.bytesPerSector))
        return r.Refuse(VolumeParameterReport::Refusal::SectorSize, boot.bytesPerSector);
    // The other copy's values (the backup at the last sector, or the primary);
    // only the copy first chosen needs the signature.
    auto switchCopy = [&] {
        onBackup = !onBackup;
        if (onBackup && !haveBackup)
            sector.Clear();
        else
            r.Read(onBackup ? backup : s, sector);
        boot = DecodeNtfsBootRecord(sector.View());
    };

    r.Trace("SPC = %llu", boot.sectorsPerCluster);
    if (!boot.ClusterSizeValid()) {
        switchCopy();
        if (!boot.ClusterSizeValid()) {
            p.Geometry.SectorsPerCluster = static_cast<std::uint32_t>(boot.sectorsPerCluster);
            return 0;
        }
    }
    r.Trace("mftSize = %llu", boot.FileRecordSectors());
    if (!boot.RecordSizeValid()) {
        switchCopy();
        if (!boot.ClusterSizeValid() || !boot.RecordSizeValid()) return 0;
    }
    // The cluster size and record size of the copy that passed; the $MFT and
    // $MFTMirr positions may still come from the other copy.
    const std::uint64_t spc = boot.sectorsPerCluster;
    const std::uint64_t recordSectors = boot.FileRecordSectors();

    // Sector of an LCN, or 0 when it overflows (a corrupt value).
    auto lcnSector = [&](std::uint64_t lcn) -> std::uint64_t {
        if (lcn > (std::numeric_limits<std::uint64_t>::max() - s) / spc) return 0;
        return lcn * spc + s;
    };
    auto isFileRecord = [&](std::uint64_t at) {
        if (at == 0) return false;
        SectorBytes rec;
        r.Read(at, rec);
        return rec.Has(0, "FILE");
    };

    std::uint64_t m = lcnSector(boot.mftLcn);
    if (!isFileRecord(m)) {
        switchCopy();
        m = lcnSector(boot.mftLcn);
        if (!isFileRecord(m)) m = 0;
    }
    r.Trace("mftStart = %llu", m);
    std::uint64_t n = lcnSector(boot.mftMirrLcn);
    if (!isFileRecord(n)) {
        switchCopy();
        n = lcnSector(boot.mftMirrLcn);
        if (!isFileRecord(n)) n = 0;
    }
    if (m == 0 && n == 0) return 0;

    const std::uint64_t indexSectors = boot.IndexRecordSectors(spc);

    VolumeGeometry& g = p.Geometry;
    g.SectorsPerCluster = static_cast<std::uint32_t>(spc);
    g.Cluster0Start = s;
    g.MftStart = m;
    g.MftMirrStart = n;
    g.FileRecordSectors = static_cast<std::uint32_t>(recordSectors);
    g.IndexRecordSectors = indexSectors > kU32Max ? 0 : static_cast<std::uint32_t>(indexSectors);
    g.TotalSectors = boot.totalSectors;
    return 1;
}

}  // namespace

int ReadVolumeParameters(CurrentPartition& p, Device& device, VolumeParameterReport* report) {
    Reader r(device, report);
    PartitionDescriptor& d = p.Descriptor;
    p.ExfatFallbackGeometry = false;

    const std::uint64_t s = d.StartSector;
    if (d.FsType == "FAT16") {
        SectorBytes boot;
        r.Read(s, boot);
        if (DecodeFatBootRecord(boot.View()).named == FsKind::Fat32) d.FsType = "FAT32";
    }
    // The FAT values address 2^32 sectors: a FAT volume that starts beyond
    // cannot be read, whatever its boot sector says.
    if ((d.FsType == "FAT16" || d.FsType == "FAT32") && s > kU32Max)
        return r.Refuse(VolumeParameterReport::Refusal::BeyondFatLimit);
    if (d.FsType == "FAT16") return ReadFat16(p, r, s);
    if (d.FsType == "NTFS") return ReadNtfs(p, r, report);
    if (d.FsType != "FAT32" && d.FsType != "exFAT") return 0;

    // FAT32 and exFAT: the boot sector at S, or at the alternate start of a
    // file system found by a partition search; else its backup 6 sectors on.
    std::uint64_t b = s;
    if (p.SelectedSourceKind == "Recognised" &&
        (p.ScanStartFsName == "exFAT" || (d.FsType == "exFAT" && !p.ScanStartFsName.empty())))
        b = d.ItemStart;
    SectorBytes boot;
    r.Read(b, boot);
    if (!boot.HasSignature()) {
        r.Read(b + 6, boot);
        if (!boot.HasSignature()) {
            p.ExfatFallbackGeometry = true;
            return 0;
        }
    }
    if (d.FsType == "FAT32") {
        if (b > kU32Max) return r.Refuse(VolumeParameterReport::Refusal::BeyondFatLimit);
        return ReadFat32(p, r, b, boot);
    }
    if (const auto e = ReadExfatBootRecord(boot.View())) return ReadExfat(p, r, b, boot, *e);
    return ExfatFallback(p, r, b, boot);
}

std::string VolumeRefusalText(const VolumeParameterReport& report) {
    switch (report.Refused) {
    case VolumeParameterReport::Refusal::SectorSize:
        return "This volume uses " + std::to_string(report.BytesPerSector) +
               "-byte sectors, which are not supported: only volumes with 512-byte sectors can be read.";
    case VolumeParameterReport::Refusal::BeyondFatLimit:
        return "This FAT volume lies beyond the first 2 TiB of its disk (sector 4294967296 and on). FAT16 and "
               "FAT32 volumes can only be read within the first 2 TiB of a disk.";
    case VolumeParameterReport::Refusal::None:
        break;
    }
    return {};
}

bool OpenCurrentDevice(CurrentPartition& p, std::string* error) {
    if (p.Device) return true;
    p.Device = DeviceRegistry::Instance().Open(p.DevicePath, error);
    return p.Device != nullptr;
}

void CloseCurrentDevice(CurrentPartition& p) { p.Device.reset(); }

bool CanOpenCurrentDevice(const CurrentPartition& p) {
    return DeviceRegistry::Instance().Open(p.DevicePath) != nullptr;
}

int ReadVolumeParameters(CurrentPartition& p, VolumeParameterReport* report) {
    if (!OpenCurrentDevice(p)) return 0;
    DevicePtr device = p.Device;  // keeps it alive while we read
    return ReadVolumeParameters(p, *device, report);
}

}  // namespace torvane
