// Word n of the live system parameters, 0 while they are not loaded.
#pragma once
int sysWord(int n);
