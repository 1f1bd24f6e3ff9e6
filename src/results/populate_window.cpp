#include "results/populate_window.h"

#include "app/ui/ui_fonts.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace torvane {

CPopulate::CPopulate(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("CPopulate"));
    setWindowTitle(QStringLiteral("Populating List Items, Please wait...."));
    setModal(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    m_pText = new QLabel(QStringLiteral("Populating List Items\n\nIt may take a while, Please wait..."), this);
    m_pText->setObjectName(QStringLiteral("PopulateText"));
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(12);
    m_pText->setFont(arial);
    m_pText->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_pText);

    auto* dots = new QHBoxLayout;
    dots->addStretch();
    const QColor colours[3] = {QColor(50, 50, 50), QColor(100, 100, 100), QColor(150, 150, 150)};
    QFont consolas(QStringLiteral("Consolas"));
    consolas.setPointSize(18);
    consolas.setBold(true);
    for (int i = 0; i < 3; ++i) {
        m_pDots[i] = new QLabel(QStringLiteral("."), this);
        m_pDots[i]->setFont(consolas);
        m_pDots[i]->setStyleSheet(QStringLiteral("color: %1;").arg(colours[i].name()));
        m_pDots[i]->setFixedWidth(18);
        dots->addWidget(m_pDots[i]);
    }
    dots->addStretch();
    layout->addLayout(dots);

    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("PopulateProgress"));
    m_pProgress->setRange(0, 0);   // marquee
    m_pProgress->setTextVisible(false);
    m_pProgress->setFixedHeight(14);
    layout->addWidget(m_pProgress);

    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("PopulateCancel"));
    m_pCancel->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(m_pCancel);
    row->addStretch();
    layout->addLayout(row);
    connect(m_pCancel, &QPushButton::clicked, this, &CPopulate::OnCancel);

    m_dotTimer.setInterval(500);
    connect(&m_dotTimer, &QTimer::timeout, this, &CPopulate::OnTimer);
    setFixedSize(300, 190);
}

void CPopulate::OnCancel()
{
    if (!m_bListing)
        return;
    // Hide first: hiding resets the window's own state; the stop comes after.
    hide();
    if (m_cancel)
        m_cancel();
}

void CPopulate::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    for (QLabel* d : m_pDots)
        d->setVisible(true);
    m_nDotStep = 0;
    m_dotTimer.start();
}

void CPopulate::hideEvent(QHideEvent* event)
{
    m_dotTimer.stop();
    QDialog::hideEvent(event);
}

void CPopulate::OnTimer()
{
    ++m_nDotStep;
    if (m_nDotStep == 1 || m_nDotStep == 3 || m_nDotStep == 5) {
        const int shown = (m_nDotStep - 1) / 2;
        for (int i = 0; i < 3; ++i)
            m_pDots[i]->setVisible(i == shown);
    }
    if (m_nDotStep >= 6)
        m_nDotStep = 0;
}

void CPopulate::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Cancel) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (focusWidget() == m_pCancel)
            OnCancel();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace torvane
