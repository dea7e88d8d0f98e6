// Root object of our camera plug-ins. The same source is built twice: as the
// program's fallback simulated camera (kind 0) and as a replay camera that
// counts as physical (kind 1).
#pragma once

#include "camerainterface.h"
#include "cameraconfig.h"

#include <QPointer>
#include <QVector>

class QLocalServer;
class QLocalSocket;

namespace mouldcam {

class MouldCamera;

class MouldCameraPlugin : public CameraInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.zel.palvex.camerainterface")
    Q_INTERFACES(CameraInterface)
public:
    MouldCameraPlugin();
    ~MouldCameraPlugin() override;

    QString name() override;
    int kind() override;
    QVector<_cameraInfo> enumCameras() override;
    CameraInterface* createCamera(_cameraInfo info) override;

    // Runs one control command; the reply starts with "ok" or "error".
    QByteArray command(const QByteArray& line);

private:
    void listen(const QString& name);
    void onConnection();
    void onReadyRead(QLocalSocket* socket);

    PluginConfig config_;
    QLocalServer* server_ = nullptr;
    QVector<QPointer<MouldCamera>> cameras_;
};

}  // namespace mouldcam
