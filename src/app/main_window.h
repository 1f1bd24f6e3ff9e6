// The main window: one tile per search mode, the contact line, Load Log,
// About, Help Manual, Support and Review. A mode opens its search dialog
// behind the loading window; closing asks and ends the program.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "app/search_dialog.h"
#include "app/ui/scroll_helper.h"
#include "app/wait_window.h"

#include <memory>
#include <thread>

class QLabel;
class QPushButton;

namespace torvane {

class CColorStatic;
class CMy_Link_Static;
class CXPStyleButtonST;

class CSalvoraDlg : public QWidget {
    Q_OBJECT
public:
    explicit CSalvoraDlg(QWidget* parent = nullptr);
    ~CSalvoraDlg() override;

    // The window's initialisation: program-wide pointers and state, texts,
    // the scan log of the command line (which runs its dialog before the
    // window first shows), then the edition layout and the fit to the screen.
    void OnInitDialog();

    // Mode buttons, pictures and captions.
    void OnBasicSearch();
    void OnDeepSearch();
    void OnPhotoSearch();
    void OnVideoSearch();
    void OnSignatureSearch();
    // Shows the loading window and starts building the drive list; the
    // dialog opens when the list is ready. Does nothing while a dialog is
    // opening or open.
    void StartSearchDialog();
    // "Load Log".
    void OnLoadLog();
    // The close box and Alt+F4: the exit question, then the exit sequence.
    void OnClose();

    // The loading window while a dialog opens (null otherwise).
    CModeless1* LoadingWindow() const { return m_pLoadingWnd.data(); }
    // Stops the loading window's timer and closes it.
    void CloseLoadingWindow();
    int LoadingTickCount() const { return m_nLoadingTicks; }
    // One tick of the loading timer (80 ms): the bar moves by its step.
    void OnLoadingTimer();

    // True while a search dialog is opening or open.
    bool SearchDialogActive() const { return m_launchState != LaunchState::Idle; }
    // The open search dialog (null while none).
    SearchDialogBase* OpenSearchDialog() const { return m_pSearchDialog.data(); }

    // Controls, by role (tests and the per-mode routines).
    QPushButton* ModeButton(int recoveryMode) const;
    CColorStatic* ModeCaption(int recoveryMode) const;
    QLabel* ModePicture(int recoveryMode) const;
    CColorStatic* SummaryLine1173() const { return m_pSummary1173; }
    CColorStatic* SummaryLine1177() const { return m_pSummary1177; }
    QWidget* ModeDescription(int recoveryMode) const;
    QPushButton* ReviewButton() const { return m_pReview; }
    CXPStyleButtonST* AboutButton() const { return m_pAbout; }
    CXPStyleButtonST* SupportButton() const { return m_pSupport; }
    CXPStyleButtonST* HelpManualButton() const { return m_pHelpManual; }
    CXPStyleButtonST* LoadLogButton() const { return m_pLoadLog; }
    CMy_Link_Static* EmailLink() const { return m_pEmailLink; }
    CMy_Link_Static* WebsiteLinkLabel() const { return m_pWebsiteLink; }

    // Lays the window out for the screen: as large as its content when the
    // screen has room, else the screen's size with scroll bars.
    void FitToScreen();
    // Set once the content did not fit the screen; never cleared again.
    bool ScreenFitFlag() const { return m_bScreenFit; }
    ScrollHelper* GetScrollHelper() const { return m_pScrollHelper.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class LaunchState { Idle, Loading, Open };

    void ModeSelected(int recoveryMode);
    void OnDriveListReady(std::shared_ptr<DriveListSnapshot> drives, bool failed);
    void OnSearchDialogFinished();
    void ApplyEditionLayout();
    QWidget* BuildModeTile(int recoveryMode, int pictureId, const QString& buttonText, const QString& caption,
                           const QString& description);
    QWidget* BuildContactRow();

    std::unique_ptr<ScrollHelper> m_pScrollHelper;
    bool m_bScreenFit = false;
    QWidget* m_pContent = nullptr;
    QWidget* m_pTiles[6] = {};
    QPushButton* m_pModeButtons[6] = {};
    CColorStatic* m_pCaptions[6] = {};
    QLabel* m_pPictures[6] = {};
    QWidget* m_pDescriptions[6] = {};
    CColorStatic* m_pSummary1173 = nullptr;
    CColorStatic* m_pSummary1177 = nullptr;
    CXPStyleButtonST* m_pAbout = nullptr;
    CXPStyleButtonST* m_pHelpManual = nullptr;
    CXPStyleButtonST* m_pSupport = nullptr;
    CXPStyleButtonST* m_pLoadLog = nullptr;
    QPushButton* m_pReview = nullptr;
    CMy_Link_Static* m_pEmailLink = nullptr;
    CMy_Link_Static* m_pWebsiteLink = nullptr;

    QPointer<CModeless1> m_pLoadingWnd;
    QTimer m_loadingTimer;
    int m_nLoadingTicks = 0;
    LaunchState m_launchState = LaunchState::Idle;
    std::thread m_launchWorker;
    QPointer<SearchDialogBase> m_pSearchDialog;
    bool m_bScreenWatched = false;
};

}  // namespace torvane
