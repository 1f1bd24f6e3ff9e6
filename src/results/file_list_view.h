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

    ListRowModel& Rows() { return rows_; }

    // The Basic Search columns; the data columns 5..9 hidden, 10 zero-wide.
    void SetupResultColumns();
    // Gives every row without an image the shell icon of its name's
    // extension (GUI thread, after a listing).
    void ApplyIcons();

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    ListRowModel rows_;
};

}  // namespace torvane
