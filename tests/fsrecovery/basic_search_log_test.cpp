// The Basic Search dialog's scan log and Open, on the fixture disk image:
// Save Log after a scan, then a fresh dialog loads the log (pending, as the
// command line or the main window hands it over, and with its own Load Log)
// and shows the scanned tree and files; a garbage log gives the invalid-log
// message and the dialog stays usable; Back and Close ask to save the log
// and stay when it is not written; a double click and Open on a file row
// (of each file system of the disk) open a byte-identical copy (the
// desktop's opener replaced by one that records the path), the copy is
// reused, and gone after the exit clean-up.
#include "app/message_dialog.h"
#include "app/start_up.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "base/program_state.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/basic_search_view.h"
#include "platform/device_registry.h"
#include "results/file_list_columns.h"
#include "results/file_list_view.h"
#include "results/open_single_file_dialog.h"
#include "results/scan_log_dialog.h"
#include "fsrecovery/scan_log_jobs.h"
#include "support/fixtures.h"
#include "support/gui_support.h"
#include "support/session_support.h"
#include "../e2e/sha256.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

using namespace torvane;

namespace {

namespace fs = std::filesystem;

using test::BoxAnswerer;

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class BasicSearchLogTest : public QObject {
    Q_OBJECT

private:
    int diskNumber_ = -1;
    std::vector<test::ManifestEntry> manifest_;
    BoxAnswerer* answerer_ = nullptr;
    test::TempDir dir_;
    test::TempDir tempParent_;
    std::vector<std::string> scannedTree_;
    std::vector<std::string> scannedRoot_;
    fs::path log_;
    QStringList opened_;

    std::unique_ptr<CBasicSearch> NewDialog()
    {
        auto dialog = std::make_unique<CBasicSearch>();
        CDriveTreeView* panel = dialog->DrivePanel();
        test::PrepareDrivePanel(panel);
        dialog->resize(1100, 720);
        dialog->show();
        return dialog;
    }

    // A dialog with its drive tree listed and the fixture's partition of
    // file system `fs` scanned.
    std::unique_ptr<CBasicSearch> ScannedDialog(const std::string& fs = "FAT32")
    {
        auto dialog = NewDialog();
        CDriveTreeView* panel = dialog->DrivePanel();
        QSignalSpy refreshed(panel, &CDriveTreeView::refreshFinished);
        panel->RefreshDriveTree();
        if (!refreshed.wait(20000))
            return nullptr;
        DriveInventory& inv = *panel->Inventory();
        const TreeNodeId diskItem = FindDiskTreeItem(inv, diskNumber_, inv.PhysicalDrivesItem);
        TreeNodeId part = kNoTreeNode;
        if (diskItem != kNoTreeNode)
            for (TreeNodeId c = inv.Tree.FirstChild(diskItem); c != kNoTreeNode && part == kNoTreeNode;
                 c = inv.Tree.NextSibling(c))
                if (inv.Tree.Text(c).find("( " + fs + " )") != std::string::npos)
                    part = c;
        if (part == kNoTreeNode)
            return nullptr;
        panel->Tree()->itemModel()->publishChanges();
        panel->Tree()->SelectItem(part);
        QCoreApplication::processEvents();
        CBasicSearchView* view = dialog->SearchView();
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ScanNowButton()->click();
        if (!finished.wait(60000) || (listed.isEmpty() && !listed.wait(20000)))
            return nullptr;
        // The end-of-search box answered.
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 20000))
            return nullptr;
        return dialog;
    }

    // The rows the list shows, by name.
    std::map<std::string, int> Rows(CBasicSearchView* view)
    {
        std::map<std::string, int> rows;
        ListRowModel& list = view->FileList()->Rows();
        for (int r = 0; r < list.RowCount(); ++r)
            rows[list.Cell(r, kListName)] = r;
        return rows;
    }

    std::vector<std::string> RootRows(CBasicSearchView* view)
    {
        std::vector<std::string> out;
        ListRowModel& list = view->FileList()->Rows();
        for (int r = 0; r < list.RowCount(); ++r)
            out.push_back(list.Cell(r, kListName) + "|" + list.Cell(r, kListType) + "|" + list.Cell(r, kListSize));
        return out;
    }

    // Lists `item` through a click in the results tree.
    bool List(CBasicSearchView* view, TreeNodeId item)
    {
        if (view->ResultsTree()->SelectedItem() == item)
            return true;   // listed already
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ResultsTree()->itemModel()->publishChanges();
        view->ResultsTree()->SelectItem(item);
        return !listed.isEmpty() || listed.wait(20000);
    }

private slots:
    void initTestCase()
    {
        ProgramState::Instance().RecoveryMode = kModeBasic;
        DeviceRegistry::Instance().SetSysfsRoot("");
        diskNumber_ = DeviceRegistry::Instance().AddImage(test::FixtureImage("mbr.img").string(), false);
        QVERIFY(diskNumber_ >= 0);
        manifest_ = test::ManifestOfPartition(test::LoadManifest("mbr.img"), 1);
        QVERIFY(!manifest_.empty());
        TemporaryExtractFolder::Instance().SetParentForTests(tempParent_.path().string());
        SetShellOpenFileFunction([this](const QString& path) {
            opened_ << path;
            return true;
        });
        answerer_ = new BoxAnswerer;
        log_ = dir_.path() / "basic.VQL";
    }

    void cleanupTestCase()
    {
        delete answerer_;
        SetShellOpenFileFunction({});
        SetScanLogSavePathFunction({});
        SetScanLogOpenPathFunction({});
    }

    void init()
    {
        answerer_->texts.clear();
        answerer_->dialogs.clear();
        answerer_->sayNo = false;
        ProgramState::Instance().PendingScanLogPath.Clear();
    }

    // Save Log writes the log; the results are then logged and Back asks nothing.
    void saveLogWritesTheLog()
    {
        auto dialog = ScannedDialog();
        QVERIFY(dialog);
        CBasicSearchView* view = dialog->SearchView();
        scannedTree_ = test::DescribeTree(view->Results());
        QVERIFY(scannedTree_.size() > 3);
        QVERIFY(List(view, view->Results().Tree().RootItem()));
        scannedRoot_ = RootRows(view);
        QVERIFY(!scannedRoot_.empty());

        // Cancelled: nothing written, not logged.
        SetScanLogSavePathFunction([](QWidget*) { return QString(); });
        view->SaveLogButton()->click();
        QVERIFY(!fs::exists(log_));
        QVERIFY(!view->ResultsInScanLog());

        QString asked;
        SetScanLogSavePathFunction([this](QWidget*) { return Q(log_.string()); });
        QSignalSpy saved(view, &CBasicSearchView::logSaved);
        view->SaveLogButton()->click();
        QVERIFY(!saved.isEmpty() || saved.wait(20000));
        SetScanLogSavePathFunction({});
        QVERIFY(fs::is_regular_file(log_));
        QVERIFY(view->ResultsInScanLog());
        QVERIFY2(answerer_->texts.contains(QString::fromLatin1(kScanLogSavedText)),
                 qPrintable(answerer_->texts.join(" | ")));

        // Logged: Back goes straight to the drive view.
        answerer_->texts.clear();
        view->OnBack();
        QCOMPARE(view->BasicScanCount(), 0u);
        QVERIFY(answerer_->texts.isEmpty());
        QVERIFY(view->LoadLogButton()->isVisible());
        view->StopRunningWork();
    }

    // A pending log (the command line, the main window's Load Log) is loaded
    // by the dialog as soon as it runs.
    void aPendingLogLoadsIntoAFreshDialog()
    {
        QVERIFY(fs::exists(log_));
        auto dialog = NewDialog();
        CBasicSearchView* view = dialog->SearchView();
        QSignalSpy loaded(view, &CBasicSearchView::logLoaded);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        ProgramState::Instance().PendingScanLogPath.Set(log_.string());
        dialog->FillDriveTree(nullptr);
        QVERIFY(loaded.wait(30000));
        QVERIFY(ProgramState::Instance().PendingScanLogPath.Empty());
        QCOMPARE(view->BasicScanCount(), SearchSession::kLoadedFromLogState);
        QVERIFY(view->ResultsInScanLog());
        QVERIFY2(answerer_->texts.contains(QString::fromLatin1(kScanLogLoadedText)),
                 qPrintable(answerer_->texts.join(" | ")));
        QCOMPARE(test::DescribeTree(view->Results()), scannedTree_);
        QVERIFY(view->ResultsTree()->isVisible());
        QVERIFY(view->SaveDataButton()->isVisible());
        QVERIFY(!view->LoadLogButton()->isVisible());
        // The root is selected and its files listed, as after the scan.
        QVERIFY(!listed.isEmpty() || listed.wait(20000));
        QCOMPARE(RootRows(view), scannedRoot_);
        QVERIFY(!view->DescriptionLabel()->text().isEmpty());

        // Loaded from a log: Back asks nothing; Load Log is refused now.
        view->OnLoadLog();
        QCOMPARE(view->BasicScanCount(), SearchSession::kLoadedFromLogState);
        answerer_->texts.clear();
        view->OnBack();
        QCOMPARE(view->BasicScanCount(), 0u);
        QVERIFY(answerer_->texts.isEmpty());
        view->StopRunningWork();
    }

    // A garbage, empty or cut log: the invalid-log message and back to the
    // drive view; the same dialog then loads a good log with its Load Log.
    void aBadLogIsInvalidAndTheDialogStaysUsable()
    {
        QVERIFY(fs::exists(log_));
        std::string good;
        {
            std::ifstream in(log_, std::ios::binary);
            good.assign(std::istreambuf_iterator<char>(in), {});
        }
        auto dialog = NewDialog();
        CBasicSearchView* view = dialog->SearchView();
        const QString invalid = Q(ProgramState::Instance().Messages.InvalidScanLogText);
        int n = 0;
        for (const std::string& bytes : {std::string(), std::string("garbage, not a log\n"), good.substr(0, 40)}) {
            const fs::path bad = dir_.path() / ("bad" + std::to_string(n++) + ".VQL");
            std::ofstream(bad, std::ios::binary) << bytes;
            answerer_->texts.clear();
            SetScanLogOpenPathFunction([bad](QWidget*) { return Q(bad.string()); });
            QSignalSpy loaded(view, &CBasicSearchView::logLoaded);
            view->LoadLogButton()->click();
            QVERIFY(loaded.wait(20000));
            QVERIFY2(answerer_->texts.contains(invalid), qPrintable(answerer_->texts.join(" | ")));
            QCOMPARE(view->BasicScanCount(), 0u);
            QVERIFY(view->ScanNowButton()->isVisible());
            QVERIFY(view->LoadLogButton()->isVisible());
            QVERIFY(dialog->isEnabled());
        }
        // The same dialog takes a good log.
        SetScanLogOpenPathFunction([this](QWidget*) { return Q(log_.string()); });
        QSignalSpy loaded(view, &CBasicSearchView::logLoaded);
        view->LoadLogButton()->click();
        SetScanLogOpenPathFunction({});
        QVERIFY(loaded.wait(30000));
        QCOMPARE(test::DescribeTree(view->Results()), scannedTree_);
        view->StopRunningWork();
    }

    // Back and Close with results that are in no log offer to save one; a
    // log that is not written keeps the dialog as it is.
    void backAndCloseAskToSaveTheLog()
    {
        auto dialog = ScannedDialog();
        QVERIFY(dialog);
        CBasicSearchView* view = dialog->SearchView();
        // Close, "Save before Exit" (the answerer accepts), the file dialog cancelled: stay.
        SetScanLogSavePathFunction([](QWidget*) { return QString(); });
        QVERIFY(!view->ConfirmClose());
        QVERIFY(answerer_->dialogs.contains(QStringLiteral("torvane::CExit_Confirmation")));
        // Back, Yes, cancelled: stay.
        view->OnBack();
        QCOMPARE(view->BasicScanCount(), 1u);
        // Back, Yes, written: the drive view.
        const fs::path path = dir_.path() / "from-back.VQL";
        SetScanLogSavePathFunction([path](QWidget*) { return Q(path.string()); });
        view->OnBack();
        SetScanLogSavePathFunction({});
        QVERIFY(fs::is_regular_file(path));
        QCOMPARE(view->BasicScanCount(), 0u);
        view->StopRunningWork();
    }

    // On every file system: a double click on a live file of the root or of
    // a folder below it opens a byte-identical copy.
    void doubleClickOpensAFileOfEachFileSystem_data()
    {
        QTest::addColumn<int>("partition");
        QTest::addColumn<QString>("fs");
        QTest::newRow("FAT32") << 1 << QStringLiteral("FAT32");
        QTest::newRow("NTFS") << 2 << QStringLiteral("NTFS");
        QTest::newRow("FAT16") << 5 << QStringLiteral("FAT16");
        QTest::newRow("exFAT") << 6 << QStringLiteral("exFAT");
    }

    void doubleClickOpensAFileOfEachFileSystem()
    {
        QFETCH(int, partition);
        QFETCH(QString, fs);
        auto dialog = ScannedDialog(fs.toStdString());
        QVERIFY(dialog);
        CBasicSearchView* view = dialog->SearchView();
        TreeModel& tree = view->Results().Tree();
        const TreeNodeId root = tree.RootItem();
        std::map<std::string, TreeNodeId> folders{{"", root}};
        for (TreeNodeId n = tree.FirstChild(root); n != kNoTreeNode; n = tree.NextSibling(n))
            folders["/" + tree.Text(n)] = n;
        int opened = 0;
        for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest("mbr.img"), partition)) {
            if (e.state != "live" || !e.HasContent() || e.size == 0 || opened >= 3)
                continue;
            const std::string folder = e.path.substr(0, e.path.rfind('/'));
            if (!folders.count(folder))
                continue;
            QVERIFY(List(view, folders[folder]));
            auto rows = Rows(view);
            const std::string name = e.path.substr(e.path.rfind('/') + 1);
            QVERIFY2(rows.count(name), e.path.c_str());
            opened_.clear();
            QSignalSpy done(view, &CBasicSearchView::fileOpened);
            emit view->FileList()->doubleClicked(
                view->FileList()->model()->index(view->FileList()->viewRow(rows[name]), 0));
            QVERIFY(!done.isEmpty() || done.wait(20000));
            QCOMPARE(opened_.size(), 1);
            QVERIFY2(test::Sha256OfFile(opened_.front().toStdString()) == e.sha256, e.path.c_str());
            ++opened;
        }
        QVERIFY(opened > 0);
        view->StopRunningWork();
    }

    // A double click on a file row, and Open, copy the file and hand the
    // copy to the desktop; a double click on a folder row opens the folder.
    void doubleClickAndOpenOpenAByteIdenticalCopy()
    {
        auto dialog = ScannedDialog();
        QVERIFY(dialog);
        CBasicSearchView* view = dialog->SearchView();
        TreeModel& tree = view->Results().Tree();
        const TreeNodeId root = tree.RootItem();
        TreeNodeId documents = tree.FindChild(root, "Documents");
        QVERIFY(documents != kNoTreeNode);

        // The folder row of the root's list opens the folder.
        QVERIFY(List(view, root));
        auto rows = Rows(view);
        QVERIFY(rows.count("Documents"));
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        auto viewIndex = [view](int row) {
            return view->FileList()->model()->index(view->FileList()->viewRow(row), 0);
        };
        emit view->FileList()->doubleClicked(viewIndex(rows["Documents"]));
        QVERIFY(!listed.isEmpty() || listed.wait(20000));
        QCOMPARE(view->ResultsTree()->SelectedItem(), documents);

        // A live file of the folder.
        const test::ManifestEntry* file = nullptr;
        for (const auto& e : manifest_)
            if (e.state == "live" && e.path.rfind("/Documents/", 0) == 0 && e.path.find('/', 11) == std::string::npos &&
                e.size > 0)
                file = &e;
        QVERIFY(file);
        const std::string name = file->path.substr(11);
        rows = Rows(view);
        QVERIFY2(rows.count(name), name.c_str());
        opened_.clear();
        QSignalSpy done(view, &CBasicSearchView::fileOpened);
        emit view->FileList()->doubleClicked(viewIndex(rows[name]));
        QVERIFY(!done.isEmpty() || done.wait(20000));
        QCOMPARE(opened_.size(), 1);
        const QString copy = opened_.front();
        QVERIFY(copy.startsWith(Q(TemporaryExtractFolder::Instance().Path())));
        QVERIFY(QFileInfo(copy).fileName().startsWith(QStringLiteral("KZUC")));
        QCOMPARE(test::Sha256OfFile(copy.toStdString()), file->sha256);
        QVERIFY(view->OpenFileWindow() == nullptr);
        QVERIFY(dialog->isEnabled());

        // Open of the selected row opens the same copy again.
        view->FileList()->selectRow(view->FileList()->viewRow(rows[name]));
        QSignalSpy again(view, &CBasicSearchView::fileOpened);
        view->OnOpenFile();
        QVERIFY(!again.isEmpty() || again.wait(20000));
        QCOMPARE(opened_.size(), 2);
        QCOMPARE(opened_.back(), copy);

        // The copies are this run's own: a private folder only its user reads.
        const fs::path folder = fs::path(copy.toStdString()).parent_path();
        QCOMPARE(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        QCOMPARE(folder.parent_path(), tempParent_.path());

        // The exit sequence's clean-up removes them, and nothing else: a
        // file of another program beside the folder stays.
        const fs::path foreign = tempParent_.path() / "xKZUC1.txt";
        std::ofstream(foreign) << "not ours";
        view->StopRunningWork();
        DeleteTempExtractedFiles();
        QVERIFY(!QFileInfo::exists(copy));
        QVERIFY(!fs::exists(folder));
        QVERIFY(fs::exists(foreign));
    }
};

QTEST_MAIN(BasicSearchLogTest)
#include "basic_search_log_test.moc"
