#include "httpmanager.h"

#include "peertrafficlog.h"

#include <QDebug>
#include <QEventLoop>
#include <QFutureInterface>
#include <QSemaphore>
#include <QVariant>

namespace {

// Time from the head's arrival to the whole message, and the number of reads.
void receiveReport(const CTask_FormData& record, qint64* usetime, int* packs)
{
    *usetime = -1;
    *packs = -1;
    QMutexLocker lock(&record.tasksMutex);
    if (record.tasks.isEmpty())
        return;
    const QMap<QString, QVariant> report = record.tasks.first().getReportParam();
    *usetime = report.value(QStringLiteral("_tsk_finishrecv_timing")).toLongLong() -
               report.value(QStringLiteral("_tsk_create_timing")).toLongLong();
    *packs = report.value(QStringLiteral("_tsk_recv_times")).toInt();
}

// What peers send decides how often these happen: one line per interval.
PeerTrafficLog& receivedLog()
{
    static PeerTrafficLog log(QStringLiteral("[Short_RCV] requests received"));
    return log;
}

PeerTrafficLog& notFoundLog()
{
    static PeerTrafficLog log(QStringLiteral("SlotRecvRequest 404 Not Found"));
    return log;
}

}  // namespace

HttpManager::HttpManager(XANT_TYPE type) : QObject(nullptr), type_(type), workerPool_(new QThreadPool)
{
    workerPool_->setMaxThreadCount(2);
}

HttpManager::~HttpManager()
{
    stopReactor();
    // Workers wait in their own loops; stopReactor told them to end before
    // the pool waits for them.
    workerPool_.reset();
}

void HttpManager::stopReactor()
{
    QSharedPointer<XANC::TcpReactor> r;
    {
        QMutexLocker lock(&reactorMutex_);
        r.swap(reactor_);
    }
    if (r) {
        // Cut first, so that a loop still in a call into us starts no other;
        // then wait for that call to end with the loop. A route that still
        // holds the reactor keeps a stopped one.
        QObject::disconnect(r.data(), nullptr, this, nullptr);
        r->deinitialize();
    }
    Reload_Future_Workfunc(true);
}

QSharedPointer<XANC::TcpReactor> HttpManager::reactor() const
{
    QMutexLocker lock(&reactorMutex_);
    return reactor_;
}

HttpManager::Handler HttpManager::findRoute(const QString& url) const
{
    const auto it = routeMap_.constFind(url);
    return it == routeMap_.cend() ? Handler() : it.value();
}

bool HttpManager::startReactor(const QHostAddress& address, quint16 port, int mode)
{
    stopReactor();  // the old link, with its connections and workers

    QSharedPointer<XANC::TcpReactor> r;
    if (type_ == XANT_CLIENT) {
        auto* client = new XANC::TcpCliReactor;
        client->setBackgroundConnect(backgroundConnect_, backgroundLimitMs_);
        // One of the two per start: a bounded hand-over.
        connect(client, &XANC::TcpCliReactor::sigConnected, this, &HttpManager::linkConnected, Qt::QueuedConnection);
        connect(client, &XANC::TcpCliReactor::sigConnectFailed, this, &HttpManager::linkConnectFailed,
                Qt::QueuedConnection);
        r.reset(client);
    } else if (type_ == XANT_SERVER)
        r.reset(new XANC::TcpServReactor);
    else
        return false;

    const QString name = property("name").toString();
    if (!name.isEmpty())
        r->setProperty("name", name);
    r->blockAllRecvSIG();
    Reload_Future_Workfunc(true);

    // A client link serves no requests: a peer that writes requests on it
    // (the agent, a subscriber) reaches no handler and no other thread; the
    // reactor drops them on its loop thread, counted (Session::emitAnalysed).
    // Replies still go to the handler of their request's url.
    if (type_ == XANT_CLIENT) {
        connect(r.data(), &XANC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        mode = 0;
    }

    switch (mode) {
    case 1:
        connect(r.data(), &XANC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r.data(), &XANC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::QueuedConnection);
        break;
    case 2:
        connect(r.data(), &XANC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r.data(), &XANC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::DirectConnection);
        break;
    case 3:
        connect(
            r.data(), &XANC::TcpReactor::sigRequest, this,
            [this](CTask_FormData obj) {
                {
                    QMutexLocker lock(&queueMutex_);
                    requestQueue_.append(obj);
                }
                emit new_message_arrive();
            },
            Qt::DirectConnection);
        Reload_Future_Workfunc(false);
        break;
    default:
        break;
    }
    {
        QMutexLocker lock(&reactorMutex_);
        reactor_ = r;
    }
    return r->reAction(address, port);
}

void HttpManager::sendAsync(const CTask_FormData& task)
{
    if (auto r = reactor())
        r->post_async(task);
}

void HttpManager::callback_immediately(const CTask_FormData& request, int code, QString msg)
{
    auto r = reactor();
    if (!r) {
        qWarning() << "HttpManager::callback_immediately: no reactor, reply dropped" << request.url;
        return;
    }
    CTask_FormData reply;
    reply.taskId = request.taskId;
    reply.sessionIndex = request.sessionIndex;
    reply.code = code;
    if (!msg.isEmpty())
        reply.msg = msg;
    r->post_async(reply);
}

void HttpManager::SlotRecvRequest(CTask_FormData obj)
{
    {
        QMutexLocker lock(&obj.tasksMutex);
        const bool have = !obj.tasks.isEmpty();
        lock.unlock();
        if (have) {
            qint64 usetime = -1;
            int packs = -1;
            receiveReport(obj, &usetime, &packs);
            receivedLog().note(QStringLiteral("%1 usetime_ms: %2 packs: %3").arg(obj.url).arg(usetime).arg(packs));
        }
    }
    if (const Handler handler = findRoute(obj.url)) {
        handler(obj);
        return;
    }
    callback_immediately(obj, 404, QString());
    notFoundLog().note(obj.url.left(200));
}

void HttpManager::SlotRecvResponse(CTask_FormData obj, bool stashed)
{
    if (!stashed)
        return;
    QString url;
    {
        QMutexLocker lock(&obj.tasksMutex);
        if (obj.tasks.isEmpty())
            return;
        url = obj.tasks.first().url;
    }
    if (const Handler handler = findRoute(url))
        handler(obj);
}

void HttpManager::Reload_Future_Workfunc(bool stopOnly)
{
    emit readyToClose();
    for (QFuture<void>& f : futures_)
        f.waitForFinished();
    if (stopOnly || !workerPool_)
        return;
    const int n = workerPool_->maxThreadCount();
    QSemaphore ready(0);
    for (int i = 0; i < n; ++i) {
        QFutureInterface<void> done;
        done.reportStarted();
        futures_.append(done.future());
        workerPool_->start([this, done, &ready]() mutable {
            workerLoop(&ready);
            done.reportFinished();
        });
    }
    // Return only when every worker listens, so no stop or wake-up is lost.
    ready.acquire(n);
}

void HttpManager::workerLoop(QSemaphore* ready)
{
    QEventLoop loop;
    connect(this, &HttpManager::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    connect(this, &HttpManager::new_message_arrive, &loop, [this] { drainOne(); }, Qt::QueuedConnection);
    ready->release();
    loop.exec();
}

void HttpManager::drainOne()
{
    CTask_FormData record;
    {
        QMutexLocker lock(&queueMutex_);
        if (requestQueue_.isEmpty())
            return;
        record = requestQueue_.takeFirst();
    }
    qint64 usetime = -1;
    int packs = -1;
    receiveReport(record, &usetime, &packs);
    receivedLog().note(QStringLiteral("%1 usetime_ms: %2 packs: %3").arg(record.url).arg(usetime).arg(packs));
    if (const Handler handler = findRoute(record.url))
        handler(record);
    else
        callback_immediately(record, 404, QString());
}
