#include "cyclestatus.h"

#include "lanstr.h"

int AlarmCode::afterLabel(int code)
{
    switch (code) {
    case NotDetected:
    case AddedAsTemplate:
    case SwitchedToMould:
        return Labelled;
    case ReDetected:
        return ReDetectedOk;
    case ReDetectedOk:
        return OkLabelled;
    default:
        return code;
    }
}

int CycleStatus::openNgCycles(int camera) const
{
    if (!cycleOpen || cycleTrained)
        return 0;
    if (camera >= 0)
        return camera < kMaxCamera && cycleFailed[camera] ? 1 : 0;
    for (bool failed : cycleFailed)
        if (failed)
            return 1;
    return 0;
}

QString CycleStatus::ngCycleText(int counted, int open)
{
    const QString text = QString::number(counted);
    return open > 0 ? text + QLatin1Char(' ') + lanStr(712).arg(open) : text;
}
