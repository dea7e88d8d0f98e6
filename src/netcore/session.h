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
        // Reading stops while more than this many requests wait for their
        // answers, or more than this many bytes of answers wait unsent; it
        // goes on when they are down again.
        int maxUnanswered = 32;
        qint64 maxUnsentBytes = 64 * 1024;
        // Answers that wait (or reading that is held) without any progress
        // for this long: the peer does not read, the connection is closed.
        int stallTimeoutMs = 30000;
        // Heads without a start line, or messages that do not parse, in a
        // row: more than this and the connection is closed.
        int maxNoiseMessages = 16;
    };

    // Bytes that Qt reads ahead of the session from one connection.
    static constexpr qint64 kReadAheadBytes = 64 * 1024;

    // The allocator keeps the room that ended sessions freed. Once the
    // sessions that ended since the last trim held kTrimAfterBytes together
    // at their most (one large one, or many small ones), that room goes back
    // to the system; at most once every kTrimEveryMs, as the trim costs the
    // network thread a moment. Called as a session ends and by the reactors'
    // once-a-second tick (for a trim held back by the spacing).
    static constexpr qint64 kTrimAfterBytes = 1024 * 1024;
    static constexpr qint64 kTrimEveryMs = 5000;
    static void trimIfDue();
    // Room held by sessions that ended since the last trim; trims done.
    static qint64 heldSinceTrim();
    static quint64 trimsDone();

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
    // Reading is held back until the answers of this connection leave.
    bool isHoldingReads() const { return holding_.load(); }
    // Bytes this connection holds in memory now: received and not yet cut,
    // and answers not yet handed to the kernel. Any thread.
    qint64 bufferedBytes() const { return buffered_.load(); }

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
    // The peer reset the connection (its end is gone, not just finished).
    bool peerHasReset() const;
    void resumeReadingWhenAnswered();
    void onStateChanged(QAbstractSocket::SocketState state);
    void closeConnection(const QString& why);
    void armGuard();
    void takeBody(qint64 n);
    XANC::TcpReactor* reactor() const;
    void emitAnalysed(SCI_ExecObj_Recv& message);
    // One more head or message that is noise; closes after the limit.
    // "Session <index> (<peer>:<port>): <what>", as the peer logs name it.
    QString described(const QString& what) const;
    void noteNoise(const QString& what);
    qint64 unsentBytes() const;
    bool backlogged() const;
    // Holds reading while backlogged; when no longer, reads on (queued, so
    // that a sender inside the cutting loop does not re-enter it).
    void checkBacklog();
    void resumeReads();
    void updateBuffered();

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
    std::atomic<bool> holding_{false};  // backlogged: reading waits for the answers to leave
    bool resumePosted_ = false;
    int noise_ = 0;                     // noise in a row since the last message
    QTimer* stall_ = nullptr;           // no progress while answers wait
    std::atomic<qint64> buffered_{0};
    // The most this connection held at once (the received part of a body
    // included, not what its head announced): see trimIfDue().
    qint64 peakHeld_ = 0;
    enum class Phase { Idle, Head, Body } phase_ = Phase::Idle;
};
