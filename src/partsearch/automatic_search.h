// The Search More Partitions engine in its automatic way, as the scans take
// it (fsrecovery/disk_without_partitions.h): a Standard search of a disk that
// lists no partition, ended at the first partition found by its boot sector,
// which the scan then reads.
#pragma once

#include "fsrecovery/disk_without_partitions.h"
#include "partsearch/partition_search.h"

#include <functional>

namespace torvane {

// `onFound` hears of the partition the search made current, on the scan's
// worker before the scan goes on with it (the dialog shows it in the drive
// tree and tells the user; it may wait for that, as long as it heeds the
// request's stop). It may be empty.
using AutomaticFindListener = std::function<void(const AutomaticSearchRequest& request, const FoundPartitionEvent& found)>;
AutomaticPartitionSearch MakeAutomaticPartitionSearch(AutomaticFindListener onFound = {});

}  // namespace torvane
