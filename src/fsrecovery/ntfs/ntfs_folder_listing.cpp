#include "fsrecovery/ntfs/ntfs_folder_listing.h"

#include "fsrecovery/ntfs/ntfs_file_name.h"
#include "fsrecovery/ntfs/ntfs_file_reader.h"
#include "fsrecovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_set>
#include <utility>

namespace torvane {
namespace {

std::string Trim(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return {};
    const std::size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// Reads the FILE record an entry points to: its own id is the record's first
// sector, or for an entry taken from an index record a file reference
// (resolved through the run table, with the generation it names).
MftRecordRead ReadEntryRecord(const FoundEntry& entry, const NtfsVolume& volume, const MftRunTable* mft,
                              std::uint8_t* record, std::uint16_t& wantSequence)
{
    wantSequence = 0;
    if (entry.fromIndex) {
        if (mft == nullptr)
            return MftRecordRead::ReadFailed;
        wantSequence = MftReferenceSequence(entry.ownId);
        return ReadMftRecordByNumber(volume, *mft, MftReferenceRecord(entry.ownId), record);
    }
    if (mft != nullptr)
        if (std::optional<std::uint64_t> number = mft->SectorToMftRecord(entry.ownId))
            return ReadMftRecordByNumber(volume, *mft, *number, record);
    return ReadMftRecord(volume, entry.ownId, record);
}

}  // namespace

bool CompleteNtfsFoundEntry(FoundEntry& entry, const NtfsVolume& volume, const MftRunTable* mft,
                            std::optional<std::uint32_t>* spcOut)
{
    std::uint16_t wantSequence = 0;
    std::array<std::uint8_t, kMftRecordSize> record{};
    if (ReadEntryRecord(entry, volume, mft, record.data(), wantSequence) != MftRecordRead::Ok)
        return false;
    NtfsBytes view(record.data(), record.size());
    NtfsRecordHeader header;
    ReadNtfsRecordHeader(view, header);
    if (wantSequence != 0 && header.sequenceNumber != wantSequence)
        return false;  // the record was reused for another file

    std::uint64_t fileTime = 0;
    std::optional<NtfsFileName> fn = FindNtfsFileName(view);
    if (Trim(entry.name).empty() && fn) {
        entry.name = CleanNtfsFileName(fn->name);
        fileTime = fn->creationTime;
    }
    // A fragmented file's $DATA may live in extension records: its size is
    // then found through the record's $ATTRIBUTE_LIST. Without any $DATA,
    // the size the $FILE_NAME recorded stands in.
    std::uint64_t number = ~std::uint64_t(0);  // the record's own field then
    if (entry.fromIndex)
        number = MftReferenceRecord(entry.ownId);
    else if (mft != nullptr)
        number = mft->SectorToMftRecord(entry.ownId).value_or(number);
    entry.size = NtfsRecordDataSize(volume, view, mft, number, entry.name).value_or(fn ? fn->dataSize : 0);
    if (fileTime != 0)
        entry.stamp = fileTime;
    if (spcOut && entry.name == "$MFTMirr")
        *spcOut = SectorsPerClusterFromMftMirr(entry.size, volume.sectorsPerCluster);
    return true;
}

NtfsListing ListNtfsFolderFiles(ScanResults& results, std::uint64_t folderId, const NtfsVolume& volume,
                                const MftRunTable* mft, const std::function<bool()>& stop)
{
    NtfsListing listing;
    auto lock = results.Lock();
    // The scans leave the store sorted by folder; this sorts only when it is not.
    auto [first, last] = results.FoundEntryRange(folderId);
    // Completed entries are written back; their folder, the sort key, stays.
    auto& entries = results.FoundEntries();
    listing.foundAny = !entries.empty();
    std::unordered_set<std::string> listedNames;
    for (std::size_t i = first; i < last && i < entries.size(); ++i) {
        if (stop && stop()) {
            listing.stopped = true;
            break;
        }
        FoundEntry& entry = entries[i];
        if (entry.parentId != folderId)
            continue;
        if (Trim(entry.name).empty() || entry.size == 0) {
            std::optional<std::uint32_t> spc;
            CompleteNtfsFoundEntry(entry, volume, mft, &spc);
            if (spc)
                listing.sectorsPerCluster = spc;
        }
        const std::string name = Trim(entry.name);
        if (name.empty())
            continue;
        // An index entry never adds a second row for a name already listed.
        if (entry.fromIndex && listedNames.count(name) != 0)
            continue;
        listedNames.insert(name);
        NtfsListedFile file;
        file.entryIndex = i;
        file.name = name;
        file.size = entry.size;
        file.fileTime = entry.stamp;
        file.ownId = entry.ownId;
        if (entry.fromIndex)
            file.indexMark.push_back('1');
        listing.files.push_back(std::move(file));
    }
    return listing;
}

}  // namespace torvane
