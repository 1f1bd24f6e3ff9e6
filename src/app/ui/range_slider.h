// CRangeSlider: a horizontal slider with two thumbs that selects a sub-range
// [left, right] of [min, max] (the sector range of the Deep, Photo and
// signature searches). The user drags a thumb or the band between them, or
// uses the arrow keys (Shift+arrow moves only the right end). Each change is
// reported at once through RangeChangedMessage(which): 0 the left position
// changed, 1 the right one, 2 both; owners read both positions whatever it says.
// The arithmetic lives in RangeSliderMath (core).
#pragma once

#include "base/range_slider_math.h"

#include <QWidget>

#include <cstdint>
#include <vector>

namespace torvane {

class CRangeSlider : public QWidget {
    Q_OBJECT
public:
    explicit CRangeSlider(QWidget* parent = nullptr);

    void SetMinMax(double a, double b);
    void SetPositions(double left, double right);
    void SetVisualRange(double a, double b);
    void GetPositions(std::int64_t& left, std::int64_t& right) const;

    double Min() const { return math_.min; }
    double Max() const { return math_.max; }
    double Left() const { return math_.left; }
    double Right() const { return math_.right; }
    bool IsTracking() const { return math_.tracking; }
    // The thumbs' hit rectangles (widget coordinates), for tests and owners.
    QRect leftThumbRect() const;
    QRect rightThumbRect() const;
    QRect bandRect() const;

    QSize sizeHint() const override { return {240, 20}; }
    QSize minimumSizeHint() const override { return {60, 12}; }

signals:
    void RangeChangedMessage(int which);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void send(const std::vector<int>& notices);
    void relayout() const;

    mutable RangeSliderMath math_;
};

}  // namespace torvane
