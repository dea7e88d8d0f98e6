// What the HTTP API's routes compute, apart from the transport: the product
// information, the picture look-up confined to the picture folders, the
// clock text check and the counter clear. What reads the globals runs on
// the GUI thread; the forms that take a published state run anywhere.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

struct ApiSnapshot;

namespace apianswers {

// The answer of "get_product_infos".
QJsonObject productInfos(const QString& deviceName);
QJsonObject productInfos(const ApiSnapshot& state);

// The picture that a "get_detected_picture" request names, as an absolute
// path below ./alarmimage/camera<c>/detect<d>/OK|NG; empty with `errorText`
// set ("参数错误" or "未查询到图片") otherwise. `pictureRoot` is the folder
// that holds the camera folders.
QString detectedPicture(const QJsonObject& request, QString* errorText,
                        const QString& pictureRoot = QStringLiteral("./alarmimage"));
// The same with the camera and step counts given.
QString detectedPicture(const QJsonObject& request, QString* errorText, const QString& pictureRoot, int cameras,
                        int steps);

// The "datetime" of a "set_localclock" request when it is exactly
// "yyyy-MM-dd hh:mm:ss", a real date, and plausible for a clock (2000-2099).
bool clockValue(const QJsonObject& request, QDateTime* when);

// Zeroes all six counters, saves them and records the clear (see
// ClearFold: rows of such clears are at least ClearFold::kFoldMs apart,
// whichever clients clear). `peer` is the client's address. GUI thread only.
void clearAllCounters(const QString& peer = QString());
// Writes at once the clears counted and not yet in a row: at a clean stop
// those of this run, at start those a killed run held. GUI thread only.
void writeHeldClears();

}  // namespace apianswers
