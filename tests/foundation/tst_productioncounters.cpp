#include "productioncounters.h"
#include "../common/testworkdir.h"

#include <QFile>
#include <QSettings>
#include <numeric>
#include <QtTest>

class TestProductionCounters : public QObject
{
    Q_OBJECT

    static CounterValues some()
    {
        CounterValues v;
        for (int c = 0; c < kMaxCamera; ++c) {
            v.all[c] = 10 + c;
            v.fail[c] = c;
            v.allCycle[c] = 20 + c;
            v.failCycle[c] = 1;
        }
        v.syncNg = 7;
        v.syncNgCycle = 3;
        return v;
    }

private slots:
    void countingIgnoresCamerasOutOfRange()
    {
        ProductionCounters& pc = ProductionCounters::get();
        pc.restore(CounterValues{});
        for (int c : {-1, 0, 1, kMaxCamera}) {
            pc.countPart(c, c == 1);
            pc.countCycle(c, c == 0);
        }
        const CounterValues& v = pc.values();
        QCOMPARE(v.all[0] + v.all[1], 2);
        QCOMPARE(v.fail[1], 1);
        QCOMPARE(v.fail[0], 0);
        QCOMPARE(v.failCycle[0], 1);
        QCOMPARE(std::accumulate(v.all.begin(), v.all.end(), 0), 2);
    }

    // What each face clears, by name.
    void resets_data()
    {
        QTest::addColumn<int>("face");
        QTest::addColumn<bool>("keepsCycles");  // cycle counts and the overall NG counts stay
        QTest::newRow("api") << 0 << false;
        QTest::newRow("settings") << 1 << false;
        QTest::newRow("modbus") << 2 << true;
    }
    void resets()
    {
        QFETCH(int, face);
        QFETCH(bool, keepsCycles);
        ProductionCounters& pc = ProductionCounters::get();
        const CounterValues before = some();
        pc.restore(before);
        if (face == 0)
            pc.resetFromApi();
        else if (face == 1)
            pc.resetFromSettings();
        else
            pc.resetFromModbus();
        CounterValues want;
        if (keepsCycles) {
            want = before;
            want.all.fill(0);
            want.fail.fill(0);
        }
        QVERIFY(pc.values() == want);
    }

    void countIniRoundTripAndBadEntries()
    {
        TestWorkDir dir;
        ProductionCounters& pc = ProductionCounters::get();
        pc.restore(some());
        {
            QFile f(QStringLiteral("./count.ini"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(pc.iniText()) > 0);
        }
        pc.restore(CounterValues{});
        pc.load(QSettings(QStringLiteral("./count.ini"), QSettings::IniFormat));
        QVERIFY(pc.values() == some());

        // A short list, a negative, a word and a negative total load as 0.
        {
            QSettings ini(QStringLiteral("./count.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("list_allnum"), QStringList{QStringLiteral("5"), QStringLiteral("-2"), QStringLiteral("x")});
            ini.setValue(QStringLiteral("gSyncNGNum"), -4);
        }
        pc.load(QSettings(QStringLiteral("./count.ini"), QSettings::IniFormat));
        QCOMPARE(pc.values().all[0], 5);
        QCOMPARE(pc.values().all[1] + pc.values().all[2] + pc.values().all[7], 0);
        QCOMPARE(pc.values().syncNg, 0);
        QCOMPARE(pc.values().syncNgCycle, 3);
    }
};

QTEST_GUILESS_MAIN(TestProductionCounters)
#include "tst_productioncounters.moc"
