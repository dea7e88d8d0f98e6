// The program's outputs watched by a test: installed for the object's life,
// then the outputs it replaced come back. Each hook left empty hands the
// call on to the replaced outputs (or the defaults).
#pragma once

#include "machineoutputs.h"

#include <QJsonObject>

#include <functional>

class ScriptedOutputs : public MachineOutputs {
public:
    ScriptedOutputs() : replaced_(MachineOutputs::install(this)) {}
    ~ScriptedOutputs() override { MachineOutputs::install(replaced_); }
    ScriptedOutputs(const ScriptedOutputs&) = delete;
    ScriptedOutputs& operator=(const ScriptedOutputs&) = delete;

    std::function<void(const param_roi&)> onRoiJudged;   // may run on worker threads
    std::function<void(const QJsonObject&)> onTemplateListChanged;
    std::function<void(int, bool)> onCycleStepDone;

    void roiJudged(const param_roi& roi) override
    {
        if (onRoiJudged)
            onRoiJudged(roi);
        else
            next().roiJudged(roi);
    }
    void templateListChanged(const QJsonObject& which) override
    {
        if (onTemplateListChanged)
            onTemplateListChanged(which);
        else
            next().templateListChanged(which);
    }
    void cycleStepDone(int step, bool ok) override
    {
        if (onCycleStepDone)
            onCycleStepDone(step, ok);
        next().cycleStepDone(step, ok);   // watched, not replaced
    }

    void setOut(int n, int on) override { next().setOut(n, on); }
    void flashOut() override { next().flashOut(); }
    void lcdOnOff(int on) override { next().lcdOnOff(on); }
    void recordInserted(const QJsonObject& row) override { next().recordInserted(row); }
    void cycleStarted() override { next().cycleStarted(); }
    void detectStopped() override { next().detectStopped(); }
    void alarmStarted(int step) override { next().alarmStarted(step); }
    void alarmCleared(const QVector<QPair<int, int>>& kinds) override { next().alarmCleared(kinds); }

private:
    MachineOutputs& next() { return replaced_ ? *replaced_ : defaults_; }
    MachineOutputs* replaced_;
    MachineOutputs defaults_;
};
