#include "modbusserver.h"

#include "databases.h"
#include "peertrafficlog.h"
#include "productioncounters.h"
#include "apisnapshot.h"
#include "publictools.h"
#include "winstate.h"
#include "statewords.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kListenBacklog = 1024;
// Connections taken from the listen queue in one go, so that requests that
// arrived meanwhile are read between such batches.
constexpr int kAcceptBatch = 64;

quint16 portOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

// False when the peer has closed or the connection has failed; unread
// requests do not count as closed.
bool stillOpen(int fd)
{
    char c;
    ssize_t n;
    do
        n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

// One data access handed from the pool thread to the object's thread. The
// pool thread may give up while the access is still queued; the queued call
// then sees `Cancelled` and does nothing. (Standard primitives, so that a
// thread checker sees the hand-over.)
struct HandOverState {
    enum State { Pending, Running, Done, Cancelled };
    std::mutex mutex;
    std::condition_variable done;
    State state = Pending;
    ModbusServer::Registers regs{};
};

}  // namespace

ModbusServer::ModbusServer(const QHostAddress& address, quint16 port)
    : QObject(nullptr)
    , pool_(std::make_shared<QThreadPool>())
{
    pool_->setMaxThreadCount(1);
    pool_->setExpiryTimeout(-1);
    reAction(address, port);
}

ModbusServer::~ModbusServer()
{
    if (isRunning())
        deinitialize();
}

bool ModbusServer::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    address_ = address;
    port_ = port;
    return initialize();
}

bool ModbusServer::initialize()
{
    if (isRunning())
        return true;
    stopping_.store(false);
    // The start is reported through standard primitives, which a thread
    // checker sees (it does not see inside Qt's semaphores). The report is
    // the pool thread's last touch of `start`, made under its lock.
    struct {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    } start;
    const auto report = [&start] {
        std::lock_guard<std::mutex> lock(start.mutex);
        start.done = true;
        start.cv.notify_one();
    };
    pool_->start([this, report] {
        const bool listening = onStart();
        report();
        if (!listening)
            return;
        runLoop();
        onFinish();
    });
    std::unique_lock<std::mutex> lock(start.mutex);
    start.cv.wait(lock, [&start] { return start.done; });
    return isRunning();
}

void ModbusServer::deinitialize()
{
    if (!isRunning())
        return;
    // The stop flag also ends a request that waits for the data hand-over,
    // so the server thread returns to its loop and sees it. The wake-up is
    // written first: the thread closes that descriptor only once it has seen
    // the flag.
    const quint64 one = 1;
    if (::write(wake_.load(), &one, sizeof one) < 0 && errno != EAGAIN)
        qWarning("ModbusServer: cannot wake the server thread: %s", strerror(errno));
    stopping_.store(true);
    emit readyToClose();
    if (pool_->activeThreadCount() > 0 && !pool_->waitForDone(-1))
        qInfo("socketThreadPool_->waitForDone error!");
    stopping_.store(false);
}

void ModbusServer::setIdleLimits(int idleMs, int partialMs)
{
    idleCloseMs_.store(std::max(1, idleMs));
    partialAduMs_.store(std::max(1, partialMs));
}

bool ModbusServer::onStart()
{
    // The listener only binds and listens (with Qt's choice of address
    // family and options); this thread accepts on its descriptor itself.
    server_ = std::make_shared<QTcpServer>();
    if (!server_->listen(address_, port_)) {
        qWarning("ModbusServer: cannot listen on port %u: %s", unsigned(port_), qPrintable(server_->errorString()));
        server_.reset();
        return false;
    }
    server_->pauseAccepting();
    listenFd_ = int(server_->socketDescriptor());
    // Qt listens with a queue of 50; a burst of peers reconnecting at once
    // must not overflow it before this thread has taken them.
    if (::listen(listenFd_, kListenBacklog) != 0)
        qWarning("ModbusServer: cannot enlarge the listen queue: %s", strerror(errno));
    acceptPaused_ = false;
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_.load() < 0 || !watch(EPOLL_CTL_ADD, listenFd_, EPOLLIN)
        || !watch(EPOLL_CTL_ADD, wake_.load(), EPOLLIN)) {
        qWarning("ModbusServer: cannot set up the server thread: %s", strerror(errno));
        closeLoopFds();
        server_.reset();
        return false;
    }
    boundPort_.store(server_->serverPort());
    running_.store(true);
    return true;
}

bool ModbusServer::watch(int op, int fd, quint32 events)
{
    epoll_event e{};
    e.events = events;
    e.data.fd = fd;
    return ::epoll_ctl(epoll_, op, fd, &e) == 0;
}

void ModbusServer::closeLoopFds()
{
    if (epoll_ >= 0)
        ::close(epoll_);
    if (wake_.load() >= 0)
        ::close(wake_.load());
    epoll_ = listenFd_ = -1;
    wake_.store(-1);
}

void ModbusServer::runLoop()
{
    // Looks at the connections often enough that a time-out is kept to
    // within a quarter of the shorter limit.
    const int sweepMs = std::clamp(std::min(idleCloseMs_.load(), partialAduMs_.load()) / 4, 20, 1000);
    sweepMs_ = sweepMs;
    qint64 nextSweep = ::monotonic_ms() + sweepMs;
    epoll_event events[64];
    while (!stopping_.load()) {
        qint64 due = acceptPaused_ ? std::min(nextSweep, acceptResumeMs_) : nextSweep;
        if (!waiting_.isEmpty()) {
            // The first entry may be stale (taken a place, or closed): the
            // loop then wakes early once and endGraces() drops it.
            const auto first = connections_.constFind(waiting_.first().first);
            const bool stale = first == connections_.cend() || first->acceptOrder != waiting_.first().second
                               || first->placed;
            due = std::min(due, stale ? 0 : first->acceptedMs + kGraceMs);
        }
        const int wait = int(std::clamp<qint64>(due - ::monotonic_ms(), 0, sweepMs));
        const int n = ::epoll_wait(epoll_, events, 64, wait);
        if (n < 0 && errno != EINTR) {
            qWarning("ModbusServer: waiting for the connections failed: %s", strerror(errno));
            break;
        }
        for (int i = 0; i < n && !stopping_.load(); ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_.load())
                continue;  // the stop flag is looked at by the loop
            if (fd == listenFd_) {
                acceptAll();
                continue;
            }
            const auto it = connections_.constFind(fd);
            if (it == connections_.cend())
                continue;  // closed earlier in this batch
            if (it->unsent.isEmpty())
                onReadable(fd);
            else
                onWritable(fd);
        }
        endGraces();
        if (::monotonic_ms() >= nextSweep) {
            sweep();
            nextSweep = ::monotonic_ms() + sweepMs;
        }
        if (acceptPaused_ && ::monotonic_ms() >= acceptResumeMs_ && watch(EPOLL_CTL_MOD, listenFd_, EPOLLIN))
            acceptPaused_ = false;
    }
}

void ModbusServer::acceptAll()
{
    for (int n = 0; n < kAcceptBatch; ++n) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            onNewConnection(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Such as "too many open files": the waiting connection stays
            // and would wake the loop at once for ever. Accepting pauses
            // until the next look at the connections.
            static PeerTrafficLog failed(QStringLiteral("ModbusServer: accept failed; accepting again shortly"));
            failed.note(QString::fromLocal8Bit(strerror(errno)));
            if (watch(EPOLL_CTL_MOD, listenFd_, 0)) {
                acceptPaused_ = true;
                acceptResumeMs_ = ::monotonic_ms() + sweepMs_;
            }
        }
        return;
    }
}

// Gives the connection `fd`, which waits, a place (see the header): true
// when it holds one now. `asks`: it has a whole request to be answered.
bool ModbusServer::takePlace(int fd, bool asks)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return false;
    if (it->placed)
        return true;
    if (places_ >= kMaxConnections)
        dropGoneConnections(true);
    if (places_ >= kMaxConnections) {
        const qint64 now = ::monotonic_ms();
        const auto out = connections_.find(placeToGiveWay(now, asks, it->source));
        if (out == connections_.end())
            return false;
        static PeerTrafficLog givenWay(
            QStringLiteral("ModbusServer: all places taken, a silent or idle connection gave way"));
        givenWay.note(QStringLiteral("%1 closed (%2 for %3 ms after %4 requests) for %5")
                          .arg(out->peer)
                          .arg(out->requests == 0 ? QStringLiteral("silent") : QStringLiteral("idle"))
                          .arg(now - (out->requests == 0 ? out->acceptedMs : out->lastRequestMs))
                          .arg(out->requests)
                          .arg(it->peer));
        // Bounded: past it, addresses not yet known are not remembered.
        if (out->requests > 0 && (gaveWay_.size() < kMaxConnections + kMaxWaiting || gaveWay_.contains(out->source)))
            gaveWay_.insert(out->source, now);
        closeConnection(out.key());
    }
    // Looked up again: the close above changed the table.
    const auto placed = connections_.find(fd);
    placed->placed = true;
    ++places_;
    countConnections();
    return true;
}

// The connection that gives way for a new one from `source` when every
// place is taken, or -1: of those holding a place without a whole request,
// the one accepted first (unless its request waits unread); else, for one
// that `asks`, the careless client's.
int ModbusServer::placeToGiveWay(qint64 now, bool asks, const QString& source) const
{
    int silent = -1;
    quint64 silentOrder = 0;
    QVector<Holder> holders;
    QVector<int> fds;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        if (!it->placed)
            continue;
        holders << *it;
        fds << it.key();
        if (it->requests == 0) {
            char c;
            if ((silent < 0 || it->acceptOrder < silentOrder)
                && ::recv(it.key(), &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) {
                silent = it.key();
                silentOrder = it->acceptOrder;
            }
        }
    }
    if (silent >= 0 || !asks)
        return silent;
    const auto gaveWay = gaveWay_.constFind(source);
    const bool sourceGaveWay = gaveWay != gaveWay_.cend() && now - *gaveWay <= loneKeepMs_.load();
    const int out = carelessHolder(holders, source, sourceGaveWay, now,
                                   GiveWayTimes{idleGiveWayMs_.load(), loneKeepMs_.load(), rhythmSlackMs_.load()});
    return out < 0 ? -1 : fds[out];
}

int ModbusServer::carelessHolder(const QVector<Holder>& holders, const QString& source, bool sourceGaveWay,
                                 qint64 now, const GiveWayTimes& times)
{
    QHash<QString, int> held;  // places by address
    for (const Holder& h : holders)
        ++held[h.source];
    const int own = held.value(source);
    int out = -1;
    int outHeld = 0;
    for (int i = 0; i < holders.size(); ++i) {
        const Holder& h = holders[i];
        if (h.requests == 0)
            continue;
        const qint64 quiet = now - h.lastRequestMs;
        if (h.requests >= 2 && quiet <= 2 * h.longestGapMs + times.rhythmSlackMs)
            continue;  // keeps its rhythm
        const int theirs = held.value(h.source);
        const bool crowds = h.source == source || theirs >= own + 2;
        if (crowds ? quiet <= times.idleGiveWayMs : (sourceGaveWay || quiet <= times.loneKeepMs))
            continue;
        if (out >= 0) {
            const Holder& o = holders[out];
            if (theirs < outHeld
                || (theirs == outHeld
                    && (h.requests > o.requests || (h.requests == o.requests && h.lastRequestMs >= o.lastRequestMs))))
                continue;
        }
        out = i;
        outHeld = theirs;
    }
    return out;
}

// The waiting connections whose grace is over take a place or are closed.
void ModbusServer::endGraces()
{
    const qint64 now = ::monotonic_ms();
    while (!waiting_.isEmpty() && !stopping_.load()) {
        const int fd = waiting_.first().first;
        const quint64 order = waiting_.first().second;
        const auto it = connections_.constFind(fd);
        if (it != connections_.cend() && it->acceptOrder == order && !it->placed) {
            if (now < it->acceptedMs + kGraceMs)
                return;
            if (!takePlace(fd, false))
                refuse(fd, false);
        }
        waiting_.removeFirst();
    }
}

// With the waiting room full, the connection that has waited longest makes
// room, once it has waited kMinWaitMs: a request it has sent meanwhile is
// read first (it then takes a place or is answered and closed); a silent one
// is closed. True when there is room now.
bool ModbusServer::makeRoom()
{
    const qint64 now = ::monotonic_ms();
    while (!waiting_.isEmpty() && !stopping_.load()) {
        const int fd = waiting_.first().first;
        const auto it = connections_.constFind(fd);
        if (it == connections_.cend() || it->acceptOrder != waiting_.first().second || it->placed) {
            waiting_.removeFirst();
            continue;
        }
        if (now - it->acceptedMs < kMinWaitMs)
            return false;
        char c;
        if (::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0)
            onReadable(fd);
        const auto still = connections_.constFind(fd);
        if (still != connections_.cend() && still->acceptOrder == waiting_.first().second && !still->placed) {
            static PeerTrafficLog madeRoom(
                QStringLiteral("ModbusServer: waiting room full, the longest waiting silent connection closed"));
            madeRoom.note(QStringLiteral("%1 after %2 ms").arg(still->peer).arg(now - still->acceptedMs));
            closeConnection(fd);
        }
        waiting_.removeFirst();
        return connections_.size() - places_ < kMaxWaiting;
    }
    return connections_.size() - places_ < kMaxWaiting;
}

// Closes a waiting connection for which no place is to be had.
void ModbusServer::refuse(int fd, bool answered)
{
    const auto it = connections_.constFind(fd);
    if (it == connections_.cend())
        return;
    static PeerTrafficLog refused(QStringLiteral("ModbusServer: no place to be had, connections closed"));
    refused.note(QStringLiteral("%1 (%2); all %3 places held by clients that keep them")
                     .arg(it->peer)
                     .arg(answered ? QStringLiteral("answered first") : QStringLiteral("silent"))
                     .arg(kMaxConnections));
    // Bytes left unread would make the close a reset, which can take the
    // answers just written with it.
    char chunk[4096];
    for (int n = 0; n < 4 && ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT) > 0; ++n) {
    }
    closeConnection(fd);
}

void ModbusServer::countConnections()
{
    connectionCount_.store(places_);
    waitingCount_.store(connections_.size() - places_);
}

void ModbusServer::onFinish()
{
    running_.store(false);
    boundPort_.store(0);
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it)
        ::close(it.key());
    connections_.clear();
    gaveWay_.clear();
    waiting_.clear();
    places_ = 0;
    countConnections();
    closeLoopFds();
    server_.reset();
}

void ModbusServer::onNewConnection(qintptr descriptor)
{
    const int fd = int(descriptor);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const quint16 peerPort = ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
                                 ? portOf(address)
                                 : 0;
    if (peerPort == 0) {
        // The peer went away (reset) before it was accepted: it takes no
        // place and makes no one give way.
        ::close(fd);
        return;
    }
    const QString source = QHostAddress(reinterpret_cast<const sockaddr*>(&address)).toString();
    const QString peer = QStringLiteral("%1:%2").arg(source).arg(peerPort);
    if (connections_.size() - places_ >= kMaxWaiting && !makeRoom()) {
        // Closed at once rather than left in the listen queue: a full queue
        // would leave every client's connect unanswered.
        static PeerTrafficLog full(
            QStringLiteral("ModbusServer: too many connections waiting, new ones closed at once"));
        full.note(QStringLiteral("%1 waiting; closing %2").arg(kMaxWaiting).arg(peer));
        ::close(fd);
        return;
    }
    qDebug("connect ip: %s", qPrintable(peer));
    // A reply is one small segment: it leaves at once, never held back
    // behind the acknowledgement of the one before.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (!watch(EPOLL_CTL_ADD, fd, EPOLLIN)) {
        static PeerTrafficLog unwatched(QStringLiteral("ModbusServer: connections that cannot be watched, closed"));
        unwatched.note(QStringLiteral("%1: %2").arg(peer, QString::fromLocal8Bit(strerror(errno))));
        ::close(fd);
        return;
    }
    Connection c;
    c.peer = peer;
    c.source = source;
    c.acceptedMs = ::monotonic_ms();
    c.acceptOrder = ++accepted_;
    c.lastRequestMs = c.acceptedMs;
    connections_.insert(fd, c);
    waiting_.append(qMakePair(fd, c.acceptOrder));
    countConnections();
}

// Forgets a connection and closes it; safe to call more than once and from
// inside its own notifications.
void ModbusServer::closeConnection(int fd)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    if (it->placed)
        --places_;
    connections_.erase(it);
    countConnections();
    ::close(fd);
}

// Places are counted by the connections that are still open, not by close
// events, which a peer that resets at the wrong moment can leave unseen.
void ModbusServer::dropGoneConnections(bool placedOnly)
{
    QList<int> gone;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it)
        if ((it->placed || !placedOnly) && !stillOpen(it.key()))
            gone << it.key();
    for (int fd : gone)
        closeConnection(fd);
}

void ModbusServer::sweep()
{
    dropGoneConnections(false);
    const qint64 now = ::monotonic_ms();
    for (auto it = gaveWay_.begin(); it != gaveWay_.end();) {
        if (now - *it > loneKeepMs_.load())
            it = gaveWay_.erase(it);
        else
            ++it;
    }
    QList<int> expired;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        if (it->partialSinceMs > 0 && now - it->partialSinceMs > partialAduMs_.load()) {
            static PeerTrafficLog unfinished(QStringLiteral("ModbusServer: requests left unfinished, connections closed"));
            unfinished.note(QStringLiteral("%1 for %2 ms").arg(it->peer).arg(partialAduMs_.load()));
            expired << it.key();
        } else if (now - it->lastRequestMs > idleCloseMs_.load()) {
            static PeerTrafficLog idle(QStringLiteral("ModbusServer: idle connections closed"));
            idle.note(QStringLiteral("%1 sent no request for %2 ms").arg(it->peer).arg(idleCloseMs_.load()));
            expired << it.key();
        }
    }
    for (int fd : expired)
        closeConnection(fd);
}

void ModbusServer::onReadable(int fd)
{
    char chunk[4096];
    ssize_t got;
    do
        got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (got <= 0) {
        closeConnection(fd);  // the peer closed, or the connection failed
        return;
    }
    auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    it->buffer.append(chunk, int(got));
    const DataAccess access = dataAccess();
    bool refused = false;  // answered, then closed: no place to be had
    for (;;) {
        // Looked up afresh each pass: answering may close the connection
        // (a write to a peer that has reset), which removes the entry.
        it = connections_.find(fd);
        if (it == connections_.end())
            return;
        const int n = aduLength(it->buffer.constData(), it->buffer.size());
        if (n == 0) {
            if (refused) {
                refuse(fd, true);
                return;
            }
            if (it->buffer.isEmpty())
                it->partialSinceMs = 0;
            else if (it->partialSinceMs == 0)
                it->partialSinceMs = ::monotonic_ms();
            return;
        }
        if (n < 0) {
            static PeerTrafficLog invalid(QStringLiteral("ModbusServer: invalid frame lengths, connections closed"));
            invalid.note(it->peer);
            closeConnection(fd);
            return;
        }
        if (!it->placed && !refused) {
            refused = !takePlace(fd, true);
            it = connections_.find(fd);
        }
        const QByteArray adu = it->buffer.left(n);
        it->buffer.remove(0, n);
        const qint64 now = ::monotonic_ms();
        if (it->requests > 0)
            it->longestGapMs = std::max(it->longestGapMs, now - it->lastRequestMs);
        it->lastRequestMs = now;
        it->partialSinceMs = 0;
        ++it->requests;
        const QByteArray reply = analysis(adu, access);
        if (stopping_.load())
            return;
        if (!reply.isEmpty())
            sendReply(fd, reply);
    }
}

void ModbusServer::sendReply(int fd, const QByteArray& reply)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    if (!it->unsent.isEmpty()) {
        it->unsent += reply;  // behind what waits already, in order
        return;
    }
    ssize_t sent;
    do
        sent = ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent == reply.size())
        return;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        closeConnection(fd);
        return;
    }
    // A peer that does not read its replies: the rest waits for room, and
    // its further requests wait in the kernel until the replies are gone.
    it->unsent = reply.mid(int(std::max<ssize_t>(sent, 0)));
    watch(EPOLL_CTL_MOD, fd, EPOLLOUT);
}

void ModbusServer::onWritable(int fd)
{
    const auto it = connections_.find(fd);
    if (it == connections_.end())
        return;
    ssize_t sent;
    do
        sent = ::send(fd, it->unsent.constData(), size_t(it->unsent.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            closeConnection(fd);
        return;
    }
    it->unsent.remove(0, int(sent));
    if (it->unsent.isEmpty())
        watch(EPOLL_CTL_MOD, fd, EPOLLIN);
}

ModbusServer::Registers ModbusServer::getData()
{
    return registersOf(ApiSnapshot::capture(nullptr));
}

ModbusServer::Registers ModbusServer::registersOf(const ApiSnapshot& state)
{
    int maxAll = 0;
    for (int i = 0; i < kMaxCamera; ++i)
        maxAll = std::max(maxAll, state.all[i]);
    return Registers{static_cast<quint16>(state.runWord), static_cast<quint16>(state.detectWord),
                     static_cast<quint16>(maxAll & 0xffff), static_cast<quint16>(state.syncNg & 0xffff)};
}

void ModbusServer::clearCounters()
{
    ProductionCounters::get().resetFromModbus();
    Databases::get().CountWrite();
}

ModbusServer::DataAccess ModbusServer::dataAccess()
{
    DataAccess a;
    a.read = [this](Registers* regs) {
        // The published state answers without waiting for the GUI thread;
        // before the first publication the GUI thread is asked.
        if (const auto state = ApiSnapshot::current()) {
            *regs = registersOf(*state);
            return true;
        }
        return handOver(false, regs);
    };
    a.clear = [this] { return handOver(true, nullptr); };
    return a;
}

bool ModbusServer::handOver(bool clear, Registers* regs)
{
    auto state = std::make_shared<HandOverState>();
    QMetaObject::invokeMethod(this, [state, clear] {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->state == HandOverState::Cancelled)
                return;
            state->state = HandOverState::Running;
        }
        Registers r{};
        if (clear) {
            clearCounters();
            // A read right after the clear answers from the published state.
            ApiSnapshot::publish();
        } else
            r = getData();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->regs = r;
        state->state = HandOverState::Done;
        state->done.notify_all();
    }, Qt::QueuedConnection);

    QDeadlineTimer deadline(handOverMs_.load());
    std::unique_lock<std::mutex> lock(state->mutex);
    while (state->state != HandOverState::Done) {
        if (state->state == HandOverState::Pending && (stopping_.load() || deadline.hasExpired())) {
            state->state = HandOverState::Cancelled;
            if (!stopping_.load()) {
                static PeerTrafficLog late(QStringLiteral("ModbusServer: requests the GUI thread did not take in time"));
                late.note(QStringLiteral("within %1 ms").arg(handOverMs_.load()));
            }
            return false;
        }
        // Short slices so that a stop is seen soon; a running access is
        // short and is always waited for.
        state->done.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (regs)
        *regs = state->regs;
    return true;
}
