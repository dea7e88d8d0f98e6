// Client and server reactors on loopback: exchanges, targets of a send,
// post_sync, the task table, hostile peers, time-outs, restarts and file
// descriptors.
#include "closedport.h"
#include "publictools.h"
#include "support_net.h"
#include "tcpreactor.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <fcntl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using nettest::openFdCount;
using nettest::rawClient;
using nettest::readUntil;
using nettest::waitFor;

namespace {

// A server reactor that answers every request with {"echo": url} and counts.
struct EchoServer {
    XANC::TcpServReactor reactor;
    int requests = 0;
    QList<CTask_FormData> seen;
    bool answer = true;

    EchoServer()
    {
        QObject::connect(&reactor, &XANC::TcpReactor::sigRequest, &reactor, [this](CTask_FormData r) {
            ++requests;
            seen << r;
            if (!answer)
                return;
            CTask_FormData reply = nettest::replyTo(r);
            reply.json.insert("echo", r.url);
            reactor.post_async(reply);
        }, Qt::QueuedConnection);
    }
    bool start() { return reactor.reAction(QHostAddress::LocalHost, 0); }
    quint16 port() const { return reactor.serverPort(); }
};

QByteArray request(const QByteArray& url, const QByteArray& id)
{
    return "POST " + url + " HTTP/1.1\r\nUser-Agent: " + id + "\r\nContent-Length: 0\r\n\r\n";
}

// post_sync waits without running the caller's events; the servers here
// answer through this thread's, so the wait runs on a thread of its own.
bool postSync(XANC::TcpReactor& client, CTask_FormData& req, CTask_FormData& resp, int ms)
{
    std::atomic<bool> done{false};
    bool ok = false;
    std::unique_ptr<QThread> waiter(QThread::create([&] {
        ok = client.post_sync(req, resp, ms);
        done = true;
    }));
    waiter->start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    waiter->wait();
    return ok;
}

bool closedByPeer(QTcpSocket& s)
{
    return waitFor([&] {
        s.readAll();
        return s.state() == QAbstractSocket::UnconnectedState;
    });
}

}  // namespace

class TstReactor : public QObject {
    Q_OBJECT
private slots:
    void allocatorTrimmedByRoomHeld();
    void exchangeBothWays();
    void sendTargets();
    void generatedTaskIds();
    void postSyncRefuses_data();
    void postSyncRefuses();
    void postSyncIgnoresLateReply();
    void postSyncWritesIdBack();
    void taskTable();
    void taskTableCap();
    void clientToClosedPort();
    void serverPortInUse();
    void hostilePeers_data();
    void hostilePeers();
    void timeOuts();
    void sessionCap();
    void peerClosesClient();
    void sessionsLiveOnTheLoopThread();
    void fileReplyStreams();
    void restartCycles();
    void connectCloseCycles();
    void acceptResumesAfterError();
    void restartWhileLoopLooksDead();
    void cutFileTransferClosesConnection();
    void descriptorFloodKeepsReserve();
    void halfCloseIsAnswered();
};

// First of all, so that no session of another test counts: a body merely
// announced holds no room and buys no trim; many sessions that together held
// more than the trim's bound do.
void TstReactor::allocatorTrimmedByRoomHeld()
{
    EchoServer server;
    QVERIFY(server.start());
    QCOMPARE(Session::heldSinceTrim(), qint64(0));
    const quint64 trims = Session::trimsDone();
    {
        auto announcer = rawClient(server.port());
        announcer->write("POST /a HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n0123456789");
        QVERIFY(announcer->waitForBytesWritten(3000));
        QTest::qWait(100);
        announcer->abort();
    }
    QVERIFY(waitFor([] { return Session::heldSinceTrim() > 0; }));
    QVERIFY2(Session::heldSinceTrim() < Session::kTrimAfterBytes, qPrintable(QString::number(Session::heldSinceTrim())));
    QCOMPARE(Session::trimsDone(), trims);

    // Thirty-two sessions that each held a 100 kB body: together more than the
    // bound, so the allocator is trimmed once they have gone.
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    const QByteArray body(100 * 1024, 'b');
    for (int i = 0; i < 32; ++i) {
        peers.push_back(rawClient(server.port()));
        peers.back()->write("POST /big HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    QVERIFY(waitFor([&] { return server.requests >= 32; }));
    peers.clear();
    QVERIFY2(waitFor([&] { return Session::trimsDone() > trims; }, 30000),
             qPrintable(QString::number(Session::heldSinceTrim())));
}

void TstReactor::exchangeBothWays()
{
    EchoServer server;
    QVERIFY(server.start());
    QVERIFY(server.reactor.isRunning());
    XANC::TcpCliReactor client;
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.port()));
    QVERIFY(client.isRunning());
    QVERIFY(client.hasSession());

    CTask_FormData req;
    req.url = "/v18/http/x";
    req.taskId = "sync-1";
    req.json.insert("a", 1);
    CTask_FormData resp;
    QVERIFY(postSync(client, req, resp, 5000));
    QCOMPARE(resp.taskId, QString("sync-1"));
    QCOMPARE(resp.json.value("result").toObject().value("echo").toString(), QString("/v18/http/x"));
    // The reply took its task entry along and left the table.
    QCOMPARE(resp.tasksCopy().size(), 1);
    QCOMPARE(resp.tasksCopy().first().url, QString("/v18/http/x"));
    QVERIFY(resp.tasksCopy().first().finishact_timing > 0);
    QVERIFY(!client.isAliveTcpTask("sync-1"));
    QCOMPARE(server.seen.first().json.value("a").toInt(), 1);
    QCOMPARE(server.seen.first().peerAddress, QString("127.0.0.1"));
    QVERIFY(client.softCntedMs_ > 0);
}

void TstReactor::sendTargets()
{
    XANC::TcpServReactor server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < 3; ++i)
        peers.push_back(rawClient(server.serverPort()));
    QVERIFY(waitFor([&] { return server.getAliveSession().size() == 3; }));
    const QList<int> alive = server.getAliveSession();
    QVERIFY(alive[0] < alive[1] && alive[1] < alive[2]);

    auto sendTo = [&](int index, const QString& id) {
        CTask_FormData t;
        t.taskId = id;
        t.sessionIndex = index;
        QVERIFY(server.post_async(t));
    };
    sendTo(-2, "none");
    sendTo(999999, "absent");
    sendTo(alive[1], "only-middle");
    sendTo(-1, "everyone");
    QList<QByteArray> got;
    for (auto& p : peers)
        got << readUntil(*p, [](const QByteArray& b) { return b.contains("everyone"); });
    for (const QByteArray& g : got) {
        QVERIFY(g.contains("User-Agent: everyone"));
        QVERIFY(!g.contains("none") && !g.contains("absent"));
    }
    QVERIFY(!got[0].contains("only-middle"));
    QVERIFY(got[1].contains("only-middle"));
    QVERIFY(!got[2].contains("only-middle"));
}

void TstReactor::generatedTaskIds()
{
    XANC::TcpServReactor server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    auto peer = rawClient(server.serverPort());
    QVERIFY(waitFor([&] { return server.getAliveSession().size() == 1; }));
    CTask_FormData t;
    t.url = "/push";
    QVERIFY(server.post_async(t));
    QVERIFY(server.post_async(t));
    t.taskId = "kept";
    QVERIFY(server.post_async(t));
    const QByteArray got = readUntil(*peer, [](const QByteArray& b) { return b.contains("kept"); });
    static const QRegularExpression re("User-Agent: defalut#\\d{8}_\\d{6}_\\d{3}#(\\d+)\r\n");
    auto it = re.globalMatch(QString::fromLatin1(got));
    QList<int> numbers;
    while (it.hasNext())
        numbers << it.next().captured(1).toInt();
    QCOMPARE(numbers.size(), 2);
    QCOMPARE(numbers[1], numbers[0] + 1);
    QVERIFY(got.contains("User-Agent: kept\r\n"));
    // Outgoing requests wait in the table for their replies.
    QCOMPARE(server.taskCount(), 3);
}

void TstReactor::postSyncRefuses_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("ms");
    QTest::newRow("no session") << false << 1000;
    QTest::newRow("zero") << true << 0;
    QTest::newRow("negative") << true << -5;
    QTest::newRow("over a minute") << true << 60001;
}

void TstReactor::postSyncRefuses()
{
    QFETCH(bool, connected);
    QFETCH(int, ms);
    EchoServer server;
    QVERIFY(server.start());
    XANC::TcpCliReactor client;
    if (connected)
        QVERIFY(client.reAction(QHostAddress::LocalHost, server.port()));
    CTask_FormData req;
    req.url = "/r";
    CTask_FormData resp;
    resp.msg = "untouched";
    QVERIFY(!client.post_sync(req, resp, ms));
    QCOMPARE(resp.msg, QString("untouched"));
    QTest::qWait(50);
    QCOMPARE(server.requests, 0);
}

void TstReactor::postSyncIgnoresLateReply()
{
    // The server answers /slow late and /next later still, so the late reply
    // to the first call arrives while the second call waits.
    XANC::TcpServReactor server;
    QObject::connect(&server, &XANC::TcpReactor::sigRequest, &server, [&server](CTask_FormData r) {
        const int delay = r.url == "/slow" ? 400 : 900;
        QTimer::singleShot(delay, &server, [&server, r] {
            CTask_FormData reply = nettest::replyTo(r);
            reply.json.insert("for", r.url);
            server.post_async(reply);
        });
    }, Qt::QueuedConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    XANC::TcpCliReactor client;
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.serverPort()));

    int lateSeen = 0;
    connect(&client, &XANC::TcpReactor::sigResponse, this, [&lateSeen](CTask_FormData r, bool) {
        if (r.json.value("result").toObject().value("for").toString() == "/slow")
            ++lateSeen;
    });
    CTask_FormData first;
    first.url = "/slow";
    CTask_FormData resp;
    QVERIFY(!postSync(client, first, resp, 100));
    CTask_FormData second;
    second.url = "/next";
    QVERIFY(postSync(client, second, resp, 20000));
    // It did arrive during the second wait: counted and dropped on the loop
    // thread, handed to no receiver (whose owner may be gone by then).
    QCOMPARE(client.lateRepliesDropped(), quint64(1));
    QCOMPARE(lateSeen, 0);
    QCOMPARE(resp.json.value("result").toObject().value("for").toString(), QString("/next"));
    QCOMPARE(resp.taskId, second.taskId);
}

void TstReactor::postSyncWritesIdBack()
{
    EchoServer server;
    QVERIFY(server.start());
    XANC::TcpCliReactor client;
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.port()));
    CTask_FormData req;
    req.url = "/id";
    CTask_FormData resp;
    QVERIFY(postSync(client, req, resp, 5000));
    QVERIFY(req.taskId.startsWith("defalut#"));
    QCOMPARE(resp.taskId, req.taskId);
    QCOMPARE(server.seen.first().taskId, req.taskId);
}

void TstReactor::taskTable()
{
    XANC::TcpCliReactor r;
    r.append_TcpTask(QString());
    QCOMPARE(r.taskCount(), 0);
    r.append_TcpTask(QString("id-1"));
    TcpTsk_Info info = r.getTcpTask("id-1").getValue();
    QCOMPARE(info.url, QString("id-1"));
    QCOMPARE(info.recv_times, qint64(-1));
    QVERIFY(info.create_timing > 0);

    r.update_TcpTsk_ByUuid("id-1", "tskup_chg_recvpacklength", {QVariant(QString("12"))});
    QCOMPARE(r.getTcpTask("id-1").getValue().recvpacklength, -1);
    r.update_TcpTsk_ByUuid("id-1", "tskup_chg_recvpacklength", {QVariant(12)});
    QCOMPARE(r.getTcpTask("id-1").getValue().recvpacklength, 12);
    r.update_TcpTsk_ByUuid("id-1", "tskup_firstrecv_timing", {});
    r.update_TcpTsk_ByUuid("id-1", "tskup_recv_times", {});
    r.update_TcpTsk_ByUuid("id-1", "no such key", {});
    QCOMPARE(r.getTcpTask("id-1").getValue().recv_times, qint64(2));
    r.update_TcpTsk_ByUuid("id-2", "tskup_firstrecv_timing", {});
    QVERIFY(!r.isAliveTcpTask("id-2"));

    const QMap<QString, QVariant> report = r.getTcpTask("id-1").getValue().getReportParam();
    QCOMPARE(report.keys(), (QStringList{"_tsk_create_timing", "_tsk_finishact_timing", "_tsk_finishrecv_timing",
                                         "_tsk_firstrecv_timing", "_tsk_recv_times", "_tsk_recvpacklength", "_tsk_url",
                                         "_tsk_uuid"}));
    QCOMPARE(report.value("_tsk_finishact_timing").toLongLong(), -1LL);

    const CVariant<TcpTsk_Info> taken = r.remove_TaskFromList("id-1");
    QVERIFY(taken.hasValue());
    QVERIFY(taken.getValue().finishact_timing > 0);
    QVERIFY(!r.remove_TaskFromList("id-1").hasValue());
    QVERIFY(!r.getTcpTask("id-1").hasValue());

    // Replies are never entered: nothing would ever take them out again.
    CTask_FormData reply;
    reply.taskId = "a reply";
    r.post_async(reply);
    QVERIFY(!r.isAliveTcpTask("a reply"));
    CTask_FormData req;
    req.url = "/u";
    req.taskId = "a request";
    req.sessionIndex = -2;
    QVERIFY(r.post_async(req));
    QCOMPARE(r.getTcpTask("a request").getValue().url, QString("/u"));
}

void TstReactor::taskTableCap()
{
    XANC::TcpCliReactor r;
    const int n = XANC::TcpReactor::kMaxTasks + 500;
    for (int i = 0; i < n; ++i)
        r.append_TcpTask(QString("t%1").arg(i));
    QCOMPARE(r.taskCount(), XANC::TcpReactor::kMaxTasks);
    QVERIFY(!r.isAliveTcpTask("t0"));
    QVERIFY(!r.isAliveTcpTask("t499"));
    QVERIFY(r.isAliveTcpTask("t500"));
    QVERIFY(r.isAliveTcpTask(QString("t%1").arg(n - 1)));
    // Entries taken out and put in again do not make the oldest ones linger.
    for (int i = 0; i < 3 * XANC::TcpReactor::kMaxTasks; ++i) {
        r.append_TcpTask(QString("again"));
        r.remove_TaskFromList("again");
    }
    QCOMPARE(r.taskCount(), XANC::TcpReactor::kMaxTasks - 1);
}

void TstReactor::clientToClosedPort()
{
    ClosedPort closed;
    QVERIFY(closed.port() != 0);
    XANC::TcpCliReactor client;
    QVERIFY(!client.reAction(QHostAddress::LocalHost, closed.port()));  // its loop thread now exists
    const int fds = openFdCount();
    for (int i = 0; i < 20; ++i)
        QVERIFY(!client.reAction(QHostAddress::LocalHost, closed.port()));
    QVERIFY(!client.isRunning());
    QVERIFY(!client.hasSession());
    QVERIFY(client.getAliveSession().isEmpty());
    QVERIFY(waitFor([&] { return openFdCount() <= fds; }));
}

void TstReactor::serverPortInUse()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    XANC::TcpServReactor server;
    QVERIFY(!server.reAction(QHostAddress::LocalHost, holder.serverPort()));
    QVERIFY(!server.isRunning());
    QVERIFY(!server.isLoopActive());
    // And it can be started again elsewhere.
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    QVERIFY(server.isRunning());
}

void TstReactor::hostilePeers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("oversized head") << QByteArray("POST /a HTTP/1.1\r\nX: ") + QByteArray(80000, 'x');
    QTest::newRow("negative length") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n");
    QTest::newRow("two lengths") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 5\r\n\r\n");
    QTest::newRow("absurd length") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 4000000000\r\n\r\n");
    QTest::newRow("chunked") << QByteArray("POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
    QTest::newRow("header injection")
        << QByteArray("POST /a HTTP/1.1\r\nUser-Agent: acc\rX-Injected: 1\nX-Injected2: 2\r\nContent-Length: 0\r\n\r\n");
}

void TstReactor::hostilePeers()
{
    QFETCH(QByteArray, bytes);
    EchoServer server;
    QVERIFY(server.start());
    auto bad = rawClient(server.port());
    bad->write(bytes);
    QVERIFY(closedByPeer(*bad));
    QCOMPARE(server.requests, 0);
    // The server goes on serving others.
    auto good = rawClient(server.port());
    good->write(request("/fine", "ok-1"));
    const QByteArray got = readUntil(*good, nettest::haveWholeMessage);
    QVERIFY(got.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(got.contains("\"echo\":\"/fine\""));
}

void TstReactor::timeOuts()
{
    EchoServer server;
    Session::Limits limits = server.reactor.sessionLimits();
    limits.headTimeoutMs = 300;
    limits.bodyTimeoutMs = 300;
    limits.idleTimeoutMs = 600;
    server.reactor.setSessionLimits(limits);
    QVERIFY(server.start());

    auto slowHead = rawClient(server.port());
    auto slowBody = rawClient(server.port());
    auto idle = rawClient(server.port());
    auto busy = rawClient(server.port());
    slowHead->write("POST /a HTTP/1.1\r\nUser-Agent: x");
    slowBody->write("POST /a HTTP/1.1\r\nContent-Length: 10\r\n\r\n12");
    busy->write(request("/busy", "b1"));
    QVERIFY(closedByPeer(*slowHead));
    QVERIFY(closedByPeer(*slowBody));
    QVERIFY(closedByPeer(*idle));
    const QByteArray got = readUntil(*busy, [](const QByteArray&) { return false; });
    QVERIFY(got.contains("/busy"));  // answered, then closed when idle
    QCOMPARE(busy->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(server.requests, 1);
}

void TstReactor::sessionCap()
{
    EchoServer server;
    server.reactor.setMaxSessions(2);
    QVERIFY(server.start());
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(rawClient(server.port()));
        QVERIFY(waitFor([&] { return server.reactor.sessionCount() == std::min(i + 1, 2); }));
    }
    QVERIFY(closedByPeer(*peers[2]));
    QVERIFY(closedByPeer(*peers[3]));
    for (int i = 0; i < 2; ++i) {
        peers[i]->write(request("/cap", "c"));
        QVERIFY(readUntil(*peers[i], nettest::haveWholeMessage).contains("/cap"));
    }
}

void TstReactor::peerClosesClient()
{
    XANC::TcpServReactor server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    XANC::TcpCliReactor client;
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.serverPort()));
    QVERIFY(waitFor([&] { return server.getAliveSession().size() == 1; }));
    server.remove_ClientSession(-1);
    QVERIFY(waitFor([&] { return !client.hasSession(); }));
    QVERIFY(client.isRunning());  // the loop goes on without a session
    CTask_FormData t;
    t.url = "/lost";
    QVERIFY(client.post_async(t));  // dropped, nobody to send to
    // Nothing reconnects by itself: post_sync has nobody to ask until the
    // owner starts the link again.
    CTask_FormData resp;
    QVERIFY(client.getAliveSession().isEmpty());
    QVERIFY(!client.post_sync(t, resp, 1000));
    QVERIFY(client.reAction(QHostAddress::LocalHost, server.serverPort()));
    QCOMPARE(client.getAliveSession().size(), 1);
    QVERIFY(client.hasSession());
}

void TstReactor::sessionsLiveOnTheLoopThread()
{
    XANC::TcpServReactor server;
    std::atomic<QThread*> loopThread{nullptr};   // written on the loop thread
    QList<QThread*> destroyedOn;
    connect(&server, &XANC::TcpReactor::sigRequest, &server, [&](CTask_FormData r) {
        loopThread = QThread::currentThread();
        server.post_async(nettest::replyTo(r));  // unanswered, it would outlive its peer a while
    }, Qt::DirectConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    for (int i = 0; i < 5; ++i) {
        auto peer = rawClient(server.serverPort());
        peer->write(request("/t", "t"));
        QVERIFY(waitFor([&] { return loopThread.load() != nullptr && server.sessionCount() == 1; }));
        peer->close();
        QVERIFY(waitFor([&] { return server.sessionCount() == 0; }));
    }
    QVERIFY(loopThread.load() && loopThread.load() != QThread::currentThread());
    // Sessions still open when the server stops are closed on its thread too.
    auto a = rawClient(server.serverPort());
    auto b = rawClient(server.serverPort());
    QVERIFY(waitFor([&] { return server.sessionCount() == 2; }));
    server.deinitialize();
    QCOMPARE(server.sessionCount(), 0);
    QVERIFY(closedByPeer(*a));
    QVERIFY(closedByPeer(*b));
}

void TstReactor::fileReplyStreams()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("big.bin");
    QByteArray content(10 * 1024 * 1024, 0);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char((i * 131) >> 3);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    XANC::TcpServReactor server;
    connect(&server, &XANC::TcpReactor::sigRequest, &server, [&](CTask_FormData r) {
        CTask_FormData reply = nettest::replyTo(r);
        reply.files.insert(path, QByteArray());
        server.post_async(reply);
        CTask_FormData after;  // queued behind the file on the same connection
        after.taskId = "after-the-file";
        after.sessionIndex = r.sessionIndex;
        server.post_async(after);
    }, Qt::QueuedConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    const int fds = openFdCount();
    auto peer = rawClient(server.serverPort());
    peer->write(request("/file", "f1"));
    const QByteArray got = readUntil(*peer, [](const QByteArray& b) { return b.endsWith("\"msg\":\"OK\"}"); }, 60000);
    const int sep = got.indexOf("\r\n\r\n");
    QVERIFY(sep > 0);
    QVERIFY(got.left(sep).contains("Content-Length: 10485760"));
    QCOMPARE(got.mid(sep + 4, content.size()), content);
    QVERIFY(got.mid(sep + 4 + content.size()).startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(got.contains("User-Agent: after-the-file"));
    peer.reset();
    QVERIFY(waitFor([&] { return server.sessionCount() == 0 && openFdCount() <= fds; }));
}

void TstReactor::restartCycles()
{
    const int fds = openFdCount();
    EchoServer server;
    XANC::TcpCliReactor client;
    for (int i = 0; i < 100; ++i) {
        QVERIFY(server.start());
        QVERIFY(client.reAction(QHostAddress::LocalHost, server.port()));
        if (i % 10 == 0) {
            CTask_FormData req;
            req.url = "/cycle";
            CTask_FormData resp;
            QVERIFY(postSync(client, req, resp, 5000));
        }
    }
    client.deinitialize();
    server.reactor.deinitialize();
    QVERIFY(!server.reactor.isRunning());
    QVERIFY(!client.isRunning());
    // A leak would show once per cycle; two spare for the sanitizer runtime,
    // which opens a pipe of its own the first time it probes memory.
    QVERIFY(waitFor([&] { return openFdCount() <= fds + 2; }));
}

void TstReactor::connectCloseCycles()
{
    XANC::TcpServReactor server;
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    const int fds = openFdCount();
    for (int i = 0; i < 10000; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(s.waitForConnected(5000));
        if (i % 2)
            s.write("POST /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
        s.flush();
        s.abort();
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }
    QVERIFY(waitFor([&] { return server.sessionCount() == 0; }, 30000));
    QVERIFY(waitFor([&] { return openFdCount() <= fds; }, 30000));
    QVERIFY(server.isRunning());
}

void TstReactor::acceptResumesAfterError()
{
    // Hold the loop thread, let connections queue up in the kernel, take
    // away every free descriptor and let go: accepting fails with "too many
    // open files", and must go on by itself once descriptors are free again.
    XANC::TcpServReactor server;
    QSemaphore gate(0);
    std::atomic<bool> held{false};
    connect(&server, &XANC::TcpReactor::sigRequest, &server, [&](CTask_FormData r) {
        if (r.url == "/hold") {
            held = true;
            gate.acquire();
            return;
        }
        CTask_FormData reply = nettest::replyTo(r);
        reply.json.insert("echo", r.url);
        server.post_async(reply);
    }, Qt::DirectConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    auto holder = rawClient(server.serverPort());
    holder->write(request("/hold", "h"));
    QVERIFY(waitFor([&] { return held.load(); }));
    std::vector<std::unique_ptr<QTcpSocket>> queued;
    for (int i = 0; i < 3; ++i)
        queued.push_back(rawClient(server.serverPort()));

    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
    int highest = 0;
    for (const QString& n : QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System))
        highest = std::max(highest, n.toInt());
    struct rlimit tight = old;
    tight.rlim_cur = rlim_t(highest + 1);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    QList<int> fillers;  // take the free numbers below the limit too
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        fillers << fd;
    const int before = server.sessionCount();
    gate.release();
    QTest::qWait(400);
    const int during = server.sessionCount();
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &old), 0);
    for (int fd : fillers)
        ::close(fd);
    QCOMPARE(during, before);  // nothing could be accepted meanwhile

    for (auto& c : queued) {
        c->write(request("/later", "l"));
        QVERIFY(readUntil(*c, nettest::haveWholeMessage).contains("/later"));
    }
}

void TstReactor::restartWhileLoopLooksDead()
{
    // A handler that holds the loop thread longer than the liveness window:
    // the server looks dead, yet a restart must stop the old loop first and
    // must not hang.
    XANC::TcpServReactor server;
    std::atomic<bool> inHandler{false};
    connect(&server, &XANC::TcpReactor::sigRequest, &server, [&](CTask_FormData) {
        inHandler = true;
        QThread::msleep(2600);
    }, Qt::DirectConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    auto peer = rawClient(server.serverPort());
    peer->write(request("/hold", "h"));
    QVERIFY(waitFor([&] { return inHandler.load(); }));
    QVERIFY(waitFor([&] { return !server.isRunning(); }, 5000));
    QVERIFY(server.isLoopActive());
    QVERIFY(!server.initialize());  // a second loop is never started beside it
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    QVERIFY(server.isRunning());
}

void TstReactor::cutFileTransferClosesConnection()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shrinks.bin");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(40 * 1024 * 1024, 'z'));
    }
    XANC::TcpServReactor server;
    std::atomic<bool> sent{false};
    connect(&server, &XANC::TcpReactor::sigRequest, &server, [&](CTask_FormData r) {
        CTask_FormData reply = nettest::replyTo(r);
        reply.files.insert(path, QByteArray());
        server.post_async(reply);
        sent = true;
    }, Qt::QueuedConnection);
    QVERIFY(server.reAction(QHostAddress::LocalHost, 0));
    auto peer = rawClient(server.serverPort());
    peer->setReadBufferSize(64 * 1024);
    peer->write(request("/file", "f"));
    QVERIFY(waitFor([&] { return sent.load(); }));
    QTest::qWait(200);
    // The file shrinks while it is being sent: the reply cannot be whole, so
    // the connection must end rather than leave the peer waiting.
    QVERIFY(QFile::resize(path, 1024 * 1024));
    peer->setReadBufferSize(0);
    const QByteArray got = readUntil(*peer, [](const QByteArray&) { return false; }, 30000);
    QCOMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(got.contains("Content-Length: 41943040"));
    QVERIFY(got.size() < 40 * 1024 * 1024);
}

namespace {

// Raises its own open-file limit, opens argv[2] connections to port argv[1],
// sends a request on each, prints how many were answered, and holds the
// connections until its input closes.
const char* const kFloodScript = R"(
import resource, socket, sys
resource.setrlimit(resource.RLIMIT_NOFILE, (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)
conns = [socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) for i in range(int(sys.argv[2]))]
def answered(c):
    try:
        c.sendall(b"POST /flood HTTP/1.1\r\n\r\n")
        return c.recv(64).startswith(b"HTTP/1.1 200")
    except OSError:
        return False
print(sum(map(answered, conns)), flush=True)
sys.stdin.read()
)";

}  // namespace

void TstReactor::descriptorFloodKeepsReserve()
{
    // Under a low open-file limit a flood of connections must leave the
    // process its reserve, and the server must serve again afterwards.
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
    const int limit = openFdCount() + 300;
    const struct rlimit tight = {rlim_t(limit), old.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::unique_ptr<rlimit, void (*)(rlimit*)> restore(&old, [](rlimit* l) { setrlimit(RLIMIT_NOFILE, l); });

    EchoServer server;
    QVERIFY(server.start());
    QProcess peer;
    peer.start(python, {"-c", kFloodScript, QString::number(server.port()), QString::number(2 * limit)});
    QVERIFY(waitFor([&] { return peer.canReadLine() || peer.state() == QProcess::NotRunning; }, 60000));
    const int answered = peer.readLine().trimmed().toInt();
    QVERIFY2(answered > 0 && answered <= limit - descriptorReserve(limit), qPrintable(QString::number(answered)));
    QList<int> fds;  // the reserve is there
    for (int i = 0; i < 64; ++i)
        fds << ::open("/dev/null", O_RDONLY);
    for (int fd : fds)
        ::close(fd);
    QVERIFY(!fds.contains(-1));

    peer.closeWriteChannel();
    QVERIFY(peer.waitForFinished(20000));
    QVERIFY(waitFor([&] { return server.reactor.sessionCount() == 0; }, 20000));
    auto fresh = rawClient(server.port());
    fresh->write(request("/after", "a"));
    QVERIFY(readUntil(*fresh, nettest::haveWholeMessage).contains("/after"));
}

void TstReactor::halfCloseIsAnswered()
{
    // Two requests, then the peer shuts its sending side: both are answered,
    // then the connection ends.
    EchoServer server;
    QVERIFY(server.start());
    auto peer = rawClient(server.port());
    peer->write(request("/one", "p1") + request("/two", "p2"));
    QVERIFY(peer->waitForBytesWritten(5000));
    QCOMPARE(::shutdown(int(peer->socketDescriptor()), SHUT_WR), 0);
    const QByteArray got = readUntil(*peer, [](const QByteArray&) { return false; });
    QVERIFY2(got.contains("\"echo\":\"/one\"") && got.contains("\"echo\":\"/two\""), got.constData());
    QCOMPARE(peer->state(), QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TstReactor)
#include "tst_reactor.moc"
