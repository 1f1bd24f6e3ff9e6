// The rows behind the report-view lists of the search dialogs (the file
// lists, the property lists, the signature lists): text cells in fixed
// columns, some of them hidden data columns, plus per-row item data, an image
// index, a check box, and background colours.
//
// Sorting a list by a header click never reorders these rows: the view sorts
// through a proxy, so code that reads rows by index (Scan Now reading the
// property list, Open, the save walkers) always sees the order the rows were
// written in. SortRows() is the explicit, data-reordering sort for owners that
// want it (the drive list is sorted by its text column this way).
//
// Threads: every member locks the store's mutex; a worker may append rows while
// the GUI shows them. Like the tree model, the store journals what changed and
// calls a listener once per batch; the Qt adapter publishes on the GUI thread.
#pragma once

#include "base/sort_rules.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// ---- cell comparison of header-click sorting --------------------------------
//
// A cell is read the first way that fits, in this order:
//   DecimalInteger  digits only ("4294967296"): exact at any length
//   Hex             optional blanks, optional 0x, hex digits ("ff", "1e5"): exact at any length
//   Decimal         a decimal number, optionally ending in "%" ("1.5", "-5", "50%")
//   DateTime        "dd-MMM-yyyy", "HH:MM:SS", or both (English months, any case)
//   Text            anything; compared byte by byte (case-sensitive)
enum class CellReading : std::uint8_t { DecimalInteger, Hex, Decimal, DateTime, Text };

// Does `text` pass `reading`? (Text always does; an empty text passes only Text.)
bool CellPasses(CellReading reading, std::string_view text);
// Compares two cells that both pass `reading`.
int CompareCellsAs(CellReading reading, std::string_view a, std::string_view b);
// The first reading both cells pass decides (the per-pair rule).
int CompareCells(std::string_view a, std::string_view b);
// The first reading every non-empty cell of a column passes. Sorting a
// column with one reading keeps the order total (a per-pair choice can make
// a > b > c > a in a mixed column, and then no order is right).
CellReading ColumnReading(const std::vector<std::string_view>& cells);
// The sort order of a column under one reading: empty cells first, then
// CompareCellsAs.
int CompareColumnCells(CellReading reading, std::string_view a, std::string_view b);

// A background colour entry of the list (COLORREF 0x00BBGGRR), tied to a row
// position: entries move with inserts and deletes of rows before them.
struct ListColorEntry {
    std::uint32_t color = 0;
    int row = 0;
    int column = 0;  // not used by row colours
};

struct ListColumn {
    std::string name;
    int width = 0;
};

// What changed since the last TakeChanges (for the view adapter).
struct ListChanges {
    bool reset = false;            // rows reordered, removed or inserted before shown ones, or columns changed
    std::size_t rowsBefore = 0;    // rows the view showed
    std::size_t rowsNow = 0;       // rows to show now (append: rowsNow > rowsBefore)
    std::vector<int> changedRows;  // rows whose cells/colour/check changed
    bool allChanged = false;
    bool empty() const { return !reset && rowsBefore == rowsNow && changedRows.empty() && !allChanged; }
};

class ListRowModel {
public:
    ListRowModel();
    ~ListRowModel();
    ListRowModel(const ListRowModel&) = delete;
    ListRowModel& operator=(const ListRowModel&) = delete;

    [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() const;

    // ---- columns ----
    // Inserts a column at `index` (clamped); returns its index. Existing rows
    // get an empty cell there.
    int InsertColumn(int index, std::string_view name, int width = 100);
    bool DeleteColumn(int index);
    int ColumnCount() const;
    ListColumn Column(int index) const;  // empty for an index out of range

    // ---- rows ----
    int RowCount() const;
    // Inserts a row at `pos` (clamped to the row count); returns its index.
    // Missing cells are empty; extra cells are dropped.
    int InsertRow(int pos, std::vector<std::string> cells);
    int AppendRow(std::vector<std::string> cells);
    bool RemoveRow(int row);
    void Clear();  // every row (columns stay)

    std::string Cell(int row, int column) const;  // empty when out of range
    bool SetCell(int row, int column, std::string_view text);
    std::vector<std::string> RowCells(int row) const;
    std::uint64_t RowData(int row) const;
    void SetRowData(int row, std::uint64_t data);
    int RowImage(int row) const;  // -1: none
    void SetRowImage(int row, int image);
    // Check box of the row: nullopt = no box.
    std::optional<bool> RowChecked(int row) const;
    void SetRowChecked(int row, std::optional<bool> checked);
    // First row whose cell in `column` equals `text` exactly, from `start`; -1 if none.
    int FindRow(int column, std::string_view text, int start = 0) const;

    // Reorders the rows themselves by one column (stable), with the list
    // sorting rules of the working tables (numeric or case-insensitive text).
    // Row colour entries stay at their positions.
    void SortRows(int column, SortRule rule);

    // ---- colours ----
    void AddRowColor(int row, std::uint32_t colorRef);
    void ClearRowColors();
    std::vector<ListColorEntry> RowColors() const;
    // The colour of the first entry for the row, if any.
    std::optional<std::uint32_t> RowColor(int row) const;

    // ---- view adapter ----
    void SetChangeListener(std::function<void()> listener);
    ListChanges TakeChanges();
    int PublishedRowCount() const;
    void PublishRows(int count);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace torvane
