// WebSocket transport: message parsing, targeting of server sends, client
// liveness, limits and shutdown.
#include "support_net.h"
#include "webskt_core.h"

#include <QJsonDocument>
#include <QTest>
#include <QRegularExpression>
#include <QTcpServer>
#include <QWebSocket>

#include <memory>

using nettest::waitFor;

namespace {

std::unique_ptr<QWebSocket> rawClient(quint16 port)
{
    auto s = std::make_unique<QWebSocket>();
    s->open(QUrl(QString("ws://127.0.0.1:%1").arg(port)));
    waitFor([&] { return s->state() == QAbstractSocket::ConnectedState; }, 5000);
    return s;
}

QString message(const QString& url, const QString& id, const QJsonObject& data = {})
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"url", url}, {"user_agent", id}, {"data", data}}).toJson(QJsonDocument::Compact));
}

}  // namespace

class TstWebSocket : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void serializeAndIds();
    void serverTargets();
    void clientExchangeAndLiveness();
    void clientsCloseWithServer();
    void clientToNowhere();
    void limits();
};

void TstWebSocket::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("url");
    QTest::newRow("empty data object") << R"({"url":"/a","user_agent":"u","data":{}})" << true << "/a";
    QTest::newRow("extra keys ignored") << R"({"url":"/b","user_agent":"u","data":{"k":1},"x":2})" << true << "/b";
    QTest::newRow("array as data") << R"({"url":"/c","user_agent":"u","data":[1]})" << false << "/c";
    QTest::newRow("no user_agent") << R"({"url":"/d","data":{}})" << false << "";
    QTest::newRow("number as url") << R"({"url":5,"user_agent":"u","data":{}})" << true << "";
    QTest::newRow("not json") << "hello" << false << "";
    QTest::newRow("json array") << "[1,2]" << false << "";
}

void TstWebSocket::parse()
{
    QFETCH(QString, text);
    WebSkt_Server s;
    const CTask_FormData_WebSkt_Json rec = s.analyseBuffer_Setup1_Json(text);
    QTEST(rec.valid, "valid");
    QTEST(rec.url, "url");
    QCOMPARE(rec.socket, quint64(0));
}

void TstWebSocket::serializeAndIds()
{
    WebSkt_Client c;
    CTask_FormData_WebSkt_Json rec;
    rec.valid = true;
    rec.socket = 77;
    rec.url = "/u";
    rec.user_agent = "id";
    rec.data.insert("k", 1);
    QCOMPARE(c.serialize_Setup2_Json(rec), QString(R"({"data":{"k":1},"url":"/u","user_agent":"id"})"));

    QList<CTask_FormData_WebSkt_Json> sent;
    connect(&c, &WebSkt_Core::sig_send_message, this, [&sent](CTask_FormData_WebSkt_Json r) { sent << r; },
            Qt::DirectConnection);
    rec.user_agent.clear();
    c.sendTextMessage(rec);
    rec.user_agent = "kept";
    c.sendTextMessage(rec);
    QCOMPARE(sent.size(), 2);
    QVERIFY(QRegularExpression("^sc_webskt#\\d{8}_\\d{6}_\\d{3}$").match(sent[0].user_agent).hasMatch());
    QCOMPARE(sent[1].user_agent, QString("kept"));
}

void TstWebSocket::serverTargets()
{
    WebSkt_Server server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    QVERIFY(!server.initialize());  // already running
    QList<CTask_FormData_WebSkt_Json> received;
    connect(&server, &WebSkt_Core::sig_recv_message, this, [&](CTask_FormData_WebSkt_Json r) { received << r; },
            Qt::QueuedConnection);

    auto a = rawClient(server.serverPort());
    auto b = rawClient(server.serverPort());
    auto gone = rawClient(server.serverPort());
    QStringList gotA, gotB;
    connect(a.get(), &QWebSocket::textMessageReceived, this, [&](const QString& t) { gotA << t; });
    connect(b.get(), &QWebSocket::textMessageReceived, this, [&](const QString& t) { gotB << t; });
    QVERIFY(waitFor([&] { return server.isCnted() == 3; }));

    a->sendTextMessage(message("/from-a", "1"));
    gone->sendTextMessage(message("/from-gone", "2"));
    a->sendTextMessage("not json at all");
    QVERIFY(waitFor([&] { return received.size() == 2; }));
    const quint64 handleA = received[0].url == "/from-a" ? received[0].socket : received[1].socket;
    const quint64 handleGone = received[0].url == "/from-gone" ? received[0].socket : received[1].socket;
    QVERIFY(handleA != 0 && handleGone != 0 && handleA != handleGone);
    gone->close();
    QVERIFY(waitFor([&] { return server.isCnted() == 2; }));

    CTask_FormData_WebSkt_Json rec;
    rec.url = "/only-a";
    rec.socket = handleA;
    server.sendTextMessage(rec);
    rec.url = "/for-the-gone";
    rec.socket = handleGone;
    server.sendTextMessage(rec);
    rec.url = "/everyone";
    rec.socket = 0;
    server.sendTextMessage(rec);
    QVERIFY(waitFor([&] { return gotA.size() >= 2 && gotB.size() >= 1; }));
    QTest::qWait(100);
    QCOMPARE(gotA.size(), 2);
    QCOMPARE(gotB.size(), 1);
    QVERIFY(gotA[0].contains("/only-a"));
    QVERIFY(gotA[1].contains("/everyone"));
    QVERIFY(gotB[0].contains("/everyone"));
}

void TstWebSocket::clientExchangeAndLiveness()
{
    WebSkt_Server server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    connect(&server, &WebSkt_Core::sig_recv_message, &server, [&server](CTask_FormData_WebSkt_Json r) {
        r.url = "/answer";
        server.sendTextMessage(r);  // back to the sender only
    }, Qt::DirectConnection);

    WebSkt_Client client;
    QList<CTask_FormData_WebSkt_Json> got;
    connect(&client, &WebSkt_Core::sig_recv_message, this, [&](CTask_FormData_WebSkt_Json r) { got << r; },
            Qt::QueuedConnection);
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.serverPort()));
    QVERIFY(client.isRunning());
    QCOMPARE(client.isCnted(), 1);
    CTask_FormData_WebSkt_Json rec;
    rec.url = "/ask";
    rec.user_agent = "q1";
    rec.data.insert("n", 9);
    client.sendTextMessage(rec);
    QVERIFY(waitFor([&] { return !got.isEmpty(); }));
    QCOMPARE(got[0].url, QString("/answer"));
    QCOMPARE(got[0].user_agent, QString("q1"));
    QCOMPARE(got[0].data.value("n").toInt(), 9);
    QVERIFY(got[0].valid && got[0].socket != 0);

    // A server that has gone answers no pings: the link turns dead although
    // the client's loop still runs.
    server.deinitialize();
    QVERIFY(waitFor([&] { return client.isCnted() == 0; }, 10000));
    QVERIFY(client.isRunning());
}

void TstWebSocket::clientsCloseWithServer()
{
    const int fds = nettest::openFdCount();
    {
        WebSkt_Server server;
        QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
        auto a = rawClient(server.serverPort());
        auto b = rawClient(server.serverPort());
        QVERIFY(waitFor([&] { return server.isCnted() == 2; }));
        server.deinitialize();
        QCOMPARE(server.isCnted(), 0);
        QVERIFY(waitFor([&] { return a->state() == QAbstractSocket::UnconnectedState; }));
        QVERIFY(waitFor([&] { return b->state() == QAbstractSocket::UnconnectedState; }));
        // And it starts again.
        QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
        auto c = rawClient(server.serverPort());
        QVERIFY(waitFor([&] { return server.isCnted() == 1; }));
    }
    QVERIFY(waitFor([&] { return nettest::openFdCount() <= fds + 2; }));
}

void TstWebSocket::clientToNowhere()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    WebSkt_Client client;
    QVERIFY(!client.reAction(QHostAddress::LocalHost, port));
    QVERIFY(!client.isRunning());
    QCOMPARE(client.isCnted(), 0);
}

void TstWebSocket::limits()
{
    WebSkt_Server server;
    server.setMaxClients(2);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    int received = 0;
    connect(&server, &WebSkt_Core::sig_recv_message, this, [&](CTask_FormData_WebSkt_Json) { ++received; },
            Qt::QueuedConnection);
    auto a = rawClient(server.serverPort());
    auto b = rawClient(server.serverPort());
    QVERIFY(waitFor([&] { return server.isCnted() == 2; }));
    auto c = rawClient(server.serverPort());
    QVERIFY(waitFor([&] { return c->state() == QAbstractSocket::UnconnectedState; }));
    QCOMPARE(server.isCnted(), 2);

    // A message over the size limit ends that client, not the server.
    const QString huge = message("/big", "x", QJsonObject{{"blob", QString(int(WebSkt_Core::kMaxMessageBytes), 'a')}});
    a->sendTextMessage(huge);
    QVERIFY(waitFor([&] { return a->state() == QAbstractSocket::UnconnectedState; }, 30000));
    b->sendTextMessage(message("/small", "y"));
    QVERIFY(waitFor([&] { return received == 1; }));
}

QTEST_GUILESS_MAIN(TstWebSocket)
#include "tst_websocket.moc"
