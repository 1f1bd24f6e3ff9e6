#include "results/found_entry_saver.h"

#include "results/save_destination.h"
#include "results/save_walkers.h"

#include <utility>
#include <vector>

namespace torvane {
namespace {

class FoundEntrySaver final : public FileSystemSaver {
public:
    FoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId, FoundEntryWriter writer)
        : results_(results), device_(std::move(device)), rootId_(rootId), writer_(std::move(writer))
    {
    }

    // The miscellaneous folder holds the files whose own folder was lost
    // (an NTFS folder whose FILE record is gone): they are its files.
    void SaveFolderFiles(SaveSession& session, const std::string& folderPath, const RecoveredFolder& folder) override
    {
        if (folder.selfId == 0)
            return;
        SaveEntries(session, folderPath, folder.selfId);
    }

    void SaveRootFiles(SaveSession& session, const std::string& folderPath) override
    {
        SaveEntries(session, folderPath, rootId_);
    }

    void SaveFileRow(SaveSession& session, const std::string& target, const SaveRow& row) override
    {
        ++session.Counters().filesSaved;
        FoundEntry entry;
        entry.name = row.name;
        entry.ownId = row.id;
        entry.size = row.size;
        Write(session, entry, target);
    }

    std::uint64_t CountFolderFiles(const RecoveredFolder& folder, const std::function<bool()>&) override
    {
        if (folder.selfId == 0)
            return 0;
        return results_.FoundEntryCount(folder.selfId);
    }

    std::uint64_t CountRootFiles(const std::function<bool()>&) override { return results_.FoundEntryCount(rootId_); }

private:
    // A copy of the folder's entries (the writers run without the results'
    // lock); the store's folder index finds them.
    std::vector<FoundEntry> Entries(std::uint64_t parentId)
    {
        auto lock = results_.Lock();
        auto [first, last] = results_.FoundEntryRange(parentId);
        const auto& all = std::as_const(results_).FoundEntries();
        std::vector<FoundEntry> out;
        out.reserve(last - first);
        for (std::size_t i = first; i < last && i < all.size(); ++i)
            if (all[i].parentId == parentId)
                out.push_back(all[i]);
        return out;
    }

    void SaveEntries(SaveSession& session, const std::string& folderPath, std::uint64_t parentId)
    {
        for (const FoundEntry& entry : Entries(parentId)) {
            if (session.StopRequested())
                return;
            if (entry.name.empty()) {
                // Scans name every entry; a scan log of older days may not.
                session.Report().Add(FileOutcome::NotSaved, JoinPath(folderPath, "(no name)"),
                                     "the entry has no name");
                continue;
            }
            std::string target = FileTarget(session, folderPath, entry.name, "");
            // An entry taken from an index record whose target exists is a duplicate.
            if (entry.fromIndex && session.Fs().Exists(target)) {
                ++session.Counters().invalidEntries;
                session.Report().Add(FileOutcome::NotSaved, target, "index entry of a file saved already");
                continue;
            }
            ++session.Counters().filesSaved;
            Write(session, entry, target);
        }
    }

    void Write(SaveSession& session, const FoundEntry& entry, const std::string& target)
    {
        if (!writer_) {
            session.Report().Add(FileOutcome::Failed, target, "no writer for this file system");
            return;
        }
        writer_(session, *device_, entry, target, LastComponent(target));
    }

    ScanResults& results_;
    DevicePtr device_;
    std::uint64_t rootId_;
    FoundEntryWriter writer_;
};

}  // namespace

std::unique_ptr<FileSystemSaver> MakeFoundEntrySaver(ScanResults& results, DevicePtr device, std::uint64_t rootId,
                                                     FoundEntryWriter writer)
{
    return std::make_unique<FoundEntrySaver>(results, std::move(device), rootId, std::move(writer));
}

}  // namespace torvane
