#include "fsrecovery/scan_log_session.h"

#include "base/text_routines.h"
#include "disk/fs_kind.h"
#include "fsrecovery/store/name_rules.h"
#include "fsrecovery/exfat/exfat_module.h"
#include "fsrecovery/fat/fat_module.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_module.h"
#include "platform/device_registry.h"
#include "results/tree_item_walk.h"

#include <array>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace torvane {
namespace {

bool IsExfat(const std::string& fsName) { return fsName == "exFAT"; }

// The number after the last "|" of an identity text, or -1.
int IdentityNumber(const std::string& identity)
{
    const std::size_t bar = identity.rfind('|');
    if (bar == std::string::npos)
        return -1;
    const std::string tail = TrimWhite(identity.substr(bar + 1));
    if (tail.empty() || tail.find_first_not_of("0123456789") != std::string::npos || tail.size() > 3)
        return -1;
    return std::stoi(tail);
}

ScanLogGeometry LogGeometryOf(const VolumeGeometry& g)
{
    ScanLogGeometry l;
    l.sectorsPerFat = g.SectorsPerFat;
    l.sectorsPerCluster = g.SectorsPerCluster;
    l.rootSectors = g.RootSectors;
    l.rootStart = g.RootStart;
    l.reservedSectors = g.ReservedSectors;
    l.cluster0Start = g.Cluster0Start;
    l.firstFatStart = g.FirstFatStart;
    l.secondFatStart = g.SecondFatStart;
    l.mftStart = g.MftStart;
    l.mftMirrStart = g.MftMirrStart;
    l.fileRecordSectors = g.FileRecordSectors;
    l.indexRecordSectors = g.IndexRecordSectors;
    return l;
}

VolumeGeometry VolumeGeometryOf(const ScanLogGeometry& l)
{
    VolumeGeometry g;
    g.SectorsPerFat = l.sectorsPerFat;
    g.SectorsPerCluster = l.sectorsPerCluster;
    g.RootSectors = l.rootSectors;
    g.RootStart = l.rootStart;
    g.ReservedSectors = l.reservedSectors;
    g.Cluster0Start = l.cluster0Start;
    g.FirstFatStart = l.firstFatStart;
    g.SecondFatStart = l.secondFatStart;
    g.MftStart = l.mftStart;
    g.MftMirrStart = l.mftMirrStart;
    g.FileRecordSectors = l.fileRecordSectors;
    g.IndexRecordSectors = l.indexRecordSectors;
    return g;
}

ScanLogFolderRecord RecordOf(const RecoveredFolder& f)
{
    ScanLogFolderRecord r;
    r.name = f.name;
    r.ownId = f.selfId;
    r.parentId = f.parentId;
    r.date = f.date;
    r.time = f.time;
    r.deleted = f.deleted;
    r.fsKey = f.fsKey;
    r.fileCount = f.fileCount;
    return r;
}

std::vector<ScanLogTreeItem> TreeItemsOf(ScanResults& results)
{
    std::vector<ScanLogTreeItem> items;
    const TreeModel& tree = results.Tree();
    std::unordered_map<TreeNodeId, std::size_t> depth;
    for (TreeNodeId n = GetNextTreeItemPreorder(tree, kNoTreeNode); n != kNoTreeNode;
         n = GetNextTreeItemPreorder(tree, n)) {
        const TreeNodeId parent = tree.Parent(n);
        const std::size_t d = parent == kNoTreeNode ? 0 : depth[parent] + 1;
        depth[n] = d;
        ScanLogTreeItem item;
        item.depth = d;
        item.text = tree.Text(n);
        if (items.empty()) {
            // The first item is the root: its record is always the root record.
            item.record = MakeScanLogRootRecord();
        } else if (const RecoveredFolder* f = results.FolderOfItem(n)) {
            item.record = RecordOf(*f);
        }
        items.push_back(std::move(item));
    }
    return items;
}

constexpr std::array<const char*, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool Digits(std::string_view text, std::size_t at, std::size_t n, int& value)
{
    if (at + n > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "DD-MON-YYYY" at the start of `text`.
bool ParseDateText(std::string_view text, std::tm& tm)
{
    int day = 0, year = 0;
    if (text.size() < 11 || !Digits(text, 0, 2, day) || text[2] != '-' || text[6] != '-' || !Digits(text, 7, 4, year))
        return false;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (text.substr(3, 3) == kMonths[m]) {
            tm.tm_mday = day;
            tm.tm_mon = static_cast<int>(m);
            tm.tm_year = year - 1900;
            return day >= 1 && day <= 31;
        }
    }
    return false;
}

// "HH:MM:SS" right after the 11 characters of the date.
bool ParseTimeText(std::string_view text, std::tm& tm)
{
    int h = 0, m = 0, s = 0;
    if (text.size() < 19 || !Digits(text, 11, 2, h) || text[13] != ':' || !Digits(text, 14, 2, m) ||
        text[16] != ':' || !Digits(text, 17, 2, s) || h > 23 || m > 59 || s > 60)
        return false;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    return true;
}

}  // namespace

ScanLogSourceFacts ScanLogSourceFactsOf(const CurrentPartition& partition,
                                        const std::vector<std::string>& diskIdentities, std::string description)
{
    ScanLogSourceFacts f;
    const PartitionDescriptor& d = partition.Descriptor;
    f.sourceKind = partition.SelectedSourceKind.empty() ? std::string("part") : partition.SelectedSourceKind;
    const int disk = ParsePhysicalDriveNumber(partition.DevicePath);
    // A volume kind read through a disk path was read through its disk.
    f.throughDisk = disk >= 0 || ParseVolumeLetter(partition.DevicePath) == 0;
    f.diskNumber = static_cast<std::uint16_t>(disk >= 0 ? disk : d.DiskNumber);
    f.diskIdentity = d.DiskIdentity;
    for (const std::string& identity : diskIdentities) {
        if (IdentityNumber(identity) == f.diskNumber) {
            f.diskIdentity = identity;
            break;
        }
    }
    f.driveDescription = d.DiskModelText;
    if (f.driveDescription.empty())
        f.driveDescription = f.diskIdentity.substr(0, f.diskIdentity.find("||"));
    f.volumePath = partition.DevicePath;
    f.volumeSectors = d.ItemEnd;
    f.description = std::move(description);
    f.selectedVolumeStart = partition.VolumeExtent.StartSector;
    return f;
}

ScanLogFileRow ScanLogRowOfEntry(const FoundEntry& e, const std::string& fsName, std::time_t scanTime)
{
    if (IsExfat(fsName)) {
        const std::string text1 = FormatFatDate(e.FatDate(), scanTime) + FormatFatTime(e.FatTime(), scanTime);
        return MakeScanLogFileRow(e.parentId, e.ownId, e.name, e.size, text1, std::to_string(e.FatDate()),
                                  std::to_string(e.FatTime()));
    }
    return MakeScanLogFileRow(e.parentId, e.ownId, e.name, e.size, std::to_string(e.stamp), e.fromIndex ? "1" : "",
                              "");
}

FoundEntry EntryOfScanLogRow(const ScanLogFileRow& row, const std::string& fsName, std::uint32_t exfatRoot,
                             bool folderAtCluster5)
{
    FoundEntry e;
    e.name = row[1];
    e.parentId = ScanLogFileRowParentId(row);
    e.ownId = ScanLogFileRowOwnId(row);
    e.size = ScanLogFileRowSize(row);
    if (IsExfat(fsName)) {
        const std::uint64_t date = ParseDecimalU64(row[4]) & 0xFFFF;
        const std::uint64_t time = ParseDecimalU64(row[6]) & 0xFFFF;
        e.stamp = date << 16 | time;
        // Older logs filed the root's files under 0 or 5, newer ones under
        // the root's cluster; 5 is a folder of its own when the log holds
        // one there (the first folder of a card whose root is at 4).
        const std::uint64_t root = ExfatRootFolderId(exfatRoot);
        const bool fiveIsRoot = root == kExfatUnknownRootId || !folderAtCluster5;
        if (e.parentId == 0 || e.parentId == root || (e.parentId == kExfatUnknownRootId && fiveIsRoot))
            e.parentId = root;
    } else {
        e.stamp = ParseDecimalU64(row[3]);
        e.fromIndex = TrimWhite(row[4]) == "1";
    }
    return e;
}

std::time_t ScanTimeOfExfatRows(const std::vector<ScanLogFileRow>& rows)
{
    std::tm day{};
    std::tm clock{};
    bool haveDay = false, haveClock = false;
    for (const ScanLogFileRow& row : rows) {
        if (!haveDay && TrimWhite(row[4]) == "0")
            haveDay = ParseDateText(row[3], day);
        if (!haveClock && TrimWhite(row[6]) == "0")
            haveClock = ParseTimeText(row[3], clock);
        if (haveDay && haveClock)
            break;
    }
    if (!haveDay)
        return 0;
    day.tm_hour = haveClock ? clock.tm_hour : 12;
    day.tm_min = haveClock ? clock.tm_min : 0;
    day.tm_sec = haveClock ? clock.tm_sec : 0;
    day.tm_isdst = -1;
    const std::time_t t = std::mktime(&day);
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

ScanLogDocument MakeScanLogDocument(ScanResults& results, const CurrentPartition& partition, int mode,
                                    const ScanLogSourceFacts& facts, const ScanLogDeepTables* deep)
{
    ScanLogDocument doc;
    const PartitionDescriptor& d = partition.Descriptor;
    doc.header.sourceKind = facts.sourceKind;
    doc.header.driveDescription = facts.driveDescription;
    doc.header.mode = mode == 2 ? kScanLogDeepMode : kScanLogBasicMode;

    const ScanLogSourceForm form = ChooseScanLogSourceForm(facts.sourceKind, doc.header.mode, facts.throughDisk);
    doc.source = form == ScanLogSourceForm::Logical
                     ? MakeLogicalScanLogSource(facts.volumePath, facts.volumeSectors)
                     : MakePhysicalScanLogSource(facts.diskIdentity, facts.diskNumber);

    ScanLogPartition& p = doc.partition;
    p.diskNumber = d.DiskNumber;
    p.partitionIndex = d.PartitionNumber;
    p.fsType = d.FsType;
    p.searchMode = !d.ModeText.empty() ? d.ModeText : mode == 2 ? "Deep Search" : "Basic Search";
    p.rangeStart = d.StartSector;
    p.rangeEnd = d.EndSector;
    p.itemStart = d.ItemStart;
    p.itemEnd = d.ItemEnd;
    p.byteLimit = d.EndByte;
    doc.geometry = LogGeometryOf(partition.Geometry);
    doc.descriptorGeometry = LogGeometryOf(d.GeometryCopy());
    doc.fsName = d.FsName;

    if (deep && HasFileSystemRows(doc))
        doc.fileSystemRows = deep->FileSystemRows();

    {
        auto lock = results.Lock();
        doc.folderCount = results.FolderCount();
        doc.tree = TreeItemsOf(results);
        if (HasFileTable(doc)) {
            const std::time_t scanTime = results.ScanTime();
            const FoundEntryStore& entries = std::as_const(results).FoundEntries();
            doc.files.reserve(entries.size());
            for (const FoundEntry& e : entries)
                doc.files.push_back(ScanLogRowOfEntry(e, doc.fsName, scanTime));
        }
    }
    doc.sortedFlag = 1;
    if (deep && HasExtentRows(doc))
        doc.extents = deep->ExtentRows();

    doc.trailer.sourceDescription = facts.description;
    doc.trailer.selectedVolumeStart = facts.selectedVolumeStart;
    return doc;
}

CurrentPartition ScanLogPartitionOf(const ScanLogDocument& doc)
{
    CurrentPartition part;
    PartitionDescriptor& d = part.Descriptor;
    const ScanLogPartition& p = doc.partition;
    d.DiskNumber = p.diskNumber;
    d.PartitionNumber = p.partitionIndex;
    d.FsType = p.fsType;
    d.ModeText = p.searchMode;
    d.StartSector = p.rangeStart;
    d.EndSector = p.rangeEnd;
    d.ItemStart = p.itemStart;
    d.ItemEnd = p.itemEnd;
    d.EndByte = p.byteLimit;
    part.Geometry = VolumeGeometryOf(doc.geometry);
    d.CopyGeometry(VolumeGeometryOf(doc.descriptorGeometry), true);
    d.FsName = doc.fsName;
    d.DiskModelText = doc.header.driveDescription;
    part.SelectedSourceKind = doc.header.sourceKind;
    part.ScanStartFsName = p.fsType;
    part.RecoveryMode = static_cast<int>(doc.header.mode);
    part.VolumeExtent.StartSector = doc.trailer.selectedVolumeStart;
    return part;
}

ScanLogInsertCount InsertScanLogResults(const ScanLogDocument& doc, ScanResults& results, int mode,
                                        const std::function<bool()>& stop,
                                        const std::function<void(std::uint64_t)>& progress)
{
    ScanLogInsertCount count;
    const bool deep = mode == 2;
    const std::string fsName = !doc.fsName.empty() ? doc.fsName : doc.partition.fsType;
    const FsKind kind = FsKindFromText(fsName);
    const bool scanCountedMisc = kind == FsKind::Ntfs || (!deep && kind != FsKind::Exfat);
    {
        auto lock = results.Lock();
        results.ForgetResults();
        results.SetRecoveryMode(deep ? 2 : 1);
        results.SetFsName(fsName);
        results.SetFileSystemCount(doc.fileSystemRows.size());
        // The names are the log's: no scan-time renaming of clashing names.
        results.SetLogLoadedFlag(true);
        results.SetLogLoading(true);
    }

    // The tree: the first item is the root; every later item goes under the
    // item its indentation names. A parent that could not be inserted (a
    // refused name) hands its children to the root.
    const std::vector<std::size_t> parents = ScanLogTreeParents(doc.tree);
    std::vector<TreeNodeId> items(doc.tree.size(), kNoTreeNode);
    const TreeNodeId root = results.EnsureRootItem();
    if (!items.empty())
        items[0] = root;
    std::uint64_t done = 0;
    for (std::size_t i = 1; i < doc.tree.size(); ++i) {
        if (stop && stop())
            break;
        const ScanLogTreeItem& item = doc.tree[i];
        const ScanLogFolderRecord record = item.record.value_or(ScanLogFolderRecord{});
        const TreeNodeId parent = parents[i] == kNoScanLogParent ? root : items[parents[i]];
        auto lock = results.Lock();
        const TreeNodeId inserted =
            results.InsertRecoveredFolder(parent, record.name, record.ownId, record.date, record.time,
                                          record.parentId, record.deleted, deep ? record.fsKey : 0, record.fileCount);
        items[i] = inserted;
        if (RecoveredFolder* f = results.FolderOfItem(inserted)) {
            f->fileCount = record.fileCount;
            // The miscellaneous folder is counted where the scan counts it:
            // the NTFS scans and the Basic FAT scan count it with the folders
            // they found, the exFAT and Deep FAT scans do not.
            if (record.ownId != kMiscFolderId || scanCountedMisc)
                ++count.folders;
        }
        if (progress)
            progress(++done);
    }

    // The file table, in the log's order (the store sorts it by folder once).
    if (HasFileTable(doc)) {
        const std::uint32_t exfatRoot = doc.geometry.rootStart;
        bool folderAtCluster5 = false;
        for (std::size_t i = 1; i < doc.tree.size() && !folderAtCluster5; ++i)
            folderAtCluster5 = doc.tree[i].record && doc.tree[i].record->ownId == kExfatUnknownRootId;
        auto lock = results.Lock();
        if (IsExfat(fsName))
            results.SetExfatRootCluster(exfatRoot);
        FoundEntryStore& entries = results.FoundEntries();
        entries.reserve(doc.files.size());
        for (const ScanLogFileRow& row : doc.files) {
            if (stop && stop())
                break;
            entries.push_back(EntryOfScanLogRow(row, fsName, exfatRoot, folderAtCluster5));
            ++count.files;
            if (progress && ++done % 1000 == 0)
                progress(done);
        }
        if (IsExfat(fsName)) {
            if (const std::time_t t = ScanTimeOfExfatRows(doc.files))
                results.SetScanTime(t);
        }
    }

    auto lock = results.Lock();
    results.SetLogLoading(false);
    results.FoundFolderCount = count.folders;
    results.FoundFileCount = count.files;
    return count;
}

std::shared_ptr<FileSystemVolume> MakeLoadedVolume(const CurrentPartition& partition)
{
    if (!partition.Device)
        return nullptr;
    const std::string fs = !partition.Descriptor.FsName.empty() ? partition.Descriptor.FsName
                                                                 : partition.Descriptor.FsType;
    switch (FsKindFromText(fs)) {
    case FsKind::Fat16:
    case FsKind::Fat32:
        return MakeFatFileSystemVolume(partition);
    case FsKind::Exfat:
        // The scan's file records are not in the log: the writer finds each
        // file's allocation in the FAT.
        return MakeExfatFileSystemVolume(partition, nullptr);
    case FsKind::Ntfs: {
        auto table = std::make_shared<MftRunTable>();
        const VolumeGeometry& g = partition.Geometry;
        if (g.MftStart != 0 || g.MftMirrStart != 0)
            *table = BuildMftRunTable(NtfsVolumeOf(partition), g.MftStart, g.MftMirrStart);
        return MakeNtfsFileSystemVolume(partition, std::move(table));
    }
    case FsKind::Unknown:
        break;
    }
    return nullptr;
}

}  // namespace torvane
