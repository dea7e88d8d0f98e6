// Base of every HTTP service: one TCP reactor (server or client), a route map
// from url to handler, 404 for unknown urls, status replies and asynchronous
// sends. A derived service fills routeMap_ and calls startReactor.
#pragma once

#include "session.h"
#include "tcpreactor.h"

#include <QFuture>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QSharedPointer>
#include <QThreadPool>

#include <functional>

// The side of a service's link.
enum XANT_TYPE : int {
    XANT_SERVER = 0,  // a listening reactor
    XANT_CLIENT = 1,  // a connecting reactor
};

class HttpManager : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(CTask_FormData)>;

    explicit HttpManager(XANT_TYPE type);
    ~HttpManager() override;

    // mode 1: requests and replies handled on this object's thread (queued);
    // mode 2: requests handled on the reactor's loop thread; mode 3: requests
    // handled by two worker threads of this object.
    virtual bool startReactor(const QHostAddress& address, quint16 port, int mode);
    virtual void callback_immediately(const CTask_FormData& request, int code, QString msg);

    void Reload_Future_Workfunc(bool stopOnly);
    void sendAsync(const CTask_FormData& task);

    // The hand-over from the reactor and the workers: cuts the reactor's
    // signals to this object, stops its loop and waits for its thread, then
    // ends the mode-3 workers. From the return on no route of this object
    // runs on another thread.
    //
    // The rule: in mode 2 the reactor's loop thread calls SlotRecvRequest and
    // with it the routes directly; in mode 3 the workers call them. Routes
    // are the derived service's (they capture it and use its members), so a
    // derived class that starts a server in mode 2 or 3 calls stopReactor()
    // first in its destructor, before its members go. ~HttpManager does it
    // again as a last resort, too late for a derived part.
    void stopReactor();

    QSharedPointer<XANC::TcpReactor> reactor() const;
    XANT_TYPE type() const { return type_; }
    // A client link whose start must not wait for its peer: startReactor
    // returns at once and linkConnected or linkConnectFailed follows.
    void setBackgroundConnect(bool on, int limitMs = XANC::TcpCliReactor::kBackgroundConnectMs)
    {
        backgroundConnect_ = on;
        backgroundLimitMs_ = limitMs;
    }

public slots:
    virtual void SlotRecvResponse(CTask_FormData obj, bool stashed);
    virtual void SlotRecvRequest(CTask_FormData obj);

signals:
    void readyToClose();
    void new_message_arrive();
    void linkConnected();
    void linkConnectFailed();

protected:
    Handler findRoute(const QString& url) const;

    QSharedPointer<XANC::TcpReactor> reactor_;
    XANT_TYPE type_;
    QMap<QString, Handler> routeMap_;
    QList<CTask_FormData> requestQueue_;
    QMutex queueMutex_;
    QList<QFuture<void>> futures_;
    QSharedPointer<QThreadPool> workerPool_;

private:
    void workerLoop(QSemaphore* ready);
    void drainOne();
    mutable QMutex reactorMutex_;
    bool backgroundConnect_ = false;
    int backgroundLimitMs_ = XANC::TcpCliReactor::kBackgroundConnectMs;
};
