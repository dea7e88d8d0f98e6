// The cycle's state that the subsystems below the main window read: run,
// detect and count state, steps, alarm codes, the step countdowns, and the
// main window as the parent of boxes opened below it.
//
// The main window owns the one instance (it derives from WinState) and
// installs it as gpState when it is built; the calls that have to go up to
// the main window go through the four roles it installs at the same time:
// CycleControl (decisions, step runs, camera switch, parameter words),
// ScreenChrome (button bar, help, zoom, I/O panel, repaint), MachineOutputs
// (I/O outputs, screen switch, reports for the network services) and
// OperatorDialogs (the operator password). Tests of the lower libraries use
// a plain widget carrying a WinState (tests/common/statewindow.h) and
// install only the roles they need.
//
// The other shared state has its own owners (see the README's layout):
// EditSession and CameraViews (camera), OperatorRights and ScreenLight
// (widgets), Databases (foundation). The globals typed by a higher library
// are declared with their class: gpWin (rivurevezi.h), gpControlIO
// (controlport.h), gpWPara/gpWParaBak (wizardpara.h), gpWarnBox/gpChooseBox
// (warnbox.h), gpPasswordBox (passwordbox.h), g_splashframe
// (publictools_widget.h).
#pragma once

#include "cyclestatus.h"
#include "globals.h"

#include <QString>
#include <QTimer>

class QWidget;

struct WinState {
    WinState() = default;
    WinState(const WinState&) = delete;
    WinState& operator=(const WinState&) = delete;
    ~WinState() = default;

    // The cycle's status, for reading; only its owner writes it.
    const CycleStatus& cycle() const { return cycle_; }

    // ---- The main window as a widget -----------------------------------------
    QWidget* mainWidget = nullptr;         // the main window: parent of boxes opened below it

protected:
    // Written by the cycle alone (the main window hands it to its
    // MouldCycle; in the tests of the libraries below it, the test's
    // stand-in sets its case up).
    CycleStatus cycle_;
};

// The main window's state while it exists (tests: a WinState of their own).
extern WinState* gpState;
