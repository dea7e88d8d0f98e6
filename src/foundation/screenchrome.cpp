#include "screenchrome.h"

namespace {
ScreenChrome*& installed()
{
    static ScreenChrome* chrome = nullptr;
    return chrome;
}
}  // namespace

bool ScreenChrome::settingsVisible() { return false; }
void ScreenChrome::showhideHelp(bool) {}
void ScreenChrome::showhideVersion(bool) {}
void ScreenChrome::mScaleSetToMin() {}
void ScreenChrome::repaint() {}
void ScreenChrome::buttonBarCheck() {}
bool ScreenChrome::buttonBarPress() { return false; }
void ScreenChrome::ioStatusVisible(bool) {}
void ScreenChrome::stopTouchCalibration() {}

ScreenChrome& ScreenChrome::get()
{
    static ScreenChrome defaults;
    return installed() ? *installed() : defaults;
}

ScreenChrome* ScreenChrome::install(ScreenChrome* chrome)
{
    ScreenChrome* replaced = installed();
    installed() = chrome;
    return replaced;
}
