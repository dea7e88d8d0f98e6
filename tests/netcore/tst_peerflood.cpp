// Peers that flood or hang, inside a network namespace of this test: what
// reaches this (GUI) thread stays bounded, the log takes counts instead of a
// line per packet, and a hung peer is never waited on.
#include "gvcppacket.h"
#include "httpmanager.h"
#include "support_net.h"
#include "support_netns.h"
#include "udp_acam_gvcp.h"

#include <QtTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> gLogLines {0};
void countLines(QtMsgType, const QMessageLogContext&, const QString&) { ++gLogLines; }

struct CountingClient : UDP_ACam_Client {
    ~CountingClient() override { stopListen(); }
    QString AnalysisRecvMessage(sockaddr_in s, const QByteArray& d) override
    {
        ++handled;
        return UDP_ACam_Client::AnalysisRecvMessage(s, d);
    }
    int handled = 0;
};

struct Routed : HttpManager {
    using HttpManager::HttpManager;
    void route(const QString& url, Handler h) { routeMap_.insert(url, h); }
};

// 20000 discovery answers with new keys, every second one 40 bytes of junk.
void floodDiscoveryPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0), one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to {AF_INET, htons(gvcp::kRequesterPort), {INADDR_BROADCAST}, {}};
    for (int i = 0; i < 20000; ++i) {
        const QByteArray key = "FLOOD-" + QByteArray::number(i);
        const std::string d = i % 2 ? std::string(40, char(i))
                                    : gvcp::ackDiscover(key.constData(), "10.9.0.1", "10.9.0.2", "255.255.255.0",
                                                        "10.9.0.1", "00:00:00:00:00:01");
        ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    ::close(fd);
}

}  // namespace

class TstPeerFlood : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        qputenv("VMM_TARGET", "0");
        QVERIFY(netns::prepare());
        for (const QStringList& a : {QStringList{"link", "add", "vf0", "type", "veth", "peer", "name", "vf1"},
                                     {"addr", "add", "10.9.0.1/24", "dev", "vf0"}, {"link", "set", "vf0", "up"},
                                     {"link", "set", "vf1", "up"}, {"route", "add", "default", "via", "10.9.0.254"}})
            QVERIFY(netns::ip(a));
    }

    void discoveryFlood_data()
    {
        QTest::addColumn<bool>("window");
        QTest::newRow("between enumerations") << false;
        QTest::newRow("inside the answer window") << true;
    }
    void discoveryFlood()
    {
        NETNS_GUARD();
        QFETCH(bool, window);
        CountingClient client;
        client.setReceiveWindow(window);
        gLogLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        floodDiscoveryPort();
        // This thread runs no event meanwhile (it only sleeps), so whatever
        // the listener hands over waits in one queued call.
        auto dropped = [&] { return window ? client.droppedQueueFull() : client.droppedOutsideWindow(); };
        for (int i = 0; i < 6000 && dropped() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QVERIFY(dropped() > 0);
        QCOMPARE(client.deliveries(), quint64(window ? 1 : 0));
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);
        QVERIFY(client.handled <= (window ? UDP_Core::kMaxQueued : 0));
        QVERIFY(client.cameraMap().size() <= client.handled);
        QVERIFY2(gLogLines.load() <= 8, qPrintable(QString::number(gLogLines.load())));  // counts, not 20000 lines
    }

    void requestFloodOnAClientLinkIsDroppedOnItsLoop()
    {
        NETNS_GUARD();
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        Routed client(XANT_CLIENT);
        int replies = 0, served = 0;
        client.route("/inline/bymain/zz", [&](CTask_FormData r) { ++(r.url.isEmpty() ? replies : served); });
        QVERIFY(client.startReactor(QHostAddress::LocalHost, peer.serverPort(), 1));
        QVERIFY(peer.waitForNewConnection(10000));
        QTcpSocket* s = peer.nextPendingConnection();
        s->write(QByteArray("POST /inline/bymain/zz HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}").repeated(20000));
        // Our own request's reply follows the whole flood on the same stream:
        // when it arrives every request before it has been cut (and dropped).
        CTask_FormData ask;
        ask.url = "/inline/bymain/zz";
        client.sendAsync(ask);
        const QByteArray got = nettest::readUntil(*s, nettest::haveWholeMessage);
        QVERIFY(got.startsWith("POST /inline/bymain/zz"));  // no answers to the flood came first
        const QByteArray id = got.mid(got.indexOf("User-Agent:")).split('\r').first();
        s->write("HTTP/1.1 200 OK\r\n" + id + "\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(nettest::waitFor([&] { return replies == 1; }, 60000));
        QCOMPARE(served, 0);
    }

    void hungPeerIsNotWaitedOn()
    {
        NETNS_GUARD();
        // A listener whose accept queue is full: further SYNs vanish.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd, 0) == 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, ntohs(a.sin_port));
        QVERIFY(filler.waitForConnected(10000));

        HttpManager agent(XANT_CLIENT);
        agent.setBackgroundConnect(true, 600000);  // it ends when the peer goes
        int failed = 0;
        connect(&agent, &HttpManager::linkConnectFailed, [&] { ++failed; });
        QVERIFY(agent.startReactor(QHostAddress::LocalHost, ntohs(a.sin_port), 1));
        auto* cli = qobject_cast<XANC::TcpCliReactor*>(agent.reactor().data());
        QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Connecting);  // returned without waiting
        bool probed = false;
        QMetaObject::invokeMethod(this, [&] { probed = true; }, Qt::QueuedConnection);
        QVERIFY(nettest::waitFor([&] { return probed; }));
        QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Connecting);
        ::close(fd);  // the next SYN is refused
        QVERIFY(nettest::waitFor([&] { return failed == 1; }, 60000));
        QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Failed);
    }
};

NETNS_TEST_MAIN(TstPeerFlood)
#include "tst_peerflood.moc"
