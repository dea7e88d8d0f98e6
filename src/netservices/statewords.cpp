#include "statewords.h"

#include "winstate.h"

int runStatusWord()
{
    if (!gpState)
        return 0;
    return gpState->runState != RunState::Stopped ? 1 : 0;
}

int detectStatusWord()
{
    if (!gpState || gpState->detectState != DetectState::NgLatched)
        return 0;
    return gpState->runStep == 0 ? 1 : 2;
}
