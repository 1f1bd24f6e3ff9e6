// A window smaller than its content scrolls over it: bars only while needed,
// 60-pixel lines, whole pages, stops at both ends, and the content is never
// squeezed below what its layout needs.
#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/ui/scroll_helper.h"

#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

using namespace torvane;

class ScrollHelperTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        window = new QWidget;
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        auto* block = new QFrame(content);
        block->setMinimumSize(800, 600);
        layout->addWidget(block);
        helper = std::make_unique<ScrollHelper>(window, content);
        window->resize(400, 300);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        helper->UpdateScrollInfo();
    }
    void cleanup()
    {
        helper.reset();
        delete window;
        window = nullptr;
    }

    void barsOnlyWhileTheWindowIsSmaller()
    {
        QScrollBar* v = helper->Area()->verticalScrollBar();
        QScrollBar* h = helper->Area()->horizontalScrollBar();
        QVERIFY(v->isVisible());
        QVERIFY(h->isVisible());
        QVERIFY(v->maximum() > 0);
        v->setValue(v->maximum());
        h->setValue(h->maximum());

        window->resize(1000, 800);
        helper->UpdateScrollInfo();
        QTRY_VERIFY(!v->isVisible());
        QVERIFY(!h->isVisible());
        QCOMPARE(v->value(), 0);
        QCOMPARE(h->value(), 0);
        QCOMPARE(helper->Content()->mapTo(helper->Area()->viewport(), QPoint(0, 0)), QPoint(0, 0));
    }

    void linesPagesAndEnds()
    {
        QScrollBar* v = helper->Area()->verticalScrollBar();
        QCOMPARE(v->singleStep(), ScrollHelper::kLineStep);
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(v->value(), 60);
        QCOMPARE(helper->Content()->mapTo(helper->Area()->viewport(), QPoint(0, 0)).y(), -60);

        // A line down at the bottom does nothing.
        v->setValue(v->maximum());
        const int bottom = v->value();
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(v->value(), bottom);

        // A page up near the top stops at 0.
        v->setValue(30);
        QVERIFY(v->pageStep() > 30);
        v->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(v->value(), 0);
    }

    void displaySizeWidensButNeverSqueezes()
    {
        window->resize(1000, 800);
        helper->SetDisplaySize(1200, 900);
        QTRY_VERIFY(helper->Area()->horizontalScrollBar()->isVisible());
        QVERIFY(helper->Content()->width() >= 1200);
        QVERIFY(helper->Content()->height() >= 900);

        // Smaller than the layout needs: the layout's minimum stands.
        helper->SetDisplaySize(100, 100);
        window->resize(400, 300);
        helper->UpdateScrollInfo();
        QTRY_VERIFY(helper->Area()->verticalScrollBar()->isVisible());
        QVERIFY(helper->Content()->width() >= 800);
        QVERIFY(helper->Content()->height() >= 600);
    }

    void aSearchDialogScrollsWhenMadeSmall()
    {
        SearchDialogBase dialog(kModeDeep);
        dialog.resize(300, 200);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        ScrollHelper* scroll = dialog.GetScrollHelper();
        QVERIFY(scroll != nullptr);
        QTRY_VERIFY(scroll->Area()->verticalScrollBar()->isVisible());
        // The Back button is still reachable by scrolling down.
        QWidget* back = dialog.findChild<QWidget*>(QStringLiteral("BackButton"));
        QVERIFY(back != nullptr);
        scroll->Area()->verticalScrollBar()->setValue(scroll->Area()->verticalScrollBar()->maximum());
        const QPoint inDialog = back->mapTo(&dialog, QPoint(0, back->height()));
        QVERIFY2(inDialog.y() <= dialog.height(), "the bottom row scrolls into view");
    }

private:
    QWidget* window = nullptr;
    std::unique_ptr<ScrollHelper> helper;
};

QTEST_MAIN(ScrollHelperTest)
#include "scroll_helper_test.moc"
