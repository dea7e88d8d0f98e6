#include "kitlinks.h"

#include <QtGlobal>

namespace kitlinks {

namespace {
Links& links()
{
    static Links l;
    return l;
}

template <typename F, typename... A>
void call(const F& f, A... a)
{
    if (f)
        f(a...);
}
}  // namespace

void install(const Links& l) { links() = l; }
void reset() { links() = Links(); }
Links current() { return links(); }

int paraWord(int n)
{
    return links().paraWord ? links().paraWord(n) : 0;
}

QByteArray operatorPassword()
{
    return links().operatorPassword ? links().operatorPassword() : QByteArray();
}

void lcdOnOff(int on)
{
    if (links().lcdOnOff)
        links().lcdOnOff(on);
    else
        qWarning("widget kit: no screen switch connected (LCDOnOff %d ignored)", on);
}

void ioSetOut(int n, int on)
{
    if (links().ioSetOut)
        links().ioSetOut(n, on);
    else
        qWarning("widget kit: no I/O board connected (IOSetOut %d %d ignored)", n, on);
}

void ioFlashOut()
{
    if (links().ioFlashOut)
        links().ioFlashOut();
    else
        qWarning("widget kit: no I/O board connected (IOFlashOut ignored)");
}

void checkNG(bool manual) { call(links().checkNG, manual); }
int runAlgorithm(int camera, int step)
{
    return links().runAlgorithm ? links().runAlgorithm(camera, step) : 0;
}
void backTrain() { call(links().backTrain); }
void resetRun() { call(links().resetRun); }
void lostCamera() { call(links().lostCamera); }
void changeCammer() { call(links().changeCammer); }
bool settingsVisible() { return links().settingsVisible && links().settingsVisible(); }
void showhideHelp(bool show) { call(links().showhideHelp, show); }
void showhideVersion(bool show) { call(links().showhideVersion, show); }
void mScaleSetToMin() { call(links().mScaleSetToMin); }
void repaint() { call(links().repaint); }
void buttonBarCheck() { call(links().buttonBarCheck); }
bool buttonBarPress() { return links().buttonBarPress && links().buttonBarPress(); }
void ioStatusVisible(bool visible) { call(links().ioStatusVisible, visible); }
void stopTouchCalibration() { call(links().stopTouchCalibration); }
void recordInserted(const QJsonObject& row)
{
    if (links().recordInserted)
        links().recordInserted(row);
}

}  // namespace kitlinks
