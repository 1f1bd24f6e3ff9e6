#include "carving/sig_duplicate_dialog.h"

#include "base/program_state.h"
#include "disk/drive_tree_view.h"

#include <QLabel>

namespace torvane {

CSigDuplicate::CSigDuplicate(QWidget* parent) : SearchDialogBase(kModeSignature, parent)
{
    setObjectName(QStringLiteral("CSigDuplicate"));
    m_pDrivePanel = EmbedDriveTreePanel(this, DriveTreeArea(), PlaceholderPanel());
    m_strSearchMode = QString::fromStdString(ProgramState::Instance().SignatureModeText);
}

void CSigDuplicate::SetSearchMode(const QString& mode)
{
    m_strSearchMode = mode;
    TitleLabel()->setText(mode + QStringLiteral(" Search"));
}

void CSigDuplicate::FillDriveTree(const std::shared_ptr<DriveListSnapshot>& drives)
{
    m_pDrivePanel->Adopt(drives);
}

void CSigDuplicate::ReselectDriveTreeItem(int /*flag*/)
{
    m_pDrivePanel->ReselectDriveItem();
}

}  // namespace torvane
