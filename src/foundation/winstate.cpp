#include "winstate.h"

#include "machineoutputs.h"
#include "operatordialogs.h"
#include "lanstr.h"
#include "platform.h"
#include "recordstore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>

WinState* gpState = nullptr;

void WinState::InsertRecord(QString remarks, QString recordtype)
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
    if (recordStore) {
        if (recordStore->insert(time, level, remarks, recordtype))
            handOver();
        return;
    }
    if (!recordDb.isValid())
        return;
    if (!recordDb.isOpen() && !recordDb.open()) {
        qWarning("InsertRecord: RECORD.db cannot be opened: %s", qPrintable(recordDb.lastError().text()));
        return;
    }
    QSqlQuery q(recordDb);
    q.prepare(QStringLiteral("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)"));
    q.addBindValue(time);
    q.addBindValue(level);
    q.addBindValue(remarks);
    q.addBindValue(recordtype);
    if (!q.exec()) {
        qWarning("InsertRecord failed: %s", qPrintable(q.lastError().text()));
        return;
    }
    handOver();
}

void WinState::CountWrite()
{
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

void WinState::FLushAll()
{
    if (paramDb.isValid())
        paramDb.close();
    if (recordDb.isValid())
        recordDb.close();
    platform::sleeper().sleepMs(500);
}
