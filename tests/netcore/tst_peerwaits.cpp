// post_sync's wait on a peer that never answers, or answers with a body
// shorter than it announces: it ends on its deadline on a thread without an
// event loop, and a stop (abandonPeerWaits) ends every wait under way at
// once and lets no link start afterwards. The stop is for good, so it is the
// last case here.
#include "session.h"
#include "support_net.h"
#include "tcpreactor.h"

#include <QPointer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// A camera-like peer on loopback that takes requests and answers none
// (silent) or answers each with a Content-Length 1 MB longer than its body
// (lying), keeping the connection open either way.
class HostilePeer : public XANC::TcpServReactor {
public:
    explicit HostilePeer(bool lying) : lying_(lying)
    {
        connect(this, &XANC::TcpReactor::sigRequest, this, [this](CTask_FormData r) { onRequest(r); },
                Qt::DirectConnection);
    }
    std::atomic<int> requests{0};

private:
    void onRequest(const CTask_FormData& r)
    {
        if (lying_) {
            QPointer<Session> s;
            {
                QMutexLocker lock(&sessionMutex_);
                s = sessions_.value(r.sessionIndex);
            }
            const QByteArray body = "{\"code\":0,\"result\":{}}";
            if (s && s->socket())
                s->socket()->write("HTTP/1.1 200 OK\r\nUser-Agent: " + r.taskId.toLatin1() +
                                   "\r\nContent-Type: application/json\r\nContent-Length: " +
                                   QByteArray::number(body.size() + 1024 * 1024) + "\r\n\r\n" + body);
        }
        ++requests;
    }
    bool lying_;
};

}  // namespace

class TstPeerWaits : public QObject {
    Q_OBJECT
private slots:
    void deadlineWithoutEventLoop_data()
    {
        QTest::addColumn<bool>("lying");
        QTest::newRow("silent peer") << false;
        QTest::newRow("lying peer") << true;
    }
    void deadlineWithoutEventLoop()
    {
        QFETCH(bool, lying);
        HostilePeer peer(lying);
        QVERIFY(peer.reAction(QHostAddress::LocalHost, 0));
        XANC::TcpCliReactor client;
        QVERIFY(client.reAction(QHostAddress::LocalHost, peer.serverPort()));
        // A plain thread, no Qt event dispatcher; this thread blocks in the
        // join and runs no events either.
        bool answered = true;
        std::thread waiter([&] {
            CTask_FormData req;
            req.url = "/smon2/camera/getparams";
            CTask_FormData resp;
            answered = client.post_sync(req, resp, 300);
        });
        waiter.join();
        QVERIFY(!answered);
        QCOMPARE(peer.requests.load(), 1);
    }

    void stopAbandonsWaitsUnderWay()
    {
        HostilePeer silent(false), lying(true);
        QVERIFY(silent.reAction(QHostAddress::LocalHost, 0));
        QVERIFY(lying.reAction(QHostAddress::LocalHost, 0));
        XANC::TcpCliReactor toSilent, toLying;
        QVERIFY(toSilent.reAction(QHostAddress::LocalHost, silent.serverPort()));
        QVERIFY(toLying.reAction(QHostAddress::LocalHost, lying.serverPort()));
        struct Wait {
            XANC::TcpCliReactor* client;
            bool answered = true;
            std::unique_ptr<QThread> thread;
        } waits[] = {{&toSilent, true, nullptr}, {&toLying, true, nullptr}};
        for (Wait& w : waits) {
            w.thread.reset(QThread::create([&w] {
                CTask_FormData req;
                req.url = "/smon2/camera/getparams";
                CTask_FormData resp;
                w.answered = w.client->post_sync(req, resp, 60000);
            }));
            w.thread->start();
        }
        // Both peers hold a request: the waits are under way.
        QVERIFY(nettest::waitFor([&] { return silent.requests == 1 && lying.requests == 1; }));
        XANC::TcpReactor::abandonPeerWaits();
        QVERIFY(XANC::TcpReactor::peerWaitsAbandoned());
        for (Wait& w : waits) {
            QVERIFY(w.thread->wait(30000));   // a generous ceiling: ended, not waited out
            QVERIFY(!w.answered);
        }
        // From now on nothing waits on a peer and no link starts.
        CTask_FormData req;
        req.url = "/again";
        CTask_FormData resp;
        QVERIFY(!toSilent.post_sync(req, resp, 60000));
        QCOMPARE(silent.requests.load(), 1);
        XANC::TcpCliReactor late;
        QVERIFY(!late.reAction(QHostAddress::LocalHost, silent.serverPort()));
        XANC::TcpServReactor listener;
        QVERIFY(!listener.reAction(QHostAddress::LocalHost, 0));
    }
};

QTEST_GUILESS_MAIN(TstPeerWaits)
#include "tst_peerwaits.moc"
