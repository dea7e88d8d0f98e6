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
        {"leftpart", DefectLeftPart}, {"colorblob", DefectColorBlob},
    };
    for (const auto& d : kDefects) {
        if (name == QLatin1String(d.name)) {
            *bit = d.bit;
            return true;
        }
    }
    return false;
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
