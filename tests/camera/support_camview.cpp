#include "support_camview.h"

#include "cameramanager.h"
#include "globals.h"
#include "paramdb.h"
#include "statewindow.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPluginLoader>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <cstring>

// ---- RecordingCamera -------------------------------------------------------------

bool RecordingCamera::open()
{
    calls << QStringLiteral("open");
    return openResult;
}

bool RecordingCamera::reconnect()
{
    ++reconnectAttempts;
    calls << QStringLiteral("reconnect");
    if (reconnectFailures > 0) {
        --reconnectFailures;
        return false;
    }
    deviceLost = false;
    return true;
}

void RecordingCamera::setting(QJsonObject o)
{
    lastSetting = o;
    calls << QStringLiteral("setting");
}

void RecordingCamera::updateROI(QVariant v, int n)
{
    calls << QStringLiteral("updateROI %1 %2").arg(QString::fromLatin1(v.typeName())).arg(n);
    roiRecord = v.isValid() ? *static_cast<void* const*>(v.constData()) : nullptr;
}

bool RecordingCamera::getImage(uchar* buffer)
{
    calls << QStringLiteral("getImage");
    if (deviceLost)
        return false;
    std::memset(buffer, fill, size_t(width) * size_t(height) * (colour ? 4 : 1));
    return true;
}

void RecordingCamera::restoreDefault(QJsonObject* o, int camera)
{
    calls << QStringLiteral("restoreDefault %1").arg(camera);
    if (o)
        *o = defaults;
}

void RecordingCamera::loseDevice()
{
    deviceLost = true;
    QTimer::singleShot(0, this, [this] { emit sigCameraLost(); });
}

int RecordingCamera::count(const QString& prefix) const
{
    int n = 0;
    for (const QString& c : calls)
        n += c.startsWith(prefix);
    return n;
}

// ---- RecordingPlugin ----------------------------------------------------------------

QVector<_cameraInfo> RecordingPlugin::enumCameras()
{
    _cameraInfo info;
    info.pluginName = name();
    setCameraSerial(info, QStringLiteral("RECORDING-0001"));
    return {info};
}

CameraInterface* RecordingPlugin::createCamera(_cameraInfo)
{
    auto* cam = new RecordingCamera(cameraKind);
    cam->width = width;
    cam->height = height;
    cam->openResult = openResult;
    last = cam;
    return cam;
}

// ---- ViewFixture ----------------------------------------------------------------------

ViewFixture::ViewFixture()
{
    QString error;
    if (!paramdb::writeDefaultDatabase(QStringLiteral("PARAM.db"), 1, &error))
        qFatal("default PARAM.db: %s", qPrintable(error));
    win = new StateWindow;
    gpState = win;
    win->paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
    win->paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
    if (!win->paramDb.open())
        qFatal("PARAM.db: %s", qPrintable(win->paramDb.lastError().text()));
    win->paramQuery = new QSqlQuery(win->paramDb);
    win->recordDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("viewrecord"));
    win->recordDb.setDatabaseName(QStringLiteral("RECORD.db"));
    win->recordDb.open();
    QSqlQuery(win->recordDb).exec(
        QStringLiteral("create table RECORD(recordtime text, recordpassword text, remarks text, recordtype text)"));

    gShowW = 1280;
    gShowH = 1024;
    gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    gpWParaBak = new WizardPara;
    gTempNum = gpWPara->words[102];
    gisColor = 0;
    gSource = -1;
}

ViewFixture::~ViewFixture()
{
    delete gpWPara;
    gpWPara = nullptr;
    delete gpWParaBak;
    gpWParaBak = nullptr;
    delete win->paramQuery;
    win->paramQuery = nullptr;
    win->paramDb.close();
    win->paramDb = QSqlDatabase();
    win->recordDb.close();
    win->recordDb = QSqlDatabase();
    gpState = nullptr;
    delete win;
    QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
    QSqlDatabase::removeDatabase(QStringLiteral("viewrecord"));
}

QStringList ViewFixture::remarks() const
{
    QStringList out;
    QSqlQuery q(win->recordDb);
    q.exec(QStringLiteral("select remarks from RECORD order by rowid"));
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// ---- Plug-ins ------------------------------------------------------------------------------

CameraInterface* simulatedPlugin()
{
    static CameraInterface* root = [] {
        auto* loader = new QPluginLoader(QStringLiteral(VMM_PLUGIN_DIR "/libcamera_simulated.so"));
        QObject* inst = loader->instance();
        if (!inst)
            qFatal("simulated camera plug-in: %s", qPrintable(loader->errorString()));
        auto* iface = static_cast<CameraInterface*>(inst->qt_metacast(CAMERA_INTERFACE_IID));
        CameraManager::getInstance()->interfaces.append(iface);
        return iface;
    }();
    return root;
}

RecordingPlugin* recordingPlugin()
{
    static RecordingPlugin* root = [] {
        auto* p = new RecordingPlugin;
        CameraManager::getInstance()->interfaces.append(p);
        return p;
    }();
    return root;
}

_cameraInfo simulatedCamera(const QJsonObject& faults, int width, int height)
{
    QJsonObject cam;
    cam[QStringLiteral("serial")] = QStringLiteral("VIEWTEST-0001");
    cam[QStringLiteral("width")] = width;
    cam[QStringLiteral("height")] = height;
    if (!faults.isEmpty())
        cam[QStringLiteral("faults")] = faults;
    QJsonObject root;
    root[QStringLiteral("control")] = QString();
    root[QStringLiteral("cameras")] = QJsonArray{cam};
    qputenv("VMM_CAMERA_SIMULATED", QJsonDocument(root).toJson(QJsonDocument::Compact));
    const QVector<_cameraInfo> list = simulatedPlugin()->enumCameras();
    if (list.size() != 1)
        qFatal("simulated plug-in lists %d cameras", int(list.size()));
    return list[0];
}

_cameraInfo recordingCamera()
{
    return recordingPlugin()->enumCameras().value(0);
}
