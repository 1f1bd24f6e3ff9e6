#include "base/sort_rules.h"

#include <cstdint>

namespace torvane {
namespace {

bool IsCBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A decimal reading kept as sign and magnitude, so every value from
// -(2^64 - 1) to 2^64 - 1 is held exactly (larger magnitudes saturate).
struct NumericKey {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

NumericKey ReadNumericKey(std::string_view text) {
    NumericKey key;
    std::size_t i = 0;
    while (i < text.size() && IsCBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        key.negative = text[i] == '-';
        ++i;
    }
    constexpr std::uint64_t kMax = ~std::uint64_t{0};
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (key.magnitude > (kMax - digit) / 10) {
            key.magnitude = kMax;
        } else {
            key.magnitude = key.magnitude * 10 + digit;
        }
    }
    if (key.magnitude == 0) key.negative = false;  // "-0" equals "0"
    return key;
}

// Next code point of UTF-8 text at `i`; a malformed byte is taken as itself
// (Latin-1 reading), so the comparison is total and consistent.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t need = 0;
    char32_t cp = b0;
    if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { need = 2; cp = b0 & 0x0F; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { need = 3; cp = b0 & 0x07; }
    if (need > 0 && need < s.size() - i) {  // all continuation bytes present
        bool ok = true;
        for (std::size_t k = 1; k <= need; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (ok) {
            i += need + 1;
            return cp;
        }
    }
    ++i;
    return b0;
}

}  // namespace

char32_t FoldCaseSimple(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;          // Latin-1 capitals
    if (cp >= 0x100 && cp <= 0x137) return cp | 1;                       // Latin Extended-A pairs
    if (cp >= 0x139 && cp <= 0x148) return (cp & 1) ? cp + 1 : cp;
    if (cp >= 0x14A && cp <= 0x177) return cp | 1;
    if (cp == 0x178) return 0xFF;
    if (cp >= 0x179 && cp <= 0x17E) return (cp & 1) ? cp + 1 : cp;
    if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 32;       // Greek capitals
    if (cp >= 0x410 && cp <= 0x42F) return cp + 32;                      // Cyrillic capitals
    if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
    return cp;
}

int CompareNumericText(std::string_view a, std::string_view b) {
    const NumericKey ka = ReadNumericKey(a);
    const NumericKey kb = ReadNumericKey(b);
    if (ka.negative != kb.negative) return ka.negative ? -1 : 1;
    if (ka.magnitude == kb.magnitude) return 0;
    const bool aSmallerMagnitude = ka.magnitude < kb.magnitude;
    // Among negative numbers the larger magnitude is the smaller value.
    return (aSmallerMagnitude != ka.negative) ? -1 : 1;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ca = FoldCaseSimple(NextCodePoint(a, i));
        const char32_t cb = FoldCaseSimple(NextCodePoint(b, j));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

int CompareByRule(SortRule rule, std::string_view a, std::string_view b) {
    return rule == SortRule::Numeric ? CompareNumericText(a, b) : CompareTextNoCase(a, b);
}

}  // namespace torvane
