#include "results/open_single_file_dialog.h"

#include "app/ui/color_static.h"
#include "base/text_routines.h"
#include "results/found_file_opener.h"
#include "results/save_progress.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <mutex>

namespace torvane {
namespace {

std::mutex g_openMutex;
std::function<bool(const QString&)> g_open;

}  // namespace

bool ShellOpenFile(const QString& path)
{
    std::function<bool(const QString&)> open;
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        open = g_open;
    }
    if (open)
        return open(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SetShellOpenFileFunction(std::function<bool(const QString&)> open)
{
    std::lock_guard<std::mutex> lock(g_openMutex);
    g_open = std::move(open);
}

COpenSingleFile::COpenSingleFile(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("COpenSingleFile"));
    setWindowTitle(QStringLiteral("Opening File"));
    setModal(false);
    const QColor background(242, 242, 242);
    auto* layout = new QVBoxLayout(this);
    m_pName = new CColorStatic(QString(), this);
    m_pName->setObjectName(QStringLiteral("OpenFileName"));
    m_pName->SetColors(QColor(0, 0, 160), background);
    m_pSize = new CColorStatic(QString::fromLatin1(kOpeningFileText), this);
    m_pSize->setObjectName(QStringLiteral("OpenFileSize"));
    m_pSize->SetColors(QColor(40, 40, 40), background);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setTextVisible(false);
    m_pProgress->setRange(0, 1000);
    m_pWait = new CColorStatic(QString::fromLatin1(kOpeningFileWaitText), this);
    m_pWait->SetColors(QColor(40, 40, 40), background);
    m_pStatus = new QLabel(QStringLiteral("0 / 0"), this);
    m_pStatus->setObjectName(QStringLiteral("OpenFileStatus"));
    m_pStop = new QPushButton(QStringLiteral("Stop"), this);
    m_pStop->setObjectName(QStringLiteral("OpenFileStop"));
    m_pStop->setAutoDefault(false);
    layout->addWidget(m_pName);
    layout->addWidget(m_pSize);
    layout->addWidget(m_pProgress);
    layout->addWidget(m_pWait);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pStatus);
    bottom->addStretch();
    bottom->addWidget(m_pStop);
    layout->addLayout(bottom);
    connect(m_pStop, &QPushButton::clicked, this, &COpenSingleFile::OnStop);
    resize(420, 150);
}

QLabel* COpenSingleFile::NameLabel() const { return m_pName; }
QLabel* COpenSingleFile::SizeLabel() const { return m_pSize; }

void COpenSingleFile::SetFile(const QString& displayName, std::uint64_t size)
{
    m_pName->setText(displayName);
    m_pSize->setText(QString::fromLatin1(kOpeningFileText) + QString::fromStdString(FormatByteSize(size)));
    m_pWait->setText(QString::fromLatin1(kOpeningFileWaitText));
    SetProgress(0, size);
}

void COpenSingleFile::SetProgress(std::uint64_t done, std::uint64_t total)
{
    const int value = total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 1000 / total);
    m_pProgress->setValue(value);
    m_pStatus->setText(QString::fromStdString(FormatSizeProgress(total, done)));
}

void COpenSingleFile::OnStop()
{
    m_pStop->setEnabled(false);
    if (m_stop)
        m_stop();
}

void COpenSingleFile::keyPressEvent(QKeyEvent* event)
{
    // Escape and Ctrl+Break never close it; Enter presses Stop only on Stop.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Cancel:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (focusWidget() == m_pStop)
            OnStop();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

}  // namespace torvane
