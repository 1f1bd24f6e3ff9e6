// The range slider's ends move by mouse and keys, and every move is reported.
#include "app/ui/range_slider.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

using namespace torvane;

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Drag(QWidget* w, QPoint from, QPoint to) {
    SendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, to, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

}  // namespace

class RangeSliderTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dragLeftThumb();
    void dragRightThumbToTheEnd();
    void dragBand();
    void arrowKeys();
    void setPositionsReportsClamps();

private:
    CRangeSlider* slider = nullptr;
};

// [0, 1000] over a 100-pixel track (130 wide, 20 high: thumbs of 15).
void RangeSliderTest::init() {
    slider = new CRangeSlider;
    slider->resize(130, 20);
    slider->SetMinMax(0, 1000);
    slider->SetPositions(200, 600);
    slider->show();
    QVERIFY(QTest::qWaitForWindowExposed(slider));
}

void RangeSliderTest::cleanup() {
    delete slider;
    slider = nullptr;
}

void RangeSliderTest::dragLeftThumb() {
    QSignalSpy spy(slider, &CRangeSlider::RangeChangedMessage);
    const QPoint c = slider->leftThumbRect().center();
    Drag(slider, c, c + QPoint(10, 0));  // ten pixels: 100 sectors
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    std::int64_t l, r;
    slider->GetPositions(l, r);
    QCOMPARE(l, 300);
    QCOMPARE(r, 600);
    QVERIFY(!slider->IsTracking());
    QVERIFY(slider->hasFocus());
    // Far to the left: stops at min.
    const QPoint c2 = slider->leftThumbRect().center();
    Drag(slider, c2, QPoint(-200, 10));
    QCOMPARE(slider->Left(), 0.0);
}

void RangeSliderTest::dragRightThumbToTheEnd() {
    QSignalSpy spy(slider, &CRangeSlider::RangeChangedMessage);
    const QPoint c = slider->rightThumbRect().center();
    Drag(slider, c, QPoint(1000, 10));
    QCOMPARE(slider->Right(), 1000.0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    // The same drag again changes nothing and reports 0.
    const QPoint c2 = slider->rightThumbRect().center();
    Drag(slider, c2, QPoint(1000, 10));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 0);
}

void RangeSliderTest::dragBand() {
    QSignalSpy spy(slider, &CRangeSlider::RangeChangedMessage);
    const QPoint c = slider->bandRect().center();
    Drag(slider, c, c + QPoint(-500, 0));
    QCOMPARE(slider->Left(), 0.0);
    QCOMPARE(slider->Right(), 400.0);  // the band keeps its width
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
}

void RangeSliderTest::arrowKeys() {
    slider->setFocus();
    QSignalSpy spy(slider, &CRangeSlider::RangeChangedMessage);
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->Left(), 210.0);
    QCOMPARE(slider->Right(), 610.0);
    QCOMPARE(spy.last().at(0).toInt(), 2);
    QTest::keyClick(slider, Qt::Key_Left, Qt::ShiftModifier);  // the right end only
    QCOMPARE(slider->Left(), 210.0);
    QCOMPARE(slider->Right(), 600.0);
    QCOMPARE(spy.last().at(0).toInt(), 0);
    const int before = spy.count();
    QTest::keyClick(slider, Qt::Key_Right, Qt::ControlModifier);  // Ctrl: not ours
    QCOMPARE(spy.count(), before);
    QCOMPARE(slider->Left(), 210.0);
}

void RangeSliderTest::setPositionsReportsClamps() {
    QSignalSpy spy(slider, &CRangeSlider::RangeChangedMessage);
    slider->SetMinMax(0, 10);  // positions 200/600 are now beyond max
    slider->SetPositions(-5, 20);
    QCOMPARE(slider->Left(), 0.0);
    QCOMPARE(slider->Right(), 10.0);
    QCOMPARE(spy.takeLast().at(0).toInt(), 1);
    QCOMPARE(spy.takeLast().at(0).toInt(), 0);
}

QTEST_MAIN(RangeSliderTest)
#include "range_slider_test.moc"
