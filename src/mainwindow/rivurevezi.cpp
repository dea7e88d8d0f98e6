#include "rivurevezi.h"

#include "copy2movedisk.h"

#include "controlport.h"
#include "edit.h"
#include "indexbutton.h"
#include "inplacerecord.h"
#include "iostatus.h"
#include "judgepool.h"
#include "kitlinks.h"
#include "mapplication.h"
#include "networksettingdialog.h"
#include "wizardparawidget.h"
#include "recordstore.h"

#include <QSqlQuery>

RiVuRevezi* gpWin = nullptr;

RiVuRevezi::RiVuRevezi(QWidget* parent)
    : QWidget(parent)
{
    grayTable.reserve(256);
    for (int i = 0; i < 256; ++i)
        grayTable.append(qRgb(i, i, i));
    logoutTimer = new QTimer(this);
    connect(logoutTimer, &QTimer::timeout, this, &RiVuRevezi::TimerLogout);
    screenOffTimer = new QTimer(this);
    sizeHintTimer = new QTimer(this);
    sizeHintTimer->setSingleShot(true);
    InitWidgetKit();
    mainWidget = this;
    gpState = this;
    InstallLinks();
}

RiVuRevezi::~RiVuRevezi()
{
    // The screens hide as the window goes; a screen that was open when the
    // program ended must not call back into the window being destroyed.
    if (wizardParaWidget)
        wizardParaWidget->disconnect(this);
    if (gpState == this) {
        gpState = nullptr;
        kitlinks::reset();
    }
    delete paramQuery;
    paramQuery = nullptr;
    delete recordStore;
    recordStore = nullptr;
}

void RiVuRevezi::TimerLogout()
{
    logoutTimer->stop();
    rightsLevel = 0;
}

void RiVuRevezi::InstallLinks()
{
    kitlinks::Links l = kitlinks::current();
    l.ioSetOut = [](int n, int on) {
        if (gpControlIO)
            gpControlIO->IOSetOut(n, on);
    };
    l.ioFlashOut = [] {
        if (gpControlIO)
            gpControlIO->IOFlashOut();
    };
    l.checkNG = [this](bool manual) { CheckNG(manual); };
    l.runAlgorithm = [this](int camera, int step) { return RunAlgorithm(camera, step); };
    l.backTrain = [this] { BackTrain(); };
    l.resetRun = [this] { ResetRun(); };
    l.lostCamera = [this] { LostCamera(); };
    l.changeCammer = [this] { ChangeCammer(); };
    l.settingsVisible = [this] { return SettingsVisible(); };
    l.showhideHelp = [this](bool show) { showhideHelp(show); };
    l.showhideVersion = [this](bool show) { showhideVersion(show); };
    l.mScaleSetToMin = [this] { MScaleSetToMin(); };
    l.repaint = [this] { update(); };
    l.buttonBarCheck = [this] {
        if (indexButton)
            indexButton->checkShowHide();
    };
    l.buttonBarPress = [this] {
        if (!indexButton)
            return false;
        if (indexButton->isVisible()) {
            indexButton->checkShowHide();
        } else if (!SettingsVisible()) {
            indexButton->setVisible(true);
            return true;
        }
        return false;
    };
    l.ioStatusVisible = [this](bool visible) {
        if (ioStatusWidget)
            ioStatusWidget->setVisible(visible);
    };
    l.stopTouchCalibration = [] {
        if (MApplication::_instance)
            MApplication::_instance->manualStopTscTimeup();
    };
    kitlinks::install(l);

    // The settings screen's network button: the dialog saves through its own
    // save button; a long press that began on the settings screen must not
    // go on to ask for a touch calibration.
    WizardParaWidget::networkHook = [this] {
        auto* dialog = new NetworkSettingDialog(this);
        gpNetDialog = dialog;
        if (dialog->exec() == QDialog::Accepted)
            dialog->slotUpdateZIZ();
        delete dialog;
        if (MApplication::_instance)
            MApplication::_instance->manualStopTscTimeup();
    };
    // Accepted USB copy words reach the copier at once.
    WizardParaWidget::usbCopyHook = [](int days, int on) {
        Copy2MoveDisk* copier = Copy2MoveDisk::getInstance();
        copier->keepDays = days;
        if (on != 0)
            copier->start();
        else
            copier->pause();
    };
}
