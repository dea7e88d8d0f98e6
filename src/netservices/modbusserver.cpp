#include "modbusserver.h"

#include "publictools.h"
#include "winstate.h"
#include "statewords.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMutex>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>
#include <QWaitCondition>

#include <algorithm>

namespace {

// One data access handed from the pool thread to the object's thread. The
// pool thread may give up while the access is still queued; the queued call
// then sees `Cancelled` and does nothing.
struct HandOverState {
    enum State { Pending, Running, Done, Cancelled };
    QMutex mutex;
    QWaitCondition done;
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
    QSemaphore started(0);
    pool_->start([this, &started] {
        QEventLoop loop;
        const auto quit = connect(this, &ModbusServer::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (onStart()) {
            started.release();
            loop.exec();
            disconnect(quit);
            onFinish();
            // Sockets handed to deleteLater go now, not with a later task.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        } else {
            started.release();
            disconnect(quit);
        }
    });
    started.acquire();
    return isRunning();
}

void ModbusServer::deinitialize()
{
    if (!isRunning())
        return;
    // Wakes a request that waits for the data hand-over: it gives up, so the
    // pool thread returns to its loop and sees the quit.
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
    server_ = std::make_shared<QTcpServer>();
    connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { onNewConnection(); }, Qt::DirectConnection);
    if (!server_->listen(address_, port_)) {
        qWarning("ModbusServer: cannot listen on port %u: %s", unsigned(port_), qPrintable(server_->errorString()));
        server_.reset();
        return false;
    }
    // Looks at the connections often enough that a time-out is kept to
    // within a quarter of the shorter limit.
    sweepTimer_ = std::make_shared<QTimer>();
    sweepTimer_->setInterval(std::clamp(std::min(idleCloseMs_.load(), partialAduMs_.load()) / 4, 20, 1000));
    connect(sweepTimer_.get(), &QTimer::timeout, sweepTimer_.get(), [this] { sweep(); }, Qt::DirectConnection);
    sweepTimer_->start();
    boundPort_.store(server_->serverPort());
    running_.store(true);
    return true;
}

void ModbusServer::onFinish()
{
    running_.store(false);
    boundPort_.store(0);
    sweepTimer_.reset();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        delete it.key();
    }
    connections_.clear();
    connectionCount_.store(0);
    server_.reset();
}

void ModbusServer::onNewConnection()
{
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        if (!socket)
            break;
        if (socket->state() != QAbstractSocket::ConnectedState || socket->peerPort() == 0) {
            // The peer went away (reset) before it was accepted: it takes no
            // place and makes no one give way.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Places are counted by the sockets that are still connected, not by
        // close events, which a peer that resets at the wrong moment can
        // leave unseen.
        dropGoneConnections();
        if (connections_.size() >= kMaxConnections) {
            // The connection that has been quiet the longest gives way, so a
            // PLC is never locked out by peers that hold a place and say nothing.
            auto oldest = connections_.begin();
            for (auto it = connections_.begin(); it != connections_.end(); ++it)
                if (it->lastRequestMs < oldest->lastRequestMs)
                    oldest = it;
            QTcpSocket* victim = oldest.key();
            qWarning("ModbusServer: %d connections open; closing %s:%u, quiet for %lld ms, for %s:%u", kMaxConnections,
                     qPrintable(victim->peerAddress().toString()), unsigned(victim->peerPort()),
                     static_cast<long long>(::monotonic_ms() - oldest->lastRequestMs),
                     qPrintable(socket->peerAddress().toString()), unsigned(socket->peerPort()));
            closeConnection(victim);
        }
        qDebug("connect ip: %s, port:%u", qPrintable(socket->peerAddress().toString()), unsigned(socket->peerPort()));
        socket->setParent(nullptr);
        Connection c;
        c.lastRequestMs = ::monotonic_ms();
        connections_.insert(socket, c);
        connectionCount_.store(connections_.size());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); }, Qt::DirectConnection);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { closeConnection(socket); }, Qt::DirectConnection);
        // A reset can take the socket straight to the unconnected state
        // without a disconnected signal.
        connect(socket, &QAbstractSocket::stateChanged, this, [this, socket](QAbstractSocket::SocketState state) {
            if (state == QAbstractSocket::UnconnectedState)
                closeConnection(socket);
        }, Qt::DirectConnection);
    }
}

// Forgets a connection and lets its socket go; safe to call more than once
// and from inside the socket's own signals.
void ModbusServer::closeConnection(QTcpSocket* socket)
{
    if (connections_.remove(socket) == 0)
        return;
    connectionCount_.store(connections_.size());
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void ModbusServer::dropGoneConnections()
{
    QList<QTcpSocket*> gone;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it)
        if (it.key()->state() != QAbstractSocket::ConnectedState)
            gone << it.key();
    for (QTcpSocket* s : gone)
        closeConnection(s);
}

void ModbusServer::sweep()
{
    dropGoneConnections();
    const qint64 now = ::monotonic_ms();
    QList<QTcpSocket*> expired;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        if (it->partialSinceMs > 0 && now - it->partialSinceMs > partialAduMs_.load()) {
            qWarning("ModbusServer: %s:%u left a request unfinished for %d ms, closing the connection",
                     qPrintable(it.key()->peerAddress().toString()), unsigned(it.key()->peerPort()),
                     partialAduMs_.load());
            expired << it.key();
        } else if (now - it->lastRequestMs > idleCloseMs_.load()) {
            qInfo("ModbusServer: %s:%u sent no request for %d ms, closing the connection",
                  qPrintable(it.key()->peerAddress().toString()), unsigned(it.key()->peerPort()), idleCloseMs_.load());
            expired << it.key();
        }
    }
    for (QTcpSocket* s : expired)
        closeConnection(s);
}

void ModbusServer::onReadyRead(QTcpSocket* socket)
{
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    it->buffer.append(socket->readAll());
    const DataAccess access = dataAccess();
    for (;;) {
        // Looked up afresh each pass: answering may close the connection
        // (a write to a peer that has reset), which removes the entry.
        it = connections_.find(socket);
        if (it == connections_.end())
            return;
        const int n = aduLength(it->buffer.constData(), it->buffer.size());
        if (n == 0) {
            if (it->buffer.isEmpty())
                it->partialSinceMs = 0;
            else if (it->partialSinceMs == 0)
                it->partialSinceMs = ::monotonic_ms();
            return;
        }
        if (n < 0) {
            qWarning("ModbusServer: invalid frame length from %s, closing the connection",
                     qPrintable(socket->peerAddress().toString()));
            closeConnection(socket);
            return;
        }
        const QByteArray adu = it->buffer.left(n);
        it->buffer.remove(0, n);
        it->lastRequestMs = ::monotonic_ms();
        it->partialSinceMs = 0;
        const QByteArray reply = analysis(adu, access);
        if (stopping_.load())
            return;
        if (!reply.isEmpty() && connections_.contains(socket)) {
            socket->write(reply);
            socket->flush();  // now, not on the next pass of the loop
        }
    }
}

ModbusServer::Registers ModbusServer::getData()
{
    int maxAll = 0;
    for (int i = 0; i < kMaxCamera; ++i)
        maxAll = std::max(maxAll, gAllNum[i]);
    return Registers{static_cast<quint16>(runStatusWord()), static_cast<quint16>(detectStatusWord()),
                     static_cast<quint16>(maxAll & 0xffff), static_cast<quint16>(gSyncNGNum & 0xffff)};
}

void ModbusServer::clearCounters()
{
    for (int i = 0; i < kMaxCamera; ++i) {
        gFailNum[i] = 0;
        gAllNum[i] = 0;
    }
    if (gpState)
        gpState->CountWrite();
}

ModbusServer::DataAccess ModbusServer::dataAccess()
{
    DataAccess a;
    a.read = [this](Registers* regs) { return handOver(false, regs); };
    a.clear = [this] { return handOver(true, nullptr); };
    return a;
}

bool ModbusServer::handOver(bool clear, Registers* regs)
{
    auto state = std::make_shared<HandOverState>();
    QMetaObject::invokeMethod(this, [state, clear] {
        {
            QMutexLocker lock(&state->mutex);
            if (state->state == HandOverState::Cancelled)
                return;
            state->state = HandOverState::Running;
        }
        Registers r{};
        if (clear)
            clearCounters();
        else
            r = getData();
        QMutexLocker lock(&state->mutex);
        state->regs = r;
        state->state = HandOverState::Done;
        state->done.wakeAll();
    }, Qt::QueuedConnection);

    QDeadlineTimer deadline(handOverMs_.load());
    QMutexLocker lock(&state->mutex);
    while (state->state != HandOverState::Done) {
        if (state->state == HandOverState::Pending && (stopping_.load() || deadline.hasExpired())) {
            state->state = HandOverState::Cancelled;
            if (!stopping_.load())
                qWarning("ModbusServer: the GUI thread did not take the request within %d ms", handOverMs_.load());
            return false;
        }
        // Short slices so that a stop is seen soon; a running access is
        // short and is always waited for.
        state->done.wait(&state->mutex, 20);
    }
    if (regs)
        *regs = state->regs;
    return true;
}
