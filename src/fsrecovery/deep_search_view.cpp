#include "fsrecovery/deep_search_view.h"

#include "app/ui/colour_list.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/tree_class.h"
#include "base/program_state.h"
#include "base/text_routines.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/deep_scan_start.h"
#include "fsrecovery/store/name_rules.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {

namespace {

constexpr char kStopSearchText[] = "Stop Search";

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

CDeepSearchView::CDeepSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* driveArea,
                                 QWidget* placeholder, QWidget* parent)
    : CBasicSearchView(host, drives, driveArea, placeholder, parent, kModeDeep)
{
    setObjectName(QStringLiteral("DeepSearchView"));

    // The drive view's range group and, beside its caption, the file-system choice.
    m_pRangePanel = new QWidget(parent);
    m_pRangePanel->setObjectName(QStringLiteral("DeepRangePanel"));
    m_pRangePanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    // The choice beside the range group, to keep the drive view low.
    auto* panel = new QHBoxLayout(m_pRangePanel);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(8);
    m_pRange = new CSectorRangeGroup(m_pRangePanel);
    m_pRange->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    panel->addWidget(m_pRange, 1);
    auto* fsColumn = new QVBoxLayout;
    fsColumn->setSpacing(4);
    auto* fsLabel = new QLabel(QString::fromLatin1(kDeepFileSystemLabel), m_pRangePanel);
    fsLabel->setObjectName(QStringLiteral("FileSystemLabel"));
    fsLabel->setWordWrap(true);
    // A fixed column: the caption keeps its two lines whether or not the
    // range group beside it is shown.
    fsLabel->setFixedWidth(200);
    m_pFsCombo = new QComboBox(m_pRangePanel);
    m_pFsCombo->setObjectName(QStringLiteral("FileSystemCombo"));
    for (const char* choice : kDeepFileSystemChoices)
        m_pFsCombo->addItem(QString::fromLatin1(choice));
    m_pFsCombo->setCurrentIndex(kDeepFileSystemChoiceCount - 1);
    m_pFsCombo->setFixedWidth(200);
    fsLabel->setBuddy(m_pFsCombo);
    fsColumn->addStretch();
    fsColumn->addWidget(fsLabel);
    fsColumn->addWidget(m_pFsCombo);
    fsColumn->addStretch();
    panel->addStretch(0);
    panel->addLayout(fsColumn);

    // The file systems the sweep found, under the results.
    m_foundRows.InsertColumn(0, "Found File System", 130);
    m_foundRows.InsertColumn(1, "Start Sector", 110);
    m_foundRows.InsertColumn(2, "End Sector", 110);
    m_foundRows.InsertColumn(3, "Size", 110);
    m_pFoundList = new CHideColumn(this);
    m_pFoundList->setObjectName(QStringLiteral("FoundFileSystemList"));
    m_pFoundList->setRowModel(&m_foundRows);
    m_pFoundList->verticalHeader()->hide();
    m_pFoundList->verticalHeader()->setDefaultSectionSize(m_pFoundList->fontMetrics().height() + 6);
    m_pFoundList->horizontalHeader()->setStretchLastSection(true);
    m_pFoundList->setSelectionBehavior(QAbstractItemView::SelectRows);
    const int rowHeight = m_pFoundList->verticalHeader()->defaultSectionSize();
    m_pFoundList->setFixedHeight(m_pFoundList->horizontalHeader()->sizeHint().height() + rowHeight * 3 + 4);
    for (int c = 0; c < m_foundRows.ColumnCount(); ++c)
        m_pFoundList->setColumnWidth(c, m_foundRows.Column(c).width);
    if (auto* box = qobject_cast<QBoxLayout*>(layout())) {
        // Below the results tree and list, above the scan panel.
        QWidget* area = ResultsTree()->parentWidget();   // the splitter
        while (area && area->parentWidget() != this)
            area = area->parentWidget();
        box->insertWidget(area ? box->indexOf(area) + 1 : box->count(), m_pFoundList);
    }
    m_pFoundList->hide();

    m_timer789.setInterval(10000);
    connect(&m_timer789, &QTimer::timeout, this, &CDeepSearchView::OnTimer789);
    m_timer222.setInterval(15000);
    connect(&m_timer222, &QTimer::timeout, this, &CDeepSearchView::OnTimer222);
    connect(this, &CBasicSearchView::scanFinished, this, &CDeepSearchView::OnDeepScanFinished);
}

CDeepSearchView::~CDeepSearchView()
{
    m_timer789.stop();
    m_timer222.stop();
    m_pFoundList->setRowModel(nullptr);
}

// ---- the drive view -----------------------------------------------------------------

void CDeepSearchView::InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                              std::uint64_t maximum)
{
    m_pRange->SetRange(start, end, minimum, maximum);
}

void CDeepSearchView::ShowSectorRangeControls(bool show)
{
    m_bRangeShown = show;
    m_pRange->setVisible(show && m_bDriveView);
}

void CDeepSearchView::SelectFileSystemInCombo(int index)
{
    if (index >= 0 && index < m_pFsCombo->count())
        m_pFsCombo->setCurrentIndex(index);
}

void CDeepSearchView::ShowDriveViews(bool show)
{
    CBasicSearchView::ShowDriveViews(show);
    m_bDriveView = show;
    m_pRangePanel->setVisible(show);
    m_pRange->setVisible(show && m_bRangeShown);
    if (show) {
        m_foundRows.Clear();
        if (m_pFoundList->itemModel())
            m_pFoundList->itemModel()->publishChanges();
        m_pFoundList->hide();
        m_pFsCombo->setEnabled(true);
    }
}

void CDeepSearchView::SetPassIntervals(std::chrono::milliseconds pass, std::chrono::milliseconds timers)
{
    Session().SetDeepPassInterval(pass);
    m_timerPeriod = timers;
}

// ---- Scan Now ---------------------------------------------------------------------------

BasicScanStart CDeepSearchView::ResolveScanStart(const DriveInventory& inv, const BasicScanStartInput& in)
{
    DeepScanStartInput deep;
    deep.selectedItem = in.selectedItem;
    deep.source = in.source;
    deep.deepScanCount = in.basicScanCount;
    deep.askLogicalScan = in.askLogicalScan;
    deep.canOpen = in.canOpen;
    deep.startText = m_pRange->StartText().toStdString();
    deep.endText = m_pRange->EndText().toStdString();
    deep.rangeMin = m_pRange->Minimum();
    deep.rangeMax = m_pRange->Maximum();
    deep.fileSystemChoice = m_pFsCombo->currentIndex();
    DeepScanStart start = ResolveDeepScanStart(inv, deep);
    if (start.outcome == ScanStartOutcome::Message && start.message == kSelectFileSystemText)
        m_pFsCombo->setFocus();
    return start;
}

void CDeepSearchView::OnScanNow()
{
    StopButton()->setText(QString::fromLatin1(kStopSearchText));
    const std::uint32_t before = Session().ScanCount();
    CBasicSearchView::OnScanNow();
    if (Session().ScanCount() == before)
        return;
    ProgramState::Instance().DeepEndNoticeState = kEndNoticeNone;
    m_nSectorTick = 0;
    m_sizeText.clear();
    m_foundRows.Clear();
    if (m_pFoundList->itemModel())
        m_pFoundList->itemModel()->publishChanges();
    m_pFoundList->show();
    if (!ScanRunning())
        return;
    m_timer789.setInterval(m_timerPeriod.count() > 0 ? static_cast<int>(m_timerPeriod.count()) : 10000);
    m_timer222.setInterval(m_timerPeriod.count() > 0 ? static_cast<int>(m_timerPeriod.count()) : 15000);
    m_timer789.start();
    m_timer222.start();
}

// ---- timers -----------------------------------------------------------------------------

void CDeepSearchView::OnTimer123()
{
    CBasicSearchView::OnTimer123();
    // The sector, and every fifth tick its position as a size.
    const std::uint64_t sector = Session().Results().CurrentScanSector.load();
    if (++m_nSectorTick >= 5) {
        m_nSectorTick = 0;
        m_sizeText = Q(TrimWhite(FormatByteSize(sector * 512)));
    }
    QString text = QString::number(sector);
    if (!m_sizeText.isEmpty())
        text += QStringLiteral("(") + m_sizeText + QStringLiteral(") ");
    if (auto* label = findChild<QLabel*>(QStringLiteral("CurrentSector")))
        label->setText(text);
}

void CDeepSearchView::OnTimer456()
{
    // The interim tree the sweep's passes grew, opened at the root.
    CBasicSearchView::OnTimer456();
    ShowFoundFileSystems();
}

void CDeepSearchView::OnTimer789()
{
    if (!ScanRunning()) {
        m_timer789.stop();
        return;
    }
    ShowFoundFileSystems();
}

void CDeepSearchView::OnTimer222()
{
    if (!ScanRunning()) {
        m_timer222.stop();
        return;
    }
    // The folders the passes placed at the top show opened.
    TreeModel& tree = Session().Results().Tree();
    const TreeNodeId root = tree.RootItem();
    if (root != kNoTreeNode)
        tree.RequestExpand(root);
}

void CDeepSearchView::OnDeepScanFinished()
{
    m_timer789.stop();
    m_timer222.stop();
    ShowFoundFileSystems();
    if (ProgramState::Instance().BasicEndNoticeState == kEndNoticeEmpty ||
        (Session().DeepJob() && Session().DeepJob()->EndNoticeState() == 1))
        ProgramState::Instance().DeepEndNoticeState = kEndNoticeEmpty;
}

void CDeepSearchView::ShowFoundFileSystems()
{
    const std::vector<DeepFoundFileSystem> found = Session().FoundFileSystems();
    if (static_cast<int>(found.size()) == m_foundRows.RowCount() && !found.empty())
        return;
    m_foundRows.Clear();
    for (const DeepFoundFileSystem& fs : found) {
        std::string size;
        if (fs.endSector > fs.bootSector)
            size = TrimWhite(FormatByteSize((fs.endSector - fs.bootSector) * 512));
        m_foundRows.AppendRow({fs.kind, std::to_string(fs.bootSector),
                               fs.endSector ? std::to_string(fs.endSector) : std::string(), size});
    }
    if (m_pFoundList->itemModel())
        m_pFoundList->itemModel()->publishChanges();
    m_pFoundList->setVisible(!m_bDriveView);
}

}  // namespace torvane
