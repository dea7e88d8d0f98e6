#include "platform.h"
#include "publictools.h"
#include "testworkdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Serves blkid's output from a fixture and counts the calls.
class BlkidRunner : public platform::CommandRunner {
public:
    QByteArray out;
    QByteArray err;
    bool timedOut = false;
    int calls = 0;
    QString lastProgram;
    int lastTimeout = 0;
    platform::CommandResult run(const QString& program, const QStringList&, int timeoutMs) override
    {
        ++calls;
        lastProgram = program;
        lastTimeout = timeoutMs;
        platform::CommandResult r;
        r.started = true;
        r.timedOut = timedOut;
        r.exitCode = timedOut ? -1 : 0;
        r.out = out;
        r.err = err;
        return r;
    }
};

class EnvRunner : public platform::CommandRunner {
public:
    QByteArray out;
    platform::CommandResult run(const QString&, const QStringList&, int) override
    {
        platform::CommandResult r;
        r.started = true;
        r.exitCode = 0;
        r.out = out;
        return r;
    }
};

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

const QByteArray kBlkidTwoExt4 =
    "/dev/sda1: UUID=\"11111111-2222-3333-4444-aaaaaaaaaaaa\" BLOCK_SIZE=\"4096\" TYPE=\"ext4\" PARTUUID=\"p-1\"\n"
    "/dev/sda2: UUID=\"C0DE-F00D\" TYPE=\"vfat\" PARTUUID=\"p-2\"\n"
    "\n"
    "/dev/sdb1: LABEL=\"data\" UUID=\"55555555-6666-7777-8888-0123456789ab\" TYPE=\"ext4\"\n"
    "/dev/sdc: PTUUID=\"x\" PTTYPE=\"gpt\" UUID=\"99999999-0000-0000-0000-ffffffffffff\" TYPE=\"ext4\"\n";

}  // namespace

class TestPublicTools : public QObject {
    Q_OBJECT
private:
    BlkidRunner blkid_;

private slots:
    void init() { blkid_ = BlkidRunner(); }
    void cleanup() { platform::setRunner(nullptr); }

    void clockReadings()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const qint64 ms = gettimeofday_ms();
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(ms >= before - 5 && ms <= after + 5);

        const int a = static_cast<int>((gettimeofday_ms() / 10) % kTickWrap);
        const int tick = curtime_qint64_2_int();
        const int b = static_cast<int>((gettimeofday_ms() / 10) % kTickWrap);
        QVERIFY(tick >= 0 && tick < kTickWrap);
        QVERIFY(curtime_tick_diff(tick, a) >= 0);
        QVERIFY(curtime_tick_diff(b, tick) >= 0);
    }

    void tickDifferenceAcrossTheWrap_data()
    {
        QTest::addColumn<int>("later");
        QTest::addColumn<int>("earlier");
        QTest::addColumn<int>("diff");
        QTest::newRow("plain") << 250 << 50 << 200;
        QTest::newRow("equal") << 7 << 7 << 0;
        QTest::newRow("backwards") << 50 << 250 << -200;
        QTest::newRow("across the wrap") << 5 << 999999990 << 15;
        QTest::newRow("backwards across the wrap") << 999999990 << 5 << -15;
        QTest::newRow("wrap to zero") << 0 << 999999999 << 1;
    }
    void tickDifferenceAcrossTheWrap()
    {
        QFETCH(int, later);
        QFETCH(int, earlier);
        QFETCH(int, diff);
        QCOMPARE(curtime_tick_diff(later, earlier), diff);
    }

    void uuidForm()
    {
        const QRegularExpression form(QStringLiteral("^SC_#[0-9a-f]{8}_#\\d{8}_\\d{9}$"));
        const QString a = new_uuid();
        const QString b = new_uuid();
        QVERIFY2(form.match(a).hasMatch(), qPrintable(a));
        QCOMPARE(a.size(), 32);
        QVERIFY(a != b);
    }

    void randomPortsAvoidTheReservedOnes()
    {
        std::srand(12345);
        int reservedNeighbours = 0;
        for (int i = 0; i < 50000; ++i) {
            const unsigned short p = RandPort();
            QVERIFY(p > 10000);
            QVERIFY(p < 10410 || p > 10419);
            reservedNeighbours += (p >= 10400 && p < 10430) ? 1 : 0;
        }
        QVERIFY(reservedNeighbours > 0);  // the range around them is still used
    }

    void addressTexts_data()
    {
        QTest::addColumn<quint32>("hostOrder");
        QTest::addColumn<QString>("text");
        QTest::newRow("lan") << quint32(0xC0A8014D) << "192.168.1.77";
        QTest::newRow("zero") << quint32(0) << "0.0.0.0";
        QTest::newRow("broadcast") << quint32(0xFFFFFFFF) << "255.255.255.255";
    }
    void addressTexts()
    {
        QFETCH(quint32, hostOrder);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(nint2string(htonl(hostOrder))), text);
    }

    void addressTextsFromManyThreads()
    {
        // Each thread must see its own address: no shared result buffer.
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &wrong] {
                const std::string expected = "10.0.0." + std::to_string(t);
                for (int i = 0; i < 20000; ++i)
                    if (nint2string(htonl(0x0A000000u + t)) != expected)
                        ++wrong;
            });
        }
        for (auto& th : threads)
            th.join();
        QCOMPARE(wrong.load(), 0);
    }

    void macTexts()
    {
        const unsigned char mac[6] = {0, 17, 34, 51, 68, 255};
        QCOMPARE(QString::fromStdString(ethaddr2string(mac)), QString("00:11:22:33:44:ff"));
    }

    void macParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray untouched("\xAA\xAA\xAA\xAA\xAA\xAA", 6);
        QTest::newRow("six groups") << "00:11:22:33:44:ff" << QByteArray("\x00\x11\x22\x33\x44\xff", 6);
        QTest::newRow("upper case, short groups") << "A:b:C:d:E:F" << QByteArray("\x0a\x0b\x0c\x0d\x0e\x0f", 6);
        QTest::newRow("unreadable group gives 0") << "01:02:zz:04:05:06" << QByteArray("\x01\x02\x00\x04\x05\x06", 6);
        QTest::newRow("five groups") << "01:02:03:04:05" << untouched;
        QTest::newRow("seven groups") << "01:02:03:04:05:06:07" << untouched;
        QTest::newRow("empty") << "" << untouched;
    }
    void macParsing()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        unsigned char out[6];
        std::memset(out, 0xAA, sizeof out);
        QCOMPARE(string2ethaddr(text, out), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), 6), bytes);
    }

    void lastNumber_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("ret");
        QTest::newRow("four parts") << "192.168.1.77" << 5 << "192.168.1.5" << 1;
        QTest::newRow("no range check") << "10.0.0.1" << 300 << "10.0.0.300" << 1;
        QTest::newRow("three parts") << "192.168.1" << 5 << "192.168.1" << 0;
        QTest::newRow("five parts") << "1.2.3.4.5" << 9 << "1.2.3.4.5" << 0;
    }
    void lastNumber()
    {
        QFETCH(QString, ip);
        QFETCH(int, last);
        QFETCH(QString, result);
        QFETCH(int, ret);
        QCOMPARE(setIPLast(ip, last), ret);
        QCOMPARE(ip, result);
    }

    void subnet_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("net");
        QTest::newRow("class C") << "192.168.1.77" << "255.255.255.0" << "192.168.1.0";
        QTest::newRow("odd mask") << "10.20.30.40" << "255.240.0.0" << "10.16.0.0";
        QTest::newRow("mask of three parts") << "192.168.1.77" << "255.255.255" << "";
        QTest::newRow("address not a number") << "192.168.x.77" << "255.255.255.0" << "";
        QTest::newRow("empty part") << "192..1.77" << "255.255.255.0" << "";
        QTest::newRow("negative part") << "192.168.-1.77" << "255.255.255.0" << "";
    }
    void subnet()
    {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, net);
        QCOMPARE(getSubNet(ip, mask), net);
    }

    void nonBlockingSockets()
    {
        int fds[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        QCOMPARE(set_socket_nonblock(fds[0]), 0);
        QVERIFY(::fcntl(fds[0], F_GETFL) & O_NONBLOCK);
        QVERIFY(!(::fcntl(fds[1], F_GETFL) & O_NONBLOCK));
        ::close(fds[0]);
        ::close(fds[1]);
        // A closed descriptor: reading the flags fails, nothing is written.
        QCOMPARE(set_socket_nonblock(fds[0]), -1);
        QCOMPARE(set_socket_nonblock(-1), -1);
    }

    void diskUuid_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("uuid");
        QTest::newRow("last ext4 wins, PTTYPE lines skipped") << kBlkidTwoExt4
                                                              << "55555555-6666-7777-8888-0123456789ab";
        QTest::newRow("no ext4") << QByteArray("/dev/sda1: UUID=\"C0DE-F00D\" TYPE=\"vfat\"\n") << "";
        QTest::newRow("PARTUUID is not UUID")
            << QByteArray("/dev/sda1: PARTUUID=\"abcd-1\" TYPE=\"ext4\"\n") << "";
        QTest::newRow("nothing") << QByteArray() << "";
    }
    void diskUuid()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, uuid);
        QCOMPARE(diskUuidFromBlkid(output), uuid);
        blkid_.out = output;
        platform::setRunner(&blkid_);
        QCOMPARE(found_diskuuid_by_blkid(), uuid);
        QCOMPARE(blkid_.lastProgram, QString("blkid"));
        QCOMPARE(blkid_.lastTimeout, 1000);
    }

    void diskUuidOfAHungBlkidIsEmpty()
    {
        blkid_.out = kBlkidTwoExt4;
        blkid_.timedOut = true;
        platform::setRunner(&blkid_);
        QCOMPARE(found_diskuuid_by_blkid(), QString());
    }

    void hungProgramIsKilledAndReaped()
    {
        // What the time-out of blkid relies on.
        const platform::CommandResult r = platform::runner().run("sleep", {"30"}, 200);
        QVERIFY(r.started);
        QVERIFY(r.timedOut);
        // No child of ours is left, running or as a zombie.
        const QString self = QString::number(::getpid());
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile stat("/proc/" + pid + "/stat");
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QString s = QString::fromLatin1(stat.readAll());
            const QStringList after = s.mid(s.lastIndexOf(')') + 2).split(' ');
            QVERIFY2(after.value(1) != self || !s.contains("(sleep)"), qPrintable(s));
        }
    }

    void deviceIdentity_data()
    {
        QTest::addColumn<QByteArray>("cpuinfo");  // "missing" for no file
        QTest::addColumn<QByteArray>("blkid");
        QTest::addColumn<QString>("identity");  // "time" for the start time
        QTest::addColumn<int>("blkidCalls");
        QTest::newRow("second serial wins")
            << QByteArray("processor\t: 0\nSerial\t\t: 00000000aaaa\nHardware\t: x\nSerial : 00000000bbbb\n")
            << kBlkidTwoExt4 << "00000000bbbb" << 0;
        QTest::newRow("serial with ; and -") << QByteArray("Serial\t: ab;c-12-x;y\n") << QByteArray() << "xy" << 0;
        QTest::newRow("no serial: disk UUID's last group") << QByteArray("processor\t: 0\nmodel name\t: x86\n")
                                                           << kBlkidTwoExt4 << "0123456789ab" << 1;
        QTest::newRow("disk UUID with ;")
            << QByteArray("processor: 0\n")
            << QByteArray("/dev/sda1: UUID=\"1234-ab;cd\" TYPE=\"ext4\"\n") << "abcd" << 1;
        QTest::newRow("serial line must start the line") << QByteArray("  Serial : 1234\n") << QByteArray()
                                                         << "time" << 1;
        QTest::newRow("neither serial nor ext4") << QByteArray("processor: 0\n") << QByteArray() << "time" << 1;
        QTest::newRow("no cpuinfo") << QByteArray("missing") << kBlkidTwoExt4 << "time" << 0;
    }
    void deviceIdentity()
    {
        QFETCH(QByteArray, cpuinfo);
        QFETCH(QByteArray, blkid);
        QFETCH(QString, identity);
        QFETCH(int, blkidCalls);
        TestWorkDir wd;
        if (cpuinfo != "missing")
            writeFile("cpuinfo", cpuinfo);
        blkid_.out = blkid;
        platform::setRunner(&blkid_);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QString id = getlocal_deviceid(wd.file("cpuinfo"));
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        if (identity == "time") {
            bool ok = false;
            const qint64 ms = id.toLongLong(&ok);
            QVERIFY2(ok && ms >= before && ms <= after, qPrintable(id));
            // Made once, kept in the working folder: the next start has it too.
            QCOMPARE(getlocal_deviceid(wd.file("cpuinfo")), id);
            QCOMPARE(blkid_.calls, 2 * blkidCalls);
            // A file that holds no identity is replaced by a new one.
            writeFile("deviceid", "../not an id\n");
            const QString fresh = getlocal_deviceid(wd.file("cpuinfo"));
            QVERIFY2(fresh.toLongLong(&ok) > 0 && ok, qPrintable(fresh));
            QCOMPARE(getlocal_deviceid(wd.file("cpuinfo")), fresh);
            blkid_.calls = blkidCalls;
        } else {
            QCOMPARE(id, identity);
        }
        QCOMPARE(blkid_.calls, blkidCalls);
    }

    void developmentComputerCheck_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("development");
        QTest::newRow("development") << QByteArray("/opt/Qt5.15.7/plugins/platforms\n") << true;
        QTest::newRow("unset") << QByteArray("\n") << false;
        QTest::newRow("other path") << QByteArray("/usr/lib/qt5/plugins/platforms\n") << false;
        QTest::newRow("only the first line counts") << QByteArray("x\n/opt/Qt5.15.7/plugins/platforms\n") << false;
        QTest::newRow("case matters") << QByteArray("/opt/qt5.15.7/plugins/platforms\n") << false;
    }
    void developmentComputerCheck()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, development);
        EnvRunner r;
        r.out = output;
        platform::setRunner(&r);
        QCOMPARE(isOpen_Env(), development);
    }

    void developmentComputerCheckThroughTheShell()
    {
        const QByteArray old = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
        const bool dev = isOpen_Env();
        qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        const bool unset = isOpen_Env();
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", old);
        QVERIFY(dev);
        QVERIFY(!unset);
    }
};

QTEST_GUILESS_MAIN(TestPublicTools)
#include "tst_publictools.moc"
