#include "fsrecovery/ntfs/mft_sweep.h"

#include "fsrecovery/store/name_rules.h"
#include "fsrecovery/store/scan_sink.h"
#include "fsrecovery/store/lost_directory_arrangement.h"
#include "fsrecovery/ntfs/ntfs_attribute_list.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_fixup.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <vector>

namespace torvane {
namespace {

constexpr std::uint32_t kBlockRecords = 256;  // 256 KiB per read

bool Stopped(const MftSweepControl& c) { return c.stop && c.stop(); }

void InsertMiscFolder(ScanResults& results)
{
    results.InsertRecoveredFolder(results.EnsureRootItem(), kMiscFolderName, kMiscFolderId, 0, CurrentFatTimeWord(),
                                  kNtfsRootId, 0, 0, 0);
}

// Most extension records read for the name of one file.
constexpr std::size_t kMaxNameRecords = 64;

// The $FILE_NAME of a base record that keeps its names in extension records
// (a file with many attributes: its $ATTRIBUTE_LIST names the records that
// hold them). A Win32 or POSIX name is preferred over a DOS 8.3 one.
std::optional<NtfsFileName> FindListedFileName(const NtfsVolume& volume, const MftRunTable& table,
                                               NtfsBytes record, std::uint64_t own)
{
    std::optional<NtfsAttribute> list = FindNtfsAttribute(record, kNtfsAttrAttributeList);
    if (!list)
        return std::nullopt;
    std::vector<std::uint8_t> value;
    std::vector<NtfsAttributeListEntry> entries;
    if (!ReadAttributeListValue(volume, record, *list, value))
        return std::nullopt;
    ParseAttributeList(NtfsBytes(value.data(), value.size()), entries);  // the sound entries before a bad one count
    std::optional<NtfsFileName> best;
    std::set<std::uint64_t> visited;
    std::array<std::uint8_t, kMftRecordSize> ext{};
    for (const NtfsAttributeListEntry& e : entries) {
        if (e.type != kNtfsAttrFileName)
            continue;
        const std::uint64_t number = MftReferenceRecord(e.recordReference);
        if (number == own || !visited.insert(number).second)
            continue;
        if (visited.size() > kMaxNameRecords)
            break;
        if (!ReadNtfsExtensionRecord(volume, table, own, e.recordReference, ext.data()))
            continue;
        std::optional<NtfsFileName> fn = FindNtfsFileName(NtfsBytes(ext.data(), ext.size()));
        if (!fn)
            continue;
        if (!best || (best->nameSpace == kNtfsNamespaceDos && fn->nameSpace != kNtfsNamespaceDos))
            best = std::move(fn);
        if (best->nameSpace != kNtfsNamespaceDos)
            break;
    }
    return best;
}

// True when the base record of extension record `own` (whose header is
// `header`) yields the file's entry itself: it is a sound base record of the
// same file with a name of its own or one it finds through its list. The
// extension's $FILE_NAME would then list the file twice, pointing at a record
// without the data.
bool BaseRecordListsFile(const NtfsVolume& volume, const MftRunTable& table, const NtfsRecordHeader& header,
                         std::uint64_t own)
{
    const std::uint64_t base = MftReferenceRecord(header.baseRecordReference);
    if (base == own)
        return false;
    std::array<std::uint8_t, kMftRecordSize> rec{};
    if (ReadMftRecordByNumber(volume, table, base, rec.data()) != MftRecordRead::Ok)
        return false;
    NtfsBytes view(rec.data(), rec.size());
    NtfsRecordHeader baseHeader;
    if (!ReadNtfsRecordHeader(view, baseHeader) || baseHeader.IsExtension())
        return false;
    // A base record of the generation this extension names, with a name of
    // its own; or one that finds its name through its list (that lookup only
    // accepts extension records naming it as their base).
    const std::uint16_t sequence = MftReferenceSequence(header.baseRecordReference);
    if ((sequence == 0 || baseHeader.sequenceNumber == sequence) && FindNtfsFileName(view))
        return true;
    return FindListedFileName(volume, table, view, base).has_value();
}

// What one walk over a record's attributes tells the sweep: the $FILE_NAME
// FindNtfsFileName would choose, the first unnamed $FILE_NAME and $DATA (as
// FindNtfsAttribute finds them) and whether an unnamed $ATTRIBUTE_LIST is
// there. Only the chosen name is decoded.
struct RecordAttributes {
    NtfsBytes bestName;                   // value of the chosen $FILE_NAME (empty: none)
    bool hasBestName = false;
    std::optional<NtfsAttribute> firstFileName;
    std::optional<NtfsAttribute> data;
    bool hasAttributeList = false;
};

int FileNameRank(std::uint8_t nameSpace)
{
    for (int i = 0; i < 4; ++i)
        if (kNtfsNamespaceOrder[i] == nameSpace)
            return i;
    return -1;
}

RecordAttributes WalkRecordAttributes(NtfsBytes record)
{
    constexpr std::uint32_t kFileNameFixedSize = 66;
    RecordAttributes out;
    int bestRank = 4;
    NtfsAttributeCursor cursor(record);
    NtfsAttribute a;
    while (cursor.Next(a)) {
        if (a.IsNamed())
            continue;
        if (a.type == kNtfsAttrFileName) {
            if (!out.firstFileName)
                out.firstFileName = a;
            if (bestRank == 0 || a.nonResident)
                continue;
            const NtfsBytes value = a.Value(record);
            // What ParseNtfsFileNameValue accepts: the fixed part and the
            // name it announces inside the value.
            if (!value.Has(0, kFileNameFixedSize) || !value.Has(kFileNameFixedSize, 2u * value.U8(64)))
                continue;
            const int rank = FileNameRank(value.U8(65));
            if (rank >= 0 && rank < bestRank) {
                bestRank = rank;
                out.bestName = value;
                out.hasBestName = true;
            }
        } else if (a.type == kNtfsAttrData) {
            if (!out.data)
                out.data = a;
        } else if (a.type == kNtfsAttrAttributeList) {
            out.hasAttributeList = true;
        }
    }
    return out;
}

// GetNtfsDataSize, from what the walk found.
std::uint64_t DataSizeOf(NtfsBytes record, const RecordAttributes& attrs, const std::string& name)
{
    const NtfsAttribute& data = *attrs.data;
    std::uint64_t size = data.nonResident ? data.dataSize : data.valueLength;
    if (size == 0 && (name.empty() || name[0] != '$') && attrs.firstFileName) {
        NtfsBytes value = attrs.firstFileName->Value(record);
        if (value.Has(40, 8))
            size = value.U64(40);
    }
    return size;
}

}  // namespace

NtfsVolume NtfsVolumeOf(const CurrentPartition& partition)
{
    NtfsVolume v;
    v.device = partition.Device.get();
    v.cluster0Sector = partition.Geometry.Cluster0Start;
    v.sectorsPerCluster = partition.Geometry.SectorsPerCluster;
    v.endSector = partition.Descriptor.EndSector;
    return v;
}

void SweepMftRecords(ScanResults& results, const NtfsVolume& volume, const MftRunTable& table,
                     const MftSweepControl& control)
{
    using Clock = std::chrono::steady_clock;
    {
        auto lk = results.Lock();
        results.FoundEntries().clear();
    }
    std::uint64_t total = 0;
    for (const MftExtent& e : table.Extents())
        if (!e.sparse)
            total += e.sectors;
    if (total == 0 || volume.device == nullptr) {
        auto lk = results.Lock();
        const TreeNodeId root = results.EnsureRootItem();
        if (results.Tree().ChildCount(root) == 0)
            InsertMiscFolder(results);
        return;
    }
    if (control.sink)
        control.sink->ProgressRange(0, total);
    if (control.status) {
        char text[64];
        std::snprintf(text, sizeof text, "sectors  of  total %llu", static_cast<unsigned long long>(total));
        control.status(text);
    }

    const bool basicMode = results.RecoveryMode() == 1;
    {
        // Room for one entry per record slot (most records are files), so the
        // store is not copied over and over while it grows. The slot count
        // comes from runs already checked against the volume; the cap keeps
        // a huge $MFT from reserving more than it needs up front.
        auto lk = results.Lock();
        results.FoundEntries().reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total / 2, 1u << 22)));
        // And room for a folder per eight records (volumes hold fewer, as a
        // rule), so that the pending table does not grow step by step
        // through fresh pages either.
        results.DirList().Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total / 16, 1u << 19)));
    }

    // Files found, handed to the results a block at a time (one lock per block).
    std::vector<FoundEntry> found;
    found.reserve(kBlockRecords + 1);
    auto handOver = [&] {
        if (found.empty())
            return;
        auto lk = results.Lock();
        FoundEntryStore& store = results.FoundEntries();
        for (FoundEntry& e : found)
            store.push_back(std::move(e));
        results.FoundFileCount += found.size();
        found.clear();
    };

    // One record: its bytes, its number, the sector of its first half.
    auto takeRecord = [&](std::uint8_t* rec, std::uint64_t recordNumber, std::uint64_t firstSector) {
        NtfsBytes view(rec, kMftRecordSize);
        if (!HasFileSignature(view))
            return;
        if (ApplyUpdateSequenceFixup(rec, kMftRecordSize) == FixupResult::Invalid)
            return;
        NtfsRecordHeader header;
        ReadNtfsRecordHeader(view, header);
        const RecordAttributes attrs = WalkRecordAttributes(view);
        std::optional<NtfsFileName> fn;
        if (attrs.hasBestName) {
            fn.emplace();
            ParseNtfsFileNameValue(attrs.bestName, *fn);
        }
        if (!fn && !header.IsExtension())
            fn = FindListedFileName(volume, table, view, recordNumber);  // names moved out
        if (!fn)
            return;
        // An extension record's name belongs to its base record, which gives
        // the entry (with the data) when it can.
        if (header.IsExtension() && BaseRecordListsFile(volume, table, header, recordNumber))
            return;
        // One byte of the flags decides: 2 (deleted) or 3 (in use) is a directory.
        const std::uint8_t flags = view.U8(22);
        const bool directory = flags == 2 || flags == 3;
        const std::uint64_t parent = fn->ParentRecord32();
        if (!directory) {
            if (!basicMode)
                return;
            FoundEntry entry;
            entry.name = CleanNtfsFileName(std::move(fn->name));
            // A file whose $FILE_NAME holds no usable name is listed all the
            // same, under a name made from its record number.
            if (entry.name.empty())
                entry.name = NtfsUnnamedFileName(recordNumber);
            entry.parentId = parent;
            entry.ownId = firstSector;
            // No $DATA to be found (not in the record, not through its
            // list): the size the $FILE_NAME recorded, rather than 0, which
            // would make the file look empty and save as empty.
            const bool dataElsewhere = !attrs.data || (attrs.data->nonResident && attrs.data->firstVcn != 0);
            if (dataElsewhere && attrs.hasAttributeList)
                entry.size = NtfsRecordDataSize(volume, view, &table, recordNumber, entry.name).value_or(fn->dataSize);
            else
                entry.size = attrs.data ? DataSizeOf(view, attrs, entry.name) : fn->dataSize;
            entry.stamp = fn->creationTime;
            found.push_back(std::move(entry));
            return;
        }
        auto lk = results.Lock();
        if (results.FolderCount() == 0) {
            InsertMiscFolder(results);
            ++results.FoundFolderCount;
            results.Tree().RequestExpand(results.EnsureRootItem());
        }
        if (fn->name == ".")
            return;  // the volume's root: its children go straight under "Root"
        ++results.FoundFolderCount;
        results.AddPendingDirectory(fn->name, 0, recordNumber, parent, fn->creationTime, 0);
    };

    std::vector<std::uint8_t> block(static_cast<std::size_t>(kBlockRecords) * kMftRecordSize);
    std::array<std::uint8_t, kMftRecordSize> straddling{};
    bool halfPending = false;      // the first half of a record ended the previous extent
    std::uint64_t halfSector = 0;
    std::uint64_t streamSector = 0;  // sectors of the $MFT's data passed so far
    std::uint64_t sectorsRead = 0;
    std::uint64_t unreadable = 0;   // $MFT sectors that could not be read: their records are lost
    Clock::time_point lastInterim = Clock::now();

    for (const MftExtent& extent : table.Extents()) {
        if (Stopped(control))
            break;
        std::uint64_t at = 0;  // sector within the extent
        if (extent.sparse) {
            halfPending = false;  // a record with a half in a hole does not exist
            streamSector += extent.sectors;
            continue;
        }
        if (streamSector % 2 == 1) {
            // A record cut in two by the end of the last extent (512-byte
            // clusters): its second half begins this one.
            if (halfPending &&
                ReadSectorsOrZeros(volume, extent.startSector, 1, straddling.data() + kSectorSize) == 0)
                takeRecord(straddling.data(), (streamSector - 1) / 2, halfSector);
            at = 1;
            sectorsRead += 1;
        }
        halfPending = false;
        while (at + kMftRecordSectors <= extent.sectors && !Stopped(control)) {
            const std::uint32_t n = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(kBlockRecords, (extent.sectors - at) / kMftRecordSectors));
            const std::uint64_t first = extent.startSector + at;
            unreadable += ReadSectorsOrZeros(volume, first, n * kMftRecordSectors, block.data());
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint64_t offset = at + static_cast<std::uint64_t>(i) * kMftRecordSectors;
                takeRecord(block.data() + static_cast<std::size_t>(i) * kMftRecordSize,
                           (streamSector + offset) / 2, extent.startSector + offset);
            }
            handOver();
            at += static_cast<std::uint64_t>(n) * kMftRecordSectors;
            sectorsRead += static_cast<std::uint64_t>(n) * kMftRecordSectors;
            results.CurrentScanSector = sectorsRead;
            if (control.sink)
                control.sink->Progress(sectorsRead);
            if (control.interimInterval.count() > 0 && Clock::now() - lastInterim >= control.interimInterval) {
                ArrangeLostDirectories(results, false, nullptr, true, control.stop);
                lastInterim = Clock::now();
            }
        }
        if (Stopped(control))
            break;
        if (at < extent.sectors) {
            // One sector left: the first half of a record that goes on in the next extent.
            halfPending = ReadSectorsOrZeros(volume, extent.startSector + at, 1, straddling.data()) == 0;
            halfSector = extent.startSector + at;
            sectorsRead += 1;
        }
        streamSector += extent.sectors;
        results.CurrentScanSector = sectorsRead;
    }
    handOver();
    if (unreadable != 0 && control.sink)
        control.sink->UnreadableFolder(UnreadableFolderSectors{kMftRecordsFolderText, unreadable});
}

void RunBasicNtfsSteps(ScanResults& results, ScanSink* sink)
{
    results.SortFoundEntries();
    {
        auto lk = results.Lock();
        results.SetSeveralFoldersFlag(results.FoundEntries().size() > 2);
    }
    if (sink) {
        sink->StepText(kStep1Of5Text);
        sink->Progress(0);
    }
    results.PurgePlacedPendingDirectories(sink);
    if (sink)
        sink->StepText(kStep2Of5Text);
    results.SortPendingDirectories();
    if (sink)
        sink->StepText(kStep3Of5Text);
    // Final mode, after a stop too: what was found is arranged in full.
    ArrangeLostDirectories(results, true, sink, false);
    FileOrphanedNtfsEntries(results);
    if (sink)
        sink->StepText("");
}

std::string NtfsUnnamedFileName(std::uint64_t recordNumber)
{
    return "FILE_" + std::to_string(recordNumber);
}

void FileOrphanedNtfsEntries(ScanResults& results)
{
    auto lk = results.Lock();
    const FolderIndex& folders = results.TreeTable();
    // The store is sorted by folder: one look-up per run of a folder.
    std::uint64_t lastParent = kNtfsRootId;
    bool lastLost = false;
    auto lost = [&](const FoundEntry& e) {
        if (e.parentId != lastParent) {
            lastParent = e.parentId;
            lastLost = e.parentId != kNtfsRootId && !folders.Contains(e.parentId);
        }
        return lastLost;
    };
    const FoundEntryStore& entries = std::as_const(results).FoundEntries();
    if (std::none_of(entries.begin(), entries.end(), lost))
        return;
    if (results.MiscFolderItem() == kNoTreeNode || !results.Tree().IsValid(results.MiscFolderItem()))
        InsertMiscFolder(results);
    results.FoundEntries().Refile(lost, kMiscFolderId);
    results.SortFoundEntries();
}

MftRunTableReport RunBasicNtfsScan(ScanResults& results, const CurrentPartition& partition,
                                   const MftSweepControl& control)
{
    MftRunTableReport report;
    const NtfsVolume volume = NtfsVolumeOf(partition);
    MftRunTable table;
    if (volume.device != nullptr && (partition.Geometry.MftStart != 0 || partition.Geometry.MftMirrStart != 0))
        table = BuildMftRunTable(volume, partition.Geometry.MftStart, partition.Geometry.MftMirrStart, &report);
    results.EnsureRootItem();
    SweepMftRecords(results, volume, table, control);
    RunBasicNtfsSteps(results, control.sink);
    return report;
}

}  // namespace torvane
