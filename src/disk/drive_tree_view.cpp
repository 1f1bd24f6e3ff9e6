#include "disk/drive_tree_view.h"

#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "base/program_state.h"
#include "base/status_routines.h"
#include "base/text_routines.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/wait_window.h"
#include "disk/drive_refresh.h"
#include "disk/drive_tree_rules.h"
#include "disk/logical_prompt_dialog.h"
#include "disk/no_device_window.h"
#include "disk/property_table_view.h"
#include "platform/device_registry.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

#include <unistd.h>

namespace torvane {
namespace {

QIcon ThemedIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

// The five images of the drive trees, in the order of DriveTreeImage.
QList<QIcon> DriveTreeIcons() {
    return {
        ThemedIcon("computer", QStyle::SP_ComputerIcon),
        ThemedIcon("folder", QStyle::SP_DirIcon),
        ThemedIcon("drive-partition", QStyle::SP_DriveFDIcon),
        ThemedIcon("drive-harddisk", QStyle::SP_DriveHDIcon),
        ThemedIcon("drive-removable-media", QStyle::SP_DriveCDIcon),
    };
}

// The layout (anywhere below `layout`) that holds `widget` directly.
QBoxLayout* BoxLayoutHolding(QLayout* layout, QWidget* widget) {
    if (layout == nullptr) return nullptr;
    if (layout->indexOf(widget) >= 0) return qobject_cast<QBoxLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        if (QLayout* inner = layout->itemAt(i)->layout())
            if (QBoxLayout* found = BoxLayoutHolding(inner, widget)) return found;
    }
    return nullptr;
}

// The kernel names of the listed disks ("sdb", "loop3"), for device events.
std::vector<std::string> ListedDiskNames(const DriveInventory& inv) {
    std::vector<std::string> names;
    auto lock = inv.Tree.Lock();
    if (inv.PhysicalDrivesItem == kNoTreeNode) return names;
    for (TreeNodeId child : inv.Tree.Children(inv.PhysicalDrivesItem)) {
        auto* d = inv.Tree.PayloadAs<DriveDetails>(child);
        if (d == nullptr || d->DevicePath.rfind("/dev/", 0) != 0) continue;
        names.push_back(std::filesystem::path(d->DevicePath).filename().string());
    }
    return names;
}

}  // namespace

std::shared_ptr<DriveInventory> BuildDriveInventoryForMode(int recoveryMode, bool withLogicalDrives) {
    auto inv = std::make_shared<DriveInventory>();
    const ProgramState& state = ProgramState::Instance();
    inv->RecoveryMode = recoveryMode;
    inv->SignatureModeText = state.SignatureModeText;
    inv->ListAllDriveTypes = state.Profile.ListAllDriveTypes != 0;
    DriveRefreshOptions options;
    options.WithLogicalDrives = withLogicalDrives;
    BuildDriveInventory(*inv, DeviceRegistry::Instance(), options);
    return inv;
}

void InstallDriveTreeServices() {
    ShellServices& services = Services();
    if (!services.BuildDriveList) {
        services.BuildDriveList = [](int recoveryMode) -> std::shared_ptr<DriveListSnapshot> {
            auto snapshot = std::make_shared<DriveTreeSnapshot>();
            snapshot->Inventory = BuildDriveInventoryForMode(recoveryMode, false);
            return snapshot;
        };
    }
    if (!services.RunLogicalScanPrompt) {
        services.RunLogicalScanPrompt = [] {
            QWidget* owner = CurrentSearchDialog();
            if (owner == nullptr) owner = MainWindowWidget();
            return RunLogicalScanPromptDialog(owner);
        };
    }
}

namespace {
// The launch finds the services set as soon as this panel is part of the program.
const bool kServicesInstalled = (InstallDriveTreeServices(), true);
}  // namespace

// ---- the panel ---------------------------------------------------------------------

CDriveTreeView::CDriveTreeView(int recoveryMode, SearchDialogBase* host, QWidget* parent)
    : QWidget(parent), m_nRecoveryMode(recoveryMode), m_host(host) {
    (void)kServicesInstalled;
    setObjectName(QStringLiteral("DriveTreePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_pTree = new CTreeClass(this);
    m_pTree->setObjectName(QStringLiteral("DriveTree"));
    m_pTree->setImageList(DriveTreeIcons());
    m_pTree->setHeaderHidden(true);
    // Long disk texts scroll sideways instead of being cut off.
    m_pTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pTree->header()->setStretchLastSection(false);
    layout->addWidget(m_pTree, 1);

    auto* logicalRow = new QHBoxLayout;
    m_pShowLogical = new QCheckBox(QStringLiteral("Show Logical Drives"), this);
    m_pShowLogical->setObjectName(QStringLiteral("ShowLogicalDrives"));
    m_pNoteButton = new QToolButton(this);
    m_pNoteButton->setObjectName(QStringLiteral("LogicalDrivesNote"));
    m_pNoteButton->setIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation));
    m_pNoteButton->setAutoRaise(true);
    logicalRow->addWidget(m_pShowLogical);
    logicalRow->addWidget(m_pNoteButton);
    logicalRow->addStretch();
    layout->addLayout(logicalRow);

    m_pRefresh = new QPushButton(QStringLiteral("Refresh Drive List"), this);
    m_pRefresh->setObjectName(QStringLiteral("RefreshDriveList"));
    m_pRefresh->setIcon(QApplication::style()->standardIcon(QStyle::SP_BrowserReload));
    layout->addWidget(m_pRefresh);

    m_pProperties = new CPropertyTableView(this);
    m_pProperties->hide();

    m_builder = [](int mode, bool withLogical) { return BuildDriveInventoryForMode(mode, withLogical); };
    m_logicalBuilder = [](DriveInventory& inv) { AddLogicalDrivesBranch(inv, DeviceRegistry::Instance()); };
    // Without word from the dialog: idle while the drive view is on screen
    // (the dialogs hide it while a scan or its results show).
    m_idle = [this] { return isVisible(); };
    m_holdsResults = [] { return false; };
    m_giveUp = [this] {
        if (m_host) m_host->SearchDialogBase::OnBack();
    };

    connect(m_pTree, &CTreeClass::selChanged, this, &CDriveTreeView::OnSelChanged);
    connect(m_pRefresh, &QPushButton::clicked, this, &CDriveTreeView::RefreshDriveTree);
    connect(m_pShowLogical, &QCheckBox::toggled, this, &CDriveTreeView::ToggleLogicalDrives);
    connect(m_pNoteButton, &QToolButton::clicked, this, &CDriveTreeView::ShowLogicalDrivesNote);

    m_settleTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this, [this] { RunDeviceAction(); });
    connect(&m_pollTimer, &QTimer::timeout, this, &CDriveTreeView::OnDeviceEvents);
    SetDeviceEventSource(MakeDeviceEventSource(DeviceRegistry::Instance().SysfsRoot()));
}

CDriveTreeView::~CDriveTreeView() {
    m_settleTimer.stop();
    m_pollTimer.stop();
    JoinWorker();
    // The view lets go of the model before the inventory goes.
    m_pTree->setTreeModel(nullptr);
    if (m_pLoading) m_pLoading->deleteLater();
}

CNoDevice_Rem_Media* CDriveTreeView::NoDeviceBox() const { return m_pNoDevice.data(); }

void CDriveTreeView::JoinWorker() {
    if (m_worker.joinable()) m_worker.join();
}

void CDriveTreeView::SetInventoryBuilder(InventoryBuilder builder) { m_builder = std::move(builder); }
void CDriveTreeView::SetLogicalBranchBuilder(LogicalBranchBuilder builder) { m_logicalBuilder = std::move(builder); }

void CDriveTreeView::SetDeviceEventSource(std::unique_ptr<DeviceEventSource> source) {
    delete m_pNotifier;
    m_pNotifier = nullptr;
    m_pollTimer.stop();
    m_source = std::move(source);
    if (!m_source) return;
    if (m_source->Fd() >= 0) {
        m_pNotifier = new QSocketNotifier(m_source->Fd(), QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, &CDriveTreeView::OnDeviceEvents);
    } else {
        m_pollTimer.start(m_source->PollIntervalMs());
    }
}

// ---- content -----------------------------------------------------------------------

void CDriveTreeView::Adopt(const std::shared_ptr<DriveListSnapshot>& drives) {
    auto snapshot = std::dynamic_pointer_cast<DriveTreeSnapshot>(drives);
    if (snapshot && snapshot->Inventory) {
        AdoptInventory(snapshot->Inventory);
        // The dialog is not on screen yet: its boxes come once it is.
        QTimer::singleShot(0, this, [this] {
            if (!m_inventory) return;
            ShowPermissionNoteOnce();
            if (DriveTreeIsEmpty(*m_inventory)) PromptDeviceReconnect();
        });
        DispatchRemovableMediaScan();
        return;
    }
    StartRefresh(RefreshCause::Initial);
}

void CDriveTreeView::AdoptInventory(std::shared_ptr<DriveInventory> inventory) {
    if (!inventory) return;
    m_retired = std::move(m_inventory);
    m_inventory = std::move(inventory);
    m_inventory->RecoveryMode = m_nRecoveryMode;
    m_pTree->setTreeModel(&m_inventory->Tree);
    m_retired.reset();
    m_shownItem.clear();
    m_selection = DriveSelection{};
    {
        const QSignalBlocker block(m_pShowLogical);
        m_pShowLogical->setChecked(m_inventory->LogicalDrivesItem != kNoTreeNode);
    }
    MainWindowState::Instance().LogicalDrivesListed = m_inventory->LogicalDrivesListed ? 1 : 0;
    SetDriveTreeIcons(m_inventory->Tree);
    m_pTree->itemModel()->publishChanges();
    ExpandRoots();
    SelectNode(m_inventory->MyComputerItem);
}

void CDriveTreeView::ExpandRoots() {
    if (!m_inventory) return;
    m_pTree->itemModel()->publishChanges();
    for (TreeNodeId item : {m_inventory->MyComputerItem, m_inventory->PhysicalDrivesItem, m_inventory->LogicalDrivesItem})
        if (item != kNoTreeNode) m_pTree->ExpandItem(item);
    for (TreeNodeId disk : m_inventory->Tree.Children(m_inventory->PhysicalDrivesItem)) m_pTree->ExpandItem(disk);
}

void CDriveTreeView::SelectNode(TreeNodeId node) {
    if (!m_inventory || node == kNoTreeNode) return;
    m_pTree->itemModel()->publishChanges();
    m_pTree->SelectItem(node);
    // A selection the view already had does not signal again.
    if (m_inventory->SelectedItem.load() != node || m_selection.Kind == DriveNodeKind::None) OnSelChanged(node);
}

// ---- refresh -------------------------------------------------------------------------

void CDriveTreeView::SetBusy(bool busy) {
    m_pRefresh->setEnabled(!busy);
    m_pShowLogical->setEnabled(!busy);
    m_pNoteButton->setEnabled(!busy);
    m_pTree->setEnabled(!busy);
    if (m_inventory) m_inventory->DriveListBusy = busy;
}

void CDriveTreeView::RefreshDriveTree() { StartRefresh(RefreshCause::User); }

void CDriveTreeView::StartRefresh(RefreshCause cause) {
    if (m_bRefreshRunning || m_bReloadRunning) return;
    m_bRefreshRunning = true;
    std::string reselect;
    if (cause == RefreshCause::Device && m_inventory) {
        const TreeNodeId selected = m_inventory->SelectedItem.load();
        if (selected != kNoTreeNode) reselect = m_inventory->Tree.Text(selected);
    }
    SetBusy(true);
    if (cause == RefreshCause::User && m_host) ShowPleaseWait(m_host);
    m_pProperties->Clear();
    m_pProperties->hide();
    if (m_host) {
        if (m_nRecoveryMode >= kModeDeep) m_host->ShowSectorRangeControls(false);
    }
    m_pTree->ClearItemHighlights();
    MainWindowState::Instance().LogicalDrivesListed = 0;
    MainWindowState::Instance().FoundPartitions = 0;

    JoinWorker();
    const InventoryBuilder builder = m_builder;
    const int mode = m_nRecoveryMode;
    const bool withLogical = m_pShowLogical->isChecked();
    QPointer<CDriveTreeView> self(this);
    m_worker = std::thread([self, builder, mode, withLogical, cause, reselect] {
        std::shared_ptr<DriveInventory> inventory;
        try {
            if (builder) inventory = builder(mode, withLogical);
        } catch (const std::exception& e) {
            LogCaughtError(GetModeLabel(mode), "Reload disk...", "LD", e.what());
        } catch (...) {
            LogCaughtError(GetModeLabel(mode), "Reload disk...", "LD", "1F5");
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, inventory, cause, reselect] {
                if (self) self->FinishRefresh(inventory, cause, reselect);
            },
            Qt::QueuedConnection);
    });
}

void CDriveTreeView::FinishRefresh(std::shared_ptr<DriveInventory> inventory, RefreshCause cause,
                                   std::string reselectText) {
    JoinWorker();
    m_bRefreshRunning = false;
    if (inventory) AdoptInventory(std::move(inventory));
    SetBusy(false);
    if (cause == RefreshCause::User && m_host) HidePleaseWait(m_host);
    if (cause == RefreshCause::Retry) {
        m_bRetryRunning = false;
        if (m_pNoDevice) m_pNoDevice->SetRetryRunning(false);
    }
    if (!m_inventory) {
        emit refreshFinished();
        return;
    }
    ShowPermissionNoteOnce();
    DispatchRemovableMediaScan();

    if (DriveTreeIsEmpty(*m_inventory)) {
        PromptDeviceReconnect();
    } else if (m_bNoDeviceBoxShown) {
        // A drive is listed now: the box has done its work.
        m_pNoDevice->accept();
        ReselectDriveItem();
    } else if (cause == RefreshCause::Retry) {
        ReselectDriveItem();
    } else if (!reselectText.empty()) {
        // After a device event the user's item stays selected while it exists.
        TreeNodeId same = kNoTreeNode;
        m_inventory->Tree.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
            if (m_inventory->Tree.Text(id) != reselectText) return true;
            same = id;
            return false;
        });
        if (same != kNoTreeNode) SelectNode(same);
    }
    if (cause == RefreshCause::User) m_pTree->setFocus();
    emit refreshFinished();
    if (m_pendingAction != DeviceEventAction::Ignore) {
        // Devices changed while the list was being built.
        m_pendingAction = DeviceEventAction::Ignore;
        m_settleTimer.start(m_settleMs);
    }
}

void CDriveTreeView::ToggleLogicalDrives(bool ticked) {
    if (!m_inventory) return;
    if (ticked) {
        if (m_bShowNote) ShowLogicalDrivesNote();
        MainWindowState::Instance().LogicalDrivesListed = 0;
        if (m_bReloadRunning || m_bRefreshRunning) return;
        m_bReloadRunning = true;
        SetBusy(true);
        m_pLoading = new CModeless1(window());
        m_pLoading->setAttribute(Qt::WA_DeleteOnClose);
        m_pLoading->show();
        JoinWorker();
        std::shared_ptr<DriveInventory> inventory = m_inventory;
        const LogicalBranchBuilder builder = m_logicalBuilder;
        const int mode = m_nRecoveryMode;
        QPointer<CDriveTreeView> self(this);
        m_worker = std::thread([self, inventory, builder, mode] {
            try {
                if (builder) builder(*inventory);
            } catch (const std::exception& e) {
                LogCaughtError(GetModeLabel(mode), "Loading connected devices ...", "LlD", e.what());
            } catch (...) {
                LogCaughtError(GetModeLabel(mode), "Loading connected devices ...", "LlD", "1A2");
            }
            QMetaObject::invokeMethod(
                qApp,
                [self] {
                    if (self) self->FinishReload();
                },
                Qt::QueuedConnection);
        });
        return;
    }
    // Unticked (the box is disabled while a reload runs, so the branch is not being filled).
    const bool selectionInside = RemoveLogicalDrivesBranch(*m_inventory);
    MainWindowState::Instance().LogicalDrivesListed = 0;
    m_pTree->itemModel()->publishChanges();
    if (selectionInside || m_pTree->SelectedItem() == kNoTreeNode) {
        m_pTree->SelectItem(kNoTreeNode);
        SelectNode(m_inventory->MyComputerItem);
    }
}

void CDriveTreeView::FinishReload() {
    JoinWorker();
    m_bReloadRunning = false;
    if (m_pLoading) {
        // Not close(): the window refuses to be closed by the user (its
        // reject does nothing), and a refused close would leave it up.
        m_pLoading->hide();
        m_pLoading->deleteLater();
        m_pLoading = nullptr;
    }
    SetBusy(false);
    if (m_inventory) {
        MainWindowState::Instance().LogicalDrivesListed = m_inventory->LogicalDrivesListed ? 1 : 0;
        SetDriveTreeIcons(m_inventory->Tree);
        ExpandRoots();
        // The branch just listed is where the user looks next.
        const TreeNodeId logical = m_inventory->LogicalDrivesItem;
        const TreeNodeId selected = m_inventory->SelectedItem.load();
        if (logical != kNoTreeNode && m_inventory->Tree.IsValid(logical)) {
            SelectNode(logical);
        } else if (selected == kNoTreeNode || !m_inventory->Tree.IsValid(selected)) {
            SelectNode(m_inventory->MyComputerItem);
        }
    }
    emit refreshFinished();
}

void CDriveTreeView::ShowLogicalDrivesNote() {
    auto* note = new CLogical_Drive_Select_Dlg(window());
    note->setAttribute(Qt::WA_DeleteOnClose);
    note->open();
}

void CDriveTreeView::ReselectDriveItem() {
    if (!m_inventory) return;
    m_pTree->viewport()->update();
    SelectNode(ChooseReselectItem(*m_inventory));
    m_pTree->setFocus();
}

void CDriveTreeView::ShowPermissionNoteOnce() {
    static bool shown = false;
    if (shown || !m_inventory || m_inventory->AccessDeniedDisks.empty()) return;
    shown = true;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Message"),
                                QString::fromStdString(DiskPermissionMessageFor(m_inventory->AccessDeniedDisks,
                                                                                ::geteuid() == 0)),
                                QMessageBox::Ok, window());
    box->setObjectName(QStringLiteral("DiskPermissionMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- selection -----------------------------------------------------------------------

void CDriveTreeView::OnSelChanged(TreeNodeId node) {
    if (!m_inventory || node == kNoTreeNode) return;
    int mode = m_nRecoveryMode;
    // One dialog serves the Video and the signature search.
    if (mode == kModeSignature && ProgramState::Instance().RecoveryMode.load() == kModeVideo) mode = kModeVideo;
    m_inventory->RecoveryMode = mode;  // the "Search Mode" rows name it
    DriveSelectionContext context;
    context.RecoveryMode = mode;
    context.ShownItem = m_shownItem;
    context.HoldsResults = m_holdsResults && m_holdsResults();
    // The sector range stays hidden while a partition search works on the tree.
    context.RemovableScanRunning = m_host && m_host->PartitionSearchBusy();
    const DriveSelection s = PrepareDriveSelection(*m_inventory, node, context);
    if (s.Kind == DriveNodeKind::None) return;
    m_inventory->SelectedItem = node;
    if (s.Unchanged) return;
    m_selection = s;
    m_shownItem = s.ShownItem;
    ApplySelection(s);
    emit driveSelected(static_cast<int>(s.Kind));
}

void CDriveTreeView::ApplySelection(const DriveSelection& s) {
    MainWindowState& main = MainWindowState::Instance();
    if (!s.VolumePath.empty()) main.VolumePath.Set(s.VolumePath);
    if (s.ShowTable) {
        m_pProperties->ShowTable(s.Table);
        // Not over the results of a scan or a log: the drive row shows it when it comes back.
        m_pProperties->setVisible(isVisibleTo(window()));
    } else {
        m_pProperties->Clear();
        m_pProperties->hide();
    }
    if (m_host) {
        m_host->ShowProgressStatics(!s.ShowTable);
        if (s.ShowRange) m_host->ShowSectorRangeControls(*s.ShowRange);
        if (s.SetRange) m_host->InitSectorRangeControls(s.RangeStart, s.RangeEnd, s.RangeMin, s.RangeMax);
        if (s.FsComboName && m_nRecoveryMode == kModeDeep)
            m_host->SelectFileSystemInCombo(FileSystemComboIndex(*s.FsComboName));
    }
}

// ---- devices ---------------------------------------------------------------------------

bool CDriveTreeView::DialogIdle() const {
    // A partition search adds to the tree it started on: no rebuild meanwhile.
    if (m_host && m_host->PartitionSearchBusy()) return false;
    return !m_idle || m_idle();
}

void CDriveTreeView::OnDeviceEvents() {
    if (!m_source) return;
    const std::vector<DeviceEvent> events = m_source->Poll();
    if (events.empty()) return;
    const std::vector<std::string> listed = m_inventory ? ListedDiskNames(*m_inventory) : std::vector<std::string>{};
    for (const DeviceEvent& event : events) {
        if (!DeviceEventConcernsDrives(event, listed)) continue;
        DeviceEventContext context;
        context.NoDeviceBoxShown = m_bNoDeviceBoxShown;
        context.RetryRunning = m_bRetryRunning;
        context.DriveListBusy = m_bRefreshRunning || m_bReloadRunning;
        context.DialogIdle = DialogIdle();
        context.FollowDevices = m_bFollowDevices;
        const DeviceEventAction action = DecideDeviceEvent(event.Kind, context);
        if (action == DeviceEventAction::Retry) {
            OnRetry();
        } else if (action == DeviceEventAction::RefreshTree) {
            // A burst of events (a disk and its partitions) gives one refresh.
            m_settleTimer.start(m_settleMs);
        } else if (context.DriveListBusy && !m_bRetryRunning &&
                   (m_bNoDeviceBoxShown ? event.Kind == DeviceEventKind::Arrival
                                        : (m_bFollowDevices && context.DialogIdle))) {
            // The list being built may miss this change: look again after it.
            m_pendingAction = m_bNoDeviceBoxShown ? DeviceEventAction::Retry : DeviceEventAction::RefreshTree;
        }
    }
}

void CDriveTreeView::RunDeviceAction() {
    if (m_bRefreshRunning || m_bReloadRunning) {
        m_pendingAction = DeviceEventAction::RefreshTree;
        return;
    }
    if (m_bNoDeviceBoxShown) {
        OnRetry();
        return;
    }
    if (m_bFollowDevices && DialogIdle()) StartRefresh(RefreshCause::Device);
}

void CDriveTreeView::OnRetry() {
    if (m_bRefreshRunning || m_bReloadRunning || m_bRetryRunning) return;
    m_bRetryRunning = true;
    if (m_pNoDevice) m_pNoDevice->SetRetryRunning(true);
    MainWindowState::Instance().LogicalDrivesListed = 0;
    // A moment for the system to set the new device up.
    QTimer::singleShot(m_settleMs, this, [this] {
        if (m_bRefreshRunning || m_bReloadRunning) {
            m_bRetryRunning = false;
            if (m_pNoDevice) m_pNoDevice->SetRetryRunning(false);
            m_pendingAction = DeviceEventAction::Retry;
            return;
        }
        StartRefresh(RefreshCause::Retry);
    });
}

void CDriveTreeView::PromptDeviceReconnect() {
    if (m_host) {
        m_host->raise();
        m_host->activateWindow();
    }
    if (m_bNoDeviceBoxShown) return;
    QWidget* owner = m_host ? static_cast<QWidget*>(m_host.data()) : window();
    auto* box = new CNoDevice_Rem_Media(owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (m_inventory && !m_inventory->AccessDeniedDisks.empty())
        box->SetReasonText(
            QString::fromStdString(DiskPermissionMessageFor(m_inventory->AccessDeniedDisks, ::geteuid() == 0)));
    m_pNoDevice = box;
    m_bNoDeviceBoxShown = true;
    m_bRetryRunning = false;
    connect(box, &CNoDevice_Rem_Media::retryRequested, this, &CDriveTreeView::OnRetry);
    connect(box, &QDialog::finished, this, [this](int result) {
        m_bNoDeviceBoxShown = false;
        m_pNoDevice = nullptr;
        const bool gaveUp = result != QDialog::Accepted;
        emit noDeviceBoxClosed(gaveUp);
        if (gaveUp && m_giveUp) m_giveUp();
    });
    box->open();
}

// ---- embedding ---------------------------------------------------------------------------

CDriveTreeView* EmbedDriveTreePanel(SearchDialogBase* dialog, QWidget* driveArea, QWidget* placeholder) {
    auto* panel = new CDriveTreeView(dialog != nullptr ? dialog->RecoveryMode() : kModeNone, dialog, driveArea);
    if (driveArea != nullptr) {
        if (QLayout* layout = driveArea->layout()) {
            for (int i = layout->count() - 1; i >= 0; --i)
                if (layout->itemAt(i)->spacerItem() != nullptr) delete layout->takeAt(i);
            layout->addWidget(panel);
        }
        // The tree's own root says "My Computer".
        if (auto* heading = driveArea->findChild<QLabel*>(QStringLiteral("DriveTreeHeading"))) heading->hide();
    }
    if (placeholder != nullptr && placeholder->parentWidget() != nullptr) {
        if (QBoxLayout* box = BoxLayoutHolding(placeholder->parentWidget()->layout(), placeholder)) {
            const int index = box->indexOf(placeholder);
            box->insertWidget(index + 1, panel->PropertyList(), box->stretch(index));
        }
    }
    panel->PropertyList()->hide();
    // The partition-search controls go under the tree, in every dialog alike.
    if (dialog != nullptr) dialog->AttachDrivePanel(panel);
    return panel;
}

}  // namespace torvane
