#include "base/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

std::vector<std::uint8_t> Le(std::initializer_list<std::uint16_t> units) {
    std::vector<std::uint8_t> bytes;
    for (auto u : units) {
        bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return bytes;
}

TEST(TextEncoding, Utf16LeDecoding) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string expected;
    };
    const Case cases[] = {
        {Le({'A', 'b', '1'}), "Ab1"},
        {Le({0x00E9}), "\xC3\xA9"},                          // é
        {Le({0x20AC}), "\xE2\x82\xAC"},                      // €
        {Le({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},          // U+1F600, a surrogate pair
        {Le({0xD83D}), "\xEF\xBF\xBD"},                      // lone high surrogate at the end
        {Le({0xD83D, 'x'}), "\xEF\xBF\xBDx"},                // high surrogate followed by a non-low
        {Le({0xDE00, 'x'}), "\xEF\xBF\xBDx"},                // stray low surrogate
        {Le({0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
        {Le({0xFFFF}), "\xEF\xBF\xBF"},
        {{}, ""},
    };
    std::string reused = "an earlier, longer text";
    for (const Case& c : cases) {
        EXPECT_EQ(Utf16LeToUtf8(c.bytes.data(), c.bytes.size() / 2), c.expected);
        // The same from code units into a string that held something before,
        // and behind an ASCII prefix.
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i + 1 < c.bytes.size(); i += 2)
            units.push_back(static_cast<std::uint16_t>(c.bytes[i] | (c.bytes[i + 1] << 8)));
        Utf16UnitsToUtf8(units.data(), units.size(), reused);
        EXPECT_EQ(reused, c.expected);
        units.insert(units.begin(), {'I', 'M', 'G'});
        Utf16UnitsToUtf8(units.data(), units.size(), reused);
        EXPECT_EQ(reused, "IMG" + c.expected);
    }
    EXPECT_EQ(Utf16LeToUtf8(nullptr, 0), "");
    EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\0')), std::string(1, '\0'));  // NUL kept as a character
}

TEST(TextEncoding, Utf8ToUtf16) {
    EXPECT_EQ(Utf8ToUtf16("Ab"), u"Ab");
    EXPECT_EQ(Utf8ToUtf16("\xC3\xA9\xE2\x82\xAC"), u"\u00E9\u20AC");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    const std::u16string r(1, u'\uFFFD');
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), r + r);              // overlong: each byte invalid
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), r + r + r);      // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), r);                  // truncated: one replacement
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82x"), r + u"x");          // resumes at the byte that broke it
    EXPECT_EQ(Utf8ToUtf16("\x80x"), r + u"x");              // stray continuation byte
    EXPECT_EQ(Utf8ToUtf16("\xFF"), r);
    // Round trip of valid text.
    const std::string text = "Fotos \xC3\xBC\xC3\x9F \xE6\x97\xA5 \xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
}

TEST(TextEncoding, Windows1252) {
    EXPECT_EQ(Windows1252ToUtf8("abc"), "abc");
    EXPECT_EQ(Windows1252ToUtf8("\x80"), "\xE2\x82\xAC");       // euro sign
    EXPECT_EQ(Windows1252ToUtf8("\x9F"), "\xC5\xB8");           // Ÿ
    EXPECT_EQ(Windows1252ToUtf8("\xE9"), "\xC3\xA9");           // é
    EXPECT_EQ(Windows1252ToUtf8("\xA0"), "\xC2\xA0");
    for (const char* undefined : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"}) {
        EXPECT_EQ(Windows1252ToUtf8(undefined), "\xEF\xBF\xBD");
    }
    EXPECT_EQ(Windows1252ToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextEncoding, AsciiCase) {
    EXPECT_EQ(AsciiUpper("abc.Jpg \xC3\xA9"), "ABC.JPG \xC3\xA9");  // non-ASCII untouched
    EXPECT_EQ(AsciiLower("ABC.Jpg \xC3\x89"), "abc.jpg \xC3\x89");
}

}  // namespace
}  // namespace torvane
