#include "app/wait_window.h"

#include "app/ui/color_static.h"
#include "app/ui/ui_fonts.h"
#include "app/ui/xp_style_button.h"

#include <QProgressBar>
#include <QVBoxLayout>

namespace torvane {

CModeless1::CModeless1(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CModeless1"));
    setWindowIcon(ProgramIcon());
    setWindowTitle(QStringLiteral("Torvane"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(242, 242, 242));
    setPalette(pal);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("CModeless1 { border: 1px solid #7a7a7a; }"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    m_pStatic = new CColorStatic(QStringLiteral("Loading required information. Please wait..."), this);
    m_pStatic->setObjectName(QStringLiteral("LoadingText"));
    m_pStatic->SetColors(Qt::black, QColor(242, 242, 242));
    m_pStatic->setFont(GetSharedFonts().ArialBold12Font);
    layout->addWidget(m_pStatic);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("LoadingProgress"));
    m_pProgress->setTextVisible(false);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    layout->addWidget(m_pProgress);
    setFixedSize(sizeHint().expandedTo(QSize(420, 100)));
}

QString CModeless1::Text() const
{
    return m_pStatic->text();
}

}  // namespace torvane
