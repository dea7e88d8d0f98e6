#include "statewords.h"

#include "rivurevezi.h"

int runStatusWord()
{
    if (!gpWin)
        return 0;
    return gpWin->runState != 3 ? 1 : 0;
}

int detectStatusWord()
{
    if (!gpWin || gpWin->detectState != 2)
        return 0;
    return gpWin->runStep == 0 ? 1 : 2;
}
