#include "results/file_list_view.h"

#include "app/ui/system_image_list.h"
#include "results/file_list_columns.h"
#include "results/file_list_population.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QResizeEvent>

#include <algorithm>

namespace torvane {

CResultsFileList::CResultsFileList(QWidget* parent) : CColorListCtrl(parent)
{
    setObjectName(QStringLiteral("ResultsFileList"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(true);
    setRowModel(rows_);
    setImageList(CSystemImageList::Shared().Icons());
}

CResultsFileList::~CResultsFileList()
{
    setRowModel(nullptr);
}

void CResultsFileList::UseRows(ListRowModel* rows)
{
    rows_ = rows ? rows : &ownRows_;
    setRowModel(rows_);
}

void CResultsFileList::SetupResultColumns()
{
    SetupBasicResultColumns(*rows_);
    if (itemModel())
        itemModel()->publishChanges();
    for (int c = 0; c < kBasicListColumnCount; ++c)
        ShowColumn(c, true);
    for (int c = kListSelfId; c <= kBasicListAddend; ++c)
        ShowColumn(c, false);
    // Wide enough for the texts in this font ("14-JUL-2024", "Microsoft Word File").
    static const int widths[] = {140, 110, 80, 100, 80};
    for (int c = 0; c < 5; ++c)
        setColumnWidth(c, widths[c]);
    setColumnWidth(kBasicListFileSys, 0);
    horizontalHeader()->setStretchLastSection(false);
    // The name column takes what is left.
    setColumnWidth(kListName, 260);
}

void CResultsFileList::ApplyIcons()
{
    CSystemImageList& icons = CSystemImageList::Shared();
    const int n = rows_->RowCount();
    for (int r = 0; r < n; ++r) {
        if (rows_->RowImage(r) >= 0)
            continue;
        rows_->SetRowImage(r, icons.GetIconIndex(QString::fromStdString(rows_->Cell(r, kListName))));
    }
    setImageList(icons.Icons());
    if (itemModel())
        itemModel()->publishChanges();
}

void CResultsFileList::FitColumnsToContent()
{
    if (!model())
        return;
    for (int c = kListType; c <= kListTime; ++c) {
        resizeColumnToContents(c);
        setColumnWidth(c, std::clamp(columnWidth(c), 60, 220));
    }
    FitNameColumn();
}

void CResultsFileList::FitNameColumn()
{
    // The name column takes the room the others leave: a long name is cut
    // with an ellipsis, short ones leave no bare strip at the right.
    int others = 0;
    for (int c = kListType; c <= kListTime; ++c)
        others += columnWidth(c);
    const int room = viewport()->width() - others - 2;
    setColumnWidth(kListName, std::max(140, room));
}

void CResultsFileList::resizeEvent(QResizeEvent* event)
{
    CColorListCtrl::resizeEvent(event);
    if (model())
        FitNameColumn();
}

void CResultsFileList::focusInEvent(QFocusEvent* event)
{
    CColorListCtrl::focusInEvent(event);
    // Re-select the current row, or the first one when there is none.
    if (!model() || model()->rowCount() == 0 || !selectionModel())
        return;
    if (!selectionModel()->hasSelection()) {
        const QModelIndex first = model()->index(0, 0);
        selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

}  // namespace torvane
