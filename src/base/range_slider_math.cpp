#include "base/range_slider_math.h"

#include <cmath>
#include <limits>
#include <utility>

namespace torvane {

namespace {

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

std::int64_t ToInt64(double v) {
    // Truncation toward zero, defined for every input.
    if (std::isnan(v)) return 0;
    constexpr double kTop = 9223372036854775807.0;  // rounds to 2^63
    if (v >= kTop) return std::numeric_limits<std::int64_t>::max();
    if (v <= -kTop) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

}  // namespace

void RangeSliderMath::ClampPositions(std::vector<int>& out) {
    if (!(left >= min)) {  // below min, or NaN
        left = min;
        out.push_back(kRangeLeft);
        if (left > right) {
            right = left;
            out.push_back(kRangeRight);
        }
    }
    if (!(right <= max)) {  // above max, or NaN
        right = max;
        out.push_back(kRangeRight);
        if (right < left) {
            left = right;
            out.push_back(kRangeLeft);
        }
    }
}

std::vector<int> RangeSliderMath::SetMinMax(double a, double b) {
    a = Finite(a);
    b = Finite(b);
    if (a > b) std::swap(a, b);
    min = a;
    max = b;
    std::vector<int> out;
    ClampPositions(out);
    return out;
}

std::vector<int> RangeSliderMath::SetPositions(double l, double r) {
    left = l;
    right = r;
    std::vector<int> out;
    ClampPositions(out);
    return out;
}

void RangeSliderMath::SetVisualRange(double a, double b) {
    visualMin = a;
    visualMax = b;
    if (visualMin > visualMax) std::swap(visualMin, visualMax);
    if (min > visualMin) {
        visualMin = min;
        if (min > visualMax) visualMax = min;
    }
    if (max < visualMax) {
        visualMax = max;
        if (max < visualMin) visualMin = max;
    }
}

void RangeSliderMath::GetPositions(std::int64_t& l, std::int64_t& r) const {
    auto clamp = [this](double v) {
        if (!(v >= min)) return min;
        if (v > max) return max;
        return v;
    };
    l = ToInt64(clamp(left));
    r = ToInt64(clamp(right));
}

void RangeSliderMath::Layout(int width, int h) {
    height = h < 0 ? 0 : h;
    arrowWidth = (3 * height) / 4;
    trackWidth = width - 2 * arrowWidth;
}

double RangeSliderMath::Step() const {
    if (trackWidth <= 0 || !(max > min)) return 0.0;
    return (max - min) / trackWidth;
}

int RangeSliderMath::PixelOf(double v) const {
    if (trackWidth <= 0 || !(max > min)) return 0;
    const double x = trackWidth * (v - min) / (max - min) + 0.5;
    if (!(x >= 0.0)) return 0;
    if (x >= trackWidth) return trackWidth;
    return static_cast<int>(x);
}

double RangeSliderMath::ValueAtPixel(std::int64_t i) const {
    if (trackWidth <= 0 || i <= 0) return min;
    if (i >= trackWidth) return max;
    return min + (max - min) * (static_cast<double>(i) / trackWidth);
}

SliderRect RangeSliderMath::LeftThumbDrawRect() const {
    const int x = PixelOf(left);
    return {x, 0, x + arrowWidth, height};
}

SliderRect RangeSliderMath::RightThumbDrawRect() const {
    const int x = PixelOf(right);
    return {x + arrowWidth, 0, x + 2 * arrowWidth, height};
}

SliderRect RangeSliderMath::LeftThumbHitRect() const {
    SliderRect r = LeftThumbDrawRect();
    return {r.left + 1, r.top + 1, r.right - 2, r.bottom - 2};
}

SliderRect RangeSliderMath::RightThumbHitRect() const {
    SliderRect r = RightThumbDrawRect();
    return {r.left + 1, r.top + 1, r.right - 2, r.bottom - 2};
}

SliderRect RangeSliderMath::BandHitRect() const {
    return {LeftThumbHitRect().right + 1, 0, RightThumbHitRect().left - 1, height};
}

SliderRect RangeSliderMath::BandDrawRect() const {
    return {PixelOf(left) + arrowWidth + 1, 1, PixelOf(right) + arrowWidth, height - 1};
}

bool RangeSliderMath::Press(int x, int y) {
    if (tracking) return false;
    const SliderRect parts[3] = {LeftThumbHitRect(), RightThumbHitRect(), BandHitRect()};
    for (int t = 0; t < 3; ++t) {
        if (!parts[t].Contains(x, y)) continue;
        tracking = true;
        dragTarget = t;
        dragOffsetX = x - (parts[t].left + parts[t].right) / 2;
        dragOffsetY = y - (parts[t].top + parts[t].bottom) / 2;
        return true;
    }
    return false;
}

int RangeSliderMath::DragTo(int target, int p) {
    const double s = Step();
    const int a = arrowWidth;
    if (trackWidth <= 0) return target == kDragBand ? kRangeBoth : (target == kDragLeft ? kRangeLeft : kRangeRight);
    switch (target) {
    case kDragLeft:
        left = min + (p - a / 2) * s;
        if (left >= right) left = right;
        if (min >= left) left = min;
        return kRangeLeft;
    case kDragRight: {
        const double before = right;
        right = min + (p - (3 * a) / 2) * s;
        if (right <= left) right = left;
        if (max <= right) right = max;
        return right != before ? kRangeRight : kRangeLeft;
    }
    default: {
        const double d = right - left;
        const double m = min + (p - a) * s;
        left = m - d / 2;
        right = m + d / 2;
        if (left <= min) {
            left = min;
            right = min + d;
        }
        if (max <= right) {
            right = max;
            left = max - d;
        }
        return kRangeBoth;
    }
    }
}

std::vector<int> RangeSliderMath::Move(int x) {
    if (!tracking) return {};
    return {DragTo(dragTarget, x - dragOffsetX)};
}

std::vector<int> RangeSliderMath::Key(bool increase, bool shift) {
    const double s = Step();
    if (s == 0.0) return {};
    auto index = [&](double v) -> std::int64_t { return ToInt64((v - min) / s + 0.5); };
    std::int64_t iL = index(left), iR = index(right);
    const int d = increase ? 1 : -1;
    if (!shift) iL += d;
    iR += d;
    if (iL >= 0 && iR <= trackWidth) {
        left = ValueAtPixel(iL);
        right = ValueAtPixel(iR);
    }
    return {shift ? kRangeLeft : kRangeBoth};
}

}  // namespace torvane
