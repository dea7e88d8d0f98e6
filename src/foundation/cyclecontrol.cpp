#include "cyclecontrol.h"

namespace {
CycleControl*& installed()
{
    static CycleControl* cycle = nullptr;
    return cycle;
}
}  // namespace

int CycleControl::paraWord(int) { return 0; }
void CycleControl::clearNg(int, int, int) {}
void CycleControl::reDetect(int, int) {}
void CycleControl::decideByOperator() {}
void CycleControl::holdForReDetect(int) {}
void CycleControl::pictureSourceChosen(int) {}
void CycleControl::roiPageClosed() {}
int CycleControl::runAlgorithm(int, int) { return 0; }
void CycleControl::backTrain() {}
void CycleControl::resetRun() {}
void CycleControl::wordsAccepted() {}
void CycleControl::afterCycle(std::function<void()> job)
{
    if (job)
        job();
}
void CycleControl::lostCamera() {}
void CycleControl::changeCammer() {}

CycleControl& CycleControl::get()
{
    static CycleControl defaults;
    return installed() ? *installed() : defaults;
}

CycleControl* CycleControl::install(CycleControl* cycle)
{
    CycleControl* replaced = installed();
    installed() = cycle;
    return replaced;
}
