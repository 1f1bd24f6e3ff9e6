// TextTable: a table of text cells with fixed, named columns. The scans use a
// set of these as working tables (one row per found item, numbers kept as
// decimal text, rows looked up by the exact text of their first column).
//
// Row order is what the rows' positions say, as in a report list: a row is
// inserted at a position (clamped to the row count, so a position past the
// end appends), later rows move down by one, and deleting a row moves the
// rows below it up by one.
//
// Lookups by the first column compare texts whole and exactly (byte for
// byte; the keys kept in these tables are decimal numbers and names, for
// which this equals a comparison without case of the digits). With several
// rows of the same key, FindFirst gives the one nearest the top, FindNext the
// next one below a given row, FindLast the one nearest the bottom.
//
// Cost, for n rows and k rows sharing one key:
//   AppendRow, InsertRow, DeleteRow, SetCell   O(log n) expected (+ O(k) for
//                                              the key's row list)
//   Cell, Row (by position)                    O(log n) expected
//   FindFirst, FindLast                        O(1) hash + O(log n)
//   FindNext                                   O(log k * log n)
//   RemoveRowsWhere, SortByColumn, DeleteAll   O(n) / O(n log n), one pass
// The rows are kept in a balanced binary tree ordered by position (a treap
// with subtree sizes), so a position and a row convert into each other in
// O(log n), and a hash index maps each first-column text to its rows in row
// order. Nothing is ever a linear scan per operation. Memory: about 45
// bytes per row plus the cell texts (a row of nine short numbers: ~100 bytes).
//
// Thread safety: every operation is atomic (an internal mutex). A caller
// that needs several steps to see one state (find, then delete) holds
// Lock() across them; the lock is recursive, so the table's own methods can
// be called while holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/sort_rules.h"

namespace torvane {

class TextTable {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    struct Column {
        std::string name;
        int width = 0;  // display width in pixels; kept as data only
    };

    TextTable() = default;
    TextTable(std::string name, std::vector<Column> columns);
    TextTable(const TextTable&) = delete;
    TextTable& operator=(const TextTable&) = delete;

    // Columns are fixed once set; returns false (and changes nothing) when
    // the table already has columns.
    bool SetColumns(std::vector<Column> columns);

    const std::string& Name() const { return name_; }
    std::size_t ColumnCount() const { return columns_.size(); }
    const std::vector<Column>& Columns() const { return columns_; }
    // Position of the column of that name, or npos.
    std::size_t ColumnIndex(std::string_view columnName) const;

    std::size_t RowCount() const;

    // Appends a row; missing cells are empty, cells beyond the columns are
    // dropped. Returns the new row's position.
    std::size_t AppendRow(std::initializer_list<std::string_view> cells);
    std::size_t AppendRow(const std::vector<std::string>& cells);
    // Inserts a row at `position` (clamped to RowCount()). Returns where it went.
    std::size_t InsertRow(std::size_t position, std::initializer_list<std::string_view> cells);
    std::size_t InsertRow(std::size_t position, const std::vector<std::string>& cells);

    // Writes one cell; false when the row or column does not exist.
    bool SetCell(std::size_t row, std::size_t column, std::string text);
    // The cell's text; empty for a row or column that does not exist.
    std::string Cell(std::size_t row, std::size_t column) const;
    // The cell read as decimal numbers (ParseDecimalU64 / ParseDecimalI32):
    // "A" and empty cells read as 0.
    std::uint64_t CellU64(std::size_t row, std::size_t column) const;
    std::int32_t CellI32(std::size_t row, std::size_t column) const;
    // All cells of a row (empty vector for a row that does not exist).
    std::vector<std::string> Row(std::size_t row) const;

    // Lookups by the exact text of the first column; npos when none.
    std::size_t FindFirst(std::string_view key) const;
    // The first matching row below `afterRow` (npos as afterRow searches from
    // the top). No wrap-around.
    std::size_t FindNext(std::string_view key, std::size_t afterRow) const;
    std::size_t FindLast(std::string_view key) const;
    // Number of rows whose first column is `key`.
    std::size_t CountKey(std::string_view key) const;

    // Deletes one row; false when it does not exist.
    bool DeleteRow(std::size_t row);
    // Deletes every row. Columns stay.
    void DeleteAll();
    // Deletes every row whose cell in `column` equals `text`, in one pass.
    // `onRow`, when given, is called once per row examined, from the last
    // row to the first, with the number of rows examined so far (for a
    // progress bar); it runs under the table's lock and must not use the
    // table. Returns the number of rows deleted.
    std::size_t RemoveRowsWhere(std::size_t column, std::string_view text,
                                const std::function<void(std::size_t examined)>& onRow = {});

    // Sorts all rows ascending by one column (stable: rows with equal cells
    // keep their order).
    void SortByColumn(std::size_t column, SortRule rule);

    // Calls fn(position, cells) for every row from the top, under the lock
    // (the views are valid during the call only; fn must not change the table).
    void ForEachRow(const std::function<void(std::size_t, std::span<const std::string_view>)>& fn) const;
    // A copy of every row, top to bottom.
    std::vector<std::vector<std::string>> Snapshot() const;

    // Holds the table's (recursive) lock across several operations.
    std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock<std::recursive_mutex>(mutex_); }

private:
    using Node = std::uint32_t;
    static constexpr Node kNil = 0xFFFFFFFFu;

    struct NodeLinks {
        Node left = kNil;
        Node right = kNil;
        Node parent = kNil;
        std::uint32_t size = 1;
        std::uint32_t priority = 0;
        std::uint32_t cellBytes = 0;   // length of the packed cells
        const char* cells = nullptr;   // the packed cells, in the arena
    };

    std::size_t Width() const { return columns_.empty() ? 1 : columns_.size(); }
    // A row's cells are packed one after another: per cell a length (one
    // byte, or 0xFF and four bytes) and the text. The packed rows live in an
    // arena of 1 MiB blocks, so adding a row allocates nothing in the usual
    // case; a row that is rewritten or deleted leaves its old bytes as
    // waste, and the arena is compacted once the waste exceeds the live bytes.
    std::string_view CellView(Node n, std::size_t column) const;
    static std::size_t PackedSize(std::string_view cell);
    static char* WritePacked(char* out, std::string_view cell);
    void SetPackedCell(Node n, std::size_t column, std::string_view text);
    char* ArenaAllocate(std::size_t bytes);
    void ReleaseCells(Node n);
    void MaybeCompact();

    std::uint32_t SizeOf(Node n) const { return n == kNil ? 0 : links_[n].size; }
    void Update(Node n);
    void Split(Node t, std::size_t count, Node& left, Node& right);
    Node Merge(Node a, Node b);
    Node NodeAt(std::size_t position) const;
    std::size_t PositionOf(Node n) const;
    std::uint32_t NextPriority();

    // A new row from cell(c) for c < count.
    template <typename CellAt>
    Node NewNode(std::size_t count, CellAt cell);
    void FreeNode(Node n);
    std::size_t InsertNode(std::size_t position, Node n);

    // The key index: open addressing with linear probing over slots that
    // hold a hash and either one row (the usual case: keys are unique) or,
    // with kListBit set, the number of a list of rows in row order.
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t ref = kEmptySlot;
    };
    static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;
    static constexpr std::uint32_t kListBit = 0x80000000u;
    static std::uint32_t HashKey(std::string_view key);
    Node FirstOf(const Slot& slot) const;
    Node LastOf(const Slot& slot) const;
    std::size_t FindSlot(std::string_view key, std::uint32_t hash) const;  // npos when absent
    void GrowSlots();
    void EraseSlot(std::size_t i);
    void IndexAdd(Node n, bool knownLast = false);
    void IndexRemove(Node n);
    void IndexClear();
    std::vector<Node> InOrder() const;
    void RebuildFrom(const std::vector<Node>& order);

    std::string name_;
    std::vector<Column> columns_;

    mutable std::recursive_mutex mutex_;
    std::vector<NodeLinks> links_;
    std::vector<std::unique_ptr<char[]>> arenaBlocks_;
    char* arenaNext_ = nullptr;
    std::size_t arenaLeft_ = 0;
    std::size_t liveBytes_ = 0;
    std::size_t wastedBytes_ = 0;
    std::vector<Node> freeNodes_;
    Node root_ = kNil;
    std::vector<Slot> slots_;  // size 0 or a power of two
    std::size_t usedSlots_ = 0;
    std::vector<std::vector<Node>> keyLists_;  // rows of keys held by several rows
    std::vector<std::uint32_t> freeKeyLists_;
    std::uint64_t rngState_ = 0x9E3779B97F4A7C15ull;
};

}  // namespace torvane
