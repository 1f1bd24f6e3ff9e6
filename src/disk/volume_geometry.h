// The current partition and the geometry of its file system.
//
// A scan, a save or a partition search works on one partition at a time. Its
// extent and kind are in a PartitionDescriptor; the values derived from its
// boot sector (FAT16, FAT32, exFAT or NTFS) are in a VolumeGeometry. Both live
// in a CurrentPartition object that the session owns and hands by reference to
// the scans: nothing here is program-wide.
//
// All sector numbers are 512-byte sectors, absolute on the device that
// CurrentPartition::DevicePath names, unless a field says "relative".
// The field widths are those the scan log stores (u32 for the FAT values,
// u64 for cluster 0 and the MFT positions); keep them.
#pragma once

#include "platform/device.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

// Values derived from a boot sector. Absolute sectors unless noted.
//
//                      FAT16                 FAT32                exFAT                       NTFS
//  SectorsPerFat       u16 @22               u32 @36              FatLength u32 @84           -
//  SectorsPerCluster   u8 @13                u8 @13               2^(u8 @109)                 u8 @13 (1..128)
//  RootSectors         ceil(entries/16)      0                    0                           -
//  RootStart           first root sector     root cluster u32@44  root cluster u32 @96        -
//  ReservedSectors     u16 @14               u16 @14              u16 @14 (0 on exFAT)        -
//  Cluster0Start       sector of cluster 0   sector of cluster 0  ClusterHeapOffset, relative  partition start
//  FirstFatStart       start + reserved      start + reserved     FatOffset, relative         -
//  SecondFatStart      first + per-FAT       first + per-FAT      FatOffset+FatLength, rel.   -
//  MftStart            -                     -                    -                           first sector of $MFT or 0
//  MftMirrStart        -                     -                    -                           first sector of $MFTMirr or 0
//  FileRecordSectors   -                     -                    -                           sectors per FILE record
//  IndexRecordSectors  -                     -                    -                           sectors per INDX record
//
// Cluster k of a FAT volume starts at Cluster0Start + k * SectorsPerCluster.
struct VolumeGeometry {
    std::uint32_t SectorsPerFat = 0;
    std::uint32_t SectorsPerCluster = 0;
    std::uint32_t RootSectors = 0;
    std::uint32_t RootStart = 0;
    std::uint32_t ReservedSectors = 0;
    std::uint64_t Cluster0Start = 0;
    std::uint32_t FirstFatStart = 0;
    std::uint32_t SecondFatStart = 0;
    std::uint64_t MftStart = 0;
    std::uint64_t MftMirrStart = 0;
    std::uint32_t FileRecordSectors = 0;
    std::uint32_t IndexRecordSectors = 0;

    // --- Not stored in the scan log: extra facts of the boot sector that the
    // readers may use for bounds. 0 when unknown.
    // Sectors of the volume: FAT u16 @19, or u32 @32 when that is 0 (small FAT16
    // volumes keep their size in the 16-bit field); exFAT VolumeLength; NTFS u64 @40.
    std::uint64_t TotalSectors = 0;
    std::uint32_t NumberOfFats = 0;      // FAT u8 @16, exFAT u8 @110
    std::uint32_t RootEntryCount = 0;    // FAT16 u16 @17

    bool operator==(const VolumeGeometry&) const = default;
};

// exFAT positions of the current volume, used by the exFAT readers.
struct ExfatPositions {
    std::uint64_t VolumeByteBase = 0;    // the partition's byte offset on the device
    std::uint32_t FatByteOffset = 0;     // byte offset of the first FAT inside the volume
    std::uint32_t HeapOffsetClusters = 0;// ClusterHeapOffset / sectors per cluster
    std::uint64_t Cluster0Sector = 0;    // u64 copy of the cluster-0 sector (fallback geometry)
    std::uint32_t BytesPerSector = 0;    // 2^(u8 @108); 0 until an exFAT boot sector was read
    std::uint32_t SectorsPerCluster = 0; // 2^(u8 @109)
    std::uint64_t VolumeLength = 0;      // u64 @72, sectors
    std::uint32_t ClusterCount = 0;      // u32 @92
    std::uint32_t VolumeSerial = 0;      // u32 @100

    bool operator==(const ExfatPositions&) const = default;
};

// The partition being worked on. Field order is the order the scan log uses.
struct PartitionDescriptor {
    std::uint16_t DiskNumber = 0;        // CurrentDiskIndex at scan start
    std::uint32_t PartitionNumber = 0;   // 0 = the first partition of the disk
    std::string FsType;                  // "FAT16", "FAT32", "exFAT", "NTFS" or another text
    std::string ModeText;                // "Basic Search", "Deep Search", ...
    std::uint64_t StartSector = 0;       // first sector of the partition or range (boot sector here)
    std::uint64_t EndSector = 0;         // one past the last sector (NTFS backup boot sector at EndSector-1)
    std::uint64_t EndByte = 0;           // end of the source in bytes; nothing beyond is read
    std::uint64_t ItemStart = 0;         // start sector of the selected drive-tree item
    std::uint64_t ItemEnd = 0;           // end sector of the selected drive-tree item
    // Copy of the first eight VolumeGeometry values.
    std::uint32_t SectorsPerFat = 0;
    std::uint32_t SectorsPerCluster = 0;
    std::uint32_t RootSectors = 0;
    std::uint32_t RootStart = 0;
    std::uint32_t ReservedSectors = 0;
    std::uint64_t Cluster0Start = 0;
    std::uint32_t FirstFatStart = 0;
    std::uint32_t SecondFatStart = 0;
    std::string FsName;                  // the file-system name the copied geometry belongs to
    std::uint64_t MftStart = 0;
    std::uint64_t MftMirrStart = 0;
    std::uint32_t FileRecordSectors = 0;
    std::uint32_t IndexRecordSectors = 0;
    std::string SelectedItemText;        // drive-tree item last selected under "Physical Drives"
    std::string DiskModelText;
    std::string DiskModelTextCopy;
    std::string DiskIdentity;            // model||capacity||sectors||number

    // Copies the eight FAT values (and, with `withNtfs`, the NTFS values) of `g`.
    void CopyGeometry(const VolumeGeometry& g, bool withNtfs = true);
    // The copied values as a VolumeGeometry (the extra, unstored fields are 0).
    VolumeGeometry GeometryCopy() const;

    bool operator==(const PartitionDescriptor&) const = default;
};

// Disk number, dynamic flag and extent of the selected drive-tree item.
struct SelectedVolumeExtent {
    std::uint32_t DiskNumber = 0;
    std::uint32_t Dynamic = 0;
    std::uint64_t StartSector = 0;
    std::uint64_t EndSector = 0;         // one past the last sector
};

// Everything a scan needs to know about the partition it reads. The session
// owns one; scans receive it by reference (or a copy taken at scan start).
struct CurrentPartition {
    PartitionDescriptor Descriptor;
    VolumeGeometry Geometry;
    VolumeGeometry ScratchGeometry;      // where the partition searches assemble a candidate
    ExfatPositions Exfat;
    bool ExfatFallbackGeometry = false;  // set when no exFAT boot sector gave the exFAT values

    std::string DevicePath;              // "\\.\PhysicalDriveN" or "\\.\X:" (CurrentDevicePath)
    std::string SelectedSourceKind;      // "Hard Disk", "Logical", "Recognised", "part", ""
    std::string ScanStartFsName;         // the file-system name chosen at scan start
    std::uint64_t CurrentDiskSectorCount = 0;
    std::uint64_t DiskFirstSector = 0;   // always 0
    SelectedVolumeExtent VolumeExtent;   // SelectedVolumeExtent
    int RecoveryMode = 0;                // 1 Basic, 2 Deep, 3 Photo, 4 Video, 5 Signature
    // The selection is a disk that lists no partition (its item under
    // "Physical Drives" has no child): the scan looks at what the disk holds
    // before it trusts the file-system type guessed from the disk's size.
    bool DiskListsNoPartition = false;

    // The open device DevicePath names. ReadVolumeParameters opens it through
    // the DeviceRegistry when it is null and leaves it open for the scan.
    DevicePtr Device;
};

// ResetPartitionDescriptor: disk and partition number 0, FsType and ModeText
// empty, the five extent fields 0. Geometry and texts stay.
void ResetPartitionDescriptor(PartitionDescriptor& d);
// ResetVolumeGeometry: zeroes both geometry blocks, the exFAT positions and the
// descriptor's geometry copy and NTFS values; empties FsName.
void ResetVolumeGeometry(CurrentPartition& p);

// What ReadVolumeParameters saw, beyond its result.
struct VolumeParameterReport {
    // Neither the start sector nor EndSector-1 holds an NTFS boot sector
    // signature: the caller may start the partition search of a disk that lists
    // no partition (the reader itself never starts one).
    bool NoNtfsBootSector = false;
    // The exFAT PartitionOffset or the FAT32 backup made StartSector move.
    bool StartSectorMoved = false;
    std::vector<std::string> Trace;      // diagnostic lines ("SPC = 8", ...)
    // Why the geometry was refused, when the volume is sound but of a kind
    // the program does not read: its boot sector names sectors of another
    // size than 512 bytes (FAT, NTFS), or a FAT volume lies beyond the first
    // 2^32 sectors of its disk, which the FAT values (and the scan log) cannot
    // address. The derivation from the data must not be tried then.
    enum class Refusal { None, SectorSize, BeyondFatLimit };
    Refusal Refused = Refusal::None;
    std::uint32_t BytesPerSector = 0;    // the boot sector's, when Refused is SectorSize
};

// What the user is told of a refused volume (VolumeParameterReport::Refused).
std::string VolumeRefusalText(const VolumeParameterReport& report);

// Reads the boot sector of the partition in p.Descriptor (FsType, StartSector,
// EndSector, ItemStart) from `device` and derives p.Geometry and the
// descriptor's copy. Returns 1 when the geometry was derived, 0 when not.
// May change Descriptor.FsType ("FAT16" -> "FAT32") and Descriptor.StartSector
// (FAT32 start pointing at the backup boot sector; exFAT PartitionOffset when
// the sector there is the same exFAT volume). Sets p.ExfatFallbackGeometry and
// p.Exfat. Never reads outside the device; a read failure counts as a sector
// of zeros. FAT volumes must lie within the first 2^32 sectors (the FAT values
// are 32-bit); beyond, the result is 0 and the report says so. A FAT or NTFS
// boot sector that names 1024-, 2048- or 4096-byte sectors gives 0 too, and
// the report says so (only 512-byte sectors are read).
int ReadVolumeParameters(CurrentPartition& p, Device& device, VolumeParameterReport* report = nullptr);
// Same on p.Device, opening p.DevicePath through the DeviceRegistry first when
// p.Device is null. Returns 0 when the device cannot be opened.
int ReadVolumeParameters(CurrentPartition& p, VolumeParameterReport* report = nullptr);

// The current device: opens p.DevicePath read-only through the DeviceRegistry
// into p.Device unless it is open already (OpenDeviceHandle); drops it
// (CloseDeviceHandle: reads other threads have started keep their reference);
// and whether p.DevicePath opens at all (CanOpenCurrentDevice).
bool OpenCurrentDevice(CurrentPartition& p, std::string* error = nullptr);
void CloseCurrentDevice(CurrentPartition& p);
bool CanOpenCurrentDevice(const CurrentPartition& p);

// Rounds a sectors-per-cluster value up to a power of two: 0 -> 1, 3 -> 4,
// 5..7 -> 8, ... 65..127 -> 128; powers of two and values from 128 up stay.
std::uint32_t RoundUpSectorsPerCluster(std::uint32_t n);

// SetNtfsVolumeContext: prepares the descriptor for an NTFS volume of the Deep
// Search. `firstRecordStart` is the start sector of the first partition record
// of disk DiskNumber (pass 0 when there is none).
void SetNtfsVolumeContext(CurrentPartition& p, std::uint64_t firstRecordStart);

}  // namespace torvane
