#include "results/counting_dialog.h"

#include "app/ui/xp_style_button.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace torvane {

CTotFileSize::CTotFileSize(SaveRequest request, SaveCounters& counters, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_job(std::make_unique<CountSelectionJob>(std::move(request), counters)),
      m_counters(counters)
{
    setObjectName(QStringLiteral("CTotFileSize"));
    setWindowIcon(ProgramIcon());
    auto* layout = new QVBoxLayout(this);
    auto* title = new QHBoxLayout;
    title->addWidget(new QLabel(QStringLiteral("Calculating Total Number of Files, Please Wait "), this));
    for (auto& dot : m_pDots) {
        dot = new QLabel(QStringLiteral("."), this);
        title->addWidget(dot);
    }
    title->addStretch(1);
    layout->addLayout(title);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Total Files :"), this), 0, 0);
    m_pFiles = new QLabel(QStringLiteral("0"), this);
    m_pFiles->setObjectName(QStringLiteral("TotalFiles"));
    grid->addWidget(m_pFiles, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Total Folders :"), this), 1, 0);
    m_pFolders = new QLabel(QStringLiteral("0"), this);
    m_pFolders->setObjectName(QStringLiteral("TotalFolders"));
    grid->addWidget(m_pFolders, 1, 1);
    layout->addLayout(grid);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0);   // marquee
    layout->addWidget(bar);
    auto* cancel = MakeIconButton(QStringLiteral("Cancel"), 395, 24, this);
    cancel->setObjectName(QStringLiteral("Cancel"));
    layout->addWidget(cancel, 0, Qt::AlignRight);
    connect(cancel, &QPushButton::clicked, this, &CTotFileSize::OnCancel);
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(100);
    connect(m_pTimer, &QTimer::timeout, this, &CTotFileSize::OnTimer);
}

CTotFileSize::~CTotFileSize()
{
    if (m_job)
        m_job->StopAndWait();
}

int CTotFileSize::exec()
{
    if (!m_job->Start())
        return QDialog::Rejected;
    m_pTimer->start();
    return QDialog::exec();
}

void CTotFileSize::OnTimer()
{
    m_pFiles->setText(QString::number(m_counters.totalFiles.load()));
    m_pFolders->setText(QString::number(m_counters.totalFolders.load()));
    // One dot at a time, each for about a second of a three-second cycle.
    const int phase = (m_nTicks++ / 10) % 3;
    for (int i = 0; i < 3; ++i)
        m_pDots[i]->setVisible(i == phase);
    if (!m_job->Running()) {
        m_pTimer->stop();
        m_job->Wait();
        if (m_job->Finished())
            accept();
        else
            QDialog::reject();
    }
}

void CTotFileSize::OnCancel()
{
    m_pTimer->stop();
    m_job->StopAndWait();
    QDialog::reject();
}

}  // namespace torvane
