// Configuration of the cameras a plug-in offers.
//
// Read from the environment variable VMM_CAMERA_SIMULATED (simulated kind) or
// VMM_CAMERA_REPLAY (replay kind), which holds either the JSON text itself or
// the path of a JSON file; otherwise from "<plug-in file name>.json" beside the
// plug-in; otherwise built-in defaults (two synthesised grey cameras).
//
// {
//   "control": "vmm-camera-replay",      local socket for run-time injection ("" = none):
//                                         a plain name lies where Qt keeps local
//                                         sockets, a path below the working folder;
//                                         without the key: <working folder>/vmm-camera-replay
//   "cameras": [
//     { "serial": "REPLAY-0001",          8..256 characters, unique
//       "width": 1280, "height": 1024,    1..16384 each
//       "color": false,                   colour sensor (else grey)
//       "source": "synthetic",            or "folder" with "folder": "<path>"
//       "seed": 1, "scene": "product",    or "empty"
//       "defects": ["spot"],              spot, shortshot, flash, leftpart, colorblob,
//                                         missinginsert
//       "defectSize": 1.0,                scale of the defects (0.25..4)
//       "defectContrast": 1.0,            share of the defects' contrast (0.1..1)
//       "drift": { "start": 0, "period": 3000 },  a moving cell (driftscene.h);
//                                         every field optional, false/absent: off
//       "faults": { "openFail": false, "size0": false, "missEvery": 0,
//                   "lossAfter": 0, "reconnectFails": 0 } }
//   ]
// }
#pragma once

#include "driftscene.h"

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
    DefectMissingInsert = 1u << 5,
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
    double defectSize = 1.0;
    double defectContrast = 1.0;
    DriftSettings drift;
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
// The defect scale and contrast share brought into their ranges.
double clampDefectSize(double v);
double clampDefectContrast(double v);

}  // namespace mouldcam
