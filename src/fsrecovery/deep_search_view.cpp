#include "fsrecovery/deep_search_view.h"

#include "app/ui/colour_list.h"
#include "app/ui/sector_range_group.h"
#include "app/ui/tree_class.h"
#include "base/program_state.h"
#include "base/text_routines.h"
#include "disk/drive_tree_view.h"
#include "disk/property_table_view.h"
#include "disk/recognised_volumes.h"
#include "fsrecovery/deep_scan_start.h"
#include "fsrecovery/store/name_rules.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace torvane {

namespace {

constexpr char kStopSearchText[] = "Stop Search";

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// The box layout, at any depth below `layout`, that holds `widget`.
QBoxLayout* BoxHolding(QLayout* layout, QWidget* widget)
{
    if (layout == nullptr)
        return nullptr;
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (box != nullptr && box->indexOf(widget) >= 0)
        return box;
    for (int i = 0; i < layout->count(); ++i)
        if (QBoxLayout* found = BoxHolding(layout->itemAt(i)->layout(), widget))
            return found;
    return nullptr;
}

// Draws the text of one row (the selected file system's) in blue.
class BlueRowDelegate : public QStyledItemDelegate {
public:
    BlueRowDelegate(const int* row, QObject* parent) : QStyledItemDelegate(parent), row_(row) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() == *row_)
            option->palette.setColor(QPalette::Text, QColor(0, 0, 255));
    }

private:
    const int* row_;
};

// Visible columns of the list in the drive view ("Found File System" .. "Size").
constexpr int kRecognisedShownColumns = static_cast<int>(kFoundFsVisibleColumns);

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
    m_pFoundList->setItemDelegate(new BlueRowDelegate(&m_nBlueRow, m_pFoundList));

    // The drive view's rows: a "Recognised" item's drive; and the hidden
    // list of every file system found inside the dialog's logical drives.
    static constexpr int kShownWidths[kRecognisedShownColumns] = {130, 110, 100, 100, 90};
    for (std::size_t c = 1; c < kRecognisedColumnCount; ++c) {
        const int shown = static_cast<int>(c) - 1;
        m_recognisedRows.InsertColumn(shown, kRecognisedColumnTitles[c],
                                      shown < kRecognisedShownColumns ? kShownWidths[shown] : 0);
    }
    for (std::size_t c = 0; c < kRecognisedColumnCount; ++c)
        m_recognisedTable.InsertColumn(static_cast<int>(c), kRecognisedColumnTitles[c], c < 6 ? 75 : 50);
    m_pRecognisedList = new CHideColumn(this);
    m_pRecognisedList->setObjectName(QStringLiteral("RecognisedVolumeList"));
    m_pRecognisedList->setRowModel(&m_recognisedTable);
    m_pRecognisedList->setVisible(ProgramState::DebugMode);

    m_pDrives = drives;
    m_pDrivePlaceholder = placeholder;
    if (drives) {
        connect(drives, &CDriveTreeView::driveSelected, this, [this](int) { OnDriveSelected(); });
        // A rebuilt drive list holds no recognised file system.
        connect(drives, &CDriveTreeView::refreshFinished, this, [this] {
            FillRecognisedTable();
            if (m_pDrives && m_pDrives->LastSelection().Kind != DriveNodeKind::Recognised)
                HideRecognisedRows();
        });
    }

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
    m_pRecognisedList->setRowModel(nullptr);
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
        PlaceFoundList(false);
        m_foundRows.Clear();
        if (m_pFoundList->itemModel())
            m_pFoundList->itemModel()->publishChanges();
        m_pFoundList->hide();
        m_pFsCombo->setEnabled(true);
        // A "Recognised" item still selected shows its drive's rows again.
        OnDriveSelected();
    } else {
        PlaceFoundList(false);
        m_pFoundList->hide();
    }
}

// ---- the file systems found inside logical drives ------------------------------------------

void CDeepSearchView::PlaceFoundList(bool driveView)
{
    if (driveView == m_bFoundListInDriveView)
        return;
    const int rowHeight = m_pFoundList->verticalHeader()->defaultSectionSize();
    if (driveView) {
        // Where the property list goes: beside the drive tree, after the placeholder.
        QWidget* placeholder = m_pDrivePlaceholder;
        QBoxLayout* box = placeholder && placeholder->parentWidget()
                              ? BoxHolding(placeholder->parentWidget()->layout(), placeholder)
                              : nullptr;
        if (box == nullptr)
            return;
        const int index = box->indexOf(placeholder);
        box->insertWidget(index + 1, m_pFoundList, box->stretch(index));
        m_pFoundList->setMinimumHeight(m_pFoundList->horizontalHeader()->sizeHint().height() + rowHeight * 2 + 4);
        m_pFoundList->setMaximumHeight(QWIDGETSIZE_MAX);
        m_pFoundList->setRowModel(&m_recognisedRows);
        for (int c = 0; c < m_recognisedRows.ColumnCount(); ++c) {
            m_pFoundList->setColumnWidth(c, m_recognisedRows.Column(c).width);
            m_pFoundList->ShowColumn(c, c < kRecognisedShownColumns);
        }
    } else {
        if (auto* box = qobject_cast<QBoxLayout*>(layout())) {
            // Below the results tree and list, above the scan panel.
            QWidget* area = ResultsTree()->parentWidget();
            while (area && area->parentWidget() != this)
                area = area->parentWidget();
            box->insertWidget(area ? box->indexOf(area) + 1 : box->count(), m_pFoundList);
        }
        m_pFoundList->setFixedHeight(m_pFoundList->horizontalHeader()->sizeHint().height() + rowHeight * 3 + 4);
        for (int c = 0; c < m_recognisedRows.ColumnCount(); ++c)
            m_pFoundList->ShowColumn(c, true);
        m_pFoundList->setRowModel(&m_foundRows);
        for (int c = 0; c < m_foundRows.ColumnCount(); ++c)
            m_pFoundList->setColumnWidth(c, m_foundRows.Column(c).width);
        m_nBlueRow = -1;
    }
    m_bFoundListInDriveView = driveView;
}

void CDeepSearchView::OnDriveSelected()
{
    FillRecognisedTable();
    if (!m_pDrives || !m_bDriveView)
        return;
    const DriveSelection& s = m_pDrives->LastSelection();
    if (s.Kind == DriveNodeKind::Recognised && s.ShowFoundFsList && s.Recognised)
        ShowRecognisedRows(s.Recognised->DriveItem, s.Recognised->Name);
    else
        HideRecognisedRows();
}

void CDeepSearchView::OnRecognisedAdded(TreeNodeId driveItem, TreeNodeId /*item*/)
{
    FillRecognisedTable();
    // The drive's rows grow in the drive view while its sweep runs.
    if (m_bDriveView)
        ShowRecognisedRows(driveItem, std::string());
}

void CDeepSearchView::ShowRecognisedRows(TreeNodeId driveItem, const std::string& blueName)
{
    const std::shared_ptr<DriveInventory> inv = m_pDrives ? m_pDrives->Inventory() : nullptr;
    if (!inv)
        return;
    std::string path;
    {
        auto lock = inv->Lock();
        if (const auto* d = inv->Tree.PayloadAs<const DriveDetails>(driveItem))
            path = d->DeviceId;
    }
    PlaceFoundList(true);
    if (!m_bFoundListInDriveView)
        return;
    m_recognisedRows.Clear();
    m_nBlueRow = -1;
    if (!path.empty()) {
        for (const RecognisedVolume& row : inv->RecognisedVolumes.RowsOf(RecognisedVolumeKey(path))) {
            const int at = m_recognisedRows.AppendRow(row.FoundFsCells());
            if (!blueName.empty() && row.Name == blueName)
                m_nBlueRow = at;
        }
    }
    if (m_pFoundList->itemModel())
        m_pFoundList->itemModel()->publishChanges();
    // The selected file system shows by its blue text, not by a selection.
    m_pFoundList->clearSelection();
    m_pFoundList->viewport()->update();
    // The list stands in for the property list and the placeholder.
    m_pDrives->PropertyList()->hide();
    if (m_pDrivePlaceholder)
        m_pDrivePlaceholder->hide();
    m_pFoundList->show();
}

void CDeepSearchView::HideRecognisedRows()
{
    if (!m_bFoundListInDriveView)
        return;
    m_pFoundList->hide();
    m_recognisedRows.Clear();
    m_nBlueRow = -1;
    if (m_pFoundList->itemModel())
        m_pFoundList->itemModel()->publishChanges();
    // Nothing else to show beside the tree: the placeholder comes back.
    if (m_pDrives && m_pDrives->PropertyList()->isHidden() && m_pDrivePlaceholder && m_bDriveView)
        m_pDrivePlaceholder->show();
}

void CDeepSearchView::FillRecognisedTable()
{
    m_recognisedTable.Clear();
    if (const std::shared_ptr<DriveInventory> inv = m_pDrives ? m_pDrives->Inventory() : nullptr)
        for (const RecognisedVolume& row : inv->RecognisedVolumes.Rows())
            m_recognisedTable.AppendRow(row.Cells());
    if (m_pRecognisedList->itemModel())
        m_pRecognisedList->itemModel()->publishChanges();
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
    // A file system found inside a logical drive, as its row stands now.
    if (in.source.Kind == DriveNodeKind::Recognised)
        deep.recognised = DescribeRecognisedNode(inv, in.selectedItem);
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
