// The main window's part of the widget kit: the pads and shared boxes live on
// this window; the rights gates are the kit's.
#include "rivurevezi.h"

#include "widgetkit.h"

void RiVuRevezi::InitWidgetKit()
{
    ::InitWidgetKit(this);
}

int RiVuRevezi::CheckPassword()
{
    return ::CheckPassword();
}

int RiVuRevezi::CheckRoot()
{
    return ::CheckRoot();
}
