#include "fsrecovery/ntfs/deep_ntfs_assemble.h"

#include "fsrecovery/ntfs/mft_sweep.h"
#include "fsrecovery/ntfs/ntfs_data_runs.h"
#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_folder_listing.h"
#include "fsrecovery/ntfs/ntfs_record.h"
#include "fsrecovery/store/name_rules.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <utility>
#include <vector>

namespace torvane {
namespace {

constexpr std::size_t kMaxScoredRecords = 65536;  // records a layout candidate is checked against
constexpr std::size_t kMaxCandidates = 32;

// The first cluster of the unnamed $DATA of a fixed-up record copy.
std::optional<std::uint64_t> FirstDataCluster(const std::vector<std::uint8_t>& record)
{
    NtfsBytes view(record.data(), record.size());
    std::optional<NtfsAttribute> data = FindNtfsAttribute(view, kNtfsAttrData);
    if (!data || !data->nonResident || data->firstVcn != 0)
        return std::nullopt;
    RunList runs = DecodeRunList(view, *data);
    if (runs.runs.empty() || runs.runs.front().sparse)
        return std::nullopt;
    return runs.runs.front().lcn;
}

std::uint64_t CountInPlace(const DeepNtfsTable& table, const MftRunTable& mft)
{
    const auto& rows = table.FileRecords();
    const std::size_t step = std::max<std::size_t>(1, rows.size() / kMaxScoredRecords);
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < rows.size(); i += step) {
        const DeepNtfsFileRecord& r = rows[i];
        if (r.hasNumber && mft.MftRecordToSector(r.number) == r.sector)
            ++n;
    }
    return n;
}

}  // namespace

std::string DeepNtfsPlaceholderName(std::uint64_t n)
{
    char text[32];
    std::snprintf(text, sizeof text, "DIR%llu", static_cast<unsigned long long>(n));
    return text;
}

DeepNtfsLayout DeriveDeepNtfsLayout(const DeepNtfsTable& table, Device* device, std::uint64_t endSector,
                                    const DeepNtfsKnownGeometry& known, std::uint64_t partitionStart)
{
    DeepNtfsLayout layout;
    layout.mft = std::make_shared<MftRunTable>();
    NtfsVolume volume;
    volume.device = device;
    volume.endSector = endSector;

    if (known.fromBootSector && known.sectorsPerCluster != 0) {
        layout.cluster0 = known.cluster0;
        layout.sectorsPerCluster = known.sectorsPerCluster;
        volume.cluster0Sector = layout.cluster0;
        volume.sectorsPerCluster = layout.sectorsPerCluster;
        if (device && (known.mftStart != 0 || known.mftMirrStart != 0))
            *layout.mft = BuildMftRunTable(volume, known.mftStart, known.mftMirrStart);
        if (!layout.mft->Empty()) {
            layout.recordsInPlace = CountInPlace(table, *layout.mft);
            return layout;
        }
        // The boot sector's $MFT and mirror are both unusable: the found
        // copies of record 0 may still say where the $MFT is.
    }

    layout.derived = !known.fromBootSector;
    // The cluster size most allocations were made in.
    std::uint32_t spc = known.sectorsPerCluster;
    if (spc == 0) {
        const auto& votes = table.ClusterShiftVotes();
        unsigned best = 3;  // 4 KiB clusters when nothing tells
        std::uint64_t bestVotes = 0;
        for (unsigned s = 0; s < votes.size(); ++s)
            if (votes[s] > bestVotes) {
                bestVotes = votes[s];
                best = s;
            }
        spc = 1u << best;
    }
    layout.sectorsPerCluster = spc;
    layout.cluster0 = known.fromBootSector ? known.cluster0 : partitionStart;

    // Candidates for cluster 0: the known or partition start, then where each
    // record 0 copy would put it as the $MFT's own first record or as the
    // mirror's.
    std::vector<std::uint64_t> candidates{layout.cluster0};
    std::vector<std::uint64_t> startClusters;
    for (const DeepNtfsRecordCopy& c : table.RecordZeroCopies())
        if (std::optional<std::uint64_t> lcn = FirstDataCluster(c.record))
            startClusters.push_back(*lcn);
    for (const DeepNtfsRecordCopy& c : table.RecordOneCopies())
        if (std::optional<std::uint64_t> lcn = FirstDataCluster(c.record))
            startClusters.push_back(*lcn);
    if (!known.fromBootSector)
        for (const DeepNtfsRecordCopy& c : table.RecordZeroCopies())
            for (std::uint64_t lcn : startClusters) {
                if (lcn > (c.sector / spc))
                    continue;
                const std::uint64_t c0 = c.sector - lcn * spc;
                if (std::find(candidates.begin(), candidates.end(), c0) == candidates.end() &&
                    candidates.size() < kMaxCandidates)
                    candidates.push_back(c0);
            }

    for (std::uint64_t c0 : candidates) {
        volume.cluster0Sector = c0;
        volume.sectorsPerCluster = spc;
        for (const DeepNtfsRecordCopy& c : table.RecordZeroCopies()) {
            if (!device)
                break;
            MftRunTable mft = BuildMftRunTable(volume, c.sector);
            if (mft.Empty())
                continue;
            const std::uint64_t score = CountInPlace(table, mft);
            if (score > layout.recordsInPlace || (layout.mft->Empty() && score > 0)) {
                layout.recordsInPlace = score;
                layout.cluster0 = c0;
                *layout.mft = std::move(mft);
            }
        }
    }
    return layout;
}

std::optional<std::uint32_t> DeepNtfsRecordNumber(const DeepNtfsFileRecord& row, const MftRunTable* mft)
{
    if (mft && !mft->Empty())
        if (std::optional<std::uint64_t> slot = mft->SectorToMftRecord(row.sector))
            if (*slot <= 0xFFFFFFFFull)
                return static_cast<std::uint32_t>(*slot);
    if (row.hasNumber)
        return row.number;
    return std::nullopt;
}

DeepNtfsAssembler::DeepNtfsAssembler(ScanResults& results, const DeepNtfsTable& table)
    : results_(results), table_(table)
{
}

void DeepNtfsAssembler::EnsureMiscFolder()
{
    if (results_.FolderCount() != 0)
        return;
    const TreeNodeId root = results_.EnsureRootItem();
    const TreeNodeId misc = results_.InsertRecoveredFolder(root, kMiscFolderName, kMiscFolderId, 0,
                                                           CurrentFatTimeWord(), kNtfsRootId, 0, 0, 0);
    results_.SetMiscFolderItem(misc);
    ++results_.FoundFolderCount;
    results_.Tree().RequestExpand(root);
}

void DeepNtfsAssembler::TakeNewRecords()
{
    auto lk = results_.Lock();
    const auto& rows = table_.FileRecords();
    const MftRunTable* mft = mft_.get();
    const TreeNodeId root = results_.EnsureRootItem();
    for (; taken_ < rows.size(); ++taken_) {
        const DeepNtfsFileRecord& row = rows[taken_];
        // An extension record's names and data belong to its base record.
        if (row.IsExtension() || !row.hasName)
            continue;
        const std::optional<std::uint32_t> number = DeepNtfsRecordNumber(row, mft);
        if (row.IsDirectory()) {
            if (row.name.empty() || row.name == "." || !number)
                continue;
            if (folders_.Find(*number) != nullptr)
                continue;
            folders_.Emplace(*number, 1);
            EnsureMiscFolder();
            const bool deleted = row.flags == 2;
            if (*number == kNtfsRootId)
                continue;
            if (row.parent == kNtfsRootId || row.parent == 0) {
                results_.InsertRecoveredFolder(root, row.name, *number, row.creationTime, 0, row.parent,
                                               deleted ? 1 : 0, 0, 0);
            } else {
                PendingDirectory p;
                p.name = row.name;
                p.sector = row.sector;
                p.self = *number;
                p.parent = row.parent;
                p.date = row.creationTime;
                p.deleted = deleted;
                results_.AddPendingRow(std::move(p));
            }
            ++results_.FoundFolderCount;
            continue;
        }
        if (number) {
            if (files_.Find(*number) != nullptr)
                continue;
            files_.Emplace(*number, row.sequence);
        }
        FoundEntry entry;
        entry.name = CleanNtfsFileName(row.name);
        if (entry.name.empty() && number)
            entry.name = NtfsUnnamedFileName(*number);
        entry.parentId = row.parent;
        entry.ownId = row.sector;
        entry.size = row.size;
        entry.stamp = row.creationTime;
        results_.FoundEntries().push_back(std::move(entry));
        ++results_.FoundFileCount;
    }
}

void DeepNtfsAssembler::InterimPass(const StopTest& stop)
{
    TakeNewRecords();
    ArrangeLostDirectories(results_, false, nullptr, true, stop);
}

void DeepNtfsAssembler::TakeIndexEntries(std::uint64_t sizeLimit)
{
    auto lk = results_.Lock();
    std::optional<std::uint32_t> previousFolder;
    for (const DeepNtfsIndexEntry& e : table_.IndexEntries()) {
        const std::uint32_t number = static_cast<std::uint32_t>(MftReferenceRecord(e.reference));
        if (e.directory) {
            const bool repeat = previousFolder && *previousFolder == number;
            previousFolder = number;
            if (repeat || e.name == "." || results_.TreeTable().Contains(number) || folders_.Find(number) != nullptr)
                continue;
            if (!e.name.empty() && !IsPlausibleFileName(e.name))
                continue;
            folders_.Emplace(number, 1);
            EnsureMiscFolder();
            PendingDirectory p;
            p.name = e.name.empty() ? DeepNtfsPlaceholderName(++namelessDirs_) : e.name;
            p.sector = e.indexSector;
            p.self = number;
            p.parent = e.parent;
            p.date = e.creationTime;
            results_.AddPendingRow(std::move(p));
            ++results_.FoundFolderCount;
            continue;
        }
        if (e.name == "." || e.name.find('~') != std::string::npos || !IsPlausibleFileName(e.name))
            continue;
        if (sizeLimit != 0 && e.size >= sizeLimit)
            continue;
        // The file's own record was found: it gave the entry already.
        if (const std::uint16_t* seq = files_.Find(number))
            if (*seq == MftReferenceSequence(e.reference) || MftReferenceSequence(e.reference) == 0)
                continue;
        FoundEntry entry;
        entry.name = CleanNtfsFileName(e.name);
        if (entry.name.empty())
            continue;
        entry.parentId = e.parent;
        entry.ownId = e.reference;
        entry.size = e.size;
        entry.stamp = e.creationTime;
        entry.fromIndex = true;
        results_.FoundEntries().push_back(std::move(entry));
    }
}

void DeepNtfsAssembler::AddMissingParentFolders()
{
    auto lk = results_.Lock();
    results_.SortFoundEntries();
    std::unordered_set<std::uint64_t> pending;
    for (const PendingDirectory& row : results_.DirList().Rows())
        if (!row.placed)
            pending.insert(row.self);
    std::optional<std::uint64_t> last;
    for (const FoundEntry& e : std::as_const(results_).FoundEntries()) {
        if (last && *last == e.parentId)
            continue;
        last = e.parentId;
        if (e.parentId == kNtfsRootId || e.parentId == kMiscFolderId || results_.TreeTable().Contains(e.parentId) ||
            pending.count(e.parentId) != 0)
            continue;
        PendingDirectory p;
        p.name = DeepNtfsPlaceholderName(++namelessDirs_);
        p.self = e.parentId;
        p.parent = kMiscFolderId;
        results_.AddPendingRow(std::move(p));
        pending.insert(e.parentId);
        ++results_.FoundFolderCount;
    }
}

void DeepNtfsAssembler::Finish(const NtfsVolume& volume, std::uint64_t sizeLimit, ScanSink* sink)
{
    {
        // Room for the records not taken yet, made once: the stores do not
        // grow through one fresh table after another.
        auto lk = results_.Lock();
        const auto& rows = table_.FileRecords();
        std::size_t files = 0, folders = 0;
        for (std::size_t i = taken_; i < rows.size(); ++i)
            ++(rows[i].IsDirectory() ? folders : files);
        results_.FoundEntries().reserve(results_.FoundEntries().size() + files);
        results_.DirList().Reserve(results_.DirList().Count() + folders);
    }
    TakeNewRecords();
    {
        auto lk = results_.Lock();
        results_.SortFoundEntries();
        if (!table_.FileRecords().empty() || !table_.IndexEntries().empty())
            EnsureMiscFolder();
    }
    results_.PurgePlacedPendingDirectories(sink);
    if (sink)
        sink->StepText("[ Step 2 of 6 ] Assigning MFT Number. Please wait...");
    TakeIndexEntries(sizeLimit);
    {
        // Files whose record does not hold their size (the $DATA lives in
        // extension records) are completed from the record.
        auto lk = results_.Lock();
        FoundEntryStore& entries = results_.FoundEntries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].size == 0 && !entries[i].fromIndex && volume.device != nullptr)
                CompleteNtfsFoundEntry(entries[i], volume, mft_.get());
    }
    results_.SortFoundEntries();
    results_.SortPendingDirectories();
    ArrangeLostDirectories(results_, true, sink, false, {}, [this] { AddMissingParentFolders(); });
    FileOrphanedNtfsEntries(results_);
    {
        auto lk = results_.Lock();
        results_.FoundFileCount = results_.FoundEntries().size();
    }
    if (sink)
        sink->StepText("");
}

}  // namespace torvane
