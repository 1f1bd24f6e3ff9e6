#include "app/ui/ui_fonts.h"

#include <QGuiApplication>
#include <QScreen>

namespace torvane {
namespace {

SharedFonts& Storage()
{
    static SharedFonts fonts;
    return fonts;
}

bool g_created = false;

// Pixel height of a point size at the screen's vertical resolution,
// truncated toward zero.
int PointsToPixels(int points)
{
    qreal dpi = 96.0;
    if (QGuiApplication::primaryScreen() != nullptr) dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
    if (dpi <= 0) dpi = 96.0;
    return static_cast<int>(dpi * points / 72.0);
}

}  // namespace

QFont CreateUiFont(int pixelHeight, int weight, const QString& face)
{
    QFont font;
    if (face == QLatin1String("Consolas")) {
        font.setFamilies({QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                          QStringLiteral("monospace")});
        font.setStyleHint(QFont::Monospace);
    } else {
        font.setFamilies({face, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"), QStringLiteral("sans-serif")});
        font.setStyleHint(QFont::SansSerif);
    }
    // The height is a cell height: the glyphs are about a fifth smaller.
    font.setPixelSize(qMax(1, pixelHeight * 4 / 5));
    if (weight >= 700) font.setWeight(QFont::Bold);
    else font.setWeight(QFont::Normal);
    return font;
}

void CreateSharedFonts()
{
    SharedFonts& f = Storage();
    f.ConsolasBold15Font = CreateUiFont(PointsToPixels(15), 700, QStringLiteral("Consolas"));
    f.ConsolasBold12Font = CreateUiFont(PointsToPixels(12), 700, QStringLiteral("Consolas"));
    f.ArialRegular12Font = CreateUiFont(PointsToPixels(12), 0, QStringLiteral("Arial"));
    f.ArialBold12Font = CreateUiFont(PointsToPixels(12), 700, QStringLiteral("Arial"));
    f.ConsolasBold18Font = CreateUiFont(PointsToPixels(18), 700, QStringLiteral("Consolas"));
    g_created = true;
}

const SharedFonts& GetSharedFonts()
{
    if (!g_created) CreateSharedFonts();
    return Storage();
}

}  // namespace torvane
