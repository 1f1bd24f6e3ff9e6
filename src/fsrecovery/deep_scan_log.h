// What a Deep Search adds to its scan logs: the FAT file systems the sweep
// found (FileSystemTable) and the partition extents (PartitionExtentTable),
// written as the rows of texts the log keeps, and read back into a Deep
// session's tables together with one volume per file system found.
//
// Text forms (decimal, no padding):
//   file-system row: Sector, SPF, SPC, Root Sectors, Root Start, Reserve
//     Sectors, Cluster0Start, firstFAT, secondFAT, TotalSectors, PartType,
//     End Sector. 64-bit values "%llu", 32-bit values "%lu"; End Sector is
//     written by no step of the sweep and stays "" while it is 0.
//   extent row: Drive (a disk number or a recognised file system's key text),
//     Part "%d", St_Sec, End_Sec, Clus0, Drive_E_Sec "%llu".
// Reading takes each cell as a decimal number (an empty or non-numeric cell
// reads 0, more than 64 bits saturate; a 32-bit column keeps values up to
// 4294967295 and reads larger ones as 0, which no reader follows).
//
// A log is untrusted: at most kMaxDeepLogFileSystems file-system rows are
// taken back (the sweep keeps no more boot sectors than that either).
#pragma once

#include "fsrecovery/deep/deep_tables.h"
#include "fsrecovery/scan_log_session.h"
#include "results/scan_log_document.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace torvane {

inline constexpr std::size_t kMaxDeepLogFileSystems = 65535;

ScanLogFileSystemRow ScanLogTextsOfFileSystemRow(const FatFileSystemRow& row);
FatFileSystemRow FileSystemRowOfScanLogTexts(const ScanLogFileSystemRow& texts);
ScanLogExtentRow ScanLogTextsOfExtentRow(const PartitionExtentRow& row);
PartitionExtentRow ExtentRowOfScanLogTexts(const ScanLogExtentRow& texts);

// A Deep session's tables as its scan logs see them. `tables` must outlive
// this; it is read while a log is written (no scan runs then) and written
// while one is loaded (on the loading worker, before the session takes the
// results).
class DeepScanLogTables final : public ScanLogDeepTables {
public:
    explicit DeepScanLogTables(DeepTables& tables) : tables_(tables) {}

    std::vector<ScanLogFileSystemRow> FileSystemRows() const override;
    std::vector<ScanLogExtentRow> ExtentRows() const override;
    // Empties the tables and puts the log's rows in; the found file systems
    // are published as after a scan.
    void RestoreTables(const std::vector<ScanLogFileSystemRow>& fileSystems,
                       const std::vector<ScanLogExtentRow>& extents) override;
    // FAT16/FAT32: one volume per file-system row, keyed by its cluster-0
    // sector, as the scan made them (none without rows). NTFS and exFAT: the
    // file system's own volume of the partition.
    std::vector<std::shared_ptr<FileSystemVolume>> RebuildVolumes(const CurrentPartition& partition,
                                                                   ScanResults& results) override;

private:
    DeepTables& tables_;
};

}  // namespace torvane
