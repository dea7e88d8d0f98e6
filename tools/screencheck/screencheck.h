// Looks at a shown window as an operator would: every visible button,
// label, combo box, slider and line edit must lie on the screen, show its
// text whole at the font it is drawn with, and not cover a sibling; a combo
// box's drop-down rows must be as high as it asks.
#pragma once

#include <QPoint>
#include <QRect>
#include <QStringList>

class QWidget;

class ScreenCheck {
public:
    // The faults found on `top` and everything it shows, one line each.
    // Positions are measured from the window's client area, which lies at
    // `windowAt` on `screen`.
    static QStringList faults(QWidget* top, QPoint windowAt, QRect screen);
};
