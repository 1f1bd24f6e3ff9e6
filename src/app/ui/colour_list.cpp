#include "app/ui/colour_list.h"

#include "app/ui/color_static.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>
#include <string>
#include <vector>

namespace torvane {

// ============================================================================
// ListItemModel
// ============================================================================

ListItemModel::ListItemModel(ListRowModel* rows, QObject* parent) : QAbstractTableModel(parent), rows_(rows) {
    auto lock = rows_->Lock();
    rows_->TakeChanges();
    rows_->PublishRows(rows_->RowCount());
    columns_ = rows_->ColumnCount();
    // Called under the store's lock from the thread that changed it: post and return.
    rows_->SetChangeListener([this] { QMetaObject::invokeMethod(this, &ListItemModel::publishChanges, Qt::QueuedConnection); });
}

ListItemModel::~ListItemModel() { rows_->SetChangeListener({}); }

int ListItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_->PublishedRowCount();
}

int ListItemModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ListItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row(), col = index.column();
    auto lock = rows_->Lock();
    if (row >= rows_->PublishedRowCount() || col >= rows_->ColumnCount()) return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(rows_->Cell(row, col));
    case Qt::BackgroundRole:
        if (colours_) {
            if (auto c = rows_->RowColor(row)) return FromColorRef(*c);
        }
        return {};
    case Qt::CheckStateRole:
        if (col == 0) {
            if (auto c = rows_->RowChecked(row)) return QVariant::fromValue(int(*c ? Qt::Checked : Qt::Unchecked));
        }
        return {};
    case Qt::DecorationRole:
        if (col == 0) {
            const int image = rows_->RowImage(row);
            if (image >= 0 && image < icons_.size()) return icons_.at(image);
        }
        return {};
    case RowDataRole:
        return QVariant::fromValue<qulonglong>(rows_->RowData(row));
    default:
        return {};
    }
}

bool ListItemModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != 0) return false;
    {
        auto lock = rows_->Lock();
        if (!rows_->RowChecked(index.row()).has_value()) return false;
        rows_->SetRowChecked(index.row(), value.toInt() == int(Qt::Checked));
    }
    publishChanges();
    return true;
}

QVariant ListItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromStdString(rows_->Column(section).name);
}

Qt::ItemFlags ListItemModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0 && rows_->RowChecked(index.row()).has_value()) f |= Qt::ItemIsUserCheckable;
    return f;
}

void ListItemModel::publishChanges() {
    auto lock = rows_->Lock();
    const ListChanges ch = rows_->TakeChanges();
    if (ch.empty() && columns_ == rows_->ColumnCount()) return;
    std::vector<std::pair<int, int>> changed;
    if (ch.reset || columns_ != rows_->ColumnCount() || ch.rowsNow < ch.rowsBefore) {
        beginResetModel();
        rows_->PublishRows(rows_->RowCount());
        columns_ = rows_->ColumnCount();
        endResetModel();
    } else {
        if (ch.rowsNow > ch.rowsBefore) {
            beginInsertRows(QModelIndex(), int(ch.rowsBefore), int(ch.rowsNow) - 1);
            rows_->PublishRows(int(ch.rowsNow));
            endInsertRows();
        }
        const int shown = rows_->PublishedRowCount();
        if (ch.allChanged || ch.changedRows.size() > 256) {
            if (shown > 0 && columns_ > 0) changed.emplace_back(0, shown - 1);
        } else {
            for (int r : ch.changedRows)
                if (r < shown && columns_ > 0) changed.emplace_back(r, r);
        }
    }
    lock.unlock();
    // Cell changes go out without the store's lock held (slots may take other locks).
    for (const auto& [first, last] : changed) emit dataChanged(index(first, 0), index(last, columns_ - 1));
    emit published();
}

// ============================================================================
// ColorListSortProxy
// ============================================================================

ColorListSortProxy::ColorListSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {}

void ColorListSortProxy::setColumnSortRule(int column, std::optional<SortRule> rule) {
    if (rule)
        rules_[column] = *rule;
    else
        rules_.erase(column);
}

void ColorListSortProxy::setAlternateRows(bool on, std::uint32_t oddColorRef, std::uint32_t evenColorRef) {
    alternate_ = on;
    odd_ = oddColorRef;
    even_ = evenColorRef;
    const int n = rowCount();
    if (n > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(n - 1, columnCount() - 1), {Qt::BackgroundRole});
}

CellReading ColorListSortProxy::readingOf(int column) const {
    return column == readingColumn_ ? reading_ : CellReading::Text;
}

bool ColorListSortProxy::computeReading(int column) {
    const auto* src = qobject_cast<const ListItemModel*>(sourceModel());
    if (!src || column < 0) return false;
    ListRowModel* rows = src->rows();
    auto lock = rows->Lock();
    const int n = src->rowCount();
    std::vector<std::string> cells;
    cells.reserve(std::size_t(n));
    for (int r = 0; r < n; ++r) cells.push_back(rows->Cell(r, column));
    std::vector<std::string_view> views(cells.begin(), cells.end());
    const CellReading reading = ColumnReading(views);
    const bool changed = reading != reading_ || column != readingColumn_;
    reading_ = reading;
    readingColumn_ = column;
    return changed;
}

void ColorListSortProxy::recheckReading() {
    // New or changed rows may not fit the column's reading any more: then the
    // whole column is sorted again with the reading that fits them all.
    if (sortColumn() >= 0 && computeReading(sortColumn())) invalidate();
}

void ColorListSortProxy::sort(int column, Qt::SortOrder order) {
    const bool changed = computeReading(column);
    const bool same = column == sortColumn() && order == sortOrder();
    QSortFilterProxyModel::sort(column, order);
    if (same && changed) invalidate();
}

bool ColorListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const auto* src = qobject_cast<const ListItemModel*>(sourceModel());
    if (!src) return QSortFilterProxyModel::lessThan(left, right);
    ListRowModel* rows = src->rows();
    const std::string a = rows->Cell(left.row(), left.column());
    const std::string b = rows->Cell(right.row(), right.column());
    const auto rule = rules_.find(left.column());
    if (rule != rules_.end()) return CompareByRule(rule->second, a, b) < 0;
    return CompareColumnCells(readingOf(left.column()), a, b) < 0;
}

QVariant ColorListSortProxy::data(const QModelIndex& index, int role) const {
    QVariant v = QSortFilterProxyModel::data(index, role);
    if (role == Qt::BackgroundRole && !v.isValid() && alternate_ && index.isValid())
        return FromColorRef(index.row() % 2 ? odd_ : even_);
    return v;
}

// ============================================================================
// CColorListCtrl and CHideColumn
// ============================================================================
namespace {

void PrepareTable(QTableView* t) {
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::ExtendedSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setShowGrid(true);
    t->setWordWrap(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionsMovable(true);
    t->horizontalHeader()->setHighlightSections(false);
}

bool IsAutoSizeKey(const QKeyEvent* e) {
    return e->key() == Qt::Key_Plus && (e->modifiers() & Qt::ControlModifier) && (e->modifiers() & Qt::KeypadModifier);
}

void AutoSizeVisible(QTableView* t) {
    if (!t->model()) return;
    for (int c = 0; c < t->model()->columnCount(); ++c)
        if (!t->isColumnHidden(c)) t->resizeColumnToContents(c);
}

bool ShowTableColumn(QTableView* t, QSet<int>& hidden, int column, bool show) {
    if (!t->model() || column < 0 || column >= t->model()->columnCount()) return false;
    if (show)
        hidden.remove(column);
    else
        hidden.insert(column);
    if (show == !t->isColumnHidden(column)) return true;
    // Qt keeps a hidden section's width and gives it back when shown.
    t->setColumnHidden(column, !show);
    return true;
}

// After a model reset (a cleared list, new columns) the header shows every
// section again: hide the data columns once more.
void KeepHidden(QTableView* t, const QSet<int>& hidden) {
    if (!t->model()) return;
    for (int c : hidden)
        if (c < t->model()->columnCount() && !t->isColumnHidden(c)) t->setColumnHidden(c, true);
}

// Column widths as the owner inserted them, for columns the view has not sized yet.
void ApplyInsertedWidths(QTableView* t, ListRowModel* rows, int& applied) {
    const int n = t->model() ? t->model()->columnCount() : 0;
    for (int c = applied; c < n; ++c) {
        const int w = rows->Column(c).width;
        if (w > 0) t->setColumnWidth(c, w);
    }
    applied = n;
}

}  // namespace

CColorListCtrl::CColorListCtrl(QWidget* parent) : QTableView(parent) {
    PrepareTable(this);
    proxy_ = new ColorListSortProxy(this);
    horizontalHeader()->setSectionsClickable(true);
    // No arrow until the list is sorted by a column.
    horizontalHeader()->setSortIndicatorShown(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CColorListCtrl::onHeaderClicked);
}

CColorListCtrl::~CColorListCtrl() {
    setModel(nullptr);
    proxy_->setSourceModel(nullptr);
    adapter_.reset();
}

void CColorListCtrl::setRowModel(ListRowModel* rows) {
    setModel(nullptr);
    proxy_->setSourceModel(nullptr);
    adapter_.reset();
    rows_ = rows;
    if (!rows) return;
    adapter_ = std::make_unique<ListItemModel>(rows);
    adapter_->setImageList(icons_);
    proxy_->setSourceModel(adapter_.get());
    setModel(proxy_);
    auto applied = std::make_shared<int>(0);
    ApplyInsertedWidths(this, rows_, *applied);
    connect(adapter_.get(), &ListItemModel::published, this, [this, applied] {
        ApplyInsertedWidths(this, rows_, *applied);
        proxy_->recheckReading();
    });
    connect(proxy_, &QAbstractItemModel::modelReset, this, [this] { KeepHidden(this, hidden_); });
}

void CColorListCtrl::setImageList(const QList<QIcon>& icons) {
    icons_ = icons;
    if (adapter_) adapter_->setImageList(icons);
}

bool CColorListCtrl::ShowColumn(int column, bool show) { return ShowTableColumn(this, hidden_, column, show); }

void CColorListCtrl::SortByColumn(int column, bool ascending) {
    if (!adapter_ || column < 0 || column >= adapter_->columnCount() || !horizontalHeader()->sectionsClickable())
        return;
    m_nSortColumn = column;
    m_bSortAscending = ascending;
    const Qt::SortOrder order = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    proxy_->sort(column, order);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, order);
    emit sorted(column, ascending);
}

void CColorListCtrl::onHeaderClicked(int section) {
    const bool ascending = section == m_nSortColumn ? !m_bSortAscending : true;
    EndCellEdit();
    if (section >= 0) SortByColumn(section, ascending);
}

void CColorListCtrl::SetAlternateRows(bool on, std::uint32_t oddColorRef, std::uint32_t evenColorRef) {
    proxy_->setAlternateRows(on, oddColorRef, evenColorRef);
}

void CColorListCtrl::AddRowColor(int sourceRow, std::uint32_t colorRef) {
    if (rows_) rows_->AddRowColor(sourceRow, colorRef);
}

void CColorListCtrl::AutoSizeColumns() { AutoSizeVisible(this); }

int CColorListCtrl::sourceRow(int viewRow) const {
    const QModelIndex i = proxy_->mapToSource(proxy_->index(viewRow, 0));
    return i.isValid() ? i.row() : -1;
}

int CColorListCtrl::viewRow(int sourceRow) const {
    if (!adapter_) return -1;
    const QModelIndex i = proxy_->mapFromSource(adapter_->index(sourceRow, 0));
    return i.isValid() ? i.row() : -1;
}

QList<int> CColorListCtrl::selectedSourceRows() const {
    QList<int> out;
    if (!selectionModel()) return out;
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& i : rows) out.append(proxy_->mapToSource(i).row());
    return out;
}

void CColorListCtrl::keyPressEvent(QKeyEvent* event) {
    if (IsAutoSizeKey(event)) {
        AutoSizeColumns();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

CHideColumn::CHideColumn(QWidget* parent) : QTableView(parent) {
    PrepareTable(this);
    horizontalHeader()->setMinimumSectionSize(20);
    horizontalHeader()->setSectionsClickable(false);
}

CHideColumn::~CHideColumn() {
    setModel(nullptr);
    adapter_.reset();
}

void CHideColumn::setRowModel(ListRowModel* rows) {
    setModel(nullptr);
    adapter_.reset();
    rows_ = rows;
    if (!rows) return;
    adapter_ = std::make_unique<ListItemModel>(rows);
    adapter_->setColoursEnabled(false);
    setModel(adapter_.get());
    auto applied = std::make_shared<int>(0);
    ApplyInsertedWidths(this, rows_, *applied);
    connect(adapter_.get(), &ListItemModel::published, this, [this, applied] { ApplyInsertedWidths(this, rows_, *applied); });
    connect(adapter_.get(), &QAbstractItemModel::modelReset, this, [this] { KeepHidden(this, hidden_); });
}

bool CHideColumn::ShowColumn(int column, bool show) { return ShowTableColumn(this, hidden_, column, show); }

void CHideColumn::AutoSizeColumns() { AutoSizeVisible(this); }

void CHideColumn::keyPressEvent(QKeyEvent* event) {
    if (IsAutoSizeKey(event)) {
        AutoSizeColumns();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace torvane
