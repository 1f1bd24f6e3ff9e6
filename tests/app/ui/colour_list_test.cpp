// The colour list: header-click sorting through a proxy (the data keeps its
// order), hidden data columns that stay hidden, and row colours.
#include "base/list_model.h"
#include "app/ui/colour_list.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QtTest>

#include <string>
#include <vector>

using namespace torvane;

namespace {

// Name | Size | Id (hidden data column)
void Fill(ListRowModel& m) {
    m.InsertColumn(0, "Name", 120);
    m.InsertColumn(1, "Size", 80);
    m.InsertColumn(2, "Id", 0);
    m.AppendRow({"b.jpg", "4294967296", "11"});
    m.AppendRow({"a.jpg", "100000000", "12"});
    m.AppendRow({"c.jpg", "999999999", "13"});
    m.AppendRow({"d.jpg", "5", "14"});
}

QStringList Column(const QTableView& v, int col) {
    QStringList out;
    for (int r = 0; r < v.model()->rowCount(); ++r) out << v.model()->index(r, col).data().toString();
    return out;
}

void ClickHeader(CColorListCtrl& view, int section) {
    QHeaderView* h = view.horizontalHeader();
    const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

}  // namespace

class ColourListTest : public QObject {
    Q_OBJECT
private slots:
    void headerClicksSortTheViewNotTheData();
    void selectionAndColoursTravelWithTheirRow();
    void hiddenColumnsStayHidden();
    void emptyListStillReportsSorted();
    void hideColumnList();
    void iconsSurviveARowModelSwap();
};

void ColourListTest::headerClicksSortTheViewNotTheData() {
    ListRowModel rows;
    Fill(rows);
    CColorListCtrl view;
    view.setRowModel(&rows);
    view.ShowColumn(2, false);
    view.resize(500, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy sorted(&view, &CColorListCtrl::sorted);

    ClickHeader(view, 1);  // first click: ascending, sizes by value (64-bit)
    QCOMPARE(Column(view, 1), QStringList({"5", "100000000", "999999999", "4294967296"}));
    QCOMPARE(sorted.count(), 1);
    QCOMPARE(sorted.at(0).at(0).toInt(), 1);
    QCOMPARE(sorted.at(0).at(1).toBool(), true);

    ClickHeader(view, 1);  // the same column again: descending
    QCOMPARE(Column(view, 1), QStringList({"4294967296", "999999999", "100000000", "5"}));
    QCOMPARE(sorted.at(1).at(1).toBool(), false);

    ClickHeader(view, 0);  // another column: ascending
    QCOMPARE(Column(view, 0), QStringList({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
    QCOMPARE(sorted.at(2).at(1).toBool(), true);

    // The rows other code reads by index are still in the order written.
    QCOMPARE(rows.Cell(0, 0), std::string("b.jpg"));
    QCOMPARE(rows.Cell(3, 0), std::string("d.jpg"));
    QCOMPARE(view.sourceRow(0), 1);  // a.jpg is row 1 of the data
    QCOMPARE(view.viewRow(0), 1);    // b.jpg shows second
    // A working-table rule can replace the readings for a column.
    view.sortProxy()->setColumnSortRule(0, SortRule::TextNoCase);
    rows.AppendRow({"B.JPG", "1", "15"});
    QVERIFY(QTest::qWaitFor([&] { return view.model()->rowCount() == 5; }));
    view.SortByColumn(0, true);
    QCOMPARE(Column(view, 0), QStringList({"a.jpg", "b.jpg", "B.JPG", "c.jpg", "d.jpg"}));
}

void ColourListTest::selectionAndColoursTravelWithTheirRow() {
    ListRowModel rows;
    Fill(rows);
    CColorListCtrl view;
    view.setRowModel(&rows);
    view.AddRowColor(3, 0xFAF0E6);  // d.jpg
    view.itemModel()->publishChanges();
    view.selectRow(view.viewRow(2));  // c.jpg
    view.SortByColumn(1, true);
    QCOMPARE(view.selectedSourceRows(), QList<int>({2}));
    QCOMPARE(view.model()->index(view.viewRow(2), 0).data().toString(), QString("c.jpg"));
    // d.jpg (size 5) is first now, and its colour came with it: RGB(230, 240, 250).
    QCOMPARE(view.model()->index(0, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(230, 240, 250));
    QVERIFY(!view.model()->index(1, 0).data(Qt::BackgroundRole).isValid());
    // Alternating colours go by view row; an entry of its own still wins.
    view.SetAlternateRows(true, 0xFAF0E6, 0xFFFFFF);
    QCOMPARE(view.model()->index(1, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(230, 240, 250));
    QCOMPARE(view.model()->index(2, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));
}

void ColourListTest::hiddenColumnsStayHidden() {
    ListRowModel rows;
    Fill(rows);
    CColorListCtrl view;
    view.setRowModel(&rows);
    QVERIFY(view.ShowColumn(2, false));
    QVERIFY(!view.ShowColumn(7, false));  // no such column: refused
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Ctrl + keypad plus autosizes every column; the data column stays hidden.
    QTest::keyClick(&view, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(view.isColumnHidden(2));
    QVERIFY(!view.isColumnHidden(1));
    // A divider double-click autosize of the hidden column changes nothing.
    view.resizeColumnToContents(2);
    QVERIFY(view.isColumnHidden(2));
    // Sorting, refilling and clearing keep it hidden.
    view.SortByColumn(2, true);
    QVERIFY(view.isColumnHidden(2));
    rows.Clear();
    rows.AppendRow({"x", "1", "99"});
    QVERIFY(QTest::qWaitFor([&] { return view.model()->rowCount() == 1; }));
    QVERIFY(view.isColumnHidden(2));
    // The hidden cell is still data the owner can read.
    QCOMPARE(rows.Cell(0, 2), std::string("99"));
    QVERIFY(view.ShowColumn(2, true));
    QVERIFY(!view.isColumnHidden(2));
}

void ColourListTest::emptyListStillReportsSorted() {
    ListRowModel rows;
    rows.InsertColumn(0, "Name");
    CColorListCtrl view;
    view.setRowModel(&rows);
    QSignalSpy sorted(&view, &CColorListCtrl::sorted);
    view.SortByColumn(0, true);
    QCOMPARE(sorted.count(), 1);
    view.SortByColumn(5, true);  // beyond the header: nothing
    QCOMPARE(sorted.count(), 1);
}

void ColourListTest::hideColumnList() {
    ListRowModel rows;
    Fill(rows);
    CHideColumn view;
    view.setRowModel(&rows);
    view.ShowColumn(2, false);
    QCOMPARE(view.horizontalHeader()->minimumSectionSize(), 20);
    QVERIFY(!view.horizontalHeader()->sectionsClickable());  // it does not sort
    QTest::keyClick(&view, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(view.isColumnHidden(2));
    rows.AddRowColor(0, 0x0000FF);
    view.itemModel()->publishChanges();
    QVERIFY(!view.model()->index(0, 0).data(Qt::BackgroundRole).isValid());  // no colours
}

// The image list belongs to the view: set before the rows or kept across a
// change of row model, the first column shows the row's icon.
void ColourListTest::iconsSurviveARowModelSwap() {
    QPixmap red(16, 16), blue(16, 16);
    red.fill(Qt::red);
    blue.fill(Qt::blue);
    ListRowModel models[2];  // outlive the view, whatever fails
    CColorListCtrl view;
    view.setImageList({QIcon(red), QIcon(blue)});
    for (ListRowModel& rows : models) {
        Fill(rows);
        rows.SetRowImage(0, 1);
        view.setRowModel(&rows);
        view.itemModel()->publishChanges();
        const QVariant icon = view.model()->index(view.viewRow(0), 0).data(Qt::DecorationRole);
        QVERIFY2(icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull(), "the row shows its icon");
        QCOMPARE(icon.value<QIcon>().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
    }
}

QTEST_MAIN(ColourListTest)
#include "colour_list_test.moc"
