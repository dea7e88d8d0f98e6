#include "sysword.h"
#include "globals.h"

int sysWord(int n)
{
    (void)n;
    return 0;
}
