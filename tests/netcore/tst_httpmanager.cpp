// The HTTP service base: routes, 404, replies dispatched by the url of their
// request, and the three ways of handling requests.
#include "httpmanager.h"
#include "support_net.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using nettest::rawClient;
using nettest::readUntil;
using nettest::waitFor;

namespace {

class Service : public HttpManager {
public:
    explicit Service(XANT_TYPE type) : HttpManager(type) {}
    void route(const QString& url, Handler h) { routeMap_.insert(url, std::move(h)); }
    // A JSON answer through the reactor, as the services do.
    void answer(const CTask_FormData& request, const QJsonObject& result)
    {
        CTask_FormData reply = nettest::replyTo(request);
        reply.json = result;
        reactor()->post_async(reply);
    }
    quint16 port() const { return static_cast<XANC::TcpServReactor*>(reactor().data())->serverPort(); }
};

}  // namespace

class TstHttpManager : public QObject {
    Q_OBJECT
private slots:
    void routesAndNotFound();
    void statusReplyAndNoReactor();
    void replyGoesToTheRouteOfItsRequest();
    void modeTwoRunsOnTheLoopThread();
    void modeThreeUsesTwoWorkers();
    void stopReactorWaitsForARunningRoute_data();
    void stopReactorWaitsForARunningRoute();
    void clientRestartMakesANewConnection();
    void unknownTypeMakesNoReactor();
};

void TstHttpManager::routesAndNotFound()
{
    Service server(XANT_SERVER);
    QThread* handlerThread = nullptr;
    server.route("/v18/http/ping", [&](CTask_FormData r) {
        handlerThread = QThread::currentThread();
        server.answer(r, QJsonObject{{"pong", r.query.value("n")}});
    });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 1));
    auto peer = rawClient(server.port());
    peer->write("GET /v18/http/ping?n=5 HTTP/1.1\r\nUser-Agent: req-1\r\n\r\n"
                "POST /nowhere HTTP/1.1\r\nUser-Agent: req-2\r\nContent-Length: 0\r\n\r\n");
    const QByteArray got = readUntil(*peer, [](const QByteArray& b) { return b.contains("no found url\"}"); });
    const QByteArray port = QByteArray::number(peer->localPort());
    const QByteArray expected =
        "HTTP/1.1 200 OK\r\nHOST: 127.0.0.1:" + port +
        "\r\nUser-Agent: req-1\r\nContent-Type: application/json\r\nContent-Length: 45\r\n\r\n"
        "{\"code\":200,\"msg\":\"OK\",\"result\":{\"pong\":\"5\"}}"
        "HTTP/1.1 404 Not Found\r\nHOST: 127.0.0.1:" + port +
        "\r\nUser-Agent: req-2\r\nContent-Length: 33\r\n\r\n{\"code\":404,\"msg\":\"no found url\"}";
    QCOMPARE(got, expected);
    QCOMPARE(handlerThread, QThread::currentThread());
}

void TstHttpManager::statusReplyAndNoReactor()
{
    Service idle(XANT_SERVER);
    CTask_FormData r;
    r.url = "/x";
    idle.sendAsync(r);  // no reactor: nothing happens
    idle.callback_immediately(r, 500, "x");

    Service server(XANT_SERVER);
    server.route("/busy", [&](CTask_FormData req) { server.callback_immediately(req, 503, "busy now"); });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 1));
    auto peer = rawClient(server.port());
    peer->write("POST /busy HTTP/1.1\r\nUser-Agent: s1\r\nContent-Length: 0\r\n\r\n");
    const QByteArray got = readUntil(*peer, nettest::haveWholeMessage);
    QVERIFY(got.startsWith("HTTP/1.1 503 OK\r\n"));
    QVERIFY(got.endsWith("\r\n\r\n{\"code\":503,\"msg\":\"busy now\"}"));
    QVERIFY(got.contains("User-Agent: s1\r\n"));
}

void TstHttpManager::replyGoesToTheRouteOfItsRequest()
{
    Service server(XANT_SERVER);
    server.route("/ask", [&](CTask_FormData r) { server.answer(r, QJsonObject{{"n", r.json.value("n")}}); });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 1));

    Service client(XANT_CLIENT);
    QList<CTask_FormData> replies;
    client.route("/ask", [&](CTask_FormData r) { replies << r; });
    client.setProperty("name", "asker");
    QVERIFY(client.startReactor(QHostAddress::LocalHost, server.port(), 1));
    QCOMPARE(client.reactor()->property("name").toString(), QString("asker"));

    // A reply nobody asked for reaches no handler.
    CTask_FormData stray;
    stray.taskId = "stray";
    server.reactor()->post_async(stray);
    CTask_FormData ask;
    ask.url = "/ask";
    ask.json.insert("n", 42);
    client.sendAsync(ask);
    QVERIFY(waitFor([&] { return !replies.isEmpty(); }));
    QTest::qWait(50);
    QCOMPARE(replies.size(), 1);
    QVERIFY(replies.first().url.isEmpty());
    QCOMPARE(replies.first().json.value("result").toObject().value("n").toInt(), 42);
}

void TstHttpManager::modeTwoRunsOnTheLoopThread()
{
    Service server(XANT_SERVER);
    std::atomic<QThread*> where{nullptr};
    server.route("/here", [&](CTask_FormData r) {
        where = QThread::currentThread();
        server.answer(r, QJsonObject{});
    });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 2));
    auto peer = rawClient(server.port());
    peer->write("POST /here HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    QVERIFY(readUntil(*peer, nettest::haveWholeMessage).startsWith("HTTP/1.1 200 OK"));
    QVERIFY(where.load() != nullptr);
    QVERIFY(where.load() != QThread::currentThread());
}

void TstHttpManager::modeThreeUsesTwoWorkers()
{
    Service server(XANT_SERVER);
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> handled{0};
    QMutex threadsMutex;
    QSet<QThread*> threads;
    server.route("/work", [&](CTask_FormData r) {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        {
            QMutexLocker lock(&threadsMutex);
            threads.insert(QThread::currentThread());
        }
        QThread::msleep(30);
        --running;
        ++handled;
        server.answer(r, QJsonObject{});
    });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 3));
    auto peer = rawClient(server.port());
    QByteArray ten;
    for (int i = 0; i < 10; ++i)
        ten += "POST /work HTTP/1.1\r\nUser-Agent: w" + QByteArray::number(i) + "\r\nContent-Length: 0\r\n\r\n";
    ten += "POST /unrouted HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
    peer->write(ten);
    const QByteArray got = readUntil(*peer, [&](const QByteArray& b) { return b.count("HTTP/1.1 ") == 11; }, 20000);
    QCOMPARE(handled.load(), 10);
    QCOMPARE(got.count("HTTP/1.1 200 OK"), 10);
    QCOMPARE(got.count("HTTP/1.1 404 Not Found"), 1);
    QVERIFY(most.load() <= 2);
    QVERIFY(!threads.contains(QThread::currentThread()));
    QVERIFY(threads.size() <= 2);
    // Starting again stops the old workers and starts new ones.
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, 3));
    auto again = rawClient(server.port());
    again->write("POST /work HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    QVERIFY(readUntil(*again, nettest::haveWholeMessage).startsWith("HTTP/1.1 200 OK"));
}

// The hand-over a derived service makes first in its destructor: when it
// returns, no route runs any more.
void TstHttpManager::stopReactorWaitsForARunningRoute_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("routes on the loop thread") << 2;
    QTest::newRow("routes on the workers") << 3;
}

void TstHttpManager::stopReactorWaitsForARunningRoute()
{
    QFETCH(int, mode);
    Service server(XANT_SERVER);
    QSemaphore entered, proceed;
    std::atomic<int> started{0}, finished{0};
    server.route("/hold", [&](CTask_FormData) {
        ++started;
        entered.release();
        proceed.acquire();
        ++finished;
    });
    QVERIFY(server.startReactor(QHostAddress::LocalHost, 0, mode));
    auto peer = rawClient(server.port());
    peer->write(QByteArray("POST /hold HTTP/1.1\r\nContent-Length: 0\r\n\r\n").repeated(3));
    peer->flush();
    QVERIFY(entered.tryAcquire(1, 20000));
    std::atomic<int> finishedAtReturn{-1};
    std::unique_ptr<QThread> stopper(QThread::create([&] {
        server.stopReactor();
        finishedAtReturn = finished.load();
    }));
    stopper->start();
    proceed.release(3);
    QVERIFY(stopper->wait(60000));
    QCOMPARE(finishedAtReturn.load(), started.load());   // the running route had ended
}

void TstHttpManager::clientRestartMakesANewConnection()
{
    XANC::TcpServReactor server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    Service client(XANT_CLIENT);
    QVERIFY(client.startReactor(QHostAddress::LocalHost, server.serverPort(), 1));
    QVERIFY(waitFor([&] { return server.getAliveSession().size() == 1; }));
    const int first = server.getAliveSession().first();
    QVERIFY(client.startReactor(QHostAddress::LocalHost, server.serverPort(), 1));
    QVERIFY(waitFor([&] { return server.getAliveSession().size() == 1 && server.getAliveSession().first() != first; }));
}

void TstHttpManager::unknownTypeMakesNoReactor()
{
    Service odd(static_cast<XANT_TYPE>(7));
    QVERIFY(!odd.startReactor(QHostAddress::LocalHost, 0, 1));
    QVERIFY(odd.reactor().isNull());
}

QTEST_GUILESS_MAIN(TstHttpManager)
#include "tst_httpmanager.moc"
