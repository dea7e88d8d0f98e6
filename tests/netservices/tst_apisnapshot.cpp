#include "apisnapshot.h"
#include "counted.h"
#include "globals.h"
#include "modbusserver.h"
#include "network.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

void setAllCounters(int n)
{
    CounterValues v;
    v.all.fill(n);
    v.fail.fill(n);
    v.allCycle.fill(n);
    v.failCycle.fill(n);
    v.syncNg = v.syncNgCycle = n;
    ProductionCounters::get().restore(v);
}

// The cycle a published state belongs to, or -1 when its parts disagree.
int cycleOf(const ApiSnapshot& s)
{
    const int n = s.all[0];
    for (int i = 0; i < kMaxCamera; ++i)
        if (s.all[i] != n || s.fail[i] != n || s.allCycle[i] != n)
            return -1;
    if (s.syncNg != n || s.syncNgCycle != n)
        return -1;
    if (n == 0)
        return s.hasRecord ? -1 : 0;
    // The record's uuid carries the clock of its cycle, which is the cycle.
    const QString uuid = s.record.json.value(QStringLiteral("uuid")).toString();
    if (!s.hasRecord || uuid != QStringLiteral("V18#press-7@") + QString::number(n, 16))
        return -1;
    return n;
}

}  // namespace

class TestApiSnapshot : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        numCamera = 2;
        gDNum = 3;
        setAllCounters(0);
    }

    void publishesOnlyWhatChanged_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<bool>("newCopy");
        QTest::newRow("nothing") << 0 << false;
        QTest::newRow("a camera's count") << 1 << true;
        QTest::newRow("the cycle NG count") << 2 << true;
        QTest::newRow("the cycle record") << 3 << true;
        QTest::newRow("the device name") << 4 << true;
        QTest::newRow("the camera count") << 5 << true;
    }
    void publishesOnlyWhatChanged()
    {
        QFETCH(int, what);
        QFETCH(bool, newCopy);
        XAN_NETMN m(QStringLiteral("./nonexistent/config.json"), 0);
        m.deviceName = QStringLiteral("press-7");
        m.setWorkTask(true, false, false);
        ApiSnapshot::publish();
        const auto before = ApiSnapshot::current();
        QVERIFY(before);
        switch (what) {
        case 1: {
            CounterValues v = counted();
            v.all[7] = 9;
            ProductionCounters::get().restore(v);
            break;
        }
        case 2: {
            CounterValues v = counted();
            v.syncNgCycle = 4;
            ProductionCounters::get().restore(v);
            break;
        }
        case 3: m.start_PeriodRecord(); break;
        case 4: m.deviceName = QStringLiteral("press-8"); break;
        case 5: numCamera = 3; break;
        default: break;
        }
        ApiSnapshot::publish();
        const auto after = ApiSnapshot::current();
        QCOMPARE(after != before, newCopy);
        QCOMPARE(after->all[7], counted().all[7]);
        QCOMPARE(after->syncNgCycle, counted().syncNgCycle);
        QCOMPARE(after->hasRecord, m.lastDetect.hasValue());
        QCOMPARE(after->deviceName, m.deviceName);
        QCOMPARE(after->cameraCount, numCamera);
    }

    void managerGoneDropsTheState()
    {
        {
            XAN_NETMN m(QStringLiteral("./nonexistent/config.json"), 0);
            ApiSnapshot::publish();
            QVERIFY(ApiSnapshot::current());
        }
        QVERIFY(!ApiSnapshot::current());
    }

    // Cycles run on this thread's event loop, each one handler that opens a
    // record, moves every counter one by one and closes the record. Readers
    // on other threads, one on the published copy and one a Modbus client,
    // must never see a counter of one cycle beside a record or counter of
    // another.
    void neverHalfACycleUnderHammeringReaders()
    {
        constexpr int kCycles = 300;
        XAN_NETMN m(QStringLiteral("./nonexistent/config.json"), 0);
        qint64 clock = 0;
        m.clockMs = [&clock] { return clock; };
        m.deviceName = QStringLiteral("press-7");
        m.setWorkTask(true, false, false);
        m.clearCycle();
        ModbusServer modbus(QHostAddress::LocalHost, 0);
        QVERIFY(modbus.isRunning());
        const quint16 port = modbus.serverPort();
        ApiSnapshot::publish();

        std::atomic<bool> stop{false};
        std::atomic<int> torn{0}, reads{0}, modbusTorn{0}, modbusReads{0}, highest{0};
        std::thread reader([&] {
            while (!stop.load()) {
                const auto s = ApiSnapshot::current();
                const int c = s ? cycleOf(*s) : -1;
                if (c < 0)
                    ++torn;
                else
                    highest.store(std::max(highest.load(), c));
                ++reads;
            }
        });
        std::thread plc([&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(3000)) {
                ++modbusTorn;
                return;
            }
            // Registers 2 and 3: the highest camera count and the NG count.
            const QByteArray request = QByteArray::fromHex("000100000006010300020002");
            while (!stop.load()) {
                socket.write(request);
                QByteArray reply;
                while (reply.size() < 13 && socket.waitForReadyRead(3000))
                    reply += socket.readAll();
                if (reply.size() != 13) {
                    ++modbusTorn;
                    return;
                }
                const int regAll = (quint8(reply[9]) << 8) | quint8(reply[10]);
                const int regNg = (quint8(reply[11]) << 8) | quint8(reply[12]);
                if (regAll != regNg)
                    ++modbusTorn;
                ++modbusReads;
            }
        });

        int cycle = 0;
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(1);
        connect(&tick, &QTimer::timeout, &loop, [&] {
            ++cycle;
            clock = cycle;
            m.start_PeriodRecord();
            for (int i = 0; i < kMaxCamera; ++i) {
                ProductionCounters::get().countPart(i, true);
                ProductionCounters::get().countCycle(i, true);
            }
            ProductionCounters::get().countNgDecision();
            ProductionCounters::get().countNgCycle();
            m.finish_PeriodRecord();
            if (cycle == kCycles)
                loop.quit();
        });
        tick.start();
        loop.exec();
        stop.store(true);
        reader.join();
        plc.join();

        QCOMPARE(torn.load(), 0);
        QCOMPARE(modbusTorn.load(), 0);
        QVERIFY(reads.load() > 0);
        QVERIFY(modbusReads.load() > 0);
        // The loop published as it went, not only at the end.
        QVERIFY(highest.load() > 0);
        ApiSnapshot::publish();  // the loop's next idle pass
        QCOMPARE(cycleOf(*ApiSnapshot::current()), kCycles);
    }
};

QTEST_MAIN(TestApiSnapshot)
#include "tst_apisnapshot.moc"
