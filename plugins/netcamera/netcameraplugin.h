// Root object of the network-camera plug-in (kind 2, physical): lists the
// cameras the configuration names, or those the discovery finds, and makes
// camera objects that work through the camera SDK.
//
// Configuration: the environment variable VMM_CAMERA_NETWORK (the JSON text
// itself or the path of a JSON file), else "<plug-in file name>.json" beside
// the plug-in:
// {
//   "discover": false,                  find cameras by broadcast (default:
//                                       only on the monitor's own computer)
//   "cameras": [ { "ip": "127.0.0.2", "serial": "NETCAM-0001" } ]
// }
// A camera without "serial" is listed as "NET-<ip>".
#pragma once

#include "camerainterface.h"
#include "zelCameraApi.h"

#include <QMap>

namespace netcam {

class NetCameraPlugin : public CameraInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.zel.palvex.camerainterface")
    Q_INTERFACES(CameraInterface)
public:
    NetCameraPlugin();

    QString name() override;
    int kind() override;
    QVector<_cameraInfo> enumCameras() override;
    CameraInterface* createCamera(_cameraInfo info) override;

    static constexpr int kMaxCameras = 8;

private:
    QMap<QString, tZelCameraDevInfo> found_;  // serial -> record of the last listing
};

}  // namespace netcam
