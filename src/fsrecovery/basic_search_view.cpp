#include "fsrecovery/basic_search_view.h"

#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "app/start_up.h"
#include "base/program_state.h"
#include "app/ui/color_static.h"
#include "app/ui/system_image_list.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"
#include "base/status_routines.h"
#include "base/text_routines.h"
#include "disk/drive_tree_view.h"
#include "disk/property_table_view.h"
#include "fsrecovery/store/name_rules.h"
#include "results/file_list_columns.h"
#include "results/file_list_rows.h"
#include "results/file_list_view.h"
#include "results/open_single_file_dialog.h"
#include "results/populate_window.h"
#include "results/save_walkers.h"
#include "results/file_system_volume.h"
#include "results/saving_dialog.h"
#include "results/scan_log_dialog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace torvane {

namespace {

const SharedMessageTexts& Texts()
{
    return ProgramState::Instance().Messages;
}

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

constexpr char kSaveBeforeScanText[] =
    "Saving function is not available at this step.\n\nTo save recovered data, first you need to scan the drive and "
    "recover the lost data.\n\nSelect the Drive from tree and click next to continue.";
constexpr char kLoadLogDuringScanText[] =
    "The Disk scanning process is still going on.\n\nIf you want to load the recovery results from scanning log file, "
    "you can cancel the scanning by clicking on 'Stop Search' button.";
constexpr char kLoadLogLaterText[] =
    "Recovery log cannot be loaded at this stage.\n\nTo load the recovery results from scanning log file, click on "
    "'Back' button and Load Log from previous screen.";
constexpr char kStopWaitText[] = "It may take a while, Please wait...";
constexpr char kNoTemporaryFolderText[] = "The temporary folder for opened files cannot be created.";
constexpr char kNoApplicationText[] =
    "No application could be started to open the file. A copy of it is kept as \"%1\" until the program ends.";

}  // namespace

// ---- one box at a time ------------------------------------------------------------------

class CBasicSearchView::ModalGuard {
public:
    explicit ModalGuard(CBasicSearchView* view) : view_(view) { ++view_->m_nModalOpen; }
    ~ModalGuard()
    {
        if (--view_->m_nModalOpen == 0 && !view_->m_deferred.empty())
            QMetaObject::invokeMethod(view_.data(), [v = view_] { if (v) v->RunDeferred(); }, Qt::QueuedConnection);
    }
    ModalGuard(const ModalGuard&) = delete;
    ModalGuard& operator=(const ModalGuard&) = delete;

private:
    QPointer<CBasicSearchView> view_;
};

bool CBasicSearchView::DeferWhileModal(void (CBasicSearchView::*handler)())
{
    if (m_nModalOpen == 0)
        return false;
    m_deferred.push_back(handler);
    return true;
}

void CBasicSearchView::RunDeferred()
{
    while (m_nModalOpen == 0 && !m_deferred.empty()) {
        auto handler = m_deferred.front();
        m_deferred.erase(m_deferred.begin());
        (this->*handler)();
    }
}

// ---- what the workers report ------------------------------------------------------

// The session's ends and messages, passed to the GUI thread.
class CBasicSearchView::SessionEvents : public SearchSessionObserver {
public:
    explicit SessionEvents(CBasicSearchView* view) : view_(view) {}

    void OnScanEnded() override { Post([](CBasicSearchView* v) { v->OnScanJobFinished(); }); }
    void OnListingEnded() override { Post([](CBasicSearchView* v) { v->OnListJobFinished(); }); }
    void OnFoldersNamed() override
    {
        Post([](CBasicSearchView* v) {
            if (v->m_pResultsTree->itemModel())
                v->m_pResultsTree->itemModel()->publishChanges();
        });
    }
    void OnMessage(const std::string& text) override
    {
        Post([text](CBasicSearchView* v) {
            ModalGuard guard(v);
            ShowMessage(v->Owner(), Q(text));
        });
    }
    void OnLogSaved() override { Post([](CBasicSearchView* v) { v->OnLogSaved(); }); }
    void OnLogLoaded() override { Post([](CBasicSearchView* v) { v->OnLogLoadFinished(); }); }
    void OnFileOpenEnded() override { Post([](CBasicSearchView* v) { v->OnOpenFileFinished(); }); }

private:
    template <typename F>
    void Post(F f)
    {
        QPointer<CBasicSearchView> view(view_);
        QMetaObject::invokeMethod(
            view_,
            [view, f] {
                if (view)
                    f(view.data());
            },
            Qt::QueuedConnection);
    }

    CBasicSearchView* view_;
};

// ---- construction -------------------------------------------------------------------

CBasicSearchView::CBasicSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* driveArea,
                                   QWidget* placeholder, QWidget* parent, int recoveryMode)
    : QWidget(parent), m_host(host), m_drives(drives), m_driveArea(driveArea), m_placeholder(placeholder),
      m_session(recoveryMode)
{
    setObjectName(QStringLiteral("BasicSearchView"));
    m_events = std::make_unique<SessionEvents>(this);
    m_session.SetObserver(m_events.get());
    BuildWidgets();

    m_timer123.setInterval(500);
    connect(&m_timer123, &QTimer::timeout, this, &CBasicSearchView::OnTimer123);
    m_timer456.setInterval(10000);
    connect(&m_timer456, &QTimer::timeout, this, &CBasicSearchView::OnTimer456);
    m_loadTimer.setInterval(200);
    connect(&m_loadTimer, &QTimer::timeout, this, &CBasicSearchView::OnLoadTimer);
    m_openTimer.setInterval(200);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        if (const OpenFoundFileJob* job = m_session.OpenFileJob(); job && m_pOpenWindow)
            m_pOpenWindow->SetProgress(job->Counters().fileBytesDone.load(), job->Counters().fileBytesTotal.load());
    });

    // The drive view first.
    ShowResultViews(false);
    ShowStopSearchControls(false);
    m_pScanPanel->hide();
    m_pInstruction->setText(Q(Texts().SelectDriveScanNowText));
}

CBasicSearchView::~CBasicSearchView()
{
    StopRunningWork();
    if (m_pOpenWindow)
        delete m_pOpenWindow.data();
    m_session.SetObserver(nullptr);
    m_pResultsTree->setTreeModel(nullptr);
    m_pFileList->UseRows(nullptr);
}

void CBasicSearchView::BuildWidgets()
{
    const SharedFonts& fonts = GetSharedFonts();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_pInstruction = new CColorStatic(QString(), this);
    m_pInstruction->setObjectName(QStringLiteral("InstructionText"));
    m_pInstruction->SetColors(QColor(40, 40, 40), QColor(242, 242, 242), CColorStatic::Transparent);
    m_pInstruction->setWordWrap(true);
    layout->addWidget(m_pInstruction);

    // Results: the folder tree and the file list side by side; the live list
    // of the latest folders found shares the list's place while scanning.
    m_pResultsArea = new QWidget(this);
    auto* results = new QHBoxLayout(m_pResultsArea);
    results->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, m_pResultsArea);
    m_pResultsTree = new CTreeClass(split);
    m_pResultsTree->setObjectName(QStringLiteral("ResultsTree"));
    m_pResultsTree->setTreeModel(&m_session.Results().Tree());
    QStyle* st = style();
    m_pResultsTree->setImageList({st->standardIcon(QStyle::SP_DriveHDIcon), st->standardIcon(QStyle::SP_DirClosedIcon),
                                  st->standardIcon(QStyle::SP_DirOpenIcon)});
    m_pResultsTree->setHeaderHidden(true);
    auto* right = new QWidget(split);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    // "Current Folder" and the folder's counts above the list.
    auto* folderLine = new QHBoxLayout;
    folderLine->setContentsMargins(0, 0, 0, 0);
    m_pFolderCaption = new CColorStatic(QStringLiteral("Current Folder"), right);
    m_pFolderCaption->setObjectName(QStringLiteral("CurrentFolderCaption"));
    m_pFolderCaption->setFont(fonts.ArialBold12Font);
    m_pFolderCaption->SetColors(QColor(40, 40, 40), QColor(242, 242, 242), CColorStatic::Transparent);
    m_pFolderStatus = new CColorStatic(QString(), right);
    m_pFolderStatus->setObjectName(QStringLiteral("FolderStatus"));
    m_pFolderStatus->SetColors(QColor(0, 0, 255), QColor(242, 242, 242), CColorStatic::Transparent);
    m_pFolderStatus->setTextFormat(Qt::PlainText);
    m_pFolderStatus->setMinimumWidth(10);
    m_pFolderStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderLine->addWidget(m_pFolderCaption);
    folderLine->addWidget(m_pFolderStatus, 1);
    rightLayout->addLayout(folderLine);
    m_pFileList = new CResultsFileList(right);
    m_pFileList->UseRows(&m_session.FileRows());
    m_pFileList->SetupResultColumns();
    m_pFileList->setContextMenuPolicy(Qt::CustomContextMenu);
    rightLayout->addWidget(m_pFileList);
    m_pLiveList = new QListWidget(right);
    m_pLiveList->setObjectName(QStringLiteral("LiveFoundList"));
    rightLayout->addWidget(m_pLiveList);
    split->addWidget(m_pResultsTree);
    split->addWidget(right);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    results->addWidget(split);
    layout->addWidget(m_pResultsArea, 1);

    // The scan panel: progress, step text, sector counters.
    m_pScanPanel = new QWidget(this);
    auto* scan = new QVBoxLayout(m_pScanPanel);
    scan->setContentsMargins(0, 0, 0, 0);
    scan->setSpacing(3);
    m_pStepText = new CColorStatic(QString(), m_pScanPanel);
    m_pStepText->setObjectName(QStringLiteral("StepText"));
    m_pStepText->SetColors(QColor(0, 0, 160), QColor(242, 242, 242), CColorStatic::Transparent);
    scan->addWidget(m_pStepText);
    m_pProgress = new QProgressBar(m_pScanPanel);
    m_pProgress->setObjectName(QStringLiteral("ScanProgress"));
    m_pProgress->setTextVisible(false);
    m_pProgress->setFixedHeight(16);
    scan->addWidget(m_pProgress);
    auto* line = new QHBoxLayout;
    m_pStatus = new CColorStatic(QStringLiteral(" "), m_pScanPanel);
    m_pStatus->setObjectName(QStringLiteral("ScanStatus"));
    m_pRangeLabel = new CColorStatic(QStringLiteral("Searching from sectors"), m_pScanPanel);
    m_pRangeText = new CColorStatic(QStringLiteral("0"), m_pScanPanel);
    m_pRangeText->setObjectName(QStringLiteral("RangeText"));
    m_pSector = new CColorStatic(QStringLiteral("Sectors"), m_pScanPanel);
    m_pSector->setObjectName(QStringLiteral("CurrentSector"));
    m_pOfTotal = new CColorStatic(QStringLiteral(" of total"), m_pScanPanel);
    for (CColorStatic* s : {m_pStatus, m_pRangeLabel, m_pRangeText, m_pSector, m_pOfTotal}) {
        s->SetColors(QColor(40, 40, 40), QColor(242, 242, 242), CColorStatic::Transparent);
        line->addWidget(s);
    }
    line->setSpacing(12);
    line->addStretch();
    scan->addLayout(line);
    layout->addWidget(m_pScanPanel);

    // Counters and the description of what is scanned.
    auto* counters = new QHBoxLayout;
    m_pCounters = new QLabel(m_pScanPanel ? this : this);
    m_pCounters->setObjectName(QStringLiteral("FoundCounters"));
    m_pCounters->setTextFormat(Qt::PlainText);
    m_pTreeCount = new QLabel(this);
    m_pTreeCount->setObjectName(QStringLiteral("TreeCount"));
    m_pDescription = new QLabel(this);
    m_pDescription->setObjectName(QStringLiteral("SelectionDescription"));
    m_pDescription->setTextFormat(Qt::PlainText);
    counters->addWidget(m_pCounters);
    counters->addStretch();
    counters->addWidget(m_pTreeCount);
    counters->addWidget(m_pDescription);
    layout->addLayout(counters);
    m_pCounters->hide();
    m_pTreeCount->hide();
    m_pDescription->hide();

    // Buttons.
    auto* buttons = new QHBoxLayout;
    auto make = [this, &buttons](const char* text, const char* name, int icon, int size) {
        auto* b = new CXPStyleButtonST(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->SetIcon(icon, size);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    m_pLoadLog = make("Load Log", "LoadLogButton", kIconLoadLog, 24);
    m_pSaveLog = make("Save Log", "SaveLogButton", kIconSaveBeforeExit, 24);
    buttons->addStretch();
    m_pSaveData = make("Save Data", "SaveDataButton", 367, 28);
    m_pStop = make("Stop", "StopButton", 374, 28);
    m_pScanNow = make("Scan Now", "ScanNowButton", 453, 28);
    m_pScanNow->setFont(fonts.ConsolasBold15Font);
    m_pSaveData->setFont(fonts.ConsolasBold15Font);
    layout->addLayout(buttons);
    m_pSaveData->hide();
    m_pSaveLog->hide();

    connect(m_pScanNow, &QPushButton::clicked, this, &CBasicSearchView::OnScanNow);
    connect(m_pStop, &QPushButton::clicked, this, &CBasicSearchView::OnStop);
    connect(m_pSaveData, &QPushButton::clicked, this, &CBasicSearchView::OnSaveData);
    connect(m_pSaveLog, &QPushButton::clicked, this, &CBasicSearchView::OnSaveLog);
    connect(m_pLoadLog, &QPushButton::clicked, this, &CBasicSearchView::OnLoadLog);
    connect(m_pResultsTree, &CTreeClass::selChanged, this, &CBasicSearchView::OnResultsSelChanged);
    // Lost sub-folders of a FAT folder get their names when it is opened.
    connect(m_pResultsTree, &CTreeClass::itemExpanding, this, [this](TreeNodeId item, bool expanding) {
        if (expanding)
            m_session.PrepareChildren(item);
    });
    connect(m_pFileList, &QAbstractItemView::doubleClicked, this, &CBasicSearchView::OnResultListDoubleClicked);
    // The right-click menus.
    m_pResultsTree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pResultsTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QMenu* menu = MakeResultTreeMenu()) {
            menu->exec(m_pResultsTree->viewport()->mapToGlobal(pos));
            delete menu;
        }
    });
    connect(m_pFileList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // A click on a row selects it first, as the list's own click would.
        const QModelIndex at = m_pFileList->indexAt(pos);
        if (at.isValid() && m_pFileList->selectionModel() && !m_pFileList->selectionModel()->isRowSelected(at.row(), {}))
            m_pFileList->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        if (QMenu* menu = MakeResultListMenu()) {
            menu->exec(m_pFileList->viewport()->mapToGlobal(pos));
            delete menu;
        }
    });
}

// ---- the right-click menus ------------------------------------------------------------

QMenu* CBasicSearchView::MakeResultTreeMenu()
{
    const TreeModel& tree = m_session.Results().Tree();
    const TreeNodeId root = tree.RootItem();
    if (m_session.ScanCount() == 0 || ScanRunning() || root == kNoTreeNode || tree.ChildCount(root) == 0)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ResultTreeMenu"));
    connect(menu->addAction(QStringLiteral("Save")), &QAction::triggered, this, &CBasicSearchView::SaveCheckedItems);
    return menu;
}

QMenu* CBasicSearchView::MakeResultListMenu(bool forClick)
{
    if (m_session.ScanCount() == 0)
        return nullptr;
    if (forClick && (!m_pFileList->selectionModel() || !m_pFileList->selectionModel()->hasSelection()))
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ResultListMenu"));
    connect(menu->addAction(QStringLiteral("Open")), &QAction::triggered, this, &CBasicSearchView::OnOpenFile);
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Save")), &QAction::triggered, this, &CBasicSearchView::SaveSelectedRows);
    connect(menu->addAction(QStringLiteral("Save All")), &QAction::triggered, this, &CBasicSearchView::SaveAllRows);
    return menu;
}

bool CBasicSearchView::RefuseSaveNow()
{
    QWidget* owner = Owner();
    if (m_session.ScanCount() == 0) {
        ShowMessage(owner, QString::fromLatin1(kSaveBeforeScanText));
        RestoreBusyState();
        return true;
    }
    if (ScanRunning() || ListBusy()) {
        ShowMessage(owner, Q(Texts().ScanRunningSaveDataText));
        RestoreBusyState();
        return true;
    }
    return false;
}

void CBasicSearchView::SaveCheckedItems()
{
    if (RefuseSaveNow())
        return;
    SaveCheckedTreeItems(Owner(), m_session.Results(), m_session.Volumes(), true);
}

std::vector<SaveRow> CBasicSearchView::SelectedSaveRows() const
{
    std::vector<SaveRow> rows;
    if (!m_pFileList->selectionModel())
        return rows;
    QModelIndexList selected = m_pFileList->selectionModel()->selectedRows();
    // In the order the list shows them.
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    ListRowModel& list = m_pFileList->Rows();
    for (const QModelIndex& index : selected) {
        const int row = m_pFileList->sourceRow(index.row());
        if (row < 0 || row >= list.RowCount() || TrimWhite(list.Cell(row, kListType)).empty())
            continue;
        rows.push_back(SaveRowOfListRow(list, row, false));
    }
    return rows;
}

void CBasicSearchView::SaveSelectedRows()
{
    if (RefuseSaveNow())
        return;
    std::vector<SaveRow> rows = SelectedSaveRows();
    if (rows.empty())
        return;
    SaveSelectedListItems(Owner(), m_session.Results(), m_session.Volumes(), true, std::move(rows));
    m_pFileList->setFocus();
}

void CBasicSearchView::SaveAllRows()
{
    if (RefuseSaveNow())
        return;
    m_pFileList->selectAll();
    SaveSelectedRows();
}

void CBasicSearchView::SetFoundCountStatus(const QString& text)
{
    m_pFolderStatus->setText(text);
    m_pFolderStatus->setToolTip(text);
}

void CBasicSearchView::ShowFolderCounts()
{
    const ProgramState& state = ProgramState::Instance();
    const QString name = SelectedResultsItemText();
    std::optional<std::string> selected;
    if (!name.isNull())
        selected = name.toStdString();
    SetFoundCountStatus(Q(FormatFoundCountStatus(state.StatusFileCount.load(), state.StatusFolderCount.load(),
                                                 selected ? std::optional<std::string_view>(*selected)
                                                          : std::nullopt)));
}

QString CBasicSearchView::SelectedResultsItemText() const
{
    if (m_session.ScanCount() == 0 || ScanRunning())
        return QString();
    const TreeNodeId item = m_pResultsTree->SelectedItem();
    const TreeModel& tree = m_session.Results().Tree();
    if (item == kNoTreeNode || !tree.IsValid(item))
        return QString();
    return Q(tree.Text(item));
}

QWidget* CBasicSearchView::Owner() const
{
    return m_host ? static_cast<QWidget*>(m_host.data()) : const_cast<CBasicSearchView*>(this);
}

QLabel* CBasicSearchView::CounterLabel() const { return m_pCounters; }
QLabel* CBasicSearchView::StepLabel() const { return m_pStepText; }
QLabel* CBasicSearchView::InstructionLabel() const { return m_pInstruction; }
QLabel* CBasicSearchView::FolderStatusLabel() const { return m_pFolderStatus; }
QLabel* CBasicSearchView::RangeLabel() const { return m_pRangeLabel; }
QLabel* CBasicSearchView::RangeTextLabel() const { return m_pRangeText; }
QLabel* CBasicSearchView::ScanStatusLabel() const { return m_pOfTotal; }
QLabel* CBasicSearchView::CurrentSectorLabel() const { return m_pSector; }
COpenSingleFile* CBasicSearchView::OpenFileWindow() const { return m_pOpenWindow.data(); }

bool CBasicSearchView::ResultsShown() const
{
    return m_session.HasResults();
}

// ---- views ----------------------------------------------------------------------------

void CBasicSearchView::ShowDriveViews(bool show)
{
    // The frame's drive row and this view share the body: whichever shows the
    // main content takes the height.
    if (QWidget* body = parentWidget()) {
        if (auto* box = qobject_cast<QBoxLayout*>(body->layout())) {
            const int mine = box->indexOf(this);
            for (int i = 0; i < box->count(); ++i)
                box->setStretch(i, (i == mine) != show ? 1 : 0);
        }
    }
    if (m_driveArea)
        m_driveArea->setVisible(show);
    if (m_drives) {
        if (show) {
            // The property list shows again once a node is selected.
            m_drives->PropertyList()->setVisible(!m_drives->LastSelection().Table.Rows.empty());
            if (m_placeholder)
                m_placeholder->setVisible(m_drives->PropertyList()->isHidden());
        } else {
            m_drives->PropertyList()->hide();
            if (m_placeholder)
                m_placeholder->hide();
        }
    } else if (m_placeholder) {
        m_placeholder->setVisible(show);
    }
    m_pLoadLog->setVisible(show);
}

void CBasicSearchView::ShowResultViews(bool show)
{
    // Results coming on screen share the width two to three, whether a scan
    // or a loaded log filled the tree (a full tree would otherwise ask for
    // most of it).
    if (show && m_pResultsArea->isHidden())
        if (auto* split = m_pResultsArea->findChild<QSplitter*>(QString(), Qt::FindDirectChildrenOnly))
            split->setSizes({2000, 3000});
    m_pResultsArea->setVisible(show);
    m_pResultsTree->setVisible(show);
    m_pFileList->setVisible(show);
    if (show) {
        m_pLiveList->hide();
    } else {
        m_pSaveData->hide();
        m_pSaveLog->hide();
    }
}

void CBasicSearchView::ShowStopSearchControls(bool show)
{
    // The range searched, the sector counter and the status line belong to
    // a running search: a finished one does not leave them on screen.
    for (QWidget* w : std::initializer_list<QWidget*>{m_pStop, m_pProgress, m_pRangeLabel, m_pRangeText, m_pSector,
                                                      m_pStatus, m_pOfTotal})
        w->setVisible(show);
}

// ---- Scan Now -------------------------------------------------------------------------

void CBasicSearchView::OnScanNow()
{
    if (!m_drives || !m_drives->Inventory())
        return;
    if (m_drives->RefreshRunning() || m_drives->ReloadRunning())
        return;
    // Held for the whole handler: a refresh may swap the panel's inventory
    // while the logical-scan question is up.
    const std::shared_ptr<DriveInventory> inventory = m_drives->Inventory();
    const DriveInventory& inv = *inventory;

    BasicScanStartInput in;
    in.selectedItem = m_drives->Tree() ? m_drives->Tree()->SelectedItem() : kNoTreeNode;
    if (in.selectedItem == kNoTreeNode)
        in.selectedItem = inv.SelectedItem.load();
    in.source = m_drives->LastSelection().Source;
    in.basicScanCount = m_session.ScanCount();
    in.askLogicalScan = [] { return RunLogicalScanPrompt(); };

    BasicScanStart start = ResolveScanStart(inv, in);
    switch (start.outcome) {
    case ScanStartOutcome::Refused:
        return;
    case ScanStartOutcome::Message:
        ShowMessage(Owner(), Q(start.message));
        return;
    case ScanStartOutcome::NotPossible:
        ShowEndOfSearchMessage(Owner(), 0);
        return;
    case ScanStartOutcome::Start:
        break;
    }

    // The scan view.
    ShowResultViews(false);
    ShowDriveViews(false);
    m_pFileList->SetupResultColumns();
    m_pScanPanel->show();
    ShowStopSearchControls(true);
    if (m_host)
        if (auto* back = m_host->findChild<QPushButton*>(QStringLiteral("BackButton")))
            back->setEnabled(false);
    m_pScanNow->hide();
    m_pLoadLog->hide();
    m_pSaveData->show();
    m_pSaveLog->show();
    m_pStatus->setText(QString());
    m_pSector->setText(QString());
    m_pFolderStatus->setText(QString());
    m_rangeStart = start.rangeStart;
    m_rangeEnd = start.rangeEnd;
    SetProgressRange64(m_pProgress, start.rangeStart, start.rangeEnd, 512);
    m_barLow = start.rangeStart;
    m_barHigh = start.rangeEnd;
    m_pRangeText->setText(Q(ScanRangeText(start.rangeStart, start.rangeEnd)));
    m_pOfTotal->setText(QString());

    m_pInstruction->setText(Q(Texts().StopSearchAdviceText));
    m_pStatus->setText(QStringLiteral("Validating Partition ..."));
    ClearPartitionSearchState();
    m_bStopRequest = false;
    ResetEndOfSearchBox();
    m_pStop->setEnabled(true);
    m_pStop->setFocus();
    m_pLiveList->clear();
    m_pLiveList->show();
    m_pResultsArea->show();
    m_pResultsTree->show();
    m_pFileList->hide();
    m_selectionDescription = start.selectionDescription;
    m_pDescription->setText(Q(m_selectionDescription));
    m_pDescription->show();
    m_pCounters->setText(QString());
    m_pCounters->show();
    m_pTreeCount->hide();
    ProgramState::Instance().BasicEndNoticeState = kEndNoticeNone;
    ProgramState::Instance().StatusFileCount = 0;
    ProgramState::Instance().StatusFolderCount = 0;
    m_pResultsTree->setEnabled(false);

    m_timer123.start();
    m_timer456.start();
    if (!m_session.StartScan(start.partition)) {
        m_timer123.stop();
        m_timer456.stop();
        ApplyResultState();
    }
}

BasicScanStart CBasicSearchView::ResolveScanStart(const DriveInventory& inv, const BasicScanStartInput& in)
{
    return ResolveBasicScanStart(inv, in);
}

// ---- timers ----------------------------------------------------------------------------

void CBasicSearchView::ShowScanDisplay()
{
    const ScanDisplay d = m_session.TakeScanDisplay();
    if (d.textsChanged) {
        m_pStepText->setText(Q(d.step));
        m_pStepText->setVisible(!d.step.empty());
        if (!d.status.empty())
            m_pOfTotal->setText(QStringLiteral(" ") + Q(d.status));
    }
    for (const std::string& name : d.liveFolders)
        m_pLiveList->insertItem(0, Q(name));
    while (m_pLiveList->count() > 100)
        delete m_pLiveList->takeItem(m_pLiveList->count() - 1);
    // exFAT folders lie anywhere on the volume: its bar only moves forward.
    if (d.progressHigh > 0) {
        // A step of the scan measures its own range (the $MFT's sectors, the
        // partition's): the bar starts again over it.
        if (d.progressLow != m_barLow || d.progressHigh != m_barHigh) {
            m_barLow = d.progressLow;
            m_barHigh = d.progressHigh;
            SetProgressRange64(m_pProgress, m_barLow, m_barHigh, 1);
        }
        UpdateProgress64(m_pProgress, d.progressLow, d.progressHigh, d.progressPos, 512, true,
                         m_session.Results().Kind() == FsKind::Exfat);
    }
}

void CBasicSearchView::UpdateCounters()
{
    ScanResults& results = m_session.Results();
    const FsKind fs = results.Kind();
    if (fs == FsKind::Ntfs || fs == FsKind::Exfat) {
        auto lk = results.Lock();
        results.FoundFileCount = results.FoundEntries().size();
    }
    // "&&" of the dialog's text shows a single "&".
    m_pCounters->setText(QStringLiteral("Folder Entries: %1 & File Entries: %2 ")
                             .arg(results.FoundFolderCount.load())
                             .arg(results.FoundFileCount.load()));
}

void CBasicSearchView::OnTimer123()
{
    m_pSector->setText(QString::number(m_session.Results().CurrentScanSector.load()));
    UpdateCounters();
    ShowScanDisplay();
    if (!ScanRunning())
        m_timer123.stop();
}

void CBasicSearchView::OnTimer456()
{
    // The interim tree is placed by the scan between two blocks; the tick
    // shows it opened at the root.
    if (!ScanRunning() || m_bStopRequest) {
        m_timer456.stop();
        return;
    }
    TreeModel& tree = m_session.Results().Tree();
    const TreeNodeId root = tree.RootItem();
    if (root != kNoTreeNode)
        tree.RequestExpand(root);
}

// ---- Stop -----------------------------------------------------------------------------

void CBasicSearchView::OnStop()
{
    bool yes = false;
    {
        ModalGuard guard(this);
        yes = AskYesNo(Owner(), Q(Texts().StopSearchQuestionText));
    }
    if (!yes)
        return;
    if (!ScanRunning())
        return;
    m_bStopRequest = true;
    m_timer456.stop();
    // The scan ends between two blocks and then arranges what it found.
    ShowStopSearchControls(false);
    m_pStepText->setText(QString::fromLatin1(kStopWaitText));
    m_pStepText->show();
    m_pResultsTree->setEnabled(false);
    m_session.StopScan();
}

// ---- the result state -------------------------------------------------------------------

void CBasicSearchView::OnScanJobFinished()
{
    // The reason a scan could not run (or a Stop question still open) comes
    // before what the end of the scan shows.
    if (DeferWhileModal(&CBasicSearchView::OnScanJobFinished))
        return;
    if (!m_session.FinishScan())
        return;
    m_timer123.stop();
    m_timer456.stop();
    OnTimer123();
    ApplyResultState();
    // Folder sectors the scan could not read: what they held is missing, and
    // the user is told so, with the folders.
    const std::string unreadable = m_session.UnreadableFoldersText();
    if (!unreadable.empty()) {
        ModalGuard guard(this);
        ShowMessage(Owner(), Q(unreadable));
    }
}

void CBasicSearchView::ApplyResultState()
{
    ShowStopSearchControls(false);
    m_pStepText->hide();
    m_pScanPanel->hide();
    m_pStatus->setText(QString());
    m_pInstruction->setText(Q(Texts().SelectFilesToSaveText));
    ScanResults& results = m_session.Results();
    TreeModel& tree = results.Tree();
    if (tree.NodeCount() == 0) {
        results.EnsureRootItem();
        ProgramState::Instance().BasicEndNoticeState = kEndNoticeEmpty;
    } else if (m_session.ScanJob() && m_session.ScanJob()->EndNoticeState() == 1) {
        ProgramState::Instance().BasicEndNoticeState = kEndNoticeEmpty;
    }
    m_pResultsTree->setEnabled(true);
    ShowResultViews(true);
    m_pSaveData->show();
    m_pSaveLog->show();
    if (m_pResultsTree->itemModel())
        m_pResultsTree->itemModel()->publishChanges();
    if (m_host)
        if (auto* back = m_host->findChild<QPushButton*>(QStringLiteral("BackButton")))
            back->setEnabled(true);
    m_pScanNow->hide();
    const TreeNodeId root = tree.RootItem();
    if (root != kNoTreeNode) {
        tree.RequestExpand(root);
        m_pResultsTree->ExpandItem(root);
        m_pResultsTree->SelectItem(root);
    }
    emit scanFinished();
}

// ---- results tree and file list ------------------------------------------------------------

void CBasicSearchView::OnResultsSelChanged(TreeNodeId item)
{
    if (ListBusy() || m_session.ScanCount() == 0)
        return;
    if (ScanRunning()) {
        // No listing while the scan changes the tree.
        m_pResultsTree->SelectItem(kNoTreeNode);
        return;
    }
    if (item == kNoTreeNode)
        return;
    TreeModel& tree = m_session.Results().Tree();
    // The root shows the drive image, a folder its closed-folder image.
    if (tree.Parent(item) == kNoTreeNode && tree.Text(item).rfind(kRootItemText, 0) == 0)
        tree.SetImage(item, 0);
    else
        tree.SetImage(item, 1);
    if (!BeginFolderSelection(m_session.ListState(), tree, item))
        return;

    if (!m_pPopulate) {
        m_pPopulate = new CPopulate(m_host ? static_cast<QWidget*>(m_host.data()) : this);
        m_pPopulate->SetCancelAction([this] { m_session.StopListing(); });
        Dialogs().PopulateWndPtr = m_pPopulate.data();
    }
    // The dialog is disabled while the list fills, which takes the focus
    // away: it goes back where it was (Space on the tree ticks the item).
    // (The dialog's own focus child: the dialog need not be the active window.)
    m_focusBeforeListing = m_host ? m_host->focusWidget() : QApplication::focusWidget();
    if (m_host)
        m_host->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_pPopulate->SetListingRunning(true);
    m_pPopulate->setEnabled(true);
    if (QWidget* owner = m_host ? static_cast<QWidget*>(m_host.data()) : window())
        m_pPopulate->move(owner->geometry().center() - m_pPopulate->rect().center());
    m_pPopulate->show();
    m_pPopulate->raise();

    m_pFileList->setUpdatesEnabled(false);
    if (!m_session.StartListing(item))
        OnListJobFinished();
}

void CBasicSearchView::OnListJobFinished()
{
    if (DeferWhileModal(&CBasicSearchView::OnListJobFinished))
        return;
    if (!m_session.FinishListing())
        return;
    if (m_pPopulate) {
        m_pPopulate->SetListingRunning(false);
        m_pPopulate->hide();
    }
    QApplication::restoreOverrideCursor();
    m_pFileList->setUpdatesEnabled(true);
    m_pFileList->ApplyIcons();
    m_pFileList->FitColumnsToContent();
    if (m_host)
        m_host->setEnabled(true);
    m_pResultsTree->setEnabled(true);
    if (m_focusBeforeListing && m_focusBeforeListing->isVisible() && m_focusBeforeListing->isEnabled()) {
        // The population window had the keyboard: the dialog takes it back
        // (without a window manager nobody else would hand it over).
        if (QWidget* top = m_focusBeforeListing->window();
            top && !top->isActiveWindow() && !QApplication::activeModalWidget())
            top->activateWindow();
        m_focusBeforeListing->setFocus(Qt::OtherFocusReason);
    }
    m_focusBeforeListing = nullptr;

    ListingEndNotice notice = ListingEndNotice::None;
    std::uint64_t files = 0, folders = 0;
    if (const FileListPopulationJob* job = m_session.ListJob()) {
        notice = job->EndNotice();
        files = job->ListedFileCount();
        folders = job->ListedFolderCount();
    }
    ProgramState::Instance().StatusFileCount = files;
    ProgramState::Instance().StatusFolderCount = folders;
    ShowFolderCounts();
    // The folder's own file count beside the description (the Basic Search only).
    RecoveredFolder* rec = m_session.RecoveryMode() == 1 ? m_session.Results().FolderOfItem(m_session.ListState().LastPopulatedItem) : nullptr;
    if (rec) {
        m_pTreeCount->setText(QStringLiteral("Tree:%1").arg(rec->fileCount));
        m_pTreeCount->show();
    }
    emit listPopulated();

    QWidget* owner = Owner();
    if (notice == ListingEndNotice::EmptyResult) {
        ShowEndOfSearchMessage(owner, 0, m_session.ScanStoppedByUser());
    } else if (notice == ListingEndNotice::SearchFinished && !m_session.EndBoxShown()) {
        m_session.SetEndBoxShown(true);
        ShowEndOfSearchMessage(owner, 1, m_session.ScanStoppedByUser());
    }
}

void CBasicSearchView::OnResultListDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid() || m_session.ScanCount() == 0)
        return;
    OpenListRow(m_pFileList->sourceRow(index.row()));
}

void CBasicSearchView::OnOpenFile()
{
    if (m_session.ScanCount() == 0 || !m_pFileList->selectionModel())
        return;
    const QModelIndexList selected = m_pFileList->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    int first = selected.first().row();
    for (const QModelIndex& index : selected)
        first = std::min(first, index.row());
    OpenListRow(m_pFileList->sourceRow(first));
}

void CBasicSearchView::OpenListRow(int row)
{
    ListRowModel& rows = m_pFileList->Rows();
    if (row < 0 || row >= rows.RowCount() || TrimWhite(rows.Cell(row, kListType)).empty())
        return;
    // A folder row opens the folder in the tree.
    if (IsFolderListRow(rows, row)) {
        ShowFolderCounts();
        const TreeNodeId item = static_cast<TreeNodeId>(ParseDecimalU64(rows.Cell(row, kListTreeItem)));
        if (m_session.Results().Tree().IsValid(item))
            m_pResultsTree->SelectItem(item);
        return;
    }
    // A file: copied into this run's temporary folder and handed to the
    // desktop. Nothing without a volume to read it from, or while a copy runs.
    if (!m_session.Volumes() || m_session.Volumes()->Empty() || m_session.OpenFileRunning())
        return;
    if (ScanRunning() || ListBusy() || LogJobRunning())
        return;
    const SaveRow file = SaveRowOfListRow(rows, row, false);
    const std::string folder = TemporaryExtractFolder::Instance().Path();
    if (folder.empty()) {
        ShowMessage(Owner(), QString::fromLatin1(kNoTemporaryFolderText));
        return;
    }
    QWidget* owner = Owner();
    m_pOpenWindow = new COpenSingleFile(owner);
    m_pOpenWindow->SetFile(Q(OpenDisplayName(file.name)), file.size);
    m_pOpenWindow->SetStopAction([this] { m_session.StopOpenFile(); });
    if (!m_session.StartOpenFile(file, folder)) {
        delete m_pOpenWindow.data();
        return;
    }
    if (m_host)
        m_host->setEnabled(false);
    m_pOpenWindow->setEnabled(true);
    m_pOpenWindow->move(owner->geometry().center() - m_pOpenWindow->rect().center());
    m_pOpenWindow->show();
    m_pOpenWindow->raise();
    m_openTimer.start();
}

void CBasicSearchView::OnOpenFileFinished()
{
    if (!m_session.FinishOpenFile())
        return;
    m_openTimer.stop();
    if (m_pOpenWindow) {
        m_pOpenWindow->hide();
        m_pOpenWindow->deleteLater();
        m_pOpenWindow = nullptr;
    }
    if (m_host)
        m_host->setEnabled(true);
    m_pFileList->viewport()->update();
    const OpenFoundFileJob* job = m_session.OpenFileJob();
    if (!job)
        return;
    QWidget* owner = Owner();
    const QString path = Q(job->Path());
    if (!job->Openable())
        ShowMessage(owner, Q(job->Message()));
    else if (!QFileInfo::exists(path))
        ShowMessage(owner, QString::fromLatin1(kOpenFileMissingText));
    else if (!ShellOpenFile(path))
        ShowMessage(owner, QString::fromLatin1(kNoApplicationText).arg(path));
    emit fileOpened();
}

// ---- saving and the scan log ---------------------------------------------------------------

void CBasicSearchView::OnSaveData()
{
    SaveCheckedItems();
}

void CBasicSearchView::OnSaveLog()
{
    QWidget* owner = Owner();
    if (m_session.ScanCount() == 0) {
        ShowMessage(owner, Q(Texts().SaveLogBeforeScanText));
    } else if (ScanRunning() || ListBusy()) {
        ShowMessage(owner, Q(Texts().ScanRunningSaveLogText));
    } else if (!LogJobRunning()) {
        SaveScanLog();
        return;
    }
    RestoreBusyState();
}

ScanLogSourceFacts CBasicSearchView::SourceFacts() const
{
    std::vector<std::string> identities;
    if (m_drives && m_drives->Inventory()) {
        std::shared_ptr<DriveInventory> inv = m_drives->Inventory();
        auto lock = inv->Lock();
        identities = inv->DiskIdentityList;
    }
    return ScanLogSourceFactsOf(m_session.Partition(), identities, m_selectionDescription);
}

int CBasicSearchView::SaveScanLog()
{
    QWidget* owner = Owner();
    if (m_session.ScanCount() == 0 || ScanRunning() || ListBusy() || LogJobRunning())
        return 0;
    if (m_host)
        m_host->setEnabled(false);
    const QString path = AskScanLogSavePath(owner);
    if (m_host)
        m_host->setEnabled(true);
    if (path.isEmpty()) {
        if (m_host) {
            m_host->raise();
            m_host->activateWindow();
        }
        return 0;
    }
    ScanLogSaveRequest request;
    request.path = path.toStdString();
    request.source = SourceFacts();
    if (!m_session.StartSaveLog(std::move(request)))
        return 0;

    // The writer runs on its worker; the dialog waits, disabled, for its end.
    QPushButton* back = m_host ? m_host->findChild<QPushButton*>(QStringLiteral("BackButton")) : nullptr;
    if (back)
        back->setEnabled(false);
    if (m_host)
        m_host->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    m_pSaveLoop = &loop;
    if (m_session.SaveLogJob() && m_session.SaveLogJob()->Running())
        loop.exec();
    m_pSaveLoop = nullptr;
    QApplication::restoreOverrideCursor();
    m_session.FinishSaveLog();
    if (m_host)
        m_host->setEnabled(true);
    if (back)
        back->setEnabled(true);

    const ScanLogSaveJob* job = m_session.SaveLogJob();
    const bool written = job && job->Result().ok() && !job->Failed();
    if (written)
        ShowMessage(owner, QString::fromLatin1(kScanLogSavedText));
    else
        ShowMessage(owner, Q(job ? job->Result().message : std::string()));
    emit logSaved();
    return written ? 1 : 0;
}

void CBasicSearchView::OnLogSaved()
{
    if (m_pSaveLoop)
        m_pSaveLoop->quit();
}

void CBasicSearchView::OnLoadLog()
{
    QWidget* owner = Owner();
    ProgramState& state = ProgramState::Instance();
    if (m_session.ScanCount() != 0) {
        state.PendingScanLogPath.Clear();
        ShowMessage(owner, QString::fromLatin1(ScanRunning() || ListBusy() ? kLoadLogDuringScanText : kLoadLogLaterText));
        RestoreBusyState();
        return;
    }
    if (LogJobRunning() || ScanRunning())
        return;
    // The pending log is taken once; a later Load Log asks.
    std::string path = state.PendingScanLogPath.Get();
    state.PendingScanLogPath.Clear();
    if (path.empty()) {
        path = AskScanLogOpenPath(owner).toStdString();
        if (path.empty())
            return;
    }
    m_loadPath = path;
    state.StatusFileCount = 0;
    state.StatusFolderCount = 0;
    ShowFolderCounts();

    // The loading view: the progress of the tree and the file table.
    ShowResultViews(false);
    ShowDriveViews(false);
    m_pFileList->SetupResultColumns();
    m_pScanPanel->show();
    m_pStop->hide();
    for (CColorStatic* s : {m_pStatus, m_pRangeLabel, m_pRangeText, m_pSector, m_pOfTotal})
        s->hide();
    m_pProgress->show();
    SetProgressRange64(m_pProgress, 0, 1, 1);
    m_pStepText->setText(QString::fromLatin1(kScanLogLoadingStepText));
    m_pStepText->show();
    if (m_host)
        if (auto* back = m_host->findChild<QPushButton*>(QStringLiteral("BackButton")))
            back->setEnabled(false);
    m_pScanNow->hide();
    m_pLoadLog->hide();
    m_pInstruction->setText(Q(Texts().SelectFilesToSaveText));
    m_pLiveList->hide();
    m_pResultsTree->setEnabled(false);

    ScanLogLoadRequest request;
    request.path = path;
    if (!m_session.StartLoadLog(std::move(request))) {
        ReturnToDriveSelection();
        return;
    }
    MainWindowState::Instance().BasicLogLoadThread = 1;
    m_loadTimer.start();
}

void CBasicSearchView::OnLoadTimer()
{
    const ScanLogLoadJob* job = m_session.LoadLogJob();
    if (!job)
        return;
    const std::uint64_t total = job->total.load();
    if (total > 0)
        UpdateProgress64(m_pProgress, 0, total, job->done.load(), 1, true, true);
}

void CBasicSearchView::OnLogLoadFinished()
{
    if (!m_session.FinishLoadLog())
        return;
    m_loadTimer.stop();
    MainWindowState::Instance().BasicLogLoadThread = 0;
    const ScanLogLoadJob* job = m_session.LoadLogJob();
    if (!job)
        return;
    QWidget* owner = Owner();
    // Going back to the drive view forgets the job: keep what it said.
    const ScanLogLoadOutcome outcome = job->Outcome();
    const std::string message = job->Message();
    const int handOverMode = job->HandOverMode();
    if (outcome == ScanLogLoadOutcome::Loaded || outcome == ScanLogLoadOutcome::Damaged) {
        ShowLoadedResults(job->SourceDescription());
        // A log that broke off shows what it held and says it is invalid.
        ShowMessage(owner, outcome == ScanLogLoadOutcome::Loaded ? QString::fromLatin1(kScanLogLoadedText)
                                                                 : Q(message));
        TreeModel& tree = m_session.Results().Tree();
        const TreeNodeId root = tree.RootItem();
        if (root != kNoTreeNode) {
            m_pResultsTree->SelectItem(kNoTreeNode);
            m_pResultsTree->SelectItem(root);
        }
        const TreeNodeId misc = m_session.Results().MiscFolderItem();
        if (misc != kNoTreeNode && tree.IsValid(misc)) {
            tree.RequestExpand(misc);
            m_pResultsTree->ExpandItem(misc);
        }
    } else if (outcome == ScanLogLoadOutcome::HandOver) {
        ReturnToDriveSelection();
        HandOverScanLog(m_host.data(), handOverMode, m_loadPath);
    } else {
        ReturnToDriveSelection();
        if (!message.empty())
            ShowMessage(owner, Q(message));
    }
    emit logLoaded();
}

void CBasicSearchView::ShowLoadedResults(const std::string& description)
{
    ShowStopSearchControls(false);
    m_pScanPanel->hide();
    m_pStepText->hide();
    m_pStepText->setText(QString());
    for (CColorStatic* s : {m_pStatus, m_pRangeLabel, m_pRangeText, m_pSector, m_pOfTotal})
        s->show();
    m_pInstruction->setText(Q(Texts().SelectFilesToSaveText));
    m_selectionDescription = description;
    m_pDescription->setText(Q(description));
    m_pDescription->show();
    UpdateCounters();
    m_pCounters->show();
    m_pResultsTree->setEnabled(true);
    ShowResultViews(true);
    m_pSaveData->show();
    m_pSaveLog->show();
    m_pScanNow->hide();
    m_pLoadLog->hide();
    if (m_pResultsTree->itemModel())
        m_pResultsTree->itemModel()->publishChanges();
    if (m_host)
        if (auto* back = m_host->findChild<QPushButton*>(QStringLiteral("BackButton")))
            back->setEnabled(true);
    const TreeNodeId root = m_session.Results().Tree().RootItem();
    if (root != kNoTreeNode) {
        m_session.Results().Tree().RequestExpand(root);
        m_pResultsTree->ExpandItem(root);
    }
}

void CBasicSearchView::ReturnToDriveSelection()
{
    for (CColorStatic* s : {m_pStatus, m_pRangeLabel, m_pRangeText, m_pSector, m_pOfTotal})
        s->show();
    m_pStepText->setText(QString());
    ResetForNewSelection();
    if (m_host)
        if (auto* back = m_host->findChild<QPushButton*>(QStringLiteral("BackButton")))
            back->setEnabled(true);
}

// ---- Back and Close ---------------------------------------------------------------------------

bool CBasicSearchView::OnBack()
{
    QWidget* owner = Owner();
    if (ScanRunning() || ListBusy() || LogJobRunning()) {
        ShowMessage(owner, Q(Texts().ScanRunningStopHintText));
        RestoreBusyState();
        return true;
    }
    if (m_session.ScanCount() == 0)
        return false;
    if (!m_session.Results().LogLoadedFlag() && ResultsShown()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Message"), Q(Texts().SaveLogQuestionText),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner);
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel)
            return true;
        // A log that was not written keeps the results here.
        if (answer == QMessageBox::Yes && SaveScanLog() == 0)
            return true;
    }
    ResetForNewSelection();
    return true;
}

void CBasicSearchView::ResetForNewSelection()
{
    ProgramState& state = ProgramState::Instance();
    state.StatusFolderCount = 0;
    state.StatusFileCount = 0;
    m_pCounters->hide();
    m_pTreeCount->hide();
    m_pDescription->hide();
    m_pResultsTree->setTreeModel(nullptr);
    m_session.Reset();
    m_pResultsTree->setTreeModel(&m_session.Results().Tree());
    m_bStopRequest = false;
    ShowResultViews(false);
    m_pScanPanel->hide();
    ShowDriveViews(true);
    m_pScanNow->show();
    m_pScanNow->setEnabled(true);
    m_pInstruction->setText(Q(Texts().SelectDriveScanNowText));
    if (m_drives && m_drives->Tree())
        m_drives->Tree()->setFocus();
    m_pScanNow->setFocus();
    ClosePopulateWindow(true);
}

bool CBasicSearchView::ConfirmClose()
{
    ModalGuard guard(this);
    QWidget* owner = Owner();
    if (m_session.ScanCount() > 0 && !m_session.ResultsLogged() && !ScanRunning() && !LogJobRunning() &&
        !m_session.Results().LogLoadedFlag() && ResultsShown()) {
        CExit_Confirmation confirm(owner);
        const int result = confirm.exec();
        if (result == CExit_Confirmation::kDoNotExit)
            return false;
        // A log that was not written keeps the dialog open.
        if (result == CExit_Confirmation::kSaveBeforeExit)
            return SaveScanLog() != 0;
        return true;
    }
    const QString question = Q(Texts().ExitQuestionText);
    return AskYesNo(owner, question);
}

void CBasicSearchView::StopRunningWork()
{
    m_session.StopAll();
    m_timer123.stop();
    m_timer456.stop();
    m_loadTimer.stop();
    m_openTimer.stop();
    if (m_session.LoadLogJob())
        MainWindowState::Instance().BasicLogLoadThread = 0;
}

}  // namespace torvane
