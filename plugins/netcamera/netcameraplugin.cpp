#include "netcameraplugin.h"

#include "../pluginshared.h"
#include "netcamera.h"
#include "platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

namespace netcam {

namespace {

QJsonObject readConfig()
{
    const QByteArray env = qgetenv("VMM_CAMERA_NETWORK");
    QByteArray text;
    if (!env.isEmpty()) {
        text = env;
        if (!env.trimmed().startsWith('{')) {
            QFile f(QString::fromLocal8Bit(env));
            text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }
    } else {
        QFile f(vmmplugin::ownPath() + QStringLiteral(".json"));
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
        else
            return QJsonObject();
    }
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
    if (!doc.isObject()) {
        qWarning("network cameras: configuration unreadable (%s), no camera offered", qPrintable(err.errorString()));
        return QJsonObject{{QStringLiteral("discover"), false}};
    }
    return doc.object();
}

}  // namespace

NetCameraPlugin::NetCameraPlugin() = default;

QString NetCameraPlugin::name()
{
    return QStringLiteral("NetworkCamera");
}

int NetCameraPlugin::kind()
{
    return 2;
}

QVector<_cameraInfo> NetCameraPlugin::enumCameras()
{
    found_.clear();
    const QJsonObject cfg = readConfig();
    QVector<_cameraInfo> list;
    auto add = [&](const QString& serial, const tZelCameraDevInfo& rec) {
        if (found_.contains(serial) || serial.size() < 8 || serial.size() > 256) {
            qWarning("network cameras: serial \"%s\" unusable or twice, left out", qPrintable(serial));
            return;
        }
        _cameraInfo info;
        info.index = list.size();
        info.pluginName = name();
        setCameraSerial(info, serial);
        info.extra.insert(QStringLiteral("ip"), zelDeviceIp(rec));
        list.append(info);
        found_.insert(serial, rec);
    };

    for (const QJsonValue& v : cfg.value(QStringLiteral("cameras")).toArray()) {
        const QJsonObject c = v.toObject();
        const QString ip = c.value(QStringLiteral("ip")).toString();
        if (QHostAddress(ip).protocol() != QAbstractSocket::IPv4Protocol) {
            qWarning("network cameras: \"%s\" is not an IPv4 address, left out", qPrintable(ip));
            continue;
        }
        tZelCameraDevInfo rec;
        std::memset(&rec, 0, sizeof(rec));
        const QString serial = c.value(QStringLiteral("serial")).toString(QStringLiteral("NET-") + ip);
        zelSetDeviceTexts(rec, serial.left(32), ip);
        if (list.size() < kMaxCameras)
            add(serial, rec);
    }

    // Discovery broadcasts on every network of the machine: only on the
    // monitor's own computer unless the configuration asks for it.
    const bool discover = cfg.value(QStringLiteral("discover")).toBool(platform::runner().isTarget());
    if (discover) {
        ZelCameraSdkInit(0);
        tZelCameraDevInfo records[kMaxCameras];
        std::memset(records, 0, sizeof(records));
        int count = kMaxCameras;
        if (ZelCameraEnumerateDevice(records, count) == ZEL_OK) {
            for (int i = 0; i < count && list.size() < kMaxCameras; ++i)
                add(zelDeviceKey(records[i]), records[i]);
        }
    }
    return list;
}

CameraInterface* NetCameraPlugin::createCamera(_cameraInfo info)
{
    const QString serial = cameraSerial(info);
    const auto it = found_.constFind(serial);
    if (it == found_.cend()) {
        qWarning("network cameras: no camera with serial %s", qPrintable(serial));
        return nullptr;
    }
    return new NetCamera(it.value(), serial, name());
}

}  // namespace netcam
