// The archive elements of the scan log: the byte forms the class library
// writes and reads, and what a hostile length or line does to the reader.
#include "results/scan_log_archive.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace torvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class F>
Bytes Written(F write)
{
    Bytes out;
    ScanLogArchiveWriter w([&out](const std::uint8_t* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
        return 0;
    });
    write(w);
    w.Flush();
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Utf16Units(std::size_t n, char16_t unit)
{
    Bytes out;
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

TEST(ScanLogArchive, NumbersAreLittleEndian)
{
    EXPECT_EQ(Written([](auto& w) {
                  w.U16(0x0201);
                  w.U32(0x06050403);
                  w.U64(0x0E0D0C0B0A090807ull);
              }),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

TEST(ScanLogArchive, TextForms)
{
    struct Case {
        std::size_t units;
        Bytes prefix;
    } cases[] = {
        {0, {0xFF, 0xFE, 0xFF, 0x00}},
        {3, {0xFF, 0xFE, 0xFF, 0x03}},
        {254, {0xFF, 0xFE, 0xFF, 0xFE}},
        {255, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}},
        {0xFFFD, {0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        const std::string text(c.units, 'x');
        const Bytes bytes = Written([&](auto& w) { w.Text(text); });
        ASSERT_EQ(bytes.size(), c.prefix.size() + 2 * c.units) << c.units;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(c.prefix.size())), c.prefix) << c.units;
        EXPECT_EQ(Bytes(bytes.begin() + static_cast<long>(c.prefix.size()), bytes.end()), Utf16Units(c.units, u'x'));

        ScanLogArchiveReader r(bytes);
        EXPECT_EQ(r.Text(), text) << c.units;
        EXPECT_TRUE(r.AtEnd());
    }
    EXPECT_EQ(Written([](auto& w) { w.Text("PHY"); }),
              (Bytes{0xFF, 0xFE, 0xFF, 0x03, 0x50, 0x00, 0x48, 0x00, 0x59, 0x00}));
}

TEST(ScanLogArchive, TextIsUtf16OnDiskAndUtf8InTheProgram)
{
    const Bytes bytes = Written([](auto& w) { w.Text("Ü€😀"); });
    EXPECT_EQ(bytes, (Bytes{0xFF, 0xFE, 0xFF, 0x04, 0xDC, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}));
    ScanLogArchiveReader r(bytes);
    EXPECT_EQ(r.Text(), "Ü€😀");

    // Half a surrogate pair reads as U+FFFD, and the text goes on.
    const Bytes broken{0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x41, 0x00};
    ScanLogArchiveReader r2(broken);
    EXPECT_EQ(r2.Text(), "\xEF\xBF\xBD" "A");
}

TEST(ScanLogArchive, SingleByteTextsAreWindows1252)
{
    struct Case {
        Bytes bytes;
        std::string text;
    } cases[] = {
        {{0x00}, ""},
        {{0x05, 'M', 'u', 's', 0xE9, 'e'}, "Musée"},
        {{0x02, 0x80, 'x'}, "€x"},
        // FF and a u16 length without the marker: still the single-byte form.
        {Concat({{0xFF, 0x03, 0x00}, {'a', 'b', 'c'}}), "abc"},
    };
    for (const Case& c : cases) {
        ScanLogArchiveReader r(c.bytes);
        EXPECT_EQ(r.Text(), c.text);
        EXPECT_TRUE(r.AtEnd());
    }
    // A long single-byte text: FF, u16 FFFF, u32 length.
    Bytes longText = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00};
    longText.resize(longText.size() + 0x10000, 'q');
    ScanLogArchiveReader r(longText);
    EXPECT_EQ(r.Text(), std::string(0x10000, 'q'));
}

TEST(ScanLogArchive, LineEndings)
{
    struct Case {
        std::u16string units;
        std::vector<std::u16string> lines;
    } cases[] = {
        {u"abc\r\n", {u"abc"}},
        {u"abc\ndef\r\n", {u"abc", u"def"}},
        // A CR ends the line and the unit after it is kept at its end.
        {u"ab\rcd\r\n", {u"abc", u"d"}},
        {u"\r\n\r\n", {u"", u""}},
        // Cut by the end of the input: as far as it goes.
        {u"partial", {u"partial"}},
        {u"x\r", {u"x"}},
    };
    for (const Case& c : cases) {
        Bytes bytes;
        for (const char16_t u : c.units) {
            bytes.push_back(static_cast<std::uint8_t>(u));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        ScanLogArchiveReader r(bytes);
        for (const std::u16string& expected : c.lines) {
            const auto line = r.Line();
            ASSERT_TRUE(line.has_value());
            EXPECT_EQ(*line, expected);
        }
        EXPECT_FALSE(r.Line().has_value());
    }
    EXPECT_EQ(Written([](auto& w) { w.Line(u"KZUWIN7SR2015/:*?\"<>|"); }),
              (Bytes{0x4b, 0, 0x5a, 0, 0x55, 0, 0x57, 0, 0x49, 0, 0x4e, 0, 0x37, 0, 0x53, 0,
                                              0x52, 0, 0x32, 0, 0x30, 0, 0x31, 0, 0x35, 0, 0x2f, 0, 0x3a, 0, 0x2a, 0,
                                              0x3f, 0, 0x22, 0, 0x3c, 0, 0x3e, 0, 0x7c, 0, 0x0d, 0, 0x0a, 0}));

    // A lone last byte is no unit: the line ends before it, then the input.
    const Bytes odd{'a', 0, 'b'};
    ScanLogArchiveReader r(odd);
    EXPECT_EQ(r.Line(), std::u16string(u"a"));
    EXPECT_FALSE(r.Line().has_value());
    EXPECT_TRUE(r.AtEnd());
}

// Reads that must fail cleanly, with the offset of the element.
TEST(ScanLogArchive, HostileLengthsFail)
{
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"text above 0x7FFFFFFF", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 'a', 0}},
        {"64-bit length", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"longer than the file", {0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x01, 'a', 0}},
        {"beyond the sane bound", Concat({{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x10, 0x00},
                                          Bytes(2 * ((1u << 20) + 1), 'a')})},
        {"cut length", {0xFF, 0xFE, 0xFF, 0xFF, 0x10}},
        {"odd unicode data", {0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b'}},
        {"empty", {}},
    };
    for (const Case& c : cases) {
        Bytes bytes = {0x11};
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        ScanLogArchiveReader r(bytes);
        r.U8();
        try {
            r.Text();
            ADD_FAILURE() << c.what << ": read";
        } catch (const ScanLogReadError& e) {
            EXPECT_EQ(e.offset(), 1u) << c.what;
        }
    }

    // A line without an end is refused once it passes the bound.
    const Bytes endless = Utf16Units((1u << 20) + 10, u'a');
    ScanLogArchiveReader r(endless);
    EXPECT_THROW(r.Line(), ScanLogReadError);

    const Bytes three{1, 2, 3};
    ScanLogArchiveReader n(three);
    EXPECT_THROW(n.U32(), ScanLogReadError);
    EXPECT_EQ(n.U16(), 0x0201);  // a failed read takes nothing
}

TEST(ScanLogArchive, StreamReadsLikeMemory)
{
    Bytes bytes = Written([](auto& w) {
        for (int i = 0; i < 3000; ++i) {
            w.Text(std::string(static_cast<std::size_t>(i % 300), 'n'));
            w.U64(static_cast<std::uint64_t>(i));
            w.Line(u"line");
        }
    });
    ASSERT_GT(bytes.size(), 3u * 64 * 1024);  // crosses several buffer refills
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    ScanLogArchiveReader s(in, bytes.size());
    ScanLogArchiveReader m(bytes);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(s.Text(), m.Text());
        ASSERT_EQ(s.U64(), m.U64());
        ASSERT_EQ(s.Line(), m.Line());
    }
    EXPECT_TRUE(s.AtEnd());

    // A stream shorter than announced ends where it ends.
    std::istringstream cut(std::string(bytes.begin(), bytes.begin() + 10));
    ScanLogArchiveReader c(cut, bytes.size());
    c.U64();
    EXPECT_THROW(c.U64(), ScanLogReadError);
    EXPECT_EQ(c.Remaining(), 2u);
}

TEST(ScanLogArchive, WriterStopsAtTheFirstSinkError)
{
    int calls = 0;
    ScanLogArchiveWriter w([&calls](const std::uint8_t*, std::size_t) {
        ++calls;
        return 28;  // ENOSPC
    });
    for (int i = 0; i < 100000; ++i) w.U64(1);
    EXPECT_EQ(w.Flush(), 28);
    EXPECT_EQ(w.Error(), 28);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace torvane
