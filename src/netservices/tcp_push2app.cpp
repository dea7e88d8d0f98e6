#include "tcp_push2app.h"

#include "peertrafficlog.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonObject>

std::atomic<int> Tcp_Push2APP::live_{0};

Tcp_Push2APP::Tcp_Push2APP()
    : HttpManager(XANT_CLIENT)
    , timer_(new QTimer(this))
{
    ++live_;
    connect(timer_, &QTimer::timeout, this, &QObject::deleteLater);
    timer_->setSingleShot(true);
    timer_->start(kLifetimeMs);
}

Tcp_Push2APP::~Tcp_Push2APP()
{
    --live_;
}

void Tcp_Push2APP::SlotRecvResponse(CTask_FormData obj, bool stashed)
{
    Q_UNUSED(stashed);
    if (obj.taskId != property("uuid").toString())
        return;
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - property("create-time").toLongLong();
    int recv = -1;
    int parse = -1;
    const QJsonValue result = obj.json.value(QStringLiteral("result"));
    if (result.isObject()) {
        const QJsonObject r = result.toObject();
        if (r.contains(QStringLiteral("recv_time")) && r.contains(QStringLiteral("analysis_time"))) {
            recv = r.value(QStringLiteral("recv_time")).toInt(-1);
            parse = r.value(QStringLiteral("analysis_time")).toInt(-1);
        }
    }
    // Subscribers answer as often as they are pushed to: counted.
    static PeerTrafficLog replies(QStringLiteral("[POST_2_APP] replies"));
    replies.note(QStringLiteral("%1 : all-time(ms): %2 app-recv(ms): %3 app-parse(ms): %4")
                     .arg(property("type").toString())
                     .arg(elapsed)
                     .arg(recv)
                     .arg(parse));
    timer_->stop();
    deleteLater();
}

void Tcp_Push2APP::SlotRecvRequest(CTask_FormData obj)
{
    Q_UNUSED(obj);
}

// ---- The push thread -------------------------------------------------------------

PushDispatcher::PushDispatcher()
    : context_(new QObject)
{
    thread_.setObjectName(QStringLiteral("pushes"));
    context_->moveToThread(&thread_);
    thread_.start();
}

PushDispatcher::~PushDispatcher()
{
    QMetaObject::invokeMethod(context_, [this] {
        const QSet<Tcp_Push2APP*> left = alive_;
        alive_.clear();
        for (Tcp_Push2APP* p : left) {
            p->disconnect(this);
            delete p;
        }
    }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;
}

void PushDispatcher::push(const QList<Skt_Session>& targets, const CTask_FormData& task)
{
    QMetaObject::invokeMethod(context_, [this, targets, task] { pushNow(targets, task); }, Qt::QueuedConnection);
}

void PushDispatcher::pushNow(const QList<Skt_Session>& targets, const CTask_FormData& task)
{
    for (const Skt_Session& target : targets) {
        auto* p = new Tcp_Push2APP;
        alive_.insert(p);
        connect(p, &QObject::destroyed, this, [this, p] { alive_.remove(p); }, Qt::DirectConnection);
        p->setProperty("create-time", QDateTime::currentMSecsSinceEpoch());
        p->setProperty("uuid", task.taskId);
        p->setProperty("type", task.url);
        if (p->startReactor(QHostAddress(target.ip), static_cast<quint16>(target.port), 1)) {
            static PeerTrafficLog sent(QStringLiteral("[Subscriber] pushes sent"));
            sent.note(task.url);
            p->sendAsync(task);
        } else {
            static PeerTrafficLog unreached(QStringLiteral("[POST_2_APP] ERROR NO CONNECTED"));
            unreached.note(QStringLiteral("%1:%2 %3").arg(target.ip).arg(target.port).arg(task.url));
            p->deleteLater();
        }
    }
}
