// What the GUI thread does with each partition a search reports, on the
// drive inventory it owns: the record goes into the disk's partition table,
// an item "Partition - N ( TYPE )" goes under the disk's item, and the item
// is marked and its tree expanded (HighlightFoundPartition; the view draws
// the mark dark green). A partition the automatic way made current gets a
// record but no item.
#pragma once

#include "disk/drive_inventory.h"
#include "partsearch/partition_search.h"

namespace torvane {

// Applies `found` to disk `disk` of `inventory`. Returns the new item, or
// kNoTreeNode (the automatic way, a disk out of range, a full table).
TreeNodeId ApplyFoundPartition(DriveInventory& inventory, int disk, TreeNodeId diskItem,
                               const FoundPartitionEvent& found);

// Marks the item of record `recordIndex` of disk `disk` and expands the tree's
// root item. `text` is the item's text, which nothing else uses.
void HighlightFoundPartition(DriveInventory& inventory, int disk, int recordIndex, const std::string& text = {});

}  // namespace torvane
