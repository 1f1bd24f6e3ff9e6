#include "app/ui/scroll_helper.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace torvane {
namespace {

// The least height `item` can be laid out in at `width`: wrapped texts as
// tall as that width makes them, everything else at its minimum height. A
// layout's own height for a width is its preferred height, which would make
// the scroll area show bars while the window still holds everything.
int MinimumHeightForWidth(QLayoutItem* item, int width)
{
    if (item == nullptr || item->isEmpty())
        return 0;
    const int floor = item->minimumSize().height();
    if (!item->hasHeightForWidth())
        return floor;
    width = std::max(width, item->minimumSize().width());
    width = std::min(width, std::max(item->minimumSize().width(), item->maximumSize().width()));
    if (QWidget* widget = item->widget()) {
        QLayout* inner = widget->layout();
        if (inner == nullptr)
            return std::max(floor, item->heightForWidth(width));
        const QMargins m = widget->contentsMargins();
        const int height = MinimumHeightForWidth(inner, width - m.left() - m.right()) + m.top() + m.bottom();
        return std::clamp(height, floor, std::max(floor, widget->maximumHeight()));
    }
    QLayout* layout = item->layout();
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (box == nullptr)
        return layout != nullptr ? std::max(floor, layout->minimumHeightForWidth(width)) : floor;
    const QMargins m = box->contentsMargins();
    const int inner = width - m.left() - m.right();
    const bool vertical = box->direction() == QBoxLayout::TopToBottom || box->direction() == QBoxLayout::BottomToTop;
    int total = 0;
    int shown = 0;
    for (int i = 0; i < box->count(); ++i) {
        QLayoutItem* child = box->itemAt(i);
        if (child->spacerItem() != nullptr) {
            if (vertical)
                total += child->minimumSize().height();
            continue;
        }
        if (child->isEmpty())
            continue;
        // Side by side, each child keeps the width it was last given.
        int childWidth = inner;
        if (!vertical)
            childWidth = child->geometry().width() > 0 ? child->geometry().width() : child->sizeHint().width();
        const int height = MinimumHeightForWidth(child, childWidth);
        total = vertical ? total + height : std::max(total, height);
        ++shown;
    }
    if (vertical && shown > 1)
        total += std::max(0, box->spacing()) * (shown - 1);
    return std::max(floor, total + m.top() + m.bottom());
}

// Holds the content in the scroll area and tells the area the content's
// least height for a width, so bars appear only when the window is smaller
// than what the content needs.
class ContentHolder final : public QWidget {
public:
    explicit ContentHolder(QWidget* content)
    {
        setObjectName(QStringLiteral("DialogScrollContentHolder"));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(content);
    }

    int heightForWidth(int width) const override
    {
        return MinimumHeightForWidth(layout()->itemAt(0), width);
    }
};

}  // namespace

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
    m_area->setWidget(new ContentHolder(content));
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
