// The bounds-checked byte view every parser reads through: loads inside the
// view are little-endian, anything that reaches outside reads as 0, and
// offsets near the top of the 64-bit range never wrap into the view.
#include "base/byte_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace torvane {
namespace {

constexpr std::array<std::uint8_t, 10> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xFF};

TEST(ByteView, LittleEndianLoadsInside)
{
    const ByteView v(kBytes.data(), kBytes.size());
    EXPECT_EQ(v.U8(0), 0x01);
    EXPECT_EQ(v.U8(9), 0xFF);
    EXPECT_EQ(v.U16(0), 0x0201);
    EXPECT_EQ(v.U16(8), 0xFF09);
    EXPECT_EQ(v.U32(1), 0x05040302u);
    EXPECT_EQ(v.U64(0), 0x0807060504030201ull);
    EXPECT_EQ(v.U64(2), 0xFF09080706050403ull);
}

TEST(ByteView, LoadsThatReachOutsideReadZero)
{
    const ByteView v(kBytes.data(), kBytes.size());
    constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t offset;
        unsigned width;
    };
    const Case cases[] = {{10, 1}, {9, 2}, {7, 4}, {3, 8}, {kTop, 1}, {kTop - 1, 2}, {kTop - 3, 4}, {kTop - 7, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_FALSE(v.Has(c.offset, c.width));
        const std::uint64_t got = c.width == 1 ? v.U8(c.offset) : c.width == 2 ? v.U16(c.offset)
                                : c.width == 4 ? v.U32(c.offset) : v.U64(c.offset);
        EXPECT_EQ(got, 0u);
    }
    EXPECT_TRUE(v.Has(10, 0));
    EXPECT_FALSE(v.Has(11, 0));
    EXPECT_FALSE(v.Has(0, kTop));
}

TEST(ByteView, MatchesSubAndFrom)
{
    const std::uint8_t text[] = {'N', 'T', 'F', 'S', ' ', ' '};
    const ByteView v(text, sizeof text);
    EXPECT_TRUE(v.Matches(0, "NTFS"));
    EXPECT_TRUE(v.Matches(4, "  "));
    EXPECT_FALSE(v.Matches(4, "   "));   // one byte past the end
    EXPECT_FALSE(v.Matches(0, "ntfs"));  // case-sensitive
    EXPECT_TRUE(v.Matches(6, ""));
    EXPECT_FALSE(v.Matches(7, ""));

    const ByteView sub = v.Sub(1, 3);
    EXPECT_EQ(sub.size(), 3u);
    EXPECT_TRUE(sub.Matches(0, "TFS"));
    EXPECT_EQ(sub.U8(3), 0);             // the sub-view ends where it was cut
    EXPECT_TRUE(v.Sub(4, 3).empty());    // does not fit
    EXPECT_TRUE(v.Sub(std::numeric_limits<std::uint64_t>::max(), 2).empty());
    EXPECT_EQ(v.From(4).size(), 2u);
    EXPECT_TRUE(v.From(6).empty());
    EXPECT_TRUE(v.From(100).empty());
}

TEST(ByteView, EmptyAndNullViews)
{
    const ByteView none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.U32(0), 0u);
    EXPECT_FALSE(none.Matches(0, "A"));
    const ByteView null(nullptr, 512);   // a null pointer never claims bytes
    EXPECT_EQ(null.size(), 0u);
    EXPECT_EQ(null.U8(0), 0);
    static_assert(ByteView(kBytes.data(), kBytes.size()).U16(0) == 0x0201);
}

}  // namespace
}  // namespace torvane
