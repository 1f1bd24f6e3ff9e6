#include "base/sort_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace torvane {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(SortRules, NumericCases) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"9", "10", -1},
        {"-3", "x", -1},           // no leading digits reads as 0
        {"x", "9", -1},
        {"", "0", 0},
        {"A", "0", 0},             // the "used" mark
        {"  12", "12abc", 0},      // blanks before, text after the digits
        {"+5", "5", 0},
        {"-0", "0", 0},
        {"-5", "-3", -1},
        {"4294967295", "4294967294", 1},
        {"4294967296", "4294967295", 1},   // above 32 bits still ordered
        {"5000000000", "10", 1},
        {"18446744073709551615", "9223372036854775808", 1},  // full unsigned 64-bit range
        {"99999999999999999999999", "18446744073709551615", 0},  // saturates
        {"-18446744073709551615", "-9223372036854775808", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareNumericText(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(Sign(CompareNumericText(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(SortRules, NumericSortOfSizesAbove4GiB) {
    std::vector<std::string> cells{"8589934592", "512", "4294967296", "4294967295", "1", "0"};
    std::stable_sort(cells.begin(), cells.end(),
                     [](const std::string& a, const std::string& b) { return CompareNumericText(a, b) < 0; });
    EXPECT_EQ(cells, (std::vector<std::string>{"0", "1", "512", "4294967295", "4294967296", "8589934592"}));
}

TEST(SortRules, TextIgnoresCase) {
    EXPECT_LT(CompareTextNoCase("A", "b"), 0);
    EXPECT_LT(CompareTextNoCase("b", "D"), 0);
    EXPECT_EQ(CompareTextNoCase("Hello", "hELLO"), 0);
    EXPECT_LT(CompareTextNoCase("abc", "abcd"), 0);
    EXPECT_GT(CompareTextNoCase("abcd", "ABC"), 0);
    // Folding goes to lower case: '_' (0x5F) sorts before letters.
    EXPECT_LT(CompareTextNoCase("_x", "Ax"), 0);
    // Non-ASCII letters fold too.
    EXPECT_EQ(CompareTextNoCase("\xC3\x84pfel", "\xC3\xA4PFEL"), 0);              // Ä / ä
    EXPECT_EQ(CompareTextNoCase("\xD0\x9C\xD0\x98\xD0\xA0", "\xD0\xBC\xD0\xB8\xD1\x80"), 0);  // МИР / мир
    EXPECT_LT(CompareTextNoCase("z", "\xC3\xA4"), 0);  // by code point after folding
    // Malformed UTF-8 does not break the order.
    EXPECT_NE(CompareTextNoCase("\xC3", "a"), 0);
    EXPECT_EQ(CompareByRule(SortRule::TextNoCase, "X", "x"), 0);
    EXPECT_LT(CompareByRule(SortRule::Numeric, "2", "10"), 0);
}

TEST(SortRules, TextSortOfSample) {
    std::vector<std::string> cells{"b", "A", "D"};
    std::stable_sort(cells.begin(), cells.end(),
                     [](const std::string& a, const std::string& b) { return CompareTextNoCase(a, b) < 0; });
    EXPECT_EQ(cells, (std::vector<std::string>{"A", "b", "D"}));
}

}  // namespace
}  // namespace torvane
