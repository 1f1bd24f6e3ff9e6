#include "fsrecovery/fs_search_dialog.h"

#include "app/message_dialog.h"
#include "app/ui/tree_class.h"
#include "base/program_state.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_view.h"
#include "partsearch/partition_search_view.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace torvane {

CFileSystemSearch::CFileSystemSearch(int recoveryMode, QWidget* parent) : SearchDialogBase(recoveryMode, parent)
{
    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
}

void CFileSystemSearch::AttachSearchView(CBasicSearchView* view)
{
    m_pSearchView = view;
    BodyLayout()->addWidget(m_pSearchView, 0);   // takes the height once results show
    m_pDrivePanel->SetIdleQuery([this] { return m_pSearchView->BasicScanCount() == 0; });
    m_pDrivePanel->SetResultsQuery([this] { return m_pSearchView->BasicScanCount() > 0; });
    // A scan of a disk that lists no partition waits for the partition search.
    if (PartitionSearch())
        m_pSearchView->Session().SetAutomaticPartitionSearch(PartitionSearch()->AutomaticSearch());
}

void CFileSystemSearch::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
    if (m_pDrivePanel->Tree())
        m_pDrivePanel->Tree()->setFocus();
    // Opened for a scan log (the command line, the main window's Load Log, a
    // hand-over): the dialog loads it as soon as it runs.
    if (!ProgramState::Instance().PendingScanLogPath.Empty())
        QTimer::singleShot(0, m_pSearchView, [this] { LoadPendingLogWhenQuiet(); });
}

void CFileSystemSearch::LoadPendingLogWhenQuiet()
{
    // One box at a time: the drive list is built and what it had to say (the
    // disks that cannot be read, no disk at all) is answered before the log
    // loads and says it has loaded.
    if (ProgramState::Instance().PendingScanLogPath.Empty())
        return;   // Back was pressed meanwhile
    QWidget* modal = QApplication::activeModalWidget();
    const bool boxOpen = modal != nullptr && modal != this && modal->isVisible();
    if (m_pDrivePanel->RefreshRunning() || boxOpen) {
        QTimer::singleShot(50, m_pSearchView, [this] { LoadPendingLogWhenQuiet(); });
        return;
    }
    m_pSearchView->OnLoadLog();
}

void CFileSystemSearch::OnScanNow()
{
    m_pSearchView->OnScanNow();
}

void CFileSystemSearch::OnStop()
{
    m_pSearchView->OnStop();
}

void CFileSystemSearch::OnBack()
{
    if (m_pSearchView->OnBack())
        return;
    // No scan yet: back to the main window.
    ClosePopulateWindow(true);
    SearchDialogBase::OnBack();
}

void CFileSystemSearch::OnClose()
{
    show();
    if (!m_pSearchView->ConfirmClose())
        return;
    StopRunningWork();
    RunExitSequence(this);
    ExitProgram(0);
}

void CFileSystemSearch::StopRunningWork()
{
    m_pSearchView->StopRunningWork();
}

void CFileSystemSearch::RestoreBusyState()
{
    if ((m_pSearchView->ListBusy() || m_pSearchView->LogJobRunning()) && m_pSearchView->ResultsTree())
        m_pSearchView->ResultsTree()->setEnabled(false);
}

void CFileSystemSearch::SetFoundCountStatus(const QString& text)
{
    m_pSearchView->SetFoundCountStatus(text);
}

QString CFileSystemSearch::SelectedResultsItemText() const
{
    return m_pSearchView->SelectedResultsItemText();
}

bool CFileSystemSearch::HasSelectedResultsItem() const
{
    return !m_pSearchView->SelectedResultsItemText().isNull();
}

}  // namespace torvane
