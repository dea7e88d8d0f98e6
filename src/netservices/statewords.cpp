#include "statewords.h"

#include "winstate.h"

int runStatusWord()
{
    if (!gpState)
        return 0;
    return gpState->cycle().runState != RunState::Stopped ? 1 : 0;
}

int detectStatusWord()
{
    if (!gpState || gpState->cycle().detectState != DetectState::NgLatched)
        return 0;
    return gpState->cycle().runStep == 0 ? 1 : 2;
}
