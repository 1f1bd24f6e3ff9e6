#include "app/message_dialog.h"

#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "base/status_routines.h"
#include "app/ui/color_static.h"
#include "app/ui/info_dialogs.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QVBoxLayout>

#include <atomic>

namespace torvane {
namespace {

QColor Background() { return QColor(242, 242, 242); }

std::atomic<bool> g_endBoxShown{false};
std::atomic<bool> g_exitRequested{false};
std::atomic<int> g_exitCode{0};
std::function<void(int)>& ExitHandler()
{
    static std::function<void(int)> handler;
    return handler;
}

QPointer<CPlease_Wail_Modeless>& PleaseWaitPointer()
{
    static QPointer<CPlease_Wail_Modeless> box;
    return box;
}

QWidget* OwnerOrMain(QWidget* owner)
{
    return owner != nullptr ? owner : MainWindowWidget();
}

void PaintDialogBackground(QWidget* dialog)
{
    QPalette pal = dialog->palette();
    pal.setColor(QPalette::Window, Background());
    dialog->setPalette(pal);
    dialog->setAutoFillBackground(true);
}

QLabel* BlackLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    return label;
}

}  // namespace

void ShowMessage(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Message"), text, QMessageBox::Ok, OwnerOrMain(owner));
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
    RestoreBusyState();
}

bool AskYesNo(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Message"), text, QMessageBox::Yes | QMessageBox::No,
                    OwnerOrMain(owner));
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    const bool yes = box.exec() == QMessageBox::Yes;
    RestoreBusyState();
    return yes;
}

// --- end-of-search box -------------------------------------------------------

CMsgStand::CMsgStand(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMsgStand"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    PaintDialogBackground(this);
    const SharedFonts& fonts = GetSharedFonts();
    const ProgramState& state = ProgramState::Instance();

    auto* layout = new QVBoxLayout(this);
    m_pMainText = BlackLabel(QString(), this);
    m_pMainText->setObjectName(QStringLiteral("MainText"));
    m_pMainText->setFont(fonts.ArialBold12Font);
    layout->addWidget(m_pMainText);

    auto* heading = BlackLabel(QStringLiteral("Important:"), this);
    heading->setFont(fonts.ArialBold12Font);
    layout->addWidget(heading);
    layout->addWidget(BlackLabel(QStringLiteral("Please allow every process of the software to be completed up to 100 percent."), this));
    layout->addWidget(BlackLabel(QStringLiteral("Make sure that your storage media is connected properly to your system and you have sufficient user access permissions to run the software."), this));
    m_pDynamicText = BlackLabel(QString(), this);
    m_pDynamicText->setObjectName(QStringLiteral("DynamicVolumeText"));
    layout->addWidget(m_pDynamicText);
    layout->addWidget(BlackLabel(QStringLiteral("If you are facing any difficulty, please contact us with the details of your data loss case :"), this));

    auto* contacts = new QGridLayout;
    contacts->addWidget(BlackLabel(QStringLiteral("Support Email :"), this), 0, 0);
    auto* email = new CMy_Link_Static(QString::fromStdString(state.Contacts.SupportEmailText), this);
    contacts->addWidget(email, 0, 1, Qt::AlignLeft);
    contacts->addWidget(BlackLabel(QStringLiteral("Website :"), this), 1, 0);
    auto* web = new CMy_Link_Static(QString::fromStdString(ShortenUrlForDisplay(state.Contacts.WebsiteLink, false)), this);
    contacts->addWidget(web, 1, 1, Qt::AlignLeft);
    auto* copyEmail = MakeIconButton(QStringLiteral("Copy Email"), kIconCopy, 16, this);
    auto* copyUrl = MakeIconButton(QStringLiteral("Copy URL"), kIconCopy, 16, this);
    auto* sendEmail = MakeIconButton(QStringLiteral("Send Email"), kIconSendEmail, 16, this);
    auto* openSite = MakeIconButton(QStringLiteral("Open Website"), kIconOpenWebsite, 16, this);
    contacts->addWidget(copyEmail, 0, 2);
    contacts->addWidget(sendEmail, 0, 3);
    contacts->addWidget(copyUrl, 1, 2);
    contacts->addWidget(openSite, 1, 3);
    contacts->setColumnStretch(1, 1);
    layout->addLayout(contacts);

    auto* ok = MakeIconButton(QStringLiteral("OK"), kIconOk, 24, this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    layout->addLayout(row);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(copyEmail, &QPushButton::clicked, this, [] { CopySupportEmail(); });
    connect(copyUrl, &QPushButton::clicked, this, [] { CopyWebsiteLink(); });
    connect(sendEmail, &QPushButton::clicked, this, [] { SendSupportMail(); });
    connect(email, &CMy_Link_Static::clicked, this, [] { SendSupportMail(); });
    connect(openSite, &QPushButton::clicked, this, [] { OpenWebsiteLink(); });
    connect(web, &CMy_Link_Static::clicked, this, [] { OpenWebsiteLink(); });
    setMinimumWidth(600);
}

QString CMsgStand::MainText() const
{
    return m_pMainText->text();
}

int CMsgStand::exec()
{
    ProgramState& state = ProgramState::Instance();
    Dialogs().MsgStandPtr = this;
    state.BasicEndNoticeState = kEndNoticeShown;
    state.DeepEndNoticeState = kEndNoticeShown;
    m_pMainText->setText(QString::fromStdString(EndOfSearchText(m_bFinished, state.RecoveryMode.load(), m_bStoppedByUser)));
    if (state.Profile.ListAllDriveTypes == 1) {
        m_pDynamicText->setText(QStringLiteral(
            "When you need to recover data from Dynamic volumes (such as spanned, striped, mirrored, and RAID volumes etc), "
            "you Must perform 'Logical Scanning' of drive by selecting the logical drive (e.g. Drive letter C:, D: or E: etc) "
            "from the Drives list tree."));
    }
    raise();
    activateWindow();
    return QDialog::exec();
}

void ResetEndOfSearchBox()
{
    g_endBoxShown = false;
}

void ShowEndOfSearchMessage(QWidget* owner, int finished, bool stoppedByUser)
{
    QWidget* shown = OwnerOrMain(owner);
    if (shown != nullptr) shown->show();
    const int mode = ProgramState::Instance().RecoveryMode.load();
    if ((mode == kModeBasic || mode == kModeDeep) && finished == 1) {
        if (g_endBoxShown.exchange(true)) return;
    }
    CMsgStand box(shown);
    box.m_bFinished = finished;
    box.m_bStoppedByUser = stoppedByUser;
    box.exec();
    Dialogs().MsgStandPtr = nullptr;
}

// --- save before exit --------------------------------------------------------

CExit_Confirmation::CExit_Confirmation(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CExit_Confirmation"));
    setWindowTitle(QStringLiteral("Confirm"));
    setWindowIcon(ProgramIcon());
    PaintDialogBackground(this);
    const SharedFonts& fonts = GetSharedFonts();
    auto* layout = new QVBoxLayout(this);
    auto* question = BlackLabel(QStringLiteral("Do you want to save scanning log file before exit from Software?"), this);
    question->setFont(fonts.ArialBold12Font);
    layout->addWidget(question);
    auto* hint = BlackLabel(
        QStringLiteral("You can use the scanning log to directly load the recovery results without scanning the drive again."), this);
    hint->setFont(fonts.ArialRegular12Font);
    layout->addWidget(hint);
    auto* save = MakeIconButton(QStringLiteral("Save before Exit"), kIconSaveBeforeExit, 24, this);
    save->setObjectName(QStringLiteral("SaveBeforeExit"));
    save->setFont(fonts.ArialBold12Font);
    save->setDefault(true);
    auto* discard = MakeIconButton(QStringLiteral("Exit without Saving"), kIconExitWithoutSaving, 24, this);
    discard->setObjectName(QStringLiteral("ExitWithoutSaving"));
    auto* stay = MakeIconButton(QStringLiteral("Do not Exit"), kIconDoNotExit, 24, this);
    stay->setObjectName(QStringLiteral("DoNotExit"));
    auto* row = new QHBoxLayout;
    row->addWidget(save);
    row->addWidget(discard);
    row->addWidget(stay);
    layout->addLayout(row);
    connect(save, &QPushButton::clicked, this, [this] { done(kSaveBeforeExit); });
    connect(discard, &QPushButton::clicked, this, [this] { done(kExitWithoutSaving); });
    connect(stay, &QPushButton::clicked, this, [this] { done(kDoNotExit); });
}

// --- please wait ---------------------------------------------------------------

CPlease_Wail_Modeless::CPlease_Wail_Modeless(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CPlease_Wail_Modeless"));
    setWindowIcon(ProgramIcon());
    PaintDialogBackground(this);
    auto* layout = new QVBoxLayout(this);
    auto* stat = new CColorStatic(QString(), this);
    stat->SetColors(Qt::black, Background());
    stat->setAlignment(Qt::AlignCenter);
    stat->setFont(GetSharedFonts().ArialBold12Font);
    m_pStatic = stat;
    layout->addWidget(stat);
    setFixedSize(300, 90);
    setStyleSheet(QStringLiteral("CPlease_Wail_Modeless { border: 1px solid #808080; }"));
    installEventFilter(this);
    stat->installEventFilter(this);
    // When the program becomes the active application again, the box comes
    // back to the front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState appState) {
        if (appState == Qt::ApplicationActive && isVisible()) raise();
    });
}

QString CPlease_Wail_Modeless::Text() const
{
    return m_pStatic->text();
}

void CPlease_Wail_Modeless::SetText(const QString& text)
{
    m_pStatic->setText(text);
}

bool CPlease_Wail_Modeless::eventFilter(QObject* watched, QEvent* event)
{
    // Keys and clicks never reach the box.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void CPlease_Wail_Modeless::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

CPlease_Wail_Modeless* PleaseWaitBox()
{
    return PleaseWaitPointer().data();
}

void ShowPleaseWait(QWidget* owner)
{
    owner = OwnerOrMain(owner);
    if (owner != nullptr) owner->setEnabled(false);
    if (QWidget* main = MainWindowWidget()) main->setEnabled(false);
    QPointer<CPlease_Wail_Modeless>& box = PleaseWaitPointer();
    if (box.isNull()) box = new CPlease_Wail_Modeless(owner);
    if (owner != nullptr) {
        const QPoint centre = owner->mapToGlobal(owner->rect().center());
        box->move(centre - QPoint(box->width() / 2, box->height() / 2));
    }
    box->SetText(QStringLiteral("It may take a while, Please wait..."));
    box->show();
    box->raise();
    if (owner != nullptr) owner->setEnabled(false);
    box->setEnabled(false);
}

void HidePleaseWait(QWidget* owner)
{
    owner = OwnerOrMain(owner);
    if (owner != nullptr) owner->setEnabled(true);
    QPointer<CPlease_Wail_Modeless>& box = PleaseWaitPointer();
    if (!box.isNull()) {
        box->hide();
        delete box.data();
        box = nullptr;
    }
}

// --- information dialogs ------------------------------------------------------

void ShowAboutDialog()
{
    CAbout_Dlg dialog(QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : MainWindowWidget());
    dialog.exec();
    RestoreBusyState();
}

void ShowSupportDialog()
{
    CHelp dialog(QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : MainWindowWidget());
    dialog.exec();
    RestoreBusyState();
}

// --- exit ---------------------------------------------------------------------

void RunExitSequence(QWidget* owner)
{
    // Stop every worker and wait for it, then delete this run's temporary
    // extracts (registered as a clean-up step at start-up).
    ShutdownRegistry::Instance().StopAllAndCleanUp();
    DeleteTempExtractedFiles();
    owner = OwnerOrMain(owner);
    if (owner != nullptr) owner->show();
    if (ProgramState::Instance().Profile.ReviewPromptFlag == 1) {
        CReview_Form review(owner);
        review.exec();
    }
}

void ExitProgram(int code)
{
    g_exitCode = code;
    g_exitRequested = true;
    if (ExitHandler()) {
        ExitHandler()(code);
        return;
    }
    // Leaves every running event loop (the modal runs included); a modal run
    // started after this returns at once.
    QCoreApplication::exit(code);
}

bool ExitRequested()
{
    return g_exitRequested.load();
}

int RequestedExitCode()
{
    return g_exitCode.load();
}

void SetExitHandler(std::function<void(int)> handler)
{
    ExitHandler() = std::move(handler);
}

void ResetExitForTests()
{
    g_exitRequested = false;
    g_exitCode = 0;
}

}  // namespace torvane
