// Word n of the live system parameters, 0 while they are not loaded; n is a
// name of the word catalogue (word.h).
#pragma once

#include "word.h"

int sysWord(int n);
