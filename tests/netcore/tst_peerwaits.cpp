// post_sync's wait on a peer that never answers, or announces a body 1 MB
// longer than it sends: it ends on its deadline, and a stop
// (abandonPeerWaits, for good) ends every wait under way at once and lets no
// link start any more.
#include "support_net.h"
#include "tcpreactor.h"

#include <QPointer>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// Answers nothing (silent) or a head whose length the body never reaches.
class HostilePeer : public XANC::TcpServReactor {
public:
    explicit HostilePeer(bool lying)
    {
        connect(this, &XANC::TcpReactor::sigRequest, this, [this, lying](CTask_FormData r) {
            QMutexLocker lock(&sessionMutex_);
            const QPointer<Session> s = sessions_.value(r.sessionIndex);
            if (lying && s && s->socket())
                s->socket()->write("HTTP/1.1 200 OK\r\nUser-Agent: " + r.taskId.toLatin1() +
                                   "\r\nContent-Type: application/json\r\nContent-Length: 1048578\r\n\r\n{}");
            ++requests;
        }, Qt::DirectConnection);
        reAction(QHostAddress::LocalHost, 0);
    }
    std::atomic<int> requests{0};
};

// post_sync to `client` on a thread of its own, started now.
struct Wait {
    std::atomic<bool> answered{true};
    std::unique_ptr<QThread> thread;
    Wait(XANC::TcpReactor& client, int ms)
        : thread(QThread::create([this, &client, ms] {
            CTask_FormData req, resp;
            req.url = "/smon2/camera/getparams";
            answered = client.post_sync(req, resp, ms);
        }))
    {
        thread->start();
    }
};

}  // namespace

class TstPeerWaits : public QObject {
    Q_OBJECT
private slots:
    void hostilePeersAndTheStop()
    {
        HostilePeer silent(false), lying(true);
        XANC::TcpCliReactor toSilent, toLying;
        QVERIFY(toSilent.reAction(QHostAddress::LocalHost, silent.serverPort()));
        QVERIFY(toLying.reAction(QHostAddress::LocalHost, lying.serverPort()));
        XANC::TcpReactor* clients[] = {&toSilent, &toLying};

        // On its deadline, while this thread runs no events.
        for (XANC::TcpReactor* c : clients) {
            Wait w(*c, 300);
            QVERIFY(w.thread->wait(60000));
            QVERIFY(!w.answered);
        }
        QCOMPARE(silent.requests + lying.requests, 2);

        // Waits of a minute, ended by the stop once both peers hold theirs.
        Wait toS(toSilent, 60000), toL(toLying, 60000);
        QVERIFY(nettest::waitFor([&] { return silent.requests == 2 && lying.requests == 2; }));
        XANC::TcpReactor::abandonPeerWaits();
        for (Wait* w : {&toS, &toL}) {
            QVERIFY(w->thread->wait(30000));   // a generous ceiling: ended, not waited out
            QVERIFY(!w->answered);
        }
        // From now on no wait, no request, no new link.
        CTask_FormData req, resp;
        req.url = "/again";
        QVERIFY(!toSilent.post_sync(req, resp, 60000));
        QCOMPARE(silent.requests.load(), 2);
        XANC::TcpCliReactor late;
        QVERIFY(!late.reAction(QHostAddress::LocalHost, silent.serverPort()));
        XANC::TcpServReactor listener;
        QVERIFY(!listener.reAction(QHostAddress::LocalHost, 0));
    }
};

QTEST_GUILESS_MAIN(TstPeerWaits)
#include "tst_peerwaits.moc"
