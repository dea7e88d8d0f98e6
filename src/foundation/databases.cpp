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
    // The rights-level text of the display language, as the record query
    // matches it: "Unlogged", "Primary" (operator), "Advanced" (factory).
    static const int kLevelRow[] = {156, 155, 154};
    const int rightsLevel = OperatorDialogs::get().rightsLevel();
    const QString level = lanStr(kLevelRow[(rightsLevel >= 0 && rightsLevel <= 2) ? rightsLevel : 0]);
    const QString time = QTime::currentTime().toString(QStringLiteral("hh.mm.ss"));
    const auto handOver = [&] {
        MachineOutputs::get().recordInserted(QJsonObject{{QStringLiteral("recordtime"), time},
                                             {QStringLiteral("recordpassword"), level},
                                             {QStringLiteral("remarks"), remarks},
                                             {QStringLiteral("recordtype"), recordtype}});
    };
    if (recordStore_) {
        if (recordStore_->insert(time, level, remarks, recordtype))
            handOver();
        return;
    }
    if (!recordDb_.isValid())
        return;
    if (!recordDb_.isOpen() && !recordDb_.open()) {
        qWarning("InsertRecord: RECORD.db cannot be opened: %s", qPrintable(recordDb_.lastError().text()));
        return;
    }
    if (RecordStore::insertRow(recordDb_, time, level, remarks, recordtype))
        handOver();
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
