#include "base/status_routines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

TEST(ProgressMapper, PercentModeStartsAtTheThreshold)
{
    ProgressMapper below;
    below.SetRange(0, 0x7FFFFFFE, 1);
    EXPECT_FALSE(below.PercentMode());
    EXPECT_EQ(below.Maximum(), 0x7FFFFFFE);

    ProgressMapper at;
    at.SetRange(0, 0x7FFFFFFF, 5);
    EXPECT_TRUE(at.PercentMode());
    EXPECT_EQ(at.Maximum(), 100);
    EXPECT_EQ(at.Step(), 1);
}

TEST(ProgressMapper, PercentModeNeverMovesBackAndClamps)
{
    ProgressMapper m;
    const std::uint64_t low = 1000, high = low + 4'000'000'000ull;
    m.SetRange(low, high, 1);
    EXPECT_EQ(m.Update(low + 2'000'000'000ull, 1, true), 50);
    EXPECT_EQ(m.Update(low + 1'000'000'000ull, 1, true), 50);  // out of order: stays
    EXPECT_EQ(m.Update(low - 10, 1, true), 50);                   // below low: no wrap to a huge value
    EXPECT_EQ(m.Update(high + 4'000'000'000ull, 1, true), 100);  // past high: 100, not more
    EXPECT_EQ(m.Update(UINT64_MAX, 1, true), 100);                // no overflow in the product
    // A new range starts again at 0 (each bar keeps its own state).
    m.SetRange(0, 10'000'000'000ull, 1);
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(m.Update(1'000'000'000ull, 1, true), 10);
    EXPECT_EQ(m.Update(1'999'999'999ull, 1, true), 19);  // truncated, like the integer division
}

TEST(ProgressMapper, PlainModeByValueAndForwardOnly)
{
    ProgressMapper m;
    m.SetRange(0, 1000, 1);
    EXPECT_EQ(m.Update(400, 0, true), 400);
    EXPECT_EQ(m.Update(300, 0, true), 300);
    EXPECT_EQ(m.Update(200, 0, true, /*forwardOnly=*/true), 300);
    EXPECT_EQ(m.Update(700, 0, true, true), 700);
    EXPECT_EQ(m.Update(5000, 0, true), 1000);
}

TEST(ProgressMapper, StepModeFillsAndNeverWraps)
{
    ProgressMapper m;
    m.SetRange(0, 100, 2);
    for (int tick = 1; tick <= 49; ++tick) m.Update(tick, 1, false);
    EXPECT_EQ(m.Value(), 98);
    EXPECT_EQ(m.Update(50, 1, false), 100);
    EXPECT_EQ(m.Update(51, 1, false), 100);
    EXPECT_EQ(m.Update(100, 1, false), 100);  // position + increment passes high
}

TEST(ProgressMapper, StepLargerThanTheRangeFillsAtOnce)
{
    ProgressMapper m;
    EXPECT_EQ(m.SetRange(0, 10, 20), 10);
    ProgressMapper n;
    EXPECT_EQ(n.SetRange(100, 105, 8), 5);  // the step exceeds the span
    ProgressMapper empty;
    EXPECT_EQ(empty.SetRange(50, 50, 1), 0);
}

TEST(FoundCountStatus, PlainAndWithSelectedFolder)
{
    EXPECT_EQ(FormatFoundCountStatus(12, 3), "12 Files, 3 Folders");
    EXPECT_EQ(FormatFoundCountStatus(0, 0, std::string_view("DCIM")), "( DCIM )    0 Files, 0 Folders");
    const std::string sixty(60, 'a');
    EXPECT_EQ(FormatFoundCountStatus(1, 2, std::string_view(sixty)), "( " + std::string(50, 'a') + "... )    1 Files, 2 Folders");
    const std::string fifty(50, 'b');  // 50 or more characters are cut
    EXPECT_EQ(FormatFoundCountStatus(1, 2, std::string_view(fifty)), "( " + fifty + "... )    1 Files, 2 Folders");
    // Characters, not bytes: 55 two-byte letters keep 50 whole letters.
    std::string accented;
    for (int i = 0; i < 55; ++i) accented += "\xC3\xA9";
    const std::string cut = FormatFoundCountStatus(0, 0, std::string_view(accented));
    EXPECT_EQ(cut.substr(2, 100), accented.substr(0, 100));
    EXPECT_EQ(cut.substr(102, 3), "...");
}

TEST(FileSystemCombo, IndexByName)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"FAT16", 0}, {"FAT", 0}, {"FAT32", 1}, {"NTFS", 2}, {"exFAT", 3}, {"FAT12", 4}, {"", 4}, {"Recognised FAT32", 1},
    };
    for (const auto& [name, index] : cases) EXPECT_EQ(FileSystemComboIndex(name), index) << name;
}

TEST(EndOfSearchText, EightCells)
{
    EXPECT_EQ(EndOfSearchText(0, 1, false), "Recovery is not possible in Basic Search Mode, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(0, 2, false), "Recovery is not possible in Deep Search Mode, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(0, 3, false), "Searching of files in specified disk sectors is completed.");
    EXPECT_EQ(EndOfSearchText(1, 1, false), "Recovery is completed in Basic Search Mode, If your data is not recovered, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(1, 1, true), "Recovery is stopped in Basic Search Mode, If your data is not recovered, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(1, 2, false), "Recovery is completed in Deep Search Mode, If your data is not recovered, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(1, 2, true), "Recovery is stopped in Deep Search Mode, If your data is not recovered, use other search modes to recover your data.");
    EXPECT_EQ(EndOfSearchText(1, 5, false), "Searching of files in specified disk sectors is stopped.");
}

}  // namespace
}  // namespace torvane
