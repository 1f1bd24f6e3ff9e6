#include "fsrecovery/deep_search_dialog.h"

#include "app/program_state.h"

namespace torvane {

CDeepSearch::CDeepSearch(QWidget* parent) : SearchDialogBase(kModeDeep, parent)
{
    setObjectName(QStringLiteral("CDeepSearch"));
}

}  // namespace torvane
