#include "winstate.h"

#include "lanstr.h"

WinState* gpState = nullptr;

int WinState::openNgCycles(int camera) const
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

QString WinState::ngCycleText(int counted, int open)
{
    const QString text = QString::number(counted);
    return open > 0 ? text + QLatin1Char(' ') + lanStr(712).arg(open) : text;
}
