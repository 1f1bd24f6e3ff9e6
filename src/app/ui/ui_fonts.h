// The fonts every window shares, made once at start-up.
#pragma once

#include <QFont>
#include <QString>

namespace torvane {

// Five fonts (heights are point sizes turned into pixels at the screen's
// resolution, as a cell height like the original drawing code used):
struct SharedFonts {
    QFont ConsolasBold15Font;  // the search dialogs' titles
    QFont ConsolasBold12Font;  // mode captions, the About title, search dialogs
    QFont ArialRegular12Font;  // search dialogs, exit confirmation, saving windows
    QFont ArialBold12Font;     // Support button, buttons and statics of most dialogs
    QFont ConsolasBold18Font;  // list-population and counting windows
};

// Creates the fonts (call once the QApplication exists).
void CreateSharedFonts();
// The shared fonts (made on first use when CreateSharedFonts was not called).
const SharedFonts& GetSharedFonts();

// A UI font: `pixelHeight` pixels high, `weight` in the 0..1000 scale of the
// original (0 = default, 400 regular, 700 bold), face with fallbacks:
// "Consolas" falls back to a monospace face, "Arial" and "Verdana" to a
// sans-serif face.
QFont CreateUiFont(int pixelHeight, int weight, const QString& face);

}  // namespace torvane
