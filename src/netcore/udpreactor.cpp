#include "udpreactor.h"

#include "peertrafficlog.h"
#include "poolloop_p.h"
#include "publictools.h"
#include "startline.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkDatagram>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace XANC {

UdpReactor::UdpReactor(QObject* parent) : QObject(parent), socketThreadPool_(new QThreadPool)
{
    socketThreadPool_->setMaxThreadCount(1);
    socketThreadPool_->setExpiryTimeout(-1);
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
}

UdpReactor::~UdpReactor()
{
    deinitialize();
    reader_.reset();
}

bool UdpReactor::isRunning()
{
    return loopActive_.load();
}

bool UdpReactor::initialize()
{
    if (isRunning())
        return false;
    loopActive_ = true;
    stopRequested_ = false;
    return nettools::startLoopOnPool(*socketThreadPool_,
                                     [this](nettools::LoopStart* start) { runLoop(start); });
}

void UdpReactor::runLoop(nettools::LoopStart* start)
{
    if (!onStart()) {
        onFinish();
        loopActive_ = false;
        start->report(false);
        return;
    }
    QEventLoop loop;
    const auto quit = connect(this, &UdpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    aliveTime_ = curtime_qint64_2_int();
    QTimer heartbeat;
    // The beat is handled on the owner's thread: a fresh alive time also says
    // that the owner's thread processes events.
    connect(&heartbeat, &QTimer::timeout, this, [this] { aliveTime_ = curtime_qint64_2_int(); },
            Qt::QueuedConnection);
    heartbeat.start(kHeartbeatMs);
    start->report(true);
    if (!stopRequested_)
        loop.exec();
    heartbeat.stop();
    disconnect(quit);
    onFinish();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    loopActive_ = false;
}

void UdpReactor::deinitialize()
{
    if (!isRunning())
        return;
    stopRequested_ = true;
    emit readyToClose();
    if (socketThreadPool_->activeThreadCount() > 0 && !socketThreadPool_->waitForDone(-1))
        qInfo() << "socketThreadPool_->waitForDone error!";
}

bool UdpReactor::reAction()
{
    deinitialize();
    return initialize();
}

bool UdpReactor::onStart()
{
    socket_.reset(new QUdpSocket);
    QUdpSocket* socket = socket_.data();
    connect(socket, &QUdpSocket::readyRead, socket, [this] { readPending(); });
    connect(this, &UdpReactor::sigSendMsg, socket,
            [this](const QByteArray& content, QString ip, int port) { sendStep(content, ip, port); },
            Qt::QueuedConnection);
    return true;
}

void UdpReactor::onFinish()
{
    if (socket_)
        socket_->close();
    socket_.reset();
    localPort_ = 0;
}

bool UdpReactor::sendMsg(const QByteArray& content, QString ip, int port, bool restart)
{
    if (!isRunning() || restart)
        reAction();
    emit sigSendMsg(content, ip, port);
    return true;
}

bool UdpReactor::getTimerAlived() const
{
    return curtime_tick_diff(curtime_qint64_2_int(), aliveTime_.load()) <= 199;
}

void UdpReactor::sendStep(const QByteArray& content, const QString& ip, int port)
{
    if (!socket_)
        return;
    const qint64 written = socket_->writeDatagram(content, QHostAddress(ip), static_cast<quint16>(port));
    localPort_ = socket_->localPort();
    if (written != content.size())
        qInfo() << "udp heartsend error:" << written << content.size() << socket_->localPort();
}

void UdpReactor::readPending()
{
    while (socket_ && socket_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_->receiveDatagram();
        recvBuffer_.append(datagram.data());
        analyseBuffer_Setup1(datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
    }
}

void UdpReactor::analyseBuffer_Setup1(const QHostAddress& address, quint16 port)
{
    // Loop so that a datagram that finishes one message and holds the whole
    // next one is not left waiting for another datagram.
    for (;;) {
        if (headFlag_ == 0) {
            const int sep = recvBuffer_.indexOf("\r\n\r\n");
            if (sep < 0) {
                // Bytes that cannot become a head within the limit are noise.
                if (recvBuffer_.size() > kMaxHeadBytes) {
                    static PeerTrafficLog noise(QStringLiteral("UdpReactor: bytes without a message head dropped"));
                    noise.note(QStringLiteral("%1 bytes from %2:%3").arg(recvBuffer_.size()).arg(address.toString()).arg(port));
                    recvBuffer_.clear();
                }
                return;
            }
            QByteArray head = recvBuffer_.left(sep);
            recvBuffer_.remove(0, sep + 4);
            // Lines before the start line are dropped.
            const int start = startline::find(head);
            if (start < 0)
                continue;
            auto reader = std::make_shared<SCI_ExecObj_Recv>(head.mid(start), -1);
            if (!reader->headValid() || reader->contentLength() > kMaxBodyBytes) {
                static PeerTrafficLog refused(QStringLiteral("UdpReactor: message heads dropped"));
                refused.note(reader->headValid() ? QStringLiteral("body over the limit") : reader->headError());
                continue;
            }
            reader->setDuplex_Info(address, port);
            headFlag_ = 1;
            reader_ = reader;
        } else if (!reader_) {
            headFlag_ = 0;
            return;
        }
        const qint64 need = reader_->getNeedLength();
        if (need > 0 && !recvBuffer_.isEmpty()) {
            const int n = static_cast<int>(std::min<qint64>(need, recvBuffer_.size()));
            reader_->addBody(recvBuffer_.left(n));
            recvBuffer_.remove(0, n);
        }
        if (reader_->getNeedLength() > 0)
            return;
        analyseBuffer_Setup2_5();
        headFlag_ = 0;
        reader_.reset();
        if (recvBuffer_.isEmpty())
            return;
    }
}

void UdpReactor::analyseBuffer_Setup2_5()
{
    if (!reader_ || !reader_->analysisIntegrality())
        return;
    const CTask_FormData task = reader_->getFormData();
    if (!task.url.isEmpty())
        emit sigRequest(task);
    else
        emit sigResponse(task);
}

}  // namespace XANC
