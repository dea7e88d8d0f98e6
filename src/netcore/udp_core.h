// The UDP core under the camera discovery: the table of this machine's
// network interfaces, listening sockets served by one listener thread that
// hands datagrams (with their real length) to a virtual handler on the
// object's own thread, a send-and-wait call over a short-lived broadcast
// socket, and two lookups of the local interface belonging to an address.
//
// Any host of the network can send to a listening port as fast as it likes,
// and the object's thread is usually the GUI thread. So the hand-over from
// the listener is bounded: datagrams are taken only while the receive window
// is open (the rest are dropped on the listener's thread), at most
// kMaxQueued wait for the object's thread, at most one delivery call is
// queued to it at a time, and drops and receipts are logged as counts.
#pragma once

#include "peertrafficlog.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <netinet/in.h>

#include <atomic>
#include <string>

class QThread;

// One local network interface.
struct NetBase {
    QString name;
    QString ip;
    QString mask;
    QString gateway;
    QString mac;
};

// The parameters of one send_core call.
struct Udpsend_Cond {
    std::string destIp = "255.255.255.255";
    int destPort = 10411;
    std::string sourceIp = "0.0.0.0";
    int waitMs = 100;    // how long to wait for an answer; above 1000 taken as 1000
    int resendMs = 0;    // interval between sends; 0 sends once
};

// Results of addListen and send_core.
enum BSU_INTER_ERROR {
    BSU_SUCCESS = 0,
    BSU_BROADCAST_OPTION = 2,  // addListen: SO_BROADCAST could not be set
    BSU_BIND = 4,              // addListen: bind failed
    BSU_NONBLOCK = 8,          // addListen: could not switch to non-blocking
    BSU_NO_ANSWER = 16,        // send_core: no answer within the wait
    BSU_BAD_TIMES = 32,        // send_core: negative wait or resend interval
};

Q_DECLARE_METATYPE(sockaddr_in)
Q_DECLARE_METATYPE(std::string)

// The sending socket of one send_core call, bound to a random port on the
// chosen source address. Descriptor 0 is a valid socket; -1 means none.
class BSU_BroadcastSocket {
public:
    static constexpr int kBindAttempts = 1000;

    explicit BSU_BroadcastSocket(const Udpsend_Cond& cond);
    ~BSU_BroadcastSocket();
    BSU_BroadcastSocket(const BSU_BroadcastSocket&) = delete;
    BSU_BroadcastSocket& operator=(const BSU_BroadcastSocket&) = delete;

    int send(const std::string& data);
    int send(const void* data, int length);
    int fd() const { return fd_; }

private:
    std::string destIp_;
    int destPort_ = 0;
    std::string sourceIp_;
    int waitMs_ = 0;
    int resendMs_ = 0;
    int fd_ = -1;
    sockaddr_in dest_ {};
};

class UDP_Core : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 200;
    static constexpr int kMaxDatagram = 2048;  // longer datagrams are cut
    static constexpr int kMaxWaitMs = 1000;
    // Answers from many devices arrive at once; give the kernel room for them.
    static constexpr int kReceiveBuffer = 1 << 20;

    explicit UDP_Core(QObject* parent = nullptr);
    ~UDP_Core() override;

    // Datagrams waiting for the object's thread; more are dropped (counted).
    static constexpr int kMaxQueued = 256;

    int addListen(std::string ip, int port);
    // Whether datagrams are taken in now. Open from the start; a user that
    // only expects answers during its own waits opens it for them.
    void setReceiveWindow(bool open) { windowOpen_ = open; }
    bool receiveWindowOpen() const { return windowOpen_.load(); }
    // Datagrams dropped so far: outside the window, or with the queue full.
    quint64 droppedOutsideWindow() const { return outsideLog_.total(); }
    quint64 droppedQueueFull() const { return overflowLog_.total(); }
    // Delivery calls queued to the object's thread so far.
    quint64 deliveries() const { return deliveries_.load(); }
    // Stops the listener and joins its thread. Subclasses call it first in
    // their destructors, before the handler they override goes away.
    void stopListen();
    bool isListening() const { return listening_.load(); }

    int send_core(Udpsend_Cond cond, std::string message, std::string& reply);

    NetBase foundNetBaseByIP(const QString& ip) const;
    QString getSameUseNet(QString ip) const;

    const QMap<QString, NetBase>& netTable() const { return netTable_; }
    QString deviceKey() const { return deviceKey_; }
    QString errorText() const { return errorText_; }
    bool ifaddrError() const { return ifaddrError_; }

    // Reads the interfaces of this machine (all but "lo") into a table keyed
    // by the MAC text; `failed` is set when some interface could not be read.
    static QMap<QString, NetBase> readInterfaces(bool* failed);

public slots:
    // Handles one datagram (its real bytes). The base version passes the text
    // up to the first NUL on to a waiting send_core.
    virtual QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf);
    virtual void PrintRecvMsg(QString result, QString line);

signals:
    void sig_sync_send_core(QString recv);

protected:
    // Handles what is queued now, at once (object's thread).
    void deliverQueued() { deliver(); }

    QMap<QString, NetBase> netTable_;
    QString deviceKey_;
    bool ifaddrError_ = false;
    QString errorText_;

private:
    struct Received {
        sockaddr_in from;
        QByteArray data;
    };
    static constexpr int kBatch = 64;
    void listenLoop();
    // Queues what the listener read for the object's thread (listener thread).
    void handOver(QVector<Received>& batch);
    // Runs the handler for each queued datagram, on the object's thread.
    void deliver();
    void wake();

    std::atomic<bool> windowOpen_ {true};
    QMutex queueMutex_;
    QVector<Received> queue_;      // under queueMutex_
    bool deliveryQueued_ = false;  // under queueMutex_: a deliver() call is pending
    std::atomic<quint64> deliveries_ {0};
    PeerTrafficLog outsideLog_ {QStringLiteral("UDP datagrams outside the receive window dropped")};
    PeerTrafficLog overflowLog_ {QStringLiteral("UDP datagrams dropped, receive queue full")};
    PeerTrafficLog receiveLog_ {QStringLiteral("UDP datagram")};

    std::atomic<bool> listening_ {false};
    QThread* listener_ = nullptr;
    QList<int> sockets_;
    QMutex socketsMutex_;
    int wakeFd_ = -1;  // eventfd that breaks the listener's poll at once
};
