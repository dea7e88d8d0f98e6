// What the libraries below the main window ask of the detection cycle it
// runs: the live system parameter words, the operator's decisions, a run of one step, the
// return from training, a reset, a lost camera and a camera switch.
//
// The main window installs itself once when it is built; until then every
// word reads 0 and the operations do nothing. Tests install their own.
#pragma once

#include "word.h"

#include <functional>

class CycleControl {
public:
    virtual ~CycleControl() = default;

    // Word n of the live system parameter record (0 before it is loaded).
    virtual int paraWord(int n);
    // The operator's decisions on a latched NG, which the cycle applies to
    // its status. clearNg: camera's NG of `step`, if it waits for the
    // operator, is cleared `how` (AlarmCode::NotDetected, AddedAsTemplate,
    // ReDetected). reDetect: `step` is judged again on the cameras of
    // `cameraMask` (bit per camera). decideByOperator: the step is decided
    // now on the verdicts the cameras hold (a manual decision).
    virtual void clearNg(int camera, int step, int how);
    virtual void reDetect(int step, int cameraMask);
    virtual void decideByOperator();
    // The operator asked for `step` to be judged again: the machine waits
    // for the new verdict (sent before the engines run).
    virtual void holdForReDetect(int step);
    // The operator chose what the ROI page shows (PictureSource).
    virtual void pictureSourceChosen(int source);
    // The ROI page closed without an NG waiting: detection is idle again.
    virtual void roiPageClosed();
    // Runs the engine of `camera` on `step`; 0 without a main window.
    virtual int runAlgorithm(int camera, int step);
    // The ROI page's return after a training run.
    virtual void backTrain();
    virtual void resetRun();
    // The settings screen accepted new system words: the cycle drops the
    // steps they disabled and holds those they enabled at once.
    virtual void wordsAccepted();
    // Runs `job` once the open cycle has closed (at once when none is open,
    // and without a main window); a later job replaces one still waiting.
    virtual void afterCycle(std::function<void()> job);
    // A camera view lost its camera for good.
    virtual void lostCamera();
    // The shown camera (gpState->currentCamera) changed.
    virtual void changeCammer();

    // The installed cycle, else the defaults above.
    static CycleControl& get();
    // Installs `cycle` (nullptr: the defaults); returns the one replaced.
    static CycleControl* install(CycleControl* cycle);
};
