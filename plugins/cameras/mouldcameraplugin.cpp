#include "mouldcameraplugin.h"

#include "../pluginshared.h"
#include "mouldcamera.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mouldcam {

namespace {

constexpr int kMaxLine = 4096;

// The control socket of a program belongs to its working folder, so that two
// programs on one machine never share one.
QString defaultControl()
{
    return QDir::current().absoluteFilePath(QStringLiteral(VMM_CAMERA_CONTROL));
}

// True when a program answers on the socket `name`: it is in use and must
// not be removed.
bool socketIsLive(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool live = probe.waitForConnected(500);
    probe.abort();
    return live;
}

}  // namespace

MouldCameraPlugin::MouldCameraPlugin() = default;

MouldCameraPlugin::~MouldCameraPlugin() = default;

QString MouldCameraPlugin::name()
{
    return QStringLiteral(VMM_CAMERA_NAME);
}

int MouldCameraPlugin::kind()
{
    return VMM_CAMERA_KIND;
}

QVector<_cameraInfo> MouldCameraPlugin::enumCameras()
{
    config_ = loadConfig(VMM_CAMERA_KIND, vmmplugin::ownPath(), defaultControl());
    listen(config_.control);
    QVector<_cameraInfo> list;
    for (int i = 0; i < config_.cameras.size(); ++i) {
        const CameraConfig& c = config_.cameras[i];
        _cameraInfo info;
        info.index = i;
        info.pluginName = name();
        setCameraSerial(info, c.serial);  // the serial's length was checked when read
        // The rest of the device block: a short description after the serial.
        const QByteArray model = QStringLiteral("%1x%2 %3").arg(c.width).arg(c.height)
                                     .arg(c.color ? QStringLiteral("colour") : QStringLiteral("grey")).toUtf8();
        const int at = c.serial.toUtf8().size() + 1;
        const int room = kCameraDeviceBytes - at - 1;
        if (room > 0)
            std::memcpy(info.device + at, model.constData(), size_t(std::min(room, int(model.size()))));
        info.extra[QStringLiteral("width")] = c.width;
        info.extra[QStringLiteral("height")] = c.height;
        info.extra[QStringLiteral("color")] = c.color;
        list.append(info);
    }
    return list;
}

CameraInterface* MouldCameraPlugin::createCamera(_cameraInfo info)
{
    const QString serial = cameraSerial(info);
    for (const CameraConfig& c : qAsConst(config_.cameras)) {
        if (c.serial != serial)
            continue;
        auto* camera = new MouldCamera(c, kind(), name());
        cameras_.removeAll(QPointer<MouldCamera>());
        cameras_.append(camera);
        return camera;
    }
    qWarning("%s: no camera with serial %s", VMM_CAMERA_NAME, qPrintable(serial));
    return nullptr;
}

void MouldCameraPlugin::listen(const QString& name)
{
    if (server_ && server_->serverName() == name)
        return;
    delete server_;
    server_ = nullptr;
    if (name.isEmpty())
        return;
    if (socketIsLive(name)) {
        qWarning("%s: control socket %s is in use by another program; this one takes no control commands",
                 VMM_CAMERA_NAME, qPrintable(name));
        return;
    }
    server_ = new QLocalServer(this);
    QLocalServer::removeServer(name);  // nobody answers: a socket file left by an earlier run
    if (!server_->listen(name)) {
        qWarning("%s: control socket %s: %s", VMM_CAMERA_NAME, qPrintable(name), qPrintable(server_->errorString()));
        delete server_;
        server_ = nullptr;
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &MouldCameraPlugin::onConnection);
}

void MouldCameraPlugin::onConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    }
}

void MouldCameraPlugin::onReadyRead(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kMaxLine).trimmed();
        socket->write(command(line) + '\n');
    }
    if (socket->bytesAvailable() > kMaxLine) {
        socket->write("error: line too long\n");
        socket->disconnectFromServer();
    }
}

// Commands, one a line: "list", or "<serial|*> <verb> [arguments]" with
//   scene product|empty
//   defect none|<name>[,<name>...]       spot shortshot flash leftpart colorblob missinginsert
//   look <size> <contrast>               defect size scale (0.25..4), contrast share (0.1..1)
//   fault openfail on|off   fault size0 on|off   fault miss <k>
//   fault loss <n>          fault reconnectfail <k>
//   trigger
QByteArray MouldCameraPlugin::command(const QByteArray& line)
{
    const QStringList words = QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return "error: empty command";
    cameras_.removeAll(QPointer<MouldCamera>());
    if (words[0] == QLatin1String("list")) {
        QStringList serials;
        for (const auto& cam : qAsConst(cameras_))
            serials << cam->serial();
        return "ok " + serials.join(QLatin1Char(' ')).toUtf8();
    }
    if (words.size() < 2)
        return "error: expected <serial|*> <verb>";
    QVector<MouldCamera*> targets;
    for (const auto& cam : qAsConst(cameras_)) {
        if (words[0] == QLatin1String("*") || cam->serial() == words[0])
            targets.append(cam.data());
    }
    if (targets.isEmpty())
        return "error: no camera " + words[0].toUtf8();

    const QString verb = words[1];
    const QString arg = words.value(2), arg2 = words.value(3);
    bool ok = true;
    auto number = [&](const QString& s) {
        bool good = false;
        const int v = s.toInt(&good);
        if (!good || v < 0)
            ok = false;
        return v;
    };
    auto flag = [&](const QString& s) {
        if (s == QLatin1String("on"))
            return true;
        if (s != QLatin1String("off"))
            ok = false;
        return false;
    };

    if (verb == QLatin1String("scene")) {
        Scene scene;
        if (!sceneFromName(arg, &scene))
            return "error: unknown scene " + arg.toUtf8();
        for (MouldCamera* c : targets)
            c->setScene(scene);
    } else if (verb == QLatin1String("defect")) {
        unsigned defects = 0;
        if (arg != QLatin1String("none")) {
            for (const QString& n : arg.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                unsigned bit = 0;
                if (!defectFromName(n, &bit))
                    return "error: unknown defect " + n.toUtf8();
                defects |= bit;
            }
            if (defects == 0)
                return "error: expected defect names";
        }
        for (MouldCamera* c : targets)
            c->setDefects(defects);
    } else if (verb == QLatin1String("fault")) {
        if (arg == QLatin1String("openfail")) {
            const bool on = flag(arg2);
            if (ok)
                for (MouldCamera* c : targets)
                    c->faults().openFail = on;
        } else if (arg == QLatin1String("size0")) {
            const bool on = flag(arg2);
            if (ok)
                for (MouldCamera* c : targets)
                    c->faults().size0 = on;
        } else if (arg == QLatin1String("miss") || arg == QLatin1String("loss") || arg == QLatin1String("reconnectfail")) {
            const int v = number(arg2);
            if (ok)
                for (MouldCamera* c : targets) {
                    if (arg == QLatin1String("miss"))
                        c->faults().missEvery = v;
                    else if (arg == QLatin1String("loss"))
                        c->armLoss(v);
                    else
                        c->faults().reconnectFails = v;
                }
        } else {
            return "error: unknown fault " + arg.toUtf8();
        }
        if (!ok)
            return "error: bad value " + arg2.toUtf8();
    } else if (verb == QLatin1String("look")) {
        bool goodSize = false, goodContrast = false;
        const double size = arg.toDouble(&goodSize), contrast = arg2.toDouble(&goodContrast);
        if (!goodSize || !goodContrast || !std::isfinite(size) || !std::isfinite(contrast))
            return "error: expected look <size> <contrast>";
        for (MouldCamera* c : targets)
            c->setDefectLook(size, contrast);
    } else if (verb == QLatin1String("trigger")) {
        for (MouldCamera* c : targets)
            c->hardwareTrigger();
    } else {
        return "error: unknown command " + verb.toUtf8();
    }
    return "ok " + QByteArray::number(targets.size());
}

}  // namespace mouldcam
