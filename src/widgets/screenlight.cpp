#include "screenlight.h"

#include "globals.h"
#include "platform.h"

#include <QRegularExpression>

namespace {
constexpr unsigned long kLcdOn = 0x5A018B00UL;
constexpr unsigned long kLcdOff = 0x5A018A00UL;
}  // namespace

ScreenLight& ScreenLight::get()
{
    static ScreenLight light;
    return light;
}

void ScreenLight::reset()
{
    screenOff_ = 0;
    screenOffTimer_ = nullptr;
}

void LCDOnOff(int on)
{
    static const QRegularExpression kernel(QStringLiteral("^Linux version 6.\\d+\\.\\d+-\\d+-generic*"));
    const bool matched = kernel.match(linux_kernel_proc_version).hasMatch();
    qInfo("LCDOnOff isOn %d %s", on, matched ? "true" : "false");
    if (matched) {
        const QString cmd = on ? QStringLiteral("echo 0 > /sys/class/backlight/intel_backlight/bl_power")
                               : QStringLiteral("echo 1 > /sys/class/backlight/intel_backlight/bl_power");
        platform::runner().runOnTarget(QStringLiteral("bash"), {QStringLiteral("-c"), cmd}, 5000);
    } else if (gfLED >= 0) {
        platform::ledIoctl(gfLED, on ? kLcdOn : kLcdOff, 0);
    }
    ScreenLight::get().setScreenOff(on ? 0 : 1);
}
