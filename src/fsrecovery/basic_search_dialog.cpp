#include "fsrecovery/basic_search_dialog.h"

#include "app/message_dialog.h"
#include "base/program_state.h"
#include "app/ui/tree_class.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/basic_search_view.h"
#include "partsearch/partition_search_view.h"

#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace torvane {

CBasicSearch::CBasicSearch(QWidget* parent) : SearchDialogBase(kModeBasic, parent)
{
    setObjectName(QStringLiteral("CBasicSearch"));
    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
    m_pSearchView = new CBasicSearchView(this, m_pDrivePanel, DriveTreeArea(), PlaceholderPanel(), this);
    BodyLayout()->addWidget(m_pSearchView, 0);   // takes the height once results show
    m_pDrivePanel->SetIdleQuery([this] { return m_pSearchView->BasicScanCount() == 0; });
    m_pDrivePanel->SetResultsQuery([this] { return m_pSearchView->BasicScanCount() > 0; });
    // A scan of a disk that lists no partition waits for the partition search.
    if (PartitionSearch())
        m_pSearchView->Session().SetAutomaticPartitionSearch(PartitionSearch()->AutomaticSearch());
}

void CBasicSearch::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
    if (m_pDrivePanel->Tree())
        m_pDrivePanel->Tree()->setFocus();
    // Opened for a scan log (the command line, the main window's Load Log, a
    // hand-over): the dialog loads it as soon as it runs.
    if (!ProgramState::Instance().PendingScanLogPath.Empty()) {
        QPointer<CBasicSearchView> view(m_pSearchView);
        QTimer::singleShot(0, m_pSearchView, [view] {
            if (view)
                view->OnLoadLog();
        });
    }
}

void CBasicSearch::OnScanNow()
{
    m_pSearchView->OnScanNow();
}

void CBasicSearch::OnStop()
{
    m_pSearchView->OnStop();
}

void CBasicSearch::OnBack()
{
    if (m_pSearchView->OnBack())
        return;
    // No scan yet: back to the main window.
    ClosePopulateWindow(true);
    SearchDialogBase::OnBack();
}

void CBasicSearch::OnClose()
{
    show();
    if (!m_pSearchView->ConfirmClose())
        return;
    StopRunningWork();
    RunExitSequence(this);
    ExitProgram(0);
}

void CBasicSearch::StopRunningWork()
{
    m_pSearchView->StopRunningWork();
}

void CBasicSearch::RestoreBusyState()
{
    if ((m_pSearchView->ListBusy() || m_pSearchView->LogJobRunning()) && m_pSearchView->ResultsTree())
        m_pSearchView->ResultsTree()->setEnabled(false);
}

void CBasicSearch::SetFoundCountStatus(const QString& text)
{
    m_pSearchView->SetFoundCountStatus(text);
}

QString CBasicSearch::SelectedResultsItemText() const
{
    return m_pSearchView->SelectedResultsItemText();
}

bool CBasicSearch::HasSelectedResultsItem() const
{
    return !m_pSearchView->SelectedResultsItemText().isNull();
}

}  // namespace torvane
