// The About, Support and Review dialogs: the program's contact points and
// buttons to open or copy them.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace torvane {

class CMy_Link_Static;
class CXPStyleButtonST;

// Parts every information dialog has: the contact line and its buttons.
class InfoDialogBase : public QDialog {
    Q_OBJECT
public:
    explicit InfoDialogBase(QWidget* parent);

    CMy_Link_Static* EmailLink() const { return m_pEmail; }
    CMy_Link_Static* WebsiteLinkLabel() const { return m_pWebsite; }
    CXPStyleButtonST* OkButton() const { return m_pOk; }
    QPushButton* ReviewButton() const { return m_pReview; }

protected:
    // Adds the contact block (labels, links, Copy/Send/Open buttons) and the
    // bottom row (Review button when `withReview` and the edition shows it,
    // OK) to the dialog's layout. `emailLabel` names the address ("Support
    // Email :" in About and Support, "Email :" in the review form).
    void AddContactBlock(QVBoxLayout* layout, bool withReview,
                         const QString& emailLabel = QStringLiteral("Support Email :"));
    void ApplyBackground();

    CMy_Link_Static* m_pEmail = nullptr;
    CMy_Link_Static* m_pWebsite = nullptr;
    CXPStyleButtonST* m_pOk = nullptr;
    QPushButton* m_pReview = nullptr;
};

// "About us".
class CAbout_Dlg : public InfoDialogBase {
    Q_OBJECT
public:
    explicit CAbout_Dlg(QWidget* parent = nullptr);
    QLabel* TitleLabel() const { return m_pTitle; }
    CXPStyleButtonST* HelpManualButton() const { return m_pHelpManual; }

private:
    QLabel* m_pTitle = nullptr;
    CXPStyleButtonST* m_pHelpManual = nullptr;
};

// "Support". F1 opens the help manual.
class CHelp : public InfoDialogBase {
    Q_OBJECT
public:
    explicit CHelp(QWidget* parent = nullptr);
};

// "Review us on Google": the last window of a run when the edition shows the
// review prompt. OK opens the review page; both OK and the close box end the
// dialog, and the exit sequence then ends the program.
class CReview_Form : public InfoDialogBase {
    Q_OBJECT
public:
    explicit CReview_Form(QWidget* parent = nullptr);
    void OnOK();
};

// The version text shown by the About dialog.
QString ProgramVersionText();

}  // namespace torvane
