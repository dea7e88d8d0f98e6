#include "tcp_push2app.h"

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
    qInfo("[POST_2_APP] - %s : all-time(ms): %lld app-recv(ms): %d app-parse(ms): %d",
          qPrintable(property("type").toString()), static_cast<long long>(elapsed), recv, parse);
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
            qInfo("[Subscriber] ++++++++++++++++++++++++ %s send success!", qPrintable(task.url));
            p->sendAsync(task);
        } else {
            qWarning("[POST_2_APP] ERROR NO CONNECTED (/v18/http/httpapi__subscriber_detectinfo)");
            p->deleteLater();
        }
    }
}
