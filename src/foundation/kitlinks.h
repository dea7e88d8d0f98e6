// The calls that go up from the libraries below the main window: the live
// system parameter words, the operator password, the screen switch, the I/O
// board outputs and the main window's operations (decisions, camera switch,
// button bar, help and version labels, zoom, repaint).
//
// One pattern for every upward call: a lower library calls kitlinks::<op>,
// the main window installs the real operations when it is built (and the
// parameter readers once it has loaded the parameters). Until then every word
// reads 0, the password is empty, the switches and outputs only log that they
// are not connected and the main-window operations do nothing (the tests
// install what they need). The state those operations work on is gpState
// (winstate.h).
#pragma once

#include "word.h"

#include <QByteArray>

class QJsonObject;

#include <functional>

namespace kitlinks {

struct Links {
    std::function<int(int)> paraWord;            // word n of the live record gpWPara
    std::function<QByteArray()> operatorPassword; // the `password` text, Latin-1
    std::function<void(int)> lcdOnOff;           // 1 lights the screen, 0 darkens it
    std::function<void(int, int)> ioSetOut;      // ControlPort::IOSetOut(n, on)
    std::function<void()> ioFlashOut;            // ControlPort::IOFlashOut()

    // ---- The main window's operations ----------------------------------------
    std::function<void(bool)> checkNG;            // CheckNG(manual)
    std::function<int(int, int)> runAlgorithm;    // RunAlgorithm(camera, step)
    std::function<void()> backTrain;              // BackTrain()
    std::function<void()> resetRun;               // ResetRun()
    std::function<void()> lostCamera;             // LostCamera()
    std::function<void()> changeCammer;           // ChangeCammer()
    std::function<bool()> settingsVisible;        // SettingsVisible()
    std::function<void(bool)> showhideHelp;
    std::function<void(bool)> showhideVersion;
    std::function<void()> mScaleSetToMin;         // MScaleSetToMin()
    std::function<void()> repaint;                // the main window's update()
    std::function<void()> buttonBarCheck;         // the button bar's checkShowHide()
    // A press on a camera view: a shown button bar is checked, a hidden one
    // comes back unless the settings screen is shown (true: it came back).
    std::function<bool()> buttonBarPress;
    std::function<void(bool)> ioStatusVisible;    // the I/O status panel shown or hidden
    // A confirmed editor ends the touch-calibration long press that led to it.
    std::function<void()> stopTouchCalibration;   // MApplication::manualStopTscTimeup()
    // A row was written to the operation record (recordtime, recordpassword,
    // remarks, recordtype): handed on to the local agent.
    std::function<void(const QJsonObject&)> recordInserted;
};

// Replaces all links; members left empty fall back to the defaults above.
void install(const Links& links);
void reset();
// The links as installed (to change some of them and install again).
Links current();

int paraWord(int n);
QByteArray operatorPassword();
void lcdOnOff(int on);
void ioSetOut(int n, int on);
void ioFlashOut();

void checkNG(bool manual);
int runAlgorithm(int camera, int step);   // 0 without a main window
void backTrain();
void resetRun();
void lostCamera();
void changeCammer();
bool settingsVisible();                   // false without a main window
void showhideHelp(bool show);
void showhideVersion(bool show);
void mScaleSetToMin();
void repaint();
void buttonBarCheck();
bool buttonBarPress();                    // false without a main window
void ioStatusVisible(bool visible);
void stopTouchCalibration();
void recordInserted(const QJsonObject& row);

}  // namespace kitlinks
