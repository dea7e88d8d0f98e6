#include "zelcamera.h"

#include "publictools.h"
#include "peertrafficlog.h"

#include <QDebug>
#include <QHostAddress>

#include <cstring>

std::atomic<int> ImageThread::reconnect{0};
std::atomic<int> ImageThread::nullimg{0};

bool AllowPass_byfps(int fps, qint64& last)
{
    if (fps <= 0)
        return false;
    if (double(monotonic_ms() - last) > 1000.0 / fps) {
        last = monotonic_ms();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// ZelCamera

ZelCamera::ZelCamera(const tZelCameraDevInfo* info)
{
    std::memset(&info_, 0, sizeof(info_));
    if (info)
        std::memcpy(&info_, info, sizeof(info_));
    // The host's thread waits for the camera without running its own events.
    control_.setBlockingWait(true);
    picture_.setBlockingWait(true);
    // A camera that comes and goes makes one of these per connect: counted.
    static PeerTrafficLog starts(QStringLiteral("ZelCamera startReactor"));
    starts.note(ipText());
    const QHostAddress address(ipText());
    controlUp_ = !address.isNull() && control_.startReactor(address, kControlPort);
    if (controlUp_) {
        QJsonObject table;
        if (control_.act_getparams(table) == 0)
            table_ = table;
    } else {
        qDebug("connect fail");
    }
    thread_ = std::make_unique<ImageThread>(this);
}

ZelCamera::~ZelCamera()
{
    thread_.reset();  // joins the frame thread before anything it touches goes
}

bool ZelCamera::onFrameThread() const
{
    return thread_ && QThread::currentThread() == thread_.get();
}

int ZelCamera::start()
{
    const QMap<QString, QVariant> reply = control_.act_Command({{QStringLiteral("play"), 1}});
    if (!thread_->isRunning()) {
        thread_->setRunning(true);
        thread_->start();
    }
    return reply.value(QStringLiteral("play")).toInt();
}

int ZelCamera::stop()
{
    const bool wasUp = imageUp_.load();
    // The loop ends whether or not its link is up, so a camera whose picture
    // port has gone away can still be stopped.
    thread_->stopAndJoin();
    const QMap<QString, QVariant> reply = control_.act_Command({{QStringLiteral("play"), 0}});
    if (!wasUp)
        return ZEL_LINK_DOWN;
    return reply.value(QStringLiteral("play")).toInt();
}

int ZelCamera::setHDR(bool on)
{
    if (!controlUp_)
        return ZEL_LINK_DOWN;
    const QString key = QStringLiteral("aiqWorkingMode");
    const QMap<QString, QVariant> reply = control_.act_Command({{key, on}});
    return reply.contains(key) ? reply.value(key).toInt() : ZEL_NOT_CONNECTED;
}

int ZelCamera::commonCall(const char* key, char* buffer, unsigned int value)
{
    Q_UNUSED(buffer)
    if (!controlUp_ || !key)
        return ZEL_LINK_DOWN;
    const QString k = QString::fromUtf8(key);
    const QMap<QString, QVariant> reply = control_.act_Command({{k, value}});
    return reply.contains(k) ? reply.value(k).toInt() : ZEL_NOT_CONNECTED;
}

void ZelCamera::requestGetParams(const QStringList& keys, QMap<QString, QVariant>& values, bool detail)
{
    if (!controlUp_)
        return;
    QJsonObject table;
    if (control_.act_getparams(table) != 0)
        return;
    table_ = table;
    checkParams(keys, values, detail);
}

QMap<QString, QVariant> ZelCamera::requestSetParams(const QMap<QString, QVariant>& values)
{
    if (!controlUp_)
        return {};
    if (!checkParamsType(values))
        qDebug() << "requestSetParams: values of other types than int, double and text" << values.keys();
    return control_.act_setparams(values);
}

int ZelCamera::requestImage(cv::Mat& image, QJsonObject& imageHead, int timeout)
{
    // The camera's own picture link opens when it is first needed, and again
    // after a failed pull.
    if (!pictureStarted_)
        pictureStarted_ = picture_.startReactor(QHostAddress(ipText()), ImageThread::kImagePort);
    if (!pictureStarted_)
        return ZEL_NO_IMAGE_LINK;
    const int rc = picture_.act_getPicture(image, imageHead, timeout);
    if (rc != 0)
        pictureStarted_ = false;
    return rc;
}

void ZelCamera::recvImage(cv::Mat frame)
{
    ZelImageCallback callback;
    void* user;
    {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        callback = imageCallback_;
        user = imageUser_;
    }
    if (callback)
        callback(frame, user);
}

void ZelCamera::setImageCallback(ZelImageCallback callback, void* user)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    imageCallback_ = callback;
    imageUser_ = user;
}

void ZelCamera::setStatusCallback(ZelStatusCallback callback, void* user)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    statusCallback_ = callback;
    statusUser_ = user;
}

void ZelCamera::setImageLink(bool up)
{
    const bool was = imageUp_.exchange(up);
    if (was == up)
        return;
    ZelStatusCallback callback;
    void* user;
    {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        callback = statusCallback_;
        user = statusUser_;
    }
    if (callback)
        callback(up ? ZEL_EVENT_IMAGE_LINK_UP : ZEL_EVENT_IMAGE_LINK_DOWN, unsigned(ImageThread::reconnect.load()), user);
}

// ---------------------------------------------------------------------------
// ImageThread

ImageThread::ImageThread(ZelCamera* camera) : QThread(nullptr), camera_(camera) {}

ImageThread::~ImageThread()
{
    stopAndJoin();
}

void ImageThread::stopAndJoin()
{
    running_ = false;
    if (QThread::currentThread() != this)
        wait();
}

void ImageThread::run()
{
    const QString ip = camera_->ipText();
    const QHostAddress address(ip);
    qint64 delivered = 0;
    qint64 last = 0;
    qint64 statsStart = monotonic_ms();
    QList<double> durations;
    QList<double> receives;
    std::unique_ptr<TcpManager_Client> link;

    // A stopping program waits on no camera: the loop ends with the peer
    // waits (its pulls would fail at once from then on).
    const auto going = [this] { return running_.load() && !XANC::TcpReactor::peerWaitsAbandoned(); };
    while (going()) {
        // Pace: at most kFps pulls a second.
        bool passed = false;
        while (going()) {
            QThread::msleep(1);
            if (AllowPass_byfps(kFps, last)) {
                passed = true;
                break;
            }
        }
        if (!passed)
            break;

        if (!link) {
            link = std::make_unique<TcpManager_Client>();
            const bool up = link->startReactor(address, kImagePort);
            ++reconnect;
            camera_->setImageLink(up);
            if (!up) {
                link.reset();
                static PeerTrafficLog failed(QStringLiteral("image reconnect fail"));
                failed.note(ip);
                continue;
            }
        } else if (auto* cli = qobject_cast<XANC::TcpCliReactor*>(link->reactor().data())) {
            if (!cli->hasSession()) {
                link.reset();
                camera_->setImageLink(false);
                continue;
            }
        }

        const qint64 n = delivered + 1;
        if (n % 100 == 0) {
            const qint64 now = monotonic_ms();
            const double per = double(now - statsStart) / 100.0;
            double sumD = 0, sumR = 0;
            for (double d : qAsConst(durations))
                sumD += d;
            for (double r : qAsConst(receives))
                sumR += r;
            static PeerTrafficLog stats(QStringLiteral("image pull report"));
            stats.note(QStringLiteral("%1 (%2) fps: %3 (avg_ms: %4 avg_times: %5) recnt: %6 nullimg: %7")
                           .arg(n)
                           .arg(ip)
                           .arg(per > 0 ? 1000.0 / per : 0.0)
                           .arg(sumD / 100, 0, 'f', 3)
                           .arg(int(sumR / 100))
                           .arg(reconnect.load())
                           .arg(nullimg.load()));
            durations.clear();
            receives.clear();
            statsStart = now;
        }

        CTask_FormData reply;
        cv::Mat frame;
        if (link->act_getPicture_sync(reply, kPullTimeoutMs) == 0 && !reply.images.isEmpty())
            frame = reply.images.first();
        if (!frame.empty()) {
            const QList<TcpTsk_Info> tasks = reply.tasksCopy();
            if (!tasks.isEmpty()) {
                const QMap<QString, QVariant> report = tasks.first().getReportParam();
                durations << double(report.value(QStringLiteral("_tsk_finishact_timing")).toLongLong() -
                                    report.value(QStringLiteral("_tsk_create_timing")).toLongLong()) /
                                 1000.0;
                receives << report.value(QStringLiteral("_tsk_recv_times")).toInt();
            }
            camera_->recvImage(frame);
            delivered = n;
        } else {
            static PeerTrafficLog empty(QStringLiteral("image pulls without a picture"));
            empty.note(ip);
            ++nullimg;
            link.reset();  // the next pass reconnects
        }
    }
    link.reset();
}
