#include "disk/drive_tree_rules.h"

#include <vector>

namespace torvane {
namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

int DriveTreeImageFor(const std::string& text, const std::string& parentText, int current) {
    if (text == "My Computer") return kImageComputer;
    if (text == "Logical Drives") return kImageDriveGroup;
    if (text == "Physical Drives") return kImageDisk;
    if (Contains(text, "Recognised")) return kImagePartition;
    if (Contains(text, "Media (")) return kImageDisk;
    if (Contains(text, "Partition")) return kImagePartition;
    if (parentText == "Logical Drives") return kImageVolume;
    return current;
}

void SetDriveTreeIcons(TreeModel& tree) {
    // Collect first: the walk runs under the tree's lock and must stay short.
    struct Item {
        TreeNodeId id;
        int image;
    };
    std::vector<Item> items;
    {
        auto lock = tree.Lock();
        tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
            const TreeNodeId parent = tree.Parent(id);
            const std::string parentText = parent == kNoTreeNode ? std::string() : tree.Text(parent);
            const int current = tree.Image(id);
            const int image = DriveTreeImageFor(tree.Text(id), parentText, current);
            if (image != current) items.push_back({id, image});
            return true;
        });
        for (const Item& item : items) tree.SetImage(item.id, item.image);
    }
}

bool DriveTreeIsEmpty(const DriveInventory& inv) {
    const TreeModel& tree = inv.Tree;
    auto lock = tree.Lock();
    const bool noDisks = inv.PhysicalDrivesItem == kNoTreeNode || !tree.IsValid(inv.PhysicalDrivesItem) ||
                         tree.ChildCount(inv.PhysicalDrivesItem) == 0;
    const bool noDrives = inv.LogicalDrivesItem == kNoTreeNode || !tree.IsValid(inv.LogicalDrivesItem) ||
                          tree.ChildCount(inv.LogicalDrivesItem) == 0;
    return noDisks && noDrives;
}

TreeNodeId ChooseReselectItem(const DriveInventory& inv) {
    const TreeModel& tree = inv.Tree;
    auto lock = tree.Lock();
    if (inv.PhysicalDrivesItem != kNoTreeNode && tree.IsValid(inv.PhysicalDrivesItem)) {
        const TreeNodeId disk = tree.FirstChild(inv.PhysicalDrivesItem);
        if (disk != kNoTreeNode) {
            const TreeNodeId partition = tree.FirstChild(disk);
            return partition != kNoTreeNode ? partition : disk;
        }
    }
    if (inv.MyComputerItem != kNoTreeNode && tree.IsValid(inv.MyComputerItem)) return inv.MyComputerItem;
    return tree.RootItem();
}

bool RemoveLogicalDrivesBranch(DriveInventory& inv) {
    TreeModel& tree = inv.Tree;
    auto lock = tree.Lock();
    const TreeNodeId branch = inv.LogicalDrivesItem;
    inv.LogicalDrivesItem = kNoTreeNode;
    inv.LogicalDrivesListed = false;
    if (branch == kNoTreeNode || !tree.IsValid(branch)) return false;
    bool selectedInside = false;
    for (TreeNodeId at = inv.SelectedItem.load(); at != kNoTreeNode; at = tree.Parent(at)) {
        if (at == branch) {
            selectedInside = true;
            break;
        }
    }
    tree.Remove(branch);
    if (selectedInside) inv.SelectedItem = inv.MyComputerItem;
    return selectedInside;
}

DriveNodeKind ClassifyDriveNode(const DriveInventory& inv, TreeNodeId node) {
    const TreeModel& tree = inv.Tree;
    auto lock = tree.Lock();
    if (node == kNoTreeNode || !tree.IsValid(node)) return DriveNodeKind::None;
    if (node == inv.MyComputerItem) return DriveNodeKind::Computer;
    if (node == inv.PhysicalDrivesItem) return DriveNodeKind::PhysicalDrives;
    if (node == inv.LogicalDrivesItem) return DriveNodeKind::LogicalDrives;
    const TreeNodeId parent = tree.Parent(node);
    if (parent == kNoTreeNode) return DriveNodeKind::None;
    if (parent == inv.PhysicalDrivesItem) return DriveNodeKind::Disk;
    if (parent == inv.LogicalDrivesItem) return DriveNodeKind::Volume;
    const TreeNodeId grandParent = tree.Parent(parent);
    if (grandParent == inv.LogicalDrivesItem && grandParent != kNoTreeNode) {
        return tree.Text(node).find("Recognised") != std::string::npos ? DriveNodeKind::Recognised
                                                                       : DriveNodeKind::None;
    }
    if (grandParent == inv.PhysicalDrivesItem && grandParent != kNoTreeNode) {
        return tree.Text(node).find("Recognised") != std::string::npos ? DriveNodeKind::Recognised
                                                                       : DriveNodeKind::Partition;
    }
    return DriveNodeKind::None;
}

std::string SelectedNodeKindText(DriveNodeKind kind) {
    switch (kind) {
    case DriveNodeKind::Computer: return "My Computer";
    case DriveNodeKind::PhysicalDrives: return "Physical Drives";
    case DriveNodeKind::LogicalDrives: return "Logical Drives";
    case DriveNodeKind::Disk: return "Hard Disk";
    case DriveNodeKind::Volume: return "Logical";
    case DriveNodeKind::Partition: return "part";
    case DriveNodeKind::Recognised: return "Recognised";
    case DriveNodeKind::None: break;
    }
    return std::string();
}

DeviceEventAction DecideDeviceEvent(DeviceEventKind kind, const DeviceEventContext& c) {
    if (c.NoDeviceBoxShown) {
        if (kind == DeviceEventKind::Arrival && !c.RetryRunning && !c.DriveListBusy) return DeviceEventAction::Retry;
        return DeviceEventAction::Ignore;
    }
    if (!c.FollowDevices || !c.DialogIdle || c.DriveListBusy) return DeviceEventAction::Ignore;
    return DeviceEventAction::RefreshTree;
}

}  // namespace torvane
