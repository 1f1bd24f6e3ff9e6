#include "app/ui/scroll_helper.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane {

ScrollHelper::ScrollHelper(QWidget* window, QWidget* content) : m_window(window), m_content(content)
{
    QLayout* layout = window->layout();
    if (layout == nullptr) layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    m_area = new QScrollArea(window);
    m_area->setObjectName(QStringLiteral("DialogScrollArea"));
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setWidgetResizable(true);
    m_area->horizontalScrollBar()->setSingleStep(kLineStep);
    m_area->verticalScrollBar()->setSingleStep(kLineStep);
    m_area->setWidget(content);
    layout->addWidget(m_area);
}

void ScrollHelper::SetDisplaySize(int width, int height)
{
    m_display = QSize(std::max(0, width), std::max(0, height));
    UpdateScrollInfo();
}

void ScrollHelper::UpdateScrollInfo()
{
    // An explicit minimum replaces what the content's layout asks for, so the
    // layout's own minimum is kept in it: the content is never squeezed.
    if (!m_display.isEmpty()) {
        QSize wanted = m_display;
        if (QLayout* layout = m_content->layout()) {
            layout->activate();
            wanted = wanted.expandedTo(layout->minimumSize());
        }
        m_content->setMinimumSize(wanted);
    }
    if (m_window->layout() != nullptr) m_window->layout()->activate();
    // The area lays its content out again on a resize of its own; a display
    // size change alone needs the nudge.
    m_content->updateGeometry();
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(m_area, &request);
}

}  // namespace torvane
