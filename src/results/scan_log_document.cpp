// Section rules, source forms, file-row numbers and tree parents of a scan log.
#include "results/scan_log_document.h"

#include "base/text_routines.h"

#include <algorithm>
#include <utility>

namespace torvane {

ScanLogFolderRecord MakeScanLogRootRecord()
{
    ScanLogFolderRecord record;
    record.name = kScanLogRootRecordName;
    return record;
}

bool IsDeepScanLog(const ScanLogDocument& doc) { return doc.header.mode == kScanLogDeepMode; }

bool HasFileSystemRows(const ScanLogDocument& doc)
{
    return IsDeepScanLog(doc) && (doc.partition.fsType == "FAT32" || doc.partition.fsType == "FAT16");
}

bool HasFileTable(const ScanLogDocument& doc) { return doc.fsName == "NTFS" || doc.fsName == "exFAT"; }

bool HasExtentRows(const ScanLogDocument& doc) { return IsDeepScanLog(doc) && HasFileTable(doc); }

bool IsScanLogVolumeKind(std::string_view sourceKind, std::uint32_t mode)
{
    if (sourceKind == "Logical") return true;
    return mode == kScanLogDeepMode && sourceKind == "Recognised";
}

ScanLogSourceForm ChooseScanLogSourceForm(std::string_view sourceKind, std::uint32_t mode, bool scannedThroughDisk)
{
    return IsScanLogVolumeKind(sourceKind, mode) && !scannedThroughDisk ? ScanLogSourceForm::Logical
                                                                        : ScanLogSourceForm::Physical;
}

ScanLogSource MakePhysicalScanLogSource(std::string diskIdentity, std::uint16_t diskNumber)
{
    ScanLogSource source;
    source.form = ScanLogSourceForm::Physical;
    source.tag = "PHY";
    source.diskIdentity = std::move(diskIdentity);
    source.diskNumber = diskNumber;
    return source;
}

ScanLogSource MakeLogicalScanLogSource(std::string volumePath, std::uint64_t volumeSectors)
{
    ScanLogSource source;
    source.form = ScanLogSourceForm::Logical;
    source.tag = "LOG";
    source.volumePath = std::move(volumePath);
    source.volumeSectors = volumeSectors;
    return source;
}

ScanLogFileRow MakeScanLogFileRow(std::uint64_t parentId, std::uint64_t ownId, std::string_view name,
                                  std::uint64_t size, std::string_view text1, std::string_view text2,
                                  std::string_view text3)
{
    const std::string parent = std::to_string(parentId);
    return ScanLogFileRow{parent + "|" + std::to_string(ownId) + "|",
                          std::string(name),
                          std::to_string(size),
                          std::string(text1),
                          std::string(text2),
                          parent,
                          std::string(text3)};
}

std::uint64_t ScanLogFileRowParentId(const ScanLogFileRow& row) { return ParseDecimalU64(row[5]); }

std::uint64_t ScanLogFileRowSize(const ScanLogFileRow& row) { return ParseDecimalU64(row[2]); }

std::uint64_t ScanLogFileRowOwnId(const ScanLogFileRow& row)
{
    const std::string& ids = row[0];
    const std::size_t bar = ids.find('|');
    std::string own;
    for (std::size_t i = bar == std::string::npos ? 0 : bar + 1; i < ids.size(); ++i)
        if (ids[i] != '|') own.push_back(ids[i]);
    return ParseDecimalU64(own);
}

std::vector<std::size_t> ScanLogTreeParents(const std::vector<ScanLogTreeItem>& tree)
{
    std::vector<std::size_t> parents(tree.size(), kNoScanLogParent);
    // ancestors[k]: the latest item at depth k on the path to the current item.
    std::vector<std::size_t> ancestors;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        // A depth beyond the preceding item's + 1 hangs under the preceding item.
        const std::size_t depth = std::min(tree[i].depth, ancestors.size());
        ancestors.resize(depth);
        parents[i] = depth == 0 ? kNoScanLogParent : ancestors.back();
        ancestors.push_back(i);
    }
    return parents;
}

}  // namespace torvane
