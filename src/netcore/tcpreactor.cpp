#include "tcpreactor.h"

#include "peertrafficlog.h"

#include "publictools.h"
#include "poolloop_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace XANC {

std::atomic<int> TcpReactor::_increase_index_session{0};

namespace {

// One post_sync wait: its reply, handed over on the loop thread.
struct SyncWait {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;  // answered, or given up (a late reply is then ignored)
    CTask_FormData reply;
};

// Every wait under way, so that a stop can end them all.
std::atomic<bool> gWaitsAbandoned{false};
std::mutex gWaitsMutex;
std::set<SyncWait*> gWaits;

}  // namespace

void TcpReactor::abandonPeerWaits()
{
    gWaitsAbandoned = true;
    std::lock_guard<std::mutex> all(gWaitsMutex);
    for (SyncWait* w : gWaits) {
        // Under the wait's lock: a waiter between its check and its sleep
        // is not missed.
        std::lock_guard<std::mutex> lock(w->mutex);
        w->cv.notify_all();
    }
}

bool TcpReactor::peerWaitsAbandoned()
{
    return gWaitsAbandoned.load();
}

TcpReactor::TcpReactor() : QObject(nullptr), socketThreadPool_(new QThreadPool)
{
    socketThreadPool_->setMaxThreadCount(1);
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
}

TcpReactor::~TcpReactor()
{
    // The subclass destructors have stopped the loop: onFinish belongs to them.
}

bool TcpReactor::onLoopThread() const
{
    return QThread::currentThread() == loopThread_.load();
}

// ---------------------------------------------------------------------------
// Start and stop

bool TcpReactor::initialize()
{
    // A loop that still runs (even one whose health looks stale) is never
    // joined by a second one: that one would wait behind it for ever. A
    // stopping program makes no new link.
    if (isRunning() || loopActive_ || peerWaitsAbandoned())
        return false;
    loopActive_ = true;
    stopRequested_ = false;
    return nettools::startLoopOnPool(*socketThreadPool_,
                                     [this](nettools::LoopStart* start) { runLoop(start); });
}

void TcpReactor::runLoop(nettools::LoopStart* start)
{
    loopThread_ = QThread::currentThread();
    QEventLoop loop;
    const auto quitConnection = connect(this, &TcpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);

    if (!onStart()) {
        disconnect(quitConnection);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        loopThread_ = nullptr;
        loopActive_ = false;
        start->report(false);
        return;
    }
    aliveTick_ = ::curtime_qint64_2_int();
    start->report(true);  // `start` belongs to the caller from here on

    QTimer tick;
    tick.setInterval(1000);
    connect(&tick, &QTimer::timeout, &tick, [this] {
        aliveTick_ = ::curtime_qint64_2_int();
        PeerTrafficLog::flushDue();
        Session::trimIfDue();
    });
    tick.start();
    // The purges run on the loop thread too: the reactor keeps no timer on
    // the thread that made it, which may be a worker without an event loop
    // (a camera link made off the GUI thread).
    QTimer taskPurge;
    connect(&taskPurge, &QTimer::timeout, &taskPurge, [this] { purgeTasks(); });
    taskPurge.start(30001);
    QTimer sessionPurge;
    connect(&sessionPurge, &QTimer::timeout, &sessionPurge, [this] { remove_ClientSession(-2); });
    sessionPurge.start(10001);
    if (!stopRequested_)
        loop.exec();
    tick.stop();
    taskPurge.stop();
    sessionPurge.stop();
    disconnect(quitConnection);
    // Sessions closed while the loop ran may wait for their deferred delete;
    // this thread runs no loop afterwards, so they go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    onFinish();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    loopThread_ = nullptr;
    loopActive_ = false;
}

void TcpReactor::deinitialize()
{
    if (!loopActive_)
        return;
    stopRequested_ = true;
    emit readyToClose();
    if (onLoopThread()) {
        qWarning() << "TcpReactor: stop requested on its own loop thread; the loop ends when control returns to it";
        return;
    }
    if (socketThreadPool_->activeThreadCount() > 0 && !socketThreadPool_->waitForDone(-1))
        qInfo() << "socketThreadPool_->waitForDone error!";
}

bool TcpReactor::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    if (onLoopThread())
        return false;  // cannot restart from inside the loop that must stop first
    hostAddress_ = address;
    hostPort_ = port;
    return initialize();
}

void TcpReactor::blockAllRecvSIG()
{
    disconnect(this, &TcpReactor::sigResponse, nullptr, nullptr);
    disconnect(this, &TcpReactor::sigRequest, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Sending

QString TcpReactor::newTaskId()
{
    static std::atomic<int> _increase_index_task{0};
    const int n = ++_increase_index_task;
    return QStringLiteral("defalut#") + taskIdStamp() + QLatin1Char('#') + QString::number(n);
}

bool TcpReactor::post_async(const CTask_FormData& task)
{
    CTask_FormData copy(task);
    if (copy.taskId.isEmpty())
        copy.taskId = newTaskId();
    append_TcpTask(copy);
    addSendQueue(copy);
    return true;
}

bool TcpReactor::post_sync(CTask_FormData& request, CTask_FormData& response, int ms)
{
    if (peerWaitsAbandoned() || getAliveSession().isEmpty())
        return false;
    if (ms < 1 || ms > 60000)
        return false;
    // The reply is matched by its exact task id; a request without one gets
    // a fresh id, so a late reply to an earlier request is never taken for it.
    if (request.taskId.isEmpty())
        request.taskId = newTaskId();
    const QString id = request.taskId;

    // The reply is taken on the loop thread and handed over under the
    // wait's lock; the wait itself is on the steady clock, so it ends in
    // time on a thread without an event loop and after the application
    // object is gone.
    const auto wait = std::make_shared<SyncWait>();
    const auto c = connect(this, &TcpReactor::sigResponse, [wait, id](CTask_FormData task, bool) {
        if (task.taskId != id)
            return;
        std::lock_guard<std::mutex> lock(wait->mutex);
        if (wait->done)
            return;
        wait->reply = task;
        wait->done = true;
        wait->cv.notify_all();
    });
    {
        std::lock_guard<std::mutex> all(gWaitsMutex);
        gWaits.insert(wait.get());
    }
    append_TcpTask(request);
    addSendQueue(request);
    bool answered = false;
    {
        std::unique_lock<std::mutex> lock(wait->mutex);
        wait->cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return wait->done || peerWaitsAbandoned(); });
        answered = wait->done;
        if (answered)
            response = wait->reply;
        wait->done = true;
    }
    {
        std::lock_guard<std::mutex> all(gWaitsMutex);
        gWaits.erase(wait.get());
    }
    disconnect(c);
    if (!answered)
        markTimedOut(id);
    return answered;
}

void TcpReactor::addSendQueue(const CTask_FormData& task)
{
    const SCI_ExecObj_Send send(task);
    const int index = task.sessionIndex;
    if (index == -2)
        return;
    QMutexLocker lock(&sessionMutex_);
    if (index == -1) {
        for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it) {
            if (Session* s = it.value().data())
                s->SlotSendAction(send);
        }
        return;
    }
    const auto it = sessions_.constFind(index);
    if (it != sessions_.cend() && it.value())
        it.value()->SlotSendAction(send);
}

void TcpReactor::updateSoftCnted()
{
    softCntedMs_ = ::gettimeofday_ms();
}

// ---------------------------------------------------------------------------
// Sessions

void TcpReactor::InitSession(Session* session)
{
    connect(
        session, &Session::sigRequest, this,
        [this](CTask_FormData task) {
            updateSoftCnted();
            emit sigRequest(task);
        },
        Qt::DirectConnection);
    connect(
        session, &Session::sigResponse, this,
        [this](CTask_FormData task) {
            updateSoftCnted();
            const CVariant<TcpTsk_Info> held = remove_TaskFromList(task.taskId);
            if (!held.hasValue() && takeTimedOut(task.taskId)) {
                // Nobody waits for it any more; the owner may be going away
                // because of that very time-out.
                static PeerTrafficLog late(QStringLiteral("TcpReactor: replies after their request timed out, dropped"));
                ++lateReplies_;
                late.note(task.taskId);
                return;
            }
            if (held.hasValue()) {
                {
                    QMutexLocker lock(&task.tasksMutex);
                    task.tasks = held.values();
                }
                emit sigResponse(task, true);
            } else {
                emit sigResponse(task, false);
            }
        },
        Qt::DirectConnection);
    // A socket that closes, or fails, takes its session with it. Both run on
    // the loop thread, where the session is deleted later.
    if (QTcpSocket* socket = session->socket()) {
        connect(socket, &QAbstractSocket::stateChanged, session, [session](QAbstractSocket::SocketState state) {
            if (state == QAbstractSocket::ClosingState || state == QAbstractSocket::UnconnectedState)
                session->deleteLater();
        });
    }
}

Session* TcpReactor::makeSession(QTcpSocket* socket)
{
    const int index = ++_increase_index_session;
    auto* session = new Session(this, socket, index);
    InitSession(session);
    append_ClientSession(session);
    if (socket->state() != QAbstractSocket::ConnectedState)
        session->deleteLater();  // gone before we could watch it
    return session;
}

void TcpReactor::append_ClientSession(void* session)
{
    auto* s = static_cast<Session*>(session);
    QMutexLocker lock(&sessionMutex_);
    sessions_.insert(s->index(), QPointer<Session>(s));
}

void TcpReactor::remove_ClientSession(int index)
{
    QMutexLocker lock(&sessionMutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session* s = it.value().data();
        if (!s) {
            it = sessions_.erase(it);
        } else if (it.key() == index || index == -1) {
            s->deleteLater();
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

void TcpReactor::forgetSession(int index, Session* session)
{
    QMutexLocker lock(&sessionMutex_);
    const auto it = sessions_.find(index);
    if (it != sessions_.end() && (it.value().isNull() || it.value().data() == session))
        sessions_.erase(it);
}

void TcpReactor::closeAllSessionsNow()
{
    QList<QPointer<Session>> all;
    {
        QMutexLocker lock(&sessionMutex_);
        all = sessions_.values();
        sessions_.clear();
    }
    for (const QPointer<Session>& s : all)
        delete s.data();
}

QList<int> TcpReactor::getAliveSession()
{
    QList<int> alive;
    QMutexLocker lock(&sessionMutex_);
    for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it) {
        if (it.value() && it.value()->isWorking())
            alive << it.key();
    }
    return alive;
}

int TcpReactor::sessionCount() const
{
    QMutexLocker lock(&sessionMutex_);
    return sessions_.size();
}

int TcpReactor::holdingSessions() const
{
    QMutexLocker lock(&sessionMutex_);
    return int(std::count_if(sessions_.cbegin(), sessions_.cend(),
                             [](const QPointer<Session>& s) { return s && s->isHoldingReads(); }));
}

qint64 TcpReactor::bufferedBytes() const
{
    qint64 n = 0;
    QMutexLocker lock(&sessionMutex_);
    for (const QPointer<Session>& s : sessions_)
        if (s)
            n += s->bufferedBytes();
    return n;
}

void TcpReactor::setSessionLimits(const Session::Limits& limits)
{
    QMutexLocker lock(&limitsMutex_);
    limits_ = limits;
}

Session::Limits TcpReactor::sessionLimits() const
{
    QMutexLocker lock(&limitsMutex_);
    return limits_;
}

// ---------------------------------------------------------------------------
// Task table

void TcpReactor::append_TcpTask(const CTask_FormData& task)
{
    // Replies are answers, not tasks we wait on: keeping them would only fill
    // the table.
    if (task.taskId.isEmpty() || task.url.isEmpty())
        return;
    TcpTsk_Info info(task.taskId);
    info.url = task.url;
    QMutexLocker lock(&taskMutex_);
    info.seq = ++taskSeq_;
    tasks_.insert(task.taskId, info);
    taskOrder_.emplace_back(task.taskId, info.seq);
    dropOldestTasks();
}

void TcpReactor::append_TcpTask(const QString& id)
{
    if (id.isEmpty())
        return;
    TcpTsk_Info info(id);
    info.url = id;
    QMutexLocker lock(&taskMutex_);
    info.seq = ++taskSeq_;
    tasks_.insert(id, info);
    taskOrder_.emplace_back(id, info.seq);
    dropOldestTasks();
}

// Called with taskMutex_ held.
void TcpReactor::dropOldestTasks()
{
    auto stale = [this](const std::pair<QString, quint64>& e) {
        const auto it = tasks_.constFind(e.first);
        return it == tasks_.cend() || it->seq != e.second;
    };
    while (!taskOrder_.empty() && (tasks_.size() > kMaxTasks || stale(taskOrder_.front()))) {
        const auto front = taskOrder_.front();
        taskOrder_.pop_front();
        if (!stale(front))
            tasks_.remove(front.first);
    }
    if (taskOrder_.size() > size_t(4 * kMaxTasks)) {
        std::deque<std::pair<QString, quint64>> fresh;
        for (const auto& e : taskOrder_)
            if (!stale(e))
                fresh.push_back(e);
        taskOrder_.swap(fresh);
    }
}

void TcpReactor::purgeTasks()
{
    const qint64 now = ::monotonic_ms();
    QMutexLocker lock(&taskMutex_);
    for (auto it = tasks_.begin(); it != tasks_.end();) {
        if (now - it->create_mono > kTaskMaxAgeMs)
            it = tasks_.erase(it);
        else
            ++it;
    }
    for (auto it = timedOut_.begin(); it != timedOut_.end();) {
        if (now - it.value() > kTaskMaxAgeMs)
            it = timedOut_.erase(it);
        else
            ++it;
    }
    dropOldestTasks();
}

void TcpReactor::markTimedOut(const QString& id)
{
    const qint64 now = ::monotonic_ms();
    QMutexLocker lock(&taskMutex_);
    if (tasks_.remove(id) == 0)
        return;  // answered after all, just as the wait ended
    if (timedOut_.size() >= kMaxTasks) {
        // A peer that never answers fills this no further: the oldest go.
        for (auto it = timedOut_.begin(); it != timedOut_.end();) {
            if (now - it.value() > kTaskMaxAgeMs / 2)
                it = timedOut_.erase(it);
            else
                ++it;
        }
        if (timedOut_.size() >= kMaxTasks)
            timedOut_.clear();
    }
    timedOut_.insert(id, now);
}

bool TcpReactor::takeTimedOut(const QString& id)
{
    if (id.isEmpty())
        return false;
    QMutexLocker lock(&taskMutex_);
    return timedOut_.remove(id) > 0;
}

bool TcpReactor::isAliveTcpTask(QString id)
{
    QMutexLocker lock(&taskMutex_);
    return tasks_.contains(id);
}

CVariant<TcpTsk_Info> TcpReactor::getTcpTask(QString id)
{
    CVariant<TcpTsk_Info> out;
    if (id.isEmpty())
        return out;  // never in the table
    QMutexLocker lock(&taskMutex_);
    const auto it = tasks_.constFind(id);
    if (it != tasks_.cend())
        out.setValue(*it);
    return out;
}

CVariant<TcpTsk_Info> TcpReactor::remove_TaskFromList(QString id)
{
    CVariant<TcpTsk_Info> out;
    if (id.isEmpty())
        return out;
    QMutexLocker lock(&taskMutex_);
    const auto it = tasks_.find(id);
    if (it == tasks_.end())
        return out;
    TcpTsk_Info info = it.value();
    tasks_.erase(it);
    info.finishact_timing = ::gettimeofday_ms();
    out.setValue(info);
    return out;
}

void TcpReactor::update_TcpTsk_ByUuid(QString uuid, QString key, QList<QVariant> values)
{
    if (uuid.isEmpty())
        return;
    QMutexLocker lock(&taskMutex_);
    const auto it = tasks_.find(uuid);
    if (it == tasks_.end())
        return;
    TcpTsk_Info& info = it.value();
    if (key == QLatin1String("tskup_firstrecv_timing")) {
        info.firstrecv_timing = ::gettimeofday_ms();
        info.recv_times = 1;
    } else if (key == QLatin1String("tskup_recv_times")) {
        info.recv_times += 1;
    } else if (key == QLatin1String("tskup_finishrecv_timing")) {
        info.finishrecv_timing = ::gettimeofday_ms();
    } else if (key == QLatin1String("tskup_chg_recvpacklength")) {
        info.tskup_chg_recvpacklength(values);
    } else if (key == QLatin1String("tskup_finishact_timing")) {
        info.finishact_timing = ::gettimeofday_ms();
    }
}

int TcpReactor::taskCount() const
{
    QMutexLocker lock(&taskMutex_);
    return tasks_.size();
}

// ---------------------------------------------------------------------------
// Client

TcpCliReactor::TcpCliReactor() = default;

TcpCliReactor::~TcpCliReactor()
{
    if (isLoopActive())
        deinitialize();
    remove_ClientSession(-1);
}

bool TcpCliReactor::isRunning() const
{
    return isLoopActive();
}

bool TcpCliReactor::onStart()
{
    if (backgroundConnect_)
        return startConnectInBackground();
    CQTcpSocket* socket = nullptr;
    {
        QMutexLocker lock(&sessionMutex_);
        socket = new CQTcpSocket;
    }
    socket->connectToHost(hostAddress_, hostPort_, QIODevice::ReadWrite);
    if (!socket->waitForConnected(kConnectTimeoutMs)) {
        delete socket;
        return false;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    updateSoftCnted();
    makeSession(socket);
    return true;
}

bool TcpCliReactor::startConnectInBackground()
{
    static PeerTrafficLog failures(QStringLiteral("TCP connect in the background failed"));
    auto* socket = new CQTcpSocket;
    connecting_ = socket;
    connectState_ = ConnectState::Connecting;
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    const auto fail = [this, socket](const QString& why) {
        if (connectState_ != ConnectState::Connecting || connecting_ != socket)
            return;
        connectState_ = ConnectState::Failed;
        connecting_ = nullptr;
        failures.note(QStringLiteral("%1:%2 %3").arg(hostAddress_.toString()).arg(hostPort_).arg(why));
        socket->abort();
        socket->deleteLater();
        emit sigConnectFailed();
    };
    connect(socket, &QAbstractSocket::connected, socket, [this, socket, limit] {
        if (connectState_ != ConnectState::Connecting || connecting_ != socket)
            return;
        limit->stop();
        delete limit;
        connecting_ = nullptr;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        updateSoftCnted();
        makeSession(socket);
        connectState_ = ConnectState::Connected;
        emit sigConnected();
    });
    connect(socket, &QAbstractSocket::errorOccurred, socket, [fail, socket] { fail(socket->errorString()); });
    connect(limit, &QTimer::timeout, socket, [fail] { fail(QStringLiteral("no answer")); });
    socket->connectToHost(hostAddress_, hostPort_, QIODevice::ReadWrite);
    limit->start(backgroundLimitMs_);
    return true;
}

void TcpCliReactor::onFinish()
{
    if (connecting_) {  // stopped while connecting
        delete connecting_.data();
        connecting_ = nullptr;
        connectState_ = ConnectState::Failed;
    }
    closeAllSessionsNow();
}

QList<int> TcpCliReactor::getAliveSession()
{
    bool dead = false;
    QList<int> alive;
    {
        QMutexLocker lock(&sessionMutex_);
        for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it) {
            if (!it.value())
                continue;
            if (it.value()->isWorking())
                alive << it.key();
            else
                dead = true;
        }
    }
    if (!dead || onLoopThread())
        return alive;
    // A dropped connection is made again, outside the lock: the restart takes
    // it on the loop thread.
    if (!reAction(hostAddress_, hostPort_))
        return {};
    return TcpReactor::getAliveSession();
}

bool TcpCliReactor::hasSession()
{
    QMutexLocker lock(&sessionMutex_);
    for (auto it = sessions_.cbegin(); it != sessions_.cend(); ++it)
        if (it.value())
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// Server

TcpServReactor::TcpServReactor()
{
    Session::Limits limits = sessionLimits();
    limits.idleTimeoutMs = kIdleTimeoutMs;
    setSessionLimits(limits);
}

TcpServReactor::~TcpServReactor()
{
    if (isLoopActive())
        deinitialize();
    QMutexLocker lock(&sessionMutex_);
    tcpServer_.reset();
}

bool TcpServReactor::isRunning() const
{
    QMutexLocker lock(&sessionMutex_);
    return tcpServer_ && ::curtime_qint64_2_int() - aliveTick_ < 200;
}

int TcpServReactor::sessionCap() const
{
    int cap = maxSessions_;
    const int limit = ::descriptorLimit();
    if (limit > 0 && limit < INT_MAX)
        cap = std::min(cap, std::max(0, limit - ::descriptorReserve(limit)));
    return cap;
}

quint16 TcpServReactor::serverPort() const
{
    return listenPort_;
}

bool TcpServReactor::onStart()
{
    CQTcpServer* server = nullptr;
    {
        QMutexLocker lock(&sessionMutex_);
        tcpServer_.reset(new CQTcpServer);
        server = tcpServer_.data();
    }
    connect(server, &QTcpServer::newConnection, server, [this] { acceptPending(); });
    // The listener pauses itself on errors such as "too many open files";
    // accepting goes on a moment later instead of ending for good.
    connect(server, &QTcpServer::acceptError, server, [server](QAbstractSocket::SocketError error) {
        static PeerTrafficLog errors(QStringLiteral("TcpServReactor: accept errors"));
        errors.note(QStringLiteral("%1 %2").arg(int(error)).arg(server->errorString()));
        QTimer::singleShot(100, server, [server] { server->resumeAccepting(); });
    });
    if (!server->listen(hostAddress_, hostPort_)) {
        qInfo() << "TcpServReactor: cannot listen on" << hostAddress_.toString() << hostPort_ << server->errorString();
        QSharedPointer<CQTcpServer> gone;
        {
            QMutexLocker lock(&sessionMutex_);
            gone.swap(tcpServer_);
        }
        listenPort_ = 0;
        return false;
    }
    listenPort_ = server->serverPort();
    return true;
}

void TcpServReactor::onFinish()
{
    closeAllSessionsNow();
    QSharedPointer<CQTcpServer> gone;
    {
        QMutexLocker lock(&sessionMutex_);
        gone.swap(tcpServer_);
    }
    listenPort_ = 0;
}

void TcpServReactor::acceptPending()
{
    CQTcpServer* server = nullptr;
    {
        QMutexLocker lock(&sessionMutex_);
        server = tcpServer_.data();
    }
    if (!server)
        return;
    while (server->hasPendingConnections()) {
        QTcpSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(nullptr);  // the session owns it, not the listener
        updateSoftCnted();
        const int cap = sessionCap();
        if (sessionCount() >= cap) {
            // A flood is counted, not reported once a connection.
            static PeerTrafficLog refused(QStringLiteral("TcpServReactor: connections refused, all places taken"));
            refused.note(QStringLiteral("%1 open, last from %2").arg(cap).arg(socket->peerAddress().toString()));
            socket->abort();
            delete socket;
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        makeSession(socket);
    }
}

}  // namespace XANC
