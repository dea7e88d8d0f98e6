#include "recordstore.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {
bool exec(QSqlQuery& q, const QString& sql)
{
    if (!q.exec(sql)) {
        qWarning("RECORD.db: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}
}  // namespace

RecordStore::RecordStore(const QString& connectionName)
    : name_(connectionName)
{
}

RecordStore::~RecordStore()
{
    close();
    db_ = QSqlDatabase();
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

bool RecordStore::open(const QString& path)
{
    path_ = path;
    if (!QSqlDatabase::contains(name_))
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    else
        db_ = QSqlDatabase::database(name_, false);
    db_.setDatabaseName(path);
    if (!db_.open()) {
        qWarning("RECORD.db cannot be opened: %s", qPrintable(db_.lastError().text()));
        return false;
    }
    return ensureSchema();
}

void RecordStore::close()
{
    if (db_.isValid() && db_.isOpen())
        db_.close();
}

bool RecordStore::ensureSchema()
{
    QSqlQuery q(db_);
    bool ok = exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)"));
    const QSqlRecord cols = db_.record(QStringLiteral("RECORD"));
    if (cols.indexOf(QStringLiteral("recordtype")) < 0)
        ok &= exec(q, QStringLiteral("ALTER TABLE RECORD ADD COLUMN recordtype TEXT"));
    ok &= exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS RECORDDAY (day TEXT)"));
    day_ = QDate();
    if (exec(q, QStringLiteral("SELECT day FROM RECORDDAY LIMIT 1")) && q.next())
        day_ = QDate::fromString(q.value(0).toString(), Qt::ISODate);
    return ok;
}

bool RecordStore::rolloverIfNeeded(const QDate& today)
{
    if (!db_.isOpen())
        return false;
    QSqlQuery q(db_);
    if (!day_.isValid()) {
        // A file of unknown day (older program, fresh copy): its rows count as today's.
        exec(q, QStringLiteral("DELETE FROM RECORDDAY"));
        q.prepare(QStringLiteral("INSERT INTO RECORDDAY (day) VALUES (?)"));
        q.addBindValue(today.toString(Qt::ISODate));
        if (!q.exec())
            return false;
        day_ = today;
        return true;
    }
    if (day_ >= today)
        return true;

    QDir().mkpath(QStringLiteral("./RECORD"));
    const QString dayFile = QStringLiteral("./RECORD/%1.db").arg(day_.toString(QStringLiteral("yyyy-MM-dd")));
    // Copy the rows into the day file inside one transaction of this file;
    // only when that succeeded are they removed here.
    q.prepare(QStringLiteral("ATTACH DATABASE ? AS dayfile"));
    q.addBindValue(dayFile);
    if (!q.exec()) {
        qWarning("RECORD.db rollover: cannot attach %s: %s", qPrintable(dayFile), qPrintable(q.lastError().text()));
        return false;
    }
    bool ok = exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS dayfile.RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)"));
    if (ok) {
        const QSqlRecord cols = db_.record(QStringLiteral("dayfile.RECORD"));
        if (cols.count() > 0 && cols.indexOf(QStringLiteral("recordtype")) < 0)
            ok = exec(q, QStringLiteral("ALTER TABLE dayfile.RECORD ADD COLUMN recordtype TEXT"));
    }
    ok = ok && db_.transaction();
    if (ok) {
        ok = exec(q, QStringLiteral("INSERT INTO dayfile.RECORD (recordtime, recordpassword, remarks, recordtype) "
                                    "SELECT recordtime, recordpassword, remarks, recordtype FROM main.RECORD"))
             && exec(q, QStringLiteral("DELETE FROM main.RECORD")) && exec(q, QStringLiteral("DELETE FROM main.RECORDDAY"));
        if (ok) {
            q.prepare(QStringLiteral("INSERT INTO main.RECORDDAY (day) VALUES (?)"));
            q.addBindValue(today.toString(Qt::ISODate));
            ok = q.exec();
        }
        ok = ok ? db_.commit() : (db_.rollback(), false);
    }
    exec(q, QStringLiteral("DETACH DATABASE dayfile"));
    if (ok)
        day_ = today;
    return ok;
}

bool RecordStore::insert(const QString& time, const QString& level, const QString& remarks, const QString& type,
                         const QDate& today)
{
    if (!db_.isOpen() && !(db_.isValid() && db_.open()))
        return false;
    rolloverIfNeeded(today);
    return insertRow(db_, time, level, remarks, type);
}

bool RecordStore::insertRow(QSqlDatabase& db, const QString& time, const QString& level, const QString& remarks,
                            const QString& type)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)"));
    q.addBindValue(time);
    q.addBindValue(level);
    q.addBindValue(remarks);
    q.addBindValue(type);
    if (!q.exec()) {
        qWarning("InsertRecord failed: %s", qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}
