// The UDP reactor against a plain UDP socket on loopback, inside a network
// namespace of the test's own: datagrams both ways, messages cut across
// datagrams, several messages in one datagram, noise and restarts.
#include "support_net.h"
#include "support_netns.h"
#include "udpreactor.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

class TstUdpReactor : public QObject {
    Q_OBJECT

    struct Rig {
        XANC::UdpReactor reactor;
        QUdpSocket peer;
        QList<CTask_FormData> requests, responses;
        Rig()
        {
            peer.bind(QHostAddress(QHostAddress::LocalHost), 0);
            QObject::connect(&reactor, &XANC::UdpReactor::sigRequest, &peer,
                             [this](CTask_FormData t) { requests << t; });
            QObject::connect(&reactor, &XANC::UdpReactor::sigResponse, &peer,
                             [this](CTask_FormData t) { responses << t; });
        }
        ~Rig() { reactor.deinitialize(); }
        // The reactor sends first (its port is only known after a send).
        QByteArray hello()
        {
            reactor.sendMsg("hello", QStringLiteral("127.0.0.1"), peer.localPort(), false);
            if (!nettest::waitFor([this] { return peer.hasPendingDatagrams(); }))
                return QByteArray();
            return peer.receiveDatagram().data();
        }
        void toReactor(const QByteArray& d)
        {
            peer.writeDatagram(d, QHostAddress::LocalHost, reactor.localPort());
        }
    };

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
    }

    void datagramsBothWays()
    {
        NETNS_GUARD();
        Rig rig;
        QCOMPARE(rig.hello(), QByteArray("hello"));
        QVERIFY(rig.reactor.isRunning());
        QVERIFY(rig.reactor.getTimerAlived());
        rig.toReactor("POST /v18/udp/ping HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
        QVERIFY(nettest::waitFor([&] { return rig.requests.size() == 1; }));
        QCOMPARE(rig.requests[0].url, QStringLiteral("/v18/udp/ping"));
        QCOMPARE(rig.requests[0].peerAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(rig.requests[0].peerPort, int(rig.peer.localPort()));
        rig.toReactor("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        QVERIFY(nettest::waitFor([&] { return rig.responses.size() == 1; }));
        QVERIFY(rig.responses[0].url.isEmpty());
        QCOMPARE(rig.responses[0].body, QByteArray("ok"));
    }

    void messagesAcrossAndWithinDatagrams_data()
    {
        QTest::addColumn<QList<QByteArray>>("datagrams");
        QTest::addColumn<QStringList>("emitted");  // "req <url> <body>" or "rsp <body>", in order
        const QByteArray rsp = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
        QTest::newRow("head split in two, then the body")
            << QList<QByteArray> {"HTTP/1.1 200 OK\r\nConte", "nt-Length: 5\r\n\r\n", "hello"} << QStringList {"rsp hello"};
        QTest::newRow("body split") << QList<QByteArray> {rsp.left(rsp.size() - 3), rsp.right(3)}
                                    << QStringList {"rsp hello"};
        QTest::newRow("two messages in one datagram")
            << QList<QByteArray> {rsp + "POST /a HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"}
            << QStringList {"rsp hello", "req /a x"};
        QTest::newRow("noise lines before the start line")
            << QList<QByteArray> {"garbage\r\nmore\r\nPOST /b HTTP/1.1\r\nContent-Length: 0\r\n\r\n"}
            << QStringList {"req /b "};
        QTest::newRow("a head without a start line is dropped")
            << QList<QByteArray> {"no start line\r\nX: y\r\n\r\n", "POST /c HTTP/1.1\r\nContent-Length: 0\r\n\r\n"}
            << QStringList {"req /c "};
        QTest::newRow("start line alone") << QList<QByteArray> {"GET /d HTTP/1.1\r\n\r\n"} << QStringList {"req /d "};
        QTest::newRow("a head that cannot be framed is dropped")
            << QList<QByteArray> {"POST /e HTTP/1.1\r\nContent-Length: lots\r\n\r\n", rsp} << QStringList {"rsp hello"};
        QTest::newRow("a body over the limit is refused")
            << QList<QByteArray> {"POST /f HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n", rsp}
            << QStringList {"rsp hello"};
        QTest::newRow("noise without a head end is dropped at the limit")
            << QList<QByteArray> {QByteArray(40000, 'n'), QByteArray(40000, 'n'), rsp} << QStringList {"rsp hello"};
    }
    void messagesAcrossAndWithinDatagrams()
    {
        NETNS_GUARD();
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QStringList, emitted);
        Rig rig;
        QCOMPARE(rig.hello(), QByteArray("hello"));
        for (const QByteArray& d : datagrams)
            rig.toReactor(d);
        // Every row ends with a message, so all before it have been handled.
        QVERIFY(nettest::waitFor([&] { return rig.requests.size() + rig.responses.size() >= emitted.size(); }));
        QTest::qWait(50);
        QStringList got;
        for (const CTask_FormData& t : rig.requests)
            got << QStringLiteral("req %1 %2").arg(t.url, QString::fromLatin1(t.body));
        for (const CTask_FormData& t : rig.responses)
            got << QStringLiteral("rsp %1").arg(QString::fromLatin1(t.body));
        QStringList want = emitted;
        got.sort();
        want.sort();
        QCOMPARE(got, want);
    }

    void restartAndStop()
    {
        NETNS_GUARD();
        Rig rig;
        QCOMPARE(rig.hello(), QByteArray("hello"));
        QVERIFY(!rig.reactor.initialize());  // already running
        rig.reactor.sendMsg("again", QStringLiteral("127.0.0.1"), rig.peer.localPort(), true);
        QVERIFY(nettest::waitFor([&] { return rig.peer.hasPendingDatagrams(); }));
        QCOMPARE(rig.peer.receiveDatagram().data(), QByteArray("again"));
        rig.toReactor("POST /after HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
        QVERIFY(nettest::waitFor([&] { return rig.requests.size() == 1; }));
        rig.reactor.deinitialize();
        QVERIFY(!rig.reactor.isRunning());
        QCOMPARE(rig.reactor.localPort(), quint16(0));
    }
};

NETNS_TEST_MAIN(TstUdpReactor)
#include "tst_udpreactor.moc"
