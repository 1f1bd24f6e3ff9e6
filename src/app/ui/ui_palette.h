// Colours shared by every window.
#pragma once

#include <QColor>

namespace torvane {

// The background of every dialog.
inline QColor DialogBackgroundColor() { return QColor(242, 242, 242); }

}  // namespace torvane
