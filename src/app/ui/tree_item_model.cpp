#include "app/ui/tree_item_model.h"

#include <QColor>
#include <QMetaObject>

#include <algorithm>
#include <climits>

namespace torvane {

namespace {
// Beyond this many changed items one batch repaints the whole view instead
// of announcing each item.
constexpr std::size_t kMaxSingleChanges = 256;

int ClampRow(std::size_t n) { return n > std::size_t(INT_MAX) ? INT_MAX : int(n); }
}  // namespace

TreeItemModel::TreeItemModel(TreeModel* tree, QObject* parent) : QAbstractItemModel(parent), tree_(tree) {
    auto lock = tree_->Lock();
    tree_->TakeChanges();
    tree_->PublishAll();
    // Called under the core's lock, from whatever thread changed the tree:
    // post one queued call and return.
    tree_->SetChangeListener([this] { QMetaObject::invokeMethod(this, &TreeItemModel::publishChanges, Qt::QueuedConnection); });
}

TreeItemModel::~TreeItemModel() {
    // Waits for a listener call in progress (it runs under the lock).
    tree_->SetChangeListener({});
}

void TreeItemModel::setImageList(const QList<QIcon>& icons) {
    icons_ = icons;
    const int n = rowCount();
    if (n > 0) emit dataChanged(index(0, 0), index(n - 1, 0), {Qt::DecorationRole});
}

TreeNodeId TreeItemModel::nodeFromIndex(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return kNoTreeNode;
    return static_cast<TreeNodeId>(index.internalId());
}

QModelIndex TreeItemModel::indexFromNode(TreeNodeId node) const {
    auto lock = tree_->Lock();
    if (!tree_->IsPublished(node)) return {};
    return createIndex(ClampRow(tree_->Row(node)), 0, quintptr(node));
}

QModelIndex TreeItemModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    const TreeNodeId p = nodeFromIndex(parent);
    auto lock = tree_->Lock();
    if (std::size_t(row) >= tree_->PublishedChildCount(p)) return {};
    const TreeNodeId id = tree_->Child(p, std::size_t(row));
    if (id == kNoTreeNode) return {};
    return createIndex(row, 0, quintptr(id));
}

QModelIndex TreeItemModel::parent(const QModelIndex& child) const {
    const TreeNodeId id = nodeFromIndex(child);
    if (id == kNoTreeNode) return {};
    auto lock = tree_->Lock();
    const TreeNodeId p = tree_->Parent(id);
    if (p == kNoTreeNode) return {};
    return createIndex(ClampRow(tree_->Row(p)), 0, quintptr(p));
}

int TreeItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    const TreeNodeId p = nodeFromIndex(parent);
    if (parent.isValid() && p == kNoTreeNode) return 0;
    return ClampRow(tree_->PublishedChildCount(p));
}

int TreeItemModel::columnCount(const QModelIndex&) const { return 1; }

bool TreeItemModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant TreeItemModel::data(const QModelIndex& index, int role) const {
    const TreeNodeId id = nodeFromIndex(index);
    if (id == kNoTreeNode) return {};
    auto lock = tree_->Lock();
    if (!tree_->IsValid(id)) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromStdString(tree_->Text(id));
    case Qt::CheckStateRole:
        switch (tree_->GetCheck(id)) {
        case CheckState::None: return {};
        case CheckState::Unchecked: return QVariant::fromValue(int(Qt::Unchecked));
        case CheckState::Checked: return QVariant::fromValue(int(Qt::Checked));
        case CheckState::Partial: return QVariant::fromValue(int(Qt::PartiallyChecked));
        }
        return {};
    case Qt::ForegroundRole:
        if (tree_->Highlighted(id)) return QColor(0, 128, 0);  // dark green: found by the partition search
        return {};
    case Qt::DecorationRole: {
        const int image = tree_->Image(id);
        if (image >= 0 && image < icons_.size()) return icons_.at(image);
        return {};
    }
    default:
        return {};
    }
}

bool TreeItemModel::setData(const QModelIndex& index, const QVariant&, int role) {
    const TreeNodeId id = nodeFromIndex(index);
    if (id == kNoTreeNode || role != Qt::CheckStateRole) return false;
    {
        auto lock = tree_->Lock();
        if (!tree_->IsValid(id)) return false;
        tree_->ToggleCheck(id);
    }
    // Show the result at once rather than at the queued publication.
    publishChanges();
    return true;
}

Qt::ItemFlags TreeItemModel::flags(const QModelIndex& index) const {
    const TreeNodeId id = nodeFromIndex(index);
    if (id == kNoTreeNode) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Not Qt::ItemIsAutoTristate: the box click has its own rules (a partial
    // item is unchecked by a click), run by the core.
    if (tree_->GetCheck(id) != CheckState::None) f |= Qt::ItemIsUserCheckable;
    return f;
}

void TreeItemModel::layoutRefresh() {
    emit layoutAboutToBeChanged();
    tree_->PublishAll();
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        const auto id = static_cast<TreeNodeId>(old.internalId());
        if (tree_->IsPublished(id))
            to.append(createIndex(ClampRow(tree_->Row(id)), old.column(), quintptr(id)));
        else
            to.append(QModelIndex());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged();
}

void TreeItemModel::publishChanges() {
    if (publishing_) return;  // a slot of our own signals called back: the batch is in progress
    auto lock = tree_->Lock();
    const TreeChanges ch = tree_->TakeChanges();
    if (ch.empty() && pendingExpand_.empty()) return;
    publishing_ = true;

    if (ch.reset) {
        beginResetModel();
        tree_->PublishAll();
        pendingExpand_.clear();
        endResetModel();
    } else if (ch.layout) {
        layoutRefresh();
    } else {
        bool needLayout = false;
        for (TreeNodeId p : ch.appendedParents) {
            if (p != kNoTreeNode && !tree_->IsPublished(p)) {
                needLayout = true;  // should not happen: ancestors come first
                continue;
            }
            const std::size_t shown = tree_->PublishedChildCount(p);
            const std::size_t now = tree_->ChildCount(p);
            if (now <= shown) continue;
            const QModelIndex parentIndex =
                p == kNoTreeNode ? QModelIndex() : createIndex(ClampRow(tree_->Row(p)), 0, quintptr(p));
            beginInsertRows(parentIndex, ClampRow(shown), ClampRow(now - 1));
            tree_->PublishChildren(p, now);
            endInsertRows();
        }
        if (needLayout) layoutRefresh();
    }

    // Item changes are announced after the lock is let go, so that slots of
    // dataChanged may take other locks (the results lock comes before the
    // tree's lock everywhere).
    std::vector<std::pair<QModelIndex, QModelIndex>> changedRanges;
    if (!ch.reset) {
        if (ch.allChanged || ch.changed.size() > kMaxSingleChanges) {
            // One range over the top level repaints the whole view.
            const int n = ClampRow(tree_->PublishedChildCount(kNoTreeNode));
            if (n > 0) {
                const TreeNodeId first = tree_->Child(kNoTreeNode, 0);
                const TreeNodeId last = tree_->Child(kNoTreeNode, std::size_t(n - 1));
                changedRanges.emplace_back(createIndex(0, 0, quintptr(first)), createIndex(n - 1, 0, quintptr(last)));
            }
        } else {
            for (TreeNodeId id : ch.changed) {
                if (!tree_->IsPublished(id)) continue;
                const QModelIndex i = createIndex(ClampRow(tree_->Row(id)), 0, quintptr(id));
                changedRanges.emplace_back(i, i);
            }
        }
    }

    pendingExpand_.insert(pendingExpand_.end(), ch.expand.begin(), ch.expand.end());
    std::vector<TreeNodeId> waiting;
    std::vector<QModelIndex> toExpand;
    for (TreeNodeId id : pendingExpand_) {
        if (!tree_->IsValid(id)) continue;
        if (tree_->IsPublished(id))
            toExpand.push_back(createIndex(ClampRow(tree_->Row(id)), 0, quintptr(id)));
        else
            waiting.push_back(id);
    }
    pendingExpand_.swap(waiting);
    publishing_ = false;
    lock.unlock();
    for (const auto& [from, to] : changedRanges) emit dataChanged(from, to);
    for (const QModelIndex& i : toExpand) emit expandRequested(i);
    emit published();
}

}  // namespace torvane
