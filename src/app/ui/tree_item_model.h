// The Qt item model over a core TreeModel.
//
// The core tree is filled by scan workers while the GUI shows it. Qt wants
// every structural change announced on the GUI thread, in step with the data.
// So this adapter shows only what it has "published": when the core tells it
// that something changed (from any thread), it posts itself one queued call,
// and there, under the core's lock, it takes the journal and announces the
// whole batch: appended rows with beginInsertRows/endInsertRows per parent,
// reordered or removed rows as one layout change (ids are stable, so
// expansion and selection survive), a Clear() as a reset.
#pragma once

#include "base/tree_model.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>

#include <vector>

namespace torvane {

class TreeItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // The model must outlive this adapter. One adapter per core model.
    explicit TreeItemModel(TreeModel* tree, QObject* parent = nullptr);
    ~TreeItemModel() override;

    TreeModel* tree() const { return tree_; }

    // Icons by image index (the image list of the tree).
    void setImageList(const QList<QIcon>& icons);

    TreeNodeId nodeFromIndex(const QModelIndex& index) const;
    // An invalid index when the node is not shown (yet).
    QModelIndex indexFromNode(TreeNodeId node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Qt::CheckStateRole runs the box click (TreeModel::ToggleCheck), whatever
    // the value: the item view asks for it on Space and on clicks.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

public slots:
    // Announces everything the core journalled since the last call. Runs by
    // itself (queued) after a change; tests and owners may call it directly.
    void publishChanges();

public:
    // True while a batch is being announced under the core's lock: slots that
    // run then must not take other locks or wait (post a queued call instead).
    bool isPublishing() const { return publishing_; }

signals:
    // The core asked for this item to be expanded (RequestExpand).
    void expandRequested(const QModelIndex& index);
    // Emitted after each published batch.
    void published();

private:
    void layoutRefresh();

    TreeModel* tree_;
    QList<QIcon> icons_;
    std::vector<TreeNodeId> pendingExpand_;
    bool publishing_ = false;
};

}  // namespace torvane
