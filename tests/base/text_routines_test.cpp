#include "base/text_routines.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <locale>
#include <string>

#include "base/program_state.h"
#include "platform/tick_count.h"
#include "support/fixtures.h"

namespace torvane {
namespace {

TEST(FormatByteSize, EdgeValues) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 Byte"},
        {512, "512 Byte"},
        {1023, "1023 Byte"},
        {1024, "  1.00 KB"},
        {1536, "  1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "  1.00 MB"},
        {5000000000ull, "  4.66 GB"},
        {1099511627776ull, "  1.00 TB"},
        {UINT64_MAX - 100, " 16.00 EB"},
        {UINT64_MAX, " 16.00 EB"},  // no wrap in the rounding step
    };
    for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

// Switches the process to a locale with a decimal comma for one test: an
// installed German or French locale, else one built with localedef into a
// temporary folder (LOCPATH); the C++ global locale gets a comma numpunct too.
class CommaLocale {
public:
    CommaLocale() {
        saved_ = std::setlocale(LC_ALL, nullptr);
        if (const char* lp = std::getenv("LOCPATH")) savedLocPath_ = lp, hadLocPath_ = true;
        cLocaleChanged_ = TryInstalled() || TryBuilt();
        savedCpp_ = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    }
    ~CommaLocale() {
        std::locale::global(savedCpp_);
        std::setlocale(LC_ALL, saved_.c_str());
        if (hadLocPath_) setenv("LOCPATH", savedLocPath_.c_str(), 1);
        else unsetenv("LOCPATH");
    }
    bool cLocaleChanged() const { return cLocaleChanged_; }

private:
    static bool TryInstalled() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) return true;
        }
        return false;
    }
    bool TryBuilt() {
        const std::string out = (dir_.path() / "de_DE.UTF-8").string();
        const std::string cmd = "localedef -i de_DE -f UTF-8 '" + out + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) return false;
        setenv("LOCPATH", dir_.path().c_str(), 1);
        return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    struct CommaPunct : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    test::TempDir dir_;
    std::string saved_;
    std::string savedLocPath_;
    bool hadLocPath_ = false;
    std::locale savedCpp_;
    bool cLocaleChanged_ = false;
};

TEST(FormatByteSize, DecimalPointUnderAnyLocale) {
    CommaLocale comma;
    if (comma.cLocaleChanged()) {
        // The environment is really hostile: printf itself now writes a comma.
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.2f", 1.5);
        EXPECT_STREQ(buf, "1,50");
    } else {
        std::printf("note: no comma C locale available; only the C++ global locale was changed\n");
    }
    EXPECT_EQ(FormatByteSize(1536), "  1.50 KB");
    EXPECT_EQ(FormatByteSize(5000000000ull), "  4.66 GB");
    EXPECT_EQ(FormatFatDate(0x3C21), "01-JAN-2010");
    EXPECT_EQ(FormatElapsedMilliseconds("", 3725000, false), " 1 hours 2 minutes 5 seconds ");
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 2;  // March: "MRZ" in German, "MARS" in French
    tm.tm_mday = 9;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    EXPECT_EQ(FormatFatDate(0, std::mktime(&tm)), "09-MAR-2026");
}

TEST(FormatElapsedTime, Parts) {
    const std::string prefix = " [ Basic Recovery ] :: ";
    EXPECT_EQ(FormatElapsedMilliseconds(prefix, 3725000, false), prefix + " 1 hours 2 minutes 5 seconds ");
    EXPECT_EQ(FormatElapsedMilliseconds(prefix, 59999, false), prefix + "59 seconds ");
    EXPECT_EQ(FormatElapsedMilliseconds(prefix, 3600000, false), prefix + " 1 hours 0 seconds ");
    EXPECT_EQ(FormatElapsedMilliseconds(prefix, 0, true), prefix + "\n\n0 seconds ");
    EXPECT_EQ(FormatElapsedMilliseconds("", 60000, false), "1 minutes 0 seconds ");
    EXPECT_EQ(FormatElapsedMilliseconds("", UINT32_MAX, false), " 1193 hours 2 minutes 47 seconds ");
}

TEST(FormatElapsedTime, FromStartTickAcrossWrap) {
    // A start tick "in the future" of the 32-bit counter means it wrapped:
    // the unsigned difference is still the elapsed time.
    const std::uint32_t now = GetTickCount();
    const std::string text = FormatElapsedTime("p", now - 5000u, false);
    // Between 5 and a few seconds, whatever time the call takes.
    EXPECT_EQ(text.rfind("p", 0), 0u);
    EXPECT_NE(text.find(" seconds "), std::string::npos);
    EXPECT_EQ(text.find("hours"), std::string::npos);
}

TEST(FatDateTime, Words) {
    EXPECT_EQ(FormatFatDate(0x3C21), "01-JAN-2010");
    EXPECT_EQ(FormatFatDate((30u << 9) | (1u << 5) | 5u), "05-JAN-2010");
    EXPECT_EQ(FormatFatDate((30u << 9) | (0u << 5) | 5u), "05-ERR-2010");
    EXPECT_EQ(FormatFatDate((30u << 9) | (13u << 5) | 5u), "05-ERR-2010");
    EXPECT_EQ(FormatFatDate((30u << 9) | (12u << 5) | 0u), "00-DEC-2010");  // day not validated
    EXPECT_EQ(FormatFatDate(0xFFFFu), "31-ERR-2107");
    EXPECT_EQ(FormatFatDate(0x12340000u | 0x3C21u), "01-JAN-2010");  // only the low 16 bits count

    EXPECT_EQ(FormatFatTime((13u << 11) | (5u << 5) | 21u), "13:05:42");
    EXPECT_EQ(FormatFatTime(0xFFFFu), "31:63:62");  // not validated
    EXPECT_EQ(FormatFatTime(1u), "00:00:02");
}

TEST(FatDateTime, ZeroWordGivesNow) {
    // 2026-12-09 14:03:07 local time.
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 9;
    tm.tm_hour = 14;
    tm.tm_min = 3;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    const std::time_t when = std::mktime(&tm);
    EXPECT_EQ(FormatFatDate(0, when), "09-DEC-2026");
    EXPECT_EQ(FormatFatTime(0, when), "14:03:07");
    EXPECT_NE(FormatFatTime(0), "");
    EXPECT_EQ(FormatFatDate(0).size(), 11u);
}

TEST(HexTextToInt, Digits) {
    EXPECT_EQ(HexTextToInt("FF"), 255);
    EXPECT_EQ(HexTextToInt("ff"), 255);
    EXPECT_EQ(HexTextToInt("0x1A"), 26);  // x and 0 count 0
    EXPECT_EQ(HexTextToInt(""), 0);
    EXPECT_EQ(HexTextToInt("FFD8"), 0xFFD8);
    EXPECT_EQ(HexTextToInt("G1"), 1);
    EXPECT_EQ(HexTextToInt("1 "), 16);  // a blank is a zero digit
    EXPECT_EQ(HexTextToInt("7FFFFFFF"), 0x7FFFFFFF);
    EXPECT_EQ(HexTextToInt("FFFFFFFF"), -1);          // wraps instead of overflowing
    EXPECT_EQ(HexTextToInt("1FFFFFFFF"), -1);         // digits beyond 8 fall off
    EXPECT_EQ(HexTextToInt("\xC3\xA9" "1"), 1);       // a non-ASCII character is one zero digit
    EXPECT_EQ(HexTextToInt("1\xC3\xA9"), 16);
}

TEST(PadWithLeadingZeros, Widths) {
    EXPECT_EQ(PadWithLeadingZeros("7", 3), "007");
    EXPECT_EQ(PadWithLeadingZeros("1234", 3), "1234");
    EXPECT_EQ(PadWithLeadingZeros("", 2), "00");
    EXPECT_EQ(PadWithLeadingZeros("5", 0), "5");
    EXPECT_EQ(PadWithLeadingZeros("5", -2), "5");
    EXPECT_EQ(PadWithLeadingZeros("\xC3\xA9", 3), "00\xC3\xA9");  // counts characters
}

TEST(GetModeLabel, Modes) {
    EXPECT_EQ(GetModeLabel(0), "M");
    EXPECT_EQ(GetModeLabel(1), "MB");
    EXPECT_EQ(GetModeLabel(2), "MD");
    EXPECT_EQ(GetModeLabel(3), "MP");
    EXPECT_EQ(GetModeLabel(4), "MS");
    EXPECT_EQ(GetModeLabel(5), "MS");
    EXPECT_EQ(GetModeLabel(6), "M");
    EXPECT_EQ(GetModeLabel(-1), "M");
    ProgramState& state = ProgramState::Instance();
    const int saved = state.RecoveryMode.load();
    state.RecoveryMode = kModeDeep;
    EXPECT_EQ(GetModeLabel(), "MD");
    state.RecoveryMode = saved;
}

TEST(DecimalReadings, Rules) {
    EXPECT_EQ(ParseDecimalU64("A"), 0u);
    EXPECT_EQ(ParseDecimalU64(""), 0u);
    EXPECT_EQ(ParseDecimalU64("  \t42x"), 42u);
    EXPECT_EQ(ParseDecimalU64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(ParseDecimalU64("18446744073709551616"), UINT64_MAX);
    EXPECT_EQ(ParseDecimalU64("-1"), UINT64_MAX);
    EXPECT_EQ(ParseDecimalI32("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseDecimalI32("2147483648"), INT32_MAX);
    EXPECT_EQ(ParseDecimalI32("-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseDecimalI32("4294967295"), INT32_MAX);
    EXPECT_EQ(ParseDecimalI32("-12"), -12);
    EXPECT_EQ(ParseDecimalI64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseDecimalI64("9223372036854775808"), INT64_MAX);
}

TEST(TraceSinks, AcceptAnything) {
    DebugTrace("x");
    WriteTraceLine("y");
    LogTraceNote("z", "c");
    LogCaughtError("MB", "Loading drives...", "LD", "1TH");
    SUCCEED();
}

}  // namespace
}  // namespace torvane
