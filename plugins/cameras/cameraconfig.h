// Configuration of the cameras a plug-in offers.
//
// Read from the environment variable VMM_CAMERA_SIMULATED (simulated kind) or
// VMM_CAMERA_REPLAY (replay kind), which holds either the JSON text itself or
// the path of a JSON file; otherwise from "<plug-in file name>.json" beside the
// plug-in; otherwise built-in defaults (two synthesised grey cameras).
//
// {
//   "control": "vmm-camera-replay",      local socket for run-time injection ("" = none)
//   "cameras": [
//     { "serial": "REPLAY-0001",          8..256 characters, unique
//       "width": 1280, "height": 1024,    1..16384 each
//       "color": false,                   colour sensor (else grey)
//       "source": "synthetic",            or "folder" with "folder": "<path>"
//       "seed": 1, "scene": "product",    or "empty"
//       "defects": ["spot"],              spot, shortshot, flash, leftpart, colorblob
//       "faults": { "openFail": false, "size0": false, "missEvery": 0,
//                   "lossAfter": 0, "reconnectFails": 0 } }
//   ]
// }
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace mouldcam {

enum Defect : unsigned {
    DefectSpot = 1u << 0,
    DefectShortShot = 1u << 1,
    DefectFlash = 1u << 2,
    DefectLeftPart = 1u << 3,
    DefectColorBlob = 1u << 4,
};

enum class Scene { Product, Empty };

struct Faults {
    bool openFail = false;   // open() fails
    bool size0 = false;      // getSize() reports 0 x 0
    int missEvery = 0;       // every k-th getImage() brings no frame (0: never)
    int lossAfter = 0;       // the device is lost after N further frames (0: never)
    int reconnectFails = 0;  // the next K reconnect attempts fail
};

struct CameraConfig {
    QString serial;
    int width = 1280;
    int height = 1024;
    bool color = false;
    bool folderSource = false;
    QString folder;          // absolute
    quint32 seed = 1;
    Scene scene = Scene::Product;
    unsigned defects = 0;
    Faults faults;
};

struct PluginConfig {
    QString control;
    QVector<CameraConfig> cameras;
};

constexpr int kMaxSide = 16384;

// Parses one configuration; entries that are not usable are left out with a
// warning. `baseDir` resolves relative picture folders.
PluginConfig parseConfig(const QJsonObject& root, const QString& baseDir, const QString& defaultControl);
// The configuration in force for a plug-in of `kind` whose file is `pluginPath`.
PluginConfig loadConfig(int kind, const QString& pluginPath, const QString& defaultControl);

// Defect names <-> bits; false for an unknown name.
bool defectFromName(const QString& name, unsigned* bit);
bool sceneFromName(const QString& name, Scene* scene);

}  // namespace mouldcam
