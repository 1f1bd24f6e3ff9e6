#include "carving/raw_search_dialog.h"

#include "app/program_state.h"

namespace torvane {

CRawSearch::CRawSearch(QWidget* parent) : SearchDialogBase(kModePhoto, parent)
{
    setObjectName(QStringLiteral("CRawSearch"));
}

}  // namespace torvane
