// The main window's part of the widget kit: the pads and shared boxes it
// owns, and the gates that ask for a rights level.
#include "rivurevezi.h"

#include "kitlinks.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "warnbox.h"

#include <QEvent>

namespace {
template <typename T>
void clearWhenDestroyed(T*& global)
{
    T* box = global;
    QObject::connect(box, &QObject::destroyed, [&global, box] {
        if (global == box)
            global = nullptr;
    });
}
}  // namespace

void RiVuRevezi::InitWidgetKit()
{
    ensurePads();
    if (!gpWarnBox)
        gpWarnBox = new WarnBox(this);
    if (!gpChooseBox)
        gpChooseBox = new ChooseBox(this, 750, 370);
    if (!gpPasswordBox)
        gpPasswordBox = new PasswordBox(this);
    if (!gpProductAlarmWarnBox)
        gpProductAlarmWarnBox = new ProductAlarmWarnBox(this);
    if (!gpLostCameraWarnBox)
        gpLostCameraWarnBox = new LostCameraWarnBox(this);
    // The boxes live as long as this window; the globals must not outlive it.
    clearWhenDestroyed(gpWarnBox);
    clearWhenDestroyed(gpChooseBox);
    clearWhenDestroyed(gpPasswordBox);
    clearWhenDestroyed(gpProductAlarmWarnBox);
    clearWhenDestroyed(gpLostCameraWarnBox);
    // Every accepted password starts the rights' time afresh.
    connect(gpPasswordBox, &QDialog::accepted, this, &RiVuRevezi::StartLogoutTimer, Qt::UniqueConnection);
    installEventFilter(this);
}

int RiVuRevezi::CheckPassword()
{
    if (kitlinks::paraWord(98) == 0)
        return 1;
    if (rightsLevel != 0)
        return rightsLevel;
    if (!gpPasswordBox) {
        qWarning("CheckPassword: no password box; refused");
        return 0;
    }
    gpPasswordBox->exec();
    return rightsLevel;
}

int RiVuRevezi::CheckRoot()
{
    if (rightsLevel == 2)
        return 1;
    if (!gpPasswordBox) {
        qWarning("CheckRoot: no password box; refused");
        return 0;
    }
    gpPasswordBox->exec();
    return rightsLevel == 2 ? 1 : 0;
}

bool RiVuRevezi::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (gpNumPad && gpNumPad != watched && gpNumPad->isVisible())
            gpNumPad->hide();
        if (gpNumCharPad && gpNumCharPad != watched && gpNumCharPad->isVisible())
            gpNumCharPad->hide();
    }
    return QWidget::eventFilter(watched, event);
}
