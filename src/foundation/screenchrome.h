// The main window's furniture around the camera views, as the pages and
// fields below it switch it: the button bar, the help and version labels,
// the zoom, the I/O status panel, the repaint, and the touch calibration a
// long press may have started.
//
// The main window installs itself once when it is built; until then every
// call does nothing and every question answers false. Tests install their own.
#pragma once

class ScreenChrome {
public:
    virtual ~ScreenChrome() = default;

    // The settings screen is shown.
    virtual bool settingsVisible();
    virtual void showhideHelp(bool show);
    virtual void showhideVersion(bool show);
    // The views' zoom back to its minimum.
    virtual void mScaleSetToMin();
    // The main window's update().
    virtual void repaint();
    // The button bar's checkShowHide().
    virtual void buttonBarCheck();
    // A press on a camera view: a shown button bar is checked, a hidden one
    // comes back unless the settings screen is shown (true: it came back).
    virtual bool buttonBarPress();
    virtual void ioStatusVisible(bool visible);
    // A confirmed editor ends the touch-calibration long press that led to it.
    virtual void stopTouchCalibration();

    // The installed chrome, else the defaults above.
    static ScreenChrome& get();
    // Installs `chrome` (nullptr: the defaults); returns the one replaced.
    static ScreenChrome* install(ScreenChrome* chrome);
};
