// What the Photo Search and the Video/signature search dialogs share: the
// three-page wizard over a CarvingSession.
//
//   page 0  the drive tree, its property list and the sector range
//   page 1  the summary of the choice, the destination folder, the pass
//           choice (the signature search adds its check-list of file types)
//   page 2  the search: pass indicators, progress, "Stop Search", "Open
//           Containing Folder" and the dialog's result views
//
// "Next" moves forward (page 1's Next starts the search), "Back" moves back
// and, on page 0, returns to the main window. While a search runs, Back and
// Next do nothing; the end of the search enables Back again and shows the
// end-of-search box.
//
// The session's job reports from its worker; everything it says reaches the
// widgets through queued calls on the GUI thread. A read failure is asked
// with CMediaRemoved on the GUI thread while the worker waits for the answer.
#pragma once

#include "app/search_dialog.h"
#include "base/list_model.h"
#include "carving/carving_session.h"

#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace torvane {

class CColorStatic;
class CDriveTreeView;
class CHideColumn;
class CSectorRangeGroup;

class CarvingSearchDialog : public SearchDialogBase {
    Q_OBJECT
public:
    // `modeText`: "Photo", "Video" or the signature mode text.
    CarvingSearchDialog(int recoveryMode, const QString& modeText, QWidget* parent = nullptr);
    ~CarvingSearchDialog() override;

    CarvingSession& Session() { return *m_session; }
    int WizardStep() const { return m_session->WizardStep(); }

    // ---- controls (tests) -------------------------------------------------------
    CDriveTreeView* DrivePanel() const { return m_pDrivePanel; }
    CSectorRangeGroup* RangeGroup() const { return m_pRange; }
    QPushButton* NextButton() const { return m_pNext; }
    QPushButton* BackButton() const;
    QLineEdit* DestinationEdit() const { return m_pDestination; }
    QPushButton* BrowseButton() const { return m_pBrowse; }
    QCheckBox* ThoroughBox() const { return m_pThorough; }
    CHideColumn* SummaryList() const { return m_pSummary; }
    QLabel* StatusLine() const;
    QProgressBar* SearchProgress() const { return m_pProgress; }
    QLabel* SectorLabel() const;
    QLabel* RangeLabel() const;
    QLabel* PassLabel() const;
    QPushButton* StopSearchButton() const { return m_pStopSearch; }
    QPushButton* OpenFolderButton() const { return m_pOpenFolder; }
    QLabel* ClearedNote() const;
    QLabel* PassIndicator(int pass) const;

    // ---- the frame's per-mode routines -------------------------------------------
    void FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives) override;
    void OnBack() override;
    void StopRunningWork() override;
    void EnableSearchControls() override;
    void DisableSearchControls() override;
    void ShowStopSearchControls(bool show) override;
    void ShowProgressStatics(bool show) override;
    void ShowSectorRangeControls(bool show) override;
    void InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                 std::uint64_t maximum) override;
    void ReselectDriveTreeItem(int flag) override;
    void HidePassIndicators();

public slots:
    void OnNext();
    void OnBrowse();
    void OnStopSearch();
    void OnOpenContainingFolder();

signals:
    void wizardStepChanged(int step);
    // The search has ended and the end-of-search box was closed.
    void searchEnded(int finished);

protected:
    // The destination page's row: a dialog puts its own column first.
    QHBoxLayout* DestinationPageRow() const { return m_pPage1Row; }
    // The summary above the destination, in the column right of the dialog's own.
    void StackSummaryOverDestination();
    // The explanation of the two passes on the destination page.
    QLabel* AlgorithmsText() const { return m_pAlgorithmsText; }
    // The search page's place for the result views.
    QVBoxLayout* ResultsLayout() const { return m_pResultsLayout; }
    // The note under the result views (shown from the first clearing on).
    QWidget* ClearedNoteWidget() const;
    void SetClearedNoteText(const QString& text);

    // Hooks of the two dialogs.
    virtual void OnDestinationPageShown() {}   // page 0 -> 1
    virtual void TakeDestinationChoices() {}   // just before page 1 -> 2
    virtual void PrepareResultViews() {}       // a search is about to start
    virtual void OnSearchStarted() {}          // it has started (the session has its rows)
    virtual void ClearResultViews() {}         // Back from the search page
    // A carved file was closed. On the worker thread: the default hands it
    // to OnCarvedFileShown on the GUI thread.
    virtual void OnCarvedFileOnWorker(const CarvedFile& file);
    virtual void OnCarvedFileShown(const CarvedFile& /*file*/) {}
    // The search is being stopped (Stop Search, Cancel Searching, closing):
    // drop what waits to be shown. GUI thread.
    virtual void OnSearchStopping() {}
    // The search has ended (before the end-of-search box).
    virtual void OnSearchFinished() {}

    // Runs `fn` on the GUI thread later, unless the dialog is gone by then.
    void PostToGui(std::function<void()> fn);

private:
    class SessionEvents;

    void BuildPages();
    void ShowPage(int step);
    void SetBodyStretch(QWidget* main);
    void OnTimer123();
    void OnPassStartedShown(const CarvingPassInfo& info);
    void OnQuestionShown(const JobQuestion& question, const std::function<void(int)>& reply);
    void OnSearchEndedShown();
    void FillSummary();

    std::unique_ptr<SessionEvents> m_events;   // outlives the session's job
    std::unique_ptr<CarvingSession> m_session;

    CDriveTreeView* m_pDrivePanel = nullptr;
    CSectorRangeGroup* m_pRange = nullptr;       // 1008, 1211-1214, 1238
    CColorStatic* m_pStatus = nullptr;           // 1022 / 1027
    QPushButton* m_pNext = nullptr;              // 1021 / 1026
    QWidget* m_pPage1 = nullptr;
    QHBoxLayout* m_pPage1Row = nullptr;
    QVBoxLayout* m_pPage1Right = nullptr;
    QWidget* m_pSummaryBox = nullptr;
    QLabel* m_pAlgorithmsText = nullptr;         // 1209
    ListRowModel m_summaryRows;
    CHideColumn* m_pSummary = nullptr;           // 1132 / 1143
    QLineEdit* m_pDestination = nullptr;         // 1199 / 1139
    QPushButton* m_pBrowse = nullptr;            // 1200 / 1144
    QCheckBox* m_pThorough = nullptr;            // 1207 / 1140
    QWidget* m_pPage2 = nullptr;
    QVBoxLayout* m_pResultsLayout = nullptr;
    CColorStatic* m_pPassIndicator[2] = {nullptr, nullptr};  // 1352-1355
    CColorStatic* m_pPassText = nullptr;         // 1134 / 1149
    QProgressBar* m_pProgress = nullptr;         // 1111 / 1148
    CColorStatic* m_pSectorText = nullptr;       // 1229 / 1147
    CColorStatic* m_pRangeText = nullptr;        // 1133 / 1065
    CColorStatic* m_pClearedNote = nullptr;      // 1137
    QPushButton* m_pStopSearch = nullptr;        // 1135 / 1150
    QPushButton* m_pOpenFolder = nullptr;        // 1136 / 1151

    QTimer m_timer123;
    int m_nTick = 0;
    QString m_sizeText;
    bool m_bRangeShown = false;   // what the selection asked of the range group
};

}  // namespace torvane
