#include "results/open_export_folder_dialog.h"

#include "app/ui/xp_style_button.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace torvane {

Open_Export_Folder::Open_Export_Folder(const QString& text, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Open_Export_Folder"));
    setWindowTitle(QStringLiteral("Message"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    m_pText = new QLabel(text, this);
    m_pText->setObjectName(QStringLiteral("CompletionText"));
    m_pText->setWordWrap(true);
    layout->addWidget(m_pText);
    m_pOpenFolder = new QCheckBox(QStringLiteral("Open Containing Folder"), this);
    m_pOpenFolder->setObjectName(QStringLiteral("OpenContainingFolder"));
    m_pOpenFolder->setChecked(true);
    layout->addWidget(m_pOpenFolder);
    const OkCancelRow buttons = MakeOkCancelRow(this);
    CXPStyleButtonST* ok = buttons.ok;
    CXPStyleButtonST* cancel = buttons.cancel;
    layout->addLayout(buttons.layout);
    connect(ok, &QPushButton::clicked, this, &Open_Export_Folder::OnOK);
    connect(cancel, &QPushButton::clicked, this, &Open_Export_Folder::OnCancel);
}

QString Open_Export_Folder::Text() const { return m_pText->text(); }

void Open_Export_Folder::OnOK()
{
    m_nOpenFolder = m_pOpenFolder->isChecked() ? 1 : 0;
    accept();
}

void Open_Export_Folder::OnCancel()
{
    m_nOpenFolder = 0;
    QDialog::reject();
}

}  // namespace torvane
