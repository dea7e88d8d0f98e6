// Looks at a shown window as an operator would: every visible button,
// label, combo box, slider and line edit must lie on the screen, show its
// text whole at the font it is drawn with, and not cover a sibling; text on
// a control is at least kControlTextPixels; a combo box's drop-down rows
// must be as high as it asks; no caption is broken inside a word. For the
// touch screens: controls at touch size with readable text, and a shown pad
// fully visible.
#pragma once

#include <QImage>
#include <QList>
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

    static constexpr int kTouchHeight = 48;
    static constexpr int kControlPixels = 16;
    static constexpr int kListPixels = 14;
    // Controls (buttons, check boxes, combo boxes, fields) under the touch
    // height or drawn below kControlPixels, check boxes whose caption is
    // not part of them, drop-down rows under the touch height or their
    // text below kControlPixels, lists below kListPixels.
    static QStringList touchFaults(QWidget* top);
    // A shown pad that lies partly off `screen` or under another window
    // (or a widget of its own window drawn over it).
    static QStringList padFaults(QWidget* pad, QRect screen);
    // The screen as the windows `bottomToTop` draw it, each at its place.
    static QImage screenShot(const QList<QWidget*>& bottomToTop, QRect screen);
    // Texts a widget paints itself (a view's region labels): each at least
    // `minPixels`, inside `area`, clear of the others.
    struct Painted {
        QRect rect;
        int pixels = 0;
        QString text;
    };
    static QStringList paintedFaults(const QVector<Painted>& painted, QRect area, int minPixels);
};
