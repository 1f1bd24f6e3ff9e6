#include "app/ui/range_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace torvane {

namespace {

QRect ToQRect(const SliderRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

// A thumb: button-face box with a black outline, a raised edge unless it is
// being dragged, and a black triangle pointing towards the band.
void DrawThumb(QPainter& p, const QPalette& pal, const SliderRect& box, const SliderRect& edge, bool flat,
               bool pointsRight, int a, int h) {
    p.setPen(Qt::black);
    p.setBrush(pal.color(QPalette::Button));
    p.drawRect(QRect(box.left, box.top, box.right - box.left - 1, box.bottom - box.top - 1));
    if (!flat && !edge.IsEmpty()) {
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(edge.left, edge.bottom, edge.left, edge.top);
        p.drawLine(edge.left, edge.top, edge.right, edge.top);
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(edge.right, edge.top, edge.right, edge.bottom);
        p.drawLine(edge.right, edge.bottom, edge.left, edge.bottom);
    }
    const int x = box.left;
    QPolygon tri;
    if (pointsRight)
        tri << QPoint(x + a / 3, h / 3) << QPoint(x + a / 3, 2 * h / 3) << QPoint(x + 2 * a / 3, h / 2);
    else
        tri << QPoint(x + 2 * a / 3, h / 3) << QPoint(x + 2 * a / 3, 2 * h / 3) << QPoint(x + a / 3, h / 2);
    p.setPen(Qt::black);
    p.setBrush(Qt::black);
    p.drawPolygon(tri);
}

}  // namespace

CRangeSlider::CRangeSlider(QWidget* parent) : QWidget(parent) {
    // Arrow keys reach the slider when it has the focus (click or Tab).
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    relayout();
}

void CRangeSlider::relayout() const { math_.Layout(width(), height()); }

void CRangeSlider::send(const std::vector<int>& notices) {
    for (int n : notices) emit RangeChangedMessage(n);
}

void CRangeSlider::SetMinMax(double a, double b) {
    send(math_.SetMinMax(a, b));
    update();
}

void CRangeSlider::SetPositions(double left, double right) {
    send(math_.SetPositions(left, right));
    update();
}

void CRangeSlider::SetVisualRange(double a, double b) {
    math_.SetVisualRange(a, b);
    update();
}

void CRangeSlider::GetPositions(std::int64_t& left, std::int64_t& right) const { math_.GetPositions(left, right); }

QRect CRangeSlider::leftThumbRect() const {
    relayout();
    return ToQRect(math_.LeftThumbHitRect());
}

QRect CRangeSlider::rightThumbRect() const {
    relayout();
    return ToQRect(math_.RightThumbHitRect());
}

QRect CRangeSlider::bandRect() const {
    relayout();
    return ToQRect(math_.BandHitRect());
}

void CRangeSlider::paintEvent(QPaintEvent*) {
    relayout();
    QPainter p(this);
    const int h = height();
    const int a = math_.arrowWidth;
    // The track: grey with a black outline.
    p.setPen(Qt::black);
    p.setBrush(Qt::gray);
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const bool dragLeft = math_.tracking && math_.dragTarget == RangeSliderMath::kDragLeft;
    const bool dragRight = math_.tracking && math_.dragTarget == RangeSliderMath::kDragRight;
    DrawThumb(p, palette(), math_.LeftThumbDrawRect(), math_.LeftThumbHitRect(), dragLeft, true, a, h);
    DrawThumb(p, palette(), math_.RightThumbDrawRect(), math_.RightThumbHitRect(), dragRight, false, a, h);

    // The band between the thumbs.
    const SliderRect band = math_.BandDrawRect();
    const QRect bandRect(QPoint(band.left, band.top), QPoint(band.right - 1, band.bottom - 1));
    if (!band.IsEmpty()) p.fillRect(bandRect, Qt::white);
    if (hasFocus() && bandRect.width() > 6 && bandRect.height() > 6) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = bandRect.adjusted(3, 3, -3, -3);
        opt.backgroundColor = Qt::white;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

void CRangeSlider::resizeEvent(QResizeEvent* event) {
    relayout();
    QWidget::resizeEvent(event);
}

void CRangeSlider::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    update();
    if (event->button() == Qt::LeftButton) {
        relayout();
        const QPoint pos = event->position().toPoint();
        math_.Press(pos.x(), pos.y());  // Qt keeps sending moves to us while the button is held
    }
    QWidget::mousePressEvent(event);
}

void CRangeSlider::mouseMoveEvent(QMouseEvent* event) {
    if (math_.tracking) {
        relayout();
        send(math_.Move(event->position().toPoint().x()));
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void CRangeSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (math_.tracking) {
        math_.Release();
        update();
    }
    QWidget::mouseReleaseEvent(event);
}

void CRangeSlider::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const auto mods = event->modifiers();
    if ((key == Qt::Key_Left || key == Qt::Key_Right) && !(mods & Qt::ControlModifier)) {
        relayout();
        const auto notices = math_.Key(key == Qt::Key_Right, (mods & Qt::ShiftModifier) != 0);
        if (!notices.empty()) {
            send(notices);
            update();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CRangeSlider::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CRangeSlider::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

}  // namespace torvane
