// The Deep Search dialog end to end on the fixture disk image, through its
// widgets: a partition with the sector range typed into the edits, Scan Now
// on a slowed disk with short pass periods (the results tree grows while the
// sweep runs), a folder's files listed, Save Data of the whole tree writing
// the live files byte for byte; the same disk with its partition tables
// zeroed, whose type must be chosen in the combo, swept over a range holding
// its FAT32 and its FAT16 volume, saved at once with each file from its own
// volume; Stop in the middle of a sweep keeping what was found; Back, and the
// exit question. A logical drive holding a FAT16 and a FAT32 file system back
// to back: Search More Partitions lists each once as a "Recognised" item and a
// row of the "Found File System" list, a second sweep adds nothing, Scan Now
// on one recovers its files, and Stop in the middle of a sweep keeps what was
// found. With TORVANE_SCREENSHOT_DIR set the dialog is saved as pictures
// there (before, during and after a scan).
#include "app/message_dialog.h"
#include "app/ui/range_slider.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/ui/colour_list.h"
#include "base/program_state.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "disk/property_table_view.h"
#include "fsrecovery/deep_scan_start.h"
#include "fsrecovery/deep_search_dialog.h"
#include "fsrecovery/deep_search_view.h"
#include "partsearch/partition_search_view.h"
#include "platform/device_registry.h"
#include "results/file_list_columns.h"
#include "results/file_list_view.h"
#include "results/open_export_folder_dialog.h"
#include "results/save_browse_dialog.h"
#include "results/save_session.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/gui_support.h"
#include "../e2e/sha256.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

using namespace torvane;
namespace fs = std::filesystem;

namespace {

using test::BoxAnswerer;

// Saved files under a destination: relative path -> sha256.
std::map<std::string, std::string> Collect(const fs::path& out)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(out))
        return files;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            files["/" + fs::relative(it->path(), out).string()] = test::Sha256OfFile(it->path().string());
    return files;
}

std::string Leaf(const std::string& p) { return p.substr(p.rfind('/') + 1); }

// The live files of `manifest` that are not among `saved` with their name
// and their content.
std::vector<std::string> Missing(const std::map<std::string, std::string>& saved,
                                 const std::vector<test::ManifestEntry>& manifest)
{
    std::multimap<std::string, std::string> bySha;
    for (const auto& [path, sha] : saved)
        bySha.emplace(sha, path);
    std::vector<std::string> missing;
    for (const auto& e : manifest) {
        if (!e.HasContent() || e.IsDeleted() || e.IsDir())
            continue;
        bool found = false;
        auto range = bySha.equal_range(e.sha256);
        for (auto it = range.first; it != range.second && !found; ++it)
            found = Leaf(it->second) == Leaf(e.path);
        if (!found)
            missing.push_back(e.path);
    }
    return missing;
}

std::size_t FolderCount(const TreeModel& tree)
{
    std::size_t n = 0;
    const TreeNodeId root = tree.RootItem();
    if (root == kNoTreeNode)
        return n;
    for (TreeNodeId c = tree.NextPreOrder(root, root); c != kNoTreeNode; c = tree.NextPreOrder(c, root))
        ++n;
    return n;
}

void Screenshot(QWidget& w, const char* name)
{
    if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR")) {
        QCoreApplication::processEvents();
        w.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QString::fromLatin1(name));
    }
}

}  // namespace

class DeepSearchDialogTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<test::SlowDevice> disk_;       // mbr.img
    std::shared_ptr<test::SlowDevice> bare_;       // mbr.img with its partition tables zeroed
    std::shared_ptr<test::SlowDevice> logical_;    // logical.img, the logical drive L:
    int diskNumber_ = -1, bareNumber_ = -1;
    std::vector<test::ManifestEntry> all_;
    test::TempDir temp_;
    BoxAnswerer* answerer_ = nullptr;

    // `logicalDrives`: the drive list shows the test's logical drive too.
    std::unique_ptr<CDeepSearch> OpenDialog(bool logicalDrives = false)
    {
        auto dialog = std::make_unique<CDeepSearch>();
        CDriveTreeView* panel = dialog->DrivePanel();
        panel->SetDeviceEventSource(std::make_unique<ManualDeviceEventSource>());
        panel->SetShowLogicalNote(false);
        panel->SetInventoryBuilder([logicalDrives](int mode, bool withLogical) {
            auto inv = std::make_shared<DriveInventory>();
            inv->RecoveryMode = mode;
            DriveRefreshOptions options;
            options.WithLogicalDrives = withLogical || logicalDrives;
            options.RefreshRegistry = false;
            options.Logical.UseStatvfs = !logicalDrives;
            options.Logical.UseBlkid = !logicalDrives;
            options.Logical.MountInfoPath = "/nonexistent/mountinfo";
            BuildDriveInventory(*inv, DeviceRegistry::Instance(), options);
            return inv;
        });
        dialog->DeepView()->SetPassIntervals(std::chrono::milliseconds(60), std::chrono::milliseconds(150));
        // TORVANE_SCREENSHOT_SIZE=WxH: the size of the screen the pictures are for.
        int width = 1100, height = 720;
        if (const char* size = std::getenv("TORVANE_SCREENSHOT_SIZE"))
            std::sscanf(size, "%dx%d", &width, &height);
        dialog->resize(width, height);
        dialog->show();
        if (!test::RefreshDrives(panel))
            return nullptr;
        return dialog;
    }

    TreeNodeId DiskItem(CDeepSearch& dialog, int disk)
    {
        DriveInventory& inv = *dialog.DrivePanel()->Inventory();
        return FindDiskTreeItem(inv, disk, inv.PhysicalDrivesItem);
    }

    bool Select(CDeepSearch& dialog, TreeNodeId item)
    {
        CDriveTreeView* panel = dialog.DrivePanel();
        if (item == kNoTreeNode)
            return false;
        panel->Tree()->itemModel()->publishChanges();
        panel->Tree()->SelectItem(item);
        QCoreApplication::processEvents();
        return true;
    }

    // Ticks the whole results tree and runs Save Data to `dest` through the
    // destination, counting, saving and completion dialogs.
    bool SaveAll(CDeepSearch& dialog, const fs::path& dest, QStringList& messages)
    {
        CBasicSearchView* view = dialog.SearchView();
        TreeModel& tree = view->Results().Tree();
        const TreeNodeId root = tree.RootItem();
        if (root == kNoTreeNode)
            return false;
        view->ResultsTree()->ToggleCheck(root);
        if (tree.GetCheck(root) != CheckState::Checked)
            return false;
        QString completion;
        SetBrowseForFolderFunction([&](QWidget*) { return QString::fromStdString(dest.string()); });
        SetOpenFolderFunction([](QWidget*, const QString&) {});
        answerer_->SetHandler([&](QWidget* w) {
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
                if (auto* ok = done->findChild<QPushButton*>(QStringLiteral("OK")))
                    ok->click();
            }
        });
        view->SaveDataButton()->click();
        const bool finished = QTest::qWaitFor([&] { return !completion.isEmpty(); }, 60000);
        answerer_->handler = nullptr;
        SetBrowseForFolderFunction({});
        SetOpenFolderFunction({});
        return finished && completion == QString::fromLatin1(kSaveSuccessText);
    }

private slots:
    void initTestCase()
    {
        ProgramState::Instance().RecoveryMode = kModeDeep;
        DeviceRegistry::Instance().SetSysfsRoot("");
        std::string error;
        const fs::path image = test::FixtureImage("mbr.img");
        DevicePtr intact = OpenFileDevice(image.string(), &error);
        QVERIFY2(intact != nullptr, error.c_str());
        disk_ = std::make_shared<test::SlowDevice>(intact);
        diskNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(disk_);
        QVERIFY(diskNumber_ >= 0);

        // The same disk without its partition tables: the MBR's four entries
        // and both EBRs' zeroed.
        const fs::path bare = temp_.path() / "bare.img";
        fs::copy_file(image, bare);
        {
            std::fstream f(bare, std::ios::in | std::ios::out | std::ios::binary);
            const std::string zeros(64, '\0');
            for (std::uint64_t s : {0ull, 108544ull, 180224ull}) {
                f.seekp(static_cast<std::streamoff>(s * 512 + 446));
                f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
            }
        }
        DevicePtr bareDevice = OpenFileDevice(bare.string(), &error);
        QVERIFY2(bareDevice != nullptr, error.c_str());
        bare_ = std::make_shared<test::SlowDevice>(bareDevice);
        bareNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(bare_);
        QVERIFY(bareNumber_ >= 0);
        all_ = test::LoadManifest("mbr.img");
        QVERIFY(!all_.empty());

        // A logical drive: one volume image holding two file systems.
        DevicePtr logical = OpenFileDevice(test::FixtureImage("logical.img").string(), &error);
        QVERIFY2(logical != nullptr, error.c_str());
        logical_ = std::make_shared<test::SlowDevice>(logical);
        DeviceRegistry::Instance().RegisterMemoryVolume('L', logical_);
        answerer_ = new BoxAnswerer;
    }

    TreeNodeId LogicalDriveItem(CDeepSearch& dialog)
    {
        DriveInventory& inv = *dialog.DrivePanel()->Inventory();
        auto lock = inv.Lock();
        if (inv.LogicalDrivesItem == kNoTreeNode)
            return kNoTreeNode;
        for (TreeNodeId c : inv.Tree.Children(inv.LogicalDrivesItem))
            if (inv.Tree.Text(c).rfind("L:", 0) == 0)
                return c;
        return kNoTreeNode;
    }

    std::vector<std::string> ChildTexts(CDeepSearch& dialog, TreeNodeId item)
    {
        DriveInventory& inv = *dialog.DrivePanel()->Inventory();
        auto lock = inv.Lock();
        std::vector<std::string> texts;
        for (TreeNodeId c : inv.Tree.Children(item))
            texts.push_back(inv.Tree.Text(c));
        return texts;
    }

    // The visible cells of the "Found File System" list, a row a line.
    std::vector<std::string> ShownFoundRows(CDeepSearchView& view)
    {
        std::vector<std::string> rows;
        ListRowModel& model = view.RecognisedDriveRows();
        for (int r = 0; r < model.RowCount(); ++r) {
            std::string line;
            for (int c = 0; c < 5; ++c)
                line += (c ? "|" : "") + model.Cell(r, c);
            rows.push_back(line);
        }
        return rows;
    }

    // Search More Partitions on the selected item; the result message.
    QString Sweep(CDeepSearch& dialog)
    {
        CPartitionSearchView* search = dialog.PartitionSearch();
        QString result;
        search->SetMessenger([&](QWidget*, const QString& text) { result = text; });
        QSignalSpy done(search, &CPartitionSearchView::sweepFinished);
        search->SearchMoreButton()->click();
        if (!search->SweepRunning() || !done.wait(30000))
            return QStringLiteral("(no sweep)");
        return result;
    }

    void cleanupTestCase() { delete answerer_; }

    // A partition: its type in the combo and its extent in the range group;
    // a typed range is what is swept; the tree grows during the sweep; a
    // folder lists its files; Save Data writes them byte for byte.
    void partitionRangeGrowsListsAndSaves()
    {
        disk_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        CDeepSearchView* view = dialog->DeepView();
        DriveInventory& inv = *dialog->DrivePanel()->Inventory();
        const TreeNodeId part = inv.Tree.FirstChild(DiskItem(*dialog, diskNumber_));
        QVERIFY(Select(*dialog, part));
        QCOMPARE(dialog->DrivePanel()->LastSelection().NodeKindText, std::string("part"));
        const PartitionRecord record = dialog->DrivePanel()->LastSelection().Source.Partition.Record;
        QCOMPARE(view->FileSystemCombo()->currentText(), QStringLiteral("FAT32"));
        QCOMPARE(view->RangeGroup()->StartText(), QString::number(record.StartSector));
        QCOMPARE(view->RangeGroup()->EndText(), QString::number(record.EndSector));
        QVERIFY(view->RangePanel()->isVisible());
        QVERIFY(view->RangeGroup()->isVisible());
        Screenshot(*dialog, "deep-search-drives.png");

        // The range typed: from the disk's first sector to the partition's end.
        view->RangeGroup()->StartEdit()->setText(QStringLiteral("0"));
        view->RangeGroup()->EndEdit()->setText(QString::number(record.EndSector));
        view->FileSystemCombo()->setCurrentIndex(1);   // FAT32

        disk_->delayMs = 15;
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QCOMPARE(view->BasicScanCount(), 1u);
        QVERIFY(view->ScanRunning());
        QCOMPARE(view->StopButton()->text(), QStringLiteral("Stop Search"));
        QVERIFY(!view->RangePanel()->isVisible());
        QVERIFY(!view->ScanNowButton()->isVisible());
        QCOMPARE(view->Partition().Descriptor.StartSector, std::uint64_t(0));
        QCOMPARE(view->Partition().Descriptor.EndSector, record.EndSector);
        QCOMPARE(view->Partition().Descriptor.FsType, std::string("FAT32"));

        // The tree while the sweep runs.
        std::set<std::size_t> sizes;
        bool shot = false;
        while (view->ScanRunning()) {
            sizes.insert(FolderCount(view->Results().Tree()));
            if (!shot && FolderCount(view->Results().Tree()) >= 3) {
                QTest::qWait(600);
                Screenshot(*dialog, "deep-search-scanning.png");
                shot = true;
            }
            QTest::qWait(40);
        }
        disk_->delayMs = 0;
        QVERIFY(finished.count() > 0 || finished.wait(60000));
        sizes.erase(0);
        // Folders showed before the sweep's end.
        QVERIFY(!sizes.empty());
        // The end-of-search box comes after the root's listing, once no other
        // box is open: wait until it was shown and answered.
        QTRY_VERIFY_WITH_TIMEOUT(view->Session().EndBoxShown(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!view->ListBusy(), 20000);

        // The results: the tree, the list, the found file system.
        QVERIFY(view->ResultsTree()->isVisible());
        QVERIFY(view->FileList()->isVisible());
        QVERIFY(!view->StopButton()->isVisible());
        QVERIFY(view->FoundFileSystemList()->isVisible());
        QVERIFY(view->FoundFileSystemRows().RowCount() >= 1);
        QCOMPARE(view->FoundFileSystemRows().Cell(0, 0), std::string("FAT32"));
        QVERIFY(view->CounterLabel()->text().startsWith(QStringLiteral("Folder Entries: ")));

        // A folder's files listed.
        TreeModel& tree = view->Results().Tree();
        TreeNodeId documents = kNoTreeNode;
        for (TreeNodeId n = tree.NextPreOrder(tree.RootItem(), tree.RootItem()); n != kNoTreeNode;
             n = tree.NextPreOrder(n, tree.RootItem()))
            if (tree.Text(n) == "Documents")
                documents = n;
        QVERIFY(documents != kNoTreeNode);
        QSignalSpy listed(view, &CBasicSearchView::listPopulated);
        view->ResultsTree()->SelectItem(documents);
        QVERIFY(listed.count() > 0 || listed.wait(20000));
        std::map<std::string, std::uint64_t> rows;
        ListRowModel& list = view->FileList()->Rows();
        for (int r = 0; r < list.RowCount(); ++r)
            rows[list.Cell(r, kListName)] = std::stoull("0" + list.Cell(r, kListSize));
        int inDocuments = 0;
        for (const auto& e : test::ManifestOfPartition(all_, 1)) {
            if (e.IsDir() || e.IsDeleted() || e.path.rfind("/Documents/", 0) != 0 ||
                e.path.find('/', 11) != std::string::npos)
                continue;
            QVERIFY2(rows.count(Leaf(e.path)), e.path.c_str());
            QCOMPARE(rows[Leaf(e.path)], e.size);
            ++inDocuments;
        }
        QVERIFY(inDocuments >= 2);
        Screenshot(*dialog, "deep-search-results.png");

        // Save Data of the whole tree.
        const fs::path dest = temp_.path() / "partition";
        QStringList messages;
        QVERIFY(SaveAll(*dialog, dest, messages));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QStringLiteral(" | "))));
        const auto saved = Collect(dest);
        const auto missing = Missing(saved, test::ManifestOfPartition(all_, 1));
        QVERIFY2(missing.empty(), missing.empty() ? "" : missing.front().c_str());

        // A second Scan Now does nothing; Back, answered No, returns to the
        // drive view with its range group.
        view->OnScanNow();
        QCOMPARE(view->BasicScanCount(), 1u);
        answerer_->sayNo = true;
        dialog->OnBack();
        answerer_->sayNo = false;
        QCOMPARE(view->BasicScanCount(), 0u);
        QVERIFY(view->RangePanel()->isVisible());
        QVERIFY(!view->FoundFileSystemList()->isVisible());
        QVERIFY(view->ScanNowButton()->isVisible());
        view->StopRunningWork();
    }

    // A disk that lists no partition: the combo asks for a type; the sweep of
    // a range holding the FAT32 and the FAT16 volume finds both, and one Save
    // Data writes each file from its own volume.
    void twoFileSystemsOfOneRangeSaveTogether()
    {
        bare_->delayMs = 0;
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        CDeepSearchView* view = dialog->DeepView();
        QVERIFY(Select(*dialog, DiskItem(*dialog, bareNumber_)));
        QCOMPARE(dialog->DrivePanel()->LastSelection().NodeKindText, std::string("Hard Disk"));
        QCOMPARE(view->FileSystemCombo()->currentText(), QStringLiteral("Unknown"));

        // Start not below end, then no type: Scan Now refuses with a word.
        answerer_->texts.clear();
        view->RangeGroup()->StartEdit()->setText(QStringLiteral("5000"));
        view->RangeGroup()->EndEdit()->setText(QStringLiteral("5000"));
        view->ScanNowButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer_->texts.size(), 1, 5000);
        QCOMPARE(answerer_->texts.front().toStdString(), ProgramState::Instance().Messages.EndSectorOrderText);
        view->RangeGroup()->StartEdit()->setText(QStringLiteral("0"));
        view->RangeGroup()->EndEdit()->setText(QStringLiteral("182272"));
        view->ScanNowButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer_->texts.size(), 2, 5000);
        QCOMPARE(answerer_->texts.back(), QString::fromLatin1(kSelectFileSystemText));
        QCOMPARE(view->BasicScanCount(), 0u);

        view->FileSystemCombo()->setCurrentIndex(1);   // FAT32 (the sweep finds both FAT kinds)
        bare_->delayMs = 20;
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QCOMPARE(view->BasicScanCount(), 1u);
        QVERIFY(view->DescriptionLabel()->text().endsWith(QStringLiteral(" as FAT32")));
        // Snapshots of the tree as the sweep grows it: the first volume's
        // folders, then the second's.
        std::set<std::size_t> sizes;
        std::set<int> foundRows;
        while (view->ScanRunning()) {
            sizes.insert(FolderCount(view->Results().Tree()));
            foundRows.insert(view->FoundFileSystemRows().RowCount());
            QTest::qWait(30);
        }
        bare_->delayMs = 0;
        QVERIFY(finished.count() > 0 || finished.wait(60000));
        sizes.erase(0);
        std::string seen;
        for (std::size_t n : sizes)
            seen += std::to_string(n) + " ";
        QVERIFY2(sizes.size() >= 2, seen.c_str());
        // The found file systems were listed while the sweep ran.
        QVERIFY(foundRows.size() >= 2);
        QTRY_VERIFY_WITH_TIMEOUT(view->Session().EndBoxShown(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!view->ListBusy(), 20000);
        std::set<std::string> kinds;
        for (int r = 0; r < view->FoundFileSystemRows().RowCount(); ++r)
            kinds.insert(view->FoundFileSystemRows().Cell(r, 0));
        QVERIFY(kinds.count("FAT32"));
        QVERIFY(kinds.count("FAT16"));
        QVERIFY(view->Session().Volumes()->Size() >= 2);
        Screenshot(*dialog, "deep-search-two-volumes.png");

        const fs::path dest = temp_.path() / "two";
        QStringList messages;
        QVERIFY(SaveAll(*dialog, dest, messages));
        const auto saved = Collect(dest);
        for (int part : {1, 5}) {
            const auto missing = Missing(saved, test::ManifestOfPartition(all_, part));
            QVERIFY2(missing.empty(), (std::to_string(part) + ": " + (missing.empty() ? "" : missing.front())).c_str());
        }
        view->StopRunningWork();
    }

    // Stop in the middle of a sweep: the question, then the folders found so
    // far stay; Close afterwards offers the save-before-exit choice.
    void stopKeepsWhatWasFound()
    {
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        CDeepSearchView* view = dialog->DeepView();
        QVERIFY(Select(*dialog, DiskItem(*dialog, diskNumber_)));
        view->FileSystemCombo()->setCurrentIndex(1);
        view->RangeGroup()->StartEdit()->setText(QStringLiteral("0"));
        view->RangeGroup()->EndEdit()->setText(QStringLiteral("182272"));
        disk_->delayMs = 30;
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QVERIFY(view->ScanRunning());
        QTRY_VERIFY_WITH_TIMEOUT(FolderCount(view->Results().Tree()) >= 3, 60000);
        QVERIFY(view->ScanRunning());
        const std::size_t shownAtStop = FolderCount(view->Results().Tree());
        view->StopButton()->click();   // the answerer says Yes
        disk_->delayMs = 0;
        QVERIFY(finished.count() > 0 || finished.wait(60000));
        QVERIFY(!view->ScanRunning());
        QVERIFY(view->Session().ScanStoppedByUser());
        QVERIFY(view->Results().CurrentScanSector.load() < 182272);
        QVERIFY(FolderCount(view->Results().Tree()) >= shownAtStop);
        QVERIFY(view->ResultsTree()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!view->ListBusy(), 20000);

        // Results not in a log: Close offers the exit confirmation; "Do not
        // Exit" keeps the dialog.
        QString offered;
        answerer_->SetHandler([&](QWidget* w) {
            offered = w->objectName();
            if (auto* confirm = qobject_cast<CExit_Confirmation*>(w))
                confirm->done(CExit_Confirmation::kDoNotExit);
            else if (auto* dlg = qobject_cast<QDialog*>(w))
                dlg->reject();
        });
        QVERIFY(!view->ConfirmClose());
        answerer_->handler = nullptr;
        QCOMPARE(offered, QStringLiteral("CExit_Confirmation"));
        view->StopRunningWork();
    }

    // Search More Partitions on a logical drive: two "Recognised" items, once
    // each in the tree and the list, the last one selected with its row in
    // blue; again on one of them (its drive is swept) nothing is added; Scan
    // Now on the FAT32 one recovers its files and none of the FAT16 one.
    void logicalDriveSweepListsScansAndSaves()
    {
        logical_->delayMs = 0;
        auto dialog = OpenDialog(true);
        QVERIFY(dialog);
        CDeepSearchView* view = dialog->DeepView();
        CPartitionSearchView* search = dialog->PartitionSearch();
        DriveInventory& inv = *dialog->DrivePanel()->Inventory();
        const TreeNodeId drive = LogicalDriveItem(*dialog);
        QVERIFY(drive != kNoTreeNode);
        // From "Logical Drives": the prompt, and its first drive is selected.
        QVERIFY(Select(*dialog, inv.LogicalDrivesItem));
        QString prompt;
        search->SetMessenger([&](QWidget*, const QString& text) { prompt = text; });
        search->SearchMoreButton()->click();
        QCOMPARE(prompt, QStringLiteral("Please Select the Physical or Logical Drive to search deleted or missing Partitions."));
        QVERIFY(!search->SweepRunning());
        QCOMPARE(dialog->DrivePanel()->Tree()->SelectedItem(), drive);
        QCOMPARE(dialog->DrivePanel()->LastSelection().NodeKindText, std::string("Logical"));
        QVERIFY(!view->FoundFileSystemList()->isVisible());

        QCOMPARE(Sweep(*dialog), QStringLiteral("Found 2 more partitions in selected Drive ( Drive - L: )"));
        QVERIFY(!search->SweepRunning());
        QVERIFY(search->SearchMoreButton()->isVisible());
        QVERIFY(!search->StopButton()->isVisible());
        const std::vector<std::string> items = {"Recognised1 - 16.00 MB - FAT16", "Recognised2 - 34.00 MB - FAT32"};
        QCOMPARE(ChildTexts(*dialog, drive), items);
        const std::vector<std::string> rows = {"Recognised1|FAT16|0|32768|16.00 MB",
                                               "Recognised2|FAT32|32768|102400|34.00 MB"};
        // The last one found is selected: its drive's rows, its own in blue,
        // its type and extent in the drive view.
        const TreeNodeId fat32 = FindRecognisedItem(inv, drive, "Recognised2");
        QCOMPARE(dialog->DrivePanel()->Tree()->SelectedItem(), fat32);
        QCOMPARE(dialog->DrivePanel()->LastSelection().NodeKindText, std::string("Recognised"));
        QVERIFY(view->FoundFileSystemList()->isVisible());
        QVERIFY(!dialog->DrivePanel()->PropertyList()->isVisible());
        QCOMPARE(ShownFoundRows(*view), rows);
        QCOMPARE(view->HighlightedFoundRow(), 1);
        QCOMPARE(view->FileSystemCombo()->currentText(), QStringLiteral("FAT32"));
        QCOMPARE(view->RangeGroup()->StartText(), QStringLiteral("32768"));
        QCOMPARE(view->RangeGroup()->EndText(), QStringLiteral("102400"));
        QVERIFY(view->RangeGroup()->isVisible());
        // The hidden list holds every row with its drive's key.
        QVERIFY(!view->RecognisedVolumeList()->isVisible());
        QCOMPARE(view->RecognisedVolumeRows().RowCount(), 2);
        QCOMPARE(view->RecognisedVolumeRows().Cell(0, 0), std::string("Log|\\\\.\\L:|"));
        QCOMPARE(view->RecognisedVolumeRows().Cell(1, 2), std::string("FAT32"));
        Screenshot(*dialog, "deep-search-recognised.png");

        // The other item: the same rows, its own in blue.
        const TreeNodeId fat16 = FindRecognisedItem(inv, drive, "Recognised1");
        QVERIFY(Select(*dialog, fat16));
        QCOMPARE(ShownFoundRows(*view), rows);
        QCOMPARE(view->HighlightedFoundRow(), 0);
        QCOMPARE(view->FileSystemCombo()->currentText(), QStringLiteral("FAT16"));
        QCOMPARE(view->RangeGroup()->EndText(), QStringLiteral("32768"));

        // Again, from the item: its drive is swept and nothing is added.
        QCOMPARE(Sweep(*dialog), QStringLiteral("No more partitions found in selected Drive ( Drive - L: )"));
        QCOMPARE(ChildTexts(*dialog, drive), items);
        QCOMPARE(view->RecognisedVolumeRows().RowCount(), 2);
        QCOMPARE(dialog->DrivePanel()->Tree()->SelectedItem(), drive);
        QVERIFY(!view->FoundFileSystemList()->isVisible());
        QVERIFY(view->RangeGroup()->isVisible());

        // Scan Now on the FAT32 one: without a type it asks for one.
        QVERIFY(Select(*dialog, fat32));
        answerer_->texts.clear();
        view->FileSystemCombo()->setCurrentIndex(kDeepFileSystemChoiceCount - 1);
        view->ScanNowButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(answerer_->texts.size(), 1, 5000);
        QCOMPARE(answerer_->texts.front(), QString::fromLatin1(kSelectFileSystemText));
        QCOMPARE(view->BasicScanCount(), 0u);
        view->FileSystemCombo()->setCurrentIndex(1);   // FAT32
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QCOMPARE(view->BasicScanCount(), 1u);
        QVERIFY(!view->FoundFileSystemList()->isVisible() || view->FoundFileSystemList()->rowModel() != &view->RecognisedDriveRows());
        QCOMPARE(view->Partition().Descriptor.StartSector, std::uint64_t(32768));
        QCOMPARE(view->Partition().Descriptor.EndSector, std::uint64_t(102400));
        QCOMPARE(view->Partition().Descriptor.FsType, std::string("FAT32"));
        QCOMPARE(view->Partition().DevicePath, std::string("\\\\.\\L:"));
        QCOMPARE(view->DescriptionLabel()->text(), QStringLiteral("( Drive - L: ) Recognised2 / FAT32 / 34.00 MB"));
        QVERIFY(finished.count() > 0 || finished.wait(60000));
        QTRY_VERIFY_WITH_TIMEOUT(view->Session().EndBoxShown(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!view->ListBusy(), 20000);

        const fs::path dest = temp_.path() / "recognised";
        QStringList messages;
        QVERIFY(SaveAll(*dialog, dest, messages));
        const auto saved = Collect(dest);
        const auto manifest = test::LoadManifest("logical.img");
        QVERIFY(!test::ManifestOfPartition(manifest, 2).empty());
        const auto missing = Missing(saved, test::ManifestOfPartition(manifest, 2));
        QVERIFY2(missing.empty(), missing.empty() ? "" : missing.front().c_str());
        // Nothing of the FAT16 file system.
        std::set<std::string> shas;
        for (const auto& [path, sha] : saved)
            shas.insert(sha);
        for (const test::ManifestEntry& e : test::ManifestOfPartition(manifest, 1))
            QVERIFY2(!e.HasContent() || !shas.count(e.sha256), e.path.c_str());
        view->StopRunningWork();
    }

    // Stop in the middle of a sweep: what was found stays, the dialog is
    // given back at once and the worker adds nothing afterwards; a dialog
    // closed while a sweep runs stops it and waits for its worker.
    void logicalDriveSweepStops()
    {
        auto dialog = OpenDialog(true);
        QVERIFY(dialog);
        CPartitionSearchView* search = dialog->PartitionSearch();
        const TreeNodeId drive = LogicalDriveItem(*dialog);
        QVERIFY(Select(*dialog, drive));
        QString result;
        search->SetMessenger([&](QWidget*, const QString& text) { result = text; });
        int asked = 0;
        search->SetStopConfirmer([&](QWidget*, const QString&) { return ++asked == 2; });
        logical_->delayMs = 20;
        search->SearchMoreButton()->click();
        QVERIFY(search->SweepRunning());
        QVERIFY(search->StopButton()->isVisible());
        QVERIFY(!search->SearchMoreButton()->isVisible());
        QVERIFY(!dialog->DrivePanel()->Tree()->isEnabled());
        // The FAT16 boot sector is in the first chunk.
        QTRY_COMPARE_WITH_TIMEOUT(ChildTexts(*dialog, drive).size(), std::size_t(1), 20000);
        QVERIFY(dialog->DeepView()->FoundFileSystemList()->isVisible());
        Screenshot(*dialog, "deep-search-sweeping.png");
        search->StopButton()->click();   // No: the sweep goes on
        QVERIFY(search->SweepRunning());
        search->StopButton()->click();   // Yes
        QVERIFY(!search->SweepRunning());
        QCOMPARE(result, QStringLiteral("Found 1 more partitions in selected Drive ( Drive - L: )"));
        QVERIFY(search->SearchMoreButton()->isVisible());
        QVERIFY(dialog->DrivePanel()->Tree()->isEnabled());
        const TreeNodeId fat16 = FindRecognisedItem(*dialog->DrivePanel()->Inventory(), drive, "Recognised1");
        QCOMPARE(dialog->DrivePanel()->Tree()->SelectedItem(), fat16);
        QTRY_VERIFY_WITH_TIMEOUT(!search->SweepJob()->Running(), 20000);
        QVERIFY(search->SweepJob()->Outcome().stopped);
        QTest::qWait(100);
        QCOMPARE(ChildTexts(*dialog, drive), std::vector<std::string>{"Recognised1 - 16.00 MB - FAT16"});

        // Closed while sweeping.
        QVERIFY(Select(*dialog, drive));
        search->SearchMoreButton()->click();
        QVERIFY(search->SweepRunning());
        dialog.reset();
        logical_->delayMs = 0;
    }

    // Scan Now's checks, without a window.
    void scanStartChecks()
    {
        auto dialog = OpenDialog();
        QVERIFY(dialog);
        DriveInventory& inv = *dialog->DrivePanel()->Inventory();
        const TreeNodeId part = inv.Tree.FirstChild(DiskItem(*dialog, diskNumber_));
        QVERIFY(Select(*dialog, part));
        DeepScanStartInput in;
        in.selectedItem = part;
        in.source = dialog->DrivePanel()->LastSelection().Source;
        in.canOpen = [](const std::string&) { return true; };
        const SharedMessageTexts& texts = ProgramState::Instance().Messages;
        struct Case {
            const char* start;
            const char* end;
            int choice;
            std::uint32_t count;
            ScanStartOutcome outcome;
            std::string message;
        };
        const Case cases[] = {
            {"", "100", 1, 0, ScanStartOutcome::Message, texts.EndSectorOrderText},
            {"100", "100", 1, 0, ScanStartOutcome::Message, texts.EndSectorOrderText},
            {"200", "100", 1, 0, ScanStartOutcome::Message, texts.EndSectorOrderText},
            {"1x", "100", 1, 0, ScanStartOutcome::Message, kEnterPositiveIntegerText},
            {"0", "100", 4, 0, ScanStartOutcome::Message, kSelectFileSystemText},
            {"0", "100", 2, 1, ScanStartOutcome::Refused, ""},
            {"10", "100", 2, 0, ScanStartOutcome::Start, ""},
            {" 10 ", "100", -1, 0, ScanStartOutcome::Start, ""},
        };
        for (const Case& c : cases) {
            in.startText = c.start;
            in.endText = c.end;
            in.fileSystemChoice = c.choice;
            in.deepScanCount = c.count;
            const DeepScanStart s = ResolveDeepScanStart(inv, in);
            QCOMPARE(int(s.outcome), int(c.outcome));
            QCOMPARE(s.message, c.message);
            if (s.outcome == ScanStartOutcome::Start) {
                QCOMPARE(s.partition.Descriptor.StartSector, std::uint64_t(10));
                QCOMPARE(s.partition.Descriptor.EndSector, std::uint64_t(100));
                QCOMPARE(s.partition.Descriptor.FsType, std::string(c.choice == 2 ? "NTFS" : "FAT32"));
                QCOMPARE(s.partition.ScanStartFsName, std::string("FAT32"));
                QVERIFY(QString::fromStdString(s.selectionDescription)
                            .contains(QStringLiteral(" / ") + QString::fromLatin1(c.choice == 2 ? "NTFS" : "FAT32")));
            }
        }
        // A fixed node.
        in.selectedItem = inv.PhysicalDrivesItem;
        in.startText = "0";
        in.endText = "100";
        in.fileSystemChoice = 1;
        QCOMPARE(ResolveDeepScanStart(inv, in).message, texts.SelectDriveText);
        // An unopenable device.
        in.selectedItem = part;
        in.canOpen = [](const std::string&) { return false; };
        QCOMPARE(ResolveDeepScanStart(inv, in).message, texts.DriveUnavailableText);
    }
};

QTEST_MAIN(DeepSearchDialogTest)
#include "deep_search_dialog_test.moc"
