#include "modbusserver.h"

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

bool ModbusServer::onStart()
{
    server_ = std::make_shared<QTcpServer>();
    connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { onNewConnection(); }, Qt::DirectConnection);
    if (!server_->listen(address_, port_)) {
        qWarning("ModbusServer: cannot listen on port %u: %s", unsigned(port_), qPrintable(server_->errorString()));
        server_.reset();
        return false;
    }
    boundPort_.store(server_->serverPort());
    running_.store(true);
    return true;
}

void ModbusServer::onFinish()
{
    running_.store(false);
    boundPort_.store(0);
    for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        delete it.key();
    }
    buffers_.clear();
    server_.reset();
}

void ModbusServer::onNewConnection()
{
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        if (!socket)
            break;
        if (buffers_.size() >= kMaxConnections) {
            qWarning("ModbusServer: refusing %s:%u, %d connections open",
                     qPrintable(socket->peerAddress().toString()), unsigned(socket->peerPort()), kMaxConnections);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        qDebug("connect ip: %s, port:%u", qPrintable(socket->peerAddress().toString()), unsigned(socket->peerPort()));
        socket->setParent(nullptr);
        buffers_.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); }, Qt::DirectConnection);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); }, Qt::DirectConnection);
    }
}

void ModbusServer::onDisconnected(QTcpSocket* socket)
{
    if (buffers_.remove(socket) > 0) {
        socket->disconnect(this);
        socket->deleteLater();
    }
}

void ModbusServer::onReadyRead(QTcpSocket* socket)
{
    auto it = buffers_.find(socket);
    if (it == buffers_.end())
        return;
    it->append(socket->readAll());
    const DataAccess access = dataAccess();
    for (;;) {
        QByteArray& buffer = buffers_[socket];
        const int n = aduLength(buffer.constData(), buffer.size());
        if (n == 0)
            return;
        if (n < 0) {
            qWarning("ModbusServer: invalid frame length from %s, closing the connection",
                     qPrintable(socket->peerAddress().toString()));
            buffers_.remove(socket);
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
            return;
        }
        const QByteArray adu = buffer.left(n);
        buffer.remove(0, n);
        const QByteArray reply = analysis(adu, access);
        if (stopping_.load())
            return;
        if (!reply.isEmpty()) {
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
