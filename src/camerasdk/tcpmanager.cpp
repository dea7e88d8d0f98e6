#include "tcpmanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonValue>

#include <atomic>
#include <future>

const QString TcpManager_Client::kGetParams = QStringLiteral("/smon2/camera/getparams");
const QString TcpManager_Client::kSetParams = QStringLiteral("/smon2/camera/setparams");
const QString TcpManager_Client::kCommands = QStringLiteral("/smon2/camera/commands");
const QString TcpManager_Client::kGetPic = QStringLiteral("/smon2/camera/getpic");
const QString TcpManager_Client::kPostPic = QStringLiteral("/smon2/camera/postpic");

namespace {

const int kControlWaitMs = 1000;

int registerTypes()
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
    qRegisterMetaType<CTask_FormData>("CTask_FormData");
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TcpManager

TcpManager::TcpManager(XANT_TYPE type) : QObject(nullptr), type_(type)
{
    static const int once = registerTypes();
    Q_UNUSED(once)
}

TcpManager::~TcpManager()
{
    stopReactor();  // a last resort: derived classes have done it already
}

void TcpManager::stopReactor()
{
    if (!reactor_)
        return;
    // Cut first, so that the loop, if it still runs a call into us, starts
    // no other; then wait for that call to end with the loop.
    QObject::disconnect(reactor_.data(), nullptr, this, nullptr);
    reactor_->deinitialize();
    reactor_.reset();
}

bool TcpManager::startReactor(const QHostAddress& address, unsigned short port)
{
    stopReactor();
    if (type_ == XANT_CLIENT)
        reactor_.reset(new XANC::TcpCliReactor);
    else if (type_ == XANT_SERVER)
        reactor_.reset(new XANC::TcpServReactor);
    if (!reactor_)
        return false;
    reRecvMethod(Qt::AutoConnection, Qt::AutoConnection);
    return reactor_->reAction(address, port);
}

void TcpManager::reRecvMethod(Qt::ConnectionType replies, Qt::ConnectionType requests)
{
    if (!reactor_)
        return;
    reactor_->blockAllRecvSIG();
    connect(reactor_.data(), &XANC::TcpReactor::sigResponse, this, &TcpManager::SlotRecvResponse, replies);
    connect(reactor_.data(), &XANC::TcpReactor::sigRequest, this, &TcpManager::SlotRecvRequest, requests);
}

// ---------------------------------------------------------------------------
// TcpManager_Client

TcpManager_Client::TcpManager_Client() : TcpManager(XANT_CLIENT) {}

TcpManager_Client::~TcpManager_Client()
{
    waitPool_.reset();  // joins its thread: no exchange is under way
    // The reactor calls SlotRecvResponse directly on its loop thread: it
    // stops here, while this object is whole (a late reply to a pull that
    // timed out would otherwise reach it half destroyed).
    stopReactor();
}

void TcpManager_Client::setBlockingWait(bool on)
{
    if (on && !waitPool_) {
        waitPool_ = std::make_unique<QThreadPool>();
        waitPool_->setMaxThreadCount(1);
        waitPool_->setExpiryTimeout(-1);
    } else if (!on) {
        waitPool_.reset();
    }
}

bool TcpManager_Client::startReactor(const QHostAddress& address, unsigned short port)
{
    stopReactor();
    reactor_.reset(new XANC::TcpCliReactor);
    // A camera's message is a picture at most; anything larger is refused.
    Session::Limits limits = reactor_->sessionLimits();
    limits.maxBodyBytes = kMaxReplyBytes;
    reactor_->setSessionLimits(limits);
    // A camera link hands nothing to the thread that made it (the GUI
    // thread, or a worker with no event loop): replies are matched on the
    // loop thread, where post_sync's waits take theirs and stray ones (a
    // camera sending frames unasked) are dropped; requests from a camera
    // reach no one and are dropped there too, counted.
    reactor_->blockAllRecvSIG();
    connect(reactor_.data(), &XANC::TcpReactor::sigResponse, this, &TcpManager_Client::SlotRecvResponse,
            Qt::DirectConnection);
    return reactor_->reAction(address, port);
}

QString TcpManager_Client::nextTaskId()
{
    static std::atomic<quint64> counter{0};
    const quint64 n = ++counter;
    return QStringLiteral("zelcam#%1#%2")
        .arg(QCoreApplication::applicationPid() & 0xffffffff, 8, 16, QLatin1Char('0'))
        .arg(n, 16, 16, QLatin1Char('0'));
}

CTask_FormData TcpManager_Client::makeRequest(const QString& path, const QJsonObject& body)
{
    CTask_FormData request;
    request.url = path;
    if (!body.isEmpty()) {
        request.form.insert(QStringLiteral("body"), QVariant::fromValue(body));
        // The JSON body is what travels; form["body"] keeps it for the caller.
        request.json = body;
    }
    return request;
}

QList<QPair<QString, QJsonObject>> TcpManager_Client::replyParts(const CTask_FormData& reply, bool* refused)
{
    QList<QPair<QString, QJsonObject>> parts;
    if (refused)
        *refused = false;
    for (auto it = reply.form.constBegin(); it != reply.form.constEnd(); ++it) {
        if (it.value().userType() == QMetaType::QJsonObject)
            parts.append(qMakePair(it.key(), it.value().value<QJsonObject>()));
    }
    QJsonObject envelope = reply.json;
    if (envelope.isEmpty() && !reply.body.isEmpty()) {
        // A status-only reply carries its envelope without a content type.
        envelope = QJsonDocument::fromJson(reply.body).object();
    }
    if (parts.isEmpty() && !envelope.isEmpty()) {
        // A JSON reply: {"code": .., "msg": .., "result": {..}}.
        const QJsonValue code = envelope.value(QStringLiteral("code"));
        if (!code.isUndefined() && code.toInt(-1) != 0 && code.toInt(-1) != 200) {
            if (refused)
                *refused = true;
            return {};
        }
        parts.append(qMakePair(QString(), envelope));
    }
    return parts;
}

bool TcpManager_Client::exchange(CTask_FormData& request, CTask_FormData& reply, int ms)
{
    if (!reactor_)
        return false;
    request.taskId = nextTaskId();
    bool sent = false;
    if (waitPool_) {
        const QSharedPointer<XANC::TcpReactor> reactor = reactor_;
        std::promise<bool> done;
        std::future<bool> result = done.get_future();
        waitPool_->start([&] { done.set_value(reactor->post_sync(request, reply, ms)); });
        sent = result.get();
    } else {
        sent = reactor_->post_sync(request, reply, ms);
    }
    if (!sent)
        return false;
    bool refused = false;
    replyParts(reply, &refused);
    if (refused)
        qDebug() << request.url << "refused by the camera";
    return !refused;
}

int TcpManager_Client::act_getparams(QJsonObject& result)
{
    CTask_FormData request = makeRequest(kGetParams, QJsonObject());
    CTask_FormData reply;
    if (!exchange(request, reply, kControlWaitMs))
        return kNotConnected;
    const auto parts = replyParts(reply);
    if (!parts.isEmpty())
        result = parts.last().second.value(QStringLiteral("result")).toObject();
    return 0;
}

int TcpManager_Client::act_getparam(const QString& name, QMap<QString, QVariant>& result)
{
    Q_UNUSED(name)
    QJsonObject table;
    const int rc = act_getparams(table);
    if (rc == 0)
        result = table.toVariantMap();
    return rc;
}

bool TcpManager_Client::isConnect()
{
    CTask_FormData request = makeRequest(kGetParams, QJsonObject());
    CTask_FormData reply;
    if (!exchange(request, reply, kControlWaitMs))
        return false;
    for (const auto& part : replyParts(reply)) {
        if (!part.second.contains(QStringLiteral("result")))
            return false;
    }
    return true;
}

QMap<QString, QVariant> TcpManager_Client::sendMap(const QString& path, const QMap<QString, QVariant>& map,
                                                   const char* failText)
{
    QMap<QString, QVariant> result;
    QJsonObject body;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        body.insert(it.key(), QJsonValue::fromVariant(it.value()));
    CTask_FormData request = makeRequest(path, body);
    CTask_FormData reply;
    if (!exchange(request, reply, kControlWaitMs)) {
        qDebug() << path << failText;
        return result;
    }
    for (const auto& part : replyParts(reply)) {
        const QJsonValue r = part.second.value(QStringLiteral("result"));
        if (r.isUndefined())
            continue;
        result = r.toObject().toVariantMap();
        if (path == kSetParams)
            qDebug() << path << "response:" << result;
    }
    return result;
}

QMap<QString, QVariant> TcpManager_Client::act_setparams(const QMap<QString, QVariant>& params)
{
    const QMap<QString, QVariant> result = sendMap(kSetParams, params, "act_getParams work error!");
    qDebug("-----------------------------------------------");
    return result;
}

QMap<QString, QVariant> TcpManager_Client::act_Command(const QMap<QString, QVariant>& command)
{
    const QMap<QString, QVariant> result = sendMap(kCommands, command, "act_Command work error!");
    if (reactor_)
        qDebug() << kCommands << "act_Command success!";
    return result;
}

int TcpManager_Client::act_getPicture(cv::Mat& image, QJsonObject& info, int ms)
{
    CTask_FormData request = makeRequest(kGetPic, QJsonObject{{QStringLiteral("compulsive"), false}});
    CTask_FormData reply;
    if (!exchange(request, reply, ms))
        return kNotConnected;
    const auto parts = replyParts(reply);
    if (!parts.isEmpty())
        info = parts.last().second;
    // An answer without a picture is an empty picture, not the last one.
    image = reply.images.isEmpty() ? cv::Mat() : reply.images.last();
    return 0;
}

int TcpManager_Client::act_getPicture_sync(CTask_FormData& reply, int ms)
{
    CTask_FormData request = makeRequest(kGetPic, QJsonObject{{QStringLiteral("compulsive"), false}});
    return exchange(request, reply, ms) ? 0 : -1;
}

void TcpManager_Client::act_getPicture_async()
{
    if (!reactor_)
        return;
    CTask_FormData request = makeRequest(kGetPic, QJsonObject{{QStringLiteral("compulsive"), false}});
    request.taskId = nextTaskId();
    {
        QMutexLocker lock(&picTaskMutex_);
        picTaskId_ = request.taskId;
    }
    reactor_->post_async(request);
}

void TcpManager_Client::SlotRecvResponse(CTask_FormData obj, bool stashed)
{
    Q_UNUSED(stashed)
    {
        QMutexLocker lock(&picTaskMutex_);
        if (picTaskId_.isEmpty() || obj.taskId != picTaskId_)
            return;
        picTaskId_.clear();
    }
    // The path of the request a reply answers is in the reactor's task record.
    QString url;
    {
        QMutexLocker lock(&obj.tasksMutex);
        if (!obj.tasks.isEmpty())
            url = obj.tasks.first().url;
    }
    if (url == kGetPic) {
        for (auto it = obj.images.constBegin(); it != obj.images.constEnd(); ++it) {
            if (!it.value().empty())
                emit sigRecvPic(it.value().clone());
        }
    }
}

void TcpManager_Client::SlotRecvRequest(CTask_FormData obj)
{
    Q_UNUSED(obj)
}

// ---------------------------------------------------------------------------

QImage Mat2QImage(const cv::Mat& mat)
{
    if (mat.depth() == CV_8U && !mat.empty()) {
        const int step = int(mat.step);
        switch (mat.channels()) {
        case 1:
            return QImage(mat.data, mat.cols, mat.rows, step, QImage::Format_Grayscale8).copy();
        case 3:
            return QImage(mat.data, mat.cols, mat.rows, step, QImage::Format_RGB888).rgbSwapped();
        case 4:
            return QImage(mat.data, mat.cols, mat.rows, step, QImage::Format_ARGB32).copy();
        default:
            break;
        }
    }
    qDebug("ERROR: Mat could not be converted to QImage.");
    return QImage();
}
