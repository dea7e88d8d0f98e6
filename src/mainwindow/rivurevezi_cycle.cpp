#include "rivurevezi.h"
#include "controlport.h"

void RiVuRevezi::Run()
{
    touchRunStamp();
}
