// The UDP core and the camera's side of the discovery, inside a network
// namespace of the test's own: sends and waits, real datagram lengths,
// descriptor 0, the interface lookups, the server's handling of good and bad
// commands, and a burst of answers mixed with garbage.
#include "platform.h"
#include "support_net.h"
#include "support_netns.h"
#include "udp_acam_gvcp.h"

#include <QtTest>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <random>
#include <thread>

namespace {

// A core that records what reaches its handler.
class RecordingCore : public UDP_Core {
public:
    using UDP_Core::UDP_Core;
    ~RecordingCore() override { stopListen(); }
    QString AnalysisRecvMessage(sockaddr_in from, const QByteArray& data) override
    {
        received << data;
        return UDP_Core::AnalysisRecvMessage(from, data);
    }
    void PrintRecvMsg(QString, QString) override {}
    void setTable(const QMap<QString, NetBase>& t) { netTable_ = t; }
    QList<QByteArray> received;
};

sockaddr_in v4(const char* address, int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = ::inet_addr(address);
    return a;
}

// A plain socket bound to address:port (0 picks one).
int boundSocket(const char* address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    const sockaddr_in a = v4(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendTo(int fd, const QByteArray& data, const char* address, int port)
{
    const sockaddr_in a = v4(address, port);
    ::sendto(fd, data.constData(), size_t(data.size()), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

// Datagrams waiting on fd: the first awaited up to waitMs, the rest taken as they are.
QList<QByteArray> drain(int fd, int waitMs = 0)
{
    QList<QByteArray> out;
    pollfd p {fd, POLLIN, 0};
    char buf[4096];
    for (ssize_t n; ::poll(&p, 1, out.isEmpty() ? waitMs : 0) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) >= 0;)
        out << QByteArray(buf, int(n));
    return out;
}

QByteArray raw(const std::string& s)
{
    return QByteArray(s.data(), int(s.size()));
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// A client that counts what it handles and whose tables a test may fill.
class TestClient : public UDP_ACam_Client {
public:
    ~TestClient() override { stopListen(); }
    QString AnalysisRecvMessage(sockaddr_in s, const QByteArray& d) override
    {
        ++handled;
        return UDP_ACam_Client::AnalysisRecvMessage(s, d);
    }
    void PrintRecvMsg(QString, QString) override {}
    void setTable(const QList<NetBase>& rows)
    {
        netTable_.clear();
        for (const NetBase& r : rows)
            netTable_.insert(r.mac, r);
    }
    void addCamera(const QString& key, const char* ip, const char* mask, const char* requester)
    {
        gvcp_discover_ack_payload p {};
        p.ip = ::inet_addr(ip);
        p.netmask = ::inet_addr(mask);
        p.requester_ip = ::inet_addr(requester);
        cameraMap_.insert(key, p);
    }
    int handled = 0;
};

}  // namespace

class TstUdpCore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        qputenv("VMM_TARGET", "0");
        QVERIFY(netns::prepare());
        // One interface with an address (and its peer without one).
        QVERIFY(netns::ip({"link", "add", "vx0", "type", "veth", "peer", "name", "vx1"}));
        QVERIFY(netns::ip({"addr", "add", "10.5.0.1/24", "dev", "vx0"}));
        QVERIFY(netns::ip({"link", "set", "vx0", "up"}));
        QVERIFY(netns::ip({"link", "set", "vx1", "up"}));
        QVERIFY(netns::ip({"route", "add", "default", "via", "10.5.0.254", "dev", "vx0"}));
    }

    void interfaceTableLeavesOutLoAndAddresslessCards()
    {
        RecordingCore core;
        QCOMPARE(core.netTable().size(), 1);
        const NetBase row = core.netTable().first();
        QCOMPARE(row.name, QStringLiteral("vx0"));
        QCOMPARE(row.ip, QStringLiteral("10.5.0.1"));
        QCOMPARE(row.mask, QStringLiteral("255.255.255.0"));
        QCOMPARE(core.netTable().firstKey(), row.mac);
        QVERIFY(core.ifaddrError());  // vx1 has no IPv4 address
        QCOMPARE(core.deviceKey().size(), 32);
    }

    void lookupsPickTheInterfaceOfAnAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("sameNet");
        QTest::addColumn<QString>("exactName");
        QTest::newRow("inside the first subnet") << "192.0.2.77" << "192.0.2.10" << "";
        QTest::newRow("inside the wide subnet") << "198.51.7.1" << "198.51.100.5" << "";
        QTest::newRow("outside both") << "203.0.113.1" << "" << "";
        QTest::newRow("exact address") << "198.51.100.5" << "198.51.100.5" << "eth1";
        QTest::newRow("one off") << "198.51.100.6" << "198.51.100.5" << "";
        QTest::newRow("not an address") << "junk" << "" << "";
    }
    void lookupsPickTheInterfaceOfAnAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, sameNet);
        QFETCH(QString, exactName);
        RecordingCore core;
        core.setTable({{"00:00:00:00:00:01", {"eth0", "192.0.2.10", "255.255.255.0", "192.0.2.1", "00:00:00:00:00:01"}},
                       {"00:00:00:00:00:02", {"eth1", "198.51.100.5", "255.255.0.0", "198.51.0.1", "00:00:00:00:00:02"}}});
        QCOMPARE(core.getSameUseNet(address), sameNet);
        const NetBase exact = core.foundNetBaseByIP(address);
        QCOMPARE(exact.name, exactName);
        if (exactName.isEmpty())
            QVERIFY(exact.ip.isEmpty() && exact.mask.isEmpty() && exact.gateway.isEmpty() && exact.mac.isEmpty());
    }

    void forceIpPlans_data()
    {
        QTest::addColumn<QStringList>("cameras");  // key ip mask requester
        QTest::addColumn<QStringList>("plans");    // key address mask gateway from
        QTest::newRow("foreign camera moves next to the interface")
            << QStringList {"K1 10.0.0.5 255.0.0.0 192.168.1.10"}
            << QStringList {"K1 192.168.1.11 255.255.255.0 192.168.1.11 192.168.1.10"};
        QTest::newRow("taken addresses are skipped")
            << QStringList {"K1 192.168.1.11 255.255.255.0 192.168.1.10", "K2 10.0.0.5 255.0.0.0 192.168.1.10"}
            << QStringList {"K2 192.168.1.12 255.255.255.0 192.168.1.12 192.168.1.10"};
        QTest::newRow("camera at home stays") << QStringList {"K1 192.168.1.50 255.255.255.0 192.168.1.10"}
                                              << QStringList();
        QTest::newRow("two cameras on one address: the second moves")
            << QStringList {"A 192.168.1.50 255.255.255.0 192.168.1.10", "B 192.168.1.50 255.255.255.0 192.168.1.10"}
            << QStringList {"B 192.168.1.51 255.255.255.0 192.168.1.51 192.168.1.10"};
        QTest::newRow("camera on the interface's own address")
            << QStringList {"A 192.168.1.10 255.255.255.0 192.168.1.10"}
            << QStringList {"A 192.168.1.11 255.255.255.0 192.168.1.11 192.168.1.10"};
        QTest::newRow("253 wraps to 1")
            << QStringList {"A 10.0.0.5 255.0.0.0 172.16.9.253"}
            << QStringList {"A 172.16.9.1 255.255.255.0 172.16.9.1 172.16.9.253"};
        QTest::newRow("answered through a router: left alone")
            << QStringList {"A 10.0.0.5 255.0.0.0 192.168.77.1"} << QStringList();
        QTest::newRow("camera without a mask moves")
            << QStringList {"A 10.0.0.5 0.0.0.0 192.168.1.10"}
            << QStringList {"A 192.168.1.11 255.255.255.0 192.168.1.11 192.168.1.10"};
    }
    void forceIpPlans()
    {
        NETNS_GUARD();
        QFETCH(QStringList, cameras);
        QFETCH(QStringList, plans);
        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        TestClient client;
        qInstallMessageHandler(previous);
        client.setTable({{"eth0", "192.168.1.10", "255.255.255.0", "", "00:00:00:00:00:01"},
                         {"eth1", "172.16.9.253", "255.255.255.0", "", "00:00:00:00:00:02"}});
        for (const QString& c : cameras) {
            const QStringList f = c.split(' ');
            client.addCamera(f[0], f[1].toLatin1().constData(), f[2].toLatin1().constData(),
                             f[3].toLatin1().constData());
        }
        QStringList got;
        for (const UDP_ACam_Client::ForceIpPlan& p : client.planForceIp())
            got << QStringList {p.key, p.address, p.mask, p.gateway, p.local}.join(' ');
        QCOMPARE(got, plans);
    }

    void sendCoreResults_data()
    {
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("resendMs");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("sent");
        QTest::newRow("negative wait") << -1 << 0 << false << int(BSU_BAD_TIMES) << 0;
        QTest::newRow("negative resend") << 100 << -5 << false << int(BSU_BAD_TIMES) << 0;
        QTest::newRow("plain send") << 0 << 0 << false << int(BSU_NO_ANSWER) << 1;
        QTest::newRow("no wait, resend: nothing sent") << 0 << 50 << false << int(BSU_NO_ANSWER) << 0;
        QTest::newRow("no answer") << 100 << 0 << false << int(BSU_NO_ANSWER) << 1;
        QTest::newRow("answered") << 1000 << 0 << true << int(BSU_SUCCESS) << 1;
        QTest::newRow("wait above the limit, answered") << 5000 << 0 << true << int(BSU_SUCCESS) << 1;
    }
    void sendCoreResults()
    {
        NETNS_GUARD();
        QFETCH(int, waitMs);
        QFETCH(int, resendMs);
        QFETCH(bool, answer);
        QFETCH(int, result);
        QFETCH(int, sent);
        const int peer = boundSocket("127.0.0.1", 0);
        QVERIFY(peer >= 0);
        sockaddr_in a {};
        socklen_t len = sizeof a;
        ::getsockname(peer, reinterpret_cast<sockaddr*>(&a), &len);
        // The core listens where the peer's answer goes; any datagram there
        // ends the wait of the base class.
        RecordingCore core;
        QCOMPARE(core.addListen("127.0.0.1", 41000), int(BSU_SUCCESS));
        std::atomic<bool> stop {false};
        std::thread answerer;
        if (answer)
            answerer = std::thread([&] {
                while (!stop)
                    for (const QByteArray& g : drain(peer, 20))
                        sendTo(peer, "re:" + g, "127.0.0.1", 41000);
            });
        Udpsend_Cond c;
        c.destIp = "127.0.0.1";
        c.destPort = ntohs(a.sin_port);
        c.sourceIp = "127.0.0.1";
        c.waitMs = waitMs;
        c.resendMs = resendMs;
        std::string reply;
        QCOMPARE(core.send_core(c, std::string("ping\0tail", 9), reply), result);
        if (answer) {
            stop = true;
            answerer.join();
            QCOMPARE(QByteArray::fromStdString(reply), QByteArray("re:ping"));
        } else {
            const QList<QByteArray> got = drain(peer, sent ? 1000 : 100);
            QCOMPARE(got.size(), sent);
            if (sent)
                QCOMPARE(got[0], QByteArray("ping\0tail", 9));  // all bytes, zeros included
        }
        ::close(peer);
    }

    void listenerHandsOnTheRealBytesFromAnyDescriptor()
    {
        NETNS_GUARD();
        RecordingCore core;
        ::close(0);  // the listening socket takes descriptor 0
        QCOMPARE(core.addListen("127.0.0.1", 41100), int(BSU_SUCCESS));
        int type = 0;
        socklen_t typeLen = sizeof type;
        QVERIFY(::getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &typeLen) == 0 && type == SOCK_DGRAM);
        QCOMPARE(core.addListen("192.0.2.99", 41101), int(BSU_BIND));  // not local: refused, listener unharmed
        QVERIFY(core.isListening());
        const int s = boundSocket("127.0.0.1", 0);
        const QByteArray ten("0123\0" "56789", 10);
        const QByteArray big(3000, 'b');
        for (const QByteArray& d : {ten, QByteArray(), big})
            sendTo(s, d, "127.0.0.1", 41100);
        QVERIFY(nettest::waitFor([&] { return core.received.size() == 3; }));
        QCOMPARE(core.received, (QList<QByteArray> {ten, QByteArray(), big.left(UDP_Core::kMaxDatagram)}));
        ::close(s);
    }

    void destroyedWhileDatagramsArrive()
    {
        NETNS_GUARD();
        std::atomic<bool> stop {false};
        std::thread sender([&] {
            const int s = boundSocket("127.0.0.1", 0);
            for (int i = 0; i < 200000 && !stop; ++i)
                sendTo(s, "flood", "127.0.0.1", 41400);
            ::close(s);
        });
        for (int round = 0; round < 5; ++round) {
            auto core = std::make_unique<RecordingCore>();
            QCOMPARE(core->addListen("127.0.0.1", 41400), int(BSU_SUCCESS));
            QTest::qWait(20);
            core.reset();  // listener stopped and joined before the handler goes
            QCoreApplication::processEvents();
        }
        stop = true;
        sender.join();
    }

    void serverHandlesEachCommand_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("recorded");
        QTest::addColumn<int>("acks");
        const QByteArray own = "OWN";  // replaced by the server's key
        QTest::newRow("7 bytes") << QByteArray("\x42\x11\x00\x02\x00\x00\x00", 7) << "no success" << QStringList() << 0;
        QTest::newRow("not a command key") << QByteArray("\x41\x11\x00\x02\x00\x00\x00\x01", 8) << "success"
                                           << QStringList() << 0;
        QTest::newRow("unknown command") << QByteArray("\x42\x11\x00\x40\x00\x00\x00\x01", 8) << "success"
                                         << QStringList() << 0;
        QTest::newRow("discover") << raw(gvcp::cmdDiscover()) << "success" << QStringList() << 1;
        QTest::newRow("force-IP for another key")
            << raw(gvcp::cmdForceIp("10.5.0.9", "255.255.255.0", "10.5.0.9", "SOMEONE-ELSE")) << "success"
            << QStringList() << 0;
        QTest::newRow("force-IP to the broadcast address, refused")
            << raw(gvcp::cmdForceIp("255.255.255.255", "255.255.255.0", "10.5.0.9", own)) << "success"
            << QStringList() << 0;
        QTest::newRow("force-IP with an empty mask, refused")
            << raw(gvcp::cmdForceIp("10.5.0.9", "0.0.0.0", "10.5.0.9", own)) << "success" << QStringList() << 0;
        QTest::newRow("force-IP")
            << raw(gvcp::cmdForceIp("10.5.0.9", "255.255.255.0", "10.5.0.9", own)) << "success"
            << QStringList {"ip addr flush dev vx0", "ip route flush table main",
                            "ifconfig vx0 10.5.0.9 netmask 255.255.255.0", "route add default gw 10.5.0.9"}
            << 1;
        QTest::newRow("set time, in UTC+8")
            << raw(gvcp::cmdDevice(gvcp::kKindSetTime, 1700000000000LL)) << "success"
            << QStringList {"cp /usr/share/zoneinfo/Asia/Shanghai /etc/localtime", "date -s 20231115 06:13:20",
                            "hwclock --systohc"}
            << 1;
        QTest::newRow("set time before 1970, refused")
            << raw(gvcp::cmdDevice(gvcp::kKindSetTime, -5)) << "success" << QStringList() << 0;
        QTest::newRow("restart") << raw(gvcp::cmdDevice(gvcp::kKindRestart, 0)) << "success" << QStringList() << 1;
        QTest::newRow("unknown kind") << raw(gvcp::cmdDevice(7, 0)) << "success" << QStringList() << 0;
    }
    void serverHandlesEachCommand()
    {
        NETNS_GUARD();
        QFETCH(QByteArray, datagram);
        QFETCH(QString, result);
        QFETCH(QStringList, recorded);
        QFETCH(int, acks);
        qputenv("TZ", "UTC-8");
        tzset();
        const int requester = boundSocket("255.255.255.255", gvcp::kRequesterPort);
        QVERIFY(requester >= 0);
        UDP_ACam_Server server;
        if (datagram.size() == 64 && datagram.mid(32, 3) == "OWN") {
            const QByteArray key = server.deviceKey().toLatin1();
            datagram = datagram.left(32) + key;
        }
        int restarts = 0;
        int acksBeforeSignal = -1;
        connect(&server, &UDP_ACam_Server::sig_rebootdaemon, this, [&] {
            ++restarts;
            acksBeforeSignal = drain(requester).size();
        });
        platform::runner().clearRecorded();
        QCOMPARE(server.AnalysisRecvMessage(v4("10.5.0.200", 5555), datagram), result);
        QCOMPARE(platform::runner().recorded(), recorded);
        const QList<QByteArray> got = drain(requester, acks ? 2000 : 100);
        QCOMPARE(got.isEmpty(), acks == 0);
        for (const QByteArray& ack : got) {
            gvcp::Header h;
            QVERIFY(gvcp::readHeader(ack.constData(), ack.size(), &h));
            QCOMPARE(h.code, quint16(quint16(datagram[2]) << 8 | quint8(datagram[3])) + 1);
            if (h.code == gvcp::kAckDiscover || h.code == gvcp::kAckForceIp) {
                gvcp_forceip_ack_payload p;  // the first 24 bytes are alike in both
                gvcp::copyPayload(ack.constData(), ack.size(), &p, sizeof p);
                QCOMPARE(gvcp::addressText(p.requester_ip), QStringLiteral("10.5.0.200"));
                QCOMPARE(gvcp::addressText(p.ip), QStringLiteral("10.5.0.1"));  // nothing really moved
            }
        }
        if (datagram == raw(gvcp::cmdDevice(gvcp::kKindRestart, 0))) {
            QCOMPARE(restarts, 1);
            QCOMPARE(acksBeforeSignal, 0);  // the signal comes before the acknowledgement
        }
        ::close(requester);
        qunsetenv("TZ");
        tzset();
    }

    void burstOfAnswersWithGarbageLosesNoAnswer()
    {
        NETNS_GUARD();
        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        TestClient client;
        QCOMPARE(client.isListening(), true);
        client.setReceiveWindow(true);  // as during an enumeration
        const int s = boundSocket("127.0.0.1", 0);
        std::mt19937 rng(20);
        constexpr int kTotal = 5000;  // a fifth are cameras: within the table's room
        constexpr int kChunk = 100;
        int valid = 0;
        for (int i = 0; i < kTotal; ++i) {
            QByteArray d;
            const QByteArray key = QByteArray("CAM-") + QByteArray::number(i);
            const QByteArray camIp = "10.7." + QByteArray::number(i / 250) + "." + QByteArray::number(i % 250 + 1);
            switch (i % 5) {
            case 0:
                d = raw(gvcp::ackDiscover(key.constData(), "10.7.0.254", camIp.constData(), "255.255.0.0",
                                          "10.7.0.254", "00:11:22:33:44:55"));
                ++valid;
                break;
            case 1:  // random bytes of random length, some shorter than a header
                d.resize(int(rng() % 300));
                for (char& c : d)
                    c = char(rng());
                break;
            case 2: {  // a discovery answer whose length field lies, cut short
                d = raw(gvcp::ackDiscover("LIAR", "1.1.1.1", "1.1.1.2", "255.0.0.0", "1.1.1.1", "00:00:00:00:00:09"));
                d[4] = char(0xff);
                d[5] = char(0xff);
                d.truncate(8 + int(rng() % 216));
                break;
            }
            case 3:  // a force-IP answer for a key no one asked about
                d = raw(gvcp::ackForceIp("NOBODY", "1.1.1.1", "1.1.1.3", "255.0.0.0", "1.1.1.1", "00:00:00:00:00:09"));
                break;
            default:
                d = QByteArray("\x00\x00\x00\x03\x00\xd8", int(rng() % 7));
                break;
            }
            sendTo(s, d, "255.255.255.255", gvcp::kRequesterPort);
            if ((i + 1) % kChunk == 0)
                QVERIFY2(nettest::waitFor([&] { return client.handled >= i + 1; }, 20000),
                         qPrintable(QStringLiteral("handled %1 of %2").arg(client.handled).arg(i + 1)));
        }
        ::close(s);
        qInstallMessageHandler(previous);
        QCOMPARE(client.handled, kTotal);
        const auto& map = client.cameraMap();
        int found = 0;
        for (int i = 0; i < kTotal; i += 5) {
            const QString key = QStringLiteral("CAM-%1").arg(i);
            QVERIFY2(map.contains(key), qPrintable(key));
            QCOMPARE(gvcp::addressText(map[key].ip), QStringLiteral("10.7.%1.%2").arg(i / 250).arg(i % 250 + 1));
            ++found;
        }
        QCOMPARE(found, valid);
        QVERIFY(!map.contains(QStringLiteral("NOBODY")));
        QVERIFY(!map.contains(QString()));  // cut answers without a key are not cameras
    }
};

NETNS_TEST_MAIN(TstUdpCore)
#include "tst_udpcore.moc"
