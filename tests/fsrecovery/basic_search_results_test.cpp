// The Basic Search dialog as a user meets it while a scan runs and after:
//   - on the FAT32, NTFS, FAT16 and exFAT partitions of the fixture disk,
//     read through a slowed device, the step and status texts, the sector
//     counter and the progress bar move during the scan, the live list shows
//     what is found, the count of file entries grows and ends at every file
//     entry of the volume, the folder's count line shows once the root is
//     listed, and the range texts of the scan are gone afterwards;
//   - the file list's right-click "Save" writes a deleted FAT32 file beyond
//     cluster 0xFFFF (its entry lost its high word) and a folder row with all
//     it holds; the results tree's "Save" writes a ticked folder.
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "base/program_state.h"
#include "base/text_routines.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/basic_search_view.h"
#include "platform/device_registry.h"
#include "results/file_list_columns.h"
#include "results/file_list_view.h"
#include "results/save_browse_dialog.h"
#include "results/save_session.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/gui_support.h"
#include "support/session_support.h"
#include "../e2e/sha256.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

using namespace torvane;

namespace {

using test::BoxAnswerer;

// `volume` behind an MBR that lists it as one FAT32 (LBA) partition at sector 2048.
std::string AsPartitionedDisk(const std::string& volume)
{
    std::string disk(2048 * 512, '\0');
    auto put32 = [&disk](std::size_t at, std::uint32_t v) { std::memcpy(disk.data() + at, &v, 4); };
    disk[446 + 4] = 0x0C;
    put32(446 + 8, 2048);
    put32(446 + 12, static_cast<std::uint32_t>(volume.size() / 512));
    disk[510] = 0x55;
    disk[511] = static_cast<char>(0xAA);
    return disk + volume;
}

}  // namespace

class BasicSearchResultsTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<test::SlowDevice> disk_;
    int diskNumber_ = -1;
    int highWordDisk_ = -1;
    std::vector<test::ManifestEntry> highWordManifest_;
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

    // Selects the partition of disk `disk` whose listed file system is `fs`.
    bool SelectPartition(CBasicSearch& dialog, int disk, const std::string& fs)
    {
        CDriveTreeView* panel = dialog.DrivePanel();
        DriveInventory& inv = *panel->Inventory();
        const TreeNodeId diskItem = FindDiskTreeItem(inv, disk, inv.PhysicalDrivesItem);
        if (diskItem == kNoTreeNode)
            return false;
        panel->Tree()->itemModel()->publishChanges();
        for (TreeNodeId n = inv.Tree.NextPreOrder(diskItem, diskItem); n != kNoTreeNode;
             n = inv.Tree.NextPreOrder(n, diskItem)) {
            panel->Tree()->SelectItem(n);
            QCoreApplication::processEvents();
            if (panel->LastSelection().NodeKindText == "part" && panel->LastSelection().Source.Partition.FsName == fs)
                return true;
        }
        return false;
    }

    // Scan Now, waited for to the end, the root listed and the end box gone.
    static bool ScanToResults(CBasicSearchView* view)
    {
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ScanNowButton()->click();
        if (!finished.wait(120000))
            return false;
        if (listed.isEmpty() && !listed.wait(20000))
            return false;
        return QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 20000);
    }

    static int FindRow(CResultsFileList* list, const std::function<bool(const ListRowModel&, int)>& match)
    {
        ListRowModel& rows = list->Rows();
        for (int view = 0; view < list->model()->rowCount(); ++view)
            if (match(rows, list->sourceRow(view)))
                return view;
        return -1;
    }

private slots:
    void initTestCase()
    {
        ProgramState::Instance().RecoveryMode = kModeBasic;
        DeviceRegistry::Instance().SetSysfsRoot("");
        std::string error;
        DevicePtr image = OpenFileDevice(test::FixtureImage("mbr.img").string(), &error);
        QVERIFY2(image != nullptr, error.c_str());
        // Reads of a cluster and more are slowed (exFAT reads its folders a
        // cluster at a time).
        disk_ = std::make_shared<test::SlowDevice>(image, 0, 4096);
        diskNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(disk_);
        QVERIFY(diskNumber_ >= 0);

        std::ifstream in(test::FixtureImage("fat32-highword.img"), std::ios::binary);
        QVERIFY(in.good());
        std::string volume((std::istreambuf_iterator<char>(in)), {});
        highWordDisk_ = DeviceRegistry::Instance().RegisterMemoryDisk(
            MakeMemoryDevice("fat32-highword disk", AsPartitionedDisk(volume)));
        QVERIFY(highWordDisk_ >= 0);
        highWordManifest_ = test::LoadManifest("fat32-highword.img");
        answerer_ = new BoxAnswerer;
        // The destination box takes the folder the browse function gives;
        // other dialogs are left by their OK button.
        answerer_->SetHandler([](QWidget* w) {
            if (qobject_cast<QMessageBox*>(w))
                return false;
            if (w->objectName() == QStringLiteral("CSaveBrowse")) {
                auto* browse = w->findChild<QPushButton*>(QStringLiteral("Browse"));
                auto* ok = w->findChild<QPushButton*>(QStringLiteral("OK"));
                if (browse && ok) {
                    browse->click();
                    ok->click();
                }
                return true;
            }
            auto* ok = w->findChild<QPushButton*>(QStringLiteral("OK"));
            if (!ok || !qobject_cast<QDialog*>(w))
                return false;
            ok->click();
            return true;
        });
    }

    void cleanupTestCase() { delete answerer_; }

    void scanShowsItsProgress_data()
    {
        QTest::addColumn<QString>("fs");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("liveList");
        // The fixture's $MFT (124 records) is read in one block: its bar
        // jumps from empty to full between two ticks and is emptied again by
        // the arrangement steps; the counter shows the sectors read.
        QTest::addColumn<bool>("barMoves");
        // Each a few seconds long: the sweep's 64 KiB blocks, the $MFT's few
        // blocks of records, the folders' clusters.
        // The partition's number in the fixture's manifest.
        QTest::addColumn<int>("partition");
        QTest::newRow("FAT32") << QStringLiteral("FAT32") << 8 << true << true << 1;
        QTest::newRow("NTFS") << QStringLiteral("NTFS") << 700 << false << false << 2;
        QTest::newRow("FAT16") << QStringLiteral("FAT16") << 8 << true << true << 5;
        QTest::newRow("exFAT") << QStringLiteral("exFAT") << 40 << true << true << 6;
    }

    void scanShowsItsProgress()
    {
        QFETCH(QString, fs);
        QFETCH(int, delayMs);
        QFETCH(bool, liveList);
        QFETCH(bool, barMoves);
        QFETCH(int, partition);
        disk_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        QVERIFY2(SelectPartition(*dialog, diskNumber_, fs.toStdString()), qPrintable(fs));
        CBasicSearchView* view = dialog->SearchView();
        auto* live = dialog->findChild<QListWidget*>(QStringLiteral("LiveFoundList"));
        QVERIFY(live);

        disk_->delayMs = delayMs;
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ScanNowButton()->click();
        QVERIFY(view->ScanRunning());
        QVERIFY(view->RangeLabel()->isVisible());
        QVERIFY(view->RangeTextLabel()->isVisible());
        QVERIFY(view->RangeTextLabel()->text() != QStringLiteral("0"));

        // What the user sees while it runs, sampled as the dialog's timer ticks.
        std::set<int> bars;
        std::set<QString> sectors;
        bool status = false;
        int liveRows = 0;
        auto* counters = dialog->findChild<QLabel*>(QStringLiteral("FoundCounters"));
        QVERIFY(counters);
        // "Folder Entries: F & File Entries: N ": the N the user reads.
        auto fileEntries = [counters] {
            const QString text = counters->text();
            const int at = text.indexOf(QStringLiteral("File Entries: "));
            return at < 0 ? -1 : text.mid(at + 14).trimmed().toInt();
        };
        int filesWhileRunning = -1;
        while (finished.isEmpty()) {
            filesWhileRunning = std::max(filesWhileRunning, fileEntries());
            bars.insert(view->ScanProgress()->value());
            sectors.insert(view->CurrentSectorLabel()->text());
            status = status || view->ScanStatusLabel()->text().contains(QStringLiteral("sectors  of  total"));
            liveRows = std::max(liveRows, live->count());
            QTest::qWait(50);
            if (!view->ScanRunning() && finished.isEmpty())
                finished.wait(60000);
        }
        // Where the bar and the counter stood at the end.
        bars.insert(view->ScanProgress()->value());
        sectors.insert(view->CurrentSectorLabel()->text());
        disk_->delayMs = 0;
        QVERIFY2(status, qPrintable(view->ScanStatusLabel()->text()));
        QString seen;
        for (int b : bars)
            seen += QString::number(b) + QLatin1Char(' ');
        seen += QStringLiteral("of %1..%2; sectors").arg(view->ScanProgress()->minimum()).arg(view->ScanProgress()->maximum());
        for (const QString& t : sectors)
            seen += QLatin1Char(' ') + t;
        QVERIFY2(!barMoves || bars.size() >= 2, qPrintable(seen));
        QVERIFY2(view->ScanProgress()->maximum() > 0, qPrintable(seen));
        QVERIFY2(sectors.size() >= 2, qPrintable(QString::number(sectors.size())));
        if (liveList)
            QVERIFY2(liveRows > 0, "the live list stayed empty");

        // The file entries found: counted while the scan runs, and at its end
        // every file entry of the volume, live and deleted (NTFS adds its own
        // metadata files).
        int files = 0;
        for (const test::ManifestEntry& e : test::ManifestOfPartition(test::LoadManifest("mbr.img"), partition))
            files += e.IsDir() ? 0 : 1;
        QTRY_VERIFY_WITH_TIMEOUT(fileEntries() > 0, 5000);
        // (The $MFT is read in one block: its count comes with the arrangement.)
        if (barMoves)
            QVERIFY2(filesWhileRunning > 0, qPrintable(counters->text()));
        if (fs == QStringLiteral("NTFS"))
            QVERIFY2(fileEntries() >= files && fileEntries() <= files + 40, qPrintable(counters->text()));
        else
            QCOMPARE(fileEntries(), files);

        // The result: the root listed, its count line shown, the scan's texts gone.
        QVERIFY(listed.count() > 0 || listed.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 20000);
        const QString line = view->FolderStatusLabel()->text();
        QVERIFY2(line.startsWith(QStringLiteral("( Root")) && line.contains(QStringLiteral(" Files, ")) &&
                     line.endsWith(QStringLiteral(" Folders")),
                 qPrintable(line));
        QVERIFY(view->FolderStatusLabel()->isVisible());
        QVERIFY(!view->RangeLabel()->isVisible());
        QVERIFY(!view->RangeTextLabel()->isVisible());
        QVERIFY(!view->CurrentSectorLabel()->isVisible());
        QVERIFY(!view->ScanStatusLabel()->isVisible());
        QVERIFY(!view->StopButton()->isVisible());
        if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR"))
            dialog->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/basic-results-") + fs + ".png");
        view->StopRunningWork();
    }

    // The list's "Save" on GONE.BIN (deleted, beyond cluster 0xFFFF, high
    // word cleared) and the SUB folder row; then the tree's "Save" on SUB ticked.
    void listAndTreeMenusSave()
    {
        disk_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        QVERIFY(SelectPartition(*dialog, highWordDisk_, "FAT32"));
        CBasicSearchView* view = dialog->SearchView();
        QVERIFY(ScanToResults(view));
        QVERIFY(!view->RangeLabel()->isVisible());

        // Nothing selected yet in the list: no menu for a click there.
        view->FileList()->clearSelection();
        QVERIFY(view->MakeResultListMenu(true) == nullptr);

        // The root was listed at the end of the scan.
        const TreeNodeId root = view->Results().Tree().RootItem();
        QCOMPARE(view->ResultsTree()->SelectedItem(), root);
        CResultsFileList* list = view->FileList();
        const int gone = FindRow(list, [](const ListRowModel& rows, int r) {
            return (rows.RowData(r) & kRowDeletedBit) != 0 && rows.Cell(r, kListSize) == "20000";
        });
        const int sub = FindRow(list, [](const ListRowModel& rows, int r) {
            return rows.Cell(r, kListName) == "SUB" && rows.Cell(r, kListType) == "FOLDER";
        });
        QVERIFY(gone >= 0);
        QVERIFY(sub >= 0);
        // The row shows the stored cluster; the guessed high part sits in its hidden column.
        QVERIFY(ParseDecimalU64(list->Rows().Cell(list->sourceRow(gone), kListSelfId)) < 0x10000);
        QVERIFY(!list->Rows().Cell(list->sourceRow(gone), kBasicListAddend).empty());

        test::TempDir dir;
        std::filesystem::path dest = dir.path() / "from-list";
        QStringList opened;
        SetBrowseForFolderFunction([&dest](QWidget*) { return QString::fromStdString(dest.string()); });
        SetOpenFolderFunction([&opened](QWidget*, const QString& folder) { opened << folder; });
        struct Restore {
            ~Restore()
            {
                SetBrowseForFolderFunction({});
                SetOpenFolderFunction({});
            }
        } restore;

        list->clearSelection();
        list->selectionModel()->select(list->model()->index(gone, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        list->selectionModel()->select(list->model()->index(sub, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        std::unique_ptr<QMenu> menu(view->MakeResultListMenu(true));
        QVERIFY(menu);
        QStringList texts;
        QAction* save = nullptr;
        for (QAction* a : menu->actions()) {
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            if (a->text() == QStringLiteral("Save"))
                save = a;
        }
        QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral("Open|-|Save|Save All"));
        answerer_->texts.clear();
        save->trigger();   // returns once the completion dialog has closed
        QVERIFY2(answerer_->texts.isEmpty(), qPrintable(answerer_->texts.join(QStringLiteral(" | "))));

        auto sha = [&](const std::string& path) { return test::Sha256OfFile((dest / path).string()); };
        std::map<std::string, std::string> expected;
        for (const auto& m : highWordManifest_)
            if (!m.IsDir())
                expected[m.path] = m.sha256;
        const auto saved = test::HashFolder(dest);
        std::string goneName;
        for (const auto& [path, hash] : saved)
            if (path.find("ONE.BIN") != std::string::npos)
                goneName = path;
        QVERIFY2(!goneName.empty(), "GONE.BIN not saved");
        QCOMPARE(sha(goneName), expected["/GONE.BIN"]);
        QCOMPARE(sha("SUB/A.BIN"), expected["/SUB/A.BIN"]);
        QCOMPARE(sha("SUB/B.TXT"), expected["/SUB/B.TXT"]);
        QVERIFY(!std::filesystem::exists(dest / "FILL"));

        // The tree's menu: SUB ticked, saved with what it holds.
        TreeModel& tree = view->Results().Tree();
        TreeNodeId subItem = kNoTreeNode;
        for (TreeNodeId c : tree.Children(root))
            if (tree.Text(c) == "SUB")
                subItem = c;
        QVERIFY(subItem != kNoTreeNode);
        // Ticked from the keyboard: the item made current, then Space.
        {
            QSignalSpy listed(view, &CBasicSearchView::listPopulated);
            view->ResultsTree()->SelectItem(subItem);
            QVERIFY(!listed.isEmpty() || listed.wait(20000));
        }
        view->ResultsTree()->setFocus();
        QTest::keyClick(view->ResultsTree(), Qt::Key_Space);
        QCOMPARE(tree.GetCheck(subItem), CheckState::Checked);
        dest = dir.path() / "from-tree";
        std::unique_ptr<QMenu> treeMenu(view->MakeResultTreeMenu());
        QVERIFY(treeMenu);
        QCOMPARE(treeMenu->actions().size(), 1);
        QCOMPARE(treeMenu->actions().front()->text(), QStringLiteral("Save"));
        treeMenu->actions().front()->trigger();
        QVERIFY2(answerer_->texts.isEmpty(), qPrintable(answerer_->texts.join(QStringLiteral(" | "))));
        QCOMPARE(sha("SUB/A.BIN"), expected["/SUB/A.BIN"]);
        QCOMPARE(sha("SUB/B.TXT"), expected["/SUB/B.TXT"]);
        QVERIFY(!std::filesystem::exists(dest / "FILL"));
        view->StopRunningWork();
    }
};

QTEST_MAIN(BasicSearchResultsTest)
#include "basic_search_results_test.moc"
