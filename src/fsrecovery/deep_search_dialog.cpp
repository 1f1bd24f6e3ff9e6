#include "fsrecovery/deep_search_dialog.h"

#include "base/program_state.h"
#include "disk/drive_tree_view.h"
#include "fsrecovery/deep_search_view.h"
#include "partsearch/partition_search_view.h"

#include <QVBoxLayout>

namespace torvane {

CDeepSearch::CDeepSearch(QWidget* parent) : CFileSystemSearch(kModeDeep, parent)
{
    setObjectName(QStringLiteral("CDeepSearch"));
    m_pDeepView = new CDeepSearchView(this, m_pDrivePanel, DriveTreeArea(), PlaceholderPanel(), this);
    // The range group and the file-system choice sit under the drive row.
    BodyLayout()->addWidget(m_pDeepView->RangePanel(), 0);
    AttachSearchView(m_pDeepView);
    // The file systems Search More Partitions finds inside a logical drive.
    if (CPartitionSearchView* search = PartitionSearch())
        connect(search, &CPartitionSearchView::recognisedAdded, m_pDeepView, &CDeepSearchView::OnRecognisedAdded);
}

void CDeepSearch::ReselectDriveTreeItem(int /*flag*/)
{
    m_pDrivePanel->ReselectDriveItem();
}

void CDeepSearch::ShowSectorRangeControls(bool show)
{
    m_pDeepView->ShowSectorRangeControls(show);
}

void CDeepSearch::InitSectorRangeControls(std::uint64_t start, std::uint64_t end, std::uint64_t minimum,
                                          std::uint64_t maximum)
{
    m_pDeepView->InitSectorRangeControls(start, end, minimum, maximum);
}

void CDeepSearch::SelectFileSystemInCombo(int index)
{
    m_pDeepView->SelectFileSystemInCombo(index);
}

}  // namespace torvane
