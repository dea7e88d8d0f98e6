#include "databases.h"

#include "globals.h"
#include "lanstr.h"
#include "machineoutputs.h"
#include "operatordialogs.h"
#include "platform.h"
#include "recordstore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSettings>
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
    QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
    QStringList all, fail, allCycle, failCycle;
    for (int i = 0; i < kMaxCamera; ++i) {
        all << QString::number(gAllNum[i]);
        fail << QString::number(gFailNum[i]);
        allCycle << QString::number(gAllCycleNum[i]);
        failCycle << QString::number(gFailCycleNum[i]);
    }
    ini.setValue(QStringLiteral("list_allnum"), all);
    ini.setValue(QStringLiteral("list_failnum"), fail);
    ini.setValue(QStringLiteral("gSyncNGNum"), gSyncNGNum);
    ini.setValue(QStringLiteral("list_allcyclenum"), allCycle);
    ini.setValue(QStringLiteral("list_failcyclenum"), failCycle);
    ini.setValue(QStringLiteral("gSyncNGcycleNum"), gSyncNGCycleNum);
    ini.sync();
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
