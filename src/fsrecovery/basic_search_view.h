// The scan and results views of the Basic Search dialog, and the handlers
// that move between them: "Scan Now", the scan's progress (timers 123 and
// 456), "Stop", the result state, the results tree and its file list,
// opening a found file, "Save Data", "Save Log" and "Load Log", and the
// results half of "Back" and of closing.
//
// Everything but the widgets lives in the dialog's SearchSession: the scan
// and listing jobs, the results, the volumes read, the file list's rows and
// the state the buttons depend on. The timers read the session's counters
// and texts, so a worker never touches a widget; the session's ends reach
// this view through queued calls.
#pragma once

#include "app/search_dialog.h"
#include "disk/volume_geometry.h"
#include "fsrecovery/basic_scan_start.h"
#include "fsrecovery/search_session.h"
#include "results/populate_window.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QEventLoop;

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

namespace torvane {

class CDriveTreeView;
class CTreeClass;
class CResultsFileList;
class CColorStatic;
class COpenSingleFile;

class CBasicSearchView : public QWidget {
    Q_OBJECT
public:
    // `host` is the dialog (message boxes, Back to the main window);
    // `driveArea` and `placeholder` are the frame's drive-view widgets, which
    // this view hides while it shows a scan or its results.
    // `recoveryMode`: the session's (the Deep Search view passes 2).
    CBasicSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* driveArea, QWidget* placeholder,
                     QWidget* parent = nullptr, int recoveryMode = 1);
    ~CBasicSearchView() override;

    // ---- the dialog's handlers ------------------------------------------------
public slots:
    virtual void OnScanNow();
    void OnStop();
    void OnSaveData();
    void OnSaveLog();
    // Loads the log pending (ProgramState::PendingScanLogPath: the command
    // line, the main window's "Load Log", a hand-over) or one the user chooses.
    void OnLoadLog();
    // "Open" of the file list: the first selected row (a folder is selected
    // in the tree, a file copied and opened with its application).
    void OnOpenFile();
    // The results tree's "Save": what is ticked.
    void SaveCheckedItems();
    // The file list's "Save": the selected rows (a folder row with all below
    // it); "Save All": every row of the list.
    void SaveSelectedRows();
    void SaveAllRows();

public:
    // The status line above the file list ("( folder )    N Files, M Folders").
    void SetFoundCountStatus(const QString& text);
    // The text of the selected results-tree item; a null text when none is selected.
    QString SelectedResultsItemText() const;
    // The right-click menus, as they open at `pos` (in the view's viewport);
    // null when no menu belongs there now (tests run its actions).
    QMenu* MakeResultTreeMenu();
    QMenu* MakeResultListMenu(bool forClick = true);
    // Writes the results to a scan log the user chooses (Save Log, and the
    // save asked for by Back and Close). 1 when written; 0 when cancelled or
    // when it failed (the user was told why).
    int SaveScanLog();
    // "Back": true when the view handled it (refused, asked, or reset to the
    // drive view); false when there are no results (the dialog returns to the
    // main window).
    bool OnBack();
    // The close box: whether the dialog may close (the exit sequence follows).
    bool ConfirmClose();
    // Stops a running scan or listing and waits for it.
    void StopRunningWork();

    // ---- state ------------------------------------------------------------------
    SearchSession& Session() { return m_session; }
    std::uint32_t BasicScanCount() const { return m_session.ScanCount(); }
    bool ScanRunning() const { return m_session.ScanRunning(); }
    bool ListBusy() const { return m_session.ListBusy(); }
    bool LogJobRunning() const { return m_session.LogJobRunning(); }
    bool ResultsInScanLog() const { return m_session.ResultsLogged(); }
    ScanResults& Results() { return m_session.Results(); }
    const CurrentPartition& Partition() const { return m_session.Partition(); }

    // ---- controls (tests) -------------------------------------------------------
    CTreeClass* ResultsTree() const { return m_pResultsTree; }
    CResultsFileList* FileList() const { return m_pFileList; }
    CPopulate* PopulateWindow() const { return m_pPopulate.data(); }
    QPushButton* ScanNowButton() const { return m_pScanNow; }
    QPushButton* StopButton() const { return m_pStop; }
    QPushButton* SaveDataButton() const { return m_pSaveData; }
    QPushButton* SaveLogButton() const { return m_pSaveLog; }
    QPushButton* LoadLogButton() const { return m_pLoadLog; }
    QLabel* DescriptionLabel() const { return m_pDescription; }
    // The "Opening File" window while a file is copied for opening, else null.
    COpenSingleFile* OpenFileWindow() const;
    QLabel* CounterLabel() const;      // static 1331
    QLabel* StepLabel() const;         // static 1197
    QLabel* InstructionLabel() const;  // static 1011
    QLabel* FolderStatusLabel() const;   // static 1174
    QLabel* RangeLabel() const;          // static 1077
    QLabel* RangeTextLabel() const;      // static 1078
    QLabel* ScanStatusLabel() const;     // "sectors  of  total"
    QLabel* CurrentSectorLabel() const;  // static 1208
    QProgressBar* ScanProgress() const { return m_pProgress; }
    // The interim tree period of the next scan (tests may shorten it).
    void SetInterimInterval(std::chrono::milliseconds ms) { m_session.SetInterimInterval(ms); }

signals:
    // The scan reached its result state (after a normal end or a stop).
    void scanFinished();
    // A folder's list was populated (or the listing was cancelled).
    void listPopulated();
    // A scan log was written (or the writing failed).
    void logSaved();
    // A scan-log load ended, whatever its outcome.
    void logLoaded();
    // An open of a found file ended (opened or not).
    void fileOpened();

protected:
    // Hooks of the Deep Search view: what Scan Now starts (it resolves its
    // own range and type), the drive view, and the timers 123 and 456.
    virtual BasicScanStart ResolveScanStart(const DriveInventory& inv, const BasicScanStartInput& in);
    virtual void ShowDriveViews(bool show);
    virtual void OnTimer123();
    virtual void OnTimer456();

private:
    class SessionEvents;

    void BuildWidgets();
    void ShowResultViews(bool show);
    void ShowStopSearchControls(bool show);
    void OnScanJobFinished();
    void ApplyResultState();
    void OnResultsSelChanged(TreeNodeId item);
    void OnListJobFinished();
    void OnResultListDoubleClicked(const QModelIndex& index);
    bool RefuseSaveNow();
    // One question or message at a time: while one is open, the ends of
    // the workers (and the boxes they bring) wait for it to close.
    class ModalGuard;
    bool DeferWhileModal(void (CBasicSearchView::*handler)());
    void RunDeferred();
    void ShowFolderCounts();
    std::vector<SaveRow> SelectedSaveRows() const;
    void OpenListRow(int row);
    void OnOpenFileFinished();
    void OnLogSaved();
    void OnLogLoadFinished();
    void OnLoadTimer();
    void ShowLoadedResults(const std::string& description);
    void ReturnToDriveSelection();
    ScanLogSourceFacts SourceFacts() const;
    void ResetForNewSelection();
    void ShowScanDisplay();
    void UpdateCounters();
    bool ResultsShown() const;
    QWidget* Owner() const;

    QPointer<SearchDialogBase> m_host;
    QPointer<CDriveTreeView> m_drives;
    QPointer<QWidget> m_driveArea;
    QPointer<QWidget> m_placeholder;

    // Widgets.
    CColorStatic* m_pInstruction = nullptr;   // 1011
    QWidget* m_pResultsArea = nullptr;
    CTreeClass* m_pResultsTree = nullptr;     // 1008
    CResultsFileList* m_pFileList = nullptr;  // 1004 as the results list
    CColorStatic* m_pFolderCaption = nullptr; // 1167 "Current Folder"
    CColorStatic* m_pFolderStatus = nullptr;  // 1174
    QListWidget* m_pLiveList = nullptr;       // 1186
    QWidget* m_pScanPanel = nullptr;
    QProgressBar* m_pProgress = nullptr;      // 1073
    CColorStatic* m_pStepText = nullptr;      // 1197
    CColorStatic* m_pStatus = nullptr;        // 1074
    CColorStatic* m_pRangeLabel = nullptr;    // 1077
    CColorStatic* m_pRangeText = nullptr;     // 1078
    CColorStatic* m_pSector = nullptr;        // 1208
    CColorStatic* m_pOfTotal = nullptr;       // 1075
    QLabel* m_pCounters = nullptr;            // 1331
    QLabel* m_pTreeCount = nullptr;           // 1332
    QLabel* m_pDescription = nullptr;         // 1333
    QPushButton* m_pScanNow = nullptr;        // 1010
    QPushButton* m_pStop = nullptr;           // 1044
    QPushButton* m_pSaveData = nullptr;       // 1092
    QPushButton* m_pSaveLog = nullptr;        // 1003
    QPushButton* m_pLoadLog = nullptr;        // 1093
    QPointer<CPopulate> m_pPopulate;
    QPointer<COpenSingleFile> m_pOpenWindow;
    QPointer<QWidget> m_focusBeforeListing;

    QTimer m_timer123;
    QTimer m_timer456;
    QTimer m_loadTimer;      // the log load's progress
    QTimer m_openTimer;      // the copy's progress in the "Opening File" window
    QEventLoop* m_pSaveLoop = nullptr;   // SaveScanLog waits here for the writer
    std::string m_loadPath;

    // The session's observer outlives the session's jobs (declared first).
    std::unique_ptr<SessionEvents> m_events;
    SearchSession m_session{1};

    int m_nModalOpen = 0;
    std::vector<void (CBasicSearchView::*)()> m_deferred;
    bool m_bStopRequest = false;       // StopRequestFlag
    std::uint64_t m_rangeStart = 0, m_rangeEnd = 0;
    std::uint64_t m_barLow = 0, m_barHigh = 0;   // the range the bar shows now
    std::string m_selectionDescription;
};

}  // namespace torvane
