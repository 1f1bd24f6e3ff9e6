// Widget tests of the drive-tree panel: the tree of the fixture disks, the
// property list of each kind of node, Refresh Drive List, Show Logical
// Drives, and devices coming and going (an injected event source) with the
// no-device box; then the panel inside each of the four search dialogs.
#include "app/search_dialog.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/wait_window.h"
#include "base/program_state.h"
#include "disk/device_events.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_view.h"
#include "disk/logical_drives.h"
#include "disk/logical_prompt_dialog.h"
#include "disk/no_device_window.h"
#include "disk/property_table_view.h"
#include "platform/device_registry.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTimer>
#include <QtTest>

#include <cstdlib>

using namespace torvane;

namespace {

std::string Fixture(const char* name) { return test::FixtureImage(name).string(); }

// A drive list from a registry of the test's own (no sysfs, no mounts).
CDriveTreeView::InventoryBuilder BuilderOver(DeviceRegistry& registry) {
    return [&registry](int mode, bool withLogical) {
        auto inv = std::make_shared<DriveInventory>();
        inv->RecoveryMode = mode;
        inv->ComputerName = "testhost";
        DriveRefreshOptions options;
        options.WithLogicalDrives = withLogical;
        options.RefreshRegistry = false;
        options.Logical.MountInfoPath = "/nonexistent/mountinfo";
        BuildDriveInventory(*inv, registry, options);
        return inv;
    };
}

LogicalVolumeInfo CardVolume() {
    LogicalVolumeInfo v;
    v.Letter = 'E';
    v.Id = "\\\\.\\E:";
    v.BlockDevice = "/dev/sdz1";
    v.MountPoint = "/media/card";
    v.FsName = "FAT32";
    v.Label = "CARD";
    v.SizeKnown = true;
    v.TotalBytes = 37748736;
    v.SectorCount = 73728;
    v.Extent = VolumeDiskExtent{true, 0, 2048, 75776};
    return v;
}

std::vector<std::string> ChildTexts(const TreeModel& tree, TreeNodeId parent) {
    std::vector<std::string> out;
    for (TreeNodeId c : tree.Children(parent)) out.push_back(tree.Text(c));
    return out;
}

// Closes the modal boxes a test does not look at (the logical-drives note).
void CloseNotes() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* note = qobject_cast<CLogical_Drive_Select_Dlg*>(w)) note->accept();
}

struct PanelFixture {
    DeviceRegistry registry;
    QWidget host;
    CDriveTreeView* panel = nullptr;
    ManualDeviceEventSource* events = nullptr;

    explicit PanelFixture(int mode, bool withImages = true) {
        registry.SetSysfsRoot("");
        if (withImages) {
            registry.AddImage(Fixture("mbr.img"), false);
            registry.AddImage(Fixture("gpt.img"), true);
        }
        panel = new CDriveTreeView(mode, nullptr, &host);
        panel->SetInventoryBuilder(BuilderOver(registry));
        panel->SetLogicalBranchBuilder([](DriveInventory& inv) {
            auto lock = inv.Lock();
            if (inv.LogicalDrivesItem == kNoTreeNode) {
                TreeNodeInit init;
                init.text = "Logical Drives";
                init.image = kImageDriveGroup;
                inv.LogicalDrivesItem = inv.Tree.InsertChild(inv.MyComputerItem, init);
            }
            inv.LogicalDrivesListed = false;
            EnumerateLogicalDrives(inv, {CardVolume()});
        });
        panel->SetSettleDelayMs(0);
        panel->SetShowLogicalNote(false);
        auto source = std::make_unique<ManualDeviceEventSource>();
        events = source.get();
        panel->SetDeviceEventSource(std::move(source));
        panel->SetGiveUpAction([this] { gaveUp = true; });
        host.resize(400, 500);
    }
    bool Refresh() {
        QSignalSpy done(panel, &CDriveTreeView::refreshFinished);
        panel->RefreshDriveTree();
        return done.wait(10000);
    }
    DriveInventory& Inv() { return *panel->Inventory(); }
    bool gaveUp = false;
};

}  // namespace

class DriveTreeViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void treeShowsFixtureDisksAndPartitions();
    void propertyListOfEachNode();
    void refreshButtonRebuildsAndRefusesSecondRun();
    void showLogicalDrivesAddsAndRemovesBranch();
    void deviceArrivalClosesNoDeviceBox();
    void deviceRemovalRefreshesTreeAndPromptsAgain();
    void cancelOfNoDeviceBoxGivesUp();
    void logicalScanPromptResults();
    void everySearchDialogShowsTheTree();
};

void DriveTreeViewTest::initTestCase() {
    // The program's registry: no real disks of this machine, the fixtures as disks.
    DeviceRegistry& registry = DeviceRegistry::Instance();
    registry.Reset();
    registry.SetSysfsRoot("");
    QVERIFY(registry.AddImage(Fixture("mbr.img"), false) >= 0);
    QVERIFY(registry.AddImage(Fixture("gpt.img"), false) >= 0);
}

void DriveTreeViewTest::treeShowsFixtureDisksAndPartitions() {
    PanelFixture f(kModeBasic);
    QVERIFY(f.Refresh());
    DriveInventory& inv = f.Inv();
    const TreeModel& tree = inv.Tree;
    QCOMPARE(tree.Text(tree.RootItem()), std::string("My Computer"));
    QCOMPARE(ChildTexts(tree, inv.MyComputerItem), (std::vector<std::string>{"Physical Drives"}));
    const std::vector<std::string> disks = ChildTexts(tree, inv.PhysicalDrivesItem);
    QCOMPARE(disks.size(), std::size_t(2));
    QVERIFY(disks[0].find(" (Disk0 - ") != std::string::npos);
    QVERIFY(disks[1].find("Removable Media (Disk1 - ") == 0);
    QCOMPARE(ChildTexts(tree, tree.Child(inv.PhysicalDrivesItem, 0)),
             (std::vector<std::string>{"Partition - 1 ( FAT32 )", "Partition - 2 ( NTFS )", "Partition - 3 ( FAT16 )",
                                       "Partition - 4 ( exFAT )"}));
    QCOMPARE(ChildTexts(tree, tree.Child(inv.PhysicalDrivesItem, 1)),
             (std::vector<std::string>{"Partition - 1 ( FAT32 )", "Partition - 2 ( NTFS )", "Partition - 3 ( exFAT )"}));
    // Icons by the rules; the view shows every item, expanded.
    QCOMPARE(tree.Image(inv.PhysicalDrivesItem), int(kImageDisk));
    QCOMPARE(tree.Image(tree.Child(tree.Child(inv.PhysicalDrivesItem, 0), 0)), int(kImagePartition));
    CTreeClass* view = f.panel->Tree();
    QCOMPARE(view->model()->rowCount(), 1);
    const QModelIndex firstDisk = view->indexFromNode(tree.Child(inv.PhysicalDrivesItem, 0));
    QVERIFY(firstDisk.isValid());
    QVERIFY(view->isExpanded(firstDisk));
    QCOMPARE(view->model()->rowCount(firstDisk), 4);
    // The root is selected after a refresh; nothing is busy.
    QCOMPARE(view->SelectedItem(), inv.MyComputerItem);
    QVERIFY(!inv.DriveListBusy.load());
    QVERIFY(f.panel->RefreshButton()->isEnabled());
    QVERIFY(f.panel->NoDeviceBox() == nullptr);
}

void DriveTreeViewTest::propertyListOfEachNode() {
    PanelFixture f(kModeDeep);
    f.host.show();
    QVERIFY(f.Refresh());
    DriveInventory& inv = f.Inv();
    CPropertyTableView* list = f.panel->PropertyList();
    CTreeClass* view = f.panel->Tree();

    // My Computer: no table.
    QVERIFY(list->isHidden());

    const TreeNodeId disk0 = inv.Tree.Child(inv.PhysicalDrivesItem, 0);
    view->SelectItem(disk0);
    QCOMPARE(f.panel->SelectedNodeKind(), QStringLiteral("Hard Disk"));
    QVERIFY(!list->isHidden());
    QCOMPARE(list->Rows().RowCount(), 13);
    QCOMPARE(list->Rows().Cell(6, 0), std::string("7. Sectors :"));
    QCOMPARE(list->Value(6), std::string("216064"));
    QCOMPARE(list->Rows().RowImage(0), kPropertyRowImage);
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(f.panel->LastSelection().DeviceId, std::string("\\\\.\\PhysicalDrive0"));

    const TreeNodeId part2 = inv.Tree.Child(disk0, 1);
    view->SelectItem(part2);
    QCOMPARE(f.panel->SelectedNodeKind(), QStringLiteral("part"));
    QCOMPARE(list->Rows().RowCount(), 7);
    QCOMPARE(list->Value(2), std::string("NTFS"));
    QCOMPARE(list->Value(3), std::string("Deep Search"));
    QCOMPARE(list->Value(4), std::string("75776"));
    QCOMPARE(list->Value(5), std::string("108544"));
    QCOMPARE(f.panel->LastSelection().RangeStart, std::uint64_t(75776));

    // "Physical Drives": the disks table, "No." hidden, rows by "Disk number".
    view->SelectItem(inv.PhysicalDrivesItem);
    QCOMPARE(list->Rows().ColumnCount(), 4);
    QCOMPARE(list->Rows().RowCount(), 2);
    QVERIFY(list->isColumnHidden(0));
    QCOMPARE(list->Rows().Cell(0, 1), std::string("Disk0"));
    QCOMPARE(list->Rows().Cell(1, 1), std::string("Disk1"));

    view->SelectItem(inv.MyComputerItem);
    QVERIFY(list->isHidden());

    // The disks table is ordered by the "Disk number" text: Disk10 comes
    // between Disk1 and Disk2.
    PropertyTable disks;
    disks.Columns = {{"No.", 0}, {"Disk number", 80}, {"Name", 200}, {"Value", 180}};
    disks.HideFirstColumn = true;
    disks.SortByColumn1 = true;
    for (const char* d : {"Disk0", "Disk1", "Disk2", "Disk10"}) disks.Rows.push_back({"n", d, "model", "size"});
    list->ShowTable(disks);
    std::vector<std::string> order;
    for (int r = 0; r < list->Rows().RowCount(); ++r) order.push_back(list->Rows().Cell(r, 1));
    QCOMPARE(order, (std::vector<std::string>{"Disk0", "Disk1", "Disk10", "Disk2"}));
    QVERIFY(list->isColumnHidden(0));
}

void DriveTreeViewTest::refreshButtonRebuildsAndRefusesSecondRun() {
    PanelFixture f(kModePhoto);
    QVERIFY(f.Refresh());
    const std::shared_ptr<DriveInventory> before = f.panel->Inventory();
    QSignalSpy done(f.panel, &CDriveTreeView::refreshFinished);
    QTest::mouseClick(f.panel->RefreshButton(), Qt::LeftButton);
    // While it runs, the buttons are off and a second refresh does nothing.
    QVERIFY(f.panel->RefreshRunning());
    QVERIFY(!f.panel->RefreshButton()->isEnabled());
    QVERIFY(before->DriveListBusy.load());
    f.panel->RefreshDriveTree();
    QVERIFY(done.wait(10000));
    QTest::qWait(50);
    QCOMPARE(done.count(), 1);
    QVERIFY(f.panel->Inventory() != before);
    QCOMPARE(f.Inv().Tree.ChildCount(f.Inv().PhysicalDrivesItem), std::size_t(2));
    QVERIFY(!f.Inv().DriveListBusy.load());
}

void DriveTreeViewTest::showLogicalDrivesAddsAndRemovesBranch() {
    PanelFixture f(kModeBasic);
    QVERIFY(f.Refresh());
    QCOMPARE(f.Inv().LogicalDrivesItem, kNoTreeNode);
    QSignalSpy done(f.panel, &CDriveTreeView::refreshFinished);
    f.panel->ShowLogicalDrivesBox()->setChecked(true);
    QVERIFY(f.panel->ReloadRunning());
    QVERIFY(!f.panel->ShowLogicalDrivesBox()->isEnabled());
    QVERIFY(done.wait(10000));
    DriveInventory& inv = f.Inv();
    QVERIFY(inv.LogicalDrivesItem != kNoTreeNode);
    QCOMPARE(ChildTexts(inv.Tree, inv.MyComputerItem),
             (std::vector<std::string>{"Physical Drives", "Logical Drives"}));
    // The loading window is gone (not left over the property values), and
    // the branch just listed is selected.
    QCoreApplication::processEvents();
    for (CModeless1* loading : f.host.findChildren<CModeless1*>())
        QVERIFY(!loading->isVisible());
    QCOMPARE(f.panel->Tree()->SelectedItem(), inv.LogicalDrivesItem);
    const TreeNodeId volume = inv.Tree.FirstChild(inv.LogicalDrivesItem);
    QCOMPARE(inv.Tree.Text(volume).substr(0, 2), std::string("E:"));
    QCOMPARE(inv.Tree.Image(volume), int(kImageVolume));

    f.panel->Tree()->SelectItem(volume);
    QCOMPARE(f.panel->SelectedNodeKind(), QStringLiteral("Logical"));
    QCOMPARE(f.panel->PropertyList()->Rows().RowCount(), 9);
    QCOMPARE(f.panel->PropertyList()->Value(1), std::string("73728"));

    // Unticking removes the branch; the selected drive goes with it, the root is selected.
    f.panel->ShowLogicalDrivesBox()->setChecked(false);
    QCOMPARE(inv.LogicalDrivesItem, kNoTreeNode);
    QCOMPARE(ChildTexts(inv.Tree, inv.MyComputerItem), (std::vector<std::string>{"Physical Drives"}));
    QCOMPARE(f.panel->Tree()->SelectedItem(), inv.MyComputerItem);

    // The note button shows the note.
    QTest::mouseClick(f.panel->LogicalNoteButton(), Qt::LeftButton);
    CLogical_Drive_Select_Dlg* note = f.panel->window()->findChild<CLogical_Drive_Select_Dlg*>();
    QVERIFY(note != nullptr);
    note->accept();
}

void DriveTreeViewTest::deviceArrivalClosesNoDeviceBox() {
    PanelFixture f(kModeBasic, /*withImages=*/false);
    f.host.show();
    QVERIFY(f.Refresh());
    // Nothing listed: the no-device box asks for a medium.
    QVERIFY(f.panel->NoDeviceBoxShown());
    CNoDevice_Rem_Media* box = f.panel->NoDeviceBox();
    QVERIFY(box != nullptr);
    QCOMPARE(box->HeadlineText(), QStringLiteral("Could not find any USB Removable Media connected to your System."));
    if (const char* shots = std::getenv("TORVANE_SCREENSHOT_DIR"))
        box->grab().save(QString::fromUtf8(shots) + QStringLiteral("/no-device-box.png"));

    // A removal while the box is up changes nothing.
    f.events->Push(DeviceEventKind::Removal, "sdb");
    QTest::qWait(200);
    QVERIFY(!f.panel->RefreshRunning());
    QVERIFY(f.panel->NoDeviceBoxShown());

    // The card arrives: one Retry for two quick arrivals, the tree gets the
    // disk and the box closes by itself.
    QSignalSpy closed(f.panel, &CDriveTreeView::noDeviceBoxClosed);
    QSignalSpy refreshed(f.panel, &CDriveTreeView::refreshFinished);
    f.registry.AddImage(Fixture("mbr.img"), true);
    f.events->Push(DeviceEventKind::Arrival, "sdb");
    f.events->Push(DeviceEventKind::Arrival, "sdb1");
    QVERIFY(closed.wait(10000));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toBool(), false);
    QVERIFY(!f.panel->NoDeviceBoxShown());
    QCOMPARE(refreshed.count(), 1);
    DriveInventory& inv = f.Inv();
    QCOMPARE(inv.Tree.ChildCount(inv.PhysicalDrivesItem), std::size_t(1));
    // ReselectDriveItem: the first partition of the first disk.
    const TreeNodeId firstPartition = inv.Tree.FirstChild(inv.Tree.FirstChild(inv.PhysicalDrivesItem));
    QCOMPARE(f.panel->Tree()->SelectedItem(), firstPartition);
    QCOMPARE(f.panel->SelectedNodeKind(), QStringLiteral("part"));
    QVERIFY(!f.gaveUp);
}

void DriveTreeViewTest::deviceRemovalRefreshesTreeAndPromptsAgain() {
    PanelFixture f(kModeDeep, /*withImages=*/false);
    f.host.show();
    const int number = f.registry.AddImage(Fixture("gpt.img"), true);
    QVERIFY(f.Refresh());
    QVERIFY(!f.panel->NoDeviceBoxShown());
    // The user looks at the second partition.
    const TreeNodeId disk = f.Inv().Tree.FirstChild(f.Inv().PhysicalDrivesItem);
    f.panel->Tree()->SelectItem(f.Inv().Tree.Child(disk, 1));

    // A device that is not a listed disk leaves the tree alone.
    QSignalSpy refreshed(f.panel, &CDriveTreeView::refreshFinished);
    f.events->Push(DeviceEventKind::Arrival, "zram0");
    QTest::qWait(200);
    QCOMPARE(refreshed.count(), 0);

    // Another disk arrives: the tree follows and keeps the user's item.
    f.registry.AddImage(Fixture("mbr.img"), false);
    f.events->Push(DeviceEventKind::Arrival, "");
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(f.Inv().Tree.ChildCount(f.Inv().PhysicalDrivesItem), std::size_t(2));
    QCOMPARE(f.panel->SelectedNodeKind(), QStringLiteral("part"));
    QCOMPARE(f.Inv().Tree.Text(f.panel->Tree()->SelectedItem()), std::string("Partition - 2 ( NTFS )"));

    // Both go away: the tree is rebuilt empty and the box asks again.
    f.registry.RemoveDisk(number);
    f.registry.RemoveDisk(1 - number);
    f.events->Push(DeviceEventKind::Removal, "");
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(f.Inv().Tree.ChildCount(f.Inv().PhysicalDrivesItem), std::size_t(0));
    QVERIFY(f.panel->NoDeviceBoxShown());

    // Retry with still nothing keeps the box up.
    QSignalSpy again(f.panel, &CDriveTreeView::refreshFinished);
    QTest::mouseClick(f.panel->NoDeviceBox()->RetryButton(), Qt::LeftButton);
    QVERIFY(again.wait(10000));
    QVERIFY(f.panel->NoDeviceBoxShown());
    QVERIFY(f.panel->NoDeviceBox()->RetryButton()->isEnabled());
    f.panel->NoDeviceBox()->CancelButton()->click();
}

void DriveTreeViewTest::cancelOfNoDeviceBoxGivesUp() {
    PanelFixture f(kModeSignature, /*withImages=*/false);
    f.host.show();
    QVERIFY(f.Refresh());
    QVERIFY(f.panel->NoDeviceBoxShown());
    QSignalSpy closed(f.panel, &CDriveTreeView::noDeviceBoxClosed);
    QTest::mouseClick(f.panel->NoDeviceBox()->CancelButton(), Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toBool(), true);
    QVERIFY(f.gaveUp);
    QVERIFY(!f.panel->NoDeviceBoxShown());
}

void DriveTreeViewTest::logicalScanPromptResults() {
    struct Case {
        const char* button;
        int expected;
    } cases[] = {{"PerformLogicalScan", CLogicalDlg::kLogicalScan},
                 {"PerformPhysicalScan", CLogicalDlg::kPhysicalScan},
                 {"CancelButton", CLogicalDlg::kCancel}};
    for (const Case& c : cases) {
        CLogicalDlg dialog(QStringLiteral("\\\\.\\E:"));
        QCOMPARE(dialog.QuestionText(), QStringLiteral("You have selected a Logical Partition ( E: ) to recover data."));
        QTimer::singleShot(0, &dialog, [&dialog, &c] { dialog.findChild<QPushButton*>(c.button)->click(); });
        QCOMPARE(dialog.exec(), c.expected);
    }
    // Escape is the close box: a physical scan.
    CLogicalDlg dialog(QStringLiteral("\\\\.\\F:"));
    QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    QCOMPARE(dialog.exec(), int(CLogicalDlg::kPhysicalScan));
}

void DriveTreeViewTest::everySearchDialogShowsTheTree() {
    const char* shots = std::getenv("TORVANE_SCREENSHOT_DIR");
    for (int mode : {kModeBasic, kModeDeep, kModePhoto, kModeSignature}) {
        ProgramState::Instance().RecoveryMode = mode;
        SearchDialogBase* dialog = CreateSearchDialog(mode, nullptr);
        QVERIFY(dialog != nullptr);
        auto* panel = dialog->findChild<CDriveTreeView*>();
        QVERIFY2(panel != nullptr, "the dialog has no drive-tree panel");
        panel->SetDeviceEventSource(std::make_unique<ManualDeviceEventSource>());
        // The launch hands over the list its worker built.
        auto snapshot = Services().BuildDriveList ? Services().BuildDriveList(mode) : nullptr;
        QVERIFY(snapshot != nullptr);
        dialog->BeginSession(snapshot);
        dialog->show();
        DriveInventory& inv = *panel->Inventory();
        QCOMPARE(inv.Tree.ChildCount(inv.PhysicalDrivesItem), std::size_t(2));
        const TreeNodeId disk = inv.Tree.FirstChild(inv.PhysicalDrivesItem);
        QCOMPARE(inv.Tree.ChildCount(disk), std::size_t(4));
        // Selecting a partition shows its rows beside the tree.
        panel->Tree()->SelectItem(inv.Tree.FirstChild(disk));
        QVERIFY(panel->PropertyList()->isVisible());
        QCOMPARE(panel->PropertyList()->Rows().RowCount(), 7);
        // The machine's logical drives come with the box.
        QSignalSpy done(panel, &CDriveTreeView::refreshFinished);
        panel->SetShowLogicalNote(false);
        panel->ShowLogicalDrivesBox()->setChecked(true);
        QVERIFY(done.wait(10000));
        QVERIFY(inv.LogicalDrivesItem != kNoTreeNode);
        panel->Tree()->SelectItem(inv.Tree.FirstChild(disk));
        QCoreApplication::processEvents();
        if (shots != nullptr)
            dialog->grab().save(QString::fromUtf8(shots) + QStringLiteral("/search-dialog-%1.png").arg(mode));
        CloseNotes();
        dialog->hide();
        delete dialog;
    }
    ProgramState::Instance().RecoveryMode = kModeNone;
}

QTEST_MAIN(DriveTreeViewTest)
#include "drive_tree_view_test.moc"
