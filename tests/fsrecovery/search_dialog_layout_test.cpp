// The search dialogs on small screens: the Deep Search with its sector range
// group fits a 1024x600 screen with every button in sight.
#include "app/search_dialog.h"
#include "app/ui/scroll_helper.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "base/program_state.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/deep_search_dialog.h"
#include "fsrecovery/deep_search_view.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <cstdlib>

using namespace torvane;

namespace {

// The part of `w` the user sees inside `dialog` without scrolling.
bool WhollyInSight(QWidget* w, QWidget* dialog)
{
    if (w == nullptr || !w->isVisible())
        return false;
    const QRect in(w->mapTo(dialog, QPoint(0, 0)), w->size());
    return dialog->rect().contains(in);
}

}  // namespace

class SearchDialogLayoutTest : public QObject {
    Q_OBJECT

private:
    int diskNumber_ = -1;

private slots:
    void initTestCase()
    {
        ProgramState::Instance().RecoveryMode = kModeDeep;
        DeviceRegistry::Instance().SetSysfsRoot("");
        std::string error;
        DevicePtr disk = OpenFileDevice(test::FixtureImage("mbr.img").string(), &error);
        QVERIFY2(disk != nullptr, error.c_str());
        diskNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(disk);
        QVERIFY(diskNumber_ >= 0);
    }

    // The Deep Search with a disk selected (its sector range group shown) in
    // the sizes the dialog takes on 1024x600 and 1280x800 screens: no bar,
    // every button and the whole range group in sight.
    void deepDialogFitsTheScreen_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1024x600") << QSize(1004, 560);
        QTest::newRow("1280x800") << QSize(980, 640);
    }

    void deepDialogFitsTheScreen()
    {
        QFETCH(QSize, size);
        auto dialog = std::make_unique<CDeepSearch>();
        CDriveTreeView* panel = dialog->DrivePanel();
        panel->SetDeviceEventSource(std::make_unique<ManualDeviceEventSource>());
        panel->SetShowLogicalNote(false);
        panel->SetInventoryBuilder([](int mode, bool withLogical) {
            auto inv = std::make_shared<DriveInventory>();
            inv->RecoveryMode = mode;
            DriveRefreshOptions options;
            options.WithLogicalDrives = withLogical;
            options.RefreshRegistry = false;
            options.Logical.MountInfoPath = "/nonexistent/mountinfo";
            BuildDriveInventory(*inv, DeviceRegistry::Instance(), options);
            return inv;
        });
        dialog->resize(size);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QSignalSpy done(panel, &CDriveTreeView::refreshFinished);
        panel->RefreshDriveTree();
        QVERIFY(done.wait(20000));
        DriveInventory& inv = *panel->Inventory();
        const TreeNodeId disk = FindDiskTreeItem(inv, diskNumber_, inv.PhysicalDrivesItem);
        QVERIFY(disk != kNoTreeNode);
        panel->Tree()->itemModel()->publishChanges();
        panel->Tree()->SelectItem(disk);
        QCoreApplication::processEvents();
        QTRY_VERIFY(dialog->DeepView()->RangeGroup()->isVisible());
        QCoreApplication::processEvents();
        if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR"))
            dialog->grab().save(QStringLiteral("%1/deep-fit-%2x%3.png").arg(QString::fromLocal8Bit(dir)).arg(size.width()).arg(size.height()));

        QScrollArea* area = dialog->GetScrollHelper()->Area();
        QVERIFY2(!area->verticalScrollBar()->isVisible(),
                 qPrintable(QStringLiteral("content %1 high in a %2 high dialog")
                                .arg(dialog->GetScrollHelper()->Content()->height())
                                .arg(dialog->height())));
        QVERIFY(!area->horizontalScrollBar()->isVisible());
        for (const char* name : {"BackButton", "AboutButton", "HelpManualButton", "SupportButton", "ScanNowButton",
                                 "LoadLogButton", "SectorRangeGroup", "FileSystemCombo", "RefreshDriveList",
                                 "SearchMorePartitions"})
            QVERIFY2(WhollyInSight(dialog->findChild<QWidget*>(QString::fromLatin1(name)), dialog.get()), name);
        // The drive tree keeps room for a few rows.
        QVERIFY(panel->Tree()->height() >= 60);

        // Smaller than its content needs, the dialog still scrolls.
        dialog->resize(size.width(), 320);
        QTRY_VERIFY(area->verticalScrollBar()->isVisible());
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QCoreApplication::processEvents();
        QVERIFY(WhollyInSight(dialog->findChild<QWidget*>(QStringLiteral("BackButton")), dialog.get()));
    }
};

QTEST_MAIN(SearchDialogLayoutTest)
#include "search_dialog_layout_test.moc"
