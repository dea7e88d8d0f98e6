#include "globals.h"
#include "iofunc.h"
#include "posix_qextserialport.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
QByteArray boardFrame(int cmd, quint32 payload, bool goodSum = true)
{
    unsigned char f[8] = {0x5F, static_cast<unsigned char>(cmd), static_cast<unsigned char>(payload & 0xFF),
                          static_cast<unsigned char>((payload >> 8) & 0xFF), static_cast<unsigned char>((payload >> 16) & 0xFF),
                          static_cast<unsigned char>((payload >> 24) & 0xFF), 0, 0xF5};
    f[6] = calcLRC(f, 6);
    if (!goodSum)
        f[6] ^= 1;
    return QByteArray(reinterpret_cast<char*>(f), 8);
}
QByteArray reply2(int in, int out)
{
    return boardFrame(2, quint32(in & 0xFF) | (quint32((in >> 8) & 3) << 8) | (quint32(out & 0xFF) << 16) |
                             (quint32((out >> 8) & 3) << 24));
}
}  // namespace

class TestIoFrames : public QObject {
    Q_OBJECT
private slots:
    void hostFramesOnTheWire_data()
    {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("outputs 0x1FF") << 1 << 0x1FF << QByteArray::fromHex("5f01ff0160f5");
        QTest::newRow("poll") << 2 << 0 << QByteArray::fromHex("5f02000061f5");
        QTest::newRow("high bits cut") << 0x104 << 0x12345 << QByteArray::fromHex("5f044523cbf5");
    }
    void hostFramesOnTheWire()
    {
        QFETCH(int, cmd);
        QFETCH(int, value);
        QFETCH(QByteArray, wire);
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
        qputenv("VMM_COM_PORT", ptsname(master));
        delete gpCom;
        gpCom = nullptr;
        ComInit();
        QVERIFY(gpCom->isOpen());
        ComSend(cmd, value);
        QByteArray got;
        for (int i = 0; i < 50 && got.size() < 6; ++i) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char b[16];
                const ssize_t n = read(master, b, sizeof b);
                if (n > 0)
                    got.append(b, static_cast<int>(n));
            }
        }
        QCOMPARE(got.toHex(), wire.toHex());
        delete gpCom;
        gpCom = nullptr;
        ::close(master);
        qunsetenv("VMM_COM_PORT");
    }

    void lrcIsAPlainSum()
    {
        unsigned char d[4] = {0xFF, 0xFF, 0x03, 0x00};
        QCOMPARE(int(calcLRC(d, 4)), 0x01);
        QCOMPARE(int(calcLRC(d, 0)), 0);
    }

    void receiverFindsFrames_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("expectInput");   // -1: no input change
        QTest::addColumn<bool>("expectResend");
        const QByteArray r = reply2(0x205, 0x003);
        QTest::newRow("whole") << QList<QByteArray>{r} << 0x205 << false;
        QTest::newRow("split") << QList<QByteArray>{r.left(3), r.mid(3)} << 0x205 << false;
        QTest::newRow("garbage and stray start") << QList<QByteArray>{QByteArray("\x01\x5F\x02\x99\xF5", 5) + r} << 0x205 << false;
        QTest::newRow("bad checksum") << QList<QByteArray>{boardFrame(2, 0x205, false)} << -1 << false;
        QTest::newRow("echo differs") << QList<QByteArray>{reply2(0x205, 0x001)} << 0x205 << true;
        QTest::newRow("unknown command skipped") << QList<QByteArray>{boardFrame(9, 1), r} << 0x205 << false;
    }
    void receiverFindsFrames()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, expectInput);
        QFETCH(bool, expectResend);
        BoardReceiver rx;
        int seen = -1;
        bool resend = false;
        for (const QByteArray& c : chunks) {
            rx.append(c.constData(), c.size());
            resend |= rx.parse(0x003, 0, [&](int w) { seen = w; });
        }
        QCOMPARE(seen, expectInput);
        QCOMPARE(resend, expectResend);
        QVERIFY(rx.buffered() < 8);
    }

    void burstOverflowIsBounded()
    {
        BoardReceiver rx;
        QByteArray burst;
        while (burst.size() < 1500)
            burst += reply2(0x001, 0);
        const int taken = rx.append(burst.constData(), burst.size());
        QCOMPARE(taken, BoardReceiver::kBufferSize);
        QCOMPARE(rx.append("x", 1), 0);  // full: dropped
        int changes = 0;
        rx.parse(0, 0, [&](int) { ++changes; });
        QCOMPARE(changes, 1);  // same word repeated: one change only
        QVERIFY(rx.buffered() < 8);
        QVERIFY(rx.append(burst.constData(), 8) == 8);  // room again
    }

    void valueRepliesFillBoundedSlots()
    {
        BoardReceiver rx;
        rx.requestSent(3);
        QByteArray many;
        for (int i = 0; i < 12; ++i)
            many += boardFrame(3, 100 + i);
        rx.append(many.constData(), many.size());
        rx.parse(0, 0, {});
        QCOMPARE(rx.value(0), 100u);
        QCOMPARE(rx.value(7), 107u);
        QCOMPARE(rx.value(8), 0u);  // surplus replies 3 never spill into the reply-4 group
        rx.requestSent(4);
        const QByteArray four = boardFrame(4, 0xA1B2C3D4);
        rx.append(four.constData(), four.size());
        rx.parse(0, 0, {});
        QCOMPARE(rx.value(8), 0xA1B2C3D4u);
    }

    void requestSchedule()
    {
        QCOMPARE(BoardRequestForPass(1), 2);
        QCOMPARE(BoardRequestForPass(199), 2);
        QCOMPARE(BoardRequestForPass(200), 3);
        QCOMPARE(BoardRequestForPass(210), 4);
    }

    void ledMask()
    {
        gfLED = -1;
        const unsigned char before = LEDMask();
        LEDOnOff(9, 0);
        QCOMPARE(LEDMask(), before);
        LEDOnOff(4, 0);
        QCOMPARE(LEDMask() & 0x10, 0);
        LEDOnOff(4, 3);  // only the lowest bit of `on` counts
        QCOMPARE(LEDMask() & 0x10, 0x10);
        LEDOnOff(4, 2);
        QCOMPARE(LEDMask() & 0x10, 0);
    }
};

QTEST_GUILESS_MAIN(TestIoFrames)
#include "tst_ioframes.moc"
