#include "app/ui/color_static.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPalette>

namespace torvane {

QColor FromColorRef(std::uint32_t colorRef)
{
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

CColorStatic::CColorStatic(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    m_crText = palette().color(QPalette::WindowText);
    m_crBackground = palette().color(QPalette::Button);
    ApplyColors();
}

void CColorStatic::ApplyColors()
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, m_crText);
    pal.setColor(QPalette::Window, m_crBackground);
    setPalette(pal);
    setAutoFillBackground(m_nBkMode == Opaque);
    update();
}

void CColorStatic::SetColors(const QColor& text, const QColor& background, int bkMode)
{
    m_crText = text;
    m_crBackground = background;
    m_nBkMode = bkMode;
    ApplyColors();
}

void CColorStatic::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

CMy_Link_Static::CMy_Link_Static(const QString& text, QWidget* parent) : QLabel(parent)
{
    m_crBackground = QColor(242, 242, 242);
    m_crText = FromColorRef(0xFF0000);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, m_crText);
    pal.setColor(QPalette::Window, m_crBackground);
    setPalette(pal);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setText(text);
}

void CMy_Link_Static::setText(const QString& text)
{
    QLabel::setText(text);
    // The window follows its text, so the blank part right of the text is
    // never a hot area.
    setFixedWidth(fontMetrics().horizontalAdvance(text) + 2);
}

void CMy_Link_Static::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) setFixedWidth(fontMetrics().horizontalAdvance(text()) + 2);
}

void CMy_Link_Static::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

}  // namespace torvane
