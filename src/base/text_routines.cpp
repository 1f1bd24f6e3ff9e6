#include "base/text_routines.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/program_state.h"
#include "platform/tick_count.h"

namespace torvane {
namespace {

constexpr const char* kMonthNames[16] = {"ERR", "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL",
                                         "AUG", "SEP", "OCT", "NOV", "DEC", "ERR", "ERR", "ERR"};

std::string TwoDigits(unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u", value);
    return buf;
}

bool IsCBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads [blanks][sign]digits. Returns the magnitude saturated at UINT64_MAX,
// whether it overflowed, and whether a minus sign was present.
struct DecimalReading {
    std::uint64_t magnitude = 0;
    bool negative = false;
    bool overflow = false;
};

DecimalReading ReadDecimal(std::string_view text) {
    DecimalReading r;
    std::size_t i = 0;
    while (i < text.size() && IsCBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        r.negative = text[i] == '-';
        ++i;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (r.overflow) continue;
        if (r.magnitude > (kMax - digit) / 10) {
            r.overflow = true;
            r.magnitude = kMax;
        } else {
            r.magnitude = r.magnitude * 10 + digit;
        }
    }
    return r;
}

bool TraceEnabled() {
    static const bool enabled = [] {
        const char* v = std::getenv("TORVANE_TRACE");
        return v != nullptr && v[0] != '\0' && v[0] != '0';
    }();
    return enabled;
}

void TraceToStderr(std::string_view what) {
    std::fprintf(stderr, "[torvane] %.*s\n", static_cast<int>(what.size()), what.data());
}

bool LocalTime(std::time_t now, std::tm& out) { return localtime_r(&now, &out) != nullptr; }

}  // namespace

std::string FormatByteSize(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " Byte";
    static constexpr char kUnits[] = "KMGTPEZY";
    std::uint64_t v = bytes;
    std::size_t unit = 0;
    while (v >= 1048576) {
        // (v + 512) / 1024 without the overflow of v + 512 near 2^64.
        v = v / 1024 + ((v % 1024) >= 512 ? 1 : 0);
        ++unit;
    }
    if (unit >= sizeof kUnits - 1) return "Unknown Size";  // cannot happen for 64-bit values
    // "%6.2f" through to_chars: the same correctly rounded digits as printf,
    // but always with a decimal point whatever LC_NUMERIC says.
    char num[32];
    const auto res = std::to_chars(num, num + sizeof num, static_cast<double>(v) / 1024.0,
                                   std::chars_format::fixed, 2);
    std::string digits(num, res.ptr);
    std::string out;
    if (digits.size() < 6) out.assign(6 - digits.size(), ' ');
    out += digits;
    out += ' ';
    out += kUnits[unit];
    out += 'B';
    return out;
}

std::string FormatElapsedMilliseconds(std::string_view prefix, std::uint32_t elapsedMs, bool blankLines) {
    const std::uint32_t hours = elapsedMs / 3600000u;
    const std::uint32_t minutes = (elapsedMs / 1000u % 3600u) / 60u;
    const std::uint32_t seconds = elapsedMs / 1000u % 60u;
    std::string out(prefix);
    if (blankLines) out += "\n\n";
    if (hours != 0) out += " " + std::to_string(hours) + " hours ";
    if (minutes != 0) out += std::to_string(minutes) + " minutes ";
    out += std::to_string(seconds) + " seconds ";
    return out;
}

std::string FormatElapsedTime(std::string_view prefix, std::uint32_t startTick, bool blankLines) {
    return FormatElapsedMilliseconds(prefix, GetTickCount() - startTick, blankLines);
}

std::string FormatFatDate(std::uint32_t fatDate) { return FormatFatDate(fatDate, std::time(nullptr)); }

std::string FormatFatDate(std::uint32_t fatDate, std::time_t now) {
    const std::uint32_t w = fatDate & 0xFFFFu;
    if (w != 0) {
        const unsigned day = w & 31u;
        const unsigned month = (w >> 5) & 15u;
        const unsigned year = (w >> 9) + 1980u;
        return TwoDigits(day) + "-" + kMonthNames[month] + "-" + std::to_string(year);
    }
    std::tm tm{};
    if (!LocalTime(now, tm)) return "00-ERR-1980";
    const int mon = (tm.tm_mon >= 0 && tm.tm_mon < 12) ? tm.tm_mon + 1 : 0;
    return TwoDigits(static_cast<unsigned>(tm.tm_mday)) + "-" + kMonthNames[mon] + "-" +
           std::to_string(tm.tm_year + 1900);
}

std::string FormatFatTime(std::uint32_t fatTime) { return FormatFatTime(fatTime, std::time(nullptr)); }

std::string FormatFatTime(std::uint32_t fatTime, std::time_t now) {
    const std::uint32_t w = fatTime & 0xFFFFu;
    if (w != 0) {
        return TwoDigits((w >> 11) & 31u) + ":" + TwoDigits((w >> 5) & 63u) + ":" + TwoDigits((w & 31u) * 2u);
    }
    std::tm tm{};
    if (!LocalTime(now, tm)) return "00:00:00";
    return TwoDigits(static_cast<unsigned>(tm.tm_hour)) + ":" + TwoDigits(static_cast<unsigned>(tm.tm_min)) + ":" +
           TwoDigits(static_cast<unsigned>(tm.tm_sec));
}

int HexTextToInt(std::string_view hexText) {
    // Walk the characters from the last to the first; a multi-byte UTF-8
    // character is one (non-digit) character.
    std::uint32_t sum = 0;
    std::uint32_t weight = 1;  // 16^position modulo 2^32
    std::size_t i = hexText.size();
    while (i > 0) {
        std::size_t start = i - 1;
        while (start > 0 && (static_cast<unsigned char>(hexText[start]) & 0xC0) == 0x80) --start;
        const char c = hexText[start];
        unsigned digit = 0;
        if (c >= '1' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        sum += digit * weight;
        weight *= 16u;
        i = start;
    }
    return static_cast<int>(sum);
}

std::size_t Utf8CharCount(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::string PadWithLeadingZeros(std::string_view text, int width) {
    const std::size_t have = Utf8CharCount(text);
    std::string out;
    if (width > 0 && have < static_cast<std::size_t>(width)) out.assign(static_cast<std::size_t>(width) - have, '0');
    out += text;
    return out;
}

std::string GetModeLabel(int recoveryMode) {
    switch (recoveryMode) {
        case 1: return "MB";
        case 2: return "MD";
        case 3: return "MP";
        case 4:
        case 5: return "MS";
        default: return "M";
    }
}

std::string GetModeLabel() { return GetModeLabel(ProgramState::Instance().RecoveryMode.load()); }

std::uint64_t ParseDecimalU64(std::string_view text) {
    const DecimalReading r = ReadDecimal(text);
    if (r.overflow) return std::numeric_limits<std::uint64_t>::max();
    return r.negative ? (0 - r.magnitude) : r.magnitude;
}

std::int64_t ParseDecimalI64(std::string_view text) {
    const DecimalReading r = ReadDecimal(text);
    constexpr std::uint64_t kMaxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (r.negative) {
        if (r.magnitude > kMaxPos) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(r.magnitude);
    }
    if (r.magnitude > kMaxPos) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(r.magnitude);
}

std::int32_t ParseDecimalI32(std::string_view text) {
    const std::int64_t v = ParseDecimalI64(text);
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

void DebugTrace(std::string_view text) {
    if (TraceEnabled()) TraceToStderr(text);
}

void WriteTraceLine(std::string_view text) { DebugTrace(text); }

void LogTraceNote(std::string_view text, std::string_view code) {
    if (TraceEnabled()) TraceToStderr(std::string(text) + " [" + std::string(code) + "]");
}

void LogCaughtError(std::string_view modeLabel, std::string_view stepText, std::string_view code1,
                    std::string_view code2) {
    if (TraceEnabled()) {
        TraceToStderr("caught error " + std::string(modeLabel) + " " + std::string(stepText) + " [" +
                      std::string(code1) + "/" + std::string(code2) + "]");
    }
}

}  // namespace torvane
