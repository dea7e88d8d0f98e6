// Stands in for the main window in the tests of the libraries below it: a
// plain widget that carries the shared state and is installed as gpState
// while it lives.
#pragma once

#include "winstate.h"

#include <QTimer>
#include <QWidget>

class StateWindow : public QWidget, public WinState {
public:
    explicit StateWindow(QWidget* parent = nullptr) : QWidget(parent)
    {
        mainWidget = this;
        gpState = this;
    }
    ~StateWindow() override
    {
        if (gpState == this)
            gpState = nullptr;
    }
};
