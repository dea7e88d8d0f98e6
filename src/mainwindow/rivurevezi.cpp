#include "rivurevezi.h"

#include "screenlight.h"

#include "controlport.h"
#include "cycleadapter.h"
#include "mouldcycle.h"
#include "edit.h"
#include "editsession.h"
#include "indexbutton.h"
#include "inplacerecord.h"
#include "iostatus.h"
#include "operatorrights.h"
#include "judgepool.h"
#include "mapplication.h"
#include "networksettingdialog.h"
#include "cameraviews.h"
#include "programroles.h"
#include "wizardparawidget.h"
#include "recordstore.h"
#include "storagestartup.h"

#include <QSqlQuery>

RiVuRevezi* gpWin = nullptr;

RiVuRevezi::RiVuRevezi(QWidget* parent)
    : QWidget(parent)
{
    // A new window starts with nothing being drawn, copied or picked, the
    // first camera shown unzoomed, no camera views yet ...
    EditSession::get().reset();
    CameraViews::clear();
    logoutTimer = new QTimer(this);
    connect(logoutTimer, &QTimer::timeout, this, &RiVuRevezi::TimerLogout);
    screenOffTimer = new QTimer(this);
    Databases::install(&databases);
    ScreenLight::get().reset();
    ScreenLight::get().setScreenOffTimer(screenOffTimer);
    auto* sizeHintTimer = new QTimer(this);
    sizeHintTimer->setSingleShot(true);
    EditSession::get().setSizeHintTimer(sizeHintTimer);
    // ... and with nobody signed in.
    OperatorRights::get().reset();
    InitWidgetKit();
    mainWidget = this;
    gpState = this;
    MakeCycle();
    InstallLinks();
}

RiVuRevezi::~RiVuRevezi()
{
    // The I/O thread no longer records into the cycle that goes with this window.
    setEdgeRecorder(nullptr);
    // The screens hide as the window goes; a screen that was open when the
    // program ended must not call back into the window being destroyed.
    if (wizardParaWidget)
        wizardParaWidget->disconnect(this);
    roles.reset();
    if (gpState == this)
        gpState = nullptr;
    if (&Databases::get() == &databases)
        Databases::install(nullptr);
    delete databases.paramQuery();
    databases.setParamQuery(nullptr);
    delete databases.recordStore();
    databases.setRecordStore(nullptr);
}

void RiVuRevezi::TimerLogout()
{
    logoutTimer->stop();
    OperatorRights::get().setRightsLevel(0);
}

void RiVuRevezi::InstallLinks()
{
    roles = std::make_unique<ProgramRoles>(this);

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
    WizardParaWidget::usbCopyHook = applyUsbCopyWords;
}
