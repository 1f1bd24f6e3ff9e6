#include "app/ui/tree_class.h"

#include "app/ui/tree_item_model.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>

namespace torvane {

// Draws the items; leaves mouse clicks on the box to CTreeClass (which runs
// the click rules of the core) and keeps highlighted items green in an
// unfocused tree's selection.
class TreeCheckDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QRect checkRect(const QStyleOptionViewItem& option, const QModelIndex& index) const {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator)) return {};
        const QWidget* w = option.widget;
        QStyle* style = w ? w->style() : QApplication::style();
        return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, w);
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return false;  // CTreeClass handles box clicks itself
        default:
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        }
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant fg = index.data(Qt::ForegroundRole);
        if (fg.isValid() && (option->state & QStyle::State_Selected) && option->widget &&
            !option->widget->hasFocus()) {
            const QColor c = fg.value<QColor>();
            option->palette.setColor(QPalette::Inactive, QPalette::HighlightedText, c);
            option->palette.setColor(QPalette::Active, QPalette::HighlightedText, c);
        }
    }
};

CTreeClass::CTreeClass(QWidget* parent) : QTreeView(parent) {
    setHeaderHidden(true);
    setUniformRowHeights(true);  // fast layout for very large trees
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    delegate_ = new TreeCheckDelegate(this);
    setItemDelegate(delegate_);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& i) { emit itemExpanding(nodeFromIndex(i), true); });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& i) { emit itemExpanding(nodeFromIndex(i), false); });
}

CTreeClass::~CTreeClass() {
    // The view must let go of the adapter before the adapter goes.
    setModel(nullptr);
}

void CTreeClass::setTreeModel(TreeModel* model) {
    setModel(nullptr);
    adapter_.reset();
    tree_ = model;
    currentItem_ = kNoTreeNode;
    if (!model) return;
    adapter_ = std::make_unique<TreeItemModel>(model);
    adapter_->setImageList(icons_);
    setModel(adapter_.get());
    connect(adapter_.get(), &TreeItemModel::expandRequested, this, [this](const QModelIndex& i) { expand(i); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { onCurrentChanged(current); });
}

void CTreeClass::setImageList(const QList<QIcon>& icons) {
    icons_ = icons;
    if (adapter_) adapter_->setImageList(icons);
}

TreeNodeId CTreeClass::nodeFromIndex(const QModelIndex& index) const {
    return adapter_ ? adapter_->nodeFromIndex(index) : kNoTreeNode;
}

QModelIndex CTreeClass::indexFromNode(TreeNodeId node) const {
    return adapter_ ? adapter_->indexFromNode(node) : QModelIndex();
}

void CTreeClass::SetStateImage(TreeNodeId item, std::uint32_t stateBits) {
    if (tree_) tree_->SetCheck(item, CheckStateFromBits(stateBits));
}

void CTreeClass::SetItemHighlight(TreeNodeId item) {
    if (tree_) tree_->SetHighlight(item, true);
}

void CTreeClass::ClearItemHighlights() {
    if (tree_) tree_->ClearHighlights();
}

CheckState CTreeClass::ToggleCheck(TreeNodeId item) {
    if (!tree_ || !tree_->IsValid(item)) return CheckState::None;
    const CheckState s = tree_->ToggleCheck(item);
    adapter_->publishChanges();  // show it now, not at the queued publication
    emit checkToggled(item, s);
    return s;
}

TreeNodeId CTreeClass::SelectedItem() const {
    return selectionModel() ? nodeFromIndex(selectionModel()->currentIndex()) : kNoTreeNode;
}

void CTreeClass::SelectItem(TreeNodeId item) {
    if (!selectionModel()) return;
    if (adapter_) adapter_->publishChanges();  // the item may have been added just now
    const QModelIndex i = indexFromNode(item);
    if (!i.isValid()) {
        selectionModel()->clear();
        return;
    }
    selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    scrollTo(i);
}

void CTreeClass::ExpandItem(TreeNodeId item) {
    if (adapter_) adapter_->publishChanges();
    const QModelIndex i = indexFromNode(item);
    if (i.isValid()) expand(i);
}

QRect CTreeClass::checkBoxRect(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    opt.index = index;
    if (selectionModel() && selectionModel()->isSelected(index)) opt.state |= QStyle::State_Selected;
    return delegate_->checkRect(opt, index);
}

bool CTreeClass::onCheckBox(const QModelIndex& index, const QPoint& pos) const {
    const QRect r = checkBoxRect(index);
    return !r.isEmpty() && r.contains(pos);
}

void CTreeClass::setCurrentItem(TreeNodeId item) {
    if (currentItem_ == item) return;
    currentItem_ = item;
    emit currentTreeItemChanged(item);
}

void CTreeClass::onCurrentChanged(const QModelIndex& current) {
    const TreeNodeId n = nodeFromIndex(current);
    if (adapter_ && adapter_->isPublishing()) {
        // The selection moved because rows went away during a publication,
        // which runs under the tree's lock: tell the owner once it is over.
        QMetaObject::invokeMethod(
            this, [this, n] {
                setCurrentItem(n);
                emit selChanged(n);
            },
            Qt::QueuedConnection);
        return;
    }
    setCurrentItem(n);
    emit selChanged(n);
}

void CTreeClass::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && adapter_) {
        const QPoint pos = event->position().toPoint();
        const QModelIndex index = indexAt(pos);
        // Every left click records the item under the cursor (or none).
        setCurrentItem(nodeFromIndex(index));
        if (index.isValid() && onCheckBox(index, pos)) {
            // Select first: the selection handler runs before the toggle.
            setFocus(Qt::MouseFocusReason);
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            const TreeNodeId item = currentItem_;  // re-read: the handler may have changed it
            if (item != kNoTreeNode) ToggleCheck(item);
            event->accept();
            return;
        }
    }
    QTreeView::mousePressEvent(event);
}

void CTreeClass::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click on a box is not a second box click, nor an expand request.
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    if (event->button() == Qt::LeftButton && index.isValid() && onCheckBox(index, pos)) {
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void CTreeClass::keyPressEvent(QKeyEvent* event) {
    // Space on the current item is the box click (the delegate would otherwise
    // compute a Qt check state; the adapter ignores the value anyway).
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        const TreeNodeId item = SelectedItem();
        if (item != kNoTreeNode && tree_ && tree_->GetCheck(item) != CheckState::None) {
            ToggleCheck(item);
            event->accept();
            return;
        }
    }
    QTreeView::keyPressEvent(event);
}

}  // namespace torvane
