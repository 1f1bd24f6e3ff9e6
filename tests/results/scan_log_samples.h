// The documents behind the committed scan-log samples
// (tests/results/data/scan_logs, made by make_scan_logs.py from the format's
// description, not by the program's writer): the same contents, built here
// as documents, so that the writer's bytes can be compared with the samples
// and what the readers make of the samples with the documents.
#pragma once

#include "results/scan_log_document.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace torvane::test {

inline std::filesystem::path ScanLogSamplePath(const std::string& name)
{
    return std::filesystem::path(SCAN_LOG_DATA_DIR) / name;
}

inline std::vector<std::uint8_t> ReadScanLogSample(const std::string& name)
{
    std::ifstream in(ScanLogSamplePath(name), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace samples {

inline constexpr char kDiskId[] = "QEMU HARDDISK||  8.00 GB||16777216||1";
// 15-JUL-2024 14:30:20 as FAT words and as an NTFS FILETIME.
inline constexpr std::uint64_t kDate = ((2024 - 1980) << 9) | (7 << 5) | 15;
inline constexpr std::uint64_t kTime = (14 << 11) | (30 << 5) | 10;
inline constexpr std::uint64_t kFiletime = 133654842200000000ull;

inline ScanLogGeometry Geometry(std::uint32_t spf, std::uint32_t spc, std::uint32_t rootSectors,
                                std::uint32_t rootStart, std::uint32_t reserved, std::uint64_t cluster0,
                                std::uint32_t fat1, std::uint32_t fat2, std::uint64_t mft, std::uint64_t mirr,
                                std::uint32_t frs, std::uint32_t irs)
{
    return ScanLogGeometry{spf, spc, rootSectors, rootStart, reserved, cluster0, fat1, fat2, mft, mirr, frs, irs};
}

inline ScanLogGeometry Fat32Geometry() { return Geometry(630, 1, 0, 2, 32, 3338, 2080, 2710, 0, 0, 0, 0); }
inline ScanLogGeometry NtfsGeometry() { return Geometry(0, 8, 0, 0, 0, 2048, 0, 0, 2080, 18424, 2, 8); }
inline ScanLogGeometry Fat16Geometry() { return Geometry(32, 4, 32, 131, 4, 155, 67, 99, 0, 0, 0, 0); }

inline ScanLogPartition Partition(std::string fsType, std::string mode, std::uint64_t rangeStart,
                                  std::uint64_t rangeEnd, std::uint64_t itemStart, std::uint64_t itemEnd,
                                  std::uint64_t byteLimit)
{
    return ScanLogPartition{1, 0, std::move(fsType), std::move(mode), rangeStart, rangeEnd, itemStart, itemEnd,
                            byteLimit};
}

inline ScanLogFolderRecord Record(std::string name, std::uint32_t own, std::uint32_t parent, std::uint64_t date,
                                  std::uint64_t time, std::uint32_t deleted, std::uint64_t key,
                                  std::uint64_t count)
{
    return ScanLogFolderRecord{std::move(name), own, parent, date, time, deleted, key, count};
}

inline ScanLogTreeItem Item(std::size_t depth, std::string text, std::optional<ScanLogFolderRecord> record)
{
    return ScanLogTreeItem{depth, std::move(text), std::move(record)};
}

inline ScanLogTreeItem RootItem() { return Item(0, "Root", MakeScanLogRootRecord()); }

// A folder item whose record carries the item's own text as its name.
inline ScanLogTreeItem Folder(std::size_t depth, const std::string& name, std::uint32_t own, std::uint32_t parent,
                              std::uint64_t date, std::uint64_t time, std::uint32_t deleted, std::uint64_t key,
                              std::uint64_t count)
{
    return Item(depth, name, Record(name, own, parent, date, time, deleted, key, count));
}

inline ScanLogDocument Header(std::string kind, std::uint32_t mode, ScanLogSource source)
{
    ScanLogDocument doc;
    doc.header.sourceKind = std::move(kind);
    doc.header.driveDescription = "QEMU HARDDISK";
    doc.header.mode = mode;
    doc.source = std::move(source);
    return doc;
}

inline ScanLogDocument BasicFat32Head(std::uint64_t folderCount)
{
    ScanLogDocument doc = Header("part", 1, MakePhysicalScanLogSource(kDiskId, 1));
    doc.partition = Partition("FAT32", "Basic Search", 2048, 83948, 2048, 83948, 83948ull * 512);
    doc.geometry = doc.descriptorGeometry = Fat32Geometry();
    doc.fsName = "FAT32";
    doc.folderCount = folderCount;
    return doc;
}

inline ScanLogDocument BasicFat32()
{
    ScanLogDocument doc = BasicFat32Head(8);
    doc.tree = {RootItem(),
                Folder(1, "Documents", 3, 0, kDate, kTime, 0, 0, 6),
                Folder(2, "Projekte", 9, 3, kDate, kTime, 0, 0, 0),
                Folder(3, "2024", 10, 9, kDate, kTime, 0, 0, 1),
                Folder(4, "Q3 Planung", 11, 10, kDate, kTime, 0, 0, 2),
                Folder(1, "Fotos Sommer 2024", 14, 0, kDate, kTime, 0, 0, 3),
                Folder(2, "Strand", 15, 14, kDate, kTime, 0, 0, 1),
                Folder(3, "Abend", 16, 15, kDate, kTime, 0, 0, 1),
                Folder(1, "Sizes", 30, 0, kDate, kTime, 0, 0, 6)};
    doc.trailer = {"Disk 1 ( Partition 1 / FAT32 /  39.99 MB )", 2048};
    return doc;
}

inline std::vector<ScanLogFileRow> NtfsFiles()
{
    const std::string t = std::to_string(kFiletime);
    return {MakeScanLogFileRow(64, 2214, "Résumé.txt", 1800, t, "", ""),
            MakeScanLogFileRow(64, 281474976710721ull, "日本語.txt", 940, t, "1", ""),
            MakeScanLogFileRow(64, 2218, "Notes.txt", 700, t, "", ""),
            MakeScanLogFileRow(70, 2240, "size-0.bin", 0, t, "", "")};
}

inline std::vector<ScanLogExtentRow> NtfsExtents()
{
    return {{"1", "1", "2048", "34815", "2048", "16777216"}, {"1", "2", "34816", "69631", "34816", "16777216"}};
}

inline ScanLogDocument DeepNtfs()
{
    ScanLogDocument doc = Header("Hard Disk", 2, MakePhysicalScanLogSource(kDiskId, 1));
    doc.partition = Partition("NTFS", "Deep Search", 2048, 34815, 0, 16777216, 16777216ull * 512);
    doc.geometry = doc.descriptorGeometry = NtfsGeometry();
    doc.fsName = "NTFS";
    doc.folderCount = 3;
    doc.tree = {RootItem(),
                Folder(1, "Documents", 64, 5, kFiletime, 0, 0, 0, 6),
                Folder(2, "Projekte", 65, 64, kFiletime, 0, 0, 0, 0),
                Folder(1, "Sizes", 70, 5, kFiletime, 0, 1, 0, 6)};
    doc.files = NtfsFiles();
    doc.extents = NtfsExtents();
    doc.trailer = {"Disk 1 ( Partition 1 / NTFS /  16.00 MB )", 0};
    return doc;
}

inline ScanLogDocument DeepFat32()
{
    ScanLogDocument doc = Header("Hard Disk", 2, MakePhysicalScanLogSource(kDiskId, 1));
    doc.partition = Partition("FAT32", "Deep Search", 0, 16777216, 0, 16777216, 16777216ull * 512);
    doc.geometry = doc.descriptorGeometry = Fat32Geometry();
    doc.fsName = "FAT32";
    doc.fileSystemRows = {
        {"2048", "630", "1", "0", "2", "32", "3338", "2080", "2710", "81900", "0C", "83947"},
        {"90112", "536", "1", "0", "2", "32", "91214", "90144", "90680", "69615", "0C", "159726"}};
    doc.folderCount = 3;
    doc.tree = {RootItem(),
                Folder(1, "DCIM", 3, 0, kDate, kTime, 0, 3338, 0),
                Folder(2, "100CANON", 4, 3, kDate, kTime, 1, 3338, 4),
                // A FAT folder at cluster 5: an ordinary folder, not a root.
                Folder(1, "Music", 5, 0, kDate, kTime, 0, 91214, 2)};
    doc.trailer = {"Disk 1", 0};
    return doc;
}

inline ScanLogDocument BasicNtfsLogical()
{
    ScanLogDocument doc = Header("Logical", 1, MakeLogicalScanLogSource("\\\\.\\D:", 32767));
    doc.partition = Partition("NTFS", "Basic Search", 0, 32767, 0, 32767, 32767ull * 512);
    doc.geometry = doc.descriptorGeometry = NtfsGeometry();
    doc.fsName = "NTFS";
    doc.folderCount = 1;
    doc.tree = {RootItem(), Folder(1, "Documents", 64, 5, kFiletime, 0, 0, 0, 2)};
    doc.files = {NtfsFiles()[0], NtfsFiles()[1]};
    doc.trailer = {"D:", 2048};
    return doc;
}

inline ScanLogDocument DeepExfatRecognised()
{
    ScanLogDocument doc = Header("Recognised", 2, MakeLogicalScanLogSource("\\\\.\\E:", 32768));
    doc.partition = Partition("exFAT", "Deep Search", 0, 32768, 0, 32768, 32768ull * 512);
    doc.geometry = doc.descriptorGeometry = Geometry(32, 8, 0, 5, 0, 4080, 2048, 0, 0, 0, 0, 0);
    doc.fsName = "exFAT";
    doc.folderCount = 1;
    doc.tree = {RootItem(), Folder(1, "Documents", 7, 5, kDate, kTime, 0, 4096, 1)};
    const std::string d = std::to_string(kDate), t = std::to_string(kTime);
    doc.files = {MakeScanLogFileRow(5, 4136, "readme.txt", 12, "15-JUL-202414:30:20", d, t),
                 MakeScanLogFileRow(7, 4144, "Notes.txt", 700, "15-JUL-202414:30:20", d, t)};
    doc.trailer = {"EXFAT TEST", 0};
    return doc;
}

inline ScanLogDocument OnlyRoot()
{
    ScanLogDocument doc = Header("part", 1, MakePhysicalScanLogSource(kDiskId, 1));
    doc.partition = Partition("FAT16", "Basic Search", 63, 32823, 63, 32823, 32823ull * 512);
    doc.geometry = doc.descriptorGeometry = Fat16Geometry();
    doc.fsName = "FAT16";
    doc.folderCount = 0;
    doc.tree = {RootItem()};
    doc.trailer = {"Disk 1 ( Partition 1 / FAT16 /  16.00 MB )", 63};
    return doc;
}

inline ScanLogDocument LongNames()
{
    ScanLogDocument doc = BasicFat32Head(3);
    std::string third = "Ü";
    third.append(299, 'c');
    doc.tree = {RootItem(),
                Folder(1, std::string(254, 'A'), 3, 0, kDate, kTime, 0, 0, 0),
                Folder(1, std::string(255, 'B'), 4, 0, kDate, kTime, 0, 0, 0),
                Folder(1, third, 5, 0, kDate, kTime, 0, 0, 0)};
    doc.trailer = {"", 2048};
    return doc;
}

inline ScanLogDocument ZeroRecord()
{
    ScanLogDocument doc = BasicFat32Head(1);
    doc.tree = {RootItem(), Folder(1, "Documents", 3, 0, kDate, kTime, 0, 0, 6), Item(2, "Lost folder", {}),
                Item(1, "Root", {})};
    doc.trailer = {"Disk 1 ( Partition 1 / FAT32 /  39.99 MB )", 2048};
    return doc;
}

}  // namespace samples

// The current-layout samples and their documents.
struct GoldenScanLog {
    const char* file;
    ScanLogDocument (*make)();
};

inline const std::vector<GoldenScanLog>& GoldenScanLogs()
{
    static const std::vector<GoldenScanLog> all = {
        {"basic-fat32.VQL", samples::BasicFat32},
        {"deep-ntfs.VQL", samples::DeepNtfs},
        {"deep-fat32.VQL", samples::DeepFat32},
        {"basic-ntfs-logical.VQL", samples::BasicNtfsLogical},
        {"deep-exfat-recognised.VQL", samples::DeepExfatRecognised},
        {"only-root.VQL", samples::OnlyRoot},
        {"long-names.VQL", samples::LongNames},
        {"zero-record.VQL", samples::ZeroRecord},
    };
    return all;
}

}  // namespace torvane::test
