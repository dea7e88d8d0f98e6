// What the moulding cycle reports to the network services: the cycle
// opened, a step decided, an alarm raised, an alarm cleared, detection
// stopped.
#pragma once

#include <QPair>
#include <QVector>

class CycleReports {
public:
    virtual ~CycleReports() = default;
    virtual void cycleStarted() = 0;
    virtual void stepDone(int step, bool ok) = 0;
    virtual void alarmStarted(int step) = 0;
    // How the operator cleared the alarm: {camera, AlarmCode 4-8} of each
    // camera the decision concerned.
    virtual void alarmCleared(const QVector<QPair<int, int>>& kinds) = 0;
    virtual void detectStopped() = 0;
};
