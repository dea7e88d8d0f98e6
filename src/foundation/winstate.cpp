#include "winstate.h"

WinState* gpState = nullptr;
