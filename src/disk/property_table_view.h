// The property list of a search dialog before it holds results: the
// Name / Value rows of the selected drive-tree node (or the disks and
// volumes tables of "Physical Drives" and "Logical Drives").
//
// The rows live in a ListRowModel in the order they were written. They are
// for the eye: what a scan needs comes from the selection's ScanSource.
#pragma once

#include "app/ui/colour_list.h"
#include "disk/drive_properties.h"

#include <memory>

namespace torvane {

class CPropertyTableView : public CColorListCtrl {
    Q_OBJECT
public:
    explicit CPropertyTableView(QWidget* parent = nullptr);
    ~CPropertyTableView() override;

    // Empties the list and shows `table`: its columns, its rows (each with
    // image 10), the first column hidden where the table says so, and the
    // disks table sorted by its "Disk number" text.
    void ShowTable(const PropertyTable& table);
    // Empties the list (columns stay).
    void Clear();

    ListRowModel& Rows() { return rows_; }
    // The value column of row `row` ("" when there is none).
    std::string Value(int row) const { return rows_.Cell(row, 1); }

private:
    ListRowModel rows_;
};

}  // namespace torvane
