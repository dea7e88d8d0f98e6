// The main-window states and the two state words (run, detect) that the HTTP
// API and the Modbus registers report for them, as data rows for the tests of
// both.
#pragma once

#include "statewindow.h"

#include <QtTest>

// Columns runState, detectState, step (the main window's) and run, detect
// (the words expected).
inline void addStateWordRows()
{
    QTest::addColumn<int>("runState");
    QTest::addColumn<int>("detectState");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("run");
    QTest::addColumn<int>("detect");
    QTest::newRow("running, ok") << 1 << 1 << 0 << 1 << 0;
    QTest::newRow("training counts as running") << 2 << 0 << 0 << 1 << 0;
    QTest::newRow("stopped") << 3 << 0 << 0 << 0 << 0;
    QTest::newRow("NG at step 0") << 1 << 2 << 0 << 1 << 1;
    QTest::newRow("NG at step 1, training") << 2 << 2 << 1 << 1 << 2;
    QTest::newRow("NG at step 3") << 1 << 2 << 3 << 1 << 2;
    QTest::newRow("region setting") << 1 << 3 << 1 << 1 << 0;
}

// Puts the current row's state into the main window.
inline void applyStateRow(StateWindow* win)
{
    QFETCH(int, runState);
    QFETCH(int, detectState);
    QFETCH(int, step);
    win->cycleStatus().runState = runState;
    win->cycleStatus().detectState = detectState;
    win->cycleStatus().runStep = step;
}
