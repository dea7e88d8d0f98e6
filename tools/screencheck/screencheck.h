// Looks at a shown window as an operator would: every visible button,
// label, combo box, slider and line edit must lie on the screen, show its
// text whole at the font it is drawn with, and not cover a sibling; text on
// a control is at least kControlTextPixels; a combo box's drop-down rows
// must be as high as it asks.
#pragma once

#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QVector>

class QWidget;

class ScreenCheck {
public:
    static constexpr int kControlTextPixels = 16;   // smallest text on a control

    // The faults found on `top` and everything it shows, one line each.
    // Positions are measured from the window's client area, which lies at
    // `windowAt` on `screen`.
    static QStringList faults(QWidget* top, QPoint windowAt, QRect screen);

    // Texts a widget paints itself (a view's region labels): each at least
    // `minPixels`, inside `area`, clear of the others.
    struct Painted {
        QRect rect;
        int pixels = 0;
        QString text;
    };
    static QStringList paintedFaults(const QVector<Painted>& painted, QRect area, int minPixels);
};
