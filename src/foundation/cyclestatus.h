// The status of the moulding cycle: what runs, what is latched, which step,
// how each camera's alarm was cleared. One owner writes it (the moulding
// cycle, MouldCycle); everything else reads it through WinState::cycle(), a const
// reference, so that no screen or view can change the cycle behind its back.
// What a view or page wants changed it passes up as the operator's decision
// (CycleControl).
#pragma once

#include "globals.h"

#include <QString>
#include <QTimer>

// The states the cycle and the views compare, by name. The numbers are what
// the HTTP and Modbus answers carry and what the tests read: they never
// change. The fields stay plain ints.
namespace RunState {
enum : int { Running = 1, Training = 2, Stopped = 3 };
}
namespace DetectState {
enum : int { Idle = 0, Ok = 1, NgLatched = 2, RegionSetting = 3 };
}
namespace CountState {
enum : int { Detecting = 1, Detected = 2, Waiting = 3 };
}
// Result code of a camera and step (alarmCode[]): 3 while its NG waits for
// the operator, 4 to 8 how the alarm was cleared, rewritten to 9, 8 or 10 once
// the fault picture is labelled with it.
namespace AlarmCode {
enum : int {
    None = 0,
    NgWaiting = 3,
    NotDetected = 4,       // "Don't Detect": let pass without judging
    AddedAsTemplate = 5,
    SwitchedToMould = 6,   // re-detection switched to mould detection
    ReDetected = 7,
    ReDetectedOk = 8,      // re-detected and passed (OK picture labelled next)
    Labelled = 9,          // the NG picture carries how it was cleared
    OkLabelled = 10,       // the OK picture carries its label
    CameraLost = 11,       // the camera gave no picture for the step
};
// The code once the fault picture carries its label (a code without a
// label stays).
int afterLabel(int code);
}

struct CycleStatus {
    CycleStatus() = default;
    CycleStatus(const CycleStatus&) = delete;
    CycleStatus& operator=(const CycleStatus&) = delete;

    int runState = RunState::Stopped;
    int detectState = DetectState::Idle;
    int countState = CountState::Waiting;
    int safeDoorDetect = 0;    // set while a safety-door triggered detection is evaluated
    int runStep = 0;           // step of the running cycle, advanced modulo gDNum
    int detectStep = 0;        // step the engine works on (set by RunAlgorithm)
    int alarmCode[kMaxCamera * kMaxDetect] = {};  // camera * 8 + step; AlarmCode
    int reDetectMask[kMaxDetect] = {};            // per step, bit per camera
    bool manualDecision = false;
    bool ngPresent = false;
    // The NG latch file cannot be written (a full disk): an NG latched now
    // would be forgotten by a restart. The screen says so while it lasts.
    bool ngLatchUnkept = false;
    // Why the NG latched now was raised without a judgement (an operator
    // text, shown beside the pictures); empty for any other NG and once
    // the NG is resolved.
    QString ngNote;
    // The I/O board does not answer (an operator text while it lasts).
    QString boardNote;
    bool cycleOpen = false;             // a cycle started and its last step is not decided
    bool cycleFailed[kMaxCamera] = {};  // camera failed some step of this cycle
    bool cycleTrained = false;          // some step of the open cycle took a template
    QTimer countdownTimer[kMaxDetect];
    float countdownRemain[kMaxDetect] = {};

    // 1 while the open cycle has failed on `camera` (on any camera: -1) and
    // will count as an NG cycle when it closes; else 0. The cycle counters
    // take a cycle in only when it closes, so the screen adds this one.
    int openNgCycles(int camera = -1) const;
    // An NG cycle counter as the screen shows it: "3", or "3 (+1 open)".
    static QString ngCycleText(int counted, int open);
};
