#include "sysword.h"

#include "globals.h"
#include "wizardpara.h"

int sysWord(int n)
{
    if (!gpWPara || n < 0 || n >= kParaWords)
        return 0;
    return gpWPara->words[n];
}
