#include "fsrecovery/store/name_rules.h"

#include <atomic>
#include <cstdio>
#include <ctime>

namespace torvane {
namespace {

std::atomic<int> g_pinnedYear{0};
std::atomic<std::time_t> g_pinnedScanClock{0};

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decodes one UTF-8 code point at text[i]; advances i. Invalid bytes give
// U+FFFD and advance by one.
char32_t NextCodePoint(std::string_view text, std::size_t& i)
{
    auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = (b0 >= 0xF0 && b0 < 0xF8) ? 4 : (b0 >= 0xE0) ? 3 : (b0 >= 0xC0) ? 2 : 0;
    if (len == 0 || i + len > text.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = b0 & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += len;
    return cp;
}

}  // namespace

std::string_view FindNameExtension(std::string_view name)
{
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '\\' || c == ' ')
            dot = std::string_view::npos;
        else if (c == '.')
            dot = i;
    }
    if (dot == std::string_view::npos)
        return {};
    return name.substr(dot);
}

std::string TrimWhite(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && IsWhite(text[b]))
        ++b;
    while (e > b && IsWhite(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

namespace {

// The characters no name may hold: controls U+0001..U+001F and  " \ / ? * < > | :
bool HoldsForbiddenCharacter(std::string_view name, bool latin1Too)
{
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = NextCodePoint(name, i);
        if (cp >= 0x01 && cp <= 0x1F)
            return true;
        switch (cp) {
        case '"': case '\\': case '/': case '?': case '*': case '<': case '>': case '|': case ':':
            return true;
        default:
            break;
        }
        if (latin1Too && cp >= 0x80 && cp <= 0xFF)
            return true;
    }
    return false;
}

// The extension after one leading '.', trimmed: true when it is empty or
// ASCII letters and digits only; `allDigits` tells whether it is digits alone.
bool ExtensionIsAlphanumeric(std::string_view name, bool& allDigits)
{
    allDigits = false;
    std::string_view ext = FindNameExtension(name);
    if (!ext.empty() && ext.front() == '.')
        ext.remove_prefix(1);
    std::string trimmed = TrimWhite(ext);
    if (trimmed.empty())
        return true;
    allDigits = true;
    for (char c : trimmed) {
        bool digit = c >= '0' && c <= '9';
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!digit && !letter)
            return false;
        if (!digit)
            allDigits = false;
    }
    return true;
}

}  // namespace

bool IsPlausibleFileName(std::string_view name)
{
    if (HoldsForbiddenCharacter(name, true))
        return false;
    bool allDigits = false;
    return ExtensionIsAlphanumeric(name, allDigits) && !allDigits;
}

bool IsPlausibleShortName(std::string_view name, bool strict)
{
    if (HoldsForbiddenCharacter(name, strict))
        return false;
    bool allDigits = false;
    return !strict || ExtensionIsAlphanumeric(name, allDigits);
}

int CurrentLocalYear()
{
    int pinned = g_pinnedYear.load(std::memory_order_relaxed);
    if (pinned != 0)
        return pinned;
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_year + 1900;
}

void SetLocalYearForTesting(int year)
{
    g_pinnedYear.store(year, std::memory_order_relaxed);
}

bool IsValidFatDateTime(std::uint16_t date, std::uint16_t time)
{
    if (date != 0) {
        unsigned month = (date >> 5) & 15;
        unsigned day = date & 31;
        if (month < 1 || month > 12 || day < 1)
            return false;
    }
    if (time != 0) {
        unsigned hours = time >> 11;
        unsigned minutes = (time >> 5) & 63;
        unsigned seconds = 2u * (time & 31);
        if (hours > 24 || minutes > 60 || seconds > 60)
            return false;
    }
    return true;
}

std::string FormatBinaryDigits(int value)
{
    int width = 0;
    if (value >= 1 && value <= 15)
        width = 4;
    else if (value >= 16 && value <= 255)
        width = 8;
    else
        return {};
    std::string out(static_cast<std::size_t>(width), '0');
    for (int k = 0; k < width; ++k)
        if (value & (1 << k))
            out[static_cast<std::size_t>(width - 1 - k)] = '1';
    return out;
}

std::string PadWithLeadingZeros(std::string digits, std::size_t width)
{
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

std::string AttributeBitText(std::uint8_t attribute)
{
    return PadWithLeadingZeros(FormatBinaryDigits(attribute), 8);
}

int HasDirectoryBitText(std::string_view bits)
{
    return bits.size() > 3 && bits[3] == '1' ? 1 : 0;
}

int IsUsableAttributeText(std::string_view bits)
{
    if ((bits.size() > 0 && bits[0] == '1') || (bits.size() > 1 && bits[1] == '1'))
        return 0;
    return bits.find('1') != std::string_view::npos ? 1 : 0;
}

std::uint32_t ParseBinaryDigits(std::string_view digits)
{
    std::uint32_t value = 0;
    std::size_t n = digits.size();
    for (std::size_t k = 0; k < n && k < 32; ++k)
        if (digits[n - 1 - k] == '1')
            value |= 1u << k;
    return value;
}

std::string FormatHexByte(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", value);
    return buf;
}

std::uint32_t NextHighWordCandidate(std::uint32_t a, std::uint64_t b, std::uint64_t candidate)
{
    auto low = static_cast<std::uint32_t>(candidate);
    return a < b ? low + 0x10000u : low;
}

std::time_t CurrentScanClock()
{
    const std::time_t pinned = g_pinnedScanClock.load(std::memory_order_relaxed);
    return pinned != 0 ? pinned : std::time(nullptr);
}

void SetScanClockForTesting(std::time_t now)
{
    g_pinnedScanClock.store(now, std::memory_order_relaxed);
}

std::uint16_t CurrentFatTimeWord()
{
    std::time_t now = CurrentScanClock();
    std::tm tm{};
    localtime_r(&now, &tm);
    return static_cast<std::uint16_t>(tm.tm_hour * 2048 + tm.tm_min * 32 + tm.tm_sec / 2);
}

}  // namespace torvane
