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
//     detectStep, alarmCode[], reDetectMask[], manualDecision, ngPresent,
//     countdownTimer[], countdownRemain[]
//                                           -> gpState->cycle()... (same names,
//                                              read only; cyclestatus.h)
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
//                                           -> CycleControl::get().decideByOperator,
//     runAlgorithm, backTrain, resetRun, lostCamera, changeCammer, paraWord;
//     the ROI page's writes of alarm codes, the re-detect mask and the
//     detect state -> CycleControl::get().clearNg, reDetect, roiPageClosed
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
