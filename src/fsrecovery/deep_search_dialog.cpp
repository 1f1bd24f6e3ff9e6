#include "fsrecovery/deep_search_dialog.h"

#include "base/program_state.h"
#include "disk/drive_tree_view.h"

namespace torvane {

CDeepSearch::CDeepSearch(QWidget* parent) : SearchDialogBase(kModeDeep, parent)
{
    setObjectName(QStringLiteral("CDeepSearch"));
    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
}

void CDeepSearch::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
}

void CDeepSearch::ReselectDriveTreeItem(int /*flag*/)
{
    m_pDrivePanel->ReselectDriveItem();
}

}  // namespace torvane
