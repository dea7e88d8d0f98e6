#include "programroles.h"

#include "mouldcycle.h"

#include "screenlight.h"
#include "controlport.h"
#include "indexbutton.h"
#include "iostatus.h"
#include "mapplication.h"
#include "network.h"
#include "rivurevezi.h"
#include "sysword.h"
#include "viewwatch2ziz.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QTimer>

ProgramRoles::ProgramRoles(RiVuRevezi* win) : win_(win)
{
    CycleControl::install(this);
    ScreenChrome::install(this);
    MachineOutputs::install(this);
    OperatorDialogs::install(this);
}

ProgramRoles::~ProgramRoles()
{
    // Only the roles still ours go back to the defaults: a test may have
    // put its own in place for a while.
    if (&CycleControl::get() == this)
        CycleControl::install(nullptr);
    if (&ScreenChrome::get() == this)
        ScreenChrome::install(nullptr);
    if (&MachineOutputs::get() == this)
        MachineOutputs::install(nullptr);
    if (&OperatorDialogs::get() == this)
        OperatorDialogs::install(nullptr);
}

int ProgramRoles::paraWord(int n)
{
    return parametersLoaded ? sysWord(n) : CycleControl::paraWord(n);
}

void ProgramRoles::clearNg(int camera, int step, int how) { win_->mould->clearNg(camera, step, how); }
void ProgramRoles::reDetect(int step, int cameraMask) { win_->mould->reDetect(step, cameraMask); }
void ProgramRoles::decideByOperator() { win_->mould->decideByOperator(); }
void ProgramRoles::holdForReDetect(int step) { win_->mould->holdForReDetect(step); }
void ProgramRoles::pictureSourceChosen(int source) { win_->mould->pictureSourceChosen(source); }
void ProgramRoles::roiPageClosed() { win_->mould->leaveRegionSetting(); }
int ProgramRoles::runAlgorithm(int camera, int step) { return win_->RunAlgorithm(camera, step); }
void ProgramRoles::backTrain() { win_->BackTrain(); }
void ProgramRoles::resetRun() { win_->ResetRun(); }
void ProgramRoles::wordsAccepted() { win_->mould->wordsAccepted(); }

void ProgramRoles::afterCycle(std::function<void()> job)
{
    // Not inside the decision that closes the cycle: after it, from the
    // event loop.
    RiVuRevezi* win = win_;
    win_->mould->afterCycle([win, job = std::move(job)] { QTimer::singleShot(0, win, job); });
}
void ProgramRoles::lostCamera() { win_->LostCamera(); }
void ProgramRoles::changeCammer() { win_->ChangeCammer(); }

bool ProgramRoles::settingsVisible() { return win_->SettingsVisible(); }
void ProgramRoles::showhideHelp(bool show) { win_->showhideHelp(show); }
void ProgramRoles::showhideVersion(bool show) { win_->showhideVersion(show); }
void ProgramRoles::mScaleSetToMin() { win_->MScaleSetToMin(); }
void ProgramRoles::repaint() { win_->update(); }

void ProgramRoles::buttonBarCheck()
{
    if (win_->indexButton)
        win_->indexButton->checkShowHide();
}

bool ProgramRoles::buttonBarPress()
{
    if (!win_->indexButton)
        return false;
    if (win_->indexButton->isVisible()) {
        win_->indexButton->checkShowHide();
    } else if (!win_->SettingsVisible()) {
        win_->indexButton->setVisible(true);
        return true;
    }
    return false;
}

void ProgramRoles::ioStatusVisible(bool visible)
{
    if (win_->ioStatusWidget)
        win_->ioStatusWidget->setVisible(visible);
}

void ProgramRoles::stopTouchCalibration()
{
    if (MApplication::_instance)
        MApplication::_instance->manualStopTscTimeup();
}

void ProgramRoles::setOut(int n, int on)
{
    if (gpControlIO)
        gpControlIO->IOSetOut(n, on);
}

void ProgramRoles::flashOut()
{
    if (gpControlIO)
        gpControlIO->IOFlashOut();
}

void ProgramRoles::lcdOnOff(int on)
{
    if (parametersLoaded)
        LCDOnOff(on);
    else
        MachineOutputs::lcdOnOff(on);
}

void ProgramRoles::recordInserted(const QJsonObject& row)
{
    if (servicesUp)
        XAN_NETMN::getInstance()->agentLink->sndRecordOperate(row);
}

void ProgramRoles::roiJudged(const param_roi& roi)
{
    if (servicesUp)
        XAN_NETMN::getInstance()->putRoiResult(roi);
}

void ProgramRoles::templateListChanged(const QJsonObject& which)
{
    if (servicesUp)
        XAN_NETMN::getInstance()->agentLink->syncTempList(which);
    else
        MachineOutputs::templateListChanged(which);
}

void ProgramRoles::cycleStarted()
{
    if (servicesUp)
        XAN_NETMN::getInstance()->start_PeriodRecord();
}

void ProgramRoles::cycleStepDone(int, bool)
{
    if (servicesUp)
        XAN_NETMN::getInstance()->finish_PeriodRecord();
}

void ProgramRoles::detectStopped()
{
    if (servicesUp)
        XAN_NETMN::getInstance()->clearCycle();
}

void ProgramRoles::alarmStarted(int step)
{
    if (servicesUp)
        XAN_NETMN::getInstance()->agentLink->sndAlarmStartTiming(step);
}

void ProgramRoles::alarmCleared(const QVector<QPair<int, int>>& kinds)
{
    if (!servicesUp)
        return;
    ViewWatch2ZIZ* link = XAN_NETMN::getInstance()->agentLink;
    link->alarmBeingCleared();
    for (const auto& k : kinds)
        link->addClearMethod(k.first, k.second);
    link->sndAlarmFinishTiming();
}

QByteArray ProgramRoles::operatorPassword()
{
    if (!parametersLoaded)
        return OperatorDialogs::operatorPassword();
    return gpWPara ? QByteArray(gpWPara->password) : QByteArray();
}

void ProgramRoles::parameterWarning(const QString& text)
{
    if (showParameterWarnings && gpWarnBox)
        KitDialogs::warn(text);
}
