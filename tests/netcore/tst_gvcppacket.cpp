// The discovery datagrams byte by byte: against an independent encoder
// (Python struct), against tshark's GVCP dissector for the header fields,
// and the bounded readers against short, cut and lying datagrams.
#include "gvcppacket.h"
#include "udp_acam_gvcp.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

const char* const kKey32 = "SC_#0badc0de_#20261207_101112123";
constexpr qint64 kT = 1000000000000LL;

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), int(s.size()));
}

// The eight datagrams as the builders make them, with the reference's values.
QList<QPair<QString, QByteArray>> ourDatagrams()
{
    return {
        {"discover", bytes(UDP_ACam_Client::gvcp_cmd_discover())},
        {"forceip", bytes(UDP_ACam_Client::gvcp_cmd_forceip("192.168.1.11", "255.255.255.0", "192.168.1.11", kKey32))},
        {"settime", bytes(gvcp::cmdDevice(gvcp::kKindSetTime, kT))},
        {"restart", bytes(UDP_ACam_Client::gvcp_cmd_rebootdaemon())},
        {"discover_ack", bytes(UDP_ACam_Server::gvcp_ack_discover(kKey32, "192.168.1.10", "10.0.0.5", "255.0.0.0",
                                                                  "10.0.0.1", "00:11:22:aa:bb:cc"))},
        {"forceip_ack", bytes(UDP_ACam_Server::gvcp_ack_forceip(kKey32, "192.168.1.10", "192.168.1.11",
                                                                "255.255.255.0", "192.168.1.11", "00:11:22:aa:bb:cc"))},
        {"settime_ack", bytes(gvcp::ackDevice(gvcp::kKindSetTime, kT))},
        {"restart_ack", bytes(gvcp::ackDevice(gvcp::kKindRestart, kT))},
    };
}

// A capture of the datagrams as raw IPv4/UDP packets (link type 228).
QByteArray pcapOf(const QList<QPair<QString, QByteArray>>& datagrams)
{
    QByteArray out;
    auto le32 = [&out](quint32 v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&out](quint16 v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    le32(0xa1b2c3d4);
    le16(2);
    le16(4);
    le32(0);
    le32(0);
    le32(65535);
    le32(228);
    for (const auto& d : datagrams) {
        const bool command = quint8(d.second[0]) == 0x42;
        QByteArray udp;
        const quint16 dport = command ? 3956 : 10400;
        const int len = 8 + d.second.size();
        udp.append(char(0x4e)).append(char(0x20)).append(char(dport >> 8)).append(char(dport & 0xff));
        udp.append(char(len >> 8)).append(char(len & 0xff)).append(2, '\0');
        udp.append(d.second);
        QByteArray ip = QByteArray::fromHex("450000000000000040110000c0a8010affffffff");
        ip[2] = char((20 + udp.size()) >> 8);
        ip[3] = char((20 + udp.size()) & 0xff);
        le32(0);
        le32(0);
        le32(quint32(ip.size() + udp.size()));
        le32(quint32(ip.size() + udp.size()));
        out.append(ip).append(udp);
    }
    return out;
}

}  // namespace

class TstGvcpPacket : public QObject {
    Q_OBJECT
private slots:
    void allEightMatchTheIndependentEncoder()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QProcess p;
        p.start(python, {qEnvironmentVariable("VMM_SOURCE_DIR") + QStringLiteral("/tests/netcore/gvcp_reference.py")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QMap<QString, QByteArray> reference;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                reference.insert(QString::fromLatin1(line.split(' ').value(0)), line.split(' ').value(1));
        const auto ours = ourDatagrams();
        QCOMPARE(reference.size(), ours.size());
        for (const auto& d : ours)
            QCOMPARE(d.second.toHex(), reference.value(d.first));
    }

    void headerFieldsAsTsharkReadsThem()
    {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed");
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("gvcp.pcap")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pcapOf(ourDatagrams()));
        f.close();
        QProcess p;
        p.start(tshark, {"-r", f.fileName(), "-d", "udp.port==10400,gvcp", "-T", "fields", "-E", "separator=|", "-e",
                         "gvcp.cmd.command", "-e", "gvcp.ack", "-e", "gvcp.cmd.payloadlength", "-e", "gvcp.cmd.req_id",
                         "-e", "gvcp.cmd.flags", "-e", "gvcp.cmd.status"});
        QVERIFY(p.waitForFinished(60000));
        const QStringList lines = QString::fromLatin1(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const QStringList expected = {
            "0x0002||0x0000|0x0001|0x11|",      "0x0004||0x0038|0x0001|0x11|",
            "0x0082||0x0010|0x0001|0x11|",      "0x0082||0x0010|0x0001|0x11|",
            "|0x0003|0x00d8|0x0001||0x0000",    "|0x0005|0x0038|0x0001||0x0000",
            "|0x0083|0x0010|0x0001||0x0000",    "|0x0083|0x0010|0x0001||0x0000",
        };
        QCOMPARE(lines, expected);
    }

    void setTimeCarriesTheCurrentTime()
    {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QByteArray d = bytes(UDP_ACam_Client::gvcp_cmd_uptime());
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(d.size(), 24);
        const gvcp::DevicePayload p = gvcp::readDevicePayload(reinterpret_cast<const unsigned char*>(d.constData()) + 8);
        QCOMPARE(p.kind, gvcp::kKindSetTime);
        QVERIFY(p.timeMs >= before && p.timeMs <= after);
    }

    void keysAreBoundedByTheirField_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("short") << QByteArray("CAM-1") << QStringLiteral("CAM-1");
        QTest::newRow("32 characters") << QByteArray(kKey32) << QString::fromLatin1(kKey32);
        QTest::newRow("40 characters cut to 32")
            << QByteArray(kKey32).append("EXTRA-40") << QString::fromLatin1(kKey32);
    }
    void keysAreBoundedByTheirField()
    {
        QFETCH(QByteArray, key);
        QFETCH(QString, readBack);
        const QByteArray ack = bytes(gvcp::ackDiscover(key.constData(), "1.2.3.4", "1.2.3.5", "255.0.0.0", "1.0.0.1",
                                                       "00:00:00:00:00:01"));
        QCOMPARE(ack.size(), 224);
        QVERIFY(ack.mid(208).count('\0') == 16);  // nothing spilled past the key field
        gvcp_discover_ack_payload p;
        QCOMPARE(gvcp::copyPayload(ack.constData(), ack.size(), &p, sizeof p), 216);
        QCOMPARE(gvcp::fixedText(p.device_key, gvcp::kKeyBytes), readBack);

        // In the force-IP command the key runs to the datagram's last byte.
        const QByteArray cmd = bytes(gvcp::cmdForceIp("1.2.3.6", "255.0.0.0", "1.2.3.6", key.constData()));
        QCOMPARE(cmd.size(), 64);
        gvcp_forceip_payload f;
        QCOMPARE(gvcp::copyPayload(cmd.constData(), cmd.size(), &f, sizeof f), 56);
        QCOMPARE(gvcp::fixedText(f.device_key, gvcp::kKeyBytes), readBack);
        QCOMPARE(gvcp::addressText(f.ip), QStringLiteral("1.2.3.6"));
    }

    void readersCopyNoMoreThanWasReceived_data()
    {
        const QByteArray ack = bytes(gvcp::ackDiscover(kKey32, "1.2.3.4", "1.2.3.5", "255.0.0.0", "1.0.0.1",
                                                       "00:11:22:33:44:55"));
        QByteArray lying = ack;
        lying[4] = char(0x01);  // length field 300
        lying[5] = char(0x2c);
        QByteArray longer = lying + QByteArray(100, 'X');
        QByteArray shortField = ack;
        shortField[4] = 0;
        shortField[5] = 20;
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("copied");
        QTest::addColumn<QString>("key");
        QTest::newRow("whole") << ack << 216 << QString::fromLatin1(kKey32);
        QTest::newRow("length field 300, 216 received") << lying << 216 << QString::fromLatin1(kKey32);
        QTest::newRow("length field 300, 316 received") << longer << 216 << QString::fromLatin1(kKey32);
        QTest::newRow("cut after 100 payload bytes") << ack.left(108) << 100 << QString();
        QTest::newRow("cut inside the key") << ack.left(8 + 168 + 10) << 178 << QString::fromLatin1(kKey32).left(10);
        QTest::newRow("length field 20") << shortField << 20 << QString();
        QTest::newRow("header only") << ack.left(8) << 0 << QString();
        QTest::newRow("7 bytes") << ack.left(7) << -1 << QString();
        QTest::newRow("empty") << QByteArray() << -1 << QString();
    }
    void readersCopyNoMoreThanWasReceived()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, copied);
        QFETCH(QString, key);
        gvcp_discover_ack_payload p;
        std::memset(&p, 0xee, sizeof p);
        QCOMPARE(gvcp::copyPayload(datagram.constData(), datagram.size(), &p, sizeof p), copied);
        const QByteArray record(reinterpret_cast<const char*>(&p), sizeof p);
        if (copied > 0)
            QCOMPARE(record.left(copied), datagram.mid(8, copied));
        QCOMPARE(record.mid(std::max(copied, 0)).count('\0'), 216 - std::max(copied, 0));
        QCOMPARE(gvcp::fixedText(p.device_key, gvcp::kKeyBytes), key);
    }

    void unparsableAddressesAreAllOnes()
    {
        const QByteArray d = bytes(gvcp::cmdForceIp("not-an-ip", "255.255.255.0", "", "K"));
        QCOMPARE(d.mid(20, 4).toHex(), QByteArray("ffffffff"));
        QCOMPARE(d.mid(24, 4).toHex(), QByteArray("ffffff00"));
    }
};

QTEST_GUILESS_MAIN(TstGvcpPacket)
#include "tst_gvcppacket.moc"
