// HTTP/1.1-form messages over UDP. The reactor owns one UDP socket on the
// one thread of its own pool (running an event loop there), sends byte
// strings to any address and port, and cuts the datagrams it receives back
// into whole messages with the library's reader, handing each on as a
// request (it has a url) or a response.
//
// All datagrams share one receive buffer, so one sender at a time (or whole
// messages per datagram) is assumed. The owner calls deinitialize() before
// destroying a running reactor; the destructor does it as a last resort.
#pragma once

#include "session.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSharedPointer>
#include <QThreadPool>

#include <atomic>
#include <memory>

namespace nettools {
class LoopStart;
}

class QUdpSocket;

namespace XANC {

class UdpReactor : public QObject {
    Q_OBJECT
public:
    // What a peer may make the reactor hold: a head must be whole within this
    // many buffered bytes, and a body may not announce more.
    static constexpr int kMaxHeadBytes = 64 * 1024;
    static constexpr qint64 kMaxBodyBytes = 16LL * 1024 * 1024;
    static constexpr int kHeartbeatMs = 1000;

    explicit UdpReactor(QObject* parent = nullptr);
    ~UdpReactor() override;

    virtual bool reAction();
    virtual bool sendMsg(const QByteArray& content, QString ip, int port, bool restart);
    virtual bool getTimerAlived() const;
    virtual bool isRunning();
    virtual bool onStart();
    virtual void onFinish();
    virtual bool initialize();
    virtual void deinitialize();

    // The local port the socket has taken (0 before the first send).
    quint16 localPort() const { return localPort_.load(); }

    // The head/body step and the finishing step, on the loop thread.
    void analyseBuffer_Setup1(const QHostAddress& address, quint16 port);
    void analyseBuffer_Setup2_5();

signals:
    void sigRequest(CTask_FormData task);
    void sigResponse(CTask_FormData task);
    void sigSendMsg(const QByteArray& content, QString ip, int port);
    void readyToClose();

private:
    void runLoop(nettools::LoopStart* started);
    void readPending();
    void sendStep(const QByteArray& content, const QString& ip, int port);

    QSharedPointer<QThreadPool> socketThreadPool_;
    QSharedPointer<QUdpSocket> socket_;
    QByteArray recvBuffer_;
    int headFlag_ = 0;
    std::shared_ptr<SCI_ExecObj_Recv> reader_;
    std::atomic<int> aliveTime_ {0};
    std::atomic<bool> loopActive_ {false};
    std::atomic<bool> stopRequested_ {false};
    std::atomic<quint16> localPort_ {0};
};

}  // namespace XANC
