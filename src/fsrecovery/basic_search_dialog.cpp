#include "fsrecovery/basic_search_dialog.h"

#include "app/program_state.h"

namespace torvane {

CBasicSearch::CBasicSearch(QWidget* parent) : SearchDialogBase(kModeBasic, parent)
{
    setObjectName(QStringLiteral("CBasicSearch"));
}

}  // namespace torvane
