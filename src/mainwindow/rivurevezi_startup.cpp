// The main window's start-up sequence: databases, parameters, cameras and
// their views, the I/O board, the screen, the timers and the picture writer.
#include "rivurevezi.h"

#include "productioncounters.h"
#include "screenlight.h"
#include "cameraviews.h"
#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "editsession.h"
#include "indexbutton.h"
#include "iostatus.h"
#include "programroles.h"
#include "lanstr.h"
#include "logmanager.h"
#include "miscfunc.h"
#include "modbusserver.h"
#include "mouldcycle.h"
#include "network.h"
#include "param_roi.h"
#include "platform.h"
#include "publictools_widget.h"
#include "recordstore.h"
#include "resstatisticsparam.h"
#include "savefialimagethread.h"
#include "sysword.h"
#include "viewwatch2ziz.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QScreen>
#include <QSettings>
#include <QSqlQuery>
#include <QVBoxLayout>

namespace {
void splash(int value, const QString& text = QString())
{
    if (g_splashframe)
        g_splashframe->flushstep(value, text);
}

// A missing database is replaced by its template and the machine restarted,
// as the operator would otherwise face an empty program.
void restoreAndReboot(const QString& templ, const QString& target)
{
    qWarning("%s is missing: restoring it from %s and rebooting", qPrintable(target), qPrintable(templ));
    if (gpWarnBox) {
        gpWarnBox->setText(lanStr(160));
        gpWarnBox->exec();
    }
    if (!QFile::copy(templ, target))
        qWarning("%s could not be copied to %s", qPrintable(templ), qPrintable(target));
    Databases::get().FLushAll();
    StopWTD();
    platform::reboot();
}
}  // namespace

int RiVuRevezi::ExpectedCameras(int stored)
{
    // A camera with regions drawn on a step that is judged: without it that
    // part of the mould goes unjudged.
    int expected = qBound(0, stored, kMaxCamera);
    QSqlDatabase db = databases.paramDb();
    if (!db.isOpen() || !gpWPara)
        return expected;
    const QStringList tables = db.tables();
    QSqlQuery q(db);
    for (int c = expected; c < kMaxCamera; ++c) {
        const QString table = QStringLiteral("cammer%1").arg(c);
        if (!tables.contains(table))
            continue;
        for (int g = 0; g < gDNum && g < kMaxDetect; ++g) {
            if (gpWPara->words[Word::StepEnabled0 + g] == 0)
                continue;
            q.prepare(QStringLiteral("select value from %1 where name=?").arg(table));
            q.addBindValue(QStringLiteral("detect%1").arg(g));
            // The row's first number is the step's region count.
            const auto regions = [&q] {
                return q.value(0).toString().section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toInt();
            };
            if (q.exec() && q.next() && regions() > 0) {
                expected = c + 1;
                break;
            }
        }
    }
    return expected;
}

QSize RiVuRevezi::TemplateSize(int camera)
{
    for (int d = 0; d < kMaxDetect; ++d) {
        const QSize size =
            QImageReader(QStringLiteral("./cammer%1%2/template0.bmp").arg(camera + 1).arg(d + 1)).size();
        if (size.isValid() && !size.isEmpty())
            return size;
    }
    return QSize();
}

void RiVuRevezi::LoadCount()
{
    QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
    ProductionCounters::get().load(ini);
}

bool RiVuRevezi::StartUp()
{
    gpWin = this;
    gpState = this;
    if (!OpenDatabases())
        return false;
    LoadParameters();
    // A stop asked for during start-up ends it before detection starts: once
    // the cameras are open (or their opening was abandoned for the stop),
    // and again once the screen is built.
    const auto stopHere = [] {
        if (!LogManager::stopPending())
            return false;
        LogManager::stopInStartup("before detection");
        return true;
    };
    OpenCameraViews();
    if (stopHere())
        return false;
    BuildScreen();
    StartTimers();
    if (stopHere())
        return false;
    StartDetection();
    return true;
}

bool RiVuRevezi::OpenDatabases()
{
    // The screen's size, unless whoever started the window has fixed it
    // already (the screen checks render the monitor's 1920 x 1080 anywhere).
    QScreen* screen = (gShowW > 0 && gShowH > 0) ? nullptr : QGuiApplication::primaryScreen();
    if (screen) {
        gShowW = screen->geometry().width();
        gShowH = screen->geometry().height();
    }
    if (gShowW <= 0 || gShowH <= 0) {
        gShowW = 1280;
        gShowH = 800;
    }
    splash(71);

    // ---- Databases ----
    if (!QFile::exists(QStringLiteral("./PARAM.db"))) {
        restoreAndReboot(QStringLiteral("./paraGroup/default/PARAM.db"), QStringLiteral("./PARAM.db"));
        return false;
    }
    if (!QFile::exists(QStringLiteral("./RECORD.db"))) {
        restoreAndReboot(QStringLiteral("./RECORDNULL.db"), QStringLiteral("./RECORD.db"));
        return false;
    }
    QSqlDatabase paramDb = QSqlDatabase::contains(QStringLiteral("dbIn"))
                               ? QSqlDatabase::database(QStringLiteral("dbIn"), false)
                               : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
    paramDb.setDatabaseName(QStringLiteral("./PARAM.db"));
    if (!paramDb.open())
        qWarning("PARAM.db cannot be opened");
    databases.setParamDb(paramDb);
    delete databases.paramQuery();
    databases.setParamQuery(new QSqlQuery(paramDb));

    auto* recordStore = new RecordStore;
    recordStore->open();
    delete databases.recordStore();
    databases.setRecordStore(recordStore);
    databases.setRecordDb(recordStore->db());
    addColumnIfNotExists(recordStore->db(), QStringLiteral("RECORD"), QStringLiteral("recordtype"), QStringLiteral("TEXT"));
    recordStore->rolloverIfNeeded(QDate::currentDate());
    return true;
}

void RiVuRevezi::LoadParameters()
{
    // ---- Parameters ----
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWParaBak = new WizardPara;
    // The statistics count under the group the parameters came from.
    ResStatisticsParam::getInstance()->setCurGroupName(gpWPara->getCurGroupName());
    gTempNum = gpWPara->words[Word::TemplatesKept];
    gPicNumNG = gpWPara->words[Word::NgPicturesKept];
    gPicNumOK = gpWPara->words[Word::OkPicturesKept];
    gisCOM = gpWPara->words[Word::SerialPort];
    gisColor = gpWPara->words[Word::ColourCamera];
    gisGrayHue = gpWPara->words[Word::GreyChannel];

    roles->parametersLoaded = true;
    roles->showParameterWarnings = true;
    LoadCount();
    splash(75);
}

void RiVuRevezi::OpenCameraViews()
{
    // ---- Cameras and their views, in the camera manager's order ----
    CameraManager* cm = CameraManager::getInstance();
    cm->loadPlugins(gAppDirPath.isEmpty() ? QCoreApplication::applicationDirPath() : gAppDirPath);
    cm->loadCameraSN();
    cm->findCameras();
    cm->sortCamera();
    // The cameras the parameters expect keep their positions: one that does
    // not open is waited for in its view (missing, its steps held), never
    // replaced by the next camera nor dropped. Others that do not open are
    // left out, the next camera taking their position.
    const int expected = ExpectedCameras(cm->serials.size());
    QVector<_cameraInfo> kept;
    QVector<CammerWidget*> waiting;
    auto buildViews = [this, &kept, &waiting](const QVector<_cameraInfo>& list, int expect) {
        int n = 0;
        for (const _cameraInfo& info : list) {
            // A stop has abandoned every exchange with a device: the
            // cameras not yet opened are left closed.
            if (n >= kMaxCamera || LogManager::stopPending())
                break;
            auto* view = new CammerWidget(this, n, info);
            if (!view->isOpen()) {
                if (n >= expect) {
                    delete view;  // the next camera takes this position
                    continue;
                }
                waiting.append(view);
            }
            CameraViews::set(n++, view);
            kept.append(info);
        }
        // Expected cameras no plug-in listed: missing from the start.
        for (; n < expect && n < kMaxCamera && !LogManager::stopPending(); ++n) {
            auto* view = new CammerWidget(this, n, _cameraInfo{});
            waiting.append(view);
            CameraViews::set(n, view);
            kept.append(_cameraInfo{});
        }
    };
    buildViews(cm->cameras, expected);
    // A stop during the opening ends start-up before anything is asked or
    // stored of the cameras (StartUp asks next).
    if (LogManager::stopPending())
        return;
    if (kept.isEmpty()) {
        cm->findSumulateCameras();
        buildViews(cm->cameras, 0);
    } else {
        cm->keepOpened(kept);
    }
    // A waiting camera's view is made for its templates' size, else for the
    // size of the first camera that opened.
    QSize opened;
    for (int c = 0; c < kMaxCamera && CameraViews::at(c) && !opened.isValid(); ++c)
        if (CameraViews::at(c)->isOpen())
            opened = QSize(CameraViews::at(c)->imageWidth, CameraViews::at(c)->imageHeight);
    for (CammerWidget* view : qAsConst(waiting)) {
        const QSize templ = TemplateSize(view->cameraIndex);
        view->WaitForCamera(templ.isValid() ? templ : opened.isValid() ? opened : kStandInPictureSize);
    }
    numCamera = 0;
    while (numCamera < kMaxCamera && CameraViews::at(numCamera))
        ++numCamera;
    cm->checkCameraCount();
    EditSession::get().setCurrentCamera(numCamera == 1 ? 0 : numCamera);
    splash(80, lanStr(649));

    // ---- Folders and fault-picture buffers ----
    for (int c = 0; c < numCamera; ++c) {
        for (int d = 0; d < kMaxDetect; ++d) {
            QDir().mkpath(QStringLiteral("./cammer%1%2").arg(c + 1).arg(d + 1));
            const int i = c * kMaxDetect + d;
            CameraViews::setPictureFolders(c, d, QDir(SaveFialImageThread::folderFor(c, d, false)),
                                           QDir(SaveFialImageThread::folderFor(c, d, true)));
            // The picture itself is made by the view on the step's first
            // judgement (a step that is never judged holds none).
            for (int which = 0; which < 2; ++which) {
                const int slot = which + 2 * i;
                QMutexLocker lock(pMutexSaveFail);
                delete[] gpFailImage[slot];
                gpFailImage[slot] = nullptr;
                gisSaveFail[slot] = false;
            }
        }
    }
}

void RiVuRevezi::BuildScreen()
{
    // ---- I/O board ----
    gpControlIO = new ControlPort(this);
    mould->boardOpened();
    splash(85, lanStr(650));

    // ---- Screen ----
    setGeometry(0, 0, gShowW, gShowH);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    viewArea = new QWidget(this);
    viewArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    root->addWidget(viewArea, 1);
    auto* bottom = new QHBoxLayout;
    bottomBar = bottom;
    ioStatusWidget = new IOStatusWidget(this);
    indexButton = new IndexButton(this);
    bottom->addWidget(ioStatusWidget, 1);
    bottom->addWidget(indexButton);
    root->addLayout(bottom);
    connect(indexButton, &IndexButton::startStopClicked, this, &RiVuRevezi::SlotStartStop);
    connect(indexButton, &IndexButton::retrainClicked, this, &RiVuRevezi::SlotReTrain);
    InitRoiPage();
    InitSettings();
    for (int c = 0; c < numCamera; ++c)
        CameraViews::at(c)->setParent(viewArea);
    ChangeCammer();

    // Listens on port 502 for the program's life, whatever the service switches say.
    new ModbusServer;

    // ---- Hand-overs to the network services ----
    roles->servicesUp = true;
}

void RiVuRevezi::StartTimers()
{
    // ---- Timers ----
    runTimer = new QTimer(this);
    runTimer->setSingleShot(true);
    connect(runTimer, &QTimer::timeout, this, &RiVuRevezi::Run);
    for (int k = 0; k < kMaxDetect; ++k) {
        connect(&cycle().countdownTimer[k], &QTimer::timeout, this, [this, k] { TimerUp(k); });
    }
    showTimer = new QTimer(this);
    connect(showTimer, &QTimer::timeout, this, &RiVuRevezi::TimerShow);
    showTimer->start(1000);
    screenOffTimer->setSingleShot(true);
    connect(screenOffTimer, &QTimer::timeout, this, &RiVuRevezi::TimerLCD);
    if (gpWPara->words[Word::ScreenOffSeconds] > 0)
        screenOffTimer->start(gpWPara->words[Word::ScreenOffSeconds] * 1000);
    logoutTimer->setSingleShot(true);
    LCDOnOff(1);

    // ---- Fault-picture writer ----
    saveThread = new SaveFialImageThread(this);
    saveThread->onSaved = [](int camera, int step, bool ok, const QString& path) {
        XAN_NETMN::getInstance()->add_PeriodRecord_Picture(camera, step, ok, path);
    };
    for (int c = 0; c < numCamera; ++c)
        saveThread->setCameraSize(c, CameraViews::at(c)->imageWidth, CameraViews::at(c)->imageHeight);
    saveThread->start();
}

void RiVuRevezi::StartDetection()
{
    // ---- Detection ----
    StartDetect();
    // An NG that the previous run left latched is held again before the
    // board thread sends a single output word.
    if (RestoreLatchedNg())
        OpenRoiPage();
    touchRunStamp();
    runTimer->start(5);
    splash(90, lanStr(650));
}

void RiVuRevezi::ChangeCammer()
{
    if (!viewArea)
        return;
    FitRoiPageColumn();
    const QRect area = PlaceLatchWarning(viewArea->rect().isEmpty() ? QRect(0, 0, gShowW, gShowH * 4 / 5) : viewArea->rect());
    const int shown = EditSession::get().currentCamera();
    if (shown >= 0 && shown < numCamera) {
        for (int c = 0; c < numCamera; ++c) {
            CameraViews::at(c)->setGeometry(area);
            CameraViews::at(c)->setVisible(c == shown);
        }
        return;
    }
    // All cameras tiled: the fewest columns that keep the tiles near square.
    const int n = qMax(1, numCamera);
    const int cols = n <= 1 ? 1 : n <= 4 ? 2 : n <= 6 ? 3 : 4;
    const int rows = (n + cols - 1) / cols;
    const int w = area.width() / cols;
    const int h = area.height() / rows;
    for (int c = 0; c < numCamera; ++c) {
        CameraViews::at(c)->setGeometry(area.x() + (c % cols) * w, area.y() + (c / cols) * h, w, h);
        CameraViews::at(c)->setVisible(true);
    }
    EditSession::get().setZoom(1.0);
    EditSession::get().setPan(0.0, 0.0);
}

void RiVuRevezi::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The view area gets its size from the layout after this event.
    QTimer::singleShot(0, this, &RiVuRevezi::ChangeCammer);
}

void RiVuRevezi::CameraSetSpeed()
{
    for (int c = 0; c < numCamera; ++c)
        if (CameraViews::at(c))
            CameraViews::at(c)->SetSpeed();
}

int RiVuRevezi::CameraCheck()
{
    for (int c = 0; c < numCamera; ++c)
        if (CameraViews::at(c) && !CameraViews::at(c)->isAlive())
            return 0;
    return 1;
}
