// The drive-tree panel of the search dialogs: the tree "My Computer" /
// "Physical Drives" / "Logical Drives", the "Show Logical Drives" box with
// its note button, and "Refresh Drive List"; beside it (placed by the
// dialog) the property list of the selected node.
//
// The drive list is built on a worker (listing disks reads their partition
// tables and may take seconds on a slow USB stick); the finished inventory
// replaces the one the tree shows, on the GUI thread. While a refresh runs
// the panel is busy (DriveListBusy of the shown inventory is set) and a
// second refresh is refused.
//
// Devices: the panel watches block devices coming and going (udev, else
// polling /sys/block). When the tree lists nothing the no-device box asks
// for a medium; an arrival while it is up runs its Retry step after a 2 s
// pause for the system to settle, and the box closes once a drive is listed.
// While no box is up and the dialog is idle, arrivals and removals rebuild
// the tree, so it never lists a disk that is gone.
#pragma once

#include "app/search_dialog.h"
#include "base/tree_model.h"
#include "disk/device_events.h"
#include "disk/drive_inventory.h"
#include "disk/drive_selection.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QPushButton;
class QSocketNotifier;
class QToolButton;

namespace torvane {

class CTreeClass;
class CPropertyTableView;
class CNoDevice_Rem_Media;
class CModeless1;

// The drive list a search dialog starts with (built by the launch worker).
struct DriveTreeSnapshot : DriveListSnapshot {
    std::shared_ptr<DriveInventory> Inventory;
};

// Builds a complete drive list for a dialog of `recoveryMode` from the
// program's device registry. Any thread; touches no widget.
std::shared_ptr<DriveInventory> BuildDriveInventoryForMode(int recoveryMode, bool withLogicalDrives);

// Sets the launch's BuildDriveList and RunLogicalScanPrompt services (once).
void InstallDriveTreeServices();

class CDriveTreeView : public QWidget {
    Q_OBJECT
public:
    // `host` receives the per-mode calls (progress statics, sector range,
    // file-system choice); it may be null (tests).
    CDriveTreeView(int recoveryMode, SearchDialogBase* host, QWidget* parent = nullptr);
    ~CDriveTreeView() override;

    // ---- content ----------------------------------------------------------
    // Shows a list built by the launch; null (or another kind of snapshot)
    // starts a refresh instead.
    void Adopt(const std::shared_ptr<DriveListSnapshot>& drives);
    // Shows `inventory` (GUI thread).
    void AdoptInventory(std::shared_ptr<DriveInventory> inventory);
    std::shared_ptr<DriveInventory> Inventory() const { return m_inventory; }

    // ---- controls -----------------------------------------------------------
    CTreeClass* Tree() const { return m_pTree; }
    QCheckBox* ShowLogicalDrivesBox() const { return m_pShowLogical; }
    QToolButton* LogicalNoteButton() const { return m_pNoteButton; }
    QPushButton* RefreshButton() const { return m_pRefresh; }
    // The property list; the dialog places it (EmbedDriveTreePanel does).
    CPropertyTableView* PropertyList() const { return m_pProperties; }
    // The no-device box while it is up, else null.
    CNoDevice_Rem_Media* NoDeviceBox() const;
    bool NoDeviceBoxShown() const { return m_bNoDeviceBoxShown; }

    // ---- state --------------------------------------------------------------
    bool RefreshRunning() const { return m_bRefreshRunning; }
    bool ReloadRunning() const { return m_bReloadRunning; }
    // The last selection's result (kind, device, sector range, and in
    // Source what the node stands for: what Scan Now scans).
    const DriveSelection& LastSelection() const { return m_selection; }
    // SelectedNodeKind: "Hard Disk", "Logical", "part", ...
    QString SelectedNodeKind() const { return QString::fromStdString(m_selection.NodeKindText); }

    // ---- settings (tests, dialogs) ------------------------------------------
    using InventoryBuilder = std::function<std::shared_ptr<DriveInventory>(int recoveryMode, bool withLogicalDrives)>;
    void SetInventoryBuilder(InventoryBuilder builder);
    // Adds the "Logical Drives" branch to a listed inventory (worker thread).
    using LogicalBranchBuilder = std::function<void(DriveInventory&)>;
    void SetLogicalBranchBuilder(LogicalBranchBuilder builder);
    // Replaces the device-event source (the default watches this machine).
    void SetDeviceEventSource(std::unique_ptr<DeviceEventSource> source);
    DeviceEventSource* EventSource() const { return m_source.get(); }
    // The pause between a device event and the refresh it causes (2000 ms).
    void SetSettleDelayMs(int ms) { m_settleMs = ms; }
    // Whether events rebuild the tree while no box is up (default on).
    void SetFollowDevices(bool on) { m_bFollowDevices = on; }
    // Whether the dialog is idle (no scan, search, log load; no results shown).
    // Default: while the panel is on screen.
    void SetIdleQuery(std::function<bool()> idle) { m_idle = std::move(idle); }
    // Whether the dialog shows results (volume rows are withheld then).
    void SetResultsQuery(std::function<bool()> holds) { m_holdsResults = std::move(holds); }
    // What Cancel of the no-device box does (default: back to the main window).
    void SetGiveUpAction(std::function<void()> giveUp) { m_giveUp = std::move(giveUp); }
    // Whether the logical-drives note is shown when the box is ticked (default on).
    void SetShowLogicalNote(bool on) { m_bShowNote = on; }

public slots:
    // "Refresh Drive List": rebuilds the tree from scratch.
    void RefreshDriveTree();
    // The "Show Logical Drives" box.
    void ToggleLogicalDrives(bool ticked);
    // The button beside the box.
    void ShowLogicalDrivesNote();
    // After a device arrived: the first partition of the first disk, else the
    // first disk, else "My Computer".
    void ReselectDriveItem();
    // The tree's selection moved (OnSelChanged of the drive tree).
    void OnSelChanged(TreeNodeId node);
    // Reads the device-event source and acts on what it reports.
    void OnDeviceEvents();
    // The Retry step of the no-device box (its button, or an arrival).
    void OnRetry();
    // Runs the no-device box (not modal to the caller: returns at once).
    void PromptDeviceReconnect();

signals:
    // A refresh (full, or the logical branch) finished and the tree shows it.
    void refreshFinished();
    // A node was selected and its table shown.
    void driveSelected(int kind);
    // The no-device box closed: `gaveUp` when the user cancelled it.
    void noDeviceBoxClosed(bool gaveUp);

private:
    enum class RefreshCause { User, Retry, Device, Initial };
    void StartRefresh(RefreshCause cause);
    void FinishRefresh(std::shared_ptr<DriveInventory> inventory, RefreshCause cause, std::string reselectText);
    void FinishReload();
    void ApplySelection(const DriveSelection& s);
    void SetBusy(bool busy);
    void ExpandRoots();
    void SelectNode(TreeNodeId node);
    void StartWatching();
    void ScheduleDeviceAction(DeviceEventAction action);
    void RunDeviceAction();
    void ShowPermissionNoteOnce();
    // Whether device events may rebuild the tree now.
    bool DialogIdle() const;
    void JoinWorker();

    const int m_nRecoveryMode;
    QPointer<SearchDialogBase> m_host;
    std::shared_ptr<DriveInventory> m_inventory;
    // The inventory the view showed before the last swap: kept until the
    // view has let go of it.
    std::shared_ptr<DriveInventory> m_retired;

    CTreeClass* m_pTree = nullptr;
    QCheckBox* m_pShowLogical = nullptr;
    QToolButton* m_pNoteButton = nullptr;
    QPushButton* m_pRefresh = nullptr;
    CPropertyTableView* m_pProperties = nullptr;
    QPointer<CNoDevice_Rem_Media> m_pNoDevice;
    QPointer<CModeless1> m_pLoading;

    InventoryBuilder m_builder;
    LogicalBranchBuilder m_logicalBuilder;
    std::thread m_worker;
    bool m_bRefreshRunning = false;
    bool m_bReloadRunning = false;
    bool m_bNoDeviceBoxShown = false;
    bool m_bRetryRunning = false;
    bool m_bFollowDevices = true;
    bool m_bShowNote = true;
    std::string m_shownItem;
    DriveSelection m_selection;

    std::unique_ptr<DeviceEventSource> m_source;
    QSocketNotifier* m_pNotifier = nullptr;
    QTimer m_pollTimer;
    QTimer m_settleTimer;
    int m_settleMs = 2000;
    DeviceEventAction m_pendingAction = DeviceEventAction::Ignore;
    std::function<bool()> m_idle;
    std::function<bool()> m_holdsResults;
    std::function<void()> m_giveUp;
};

// Puts a drive-tree panel into a search dialog: the panel into the dialog's
// drive-tree area, the property list beside the "Select drive to start
// recovery..." panel (which it replaces while a table shows).
CDriveTreeView* EmbedDriveTreePanel(SearchDialogBase* dialog, QWidget* driveArea, QWidget* placeholder);

}  // namespace torvane
