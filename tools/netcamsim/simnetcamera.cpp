#include "simnetcamera.h"

#include "publictools.h"
#include "udp_acam_gvcp.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QThread>

#include <opencv2/imgproc.hpp>

#include <cstring>

namespace netcamsim {

// A listening reactor whose requests are handled on its own loop thread and
// whose connections the camera can cut.
class SimServer : public XANC::TcpServReactor {
public:
    // The loop stops before this class is gone: a request still being
    // handled there calls drop() on this object, which must still be one.
    ~SimServer() override
    {
        if (isLoopActive())
            deinitialize();
    }

    // Aborts the connection of `index` (loop thread only).
    void drop(int index)
    {
        QPointer<Session> s;
        {
            QMutexLocker lock(&sessionMutex_);
            s = sessions_.value(index);
        }
        if (s && s->socket())
            s->socket()->abort();
    }
};

namespace {

QJsonObject record(double value, double min, double max)
{
    return QJsonObject{{QStringLiteral("value"), value}, {QStringLiteral("min"), min}, {QStringLiteral("max"), max}};
}

bool every(const std::atomic<int>& knob, quint64 n)
{
    const int k = knob.load();
    return k > 0 && n % quint64(k) == 0;
}

}  // namespace

SimNetCamera::SimNetCamera(const Options& options, QObject* parent)
    : QObject(parent), options_(options), width_(options.width), height_(options.height), channels_(options.channels)
{
    slowAnswers_.setMaxThreadCount(16);  // a waiting answer each: every client and its stale requests
    table_.insert(QStringLiteral("exposure"), record(30, 1, 1000));
    table_.insert(QStringLiteral("gain"), record(32, 0, 255));
    table_.insert(QStringLiteral("contrast"), record(50, 0, 100));
    table_.insert(QStringLiteral("sharp"), record(0, 0, 10));
    table_.insert(QStringLiteral("gamma"), record(70, 0, 300));
    table_.insert(QStringLiteral("ispOutFormat"), record(0, 0, 4));
}

SimNetCamera::~SimNetCamera()
{
    stop();
}

bool SimNetCamera::start()
{
    stop();
    {
        QMutexLocker lock(&slowMutex_);
        accepting_ = true;
    }
    control_.reset(new SimServer);
    picture_.reset(new SimServer);
    SimServer* c = control_.data();
    SimServer* p = picture_.data();
    connect(c, &XANC::TcpReactor::sigRequest, c, [this, c](CTask_FormData r) { onControl(c, r); }, Qt::DirectConnection);
    connect(p, &XANC::TcpReactor::sigRequest, p, [this, p](CTask_FormData r) { onPicture(p, r); }, Qt::DirectConnection);
    if (!c->reAction(options_.address, options_.controlPort) || !p->reAction(options_.address, options_.picturePort)) {
        qWarning().noquote() << "netcamsim: cannot listen on" << options_.address.toString() << options_.controlPort
                             << options_.picturePort;
        stop();
        return false;
    }
    if (options_.discovery) {
        discovery_ = std::make_unique<UDP_ACam_Server>();
        connect(discovery_.get(), &UDP_ACam_Server::sig_rebootdaemon, this, &SimNetCamera::rebootRequested);
    }
    return true;
}

void SimNetCamera::stop()
{
    {
        QMutexLocker lock(&slowMutex_);
        accepting_ = false;
    }
    slowAnswers_.waitForDone();
    discovery_.reset();
    control_.reset();
    picture_.reset();
}

QString SimNetCamera::deviceKey() const
{
    return discovery_ ? discovery_->deviceKey() : QString();
}

void SimNetCamera::setFrameSize(int width, int height, int channels)
{
    QMutexLocker lock(&mutex_);
    width_ = width;
    height_ = height;
    channels_ = channels;
}

void SimNetCamera::stall(int ms)
{
    knobs_.stallUntilMs = monotonic_ms() + ms;
}

QJsonObject SimNetCamera::paramTable() const
{
    QMutexLocker lock(&mutex_);
    return table_;
}

QJsonObject SimNetCamera::lastSetParamsBody() const
{
    QMutexLocker lock(&mutex_);
    return lastSet_;
}

QJsonObject SimNetCamera::lastCommandBody() const
{
    QMutexLocker lock(&mutex_);
    return lastCommand_;
}

quint32 SimNetCamera::frameNumberOf(const unsigned char* pixels)
{
    quint32 n = 0;
    std::memcpy(&n, pixels, sizeof(n));
    return n;
}

qint64 SimNetCamera::madeAtOf(const unsigned char* pixels)
{
    qint64 ms = 0;
    std::memcpy(&ms, pixels + sizeof(quint32), sizeof(ms));
    return ms;
}

void SimNetCamera::reply(SimServer* server, const CTask_FormData& request, CTask_FormData answer)
{
    if (monotonic_ms() < knobs_.stallUntilMs.load())
        return;  // a stalled camera answers nothing
    const int delay = std::min(knobs_.replyDelayMs.load(), 5000);
    if (delay > 0)
        QThread::msleep(ulong(delay));  // the camera thinks slowly; its loop waits with it
    answer.taskId = request.taskId;
    answer.sessionIndex = request.sessionIndex;
    server->post_async(answer);
}

void SimNetCamera::onControl(SimServer* server, const CTask_FormData& request)
{
    ++requests_;
    if (knobs_.ignoreSettings.load() && (request.url == QLatin1String("/smon2/camera/setparams") ||
                                         request.url == QLatin1String("/smon2/camera/commands")))
        return;
    CTask_FormData answer;
    QJsonObject result;
    const QJsonObject body = request.json;
    if (request.url == QLatin1String("/smon2/camera/getparams")) {
        QMutexLocker lock(&mutex_);
        result = table_;
    } else if (request.url == QLatin1String("/smon2/camera/setparams")) {
        QMutexLocker lock(&mutex_);
        lastSet_ = body;
        for (auto it = body.constBegin(); it != body.constEnd(); ++it) {
            // 0: taken; 1: no such parameter, not a number or out of range.
            int status = 1;
            if (table_.contains(it.key()) && it.value().isDouble()) {
                QJsonObject rec = table_.value(it.key()).toObject();
                const double v = it.value().toDouble();
                if (v >= rec.value(QStringLiteral("min")).toDouble() && v <= rec.value(QStringLiteral("max")).toDouble()) {
                    rec.insert(QStringLiteral("value"), v);
                    table_.insert(it.key(), rec);
                    status = 0;
                }
            }
            result.insert(it.key(), status);
        }
    } else if (request.url == QLatin1String("/smon2/camera/commands")) {
        {
            QMutexLocker lock(&mutex_);
            lastCommand_ = body;
        }
        for (auto it = body.constBegin(); it != body.constEnd(); ++it) {
            if (it.key() == QLatin1String("play"))
                playing_ = it.value().toInt() != 0;
            result.insert(it.key(), 0);
        }
    } else {
        answer.code = 404;
        answer.msg = QStringLiteral("Not Found");
        reply(server, request, answer);
        return;
    }
    answer.json = result;
    reply(server, request, answer);
}

CTask_FormData SimNetCamera::pictureReply(quint64 n)
{
    int w, h, c;
    {
        QMutexLocker lock(&mutex_);
        w = width_;
        h = height_;
        c = channels_;
    }
    const bool defect = knobs_.defect.load();
    if (scene_.empty() || scene_.cols != w || scene_.rows != h || scene_.channels() != c || sceneDefect_ != defect) {
        // A still scene (a part in its mould), drawn once per size, so that
        // a judged region sees the same picture every cycle.
        scene_.create(h, w, c == 3 ? CV_8UC3 : CV_8UC1);
        for (int y = 0; y < h; ++y) {
            uchar* row = scene_.ptr<uchar>(y);
            for (int x = 0; x < w * c; ++x)
                row[x] = uchar(40 + ((x / c) * 60 / std::max(1, w)) + (y * 40 / std::max(1, h)));
        }
        cv::rectangle(scene_, cv::Rect(w / 4, h / 4, w / 2, h / 2), cv::Scalar::all(200), cv::FILLED);
        cv::circle(scene_, cv::Point(w / 2, h / 2), std::max(2, std::min(w, h) / 8), cv::Scalar::all(90), cv::FILLED);
        if (defect) {
            // A short shot: the far end of the moulding is missing. The block
            // lies inside the demo's region (27-73 % x 29-71 % of the picture,
            // tools/mkdemodb) and leaves the part's outline, which positioning
            // follows, whole.
            cv::rectangle(scene_, cv::Rect(w * 56 / 100, h * 32 / 100, w * 16 / 100, h * 36 / 100), cv::Scalar::all(15),
                          cv::FILLED);
        }
        sceneDefect_ = defect;
    }
    cv::Mat frame = scene_.clone();
    // The frame number is drawn on a small plate in the bottom right corner:
    // the top edge is where the monitor's view writes its header lines, and
    // the moulding sits in the middle.
    const int band = std::max(1, h / 24);
    const double scale = std::max(0.2, (band - 2) / 22.0);
    const std::string counter = std::to_string(n);
    int baseline = 0;
    const cv::Size text = cv::getTextSize(counter, cv::FONT_HERSHEY_SIMPLEX, scale, 1, &baseline);
    const int plateW = std::min(w, text.width + 8);
    const int plateH = std::min(h, band);
    cv::rectangle(frame, cv::Rect(w - plateW, h - plateH, plateW, plateH), cv::Scalar::all(0), cv::FILLED);
    cv::putText(frame, counter, cv::Point(w - plateW + 4, h - 1 - baseline / 2), cv::FONT_HERSHEY_SIMPLEX, scale,
                cv::Scalar::all(255), 1);
    const quint32 number = quint32(n);
    const qint64 made = gettimeofday_ms();
    lastMadeMs_ = made;
    if (frame.total() * frame.elemSize() >= sizeof(number) + sizeof(made)) {
        std::memcpy(frame.data, &number, sizeof(number));
        std::memcpy(frame.data + sizeof(number), &made, sizeof(made));
    }

    CTask_FormData answer;
    const QJsonObject head{{QStringLiteral("frame"), double(n)},     {QStringLiteral("width"), w},
                           {QStringLiteral("height"), h},            {QStringLiteral("channels"), c},
                           {QStringLiteral("mediaType"), c == 3 ? 1 : 0}, {QStringLiteral("timestamp"), double(gettimeofday_ms())}};
    answer.form.insert(QStringLiteral("head"), QVariant::fromValue(head));
    answer.images.insert(QStringLiteral("0"), frame);
    return answer;
}

void SimNetCamera::onPicture(SimServer* server, const CTask_FormData& request)
{
    ++requests_;
    if (request.url != QLatin1String("/smon2/camera/getpic")) {
        CTask_FormData answer;
        answer.code = 404;
        answer.msg = QStringLiteral("Not Found");
        reply(server, request, answer);
        return;
    }
    const quint64 k = ++pictureRequests_;
    if (every(knobs_.dropEvery, k)) {
        server->drop(request.sessionIndex);
        return;
    }
    CTask_FormData answer;
    if (every(knobs_.emptyEvery, k)) {
        answer.json = QJsonObject{{QStringLiteral("frame"), -1}};
    } else if (every(knobs_.badDescriptorEvery, k)) {
        // The description promises more bytes than the part holds.
        const QByteArray b = SCI_ExecObj_Send::kBoundary;
        QByteArray body = b + "\r\nContent-Disposition: form-data; name=\"0-info\"\r\nContent-Type: application/json\r\n\r\n"
                              "{\"channels\":1,\"data_type\":\"data_type\",\"datakey\":\"0\",\"size_height\":480,\"size_width\":64000}\r\n" +
                          b + "\r\nContent-Disposition: form-data; name=\"0\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                          QByteArray(640, 'x') + "\r\n" + b + "\r\n";
        answer.files.insert(QString(), body);
        answer.contentType = QStringLiteral("multipart/form-data;boundary=") + QString::fromLatin1(b);
    } else if (every(knobs_.garbageEvery, k)) {
        answer.files.insert(QString(), QByteArray("{\"result\": [garbage"));
        answer.contentType = QStringLiteral("application/json");
    } else if (const int interval = std::min(knobs_.frameIntervalMs.load(), 5000); interval > 0) {
        answerWhenMade(server, request, interval);
        return;
    } else {
        QMutexLocker lock(&sceneMutex_);
        answer = pictureReply(++frameNo_);
    }
    reply(server, request, answer);
}

void SimNetCamera::answerWhenMade(SimServer* server, const CTask_FormData& request, int intervalMs)
{
    // The next frame of the camera's clock after the request came.
    const qint64 frame = gettimeofday_ms() / intervalMs + 1;
    QMutexLocker lock(&slowMutex_);
    if (!accepting_)
        return;  // stopping: the servers go away once the answers under way are out
    slowAnswers_.start([this, server, request, intervalMs, frame] {
        const qint64 wait = frame * intervalMs - gettimeofday_ms();
        if (wait > 0)
            QThread::msleep(ulong(wait));
        CTask_FormData answer;
        {
            QMutexLocker scene(&sceneMutex_);
            if (frame != madeFrame_) {
                madeReply_ = pictureReply(++frameNo_);
                madeFrame_ = frame;
            }
            answer = madeReply_;
        }
        reply(server, request, answer);
    });
}

}  // namespace netcamsim
