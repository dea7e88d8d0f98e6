// The state that the subsystems below the main window read and write, and
// the record, counter and flush operations that need nothing but this state.
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
// Where older code or notes read the main window directly:
//   gpWin->runState, detectState, countState, safeDoorDetect, runStep,
//     detectStep, alarmCode[], reDetectMask[], manualDecision, ngPresent,
//     countdownTimer[], countdownRemain[]
//                                           -> gpState->cycle()... (same names,
//                                              read only; cyclestatus.h)
//   gpWin->currentCamera, currentDetect, zoom, panX, panY,
//     sizeHintTimer, buttonBarTimer, grayTable
//                                           -> gpState->... (same names)
//   gpWin->screenOff, screenOffTimer        -> gpState->... (same names)
//   gpWin->rightsLevel                      -> OperatorRights::get().rightsLevel()
//                                              (widgets, operatorrights.h); the
//                                              foundation reads it through
//                                              OperatorDialogs::get().rightsLevel()
//   gpWin->currentEdit                      -> Edit::currentEdit() (widgets)
//   gpWin->drawMode, copyArea, handDraw, lastPressX/Y, pickX/Y/Value
//                                           -> EditSession::get().drawMode(), ...
//                                              (camera, editsession.h)
//   gpWin->cammerWidget[], ngDir[], okDir[] -> gpState->... (same names)
//   gpWin as a parent widget                -> gpState->mainWidget
//   gpWin->paramDb, paramQuery, recordDb, recordStore
//                                           -> gpState->... (same names)
//   gpWin->InsertRecord, CountWrite, FLushAll -> gpState->... (same names)
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

#include <QDir>
#include <QPointer>
#include <QRgb>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>
#include <QVector>

class QSqlQuery;
class QWidget;
class CammerWidget;
class RecordStore;

struct WinState {
    WinState() = default;
    WinState(const WinState&) = delete;
    WinState& operator=(const WinState&) = delete;
    ~WinState() = default;

    // The cycle's status, for reading; only its owner writes it.
    const CycleStatus& cycle() const { return cycle_; }

    // ---- View and editing state -------------------------------------------
    int currentCamera = 0;     // equals numCamera while all cameras are shown tiled
    int currentDetect = 0;     // step whose ROIs are shown and edited
    double zoom = 1.0;
    double panX = 0.0;
    double panY = 0.0;
    QTimer* sizeHintTimer = nullptr;   // parameter sliders start it for 3000 ms
    // Hides the button bar when it runs out; every press on a camera view
    // restarts it at 120000 ms (null: no hiding).
    QTimer* buttonBarTimer = nullptr;
    QVector<QRgb> grayTable;           // entry i = opaque grey i

    // ---- Screen ---------------------------------------------------------------
    // The screen-off state stays here: LCDOnOff (foundation) writes it.
    int screenOff = 0;         // non-zero while the screen is dark
    QTimer* screenOffTimer = nullptr;

    // ---- Camera views and their picture folders ------------------------------
    QWidget* mainWidget = nullptr;         // the main window: parent of boxes opened below it
    CammerWidget* cammerWidget[kMaxCamera] = {};
    QDir ngDir[kMaxCamera * kMaxDetect];   // ./alarmimage/camera<c>/detect<d>/NG
    QDir okDir[kMaxCamera * kMaxDetect];   // ./alarmimage/camera<c>/detect<d>/OK

    // ---- Databases ----------------------------------------------------------
    QSqlDatabase paramDb;              // PARAM.db, connection "dbIn"
    QSqlQuery* paramQuery = nullptr;   // every parameter statement runs through it
    QSqlDatabase recordDb;             // RECORD.db, the operation record of the day
    RecordStore* recordStore = nullptr; // owns recordDb and its day rollover

    // Appends one row to table RECORD: time "hh.mm.ss", the signed-in rights
    // level's text, the remark and the type.
    void InsertRecord(QString remarks, QString recordtype = QString());
    // Writes the six counters to count.ini.
    void CountWrite();
    // Closes the SQLite connections and waits 500 ms (before power-off/reboot).
    void FLushAll();

protected:
    // Written by the cycle alone (the main window hands it to its
    // MouldCycle; in the tests of the libraries below it, the test's
    // stand-in sets its case up).
    CycleStatus cycle_;
};

// The main window's state while it exists (tests: a WinState of their own).
extern WinState* gpState;
