// The program's databases as a service: PARAM.db with the query every
// parameter statement runs through, and the operation record (RECORD.db and
// its day rollover), with the record, counter and flush operations on them.
//
// The main window opens the databases at start-up and installs its instance
// once; whatever writes a parameter, a record row or the counters reaches
// them through Databases::get(). Without an installed instance (a program
// part without a main window) nothing is open: a record row is dropped, the
// counters are not written and nothing is flushed. The installer keeps the
// query and the record store it hands over. Tests
// install their own. GUI thread only.
#pragma once

#include <QSqlDatabase>
#include <QString>

#include <functional>

class QSqlQuery;
class RecordStore;

class Databases {
public:
    Databases() = default;
    Databases(const Databases&) = delete;
    Databases& operator=(const Databases&) = delete;

    // The installed databases, else an empty set.
    static Databases& get();
    // Installs `databases` (nullptr: the empty set); returns the one replaced.
    static Databases* install(Databases* databases);

    QSqlDatabase paramDb() const { return paramDb_; }      // PARAM.db, connection "dbIn"
    QSqlQuery* paramQuery() const { return paramQuery_; }
    QSqlDatabase recordDb() const { return recordDb_; }    // RECORD.db, the record of the day
    RecordStore* recordStore() const { return recordStore_; }  // owns recordDb and its rollover

    void setParamDb(const QSqlDatabase& db) { paramDb_ = db; }
    void setParamQuery(QSqlQuery* query) { paramQuery_ = query; }
    void setRecordDb(const QSqlDatabase& db) { recordDb_ = db; }
    void setRecordStore(RecordStore* store) { recordStore_ = store; }

    // Appends one row to table RECORD: time "hh.mm.ss", the signed-in rights
    // level's text, the remark and the type.
    void InsertRecord(QString remarks, QString recordtype = QString());
    // The same, with `alongside` run on the record's database in the same
    // transaction: the row and what `alongside` writes are on disk together
    // or not at all. True when both were.
    bool InsertRecordWith(const QString& remarks, const QString& recordtype,
                          const std::function<bool(QSqlDatabase&)>& alongside);
    // Runs `change` on the record's database in one transaction; true when
    // it succeeded and was committed.
    bool changeRecordDb(const std::function<bool(QSqlDatabase&)>& change);
    // Writes the six counters to count.ini.
    void CountWrite();
    // Closes the SQLite connections and waits 500 ms (before power-off/reboot).
    void FLushAll();

private:
    // The database rows go to, open and rolled over to today; invalid when
    // there is none.
    QSqlDatabase writableRecordDb();
    QSqlDatabase paramDb_;
    QSqlQuery* paramQuery_ = nullptr;
    QSqlDatabase recordDb_;
    RecordStore* recordStore_ = nullptr;
};
