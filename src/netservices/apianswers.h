// What the HTTP API's routes compute, apart from the transport: the product
// information, the picture look-up confined to the picture folders, the
// clock text check and the counter clear. GUI thread.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace apianswers {

// The answer of "get_product_infos".
QJsonObject productInfos(const QString& deviceName);

// The picture that a "get_detected_picture" request names, as an absolute
// path below ./alarmimage/camera<c>/detect<d>/OK|NG; empty with `errorText`
// set ("参数错误" or "未查询到图片") otherwise. `pictureRoot` is the folder
// that holds the camera folders.
QString detectedPicture(const QJsonObject& request, QString* errorText,
                        const QString& pictureRoot = QStringLiteral("./alarmimage"));

// The "datetime" of a "set_localclock" request when it is exactly
// "yyyy-MM-dd hh:mm:ss", a real date, and plausible for a clock (2000-2099).
bool clockValue(const QJsonObject& request, QDateTime* when);

// Zeroes all six counters, saves them and writes the record row.
void clearAllCounters();

}  // namespace apianswers
