// The report-view lists of the search dialogs over a core ListRowModel.
//
// CColorListCtrl (the file lists, the signature lists): a table that sorts
// when a column header is clicked (first click ascending, the same column
// again toggles), paints rows in background colours of the owner's choice,
// and keeps hidden data columns hidden. The sort happens in a proxy: the rows
// of the ListRowModel keep the order they were written in, so code that
// reads rows by index reads the data, not whatever the user clicked. Use
// sourceRow()/viewRow() to go between the two orders.
//
// CHideColumn: the same hidden-column support and a 20-pixel minimum column
// width; it neither sorts nor colours.
#pragma once

#include "base/list_model.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <map>
#include <memory>
#include <optional>

namespace torvane {

// The Qt table model over a ListRowModel: publishes rows added by workers
// in batches on the GUI thread (like the tree adapter).
class ListItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ListItemModel(ListRowModel* rows, QObject* parent = nullptr);
    ~ListItemModel() override;

    ListRowModel* rows() const { return rows_; }
    void setImageList(const QList<QIcon>& icons) { icons_ = icons; }
    void setColoursEnabled(bool on) { colours_ = on; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The item data of a row (Qt::UserRole).
    static constexpr int RowDataRole = Qt::UserRole + 1;

public slots:
    void publishChanges();

signals:
    void published();

private:
    ListRowModel* rows_;
    QList<QIcon> icons_;
    bool colours_ = true;
    int columns_ = 0;  // as last announced
};

// Sorts a list view by one column with the cell readings (one reading per
// column), or with a working-table rule where the owner sets one; alternate
// row colours go by view row, so they stay alternating after a sort.
class ColorListSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ColorListSortProxy(QObject* parent = nullptr);

    // Sort this column by a working-table rule instead of the cell readings.
    void setColumnSortRule(int column, std::optional<SortRule> rule);
    void setAlternateRows(bool on, std::uint32_t oddColorRef, std::uint32_t evenColorRef);
    CellReading readingOf(int column) const;

    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // After rows were added or changed: re-sort if the column's reading changed.
    void recheckReading();
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    // Chooses the reading of `column` from its cells; true when it changed.
    bool computeReading(int column);

    std::map<int, SortRule> rules_;
    CellReading reading_ = CellReading::Text;
    int readingColumn_ = -1;
    bool alternate_ = false;
    std::uint32_t odd_ = 0xFFFFFF, even_ = 0xFFFFFF;
};

class CColorListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CColorListCtrl(QWidget* parent = nullptr);
    ~CColorListCtrl() override;

    // Shows `rows` (which must outlive the view, or be detached with nullptr).
    void setRowModel(ListRowModel* rows);
    ListRowModel* rowModel() const { return rows_; }
    ListItemModel* itemModel() const { return adapter_.get(); }
    ColorListSortProxy* sortProxy() const { return proxy_; }
    void setImageList(const QList<QIcon>& icons);

    // Hides (false) or shows a column; an index out of range is refused.
    bool ShowColumn(int column, bool show);
    // Sorts the view (not the data) by a column; the sorted signal follows.
    void SortByColumn(int column, bool ascending);
    // No cell is ever edited in place: nothing to end.
    bool EndCellEdit() { return false; }
    void SetAlternateRows(bool on, std::uint32_t oddColorRef, std::uint32_t evenColorRef);
    void AddRowColor(int sourceRow, std::uint32_t colorRef);
    // Autosizes every visible column to its contents (Ctrl + keypad plus).
    void AutoSizeColumns();

    int SortColumn() const { return m_nSortColumn; }
    bool SortAscending() const { return m_bSortAscending; }
    int sourceRow(int viewRow) const;
    int viewRow(int sourceRow) const;
    // Source rows of the selection, in view order.
    QList<int> selectedSourceRows() const;

signals:
    // After every sort (also of an empty list).
    void sorted(int column, bool ascending);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onHeaderClicked(int section);

    ListRowModel* rows_ = nullptr;
    std::unique_ptr<ListItemModel> adapter_;
    QList<QIcon> icons_;  // kept here: each row model gets a new adapter
    ColorListSortProxy* proxy_ = nullptr;
    QSet<int> hidden_;  // kept here: a model reset makes the header forget
    int m_nSortColumn = -1;
    bool m_bSortAscending = false;
};

class CHideColumn : public QTableView {
    Q_OBJECT
public:
    explicit CHideColumn(QWidget* parent = nullptr);
    ~CHideColumn() override;

    void setRowModel(ListRowModel* rows);
    ListRowModel* rowModel() const { return rows_; }
    ListItemModel* itemModel() const { return adapter_.get(); }
    bool ShowColumn(int column, bool show);
    void AutoSizeColumns();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ListRowModel* rows_ = nullptr;
    std::unique_ptr<ListItemModel> adapter_;
    QSet<int> hidden_;
};

}  // namespace torvane
