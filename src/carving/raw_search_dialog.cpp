#include "carving/raw_search_dialog.h"

#include "base/program_state.h"
#include "disk/drive_tree_view.h"

namespace torvane {

CRawSearch::CRawSearch(QWidget* parent) : SearchDialogBase(kModePhoto, parent)
{
    setObjectName(QStringLiteral("CRawSearch"));
    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
}

void CRawSearch::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
}

void CRawSearch::ReselectDriveTreeItem(int /*flag*/)
{
    m_pDrivePanel->ReselectDriveItem();
}

}  // namespace torvane
