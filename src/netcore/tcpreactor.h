// The TCP reactors that carry the library's HTTP/1.1 links.
//
// A reactor owns a one-thread pool; while it is started an event loop runs on
// that thread ("the loop thread") and every socket, listener and Session of
// the reactor lives there. Owners talk to it from their own thread through
// post_async/post_sync and receive its sigRequest/sigResponse signals.
#pragma once

#include "cvariant.h"
#include "session.h"

#include <QHash>
#include <QHostAddress>
#include <QSemaphore>
#include <QMap>
#include <QMetaMethod>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <deque>

namespace nettools {
class LoopStart;
}

namespace XANC {

class CQTcpSocket : public QTcpSocket {
    Q_OBJECT
public:
    CQTcpSocket() : QTcpSocket(nullptr) {}
};

class CQTcpServer : public QTcpServer {
    Q_OBJECT
public:
    CQTcpServer() : QTcpServer(nullptr) {}
};

class TcpReactor : public QObject {
    Q_OBJECT
public:
    // Entries of the task table live at most this long, and at most this many.
    static constexpr qint64 kTaskMaxAgeMs = 60000;
    static constexpr int kMaxTasks = 8192;

    TcpReactor();
    ~TcpReactor() override;

    virtual bool isRunning() const = 0;
    virtual bool reAction(const QHostAddress& address, quint16 port);
    virtual void blockAllRecvSIG();
    // Sends `request` and waits up to `ms` (1..60000) for its reply on the
    // steady clock, without an event loop: the caller's thread may have
    // none, or the application object may be gone. False without a link,
    // without a reply in time, or once peer waits are abandoned.
    virtual bool post_sync(CTask_FormData& request, CTask_FormData& response, int ms);
    virtual bool post_async(const CTask_FormData& task);
    virtual QList<int> getAliveSession();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
    virtual bool initialize();
    virtual void deinitialize();
    virtual void InitSession(Session* session);
    virtual void addSendQueue(const CTask_FormData& task);
    virtual void updateSoftCnted();

    void append_TcpTask(const CTask_FormData& task);
    void append_TcpTask(const QString& id);
    bool isAliveTcpTask(QString id);
    CVariant<TcpTsk_Info> getTcpTask(QString id);
    CVariant<TcpTsk_Info> remove_TaskFromList(QString id);
    void update_TcpTsk_ByUuid(QString uuid, QString key, QList<QVariant> values);
    void append_ClientSession(void* session);
    void remove_ClientSession(int index);

    // True while the loop thread runs (started and not yet stopped), whatever
    // a subclass's isRunning() says about its health.
    bool isLoopActive() const { return loopActive_.load(); }
    // Limits that new sessions of this reactor get.
    void setSessionLimits(const Session::Limits& limits);
    Session::Limits sessionLimits() const;
    int taskCount() const;
    int sessionCount() const;
    // Sessions whose reading waits for their answers to leave, and the bytes
    // all sessions hold in memory (see Session::bufferedBytes).
    int holdingSessions() const;
    qint64 bufferedBytes() const;
    // Replies that came for a post_sync request after its wait had ended:
    // dropped on the loop thread, never handed to a receiver.
    quint64 lateRepliesDropped() const { return lateReplies_.load(); }
    // True when someone receives this reactor's requests (and may answer).
    bool hasRequestReceiver() const { return isSignalConnected(QMetaMethod::fromSignal(&TcpReactor::sigRequest)); }
    // Called by a Session that is being destroyed.
    void forgetSession(int index, Session* session);

    // The program stops: every post_sync wait under way, of every reactor,
    // ends at once without its reply, none waits from now on, and no
    // reactor starts (connects or listens) any more. For good.
    static void abandonPeerWaits();
    static bool peerWaitsAbandoned();

    QHostAddress hostAddress() const { return hostAddress_; }
    quint16 hostPort() const { return hostPort_; }

    // Read without a lock by the owners that judge a link.
    std::atomic<qint64> softCntedMs_{0};
    std::atomic<int> aliveTick_{0};

    static std::atomic<int> _increase_index_session;

signals:
    void sigRequest(CTask_FormData obj);
    void sigResponse(CTask_FormData obj, bool stashed);
    void readyToClose();

protected:
    // Makes and registers the Session of a connected socket (loop thread).
    Session* makeSession(QTcpSocket* socket);
    bool onLoopThread() const;
    // Deletes every session at once; only on the loop thread.
    void closeAllSessionsNow();
    QString newTaskId();
    void purgeTasks();

    QSharedPointer<QThreadPool> socketThreadPool_;
    mutable QMutex sessionMutex_;
    QMap<int, QPointer<Session>> sessions_;
    mutable QMutex taskMutex_;
    QMap<QString, TcpTsk_Info> tasks_;
    QHostAddress hostAddress_;
    quint16 hostPort_ = 0;

private:
    void runLoop(nettools::LoopStart* start);
    void dropOldestTasks();
    // A post_sync wait that ended without its reply: the task leaves the
    // table and its id is kept, so that the reply, if it still comes, is
    // known as late. Callers hold no lock.
    void markTimedOut(const QString& id);
    bool takeTimedOut(const QString& id);

    std::atomic<bool> loopActive_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<QThread*> loopThread_{nullptr};
    std::deque<std::pair<QString, quint64>> taskOrder_;  // insertion order, for the cap
    QHash<QString, qint64> timedOut_;                    // under taskMutex_: id -> monotonic ms
    std::atomic<quint64> lateReplies_{0};
    quint64 taskSeq_ = 0;
    mutable QMutex limitsMutex_;
    Session::Limits limits_;
};

class TcpCliReactor : public TcpReactor {
    Q_OBJECT
public:
    TcpCliReactor();
    ~TcpCliReactor() override;

    bool isRunning() const override;
    QList<int> getAliveSession() override;
    bool onStart() override;
    void onFinish() override;
    bool hasSession();

    static constexpr int kConnectTimeoutMs = 200;
    // A connect in the background gives up after this long.
    static constexpr int kBackgroundConnectMs = 1000;

    // With a background connect, starting does not wait for the peer: the
    // loop runs at once, connects on its own thread and reports the outcome
    // by sigConnected or sigConnectFailed (one of them per start). For links
    // started from the GUI thread to a peer that may hang.
    void setBackgroundConnect(bool on, int limitMs = kBackgroundConnectMs)
    {
        backgroundConnect_ = on;
        backgroundLimitMs_ = limitMs;
    }
    enum class ConnectState { Idle, Connecting, Connected, Failed };
    ConnectState connectState() const { return connectState_.load(); }

signals:
    void sigConnected();
    void sigConnectFailed();

private:
    bool startConnectInBackground();
    std::atomic<bool> backgroundConnect_{false};
    std::atomic<int> backgroundLimitMs_{kBackgroundConnectMs};
    std::atomic<ConnectState> connectState_{ConnectState::Idle};
    QPointer<CQTcpSocket> connecting_;  // loop thread
};

class TcpServReactor : public TcpReactor {
    Q_OBJECT
public:
    // At most this many connections, and never more than the open-file
    // limit leaves after the program's reserve (descriptorReserve).
    static constexpr int kMaxSessions = 1024;
    // A connection with no message in progress is closed after this long.
    static constexpr int kIdleTimeoutMs = 60000;

    TcpServReactor();
    ~TcpServReactor() override;

    bool isRunning() const override;
    bool onStart() override;
    void onFinish() override;

    void setMaxSessions(int n) { maxSessions_ = n; }
    // The number of sessions allowed now: the smaller of the set maximum
    // and what the open-file limit leaves.
    int sessionCap() const;
    // The port actually listened on (useful when started on port 0).
    quint16 serverPort() const;

protected:
    QSharedPointer<CQTcpServer> tcpServer_;

private:
    void acceptPending();
    std::atomic<int> maxSessions_{kMaxSessions};
    std::atomic<quint16> listenPort_{0};
};

}  // namespace XANC
