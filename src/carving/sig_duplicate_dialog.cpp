#include "carving/sig_duplicate_dialog.h"

#include "app/program_state.h"

#include <QLabel>

namespace torvane {

CSigDuplicate::CSigDuplicate(QWidget* parent) : SearchDialogBase(kModeSignature, parent)
{
    setObjectName(QStringLiteral("CSigDuplicate"));
    m_strSearchMode = QString::fromStdString(ProgramState::Instance().SignatureModeText);
}

void CSigDuplicate::SetSearchMode(const QString& mode)
{
    m_strSearchMode = mode;
    TitleLabel()->setText(mode + QStringLiteral(" Search"));
}

}  // namespace torvane
