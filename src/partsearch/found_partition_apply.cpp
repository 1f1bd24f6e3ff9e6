#include "partsearch/found_partition_apply.h"

namespace torvane {

TreeNodeId ApplyFoundPartition(DriveInventory& inventory, int disk, TreeNodeId diskItem,
                               const FoundPartitionEvent& found)
{
    DiskPartitionEntry* entry = inventory.PartitionTable.Entry(disk);
    if (!entry || !entry->Put(found.index, found.fsName, found.start, found.end, kNoTreeItem))
        return kNoTreeNode;
    PartitionRecord& record = entry->Records[static_cast<std::size_t>(found.index)];
    if (found.hasGeometry)
        record.Geometry = found.geometry;
    if (found.automatic)
        return kNoTreeNode;
    const TreeNodeId item = AddDriveTreeItem(inventory, found.itemText, diskItem);
    record.TreeItem = item;
    HighlightFoundPartition(inventory, disk, found.index, found.itemText);
    return item;
}

void HighlightFoundPartition(DriveInventory& inventory, int disk, int recordIndex, const std::string& /*text*/)
{
    const DiskPartitionEntry* entry = inventory.PartitionTable.Entry(disk);
    if (!entry || recordIndex < 0 || recordIndex >= kMaxPartitionsPerDisk)
        return;
    const TreeItemId item = entry->Records[static_cast<std::size_t>(recordIndex)].TreeItem;
    if (item != kNoTreeItem)
        inventory.Tree.SetHighlight(item);
    const TreeNodeId root = inventory.Tree.RootItem();
    if (root != kNoTreeNode)
        inventory.Tree.RequestExpand(root);
}

}  // namespace torvane
