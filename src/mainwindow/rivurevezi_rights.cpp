// The main window's part of the widget kit: the pads and shared boxes live on
// this window; the rights gates are the kit's.
#include "rivurevezi.h"

#include "passwordbox.h"
#include "widgetkit.h"

void RiVuRevezi::InitWidgetKit()
{
    ::InitWidgetKit(this);
    // Every accepted password starts the rights' time afresh.
    if (gpPasswordBox)
        connect(gpPasswordBox, &QDialog::accepted, this, &RiVuRevezi::StartLogoutTimer, Qt::UniqueConnection);
}

int RiVuRevezi::CheckPassword()
{
    return ::CheckPassword();
}

int RiVuRevezi::CheckRoot()
{
    return ::CheckRoot();
}
