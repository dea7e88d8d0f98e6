// The operation record: table RECORD of ./RECORD.db for the current day,
// rolled over into ./RECORD/<yyyy-MM-dd>.db when the date changes.
//
// The day the rows belong to is kept inside the database (table RECORDDAY),
// so a program started on a later day rolls the old rows over too. A day file
// that already exists is merged into, never overwritten.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

class RecordStore {
public:
    explicit RecordStore(const QString& connectionName = QStringLiteral("dbRecord"));
    ~RecordStore();

    // Opens ./RECORD.db (it must exist: the caller restores it from
    // RECORDNULL.db first) and makes sure of the table and its columns.
    bool open(const QString& path = QStringLiteral("./RECORD.db"));
    void close();
    QSqlDatabase& db() { return db_; }

    // Appends one row; rolls the file over first when `today` is a later day.
    bool insert(const QString& time, const QString& level, const QString& remarks, const QString& type,
                const QDate& today = QDate::currentDate());

    // Appends one row to table RECORD of `db` as it is (no rollover).
    static bool insertRow(QSqlDatabase& db, const QString& time, const QString& level, const QString& remarks,
                          const QString& type);

    // Moves the rows of an earlier day into its day file and starts afresh.
    bool rolloverIfNeeded(const QDate& today);
    QDate day() const { return day_; }

private:
    bool ensureSchema();
    QString path_;
    QString name_;
    QSqlDatabase db_;
    QDate day_;
};
