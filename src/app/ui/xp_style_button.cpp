#include "app/ui/xp_style_button.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <cmath>

namespace torvane {
namespace {

QColor Accent() { return QColor(0x1F, 0x6F, 0xB5); }

QPixmap Canvas(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A hard disk seen from the front, used by the program icon and the pictures.
void DrawDisk(QPainter& p, const QRectF& r, const QColor& body)
{
    p.setPen(QPen(body.darker(150), r.width() / 40.0));
    p.setBrush(body);
    p.drawRoundedRect(r, r.width() / 8, r.width() / 8);
    const QRectF platter(r.left() + r.width() * 0.18, r.top() + r.height() * 0.12, r.width() * 0.64, r.width() * 0.64);
    p.setBrush(QColor(235, 240, 245));
    p.drawEllipse(platter);
    p.setBrush(body.darker(130));
    p.drawEllipse(platter.center(), platter.width() / 9, platter.width() / 9);
}

QPixmap DrawProgramIcon(int size)
{
    QPixmap pm = Canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    DrawDisk(p, QRectF(s * 0.08, s * 0.04, s * 0.84, s * 0.92), Accent());
    // A green "restore" arrow over the disk.
    QPainterPath arrow;
    arrow.moveTo(s * 0.50, s * 0.58);
    arrow.lineTo(s * 0.78, s * 0.30);
    arrow.lineTo(s * 0.78, s * 0.58);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2E, 0xA0, 0x43));
    p.drawPath(arrow);
    return pm;
}

QPixmap DrawModePicture(int id, int size)
{
    QPixmap pm = Canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    switch (id) {
    case kPictureBasic: {
        // A folder with a document coming back out of it.
        p.setPen(QPen(QColor(0xB0, 0x80, 0x10), s / 40));
        p.setBrush(QColor(0xF5, 0xC2, 0x42));
        p.drawRoundedRect(QRectF(s * 0.08, s * 0.22, s * 0.36, s * 0.16), s / 30, s / 30);
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor(120, 120, 120), s / 50));
        p.drawRect(QRectF(s * 0.30, s * 0.12, s * 0.40, s * 0.46));
        for (int i = 0; i < 4; ++i) p.drawLine(QPointF(s * 0.36, s * (0.22 + i * 0.08)), QPointF(s * 0.64, s * (0.22 + i * 0.08)));
        p.setPen(QPen(QColor(0xB0, 0x80, 0x10), s / 40));
        p.setBrush(QColor(0xF7, 0xCF, 0x5F));
        p.drawRoundedRect(QRectF(s * 0.08, s * 0.36, s * 0.84, s * 0.52), s / 20, s / 20);
        break;
    }
    case kPictureDeep: {
        DrawDisk(p, QRectF(s * 0.10, s * 0.08, s * 0.62, s * 0.72), QColor(0x4A, 0x5D, 0x73));
        // A magnifier.
        p.setPen(QPen(QColor(0x1F, 0x6F, 0xB5), s / 12, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.70, s * 0.70), QPointF(s * 0.90, s * 0.90));
        p.setPen(QPen(QColor(0x1F, 0x6F, 0xB5), s / 18));
        p.setBrush(QColor(200, 225, 250, 200));
        p.drawEllipse(QPointF(s * 0.58, s * 0.58), s * 0.20, s * 0.20);
        break;
    }
    case kPicturePhoto: {
        p.setPen(QPen(QColor(90, 90, 90), s / 30));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(s * 0.08, s * 0.16, s * 0.84, s * 0.68), s / 20, s / 20);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x87, 0xCE, 0xEB));
        p.drawRect(QRectF(s * 0.14, s * 0.22, s * 0.72, s * 0.56));
        p.setBrush(QColor(0xF5, 0xC2, 0x42));
        p.drawEllipse(QPointF(s * 0.70, s * 0.36), s * 0.07, s * 0.07);
        QPainterPath hill;
        hill.moveTo(s * 0.14, s * 0.78);
        hill.lineTo(s * 0.38, s * 0.44);
        hill.lineTo(s * 0.56, s * 0.66);
        hill.lineTo(s * 0.66, s * 0.56);
        hill.lineTo(s * 0.86, s * 0.78);
        hill.closeSubpath();
        p.setBrush(QColor(0x2E, 0x8B, 0x57));
        p.drawPath(hill);
        break;
    }
    case kPictureVideo: {
        p.setPen(QPen(QColor(60, 60, 60), s / 30));
        p.setBrush(QColor(40, 40, 40));
        p.drawRoundedRect(QRectF(s * 0.08, s * 0.20, s * 0.84, s * 0.60), s / 20, s / 20);
        QPainterPath play;
        play.moveTo(s * 0.42, s * 0.36);
        play.lineTo(s * 0.64, s * 0.50);
        play.lineTo(s * 0.42, s * 0.64);
        play.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPath(play);
        break;
    }
    case kPictureSignature:
    default: {
        // A document with its header bytes marked.
        p.setPen(QPen(QColor(110, 110, 110), s / 40));
        p.setBrush(Qt::white);
        QPainterPath page;
        page.moveTo(s * 0.18, s * 0.08);
        page.lineTo(s * 0.62, s * 0.08);
        page.lineTo(s * 0.82, s * 0.28);
        page.lineTo(s * 0.82, s * 0.92);
        page.lineTo(s * 0.18, s * 0.92);
        page.closeSubpath();
        p.drawPath(page);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xD9, 0x53, 0x4F));
        p.drawRect(QRectF(s * 0.26, s * 0.20, s * 0.30, s * 0.10));
        p.setBrush(QColor(190, 190, 190));
        for (int i = 0; i < 5; ++i) p.drawRect(QRectF(s * 0.26, s * (0.38 + i * 0.1), s * 0.48, s * 0.04));
        break;
    }
    }
    return pm;
}

QPixmap DrawReviewStar(int size)
{
    QPixmap pm = Canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath star;
    const QPointF c(size / 2.0, size / 2.0);
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? size * 0.48 : size * 0.2;
        const qreal a = -M_PI / 2 + i * M_PI / 5;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0) star.moveTo(pt); else star.lineTo(pt);
    }
    star.closeSubpath();
    p.setPen(QPen(QColor(0xC8, 0x8A, 0x00), size / 20.0));
    p.setBrush(QColor(0xFF, 0xC1, 0x07));
    p.drawPath(star);
    return pm;
}

// A round badge with a white glyph: the help manual ("?") and support ("@").
QPixmap DrawBadge(int size, const QColor& colour, const QString& glyph)
{
    QPixmap pm = Canvas(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(130), qMax(1.0, size / 16.0)));
    p.setBrush(colour);
    const qreal m = size / 12.0;
    p.drawEllipse(QRectF(m, m, size - 2 * m, size - 2 * m));
    QFont font;
    font.setBold(true);
    font.setPixelSize(qMax(6, size * 2 / 3));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, glyph);
    return pm;
}

}  // namespace

QIcon ProgramIcon()
{
    static QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128}) i.addPixmap(DrawProgramIcon(size));
        return i;
    }();
    return icon;
}

QPixmap ModePicture(int id, int size)
{
    return DrawModePicture(id, size);
}

QIcon LoadIconResource(int id, int cx, int cy)
{
    const int size = qMax(cx, cy);
    QStyle* style = QApplication::style();
    auto themed = [&](const char* name, QStyle::StandardPixmap fallback) {
        QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (icon.isNull() && style != nullptr) icon = style->standardIcon(fallback);
        return icon;
    };
    switch (id) {
    case kIconProgram: return ProgramIcon();
    case kIconLoadLog: return themed("document-open", QStyle::SP_DialogOpenButton);
    case kIconSaveBeforeExit: return themed("document-save", QStyle::SP_DialogSaveButton);
    case kIconSupport: return QIcon(DrawBadge(size, QColor(0x2E, 0xA0, 0x43), QStringLiteral("@")));
    case kIconAbout: return themed("help-about", QStyle::SP_MessageBoxInformation);
    case kIconHelpManual: return QIcon(DrawBadge(size, QColor(0x1F, 0x6F, 0xB5), QStringLiteral("?")));
    case kIconOpenWebsite: return themed("internet-web-browser", QStyle::SP_DriveNetIcon);
    case kIconDoNotExit: return themed("dialog-cancel", QStyle::SP_DialogCancelButton);
    case kIconOk: return themed("dialog-ok", QStyle::SP_DialogOkButton);
    case kIconExitWithoutSaving: return themed("application-exit", QStyle::SP_DialogDiscardButton);
    case kIconCopy: return themed("edit-copy", QStyle::SP_FileIcon);
    case kIconSendEmail: return themed("mail-send", QStyle::SP_ArrowForward);
    case kIconReview: return QIcon(DrawReviewStar(size));
    case kPictureBasic:
    case kPictureDeep:
    case kPicturePhoto:
    case kPictureVideo:
    case kPictureSignature: return QIcon(DrawModePicture(id, size));
    default: return QIcon();
    }
}

CXPStyleButtonST::CXPStyleButtonST(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setAutoDefault(false);
}

int CXPStyleButtonST::SetIcon(int iconId, int size)
{
    const QIcon icon = LoadIconResource(iconId, size, size);
    setIcon(icon);
    setIconSize(QSize(size, size));
    return icon.isNull() ? 1 : 0;
}

CXPStyleButtonST* MakeIconButton(const QString& text, int iconId, int size, QWidget* parent)
{
    auto* button = new CXPStyleButtonST(text, parent);
    button->SetThemeHelper();
    button->SetIcon(iconId, size);
    return button;
}

QPushButton* MakeCommandButton(const QString& text, const QString& note, const QString& name, QWidget* parent)
{
    auto* b = new QPushButton(text + QStringLiteral("\n") + note, parent);
    b->setObjectName(name);
    b->setToolTip(note);
    return b;
}

OkCancelRow MakeOkCancelRow(QWidget* parent)
{
    OkCancelRow row;
    row.layout = new QHBoxLayout;
    row.layout->addStretch(1);
    row.ok = MakeIconButton(QStringLiteral("OK"), 397, 24, parent);
    row.ok->setObjectName(QStringLiteral("OK"));
    row.ok->setDefault(true);
    row.cancel = MakeIconButton(QStringLiteral("Cancel"), 395, 24, parent);
    row.cancel->setObjectName(QStringLiteral("Cancel"));
    row.layout->addWidget(row.ok);
    row.layout->addWidget(row.cancel);
    return row;
}

}  // namespace torvane
