#include "widgetkit.h"

#include "cyclecontrol.h"
#include "numberinput.h"
#include "operatorrights.h"
#include "passwordbox.h"
#include "tapguard.h"
#include "warnbox.h"
#include "winstate.h"

#include <QEvent>
#include <QWidget>

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

// A press anywhere on the window puts a shown pad away (not a press on the
// pad itself).
class PadHider : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            if (gpNumPad && gpNumPad != watched && gpNumPad->isVisible())
                gpNumPad->hide();
            if (gpNumCharPad && gpNumCharPad != watched && gpNumCharPad->isVisible())
                gpNumCharPad->hide();
        }
        return false;
    }
};
}  // namespace

void InitWidgetKit(QWidget* window)
{
    ensurePads();
    if (!gpWarnBox)
        gpWarnBox = new WarnBox(window);
    if (!gpChooseBox)
        gpChooseBox = new ChooseBox(window, 750, 370);
    if (!gpPasswordBox)
        gpPasswordBox = new PasswordBox(window);
    if (!gpProductAlarmWarnBox)
        gpProductAlarmWarnBox = new ProductAlarmWarnBox(window);
    if (!gpLostCameraWarnBox)
        gpLostCameraWarnBox = new LostCameraWarnBox(window);
    // The boxes live as long as the window; the globals must not outlive it.
    clearWhenDestroyed(gpWarnBox);
    clearWhenDestroyed(gpChooseBox);
    clearWhenDestroyed(gpPasswordBox);
    clearWhenDestroyed(gpProductAlarmWarnBox);
    clearWhenDestroyed(gpLostCameraWarnBox);
    window->installEventFilter(new PadHider(window));
    // Every dialog and box that closes hands its place back only after the
    // second tap of a double tap has passed.
    tapguard::install();
}

int CheckPassword()
{
    if (CycleControl::get().paraWord(Word::PasswordUsed) == 0)
        return 1;
    const int held = OperatorRights::get().rightsLevel();
    if (held != 0)
        return held;
    if (!gpPasswordBox) {
        qWarning("CheckPassword: no password box; refused");
        return 0;
    }
    gpPasswordBox->exec();
    return OperatorRights::get().rightsLevel();
}

int CheckRoot()
{
    if (OperatorRights::get().rightsLevel() == 2)
        return 1;
    if (!gpPasswordBox) {
        qWarning("CheckRoot: no password box; refused");
        return 0;
    }
    gpPasswordBox->exec();
    return (OperatorRights::get().rightsLevel() == 2) ? 1 : 0;
}
