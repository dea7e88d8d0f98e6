#include "udp_core.h"

#include "publictools.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QString addressText(const sockaddr_in& a)
{
    return QString::fromStdString(nint2string(a.sin_addr.s_addr));
}

// The text of a datagram up to its first NUL.
QByteArray leadingText(const QByteArray& data)
{
    const int nul = data.indexOf('\0');
    return nul < 0 ? data : data.left(nul);
}

int openBroadcastSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0 || set_socket_nonblock(fd) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// ---------------------------------------------------------------- sending socket

BSU_BroadcastSocket::BSU_BroadcastSocket(const Udpsend_Cond& cond)
    : destIp_(cond.destIp),
      destPort_(cond.destPort),
      sourceIp_(cond.sourceIp),
      waitMs_(cond.waitMs),
      resendMs_(cond.resendMs)
{
    const in_addr_t source = ::inet_addr(sourceIp_.c_str());
    for (int attempt = 0; attempt < kBindAttempts && fd_ < 0; ++attempt) {
        const int fd = openBroadcastSocket();
        if (fd < 0)
            continue;
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(RandPort());
        local.sin_addr.s_addr = source;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            fd_ = fd;
        else
            ::close(fd);
    }
    dest_.sin_family = AF_INET;
    dest_.sin_port = htons(static_cast<quint16>(destPort_));
    dest_.sin_addr.s_addr = ::inet_addr(destIp_.c_str());
}

BSU_BroadcastSocket::~BSU_BroadcastSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int BSU_BroadcastSocket::send(const std::string& data)
{
    return send(data.data(), static_cast<int>(data.size()));
}

int BSU_BroadcastSocket::send(const void* data, int length)
{
    if (fd_ < 0 || length < 0)
        return -1;
    return static_cast<int>(::sendto(fd_, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                     reinterpret_cast<const sockaddr*>(&dest_), sizeof dest_));
}

// ---------------------------------------------------------------- core

UDP_Core::UDP_Core(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<sockaddr_in>("sockaddr_in");
    qRegisterMetaType<std::string>("std::string");
    netTable_ = readInterfaces(&ifaddrError_);
    deviceKey_ = new_uuid();
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

UDP_Core::~UDP_Core()
{
    stopListen();
    QMutexLocker lock(&socketsMutex_);
    for (int fd : sockets_)
        if (fd >= 0)
            ::close(fd);
    sockets_.clear();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

QMap<QString, NetBase> UDP_Core::readInterfaces(bool* failed)
{
    QMap<QString, NetBase> table;
    bool anyFailed = false;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& itf : all) {
        if (itf.name() == QLatin1String("lo"))
            continue;
        char ip[32] = {};
        char mask[32] = {};
        char gateway[32] = {};
        char mac[32] = {};
        const QByteArray name = itf.name().toLatin1();
        if (GetIfAddr(name.constData(), ip, mask, gateway, mac) < 0) {
            anyFailed = true;
            continue;
        }
        NetBase row;
        row.name = itf.name();
        row.ip = QString::fromLatin1(ip);
        row.mask = QString::fromLatin1(mask);
        row.gateway = QString::fromLatin1(gateway);
        row.mac = QString::fromLatin1(mac);
        table.insert(row.mac, row);
    }
    if (failed)
        *failed = anyFailed;
    return table;
}

int UDP_Core::addListen(std::string ip, int port)
{
    qDebug() << "listen:" << QString::fromStdString(ip) << "/" << port;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return BSU_BIND;
    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0) {
        ::close(fd);
        return BSU_BROADCAST_OPTION;
    }
    if (set_socket_nonblock(fd) < 0) {
        ::close(fd);
        return BSU_NONBLOCK;
    }
    const int rcvbuf = kReceiveBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);  // best effort
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<quint16>(port));
    local.sin_addr.s_addr = ::inet_addr(ip.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        ::close(fd);
        return BSU_BIND;
    }
    {
        QMutexLocker lock(&socketsMutex_);
        sockets_.append(fd);
    }
    if (!listener_) {
        listening_ = true;
        listener_ = QThread::create([this] { listenLoop(); });
        listener_->setObjectName(QStringLiteral("udp-listener"));
        listener_->start();
    } else {
        wake();  // the running listener takes the socket up at once
    }
    return BSU_SUCCESS;
}

void UDP_Core::wake()
{
    if (wakeFd_ < 0)
        return;
    const quint64 one = 1;
    const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    (void)n;
}

void UDP_Core::stopListen()
{
    listening_ = false;
    if (!listener_)
        return;
    wake();
    listener_->wait();
    delete listener_;
    listener_ = nullptr;
}

void UDP_Core::listenLoop()
{
    std::vector<char> buffer(kMaxDatagram);
    std::vector<pollfd> fds;
    while (listening_) {
        QList<int> sockets;
        {
            QMutexLocker lock(&socketsMutex_);
            sockets = sockets_;
        }
        fds.clear();
        if (wakeFd_ >= 0)
            fds.push_back(pollfd {wakeFd_, POLLIN, 0});
        for (int fd : sockets)
            fds.push_back(pollfd {fd, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), kPollMs);
        if (ready <= 0)
            continue;  // time-out or interrupted: next pass
        for (const pollfd& p : fds) {
            if (!(p.revents & POLLIN))
                continue;
            if (p.fd == wakeFd_) {
                quint64 count = 0;
                const ssize_t n = ::read(wakeFd_, &count, sizeof count);
                (void)n;
                continue;
            }
            sockaddr_in own {};
            socklen_t ownLen = sizeof own;
            ::getsockname(p.fd, reinterpret_cast<sockaddr*>(&own), &ownLen);
            // Drain what is ready, bounded so that one busy socket cannot
            // starve the others or the stop request, and hand the datagrams
            // to the object's thread in one queued call.
            QVector<Received> batch;
            for (int i = 0; i < kBatch && listening_; ++i) {
                sockaddr_in from {};
                socklen_t fromLen = sizeof from;
                const ssize_t n = ::recvfrom(p.fd, buffer.data(), buffer.size(), 0,
                                             reinterpret_cast<sockaddr*>(&from), &fromLen);
                if (n < 0)
                    break;  // EAGAIN: drained
                batch.append(Received {from, QByteArray(buffer.data(), static_cast<int>(n))});
            }
            if (batch.isEmpty())
                continue;
            if (!windowOpen_) {  // dropped here, on the listener's thread
                for (const Received& r : qAsConst(batch))
                    outsideLog_.note(QStringLiteral("from %1").arg(addressText(r.from)));
                continue;
            }
            const std::string ownText = nint2string(own.sin_addr.s_addr);
            const unsigned ownPort = ntohs(own.sin_port);
            for (const Received& r : qAsConst(batch)) {
                const QByteArray text = leadingText(r.data);
                char head[96];
                std::snprintf(head, sizeof head, "[UDP_RCV] %s/%u <- %s/%u (%d): ", ownText.c_str(), ownPort,
                              nint2string(r.from.sin_addr.s_addr).c_str(), unsigned(ntohs(r.from.sin_port)),
                              text.size());
                PrintRecvMsg(QStringLiteral("success"), QString::fromLatin1(head) + QString::fromUtf8(text.left(64)));
            }
            handOver(batch);
        }
    }
    qDebug() << "finish listening" << QThread::currentThreadId();
}

void UDP_Core::handOver(QVector<Received>& batch)
{
    bool post = false;
    {
        QMutexLocker lock(&queueMutex_);
        for (Received& r : batch) {
            if (queue_.size() >= kMaxQueued) {
                overflowLog_.note(QStringLiteral("from %1").arg(addressText(r.from)));
                continue;
            }
            queue_.append(std::move(r));
        }
        if (!queue_.isEmpty() && !deliveryQueued_) {
            deliveryQueued_ = true;
            post = true;
        }
    }
    if (post) {
        ++deliveries_;
        QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void UDP_Core::deliver()
{
    QVector<Received> batch;
    {
        QMutexLocker lock(&queueMutex_);
        batch.swap(queue_);
        deliveryQueued_ = false;
    }
    // The window may have closed while the call waited: what came in it is
    // still handled, as the waits of the users expect.
    for (const Received& r : qAsConst(batch))
        AnalysisRecvMessage(r.from, r.data);
}

int UDP_Core::send_core(Udpsend_Cond cond, std::string message, std::string& reply)
{
    if (cond.waitMs < 0 || cond.resendMs < 0)
        return BSU_BAD_TIMES;
    BSU_BroadcastSocket socket(cond);
    if (cond.waitMs > kMaxWaitMs)
        cond.waitMs = kMaxWaitMs;

    auto sendOnce = [&] {
        socket.send(message);
        sockaddr_in own {};
        socklen_t ownLen = sizeof own;
        if (socket.fd() >= 0)
            ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&own), &ownLen);
        const QByteArray bytes(message.data(), static_cast<int>(message.size()));
        const QString line = QStringLiteral("[UDP_SND] %1/%2 -> %3/%4 (%5): ")
                                 .arg(addressText(own))
                                 .arg(ntohs(own.sin_port))
                                 .arg(QString::fromStdString(cond.destIp))
                                 .arg(cond.destPort)
                                 .arg(bytes.size()) +
                             QString::fromUtf8(leadingText(bytes));
        PrintRecvMsg(line, line);
    };

    // A plain send: once, at once, no answer awaited.
    if (cond.waitMs == 0) {
        if (cond.resendMs == 0)
            sendOnce();
        return BSU_NO_ANSWER;
    }

    QEventLoop loop;
    bool timedOut = false;
    QTimer waitTimer;
    waitTimer.setSingleShot(true);
    connect(&waitTimer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    const auto answer = connect(this, &UDP_Core::sig_sync_send_core, &loop, [&](const QString& recv) {
        reply = recv.toUtf8().toStdString();
        waitTimer.stop();
        loop.quit();
    }, Qt::QueuedConnection);
    QTimer sendTimer;
    connect(&sendTimer, &QTimer::timeout, &loop, [&] {
        if (cond.resendMs == 0)
            sendTimer.stop();
        sendOnce();
    });
    waitTimer.start(cond.waitMs);
    sendTimer.start(cond.resendMs);
    loop.exec();
    disconnect(answer);
    return timedOut ? BSU_NO_ANSWER : BSU_SUCCESS;
}

QString UDP_Core::AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf)
{
    Q_UNUSED(saclient);
    emit sig_sync_send_core(QString::fromLatin1(leadingText(recvbuf)));
    return QStringLiteral("success");
}

void UDP_Core::PrintRecvMsg(QString result, QString line)
{
    // Called for every datagram sent and received: a peer sets the rate, so
    // the log takes one line per interval with the count.
    Q_UNUSED(result);
    receiveLog_.note(line);
}

NetBase UDP_Core::foundNetBaseByIP(const QString& ip) const
{
    for (const NetBase& row : netTable_)
        if (row.ip == ip)
            return row;
    return NetBase();
}

QString UDP_Core::getSameUseNet(QString ip) const
{
    QString found;
    for (const NetBase& row : netTable_) {
        const QString own = getSubNet(row.ip, row.mask);
        if (!own.isEmpty() && own == getSubNet(ip, row.mask))
            found = row.ip;
    }
    return found;
}
