// The file list of a search dialog's results: a colour list over the rows the
// listing writes (folder rows first, then file rows; deleted entries on a
// light red background), with the hidden data columns that opening and
// saving read.
#pragma once

#include "base/list_model.h"
#include "app/ui/colour_list.h"

namespace torvane {

class CResultsFileList : public CColorListCtrl {
    Q_OBJECT
public:
    explicit CResultsFileList(QWidget* parent = nullptr);
    ~CResultsFileList() override;

    ListRowModel& Rows() { return *rows_; }
    // Shows `rows` (owned by the caller, e.g. a search session) instead of
    // the list's own rows; null goes back to its own.
    void UseRows(ListRowModel* rows);

    // The Basic Search columns; the data columns 5..9 hidden, 10 zero-wide.
    void SetupResultColumns();
    // Gives every row without an image the shell icon of its name's
    // extension (GUI thread, after a listing).
    void ApplyIcons();
    // Sizes the shown columns to their texts (after a listing), the name
    // column taking what is left of the list's width, so that "Time" is on
    // screen at the dialog's default size.
    void FitColumnsToContent();

protected:
    void focusInEvent(QFocusEvent* event) override;
    // The name column follows the list's width.
    void resizeEvent(QResizeEvent* event) override;

private:
    // The name column's width: what the other shown columns leave.
    void FitNameColumn();

    ListRowModel ownRows_;
    ListRowModel* rows_ = &ownRows_;
};

}  // namespace torvane
