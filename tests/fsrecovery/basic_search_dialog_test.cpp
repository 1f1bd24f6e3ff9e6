// The Basic Search dialog end to end on the fixture disk image: select the
// FAT32 partition, Scan Now, wait for the result, and compare the folder tree
// and the file rows of several folders (names, sizes, deleted marks) with the
// image's manifest; Save Data with the whole tree ticked runs through the
// destination, counting and saving dialogs to the completion dialog and
// writes the live files byte for byte; then Stop in the middle of a
// slowed-down scan keeps the folders found so far. With TORVANE_SCREENSHOT_DIR set the dialog with its
// results is saved as a picture there.
#include "base/program_state.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "disk/property_table_view.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/basic_search_view.h"
#include "platform/device_registry.h"
#include "results/file_list_columns.h"
#include "results/file_list_view.h"
#include "results/open_export_folder_dialog.h"
#include "results/save_browse_dialog.h"
#include "results/save_session.h"
#include "results/scan_log_dialog.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/gui_support.h"
#include "../e2e/sha256.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

using namespace torvane;

namespace {

using test::BoxAnswerer;

std::string PathOf(const TreeModel& tree, TreeNodeId n)
{
    std::string path;
    for (; n != kNoTreeNode && tree.Parent(n) != kNoTreeNode; n = tree.Parent(n))
        path = "/" + tree.Text(n) + path;
    return path;
}

struct Row {
    std::string type;
    std::uint64_t size = 0;
    bool deleted = false;
};

}  // namespace

class BasicSearchDialogTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<test::SlowDevice> disk_;
    int diskNumber_ = -1;
    std::vector<test::ManifestEntry> manifest_;
    BoxAnswerer* answerer_ = nullptr;

    std::unique_ptr<CBasicSearch> OpenDialog()
    {
        auto dialog = std::make_unique<CBasicSearch>();
        CDriveTreeView* panel = dialog->DrivePanel();
        test::PrepareDrivePanel(panel);
        dialog->SearchView()->SetInterimInterval(std::chrono::milliseconds(200));
        dialog->resize(1100, 720);
        dialog->show();
        if (!test::RefreshDrives(panel))
            return nullptr;
        return dialog;
    }

    // The first partition of the test disk, selected in the drive tree.
    bool SelectPartition(CBasicSearch& dialog)
    {
        CDriveTreeView* panel = dialog.DrivePanel();
        DriveInventory& inv = *panel->Inventory();
        TreeNodeId diskItem = FindDiskTreeItem(inv, diskNumber_, inv.PhysicalDrivesItem);
        if (diskItem == kNoTreeNode)
            return false;
        TreeNodeId part = inv.Tree.FirstChild(diskItem);
        if (part == kNoTreeNode)
            return false;
        panel->Tree()->itemModel()->publishChanges();
        panel->Tree()->SelectItem(part);
        QCoreApplication::processEvents();
        return panel->LastSelection().NodeKindText == "part";
    }

    std::map<std::string, Row> ListFolder(CBasicSearch& dialog, TreeNodeId item)
    {
        CBasicSearchView* view = dialog.SearchView();
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ResultsTree()->itemModel()->publishChanges();
        view->ResultsTree()->SelectItem(item);
        if (listed.isEmpty())
            listed.wait(20000);
        std::map<std::string, Row> rows;
        ListRowModel& list = view->FileList()->Rows();
        for (int r = 0; r < list.RowCount(); ++r) {
            Row row;
            row.type = list.Cell(r, kListType);
            row.size = std::stoull("0" + list.Cell(r, kListSize));
            row.deleted = (list.RowData(r) & kRowDeletedBit) != 0;
            rows[list.Cell(r, kListName)] = row;
        }
        return rows;
    }

private slots:
    void initTestCase()
    {
        ProgramState::Instance().RecoveryMode = kModeBasic;
        DeviceRegistry::Instance().SetSysfsRoot("");
        std::string error;
        DevicePtr image = OpenFileDevice(test::FixtureImage("mbr.img").string(), &error);
        QVERIFY2(image != nullptr, error.c_str());
        disk_ = std::make_shared<test::SlowDevice>(image);
        diskNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(disk_);
        QVERIFY(diskNumber_ >= 0);
        manifest_ = test::ManifestOfPartition(test::LoadManifest("mbr.img"), 1);
        QVERIFY(!manifest_.empty());
        answerer_ = new BoxAnswerer;
    }

    void cleanupTestCase() { delete answerer_; }

    void scanNowListsTheManifest()
    {
        disk_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        QVERIFY(SelectPartition(*dialog));
        CBasicSearchView* view = dialog->SearchView();
        QVERIFY(view->ScanNowButton()->isVisible());
        if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR")) {
            QCoreApplication::processEvents();
            dialog->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/basic-search-drives.png"));
        }

        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ScanNowButton()->click();
        QCOMPARE(view->BasicScanCount(), 1u);
        QVERIFY(!view->ScanNowButton()->isVisible());
        QVERIFY(finished.wait(60000));
        // The root is selected and listed at the end.
        QVERIFY(listed.count() > 0 || listed.wait(20000));
        QVERIFY(view->ResultsTree()->isVisible());
        QVERIFY(view->FileList()->isVisible());
        QVERIFY(!view->StopButton()->isVisible());
        QCOMPARE(view->InstructionLabel()->text().toStdString(), ProgramState::Instance().Messages.SelectFilesToSaveText);
        QVERIFY(view->CounterLabel()->text().startsWith(QStringLiteral("Folder Entries: ")));
        QVERIFY(view->CounterLabel()->text().contains(QStringLiteral(" & File Entries: ")));
        QVERIFY(!view->CounterLabel()->text().contains(QStringLiteral("&&")));

        // Every folder of the manifest is in the tree at its place, once the
        // folders are opened one after the other (an opened folder names its
        // lost sub-folders from its directory entries).
        TreeModel& tree = view->Results().Tree();
        const TreeNodeId root = tree.RootItem();
        QCOMPARE(tree.Text(root), std::string("Root"));
        for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root))
            ListFolder(*dialog, n);
        std::map<std::string, TreeNodeId> folders{{"", root}};
        for (TreeNodeId n = tree.NextPreOrder(root, root); n != kNoTreeNode; n = tree.NextPreOrder(n, root))
            folders[PathOf(tree, n)] = n;
        for (const auto& e : manifest_)
            if (e.IsDir())
                QVERIFY2(folders.count(e.path), e.path.c_str());

        // Folders clicked in the tree list their files, deleted ones marked.
        int files = 0, deleted = 0;
        for (const std::string folder : {"", "/Documents", "/Fotos Sommer 2024", "/Sizes", "/Alter Ordner",
                                         "/Alter Ordner/Unterordner"}) {
            QVERIFY2(folders.count(folder), folder.c_str());
            const auto rows = ListFolder(*dialog, folders[folder]);
            for (const auto& e : manifest_) {
                const auto slash = e.path.rfind('/');
                if (e.path.substr(0, slash) != folder)
                    continue;
                const std::string name = e.path.substr(slash + 1);
                auto it = rows.find(name);
                if (it == rows.end() && e.IsDeleted())
                    it = rows.find("_" + name.substr(1));   // a deleted short name lost its first letter
                QVERIFY2(it != rows.end(), e.path.c_str());
                QCOMPARE(it->second.deleted, e.IsDeleted());
                if (e.IsDir()) {
                    QCOMPARE(it->second.type, std::string("FOLDER"));
                } else {
                    QCOMPARE(it->second.size, e.size);
                    ++files;
                    deleted += e.IsDeleted() ? 1 : 0;
                }
            }
        }
        QVERIFY(files > 10);
        QVERIFY(deleted >= 3);

        // The dialog with its results, for a look.
        ListFolder(*dialog, folders["/Fotos Sommer 2024"]);
        if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR")) {
            QCoreApplication::processEvents();
            dialog->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/basic-search-results.png"));
        }

        // A second Scan Now while results show does nothing.
        view->OnScanNow();
        QCOMPARE(view->BasicScanCount(), 1u);
        // Back, answered Yes to the scan-log question, and the file dialog
        // cancelled: no log, so the results stay.
        SetScanLogSavePathFunction([](QWidget*) { return QString(); });
        view->OnBack();
        SetScanLogSavePathFunction({});
        QCOMPARE(view->BasicScanCount(), 1u);
        QVERIFY(view->ResultsTree()->isVisible());
        // "No": the results are dropped and the drive view comes back.
        answerer_->sayNo = true;
        view->OnBack();
        answerer_->sayNo = false;
        QCOMPARE(view->BasicScanCount(), 0u);
        QVERIFY(!view->ResultsTree()->isVisible());
        QVERIFY(dialog->DrivePanel()->PropertyList()->isVisible());
        QVERIFY(view->ScanNowButton()->isVisible());
        QCOMPARE(view->Results().Tree().NodeCount(), std::size_t(0));
        QCOMPARE(view->FileList()->Rows().RowCount(), 0);
        view->StopRunningWork();
    }

    // Save Data with the whole results tree ticked: the destination dialog
    // (Browse to a fresh folder, OK), the counting and saving dialogs left to
    // run, and the completion dialog with "Open Containing Folder" ticked.
    void saveDataRunsToTheCompletionDialog()
    {
        disk_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        QVERIFY(SelectPartition(*dialog));
        CBasicSearchView* view = dialog->SearchView();
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ScanNowButton()->click();
        QVERIFY(finished.wait(60000));
        QVERIFY(listed.count() > 0 || listed.wait(20000));
        // The end-of-search box answered and gone.
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 60000);

        // The box click on the root ticks the whole tree.
        TreeModel& tree = view->Results().Tree();
        const TreeNodeId root = tree.RootItem();
        QVERIFY(root != kNoTreeNode);
        view->ResultsTree()->ToggleCheck(root);
        QCOMPARE(tree.GetCheck(root), CheckState::Checked);

        test::TempDir dir;
        const std::filesystem::path dest = dir.path() / "recovered";
        QStringList opened, messages, seen;
        QString completion, completionOwner;
        bool openTicked = false;
        SetBrowseForFolderFunction([&](QWidget*) { return QString::fromStdString(dest.string()); });
        SetOpenFolderFunction([&](QWidget*, const QString& folder) { opened << folder; });
        // The counting and saving dialogs run by themselves; the destination
        // and completion dialogs are answered as a user would.
        answerer_->SetHandler([&](QWidget* w) {
            if (!seen.contains(w->objectName()))
                seen << w->objectName();
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                messages << box->text();
                box->accept();
            } else if (w->objectName() == QStringLiteral("CSaveBrowse")) {
                auto* browse = w->findChild<QPushButton*>(QStringLiteral("Browse"));
                auto* ok = w->findChild<QPushButton*>(QStringLiteral("OK"));
                if (browse && ok) {
                    browse->click();
                    ok->click();
                }
            } else if (auto* done = qobject_cast<Open_Export_Folder*>(w)) {
                completion = done->Text();
                completionOwner = done->parentWidget() ? done->parentWidget()->objectName() : QString();
                openTicked = done->OpenFolderBox()->isVisible() && done->OpenFolderBox()->isChecked() &&
                             done->OpenFolderBox()->text() == QStringLiteral("Open Containing Folder");
                if (auto* ok = done->findChild<QPushButton*>(QStringLiteral("OK")))
                    ok->click();
            }
        });
        struct Restore {
            BoxAnswerer* a;
            ~Restore()
            {
                a->handler = nullptr;
                SetBrowseForFolderFunction({});
                SetOpenFolderFunction({});
            }
        } restore{answerer_};

        auto* save = dialog->findChild<QPushButton*>(QStringLiteral("SaveDataButton"));
        QVERIFY(save);
        QCOMPARE(save->text(), QStringLiteral("Save Data"));
        QVERIFY(save->isVisible());
        save->click();   // returns once the completion dialog has closed
        QTRY_VERIFY_WITH_TIMEOUT(!completion.isEmpty(), 60000);

        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QStringLiteral(" | "))));
        QVERIFY2(seen.contains(QStringLiteral("CSaveBrowse")), qPrintable(seen.join(QLatin1Char(' '))));
        // The completion dialog belongs to the saving dialog (which may end
        // too quickly to be seen on its own).
        QCOMPARE(completionOwner, QStringLiteral("CSavingDlg"));
        QVERIFY2(openTicked, qPrintable(completion));
        QCOMPARE(completion, QString::fromLatin1(kSaveSuccessText));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(QDir::cleanPath(opened.front()), QDir::cleanPath(QString::fromStdString(dest.string())));
        QVERIFY(!std::filesystem::exists(dest / "zqsave"));

        // The live files come back byte for byte under the destination.
        int checked = 0;
        for (const auto& e : manifest_) {
            if (!e.HasContent() || e.IsDeleted())
                continue;
            const std::filesystem::path saved = dest / e.path.substr(1);
            QVERIFY2(std::filesystem::is_regular_file(saved), saved.c_str());
            QCOMPARE(std::uint64_t(std::filesystem::file_size(saved)), e.size);
            QVERIFY2(test::Sha256OfFile(saved.string()) == e.sha256, saved.c_str());
            ++checked;
        }
        QVERIFY(checked >= 10);
        view->StopRunningWork();
    }

    void stopKeepsTheFoldersFoundSoFar()
    {
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        QVERIFY(SelectPartition(*dialog));
        CBasicSearchView* view = dialog->SearchView();
        disk_->delayMs = 40;
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QVERIFY(view->ScanRunning());
        QTRY_VERIFY_WITH_TIMEOUT(view->Results().FoundFolderCount.load() >= 3, 60000);
        QVERIFY(view->ScanRunning());
        if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR")) {
            QTest::qWait(600);   // one tick of the counters
            dialog->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/basic-search-scanning.png"));
        }
        TreeModel& tree = view->Results().Tree();
        auto folderCount = [&tree] {
            std::size_t n = 0;
            const TreeNodeId root = tree.RootItem();
            if (root == kNoTreeNode)
                return n;
            for (TreeNodeId c = tree.NextPreOrder(root, root); c != kNoTreeNode; c = tree.NextPreOrder(c, root))
                if (tree.Text(c) != kMiscFolderName)
                    ++n;
            return n;
        };
        // What the interim tree shows when Stop is pressed.
        const std::size_t shownAtStop = folderCount();
        view->OnStop();   // the answerer says Yes
        disk_->delayMs = 0;
        QVERIFY(finished.count() > 0 || finished.wait(60000));
        QVERIFY(!view->ScanRunning());
        // It did stop early: the sweep did not reach the partition's end.
        QVERIFY(view->Results().CurrentScanSector.load() < view->Partition().Descriptor.EndSector);
        // Everything found is placed: at least the directories counted before
        // the stop, and nothing the interim tree showed is lost.
        const std::size_t folders = folderCount();
        QVERIFY2(folders >= 3, std::to_string(folders).c_str());
        QVERIFY2(folders >= shownAtStop, (std::to_string(folders) + " < " + std::to_string(shownAtStop)).c_str());
        QVERIFY(view->ResultsTree()->isVisible());
        view->StopRunningWork();
    }
};

QTEST_MAIN(BasicSearchDialogTest)
#include "basic_search_dialog_test.moc"
