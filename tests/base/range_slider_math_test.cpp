#include "base/range_slider_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace torvane {
namespace {

using V = std::vector<int>;

TEST(RangeSliderMath, SetPositionsClampsAndReports) {
    RangeSliderMath s;
    s.SetMinMax(0, 10);
    EXPECT_EQ(s.SetPositions(-5, 20), (V{0, 1}));
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.right, 10);
    // Inside the range, left above right is kept.
    EXPECT_EQ(s.SetPositions(7, 3), V{});
    EXPECT_EQ(s.left, 7);
    EXPECT_EQ(s.right, 3);
    // Both beyond max: right clamps to max, then left follows it down.
    EXPECT_EQ(s.SetPositions(12, 15), (V{1, 0}));
    EXPECT_EQ(s.left, 10);
    EXPECT_EQ(s.right, 10);
    // Both below min: left to min, then right up to it.
    EXPECT_EQ(s.SetPositions(-3, -2), (V{0, 1}));
    EXPECT_EQ(s.right, 0);
    // NaN positions are pulled into the range.
    EXPECT_EQ(s.SetPositions(std::nan(""), std::nan("")), (V{0, 1}));
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.right, 10);
}

TEST(RangeSliderMath, SetMinMaxOrdersThePair) {
    RangeSliderMath s;
    s.SetMinMax(100, 0);
    EXPECT_EQ(s.min, 0);
    EXPECT_EQ(s.max, 100);
}

TEST(RangeSliderMath, GetPositionsTruncatesAndClamps) {
    RangeSliderMath s;
    s.SetMinMax(0, 10);
    s.SetPositions(2.9, 7.99);
    std::int64_t l = -1, r = -1;
    s.GetPositions(l, r);
    EXPECT_EQ(l, 2);
    EXPECT_EQ(r, 7);
    s.left = std::nan("");
    s.right = 1e300;
    s.GetPositions(l, r);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 10);
}

TEST(RangeSliderMath, LayoutThumbWidth) {
    RangeSliderMath s;
    s.Layout(200, 20);
    EXPECT_EQ(s.arrowWidth, 15);
    EXPECT_EQ(s.trackWidth, 170);
}

// Sector numbers up to 2^53 survive a trip to the ends of the track.
TEST(RangeSliderMath, ExactAtTheEndsOfLargeRanges) {
    const double kMaxExact = 9007199254740992.0;  // 2^53
    for (double last : {1.0, 4294967295.0, 8589934591.0, kMaxExact - 1, kMaxExact}) {
        SCOPED_TRACE(last);
        RangeSliderMath s;
        s.SetMinMax(0, last);
        s.SetPositions(0, last);
        s.Layout(437, 20);
        // Keys: shrink the band at its right end and grow it back.
        s.Key(false, true);
        s.Key(true, true);
        std::int64_t l, r;
        s.GetPositions(l, r);
        EXPECT_EQ(l, 0);
        EXPECT_EQ(r, static_cast<std::int64_t>(last));
        // Drags against the ends land on them exactly.
        s.DragTo(RangeSliderMath::kDragRight, 100000);
        s.DragTo(RangeSliderMath::kDragLeft, -100000);
        s.GetPositions(l, r);
        EXPECT_EQ(l, 0);
        EXPECT_EQ(r, static_cast<std::int64_t>(last));
    }
}

TEST(RangeSliderMath, EmptyRangeOrTrackNeverDividesByZero) {
    RangeSliderMath s;
    s.SetMinMax(5, 5);
    s.SetPositions(5, 5);
    s.Layout(100, 20);
    EXPECT_EQ(s.PixelOf(5), 0);
    EXPECT_EQ(s.Key(true, false), V{});  // nothing happens
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragLeft, 60), kRangeLeft);
    EXPECT_EQ(s.left, 5);
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragBand, 60), kRangeBoth);
    EXPECT_EQ(s.left, 5);
    EXPECT_EQ(s.right, 5);

    RangeSliderMath narrow;  // narrower than the two thumbs
    narrow.SetMinMax(0, 1000);
    narrow.SetPositions(100, 900);
    narrow.Layout(20, 20);
    EXPECT_LE(narrow.trackWidth, 0);
    EXPECT_EQ(narrow.PixelOf(900), 0);
    EXPECT_EQ(narrow.Key(true, false), V{});
    narrow.DragTo(RangeSliderMath::kDragRight, 5);
    EXPECT_EQ(narrow.left, 100);
    EXPECT_EQ(narrow.right, 900);
}

// Track of 100 pixels over [0, 1000]: one pixel is 10 sectors. Thumbs are 15 wide.
struct Track : RangeSliderMath {
    Track() {
        SetMinMax(0, 1000);
        SetPositions(200, 600);
        Layout(130, 20);
    }
};

TEST(RangeSliderMath, DraggingTheThumbsStopsAtLimits) {
    Track s;
    ASSERT_EQ(s.trackWidth, 100);
    // Left thumb past the right one stops there.
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragLeft, 90), kRangeLeft);
    EXPECT_EQ(s.left, 600);
    // Left of the range stops at min.
    s.DragTo(RangeSliderMath::kDragLeft, -40);
    EXPECT_EQ(s.left, 0);
    // Right thumb: centre p maps to min + (p - 22) * 10.
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragRight, 72), kRangeRight);
    EXPECT_EQ(s.right, 500);
    // A move that changes nothing reports 0.
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragRight, 72), kRangeLeft);
    s.DragTo(RangeSliderMath::kDragRight, 500);
    EXPECT_EQ(s.right, 1000);
}

TEST(RangeSliderMath, DraggingTheBandKeepsItsWidth) {
    Track s;
    EXPECT_EQ(s.DragTo(RangeSliderMath::kDragBand, -50), kRangeBoth);
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.right, 400);
    s.DragTo(RangeSliderMath::kDragBand, 500);
    EXPECT_EQ(s.left, 600);
    EXPECT_EQ(s.right, 1000);
    s.DragTo(RangeSliderMath::kDragBand, 15 + 50);  // centre at pixel 50: 500
    EXPECT_EQ(s.left, 300);
    EXPECT_EQ(s.right, 700);
}

TEST(RangeSliderMath, KeysMoveByOnePixelStep) {
    Track s;
    EXPECT_EQ(s.Key(true, false), V{kRangeBoth});
    EXPECT_EQ(s.left, 210);
    EXPECT_EQ(s.right, 610);
    EXPECT_EQ(s.Key(true, true), V{kRangeLeft});  // Shift: the right end only, reports 0
    EXPECT_EQ(s.left, 210);
    EXPECT_EQ(s.right, 620);
    s.SetPositions(0, 1000);
    EXPECT_EQ(s.Key(false, false), V{kRangeBoth});  // would leave the track: unchanged
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.right, 1000);
}

TEST(RangeSliderMath, PressHitsThumbsThenBand) {
    Track s;
    // Left thumb drawn at x 20..35, right thumb at 75..90 (pixel 60 + 15).
    EXPECT_TRUE(s.Press(25, 10));
    EXPECT_EQ(s.dragTarget, RangeSliderMath::kDragLeft);
    s.Release();
    EXPECT_TRUE(s.Press(80, 10));
    EXPECT_EQ(s.dragTarget, RangeSliderMath::kDragRight);
    s.Release();
    EXPECT_TRUE(s.Press(50, 10));
    EXPECT_EQ(s.dragTarget, RangeSliderMath::kDragBand);
    EXPECT_EQ(s.Move(60), V{kRangeBoth});
    s.Release();
    EXPECT_FALSE(s.Press(125, 10));  // beyond the right thumb
    EXPECT_EQ(s.Move(10), V{});
}

TEST(RangeSliderMath, VisualRangeIsNormalised) {
    Track s;
    s.SetVisualRange(2000, -5);
    EXPECT_EQ(s.visualMin, 0);
    EXPECT_EQ(s.visualMax, 1000);
    s.SetVisualRange(0, 0);
    EXPECT_EQ(s.visualMin, 0);
    EXPECT_EQ(s.visualMax, 0);
}

}  // namespace
}  // namespace torvane
