// Stands in for the main window in the tests of the libraries below it: a
// plain widget that carries the shared state and is installed as gpState
// while it lives, with the timers and grey table the main window makes.
#pragma once

#include "winstate.h"

#include <QTimer>
#include <QWidget>

class StateWindow : public QWidget, public WinState {
public:
    explicit StateWindow(QWidget* parent = nullptr) : QWidget(parent)
    {
        grayTable.reserve(256);
        for (int i = 0; i < 256; ++i)
            grayTable.append(qRgb(i, i, i));
        screenOffTimer = new QTimer(this);
        sizeHintTimer = new QTimer(this);
        sizeHintTimer->setSingleShot(true);
        mainWidget = this;
        gpState = this;
    }
    ~StateWindow() override
    {
        if (gpState == this)
            gpState = nullptr;
    }
    // The stand-in owns the cycle's status: tests set their case up here.
    CycleStatus& cycleStatus() { return cycle_; }
};
