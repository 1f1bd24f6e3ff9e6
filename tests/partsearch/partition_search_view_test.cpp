// The partition-search controls of the search dialogs, offscreen:
//  - the depth dialog CSmpSel: its radios, texts, Continue and Cancel;
//  - every dialog carries Search More Partitions under its drive tree;
//  - Search More Partitions on a disk whose partition table was wiped: the
//    dialog is locked while it runs (status, progress, Stop), the partitions
//    found go under the disk in dark green, the first is selected and the
//    result message names how many were found; a partition selected searches
//    its disk; a selection that is no disk gets the prompt;
//  - Stop on a slowed disk: answered No the search goes on; answered Yes the
//    dialog is back at once with what was found, and the worker ends within a
//    block without adding anything more;
//  - Scan Now of the Basic Search on that disk waits for the partition search,
//    tells what it goes on with, lists it under the disk and scans it;
//  - the removable-media discovery: each card image (FAT32 at 8192 without a
//    table, exFAT without a table, FAT16 with its entry zeroed) shows its
//    partition under the disk in every search dialog once the dialog opens;
//    Stop during it restores the dialog at once, the card stopped on keeping
//    its whole-disk entry.
// With TORVANE_SCREENSHOT_DIR set, pictures of the running search and its
// result are saved there.
#include "app/search_dialog.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/ui/xp_style_button.h"
#include "base/program_state.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/basic_search_view.h"
#include "partsearch/partition_search_view.h"
#include "partsearch/smp_sel_dialog.h"
#include "platform/device_registry.h"
#include "support/device_doubles.h"
#include "support/fixtures.h"
#include "support/gui_support.h"
#include "partsearch_test_support.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace torvane;

namespace {

// Processes events until `done` holds or `ms` passed.
template <class F> bool SpinUntil(F done, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

std::vector<std::string> ChildTexts(const DriveInventory& inv, TreeNodeId item)
{
    std::vector<std::string> texts;
    for (TreeNodeId c : inv.Tree.Children(item))
        texts.push_back(inv.Tree.Text(c));
    return texts;
}

void Screenshot(QWidget* w, const char* name)
{
    if (const char* dir = std::getenv("TORVANE_SCREENSHOT_DIR")) {
        QCoreApplication::processEvents();
        w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name));
    }
}

}  // namespace

class PartitionSearchViewTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<test::SlowDevice> disk_;
    int diskNumber_ = -1;
    std::vector<QString> messages_;
    SmpMode depth_ = SmpMode::Standard;
    bool stopAnswer_ = true;
    int stopQuestions_ = 0;
    QString lastQuestion_;

    // A search dialog of `mode` over the program's registry, shown, its drive
    // list built; the partition search's questions answered by the test.
    std::unique_ptr<SearchDialogBase> OpenDialog(int mode, bool session = false)
    {
        ProgramState::Instance().RecoveryMode = mode;
        std::unique_ptr<SearchDialogBase> dialog(CreateSearchDialog(mode, nullptr));
        CDriveTreeView* panel = dialog->DriveTreePanel();
        if (!panel || !dialog->PartitionSearch())
            return nullptr;
        test::PrepareDrivePanel(panel);
        CPartitionSearchView* search = dialog->PartitionSearch();
        search->SetDepthChooser([this](QWidget*) { return depth_; });
        search->SetStopConfirmer([this](QWidget*, const QString& text) {
            ++stopQuestions_;
            lastQuestion_ = text;
            return stopAnswer_;
        });
        search->SetMessenger([this](QWidget*, const QString& text) { messages_.push_back(text); });
        dialog->resize(1024, 600);
        dialog->show();
        QSignalSpy done(panel, &CDriveTreeView::refreshFinished);
        if (session)
            dialog->BeginSession(nullptr);   // as the launch does: the refresh, then the discovery
        else
            panel->RefreshDriveTree();
        if (!done.wait(20000))
            return nullptr;
        return dialog;
    }

    TreeNodeId DiskItem(SearchDialogBase& dialog, int number) const
    {
        const DriveInventory& inv = *dialog.DriveTreePanel()->Inventory();
        return FindDiskTreeItem(inv, number, inv.PhysicalDrivesItem);
    }

    void Select(SearchDialogBase& dialog, TreeNodeId item)
    {
        CTreeClass* tree = dialog.DriveTreePanel()->Tree();
        tree->itemModel()->publishChanges();
        tree->SelectItem(item);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        DeviceRegistry::Instance().Reset();
        DeviceRegistry::Instance().SetSysfsRoot("");
        auto wiped = test::DiskWithoutTable("mbr.img");
        QVERIFY(wiped != nullptr);
        disk_ = std::make_shared<test::SlowDevice>(wiped, 0, 64 * 1024);
        diskNumber_ = DeviceRegistry::Instance().RegisterMemoryDisk(disk_);
        QVERIFY(diskNumber_ >= 0);
    }

    void cleanupTestCase() { DeviceRegistry::Instance().Reset(); }

    void init()
    {
        messages_.clear();
        stopQuestions_ = 0;
        stopAnswer_ = true;
        disk_->delayMs = 0;
    }

    void depthDialog()
    {
        CSmpSel dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Search More Partition"));
        QVERIFY(dialog.StandardRadio()->isChecked());
        QVERIFY(!dialog.AdvancedRadio()->isChecked());
        QVERIFY(!dialog.CylinderRadio()->isChecked());
        QVERIFY(dialog.CylinderRadio()->isHidden());
        QVERIFY(dialog.ExplanationLabel()->text().startsWith(QStringLiteral("The 'Standard Mode' is quick")));
        QVERIFY(dialog.ExplanationLabel()->text().contains(QStringLiteral("omitted locations of  storage")));
        // A radio clicked takes the mark from the others.
        dialog.AdvancedRadio()->click();
        QVERIFY(dialog.AdvancedRadio()->isChecked());
        QVERIFY(!dialog.StandardRadio()->isChecked());
        dialog.OnContinue();
        QCOMPARE(dialog.m_nSearchMode, 10);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        // Through RunPartitionModeDialog: Continue untouched, Advanced, Cancel.
        struct Answer {
            const char* radio;
            bool cancel;
            SmpMode expect;
        } answers[] = {{nullptr, false, SmpMode::Standard}, {"AdvancedMode", false, SmpMode::Advanced},
                       {nullptr, true, SmpMode::None}};
        for (const Answer& a : answers) {
            QTimer::singleShot(50, [a] {
                auto* d = qobject_cast<CSmpSel*>(QApplication::activeModalWidget());
                if (!d)
                    return;
                if (a.radio)
                    d->findChild<QRadioButton*>(QString::fromLatin1(a.radio))->click();
                (a.cancel ? d->CancelButton() : d->ContinueButton())->click();
            });
            QCOMPARE(RunPartitionModeDialog(nullptr), a.expect);
        }
    }

    void everyDialogCarriesTheButtons()
    {
        for (int mode : {kModeBasic, kModeDeep, kModePhoto, kModeVideo, kModeSignature}) {
            auto dialog = OpenDialog(mode);
            QVERIFY2(dialog, qPrintable(QString::number(mode)));
            CPartitionSearchView* search = dialog->PartitionSearch();
            QCOMPARE(search->SearchMoreButton()->text(), QStringLiteral("Search More Partitions"));
            QCOMPARE(search->StopButton()->text(), QStringLiteral("Stop Searching Partitions"));
            QVERIFY(search->SearchMoreButton()->isVisible());
            QVERIFY(!search->StopButton()->isVisible());
            QVERIFY(!search->ProgressBar()->isVisible());
            // Under the drive tree.
            QVERIFY(dialog->DriveTreePanel()->parentWidget()->isAncestorOf(search));
        }
    }

    void searchMorePartitionsListsTheLostPartitions()
    {
        auto dialog = OpenDialog(kModeBasic);
        QVERIFY(dialog);
        CPartitionSearchView* search = dialog->PartitionSearch();
        const TreeNodeId diskItem = DiskItem(*dialog, diskNumber_);
        QVERIFY(diskItem != kNoTreeNode);
        DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
        QCOMPARE(inv.Tree.ChildCount(diskItem), std::size_t(0));

        // Nothing searchable selected: the prompt, and the first disk is selected.
        Select(*dialog, inv.PhysicalDrivesItem);
        search->SearchMoreButton()->click();
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0].toStdString(), ProgramState::Instance().Messages.SelectPhysicalDriveText);
        QVERIFY(!search->SearchRunning());
        QCOMPARE(dialog->DriveTreePanel()->Tree()->SelectedItem(), inv.Tree.FirstChild(inv.PhysicalDrivesItem));

        // The disk, Advanced: every volume's boot sector.
        messages_.clear();
        Select(*dialog, diskItem);
        depth_ = SmpMode::Advanced;
        disk_->delayMs = 30;   // long enough to look at the running search
        QSignalSpy finished(search, &CPartitionSearchView::searchFinished);
        search->SearchMoreButton()->click();
        QVERIFY(search->SearchRunning());
        QVERIFY(search->StopButton()->isVisible());
        QVERIFY(!search->SearchMoreButton()->isVisible());
        QVERIFY(search->ProgressBar()->isVisible());
        QCOMPARE(search->StatusLabel()->text(), QStringLiteral("Searching Partitions by Advanced Mode:"));
        QCOMPARE(search->OfTotalLabel()->text(), QStringLiteral(" / %1 sectors").arg(216064));
        // The rest of the dialog waits.
        QVERIFY(!dialog->DriveTreePanel()->isEnabled());
        QVERIFY(!dialog->findChild<QPushButton*>(QStringLiteral("BackButton"))->isEnabled());
        QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("HelpManualButton"))->isEnabled());
        QVERIFY(search->StopButton()->isEnabled());
        QVERIFY(SpinUntil([&] { return search->CounterLabel()->text() != QStringLiteral("0"); }, 5000));
        Screenshot(dialog.get(), "partition-search-running.png");
        disk_->delayMs = 0;
        QVERIFY(finished.wait(60000));

        QVERIFY(!search->SearchRunning());
        QVERIFY(search->SearchMoreButton()->isVisible());
        QVERIFY(!search->StopButton()->isVisible());
        QVERIFY(dialog->DriveTreePanel()->isEnabled());
        QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("BackButton"))->isEnabled());
        const std::vector<std::string> expected{"Partition - 1 ( FAT32 )", "Partition - 2 ( NTFS )",
                                                "Partition - 3 ( FAT16 )", "Partition - 4 ( exFAT )"};
        QCOMPARE(ChildTexts(inv, diskItem), expected);
        const std::vector<TreeNodeId> items = inv.Tree.Children(diskItem);
        CTreeClass* tree = dialog->DriveTreePanel()->Tree();
        for (TreeNodeId item : items) {
            QVERIFY(inv.Tree.Highlighted(item));
            QCOMPARE(tree->indexFromNode(item).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 128, 0));
        }
        // The records behind them, and the first partition selected with its table.
        const DiskPartitionEntry& entry = *inv.PartitionTable.Entry(diskNumber_);
        QCOMPARE(entry.RecordCount, 4u);
        QCOMPARE(entry.Records[2].StartSector, std::uint64_t(110592));
        QCOMPARE(entry.Records[2].TreeItem, items[2]);
        QCOMPARE(tree->SelectedItem(), items[0]);
        QCOMPARE(dialog->DriveTreePanel()->SelectedNodeKind(), QStringLiteral("part"));
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0], QStringLiteral("Found 4 more partitions in selected Disk ( Disk - %1 )").arg(diskNumber_));
        QCOMPARE(search->FoundPartitions(), 4);
        Screenshot(dialog.get(), "partition-search-result.png");

        // A partition selected searches its disk; Standard finds nothing new there.
        messages_.clear();
        Select(*dialog, items[3]);
        depth_ = SmpMode::Standard;
        search->SearchMoreButton()->click();
        QVERIFY(finished.wait(60000));
        QCOMPARE(inv.Tree.ChildCount(diskItem), std::size_t(4));
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0], QStringLiteral("No more partitions found in selected Disk ( Disk - %1 )").arg(diskNumber_));
        QCOMPARE(tree->SelectedItem(), items[0]);

        // Cancel in the depth dialog starts nothing.
        messages_.clear();
        depth_ = SmpMode::None;
        search->SearchMoreButton()->click();
        QVERIFY(!search->SearchRunning());
        QVERIFY(messages_.empty());
    }

    void stopAnswersAtOnceAndKeepsWhatWasFound()
    {
        auto dialog = OpenDialog(kModePhoto);
        QVERIFY(dialog);
        CPartitionSearchView* search = dialog->PartitionSearch();
        DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
        const TreeNodeId diskItem = DiskItem(*dialog, diskNumber_);
        Select(*dialog, diskItem);
        depth_ = SmpMode::Advanced;
        disk_->delayMs = 40;   // every 256 KB block
        search->SearchMoreButton()->click();
        QVERIFY(search->SearchRunning());
        // The FAT32 volume at 2048 comes in the first blocks.
        QVERIFY(SpinUntil([&] { return inv.Tree.ChildCount(diskItem) >= 1; }, 20000));

        // No: the search goes on.
        stopAnswer_ = false;
        search->StopButton()->click();
        QCOMPARE(stopQuestions_, 1);
        QCOMPARE(lastQuestion_.toStdString(), ProgramState::Instance().Messages.StopPartitionSearchQuestionText);
        QVERIFY(search->SearchRunning());
        QVERIFY(search->StopButton()->isVisible());

        // Yes: back at once, the worker may still be in its block.
        stopAnswer_ = true;
        messages_.clear();
        search->StopButton()->click();
        QVERIFY(!search->SearchRunning());
        QVERIFY(search->SearchMoreButton()->isVisible());
        QVERIFY(!search->StopButton()->isVisible());
        QVERIFY(!search->ProgressBar()->isVisible());
        QVERIFY(dialog->DriveTreePanel()->isEnabled());
        QVERIFY(dialog->findChild<QPushButton*>(QStringLiteral("BackButton"))->isEnabled());
        const std::size_t kept = inv.Tree.ChildCount(diskItem);
        QVERIFY(kept >= 1 && kept < 4);
        QCOMPARE(ChildTexts(inv, diskItem)[0], std::string("Partition - 1 ( FAT32 )"));
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0], QStringLiteral("Found %1 more partitions in selected Disk ( Disk - %2 )")
                                   .arg(kept)
                                   .arg(diskNumber_));
        QCOMPARE(dialog->DriveTreePanel()->Tree()->SelectedItem(), inv.Tree.FirstChild(diskItem));

        // The worker ends within its block, and what it reports after the stop is dropped.
        const PartitionSearchJob* job = search->SearchJob();
        QVERIFY(SpinUntil([&] { return !job->Running(); }, 5000));
        QCoreApplication::processEvents();
        QCOMPARE(inv.Tree.ChildCount(diskItem), kept);
        disk_->delayMs = 0;

        // Stop with nothing running does nothing.
        stopQuestions_ = 0;
        search->StopButton()->click();
        QCOMPARE(stopQuestions_, 0);
    }

    void removableCardsShowTheirPartitionInEveryDialog()
    {
        struct Card {
            const char* image;
            const char* item;
        } cards[] = {
            {"card-fat32.img", "Partition - 1 ( FAT32 )"},
            {"exfat.img", "Partition - 1 ( exFAT )"},
            {"card-fat16.img", "Partition - 1 ( FAT16 )"},
        };
        std::vector<int> numbers;
        for (const Card& c : cards) {
            DevicePtr card = OpenFileDevice(test::FixtureImage(c.image).string());
            if (!card)
                QSKIP("the card images are not unpacked");
            numbers.push_back(DeviceRegistry::Instance().RegisterMemoryDisk(card, true));
        }
        for (int mode : {kModeBasic, kModeDeep, kModePhoto, kModeSignature}) {
            messages_.clear();
            auto dialog = OpenDialog(mode, true);
            QVERIFY(dialog);
            CPartitionSearchView* search = dialog->PartitionSearch();
            QVERIFY2(SpinUntil([&] { return !search->Busy(); }, 30000), "the discovery did not end");
            const DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
            for (std::size_t i = 0; i < std::size(cards); ++i) {
                const TreeNodeId diskItem = DiskItem(*dialog, numbers[i]);
                QVERIFY(diskItem != kNoTreeNode);
                QCOMPARE(ChildTexts(inv, diskItem), std::vector<std::string>{cards[i].item});
                QVERIFY(inv.Tree.Highlighted(inv.Tree.FirstChild(diskItem)));
            }
            // The wiped fixed disk is no card: it lists nothing.
            QCOMPARE(inv.Tree.ChildCount(DiskItem(*dialog, diskNumber_)), std::size_t(0));
            // One result message per card, in disk order.
            QCOMPARE(messages_.size(), std::size(cards));
            for (std::size_t i = 0; i < std::size(cards); ++i)
                QCOMPARE(messages_[i], QStringLiteral("Found 1 more partitions in selected Disk ( Disk - %1 )").arg(numbers[i]));
            // The last card's partition is selected, its table shown.
            QCOMPARE(dialog->DriveTreePanel()->Tree()->SelectedItem(),
                     inv.Tree.FirstChild(DiskItem(*dialog, numbers.back())));
            QVERIFY(search->SearchMoreButton()->isVisible());
            QVERIFY(dialog->DriveTreePanel()->isEnabled());
            if (mode == kModeBasic)
                Screenshot(dialog.get(), "removable-discovery.png");
        }
        for (int n : numbers)
            DeviceRegistry::Instance().RemoveDisk(n);
    }

    void discoveryResultWaitsForABoxAlreadyOpen()
    {
        DevicePtr card = OpenFileDevice(test::FixtureImage("card-fat32.img").string());
        if (!card)
            QSKIP("the card images are not unpacked");
        const int number = DeviceRegistry::Instance().RegisterMemoryDisk(card, true);
        // A box up before the discovery ends, as the note on disks that cannot
        // be read is when the drive list is built.
        QMessageBox box(QMessageBox::Information, QStringLiteral("Message"), QStringLiteral("first"), QMessageBox::Ok);
        box.open();
        auto dialog = OpenDialog(kModeDeep, true);
        QVERIFY(dialog);
        CPartitionSearchView* search = dialog->PartitionSearch();
        const DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
        const TreeNodeId diskItem = DiskItem(*dialog, number);
        QVERIFY(SpinUntil([&] { return inv.Tree.ChildCount(diskItem) == 1; }, 30000));
        // The card's partition is listed; its message waits for the box.
        QTest::qWait(300);
        QVERIFY(messages_.empty());
        box.accept();
        QVERIFY(SpinUntil([&] { return !search->Busy() && messages_.size() == 1; }, 30000));
        QCOMPARE(messages_[0], QStringLiteral("Found 1 more partitions in selected Disk ( Disk - %1 )").arg(number));
        dialog.reset();
        DeviceRegistry::Instance().RemoveDisk(number);
    }

    void basicScanOfATablelessDiskWaitsForTheSearch()
    {
        auto dialog = OpenDialog(kModeBasic);
        QVERIFY(dialog);
        auto* basic = static_cast<CBasicSearch*>(dialog.get());
        CBasicSearchView* view = basic->SearchView();
        view->SetInterimInterval(std::chrono::milliseconds(200));
        const TreeNodeId diskItem = DiskItem(*dialog, diskNumber_);
        Select(*dialog, diskItem);
        // The end-of-search box is answered as a user would.
        QTimer answer;
        connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                box->accept();
        });
        answer.start(30);
        QSignalSpy finished(view, &CBasicSearchView::scanFinished);
        view->ScanNowButton()->click();
        QVERIFY(finished.wait(60000));
        // The first partition of the disk was scanned, and it is listed under the disk.
        const PartitionDescriptor& d = view->Partition().Descriptor;
        QCOMPARE(d.FsType, std::string("FAT32"));
        QCOMPARE(d.StartSector, std::uint64_t(2048));
        QVERIFY(view->Results().FoundFolderCount.load() > 5);
        const DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
        QCOMPARE(ChildTexts(inv, diskItem), std::vector<std::string>{"Partition - 1 ( FAT32 )"});
        QVERIFY(inv.Tree.Highlighted(inv.Tree.FirstChild(diskItem)));
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0], QStringLiteral("Found 1 more partitions in selected Disk ( Disk - %1 )").arg(diskNumber_));
    }

    void stopEndsTheDiscoveryAtOnce()
    {
        // A large blank card read slowly: its probe would take minutes.
        auto blank = std::make_shared<test::SparseDevice>(64ull << 30);
        auto slow = std::make_shared<test::SlowDevice>(blank, 20, 512);
        const int card = DeviceRegistry::Instance().RegisterMemoryDisk(slow, true);
        QVERIFY(card >= 0);
        auto dialog = OpenDialog(kModeSignature, true);
        QVERIFY(dialog);
        CPartitionSearchView* search = dialog->PartitionSearch();
        QVERIFY(SpinUntil([&] { return search->DiscoveryRunning() && !search->OfTotalLabel()->text().isEmpty(); }, 5000));
        QCOMPARE(search->StatusLabel()->text(), QStringLiteral("Searching Partitions..."));
        QVERIFY(search->OfTotalLabel()->text().startsWith(QStringLiteral(" / ")));
        QVERIFY(search->OfTotalLabel()->text().endsWith(QStringLiteral(" reading")));
        QVERIFY(!dialog->DriveTreePanel()->isEnabled());
        Screenshot(dialog.get(), "removable-discovery-running.png");

        search->StopButton()->click();
        QCOMPARE(stopQuestions_, 1);
        QVERIFY(!search->Busy());
        QVERIFY(search->SearchMoreButton()->isVisible());
        QVERIFY(dialog->DriveTreePanel()->isEnabled());
        // The stopped card shows its whole-disk entry, and the message says so.
        const DriveInventory& inv = *dialog->DriveTreePanel()->Inventory();
        const TreeNodeId diskItem = DiskItem(*dialog, card);
        QCOMPARE(ChildTexts(inv, diskItem), std::vector<std::string>{"Partition - 1 ( NTFS )"});
        QCOMPARE(messages_.size(), std::size_t(1));
        QCOMPARE(messages_[0], QStringLiteral("Found 1 more partitions in selected Disk ( Disk - %1 )").arg(card));
        // The worker leaves its cylinder and nothing more comes.
        const RemovableMediaScanJob* job = search->DiscoveryJob();
        QVERIFY(SpinUntil([&] { return !job->Running(); }, 5000));
        QCoreApplication::processEvents();
        QCOMPARE(inv.Tree.ChildCount(diskItem), std::size_t(1));
        QCOMPARE(messages_.size(), std::size_t(1));
        dialog.reset();
        DeviceRegistry::Instance().RemoveDisk(card);
    }
};

QTEST_MAIN(PartitionSearchViewTest)
#include "partition_search_view_test.moc"
