// The operation-record query of the HTTP API: rows of table RECORD that fall
// in a date-time range, from today's RECORD.db and the day files
// ./RECORD/<yyyy-MM-dd>.db, optionally filtered by type and operator.
#pragma once

#include <QDate>
#include <QJsonObject>
#include <QMap>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QTime>

namespace recordquery {

// The rows of one date are read between these two times of day.
using DayWindow = QPair<QTime, QTime>;

// The window of `date` for the range start..end, or an invalid pair when the
// date lies outside the range. A range whose end date lies before its start
// date has the single window (start time, end time) on the start's date.
DayWindow windowFor(const QDateTime& start, const QDateTime& end, const QDate& date);

// All windows of the range, date by date (for short ranges and tests).
QMap<QDate, DayWindow> dayWindows(const QDateTime& start, const QDateTime& end);

// Answers one request: {"record": [[datetime, operator, remarks, type], ...]}
// or {"errorstring": "错误的时间格式"}. `todayDb` is the open connection of
// today's RECORD.db; `recordDir` the folder of the day files.
QJsonObject query(const QJsonObject& request, const QSqlDatabase& todayDb, const QDate& today,
                  const QString& recordDir = QStringLiteral("./RECORD"));

}  // namespace recordquery
