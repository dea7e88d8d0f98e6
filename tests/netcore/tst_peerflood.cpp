// Peers that flood or hang, each inside a network namespace of this test:
// what reaches the test's own (GUI) thread stays bounded, the log takes
// counts instead of a line per packet, and a hung peer is never waited on.
#include "gvcppacket.h"
#include "httpmanager.h"
#include "peertrafficlog.h"
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

class CountingClient : public UDP_ACam_Client {
public:
    ~CountingClient() override { stopListen(); }
    QString AnalysisRecvMessage(sockaddr_in s, const QByteArray& d) override
    {
        ++handled;
        return UDP_ACam_Client::AnalysisRecvMessage(s, d);
    }
    int handled = 0;
};

// Sends n discovery answers with new keys, and garbage, to the discovery port.
void floodDiscoveryPort(int n)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(gvcp::kRequesterPort);
    to.sin_addr.s_addr = INADDR_BROADCAST;
    for (int i = 0; i < n; ++i) {
        const QByteArray key = "FLOOD-" + QByteArray::number(i);
        const std::string d = i % 2 ? std::string(40, char(i)) // random-looking bytes
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
        // A camera network for the broadcasts.
        QVERIFY(netns::ip({"link", "add", "vf0", "type", "veth", "peer", "name", "vf1"}));
        QVERIFY(netns::ip({"addr", "add", "10.9.0.1/24", "dev", "vf0"}));
        QVERIFY(netns::ip({"link", "set", "vf0", "up"}));
        QVERIFY(netns::ip({"link", "set", "vf1", "up"}));
        QVERIFY(netns::ip({"route", "add", "default", "via", "10.9.0.254", "dev", "vf0"}));
    }

    // One line per kind per interval, with the count; a flush reports the rest.
    void trafficLogWritesCountsNotLines()
    {
        PeerTrafficLog log(QStringLiteral("test kind"), 1000);
        qint64 now = 0;
        log.clockMs = [&now] { return now; };
        gLogLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        for (int i = 0; i < 5000; ++i)
            log.note(QStringLiteral("event %1").arg(i));
        QCOMPARE(gLogLines.load(), 1);  // the first, at once
        now = 1000;
        log.note();                     // a new interval: the 4999 counted go out with it
        QCOMPARE(gLogLines.load(), 2);
        log.note();
        log.flush();
        log.flush();
        qInstallMessageHandler(previous);
        QCOMPARE(gLogLines.load(), 3);
        QCOMPARE(log.total(), quint64(5002));
        QCOMPARE(log.lines(), quint64(3));
    }

    void discoveryFloodOutsideTheWindowNeverReachesThisThread()
    {
        NETNS_GUARD();
        CountingClient client;
        QVERIFY(!client.receiveWindowOpen());
        gLogLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        floodDiscoveryPort(20000);
        // The listener has taken (and dropped) some of them; then this thread
        // runs its events: nothing was handed to it.
        QVERIFY(nettest::waitFor([&] { return client.droppedOutsideWindow() > 1000; }, 60000));
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);
        QCOMPARE(client.deliveries(), quint64(0));
        QCOMPARE(client.handled, 0);
        QVERIFY(client.cameraMap().isEmpty());
        QVERIFY2(gLogLines.load() <= 4, qPrintable(QString::number(gLogLines.load())));
    }

    void discoveryFloodInsideTheWindowIsOneBoundedHandOver()
    {
        NETNS_GUARD();
        CountingClient client;
        client.setReceiveWindow(true);
        gLogLines = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countLines);
        floodDiscoveryPort(20000);
        // This thread runs no event meanwhile (it only sleeps): the listener
        // queues what fits and posts a single call for all of it.
        for (int i = 0; i < 6000 && client.droppedQueueFull() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QVERIFY(client.droppedQueueFull() > 0);
        QCOMPARE(client.deliveries(), quint64(1));
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);
        QVERIFY(client.handled > 0);
        QVERIFY(client.handled <= UDP_Core::kMaxQueued);
        QVERIFY(client.cameraMap().size() <= UDP_Core::kMaxQueued);
        QVERIFY2(gLogLines.load() <= 8, qPrintable(QString::number(gLogLines.load())));
    }

    void requestFloodOnAClientLinkIsDroppedOnItsLoop()
    {
        NETNS_GUARD();
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        int replies = 0;
        // The url the peer floods is routed: a served request would reach it.
        struct Routed : HttpManager {
            using HttpManager::HttpManager;
            void route(const QString& url, Handler h) { routeMap_.insert(url, h); }
        };
        Routed client(XANT_CLIENT);
        int served = 0;
        client.route("/inline/bymain/zz", [&](CTask_FormData r) {
            if (r.url.isEmpty())
                ++replies;  // the reply to our own request
            else
                ++served;
        });
        QVERIFY(client.startReactor(QHostAddress::LocalHost, peer.serverPort(), 1));
        QVERIFY(peer.waitForNewConnection(10000));
        QTcpSocket* s = peer.nextPendingConnection();
        QByteArray flood;
        for (int i = 0; i < 20000; ++i)
            flood += "POST /inline/bymain/zz HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
        s->write(flood);
        // Our own request, answered after the whole flood on the same stream:
        // when its reply arrives every request before it has been cut.
        CTask_FormData ask;
        ask.url = "/inline/bymain/zz";
        client.sendAsync(ask);
        QByteArray got = nettest::readUntil(*s, nettest::haveWholeMessage);
        QVERIFY(got.startsWith("POST /inline/bymain/zz"));  // the flood got no answers
        const QByteArray id = got.mid(got.indexOf("User-Agent:")).split('\r').first();
        s->write("HTTP/1.1 200 OK\r\n" + id + "\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(nettest::waitFor([&] { return replies == 1; }, 60000));
        QCOMPARE(served, 0);
    }

    void hungPeerIsNotWaitedOn()
    {
        NETNS_GUARD();
        // A listener whose queue is full: further SYNs vanish.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        QCOMPARE(::listen(fd, 0), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        const quint16 port = ntohs(a.sin_port);
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(filler.waitForConnected(10000));

        HttpManager agent(XANT_CLIENT);
        agent.setBackgroundConnect(true);
        int failed = 0;
        int connected = 0;
        connect(&agent, &HttpManager::linkConnected, [&] { ++connected; });
        connect(&agent, &HttpManager::linkConnectFailed, [&] { ++failed; });
        QVERIFY(agent.startReactor(QHostAddress::LocalHost, port, 1));
        // Returned while the connect is still under way on the loop thread.
        auto* cli = qobject_cast<XANC::TcpCliReactor*>(agent.reactor().data());
        QVERIFY(cli);
        QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Connecting);
        bool probed = false;
        QMetaObject::invokeMethod(this, [&] { probed = true; }, Qt::QueuedConnection);
        QVERIFY(nettest::waitFor([&] { return probed; }));
        QVERIFY(nettest::waitFor([&] { return failed == 1; }, 30000));
        QCOMPARE(connected, 0);
        QCOMPARE(cli->connectState(), XANC::TcpCliReactor::ConnectState::Failed);
        ::close(fd);
    }
};

NETNS_TEST_MAIN(TstPeerFlood)
#include "tst_peerflood.moc"
