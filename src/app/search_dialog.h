// What every search dialog shares, the program-wide pointers to the live
// windows, and the per-mode control routines that reach "the dialog of the
// current search".
//
// The four search dialogs (CBasicSearch, CDeepSearch, CRawSearch,
// CSigDuplicate) derive from SearchDialogBase. Each is opened by a mode
// button of the main window: the loading window shows while the drive list
// is built on a worker; then, on the GUI thread, the dialog is constructed,
// takes the drive list (BeginSession), hides the main window, closes the
// loading window and runs modally. Widgets are only ever touched on the GUI
// thread; a worker that wants a per-mode routine to run calls it anyway: the
// routine posts itself to the GUI thread.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "app/ui/scroll_helper.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QVBoxLayout;
class QWidget;

namespace torvane {

class CSalvoraDlg;
class CDriveTreeView;
class CPartitionSearchView;

// What a search dialog's drive tree is filled from. The drive-tree code
// defines the content; the launch only carries it from the worker that
// built it to the dialog.
struct DriveListSnapshot {
    virtual ~DriveListSnapshot() = default;
};

// Services of other subsystems that the shell calls. Each is empty until the
// subsystem that provides it sets it at start-up; an empty service does
// nothing (or answers its default).
struct ShellServices {
    // Builds a search dialog's drive list (disks, partitions, logical drives,
    // removable-media discovery). Runs on a worker thread; must not touch
    // widgets. `recoveryMode` is the dialog's mode.
    std::function<std::shared_ptr<DriveListSnapshot>(int recoveryMode)> BuildDriveList;
    // Opens the scan log named in ProgramState::PendingScanLogPath (command
    // line, "Load Log"): runs the Basic or Deep dialog modally and returns
    // when it ends. Returns at once when no path is pending.
    std::function<void(CSalvoraDlg& mainWindow)> OpenScanLog;
    // The logical-drive prompt: 1 "Perform Logical Scan", 2 "Perform
    // Physical Scan" (or the close box), 0 "Cancel".
    std::function<int()> RunLogicalScanPrompt;
};

ShellServices& Services();

// The base of the four search dialogs.
class SearchDialogBase : public QDialog {
    Q_OBJECT
public:
    // `recoveryMode`: 1 Basic, 2 Deep, 3 Photo, 4 Video, 5 signature.
    SearchDialogBase(int recoveryMode, QWidget* parent = nullptr);
    ~SearchDialogBase() override;

    int RecoveryMode() const { return m_nRecoveryMode; }

    // The hand-over at the start of the modal run (the dialog's
    // initialisation): stores the dialog's pointer, fills the drive tree from
    // `drives` (may be null), hides the main window, stops the loading
    // window's timer and closes it. A dialog opened for a scan log has no
    // loading window; the last step then does nothing.
    void BeginSession(std::shared_ptr<DriveListSnapshot> drives);

    // "Back" on the first page: returns to the main window with RecoveryMode 0
    // and ends the dialog.
    virtual void OnBack();
    // The close box (and Alt+F4): the exit question, then the exit sequence.
    // Dialogs with unsaved results override it (the save-before-exit question).
    virtual void OnClose();

    // Per-mode control routines; each dialog implements its own rows. The
    // defaults do nothing.
    virtual void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives);
    virtual void EnableSearchControls() {}
    virtual void DisableSearchControls() {}
    virtual void ShowStopSearchControls(bool /*show*/) {}
    virtual void ShowProgressStatics(bool show);
    virtual void ShowSectorRangeControls(bool /*show*/) {}
    virtual void InitSectorRangeControls(std::uint64_t /*start*/, std::uint64_t /*end*/, std::uint64_t /*minimum*/,
                                         std::uint64_t /*maximum*/) {}
    virtual void SelectFileSystemInCombo(int /*index*/) {}
    virtual void SetFoundCountStatus(const QString& /*text*/) {}
    virtual QString SelectedResultsItemText() const { return QString(); }
    virtual bool HasSelectedResultsItem() const { return false; }
    virtual void StopElapsedTimer() {}
    virtual void ReselectDriveTreeItem(int /*flag*/) {}
    // The partition discovery on removable disks that list no partition; the
    // frame runs it through its partition-search controls.
    virtual void StartRemovableMediaScan();
    // After a modal box closed: a dialog whose results tree must stay
    // disabled while a log loads or a list is populated disables it again.
    virtual void RestoreBusyState() {}
    // Stops this dialog's running work (scan, carving, search) and waits for it.
    virtual void StopRunningWork() {}

    // Scroll bars for a dialog made smaller than its content.
    ScrollHelper* GetScrollHelper() const { return m_pScrollHelper.get(); }

    // ---- the drive tree and the partition search (shared by the four dialogs) ----
    // Called once the dialog's drive-tree panel sits in its drive-tree area
    // (EmbedDriveTreePanel): puts the partition-search controls ("Search More
    // Partitions", "Stop Searching Partitions", status, progress) under it.
    void AttachDrivePanel(CDriveTreeView* panel);
    CDriveTreeView* DriveTreePanel() const { return m_pDrivePanel; }
    CPartitionSearchView* PartitionSearch() const { return m_pPartitionSearch; }
    // While a partition search runs, everything the user could start or
    // change is disabled except the search's own controls (`keep`) and the
    // help buttons; unlocking enables again exactly what locking disabled.
    void LockForPartitionSearch(bool lock, QWidget* keep);
    // A partition search or the removable-media discovery is under way.
    bool PartitionSearchBusy() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Escape and the dialog's own cancel never end a search dialog.
    void reject() override {}

    // The common frame: a title banner, the body (for the dialog's own
    // widgets) and a button row with Back on the left.
    QVBoxLayout* BodyLayout() const { return m_pBody; }
    QWidget* ButtonRow() const { return m_pButtonRow; }
    QLabel* TitleLabel() const { return m_pTitle; }
    // The placeholder panel that covers the list area until a drive is chosen
    // ("Select drive to start recovery...").
    QWidget* PlaceholderPanel() const { return m_pPlaceholder; }
    QWidget* DriveTreeArea() const { return m_pDriveArea; }

    const int m_nRecoveryMode;

private:
    QLabel* m_pTitle = nullptr;
    QVBoxLayout* m_pBody = nullptr;
    QWidget* m_pButtonRow = nullptr;
    QWidget* m_pPlaceholder = nullptr;
    QWidget* m_pDriveArea = nullptr;
    std::unique_ptr<ScrollHelper> m_pScrollHelper;
    CDriveTreeView* m_pDrivePanel = nullptr;
    CPartitionSearchView* m_pPartitionSearch = nullptr;
    std::vector<QPointer<QWidget>> m_lockedWidgets;   // what LockForPartitionSearch disabled
};

// Program-wide pointers to the live windows. Each is null while its window
// does not exist. GUI thread only.
struct DialogPointers {
    QPointer<CSalvoraDlg> MainDialogPtr;
    QPointer<SearchDialogBase> BasicSearchPtr;
    QPointer<SearchDialogBase> DeepSearchPtr;
    QPointer<SearchDialogBase> RawSearchPtr;
    QPointer<SearchDialogBase> SigDuplicatePtr;
    QPointer<QDialog> SavingDlgPtr;
    QPointer<QDialog> MsgStandPtr;
    QPointer<QWidget> PopulateWndPtr;  // the "Populating List Items" window
};
DialogPointers& Dialogs();

// The main window as a plain widget (owner of message boxes); may be null.
QWidget* MainWindowWidget();
// The dialog of the current RecoveryMode, or null.
SearchDialogBase* CurrentSearchDialog();

// Runs `fn` on the GUI thread: at once when called there, else queued.
void RunOnGuiThread(std::function<void()> fn);

// Progress bars over 64-bit ranges. Each bar keeps its own mapper.
// `forwardOnly`: in by-value mode the bar never moves back (the exFAT rule).
void SetProgressRange64(QProgressBar* bar, std::uint64_t low, std::uint64_t high, int step);
void UpdateProgress64(QProgressBar* bar, std::uint64_t low, std::uint64_t high, std::uint64_t position, int increment,
                      bool byValue, bool forwardOnly = false);

// The per-mode routines: each acts on the dialog of the current RecoveryMode
// (nothing when none is open).
void ShowFoundCountStatus();
void EnableSearchControls();
void DisableSearchControls();
void ShowStopSearchControls(bool show);
void ShowProgressStatics(bool show);
void ShowSectorRangeControls(SearchDialogBase* dialog, bool show);
void InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::uint64_t maximum,
                             SearchDialogBase* dialog);
void SelectFileSystemInCombo(const std::string& fileSystemName);
void StopElapsedTimer();
void ClearPartitionSearchState();
void DisableMainWindow();
void HideMainWindow();
void ShowMainWindow();
void RestoreBusyState();
void ClosePopulateWindow(bool destroy);
void ReselectDriveTreeItem(int flag);
void DispatchRemovableMediaScan();
int RunLogicalScanPrompt();
void RelayoutSearchDialog();
void ReloadBannerBitmap();

// Construct, run modally and destroy the Basic or Deep Search dialog on the
// calling (GUI) thread, without a loading window (scan logs).
void RunBasicSearchDialog();
void RunDeepSearchDialog();
// The dialog of a mode (1..5), constructed but not run; null for other modes.
SearchDialogBase* CreateSearchDialog(int recoveryMode, QWidget* parent);

}  // namespace torvane
