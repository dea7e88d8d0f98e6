// The screen's light. LCDOnOff switches it and is the only writer of the
// screen-off state; the main window installs the timer that darkens the
// screen after the idle time (parameter word ScreenOffSeconds) and a message
// box or a touch lights it again. GUI thread only.
#pragma once

#include <QPointer>
#include <QTimer>

class ScreenLight {
public:
    // The process-wide screen light.
    static ScreenLight& get();

    // Back to the state of a freshly opened window: lit, no timer.
    void reset();

    int screenOff() const { return screenOff_; }   // non-zero while the screen is dark
    // Darkens the screen when it runs out; null until the main window
    // installs it (it owns the timer: a destroyed timer reads as null).
    QTimer* screenOffTimer() const { return screenOffTimer_; }

    void setScreenOff(int off) { screenOff_ = off; }
    void setScreenOffTimer(QTimer* timer) { screenOffTimer_ = timer; }

private:
    ScreenLight() = default;
    ScreenLight(const ScreenLight&) = delete;
    ScreenLight& operator=(const ScreenLight&) = delete;

    int screenOff_ = 0;
    QPointer<QTimer> screenOffTimer_;
};

// 1 lights the screen, 0 darkens it: the backlight of a panel PC (kernel 6
// "-generic"), else the LED driver's LCD switch; the screen-off state follows.
void LCDOnOff(int on);
