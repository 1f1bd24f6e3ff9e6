#include "partsearch/partition_search_view.h"

#include "app/main_window_state.h"
#include "app/message_dialog.h"
#include "app/search_dialog.h"
#include "app/ui/color_static.h"
#include "app/ui/tree_class.h"
#include "app/ui/tree_item_model.h"
#include "app/ui/ui_fonts.h"
#include "base/program_state.h"
#include "disk/drive_tree_view.h"
#include "partsearch/automatic_search.h"
#include "partsearch/found_partition_apply.h"
#include "partsearch/partition_search_text.h"
#include "partsearch/smp_sel_dialog.h"

#include <QApplication>
#include <QTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace torvane {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr std::uint64_t kCylinderSectors = 255 * 63;

constexpr char kSelectDriveToSearchDeepText[] =
    "Please Select the Physical or Logical Drive to search deleted or missing Partitions.";

QString NoStorageInDriveText(const std::string& drive)
{
    return QStringLiteral("No physical storage area found in Drive(Drive - %1 ).\n\nIf you have connected your "
                          "storage using any usb hub or extension, check storage connections or connect the storage "
                          "media directly to your system.")
        .arg(Q(drive));
}

template <typename F>
void PostTo(const QPointer<CPartitionSearchView>& view, F f)
{
    QMetaObject::invokeMethod(
        qApp,
        [view, f = std::move(f)]() mutable {
            if (view)
                f(view.data());
        },
        Qt::QueuedConnection);
}

}  // namespace

// What the engine reports, passed to the GUI thread with the run's number.
class CPartitionSearchView::EngineEvents final : public PartitionSearchEvents {
public:
    EngineEvents(CPartitionSearchView* view, unsigned generation) : view_(view), generation_(generation) {}
    void OnPartitionFound(const FoundPartitionEvent& found) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g, found](CPartitionSearchView* v) { v->OnEngineFound(g, found); });
    }
    void OnFinished(bool /*stopped*/) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g](CPartitionSearchView* v) { v->OnEngineFinished(g); });
    }

private:
    QPointer<CPartitionSearchView> view_;
    unsigned generation_;
};

// What the discovery reports, likewise.
class CPartitionSearchView::MediaEvents final : public RemovableMediaEvents {
public:
    MediaEvents(CPartitionSearchView* view, unsigned generation) : view_(view), generation_(generation) {}
    void OnDiskStarted(const MediaScanDisk& disk) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g, disk](CPartitionSearchView* v) { v->OnMediaDiskStarted(g, disk); });
    }
    void OnMediaPartitionFound(const MediaScanDisk& disk, const FoundPartitionEvent& found) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g, disk, found](CPartitionSearchView* v) { v->OnMediaFound(g, disk, found); });
    }
    void OnDiskEnded(const MediaScanDisk& disk, int gained) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g, disk, gained](CPartitionSearchView* v) { v->OnMediaDiskEnded(g, disk, gained); });
    }
    void OnQuestion(const JobQuestion& question, std::function<void(int)> reply) override
    {
        const unsigned g = generation_;
        const QString text = Q(question.text);
        PostTo(view_, [g, text, reply](CPartitionSearchView* v) { v->OnMediaQuestion(g, text, reply); });
    }
    void OnFinished(bool /*stopped*/) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g](CPartitionSearchView* v) { v->OnMediaFinished(g); });
    }

private:
    QPointer<CPartitionSearchView> view_;
    unsigned generation_;
};

// What the logical-drive sweep reports, likewise.
class CPartitionSearchView::SweepEvents final : public LogicalSweepEvents {
public:
    SweepEvents(CPartitionSearchView* view, unsigned generation) : view_(view), generation_(generation) {}
    void OnRecognised(const RecognisedVolume& row, FoundBy /*by*/) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g, row](CPartitionSearchView* v) { v->OnSweepRecognised(g, row); });
    }
    void OnFinished(bool /*stopped*/) override
    {
        const unsigned g = generation_;
        PostTo(view_, [g](CPartitionSearchView* v) { v->OnSweepFinished(g); });
    }

private:
    QPointer<CPartitionSearchView> view_;
    unsigned generation_;
};

CPartitionSearchView::CPartitionSearchView(SearchDialogBase* host, CDriveTreeView* drives, QWidget* parent)
    : QWidget(parent), m_host(host), m_drives(drives)
{
    setObjectName(QStringLiteral("PartitionSearchPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    m_pSearchMore = new QPushButton(QStringLiteral("Search More Partitions"), this);
    m_pSearchMore->setObjectName(QStringLiteral("SearchMorePartitions"));
    m_pSearchMore->setIcon(QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView));
    layout->addWidget(m_pSearchMore);

    const QColor background(255, 255, 255);
    m_pStatus = new CColorStatic(QString(), this);
    m_pStatus->setObjectName(QStringLiteral("PartitionSearchStatus"));
    m_pStatus->SetColors(QColor(20, 78, 134), background, CColorStatic::Transparent);
    m_pStatus->setFont(GetSharedFonts().ArialBold12Font);
    m_pStatus->setWordWrap(true);
    layout->addWidget(m_pStatus);

    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("PartitionSearchProgress"));
    m_pProgress->setTextVisible(false);
    m_pProgress->setMaximumHeight(14);
    layout->addWidget(m_pProgress);

    auto* counterRow = new QHBoxLayout;
    counterRow->setSpacing(0);
    m_pCounter = new CColorStatic(QString(), this);
    m_pCounter->setObjectName(QStringLiteral("PartitionSearchCounter"));
    m_pCounter->SetColors(QColor(0, 0, 0), background, CColorStatic::Transparent);
    m_pOfTotal = new CColorStatic(QString(), this);
    m_pOfTotal->setObjectName(QStringLiteral("PartitionSearchOfTotal"));
    m_pOfTotal->SetColors(QColor(0, 0, 0), background, CColorStatic::Transparent);
    counterRow->addWidget(m_pCounter);
    counterRow->addWidget(m_pOfTotal);
    counterRow->addStretch();
    layout->addLayout(counterRow);

    m_pStop = new QPushButton(QStringLiteral("Stop Searching Partitions"), this);
    m_pStop->setObjectName(QStringLiteral("StopSearchingPartitions"));
    m_pStop->setIcon(QApplication::style()->standardIcon(QStyle::SP_BrowserStop));
    layout->addWidget(m_pStop);

    for (QWidget* w : {static_cast<QWidget*>(m_pStatus), static_cast<QWidget*>(m_pProgress),
                       static_cast<QWidget*>(m_pCounter), static_cast<QWidget*>(m_pOfTotal),
                       static_cast<QWidget*>(m_pStop)})
        w->hide();

    m_chooseDepth = [](QWidget* owner) { return RunPartitionModeDialog(owner); };
    m_confirmStop = [](QWidget* owner, const QString& text) { return AskYesNo(owner, text); };
    m_showMessage = [](QWidget* owner, const QString& text) { ShowMessage(owner, text); };

    m_timer999.setInterval(500);
    connect(&m_timer999, &QTimer::timeout, this, &CPartitionSearchView::OnTimer999);
    connect(m_pSearchMore, &QPushButton::clicked, this, &CPartitionSearchView::OnSearchMorePartitions);
    connect(m_pStop, &QPushButton::clicked, this, &CPartitionSearchView::OnStopSearchingPartitions);
}

CPartitionSearchView::~CPartitionSearchView()
{
    // The workers end before the events they report to.
    if (m_searchJob)
        m_searchJob->StopAndWait();
    if (m_mediaJob)
        m_mediaJob->StopAndWait();
    if (m_sweepJob)
        m_sweepJob->StopAndWait();
    m_searchJob.reset();
    m_mediaJob.reset();
    m_sweepJob.reset();
}

QLabel* CPartitionSearchView::StatusLabel() const { return m_pStatus; }
QLabel* CPartitionSearchView::CounterLabel() const { return m_pCounter; }
QLabel* CPartitionSearchView::OfTotalLabel() const { return m_pOfTotal; }

std::shared_ptr<DriveInventory> CPartitionSearchView::Inventory() const
{
    return m_drives ? m_drives->Inventory() : nullptr;
}

QWidget* CPartitionSearchView::Owner() const
{
    return m_host ? static_cast<QWidget*>(m_host.data()) : const_cast<CPartitionSearchView*>(this);
}

void CPartitionSearchView::SetPartitionSearchStatus(const QString& letter)
{
    if (letter == QLatin1String("S"))
        m_pStatus->setText(QStringLiteral("Searching Partitions by Standard Mode:"));
    else if (letter == QLatin1String("A"))
        m_pStatus->setText(QStringLiteral("Searching Partitions by Advanced Mode:"));
    else if (m_host && m_host->RecoveryMode() == kModeDeep)
        m_pStatus->setText(QStringLiteral("\nSearching Partitions..."));
    else
        m_pStatus->setText(QStringLiteral("Searching Partitions..."));
}

// ---- controls ------------------------------------------------------------------------

void CPartitionSearchView::BeginRun(bool engine)
{
    m_nFoundPartitions = 0;
    MainWindowState& main = MainWindowState::Instance();
    main.FoundPartitions = 0;
    main.PartitionSearchBusy = 1;
    if (engine)
        main.PartitionSearchRunning = 1;
    // The sector range has no meaning while a disk is searched.
    if (m_host && m_host->RecoveryMode() >= kModeDeep)
        m_host->ShowSectorRangeControls(false);
    if (m_host && !m_bLocked) {
        m_host->LockForPartitionSearch(true, this);
        m_bLocked = true;
    }
    m_pSearchMore->hide();
    m_pStatus->show();
    m_pProgress->setValue(0);
    m_pProgress->show();
    m_pCounter->setText(QStringLiteral("0"));
    m_pCounter->show();
    m_pOfTotal->show();
    m_pStop->setEnabled(true);
    m_pStop->show();
    m_timer999.start();
}

void CPartitionSearchView::RestoreControls()
{
    m_timer999.stop();
    if (m_host && m_bLocked)
        m_host->LockForPartitionSearch(false, this);
    m_bLocked = false;
    m_pStop->hide();
    m_pStatus->hide();
    m_pProgress->hide();
    m_pCounter->hide();
    m_pOfTotal->hide();
    m_pSearchMore->setEnabled(true);
    m_pSearchMore->show();
}

void CPartitionSearchView::OnTimer999()
{
    if (m_bEngineActive && m_searchJob) {
        const std::uint64_t sector = m_searchJob->Progress().done.load();
        m_pCounter->setText(QString::number(sector));
        UpdateProgress64(m_pProgress, 0, m_ullSearchSectors, sector, 512, true);
    } else if (m_bSweepActive && m_sweepJob) {
        const std::uint64_t sector = m_sweepJob->Progress().done.load();
        m_pCounter->setText(QString::number(sector));
        UpdateProgress64(m_pProgress, 0, m_ullSearchSectors, sector, 1024, true);
    } else if (m_bDiscoveryActive && m_mediaJob) {
        const std::uint64_t cylinder = m_mediaJob->Progress().done.load() / kCylinderSectors;
        m_pCounter->setText(QString::number(cylinder));
        UpdateProgress64(m_pProgress, 0, m_mediaJob->CurrentCylinders(), cylinder, 1, true);
    } else {
        m_timer999.stop();
    }
}

// ---- the drive tree --------------------------------------------------------------------

void CPartitionSearchView::SelectInTree(TreeNodeId item)
{
    if (!m_drives || !m_drives->Tree() || item == kNoTreeNode)
        return;
    CTreeClass* tree = m_drives->Tree();
    tree->itemModel()->publishChanges();
    if (tree->SelectedItem() == item)
        m_drives->OnSelChanged(item);
    else
        tree->SelectItem(item);
}

void CPartitionSearchView::ApplyFound(const std::shared_ptr<DriveInventory>& inv, int disk, TreeNodeId diskItem,
                                      const FoundPartitionEvent& found)
{
    // A refresh rebuilt the tree meanwhile: the partition belongs to a tree that is gone.
    if (!inv || inv != Inventory())
        return;
    const TreeNodeId item = ApplyFoundPartition(*inv, disk, diskItem, found);
    if (item == kNoTreeNode)
        return;
    ++m_nFoundPartitions;
    MainWindowState::Instance().FoundPartitions = m_nFoundPartitions;
    if (m_drives && m_drives->Tree()) {
        m_drives->Tree()->itemModel()->publishChanges();
        m_drives->Tree()->ExpandItem(diskItem);
    }
}

void CPartitionSearchView::ShowResultInTree(int disk, TreeNodeId diskItem, std::uint64_t sectors)
{
    const std::shared_ptr<DriveInventory> inv = Inventory();
    if (!inv || inv != m_inventory)
        return;
    const SearchEndInTree end = ShowSearchResultInTree(*inv, disk, diskItem, sectors);
    if (end.wholeDiskEntry) {
        ++m_nFoundPartitions;
        MainWindowState::Instance().FoundPartitions = m_nFoundPartitions;
    }
    if (m_drives && m_drives->Tree()) {
        m_drives->Tree()->itemModel()->publishChanges();
        m_drives->Tree()->ExpandItem(diskItem);
    }
    SelectInTree(end.select);
}

// ---- Search More Partitions ---------------------------------------------------------------

void CPartitionSearchView::OnSearchMorePartitions()
{
    if (!m_drives || Busy())
        return;
    if (m_drives->RefreshRunning() || m_drives->ReloadRunning())
        return;
    const std::shared_ptr<DriveInventory> inv = Inventory();
    if (!inv)
        return;
    CTreeClass* tree = m_drives->Tree();
    const TreeNodeId selected = tree ? tree->SelectedItem() : kNoTreeNode;
    // The Deep Search sweeps a logical drive for the file systems inside it.
    if (m_host && m_host->RecoveryMode() == kModeDeep) {
        const TreeNodeId drive = LogicalSweepDriveItem(*inv, selected);
        if (drive != kNoTreeNode) {
            StartLogicalSweep(inv, drive);
            return;
        }
    }
    const PartitionSearchTarget target = PartitionSearchTargetOf(*inv, selected);
    if (target.disk < 0) {
        // Not a disk: while the no-device box asks for one, nothing; else the
        // prompt, and the selection moves to something that can be searched.
        if (m_drives->NoDeviceBoxShown())
            return;
        // The Deep Search also searches logical drives, and from "Logical
        // Drives" goes to the first of them.
        const bool deep = m_host && m_host->RecoveryMode() == kModeDeep;
        m_showMessage(Owner(), deep ? QString::fromLatin1(kSelectDriveToSearchDeepText)
                                    : Q(ProgramState::Instance().Messages.SelectPhysicalDriveText));
        TreeNodeId next = kNoTreeNode;
        {
            auto lock = inv->Lock();
            if (deep && selected != kNoTreeNode && selected == inv->LogicalDrivesItem)
                next = inv->Tree.FirstChild(inv->LogicalDrivesItem);
            else if (inv->PhysicalDrivesItem != kNoTreeNode)
                next = inv->Tree.FirstChild(inv->PhysicalDrivesItem);
        }
        SelectInTree(next);
        return;
    }
    // A partition searches its disk: the disk is shown.
    if (selected != target.diskItem)
        SelectInTree(target.diskItem);
    if (target.sectors == 0) {
        m_showMessage(Owner(), Q(NoPhysicalStorageText(target.disk)));
        return;
    }
    const SmpMode depth = m_chooseDepth ? m_chooseDepth(Owner()) : SmpMode::Standard;
    if (depth == SmpMode::None)
        return;
    // Nothing changed under the depth question (it is modal), but be sure.
    if (Busy() || Inventory() != inv)
        return;

    m_searchJob.reset();   // a stopped run's worker is at most a block from its end
    m_inventory = inv;
    m_target = target;
    m_ullSearchSectors = target.sectors;
    PartitionSearchParams params = PreparePartitionSearch(*inv, target, depth);
    m_engineEvents = std::make_unique<EngineEvents>(this, ++m_nEngineGeneration);
    m_searchJob = std::make_unique<PartitionSearchJob>(std::move(params), m_engineEvents.get());
    m_bEngineActive = true;
    BeginRun(true);
    SetPartitionSearchStatus(Q(SmpModeStatusLetter(depth)));
    if (depth == SmpMode::Cylinder) {
        const std::uint64_t cylinders = target.sectors / kCylinderSectors;
        m_pOfTotal->setText(QStringLiteral(" / %1 reading").arg(cylinders));
    } else {
        m_pOfTotal->setText(QStringLiteral(" / %1 sectors").arg(target.sectors));
    }
    SetProgressRange64(m_pProgress, 0, target.sectors, depth == SmpMode::Advanced ? 512 : 1);
    if (!m_searchJob->Start()) {
        m_bEngineActive = false;
        RestoreControls();
        ClearPartitionSearchState();
    }
}

void CPartitionSearchView::OnEngineFound(unsigned generation, const FoundPartitionEvent& found)
{
    if (generation != m_nEngineGeneration || !m_bEngineActive)
        return;
    ApplyFound(m_inventory, m_target.disk, m_target.diskItem, found);
}

void CPartitionSearchView::OnEngineFinished(unsigned generation)
{
    if (generation != m_nEngineGeneration || !m_searchJob)
        return;
    m_searchJob->Wait();
    if (!m_bEngineActive)
        return;   // stopped: the Stop handler showed the result
    m_bEngineActive = false;
    RestoreControls();
    ShowResultInTree(m_target.disk, m_target.diskItem, m_target.sectors);
    ClearPartitionSearchState();
    m_showMessage(Owner(), Q(FormatPartitionSearchResult(m_target.disk, m_nFoundPartitions, m_nFoundPartitions != 0,
                                                         "Disk", "")));
    emit searchFinished();
}

// ---- Stop Searching Partitions ---------------------------------------------------------------

void CPartitionSearchView::OnStopSearchingPartitions()
{
    if (m_drives && (m_drives->RefreshRunning() || m_drives->ReloadRunning()))
        return;
    if (!Busy()) {
        ClearPartitionSearchState();
        return;
    }
    if (!m_confirmStop(Owner(), Q(ProgramState::Instance().Messages.StopPartitionSearchQuestionText)))
        return;   // the search goes on
    if (m_bSweepActive) {
        // The worker ends at its next chunk; the items added so far stay.
        m_bSweepActive = false;
        if (m_sweepJob)
            m_sweepJob->Stop();
        EndSweep();
        m_showMessage(Owner(), Q(LogicalSweepResultText(m_nRecognisedCount, m_sweepDriveText)));
        emit sweepFinished();
        return;
    }
    if (m_bEngineActive) {
        // The worker ends at its next block; what it reports from now on is dropped.
        m_bEngineActive = false;
        if (m_searchJob)
            m_searchJob->Stop();
        RestoreControls();
        ShowResultInTree(m_target.disk, m_target.diskItem, m_target.sectors);
        ClearPartitionSearchState();
        m_showMessage(Owner(), Q(FormatPartitionSearchResult(m_target.disk, m_nFoundPartitions,
                                                             m_nFoundPartitions != 0, "Disk", "")));
        emit searchFinished();
        return;
    }
    m_bDiscoveryActive = false;
    if (m_mediaJob)
        m_mediaJob->Stop();
    RestoreControls();
    const bool diskOpen = m_bMediaDiskOpen;
    m_bMediaDiskOpen = false;
    if (diskOpen) {
        ShowResultInTree(m_mediaDisk.disk, m_mediaDisk.item, m_mediaDisk.totalSectors);
        m_showMessage(Owner(), Q(FormatPartitionSearchResult(m_mediaDisk.disk, m_nFoundPartitions,
                                                             m_nFoundPartitions != 0, "Disk", "")));
    }
    ClearPartitionSearchState();
    emit discoveryFinished();
}

// ---- the sweep of a logical drive (Deep Search) -------------------------------------------

bool CPartitionSearchView::StartLogicalSweep(const std::shared_ptr<DriveInventory>& inv, TreeNodeId driveItem)
{
    // A "Recognised" item sweeps its drive: the drive is shown.
    if (m_drives && m_drives->Tree() && m_drives->Tree()->SelectedItem() != driveItem)
        SelectInTree(driveItem);
    LogicalSweepParams params = PrepareLogicalDriveSweep(*inv, driveItem);
    std::uint64_t sectors = params.driveSectors;
    if (sectors == 0 && params.device)
        sectors = params.device->SizeBytes() / kSectorSize;
    if (sectors == 0) {
        m_showMessage(Owner(), NoStorageInDriveText(params.driveText));
        return false;
    }
    if (Busy() || Inventory() != inv)
        return false;

    m_sweepJob.reset();   // a stopped sweep's worker is at most a chunk from its end
    m_inventory = inv;
    m_sweepDrive = driveItem;
    m_sweepDriveText = params.driveText;
    m_lastRecognised = kNoTreeNode;
    m_nRecognisedCount = 0;
    m_ullSearchSectors = sectors;
    m_sweepEvents = std::make_unique<SweepEvents>(this, ++m_nSweepGeneration);
    m_sweepJob = std::make_unique<LogicalDriveSweepJob>(std::move(params), m_sweepEvents.get());
    m_bSweepActive = true;
    BeginRun(true);
    SetPartitionSearchStatus(QString());
    m_pOfTotal->setText(QStringLiteral(" / %1 sectors").arg(sectors));
    SetProgressRange64(m_pProgress, 0, sectors, 1024);
    if (!m_sweepJob->Start()) {
        m_bSweepActive = false;
        RestoreControls();
        ClearPartitionSearchState();
        return false;
    }
    return true;
}

void CPartitionSearchView::OnSweepRecognised(unsigned generation, const RecognisedVolume& row)
{
    if (generation != m_nSweepGeneration || !m_bSweepActive)
        return;
    // A refresh rebuilt the tree meanwhile: the drive belongs to a tree that is gone.
    const std::shared_ptr<DriveInventory> inv = Inventory();
    if (!inv || inv != m_inventory)
        return;
    const TreeNodeId item = AddRecognisedVolume(*inv, m_sweepDrive, row);
    if (item == kNoTreeNode)
        return;
    ++m_nRecognisedCount;
    m_lastRecognised = item;
    if (m_drives && m_drives->Tree()) {
        CTreeClass* tree = m_drives->Tree();
        tree->itemModel()->publishChanges();
        tree->ExpandItem(m_sweepDrive);
        tree->scrollTo(tree->indexFromNode(item));
    }
    emit recognisedAdded(m_sweepDrive, item);
}

void CPartitionSearchView::OnSweepFinished(unsigned generation)
{
    if (generation != m_nSweepGeneration || !m_sweepJob)
        return;
    m_sweepJob->Wait();
    if (!m_bSweepActive)
        return;   // stopped: the Stop handler showed the result
    m_bSweepActive = false;
    EndSweep();
    m_showMessage(Owner(), Q(m_sweepJob->ResultText()));
    emit sweepFinished();
}

void CPartitionSearchView::EndSweep()
{
    RestoreControls();
    // The last file system found shows with its drive's rows; without one,
    // the drive's range group comes back.
    if (m_lastRecognised != kNoTreeNode && Inventory() == m_inventory)
        SelectInTree(m_lastRecognised);
    else if (m_host)
        m_host->ShowSectorRangeControls(true);
    if (m_drives && m_drives->Tree())
        m_drives->Tree()->setFocus();
    ClearPartitionSearchState();
}

// ---- the removable-media discovery ------------------------------------------------------------

void CPartitionSearchView::StartRemovableMediaScan()
{
    if (!m_drives || Busy())
        return;
    if (m_mediaJob && m_mediaJob->Running())
        return;   // a stopped discovery is still leaving its cylinder
    const std::shared_ptr<DriveInventory> inv = Inventory();
    if (!inv)
        return;
    const TreeNodeId first = FirstRemovableDiskWithoutPartitions(*inv);
    if (first == kNoTreeNode)
        return;
    SelectInTree(first);
    RemovableMediaScanParams params;
    params.disks = RemovableMediaDisks(*inv);
    if (params.disks.empty())
        return;
    params.askResults = ProgramState::Instance().PendingScanLogPath.Empty();

    m_mediaJob.reset();
    m_inventory = inv;
    m_bMediaDiskOpen = false;
    m_mediaEvents = std::make_unique<MediaEvents>(this, ++m_nMediaGeneration);
    m_mediaJob = std::make_unique<RemovableMediaScanJob>(std::move(params), m_mediaEvents.get());
    m_bDiscoveryActive = true;
    BeginRun(false);
    SetPartitionSearchStatus(QString());
    m_pOfTotal->setText(QString());
    if (!m_mediaJob->Start()) {
        m_bDiscoveryActive = false;
        RestoreControls();
        ClearPartitionSearchState();
    }
}

void CPartitionSearchView::OnMediaDiskStarted(unsigned generation, const MediaScanDisk& disk)
{
    if (generation != m_nMediaGeneration || !m_bDiscoveryActive)
        return;
    m_mediaDisk = disk;
    m_bMediaDiskOpen = true;
    m_nFoundPartitions = 0;
    MainWindowState::Instance().FoundPartitions = 0;
    if (Inventory() == m_inventory)
        SelectInTree(disk.item);
    m_pStatus->show();
    m_pCounter->setText(QStringLiteral("0"));
    m_pOfTotal->setText(QStringLiteral(" / %1 reading").arg(disk.cylinders));
    SetProgressRange64(m_pProgress, 0, disk.cylinders, 1);
}

void CPartitionSearchView::OnMediaFound(unsigned generation, const MediaScanDisk& disk, const FoundPartitionEvent& found)
{
    if (generation != m_nMediaGeneration || !m_bDiscoveryActive)
        return;
    ApplyFound(m_inventory, disk.disk, disk.item, found);
}

void CPartitionSearchView::OnMediaDiskEnded(unsigned generation, const MediaScanDisk& disk, int /*gained*/)
{
    if (generation != m_nMediaGeneration || !m_bDiscoveryActive)
        return;
    m_bMediaDiskOpen = false;
    m_pCounter->setText(QString::number(disk.cylinders));
    UpdateProgress64(m_pProgress, 0, disk.cylinders, disk.cylinders, 1, true);
    // The last disk gives the dialog back before its result shows.
    if (disk.last)
        RestoreControls();
    ShowResultInTree(disk.disk, disk.item, disk.totalSectors);
}

void CPartitionSearchView::OnMediaQuestion(unsigned generation, const QString& text, std::function<void(int)> reply)
{
    if (generation != m_nMediaGeneration || !m_bDiscoveryActive) {
        reply(-1);
        return;
    }
    // One box at a time: a box already open (the note on disks that cannot be
    // read comes up as the dialog lists the drives) is answered first; the
    // discovery waits for its answer meanwhile.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible() && modal != Owner() && !modal->isAncestorOf(this)) {
        QTimer::singleShot(50, this, [this, generation, text, reply] { OnMediaQuestion(generation, text, reply); });
        return;
    }
    m_showMessage(Owner(), text);
    reply(0);
}

void CPartitionSearchView::OnMediaFinished(unsigned generation)
{
    if (generation != m_nMediaGeneration || !m_mediaJob)
        return;
    m_mediaJob->Wait();
    if (!m_bDiscoveryActive)
        return;   // stopped: the Stop handler restored the dialog
    m_bDiscoveryActive = false;
    m_bMediaDiskOpen = false;
    RestoreControls();
    // The selection handler runs again for a partition, so its table is current.
    if (m_drives && m_drives->Tree() && Inventory() == m_inventory && m_inventory) {
        const TreeNodeId selected = m_drives->Tree()->SelectedItem();
        if (selected != kNoTreeNode && m_inventory->Tree.Text(selected).find("Partition") != std::string::npos)
            m_drives->OnSelChanged(selected);
    }
    ClearPartitionSearchState();
    emit discoveryFinished();
}

// ---- the automatic way -------------------------------------------------------------------------

AutomaticPartitionSearch CPartitionSearchView::AutomaticSearch()
{
    QPointer<CPartitionSearchView> self(this);
    return MakeAutomaticPartitionSearch([self](const AutomaticSearchRequest& request, const FoundPartitionEvent& found) {
        // The scan goes on once the user has seen what it goes on with, or
        // at once when it is stopped meanwhile.
        struct Shown {
            std::mutex mutex;
            std::condition_variable cv;
            bool done = false;
        };
        auto shown = std::make_shared<Shown>();
        const int disk = request.diskNumber;
        QMetaObject::invokeMethod(
            qApp,
            [self, disk, found, shown] {
                if (self)
                    self->ShowAutomaticFind(disk, found);
                std::lock_guard<std::mutex> lk(shown->mutex);
                shown->done = true;
                shown->cv.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock<std::mutex> lk(shown->mutex);
        while (!shown->done && !(request.stop && request.stop()))
            shown->cv.wait_for(lk, std::chrono::milliseconds(50));
    });
}

void CPartitionSearchView::ShowAutomaticFind(int disk, FoundPartitionEvent found)
{
    const std::shared_ptr<DriveInventory> inv = Inventory();
    if (!inv)
        return;
    TreeNodeId diskItem = kNoTreeNode;
    {
        auto lock = inv->Lock();
        diskItem = FindDiskTreeItem(*inv, disk, inv->PhysicalDrivesItem);
        // Only a disk that still lists nothing gains it.
        if (diskItem == kNoTreeNode || inv->Tree.ChildCount(diskItem) != 0)
            return;
    }
    // The partition the scan reads is listed under its disk like any other found one.
    found.automatic = false;
    found.index = 0;
    found.itemText = PartitionItemText(1, found.fsName);
    m_nFoundPartitions = 0;
    ApplyFound(inv, disk, diskItem, found);
    if (m_nFoundPartitions != 0)
        m_showMessage(Owner(), Q(FormatPartitionSearchResult(disk, m_nFoundPartitions, true, "Disk", "")));
}

}  // namespace torvane
