#include "mapplication.h"

#include "databases.h"
#include "screenlight.h"
#include "globals.h"
#include "platform.h"
#include "rivurevezi.h"
#include "sysword.h"
#include "tapguard.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QTouchEvent>

MApplication* MApplication::_instance = nullptr;

MApplication::MApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    _instance = this;
    ts_create = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    tscTimer_.setSingleShot(true);
    connect(&tscTimer_, &QTimer::timeout, this, &MApplication::TimerTsc);
}

MApplication::~MApplication()
{
    if (_instance == this)
        _instance = nullptr;
}

void MApplication::manualStopTscTimeup()
{
    tscTimer_.stop();
}

void MApplication::TimerTsc()
{
    // The screen was held for the whole long press: calibrate the touch
    // panel; the calibration program's result takes effect after a reboot.
    ts_calibrate = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    ++ts_calibrate_times;
    qInfo("touch calibration requested (%d)", ts_calibrate_times);
    Databases::get().FLushAll();
    StopWTD();
    platform::runner().runOnTarget(QStringLiteral("./tsc"), {}, 120000);
    platform::reboot();
}

bool MApplication::notify(QObject* receiver, QEvent* event)
{
    const QEvent::Type t = event->type();
    const bool press = t == QEvent::MouseButtonPress || t == QEvent::TouchBegin;
    if (press && receiver && receiver->isWidgetType()) {
        if (gpWin && ScreenLight::get().screenOff() == 1) {
            LCDOnOff(1);
            if (QTimer* timer = ScreenLight::get().screenOffTimer(); timer && sysWord(Word::ScreenOffSeconds) > 0)
                timer->start(sysWord(Word::ScreenOffSeconds) * 1000);
            // The waking touch presses nothing, and neither does the second
            // tap of a double tap on the dark screen, which Qt hands on as a
            // double click alone.
            if (t == QEvent::MouseButtonPress) {
                const auto* m = static_cast<QMouseEvent*>(event);
                tapguard::wakingTouch(m->globalPos(), m->timestamp(), true);
            } else if (const auto* touch = static_cast<QTouchEvent*>(event); !touch->touchPoints().isEmpty()) {
                tapguard::wakingTouch(touch->touchPoints().first().screenPos().toPoint(), touch->timestamp(), false);
            }
            return true;
        }
        if (ts_firstpress.isEmpty())
            ts_firstpress = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (!tscTimer_.isActive())
            tscTimer_.start(kTscPressMs);
    } else if (t == QEvent::MouseButtonRelease || t == QEvent::TouchEnd || t == QEvent::TouchCancel) {
        tscTimer_.stop();
    }
    return QApplication::notify(receiver, event);
}
