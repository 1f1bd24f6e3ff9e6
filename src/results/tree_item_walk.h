// Walking a results tree the way the scan log lists it: the depth of an item
// and the next item in pre-order, across every top-level item.
#pragma once

#include "base/tree_model.h"

#include <cstdint>

namespace torvane {

// The number of ancestors of `item` (0 for a top-level item and for a dead id).
std::uint64_t GetTreeItemDepth(const TreeModel& tree, TreeNodeId item);

// The item after `item` in pre-order: its first child, else its next sibling,
// else the next sibling of the nearest ancestor that has one (later top-level
// items included); kNoTreeNode after the last item. GetNextTreeItemPreorder
// of kNoTreeNode is the first top-level item.
TreeNodeId GetNextTreeItemPreorder(const TreeModel& tree, TreeNodeId item);

}  // namespace torvane
