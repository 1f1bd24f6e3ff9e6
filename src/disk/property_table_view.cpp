#include "disk/property_table_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyle>

namespace torvane {

CPropertyTableView::CPropertyTableView(QWidget* parent) : CColorListCtrl(parent) {
    setObjectName(QStringLiteral("PropertyList"));
    setRowModel(&rows_);
    // Image 10 of the list's image list marks a property row.
    QList<QIcon> icons;
    for (int i = 0; i < kPropertyRowImage; ++i) icons.append(QIcon());
    icons.append(QApplication::style()->standardIcon(QStyle::SP_FileDialogInfoView));
    setImageList(icons);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(false);
    setWordWrap(false);
}

CPropertyTableView::~CPropertyTableView() { setRowModel(nullptr); }

void CPropertyTableView::Clear() {
    rows_.Clear();
    if (itemModel() != nullptr) itemModel()->publishChanges();
}

void CPropertyTableView::ShowTable(const PropertyTable& table) {
    {
        auto lock = rows_.Lock();
        rows_.Clear();
        while (rows_.ColumnCount() > 0) rows_.DeleteColumn(0);
        for (const ListColumn& c : table.Columns) rows_.InsertColumn(rows_.ColumnCount(), c.name, c.width);
        for (const auto& cells : table.Rows) {
            const int row = rows_.AppendRow(cells);
            rows_.SetRowImage(row, kPropertyRowImage);
        }
        if (table.SortByColumn1) rows_.SortRows(1, SortRule::TextNoCase);
    }
    if (itemModel() != nullptr) itemModel()->publishChanges();
    for (int c = 0; c < static_cast<int>(table.Columns.size()); ++c) {
        ShowColumn(c, true);
        setColumnWidth(c, table.Columns[static_cast<std::size_t>(c)].width);
    }
    if (table.HideFirstColumn) ShowColumn(0, false);
}

}  // namespace torvane
