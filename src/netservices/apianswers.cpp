#include "apianswers.h"

#include "databases.h"
#include "publictools.h"
#include "productioncounters.h"
#include "apisnapshot.h"

#include "winstate.h"
#include "statewords.h"

#include <QDir>
#include <QHash>
#include <QTimer>
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

const QString kClearRow = QStringLiteral("API: 清除计数");

// The clears of each address since its last row (see clearAllCounters).
struct ClearFolding {
    struct Window {
        qint64 startMs = 0;  // its last row
        int held = 0;        // clears since, not written yet
    };
    QHash<QString, Window> windows;
    bool scheduled = false;

    void schedule()
    {
        if (scheduled)
            return;
        scheduled = true;
        QTimer::singleShot(kClearFoldMs, [this] { due(); });
    }

    // Writes the counts whose time is over (all of them when `all`);
    // forgets the addresses that cleared no more.
    void due(bool all = false)
    {
        scheduled = false;
        const qint64 now = ::monotonic_ms();
        for (auto it = windows.begin(); it != windows.end();) {
            if (!all && now - it->startMs < kClearFoldMs) {
                ++it;
            } else if (it->held > 0) {
                Databases::get().InsertRecord(kClearRow + QStringLiteral(" ×%1").arg(it->held), QStringLiteral("API"));
                *it = Window{now, 0};
                ++it;
            } else {
                it = windows.erase(it);
            }
        }
        if (!windows.isEmpty())
            schedule();
    }

    void add(const QString& peer)
    {
        const qint64 now = ::monotonic_ms();
        const auto it = windows.find(peer);
        if (it != windows.end() && now - it->startMs < kClearFoldMs) {
            ++it->held;  // written when its time is over
            return;
        }
        // Its time is over even if the timer has not come yet: this clear
        // is written now, with those still held.
        const int held = it != windows.end() ? it->held + 1 : 1;
        Databases::get().InsertRecord(held > 1 ? kClearRow + QStringLiteral(" ×%1").arg(held) : kClearRow,
                                      QStringLiteral("API"));
        windows.insert(peer, Window{now, 0});
        schedule();
    }
};

ClearFolding& clearFolding()
{
    static ClearFolding* folding = new ClearFolding;  // outlives every timer it set
    return *folding;
}

}  // namespace

void clearAllCounters(const QString& peer)
{
    ProductionCounters::get().resetFromApi();
    Databases::get().CountWrite();
    clearFolding().add(peer);
}

void writeHeldClears()
{
    clearFolding().due(true);
}

}  // namespace apianswers
