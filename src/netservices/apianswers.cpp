#include "apianswers.h"

#include "clearfold.h"

#include "databases.h"
#include "publictools.h"
#include "productioncounters.h"
#include "apisnapshot.h"

#include "winstate.h"
#include "statewords.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

namespace apianswers {

QJsonObject productInfos(const QString& deviceName)
{
    ApiSnapshot state = ApiSnapshot::capture(nullptr);
    state.deviceName = deviceName;
    return productInfos(state);
}

QJsonObject productInfos(const ApiSnapshot& state)
{
    const int cameras = std::clamp(state.cameraCount, 0, kMaxCamera);
    int detectAll = 0;
    for (int i = 0; i < kMaxCamera; ++i)
        detectAll = std::max(detectAll, state.allCycle[i]);
    QJsonArray all, ng;
    for (int i = 0; i < cameras; ++i) {
        all.append(state.all[i]);
        ng.append(state.fail[i]);
    }
    QJsonObject o;
    o.insert(QStringLiteral("camera_count"), state.cameraCount);
    o.insert(QStringLiteral("device_sn"), state.deviceSn);
    o.insert(QStringLiteral("device_id"), state.deviceName);
    o.insert(QStringLiteral("run_status"), state.runWord);
    o.insert(QStringLiteral("detect_status"), state.detectWord);
    o.insert(QStringLiteral("detect_all"), detectAll);
    o.insert(QStringLiteral("detect_ng"), state.syncNgCycle);
    o.insert(QStringLiteral("detect_all_detail"), all);
    o.insert(QStringLiteral("detect_ng_detail"), ng);
    return o;
}

QString detectedPicture(const QJsonObject& request, QString* errorText, const QString& pictureRoot)
{
    return detectedPicture(request, errorText, pictureRoot, numCamera, gDNum);
}

QString detectedPicture(const QJsonObject& request, QString* errorText, const QString& pictureRoot, int cameras,
                        int steps)
{
    const int camera = request.value(QStringLiteral("camera_index")).toInt(-1);
    const int detect = request.value(QStringLiteral("detect_index")).toInt(-1);
    const bool ok = request.value(QStringLiteral("detect_result")).toBool(false);
    const QString name = request.value(QStringLiteral("picture_name")).toString();
    if (camera < 0 || detect < 0 || camera >= cameras || detect >= steps) {
        *errorText = QStringLiteral("参数错误");
        return QString();
    }
    *errorText = QStringLiteral("未查询到图片");
    // Only a bare file name: no folder part, no "." or "..", no NUL.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\')) || name.contains(QChar(0)))
        return QString();
    const QString folder = QStringLiteral("%1/camera%2/detect%3/%4")
                               .arg(pictureRoot)
                               .arg(camera + 1)
                               .arg(detect + 1)
                               .arg(ok ? QStringLiteral("OK") : QStringLiteral("NG"));
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QFileInfo file(folder + QLatin1Char('/') + name);
    const QString canonicalFile = file.canonicalFilePath();
    // A link that leads out of the folder is not a picture of the folder.
    if (canonicalFolder.isEmpty() || canonicalFile.isEmpty() || !QFileInfo(canonicalFile).isFile()
        || QFileInfo(canonicalFile).path() != canonicalFolder)
        return QString();
    errorText->clear();
    return canonicalFile;
}

bool clockValue(const QJsonObject& request, QDateTime* when)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    if (!request.contains(QStringLiteral("datetime")))
        return false;
    const QString text = request.value(QStringLiteral("datetime")).toString();
    const QDateTime parsed = QDateTime::fromString(text, format);
    if (!parsed.isValid() || parsed.toString(format) != text)
        return false;
    if (parsed.date().year() < 2000 || parsed.date().year() > 2099)
        return false;
    *when = parsed;
    return true;
}

namespace {

ClearFold& clearFold()
{
    static ClearFold* fold = new ClearFold;  // outlives every timer it set
    return *fold;
}

}  // namespace

void clearAllCounters(const QString& /*peer*/)
{
    ProductionCounters::get().resetFromApi();
    Databases::get().CountWrite();
    clearFold().add();
}

void writeHeldClears()
{
    clearFold().writeHeld();
}

}  // namespace apianswers
