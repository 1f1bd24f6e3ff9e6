// Message boxes, the end-of-search box, the save-before-exit question, the
// please-wait box, and the exit sequence every close path runs.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QWidget;

namespace torvane {

// A message box with the caption "Message", the information icon and OK.
void ShowMessage(QWidget* owner, const QString& text);
// A Yes/No question with the caption "Message", the information icon and No
// as the default button. True for Yes.
bool AskYesNo(QWidget* owner, const QString& text);

// The end-of-search box.
class CMsgStand : public QDialog {
    Q_OBJECT
public:
    explicit CMsgStand(QWidget* parent = nullptr);
    // Set before the modal run: 0 or 1 (chooses the main text).
    int m_bFinished = 0;
    // Whether the user stopped the scan (Basic and Deep texts).
    bool m_bStoppedByUser = false;
    int exec() override;
    QString MainText() const;

private:
    QLabel* m_pMainText = nullptr;
    QLabel* m_pDynamicText = nullptr;
};

// Shows the owner and runs the end-of-search box (GUI thread; a worker asks
// for it through its job's events). With finished 1 in the
// Basic and Deep searches the box appears at most once per scan (see
// ResetEndOfSearchBox).
void ShowEndOfSearchMessage(QWidget* owner, int finished, bool stoppedByUser = false);
// A scan that starts lets its end-of-search box show again.
void ResetEndOfSearchBox();

// The save-before-exit question of the Basic and Deep dialogs. exec() gives
// kSaveBeforeExit (1), kExitWithoutSaving (5) or kDoNotExit (2); Escape and the
// close box answer kDoNotExit.
class CExit_Confirmation : public QDialog {
    Q_OBJECT
public:
    enum Result { kSaveBeforeExit = 1, kDoNotExit = 2, kExitWithoutSaving = 5 };
    explicit CExit_Confirmation(QWidget* parent = nullptr);
    void reject() override { done(kDoNotExit); }
};

// The small "It may take a while, Please wait..." box. It takes no input.
class CPlease_Wail_Modeless : public QDialog {
    Q_OBJECT
public:
    explicit CPlease_Wail_Modeless(QWidget* parent = nullptr);
    QString Text() const;
    void SetText(const QString& text);
    void reject() override {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_pStatic = nullptr;
};

// Shows the please-wait box over the owner (the main window when null),
// disabling the owner and the main window; a second call reuses the box.
void ShowPleaseWait(QWidget* owner);
// Enables the owner and destroys the box (when there is one).
void HidePleaseWait(QWidget* owner);
// The open box, or null.
CPlease_Wail_Modeless* PleaseWaitBox();

// The About and Support dialogs, run modally.
void ShowAboutDialog();
void ShowSupportDialog();

// The exit sequence, run after the user has confirmed the exit: asks every
// running worker to stop and waits for it (no thread is killed), deletes this
// run's temporary extracted files, shows the owner (the main window when
// null) and, with the edition's review prompt, runs the review form. The
// caller then calls ExitProgram(0).
void RunExitSequence(QWidget* owner);

// Ends the program with `code`: every event loop is left and nothing after
// the exit is shown. (Tests install their own handler.)
void ExitProgram(int code);
// True once ExitProgram ran; code after a modal run tests it before it does
// more.
bool ExitRequested();
int RequestedExitCode();
void SetExitHandler(std::function<void(int)> handler);
// Tests: forget an earlier exit.
void ResetExitForTests();

}  // namespace torvane
