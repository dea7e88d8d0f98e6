// JSON messages over WebSocket, as server or as client. Like the TCP
// reactors, each object runs its sockets on the one thread of its own pool;
// messages enter through sendTextMessage (any thread) and leave through
// sig_recv_message (emitted on that thread).
#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QReadWriteLock>
#include <QSharedPointer>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

namespace nettools {
class LoopStart;
}

class QEventLoop;
class QWebSocket;
class QWebSocketServer;

struct CTask_FormData_WebSkt_Json {
    bool valid = false;
    quint64 socket = 0;  // the QWebSocket a message came from or goes to; 0 none
    QString url;
    QString user_agent;
    QJsonObject data;
};

Q_DECLARE_METATYPE(CTask_FormData_WebSkt_Json)

class WebSkt_Core : public QObject {
    Q_OBJECT
public:
    // Incoming messages larger than this are refused by the socket.
    static constexpr quint64 kMaxMessageBytes = 16 * 1024 * 1024;

    explicit WebSkt_Core(QObject* parent = nullptr);
    ~WebSkt_Core() override;

    virtual int isCnted() = 0;
    virtual bool reAction(const QHostAddress& address, quint16 port);
    virtual void sendTextMessage(CTask_FormData_WebSkt_Json rec);
    virtual bool isRunning();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
    virtual bool initialize();
    virtual void deinitialize();

    CTask_FormData_WebSkt_Json analyseBuffer_Setup1_Json(const QString& text);
    QString serialize_Setup2_Json(CTask_FormData_WebSkt_Json rec);

signals:
    void readyToClose();
    void sig_send_message(CTask_FormData_WebSkt_Json formdata);
    void sig_recv_message(CTask_FormData_WebSkt_Json formdata);

protected:
    bool onLoopThread() const;

    QHostAddress hostAddress_;
    quint16 hostPort_ = 0;
    QSharedPointer<QThreadPool> socketThreadPool_;

private:
    void runLoop(nettools::LoopStart* started);
    std::atomic<bool> loopActive_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<QThread*> loopThread_{nullptr};
};

class WebSkt_Server : public WebSkt_Core {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 64;

    explicit WebSkt_Server(QObject* parent = nullptr);
    ~WebSkt_Server() override;

    int isCnted() override;
    bool onStart() override;
    void onFinish() override;
    // The port listened on (useful when started on port 0).
    quint16 serverPort() const { return listenPort_; }
    void setMaxClients(int n) { maxClients_ = n; }

protected:
    QSharedPointer<QWebSocketServer> webSocketServer_;
    QReadWriteLock clientsLock_;
    QMap<void*, qint64> clients_;

private:
    void acceptPending();
    void sendHandler(const CTask_FormData_WebSkt_Json& rec);
    std::atomic<quint16> listenPort_{0};
    std::atomic<int> maxClients_{kMaxClients};
};

class WebSkt_Client : public WebSkt_Core {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 200;
    static constexpr int kHeartbeatMs = 900;

    explicit WebSkt_Client(QObject* parent = nullptr);
    ~WebSkt_Client() override;

    int isCnted() override;
    bool onStart() override;
    void onFinish() override;

protected:
    QSharedPointer<QWebSocket> webSocket_;
    QTimer* timerHeartbeat_ = nullptr;
    std::atomic<int> pongTick_{0};

private:
    std::atomic<bool> haveSocket_{false};
    QEventLoop* connectLoop_ = nullptr;
};
