#include "session.h"

#include "peertext_p.h"
#include "publictools.h"
#include "peertrafficlog.h"
#include "socketoutqueue.h"
#include "startline.h"
#include "tcpreactor.h"

#include <QDebug>
#include <QEvent>
#include <QSocketNotifier>
#include <QThread>

#include <malloc.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <limits>

namespace {

// A peer decides how often these happen: counted, one line per interval.
PeerTrafficLog& closedLog()
{
    static PeerTrafficLog log(QStringLiteral("Session: connections closed"));
    return log;
}

PeerTrafficLog& noiseLog()
{
    static PeerTrafficLog log(QStringLiteral("Session: noise dropped (heads without a start line, messages that do not parse)"));
    return log;
}

PeerTrafficLog& unansweredLog()
{
    static PeerTrafficLog log(QStringLiteral("Session: peers that closed before their requests were answered"));
    return log;
}

// See Session::trimIfDue(); shared by the sessions of every reactor.
std::atomic<qint64> gHeldSinceTrim{0};
std::atomic<qint64> gLastTrimMs{std::numeric_limits<qint64>::min() / 2};
std::atomic<quint64> gTrims{0};

}  // namespace

void Session::trimIfDue()
{
    if (gHeldSinceTrim.load() < kTrimAfterBytes)
        return;
    const qint64 now = ::monotonic_ms();
    qint64 last = gLastTrimMs.load();
    if (now - last < kTrimEveryMs || !gLastTrimMs.compare_exchange_strong(last, now))
        return;  // too soon, or another thread trims now
    gHeldSinceTrim.store(0);
    ::malloc_trim(0);
    ++gTrims;
}

qint64 Session::heldSinceTrim() { return gHeldSinceTrim.load(); }

quint64 Session::trimsDone() { return gTrims.load(); }

Session::Session(void* reactor, QTcpSocket* socket, int index) : QObject(nullptr), index_(index), reactor_(reactor)
{
    if (!socket)
        return;
    socket_.reset(socket);
    peerAddress_ = socket->peerAddress();
    peerPort_ = socket->peerPort();
    connect(socket, &QIODevice::readyRead, socket, [this] { onReadyRead(); });
    connect(socket, &QAbstractSocket::stateChanged, socket,
            [this](QAbstractSocket::SocketState s) { onStateChanged(s); });
    connect(socket, &QIODevice::bytesWritten, socket, [this] {
        if (stall_ && stall_->isActive())
            stall_->start(limits_.stallTimeoutMs);  // the peer reads: progress
        resumeReadingWhenAnswered();
        checkBacklog();
    });
    // What Qt reads ahead of us stays small: a peer that sends faster than
    // its answers leave waits in its own kernel buffers, not in ours.
    socket->setReadBufferSize(kReadAheadBytes);
    // The socket's read notifier, to hold back the end of the peer's stream
    // (see peerHasFinished).
    for (QSocketNotifier* n : socket->findChildren<QSocketNotifier*>()) {
        if (n->type() == QSocketNotifier::Read && n->thread() == thread()) {
            readNotifier_ = n;
            n->installEventFilter(this);
            break;
        }
    }
    qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
    working_ = socket->state() == QAbstractSocket::ConnectedState;
    if (auto* r = reactor_ ? static_cast<XANC::TcpReactor*>(reactor_) : nullptr)
        limits_ = r->sessionLimits();
    guard_ = new QTimer(socket);
    guard_->setSingleShot(true);
    connect(guard_, &QTimer::timeout, socket, [this] {
        switch (phase_) {
        case Phase::Head:
            closeConnection(QStringLiteral("message head not complete in time"));
            break;
        case Phase::Body:
            closeConnection(QStringLiteral("message body stalled"));
            break;
        case Phase::Idle:
            if (socket_->bytesToWrite() > 0 || !SocketOutQueue::of(socket_.data())->idle()) {
                guard_->start(limits_.idleTimeoutMs);  // still sending to the peer
            } else {
                closedLog().note(described(QStringLiteral("idle")));
                closing_ = true;
                socket_->disconnectFromHost();
            }
            break;
        }
    });
    armGuard();
}

Session::~Session()
{
    if (auto* r = reactor())
        r->forgetSession(index_, this);
    if (socket_) {
        socket_->disconnect();  // nothing may call back into this half-destroyed session
        socket_.reset();
    }
    current_.reset();
    recvBuffer_.clear();
    // The allocator keeps freed room for the process; after a large
    // connection, or many that held much together, that room goes back, or
    // peers that have gone would still hold it.
    gHeldSinceTrim += peakHeld_;
    trimIfDue();
}

XANC::TcpReactor* Session::reactor() const
{
    return static_cast<XANC::TcpReactor*>(reactor_);
}

void Session::setLimits(const Limits& limits)
{
    limits_ = limits;
    armGuard();
}

void Session::onStateChanged(QAbstractSocket::SocketState state)
{
    working_ = state == QAbstractSocket::ConnectedState;
    if (state == QAbstractSocket::UnconnectedState && guard_)
        guard_->stop();
}

bool Session::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::SockAct || watched != readNotifier_)
        return QObject::eventFilter(watched, event);
    if (socket_ &&
        (unanswered_ > 0 || socket_->bytesToWrite() > 0 || !SocketOutQueue::of(socket_.data())->idle()) &&
        peerHasFinished()) {
        readNotifier_->setEnabled(false);
        readPaused_ = true;
        if (!answerWait_) {
            answerWait_ = new QTimer(socket_.data());
            answerWait_->setSingleShot(true);
            connect(answerWait_, &QTimer::timeout, socket_.data(), [this] {
                unansweredLog().note(QStringLiteral("Session %1: %2 request(s)").arg(index_).arg(unanswered_));
                unanswered_ = 0;
                resumeReadingWhenAnswered();
                checkBacklog();
            });
        }
        answerWait_->start(kAnswerWaitMs);
        return true;
    }
    // Backlogged: nothing more is read until the answers have left, unless
    // the peer is gone (then the socket reads that and closes).
    if (holding_ && readNotifier_ && !peerHasReset()) {
        readNotifier_->setEnabled(false);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool Session::peerHasReset() const
{
    if (!socket_)
        return false;
    char c;
    const ssize_t n = ::recv(int(socket_->socketDescriptor()), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

qint64 Session::unsentBytes() const
{
    if (!socket_)
        return 0;
    const SocketOutQueue* queue = SocketOutQueue::existing(socket_.data());
    return socket_->bytesToWrite() + (queue ? queue->queuedBytes() : 0);
}

bool Session::backlogged() const
{
    return socket_ && (unanswered_ >= limits_.maxUnanswered || unsentBytes() > limits_.maxUnsentBytes);
}

void Session::checkBacklog()
{
    if (closing_ || !socket_)
        return;
    if (backlogged()) {
        holding_ = true;
    } else if (holding_ && !resumePosted_) {
        resumePosted_ = true;
        QMetaObject::invokeMethod(this, [this] { resumeReads(); }, Qt::QueuedConnection);
    }
    // A peer that takes none of its answers for a while is not waited on.
    if (holding_ || unsentBytes() > 0) {
        if (!stall_ && limits_.stallTimeoutMs > 0) {
            // Made on first need: most connections never wait on their peer.
            stall_ = new QTimer(socket_.data());
            stall_->setSingleShot(true);
            connect(stall_, &QTimer::timeout, socket_.data(), [this] {
                closeConnection(unsentBytes() > 0 ? QStringLiteral("the peer does not read its answers")
                                                  : QStringLiteral("requests left unanswered"));
            });
        }
        if (stall_ && !stall_->isActive())
            stall_->start(limits_.stallTimeoutMs);
    } else if (stall_) {
        stall_->stop();
    }
    updateBuffered();
}

void Session::resumeReads()
{
    resumePosted_ = false;
    if (closing_ || !socket_ || !holding_ || backlogged())
        return;
    holding_ = false;
    if (readNotifier_ && !readPaused_)
        readNotifier_->setEnabled(true);
    analyseBuffer_Setup1();  // what was left cut short
    if (!holding_ && !closing_ && socket_ && socket_->bytesAvailable() > 0)
        onReadyRead();
    checkBacklog();
}

void Session::updateBuffered()
{
    if (!socket_ || closing_) {
        buffered_ = 0;
        return;
    }
    buffered_ = recvBuffer_.size() - bufferPos_ + socket_->bytesAvailable() + unsentBytes();
    peakHeld_ = std::max(peakHeld_, recvBuffer_.capacity() + buffered_.load() +
                                        (receiving_ && current_ ? current_->contentLength() - current_->getNeedLength() : 0));
}

bool Session::peerHasFinished() const
{
    if (!socket_)
        return false;
    char c;
    return ::recv(int(socket_->socketDescriptor()), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void Session::resumeReadingWhenAnswered()
{
    // The answers must have left the socket's own buffer: reading the end
    // of the stream closes the connection and drops what is still there.
    if (!readPaused_ || unanswered_ > 0 || !socket_ || socket_->bytesToWrite() > 0 ||
        !SocketOutQueue::of(socket_.data())->idle())
        return;
    readPaused_ = false;
    if (answerWait_)
        answerWait_->stop();
    if (readNotifier_)
        readNotifier_->setEnabled(true);  // the socket now reads the end and closes
}

void Session::onReadyRead()
{
    if (!socket_ || holding_)
        return;  // resumeReads takes what waits
    feedBytes(socket_->readAll());
}

void Session::feedBytes(const QByteArray& data)
{
    if (closing_ || data.isEmpty())
        return;
    if (recvBuffer_.size() == bufferPos_) {
        recvBuffer_ = data;
        bufferPos_ = 0;
        scanFrom_ = 0;
    } else {
        recvBuffer_.append(data);
    }
    analyseBuffer_Setup1();
}

void Session::takeBody(qint64 n)
{
    current_->addBody(recvBuffer_.constData() + bufferPos_, n);
    bufferPos_ += n;
}

void Session::closeConnection(const QString& why)
{
    if (closing_)
        return;
    closing_ = true;
    closedLog().note(described(why));
    if (guard_)
        guard_->stop();
    if (stall_)
        stall_->stop();
    current_.reset();
    receiving_ = false;
    recvBuffer_.clear();
    bufferPos_ = 0;
    buffered_ = 0;
    if (socket_)
        socket_->abort();
}

void Session::analyseBuffer_Setup1()
{
    auto* r = reactor();
    while (!closing_) {
        const qint64 available = recvBuffer_.size() - bufferPos_;
        if (!receiving_) {
            if (available <= 0)
                break;
            if (backlogged())
                break;  // the rest waits until the answers have left
            // A head that trickles in is not searched from its start again.
            const qint64 from = std::max(bufferPos_, scanFrom_ - 3);
            const int sep = recvBuffer_.indexOf("\r\n\r\n", int(from));
            scanFrom_ = sep < 0 ? recvBuffer_.size() : 0;
            if (sep < 0 || sep - bufferPos_ > limits_.maxHeadBytes) {
                if (sep >= 0 || available > limits_.maxHeadBytes)
                    closeConnection(QStringLiteral("message head longer than %1 bytes").arg(limits_.maxHeadBytes));
                break;  // wait for the rest of the head
            }
            const QByteArray head = recvBuffer_.mid(int(bufferPos_), int(sep - bufferPos_));
            bufferPos_ = sep + 4;

            // Lines before the first start line are noise and dropped.
            const int start = startline::find(head);
            if (start < 0) {
                noteNoise(QStringLiteral("a head without a start line"));
                continue;
            }
            auto message = std::make_shared<SCI_ExecObj_Recv>(head.mid(start), index_);
            if (!message->headValid()) {
                closeConnection(message->headError());
                break;
            }
            if (message->contentLength() > limits_.maxBodyBytes) {
                closeConnection(QStringLiteral("body of %1 bytes is over the limit").arg(message->contentLength()));
                break;
            }
            message->setDuplex_Info(peerAddress_, peerPort_);
            message->reserveBody(message->contentLength());
            receiving_ = true;
            current_ = message;
            const QString id = message->taskId();
            if (r) {
                if (message->isRequest())
                    r->append_TcpTask(id);
                r->update_TcpTsk_ByUuid(id, QStringLiteral("tskup_firstrecv_timing"), {});
                r->update_TcpTsk_ByUuid(id, QStringLiteral("tskup_chg_recvpacklength"),
                                        {QVariant(int(message->contentLength()))});
            }
            const qint64 need = message->getNeedLength();
            const qint64 left = recvBuffer_.size() - bufferPos_;
            if (need > 0 && left > 0)
                takeBody(std::min(need, left));
        } else {
            if (!current_) {
                receiving_ = false;
                break;
            }
            const qint64 need = current_->getNeedLength();
            if (need > 0) {
                if (available <= 0)
                    break;
                if (r)
                    r->update_TcpTsk_ByUuid(current_->taskId(), QStringLiteral("tskup_recv_times"), {});
                takeBody(std::min(need, available));
            }
        }

        // Completion check.
        if (!current_)
            break;
        if (current_->getNeedLength() > 0)
            break;
        if (r)
            r->update_TcpTsk_ByUuid(current_->taskId(), QStringLiteral("tskup_finishrecv_timing"), {});
        analyseBuffer_Setup2_5();
        receiving_ = false;
        current_.reset();
        // Go on: a pipelining peer may already have sent the next message.
    }

    if (bufferPos_ >= recvBuffer_.size()) {
        recvBuffer_.clear();
        bufferPos_ = 0;
        scanFrom_ = 0;
    } else if (bufferPos_ > 65536) {
        recvBuffer_.remove(0, int(bufferPos_));
        scanFrom_ = std::max<qint64>(0, scanFrom_ - bufferPos_);
        bufferPos_ = 0;
    }
    if (recvBuffer_.capacity() > 4 * Session::kReadAheadBytes && recvBuffer_.size() < Session::kReadAheadBytes)
        recvBuffer_.squeeze();  // a large burst is over: its room goes back
    checkBacklog();
    armGuard();
}

QString Session::described(const QString& what) const
{
    return QStringLiteral("Session %1 (%2:%3): %4")
        .arg(index_)
        .arg(stripV4Mapped(peerAddress_.toString()))
        .arg(peerPort_)
        .arg(what);
}

void Session::noteNoise(const QString& what)
{
    noiseLog().note(described(what));
    if (++noise_ > limits_.maxNoiseMessages)
        closeConnection(QStringLiteral("only noise, %1 heads or messages in a row").arg(noise_));
}

void Session::analyseBuffer_Setup2_5()
{
    std::shared_ptr<SCI_ExecObj_Recv> message = current_;
    if (!message)
        return;
    if (!message->analysisIntegrality()) {
        noteNoise(QStringLiteral("a message that does not parse: %1")
                      .arg(message->showHead().section(QStringLiteral("\r\n"), 0, 0).left(200)));
        return;
    }
    noise_ = 0;
    emitAnalysed(*message);
}

void Session::emitAnalysed(SCI_ExecObj_Recv& message)
{
    CTask_FormData record = message.getFormData();
    auto* r = reactor();
    if (r) {
        const CVariant<TcpTsk_Info> held = r->getTcpTask(record.taskId);
        QMutexLocker a(&record.tasksMutex);
        QMutexLocker b(held.mutex());
        record.tasks = held.unlockedValues();
    }
    if (record.url.isEmpty()) {
        emit sigResponse(record);
    } else {
        if (r)
            r->remove_TaskFromList(record.taskId);
        if (!r || r->hasRequestReceiver()) {
            ++unanswered_;
        } else {
            // A link that serves no requests (a client link): dropped here,
            // on the loop thread, and counted.
            static PeerTrafficLog unasked(QStringLiteral("requests on a link that serves none dropped"));
            unasked.note(record.url.left(200));
        }
        emit sigRequest(record);
    }
}

void Session::armGuard()
{
    if (!guard_ || closing_)
        return;
    if (holding_) {
        guard_->stop();  // the stall timer watches a held connection
        return;
    }
    const Phase want = receiving_ ? Phase::Body : (bufferPos_ < recvBuffer_.size() ? Phase::Head : Phase::Idle);
    switch (want) {
    case Phase::Body:
        if (limits_.bodyTimeoutMs > 0)
            guard_->start(limits_.bodyTimeoutMs);
        else
            guard_->stop();
        break;
    case Phase::Head:
        if (phase_ != Phase::Head || !guard_->isActive()) {
            if (limits_.headTimeoutMs > 0)
                guard_->start(limits_.headTimeoutMs);
            else
                guard_->stop();
        }
        break;
    case Phase::Idle:
        if (limits_.idleTimeoutMs > 0)
            guard_->start(limits_.idleTimeoutMs);
        else
            guard_->stop();
        break;
    }
    phase_ = want;
}

bool Session::SlotSendAction(SCI_ExecObj_Send send)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SlotSendAction", Qt::QueuedConnection, Q_ARG(SCI_ExecObj_Send, send));
        return false;
    }
    if (socket_ && !closing_)
        send.SerializeWrite(socket_.data());
    if (send.task().url.isEmpty() && unanswered_ > 0) {
        --unanswered_;
        if (stall_ && stall_->isActive())
            stall_->start(limits_.stallTimeoutMs);  // an answer came: progress
        resumeReadingWhenAnswered();
    }
    checkBacklog();
    return true;
}
