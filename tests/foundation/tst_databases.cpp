#include "databases.h"
#include "productioncounters.h"
#include "globals.h"
#include "machineoutputs.h"
#include "platform.h"
#include "recordstore.h"
#include "testworkdir.h"

#include <QFile>
#include <QJsonObject>
#include <QDir>
#include <QSettings>
#include <QSqlQuery>
#include <QtTest>

namespace {
class CountingSleeper : public platform::Sleeper {
public:
    void sleepMs(int ms) override { slept.append(ms); }
    QVector<int> slept;
};

class RowOutputs : public MachineOutputs {
public:
    void recordInserted(const QJsonObject& row) override { rows.append(row); }
    QVector<QJsonObject> rows;
};

QStringList remarks(QSqlDatabase db)
{
    QStringList out;
    QSqlQuery q(QStringLiteral("SELECT remarks FROM RECORD ORDER BY rowid"), db);
    while (q.next())
        out << q.value(0).toString();
    return out;
}
}  // namespace

// The databases reach the program only through what the main window
// installs; without it the record, counter and flush operations do nothing.
class TestDatabases : public QObject {
    Q_OBJECT
private slots:
    void operationsNeedInstalledDatabases_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << true;
        QTest::newRow("none installed") << false;
    }

    void operationsNeedInstalledDatabases()
    {
        QFETCH(bool, installed);
        TestWorkDir wd;
        CountingSleeper sleeper;
        platform::setSleeper(&sleeper);
        RowOutputs outputs;
        MachineOutputs* oldOutputs = MachineOutputs::install(&outputs);

        Databases own;
        RecordStore store(QStringLiteral("tstdatabases"));
        QVERIFY(store.open(QStringLiteral("./RECORD.db")));
        own.setRecordStore(&store);
        own.setRecordDb(store.db());
        if (installed)
            QCOMPARE(Databases::install(&own), nullptr);
        QCOMPARE(&Databases::get() == &own, installed);

        const CounterValues old = ProductionCounters::get().values();
        CounterValues probe = old;
        probe.all[2] = 17;
        probe.syncNg = 5;
        probe.syncNgCycle = 3;
        ProductionCounters::get().restore(probe);
        Databases::get().InsertRecord(QStringLiteral("probe"), QStringLiteral("API"));
        Databases::get().CountWrite();
        const bool openBefore = store.db().isOpen();
        Databases::get().FLushAll();

        QCOMPARE(outputs.rows.size(), installed ? 1 : 0);
        if (installed)
            QCOMPARE(outputs.rows[0].value(QStringLiteral("remarks")).toString(), QStringLiteral("probe"));
        QCOMPARE(QFile::exists(QStringLiteral("./count.ini")), installed);
        if (installed) {
            // Read back as the start-up reads it: every counter, lists of
            // one value per camera.
            QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
            QCOMPARE(ini.status(), QSettings::NoError);
            QCOMPARE(ini.value(QStringLiteral("list_allnum")).toStringList().value(2), QStringLiteral("17"));
            for (const char* key : {"list_allnum", "list_failnum", "list_allcyclenum", "list_failcyclenum"})
                QCOMPARE(ini.value(QLatin1String(key)).toStringList().size(), kMaxCamera);
            QCOMPARE(ini.value(QStringLiteral("gSyncNGNum")).toInt(), 5);
            QCOMPARE(ini.value(QStringLiteral("gSyncNGcycleNum")).toInt(), 3);
            // Nothing left beside it.
            QCOMPARE(QDir().entryList({QStringLiteral("count.ini*")}, QDir::Files), QStringList{"count.ini"});
        }
        QVERIFY(openBefore);
        QCOMPARE(store.db().isOpen(), !installed);   // flushed: closed
        QCOMPARE(sleeper.slept, installed ? QVector<int>{500} : QVector<int>{});
        store.db().open();
        QCOMPARE(remarks(store.db()), installed ? QStringList{QStringLiteral("probe")} : QStringList{});

        ProductionCounters::get().restore(old);
        QCOMPARE(Databases::install(nullptr), installed ? &own : nullptr);
        MachineOutputs::install(oldOutputs);
        platform::setSleeper(nullptr);
    }

    // A row and what is written beside it are on disk together or not at
    // all, and only a row on disk is handed on.
    void rowWithWhatGoesBesideIt_data()
    {
        QTest::addColumn<bool>("besideWorks");
        QTest::newRow("both written") << true;
        QTest::newRow("beside fails") << false;
    }
    void rowWithWhatGoesBesideIt()
    {
        QFETCH(bool, besideWorks);
        TestWorkDir wd;
        RowOutputs outputs;
        MachineOutputs* oldOutputs = MachineOutputs::install(&outputs);
        Databases own;
        RecordStore store(QStringLiteral("tstdatabases2"));
        QVERIFY(store.open(QStringLiteral("./RECORD.db")));
        own.setRecordStore(&store);
        const bool ok = own.InsertRecordWith(QStringLiteral("probe"), QStringLiteral("API"), [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            return q.exec(QStringLiteral("CREATE TABLE BESIDE (v INTEGER)"))
                   && q.exec(QStringLiteral("INSERT INTO BESIDE (v) VALUES (7)")) && besideWorks;
        });
        QCOMPARE(ok, besideWorks);
        QCOMPARE(remarks(store.db()), besideWorks ? QStringList{QStringLiteral("probe")} : QStringList{});
        QCOMPARE(outputs.rows.size(), besideWorks ? 1 : 0);
        QSqlQuery q(store.db());
        QCOMPARE(q.exec(QStringLiteral("SELECT v FROM BESIDE")) && q.next(), besideWorks);
        // The connection is usable afterwards (no transaction left open).
        QVERIFY(own.changeRecordDb(
            [](QSqlDatabase& db) { return QSqlQuery(db).exec(QStringLiteral("CREATE TABLE AFTER (v INTEGER)")); }));
        MachineOutputs::install(oldOutputs);
    }
};

QTEST_GUILESS_MAIN(TestDatabases)
#include "tst_databases.moc"
