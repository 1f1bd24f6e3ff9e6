// Keeps a window usable when it is smaller than what it shows: the window's
// content sits in a frameless scroll area that fills the window, and scroll
// bars appear only while the window is smaller than the content's display
// size (the larger of the size set here and what the content's layout needs).
// A line step is 60 pixels, a page step the visible size; the bars stop at
// both ends, and a window at least as large as its content shows no bars and
// is scrolled back to the top-left corner.
#pragma once

#include <QSize>

class QScrollArea;
class QWidget;

namespace torvane {

class ScrollHelper {
public:
    static constexpr int kLineStep = 60;

    // Puts `content` into a scroll area that becomes the only item of
    // `window`'s layout (one is created when the window has none).
    ScrollHelper(QWidget* window, QWidget* content);

    // The size the content is never squeezed below.
    void SetDisplaySize(int width, int height);
    QSize DisplaySize() const { return m_display; }

    // Brings the bars up to date at once (Qt would on the next layout pass);
    // owners call it after resizing the window themselves.
    void UpdateScrollInfo();

    QScrollArea* Area() const { return m_area; }
    QWidget* Content() const { return m_content; }

private:
    QWidget* m_window = nullptr;
    QWidget* m_content = nullptr;
    QScrollArea* m_area = nullptr;
    QSize m_display{0, 0};
};

}  // namespace torvane
