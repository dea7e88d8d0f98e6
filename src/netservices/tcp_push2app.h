// Pushes to subscribers: each push is one HTTP/1.1 request sent by a
// short-lived client, Tcp_Push2APP, that lives until the subscriber's answer,
// a failed connection, or 3000 ms.
//
// Every push object lives on the one push thread, which runs its own event
// loop and does every connect, so neither the GUI thread nor the picture
// thread ever waits for a subscriber.
#pragma once

#include "httpmanager.h"
#include "subscribers.h"

#include <QObject>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <atomic>

class Tcp_Push2APP : public HttpManager {
    Q_OBJECT
public:
    static constexpr int kLifetimeMs = 3000;

    Tcp_Push2APP();
    ~Tcp_Push2APP() override;

    // Push objects alive in the process.
    static int liveObjects() { return live_.load(); }

public slots:
    void SlotRecvResponse(CTask_FormData obj, bool stashed) override;
    void SlotRecvRequest(CTask_FormData obj) override;

private:
    QTimer* timer_;
    static std::atomic<int> live_;
};

// The push thread and what runs on it.
class PushDispatcher : public QObject {
    Q_OBJECT
public:
    PushDispatcher();
    ~PushDispatcher() override;  // deletes the push objects still alive, ends the thread

    // From any thread: one push of `task` to each target, on the push thread.
    void push(const QList<Skt_Session>& targets, const CTask_FormData& task);

private:
    void pushNow(const QList<Skt_Session>& targets, const CTask_FormData& task);

    QThread thread_;
    QObject* context_;           // lives on the push thread; work is queued to it
    QSet<Tcp_Push2APP*> alive_;  // push thread only
};
