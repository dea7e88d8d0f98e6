// Modbus TCP server: a PLC reads the run and detect state and two counters
// from holding registers 0-3 and clears the counters by writing 1 to
// register 4.
//
// The listening socket and every connection live on the one thread of the
// server's own pool, which waits on them with epoll: a request costs one
// wait, one read and one write, with nothing copied through a socket
// object's buffers and no event loop's book-keeping in between. Reads answer from the state
// that the GUI thread publishes (see ApiSnapshot). The counter clear, and a
// read before anything is published, is handed to the thread that owns this
// object (the GUI thread) and the pool thread waits for it, with a limit, so
// that the counters are cleared where they are written.
//
// Places. At most kMaxConnections connections hold a place. Every
// connection that arrives is accepted at once, so the listen queue never
// fills and a client's connect is always answered. Up to kMaxWaiting of them
// wait beside the places, without one, for kGraceMs or until their first
// whole request; no one pushes them off in that time, except that when the
// waiting room is full, the one waiting longest gives way to a new one once
// it has waited kMinWaitMs without completing a request (what it has sent is
// read first); with none such, the new one is closed at once.
//
// A waiting connection that completes its first request, or whose grace
// ends, takes a place: a free one, else the place of a connection that holds
// one without having sent a whole request (the one accepted first gives
// way), else, for one that asks, the place of the careless client's
// connection (carelessHolder says which). With no place to be had, a
// connection that asked gets its answers and is then closed, a silent one is
// closed. A connection that sends no whole request for kIdleCloseMs, or
// leaves a begun request unfinished for kPartialAduMs, is closed.
//
// So a PLC that keeps its connection and polls at least every 60 s from an
// address of its own is never pushed off: until its second poll only the
// connections of addresses that crowd the places give way to others, from
// then on its rhythm keeps its place. A careless client that opens a
// connection for each poll pushes off its own connections. One that connects
// for each poll and sends its request at once is answered beside any number
// of idle or silent peers.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QVector>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>

struct ApiSnapshot;
class QTcpServer;
class QThreadPool;

class ModbusServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = 502;
    static constexpr int kMaxAdu = 260;          // MBAP header + PDU, Modbus limit
    static constexpr int kMaxReadQuantity = 125; // registers per read
    static constexpr int kMaxConnections = 16;   // places
    static constexpr int kMaxWaiting = 496;      // connections waiting beside them
    static constexpr int kDefaultHandOverMs = 2000;
    // A connection that sends no whole request for this long is closed:
    // twice the slowest common poll period, so that a client asking once a
    // minute is far from it, whatever the sweep and the round trip.
    static constexpr int kIdleCloseMs = 120000;
    // A begun ADU must be whole within this time, or its connection is
    // closed: the stream cannot be resynchronised after a lost piece.
    static constexpr int kPartialAduMs = 5000;
    // A new connection waits this long for its first whole request before
    // it needs a place, so that the request a client sends right after
    // connecting is read before it may be closed.
    static constexpr int kGraceMs = 100;
    // With the waiting room full, the connection that has waited the longest
    // gives way to a new one once it has waited this long without a whole
    // request.
    static constexpr int kMinWaitMs = 10;
    // When every place is taken, no answered connection gives way to one
    // that asks before it has sent nothing for this long.
    static constexpr int kIdleGiveWayMs = 5000;
    // An answered connection of an address that does not crowd the places
    // keeps its place this long after its last request, rhythm or not: a
    // PLC polling every 60 s is answered twice, and so keeps a rhythm,
    // within it.
    static constexpr int kLoneKeepMs = 90000;
    // A connection keeps its rhythm while it has been quiet for no longer
    // than twice its interval plus this (a late poll, a slow round trip).
    static constexpr int kRhythmSlackMs = 2000;

    // Exception codes of the replies.
    static constexpr quint8 kIllegalFunction = 0x01;
    static constexpr quint8 kIllegalAddress = 0x02;
    static constexpr quint8 kIllegalValue = 0x03;
    static constexpr quint8 kDeviceBusy = 0x06;

    // Registers 0-3 as the GUI thread reads them.
    using Registers = std::array<quint16, 4>;

    // How one request reaches the program's data. Both return false when the
    // access did not happen (time-out or stop); `clear` runs the counter clear.
    struct DataAccess {
        std::function<bool(Registers*)> read;
        std::function<bool()> clear;
    };

    // Listens on `address`:`port` from the end of the constructor.
    explicit ModbusServer(const QHostAddress& address = QHostAddress::Any, quint16 port = kDefaultPort);
    ~ModbusServer() override;

    bool reAction(const QHostAddress& address, quint16 port);
    bool initialize();
    void deinitialize();
    bool isRunning() const { return running_.load(); }
    // The port actually bound (useful when constructed with port 0).
    quint16 serverPort() const { return boundPort_.load(); }
    void setHandOverTimeout(int ms) { handOverMs_.store(ms); }
    // Both take effect at the next start of the server.
    void setIdleLimits(int idleMs, int partialMs);
    // These take effect at once (shorter times let a test play through
    // minutes of polls in seconds).
    void setIdleGiveWay(int ms) { idleGiveWayMs_.store(std::max(0, ms)); }
    void setLoneKeep(int ms) { loneKeepMs_.store(std::max(0, ms)); }
    void setRhythmSlack(int ms) { rhythmSlackMs_.store(std::max(0, ms)); }
    // Connections holding a place now.
    int connectionCount() const { return connectionCount_.load(); }
    // Connections waiting for a place now.
    int waitingCount() const { return waitingCount_.load(); }

    // Length of the ADU at the start of `data`: 0 while more bytes are
    // needed, -1 when the header's length field can never be valid (the
    // stream cannot be resynchronised), otherwise the byte count.
    static int aduLength(const char* data, int size);

    // The reply to one whole ADU; an empty result means "no answer".
    static QByteArray analysis(const QByteArray& adu, const DataAccess& access);

    // A connection holding a place, as the choice of who gives way sees it.
    struct Holder {
        QString source;             // the peer's address
        quint64 requests = 0;       // whole ADUs received
        qint64 lastRequestMs = 0;   // accepted, or last whole ADU
        qint64 longestGapMs = 0;    // between two whole ADUs, the longest
    };
    struct GiveWayTimes {
        int idleGiveWayMs = kIdleGiveWayMs;
        int loneKeepMs = kLoneKeepMs;
        int rhythmSlackMs = kRhythmSlackMs;
    };
    // Of `holders` (all that hold a place), the one that gives way at `now`
    // to a newcomer from `source` that asks, or -1: a client keeping its
    // rhythm never does; one of an address that holds at least two places
    // more than `source`, or of `source` itself, once it has been quiet for
    // the give-way time; any other answered one once it has been quiet for
    // the lone-keep time, unless `source` has itself given way lately
    // (`sourceGaveWay`: one pushed off does not push off the next in turn).
    // Of those, the one of the address holding the most places, then the one
    // that asked least, then the one quiet the longest.
    static int carelessHolder(const QVector<Holder>& holders, const QString& source, bool sourceGaveWay,
                              qint64 now, const GiveWayTimes& times);

    // GUI-thread side of the hand-over.
    static Registers getData();
    // Registers 0-3 of a published state.
    static Registers registersOf(const ApiSnapshot& state);
    static void clearCounters();

signals:
    void readyToClose();

private:
    bool onStart();
    void onFinish();
    void runLoop();
    bool watch(int op, int fd, quint32 events);
    void closeLoopFds();
    void acceptAll();
    void onNewConnection(qintptr descriptor);
    bool takePlace(int fd, bool asks);
    int placeToGiveWay(qint64 now, bool asks, const QString& source) const;
    void endGraces();
    void refuse(int fd, bool answered);
    bool makeRoom();
    void countConnections();
    void onReadable(int fd);
    void onWritable(int fd);
    void sendReply(int fd, const QByteArray& reply);
    void closeConnection(int fd);
    void dropGoneConnections(bool placedOnly);
    void sweep();
    bool handOver(bool clear, Registers* regs);
    DataAccess dataAccess();

    QHostAddress address_;
    quint16 port_ = 0;
    std::shared_ptr<QThreadPool> pool_;
    struct Connection : Holder {
        QString peer;               // "address:port", for the log
        QByteArray buffer;          // received bytes of ADUs not yet whole
        QByteArray unsent;          // reply bytes the kernel has not taken yet
        qint64 acceptedMs = 0;      // when the connection was accepted
        quint64 acceptOrder = 0;    // increases with every connection accepted
        qint64 partialSinceMs = 0;  // first byte of the ADU still incomplete; 0: none
        bool placed = false;        // holds a place (else waits for one)
    };
    // Pool thread only:
    std::shared_ptr<QTcpServer> server_;  // owns the listening descriptor
    int listenFd_ = -1;
    int epoll_ = -1;
    bool acceptPaused_ = false;  // the listener is not watched until acceptResumeMs_
    qint64 acceptResumeMs_ = 0;
    int sweepMs_ = 1000;
    quint64 accepted_ = 0;       // connections accepted, for their order
    QHash<int, Connection> connections_;  // by descriptor
    // Addresses whose answered connection gave way, and when; forgotten
    // after the lone-keep time.
    QHash<QString, qint64> gaveWay_;
    int places_ = 0;             // of connections_, those that hold a place
    // The waiting connections in accept order (descriptor, accept order);
    // entries of those that took a place or were closed are skipped.
    QList<QPair<int, quint64>> waiting_;
    // Wakes the server thread for a stop (written from any thread).
    std::atomic<int> wake_{-1};

    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<quint16> boundPort_{0};
    std::atomic<int> handOverMs_{kDefaultHandOverMs};
    std::atomic<int> idleCloseMs_{kIdleCloseMs};
    std::atomic<int> partialAduMs_{kPartialAduMs};
    std::atomic<int> idleGiveWayMs_{kIdleGiveWayMs};
    std::atomic<int> loneKeepMs_{kLoneKeepMs};
    std::atomic<int> rhythmSlackMs_{kRhythmSlackMs};
    std::atomic<int> connectionCount_{0};
    std::atomic<int> waitingCount_{0};
};
