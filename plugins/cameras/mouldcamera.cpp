#include "mouldcamera.h"

#include "../pluginshared.h"

#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstring>

namespace mouldcam {

namespace {
// How long getImage() waits for a frame the thread is still rendering.
constexpr auto kFrameWait = std::chrono::seconds(5);
constexpr int kMaxPendingTriggers = 16;
}  // namespace

MouldCamera::MouldCamera(const CameraConfig& config, int kind, const QString& pluginName)
    : config_(config), kind_(kind), pluginName_(pluginName), faults_(config.faults)
{
    state_.scene = config.scene;
    state_.defects = config.defects;
    state_.defectSize = config.defectSize;
    state_.defectContrast = config.defectContrast;
    // getImage() touches only this object's counters and, under its lock,
    // the frame the render thread prepared: cameras may be read at once.
    setProperty(kGrabAnyThread, true);
}

MouldCamera::~MouldCamera()
{
    close();
}

bool MouldCamera::open()
{
    if (opened_)
        return true;
    if (faults_.openFail) {
        qWarning("camera %s: open failed", qPrintable(config_.serial));
        return false;
    }
    renderer_ = std::make_unique<SceneRenderer>(config_);
    if (config_.folderSource && renderer_->pictures().isEmpty()) {
        qWarning("camera %s: no pictures in %s", qPrintable(config_.serial), qPrintable(config_.folder));
        renderer_.reset();
        return false;
    }
    const size_t bytes = size_t(config_.width) * size_t(config_.height) * size_t(bytesPerPixel());
    front_.assign(bytes, 0);
    back_.assign(bytes, 0);
    applyBrightness();
    opened_ = true;
    lostState_ = false;
    calls_ = 0;
    framesSinceLossArmed_ = 0;
    fpsFrames_ = 0;
    fpsClock_.start();
    startThread();
    return true;
}

void MouldCamera::close()
{
    stopThread();
    opened_ = false;
    started_ = false;
    renderer_.reset();
    std::vector<uchar>().swap(front_);
    std::vector<uchar>().swap(back_);
}

void MouldCamera::start()
{
    if (opened_)
        started_ = true;
}

void MouldCamera::stop()
{
    started_ = false;
}

void MouldCamera::lost()
{
    // The device is gone: nothing is rendered until a reconnect.
    stopThread();
}

bool MouldCamera::reconnect()
{
    if (!opened_)
        return false;
    if (faults_.reconnectFails > 0) {
        --faults_.reconnectFails;
        qWarning("camera %s: reconnect failed", qPrintable(config_.serial));
        return false;
    }
    lostState_ = false;
    framesSinceLossArmed_ = 0;
    startThread();
    return true;
}

QJsonObject MouldCamera::currentSetting(int)
{
    QJsonObject o;
    o[QStringLiteral("ExposureTime")] = double(exposure_) * 1000.0;  // microseconds
    o[QStringLiteral("Gain")] = gain_;
    o[QStringLiteral("Sharp")] = sharp_;
    o[QStringLiteral("Contrast")] = contrast_;
    o[QStringLiteral("Gamma")] = gamma_;
    o[QStringLiteral("WDR")] = wdr_;
    o[QStringLiteral("Speed")] = speed_;
    o[QStringLiteral("Trigger")] = triggerMode_;
    return o;
}

void MouldCamera::setting(QJsonObject obj)
{
    auto intOf = [&](const char* key, int* field) {
        const QJsonValue v = obj.value(QLatin1String(key));
        if (v.isDouble())
            *field = v.toInt();
    };
    intOf("exposetime", &exposure_);
    intOf("gain", &gain_);
    intOf("contrast", &contrast_);
    intOf("sharp", &sharp_);
    intOf("gammma", &gamma_);
    intOf("speed", &speed_);
    if (obj.value(QStringLiteral("WDR")).isBool())
        wdr_ = obj.value(QStringLiteral("WDR")).toBool();
    if (obj.value(QStringLiteral("sysUsage")).isBool())
        changeTrigger(obj.value(QStringLiteral("sysUsage")).toBool());
    bool mirrorChanged = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const QJsonValue h = obj.value(QStringLiteral("HMirror")), v = obj.value(QStringLiteral("VMirror"));
        if (h.isBool() && h.toBool() != state_.hMirror) {
            state_.hMirror = h.toBool();
            mirrorChanged = true;
        }
        if (v.isBool() && v.toBool() != state_.vMirror) {
            state_.vMirror = v.toBool();
            mirrorChanged = true;
        }
    }
    if (mirrorChanged)
        stateChanged();
    applyBrightness();
}

void MouldCamera::setExposeTime(int v)
{
    exposure_ = v;
    applyBrightness();
}

void MouldCamera::setAdjustPlus(int v)
{
    gain_ = v;
    applyBrightness();
}

void MouldCamera::setSharp(int v) { sharp_ = v; }
void MouldCamera::setContrast(int v) { contrast_ = v; }
void MouldCamera::setGamma(int v) { gamma_ = v; }
void MouldCamera::setWDR(bool on) { wdr_ = on; }
void MouldCamera::setSpeed(int v) { speed_ = v; }

void MouldCamera::setHMirror(bool on)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.hMirror = on;
    }
    stateChanged();
}

void MouldCamera::setVMirror(bool on)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.vMirror = on;
    }
    stateChanged();
}

void MouldCamera::setWB()
{
    if (!config_.color)
        return;
    {
        // Halfway towards the gains that cancel the sensor's colour cast.
        std::lock_guard<std::mutex> lock(mutex_);
        for (int c = 0; c < 3; ++c)
            state_.wb[c] += (1.0 / kSensorCast[c] - state_.wb[c]) * 0.5;
    }
    stateChanged();
}

void MouldCamera::setColor(bool on)
{
    if (opened_) {
        qWarning("camera %s: colour mode is fixed once the camera is open", qPrintable(config_.serial));
        return;
    }
    colourOut_ = on;
}

void MouldCamera::updateROI(QVariant record, int)
{
    // The detection regions are not used by this camera; it only notes that
    // the program has handed them over.
    if (record.isValid())
        ++roiUpdates_;
}

void MouldCamera::getFps(int* fps)
{
    if (!fps)
        return;
    const qint64 ms = fpsClock_.isValid() ? fpsClock_.restart() : 0;
    *fps = ms > 0 ? int(std::lround(double(fpsFrames_) * 1000.0 / double(ms))) : 0;
    fpsFrames_ = 0;
}

void MouldCamera::changeTrigger(bool on)
{
    triggerMode_ = on;
    pendingTriggers_ = 0;
}

void MouldCamera::softTrigger()
{
    hardwareTrigger();
}

void MouldCamera::hardwareTrigger()
{
    if (triggerMode_ && pendingTriggers_ < kMaxPendingTriggers)
        ++pendingTriggers_;
}

void MouldCamera::getSize(int* width, int* height)
{
    if (width)
        *width = faults_.size0 ? 0 : config_.width;
    if (height)
        *height = faults_.size0 ? 0 : config_.height;
}

bool MouldCamera::getImage(uchar* buffer)
{
    if (!buffer || !opened_ || !started_ || lostState_)
        return false;
    ++calls_;
    if (faults_.missEvery > 0 && calls_ % quint64(faults_.missEvery) == 0)
        return false;
    if (triggerMode_) {
        if (pendingTriggers_ == 0)
            return false;
        --pendingTriggers_;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool fresh = wake_.wait_for(lock, kFrameWait, [this] {
            return quit_ || (ready_ && readyGeneration_ == generation_ && readyIndex_ == delivered_);
        });
        if (!fresh || quit_) {
            qWarning("camera %s: no frame ready", qPrintable(config_.serial));
            return false;
        }
        front_.swap(back_);
        ready_ = false;
        ++delivered_;
    }
    wake_.notify_all();
    std::memcpy(buffer, front_.data(), front_.size());
    ++fpsFrames_;
    if (faults_.lossAfter > 0 && ++framesSinceLossArmed_ >= faults_.lossAfter) {
        // The device goes away after this frame. The loss is reported through
        // the event loop, so the caller of getImage() is never re-entered.
        faults_.lossAfter = 0;
        framesSinceLossArmed_ = 0;
        lostState_ = true;
        QTimer::singleShot(0, this, [this] { emit sigCameraLost(); });
    }
    return true;
}

void MouldCamera::restoreDefault(QJsonObject* obj, int)
{
    vmmplugin::resetImageSettings(exposure_, gain_, sharp_, contrast_, gamma_, speed_);
    applyBrightness();
    if (!obj)
        return;
    vmmplugin::putImageSettings(*obj, exposure_, gain_, sharp_, contrast_, gamma_, speed_);
}

void MouldCamera::setScene(Scene scene)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.scene = scene;
    }
    stateChanged();
}

void MouldCamera::setDefects(unsigned defects)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.defects = defects;
    }
    stateChanged();
}

void MouldCamera::setDefectLook(double size, double contrast)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.defectSize = clampDefectSize(size);
        state_.defectContrast = clampDefectContrast(contrast);
    }
    stateChanged();
}

void MouldCamera::applyBrightness()
{
    // Exposure and gain at their defaults give the scene as designed.
    const double e = std::max(0, exposure_) / 30.0, g = std::max(0, gain_) / 32.0;
    const double b = std::min(4.0, std::max(0.25, std::sqrt(e * g)));
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed = state_.brightness != b;
        state_.brightness = b;
    }
    if (changed)
        stateChanged();
}

void MouldCamera::stateChanged()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    wake_.notify_all();
}

void MouldCamera::startThread()
{
    if (thread_.joinable() || !renderer_)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = false;
        ready_ = false;
    }
    thread_ = std::thread([this] { frameLoop(); });
}

void MouldCamera::stopThread()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void MouldCamera::frameLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        const bool current = ready_ && readyGeneration_ == generation_ && readyIndex_ == delivered_;
        if (current) {
            wake_.wait(lock);
            continue;
        }
        // Render the next frame into the back buffer; getImage() does not
        // touch it until it is marked ready.
        const RenderState state = state_;
        const quint64 generation = generation_;
        const quint64 index = delivered_;
        ready_ = false;
        uchar* target = back_.data();
        lock.unlock();
        renderer_->render(index, state, colourOut_, target);
        lock.lock();
        ready_ = true;
        readyGeneration_ = generation;
        readyIndex_ = index;
        wake_.notify_all();
    }
}

}  // namespace mouldcam
