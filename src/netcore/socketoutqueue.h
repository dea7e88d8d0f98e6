#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <memory>

class QFile;

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
    // The queue of the socket if it has one yet, else null.
    static SocketOutQueue* existing(QTcpSocket* socket);

    void appendBytes(const QByteArray& bytes);
    // The peer as the HOST line names it ("address:port"), formed again only
    // when the peer changes.
    const QString& hostText();
    // Streams an opened file of `size` bytes; takes ownership of the file.
    void appendFile(QFile* file, qint64 size, int timeoutMs);
    // Writes a block in chunks paced by the socket.
    void appendPaced(const QByteArray& bytes, int timeoutMs);
    bool idle() const { return items_.empty(); }
    // Bytes of blocks that wait here in memory (files are read as they go).
    qint64 queuedBytes() const;

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
