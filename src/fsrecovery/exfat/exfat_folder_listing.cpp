#include "fsrecovery/exfat/exfat_folder_listing.h"

#include "base/text_routines.h"
#include "fsrecovery/store/name_rules.h"

namespace torvane {

void SplitExfatDateTimeText(const std::string& text, std::string& date, std::string& time)
{
    if (text.size() <= 8) {
        date.clear();
        time = text;
        return;
    }
    date = TrimWhite(std::string_view(text).substr(0, text.size() - 8));
    time = text.substr(text.size() - 8);
}

std::vector<ExfatFileRow> ListExfatFolderFiles(ScanResults& results, std::uint64_t folderId,
                                               const std::atomic<bool>* abort, bool* filesFound)
{
    std::vector<ExfatFileRow> rows;
    auto lock = results.Lock();
    const std::time_t scanTime = results.ScanTime();
    const auto& all = std::as_const(results).FoundEntries();
    if (filesFound)
        *filesFound = !all.empty();
    auto [first, last] = results.FoundEntryRange(folderId);
    for (std::size_t i = first; i < last && i < all.size(); ++i) {
        if (abort && abort->load())
            break;
        const FoundEntry& e = all[i];
        if (e.parentId != folderId)
            continue;
        std::string name = TrimWhite(e.name);
        if (name.empty())
            continue;
        ExfatFileRow row;
        row.name = std::move(name);
        row.size = e.size;
        row.ownId = e.ownId;
        row.sizeText = std::to_string(e.size);
        row.dateText = FormatFatDate(e.FatDate(), scanTime);
        row.timeText = FormatFatTime(e.FatTime(), scanTime);
        row.ownIdText = std::to_string(e.ownId);
        row.indexMark = std::to_string(e.FatDate());
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace torvane
