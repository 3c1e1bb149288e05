#pragma once
// The windows give font sizes in pixels, as drawn at 96 dpi; Qt scales them on denser screens.

#include <QApplication>
#include <QFont>

inline QFont PixelFont(int px, bool bold = false, QFont base = QApplication::font()) {
    base.setPixelSize(px);
    base.setBold(bold);
    return base;
}
