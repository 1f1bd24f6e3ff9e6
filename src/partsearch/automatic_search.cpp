#include "partsearch/automatic_search.h"

namespace torvane {

AutomaticPartitionSearch MakeAutomaticPartitionSearch(AutomaticFindListener onFound)
{
    return [onFound = std::move(onFound)](const AutomaticSearchRequest& request) -> std::optional<AutomaticSearchFind> {
        if (!request.device)
            return std::nullopt;
        PartitionSearchParams params;
        params.device = request.device;
        params.diskNumber = request.diskNumber;
        params.depth = SmpMode::Standard;
        params.diskSectors = request.diskSectors;
        params.shownPartitions = 0;
        params.automatic = true;
        params.readAheadThreads = SuggestedReadAheadThreads(request.device->Path());
        PartitionSearchControl control;
        control.stop = request.stop;
        control.currentSector = request.currentSector;
        std::optional<FoundPartitionEvent> made;
        control.onFound = [&made](const FoundPartitionEvent& found) {
            if (found.automatic)
                made = found;
        };
        RunPartitionSearch(params, control);
        if (!made)
            return std::nullopt;
        if (onFound)
            onFound(request, *made);
        return AutomaticSearchFind{made->fsName, made->start, made->end};
    };
}

}  // namespace torvane
