#include "network.h"

#include "apisnapshot.h"

#include "globals.h"
#include "httpapiserver.h"
#include "platform.h"
#include "viewwatch2ziz.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent>

XAN_NETMN* XAN_NETMN::__instance = nullptr;

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");

// The time server's answer: {"result": {"time": <ms since the epoch>}}, as
// the text that `date -s` takes, or empty when the answer does not fit.
QString clockTextFromAnswer(const QByteArray& body)
{
    if (body.isEmpty())
        return QString();
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return QString();
    const QJsonValue result = doc.object().value(QStringLiteral("result"));
    if (!result.isObject())
        return QString();
    const QJsonValue time = result.toObject().value(QStringLiteral("time"));
    if (!time.isDouble())
        return QString();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.toDouble()));
    // A clock set decades away is a broken answer, not a time.
    if (!when.isValid() || when.date().year() < 2000 || when.date().year() > 2099)
        return QString();
    return when.toString(QStringLiteral("yyyyMMdd hh:mm:ss"));
}

}  // namespace

XAN_NETMN* XAN_NETMN::getInstance()
{
    if (!__instance)
        __instance = new XAN_NETMN;
    return __instance;
}

XAN_NETMN::XAN_NETMN(const QString& configPath, quint16 apiPort, const QHostAddress& apiAddress)
    : HttpManager(XANT_CLIENT)
    , clockMs([] { return QDateTime::currentMSecsSinceEpoch(); })
    , configPath_(configPath)
    , apiPort_(apiPort)
    , apiAddress_(apiAddress)
{
    apiServer = new HttpApiServer(this);
    agentLink = new ViewWatch2ZIZ(this);
    ApiSnapshot::setManager(this);
    ApiSnapshot::publishOnIdle();
}

XAN_NETMN::~XAN_NETMN()
{
    ApiSnapshot::dropManager(this);
    delete agentLink;
    agentLink = nullptr;
    delete apiServer;
    apiServer = nullptr;
    if (__instance == this)
        __instance = nullptr;
}

QJsonObject XAN_NETMN::readConfig(const QString& path, bool* opened)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (opened)
            *opened = false;
        return QJsonObject();
    }
    if (opened)
        *opened = true;
    return QJsonDocument::fromJson(f.readAll()).object();
}

bool XAN_NETMN::writeConfig(const QString& path, const QJsonObject& object)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        qWarning("cannot write %s", qPrintable(path));
        return false;
    }
    out.write(QJsonDocument(object).toJson());
    if (!out.commit()) {
        qWarning("cannot replace %s", qPrintable(path));
        return false;
    }
    return true;
}

void XAN_NETMN::initStart()
{
    bool opened = false;
    const QJsonObject config = readConfig(configPath_, &opened);
    if (!opened)
        return;
    deviceName = config.value(QStringLiteral("devicename")).toString();
    workNetFunc.store(config.value(QStringLiteral("device_worknetfunc")).toBool(false));
    workVideo.store(config.value(QStringLiteral("device_workvideo")).toBool(false));
    workApiFunc.store(config.value(QStringLiteral("device_workapifunc")).toBool(false));
    const QJsonValue ws = config.value(QStringLiteral("workspace"));
    workspace = ws.isString() ? ws.toString() : QStringLiteral("./cnt_net/workspace/");
    if (!QFileInfo(workspace).isDir())
        QDir().mkpath(workspace);

    clearCycle();
    agentLink->init();
    apiServer->init();
}

void XAN_NETMN::setWorkTask(bool net, bool video, bool api)
{
    workNetFunc.store(net);
    workVideo.store(video);
    workApiFunc.store(api);
}

int XAN_NETMN::isAllowSnd_2_VW()
{
    return agentLink->isAllowSnd_2_VW();
}

QVariant XAN_NETMN::getConfigValue(const QString& key)
{
    QFile f(configPath_);
    if (!f.open(QIODevice::ReadOnly))
        return QVariant();
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    if (err.error != QJsonParseError::NoError)
        return QVariant();
    const QJsonObject o = doc.object();
    if (!o.contains(key))
        return QVariant();
    const QJsonValue v = o.value(key);
    // Every JSON number is a double, whole or not.
    return v.isDouble() ? QVariant(v.toDouble()) : v.toVariant();
}

void XAN_NETMN::getNTP_Timing_sync()
{
    const QVariant addr = getConfigValue(QStringLiteral("serveraddr"));
    if (addr.userType() != QMetaType::QString)
        return;
    const QVariant port = getConfigValue(QStringLiteral("serverport"));
    if (port.userType() != QMetaType::QString)
        return;
    const QUrl url(QStringLiteral("http://%1:%2/vidaroz17/api/time").arg(addr.toString(), port.toString()));
    if (!url.isValid())
        return;

    auto* manager = new QNetworkAccessManager(this);
    QNetworkReply* reply = manager->get(QNetworkRequest(url));
    auto* limit = new QTimer(manager);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, reply, [reply] { reply->abort(); });
    connect(reply, &QNetworkReply::finished, manager, [manager, reply] {
        const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
        reply->deleteLater();
        manager->deleteLater();
        const QString text = clockTextFromAnswer(body);
        if (text.isEmpty())
            return;
        // date and hwclock may take seconds: never on the GUI thread.
        QtConcurrent::run([text] {
            if (platform::runner().runOnTarget(QStringLiteral("date"), {QStringLiteral("-s"), text}, 3000).ok())
                platform::runner().runOnTarget(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, 3000);
        });
    });
    limit->start(1000);
}

// ---- Cycle record ----------------------------------------------------------------

QString XAN_NETMN::roiKey(const param_roi& roi)
{
    return QStringLiteral("%1;%2;%3").arg(roi.camera).arg(roi.detect).arg(roi.roi);
}

void XAN_NETMN::putRoiResult(const param_roi& roi)
{
    QMutexLocker lock(&roiMutex);
    roiCache.insert(roiKey(roi), roi);
}

void XAN_NETMN::clearCycle()
{
    QMutexLocker lock(&roiMutex);
    roiCache.clear();
    lastDetect.clear();
    lastClosed.clear();
    ++recordVersion;
}

void XAN_NETMN::start_PeriodRecord()
{
    {
        QMutexLocker lock(&roiMutex);
        roiCache.clear();
    }
    // The closed cycle stays answerable while the new one is open; it is
    // kept before the held record goes, so a reader always finds one.
    sAPI_LastDetect_Info previous;
    if (lastDetect.tryGetValue(&previous) && !previous.json.isEmpty())
        lastClosed.setValue(previous);
    lastDetect.clear();
    ++recordVersion;
    if (!workNetFunc.load() && !workApiFunc.load())
        return;
    const qint64 now = clockMs();
    sAPI_LastDetect_Info record;
    record.uuid = QStringLiteral("V18#") + deviceName + QStringLiteral("@") + QString::number(now, 16);
    record.starttime = QDateTime::fromMSecsSinceEpoch(now).toString(kStampFormat);
    lastDetect.setValue(record);
    ++recordVersion;
    agentLink->noteCycleStart(now);
}

void XAN_NETMN::add_PeriodRecord_Picture(int camera, int detect, bool result, QString path)
{
    if (!workNetFunc.load() && !workApiFunc.load()) {
        clearCycle();
        return;
    }
    const QString key = QStringLiteral("%1;%2;%3").arg(camera).arg(detect).arg(result ? 1 : 0);
    QString uuid;
    // Test, copy and store in one hold: a new record started meanwhile on the
    // GUI thread is never replaced by the previous one.
    const bool held = lastDetect.modifyValue([&](sAPI_LastDetect_Info& r) {
        r.pictures.insert(key, path);
        uuid = r.uuid;
    });
    if (!held)
        return;
    ++recordVersion;
    // The picture thread: the GUI thread publishes the new picture with the
    // state it holds.
    QMetaObject::invokeMethod(this, [] { ApiSnapshot::publish(); }, Qt::QueuedConnection);
    if (workApiFunc.load()) {
        CTask_FormData task;
        task.url = QStringLiteral("/v18/http/post_detected_picture");
        task.taskId = uuid;
        task.deviceId = gDeviceID;
        task.contentType = QStringLiteral("image/jpeg");
        task.query.insert(QStringLiteral("camera_index"), QString::number(camera));
        task.query.insert(QStringLiteral("detect_index"), QString::number(detect));
        task.query.insert(QStringLiteral("camera_result"), result ? QStringLiteral("true") : QStringLiteral("false"));
        task.query.insert(QStringLiteral("picture_name"), QFileInfo(path).fileName());
        task.files.insert(path, QByteArray());
        apiServer->publish_message(QStringLiteral("detected_picture"), task);
    }
    if (workNetFunc.load())
        agentLink->sndAlarmPicture(camera, detect, result, path);
}

void XAN_NETMN::finish_PeriodRecord()
{
    if (!workNetFunc.load() && !workApiFunc.load()) {
        clearCycle();
        return;
    }
    sAPI_LastDetect_Info held;
    if (!lastDetect.tryGetValue(&held))
        return;

    QJsonObject summary;
    summary.insert(QStringLiteral("device_id"), deviceName);
    summary.insert(QStringLiteral("device_sn"), gDeviceID);
    QMap<QString, param_roi> copy;
    {
        QMutexLocker lock(&roiMutex);
        copy = roiCache;
    }
    summary.insert(QStringLiteral("detail"), Parse_CacheDetectedRoiInfos_2_QJsonArray(copy));
    bool allPassed = true;
    for (const param_roi& r : qAsConst(copy))
        if (r.result != 1)
            allPassed = false;
    summary.insert(QStringLiteral("detect_result"), allPassed);
    summary.insert(QStringLiteral("starttime"), held.starttime);
    summary.insert(QStringLiteral("finishtime"), QDateTime::fromMSecsSinceEpoch(clockMs()).toString(kStampFormat));
    summary.insert(QStringLiteral("uuid"), held.uuid);
    lastDetect.modifyValue([&summary](sAPI_LastDetect_Info& r) { r.json = summary; });
    ++recordVersion;
    if (workApiFunc.load())
        apiServer->finish_PeriodRecord();
    if (workNetFunc.load())
        agentLink->sndDetectOnceInfo();

    // Alarm-time bookkeeping: the first closed cycle's result is kept.
    bool first = false;
    if (!firstResult.tryGetValue(&first)) {
        firstResult.setValue(allPassed);
        alarmTimeMs.setValue(0);
    } else if (!first) {
        alarmTimeMs.setValue(0);
    } else {
        alarmTimeMs.clear();
    }
}

QJsonArray XAN_NETMN::Parse_CacheDetectedRoiInfos_2_QJsonArray(QMap<QString, param_roi> cache)
{
    QMap<QString, QList<param_roi>> groups;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        groups[QStringLiteral("%1;%2").arg(it->camera).arg(it->detect)].append(it.value());

    QJsonArray out;
    for (auto g = groups.cbegin(); g != groups.cend(); ++g) {
        QJsonObject group;
        group.insert(QStringLiteral("camera_index"), g.key().section(QLatin1Char(';'), 0, 0).toInt());
        group.insert(QStringLiteral("detect_index"), g.key().section(QLatin1Char(';'), -1, -1).toInt());
        QMap<int, QJsonObject> rois;
        bool passed = true;
        for (const param_roi& r : g.value()) {
            QJsonObject o;
            o.insert(QStringLiteral("roi_index"), r.roi);
            o.insert(QStringLiteral("roi_result"), r.result != 0);
            o.insert(QStringLiteral("roi_func"), r.func);
            o.insert(QStringLiteral("roi_algorithm"),
                     QJsonArray{r.algorithm, r.param1 & 0xff, r.param2 & 0xff, r.param3 & 0xff, (r.param1 >> 8) & 0xff,
                                (r.param2 >> 8) & 0xff, (r.param3 >> 8) & 0xff});
            rois.insert(r.roi, o);
            if (r.result == 0)
                passed = false;
        }
        QJsonArray list;
        for (const QJsonObject& o : qAsConst(rois))
            list.append(o);
        group.insert(QStringLiteral("rois"), list);
        group.insert(QStringLiteral("detect_result"), passed);
        out.append(group);
    }
    return out;
}

bool XAN_NETMN::lastClosedCycle(bool hasHeld, const sAPI_LastDetect_Info& held, bool hasClosed,
                                const sAPI_LastDetect_Info& closed, sAPI_LastDetect_Info* out)
{
    if (hasHeld && !held.json.isEmpty()) {
        *out = held;
        return true;
    }
    if (hasClosed) {
        *out = closed;
        return true;
    }
    return false;
}

QJsonObject XAN_NETMN::lastDetectJson(const sAPI_LastDetect_Info& record)
{
    QJsonObject answer = record.json;
    QJsonArray pictures;
    for (auto it = record.pictures.cbegin(); it != record.pictures.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char(';'));
        if (parts.size() != 3)
            continue;
        QJsonObject p;
        p.insert(QStringLiteral("camera_index"), parts[0].toInt());
        p.insert(QStringLiteral("detect_index"), parts[1].toInt());
        p.insert(QStringLiteral("detect_result"), parts[2].toInt() == 1);
        p.insert(QStringLiteral("picture_name"), QFileInfo(it.value()).fileName());
        pictures.append(p);
    }
    answer.insert(QStringLiteral("pictures"), pictures);
    return answer;
}
