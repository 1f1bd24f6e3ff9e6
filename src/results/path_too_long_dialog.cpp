#include "results/path_too_long_dialog.h"

#include "app/ui/xp_style_button.h"
#include "results/save_browse_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {
CDest_Path_Too_Long::CDest_Path_Too_Long(const QString& path, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CDest_Path_Too_Long"));
    setWindowTitle(QStringLiteral("Destination Path too long"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Destination Path is too long.\nWindows cannot support saving file and "
                                                "folder on that long path."),
                                 this));
    auto* edit = new QLineEdit(path, this);
    edit->setReadOnly(true);
    edit->setObjectName(QStringLiteral("TooLongPath"));
    layout->addWidget(edit);
    auto* ignore = MakeCommandButton(QStringLiteral("Ignore"), QStringLiteral("Files and Folders on long Path will be ignored."),
                                 QStringLiteral("Ignore"), this);
    auto* move = MakeCommandButton(QStringLiteral("Move to KZU_Miscellaneous Folder"),
                               QStringLiteral("Files and Folders having long destination path will be saved in "
                                              "\u201CKZU_Miscellaneous\u201D folder instead."),
                               QStringLiteral("Move"), this);
    auto* browse = MakeCommandButton(QStringLiteral("Browse another Path"),
                                 QStringLiteral("You can browse another location to save Files and Folders having long "
                                                "destination path. Rest of the recovered data will be saved to the same "
                                                "path as selected by you earlier."),
                                 QStringLiteral("BrowseAnother"), this);
    layout->addWidget(ignore);
    layout->addWidget(move);
    layout->addWidget(browse);
    m_pApplyAll = new QCheckBox(QStringLiteral("Do this for all next conflicts."), this);
    m_pApplyAll->setObjectName(QStringLiteral("ApplyToAll"));
    layout->addWidget(m_pApplyAll);
    connect(ignore, &QPushButton::clicked, this, &CDest_Path_Too_Long::OnIgnore);
    connect(move, &QPushButton::clicked, this, &CDest_Path_Too_Long::OnMove);
    connect(browse, &QPushButton::clicked, this, &CDest_Path_Too_Long::OnBrowse);
}

bool CDest_Path_Too_Long::ApplyToAll() const { return m_pApplyAll->isChecked(); }

void CDest_Path_Too_Long::OnIgnore()
{
    m_choice = TooLongChoice::Ignore;
    QDialog::reject();
}

void CDest_Path_Too_Long::OnMove()
{
    m_choice = TooLongChoice::Move;
    accept();
}

void CDest_Path_Too_Long::OnBrowse()
{
    QString folder = BrowseForFolder(this);
    if (folder.isEmpty())
        return;   // the dialog stays open
    QDir().mkpath(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_strBrowsed = folder;
    m_choice = TooLongChoice::Browse;
    accept();
}

}  // namespace torvane
