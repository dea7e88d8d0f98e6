#include "machineoutputs.h"

#include <QtGlobal>

namespace {
MachineOutputs*& installed()
{
    static MachineOutputs* outputs = nullptr;
    return outputs;
}
}  // namespace

void MachineOutputs::setOut(int n, int on)
{
    qWarning("widget kit: no I/O board connected (IOSetOut %d %d ignored)", n, on);
}

void MachineOutputs::flashOut()
{
    qWarning("widget kit: no I/O board connected (IOFlashOut ignored)");
}

void MachineOutputs::lcdOnOff(int on)
{
    qWarning("widget kit: no screen switch connected (LCDOnOff %d ignored)", on);
}

void MachineOutputs::recordInserted(const QJsonObject&) {}
void MachineOutputs::roiJudged(const param_roi&) {}
void MachineOutputs::templateListChanged(const QJsonObject&)
{
    qInfo("no link to the companion program; template list change not sent");
}
void MachineOutputs::cycleStarted() {}
void MachineOutputs::cycleStepDone(int, bool) {}
void MachineOutputs::detectStopped() {}
void MachineOutputs::alarmStarted(int) {}
void MachineOutputs::alarmCleared(const QVector<QPair<int, int>>&) {}

MachineOutputs& MachineOutputs::get()
{
    static MachineOutputs defaults;
    return installed() ? *installed() : defaults;
}

MachineOutputs* MachineOutputs::install(MachineOutputs* outputs)
{
    MachineOutputs* replaced = installed();
    installed() = outputs;
    return replaced;
}
