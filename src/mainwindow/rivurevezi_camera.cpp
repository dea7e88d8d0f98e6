// The main window's services for the camera views: the camera-lost alarm and
// the settings-screen test of the camera setters.
#include "rivurevezi.h"

#include "controlport.h"
#include "mouldcycle.h"
#include "lanstr.h"
#include "tapguard.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"


void RiVuRevezi::LostCamera()
{
    mould->cameraLost();
    if (cycle().runState != RunState::Stopped && !gpControlIO)
        qWarning("LostCamera: no I/O port; clamp and alarm not set");
    // Shown without waiting: the cycle and the camera's reconnect go on.
    const bool lostBox = gpWPara && gpWPara->words[Word::LostCameraDialog] != 0;
    if (lostBox && gpLostCameraWarnBox) {
        gpLostCameraWarnBox->show();
        gpLostCameraWarnBox->raise();
    } else if (gpWarnBox) {
        gpWarnBox->setText(lanStr(39));
        gpWarnBox->show();
        gpWarnBox->raise();
    } else {
        qWarning("LostCamera: no warning box: %s", qPrintable(lanStr(39)));
    }
    // It comes by itself: a tap made for the screen it covers is no answer
    // (the lost-camera box's confirmation powers the machine off).
    if (lostBox && gpLostCameraWarnBox)
        tapguard::cameUp(gpLostCameraWarnBox);
    else if (gpWarnBox)
        tapguard::cameUp(gpWarnBox);
    // Painted now rather than by running the event loop here, which would let
    // the detection cycle run again inside the slot that reported the loss.
    repaint();
}

bool RiVuRevezi::SettingsVisible() const
{
    return wizardParaWidget && wizardParaWidget->isVisible();
}
