// The main window's part of the widget kit: the pads and shared boxes live on
// this window; the rights gates are the kit's.
#include "rivurevezi.h"

#include "drawroiwidget.h"
#include "passwordbox.h"
#include "widgetkit.h"

#include <QEvent>

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

// The ROI page's column follows the page (shown or moved), and closing the
// page brings back the view the operator had.
bool RiVuRevezi::eventFilter(QObject* watched, QEvent* event)
{
    if (drawROIWidget && watched == drawROIWidget) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
            ChangeCammer();
            break;
        case QEvent::Hide:
            RestoreViewAfterRoiPage();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
