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
// Where older code or notes read the main window directly, each piece of
// state now has one owner:
//   gpWin->runState, detectState, countState, safeDoorDetect, runStep,
//     detectStep, alarmCode[], reDetectMask[], manualDecision, ngPresent
//                                           -> gpState->... (same names)
//   gpWin->countdownTimer[], countdownRemain[] -> gpState->... (same names)
//   gpWin->currentCamera, currentDetect, zoom, panX, panY, sizeHintTimer,
//     buttonBarTimer, grayTable           -> EditSession::get().currentCamera(), ...
//                                              (camera, editsession.h); the
//                                              main window sets them
//   gpWin->cammerWidget[c]                  -> CameraViews::at(c) (camera,
//                                              cameraviews.h; the main window
//                                              fills it with CameraViews::set)
//   gpWin->ngDir[], okDir[]                 -> CameraViews::pictureFolder(c, d, ok)
//   gpWin->screenOff, screenOffTimer        -> ScreenLight::get().screenOff(), ...
//                                              (widgets, screenlight.h, with
//                                              LCDOnOff, its writer)
//   gpWin->rightsLevel                      -> OperatorRights::get().rightsLevel()
//                                              (widgets, operatorrights.h); the
//                                              foundation reads it through
//                                              OperatorDialogs::get().rightsLevel()
//   gpWin->currentEdit                      -> Edit::currentEdit() (widgets)
//   gpWin->drawMode, copyArea, handDraw, lastPressX/Y, pickX/Y/Value
//                                           -> EditSession::get().drawMode(), ...
//                                              (camera, editsession.h)
//   gpWin as a parent widget                -> gpState->mainWidget
//   gpWin->paramDb, paramQuery, recordDb, recordStore
//                                           -> Databases::get().paramDb(), ...
//                                              (foundation, databases.h;
//                                              installed by the main window)
//   gpWin->InsertRecord, CountWrite, FLushAll -> Databases::get().InsertRecord, ...
//   gpWin->CheckNG, RunAlgorithm, BackTrain, ResetRun, LostCamera,
//     ChangeCammer, gpWPara->words[n] from the widget kit
//                                           -> CycleControl::get().checkNG, ...
//     runAlgorithm, backTrain, resetRun, lostCamera, changeCammer, paraWord
//   gpWin->SettingsVisible, showhideHelp, showhideVersion, MScaleSetToMin,
//     update(), indexButton->checkShowHide(), ioStatusWidget->setVisible
//                                           -> ScreenChrome::get().settingsVisible,
//     showhideHelp, showhideVersion, mScaleSetToMin, repaint, buttonBarCheck,
//     buttonBarPress (a press on a camera view), ioStatusVisible
//   gpWin->updateMScale(x, y)               -> viewutil::updateMScale(x, y) (camera)
//   gpControlIO->IOSetOut / IOFlashOut      -> MachineOutputs::get().setOut / flashOut
//   gpWin->CheckPassword, CheckRoot, InitWidgetKit
//                                           -> CheckPassword(), CheckRoot(),
//                                              InitWidgetKit(window) (widgetkit.h)
// The engine's reach into its camera view (view->captureFrame, templates,
// roiPassed, ...) is CamBuffers (detection, cambuffers.h), the view's base;
// view->update() there is CamBuffers::requestRepaint(). The globals typed by
// a higher library are declared with their class: gpWin (rivurevezi.h),
// gpControlIO (controlport.h), gpWPara/gpWParaBak (wizardpara.h),
// gpWarnBox/gpChooseBox (warnbox.h), gpPasswordBox (passwordbox.h),
// g_splashframe (publictools_widget.h). RecordStore is the foundation's.
#pragma once

#include "globals.h"

#include <QString>
#include <QTimer>

class QWidget;

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
}

struct WinState {
    WinState() = default;
    WinState(const WinState&) = delete;
    WinState& operator=(const WinState&) = delete;
    ~WinState() = default;

    // ---- Cycle state ----------------------------------------------------
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
    bool cycleOpen = false;             // a cycle started and its last step is not decided
    bool cycleFailed[kMaxCamera] = {};  // camera failed some step of this cycle
    bool cycleTrained = false;          // some step of the open cycle took a template
    // 1 while the open cycle has failed on `camera` (on any camera: -1) and
    // will count as an NG cycle when it closes; else 0. The cycle counters
    // take a cycle in only when it closes, so the screen adds this one.
    int openNgCycles(int camera = -1) const;
    // An NG cycle counter as the screen shows it: "3", or "3 (+1 open)".
    static QString ngCycleText(int counted, int open);

    // ---- Step countdowns ------------------------------------------------------
    QTimer countdownTimer[kMaxDetect];
    float countdownRemain[kMaxDetect] = {};

    // ---- The main window as a widget -----------------------------------------
    QWidget* mainWidget = nullptr;         // the main window: parent of boxes opened below it
};

// The main window's state while it exists (tests: a WinState of their own).
extern WinState* gpState;
