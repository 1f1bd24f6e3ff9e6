// The search dialogs as the user first sees them: the Deep Search with its
// sector range group fits a 1024x600 screen with every button in sight; a
// Deep scan log opened as from the command line, on a machine with a disk
// that cannot be read, shows one box at a time (the disk note, then the
// loaded note) and its results without the drive row's placeholder, the
// file list keeping the larger share of the width.
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
#include "fsrecovery/scan_log_jobs.h"
#include "fsrecovery/search_session.h"
#include "results/scan_log_dialog.h"
#include "scan_log_test_support.h"
#include "platform/device_registry.h"
#include "support/gui_support.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
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
    bool deniedDisk_ = false;   // the drive list tells of a disk that cannot be read

    std::unique_ptr<CDeepSearch> MakeDialog()
    {
        auto dialog = std::make_unique<CDeepSearch>();
        CDriveTreeView* panel = dialog->DrivePanel();
        test::PrepareDrivePanel(panel);
        panel->SetInventoryBuilder([this](int mode, bool withLogical) {
            auto inv = test::RegistryInventory(mode, withLogical);
            if (deniedDisk_)
                inv->AccessDeniedDisks = {97};
            return inv;
        });
        return dialog;
    }

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
        auto dialog = MakeDialog();
        CDriveTreeView* panel = dialog->DrivePanel();
        dialog->resize(size);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QVERIFY(test::RefreshDrives(panel));
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

    void deepLogFromTheCommandLineShowsOneBoxAtATime()
    {
        // A Deep scan log of the disk's FAT32 partition.
        std::optional<CurrentPartition> p =
            test::FixtureDiskPartition(test::LoggedFixture{"mbr.img", 1, "FAT32"}, diskNumber_);
        QVERIFY(p);
        p->Descriptor.ModeText = "Deep Search";
        p->RecoveryMode = 2;
        test::TempDir dir;
        ScanLogSaveRequest save;
        save.path = dir.path() / "deep.VQL";
        {
            SearchSession scanned(2);
            QVERIFY(scanned.RunDeepScanHere(*p));
            save.source = test::FixtureFacts(scanned.Partition());
            QVERIFY(scanned.RunSaveLogHere(save));
        }

        // The boxes on screen, read as the user would: how many at once, in
        // which order; each is answered a moment after it shows.
        QStringList texts;
        int mostAtOnce = 0;
        QTimer watch;
        watch.setInterval(20);
        QPointer<QMessageBox> current;
        int shownFor = 0;
        connect(&watch, &QTimer::timeout, this, [&] {
            QList<QMessageBox*> open;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                    open << box;
            mostAtOnce = std::max(mostAtOnce, static_cast<int>(open.size()));
            if (open.isEmpty())
                return;
            if (open.front() != current) {
                current = open.front();
                shownFor = 0;
                texts << current->text();
            }
            if (++shownFor == 10)
                current->accept();
        });
        watch.start();

        deniedDisk_ = true;
        SetDeepSearchLoadsScanLogs(true);
        ProgramState::Instance().RecoveryMode = kModeDeep;
        ProgramState::Instance().PendingScanLogPath.Set(save.path.string());
        auto dialog = MakeDialog();
        dialog->resize(980, 640);
        dialog->show();
        QSignalSpy loaded(dialog->DeepView(), &CBasicSearchView::logLoaded);
        dialog->BeginSession(nullptr);   // as the program opens it for a log: the drive list is built anew
        QVERIFY(loaded.wait(30000));
        QTRY_VERIFY_WITH_TIMEOUT(texts.size() >= 2 && (current.isNull() || !current->isVisible()), 10000);
        deniedDisk_ = false;
        if (const char* shots = std::getenv("TORVANE_SCREENSHOT_DIR"))
            dialog->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/deep-log-opened.png"));

        QCOMPARE(mostAtOnce, 1);
        QCOMPARE(texts.size(), 2);
        QVERIFY2(texts[0].startsWith(QString::fromLatin1(kDiskPermissionMessage).left(20)), qPrintable(texts[0]));
        QCOMPARE(texts[1], QString::fromLatin1(kScanLogLoadedText));
        // The results, without the drive row's placeholder above them.
        QVERIFY(dialog->DeepView()->ResultsTree()->isVisible());
        // The file list keeps the larger share of the width beside the full tree.
        QWidget* tree = dialog->DeepView()->ResultsTree();
        QVERIFY2(tree->width() < tree->parentWidget()->width() / 2,
                 qPrintable(QStringLiteral("%1 of %2").arg(tree->width()).arg(tree->parentWidget()->width())));
        for (const char* name : {"PlaceholderPanel", "DriveTreeArea", "PropertyList"}) {
            auto* w = dialog->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(w && !w->isVisible(), name);
        }
        dialog->DeepView()->StopRunningWork();
    }
};

QTEST_MAIN(SearchDialogLayoutTest)
#include "search_dialog_layout_test.moc"
