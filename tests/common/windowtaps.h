// Taps handed to the program's windows as the touch screen's platform hands
// them over, with the times the finger was put down and lifted: the tap
// guard measures a double tap by those times, not by when the taps are read.
#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

// A finger put down at `at` (screen coordinates) at `down` and lifted at
// `up` (the screen's clock, in ms), on the window that takes it: an open
// popup's, else a modal box's where it lies, else `main`'s.
inline void tapThroughWindow(QWidget* main, const QPoint& at, ulong down, ulong up)
{
    auto send = [main, at](Qt::MouseButtons buttons, QEvent::Type type, ulong made) {
        QWidget* top = QApplication::activePopupWidget();
        if (!top) {
            QWidget* modal = QApplication::activeModalWidget();
            top = modal && modal->geometry().contains(at) ? modal : main;
        }
        QWindow* w = top->windowHandle();
        qt_handleMouseEvent(w, w->mapFromGlobal(at), at, buttons, Qt::LeftButton, type, {}, int(made));
        QCoreApplication::processEvents();
    };
    send(Qt::LeftButton, QEvent::MouseButtonPress, down);
    send(Qt::NoButton, QEvent::MouseButtonRelease, up);
}
