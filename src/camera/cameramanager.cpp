#include "cameramanager.h"

#include "databases.h"
#include "globals.h"
#include "platform.h"
#include "winstate.h"
#include "operatordialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QSqlError>
#include <QStringList>

#include <algorithm>

CameraManager* CameraManager::_instance = nullptr;

namespace {

const QString kConnection = QStringLiteral("dbT");
const QString kSnFile = QStringLiteral("SN.db");
const QString kDefaultSnFile = QStringLiteral("./paraGroup/default/SN.db");

QString lanText(int row)
{
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    return gaLanStr[row][lan];
}

QString positionName(int i)
{
    return QStringLiteral("serialNB%1").arg(i);
}

bool validSerial(const QString& s)
{
    return s.size() >= CameraManager::kSerialMin && s.size() <= CameraManager::kSerialMax;
}

// SQLite would create an empty file for a missing one, so a file only counts
// as usable when it exists and holds the `sysparam` table.
bool usableSnFile(const QString& path, const QString& connection, bool readOnly)
{
    if (!QFileInfo(path).isFile())
        return false;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        ok = db.open() && db.tables().contains(QStringLiteral("sysparam"));
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

}  // namespace

CameraManager::CameraManager() = default;

CameraManager::~CameraManager()
{
    closeSnDatabase();
}

CameraManager* CameraManager::getInstance()
{
    if (!_instance)
        _instance = new CameraManager;
    return _instance;
}

void CameraManager::loadPlugins()
{
    loadPlugins(QCoreApplication::applicationDirPath());
}

void CameraManager::loadPlugins(const QString& appDir)
{
    qInfo("Start loading plugins.");
    QDir dir(appDir);
    if (!dir.cd(QStringLiteral("Plugins")) || !dir.cd(QStringLiteral("Cameras")))
        return;
    qDebug("Loading camera plugins.");
    // Name order, so that the camera order is the same at every start when
    // no serial order is stored.
    const QStringList files = dir.entryList({QStringLiteral("*.so")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        auto* loader = new QPluginLoader(dir.absoluteFilePath(file));
        loaders.append(loader);
        QObject* instance = loader->instance();
        if (!loader->isLoaded())
            qWarning("Cameras plugins load fail: %s %s", qPrintable(file), qPrintable(loader->errorString()));
        if (!instance)
            continue;
        void* iface = instance->qt_metacast(CAMERA_INTERFACE_IID);
        if (!iface) {
            qWarning("Cameras plugins %s: not a camera plug-in (no %s)", qPrintable(file), CAMERA_INTERFACE_IID);
            continue;
        }
        qInfo("Cameras plugins %s load sucess.", qPrintable(file));
        interfaces.append(static_cast<CameraInterface*>(iface));
    }
}

bool CameraManager::openSnDatabase()
{
    closeSnDatabase();
    if (!QFileInfo(kSnFile).isFile()) {
        qWarning("SN.db: file missing");
        return false;
    }
    database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    database.setDatabaseName(kSnFile);
    if (!database.open()) {
        qWarning("SN.db: cannot open: %s", qPrintable(database.lastError().text()));
        closeSnDatabase();
        return false;
    }
    if (!database.tables().contains(QStringLiteral("sysparam"))) {
        qWarning("SN.db: table sysparam missing");
        closeSnDatabase();
        return false;
    }
    query = QSqlQuery(database);
    return true;
}

void CameraManager::closeSnDatabase()
{
    query = QSqlQuery();
    if (database.isValid()) {
        database.close();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(kConnection);
    }
}

void CameraManager::repairSnDatabase()
{
    OperatorDialogs::get().warn(lanText(160));
    // Copying a default that is itself unusable would only reboot into the
    // same failure again; then the program runs on without a stored order.
    if (!usableSnFile(kDefaultSnFile, QStringLiteral("dbTdefault"), true)) {
        qWarning("SN.db: default %s unusable too, running without a stored camera order", qPrintable(kDefaultSnFile));
        return;
    }
    const platform::CommandResult cp = platform::runner().run(
        QStringLiteral("cp"), {QStringLiteral("-f"), kDefaultSnFile, QStringLiteral("./")});
    if (!cp.ok()) {
        qWarning("SN.db: restoring the default failed: %s", cp.err.constData());
        return;
    }
    platform::reboot();  // sync, then reboot
}

bool CameraManager::loadCameraSN()
{
    serials.clear();
    if (!openSnDatabase()) {
        repairSnDatabase();
        return false;
    }
    for (int i = 0; i < kSerialPositions; ++i) {
        query.prepare(QStringLiteral("select value from sysparam where name=?"));
        query.addBindValue(positionName(i));
        if (!query.exec()) {
            qWarning("SN.db: reading %s failed: %s", qPrintable(positionName(i)), qPrintable(query.lastError().text()));
            continue;
        }
        if (query.next()) {
            const QString value = query.value(0).toString();
            if (validSerial(value))
                serials.append(value);
        } else {
            QSqlQuery insert(database);
            insert.prepare(QStringLiteral("insert into sysparam values(?, '0')"));
            insert.addBindValue(positionName(i));
            if (!insert.exec())
                qWarning("SN.db: adding %s failed: %s", qPrintable(positionName(i)), qPrintable(insert.lastError().text()));
        }
    }
    query.finish();
    return true;
}

bool CameraManager::saveCameraSN()
{
    if (!database.isValid() || !database.isOpen()) {
        qWarning("SN.db: not open, camera order not saved");
        return false;
    }
    const int n = std::min<int>(serials.size(), kSerialPositions);
    if (serials.size() > kSerialPositions)
        qWarning("SN.db: %d serials, only the first %d are kept", int(serials.size()), kSerialPositions);
    // All eight positions change together or not at all.
    if (!database.transaction())
        qWarning("SN.db: no transaction: %s", qPrintable(database.lastError().text()));
    bool ok = true;
    for (int i = 0; i < kSerialPositions && ok; ++i) {
        const QString value = i < n ? serials[i] : QStringLiteral("0");
        query.prepare(QStringLiteral("update sysparam set value=? where name=?"));
        query.addBindValue(value);
        query.addBindValue(positionName(i));
        ok = query.exec();
        if (ok && query.numRowsAffected() == 0) {
            query.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
            query.addBindValue(positionName(i));
            query.addBindValue(value);
            ok = query.exec();
        }
        if (!ok)
            qWarning("SN.db: writing %s failed: %s", qPrintable(positionName(i)), qPrintable(query.lastError().text()));
    }
    query.finish();
    if (!ok || !database.commit()) {
        database.rollback();
        qWarning("SN.db: camera order not saved");
        return false;
    }
    for (int i = 0; i < n; ++i)
        Databases::get().InsertRecord(QStringLiteral("Save SN %1: %2").arg(i + 1).arg(serials[i]), QString());
    return true;
}

void CameraManager::findCameras()
{
    cameras.clear();
    QVector<_cameraInfo> simulatedList;
    for (CameraInterface* iface : qAsConst(interfaces)) {
        const QVector<_cameraInfo> found = iface->enumCameras();
        qInfo("%s find camera count: %d", qPrintable(iface->name()), int(found.size()));
        if (iface->kind() != 0)
            cameras += found;
        else
            simulatedList += found;
    }
    simulated = false;
    if (cameras.isEmpty()) {
        cameras = simulatedList;
        simulated = true;
    }
}

void CameraManager::findSumulateCameras()
{
    simulated = true;
    cameras.clear();
    for (CameraInterface* iface : qAsConst(interfaces)) {
        if (iface->kind() == 0)
            cameras += iface->enumCameras();
    }
}

void CameraManager::sortCamera()
{
    QVector<_cameraInfo> sorted;
    QVector<_cameraInfo> rest = cameras;
    for (const QString& serial : qAsConst(serials)) {
        for (int k = rest.size() - 1; k >= 0; --k) {
            if (cameraSerial(rest[k]) == serial) {
                sorted.append(rest[k]);
                rest.remove(k);
            }
        }
    }
    sorted += rest;
    cameras = sorted;
}

PluginCamera* CameraManager::createCamera(_cameraInfo info)
{
    PluginCamera* camera = nullptr;
    for (CameraInterface* iface : qAsConst(interfaces)) {
        if (iface->name() != info.pluginName)
            continue;
        // The last plug-in of that name decides; an object an earlier one
        // made would otherwise be lost.
        delete camera;
        camera = iface->createCamera(info);
    }
    return camera;
}

bool CameraManager::resortCameraSN(QVector<int> order)
{
    QVector<bool> seen(cameras.size(), false);
    bool permutation = order.size() == cameras.size();
    for (int k = 0; permutation && k < order.size(); ++k) {
        const int p = order[k];
        permutation = p >= 0 && p < cameras.size() && !seen[p];
        if (permutation)
            seen[p] = true;
    }
    if (!permutation) {
        qWarning("camera order refused: not a permutation of the %d camera positions", int(cameras.size()));
        return false;
    }
    serials.clear();
    for (int p : qAsConst(order))
        serials.append(cameraSerial(cameras[p]));
    return saveCameraSN();
}

void CameraManager::resetCameraSN()
{
    serials.clear();
    for (const _cameraInfo& info : qAsConst(cameras))
        serials.append(cameraSerial(info));
}

void CameraManager::checkCameraCount()
{
    if (simulated) {
        if (OperatorDialogs::get().chooseScreen(lanText(134))) {
            resetCameraSN();
            saveCameraSN();
        }
        return;
    }
    if (serials.size() == cameras.size() || serials.isEmpty())
        return;
    if (OperatorDialogs::get().choose(lanText(360))) {
        resetCameraSN();
        saveCameraSN();
        Databases::get().FLushAll();
        platform::reboot();
    }
}
