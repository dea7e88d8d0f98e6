// One HTTP/1.1 message as a value (CTask_FormData), the library's wire format
// (SCI_ExecObj_Send writes a record, SCI_ExecObj_Recv reads one back) and the
// per-connection Session that cuts messages out of a TCP byte stream.
//
// Everything here runs without widgets; a Session and its socket live on the
// loop thread of the reactor that made them and are only posted to from other
// threads.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <opencv2/core.hpp>

#include <atomic>
#include <deque>
#include <memory>

class QFile;
class QSocketNotifier;

namespace XANC {
class TcpReactor;
}

// A holder of zero or one value of T, shared between threads. The list and
// the mutex are visible so that a caller can hold the mutex while it copies
// the list somewhere else.
template <typename T>
class CVariant {
public:
    CVariant() = default;
    CVariant(const CVariant& other) : list_(other.values()) {}
    CVariant& operator=(const CVariant& other)
    {
        if (this != &other) {
            const QList<T> copy = other.values();
            QMutexLocker lock(&mutex_);
            list_ = copy;
        }
        return *this;
    }

    void setValue(const T& value)
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
        list_.append(value);
    }
    // The held value; a default T when nothing is held.
    T getValue() const
    {
        QMutexLocker lock(&mutex_);
        return list_.isEmpty() ? T() : list_.first();
    }
    bool hasValue() const
    {
        QMutexLocker lock(&mutex_);
        return !list_.isEmpty();
    }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        list_.clear();
    }
    QList<T> values() const
    {
        QMutexLocker lock(&mutex_);
        return list_;
    }
    // Tests for a value and copies it within one hold of the mutex.
    bool tryGetValue(T* out) const
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        *out = list_.first();
        return true;
    }
    // Edits the held value in place within one hold of the mutex; false (and
    // `edit` not called) when nothing is held.
    template <typename F>
    bool modifyValue(F&& edit)
    {
        QMutexLocker lock(&mutex_);
        if (list_.isEmpty())
            return false;
        edit(list_.first());
        return true;
    }
    // For callers that hold mutex() themselves.
    QMutex* mutex() const { return &mutex_; }
    const QList<T>& unlockedValues() const { return list_; }

private:
    mutable QMutex mutex_;
    QList<T> list_;
};

// Timing record of one task id in a reactor's task table.
class TcpTsk_Info {
public:
    TcpTsk_Info();                           // empty strings, -1 everywhere
    explicit TcpTsk_Info(const QString& id);  // uuid = id, create_timing = now

    QString url;
    qint64 create_timing = -1;
    qint64 firstrecv_timing = -1;
    qint64 finishrecv_timing = -1;
    qint64 finishact_timing = -1;
    qint64 recv_times = -1;
    QString uuid;
    int recvpacklength = -1;

    QMap<QString, QVariant> getReportParam() const;
    void tskup_chg_recvpacklength(const QList<QVariant>& values);

    // Monotonic creation time and insertion number; the reactor ages and
    // caps its table with them.
    qint64 create_mono = 0;
    quint64 seq = 0;
};

// One HTTP/1.1 request or response. A record with an empty url is a response.
class CTask_FormData {
public:
    CTask_FormData();
    CTask_FormData(const CTask_FormData& other);
    CTask_FormData& operator=(const CTask_FormData& other);
    ~CTask_FormData();

    QString peerAddress;
    int peerPort = 0;
    QString method = QStringLiteral("POST");
    QString url;
    QString taskId;
    int sessionIndex = -1;
    QString contentType;
    int code = 0;
    QString msg = QStringLiteral("OK");
    QString deviceId;
    QString userId;
    QByteArray body;
    QJsonObject json;
    // A JSON object already written out in compact form; when set, a message
    // carries these bytes where it would carry `json` written out (a reply
    // that many requests share is serialised once, not once a request).
    QByteArray jsonBytes;
    QMap<QString, QString> query;
    QMap<QString, QVariant> form;
    QMap<QString, cv::Mat> images;
    QMap<QString, QByteArray> files;
    QList<TcpTsk_Info> tasks;
    mutable QMutex tasksMutex;

    // 2 multipart with images, 3 file, 1 JSON (json or jsonBytes), 0 nothing
    // of its own.
    int getTaskPkgType() const;
    // First line of the message without its line end. May change code/msg.
    QString getResponseFirstLine();

    // Copy of tasks taken under tasksMutex.
    QList<TcpTsk_Info> tasksCopy() const;

private:
    void copyFields(const CTask_FormData& other);
};

Q_DECLARE_METATYPE(TcpTsk_Info)
Q_DECLARE_METATYPE(CTask_FormData)

// Per-socket output queue. Plain blocks are written at once when nothing is
// waiting; a file, or a paced block, is streamed in chunks as the socket
// drains, and everything written after it waits behind it. A stream that
// cannot finish (read error, time-out) closes the connection, so the peer
// never takes a short body for a whole one.
class SocketOutQueue : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kChunk = 65536;
    static constexpr qint64 kHighWater = 4 * kChunk;

    // The queue of the socket, created on first use as a child of the socket.
    static SocketOutQueue* of(QTcpSocket* socket);

    void appendBytes(const QByteArray& bytes);
    // The peer as the HOST line names it ("address:port"), formed again only
    // when the peer changes.
    const QString& hostText();
    // Streams an opened file of `size` bytes; takes ownership of the file.
    void appendFile(QFile* file, qint64 size, int timeoutMs);
    // Writes a block in chunks paced by the socket.
    void appendPaced(const QByteArray& bytes, int timeoutMs);
    bool idle() const { return items_.empty(); }

private:
    explicit SocketOutQueue(QTcpSocket* socket);
    struct Item {
        QByteArray bytes;          // plain or paced block
        qint64 offset = 0;         // paced block: bytes already handed over
        bool paced = false;
        std::shared_ptr<QFile> file;
        qint64 remaining = 0;      // file: bytes still to send
        int timeoutMs = 0;
        bool started = false;
    };
    void pump();
    void cut(const char* why);
    // Hands bytes straight to the kernel while nothing of this socket waits
    // in Qt's buffer; the count taken (0 when the kernel takes none now or
    // the socket fails: Qt's own write then takes the bytes and reports).
    qint64 sendNow(const char* data, qint64 size);

    QTcpSocket* socket_;
    QString host_;
    QHostAddress hostAddress_;
    quint16 hostPort_ = 0;
    std::deque<Item> items_;
    QTimer timer_;
};

// Local time now as "yyyyMMdd_hhmmss_zzz", the stamp of generated task ids.
// The text of a second is formed once per thread, not once per id.
QString taskIdStamp();

// Writes one record on a connected socket in the library's HTTP/1.1 dialect.
class SCI_ExecObj_Send {
public:
    SCI_ExecObj_Send();
    explicit SCI_ExecObj_Send(const CTask_FormData& task);

    // Writes the whole message; must run on the socket's thread.
    void SerializeWrite(QTcpSocket* socket);

    void Integrality_Empty(const CTask_FormData& task);
    void Integrality_Json(const CTask_FormData& task);
    void Integrality_Mat(const CTask_FormData& task);
    void Integrality_File(const CTask_FormData& task);
    void Integrality_BinaryStream(const CTask_FormData& task);
    void SendFixLand(const QByteArray& bytes);

    qint64 creationTime() const { return createTime_; }
    const CTask_FormData& task() const { return task_; }

    // Process-wide counter of generated "ruvuzero#" task ids.
    static std::atomic<int> _increase_index_task;

    // The multipart delimiter line.
    static const QByteArray kBoundary;
    static constexpr int kFileTimeoutMs = 30000;
    static constexpr int kPacedTimeoutMs = 10000;

    // The message head in the library's fixed header order. `host` is the
    // HOST value, a null `contentType` writes no Content-Type line. Every
    // value is written without control bytes, so no value can end its line
    // early and add a header of its own.
    static QByteArray composeHead(CTask_FormData& task, const QString& host, const QString& contentType, qint64 length);
    // `text` without control bytes (below 0x20, and 0x7f).
    static QString headerSafe(const QString& text);

private:
    bool socketReady() const;
    QByteArray buildHead(CTask_FormData& task, const QString& contentTypeLine, qint64 length) const;
    void write(const QByteArray& bytes);

    qint64 createTime_ = 0;
    CTask_FormData task_;
    QTcpSocket* socket_ = nullptr;
};

Q_DECLARE_METATYPE(SCI_ExecObj_Send)

class SCI_ExecObj_Recv_Base {
public:
    virtual ~SCI_ExecObj_Recv_Base();
    virtual void addBody(const QByteArray& bytes);
    virtual QByteArray showBody() const;
    virtual QString showHead() const;
    virtual qint64 getNeedLength() const = 0;
    virtual bool analysisIntegrality() = 0;
    virtual CTask_FormData getFormData() const = 0;

protected:
    int sessionIndex_ = -1;
    QString head_;
    QByteArray body_;
};

// Reads one message: the head at construction, the body through addBody.
class SCI_ExecObj_Recv : public SCI_ExecObj_Recv_Base {
public:
    // Limits on what a peer may make us build.
    static constexpr qint64 kMaxPictureBytes = 256LL * 1024 * 1024;
    static constexpr int kMaxPictureSide = 32768;

    SCI_ExecObj_Recv(const QByteArray& head, int sessionIndex);

    void setDuplex_Info(const QHostAddress& address, quint16 port);
    qint64 getNeedLength() const override;
    bool analysisIntegrality() override;
    CTask_FormData getFormData() const override;
    void addBody(const QByteArray& bytes) override;
    void addBody(const char* data, qint64 size);
    void reserveBody(qint64 size);

    // Head checks: a start line of a request or a status line, one
    // well-formed Content-Length at most, no transfer coding. A head that
    // fails them cannot be framed and its connection is closed.
    bool headValid() const { return headError_.isEmpty(); }
    QString headError() const { return headError_; }
    bool startLineValid() const { return startLineValid_; }
    qint64 contentLength() const { return contentLength_; }
    const QString& taskId() const { return userAgent_; }
    const QString& target() const { return target_; }
    bool isRequest() const { return !target_.isEmpty(); }

    static bool analysisIntegrality_json(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_multipart(const QString& boundary, const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_file(const QByteArray& body, CTask_FormData& task);
    static bool analysisIntegrality_Default(const QByteArray& body, CTask_FormData& task);

private:
    QString firstWord_;
    QString target_;
    QString userAgent_;
    QString userId_;
    QString contentType_;
    qint64 contentLength_ = 0;
    CTask_FormData task_;
    QString headError_;
    bool startLineValid_ = false;
};

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
