// Stands in for the main window in the tests of the libraries below it: a
// plain widget that carries the shared state and is installed as gpState
// while it lives, with its own (empty) databases installed as the program's.
#pragma once

#include "databases.h"
#include "winstate.h"

#include <QTimer>
#include <QWidget>

class StateWindow : public QWidget, public WinState {
public:
    explicit StateWindow(QWidget* parent = nullptr) : QWidget(parent)
    {
        mainWidget = this;
        gpState = this;
        Databases::install(&databases);
    }
    ~StateWindow() override
    {
        if (&Databases::get() == &databases)
            Databases::install(nullptr);
        if (gpState == this)
            gpState = nullptr;
    }

    Databases databases;

    // The stand-in owns the cycle's status: tests set their case up here.
    CycleStatus& cycleStatus() { return cycle_; }
};
