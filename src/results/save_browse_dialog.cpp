#include "results/save_browse_dialog.h"

#include "app/message_dialog.h"
#include "app/ui/shell_links.h"
#include "app/ui/xp_style_button.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {
namespace {

std::function<QString(QWidget*)>& BrowseFunction()
{
    static std::function<QString(QWidget*)> f;
    return f;
}

std::function<void(QWidget*, const QString&)>& OpenFunction()
{
    static std::function<void(QWidget*, const QString&)> f;
    return f;
}

QLabel* Text(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// Creates the folder with its parents when missing; true when it exists then.
bool EnsureFolder(const QString& path)
{
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

}  // namespace

QString BrowseForFolder(QWidget* owner)
{
    if (BrowseFunction())
        return BrowseFunction()(owner);
    return QFileDialog::getExistingDirectory(owner, QStringLiteral("Select destination folder."));
}

void SetBrowseForFolderFunction(std::function<QString(QWidget*)> browse) { BrowseFunction() = std::move(browse); }

void OpenFolderInShell(QWidget* owner, const QString& folder)
{
    if (OpenFunction()) {
        OpenFunction()(owner, folder);
        return;
    }
    ShellOpen(owner, 0, folder);
}

void SetOpenFolderFunction(std::function<void(QWidget*, const QString&)> open) { OpenFunction() = std::move(open); }

CSaveBrowse::CSaveBrowse(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CSaveBrowse"));
    setWindowTitle(QStringLiteral("Save Data"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    auto* careful = Text(QStringLiteral("Please read this information carefully before saving the recovered data."), this);
    QFont bold = careful->font();
    bold.setBold(true);
    careful->setFont(bold);
    layout->addWidget(careful);
    layout->addWidget(Text(QStringLiteral(
        "1. Please always select a different drive to save the recovered data. Saving data in the same drive (from "
        "which you are trying to recover data) may cause overwriting and your data may be lost forever. "), this));
    layout->addWidget(Text(QStringLiteral(
        "2. You should have sufficient free disk space in Destination Drive to save the recovered data. "), this));
    layout->addWidget(Text(QStringLiteral("Please browse a location to save the recovered data."), this));
    auto* row = new QHBoxLayout;
    m_pPathEdit = new QLineEdit(this);
    m_pPathEdit->setObjectName(QStringLiteral("DestinationEdit"));
    row->addWidget(m_pPathEdit, 1);
    auto* browse = MakeIconButton(QStringLiteral("Browse"), 371, 24, this);
    browse->setObjectName(QStringLiteral("Browse"));
    row->addWidget(browse);
    layout->addLayout(row);
    const OkCancelRow buttons = MakeOkCancelRow(this);
    CXPStyleButtonST* ok = buttons.ok;
    CXPStyleButtonST* cancel = buttons.cancel;
    layout->addLayout(buttons.layout);
    connect(browse, &QPushButton::clicked, this, &CSaveBrowse::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CSaveBrowse::OnOK);
    connect(cancel, &QPushButton::clicked, this, &CSaveBrowse::OnCancel);
}

void CSaveBrowse::OnBrowse()
{
    QString folder = BrowseForFolder(this);
    if (folder.isEmpty())
        return;
    EnsureFolder(folder);
    m_pPathEdit->setText(QDir::toNativeSeparators(folder));
}

void CSaveBrowse::OnOK()
{
    QString path = m_pPathEdit->text().trimmed();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty() || !EnsureFolder(path)) {
        ShowMessage(this, QString::fromLatin1(kInvalidDestinationText));
        return;
    }
    // Write test: a folder made and removed again.
    const QByteArray probe = QFile::encodeName(path + QStringLiteral("/zqsave"));
    if (::mkdir(probe.constData(), 0700) != 0 && errno != EEXIST) {
        ShowMessage(this, QString::fromLatin1(kInvalidDestinationText));
        return;
    }
    ::rmdir(probe.constData());
    m_strDestination = path;
    accept();
}

void CSaveBrowse::OnCancel()
{
    m_strDestination.clear();
    QDialog::reject();
}

QString RunSaveBrowseDialog(QWidget* owner)
{
    CSaveBrowse dialog(owner);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.Destination();
}

}  // namespace torvane
