#include "databases.h"
#include "atomicfile.h"

#include "productioncounters.h"

#include "globals.h"
#include "lanstr.h"
#include "machineoutputs.h"
#include "operatordialogs.h"
#include "platform.h"
#include "recordstore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace {
Databases*& installed()
{
    static Databases* databases = nullptr;
    return databases;
}

Databases& none()
{
    static Databases empty;
    return empty;
}
}  // namespace

Databases& Databases::get()
{
    return installed() ? *installed() : none();
}

Databases* Databases::install(Databases* databases)
{
    Databases* replaced = installed();
    installed() = databases;
    return replaced;
}

void Databases::InsertRecord(QString remarks, QString recordtype)
{
    InsertRecordWith(remarks, recordtype, nullptr);
}

QSqlDatabase Databases::writableRecordDb()
{
    if (recordStore_) {
        QSqlDatabase& db = recordStore_->db();
        if (!db.isOpen() && !(db.isValid() && db.open()))
            return QSqlDatabase();
        recordStore_->rolloverIfNeeded(QDate::currentDate());
        return db;
    }
    if (!recordDb_.isValid())
        return QSqlDatabase();
    if (!recordDb_.isOpen() && !recordDb_.open()) {
        qWarning("InsertRecord: RECORD.db cannot be opened: %s", qPrintable(recordDb_.lastError().text()));
        return QSqlDatabase();
    }
    return recordDb_;
}

bool Databases::InsertRecordWith(const QString& remarks, const QString& recordtype,
                                 const std::function<bool(QSqlDatabase&)>& alongside)
{
    // The rights-level text of the display language, as the record query
    // matches it: "Unlogged", "Primary" (operator), "Advanced" (factory).
    static const int kLevelRow[] = {156, 155, 154};
    const int rightsLevel = OperatorDialogs::get().rightsLevel();
    const QString level = lanStr(kLevelRow[(rightsLevel >= 0 && rightsLevel <= 2) ? rightsLevel : 0]);
    const QString time = QTime::currentTime().toString(QStringLiteral("hh.mm.ss"));
    QSqlDatabase db = writableRecordDb();
    if (!db.isValid())
        return false;
    bool ok;
    if (!alongside) {
        ok = RecordStore::insertRow(db, time, level, remarks, recordtype);
    } else {
        ok = db.transaction();
        ok = ok && RecordStore::insertRow(db, time, level, remarks, recordtype) && alongside(db);
        // A commit that fails leaves the transaction open: it is undone.
        ok = ok && db.commit();
        if (!ok)
            db.rollback();
    }
    if (ok)
        MachineOutputs::get().recordInserted(QJsonObject{{QStringLiteral("recordtime"), time},
                                             {QStringLiteral("recordpassword"), level},
                                             {QStringLiteral("remarks"), remarks},
                                             {QStringLiteral("recordtype"), recordtype}});
    return ok;
}

bool Databases::changeRecordDb(const std::function<bool(QSqlDatabase&)>& change)
{
    QSqlDatabase db = writableRecordDb();
    if (!db.isValid() || !db.transaction())
        return false;
    if (change(db) && db.commit())
        return true;
    db.rollback();
    return false;
}

void Databases::CountWrite()
{
    if (this == &none())
        return;
    // Written aside and renamed once whole on disk: a full disk or a kill
    // during the write leaves the previous counters, never an empty file.
    if (!writeFileAtomically(QStringLiteral("./count.ini"), ProductionCounters::get().iniText()))
        qWarning("count.ini keeps the previous counters");
}

void Databases::FLushAll()
{
    if (this == &none())
        return;
    if (paramDb_.isValid())
        paramDb_.close();
    if (recordDb_.isValid())
        recordDb_.close();
    platform::sleeper().sleepMs(500);
}
