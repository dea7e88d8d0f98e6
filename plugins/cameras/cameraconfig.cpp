#include "cameraconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace mouldcam {

namespace {

bool readJsonObject(const QByteArray& text, const QString& where, QJsonObject* out)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qWarning("camera configuration %s refused: %s", qPrintable(where), qPrintable(err.errorString()));
        return false;
    }
    *out = doc.object();
    return true;
}

QJsonObject defaultConfig(int kind)
{
    const QString prefix = kind == 0 ? QStringLiteral("SIMULATED-") : QStringLiteral("REPLAY-");
    QJsonArray cams;
    for (int i = 1; i <= 2; ++i) {
        QJsonObject c;
        c[QStringLiteral("serial")] = prefix + QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
        c[QStringLiteral("seed")] = kind * 10 + i;
        cams.append(c);
    }
    QJsonObject root;
    root[QStringLiteral("cameras")] = cams;
    return root;
}

}  // namespace

bool defectFromName(const QString& name, unsigned* bit)
{
    static const struct { const char* name; unsigned bit; } kDefects[] = {
        {"spot", DefectSpot}, {"shortshot", DefectShortShot}, {"flash", DefectFlash},
        {"leftpart", DefectLeftPart}, {"colorblob", DefectColorBlob}, {"missinginsert", DefectMissingInsert},
    };
    for (const auto& d : kDefects) {
        if (name == QLatin1String(d.name)) {
            *bit = d.bit;
            return true;
        }
    }
    return false;
}

double clampDefectSize(double v)
{
    return qBound(0.25, v, 4.0);
}

double clampDefectContrast(double v)
{
    return qBound(0.1, v, 1.0);
}

bool sceneFromName(const QString& name, Scene* scene)
{
    if (name == QLatin1String("product")) {
        *scene = Scene::Product;
        return true;
    }
    if (name == QLatin1String("empty") || name == QLatin1String("empty cavity")) {
        *scene = Scene::Empty;
        return true;
    }
    return false;
}

PluginConfig parseConfig(const QJsonObject& root, const QString& baseDir, const QString& defaultControl)
{
    PluginConfig cfg;
    cfg.control = root.contains(QStringLiteral("control")) ? root.value(QStringLiteral("control")).toString()
                                                           : defaultControl;
    // A relative path names a socket below the working folder.
    if (cfg.control.contains(QLatin1Char('/')))
        cfg.control = QDir::current().absoluteFilePath(cfg.control);
    QSet<QString> seen;
    const QJsonArray cams = root.value(QStringLiteral("cameras")).toArray();
    for (int i = 0; i < cams.size(); ++i) {
        const QJsonObject o = cams.at(i).toObject();
        CameraConfig c;
        c.serial = o.value(QStringLiteral("serial")).toString();
        // The device block keeps the serial with its NUL in 288 bytes.
        if (c.serial.size() < 8 || c.serial.size() > 256 || c.serial.toUtf8().size() > 287) {
            qWarning("camera %d left out: serial must have 8 to 256 characters", i);
            continue;
        }
        if (seen.contains(c.serial)) {
            qWarning("camera %d left out: serial %s given twice", i, qPrintable(c.serial));
            continue;
        }
        c.width = o.value(QStringLiteral("width")).toInt(c.width);
        c.height = o.value(QStringLiteral("height")).toInt(c.height);
        if (c.width < 1 || c.height < 1 || c.width > kMaxSide || c.height > kMaxSide) {
            qWarning("camera %s left out: size %d x %d", qPrintable(c.serial), c.width, c.height);
            continue;
        }
        c.color = o.value(QStringLiteral("color")).toBool(false);
        const QString source = o.value(QStringLiteral("source")).toString(QStringLiteral("synthetic"));
        if (source == QLatin1String("folder")) {
            const QString folder = o.value(QStringLiteral("folder")).toString();
            if (folder.isEmpty()) {
                qWarning("camera %s left out: source folder without \"folder\"", qPrintable(c.serial));
                continue;
            }
            c.folderSource = true;
            c.folder = QDir(baseDir).absoluteFilePath(folder);
        } else if (source != QLatin1String("synthetic")) {
            qWarning("camera %s left out: unknown source %s", qPrintable(c.serial), qPrintable(source));
            continue;
        }
        c.seed = quint32(o.value(QStringLiteral("seed")).toInt(int(i + 1)));
        const QString scene = o.value(QStringLiteral("scene")).toString(QStringLiteral("product"));
        if (!sceneFromName(scene, &c.scene))
            qWarning("camera %s: unknown scene %s, showing the product", qPrintable(c.serial), qPrintable(scene));
        for (const QJsonValue& d : o.value(QStringLiteral("defects")).toArray()) {
            unsigned bit = 0;
            if (defectFromName(d.toString(), &bit))
                c.defects |= bit;
            else
                qWarning("camera %s: unknown defect %s ignored", qPrintable(c.serial), qPrintable(d.toString()));
        }
        c.defectSize = clampDefectSize(o.value(QStringLiteral("defectSize")).toDouble(1.0));
        c.defectContrast = clampDefectContrast(o.value(QStringLiteral("defectContrast")).toDouble(1.0));
        const QJsonValue drift = o.value(QStringLiteral("drift"));
        if (drift.isObject() || drift.toBool(false)) {
            const QJsonObject d = drift.toObject();
            DriftSettings& s = c.drift;
            s.on = true;
            s.start = quint64(qMax(0.0, d.value(QStringLiteral("start")).toDouble(0)));
            s.period = quint64(qBound(10.0, d.value(QStringLiteral("period")).toDouble(double(s.period)), 1e9));
            s.lighting = qBound(0.0, d.value(QStringLiteral("lighting")).toDouble(s.lighting), 0.5);
            s.flicker = qBound(0.0, d.value(QStringLiteral("flicker")).toDouble(s.flicker), 0.2);
            s.noise = qBound(0.0, d.value(QStringLiteral("noise")).toDouble(s.noise), 20.0);
            s.shift = qBound(0.0, d.value(QStringLiteral("shift")).toDouble(s.shift), 200.0);
            s.rotation = qBound(0.4, d.value(QStringLiteral("rotation")).toDouble(s.rotation), 10.0);
            s.blur = qBound(0.0, d.value(QStringLiteral("blur")).toDouble(s.blur), 5.0);
            s.partOffset = qBound(0, d.value(QStringLiteral("partOffset")).toInt(s.partOffset), 20);
            s.settleFrames = qBound(0, d.value(QStringLiteral("settleFrames")).toInt(s.settleFrames), 100);
        }
        const QJsonObject f = o.value(QStringLiteral("faults")).toObject();
        c.faults.openFail = f.value(QStringLiteral("openFail")).toBool(false);
        c.faults.size0 = f.value(QStringLiteral("size0")).toBool(false);
        c.faults.missEvery = qMax(0, f.value(QStringLiteral("missEvery")).toInt(0));
        c.faults.lossAfter = qMax(0, f.value(QStringLiteral("lossAfter")).toInt(0));
        c.faults.reconnectFails = qMax(0, f.value(QStringLiteral("reconnectFails")).toInt(0));
        seen.insert(c.serial);
        cfg.cameras.append(c);
    }
    return cfg;
}

PluginConfig loadConfig(int kind, const QString& pluginPath, const QString& defaultControl)
{
    const char* var = kind == 0 ? "VMM_CAMERA_SIMULATED" : "VMM_CAMERA_REPLAY";
    const QByteArray env = qgetenv(var).trimmed();
    QJsonObject root;
    if (!env.isEmpty()) {
        if (env.startsWith('{')) {
            if (readJsonObject(env, QString::fromLatin1(var), &root))
                return parseConfig(root, QDir::currentPath(), defaultControl);
        } else {
            const QString path = QString::fromLocal8Bit(env);
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                qWarning("camera configuration %s cannot be read", qPrintable(path));
            else if (readJsonObject(f.readAll(), path, &root))
                return parseConfig(root, QFileInfo(path).absolutePath(), defaultControl);
        }
        return PluginConfig{defaultControl, {}};  // a broken configuration offers no camera
    }
    if (!pluginPath.isEmpty()) {
        const QFileInfo so(pluginPath);
        const QString path = so.absolutePath() + QLatin1Char('/') + so.completeBaseName() + QStringLiteral(".json");
        QFile f(path);
        if (f.exists()) {
            if (f.open(QIODevice::ReadOnly) && readJsonObject(f.readAll(), path, &root))
                return parseConfig(root, so.absolutePath(), defaultControl);
            return PluginConfig{defaultControl, {}};
        }
    }
    return parseConfig(defaultConfig(kind), QDir::currentPath(), defaultControl);
}

}  // namespace mouldcam
