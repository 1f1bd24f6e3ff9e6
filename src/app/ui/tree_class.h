// CTreeClass: the tree control of every search dialog (drive trees and
// results trees), a QTreeView over a core TreeModel.
//
// - Tri-state check boxes: a left click on an item's box selects the item
//   (so the selection handler runs first, as for any selection), then runs the
//   box click of the core (TreeModel::ToggleCheck: unchecked -> checked for the
//   subtree, anything else -> unchecked, ancestors recomputed). Qt's own
//   check-box toggling on mouse clicks is not used; Space on the current item
//   runs the same click.
// - Highlight: items marked by SetItemHighlight show in dark green, except
//   that a selected item keeps the system selection colours while the tree
//   has the focus.
// - CurrentTreeItem(): the item under the last left click (kNoTreeNode over
//   empty space) or the last selected item, whichever came last.
#pragma once

#include "base/tree_model.h"

#include <QList>
#include <QIcon>
#include <QTreeView>

#include <cstdint>
#include <memory>

namespace torvane {

class TreeItemModel;
class TreeCheckDelegate;

class CTreeClass : public QTreeView {
    Q_OBJECT
public:
    explicit CTreeClass(QWidget* parent = nullptr);
    ~CTreeClass() override;

    // Shows `model` (which must outlive the view or be detached with nullptr).
    void setTreeModel(TreeModel* model);
    TreeModel* treeModel() const { return tree_; }
    TreeItemModel* itemModel() const { return adapter_.get(); }
    void setImageList(const QList<QIcon>& icons);

    TreeNodeId nodeFromIndex(const QModelIndex& index) const;
    QModelIndex indexFromNode(TreeNodeId node) const;

    // The box of an item, as state-image bits (CheckStateBits): SetStateImage.
    void SetStateImage(TreeNodeId item, std::uint32_t stateBits);
    // Dark-green text for the item; safe from any thread (goes through the
    // core model, the view repaints at its next publication).
    void SetItemHighlight(TreeNodeId item);
    // Forgets every highlight (the drive-tree refresh empties the appearance map).
    void ClearItemHighlights();
    // The box click on an item (what a click on its box does after selecting it).
    CheckState ToggleCheck(TreeNodeId item);

    TreeNodeId CurrentTreeItem() const { return currentItem_; }
    TreeNodeId SelectedItem() const;
    // Makes the item the current, selected one (kNoTreeNode: selects nothing).
    void SelectItem(TreeNodeId item);
    void ExpandItem(TreeNodeId item);
    // The box rectangle of an item in viewport coordinates (empty when it has none).
    QRect checkBoxRect(const QModelIndex& index) const;

signals:
    // The item under a left click, or the newly selected item, changed CurrentTreeItem.
    void currentTreeItemChanged(TreeNodeId item);
    // The selection moved to `item` (kNoTreeNode: nothing selected): OnSelChanged.
    void selChanged(TreeNodeId item);
    // An item was expanded (true) or collapsed (false).
    void itemExpanding(TreeNodeId item, bool expanding);
    // A box click changed the item's box to `state`.
    void checkToggled(TreeNodeId item, CheckState state);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setCurrentItem(TreeNodeId item);
    void onCurrentChanged(const QModelIndex& current);
    bool onCheckBox(const QModelIndex& index, const QPoint& pos) const;

    TreeModel* tree_ = nullptr;
    std::unique_ptr<TreeItemModel> adapter_;
    QList<QIcon> icons_;  // kept here: each model gets a new adapter
    TreeCheckDelegate* delegate_ = nullptr;
    TreeNodeId currentItem_ = kNoTreeNode;
};

}  // namespace torvane
