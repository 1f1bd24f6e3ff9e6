// The Search More Partitions engine in its automatic way, as the scans take
// it (fsrecovery/disk_without_partitions.h): a Standard search of a disk that
// lists no partition, ended at the first partition found by its boot sector,
// which the scan then reads.
#pragma once

#include "fsrecovery/disk_without_partitions.h"
#include "partsearch/partition_search.h"

#include <functional>

namespace torvane {

// `onFound` hears of the partition the search made current (from the scan's
// worker), e.g. to show it in the drive tree; it may be empty.
AutomaticPartitionSearch MakeAutomaticPartitionSearch(
    std::function<void(int disk, const FoundPartitionEvent& found)> onFound = {});

}  // namespace torvane
