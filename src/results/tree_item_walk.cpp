// Depth and pre-order steps over the results tree.
#include "results/tree_item_walk.h"

namespace torvane {

std::uint64_t GetTreeItemDepth(const TreeModel& tree, TreeNodeId item)
{
    return tree.IsValid(item) ? tree.Depth(item) : 0;
}

TreeNodeId GetNextTreeItemPreorder(const TreeModel& tree, TreeNodeId item)
{
    if (item == kNoTreeNode) return tree.RootItem();
    return tree.IsValid(item) ? tree.NextPreOrder(item) : kNoTreeNode;
}

}  // namespace torvane
