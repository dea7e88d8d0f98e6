// What the program drives outside itself: the I/O board's output word, the
// screen's light, and what the network services tell their peers (record
// rows, judged ROIs, template lists, the cycle's and the alarms' timing).
//
// The main window installs the program's outputs once when it is built;
// until then (and in a program part without a main window) a board output
// only logs that nothing is connected and a report is dropped. Tests
// install their own.
#pragma once

#include "param_roi.h"

#include <QPair>
#include <QVector>

class QJsonObject;

class MachineOutputs {
public:
    virtual ~MachineOutputs() = default;

    // ControlPort::IOSetOut(n, on): changes one output of the wanted word.
    virtual void setOut(int n, int on);
    // ControlPort::IOFlashOut(): hands the wanted word to the I/O board thread.
    virtual void flashOut();
    // 1 lights the screen, 0 darkens it.
    virtual void lcdOnOff(int on);
    // A row was written to the operation record (recordtime, recordpassword,
    // remarks, recordtype): handed on to the local agent.
    virtual void recordInserted(const QJsonObject& row);
    // One judged ROI (the network services' ROI cache); may come from the
    // engine's worker threads.
    virtual void roiJudged(const param_roi& roi);
    // Templates changed: {"camera": ..., "detect": ...} (0-based; single
    // values or arrays paired index by index), for the local agent.
    virtual void templateListChanged(const QJsonObject& which);
    // The cycle opened; a step of it was decided; detection stopped.
    virtual void cycleStarted();
    virtual void cycleStepDone(int step, bool ok);
    virtual void detectStopped();
    // An alarm was raised at a step; an alarm was cleared (camera and
    // clearing kind 4-8 of each camera the operator's decision concerned).
    virtual void alarmStarted(int step);
    virtual void alarmCleared(const QVector<QPair<int, int>>& kinds);

    // The installed outputs, else the defaults above.
    static MachineOutputs& get();
    // Installs `outputs` (nullptr: the defaults); returns the one replaced.
    static MachineOutputs* install(MachineOutputs* outputs);
};
