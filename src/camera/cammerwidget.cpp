#include "cammerwidget.h"
#include "faultpictures.h"

#include "databases.h"
#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "lanstr.h"
#include "miscfunc.h"
#include "cyclecontrol.h"
#include "screenchrome.h"
#include "winstate.h"
#include "wizardpara.h"


#include <QDebug>
#include <QJsonObject>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QPainter>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// Largest side and picture a camera may report; anything above is a broken
// plug-in (every view keeps a few dozen frame-sized buffers).
constexpr int kMaxFrameSide = 16384;
constexpr qint64 kMaxFramePixels = 32 * 1024 * 1024;

uchar* newZeroed(int bytes)
{
    if (bytes <= 0)
        return nullptr;
    uchar* p = new uchar[size_t(bytes)];
    std::memset(p, 0, size_t(bytes));
    return p;
}

void freeBuffer(uchar*& p)
{
    delete[] p;
    p = nullptr;
}

// Camera (re)connection blocks on the device for up to seconds; it runs
// here, one thread per camera at most, never on the GUI thread. Never
// destroyed: the program's end waits for no attempt (closeForStop gives
// them a bounded time and leaves a camera whose attempt goes on to it).
QThreadPool& reconnectPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(kMaxCamera);
        return p;
    }();
    return *pool;
}

bool validCamera(int camera)
{
    return camera >= 0 && camera < kMaxCamera;
}

// The owning view of a record load, as the record's loader sees it.
RoiViewLink resolveView(void* view)
{
    return static_cast<CammerWidget*>(view)->roiViewLink();
}

}  // namespace

CammerWidget::CammerWidget(QWidget* parent, int cameraNo, _cameraInfo info)
    : QWidget(parent)
    , pluginName(info.pluginName)
{
    cameraIndex = cameraNo;
    onRepaint = [this] { update(); };
    std::memcpy(deviceBytes, info.device, sizeof(deviceBytes));
    for (auto& step : roiPassed)
        std::fill(std::begin(step), std::end(step), true);
    setMouseTracking(true);
    ConnectEditor();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    hide();

    reconnectTimer = new QTimer(this);
    reconnectTimer->setSingleShot(true);
    connect(reconnectTimer, &QTimer::timeout, this, &CammerWidget::TryReconnect);

    if (!validCamera(cameraIndex)) {
        qWarning("CammerWidget: camera index %d outside 0..%d; view not built", cameraIndex, kMaxCamera - 1);
        return;
    }

    camera_ = CameraManager::getInstance()->createCamera(info);
    if (camera_)
        CameraOpen();
    if (!opened)
        return;   // the main window discards the view, or has it wait (WaitForCamera)
    FinishBuild();
}

void CammerWidget::FinishBuild()
{
    if (camera_) {
        connect(camera_, &CameraInterface::sigCameraLost, this, &CammerWidget::SlotLoss);
        isSimulated = camera_->kind() == 0;
    }

    AllocateFrameBuffers();
    BuildRoiPanel();
    blinkState = Blink::Off;
    AllocateStepBuffers();
    LoadTemplate();
    LoadIgnorePoint();

    CammerSingleton::setViewResolver(&resolveView);
    savedRecord = new CammerSingleton(cameraIndex);
    savedRecord->LoadDatafromFile(roiViewLink());
    editRecord = new CammerSingleton(cameraIndex);
    engine_ = new CammerRecong(savedRecord, this);

    HotCameraUpdateROI();
    if (opened) {
        CameraStart();
        initSetting();
    }

    alarmTimer = new QTimer(this);
    connect(alarmTimer, &QTimer::timeout, this, &CammerWidget::TimerShowAlarm);
    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &CammerWidget::TimerFPS);
    fpsTimer->start(1000);

    InitEditing();
}

void CammerWidget::WaitForCamera(QSize size)
{
    if (opened || waiting_ || !validCamera(cameraIndex) || size.width() < 1 || size.height() < 1 ||
        size.width() > kMaxFrameSide || size.height() > kMaxFrameSide)
        return;
    waiting_ = true;
    alive = false;
    SetPictureSize(size.width(), size.height());
    FinishBuild();
    if (!camera_)
        setMissing(Missing::NotFound);
    else if (refusedIntervalMs_ > 0)
        setMissing(Missing::TooSlow, refusedIntervalMs_);
    else
        setMissing(Missing::NotOpened);
    // The hold of a missing camera is the record's too, once.
    Databases::get().InsertRecord(missingWord(), QString());
    if (camera_)
        reconnectTimer->start(1000);
}

void CammerWidget::setMissing(Missing why, int intervalMs, QSize size)
{
    if (why == Missing::TooSlow)
        refusedIntervalMs_ = intervalMs;
    if (why == Missing::OtherSize)
        missingSize_ = size;
    const bool changed = why != missing_;
    missing_ = why;
    // Said when the reason changes, not at every attempt.
    if (changed && why != Missing::None)
        qWarning("%s", qPrintable(missingWord()));
}

QString CammerWidget::missingWord() const
{
    const int n = cameraIndex + 1;
    switch (missing_) {
    case Missing::NotOpened:
        return lanStr(746).arg(n);
    case Missing::TooSlow:
        return lanStr(747).arg(n).arg(refusedIntervalMs_).arg(kSlowestFrameIntervalMs);
    case Missing::OtherSize:
        return lanStr(748)
            .arg(n)
            .arg(missingSize_.width())
            .arg(missingSize_.height())
            .arg(imageWidth)
            .arg(imageHeight);
    case Missing::NotFound:
        return lanStr(749).arg(n);
    case Missing::None:
        break;
    }
    return QString();
}

CammerWidget::~CammerWidget()
{
    if (reconnectTimer)
        reconnectTimer->stop();
    if (reconnectJob.valid())
        reconnectJob.wait();  // the worker still holds the camera
    delete engine_;
    engine_ = nullptr;
    delete savedRecord;
    savedRecord = nullptr;
    delete editRecord;
    editRecord = nullptr;
    FreeBuffers();
    delete camera_;
    camera_ = nullptr;
}

RoiViewLink CammerWidget::roiViewLink()
{
    RoiViewLink link;
    link.sx = scales.fullX;
    link.sy = scales.fullY;
    link.liveMasks = &liveMasks[0][0];
    return link;
}

// ---- Opening and buffers ----------------------------------------------------

void CammerWidget::CameraOpen()
{
    if (!camera_)
        return;
    camera_->setColor(gisColor != 0);
    opened = camera_->open();
    if (!opened) {
        qInfo().noquote() << "camera open fail" << "camera NO " << cameraIndex << "camera SN"
                          << QString::fromUtf8(deviceBytes, int(qstrnlen(deviceBytes, sizeof(deviceBytes))));
        return;
    }
    refusedIntervalMs_ = 0;
    frameIntervalMs_ = measuredInterval();
    if (frameIntervalMs_ > 0)
        qInfo("camera %d: a frame every %d ms", cameraIndex + 1, frameIntervalMs_);
    if (frameIntervalMs_ > kSlowestFrameIntervalMs) {
        // Half-used it would judge some steps and leave others unjudged at
        // random: it is refused, and said so.
        qWarning("camera %d gives a frame every %d ms, slower than the %d ms the cycle can wait for; refused",
                 cameraIndex + 1, frameIntervalMs_, kSlowestFrameIntervalMs);
        refusedIntervalMs_ = frameIntervalMs_;
        camera_->close();
        opened = false;
        return;
    }
    int w = 0;
    int h = 0;
    camera_->getSize(&w, &h);
    const qint64 pixels = qint64(w) * qint64(h);
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide || pixels > kMaxFramePixels) {
        // A picture size nothing can be sized from: the camera is unusable.
        qWarning("CammerWidget: camera %d reports a picture size of %d x %d; refused", cameraIndex + 1, w, h);
        camera_->close();
        opened = false;
        return;
    }
    SetPictureSize(w, h);
    initSetting();
}

void CammerWidget::SetPictureSize(int w, int h)
{
    imageWidth = w;
    imageHeight = h;
    pixelCount = w * h;
    frameBytes = gisColor ? pixelCount * 4 : pixelCount;
    scales.fullX = float(gShowW) / float(imageWidth);
    scales.fullY = float(gShowH) / float(imageHeight);
    scales.showX = scales.fullX;
    scales.showY = scales.fullY;
}

void CammerWidget::AllocateFrameBuffers()
{
    captureFrame = newZeroed(frameBytes);
    workFrame = newZeroed(frameBytes);
    alignedFrame = newZeroed(frameBytes);
    displayFrame = newZeroed(frameBytes);
    if (gisColor)
        greyScratch = newZeroed(pixelCount);
    resultImage = newZeroed(pixelCount);
}

void CammerWidget::AllocateStepBuffers()
{
    int n = (gpWPara && gpWPara->words[Word::Mode] == DetectMode::MultiStep) ? kMaxDetect : gDNum;
    steps = std::max(0, std::min(n, int(kMaxDetect)));
    for (int g = 0; g < steps; ++g) {
        untrained[g] = false;
        if (stepEnabled(g))
            HoldStep(g);
    }
}

bool CammerWidget::stepEnabled(int step)
{
    return step >= 0 && step < kMaxDetect && step < gDNum && gpWPara && gpWPara->words[Word::StepEnabled0 + step] != 0;
}

void CammerWidget::HoldStep(int step)
{
    if (step < 0 || step >= steps || held[step])
        return;
    held[step] = true;
    // Slot 0 always holds a template (loaded or standing in); the others
    // are allocated when a template comes into them.
    templates[step].fill(nullptr, std::max(0, gTempNum));
    if (!templates[step].isEmpty())
        templates[step][0] = newZeroed(frameBytes);
    tempUsed[step].fill(0, templates[step].size());
    tempCount[step] = 0;
    ignoreMask[step] = newZeroed(pixelCount);
}

void CammerWidget::ReleaseStep(int step)
{
    if (step < 0 || step >= kMaxDetect)
        return;
    held[step] = false;
    for (uchar*& t : templates[step])
        freeBuffer(t);
    templates[step].clear();
    tempUsed[step].clear();
    tempCount[step] = 0;
    freeBuffer(ignoreMask[step]);
    recentNg.release(step);
    FaultPictures::release(cameraIndex, step);
}

void CammerWidget::SyncStepBuffers()
{
    for (int g = 0; g < kMaxDetect; ++g) {
        const bool want = g < steps && stepEnabled(g);
        if (want == held[g])
            continue;
        if (want) {
            HoldStep(g);
            LoadStepTemplates(g);
            LoadStepIgnore(g);
            untrained[g] = false;
        } else {
            ReleaseStep(g);
        }
        if (engine_ && want) {
            engine_->CreateHomoShape(g);
            engine_->CreateShape(g);
            engine_->VarTrain(g);
        } else if (engine_) {
            engine_->ForgetStep(g);
        }
    }
}

uchar* CammerWidget::templateSlot(int step, int slot)
{
    if (!stepHeld(step) || slot < 0 || slot >= templates[step].size())
        return nullptr;
    uchar*& p = templates[step][slot];
    if (!p)
        p = newZeroed(frameBytes);
    return p;
}

void CammerWidget::ReleaseTemplateSlot(int step, int slot)
{
    if (!stepHeld(step) || slot < 1 || slot >= templates[step].size())
        return;
    freeBuffer(templates[step][slot]);
}

void CammerWidget::FreeBuffers()
{
    freeBuffer(captureFrame);
    freeBuffer(workFrame);
    freeBuffer(alignedFrame);
    freeBuffer(displayFrame);
    freeBuffer(greyScratch);
    freeBuffer(resultImage);
    for (int g = 0; g < kMaxDetect; ++g) {
        held[g] = false;
        for (uchar*& t : templates[g])
            freeBuffer(t);
        templates[g].clear();
        tempUsed[g].clear();
        freeBuffer(ignoreMask[g]);
        recentNg.release(g);
    }
}

uchar* CammerWidget::ngPicture(int step, int slot)
{
    if (!stepHeld(step) || frameBytes <= 0)
        return nullptr;
    return recentNg.picture(step, slot, frameBytes);
}

const uchar* CammerWidget::recentNgPicture(int step, int slot) const
{
    return recentNg.recent(step, slot);
}

// ---- Settings -----------------------------------------------------------------

WizardPara* CammerWidget::SettingSource()
{
    if (gpState && ScreenChrome::get().settingsVisible() && gpWParaBak)
        return gpWParaBak;
    return gpWPara;
}

void CammerWidget::initSetting()
{
    if (!camera_)
        return;
    if (!gpWPara) {
        qWarning("CammerWidget::initSetting: no system parameters loaded");
        return;
    }
    camera_->setting(liveSettings());
}

QJsonObject CammerWidget::liveSettings() const
{
    const int* w = gpWPara->words;
    const int c = cameraIndex;
    QJsonObject o;
    o.insert(QStringLiteral("exposetime"), w[Word::Exposure0 + c]);
    o.insert(QStringLiteral("gain"), w[Word::Gain0 + c]);
    o.insert(QStringLiteral("contrast"), w[Word::Contrast0 + c]);
    o.insert(QStringLiteral("sharp"), w[Word::Sharpness0 + c]);
    o.insert(QStringLiteral("gammma"), w[Word::Gamma0 + c]);
    o.insert(QStringLiteral("WDR"), w[Word::WideDynamicRange] != 0);
    o.insert(QStringLiteral("VMirror"), w[Word::MirrorVertical0 + c] != 0);
    o.insert(QStringLiteral("HMirror"), w[Word::MirrorHorizontal0 + c] != 0);
    o.insert(QStringLiteral("sysUsage"), w[Word::ExternalTrigger] != 0);
    o.insert(QStringLiteral("speed"), w[Word::AcquisitionSpeed]);
    return o;
}

namespace {
// The word of the source record, or nothing when no record is loaded.
bool sourceWord(int word, int* value)
{
    const WizardPara* src = CammerWidget::SettingSource();
    if (!src) {
        qWarning("CammerWidget: no system parameters loaded; setting not sent");
        return false;
    }
    *value = src->words[word];
    return true;
}
}  // namespace

void CammerWidget::SetExposeTime()
{
    int v = 0;
    if (!usable() || !sourceWord(Word::Exposure0 + cameraIndex, &v))
        return;
    camera_->setExposeTime(v);
    SetWB();
}

void CammerWidget::SetAdjustPlus()
{
    int v = 0;
    if (!usable() || !sourceWord(Word::Gain0 + cameraIndex, &v))
        return;
    camera_->setAdjustPlus(v);
    SetWB();
}

void CammerWidget::SetSharp()
{
    int v = 0;
    if (usable() && sourceWord(Word::Sharpness0 + cameraIndex, &v))
        camera_->setSharp(v);
}

void CammerWidget::SetContrast()
{
    int v = 0;
    if (usable() && sourceWord(Word::Contrast0 + cameraIndex, &v))
        camera_->setContrast(v);
}

void CammerWidget::SetGamma()
{
    int v = 0;
    if (usable() && sourceWord(Word::Gamma0 + cameraIndex, &v))
        camera_->setGamma(v);
}

void CammerWidget::SetWDR()
{
    int v = 0;
    if (!usable() || !sourceWord(Word::WideDynamicRange, &v))
        return;
    camera_->stop();
    camera_->setWDR(v != 0);
    camera_->start();
}

void CammerWidget::SetHMirror()
{
    int v = 0;
    if (!usable() || !sourceWord(Word::MirrorHorizontal0 + cameraIndex, &v))
        return;
    camera_->stop();
    camera_->setHMirror(v != 0);
    camera_->start();
}

void CammerWidget::SetVMirror()
{
    int v = 0;
    if (!usable() || !sourceWord(Word::MirrorVertical0 + cameraIndex, &v))
        return;
    camera_->stop();
    camera_->setVMirror(v != 0);
    camera_->start();
}

void CammerWidget::SetWB()
{
    if (usable() && gisColor)
        camera_->setWB();
}

void CammerWidget::SetSpeed()
{
    if (!usable())
        return;
    if (!gpWPara) {
        qWarning("CammerWidget::SetSpeed: no system parameters loaded");
        return;
    }
    camera_->stop();
    camera_->setSpeed(gpWPara->words[Word::AcquisitionSpeed]);
    camera_->start();
}

void CammerWidget::CameraChangeTrig(bool on)
{
    if (usable())
        camera_->changeTrigger(on);
}

int CammerWidget::CameraStart()
{
    if (!usable())
        return 0;
    camera_->start();
    return 1;
}

void CammerWidget::CameraStop()
{
    if (usable())
        camera_->stop();
}

void CammerWidget::CameraClose()
{
    if (!opened)
        return;
    if (reconnectJob.valid())
        reconnectJob.wait();  // closing for good: the attempt ends first
    camera_->close();
    opened = false;
}

void CammerWidget::RestoreDefaultSettings()
{
    if (!usable())
        return;
    if (!gpWParaBak) {
        qWarning("CammerWidget::RestoreDefaultSettings: no working copy of the system parameters");
        return;
    }
    int* w = gpWParaBak->words;
    const int c = cameraIndex;
    QJsonObject o;
    o.insert(QStringLiteral("exposeTime"), w[Word::Exposure0 + c]);
    o.insert(QStringLiteral("adjustPlus"), w[Word::Gain0 + c]);
    o.insert(QStringLiteral("sharp"), w[Word::Sharpness0 + c]);
    o.insert(QStringLiteral("contrast"), w[Word::Contrast0 + c]);
    o.insert(QStringLiteral("gamma"), w[Word::Gamma0 + c]);
    o.insert(QStringLiteral("isHMirror"), w[Word::MirrorHorizontal0 + c]);
    o.insert(QStringLiteral("isVMirror"), w[Word::MirrorVertical0 + c]);
    o.insert(QStringLiteral("speed"), w[Word::AcquisitionSpeed]);
    o.insert(QStringLiteral("sysUsage"), w[Word::ExternalTrigger]);
    o.insert(QStringLiteral("isWDR"), w[Word::WideDynamicRange]);
    camera_->restoreDefault(&o, c);
    w[Word::Exposure0 + c] = o.value(QStringLiteral("exposeTime")).toInt();
    w[Word::Gain0 + c] = o.value(QStringLiteral("adjustPlus")).toInt();
    w[Word::Sharpness0 + c] = o.value(QStringLiteral("sharp")).toInt();
    w[Word::Contrast0 + c] = o.value(QStringLiteral("contrast")).toInt();
    w[Word::Gamma0 + c] = o.value(QStringLiteral("gamma")).toInt();
    w[Word::AcquisitionSpeed] = o.value(QStringLiteral("speed")).toInt();
}

void CammerWidget::HotCameraUpdateROI()
{
    if (camera_ && !reconnectRunning)
        camera_->updateROI(QVariant::fromValue(savedRecord), 0);
}

// ---- Frames -------------------------------------------------------------------

bool CammerWidget::UpdateImage()
{
    // The GUI thread pulls here between everything else it does: a camera
    // slower than the pulls leaves the last picture shown, it never holds
    // the thread. A frame taken here counts for the cycle as any pull does;
    // only a frame not handed out before is ever taken. In trigger mode a
    // camera gives one frame per trigger, and the trigger is the machine's
    // opening: the frame belongs to the step about to count down (the pass
    // that starts it comes after this pull), so the live view, which shows
    // nothing in trigger mode, takes none.
    const bool triggered = gpWPara && gpWPara->words[Word::ExternalTrigger] != 0;
    if (!camera_ || !captureFrame || !alive || reconnectRunning || triggered || !GrabNewestFrame())
        return false;
    TakeGrabbedFrame();
    ShowPulledFrame();
    return true;
}

bool CammerWidget::PullFrame()
{
    if (!camera_ || !captureFrame)
        return false;
    const bool ok = alive && !reconnectRunning && GrabFrame();
    if (!ok)
        return false;
    TakeGrabbedFrame();
    return true;
}

bool CammerWidget::CanGrabOffGuiThread() const
{
    return camera_ && captureFrame && alive && !reconnectRunning && camera_->property(kGrabAnyThread).toBool();
}

bool CammerWidget::GrabFrame()
{
    return camera_->getImage(captureFrame);
}

namespace {

// The index of the camera class's optional operation `signature` (-1: not
// offered), looked up again only for another class.
int optionalMethod(const QObject* camera, const QMetaObject*& cls, int& index, const char* signature)
{
    const QMetaObject* meta = camera->metaObject();
    if (meta != cls) {
        cls = meta;
        index = meta->indexOfMethod(signature);
    }
    return index;
}

}  // namespace

bool CammerWidget::GrabNewestFrame()
{
    if (optionalMethod(camera_, newestClass_, newestIndex_, kNewestImageSignature) < 0)
        return camera_->getImage(captureFrame);
    bool got = false;
    const QMetaMethod method = newestClass_->method(newestIndex_);
    if (method.returnType() != QMetaType::Bool ||
        !method.invoke(camera_, Qt::DirectConnection, Q_RETURN_ARG(bool, got), Q_ARG(uchar*, captureFrame)))
        return false;
    return got;
}

bool CammerWidget::framesTimed()
{
    return camera_ && optionalMethod(camera_, sinceClass_, sinceIndex_, kImageSinceSignature) >= 0;
}

bool CammerWidget::GrabFrameSince(qint64 sinceNs, int waitMs)
{
    grabbedNs_ = 0;
    if (!camera_ || sinceClass_ != camera_->metaObject() || sinceIndex_ < 0)
        return GrabFrame();
    qint64 came = 0;
    const QMetaMethod method = sinceClass_->method(sinceIndex_);
    if (!method.invoke(camera_, Qt::DirectConnection, Q_RETURN_ARG(qint64, came), Q_ARG(uchar*, captureFrame),
                       Q_ARG(qint64, sinceNs), Q_ARG(int, waitMs)) ||
        came <= 0)
        return false;
    grabbedNs_ = came;
    return true;
}

int CammerWidget::measuredInterval()
{
    const int index = camera_ ? camera_->metaObject()->indexOfMethod(kFrameIntervalSignature) : -1;
    int ms = 0;
    if (index < 0 || !camera_->metaObject()->method(index).invoke(camera_, Qt::DirectConnection, Q_RETURN_ARG(int, ms)))
        return 0;
    return qMax(0, ms);
}

void CammerWidget::TakeGrabbedFrame()
{
    ++frameCount_;
    pulledNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
    // A camera that tells when its frames came is believed only by that: its
    // frame taken without the time (the live view's newest) may have come
    // before the opening of a step whose countdown ended while this thread
    // was late, and counts for no step.
    frameCameNs_ = grabbedNs_ > 0 ? grabbedNs_ : framesTimed() ? 0 : pulledNs;
    grabbedNs_ = 0;
    // In trigger mode only the cycle pulls (UpdateImage takes nothing): the
    // picture shown is the one each step was judged on, not the first of
    // the run left standing.
    const bool live = gSource == PictureSource::None || gSource == PictureSource::Live;
    const bool ngHeld = gpWPara && gpWPara->words[Word::HoldPictureAfterAlarm] != 0 && gpState &&
        gpState->cycle().detectState == DetectState::NgLatched;
    showDue = live && !ngHeld;
}

void CammerWidget::ShowPulledFrame()
{
    if (!showDue || !displayFrame || !captureFrame)
        return;
    showDue = false;
    std::memcpy(displayFrame, captureFrame, size_t(frameBytes));
    DisplayChanged();
    update();
}

void CammerWidget::ManualUpdateImage()
{
    if (usable() && isSimulated)
        camera_->softTrigger();
}

// ---- Timers and loss -----------------------------------------------------------

void CammerWidget::TimerFPS()
{
    if (usable())
        camera_->getFps(&fps);
}

void CammerWidget::TimerShowAlarm()
{
    if (stepOk) {
        blinkState = Blink::Off;
        if (alarmTimer)
            alarmTimer->stop();
    } else if (blinkState != Blink::IgnoredPoints) {
        // The ignored points stay shown until the page hides them again.
        blinkState = blinkState == Blink::Off ? Blink::Defects : Blink::Off;
    }
    update();
}

void CammerWidget::retrain(int step)
{
    if (engine_)
        engine_->VarTrain(step);
}

void CammerWidget::rebuildShapes(int step)
{
    if (!engine_)
        return;
    engine_->CreateHomoShape(step);
    engine_->CreateShape(step);
}

bool CammerWidget::showPicture(const uchar* shown)
{
    if (!displayFrame)
        return false;
    if (shown)
        std::memcpy(displayFrame, shown, static_cast<size_t>(frameBytes));
    else
        std::memset(displayFrame, 0, static_cast<size_t>(frameBytes));
    return true;
}

void CammerWidget::startAlarmBlink()
{
    if (alarmTimer)
        alarmTimer->start(1000);
}

void CammerWidget::stopAlarmBlink()
{
    if (alarmTimer)
        alarmTimer->stop();
}

bool CammerWidget::alarmBlinking() const
{
    return alarmTimer && alarmTimer->isActive();
}

bool CammerWidget::reconnecting() const
{
    return reconnectRunning || (reconnectTimer && reconnectTimer->isActive());
}

void CammerWidget::SlotLoss()
{
    if (!camera_)
        return;
    alive = false;
    if (gpState)
        CycleControl::get().lostCamera();
    if (!reconnectRunning)  // an attempt under way ends in its own report
        camera_->lost();
    update();
    ++lossCount;
    Databases::get().InsertRecord(lanStr(655).arg(cameraIndex + 1).arg(lossCount), QString());
    // Reconnect attempts run from the event loop, one every 1000 ms, so the
    // detection cycle keeps running and is never entered twice.
    if (!reconnectTimer->isActive() && !reconnectRunning)
        reconnectTimer->start(1000);
}

bool CammerWidget::closeForStop(std::chrono::steady_clock::time_point deadline)
{
    stopping_ = true;
    if (reconnectTimer)
        reconnectTimer->stop();
    if (reconnectJob.valid() && reconnectJob.wait_until(deadline) != std::future_status::ready) {
        qWarning("camera %d: its reconnect attempt goes on at the stop; the camera is left to it", cameraIndex + 1);
        return false;
    }
    CameraClose();
    return true;
}

// A camera that accepts a connection and then stays silent, lies or trickles
// holds a reconnect for seconds: the attempt runs on a worker thread and
// reports back queued, once, so the GUI thread (and with it the cycle, the
// other cameras, the board and the API) never waits on a device. While it
// runs the view makes no call on that camera (usable()).
void CammerWidget::TryReconnect()
{
    if (!camera_ || reconnectRunning || stopping_)
        return;
    reconnectRunning = true;
    PluginCamera* cam = camera_;
    auto done = std::make_shared<std::promise<void>>();
    reconnectJob = done->get_future();
    if (waiting_) {
        // A camera that never opened: the open itself (seconds on a slow
        // or silent device) runs on the worker.
        const bool colour = gisColor != 0;
        const QSize wanted(imageWidth, imageHeight);
        reconnectPool().start([this, cam, colour, wanted, done] {
            cam->setColor(colour);
            const bool ok = cam->open();
            const int interval = ok ? measuredInterval() : 0;
            int w = 0;
            int h = 0;
            if (ok)
                cam->getSize(&w, &h);
            // Refused (OpenDone says why): closed here, its stop being a
            // command the camera may keep the worker waiting on.
            if (ok && (interval > kSlowestFrameIntervalMs || QSize(w, h) != wanted))
                cam->close();
            QMetaObject::invokeMethod(
                this, [this, ok, interval, w, h] { OpenDone(ok, interval, QSize(w, h)); }, Qt::QueuedConnection);
            done->set_value();
        });
        return;
    }
    reconnectPool().start([this, cam, done] {
        const bool ok = cam->reconnect();
        const int interval = ok ? measuredInterval() : 0;
        // Back but too slow: it stays lost (ReconnectDone), handing out no
        // frame and raising no new loss until the next attempt.
        if (interval > kSlowestFrameIntervalMs)
            cam->lost();
        QMetaObject::invokeMethod(
            this, [this, ok, interval] { ReconnectDone(ok, interval); }, Qt::QueuedConnection);
        done->set_value();
    });
}

void CammerWidget::ReconnectDone(bool ok, int intervalMs)
{
    reconnectRunning = false;
    if (reconnectJob.valid())
        reconnectJob.wait();
    if (!camera_ || stopping_)
        return;
    alive = ok;
    if (alive) {
        // The buffers were made for the size the camera had when it opened;
        // a camera that comes back with another size gives no usable frame.
        int w = 0;
        int h = 0;
        camera_->getSize(&w, &h);
        if (w != imageWidth || h != imageHeight) {
            qWarning("camera %d came back with a picture size of %d x %d instead of %d x %d; still lost", cameraIndex + 1,
                     w, h, imageWidth, imageHeight);
            alive = false;
        }
        const int interval = intervalMs;
        if (alive && interval > kSlowestFrameIntervalMs) {
            // Said once while it stays too slow, not at every attempt.
            if (refusedIntervalMs_ == 0)
                qWarning("camera %d came back giving a frame every %d ms, slower than the %d ms the cycle can wait "
                         "for; still lost",
                         cameraIndex + 1, interval, kSlowestFrameIntervalMs);
            refusedIntervalMs_ = interval;
            alive = false;
        } else if (alive) {
            refusedIntervalMs_ = 0;
            frameIntervalMs_ = interval;
        }
    }
    if (!alive) {
        reconnectTimer->start(1000);
        return;
    }
    if (!gpWPara) {
        qWarning("CammerWidget::initSetting: no system parameters loaded");
        return;
    }
    SendSettingsOffThread(false);
}

void CammerWidget::SendSettingsOffThread(bool startFirst)
{
    // Its settings go out on a worker too: a camera that came back and then
    // ignores them would hold the GUI thread a second per setting. The camera
    // shows as back once they are done; meanwhile the view makes no call on it.
    alive = false;
    reconnectRunning = true;
    PluginCamera* cam = camera_;
    const QJsonObject settings = liveSettings();
    const int lossesBefore = lossCount;
    auto done = std::make_shared<std::promise<void>>();
    reconnectJob = done->get_future();
    reconnectPool().start([this, cam, settings, lossesBefore, startFirst, done] {
        if (startFirst)
            cam->start();
        cam->setting(settings);
        QMetaObject::invokeMethod(this, [this, lossesBefore] { SettingsDone(lossesBefore); }, Qt::QueuedConnection);
        done->set_value();
    });
}

void CammerWidget::OpenDone(bool ok, int intervalMs, QSize size)
{
    reconnectRunning = false;
    if (reconnectJob.valid())
        reconnectJob.wait();
    if (!camera_ || stopping_ || !waiting_)
        return;
    const bool tooSlow = ok && intervalMs > kSlowestFrameIntervalMs;
    // The view, its templates and regions are of the size it waits for.
    const bool otherSize = ok && !tooSlow && size != QSize(imageWidth, imageHeight);
    if (tooSlow)
        setMissing(Missing::TooSlow, intervalMs);
    else if (otherSize)
        setMissing(Missing::OtherSize, 0, size);
    if (!ok || tooSlow || otherSize) {
        reconnectTimer->start(1000);
        update();
        return;
    }
    waiting_ = false;
    opened = true;
    frameIntervalMs_ = intervalMs;
    refusedIntervalMs_ = 0;
    missing_ = Missing::None;
    const QString came = lanStr(750).arg(cameraIndex + 1);
    qInfo("%s", qPrintable(came));
    Databases::get().InsertRecord(came, QString());
    HotCameraUpdateROI();
    if (!gpWPara) {
        qWarning("CammerWidget::initSetting: no system parameters loaded");
        return;
    }
    SendSettingsOffThread(true);
}

void CammerWidget::SettingsDone(int lossesBefore)
{
    reconnectRunning = false;
    if (reconnectJob.valid())
        reconnectJob.wait();
    if (!camera_ || stopping_)
        return;
    if (lossCount != lossesBefore) {
        // Lost again while its settings went out (the loss was counted and
        // logged then): the next attempt follows.
        camera_->lost();
        reconnectTimer->start(1000);
        return;
    }
    alive = true;
    update();
}
