#include "webskt_core.h"

#include "publictools.h"
#include "poolloop_p.h"
#include "peertrafficlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QThread>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

// ---------------------------------------------------------------------------
// Core

WebSkt_Core::WebSkt_Core(QObject* parent) : QObject(parent), socketThreadPool_(new QThreadPool)
{
    socketThreadPool_->setMaxThreadCount(1);
    qRegisterMetaType<CTask_FormData_WebSkt_Json>("CTask_FormData_WebSkt_Json");
}

WebSkt_Core::~WebSkt_Core() = default;

bool WebSkt_Core::onLoopThread() const
{
    return QThread::currentThread() == loopThread_.load();
}

bool WebSkt_Core::isRunning()
{
    return loopActive_.load();
}

bool WebSkt_Core::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    if (onLoopThread())
        return false;
    hostAddress_ = address;
    hostPort_ = port;
    return initialize();
}

bool WebSkt_Core::initialize()
{
    if (isRunning())
        return false;
    loopActive_ = true;
    stopRequested_ = false;
    return nettools::startLoopOnPool(*socketThreadPool_,
                                     [this](nettools::LoopStart* start) { runLoop(start); });
}

void WebSkt_Core::runLoop(nettools::LoopStart* start)
{
    loopThread_ = QThread::currentThread();
    if (!onStart()) {
        onFinish();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        loopThread_ = nullptr;
        loopActive_ = false;
        start->report(false);
        return;
    }
    QEventLoop loop;
    const auto quit = connect(this, &WebSkt_Core::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    start->report(true);
    if (!stopRequested_)
        loop.exec();
    disconnect(quit);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    onFinish();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    loopThread_ = nullptr;
    loopActive_ = false;
}

void WebSkt_Core::deinitialize()
{
    if (!isRunning())
        return;
    stopRequested_ = true;
    emit readyToClose();
    if (onLoopThread()) {
        qWarning() << "WebSkt_Core: stop requested on its own loop thread";
        return;
    }
    if (socketThreadPool_->activeThreadCount() > 0)
        socketThreadPool_->waitForDone(-1);
}

void WebSkt_Core::sendTextMessage(CTask_FormData_WebSkt_Json rec)
{
    if (rec.user_agent.isEmpty())
        rec.user_agent = QStringLiteral("sc_webskt#") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
    emit sig_send_message(rec);
}

CTask_FormData_WebSkt_Json WebSkt_Core::analyseBuffer_Setup1_Json(const QString& text)
{
    CTask_FormData_WebSkt_Json rec;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError)
        return rec;
    const QJsonObject obj = doc.object();
    if (obj.contains(QStringLiteral("url")) && obj.contains(QStringLiteral("user_agent"))) {
        rec.url = obj.value(QStringLiteral("url")).toString();
        rec.user_agent = obj.value(QStringLiteral("user_agent")).toString();
        const QJsonValue data = obj.value(QStringLiteral("data"));
        if (data.isObject()) {
            rec.data = data.toObject();
            rec.valid = true;
        }
    }
    return rec;
}

QString WebSkt_Core::serialize_Setup2_Json(CTask_FormData_WebSkt_Json rec)
{
    QJsonObject obj;
    obj.insert(QStringLiteral("url"), rec.url);
    obj.insert(QStringLiteral("user_agent"), rec.user_agent);
    obj.insert(QStringLiteral("data"), rec.data);
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Compact));
}

// ---------------------------------------------------------------------------
// Server

WebSkt_Server::WebSkt_Server(QObject* parent) : WebSkt_Core(parent) {}

WebSkt_Server::~WebSkt_Server()
{
    deinitialize();
    webSocketServer_.reset();
}

int WebSkt_Server::isCnted()
{
    QReadLocker lock(&clientsLock_);
    return clients_.size();
}

bool WebSkt_Server::onStart()
{
    webSocketServer_.reset(new QWebSocketServer(QStringLiteral("websocket"), QWebSocketServer::NonSecureMode));
    QWebSocketServer* server = webSocketServer_.data();
    connect(server, &QWebSocketServer::newConnection, server, [this] { acceptPending(); });
    connect(this, &WebSkt_Core::sig_send_message, server,
            [this](CTask_FormData_WebSkt_Json rec) { sendHandler(rec); });
    if (!server->listen(hostAddress_, hostPort_)) {
        qInfo() << "websocket listen fail";
        listenPort_ = 0;
        return false;
    }
    listenPort_ = server->serverPort();
    return true;
}

void WebSkt_Server::acceptPending()
{
    QWebSocketServer* server = webSocketServer_.data();
    while (server && server->hasPendingConnections()) {
        QWebSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        static PeerTrafficLog connected(QStringLiteral("WebSkt_Server has new client connected"));
        connected.note(socket->peerAddress().toString());
        socket->setParent(nullptr);
        if (isCnted() >= maxClients_) {
            static PeerTrafficLog refused(QStringLiteral("WebSkt_Server: too many clients, refusing"));
            refused.note(socket->peerAddress().toString());
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        {
            QWriteLocker lock(&clientsLock_);
            clients_.insert(socket, ::gettimeofday_ms());
        }
        connect(socket, &QWebSocket::textMessageReceived, socket, [this, socket](const QString& text) {
            {
                QWriteLocker lock(&clientsLock_);
                clients_.insert(socket, ::gettimeofday_ms());
            }
            CTask_FormData_WebSkt_Json rec = analyseBuffer_Setup1_Json(text);
            if (!rec.valid)
                return;
            rec.socket = quint64(reinterpret_cast<quintptr>(socket));
            emit sig_recv_message(rec);
        });
        connect(socket, &QWebSocket::disconnected, socket, [this, socket] {
            static PeerTrafficLog gone(QStringLiteral("WebSkt_Server had one client disconnected"));
            gone.note(socket->peerAddress().toString());
            socket->deleteLater();
            QWriteLocker lock(&clientsLock_);
            clients_.remove(socket);
        });
    }
}

void WebSkt_Server::sendHandler(const CTask_FormData_WebSkt_Json& rec)
{
    const QString text = serialize_Setup2_Json(rec);
    QReadLocker lock(&clientsLock_);
    QList<void*> targets;
    void* wanted = reinterpret_cast<void*>(quintptr(rec.socket));
    if (rec.socket == 0) {
        targets = clients_.keys();
    } else if (clients_.contains(wanted)) {
        targets << wanted;
    } else {
        // Its client has gone; the message was for nobody else.
        static PeerTrafficLog orphans(QStringLiteral("WebSkt_Server: messages whose client has gone, dropped"));
        orphans.note(rec.user_agent.left(200));
        return;
    }
    for (void* t : targets) {
        if (static_cast<QWebSocket*>(t)->sendTextMessage(text) <= 0) {
            static PeerTrafficLog failed(QStringLiteral("QWebSocket send fail"));
            failed.note();
        }
    }
}

void WebSkt_Server::onFinish()
{
    // Clients end with the server; nothing may keep a handle to them.
    QList<void*> gone;
    {
        QWriteLocker lock(&clientsLock_);
        gone = clients_.keys();
        clients_.clear();
    }
    for (void* p : gone) {
        auto* socket = static_cast<QWebSocket*>(p);
        socket->disconnect(this);
        QObject::disconnect(socket, nullptr, socket, nullptr);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        socket->flush();
        delete socket;
    }
    if (webSocketServer_)
        webSocketServer_->close();
    webSocketServer_.reset();
    listenPort_ = 0;
}

// ---------------------------------------------------------------------------
// Client

WebSkt_Client::WebSkt_Client(QObject* parent) : WebSkt_Core(parent) {}

WebSkt_Client::~WebSkt_Client()
{
    deinitialize();
    webSocket_.reset();
}

int WebSkt_Client::isCnted()
{
    return haveSocket_ && ::curtime_qint64_2_int() - pongTick_ <= 199 ? 1 : 0;
}

bool WebSkt_Client::onStart()
{
    QEventLoop loop;
    connectLoop_ = &loop;
    webSocket_.reset(new QWebSocket(QString(), QWebSocketProtocol::Version13));
    QWebSocket* socket = webSocket_.data();
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    haveSocket_ = true;
    timerHeartbeat_ = new QTimer;
    connect(timerHeartbeat_, &QTimer::timeout, socket, [socket] {
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->ping(QByteArrayLiteral("WebSkt_Client"));
    });
    connect(socket, &QWebSocket::textMessageReceived, socket, [this, socket](const QString& text) {
        CTask_FormData_WebSkt_Json rec = analyseBuffer_Setup1_Json(text);
        if (!rec.valid)
            return;
        rec.socket = quint64(reinterpret_cast<quintptr>(socket));
        emit sig_recv_message(rec);
    });
    connect(socket, &QWebSocket::connected, socket, [this, socket] {
        static PeerTrafficLog connected(QStringLiteral("WebSkt_Client connected"));
        connected.note(socket->peerAddress().toString());
        pongTick_ = ::curtime_qint64_2_int();
        timerHeartbeat_->start(kHeartbeatMs);
        if (connectLoop_)
            connectLoop_->quit();
    });
    connect(this, &WebSkt_Core::sig_send_message, socket, [this, socket](CTask_FormData_WebSkt_Json rec) {
        rec.socket = quint64(reinterpret_cast<quintptr>(socket));
        if (socket->sendTextMessage(serialize_Setup2_Json(rec)) < 1) {
            static PeerTrafficLog failed(QStringLiteral("WebSkt_Client send fail"));
            failed.note();
        }
    });
    connect(socket, &QWebSocket::pong, socket, [this] { pongTick_ = ::curtime_qint64_2_int(); });

    const QString url = QStringLiteral("ws://%1:%2").arg(hostAddress_.toString().remove(QStringLiteral("::ffff:"))).arg(hostPort_);
    QTimer timer_connect_timeout;
    timer_connect_timeout.setSingleShot(true);
    connect(&timer_connect_timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer_connect_timeout.start(kConnectTimeoutMs);
    socket->open(QUrl(url));
    loop.exec();
    connectLoop_ = nullptr;
    const bool connected = timer_connect_timeout.isActive();
    // A peer that comes and goes makes one of these per attempt: counted.
    static PeerTrafficLog attempts(QStringLiteral("WebSkt_Client connect attempts"));
    attempts.note(connected ? QStringLiteral("connected") : QStringLiteral("timed out"));
    return connected;
}

void WebSkt_Client::onFinish()
{
    haveSocket_ = false;
    delete timerHeartbeat_;  // this thread runs no loop afterwards
    timerHeartbeat_ = nullptr;
    if (webSocket_) {
        webSocket_->disconnect();
        webSocket_->close();
        webSocket_->flush();
    }
    webSocket_.reset();
}
