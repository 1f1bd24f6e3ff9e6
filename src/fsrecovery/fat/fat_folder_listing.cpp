#include "fsrecovery/fat/fat_folder_listing.h"

#include "base/text_routines.h"
#include "fsrecovery/fat/fat_folder_walk.h"
#include "results/file_type_texts.h"

#include <exception>
#include <string>
#include <vector>

namespace torvane {

std::uint64_t ListFatFolderFiles(ListRowModel& list, std::uint64_t firstRow, std::uint32_t cluster,
                                 const FatListingContext& context)
{
    if (!context.device || context.volume.kind == FatKind::None)
        return 0;
    if (cluster == 0 && !IsFatKind(context.volume.fs))
        return 0;
    const bool deep = context.deepSearch;
    const int columns = deep ? kDeepListColumnCount : kBasicListColumnCount;
    const int addendColumn = deep ? kDeepListAddend : kBasicListAddend;
    std::uint64_t row = firstRow;
    std::uint64_t added = 0;

    FatFolderWalkOptions options;
    // The continuation into the free cluster behind a one-cluster directory is
    // a Basic Search rule.
    options.followContinuation = !deep;
    options.basicSearch = !deep;
    options.countFiles = true;
    options.isIndexedFolder = context.isIndexedFolder;
    options.stop = context.abort;
    options.rootChildFolders = context.rootChildFolders;
    options.onFile = [&](const FatFileEntry& f) {
        if (context.abort && context.abort())
            return;
        std::vector<std::string> cells(static_cast<std::size_t>(columns));
        cells[kListName] = f.name;
        cells[kListType] = GetFileTypeTextOfName(f.name);
        cells[kListSize] = std::to_string(f.size);
        cells[kListDate] = FormatFatDate(f.date);
        cells[kListTime] = FormatFatTime(f.time);
        cells[kListSelfId] = std::to_string(f.storedCluster);
        cells[kListShortName] = f.shortName;
        // The walk completed a cleared high word: keep the shown cluster as
        // stored and give the high part (minus one) to the savers.
        if (f.firstCluster != f.storedCluster) {
            const std::uint64_t high = static_cast<std::uint32_t>(f.firstCluster - f.storedCluster);
            if (high != 0)
                cells[static_cast<std::size_t>(addendColumn)] = std::to_string(high - 1);
        }
        if (deep) {
            cells[kDeepListVolumeRow] = std::to_string(context.volumeRow);
            cells[kDeepListAttribute] = std::to_string(f.attribute);
        }
        const int at = list.InsertRow(static_cast<int>(row), std::move(cells));
        if (at >= 0) {
            list.SetRowData(at, f.deleted ? kRowDeletedBit : 0);
            if (f.deleted)
                list.AddRowColor(at, kDeletedRowColor);
        }
        ++row;
        ++added;
        if (context.progress && added % 50 == 0)
            context.progress(added);
    };
    try {
        WalkFatFolderEntries(*context.device, context.volume, cluster, options);
    } catch (const std::exception&) {
        // Keep the rows listed so far.
    }
    if (context.progress)
        context.progress(added);
    return added;
}

}  // namespace torvane
