// The ordering rules of list sorting. A list (or working table) is sorted by
// one column, ascending, either as numbers or as text:
//
// - Numeric: each cell is read as a signed decimal number (leading blanks,
//   an optional sign, digits; a cell without leading digits reads as 0) and
//   the values compare as integers. The reading is exact for every 64-bit
//   value, so a size or sector count above 4 GiB sorts after smaller ones and
//   the sentinel 4294967295 sorts after every real cluster number.
// - Text: a case-insensitive comparison: letters are folded to lower case
//   (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals), then the
//   texts compare character by character.
#pragma once

#include <string_view>

namespace torvane {

enum class SortRule {
    Numeric,     // cells read as signed decimal numbers
    TextNoCase,  // case-insensitive text
};

// Each returns a negative value, 0 or a positive value as `a` sorts before,
// equal to or after `b`.
int CompareNumericText(std::string_view a, std::string_view b);
int CompareTextNoCase(std::string_view a, std::string_view b);
int CompareByRule(SortRule rule, std::string_view a, std::string_view b);

// Simple one-to-one lower-case fold of one code point (see above).
char32_t FoldCaseSimple(char32_t cp);

}  // namespace torvane
