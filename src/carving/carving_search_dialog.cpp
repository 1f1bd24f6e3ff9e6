#include "carving/carving_search_dialog.h"

#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "app/ui/color_static.h"
#include "app/ui/colour_list.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/shell_links.h"
#include "app/ui/tree_class.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/ui_palette.h"
#include "app/ui/xp_style_button.h"
#include "base/program_state.h"
#include "base/text_routines.h"
#include "carving/carved_names.h"
#include "carving/media_removed_dialog.h"
#include "disk/drive_tree_view.h"
#include "disk/property_table_view.h"
#include "results/save_browse_dialog.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

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

constexpr char kPassOneText[] = "( 1 / 2 ) General Recovery Procedure";
constexpr char kPassTwoText[] = "( 2 / 2 ) Thorough Scanning Algorithm";
constexpr char kDoesNotExistText[] = "Does not exist.";

}  // namespace

// ---- what the search reports ------------------------------------------------------------

// Called on the search's worker thread; everything goes on to the GUI thread.
class CarvingSearchDialog::SessionEvents : public CarvingSessionObserver {
public:
    explicit SessionEvents(CarvingSearchDialog* dialog) : dialog_(dialog) {}

    void OnPassStarted(const CarvingPassInfo& info) override
    {
        dialog_->PostToGui([d = dialog_, info] { d->OnPassStartedShown(info); });
    }
    void OnCarvedFile(const CarvedFile& file) override { dialog_->OnCarvedFileOnWorker(file); }
    void OnStatusText(const std::string& text) override
    {
        dialog_->PostToGui([d = dialog_, text] { d->m_pStatus->setText(Q(text)); });
    }
    void OnQuestion(const JobQuestion& question, std::function<void(int)> reply) override
    {
        dialog_->PostToGui([d = dialog_, question, reply] { d->OnQuestionShown(question, reply); });
    }
    void OnSearchEnded() override
    {
        dialog_->PostToGui([d = dialog_] { d->OnSearchEndedShown(); });
    }

private:
    CarvingSearchDialog* dialog_;
};

// ---- construction ------------------------------------------------------------------------------

CarvingSearchDialog::CarvingSearchDialog(int recoveryMode, const QString& modeText, QWidget* parent)
    : SearchDialogBase(recoveryMode, parent)
{
    m_events = std::make_unique<SessionEvents>(this);
    m_session = std::make_unique<CarvingSession>(recoveryMode, modeText.toStdString());
    m_session->SetObserver(m_events.get());
    m_session->SetSignatureFolder(ProgramFolder().toStdString());

    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
    // Device changes rebuild the tree only while the drive page shows.
    m_pDrivePanel->SetIdleQuery([this] { return isVisible() && m_session->WizardStep() == 0; });
    BuildPages();

    m_timer123.setInterval(500);
    connect(&m_timer123, &QTimer::timeout, this, &CarvingSearchDialog::OnTimer123);

    ShowPage(0);
    m_pStatus->setText(Q(Texts().SelectDriveNextText));
}

CarvingSearchDialog::~CarvingSearchDialog()
{
    StopRunningWork();
    m_session->SetObserver(nullptr);
    m_pSummary->setRowModel(nullptr);
}

QPushButton* CarvingSearchDialog::BackButton() const
{
    return findChild<QPushButton*>(QStringLiteral("BackButton"));
}

QLabel* CarvingSearchDialog::StatusLine() const { return m_pStatus; }
QLabel* CarvingSearchDialog::SectorLabel() const { return m_pSectorText; }
QLabel* CarvingSearchDialog::RangeLabel() const { return m_pRangeText; }
QLabel* CarvingSearchDialog::PassLabel() const { return m_pPassText; }
QLabel* CarvingSearchDialog::ClearedNote() const { return m_pClearedNote; }
QWidget* CarvingSearchDialog::ClearedNoteWidget() const { return m_pClearedNote; }

QLabel* CarvingSearchDialog::PassIndicator(int pass) const
{
    return pass >= 1 && pass <= 2 ? m_pPassIndicator[pass - 1] : nullptr;
}

void CarvingSearchDialog::SetClearedNoteText(const QString& text)
{
    m_pClearedNote->setText(text);
}

void CarvingSearchDialog::PostToGui(std::function<void()> fn)
{
    QPointer<CarvingSearchDialog> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, fn = std::move(fn)] {
            if (self)
                fn();
        },
        Qt::QueuedConnection);
}

void CarvingSearchDialog::BuildPages()
{
    const SharedFonts& fonts = GetSharedFonts();
    const QColor background = DialogBackgroundColor();
    QVBoxLayout* body = BodyLayout();

    // The status line above the pages.
    m_pStatus = new CColorStatic(QString(), this);
    m_pStatus->setObjectName(QStringLiteral("StatusLine"));
    m_pStatus->SetColors(QColor(40, 40, 40), background, CColorStatic::Transparent);
    m_pStatus->setWordWrap(true);
    m_pStatus->setMinimumHeight(m_pStatus->fontMetrics().lineSpacing() * 3);
    m_pStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    body->insertWidget(0, m_pStatus);

    // Page 0: under the drive row, the sector range.
    m_pRange = new CSectorRangeGroup(this);
    body->addWidget(m_pRange);

    // Page 1: the summary, the destination and the pass choice.
    m_pPage1 = new QWidget(this);
    m_pPage1->setObjectName(QStringLiteral("DestinationPage"));
    m_pPage1Row = new QHBoxLayout(m_pPage1);
    m_pPage1Row->setContentsMargins(0, 0, 0, 0);
    m_pPage1Row->setSpacing(10);
    auto* right = new QVBoxLayout;
    right->setSpacing(8);
    m_pPage1Right = right;
    auto* summaryBox = new QGroupBox(QStringLiteral("Selected for recovery"), m_pPage1);
    m_pSummaryBox = summaryBox;
    auto* summaryLayout = new QVBoxLayout(summaryBox);
    m_summaryRows.InsertColumn(0, "Name", 210);
    m_summaryRows.InsertColumn(1, "Value", 210);
    m_pSummary = new CHideColumn(summaryBox);
    m_pSummary->setObjectName(QStringLiteral("SummaryList"));
    m_pSummary->setRowModel(&m_summaryRows);
    m_pSummary->verticalHeader()->hide();
    m_pSummary->verticalHeader()->setDefaultSectionSize(m_pSummary->fontMetrics().height() + 8);
    m_pSummary->horizontalHeader()->setStretchLastSection(true);
    m_pSummary->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pSummary->setMinimumHeight(110);
    summaryLayout->addWidget(m_pSummary);
    m_pPage1Row->addWidget(summaryBox, 3);

    auto* destinationBox = new QGroupBox(QStringLiteral("Destination"), m_pPage1);
    auto* destinationLayout = new QVBoxLayout(destinationBox);
    auto* destinationLabel =
        new QLabel(QStringLiteral("Select the folder where the recovered data will be saved:"), destinationBox);
    destinationLabel->setWordWrap(true);
    destinationLayout->addWidget(destinationLabel);
    auto* destinationRow = new QHBoxLayout;
    m_pDestination = new QLineEdit(destinationBox);
    m_pDestination->setObjectName(QStringLiteral("DestinationEdit"));
    m_pBrowse = MakeIconButton(QStringLiteral("Browse"), kIconLoadLog, 24, destinationBox);
    m_pBrowse->setObjectName(QStringLiteral("BrowseButton"));
    m_pBrowse->setAutoDefault(false);
    destinationRow->addWidget(m_pDestination, 1);
    destinationRow->addWidget(m_pBrowse);
    destinationLayout->addLayout(destinationRow);
    right->addWidget(destinationBox);

    auto* algorithmsBox = new QGroupBox(QStringLiteral("Scanning Algorithms"), m_pPage1);
    auto* algorithmsLayout = new QVBoxLayout(algorithmsBox);
    auto* algorithms = new QLabel(QString::fromLatin1(kScanningAlgorithmsText).trimmed(), algorithmsBox);
    m_pAlgorithmsText = algorithms;
    algorithms->setObjectName(QStringLiteral("AlgorithmsText"));
    algorithms->setWordWrap(true);
    algorithmsLayout->addWidget(algorithms);
    m_pThorough = new QCheckBox(QStringLiteral("Also perform Thorough Scanning Algorithm Search"), algorithmsBox);
    m_pThorough->setObjectName(QStringLiteral("ThoroughBox"));
    m_pThorough->setChecked(m_session->ThoroughPass());
    algorithmsLayout->addWidget(m_pThorough);
    right->addWidget(algorithmsBox);
    right->addStretch();
    m_pPage1Row->addLayout(right, 4);
    body->addWidget(m_pPage1, 0);

    // Page 2: the passes, the progress, the result views and the buttons.
    m_pPage2 = new QWidget(this);
    m_pPage2->setObjectName(QStringLiteral("SearchPage"));
    auto* page2 = new QVBoxLayout(m_pPage2);
    page2->setContentsMargins(0, 0, 0, 0);
    page2->setSpacing(4);
    auto* passes = new QHBoxLayout;
    for (int i = 0; i < 2; ++i) {
        m_pPassIndicator[i] = new CColorStatic(QString::fromLatin1(i == 0 ? kPassOneText : kPassTwoText), m_pPage2);
        m_pPassIndicator[i]->setObjectName(QStringLiteral("PassIndicator%1").arg(i + 1));
        m_pPassIndicator[i]->SetColors(QColor(110, 110, 110), background, CColorStatic::Transparent);
        passes->addWidget(m_pPassIndicator[i]);
    }
    passes->addStretch();
    page2->addLayout(passes);
    m_pPassText = new CColorStatic(QString(), m_pPage2);
    m_pPassText->setObjectName(QStringLiteral("PassText"));
    m_pPassText->SetColors(QColor(0, 0, 160), background, CColorStatic::Transparent);
    page2->addWidget(m_pPassText);
    m_pProgress = new QProgressBar(m_pPage2);
    m_pProgress->setObjectName(QStringLiteral("SearchProgress"));
    m_pProgress->setTextVisible(false);
    m_pProgress->setFixedHeight(16);
    page2->addWidget(m_pProgress);
    auto* counters = new QHBoxLayout;
    m_pSectorText = new CColorStatic(QStringLiteral("0"), m_pPage2);
    m_pSectorText->setObjectName(QStringLiteral("SectorText"));
    m_pRangeText = new CColorStatic(QString(), m_pPage2);
    m_pRangeText->setObjectName(QStringLiteral("RangeText"));
    for (CColorStatic* s : {m_pSectorText, m_pRangeText}) {
        s->SetColors(QColor(40, 40, 40), background, CColorStatic::Transparent);
        counters->addWidget(s);
    }
    counters->addStretch();
    page2->addLayout(counters);
    m_pResultsLayout = new QVBoxLayout;
    m_pResultsLayout->setContentsMargins(0, 0, 0, 0);
    page2->addLayout(m_pResultsLayout, 1);
    auto* bottom = new QHBoxLayout;
    m_pClearedNote = new CColorStatic(QString(), m_pPage2);
    m_pClearedNote->setObjectName(QStringLiteral("ClearedNote"));
    m_pClearedNote->SetColors(QColor(150, 60, 0), background, CColorStatic::Transparent);
    m_pClearedNote->setWordWrap(true);
    bottom->addWidget(m_pClearedNote, 1);
    bottom->addStretch();
    m_pStopSearch = MakeIconButton(QStringLiteral("Stop Search"), kIconDoNotExit, 28, m_pPage2);
    m_pStopSearch->setObjectName(QStringLiteral("StopSearchButton"));
    m_pOpenFolder = MakeIconButton(QStringLiteral("Open Containing Folder"), kIconLoadLog, 28, m_pPage2);
    m_pOpenFolder->setObjectName(QStringLiteral("OpenFolderButton"));
    for (QPushButton* b : {m_pStopSearch, m_pOpenFolder}) {
        b->setAutoDefault(false);
        bottom->addWidget(b);
    }
    page2->addLayout(bottom);
    body->addWidget(m_pPage2, 0);

    // "Next" beside "Back".
    m_pNext = MakeIconButton(QStringLiteral("Next"), kIconOk, 28, ButtonRow());
    m_pNext->setObjectName(QStringLiteral("NextButton"));
    m_pNext->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    m_pNext->setFont(fonts.ConsolasBold15Font);
    m_pNext->setAutoDefault(false);
    if (auto* row = qobject_cast<QHBoxLayout*>(ButtonRow()->layout()))
        row->insertWidget(1, m_pNext);

    connect(m_pNext, &QPushButton::clicked, this, &CarvingSearchDialog::OnNext);
    connect(m_pBrowse, &QPushButton::clicked, this, &CarvingSearchDialog::OnBrowse);
    connect(m_pStopSearch, &QPushButton::clicked, this, &CarvingSearchDialog::OnStopSearch);
    connect(m_pOpenFolder, &QPushButton::clicked, this, &CarvingSearchDialog::OnOpenContainingFolder);
    connect(m_pThorough, &QCheckBox::toggled, this, [this](bool on) { m_session->SetThoroughPass(on); });
}

void CarvingSearchDialog::StackSummaryOverDestination()
{
    m_pPage1Row->removeWidget(m_pSummaryBox);
    m_pPage1Right->insertWidget(0, m_pSummaryBox);
    // Five rows at most: as tall as they are.
    const int rows = 5;
    m_pSummary->setFixedHeight(m_pSummary->horizontalHeader()->sizeHint().height() +
                               rows * m_pSummary->verticalHeader()->defaultSectionSize() + 2 * m_pSummary->frameWidth());
    m_pSummary->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pSummary->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

// ---- pages ------------------------------------------------------------------------------------

void CarvingSearchDialog::SetBodyStretch(QWidget* main)
{
    // Whichever part holds the page's main content takes the height.
    QVBoxLayout* body = BodyLayout();
    for (int i = 0; i < body->count(); ++i) {
        QLayoutItem* item = body->itemAt(i);
        const bool isMain = main ? item->widget() == main : item->layout() != nullptr;
        body->setStretch(i, isMain ? 1 : 0);
    }
}

void CarvingSearchDialog::ShowPage(int step)
{
    const bool drives = step == 0;
    DriveTreeArea()->setVisible(drives);
    if (drives) {
        const bool table = !m_pDrivePanel->LastSelection().Table.Rows.empty() &&
                           m_pDrivePanel->LastSelection().ShowTable;
        m_pDrivePanel->PropertyList()->setVisible(table);
        PlaceholderPanel()->setVisible(!table);
        m_pRange->setVisible(m_bRangeShown);
    } else {
        m_pDrivePanel->PropertyList()->hide();
        PlaceholderPanel()->hide();
        m_pRange->hide();
    }
    m_pPage1->setVisible(step == 1);
    m_pPage2->setVisible(step == 2);
    SetBodyStretch(step == 1 ? m_pPage1 : step == 2 ? m_pPage2 : nullptr);
    m_pNext->setEnabled(step != 2);
    emit wizardStepChanged(step);
}

void CarvingSearchDialog::FillSummary()
{
    m_summaryRows.Clear();
    for (const CarvingSummaryRow& row : m_session->SummaryRows())
        m_summaryRows.AppendRow({row.name, row.value});
    if (m_pSummary->itemModel())
        m_pSummary->itemModel()->publishChanges();
    m_pSummary->resizeColumnToContents(0);
}

// ---- Next ----------------------------------------------------------------------------------------

void CarvingSearchDialog::OnNext()
{
    if (!m_pNext->isEnabled() || m_session->SearchRunning())
        return;
    if (MainWindowState::Instance().PartitionSearchRunning.load() != 0)
        return;
    const int step = m_session->WizardStep();
    if (step == 0) {
        const std::shared_ptr<DriveInventory> inventory = m_pDrivePanel->Inventory();
        if (!inventory || m_pDrivePanel->RefreshRunning() || m_pDrivePanel->ReloadRunning())
            return;
        CarvingDriveInput in;
        in.selectedItem = m_pDrivePanel->Tree() ? m_pDrivePanel->Tree()->SelectedItem() : kNoTreeNode;
        in.selection = m_pDrivePanel->LastSelection();
        in.startText = m_pRange->StartText().toStdString();
        in.endText = m_pRange->EndText().toStdString();
        in.minSector = m_pRange->Minimum();
        in.maxSector = m_pRange->Maximum();
        in.askLogicalScan = [] { return RunLogicalScanPrompt(); };
        const CarvingStepResult r = m_session->NextFromDrive(*inventory, in);
        if (r.outcome == CarvingStepOutcome::Message) {
            ShowMessage(this, Q(r.message));
            return;
        }
        if (r.outcome != CarvingStepOutcome::Advanced)
            return;
        FillSummary();
        m_pThorough->setChecked(m_session->ThoroughPass());
        m_pStatus->setText(Q(Texts().CarvingCompletionText));
        ShowPage(1);
        OnDestinationPageShown();
        if (QPushButton* back = BackButton())
            back->setEnabled(true);
        m_pBrowse->setFocus();
        return;
    }
    if (step != 1)
        return;

    QPushButton* back = BackButton();
    m_pNext->setEnabled(false);
    if (back)
        back->setEnabled(false);
    m_session->SetThoroughPass(m_pThorough->isChecked());
    TakeDestinationChoices();
    PrepareResultViews();
    const CarvingStepResult r = m_session->StartSearch(m_pDestination->text().toStdString());
    if (r.outcome != CarvingStepOutcome::Advanced) {
        m_pNext->setEnabled(true);
        if (back)
            back->setEnabled(true);
        if (r.outcome == CarvingStepOutcome::Message)
            ShowMessage(this, Q(r.message));
        if (r.focusBrowse)
            m_pBrowse->setFocus();
        return;
    }
    m_nTick = 0;
    m_pClearedNote->hide();
    m_pSectorText->setText(QString::number(m_session->SearchStart()));
    m_pRangeText->clear();
    m_pPassText->clear();
    SetProgressRange64(m_pProgress, m_session->SearchStart(), m_session->SearchEnd(), 512);
    ShowPage(2);
    ShowStopSearchControls(true);
    m_pStopSearch->setEnabled(true);
    m_pOpenFolder->show();
    for (CColorStatic* indicator : m_pPassIndicator) {
        indicator->setVisible(m_session->ThoroughPass());
        indicator->setFont(font());
    }
    m_pStatus->setText(Q(Texts().StopRecoveryHintText));
    OnSearchStarted();
    m_timer123.start();
    m_pStopSearch->setFocus();
}

// ---- what the search shows --------------------------------------------------------------------

void CarvingSearchDialog::OnCarvedFileOnWorker(const CarvedFile& file)
{
    PostToGui([this, file] { OnCarvedFileShown(file); });
}

void CarvingSearchDialog::OnPassStartedShown(const CarvingPassInfo& info)
{
    if (m_session->WizardStep() != 2)
        return;
    m_pSectorText->setText(QString::number(info.startSector));
    m_pRangeText->setText(Q(info.rangeText));
    m_pPassText->setText(Q(info.statusText));
    SetProgressRange64(m_pProgress, info.startSector, info.endSector, 512);
    const int current = info.pass == CarvingPassKind::General ? 0 : 1;
    for (int i = 0; i < 2; ++i) {
        QFont f = font();
        f.setBold(i == current);
        m_pPassIndicator[i]->setFont(f);
        m_pPassIndicator[i]->SetColors(i == current ? QColor(0, 100, 0) : QColor(110, 110, 110),
                                       DialogBackgroundColor(), CColorStatic::Transparent);
    }
}

void CarvingSearchDialog::OnTimer123()
{
    const CarvingCounters* counters = m_session->Counters();
    if (!counters)
        return;
    const std::uint64_t sector = counters->currentSector.load();
    if (++m_nTick >= 5) {
        m_nTick = 0;
        m_sizeText = Q(FormatByteSize(sector * 512)).trimmed();
    }
    m_pSectorText->setText(m_sizeText.isEmpty() ? QString::number(sector)
                                                : QStringLiteral("(%1) %2").arg(m_sizeText).arg(sector));
    UpdateProgress64(m_pProgress, m_session->SearchStart(), m_session->SearchEnd(), sector, 512, true);
    if (!m_session->SearchRunning())
        m_timer123.stop();
}

void CarvingSearchDialog::OnQuestionShown(const JobQuestion& question, const std::function<void(int)>& reply)
{
    // A stop that came after the question was asked has already given it up.
    if (m_session->StopRequested()) {
        reply(-1);
        return;
    }
    if (question.kind == kReadFailureQuestion) {
        show();
        CMediaRemoved box(this);
        box.exec();
        const int answer = box.Answer();
        if ((answer & ~kReadFailureApplyToAll) == kReadFailureCancel)
            OnSearchStopping();
        reply(answer);
        return;
    }
    ShowMessage(this, Q(question.text));
    reply(0);
}

void CarvingSearchDialog::OnSearchEndedShown()
{
    if (!m_session->FinishSearch())
        return;
    m_timer123.stop();
    m_pStatus->setText(Q(Texts().ViewRecoveredDataText));
    ShowStopSearchControls(false);
    if (m_session->WizardStep() == 2) {
        HidePassIndicators();
        m_pOpenFolder->show();
    }
    if (QPushButton* back = BackButton())
        back->setEnabled(true);
    OnSearchFinished();
    if (!m_session->ErrorText().empty())
        ShowMessage(this, Q(m_session->ErrorText()));
    const int finished = m_session->Finished();
    ShowEndOfSearchMessage(this, finished);
    emit searchEnded(finished);
}

// ---- Stop, Back, Browse, Open Containing Folder -----------------------------------------------------

void CarvingSearchDialog::OnStopSearch()
{
    if (!AskYesNo(this, Q(Texts().StopSearchQuestionText)))
        return;
    m_pStopSearch->setEnabled(false);
    if (m_session->SearchRunning()) {
        m_timer123.stop();
        OnSearchStopping();
        m_session->StopSearch();
    }
}

void CarvingSearchDialog::OnBack()
{
    QPushButton* back = BackButton();
    if ((back && !back->isEnabled()) || m_session->SearchRunning())
        return;
    switch (m_session->Back()) {
    case CarvingSession::BackStep::Refused:
        return;
    case CarvingSession::BackStep::ToDestination:
        HidePassIndicators();
        m_pOpenFolder->hide();
        ClearResultViews();
        ShowStopSearchControls(false);
        m_pClearedNote->hide();
        ShowPage(1);
        m_pStopSearch->setEnabled(true);
        m_pStatus->setText(Q(Texts().CarvingCompletionText));
        return;
    case CarvingSession::BackStep::ToDrive:
        m_summaryRows.Clear();
        if (m_pSummary->itemModel())
            m_pSummary->itemModel()->publishChanges();
        m_pDestination->clear();
        ShowPage(0);
        m_pStatus->setText(Q(Texts().SelectDriveNextText));
        if (m_pDrivePanel->Tree())
            m_pDrivePanel->Tree()->setFocus();
        return;
    case CarvingSession::BackStep::ToMainWindow:
        StopRunningWork();
        SearchDialogBase::OnBack();
        return;
    }
}

void CarvingSearchDialog::OnBrowse()
{
    const QString folder = RunSaveBrowseDialog(this);
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    m_pDestination->setText(folder);
    OnNext();
}

void CarvingSearchDialog::OnOpenContainingFolder()
{
    const QString folder = Q(CarvingSearchFolder(m_pDestination->text().trimmed().toStdString(),
                                                 m_session->ProgramBase(), m_session->ModeText()));
    if (!QFileInfo(folder).isDir()) {
        ShowMessage(this, QString::fromLatin1(kDoesNotExistText));
        return;
    }
    OpenFolderInShell(this, folder);
}

void CarvingSearchDialog::StopRunningWork()
{
    m_timer123.stop();
    if (m_session->SearchRunning())
        OnSearchStopping();
    m_session->StopAll();
}

// ---- per-mode routines ----------------------------------------------------------------------------

void CarvingSearchDialog::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
    if (m_pDrivePanel->Tree())
        m_pDrivePanel->Tree()->setFocus();
}

void CarvingSearchDialog::EnableSearchControls()
{
    m_pDrivePanel->RefreshButton()->setEnabled(true);
    m_pDrivePanel->ShowLogicalDrivesBox()->setEnabled(true);
    m_pDrivePanel->PropertyList()->setEnabled(true);
}

void CarvingSearchDialog::DisableSearchControls()
{
    m_pDrivePanel->RefreshButton()->setEnabled(false);
    m_pDrivePanel->ShowLogicalDrivesBox()->setEnabled(false);
    m_pDrivePanel->PropertyList()->setEnabled(false);
}

void CarvingSearchDialog::ShowStopSearchControls(bool show)
{
    if (!show)
        m_pRangeText->clear();
    m_pStopSearch->setVisible(show);
    m_pProgress->setVisible(show);
    m_pPassText->setVisible(show);
    m_pRangeText->setVisible(show);
    m_pSectorText->setVisible(show);
}

void CarvingSearchDialog::ShowProgressStatics(bool show)
{
    // The "Select drive to start recovery..." panel belongs to the drive page.
    if (m_session->WizardStep() != 0) {
        PlaceholderPanel()->hide();
        return;
    }
    SearchDialogBase::ShowProgressStatics(show);
}

void CarvingSearchDialog::ShowSectorRangeControls(bool show)
{
    m_bRangeShown = show;
    m_pRange->setVisible(show && m_session->WizardStep() == 0);
}

void CarvingSearchDialog::InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                                  std::uint64_t maximum)
{
    m_pRange->SetRange(start, end, minimum, maximum);
}

void CarvingSearchDialog::ReselectDriveTreeItem(int /*flag*/)
{
    m_pDrivePanel->ReselectDriveItem();
}

void CarvingSearchDialog::HidePassIndicators()
{
    for (CColorStatic* indicator : m_pPassIndicator)
        indicator->hide();
}

}  // namespace torvane
