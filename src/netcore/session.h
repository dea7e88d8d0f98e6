// The per-connection Session that cuts HTTP/1.1 messages out of a TCP byte
// stream with the library's reader (SCI_ExecObj_Recv) and writes records with
// its writer (SCI_ExecObj_Send).
//
// A Session runs without widgets; it and its socket live on the loop thread
// of the reactor that made them and are only posted to from other threads.
#pragma once

#include "ctask_formdata.h"
#include "sci_execobj_recv.h"
#include "sci_execobj_send.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <memory>

class QSocketNotifier;

namespace XANC {
class TcpReactor;
}

// One TCP connection of a reactor.
class Session : public QObject {
    Q_OBJECT
public:
    // How long the end of a peer's stream is held back for the answers to
    // its requests (a handler that never answers must not hold it for ever).
    static constexpr int kAnswerWaitMs = 10000;

    struct Limits {
        int maxHeadBytes = 64 * 1024;
        qint64 maxBodyBytes = 128LL * 1024 * 1024;
        int headTimeoutMs = 30000;   // a head must be whole this long after its first byte
        int bodyTimeoutMs = 30000;   // a body may stall this long between two reads
        int idleTimeoutMs = 0;       // no message in progress for this long (0: never)
    };

    Session(void* reactor, QTcpSocket* socket, int index);
    ~Session() override;

    int index() const { return index_; }
    QTcpSocket* socket() const { return socket_.data(); }
    bool isWorking() const { return working_.load(); }
    void setLimits(const Limits& limits);

    // Takes bytes as if they had been read from the socket and cuts them.
    void feedBytes(const QByteArray& data);
    // The session gave up on its peer (protocol error, time-out).
    bool isClosing() const { return closing_; }

    void analyseBuffer_Setup1();
    void analyseBuffer_Setup2_5();

public slots:
    bool SlotSendAction(SCI_ExecObj_Send send);

signals:
    void sigRequest(CTask_FormData obj);
    void sigResponse(CTask_FormData obj);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onReadyRead();
    // A peer may send its request and shut its sending side at once. The
    // socket would read that end of stream and close the whole connection,
    // dropping what it has not yet sent, so reading waits while requests of
    // this connection are unanswered or answers unsent, and the peer has
    // nothing more to say. (It is held back at the socket's read notifier;
    // a socket without one simply closes as before.)
    bool peerHasFinished() const;
    void resumeReadingWhenAnswered();
    void onStateChanged(QAbstractSocket::SocketState state);
    void closeConnection(const QString& why);
    void armGuard();
    void takeBody(qint64 n);
    XANC::TcpReactor* reactor() const;
    void emitAnalysed(SCI_ExecObj_Recv& message);

    int index_;
    QSharedPointer<QTcpSocket> socket_;
    QHostAddress peerAddress_;
    quint16 peerPort_ = 0;
    QByteArray recvBuffer_;
    qint64 bufferPos_ = 0;  // bytes of recvBuffer_ already consumed
    qint64 scanFrom_ = 0;   // where the search for the end of a head goes on
    std::shared_ptr<SCI_ExecObj_Recv> current_;
    bool receiving_ = false;
    void* reactor_;

    std::atomic<bool> working_{false};
    bool closing_ = false;
    Limits limits_;
    QTimer* guard_ = nullptr;
    QPointer<QSocketNotifier> readNotifier_;
    int unanswered_ = 0;       // requests emitted and not yet answered
    bool readPaused_ = false;  // the end of the peer's stream waits for the answers
    QTimer* answerWait_ = nullptr;
    enum class Phase { Idle, Head, Body } phase_ = Phase::Idle;
};
