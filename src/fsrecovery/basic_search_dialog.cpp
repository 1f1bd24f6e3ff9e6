#include "fsrecovery/basic_search_dialog.h"

#include "base/program_state.h"
#include "fsrecovery/basic_search_view.h"

namespace torvane {

CBasicSearch::CBasicSearch(QWidget* parent) : CFileSystemSearch(kModeBasic, parent)
{
    setObjectName(QStringLiteral("CBasicSearch"));
    AttachSearchView(new CBasicSearchView(this, m_pDrivePanel, DriveTreeArea(), PlaceholderPanel(), this));
}

}  // namespace torvane
