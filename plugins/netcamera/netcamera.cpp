#include "netcamera.h"

#include "../pluginshared.h"

#include "publictools.h"
#include "peertrafficlog.h"

#include <QDebug>
#include <QThread>

#include <opencv2/imgproc.hpp>

#include <chrono>
#include <climits>
#include <cstring>

namespace netcam {

namespace {

// The counted lines' clock: monotonic, moved on only by tests.
std::atomic<qint64> logClockSkewMs{0};

qint64 logClockMs()
{
    return monotonic_ms() + logClockSkewMs.load();
}

// The program's clock of input edges and countdowns.
qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

NetCamera::NetCamera(const tZelCameraDevInfo& record, const QString& serial, const QString& pluginName)
    : record_(record), serial_(serial), pluginName_(pluginName)
{
    watchdog_.setInterval(500);
    connect(&watchdog_, &QTimer::timeout, this, &NetCamera::watch);
    // getImage() takes the newest frame under its lock and converts it into
    // the caller's buffer, nothing else: cameras may be read at once.
    setProperty(kGrabAnyThread, true);
}

NetCamera::~NetCamera()
{
    release();
}

void NetCamera::onFrame(cv::Mat frame, void* user)
{
    auto* self = static_cast<NetCamera*>(user);
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->latest_ = frame;  // the SDK hands over its own picture; no copy here
        ++self->seq_;
        self->lastFrameMs_ = monotonic_ms();
        self->latestNs_ = steadyNowNs();
    }
    self->arrived_.notify_all();
}

bool NetCamera::connectCamera()
{
    int handle = -1;
    if (ZelCameraInit(&record_, 0, 0, handle) != ZEL_OK)
        return false;
    cv::Mat first;
    QJsonObject head;
    if (ZelCameraGetImageBuffer(handle, first, head, kOpenPictureMs) != ZEL_OK || first.empty()) {
        ZelCameraUnInit(handle);
        return false;
    }
    // Two more pictures, each the camera's next frame: the longer of the two
    // waits is its frame interval (the first may have come early, a frame
    // the camera had already made).
    qint64 longest = 0;
    for (int k = 0; k < 2; ++k) {
        QElapsedTimer between;
        between.start();
        cv::Mat next;
        if (ZelCameraGetImageBuffer(handle, next, head, kOpenPictureMs) != ZEL_OK || next.empty()) {
            ZelCameraUnInit(handle);
            return false;
        }
        longest = qMax(longest, between.elapsed());
    }
    intervalMs_ = int(qMin<qint64>(longest, INT_MAX));
    if (opened_ && (first.cols != width_ || first.rows != height_)) {
        // Counted: a camera back at another size is refused on every attempt.
        static PeerTrafficLog resized(QStringLiteral("network cameras: frame size changed, not taken back"),
                                      PeerTrafficLog::kIntervalMs, logClockMs);
        resized.note(QStringLiteral("%1: %2x%3, not %4x%5").arg(serial_).arg(first.cols).arg(first.rows).arg(width_).arg(height_));
        ZelCameraUnInit(handle);
        return false;
    }
    width_ = first.cols;
    height_ = first.rows;
    handle_ = handle;
    ZelCameraRegisterImageCallBack(handle_, &NetCamera::onFrame, this);
    return true;
}

void NetCamera::setWatching(bool on)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, on] { setWatching(on); }, Qt::QueuedConnection);
        return;
    }
    if (on && started_ && !lostState_)
        watchdog_.start();
    else if (!on)
        watchdog_.stop();
}

void NetCamera::release()
{
    setWatching(false);
    if (handle_ >= 0) {
        ZelCameraStop(handle_);
        ZelCameraUnInit(handle_);
        handle_ = -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    latest_.release();
    taken_ = seq_;
}

bool NetCamera::open()
{
    if (opened_)
        return true;
    if (!connectCamera()) {
        // Counted: a camera the program waits for is tried every second.
        static PeerTrafficLog failed(QStringLiteral("network cameras: open failed"), PeerTrafficLog::kIntervalMs,
                                     logClockMs);
        failed.note(serial_);
        return false;
    }
    opened_ = true;
    lostState_ = false;
    return true;
}

void NetCamera::close()
{
    release();
    opened_ = false;
    started_ = false;
}

void NetCamera::start()
{
    if (!opened_ || handle_ < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken_ = seq_;  // frames from before the start are not handed out
        lastFrameMs_ = monotonic_ms();
    }
    ZelCameraPlay(handle_);
    started_ = true;
    fpsClock_.start();
    fpsFrames_ = 0;
    setWatching(true);
}

void NetCamera::stop()
{
    if (handle_ >= 0)
        ZelCameraStop(handle_);
    started_ = false;
    setWatching(false);
}

void NetCamera::watch()
{
    qint64 last;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last = lastFrameMs_;
    }
    if (started_ && !lostState_ && monotonic_ms() - last > kLossMs) {
        qWarning("network camera %s: no frame for %d ms, lost", qPrintable(serial_), kLossMs);
        lostState_ = true;
        setWatching(false);
        emit sigCameraLost();
    }
}

void NetCamera::lost()
{
    lostState_ = true;
}

bool NetCamera::reconnect()
{
    const bool wasStarted = started_;
    release();
    if (!connectCamera()) {
        // Counted: a lost camera is tried again and again until it is back.
        static PeerTrafficLog failed(QStringLiteral("network cameras: reconnect failed"), PeerTrafficLog::kIntervalMs,
                                     logClockMs);
        failed.note(serial_);
        return false;
    }
    lostState_ = false;
    started_ = false;
    if (wasStarted)
        start();
    // The camera's settings as the program last set them.
    setting(QJsonObject{{"exposetime", exposure_}, {"gain", gain_}, {"contrast", contrast_}, {"sharp", sharp_},
                        {"gammma", gamma_}});
    return true;
}

QJsonObject NetCamera::currentSetting(int)
{
    QJsonObject o;
    if (handle_ < 0)
        return o;
    QMap<QString, QVariant> values;
    ZelCameraGetParams(handle_, {QStringLiteral("exposure"), QStringLiteral("gain")}, values, false);
    if (values.contains(QStringLiteral("exposure")))
        o.insert(QStringLiteral("ExposureTime"), values.value(QStringLiteral("exposure")).toDouble() * 1000.0);
    if (values.contains(QStringLiteral("gain")))
        o.insert(QStringLiteral("Gain"), values.value(QStringLiteral("gain")).toInt());
    return o;
}

void NetCamera::setting(QJsonObject obj)
{
    // One call sends up to eight settings and commands, each an exchange of
    // its own: a camera that answers none of them is one line, with counts.
    Tally tally;
    tally_ = &tally;
    if (obj.contains("exposetime"))
        setExposeTime(obj.value("exposetime").toInt());
    if (obj.contains("gain"))
        setAdjustPlus(obj.value("gain").toInt());
    if (obj.contains("contrast"))
        setContrast(obj.value("contrast").toInt());
    if (obj.contains("sharp"))
        setSharp(obj.value("sharp").toInt());
    if (obj.contains("gammma"))
        setGamma(obj.value("gammma").toInt());
    if (obj.contains("WDR"))
        setWDR(obj.value("WDR").toBool());
    if (obj.contains("VMirror"))
        setVMirror(obj.value("VMirror").toBool());
    if (obj.contains("HMirror"))
        setHMirror(obj.value("HMirror").toBool());
    tally_ = nullptr;
    // "sysUsage" carries "Use External Trigger": trigger mode, never a
    // switch-off.
    if (obj.contains("sysUsage"))
        changeTrigger(obj.value("sysUsage").toBool());
    if (obj.contains("speed"))
        setSpeed(obj.value("speed").toInt());
    if (tally.unanswered > 0 || tally.refused > 0)
        qWarning("network camera %s: of %d settings and commands sent, %d not answered, %d refused",
                 qPrintable(serial_), tally.sent, tally.unanswered, tally.refused);
}

void NetCamera::outcome(const char* what, int value, int rc)
{
    if (tally_) {
        ++tally_->sent;
        if (rc == ZEL_NOT_CONNECTED || rc == ZEL_LINK_DOWN)
            ++tally_->unanswered;
        else if (rc != ZEL_OK)
            ++tally_->refused;
        return;
    }
    if (rc == ZEL_NOT_CONNECTED || rc == ZEL_LINK_DOWN)
        qWarning("network camera %s: %s %d not answered", qPrintable(serial_), what, value);
    else if (rc != ZEL_OK)
        qWarning("network camera %s: %s %d refused", qPrintable(serial_), what, value);
}

void NetCamera::setExposeTime(int v)
{
    exposure_ = v;
    if (handle_ >= 0)
        outcome("exposure", v, ZelCameraSetExposureTime(handle_, v));
}

void NetCamera::setAdjustPlus(int v)
{
    gain_ = v;
    if (handle_ >= 0)
        outcome("gain", v, ZelCameraSetAnalogGain(handle_, v));
}

void NetCamera::setSharp(int v)
{
    sharp_ = v;
    if (handle_ >= 0)
        outcome("sharpness", v, ZelCameraSetSharpness(handle_, v));
}

void NetCamera::setContrast(int v)
{
    contrast_ = v;
    if (handle_ >= 0)
        outcome("contrast", v, ZelCameraSetContrast(handle_, v));
}

void NetCamera::setGamma(int v)
{
    gamma_ = v;
    if (handle_ >= 0)
        outcome("gamma", v, ZelCameraSetGamma(handle_, v));
}

void NetCamera::setWDR(bool on)
{
    if (handle_ >= 0)
        outcome("wide dynamic range", on, ZelCameraSetHDR(handle_, on ? 1 : 0));
}

void NetCamera::setHMirror(bool on)
{
    if (handle_ >= 0)
        outcome("hmirror", on, ZelCameraCommonCall(handle_, "hmirror", nullptr, on ? 1u : 0u));
}

void NetCamera::setVMirror(bool on)
{
    if (handle_ >= 0)
        outcome("vmirror", on, ZelCameraCommonCall(handle_, "vmirror", nullptr, on ? 1u : 0u));
}

void NetCamera::setWB()
{
    if (handle_ >= 0)
        outcome("whitebalance", 1, ZelCameraCommonCall(handle_, "whitebalance", nullptr, 1u));
}

void NetCamera::setColor(bool on)
{
    if (opened_) {
        qWarning("network camera %s: colour mode is fixed once open", qPrintable(serial_));
        return;
    }
    colourOut_ = on;
}

void NetCamera::setSpeed(int v)
{
    speed_ = v;
}

void NetCamera::getFps(int* fps)
{
    if (!fps)
        return;
    const qint64 ms = fpsClock_.isValid() ? fpsClock_.elapsed() : 0;
    *fps = ms > 0 ? int(fpsFrames_ * 1000LL / ms) : 0;
    if (ms > 5000) {
        fpsClock_.restart();
        fpsFrames_ = 0;
    }
}

void NetCamera::changeTrigger(bool on)
{
    // Said when switched on (the operator's setting), not on every setting
    // call that repeats it.
    if (on && !trigger_)
        qWarning("network camera %s: cannot be triggered by the machine; it keeps running free", qPrintable(serial_));
    trigger_ = on;
}

void NetCamera::softTrigger()
{
    // Running free: the next pull brings a frame of the moment anyway.
}

void NetCamera::getSize(int* width, int* height)
{
    if (width)
        *width = width_;
    if (height)
        *height = height_;
}

bool NetCamera::getImage(uchar* buffer)
{
    return takeFrame(buffer, true);
}

bool NetCamera::getNewestImage(uchar* buffer)
{
    return takeFrame(buffer, false);
}

qint64 NetCamera::getImageSince(uchar* buffer, qint64 sinceNs, int waitMs)
{
    if (!buffer || !opened_ || !started_ || lostState_ || handle_ < 0)
        return 0;
    cv::Mat frame;
    qint64 came = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto after = [this, sinceNs] { return seq_ > 0 && !latest_.empty() && latestNs_ >= sinceNs; };
        if (!arrived_.wait_for(lock, std::chrono::milliseconds(qMax(0, waitMs)), after))
            return 0;
        frame = latest_;
        came = latestNs_;
        taken_ = seq_;
    }
    return convert(frame, buffer) ? came : 0;
}

void NetCamera::advanceLogClock(qint64 ms)
{
    logClockSkewMs += ms;
}

bool NetCamera::takeFrame(uchar* buffer, bool wait)
{
    if (!buffer || !opened_ || !started_ || lostState_ || handle_ < 0)
        return false;
    cv::Mat frame;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto fresh = [this] { return seq_ > taken_; };
        if (wait ? !arrived_.wait_for(lock, std::chrono::milliseconds(kFrameWaitMs), fresh) : !fresh())
            return false;
        frame = latest_;
        taken_ = seq_;
    }
    return convert(frame, buffer);
}

bool NetCamera::convert(const cv::Mat& frame, uchar* buffer)
{
    if (frame.cols != width_ || frame.rows != height_ || frame.depth() != CV_8U) {
        static PeerTrafficLog mismatched(QStringLiteral("network cameras: frames of another size dropped"),
                                         PeerTrafficLog::kIntervalMs, logClockMs);
        mismatched.note(QStringLiteral("%1: %2x%3, not %4x%5").arg(serial_).arg(frame.cols).arg(frame.rows).arg(width_).arg(height_));
        return false;
    }
    // Converted straight into the caller's buffer: the second and last copy
    // of the frame after the socket.
    const int outType = colourOut_ ? CV_8UC4 : CV_8UC1;
    cv::Mat out(height_, width_, outType, buffer);
    switch (frame.channels()) {
    case 1:
        if (colourOut_)
            cv::cvtColor(frame, out, cv::COLOR_GRAY2BGRA);
        else
            frame.copyTo(out);
        break;
    case 3:
        cv::cvtColor(frame, out, colourOut_ ? cv::COLOR_BGR2BGRA : cv::COLOR_BGR2GRAY);
        break;
    default:
        return false;
    }
    ++fpsFrames_;
    return true;
}

void NetCamera::restoreDefault(QJsonObject* obj, int)
{
    vmmplugin::resetImageSettings(exposure_, gain_, sharp_, contrast_, gamma_, speed_);
    setting(QJsonObject{{"exposetime", exposure_}, {"gain", gain_}, {"contrast", contrast_}, {"sharp", sharp_},
                        {"gammma", gamma_}});
    if (!obj)
        return;
    vmmplugin::putImageSettings(*obj, exposure_, gain_, sharp_, contrast_, gamma_, speed_);
}

}  // namespace netcam
