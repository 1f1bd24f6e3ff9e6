// The tri-state tree control over the core tree model: live filling from a
// worker, box clicks, highlights, and the adapter's consistency.
#include "base/tree_model.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using namespace torvane;

namespace {

TreeNodeInit Boxed(const std::string& text) {
    TreeNodeInit init;
    init.text = text;
    init.check = CheckState::Unchecked;
    return init;
}

// Counts the rows the Qt model exposes, walking it without recursion.
int CountRows(const QAbstractItemModel& m) {
    int n = 0;
    QList<QModelIndex> stack{QModelIndex()};
    while (!stack.isEmpty()) {
        const QModelIndex p = stack.takeLast();
        const int rows = m.rowCount(p);
        n += rows;
        for (int r = 0; r < rows; ++r) stack.append(m.index(r, 0, p));
    }
    return n;
}

// Processes events until `done` holds (the worker may post many batches).
template <class F> bool SpinUntil(F done) {
    for (int i = 0; i < 20000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return done();
}

}  // namespace

class TreeClassTest : public QObject {
    Q_OBJECT
private slots:
    void workerFillsDisplayedTree();
    void adapterStaysConsistent();
    void clickOnBoxSelectsThenPropagates();
    void clickOnPartialUnchecks();
    void clickOutsideBoxRecordsItem();
    void highlightFromWorker();
    void iconsSurviveAModelSwap();
};

// A worker inserts 100,000 nodes while the view shows and the GUI thread
// keeps publishing; afterwards the view shows every node, nothing more.
void TreeClassTest::workerFillsDisplayedTree() {
    TreeModel model;
    CTreeClass view;
    view.setTreeModel(&model);
    view.resize(400, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    int batches = 0;
    connect(view.itemModel(), &TreeItemModel::published, [&] { ++batches; });
    QAbstractItemModelTester tester(view.itemModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);

    constexpr int kNodes = 100000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const TreeNodeId root = model.InsertChild(kNoTreeNode, Boxed("Root"));
        model.RequestExpand(root);
        TreeNodeId folder = root;
        for (int i = 1; i < kNodes; ++i) {
            const TreeNodeId id = model.InsertChild(folder, Boxed("DIR_" + std::to_string(i)));
            if (i % 1000 == 0) folder = id;  // a new level every 1000 items
            if (i % 20000 == 0) model.SetCheck(id, CheckState::Checked);
            if (i % 5000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));  // let the GUI publish meanwhile
        }
        done = true;
    });
    // While the worker runs, what the view sees is always a consistent prefix.
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const int top = view.itemModel()->rowCount();
        QVERIFY(top <= 1);
    }
    worker.join();
    QVERIFY(SpinUntil([&] { return CountRows(*view.itemModel()) == kNodes; }));
    QCOMPARE(model.NodeCount(), std::size_t(kNodes));
    QVERIFY(batches >= 2);  // shown in several batches while it grew
    // The root asked to be expanded, and the view did so once it was shown.
    const QModelIndex rootIndex = view.itemModel()->index(0, 0);
    QVERIFY(view.isExpanded(rootIndex));
    QCOMPARE(rootIndex.data().toString(), QString("Root"));
    QCOMPARE(view.itemModel()->rowCount(rootIndex), 1000);
}

// Qt's model tester checks every signal of the adapter against its answers,
// through appends, checks, sorts, removals and a clear.
void TreeClassTest::adapterStaysConsistent() {
    TreeModel model;
    CTreeClass view;
    view.setTreeModel(&model);
    QAbstractItemModelTester tester(view.itemModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);

    const TreeNodeId root = model.InsertChild(kNoTreeNode, Boxed("Root"));
    std::vector<TreeNodeId> kids;
    for (int i = 0; i < 50; ++i) kids.push_back(model.InsertChild(root, Boxed("f" + std::to_string(50 - i))));
    model.InsertChild(kids[3], Boxed("sub"));
    view.itemModel()->publishChanges();
    QCOMPARE(CountRows(*view.itemModel()), 52);
    view.expandAll();
    const QPersistentModelIndex keep = view.indexFromNode(kids[10]);
    QVERIFY(keep.isValid());

    model.ToggleCheck(kids[3]);
    model.SortChildren(root);  // reorders shown rows: a layout refresh
    view.itemModel()->publishChanges();
    QVERIFY(keep.isValid());
    QCOMPARE(view.nodeFromIndex(keep), kids[10]);  // persistent index follows its node
    QCOMPARE(keep.row(), int(model.Row(kids[10])));

    model.Remove(kids[0]);
    model.InsertChild(root, Boxed("late"));
    view.itemModel()->publishChanges();
    QCOMPARE(CountRows(*view.itemModel()), 52);

    model.Clear();
    view.itemModel()->publishChanges();
    QCOMPARE(view.itemModel()->rowCount(), 0);
    QVERIFY(!keep.isValid());
}

// Root ─ A ─ A1, A2 ; Root ─ B
struct ClickTree {
    TreeModel model;
    TreeNodeId root, a, a1, a2, b;
    CTreeClass view;
    ClickTree() {
        root = model.InsertChild(kNoTreeNode, Boxed("Root"));
        a = model.InsertChild(root, Boxed("A"));
        a1 = model.InsertChild(a, Boxed("A1"));
        a2 = model.InsertChild(a, Boxed("A2"));
        b = model.InsertChild(root, Boxed("B"));
        view.setTreeModel(&model);
        view.resize(300, 300);
        view.show();
        view.expandAll();
    }
    QPoint boxCentre(TreeNodeId n) { return view.checkBoxRect(view.indexFromNode(n)).center(); }
};

void TreeClassTest::clickOnBoxSelectsThenPropagates() {
    ClickTree t;
    QVERIFY(QTest::qWaitForWindowExposed(&t.view));
    QSignalSpy sel(&t.view, &CTreeClass::selChanged);
    QSignalSpy toggled(&t.view, &CTreeClass::checkToggled);
    const QPoint p = t.boxCentre(t.a1);
    QVERIFY(!p.isNull());
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, p);
    // Selected first, then toggled.
    QCOMPARE(sel.count(), 1);
    QCOMPARE(sel.at(0).at(0).value<TreeNodeId>(), t.a1);
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(t.view.CurrentTreeItem(), t.a1);
    QCOMPARE(t.view.SelectedItem(), t.a1);
    QCOMPARE(t.model.GetCheck(t.a1), CheckState::Checked);
    QCOMPARE(t.model.GetCheck(t.a), CheckState::Partial);
    QCOMPARE(t.model.GetCheck(t.root), CheckState::Partial);
    // The view shows it at once.
    QCOMPARE(t.view.indexFromNode(t.a).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.boxCentre(t.a2));
    QCOMPARE(t.model.GetCheck(t.a), CheckState::Checked);
    QCOMPARE(t.model.GetCheck(t.root), CheckState::Partial);  // B is still unchecked
    QCOMPARE(t.view.indexFromNode(t.a).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

void TreeClassTest::clickOnPartialUnchecks() {
    ClickTree t;
    QVERIFY(QTest::qWaitForWindowExposed(&t.view));
    t.model.ToggleCheck(t.a1);
    t.view.itemModel()->publishChanges();
    QCOMPARE(t.model.GetCheck(t.a), CheckState::Partial);
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.boxCentre(t.a));
    QCOMPARE(t.model.GetCheck(t.a), CheckState::Unchecked);  // Qt's auto-tristate would check it
    QCOMPARE(t.model.GetCheck(t.a1), CheckState::Unchecked);
    QCOMPARE(t.model.GetCheck(t.root), CheckState::Unchecked);
    // Space on the selected item is the same click.
    QTest::keyClick(&t.view, Qt::Key_Space);
    QCOMPARE(t.model.GetCheck(t.a), CheckState::Checked);
    QCOMPARE(t.model.GetCheck(t.a2), CheckState::Checked);
}

void TreeClassTest::clickOutsideBoxRecordsItem() {
    ClickTree t;
    QVERIFY(QTest::qWaitForWindowExposed(&t.view));
    const QRect label = t.view.visualRect(t.view.indexFromNode(t.b));
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, QPoint(label.right() - 2, label.center().y()));
    QCOMPARE(t.view.CurrentTreeItem(), t.b);
    QCOMPARE(t.model.GetCheck(t.b), CheckState::Unchecked);  // a label click does not toggle
    // Empty space: no item.
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, QPoint(5, t.view.viewport()->height() - 3));
    QCOMPARE(t.view.CurrentTreeItem(), kNoTreeNode);
}

void TreeClassTest::highlightFromWorker() {
    ClickTree t;
    std::thread worker([&] { t.view.SetItemHighlight(t.b); });  // the partition search's thread
    worker.join();
    QVERIFY(SpinUntil([&] { return t.view.indexFromNode(t.b).data(Qt::ForegroundRole).isValid(); }));
    QCOMPARE(t.view.indexFromNode(t.b).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 128, 0));
    QVERIFY(!t.view.indexFromNode(t.a).data(Qt::ForegroundRole).isValid());
}

// The image list belongs to the view: set before a model or kept across a
// change of model, the items show their icons.
void TreeClassTest::iconsSurviveAModelSwap() {
    QPixmap red(16, 16), blue(16, 16);
    red.fill(Qt::red);
    blue.fill(Qt::blue);
    TreeModel models[2];  // outlive the view, whatever fails
    CTreeClass view;
    view.setImageList({QIcon(red), QIcon(blue)});
    for (TreeModel& model : models) {
        TreeNodeInit init = Boxed("item");
        init.image = 1;
        model.InsertChild(kNoTreeNode, init);
        view.setTreeModel(&model);
        view.itemModel()->publishChanges();
        const QVariant icon = view.itemModel()->index(0, 0).data(Qt::DecorationRole);
        QVERIFY2(icon.canConvert<QIcon>() && !icon.value<QIcon>().isNull(), "the item shows its icon");
        QCOMPARE(icon.value<QIcon>().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
    }
}

QTEST_MAIN(TreeClassTest)
#include "tree_class_test.moc"
