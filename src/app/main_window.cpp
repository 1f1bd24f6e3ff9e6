#include "app/main_window.h"

#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/search_dialog.h"
#include "app/start_up.h"
#include "base/text_routines.h"
#include "app/ui/color_static.h"
#include "app/ui/scroll_helper.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"
#include "app/wait_window.h"
#include "results/scan_log_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <exception>

namespace torvane {
namespace {

QColor Background() { return QColor(242, 242, 242); }

// The banner across the top of the main window, drawn to the window's width.
class BannerStrip : public QWidget {
public:
    explicit BannerStrip(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("Banner"));
        setFixedHeight(86);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(0x14, 0x4E, 0x86));
        g.setColorAt(1, QColor(0x2B, 0x86, 0xC9));
        p.fillRect(rect(), g);
        const int iconSize = height() - 24;
        p.drawPixmap(16, 12, ProgramIcon().pixmap(iconSize, iconSize));
        QFont title = GetSharedFonts().ConsolasBold18Font;
        title.setPixelSize(30);
        p.setFont(title);
        p.setPen(Qt::white);
        const int x = 28 + iconSize;
        p.drawText(QRect(x, 10, width() - x - 10, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Torvane"));
        QFont sub = GetSharedFonts().ArialRegular12Font;
        p.setFont(sub);
        p.setPen(QColor(0xDD, 0xEB, 0xF7));
        p.drawText(QRect(x, 48, width() - x - 10, 26), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Recover deleted and lost files from disks, memory cards and disk images"));
    }
};

// A mode picture that acts like its mode button when clicked.
class ClickablePicture : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick) onClick();
    }
};

int SlotOf(int mode)
{
    return (mode >= 1 && mode <= 5) ? mode : 0;
}

}  // namespace

CSalvoraDlg::CSalvoraDlg(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CSalvoraDlg"));
    const ProgramState& state = ProgramState::Instance();
    setWindowTitle(QString::fromStdString(state.ProgramDisplayName));
    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Background());
    setPalette(pal);
    setAutoFillBackground(true);

    m_pContent = new QWidget;
    m_pContent->setObjectName(QStringLiteral("MainContent"));
    m_pContent->setPalette(pal);
    m_pContent->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(m_pContent);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->setSpacing(10);
    layout->addWidget(new BannerStrip(m_pContent));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 4, 16, 0);
    body->setSpacing(10);
    layout->addLayout(body);

    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(12);
    const QString sig = QString::fromStdString(state.SignatureModeText);
    tiles->addWidget(BuildModeTile(kModeBasic, kPictureBasic, QStringLiteral("Basic"), QStringLiteral("Basic Search"),
                                   QStringLiteral("Finds deleted files and folders through the file system of an existing FAT16, FAT32, exFAT or NTFS volume.")));
    tiles->addWidget(BuildModeTile(kModeDeep, kPictureDeep, QStringLiteral("Deep"), QStringLiteral("Deep Search"),
                                   QStringLiteral("Sweeps every sector for folders and file systems whose boot data or partition entry is lost.")));
    tiles->addWidget(BuildModeTile(kModePhoto, kPicturePhoto, QStringLiteral("Photo"), QStringLiteral("Photo Search"),
                                   QStringLiteral("Finds photos by their header signatures, whatever the state of the file system.")));
    tiles->addWidget(BuildModeTile(kModeVideo, kPictureVideo, QStringLiteral("Video"), QStringLiteral("Video Search"),
                                   QStringLiteral("Finds videos by their header signatures.")));
    tiles->addWidget(BuildModeTile(kModeSignature, kPictureSignature, QStringLiteral("Sig-raw"),
                                   QStringLiteral("Vid-sig-raw Search"),
                                   QStringLiteral("Finds videos, documents, archives and music by their header signatures.")));
    body->addLayout(tiles);

    m_pSummary1173 = new CColorStatic(
        QStringLiteral("Basic and Deep Search modes read the file system structures of the storage media to find deleted "
                       "and lost files and folders with their names."),
        m_pContent);
    m_pSummary1173->setObjectName(QStringLiteral("Summary1173"));
    m_pSummary1173->setWordWrap(true);
    m_pSummary1173->SetColors(QColor(60, 60, 60), Background());
    body->addWidget(m_pSummary1173);
    m_pSummary1177 = new CColorStatic(QString(), m_pContent);
    m_pSummary1177->setObjectName(QStringLiteral("Summary1177"));
    m_pSummary1177->setWordWrap(true);
    m_pSummary1177->SetColors(QColor(60, 60, 60), Background());
    body->addWidget(m_pSummary1177);

    body->addWidget(BuildContactRow());

    // The bottom row: Load Log on the left, the information buttons on the right.
    auto* bottom = new QHBoxLayout;
    m_pLoadLog = MakeIconButton(QStringLiteral("Load Log"), kIconLoadLog, 24, m_pContent);
    m_pLoadLog->setObjectName(QStringLiteral("LoadLogButton"));
    bottom->addWidget(m_pLoadLog);
    bottom->addStretch();
    m_pReview = new QPushButton(QStringLiteral("Review"), m_pContent);
    m_pReview->setObjectName(QStringLiteral("ReviewButton"));
    m_pReview->setIcon(LoadIconResource(kIconReview, 20, 20));
    m_pReview->setIconSize(QSize(20, 20));
    bottom->addWidget(m_pReview);
    bottom->addStretch();
    m_pAbout = MakeIconButton(QStringLiteral("About us"), kIconAbout, 24, m_pContent);
    m_pAbout->setObjectName(QStringLiteral("AboutButton"));
    m_pHelpManual = MakeIconButton(QStringLiteral("Help Manual"), kIconHelpManual, 24, m_pContent);
    m_pHelpManual->setObjectName(QStringLiteral("HelpManualButton"));
    m_pSupport = MakeIconButton(QStringLiteral("Support"), kIconSupport, 24, m_pContent);
    m_pSupport->setObjectName(QStringLiteral("SupportButton"));
    m_pSupport->setFont(GetSharedFonts().ArialBold12Font);
    bottom->addWidget(m_pAbout);
    bottom->addWidget(m_pHelpManual);
    bottom->addWidget(m_pSupport);
    body->addLayout(bottom);
    layout->addStretch();
    m_pScrollHelper = std::make_unique<ScrollHelper>(this, m_pContent);
    m_pScrollHelper->SetDisplaySize(500, 300);

    connect(m_pLoadLog, &QPushButton::clicked, this, [this] { OnLoadLog(); });
    connect(m_pReview, &QPushButton::clicked, this, [] { OpenReviewPage(); });
    connect(m_pAbout, &QPushButton::clicked, this, [] { ShowAboutDialog(); });
    connect(m_pHelpManual, &QPushButton::clicked, this, [] { OpenHelpFile(); });
    connect(m_pSupport, &QPushButton::clicked, this, [] { ShowSupportDialog(); });

    m_loadingTimer.setInterval(80);
    connect(&m_loadingTimer, &QTimer::timeout, this, [this] { OnLoadingTimer(); });
}

CSalvoraDlg::~CSalvoraDlg()
{
    if (m_launchWorker.joinable()) m_launchWorker.join();
    if (Dialogs().MainDialogPtr == this) Dialogs().MainDialogPtr = nullptr;
}

QWidget* CSalvoraDlg::BuildModeTile(int mode, int pictureId, const QString& buttonText, const QString& caption,
                                    const QString& description)
{
    auto* tile = new QFrame(m_pContent);
    tile->setObjectName(QStringLiteral("ModeTile%1").arg(mode));
    tile->setFrameShape(QFrame::StyledPanel);
    tile->setStyleSheet(QStringLiteral("#ModeTile%1 { background: white; border: 1px solid #c9d3dd; border-radius: 6px; }").arg(mode));
    auto* layout = new QVBoxLayout(tile);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* picture = new ClickablePicture(tile);
    picture->setObjectName(QStringLiteral("ModePicture%1").arg(mode));
    picture->setPixmap(torvane::ModePicture(pictureId, 72));
    picture->setAlignment(Qt::AlignCenter);
    picture->setCursor(Qt::PointingHandCursor);
    picture->onClick = [this, mode] { ModeSelected(mode); };
    layout->addWidget(picture);

    auto* captionLabel = new CColorStatic(caption, tile);
    captionLabel->setObjectName(QStringLiteral("ModeCaption%1").arg(mode));
    captionLabel->setFont(GetSharedFonts().ConsolasBold12Font);
    captionLabel->SetColors(QColor(0x14, 0x4E, 0x86), Qt::white, CColorStatic::Transparent);
    captionLabel->setAlignment(Qt::AlignCenter);
    captionLabel->setCursor(Qt::PointingHandCursor);
    connect(captionLabel, &CColorStatic::clicked, this, [this, mode] { ModeSelected(mode); });
    layout->addWidget(captionLabel);

    // The per-mode description panel; the edition layout hides it.
    auto* descr = new CColorStatic(description, tile);
    descr->setObjectName(QStringLiteral("ModeDescription%1").arg(mode));
    descr->setWordWrap(true);
    descr->SetColors(QColor(33, 33, 33), QColor(243, 250, 254));
    layout->addWidget(descr);
    layout->addStretch();

    auto* button = new QPushButton(buttonText, tile);
    button->setObjectName(QStringLiteral("ModeButton%1").arg(mode));
    button->setAccessibleName(caption);
    button->setToolTip(caption);
    button->setMinimumHeight(34);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background: #1f6fb5; color: white; border: none; border-radius: 4px; font-weight: bold; padding: 6px 18px; }"
        "QPushButton:hover { background: #2b86c9; } QPushButton:pressed { background: #144e86; }"
        "QPushButton:focus { border: 3px solid #ffb000; padding: 3px 15px; }"
        "QPushButton:disabled { background: #9bb3c9; }"));
    connect(button, &QPushButton::clicked, this, [this, mode] { ModeSelected(mode); });
    layout->addWidget(button);

    tile->setMinimumWidth(150);
    m_pTiles[mode] = tile;
    m_pModeButtons[mode] = button;
    m_pCaptions[mode] = captionLabel;
    m_pPictures[mode] = picture;
    m_pDescriptions[mode] = descr;
    return tile;
}

QWidget* CSalvoraDlg::BuildContactRow()
{
    const ContactTexts& contacts = ProgramState::Instance().Contacts;
    auto* box = new QWidget(m_pContent);
    box->setObjectName(QStringLiteral("ContactRow"));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 4, 0, 4);
    auto* emailLabel = new CColorStatic(QStringLiteral("Support Email :"), box);
    emailLabel->SetColors(Qt::black, Background());
    auto* webLabel = new CColorStatic(QStringLiteral("Website :"), box);
    webLabel->SetColors(Qt::black, Background());
    m_pEmailLink = new CMy_Link_Static(QString::fromStdString(contacts.SupportEmailText), box);
    m_pEmailLink->setObjectName(QStringLiteral("EmailLink"));
    m_pWebsiteLink = new CMy_Link_Static(QString::fromStdString(ShortenUrlForDisplay(contacts.WebsiteLink, false)), box);
    m_pWebsiteLink->setObjectName(QStringLiteral("WebsiteLink"));
    auto* copyEmail = MakeIconButton(QStringLiteral("Copy Email"), kIconCopy, 16, box);
    copyEmail->setObjectName(QStringLiteral("CopyEmail"));
    auto* sendEmail = MakeIconButton(QStringLiteral("Send Email"), kIconSendEmail, 16, box);
    sendEmail->setObjectName(QStringLiteral("SendEmail"));
    auto* copyUrl = MakeIconButton(QStringLiteral("Copy URL"), kIconCopy, 16, box);
    copyUrl->setObjectName(QStringLiteral("CopyUrl"));
    auto* openSite = MakeIconButton(QStringLiteral("Open Website"), kIconOpenWebsite, 16, box);
    openSite->setObjectName(QStringLiteral("OpenWebsite"));
    grid->addWidget(emailLabel, 0, 0);
    grid->addWidget(m_pEmailLink, 0, 1, Qt::AlignLeft);
    grid->addWidget(copyEmail, 0, 3);
    grid->addWidget(sendEmail, 0, 4);
    grid->addWidget(webLabel, 1, 0);
    grid->addWidget(m_pWebsiteLink, 1, 1, Qt::AlignLeft);
    grid->addWidget(copyUrl, 1, 3);
    grid->addWidget(openSite, 1, 4);
    grid->setColumnStretch(2, 1);
    connect(copyEmail, &QPushButton::clicked, this, [] { CopySupportEmail(); });
    connect(sendEmail, &QPushButton::clicked, this, [] { SendSupportMail(); });
    connect(m_pEmailLink, &CMy_Link_Static::clicked, this, [] { SendSupportMail(); });
    connect(copyUrl, &QPushButton::clicked, this, [] { CopyWebsiteLink(); });
    connect(openSite, &QPushButton::clicked, this, [] { OpenWebsiteLink(); });
    connect(m_pWebsiteLink, &CMy_Link_Static::clicked, this, [] { OpenWebsiteLink(); });
    return box;
}

QPushButton* CSalvoraDlg::ModeButton(int mode) const { return m_pModeButtons[SlotOf(mode)]; }
CColorStatic* CSalvoraDlg::ModeCaption(int mode) const { return m_pCaptions[SlotOf(mode)]; }
QLabel* CSalvoraDlg::ModePicture(int mode) const { return m_pPictures[SlotOf(mode)]; }
QWidget* CSalvoraDlg::ModeDescription(int mode) const { return m_pDescriptions[SlotOf(mode)]; }

void CSalvoraDlg::OnInitDialog()
{
    ProgramState& state = ProgramState::Instance();
    MainWindowState& main = MainWindowState::Instance();
    Dialogs().MainDialogPtr = this;
    setWindowTitle(QString::fromStdString(state.ProgramDisplayName));

    m_pReview->setVisible(state.Profile.ReviewPromptFlag == 1);
    state.StatusFileCount = 0;
    state.StatusFolderCount = 0;
    state.RecoveryMode = kModeNone;
    main.LogicalDrivesListed = 0;
    main.PartitionSearchBusy = 0;
    main.PartitionSearchRunning = 0;
    main.SearchDialogShown = 0;

    // Caption of the signature mode from the edition's mode text.
    m_pCaptions[kModeSignature]->setText(QString::fromStdString(state.SignatureModeText) + QStringLiteral(" Search"));

    // A scan log named on the command line opens its dialog now, before the
    // main window first shows.
    if (Services().OpenScanLog && !state.PendingScanLogPath.Empty()) Services().OpenScanLog(*this);
    if (ExitRequested()) return;

    ApplyEditionLayout();
    FitToScreen();
}

void CSalvoraDlg::ApplyEditionLayout()
{
    const ProgramState& state = ProgramState::Instance();
    const EditionProfile& profile = state.Profile;
    // The Video mode has no tile unless the edition offers it.
    m_pTiles[kModeVideo]->setVisible(profile.EnableVideoSearch != 0);
    m_pTiles[kModePhoto]->setVisible(profile.EnablePhotoSearch != 0);
    m_pTiles[kModeSignature]->setVisible(profile.EnableSignatureSearch != 0);
    if (profile.EnableSignatureSearch == 1 && (profile.EnablePhotoSearch == 1 || profile.EnableVideoSearch == 1)) {
        m_pSummary1177->setText(QStringLiteral("Photo and ") + QString::fromStdString(state.SignatureModeText) +
                                QStringLiteral(" Search modes are use signature search algorithm to find the various file "
                                               "types regardless of file system structure of storage media."));
        for (int mode = kModeBasic; mode <= kModeSignature; ++mode) m_pDescriptions[mode]->hide();
    }
}

void CSalvoraDlg::FitToScreen()
{
    // Tiles and descriptions hidden by the edition layout no longer count:
    // the tiles' own layouts are brought up to date first (their size hints
    // would otherwise still include the hidden descriptions until the event
    // loop runs).
    for (QWidget* tile : m_pTiles) {
        if (tile != nullptr && tile->layout() != nullptr) {
            tile->layout()->invalidate();
            tile->layout()->activate();
        }
    }
    m_pContent->layout()->invalidate();
    m_pContent->layout()->activate();
    QSize wanted = m_pContent->sizeHint().expandedTo(QSize(880, 0));
    // Wrapped texts are as tall as the width they get, not the narrower width
    // the plain size hint assumes.
    if (m_pContent->hasHeightForWidth()) {
        const int height = m_pContent->heightForWidth(wanted.width());
        if (height > 0) wanted.setHeight(height);
    }
    QSize size = wanted + QSize(4, 4);
    if (QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen()) {
        const QSize avail = screen->availableGeometry().size() - QSize(20, 40);
        if (avail.isValid()) {
            if (size.width() > avail.width() || size.height() > avail.height()) m_bScreenFit = true;
            size = size.boundedTo(avail);
        }
    }
    if (m_bScreenFit) {
        // The window is smaller than its content: keep a margin past the
        // content's edges and let the search dialog follow.
        m_pScrollHelper->SetDisplaySize(wanted.width() + 20, wanted.height() + 20);
    }
    resize(size);
    m_pScrollHelper->UpdateScrollInfo();
    if (m_bScreenFit) RelayoutSearchDialog();
}

void CSalvoraDlg::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window shown again after a search dialog is enabled again.
    setEnabled(true);
    // A change of the display (resolution, monitor) fits the window again.
    if (!m_bScreenWatched && screen() != nullptr) {
        m_bScreenWatched = true;
        connect(screen(), &QScreen::availableGeometryChanged, this, [this] { FitToScreen(); });
    }
}

void CSalvoraDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter on a focused mode button presses it, as Space does; elsewhere
    // Escape, Enter and Ctrl+Break do nothing on the main window.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && focused->isEnabled() && focused->objectName().startsWith(QStringLiteral("ModeButton"))) {
            event->accept();
            focused->click();
            return;
        }
    }
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Cancel:
        event->accept();
        return;
    case Qt::Key_F1:
        event->accept();
        ShowSupportDialog();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void CSalvoraDlg::closeEvent(QCloseEvent* event)
{
    // The window only goes with the process.
    event->ignore();
    OnClose();
}

void CSalvoraDlg::OnClose()
{
    show();
    const QString question = QString::fromStdString(ProgramState::Instance().Messages.ExitQuestionText);
    if (!AskYesNo(this, question)) return;
    ClosePopulateWindow(false);
    RunExitSequence(this);
    ExitProgram(0);
}

void CSalvoraDlg::OnBasicSearch() { ModeSelected(kModeBasic); }
void CSalvoraDlg::OnDeepSearch() { ModeSelected(kModeDeep); }
void CSalvoraDlg::OnPhotoSearch() { ModeSelected(kModePhoto); }
void CSalvoraDlg::OnVideoSearch() { ModeSelected(kModeVideo); }
void CSalvoraDlg::OnSignatureSearch() { ModeSelected(kModeSignature); }

void CSalvoraDlg::ModeSelected(int mode)
{
    if (m_launchState != LaunchState::Idle) return;
    // No search starts while a scan log is being loaded.
    const MainWindowState& main = MainWindowState::Instance();
    if (main.BasicLogLoadThread.load() != 0 || main.DeepLogLoadThread.load() != 0) return;
    ProgramState& state = ProgramState::Instance();
    state.RecoveryMode = mode;
    MainWindowState::Instance().LogicalDrivesListed = 0;
    StartSearchDialog();
}

void CSalvoraDlg::StartSearchDialog()
{
    if (m_launchState != LaunchState::Idle) return;
    ProgramState& state = ProgramState::Instance();
    const int mode = state.RecoveryMode.load();
    state.PendingScanLogPath.Clear();

    m_launchState = LaunchState::Loading;
    m_pLoadingWnd = new CModeless1(this);
    m_pLoadingWnd->setAttribute(Qt::WA_DeleteOnClose);
    m_nLoadingTicks = 0;
    SetProgressRange64(m_pLoadingWnd->ProgressBar(), 0, 100, 2);
    const QPoint centre = mapToGlobal(rect().center());
    m_pLoadingWnd->move(centre - QPoint(m_pLoadingWnd->width() / 2, m_pLoadingWnd->height() / 2));
    m_pLoadingWnd->show();
    m_pLoadingWnd->raise();
    m_loadingTimer.start();
    DisableMainWindow();

    // The slow part (listing disks, partitions and drives) runs on a worker;
    // the dialog itself is built on this thread when the list is ready.
    if (m_launchWorker.joinable()) m_launchWorker.join();
    auto builder = Services().BuildDriveList;
    QPointer<CSalvoraDlg> self(this);
    m_launchWorker = std::thread([self, builder, mode] {
        std::shared_ptr<DriveListSnapshot> drives;
        bool failed = false;
        try {
            if (builder) drives = builder(mode);
        } catch (const std::exception& e) {
            failed = true;
            LogCaughtError(GetModeLabel(mode), "Loading drives...", "LD", e.what());
        } catch (...) {
            failed = true;
            LogCaughtError(GetModeLabel(mode), "Loading drives...", "LD", "1TH");
        }
        QMetaObject::invokeMethod(
            qApp, [self, drives, failed] {
                if (self) self->OnDriveListReady(drives, failed);
            },
            Qt::QueuedConnection);
    });
}

void CSalvoraDlg::OnLoadingTimer()
{
    if (m_pLoadingWnd.isNull()) return;
    ++m_nLoadingTicks;
    UpdateProgress64(m_pLoadingWnd->ProgressBar(), 0, 100, static_cast<std::uint64_t>(m_nLoadingTicks), 1, false);
}

void CSalvoraDlg::CloseLoadingWindow()
{
    m_loadingTimer.stop();
    if (!m_pLoadingWnd.isNull()) {
        m_pLoadingWnd->hide();
        m_pLoadingWnd->deleteLater();
        m_pLoadingWnd = nullptr;
    }
}

void CSalvoraDlg::OnDriveListReady(std::shared_ptr<DriveListSnapshot> drives, bool failed)
{
    if (m_launchWorker.joinable()) m_launchWorker.join();
    if (ExitRequested()) return;
    const int mode = ProgramState::Instance().RecoveryMode.load();
    SearchDialogBase* dialog = failed ? nullptr : CreateSearchDialog(mode, nullptr);
    if (dialog == nullptr) {
        // Nothing to open: back to the main window, ready for another try.
        CloseLoadingWindow();
        ProgramState::Instance().RecoveryMode = kModeNone;
        m_launchState = LaunchState::Idle;
        ShowMainWindow();
        return;
    }
    m_launchState = LaunchState::Open;
    m_pSearchDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(dialog, &QDialog::finished, this, [this] { OnSearchDialogFinished(); });
    // The dialog takes its drive list while the loading window still shows;
    // once it is on screen it hides this window and closes the loading one.
    dialog->BeginSession(std::move(drives));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void CSalvoraDlg::OnSearchDialogFinished()
{
    SearchDialogBase* dialog = m_pSearchDialog.data();
    m_pSearchDialog = nullptr;
    m_launchState = LaunchState::Idle;
    if (dialog != nullptr) dialog->deleteLater();
    CloseLoadingWindow();
    if (ExitRequested()) return;
    if (ProgramState::Instance().RecoveryMode.load() == kModeNone || !isVisible()) ShowMainWindow();
}

void CSalvoraDlg::OnLoadLog()
{
    ProgramState& state = ProgramState::Instance();
    const QString path = AskScanLogOpenPath(this);
    if (path.isEmpty()) return;
    state.PendingScanLogPath.Set(path.toStdString());
    state.StatusFileCount = 0;
    state.StatusFolderCount = 0;
    ShowFoundCountStatus();
    if (Services().OpenScanLog) {
        Services().OpenScanLog(*this);
    } else {
        state.PendingScanLogPath.Clear();
        ShowMessage(this, QString::fromStdString(state.Messages.InvalidScanLogText));
    }
}

}  // namespace torvane
