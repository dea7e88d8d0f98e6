#include "httpapiserver.h"

#include "databases.h"
#include "peertrafficlog.h"
#include "apianswers.h"
#include "apisnapshot.h"
#include "network.h"
#include "platform.h"
#include "recordquery.h"
#include "recordstore.h"
#include "winstate.h"
#include "tcp_push2app.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThreadPool>

namespace {

const QString kApiOff = QStringLiteral("未启用API服务");

// A reading route's answer for one published state. Every request answers
// the same until the next publication, so the answer is written out once
// per state, and per thread, which needs no lock.
struct WrittenAnswer {
    std::shared_ptr<const ApiSnapshot> state;
    QByteArray bytes;

    template <class Make>
    const QByteArray& of(const std::shared_ptr<const ApiSnapshot>& published, Make make)
    {
        if (state != published) {
            // An empty object stays empty bytes: such a reply carries no result.
            const QJsonObject answer = make(*published);
            bytes = answer.isEmpty() ? QByteArray() : QJsonDocument(answer).toJson(QJsonDocument::Compact);
            state = published;
        }
        return bytes;
    }
};

}  // namespace

HttpApiServer::HttpApiServer(XAN_NETMN* owner)
    : HttpManager(XANT_SERVER)
    , owner_(owner)
    , pushes_(std::make_unique<PushDispatcher>())
    , clockPool_(std::make_unique<QThreadPool>())
{
    clockPool_->setMaxThreadCount(1);
    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(kPublishDelayMs);
    connect(&publishTimer_, &QTimer::timeout, this, &HttpApiServer::slot_delay_publish_detectinfo);

    // Requests arrive on the reactor's thread. The reading routes answer
    // there from the published state; the others run on this object's thread.
    const auto onOwnThread = [this](void (HttpApiServer::*route)(const CTask_FormData&)) {
        return [this, route](CTask_FormData t) {
            QMetaObject::invokeMethod(this, [this, route, t] { (this->*route)(t); }, Qt::QueuedConnection);
        };
    };
    routeMap_.insert(QStringLiteral("/v18/http/get_product_infos"),
                     [this](CTask_FormData t) { httpapi__get_product_infos(t); });
    routeMap_.insert(QStringLiteral("/v18/http/get_last_detectinfo"),
                     [this](CTask_FormData t) { httpapi__get_last_detailinfo(t); });
    routeMap_.insert(QStringLiteral("/v18/http/get_detected_picture"),
                     [this](CTask_FormData t) { httpapi__get_detected_picture(t); });
    routeMap_.insert(QStringLiteral("/v18/http/get_records"), onOwnThread(&HttpApiServer::httpapi__get_records));
    routeMap_.insert(QStringLiteral("/v18/http/set_clear_curcount"),
                     onOwnThread(&HttpApiServer::httpapi__set_clear_curcount));
    routeMap_.insert(QStringLiteral("/v18/http/set_localclock"), onOwnThread(&HttpApiServer::httpapi__set_localclock));
    routeMap_.insert(QStringLiteral("/v18/http/subscriber_baseinfo"),
                     onOwnThread(&HttpApiServer::httpapi__subscriber_baseinfo));
}

HttpApiServer::~HttpApiServer()
{
    // Requests run the routes on the reactor's loop thread (mode 2), and the
    // routes use this object's members: the loop ends before any of them go.
    stopReactor();
    // The clock job posts its answer to this object: let it end first (an
    // answer still queued is dropped with the object).
    clockPool_->waitForDone();
    pushes_.reset();
}

void HttpApiServer::init()
{
    if (!startReactor(owner_->apiAddress(), owner_->apiPort(), 2))
        qWarning("HttpApiServer: cannot listen on port %u", unsigned(owner_->apiPort()));
    subscribers_.load(owner_->workspace + QStringLiteral("subscriber.ini"));
    publishTimer_.setInterval(kPublishDelayMs);
    publishTimer_.setSingleShot(true);
}

quint16 HttpApiServer::serverPort() const
{
    const auto server = qSharedPointerDynamicCast<XANC::TcpServReactor>(reactor());
    return server ? server->serverPort() : 0;
}

void HttpApiServer::finish_PeriodRecord()
{
    if (owner_->workApiFunc.load() && !publishTimer_.isActive())
        publishTimer_.start();
}

bool HttpApiServer::apiOn(const CTask_FormData& task)
{
    if (owner_->workApiFunc.load())
        return true;
    callback_immediately(task, 403, kApiOff);
    return false;
}

std::shared_ptr<const ApiSnapshot> HttpApiServer::publishedState(void (HttpApiServer::*route)(const CTask_FormData&),
                                                               const CTask_FormData& task)
{
    if (auto state = ApiSnapshot::current())
        return state;
    // Nothing published yet (no event loop has run): this object's thread
    // publishes and answers.
    QMetaObject::invokeMethod(this, [this, route, task] {
        ApiSnapshot::publish();
        if (ApiSnapshot::current())
            (this->*route)(task);
    }, Qt::QueuedConnection);
    return nullptr;
}

void HttpApiServer::sendJson(const CTask_FormData& request, const QJsonObject& answer)
{
    sendJson(request, answer, gDeviceID);
}

void HttpApiServer::sendWritten(const CTask_FormData& request, const QByteArray& answer, const QString& deviceId)
{
    CTask_FormData reply;
    reply.taskId = request.taskId;
    reply.sessionIndex = request.sessionIndex;
    reply.deviceId = deviceId;
    reply.jsonBytes = answer;
    sendAsync(reply);
}

void HttpApiServer::sendJson(const CTask_FormData& request, const QJsonObject& answer, const QString& deviceId)
{
    CTask_FormData reply;
    reply.taskId = request.taskId;
    reply.sessionIndex = request.sessionIndex;
    reply.deviceId = deviceId;
    reply.json = answer;
    sendAsync(reply);
}

// ---- Routes --------------------------------------------------------------------------

void HttpApiServer::httpapi__get_product_infos(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    const auto state = publishedState(&HttpApiServer::httpapi__get_product_infos, task);
    if (!state)
        return;
    thread_local WrittenAnswer written;
    sendWritten(task, written.of(state, [](const ApiSnapshot& s) { return apianswers::productInfos(s); }),
                state->deviceSn);
}

void HttpApiServer::httpapi__get_last_detailinfo(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    const auto state = publishedState(&HttpApiServer::httpapi__get_last_detailinfo, task);
    if (!state)
        return;
    // A cycle that is open has no summary yet: the answer is the last closed
    // cycle, and before the first one the empty-list message.
    XAN_NETMN::sAPI_LastDetect_Info record;
    if (!XAN_NETMN::lastClosedCycle(state->hasRecord, state->record, state->hasClosed, state->closed, &record)) {
        callback_immediately(task, 403, QStringLiteral("获取列表为空，需要先检测后获取信息。"));
        return;
    }
    thread_local WrittenAnswer written;
    sendWritten(task, written.of(state, [record](const ApiSnapshot&) { return XAN_NETMN::lastDetectJson(record); }),
                state->deviceSn);
}

void HttpApiServer::httpapi__get_detected_picture(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    const auto state = publishedState(&HttpApiServer::httpapi__get_detected_picture, task);
    if (!state)
        return;
    QString error;
    const QString path = apianswers::detectedPicture(task.json, &error, QStringLiteral("./alarmimage"),
                                                     state->cameraCount, state->stepCount);
    if (path.isEmpty()) {
        sendJson(task, QJsonObject{{QStringLiteral("errorstring"), error}}, state->deviceSn);
        return;
    }
    CTask_FormData reply;
    reply.taskId = task.taskId;
    reply.sessionIndex = task.sessionIndex;
    reply.deviceId = state->deviceSn;
    reply.files.insert(path, QByteArray());
    reply.contentType = QStringLiteral("image/jpeg");
    sendAsync(reply);
}

void HttpApiServer::httpapi__get_records(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    QSqlDatabase today;
    const QDate date = QDate::currentDate();
    if (RecordStore* store = Databases::get().recordStore()) {
        // Rows of an earlier day still in RECORD.db go to their day file
        // first, so that each row is dated by the day it was written.
        store->rolloverIfNeeded(date);
        today = store->db();
    } else {
        today = Databases::get().recordDb();
    }
    sendJson(task, recordquery::query(task.json, today, date));
}

void HttpApiServer::httpapi__set_clear_curcount(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    apianswers::clearAllCounters(task.peerAddress);
    // The next read sees the zeroes, whichever thread answers it.
    ApiSnapshot::publish();
    callback_immediately(task, 200, QString());
}

void HttpApiServer::httpapi__set_localclock(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    QDateTime when;
    if (!apianswers::clockValue(task.json, &when)) {
        sendJson(task, QJsonObject{{QStringLiteral("result"), QStringLiteral("时间格式错误")}});
        return;
    }
    CVariant<QDateTime> accepted;
    accepted.setValue(when);
    const QString text = accepted.getValue().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // date and hwclock may take seconds: they run on the clock pool and the
    // answer comes back to this thread.
    clockPool_->start([this, task, text] {
        const bool ok = platform::runner().runOnTarget(QStringLiteral("date"), {QStringLiteral("-s"), text}, 3000).ok();
        if (ok)
            platform::runner().runOnTarget(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, 3000);
        QMetaObject::invokeMethod(this, [this, task, text, ok] {
            if (!ok) {
                static PeerTrafficLog failed(QStringLiteral("set_localclock: date -s failed"));
                failed.note(text);
                callback_immediately(task, 1, QStringLiteral("set clock failed"));
                return;
            }
            Databases::get().InsertRecord(QStringLiteral("API: 修改系统时间,") + text, QStringLiteral("API"));
            sendJson(task, QJsonObject{{QStringLiteral("result"), QStringLiteral("success")}});
        }, Qt::QueuedConnection);
    });
}

void HttpApiServer::httpapi__subscriber_baseinfo(const CTask_FormData& task)
{
    if (!apiOn(task))
        return;
    QStringList keys;
    if (task.json.contains(QStringLiteral("subscriber")))
        keys = subscribers_.registerFrom(task.json.value(QStringLiteral("subscriber")), owner_->clockMs());
    else
        keys = subscribers_.keys();
    sendJson(task, QJsonObject{{QStringLiteral("subscribe_result"), QJsonArray::fromStringList(keys)}});
}

// ---- Subscribers and pushes ----------------------------------------------------------

QList<Skt_Session> HttpApiServer::getSubscriber_FromTopic(QString topic)
{
    if (!owner_->workApiFunc.load())
        return {};
    return subscribers_.lookup(topic, owner_->clockMs());
}

void HttpApiServer::publish_message(QString topic, const CTask_FormData& task)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, topic, task] { publish_message(topic, task); }, Qt::QueuedConnection);
        return;
    }
    const QList<Skt_Session> targets = getSubscriber_FromTopic(topic);
    if (!targets.isEmpty())
        pushes_->push(targets, task);
}

void HttpApiServer::slot_delay_publish_detectinfo()
{
    if (!owner_->workApiFunc.load())
        return;
    XAN_NETMN::sAPI_LastDetect_Info held, closed, record;
    const bool hasHeld = owner_->lastDetect.tryGetValue(&held);
    const bool hasClosed = owner_->lastClosed.tryGetValue(&closed);
    if (!XAN_NETMN::lastClosedCycle(hasHeld, held, hasClosed, closed, &record))
        return;
    CTask_FormData task;
    task.url = QStringLiteral("/v18/http/post_detected_info");
    task.deviceId = gDeviceID;
    task.taskId = record.uuid;
    task.json = XAN_NETMN::lastDetectJson(record);
    publish_message(QStringLiteral("detected_info"), task);
}
