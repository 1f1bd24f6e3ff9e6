// Coloured labels and the link label.
#pragma once

#include <QColor>
#include <QLabel>

#include <cstdint>

namespace torvane {

// A colour written the Windows way, 0x00BBGGRR (0xFF0000 is blue).
QColor FromColorRef(std::uint32_t colorRef);

// A label with its own text and background colours. The owner writes the
// three members (usually before the label first paints) and calls
// ApplyColors(); a label left alone shows window text on the button face,
// opaque. It emits clicked() when pressed, for labels that act like buttons.
class CColorStatic : public QLabel {
    Q_OBJECT
public:
    enum BkMode { Transparent = 1, Opaque = 2 };

    explicit CColorStatic(const QString& text = QString(), QWidget* parent = nullptr);

    int m_nBkMode = Opaque;
    QColor m_crText;
    QColor m_crBackground;

    void ApplyColors();
    // Shorthand: set the members and apply.
    void SetColors(const QColor& text, const QColor& background, int bkMode = Opaque);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A link-looking label: blue text on the dialog background, a hand cursor
// over the text, and a window that is always as wide as its text (so only the
// text itself is the hot area). A click emits clicked().
class CMy_Link_Static : public QLabel {
    Q_OBJECT
public:
    explicit CMy_Link_Static(const QString& text = QString(), QWidget* parent = nullptr);

    QColor m_crBackground;
    QColor m_crText;

    void setText(const QString& text);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace torvane
