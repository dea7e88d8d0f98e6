#include "socketoutqueue.h"

#include "peertext_p.h"
#include "peertrafficlog.h"

#include <QDebug>
#include <QFile>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

SocketOutQueue::SocketOutQueue(QTcpSocket* socket) : QObject(socket), socket_(socket)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!items_.empty())
            cut("transfer not finished in time");
    });
    connect(socket_, &QIODevice::bytesWritten, this, [this] { pump(); });
}

SocketOutQueue* SocketOutQueue::of(QTcpSocket* socket)
{
    auto* q = existing(socket);
    return q ? q : new SocketOutQueue(socket);
}

SocketOutQueue* SocketOutQueue::existing(QTcpSocket* socket)
{
    return socket->findChild<SocketOutQueue*>(QString(), Qt::FindDirectChildrenOnly);
}

void SocketOutQueue::appendBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (items_.empty()) {
        // Straight to the kernel when it takes the bytes: no copy into Qt's
        // buffer and no extra pass of the event loop to flush it. What it
        // does not take goes behind, through Qt, in order.
        const qint64 sent = sendNow(bytes.constData(), bytes.size());
        const qint64 rest = bytes.size() - sent;
        if (rest > 0 && socket_->write(bytes.constData() + sent, rest) != rest)
            cut("write failed");
        return;
    }
    Item it;
    it.bytes = QByteArray(bytes.constData(), bytes.size());  // own the bytes while waiting
    items_.push_back(std::move(it));
}

qint64 SocketOutQueue::sendNow(const char* data, qint64 size)
{
    if (size <= 0 || socket_->bytesToWrite() > 0 || socket_->state() != QAbstractSocket::ConnectedState)
        return 0;
    const qintptr fd = socket_->socketDescriptor();
    if (fd < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::send(int(fd), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR)
            return 0;
    }
}

qint64 SocketOutQueue::queuedBytes() const
{
    qint64 n = 0;
    for (const Item& it : items_)
        n += it.bytes.size() - it.offset;
    return n;
}

const QString& SocketOutQueue::hostText()
{
    const QHostAddress address = socket_->peerAddress();
    const quint16 port = socket_->peerPort();
    if (host_.isEmpty() || address != hostAddress_ || port != hostPort_) {
        hostAddress_ = address;
        hostPort_ = port;
        host_ = QStringLiteral("%1:%2").arg(stripV4Mapped(address.toString())).arg(port);
    }
    return host_;
}

void SocketOutQueue::appendFile(QFile* file, qint64 size, int timeoutMs)
{
    Item it;
    it.file.reset(file);
    it.remaining = size;
    it.timeoutMs = timeoutMs;
    items_.push_back(std::move(it));
    pump();
}

void SocketOutQueue::appendPaced(const QByteArray& bytes, int timeoutMs)
{
    if (bytes.isEmpty())
        return;
    Item it;
    it.bytes = QByteArray(bytes.constData(), bytes.size());
    it.paced = true;
    it.timeoutMs = timeoutMs;
    items_.push_back(std::move(it));
    pump();
}

void SocketOutQueue::pump()
{
    while (!items_.empty()) {
        Item& it = items_.front();
        if (!it.paced && !it.file) {
            QByteArray bytes = it.bytes;
            items_.pop_front();
            if (socket_->write(bytes) != bytes.size()) {
                cut("write failed");
                return;
            }
            continue;
        }
        if (!it.started) {
            it.started = true;
            if (it.timeoutMs > 0)
                timer_.start(it.timeoutMs);
        }
        if (socket_->bytesToWrite() >= kHighWater)
            return;  // bytesWritten calls us again
        if (it.paced) {
            const qint64 n = std::min<qint64>(kChunk, it.bytes.size() - it.offset);
            if (socket_->write(it.bytes.constData() + it.offset, n) != n) {
                cut("write failed");
                return;
            }
            it.offset += n;
            if (it.offset >= it.bytes.size()) {
                items_.pop_front();
                timer_.stop();
            }
            continue;
        }
        if (it.remaining > 0) {
            const qint64 n = std::min<qint64>(kChunk, it.remaining);
            const QByteArray chunk = it.file->read(n);
            if (chunk.size() != n) {
                cut("file shorter than announced");
                return;
            }
            if (socket_->write(chunk) != n) {
                cut("write failed");
                return;
            }
            it.remaining -= n;
        }
        if (it.remaining <= 0) {
            items_.pop_front();
            timer_.stop();
        }
    }
}

void SocketOutQueue::cut(const char* why)
{
    static PeerTrafficLog cuts(QStringLiteral("SocketOutQueue: transfers cut, connections closed"));
    cuts.note(QStringLiteral("%1: %2").arg(hostText(), QLatin1String(why)));
    items_.clear();
    timer_.stop();
    socket_->abort();
}
