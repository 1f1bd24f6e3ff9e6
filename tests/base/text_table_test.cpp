#include "base/text_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <string>
#include <vector>

namespace torvane {
namespace {

TextTable MakeTable() {
    return TextTable("T", {{"key", 40}, {"a", 40}, {"b", 40}});
}

std::vector<std::string> Keys(const TextTable& t) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < t.RowCount(); ++i) keys.push_back(t.Cell(i, 0));
    return keys;
}

TEST(TextTable, ColumnsAreFixedOnce) {
    TextTable t;
    EXPECT_TRUE(t.SetColumns({{"x", 10}, {"y", 20}}));
    EXPECT_FALSE(t.SetColumns({{"z", 10}}));
    ASSERT_EQ(t.ColumnCount(), 2u);
    EXPECT_EQ(t.Columns()[1].name, "y");
    EXPECT_EQ(t.Columns()[1].width, 20);
    EXPECT_EQ(t.ColumnIndex("y"), 1u);
    EXPECT_EQ(t.ColumnIndex("nope"), TextTable::npos);
}

TEST(TextTable, InsertPositionsFollowListRules) {
    TextTable t = MakeTable();
    EXPECT_EQ(t.AppendRow({"1"}), 0u);
    EXPECT_EQ(t.AppendRow({"2"}), 1u);
    EXPECT_EQ(t.InsertRow(0, {"0"}), 0u);
    EXPECT_EQ(t.InsertRow(2, {"1.5"}), 2u);
    // A position past the end appends.
    EXPECT_EQ(t.InsertRow(99, {"9"}), 4u);
    EXPECT_EQ(Keys(t), (std::vector<std::string>{"0", "1", "1.5", "2", "9"}));
}

TEST(TextTable, InsertAtCountMinusOneKeepsFirstRowLast) {
    // The pending-directory store inserts each new row at count - 1 (at 0 when
    // empty): the first row stays last and later rows line up above it.
    TextTable t = MakeTable();
    for (const char* key : {"first", "b", "c", "d"}) {
        const std::size_t n = t.RowCount();
        t.InsertRow(n == 0 ? 0 : n - 1, {key});
    }
    EXPECT_EQ(Keys(t), (std::vector<std::string>{"b", "c", "d", "first"}));
}

TEST(TextTable, CellsMissingOrExtraAndOutOfRange) {
    TextTable t = MakeTable();
    t.AppendRow({"k", "a", "b", "extra"});
    t.AppendRow({"only"});
    EXPECT_EQ(t.Row(0), (std::vector<std::string>{"k", "a", "b"}));
    EXPECT_EQ(t.Row(1), (std::vector<std::string>{"only", "", ""}));
    EXPECT_EQ(t.Cell(5, 0), "");
    EXPECT_EQ(t.Cell(0, 7), "");
    EXPECT_TRUE(t.Row(5).empty());
    EXPECT_FALSE(t.SetCell(5, 0, "x"));
    EXPECT_FALSE(t.SetCell(0, 3, "x"));
    EXPECT_TRUE(t.SetCell(1, 2, "z"));
    EXPECT_EQ(t.Cell(1, 2), "z");
}

TEST(TextTable, NumericCellReadings) {
    TextTable t = MakeTable();
    t.AppendRow({"4294967295", "A", " 42"});
    t.AppendRow({"18446744073709551615", "-7", "99999999999"});
    EXPECT_EQ(t.CellU64(0, 0), 4294967295u);
    EXPECT_EQ(t.CellU64(0, 1), 0u);  // the "used" mark reads as 0
    EXPECT_EQ(t.CellI32(0, 2), 42);
    EXPECT_EQ(t.CellU64(1, 0), UINT64_MAX);
    EXPECT_EQ(t.CellI32(1, 1), -7);
    EXPECT_EQ(t.CellI32(1, 2), INT32_MAX);  // saturates
    EXPECT_EQ(t.CellI32(0, 0), INT32_MAX);
}

TEST(TextTable, LookupIsExactAndWhole) {
    TextTable t = MakeTable();
    t.AppendRow({"123"});
    t.AppendRow({"1234"});
    EXPECT_EQ(t.FindFirst("123"), 0u);
    EXPECT_EQ(t.FindFirst("1234"), 1u);
    EXPECT_EQ(t.FindFirst("12"), TextTable::npos);
    EXPECT_EQ(t.FindFirst("123 "), TextTable::npos);
    EXPECT_EQ(t.FindFirst(""), TextTable::npos);
}

TEST(TextTable, DuplicateKeysFirstNextLastInRowOrder) {
    TextTable t = MakeTable();
    t.AppendRow({"5", "a"});
    t.AppendRow({"7", "b"});
    t.AppendRow({"5", "c"});
    t.InsertRow(0, {"5", "d"});  // now d, a, b, c
    EXPECT_EQ(t.CountKey("5"), 3u);
    EXPECT_EQ(t.Cell(t.FindFirst("5"), 1), "d");
    EXPECT_EQ(t.Cell(t.FindLast("5"), 1), "c");
    std::vector<std::string> seen;
    for (std::size_t r = t.FindNext("5", TextTable::npos); r != TextTable::npos; r = t.FindNext("5", r)) {
        seen.push_back(t.Cell(r, 1));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"d", "a", "c"}));
    // An insert between duplicates lands in order too.
    t.InsertRow(2, {"5", "e"});  // d, a, e, b, c
    EXPECT_EQ(t.FindNext("5", 1), 2u);
    EXPECT_EQ(t.Cell(t.FindNext("5", 2), 1), "c");
    EXPECT_EQ(t.FindNext("5", 4), TextTable::npos);  // no wrap
}

TEST(TextTable, SetKeyCellMovesRowInIndex) {
    TextTable t = MakeTable();
    t.AppendRow({"10"});
    t.AppendRow({"20"});
    ASSERT_TRUE(t.SetCell(0, 0, "A"));
    EXPECT_EQ(t.FindFirst("10"), TextTable::npos);
    EXPECT_EQ(t.FindFirst("A"), 0u);
    ASSERT_TRUE(t.SetCell(1, 0, "A"));
    EXPECT_EQ(t.FindLast("A"), 1u);
    EXPECT_EQ(t.CountKey("A"), 2u);
}

TEST(TextTable, DeleteKeepsIndexRight) {
    TextTable t = MakeTable();
    for (int i = 0; i < 10; ++i) t.AppendRow({std::to_string(i % 3), std::to_string(i)});
    // keys 0 1 2 0 1 2 0 1 2 0
    ASSERT_TRUE(t.DeleteRow(0));
    EXPECT_EQ(t.Cell(t.FindFirst("0"), 1), "3");
    EXPECT_EQ(t.FindFirst("0"), 2u);
    ASSERT_TRUE(t.DeleteRow(t.FindLast("0")));
    EXPECT_EQ(t.Cell(t.FindLast("0"), 1), "6");
    EXPECT_FALSE(t.DeleteRow(100));
    EXPECT_EQ(t.RowCount(), 8u);
    t.DeleteAll();
    EXPECT_EQ(t.RowCount(), 0u);
    EXPECT_EQ(t.FindFirst("1"), TextTable::npos);
    EXPECT_EQ(t.ColumnCount(), 3u);
    t.AppendRow({"1"});
    EXPECT_EQ(t.FindFirst("1"), 0u);
}

TEST(TextTable, RemoveRowsWhereCountsEveryRowFromTheBottom) {
    TextTable t = MakeTable();
    t.AppendRow({"1", "A"});
    t.AppendRow({"2", "x"});
    t.AppendRow({"3", "A"});
    t.AppendRow({"3", "y"});
    std::vector<std::size_t> calls;
    EXPECT_EQ(t.RemoveRowsWhere(1, "A", [&](std::size_t n) { calls.push_back(n); }), 2u);
    EXPECT_EQ(calls, (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_EQ(Keys(t), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(t.FindFirst("3"), 1u);
    EXPECT_EQ(t.Cell(1, 1), "y");
    EXPECT_EQ(t.FindFirst("1"), TextTable::npos);
    EXPECT_EQ(t.RemoveRowsWhere(1, "A"), 0u);
}

TEST(TextTable, SortByColumnIsStableAndRebuildsIndex) {
    TextTable t = MakeTable();
    t.AppendRow({"a", "10"});
    t.AppendRow({"b", "9"});
    t.AppendRow({"c", "-3"});
    t.AppendRow({"d", "x"});
    t.AppendRow({"e", "9"});
    t.AppendRow({"f", "4294967296"});
    t.SortByColumn(1, SortRule::Numeric);
    EXPECT_EQ(Keys(t), (std::vector<std::string>{"c", "d", "b", "e", "a", "f"}));
    EXPECT_EQ(t.FindFirst("a"), 4u);
    EXPECT_EQ(t.FindFirst("f"), 5u);

    TextTable s = MakeTable();
    for (const char* k : {"b", "A", "D", "a"}) s.AppendRow({k});
    s.SortByColumn(0, SortRule::TextNoCase);
    EXPECT_EQ(Keys(s), (std::vector<std::string>{"A", "a", "b", "D"}));
    EXPECT_EQ(s.FindFirst("D"), 3u);
}

TEST(TextTable, LongCellsAndRewritesSurviveCompaction) {
    TextTable t = MakeTable();
    const std::string longText(300, 'x');  // longer than a one-byte length
    for (int i = 0; i < 2000; ++i) t.AppendRow({std::to_string(i), longText + std::to_string(i), ""});
    // Rewrite every row many times: the old bytes become waste, and the
    // storage is compacted on the way (several MiB of rewrites).
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 2000; ++i) {
            ASSERT_TRUE(t.SetCell(static_cast<std::size_t>(i), 2, std::string(200 + round, 'a' + round % 26)));
        }
        for (int i = 0; i < 2000; i += 7) ASSERT_TRUE(t.SetCell(static_cast<std::size_t>(i), 0, "k" + std::to_string(i)));
    }
    for (int i = 0; i < 2000; ++i) {
        const std::string key = (i % 7 == 0) ? "k" + std::to_string(i) : std::to_string(i);
        ASSERT_EQ(t.FindFirst(key), static_cast<std::size_t>(i));
        ASSERT_EQ(t.Cell(static_cast<std::size_t>(i), 1), longText + std::to_string(i));
        ASSERT_EQ(t.Cell(static_cast<std::size_t>(i), 2), std::string(211, 'a' + 11));
    }
    // Deleting most rows compacts again.
    for (int i = 0; i < 1900; ++i) ASSERT_TRUE(t.DeleteRow(0));
    EXPECT_EQ(t.Cell(0, 1), longText + "1900");
    EXPECT_EQ(t.FindFirst("1999"), 99u);
}

TEST(TextTable, SnapshotAndForEachInRowOrder) {
    TextTable t = MakeTable();
    t.AppendRow({"2", "x"});
    t.InsertRow(0, {"1", "y"});
    const auto rows = t.Snapshot();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "y", ""}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "x", ""}));
}

TEST(TextTable, ConcurrentWriterAndReaders) {
    // A scan worker writes while a dialog reads: each operation is atomic,
    // and a find-then-delete holds the lock across both steps.
    TextTable t = MakeTable();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) t.AppendRow({std::to_string(i), "x"});
        done = true;
    });
    while (!done.load()) {
        // Rows are only appended, so a row once seen keeps its position.
        const std::size_t n = t.RowCount();
        if (n > 0) {
            EXPECT_EQ(t.FindFirst(std::to_string(n - 1)), n - 1);
        }
        auto lock = t.Lock();
        const std::size_t r = t.FindFirst("0");
        if (r != TextTable::npos) {
            EXPECT_EQ(t.Cell(r, 1), "x");
        }
    }
    writer.join();
    EXPECT_EQ(t.RowCount(), 20000u);
    EXPECT_EQ(t.FindLast("19999"), 19999u);
}

// A model of the table (a plain vector) driven with random operations:
// positions, cells and every lookup must agree after each step, including
// after deletes, key rewrites, purges and sorts.
TEST(TextTable, RandomOperationsMatchAPlainVector) {
    std::mt19937 rng(12345);
    TextTable t = MakeTable();
    std::vector<std::vector<std::string>> model;
    auto key = [&] { return std::to_string(rng() % 40); };
    auto check = [&] {
        ASSERT_EQ(t.RowCount(), model.size());
        for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(t.Row(i), model[i]) << "row " << i;
        for (int k = 0; k < 41; ++k) {
            const std::string ks = std::to_string(k);
            std::size_t first = TextTable::npos, last = TextTable::npos, count = 0;
            for (std::size_t i = 0; i < model.size(); ++i) {
                if (model[i][0] == ks) {
                    if (first == TextTable::npos) first = i;
                    last = i;
                    ++count;
                }
            }
            ASSERT_EQ(t.FindFirst(ks), first) << ks;
            ASSERT_EQ(t.FindLast(ks), last) << ks;
            ASSERT_EQ(t.CountKey(ks), count) << ks;
            if (first != TextTable::npos) {
                std::size_t next = TextTable::npos;
                for (std::size_t i = first + 1; i < model.size(); ++i) {
                    if (model[i][0] == ks) {
                        next = i;
                        break;
                    }
                }
                ASSERT_EQ(t.FindNext(ks, first), next) << ks;
            }
        }
    };
    for (int step = 0; step < 3000; ++step) {
        const unsigned op = rng() % 100;
        if (op < 40 || model.empty()) {
            std::vector<std::string> row{key(), std::to_string(step), ""};
            const std::size_t pos = rng() % (model.size() + 2);
            const std::size_t at = std::min(pos, model.size());
            model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), row);
            ASSERT_EQ(t.InsertRow(pos, row), at);
        } else if (op < 70) {
            const std::size_t pos = rng() % model.size();
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(pos));
            ASSERT_TRUE(t.DeleteRow(pos));
        } else if (op < 90) {
            const std::size_t pos = rng() % model.size();
            const std::size_t col = rng() % 3;
            const std::string text = col == 0 ? key() : (rng() % 2 ? "A" : "v");
            model[pos][col] = text;
            ASSERT_TRUE(t.SetCell(pos, col, text));
        } else if (op < 95) {
            std::vector<std::vector<std::string>> kept;
            for (auto& r : model) {
                if (r[2] != "A") kept.push_back(r);
            }
            const std::size_t removed = model.size() - kept.size();
            model = kept;
            ASSERT_EQ(t.RemoveRowsWhere(2, "A"), removed);
        } else {
            std::stable_sort(model.begin(), model.end(), [](const auto& a, const auto& b) {
                return CompareNumericText(a[0], b[0]) < 0;
            });
            t.SortByColumn(0, SortRule::Numeric);
        }
        if (step % 50 == 0) check();
    }
    check();
}

TEST(TextTable, ManyRowsDeletedFromTheMiddle) {
    TextTable t = MakeTable();
    const int n = 200000;
    for (int i = 0; i < n; ++i) t.AppendRow({std::to_string(i)});
    // Delete every other row from the middle outward; each delete is O(log n).
    for (int i = 0; i < n / 2; ++i) ASSERT_TRUE(t.DeleteRow(t.RowCount() / 2));
    EXPECT_EQ(t.RowCount(), static_cast<std::size_t>(n / 2));
    EXPECT_EQ(t.FindFirst("0"), 0u);
    EXPECT_EQ(t.FindFirst(std::to_string(n - 1)), static_cast<std::size_t>(n / 2 - 1));
    EXPECT_EQ(t.FindFirst(std::to_string(n / 2)), TextTable::npos);
}

}  // namespace
}  // namespace torvane
