// The main window in the four roles the libraries below it call up through:
// its cycle, its screen furniture, the machine outputs and the operator's
// boxes (the widget kit's shared ones). Made and installed once by the main window's constructor, removed
// again by its destructor.
//
// The parameter words, the password and the screen switch answer as the
// defaults do until the start-up has loaded the parameters, and parameter
// warnings are only logged until then; the agent hears of record rows only
// once the start-up has brought the network services up.
#pragma once

#include "cyclecontrol.h"
#include "kitdialogs.h"
#include "machineoutputs.h"
#include "screenchrome.h"

#include <atomic>

class RiVuRevezi;

class ProgramRoles : public CycleControl, public ScreenChrome, public MachineOutputs, public KitDialogs {
public:
    explicit ProgramRoles(RiVuRevezi* win);
    ~ProgramRoles() override;
    ProgramRoles(const ProgramRoles&) = delete;
    ProgramRoles& operator=(const ProgramRoles&) = delete;

    bool parametersLoaded = false;   // set by the start-up after the parameter load
    bool showParameterWarnings = false;  // set by the start-up at the same time
    // Set by the start-up once the network services run; read by the
    // engine's worker threads too (judged ROIs).
    std::atomic<bool> servicesUp{false};

    // CycleControl
    int paraWord(int n) override;
    void clearNg(int camera, int step, int how) override;
    void reDetect(int step, int cameraMask) override;
    void decideByOperator() override;
    void holdForReDetect(int step) override;
    void pictureSourceChosen(int source) override;
    void roiPageClosed() override;
    int runAlgorithm(int camera, int step) override;
    void backTrain() override;
    void resetRun() override;
    void wordsAccepted() override;
    void afterCycle(std::function<void()> job) override;
    void lostCamera() override;
    void changeCammer() override;

    // ScreenChrome
    bool settingsVisible() override;
    void showhideHelp(bool show) override;
    void showhideVersion(bool show) override;
    void mScaleSetToMin() override;
    void repaint() override;
    void buttonBarCheck() override;
    bool buttonBarPress() override;
    void ioStatusVisible(bool visible) override;
    void stopTouchCalibration() override;

    // MachineOutputs
    void setOut(int n, int on) override;
    void flashOut() override;
    void lcdOnOff(int on) override;
    void recordInserted(const QJsonObject& row) override;
    void roiJudged(const param_roi& roi) override;
    void templateListChanged(const QJsonObject& which) override;
    void cycleStarted() override;
    void cycleStepDone(int step, bool ok) override;
    void detectStopped() override;
    void alarmStarted(int step) override;
    void alarmCleared(const QVector<QPair<int, int>>& kinds) override;

    // OperatorDialogs
    QByteArray operatorPassword() override;
    void parameterWarning(const QString& text) override;

private:
    RiVuRevezi* win_;
};
