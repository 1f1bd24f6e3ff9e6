// The arithmetic of the two-thumb range slider, without any drawing.
//
// The slider selects [left, right] inside [min, max] (sector numbers, held as
// doubles: exact up to 2^53). The widget is a row of three parts: the left
// thumb, the band, the right thumb. Thumbs are A = 3H/4 pixels wide and the
// value range is mapped onto W = width - 2A pixels. Every operation returns
// the change notices the slider sends to its owner, in order:
// 0 = the left position changed, 1 = the right one, 2 = both.
//
// Degenerate geometry is harmless: with min == max or W <= 0 every pixel maps
// to min, both thumbs are drawn at the left edge, and drags and keys leave the
// positions as they are.
#pragma once

#include <cstdint>
#include <vector>

namespace torvane {

enum RangeChange : int { kRangeLeft = 0, kRangeRight = 1, kRangeBoth = 2 };

// A rectangle with exclusive right and bottom edges (like the window system's).
struct SliderRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
};

struct RangeSliderMath {
    enum DragTarget : int { kDragLeft = 0, kDragRight = 1, kDragBand = 2 };

    double min = 0.0, max = 1.0;
    double left = 0.0, right = 1.0;
    double visualMin = 0.0, visualMax = 0.0;  // stored and normalised, not drawn

    // Geometry of the last layout.
    int height = 0;
    int arrowWidth = 10;  // A
    int trackWidth = 0;   // W

    // Interaction.
    bool tracking = false;
    int dragTarget = kDragLeft;
    int dragOffsetX = 0, dragOffsetY = 0;

    // ---- values ----
    // Orders the pair into min/max, then clamps the positions.
    std::vector<int> SetMinMax(double a, double b);
    // Stores the positions as given (left above right is kept), then clamps
    // them into [min, max].
    std::vector<int> SetPositions(double l, double r);
    void SetVisualRange(double a, double b);
    // The positions as 64-bit sector numbers, truncated toward zero, after
    // clamping into [min, max] (a NaN reads as min).
    void GetPositions(std::int64_t& l, std::int64_t& r) const;

    // ---- geometry ----
    // A = 3H/4, W = width - 2A.
    void Layout(int width, int h);
    // Pixel offset of a value on the track (0..W), 0 when the range is empty.
    int PixelOf(double v) const;
    // The value at a pixel offset: exactly min at 0 and max at W.
    double ValueAtPixel(std::int64_t i) const;
    // The thumbs as drawn (full rectangles) and as hit-tested (inset 1,1,2,2).
    SliderRect LeftThumbDrawRect() const;
    SliderRect RightThumbDrawRect() const;
    SliderRect LeftThumbHitRect() const;
    SliderRect RightThumbHitRect() const;
    SliderRect BandHitRect() const;   // between the two hit rectangles, full height
    SliderRect BandDrawRect() const;  // the white band between the thumbs

    // ---- mouse and keys ----
    // A press at (x, y): starts a drag on the left thumb, the right thumb or
    // the band (tested in that order). Returns true when a part was hit.
    bool Press(int x, int y);
    // A move while tracking: the dragged part's new centre is x - offset.
    // Returns the notice (one per move, changed or not), none when idle.
    std::vector<int> Move(int x);
    void Release() { tracking = false; }
    // The arrow keys: increase = right arrow. Without Shift both thumbs move
    // one pixel step, with Shift only the right one. Returns the notice (2
    // without Shift, 0 with), none when the range or track is empty.
    std::vector<int> Key(bool increase, bool shift);

    // The drag rules themselves, by target and new centre x.
    int DragTo(int target, int p);

private:
    void ClampPositions(std::vector<int>& out);
    double Step() const;  // value per pixel, 0 when empty
};

}  // namespace torvane
