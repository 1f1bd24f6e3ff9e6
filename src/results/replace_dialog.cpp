#include "results/replace_dialog.h"

#include "app/ui/xp_style_button.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {
Replace::Replace(const QString& existing, const QString& proposed, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Replace"));
    setWindowTitle(QStringLiteral("Rename, Replace or Skip File Confirmation"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("A file with the same name is already exists in destination path."), this));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("File :"), this), 0, 0);
    m_pExisting = new QLineEdit(existing, this);
    m_pExisting->setReadOnly(true);
    m_pExisting->setObjectName(QStringLiteral("ExistingPath"));
    grid->addWidget(m_pExisting, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("New File :"), this), 1, 0);
    m_pNewPath = new QLineEdit(proposed, this);
    m_pNewPath->setObjectName(QStringLiteral("NewPath"));
    grid->addWidget(m_pNewPath, 1, 1);
    layout->addLayout(grid);
    auto* overwrite = MakeCommandButton(QStringLiteral("Overwrite"),
                                    QStringLiteral("Replace the existing file in the destination path with the new file."),
                                    QStringLiteral("Overwrite"), this);
    auto* rename = MakeCommandButton(QStringLiteral("Rename"), QStringLiteral("The new file will be renamed."),
                                 QStringLiteral("Rename"), this);
    auto* skip = MakeCommandButton(QStringLiteral("Skip"), QStringLiteral("This file will not be saved."),
                               QStringLiteral("Skip"), this);
    auto* cancel = MakeCommandButton(QStringLiteral("Cancel"), QStringLiteral("Stop the process of saving the recovered data."),
                                 QStringLiteral("Cancel"), this);
    for (auto* b : {rename, overwrite, skip, cancel})
        layout->addWidget(b);
    m_pApplyAll = new QCheckBox(QStringLiteral("Apply the answer to all the files"), this);
    m_pApplyAll->setObjectName(QStringLiteral("ApplyToAll"));
    layout->addWidget(m_pApplyAll);
    connect(overwrite, &QPushButton::clicked, this, &Replace::OnOverwrite);
    connect(rename, &QPushButton::clicked, this, &Replace::OnRename);
    connect(skip, &QPushButton::clicked, this, &Replace::OnSkip);
    connect(cancel, &QPushButton::clicked, this, &Replace::OnCancel);
    overwrite->setDefault(true);
    overwrite->setFocus();
}

QString Replace::NewPath() const { return m_pNewPath->text(); }

void Replace::OnOverwrite()
{
    m_answer = m_pApplyAll->isChecked() ? ReplaceAnswer::OverwriteAll : ReplaceAnswer::Overwrite;
    accept();
}

void Replace::OnRename()
{
    m_answer = m_pApplyAll->isChecked() ? ReplaceAnswer::RenameAll : ReplaceAnswer::Rename;
    accept();
}

void Replace::OnSkip()
{
    m_answer = m_pApplyAll->isChecked() ? ReplaceAnswer::SkipAll : ReplaceAnswer::Skip;
    QDialog::reject();
}

void Replace::OnCancel()
{
    m_answer = ReplaceAnswer::Cancel;
    QDialog::reject();
}

}  // namespace torvane
