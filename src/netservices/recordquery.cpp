#include "recordquery.h"

#include <QDir>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>

namespace recordquery {

namespace {

const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString kDayFormat = QStringLiteral("yyyy-MM-dd");
const QString kRowTimeFormat = QStringLiteral("hh.mm.ss");
const QTime kDayStart(0, 0, 0);
const QTime kDayEnd(23, 59, 59);

struct Filters {
    bool byType = false;
    QString type;
    bool byOperator = false;
    QString op;
};

// Reads the rows of one day from `db` into `out`; false when the statement
// failed (logged).
bool readDay(const QSqlDatabase& db, const QDate& date, const DayWindow& window, const Filters& f, QJsonArray* out)
{
    QString sql = QStringLiteral("SELECT recordtime, recordpassword, remarks, recordtype FROM RECORD"
                                 " WHERE recordtime BETWEEN ? AND ?");
    if (f.byType)
        sql += QStringLiteral(" AND recordtype = ?");
    if (f.byOperator)
        sql += QStringLiteral(" AND recordpassword = ?");
    sql += QLatin1Char(';');

    QSqlQuery q(db);
    bool ok = q.prepare(sql);
    if (ok) {
        q.addBindValue(window.first.toString(kRowTimeFormat));
        q.addBindValue(window.second.toString(kRowTimeFormat));
        if (f.byType)
            q.addBindValue(f.type);
        if (f.byOperator)
            q.addBindValue(f.op);
        ok = q.exec();
    }
    if (!ok) {
        qWarning("查询失败：%s", qPrintable(q.lastError().text()));
        return false;
    }
    const QString day = date.toString(kDayFormat);
    while (q.next()) {
        QString time = q.value(0).toString();
        time.replace(QLatin1Char('.'), QLatin1Char(':'));
        out->append(QJsonArray{day + QLatin1Char(' ') + time, q.value(1).toString(), q.value(2).toString(),
                               q.value(3).toString()});
    }
    return true;
}

// One day file, opened read-only under a connection of its own that is
// removed again before returning.
void readDayFile(const QString& folder, const QString& fileName, const QDate& date, const DayWindow& window,
                 const Filters& f, QJsonArray* out)
{
    const QString connection = fileName;
    if (QSqlDatabase::contains(connection))
        QSqlDatabase::removeDatabase(connection);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(folder + QLatin1Char('/') + fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            qWarning("Cannot open database:%s", qPrintable(db.lastError().text()));
        else
            readDay(db, date, window, f, out);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

}  // namespace

DayWindow windowFor(const QDateTime& start, const QDateTime& end, const QDate& date)
{
    const QDate sd = start.date();
    const QDate ed = end.date();
    if (ed <= sd)
        return date == sd ? DayWindow(start.time(), end.time()) : DayWindow();
    if (date < sd || date > ed)
        return DayWindow();
    return DayWindow(date == sd ? start.time() : kDayStart, date == ed ? end.time() : kDayEnd);
}

QMap<QDate, DayWindow> dayWindows(const QDateTime& start, const QDateTime& end)
{
    QMap<QDate, DayWindow> windows;
    const QDate last = std::max(start.date(), end.date());
    for (QDate d = start.date(); d <= last; d = d.addDays(1))
        windows.insert(d, windowFor(start, end, d));
    return windows;
}

QJsonObject query(const QJsonObject& request, const QSqlDatabase& todayDb, const QDate& today, const QString& recordDir)
{
    const QDateTime start = QDateTime::fromString(request.value(QStringLiteral("datetime_start")).toString(), kDateTimeFormat);
    const QDateTime end = QDateTime::fromString(request.value(QStringLiteral("datetime_end")).toString(), kDateTimeFormat);
    if (!start.isValid() || !end.isValid())
        return QJsonObject{{QStringLiteral("errorstring"), QStringLiteral("错误的时间格式")}};

    Filters f;
    if (request.contains(QStringLiteral("recordtype"))) {
        f.type = request.value(QStringLiteral("recordtype")).toString();
        f.byType = f.type != QLatin1String("all");
    }
    if (request.contains(QStringLiteral("operator"))) {
        f.op = request.value(QStringLiteral("operator")).toString();
        f.byOperator = f.op != QLatin1String("all");
        if (f.op.isEmpty())
            f.op = QStringLiteral("未登录");
    }

    // Only dates that have rows somewhere are visited: today's, and the day
    // files present in the folder, so a range of centuries costs one listing.
    QMap<QDate, QString> days;  // date -> day file name, empty for today
    QDir dir(recordDir);
    const QStringList files = dir.entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Hidden);
    for (const QString& name : files) {
        const QString stem = name.left(name.size() - 3);
        const QDate d = QDate::fromString(stem, kDayFormat);
        if (!d.isValid() || d.toString(kDayFormat) != stem || d == today)
            continue;
        if (windowFor(start, end, d).first.isValid())
            days.insert(d, name);
    }
    if (windowFor(start, end, today).first.isValid())
        days.insert(today, QString());

    QJsonArray rows;
    for (auto it = days.cbegin(); it != days.cend(); ++it) {
        const DayWindow window = windowFor(start, end, it.key());
        if (it.value().isEmpty())
            readDay(todayDb, it.key(), window, f, &rows);
        else
            readDayFile(dir.path(), it.value(), it.key(), window, f, &rows);
    }
    return QJsonObject{{QStringLiteral("record"), rows}};
}

}  // namespace recordquery
