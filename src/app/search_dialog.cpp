#include "app/search_dialog.h"

#include "app/main_window.h"
#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "base/program_state.h"
#include "base/status_routines.h"
#include "app/ui/color_static.h"
#include "app/ui/shell_links.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"
#include "carving/raw_search_dialog.h"
#include "carving/sig_duplicate_dialog.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_dialog.h"
#include "fsrecovery/deep_search_dialog.h"
#include "partsearch/partition_search_view.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane {
namespace {

QColor Background() { return QColor(242, 242, 242); }

QPointer<SearchDialogBase>* PointerForMode(int mode)
{
    DialogPointers& d = Dialogs();
    switch (mode) {
    case kModeBasic: return &d.BasicSearchPtr;
    case kModeDeep: return &d.DeepSearchPtr;
    case kModePhoto: return &d.RawSearchPtr;
    case kModeVideo:
    case kModeSignature: return &d.SigDuplicatePtr;
    default: return nullptr;
    }
}

// Keeps a progress bar's own mapper beside it.
class ProgressMapperHolder : public QObject {
public:
    explicit ProgressMapperHolder(QObject* parent) : QObject(parent) { setObjectName(QStringLiteral("ProgressMapper")); }
    ProgressMapper mapper;
};

ProgressMapperHolder* HolderOf(QProgressBar* bar)
{
    auto* holder = bar->findChild<ProgressMapperHolder*>(QStringLiteral("ProgressMapper"), Qt::FindDirectChildrenOnly);
    if (holder == nullptr) holder = new ProgressMapperHolder(bar);
    return holder;
}

bool OnGuiThread()
{
    return QCoreApplication::instance() == nullptr || QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

ShellServices& Services()
{
    static ShellServices services;
    return services;
}

DialogPointers& Dialogs()
{
    static DialogPointers pointers;
    return pointers;
}

QWidget* MainWindowWidget()
{
    return Dialogs().MainDialogPtr.data();
}

SearchDialogBase* CurrentSearchDialog()
{
    QPointer<SearchDialogBase>* slot = PointerForMode(ProgramState::Instance().RecoveryMode.load());
    return slot != nullptr ? slot->data() : nullptr;
}

void RunOnGuiThread(std::function<void()> fn)
{
    if (OnGuiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// --- the base dialog -----------------------------------------------------------

SearchDialogBase::SearchDialogBase(int recoveryMode, QWidget* parent) : QDialog(parent), m_nRecoveryMode(recoveryMode)
{
    const ProgramState& state = ProgramState::Instance();
    setWindowTitle(QString::fromStdString(state.ProgramDisplayName));
    setWindowIcon(ProgramIcon());
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    setSizeGripEnabled(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Background());
    setPalette(pal);
    setAutoFillBackground(true);

    // Everything sits on one content widget that scrolls when the dialog is
    // made smaller than it.
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("SearchDialogContent"));
    content->setPalette(pal);
    content->setAutoFillBackground(true);
    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(0, 0, 0, 10);
    outer->setSpacing(8);

    // Title strip: the mode's name.
    auto* strip = new QWidget(content);
    strip->setObjectName(QStringLiteral("TitleStrip"));
    strip->setStyleSheet(QStringLiteral("#TitleStrip { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #144e86, stop:1 #2b86c9); }"));
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(14, 10, 14, 10);
    auto* icon = new QLabel(strip);
    icon->setPixmap(ProgramIcon().pixmap(36, 36));
    stripLayout->addWidget(icon);
    m_pTitle = new QLabel(QString::fromStdString(RecoveryModeText(recoveryMode, state.SignatureModeText)), strip);
    m_pTitle->setObjectName(QStringLiteral("ModeTitle"));
    m_pTitle->setFont(GetSharedFonts().ConsolasBold15Font);
    m_pTitle->setStyleSheet(QStringLiteral("color: white;"));
    stripLayout->addWidget(m_pTitle);
    stripLayout->addStretch();
    outer->addWidget(strip);

    // Body: the drive tree on the left, the list area on the right.
    auto* bodyHost = new QWidget(content);
    m_pBody = new QVBoxLayout(bodyHost);
    m_pBody->setContentsMargins(12, 0, 12, 0);
    auto* split = new QHBoxLayout;
    split->setSpacing(10);
    m_pDriveArea = new QFrame(bodyHost);
    m_pDriveArea->setObjectName(QStringLiteral("DriveTreeArea"));
    static_cast<QFrame*>(m_pDriveArea)->setFrameShape(QFrame::StyledPanel);
    m_pDriveArea->setStyleSheet(QStringLiteral("#DriveTreeArea { background: white; border: 1px solid #b8c4d0; }"));
    m_pDriveArea->setMinimumSize(260, 200);
    auto* driveLayout = new QVBoxLayout(m_pDriveArea);
    driveLayout->setObjectName(QStringLiteral("DriveTreeLayout"));
    auto* driveHeading = new QLabel(QStringLiteral("My Computer"), m_pDriveArea);
    driveHeading->setObjectName(QStringLiteral("DriveTreeHeading"));
    driveHeading->setStyleSheet(QStringLiteral("font-weight: bold; color: #303030;"));
    driveLayout->addWidget(driveHeading);
    driveLayout->addStretch();
    split->addWidget(m_pDriveArea, 2);

    m_pPlaceholder = new QFrame(bodyHost);
    m_pPlaceholder->setObjectName(QStringLiteral("PlaceholderPanel"));
    m_pPlaceholder->setStyleSheet(QStringLiteral("#PlaceholderPanel { background: #f3fafe; border: 1px solid #c9d3dd; }"));
    auto* placeholderLayout = new QVBoxLayout(m_pPlaceholder);
    auto* placeholderText = new CColorStatic(QStringLiteral("Select drive to start recovery..."), m_pPlaceholder);
    placeholderText->setObjectName(QStringLiteral("PlaceholderText"));
    placeholderText->SetColors(QColor(80, 80, 80), QColor(243, 250, 254), CColorStatic::Transparent);
    placeholderText->setFont(GetSharedFonts().ArialBold12Font);
    placeholderText->setAlignment(Qt::AlignCenter);
    placeholderLayout->addWidget(placeholderText);
    split->addWidget(m_pPlaceholder, 3);
    m_pBody->addLayout(split, 1);
    outer->addWidget(bodyHost, 1);

    // Button row: Back on the left, help on the right.
    m_pButtonRow = new QWidget(content);
    auto* row = new QHBoxLayout(m_pButtonRow);
    row->setContentsMargins(12, 0, 12, 0);
    auto* back = MakeIconButton(QStringLiteral("Back"), kIconDoNotExit, 24, m_pButtonRow);
    back->setObjectName(QStringLiteral("BackButton"));
    back->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    row->addWidget(back);
    row->addStretch();
    auto* about = MakeIconButton(QStringLiteral("About us"), kIconAbout, 24, m_pButtonRow);
    about->setObjectName(QStringLiteral("AboutButton"));
    auto* help = MakeIconButton(QStringLiteral("Help Manual"), kIconHelpManual, 24, m_pButtonRow);
    help->setObjectName(QStringLiteral("HelpManualButton"));
    auto* support = MakeIconButton(QStringLiteral("Support"), kIconSupport, 24, m_pButtonRow);
    support->setObjectName(QStringLiteral("SupportButton"));
    row->addWidget(about);
    row->addWidget(help);
    row->addWidget(support);
    outer->addWidget(m_pButtonRow);

    connect(back, &QPushButton::clicked, this, [this] { OnBack(); });
    connect(about, &QPushButton::clicked, this, [] { ShowAboutDialog(); });
    connect(help, &QPushButton::clicked, this, [] { OpenHelpFile(); });
    connect(support, &QPushButton::clicked, this, [] { ShowSupportDialog(); });

    m_pScrollHelper = std::make_unique<ScrollHelper>(this, content);

    // As large as the main window's tiles suggest, within the screen.
    QSize size(980, 640);
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size() - QSize(20, 40));
    resize(size);
}

SearchDialogBase::~SearchDialogBase()
{
    QPointer<SearchDialogBase>* slot = PointerForMode(m_nRecoveryMode);
    if (slot != nullptr && slot->data() == this) *slot = nullptr;
}

void SearchDialogBase::BeginSession(std::shared_ptr<DriveListSnapshot> drives)
{
    if (QPointer<SearchDialogBase>* slot = PointerForMode(m_nRecoveryMode)) *slot = this;
    MainWindowState::Instance().SearchDialogShown = 1;
    FillDriveTree(drives);
    // Once this dialog is on screen: hide the main window and close the
    // loading window. Back may already have ended the session by then, and
    // the main window it showed must stay.
    QTimer::singleShot(0, this, [this] {
        if (CSalvoraDlg* main = Dialogs().MainDialogPtr.data()) main->CloseLoadingWindow();
        if (isVisible() && CurrentSearchDialog() == this) HideMainWindow();
    });
}

void SearchDialogBase::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& /*drives*/) {}

void SearchDialogBase::AttachDrivePanel(CDriveTreeView* panel)
{
    if (panel == nullptr || m_pPartitionSearch != nullptr) return;
    m_pDrivePanel = panel;
    m_pPartitionSearch = new CPartitionSearchView(this, panel, m_pDriveArea);
    if (QLayout* layout = m_pDriveArea->layout()) layout->addWidget(m_pPartitionSearch);
}

void SearchDialogBase::StartRemovableMediaScan()
{
    if (m_pPartitionSearch != nullptr) m_pPartitionSearch->StartRemovableMediaScan();
}

bool SearchDialogBase::PartitionSearchBusy() const
{
    return m_pPartitionSearch != nullptr && m_pPartitionSearch->Busy();
}

void SearchDialogBase::LockForPartitionSearch(bool lock, QWidget* keep)
{
    if (!lock) {
        for (const QPointer<QWidget>& w : m_lockedWidgets)
            if (w) w->setEnabled(true);
        m_lockedWidgets.clear();
        return;
    }
    if (!m_lockedWidgets.empty() || keep == nullptr) return;
    auto disable = [this](QWidget* w) {
        // What is disabled already stays so afterwards.
        if (w == nullptr || w->isWindow() || w->testAttribute(Qt::WA_Disabled)) return;
        w->setEnabled(false);
        m_lockedWidgets.emplace_back(w);
    };
    // Every widget beside the way from the dialog's body down to `keep`.
    QWidget* body = m_pBody->parentWidget();
    for (QWidget* w = keep; w != nullptr && w != body && w != this; w = w->parentWidget()) {
        QWidget* parent = w->parentWidget();
        if (parent == nullptr) break;
        for (QObject* child : parent->children()) {
            auto* sibling = qobject_cast<QWidget*>(child);
            if (sibling != nullptr && sibling != w) disable(sibling);
        }
    }
    // Back; the help buttons stay.
    disable(m_pButtonRow->findChild<QPushButton*>(QStringLiteral("BackButton")));
}

void SearchDialogBase::ShowProgressStatics(bool show)
{
    // The panel belongs to the drive row: never over the results of a scan or a log.
    m_pPlaceholder->setVisible(show && m_pDriveArea->isVisibleTo(this));
}

void SearchDialogBase::OnBack()
{
    ProgramState& state = ProgramState::Instance();
    state.RecoveryMode = kModeNone;
    state.PendingScanLogPath.Clear();
    // The main window first, so the program never has no window on screen,
    // whole and centred on the screen it is on.
    ShowMainWindow();
    if (QWidget* main = MainWindowWidget()) {
        if (QScreen* screen = main->screen()) {
            const QRect area = screen->availableGeometry();
            const QRect frame = main->frameGeometry();
            const QSize extra = frame.size() - main->size();
            if (frame.width() > area.width() || frame.height() > area.height())
                main->resize(std::min(main->width(), area.width() - extra.width()),
                             std::min(main->height(), area.height() - extra.height()));
            QRect placed = main->frameGeometry();
            placed.moveCenter(area.center());
            main->move(std::max(placed.left(), area.left()), std::max(placed.top(), area.top()));
        }
    }
    if (QPointer<SearchDialogBase>* slot = PointerForMode(m_nRecoveryMode)) {
        if (slot->data() == this) *slot = nullptr;
    }
    done(QDialog::Rejected);
}

void SearchDialogBase::OnClose()
{
    const QString question = QString::fromStdString(ProgramState::Instance().Messages.ExitQuestionText);
    if (!AskYesNo(this, question)) return;
    StopRunningWork();
    RunExitSequence(this);
    ExitProgram(0);
}

void SearchDialogBase::closeEvent(QCloseEvent* event)
{
    event->ignore();
    OnClose();
}

void SearchDialogBase::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Cancel:
        event->accept();
        return;
    case Qt::Key_F1:
        event->accept();
        ShowSupportDialog();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// --- progress -----------------------------------------------------------------

void SetProgressRange64(QProgressBar* bar, std::uint64_t low, std::uint64_t high, int step)
{
    if (bar == nullptr) return;
    ProgressMapper& mapper = HolderOf(bar)->mapper;
    const int value = mapper.SetRange(low, high, step);
    bar->setRange(0, mapper.Maximum());
    bar->setValue(value);
    if (bar->isHidden()) bar->show();
}

void UpdateProgress64(QProgressBar* bar, std::uint64_t low, std::uint64_t high, std::uint64_t position, int increment,
                      bool byValue, bool forwardOnly)
{
    if (bar == nullptr) return;
    ProgressMapper& mapper = HolderOf(bar)->mapper;
    if (mapper.Maximum() != bar->maximum()) {
        // A bar that was never prepared: prepare it for this range first.
        mapper.SetRange(low, high, 1);
        bar->setRange(0, mapper.Maximum());
    }
    bar->setValue(mapper.Update(position, increment, byValue, forwardOnly));
}

// --- per-mode routines ----------------------------------------------------------

void ShowFoundCountStatus()
{
    RunOnGuiThread([] {
        const ProgramState& state = ProgramState::Instance();
        const int mode = state.RecoveryMode.load();
        SearchDialogBase* dialog = CurrentSearchDialog();
        if (dialog == nullptr || (mode != kModeBasic && mode != kModeDeep)) return;
        std::optional<std::string> name;
        if (dialog->HasSelectedResultsItem()) name = dialog->SelectedResultsItemText().toStdString();
        const std::string text = FormatFoundCountStatus(state.StatusFileCount.load(), state.StatusFolderCount.load(),
                                                        name ? std::optional<std::string_view>(*name) : std::nullopt);
        dialog->SetFoundCountStatus(QString::fromStdString(text));
    });
}

void EnableSearchControls()
{
    RunOnGuiThread([] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->EnableSearchControls();
    });
}

void DisableSearchControls()
{
    RunOnGuiThread([] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->DisableSearchControls();
    });
}

void ShowStopSearchControls(bool show)
{
    RunOnGuiThread([show] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->ShowStopSearchControls(show);
    });
}

void ShowProgressStatics(bool show)
{
    RunOnGuiThread([show] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->ShowProgressStatics(show);
    });
}

void ShowSectorRangeControls(SearchDialogBase* dialog, bool show)
{
    QPointer<SearchDialogBase> target(dialog);
    RunOnGuiThread([target, show] {
        if (target) target->ShowSectorRangeControls(show);
    });
}

void InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum, std::uint64_t maximum,
                             SearchDialogBase* dialog)
{
    QPointer<SearchDialogBase> target(dialog);
    RunOnGuiThread([=] {
        if (target) target->InitSectorRangeControls(start, end, minimum, maximum);
    });
}

void SelectFileSystemInCombo(const std::string& fileSystemName)
{
    const int index = FileSystemComboIndex(fileSystemName);
    RunOnGuiThread([index] {
        if (ProgramState::Instance().RecoveryMode.load() != kModeDeep) return;
        if (SearchDialogBase* d = CurrentSearchDialog()) d->SelectFileSystemInCombo(index);
    });
}

void StopElapsedTimer()
{
    RunOnGuiThread([] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->StopElapsedTimer();
    });
}

void ClearPartitionSearchState()
{
    MainWindowState& main = MainWindowState::Instance();
    main.PartitionSearchBusy = 0;
    main.PartitionSearchRunning = 0;
}

void DisableMainWindow()
{
    RunOnGuiThread([] {
        if (QWidget* main = MainWindowWidget()) main->setEnabled(false);
    });
}

void HideMainWindow()
{
    RunOnGuiThread([] {
        if (QWidget* main = MainWindowWidget()) main->hide();
    });
}

void ShowMainWindow()
{
    RunOnGuiThread([] {
        if (QWidget* main = MainWindowWidget()) {
            main->show();
            main->setEnabled(true);
            main->raise();
        }
    });
}

void RestoreBusyState()
{
    // The scan-log loaders and the list population keep the results tree
    // disabled while they run; the dialog that owns them knows.
    if (!OnGuiThread()) return;
    if (SearchDialogBase* d = CurrentSearchDialog()) d->RestoreBusyState();
}

void ClosePopulateWindow(bool destroy)
{
    RunOnGuiThread([destroy] {
        QPointer<QWidget>& window = Dialogs().PopulateWndPtr;
        if (window.isNull()) return;
        window->hide();
        if (destroy) {
            window->deleteLater();
            window = nullptr;
        }
    });
}

void ReselectDriveTreeItem(int flag)
{
    RunOnGuiThread([flag] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->ReselectDriveTreeItem(flag);
    });
}

void DispatchRemovableMediaScan()
{
    if (!ProgramState::Instance().PendingScanLogPath.Empty()) return;
    RunOnGuiThread([] {
        if (SearchDialogBase* d = CurrentSearchDialog()) d->StartRemovableMediaScan();
    });
}

int RunLogicalScanPrompt()
{
    return Services().RunLogicalScanPrompt ? Services().RunLogicalScanPrompt() : 0;
}

void RelayoutSearchDialog()
{
    RunOnGuiThread([] {
        // Only once the main window did not fit the screen: the dialog then
        // takes the main window's size and scrolls over the same display size.
        CSalvoraDlg* main = Dialogs().MainDialogPtr.data();
        if (main == nullptr || !main->ScreenFitFlag()) return;
        main->update();
        SearchDialogBase* d = CurrentSearchDialog();
        if (d == nullptr) return;
        d->resize(main->size());
        const QSize display = main->GetScrollHelper()->DisplaySize();
        d->GetScrollHelper()->SetDisplaySize(display.width(), display.height());
        d->update();
    });
}

void ReloadBannerBitmap()
{
    // The banners draw themselves to their window's width.
    RunOnGuiThread([] {
        if (QWidget* main = MainWindowWidget()) main->update();
        if (SearchDialogBase* d = CurrentSearchDialog()) d->update();
    });
}

// --- dialogs by mode --------------------------------------------------------------

SearchDialogBase* CreateSearchDialog(int recoveryMode, QWidget* parent)
{
    switch (recoveryMode) {
    case kModeBasic: return new CBasicSearch(parent);
    case kModeDeep: return new CDeepSearch(parent);
    case kModePhoto: return new CRawSearch(parent);
    case kModeVideo: {
        auto* dialog = new CSigDuplicate(parent);
        dialog->SetSearchMode(QStringLiteral("Video"));
        return dialog;
    }
    case kModeSignature: {
        auto* dialog = new CSigDuplicate(parent);
        dialog->SetSearchMode(QString::fromStdString(ProgramState::Instance().SignatureModeText));
        return dialog;
    }
    default: return nullptr;
    }
}

namespace {

void RunModal(int mode)
{
    SearchDialogBase* dialog = CreateSearchDialog(mode, nullptr);
    if (dialog == nullptr) return;
    dialog->BeginSession(nullptr);
    dialog->exec();
    delete dialog;
}

}  // namespace

void RunBasicSearchDialog()
{
    RunModal(kModeBasic);
}

void RunDeepSearchDialog()
{
    RunModal(kModeDeep);
}

}  // namespace torvane
