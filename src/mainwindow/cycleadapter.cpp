#include "cycleadapter.h"

#include "cameraviews.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "databases.h"
#include "iofunc.h"
#include "judgepool.h"
#include "machineoutputs.h"
#include "mouldcycle.h"
#include "notice.h"
#include "publictools.h"
#include "rivurevezi.h"
#include "screenlight.h"
#include "sysword.h"

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QMutexLocker>
#include <QTimer>

#include <chrono>
#include <climits>
#include <cstring>

void CycleAdapter::setOut(int n, int on)
{
    if (gpControlIO)
        gpControlIO->IOSetOut(n, on);
}

void CycleAdapter::flashOut()
{
    if (gpControlIO)
        gpControlIO->IOFlashOut();
}

void CycleAdapter::led(int n, int on)
{
    LEDOnOff(n, on);
}

void CycleAdapter::edgeHolds(const int holds[10])
{
    if (gpControlIO)
        gpControlIO->setEdgeHolds(holds);
}

bool CycleAdapter::inputsKnown() const
{
    // Without a board (tests of the window) the pass's inputs are all there
    // is; with one, only its thread's first report tells what the machine shows.
    if (!gpControlIO)
        return true;
    return gpControlIO->ioThread() && inputsReported();
}

quint64 CycleAdapter::edgesTakenSeq() const
{
    return inputEdgesTakenSeq();
}

CycleBoard::PollGaps CycleAdapter::pollGaps() const
{
    return pollGapsTaken();
}

qint64 CycleAdapter::inputEdgeNs() const
{
    return gInputRiseNs.load();
}

qint64 CycleAdapter::outputWrittenNs() const
{
    return gpControlIO && gpControlIO->ioThread() ? gpControlIO->ioThread()->lastWriteNs() : 0;
}

bool CycleAdapter::cameraMissing()
{
    return win_->CameraCheck() == 0;
}

void CycleAdapter::countdownStarted(int step, qint64 openingNs)
{
    // Each step its own mark: a camera that tells when its frames came
    // gives the step the newest frame after its opening; any other is
    // judged on a frame pulled after this count. Another step's frames,
    // counting down meanwhile, are left alone.
    if (step < 0 || step >= kMaxDetect)
        return;
    win_->openingNs[step] = openingNs;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        win_->frameMark[c][step] = v ? v->frameCount() : 0;
    }
}

bool CycleAdapter::cameraRunning(int camera)
{
    CammerWidget* v = CameraViews::at(camera);
    return v && v->isAlive() && !v->reconnecting();
}

bool CycleAdapter::frameOfStep(CammerWidget* v, int camera, int step) const
{
    if (v->framesTimed())
        return v->frameCameNs() >= win_->openingNs[step];
    return v->frameCount() > win_->frameMark[camera][step];
}

int CycleAdapter::pictureWaitMs(CammerWidget* v, qint64 fromNs) const
{
    // After the countdown, max(0.5 s, 1.5 of the camera's frame intervals):
    // the first frame after the opening is due at most an interval after it.
    const qint64 waitNs = qMax<qint64>(500, v->frameIntervalMs() * 3 / 2) * 1000000LL;
    const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    return int(qBound<qint64>(0, (fromNs + waitNs - now) / 1000000, INT_MAX));
}

bool CycleAdapter::freshFrame(int camera, int step, qint64 fromNs)
{
    CammerWidget* v = CameraViews::at(camera);
    if (!v || !v->isAlive() || v->reconnecting())
        return false;
    // A frame pulled since the countdown ended (for another step that ended
    // with it), else the frame of this moment; the screen shows it after the
    // decision.
    if (v->pulledAtNs() >= fromNs && frameOfStep(v, camera, step))
        return true;
    if (v->framesTimed()) {
        if (!v->GrabFrameSince(win_->openingNs[step], pictureWaitMs(v, fromNs)))
            return false;
        v->TakeGrabbedFrame();
        win_->framePulledMs[camera] = monotonic_ms();
        return true;
    }
    if (v->PullFrame()) {
        win_->framePulledMs[camera] = monotonic_ms();
        return true;
    }
    return frameOfStep(v, camera, step);
}

void CycleAdapter::freshFrames(int step, qint64 fromNs, const bool want[kMaxCamera], bool fresh[kMaxCamera])
{
    // The cameras whose plug-in allows it are read at once on the pool (the
    // GUI thread waits, so nothing else touches them meanwhile), the others
    // one after the other here; the frames are then taken as freshFrame
    // takes them, camera by camera.
    int grab[kMaxCamera] = {};
    int waitMs[kMaxCamera] = {};
    int count = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!want[c])
            continue;
        CammerWidget* v = CameraViews::at(c);
        const bool already = v && v->isAlive() && !v->reconnecting() && v->pulledAtNs() >= fromNs &&
                             frameOfStep(v, c, step);
        if (!already && v && v->CanGrabOffGuiThread()) {
            waitMs[count] = v->framesTimed() ? pictureWaitMs(v, fromNs) : 0;
            grab[count++] = c;
        } else {
            fresh[c] = freshFrame(c, step, fromNs);
        }
    }
    if (count == 0)
        return;
    bool got[kMaxCamera] = {};
    const qint64 since = win_->openingNs[step];
    const auto job = [&](int i) { got[i] = CameraViews::at(grab[i])->GrabFrameSince(since, waitMs[i]); };
    atOnce(count, job);
    for (int i = 0; i < count; ++i) {
        const int c = grab[i];
        CammerWidget* v = CameraViews::at(c);
        if (got[i]) {
            v->TakeGrabbedFrame();
            win_->framePulledMs[c] = monotonic_ms();
            fresh[c] = true;
        } else if (v->framesTimed()) {
            // Once per unjudged step, with what the wait was made of.
            qInfo("camera %d: no frame after the opening of step %d within %d ms after its countdown (a frame "
                  "every %d ms)",
                  c + 1, step + 1, waitMs[i], v->frameIntervalMs());
        } else {
            fresh[c] = frameOfStep(v, c, step);
        }
    }
}

bool CycleAdapter::takeTemplate(int camera, int step)
{
    CammerWidget* v = CameraViews::at(camera);
    // A step whose first template was never captured (a new mould) takes
    // this picture as its template instead of being judged against nothing.
    const bool noTemplate = step >= v->stepCount() ||
                            !QFile::exists(QStringLiteral("./cammer%1%2/template0.bmp").arg(camera + 1).arg(step + 1));
    if (!v->isUntrained(step) && !noTemplate)
        return false;
    // Only a retrain ordered by the operator goes on to region setting;
    // a step that merely had no template yet just takes one.
    if (v->takeAsFirstTemplate(step))
        win_->templatesCaptured = true;
    LEDOnOff(4, 1);
    MachineOutputs::get().templateListChanged(
        QJsonObject{{QStringLiteral("camera"), camera}, {QStringLiteral("detect"), step}});
    return true;
}

void CycleAdapter::judge(int step, const bool fresh[kMaxCamera], Verdict verdict[kMaxCamera],
                         QStringList records[kMaxCamera])
{
    // Templates first, here; then the engines of the cameras that are to be
    // judged all at once, this thread waiting for every one.
    int judged[kMaxCamera];
    int count = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!fresh[c] || !CameraViews::at(c))
            continue;
        if (takeTemplate(c, step)) {
            verdict[c] = Trained;
            noteOverExposed(c, step, records[c]);
        } else {
            judged[count++] = c;
        }
    }
    const auto job = [&](int i) {
        const int c = judged[i];
        CammerRecong* engine = CameraViews::at(c)->engine();
        if (!engine)
            return;
        engine->JudgeHeld(step, &records[c]);
    };
    atOnce(count, job);
    for (int i = 0; i < count; ++i)
        verdict[judged[i]] = CameraViews::at(judged[i])->stepOk ? Ok : Ng;
}

void CycleAdapter::noteOverExposed(int camera, int step, QStringList& records)
{
    const QVector<OverExposure::Region> found = OverExposure::regions(*CameraViews::at(camera), step);
    if (found.isEmpty())
        return;
    for (const OverExposure::Region& r : found)
        records.append(OverExposure::recordLine(r));
    overExposed_ += found;
    overExposedShown_ = false;
}

bool CycleAdapter::present(int camera)
{
    return camera >= 0 && camera < kMaxCamera && CameraViews::at(camera);
}

bool CycleAdapter::verdictOk(int camera)
{
    return CameraViews::at(camera)->stepOk;
}

void CycleAdapter::setVerdict(int camera, bool ok)
{
    CameraViews::at(camera)->setVerdict(ok);
}

void CycleAdapter::resetVerdicts()
{
    for (int c = 0; c < numCamera; ++c) {
        if (CammerWidget* v = CameraViews::at(c))
            v->resetVerdicts();
    }
}

void CycleAdapter::cycleOpened()
{
    overExposed_.clear();
    overExposedShown_ = true;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (CammerWidget* v = CameraViews::at(c))
            v->unsettleSteps();
}

void CycleAdapter::record(const QString& text)
{
    Databases::get().InsertRecord(text);
}

void CycleAdapter::countersChanged()
{
    Databases::get().CountWrite();
}

int CycleAdapter::faultPicture(int camera, int step, int which, Picture what, int code)
{
    CammerWidget* v = CameraViews::at(camera);
    if (what == LabelHeld) {
        code = v->UpdateFailImage(step, 0, code);
        which = 0;
    } else {
        v->SaveFailImage(step, which);
        if (what == SaveLabelled)
            code = v->UpdateFailImage(step, which, code);
    }
    if (pMutexSaveFail) {
        QMutexLocker lock(pMutexSaveFail);
        gisSaveFail[which + 2 * (camera * kMaxDetect + step)] = true;
    }
    return code;
}

void CycleAdapter::newFaultPictures(int step, const int* cameras, const int* which, int count)
{
    // Each view draws into its own slots and lowers their flags while it
    // draws; the flags go up once every picture is drawn.
    const auto draw = [&](int i) {
        if (CammerWidget* v = CameraViews::at(cameras[i]))
            v->SaveFailImage(step, which[i]);
    };
    atOnce(count, draw);
    if (!pMutexSaveFail)
        return;
    QMutexLocker lock(pMutexSaveFail);
    for (int i = 0; i < count; ++i)
        if (CameraViews::at(cameras[i]))
            gisSaveFail[which[i] + 2 * (cameras[i] * kMaxDetect + step)] = true;
}

void CycleAdapter::keepNgPicture(int camera, int step, const QDateTime& when)
{
    CameraViews::at(camera)->keepNgPicture(step, when);
}

void CycleAdapter::cycleStarted()
{
    MachineOutputs::get().cycleStarted();
}

void CycleAdapter::stepDone(int step, bool ok)
{
    MachineOutputs::get().cycleStepDone(step, ok);
}

void CycleAdapter::alarmStarted(int step)
{
    MachineOutputs::get().alarmStarted(step);
}

void CycleAdapter::alarmCleared(const QVector<QPair<int, int>>& kinds)
{
    MachineOutputs::get().alarmCleared(kinds);
}

void CycleAdapter::detectStopped()
{
    MachineOutputs::get().detectStopped();
}

void CycleAdapter::stepJudged(int)
{
    win_->CheckArea();
}

void CycleAdapter::stepDecided(int, bool ok, bool manual)
{
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (v && !v->stepOk)
            v->startAlarmBlink();
    }
    if (!ok) {
        LCDOnOff(1);
        if (win_->screenOffTimer && sysWord(Word::ScreenOffSeconds) > 0)
            win_->screenOffTimer->start(sysWord(Word::ScreenOffSeconds) * 1000);
    }
    win_->RoiPageAfterDecision(ok, manual);
    win_->update();
}

void CycleAdapter::owedStepsLater()
{
    RiVuRevezi* win = win_;
    QTimer::singleShot(0, win, [win] { win->mould->judgeOwedSteps(); });
}

void CycleAdapter::showJudgedFrames()
{
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (CameraViews::at(c))
            CameraViews::at(c)->ShowPulledFrame();
    if (!overExposedShown_) {
        overExposedShown_ = true;
        Notice::post(win_, OverExposure::noticeText(overExposed_));
    }
}

void CycleAdapter::atOnce(int count, const std::function<void(int)>& job)
{
    // One camera a worker, this thread waiting for every one.
    if (win_->judgeInParallel && count > 1) {
        if (!win_->judgePool)
            win_->judgePool = std::make_unique<JudgePool>(kMaxCamera - 1);
        win_->judgePool->runAll(count, job);
        return;
    }
    for (int i = 0; i < count; ++i)
        job(i);
}
