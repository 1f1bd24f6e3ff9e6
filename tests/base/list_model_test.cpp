#include "base/list_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

namespace torvane {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

// The per-pair readings of a header-click sort.
TEST(CompareCells, ReadingTable) {
    struct Case {
        const char* a;
        const char* b;
        int expect;  // sign of CompareCells(a, b)
        const char* why;
    };
    const Case cases[] = {
        {"ff", "1a", 1, "hexadecimal 255 after 26"},
        {"abc", "b", 1, "hexadecimal 0xABC after 0xB, unlike text order"},
        {"1e5", "1f0", -1, "1e5 is hexadecimal 0x1E5"},
        {"1.5", "10", -1, "decimal reading"},
        {"50%", "7%", 1, "decimal with a percent sign"},
        {"-5", "3", -1, "a minus sign is not hexadecimal: -5 before 3"},
        {"12-MAR-2015", "05-Jan-2016", -1, "dates in time order, not text order"},
        {"05-JAN-2016 10:00:00", "05-JAN-2016 09:59:59", 1, "date and time"},
        {"9:05:00", "10:00:00", -1, "times"},
        {"10", "x", -1, "falls through to text"},
        {"Zed", "quo", -1, "text is case-sensitive (Z before q)"},
        {"", "0", -1, "empty text sorts first"},
        {"  0x1F", "30", -1, "blanks and an 0x prefix are read as hexadecimal (0x1F = 31 < 0x30 = 48)"},
        {"nan", "inf", 1, "NaN is no decimal: compared as text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Sign(CompareCells(c.a, c.b)), c.expect) << c.a << " vs " << c.b;
        EXPECT_EQ(Sign(CompareCells(c.b, c.a)), -c.expect) << c.b << " vs " << c.a;
    }
}

// Sizes of 9 digits and more, and beyond 32 bits, keep their numeric order
// (a 32-bit hexadecimal reading saturates and makes them all equal).
TEST(CompareCells, LargeSizesSortByValue) {
    std::vector<std::string> sizes = {"18446744073709551615", "4294967296", "100000000", "999999999",
                                      "4294967295", "5", "0", "123456789012"};
    std::stable_sort(sizes.begin(), sizes.end(),
                     [](const std::string& a, const std::string& b) { return CompareCells(a, b) < 0; });
    EXPECT_EQ(sizes, (std::vector<std::string>{"0", "5", "100000000", "999999999", "4294967295", "4294967296",
                                               "123456789012", "18446744073709551615"}));
    // Beyond 64 bits still exact.
    EXPECT_LT(CompareCells("18446744073709551616", "99999999999999999999"), 0);
    EXPECT_EQ(CompareCells("007", "7"), 0);
}

// A column is sorted with one reading, so the order is total even in a
// mixed column where the per-pair rule would go round in a circle.
TEST(CompareCells, ColumnReadingIsTotal) {
    // Per pair: "ab" > "b" (hex), "b" > "az" (text), "az" > "ab" (text): a circle.
    ASSERT_GT(CompareCells("ab", "b"), 0);
    ASSERT_GT(CompareCells("b", "az"), 0);
    ASSERT_GT(CompareCells("az", "ab"), 0);
    const std::vector<std::string_view> names = {"ab", "b", "az"};
    EXPECT_EQ(ColumnReading(names), CellReading::Text);
    // All-hex and all-size columns keep their numeric readings; empty cells don't count.
    EXPECT_EQ(ColumnReading({"abc", "b", ""}), CellReading::Hex);
    EXPECT_EQ(ColumnReading({"10", "", "4294967296"}), CellReading::DecimalInteger);
    EXPECT_EQ(ColumnReading({"1.5", "10", "50%"}), CellReading::Decimal);
    EXPECT_EQ(ColumnReading({"01-JAN-2020", "12:00:00"}), CellReading::DateTime);
    EXPECT_EQ(ColumnReading({"", ""}), CellReading::Text);
    EXPECT_LT(CompareColumnCells(CellReading::DecimalInteger, "", "0"), 0);
    EXPECT_GT(CompareColumnCells(CellReading::Hex, "abc", "b"), 0);
}

TEST(CompareCells, RejectsMalformedDatesAndNumbers) {
    EXPECT_FALSE(CellPasses(CellReading::DateTime, "32-JAN-2020"));
    EXPECT_FALSE(CellPasses(CellReading::DateTime, "01-XYZ-2020"));
    EXPECT_FALSE(CellPasses(CellReading::DateTime, "24:00:00"));
    EXPECT_FALSE(CellPasses(CellReading::DateTime, "01-JAN-20"));
    EXPECT_TRUE(CellPasses(CellReading::DateTime, "1-jan-2020"));
    EXPECT_FALSE(CellPasses(CellReading::Hex, "0x"));
    EXPECT_FALSE(CellPasses(CellReading::Hex, "-1"));
    EXPECT_FALSE(CellPasses(CellReading::Decimal, "1.5.3"));
    EXPECT_FALSE(CellPasses(CellReading::Decimal, "+-1"));
    EXPECT_FALSE(CellPasses(CellReading::Decimal, "%"));
    EXPECT_TRUE(CellPasses(CellReading::Decimal, "+2.5e3"));
}

// The explicit, data-reordering sort uses the list sorting rules of the
// working tables: numeric cells as 64-bit numbers, text without case.
TEST(ListRowModel, SortRowsNumericAndText) {
    ListRowModel m;
    m.InsertColumn(0, "Name");
    m.InsertColumn(1, "Size");
    m.AppendRow({"b", "4294967296"});
    m.AppendRow({"A", "10"});
    m.AppendRow({"D", "4294967295"});
    m.AppendRow({"c", "x"});
    m.AppendRow({"a", "-3"});
    m.SortRows(1, SortRule::Numeric);
    std::vector<std::string> sizes;
    for (int r = 0; r < m.RowCount(); ++r) sizes.push_back(m.Cell(r, 1));
    EXPECT_EQ(sizes, (std::vector<std::string>{"-3", "x", "10", "4294967295", "4294967296"}));
    m.SortRows(0, SortRule::TextNoCase);
    std::vector<std::string> names;
    for (int r = 0; r < m.RowCount(); ++r) names.push_back(m.Cell(r, 0));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "A", "b", "c", "D"}));  // equal keys keep their order
}

TEST(ListRowModel, RowsColumnsAndColours) {
    ListRowModel m;
    m.InsertColumn(0, "Name");
    m.InsertColumn(1, "Id", 0);
    EXPECT_EQ(m.AppendRow({"one", "1", "dropped"}), 0);
    EXPECT_EQ(m.AppendRow({"two"}), 1);
    EXPECT_EQ(m.Cell(1, 1), "");
    EXPECT_EQ(m.Cell(0, 2), "");  // out of range: empty, no crash
    EXPECT_EQ(m.InsertRow(99, {"three", "3"}), 2);
    m.InsertColumn(1, "Mid");
    EXPECT_EQ(m.RowCells(2), (std::vector<std::string>{"three", "", "3"}));
    EXPECT_EQ(m.FindRow(2, "3"), 2);

    // Colour entries follow inserts and deletes of the rows before them.
    m.AddRowColor(1, 0xFAF0E6);
    m.AddRowColor(2, 0x0000FF);
    m.InsertRow(1, {"new"});  // an entry at the insertion index stays put
    EXPECT_EQ(m.RowColor(1), 0xFAF0E6u);
    EXPECT_EQ(m.RowColor(3), 0x0000FFu);
    m.RemoveRow(1);
    EXPECT_FALSE(m.RowColor(1).has_value() && m.RowColor(1) == 0xFAF0E6u);  // its entry went with the row
    EXPECT_EQ(m.RowColor(2), 0x0000FFu);
    m.Clear();
    EXPECT_TRUE(m.RowColors().empty());
    EXPECT_EQ(m.ColumnCount(), 3);
}

TEST(ListRowModel, JournalForTheView) {
    ListRowModel m;
    int notices = 0;
    m.SetChangeListener([&] { ++notices; });
    m.InsertColumn(0, "Name");
    m.TakeChanges();
    m.PublishRows(m.RowCount());
    m.AppendRow({"a"});
    m.AppendRow({"b"});
    EXPECT_EQ(notices, 2);  // one for the column, one for the batch of rows
    ListChanges ch = m.TakeChanges();
    EXPECT_FALSE(ch.reset);
    EXPECT_EQ(ch.rowsBefore, 0u);
    EXPECT_EQ(ch.rowsNow, 2u);
    m.PublishRows(2);
    m.SetCell(1, 0, "B");
    ch = m.TakeChanges();
    EXPECT_EQ(ch.changedRows, std::vector<int>{1});
    m.InsertRow(0, {"first"});
    EXPECT_TRUE(m.TakeChanges().reset);
}

TEST(ListRowModel, WorkerAppendsWhileViewPublishes) {
    ListRowModel m;
    m.InsertColumn(0, "Name");
    m.InsertColumn(1, "Size");
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 20000; ++i) m.AppendRow({"f" + std::to_string(i), std::to_string(i)});
        done = true;
    });
    std::size_t shown = 0;
    while (!done) {
        auto lock = m.Lock();
        const ListChanges ch = m.TakeChanges();
        ASSERT_FALSE(ch.reset && shown > 0);  // appends never force a reset
        ASSERT_GE(ch.rowsNow, ch.rowsBefore);
        m.PublishRows(int(ch.rowsNow));
        shown = ch.rowsNow;
        if (shown > 0) {
            ASSERT_EQ(m.Cell(int(shown) - 1, 1), std::to_string(shown - 1));
        }
    }
    worker.join();
    EXPECT_EQ(m.RowCount(), 20000);
}

}  // namespace
}  // namespace torvane
