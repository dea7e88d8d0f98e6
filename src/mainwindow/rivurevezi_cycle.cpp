// The moulding cycle. Its rules, kept together here:
//
// Trigger   A step k is active when k < gDNum, word 86+k is set and its trigger
//           input (word 49+k; 255, "all moulds", means the mould-open input 0)
//           is a board input 0-9. A rising edge of that input starts the
//           step's countdown. Edges are latched by the I/O thread, so a pulse
//           shorter than a pass of the cycle is never lost. Triggers are
//           ignored while stopped, in region setting and while a camera is
//           missing (the interlocks are held then); in mode 3 with word 268
//           (sequential) only the current step listens. While an NG is
//           latched an edge starts no countdown but leaves its step owed.
// Openings  An opening is never passed unjudged. An edge of a step whose
//           countdown still runs (the machine opened again before the step
//           was decided) is held, one per step, and starts the step's next
//           countdown as soon as this one is decided: judged late, never
//           skipped. A step that could not be judged in time (an NG waiting
//           for the operator) stays owed and is judged when the NG is
//           resolved; an opening never counts as OK without a judgement.
// Door      The safety door is input bit kSafetyDoorInput (board input 2),
//           driven while the door is closed. With word 144 the door closing
//           is a trigger edge of every active step whose interlock is the
//           clamp (the mould-cavity steps): whoever reached into the open
//           mould, it is looked at again before it may close. Every rule
//           below holds for such a step as for one its input triggered; while
//           it is judged, safeDoorDetect is set (the fault picture says so).
//           The board's first report is no edge: a door found closed at
//           start-up triggers nothing.
// Cycle     The first triggered step of a cycle opens it: the interval since
//           the previous cycle start, ResetRun, the interlocks of all active
//           steps set, count state 1. A triggered step is owed a decision
//           until it is decided OK or passed by the operator. The cycle
//           closes only when its last active step was decided and no step is
//           owed any more.
// Countdown Word 40+k tenths of a second (its ticks due at whole tenths
//           after its start, late timer events do not add up), then every
//           camera's detection and CheckNG. The cameras' engines judge at the
//           same time, the GUI thread waiting for all of them before CheckNG;
//           the operation record gets their texts after the decision, camera
//           by camera, and the screen shows the judged frames then. A step
//           without a template captures one first and counts as OK
//           (training). A countdown that ends while an NG is latched, or
//           that the operator's re-detection stopped, leaves its step owed.
// Picture   A step is judged on the frame each camera gives when the
//           countdown is over (pulled then, not at the next pass; steps whose
//           countdowns end on the same tick share that frame); a camera
//           that gives none then (a triggered camera) is judged on a frame
//           taken after the countdown began. Never on an older one, always
//           of the camera's size. A camera that is missing
//           or gives no such frame leaves the step unjudged: NG for that
//           camera, code kCodeCameraLost, text row kTextUnjudged in the
//           operation record, no picture saved from a stale frame.
// Missing   While a camera is missing during detection, the clamp, the alarm
//           and every undecided interlock of the open cycle are held; the
//           clamp and the alarm stay held after the camera is back until a
//           cycle has closed, or until the operator stops detection (word 95
//           then decides the clamp).
// Interlock Modes 0-2: product steps (even) hold the ejector output (bit 1),
//           cavity steps (odd) the clamp output (bit 0). Mode 3: OutputNo[k],
//           the last configured step OutputNo[7]. Logical 1 = interlock active
//           (mould closing or ejector forbidden); ControlPort applies the
//           wiring sense. The alarm is output bit 2. An OK decision frees its
//           output only when no other undecided step of the open cycle holds
//           the same output.
// CheckNG   An NG is latched on disk first, then the outputs (before any
//           picture is rendered), then state and LEDs, counters and
//           count.ini, pictures, screen. On OK the current
//           step advances modulo gDNum; on NG the interlock stays on, the alarm
//           rises and the NG is latched until the operator resolves it.
// Resolved  When the operator's decision clears the NG, the owed steps of the
//           open cycle are judged at once, in order (this is also word 158's
//           recheck of the mould cavity after a product NG).
// Latch     A latched NG is kept in nglatch.dat until it is resolved or
//           detection stops. The file is made at its full size at start-up and
//           rewritten in place (two slots with checksums, forced to disk), so
//           a full disk never keeps an NG from it; it is written before the
//           outputs that announce the NG. A program that starts with one (or
//           with an earlier version's nglatch.ini) comes up with the alarm and
//           every undecided interlock held, the NG latched and the ROI page
//           open on it; an unreadable file is taken as an NG of the first
//           active step on every camera.
// Counters  Only automatic decisions count: per judged step and camera
//           gAllNum[c]++, on NG gFailNum[c]++; any NG gSyncNGNum++. A camera
//           that took a template is not counted for that step. When a cycle
//           closes that took no template, gAllCycleNum[c]++ for every camera,
//           gFailCycleNum[c]++ for a camera that failed any step of it,
//           gSyncNGCycleNum++ when any did. count.ini is written after every
//           decision.
// Passes    Run runs at once on every input change the I/O thread reports,
//           else 100 ms after its previous pass (1 ms after a change of the
//           wanted outputs, 1000 ms while a camera is missing). Nothing counts
//           passes: a countdown ticks on its own 100 ms timer, and a camera's
//           frame is pulled only when kFramePullMs have passed since its last
//           one (the timer is armed for that), so a pass woken by an input
//           costs no picture copy. No pass pulls within kFramePullMs of the
//           end of a countdown: the camera has its next frame ready for it.
// Rights    The logout timer starts at every accepted password (word 108
//           seconds; 0 keeps the rights) and takes the rights back when it
//           runs out.
#include "rivurevezi.h"

#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "indexbutton.h"
#include "inplacerecord.h"
#include "iofunc.h"
#include "judgepool.h"
#include "lanstr.h"
#include "machineoutputs.h"
#include "operatorrights.h"
#include "publictools.h"
#include "sysword.h"

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QMutexLocker>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {
constexpr int kClampOut = 0;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kEjectorOut = 1;
constexpr int kAlarmOut = 2;
}  // namespace

bool RiVuRevezi::StepActive(int k) const
{
    if (k < 0 || k >= gDNum || k >= kMaxDetect || sysWord(Word::StepEnabled0 + k) == 0)
        return false;
    const int t = sysWord(Word::TriggerInput0 + k);
    return t == 255 || (t >= 0 && t <= 9);
}

int RiVuRevezi::lastStepOfCycle() const
{
    int last = -1;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k))
            last = k;
    return last;
}

int RiVuRevezi::StepInterlock(int k) const
{
    if (sysWord(Word::Mode) == 3) {
        const int steps = qBound(1, sysWord(Word::StepCountMode3), kMaxDetect);
        const int entry = (k >= steps - 1) ? 7 : k;
        return OutputNo[entry] - 1;
    }
    return (k % 2 == 0) ? kEjectorOut : kClampOut;
}

int RiVuRevezi::StepTrigger(int k, int rising, bool doorClosed) const
{
    const int t = sysWord(Word::TriggerInput0 + k) == 255 ? 0 : sysWord(Word::TriggerInput0 + k);
    if (t >= 0 && t < 31 && ((rising >> t) & 1))
        return 1;
    return doorClosed && StepInterlock(k) == kClampOut ? 2 : 0;
}

void RiVuRevezi::ResetRun()
{
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = cammerWidget[c];
        if (!v)
            continue;
        v->stepOk = true;
        for (int s = 0; s < kMaxDetect; ++s)
            for (int r = 0; r < kMaxRoi; ++r)
                v->roiPassed[s][r] = true;
    }
    for (int k = 0; k < kMaxDetect; ++k) {
        countdownTimer[k].stop();
        countdownActive[k] = false;
        countdownRemain[k] = 0.0f;
    }
    std::fill(std::begin(unjudged), std::end(unjudged), false);
}

void RiVuRevezi::StartDetect()
{
    runState = RunState::Running;
    detectState = DetectState::Idle;
    LEDOnOff(4, 1);
    if (indexButton)
        indexButton->setRunning(true);
}

void RiVuRevezi::StopDetect()
{
    runState = RunState::Stopped;
    ResetRun();
    cycleOpen = false;
    countState = CountState::Waiting;
    detectState = DetectState::Idle;
    ngPresent = false;
    cameraHold = false;
    std::fill(std::begin(stepOwed), std::end(stepOwed), false);
    std::fill(std::begin(doorTriggered), std::end(doorTriggered), false);
    std::fill(std::begin(edgeHeld), std::end(edgeHeld), false);
    ClearLatchedNg();
    if (gpControlIO) {
        // Word 95: keep the mould from closing while detection is stopped.
        const bool holdClamp = sysWord(Word::StopClampWhenStopped) != 0;
        for (int k = 0; k < kMaxDetect; ++k)
            gpControlIO->IOSetOut(StepInterlock(k), 0);
        gpControlIO->IOSetOut(kClampOut, holdClamp ? 1 : 0);
        gpControlIO->IOSetOut(kAlarmOut, 0);
        gpControlIO->IOFlashOut();
    }
    LEDOnOff(4, 0);
    LEDOnOff(5, 1);
    // The held cycle record and the ROI cache are emptied with detection.
    MachineOutputs::get().detectStopped();
    if (indexButton)
        indexButton->setRunning(false);
}

void RiVuRevezi::SlotStartStop()
{
    if (runState == RunState::Stopped) {
        StartDetect();
        InsertRecord(lanStr(136));
        return;
    }
    if (sysWord(Word::StopDetectPassword) != 0 && CheckPassword() == 0)
        return;
    StopDetect();
    InsertRecord(lanStr(127));
}

void RiVuRevezi::Run()
{
    touchRunStamp();
    ++passCount;
    int in = 0;
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        in = gDataIn;
    }
    // An edge latched before its level was published counts now; the level
    // the next pass reads is then no new edge.
    const int latched = gInputRiseLatch.exchange(0);
    const int rising = latched | (in & ~lastInputs);
    lastInputs = in | latched;
    gisSafeDoorOpen = ((in >> kSafetyDoorInput) & 1) == 0;
    // Only the board thread's edges count for the door: it never reports the
    // door's first state as an edge.
    const bool doorClosed = sysWord(Word::SafetyDoorDetect) != 0 && ((latched >> kSafetyDoorInput) & 1);

    const qint64 now = monotonic_ms();
    if (lastWhiteBalanceMs == 0)
        lastWhiteBalanceMs = now;   // the first step five seconds after start, as always
    const bool balance = now - lastWhiteBalanceMs >= kWhiteBalanceMs;
    if (balance)
        lastWhiteBalanceMs = now;
    qint64 untilPull = kFramePullMs;
    // A countdown about to end pulls its own frames.
    bool endingSoon = false;
    for (int k = 0; k < kMaxDetect; ++k)
        endingSoon = endingSoon || (countdownActive[k] && countdownRemain[k] * 1000.0f <= float(kFramePullMs) + 0.5f);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!cammerWidget[c])
            continue;
        // Counted from the end of the pull: a camera slow to deliver is not
        // asked again at once.
        if (!endingSoon && monotonic_ms() - framePulledMs[c] >= kFramePullMs) {
            cammerWidget[c]->UpdateImage();
            framePulledMs[c] = monotonic_ms();
        }
        untilPull = qMin(untilPull, framePulledMs[c] + kFramePullMs - monotonic_ms());
        if (balance)
            cammerWidget[c]->SetWB();
    }

    int next = 100;
    cameraMissing = CameraCheck() == 0;
    if (cameraMissing) {
        next = 1000;
        if (runState != RunState::Stopped)
            HoldForMissingCamera();
    } else if ((runState == RunState::Running || runState == RunState::Training) &&
        detectState == DetectState::NgLatched && cycleOpen) {
        // The machine moved on while the NG waits: the step is owed and is
        // judged as soon as the NG is resolved.
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            const int how = StepTrigger(k, rising, doorClosed);
            if (StepActive(k) && !stepDecided[k] && !countdownActive[k] && (how != 0 || edgeHeld[k])) {
                stepOwed[k] = true;
                if (how != 0)
                    doorTriggered[k] = how == 2;
                edgeHeld[k] = false;
            }
        }
    } else if ((runState == RunState::Running || runState == RunState::Training) &&
        detectState != DetectState::NgLatched && detectState != DetectState::RegionSetting) {
        const bool sequential = sysWord(Word::Mode) == 3 && sysWord(Word::Sequential) != 0;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            if (!StepActive(k))
                continue;
            const int how = StepTrigger(k, rising, doorClosed);
            const bool edge = how != 0;
            if (countdownActive[k]) {
                // The machine opened again before this step was decided.
                if (edge && !edgeHeld[k]) {
                    edgeHeld[k] = true;
                    qInfo("step %d: an opening during its countdown is held and judged next", k + 1);
                }
                continue;
            }
            if (sequential && k != runStep)
                continue;
            if (!edge && !edgeHeld[k])
                continue;
            edgeHeld[k] = false;
            if (!cycleOpen) {
                const qint64 wall = QDateTime::currentMSecsSinceEpoch();
                if (lastCycleStartMs > 0)
                    cycleInterval = static_cast<int>(qMin<qint64>((wall - lastCycleStartMs) / 100, INT_MAX));
                lastCycleStartMs = wall;
                ResetRun();
                for (int j = 0; j < gDNum && j < kMaxDetect; ++j)
                    if (StepActive(j) && gpControlIO)
                        gpControlIO->IOSetOut(StepInterlock(j), 1);
                for (int c = 0; c < kMaxCamera; ++c) {
                    cycleFailed[c] = false;
                    if (c < numCamera && cammerWidget[c])
                        std::fill(std::begin(cammerWidget[c]->stepSettled), std::end(cammerWidget[c]->stepSettled), false);
                }
                std::fill(std::begin(stepOwed), std::end(stepOwed), false);
                std::fill(std::begin(stepDecided), std::end(stepDecided), false);
                cycleTrained = false;
                cycleOpen = true;
                countState = CountState::Detecting;
                if (gpControlIO)
                    gpControlIO->IOFlashOut();
                MachineOutputs::get().cycleStarted();
            }
            for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
                frameMark[c][k] = cammerWidget[c] ? cammerWidget[c]->frameCount : 0;
            stepOwed[k] = true;
            doorTriggered[k] = how == 2;
            countdownActive[k] = true;
            countdownRemain[k] = sysWord(Word::TriggerDelay0 + k) / 10.0f;
            countdownStartNs[k] = steadyNs();
            countdownTicks[k] = 0;
            countdownTimer[k].start(100);
        }
    }
    if (gpControlIO && gpControlIO->wantedOut() != lastOutWord) {
        lastOutWord = gpControlIO->wantedOut();
        next = 1;
    }
    if (!cameraMissing)
        next = static_cast<int>(qBound<qint64>(1, untilPull, next));
    if (runTimer)
        runTimer->start(next);
}

void RiVuRevezi::TimerUp(int step)
{
    if (step < 0 || step >= kMaxDetect)
        return;
    countdownRemain[step] -= 0.1f;
    if (countdownRemain[step] > 0.001f) {
        if (countdownStartNs[step] > 0) {
            // The next tick at its whole tenth after the start.
            const qint64 due = countdownStartNs[step] + 100000000LL * (++countdownTicks[step] + 1);
            const qint64 waitMs = (due - steadyNs() + 999999) / 1000000;
            countdownTimer[step].start(static_cast<int>(qBound<qint64>(0, waitMs, 100)));
        }
        return;
    }
    const qint64 endNs = steadyNs();
    // When the countdown was due to end: steps ending on the same tick judge
    // the same frames.
    const qint64 dueNs = countdownStartNs[step] > 0
                             ? countdownStartNs[step] + 100000000LL * (countdownTicks[step] + 1)
                             : endNs;
    countdownStartNs[step] = 0;
    countdownTimer[step].stop();
    countdownActive[step] = false;
    countdownRemain[step] = 0.0f;
    if (runState == RunState::Stopped || detectState == DetectState::NgLatched ||
        detectState == DetectState::RegionSetting)
        return;  // stopped, or an NG is waiting for the operator: the step stays owed
    countdownEndedNs = endNs;
    countdownDueNs = qMin(dueNs, endNs);
    JudgeStep(step);
}

void RiVuRevezi::JudgeStep(int k)
{
    if (k < 0 || k >= kMaxDetect)
        return;
    detectStep = k;
    // Fresh pictures and new templates first, here; then the engines of the
    // cameras that are to be judged all at once, this thread waiting for
    // every one, so that CheckNG decides on complete results as before.
    QStringList records[kMaxCamera];
    int judged[kMaxCamera];
    int count = 0;
    lastStages = DecisionStages{};
    // An owed step judged late starts its stages now.
    lastStages.countdownEnd = countdownEndedNs ? countdownEndedNs : steadyNs();
    countdownEndedNs = 0;
    framesFromNs = countdownDueNs ? countdownDueNs : steadyNs();
    countdownDueNs = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (PrepareJudgement(c, k, records[c]) < 0)
            judged[count++] = c;
    lastStages.framesPulled = steadyNs();
    const auto job = [&](int i) { EngineJudgement(judged[i], k, records[judged[i]]); };
    if (judgeInParallel && count > 1) {
        if (!judgePool)
            judgePool = std::make_unique<JudgePool>(kMaxCamera - 1);
        judgePool->runAll(count, job);
    } else {
        for (int i = 0; i < count; ++i)
            job(i);
    }
    lastStages.judged = steadyNs();
    // Held for the decision, whose fault pictures say what triggered it.
    safeDoorDetect = doorTriggered[k] ? 1 : 0;
    doorTriggered[k] = false;
    CheckArea();
    CheckNG(false);
    safeDoorDetect = 0;
    // The machine has its outputs: now the record and the screen.
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        for (const QString& text : records[c])
            InsertRecord(text);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (cammerWidget[c])
            cammerWidget[c]->ShowPulledFrame();
    lastStages.after = steadyNs();
}

void RiVuRevezi::JudgeOwedSteps()
{
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
        if (runState == RunState::Stopped || detectState == DetectState::NgLatched ||
            detectState == DetectState::RegionSetting || gFromTrain || !cycleOpen)
            return;
        if (!stepOwed[k] || stepDecided[k] || countdownActive[k] || !StepActive(k))
            continue;
        qInfo("step %d judged now: its countdown was dropped while an NG waited", k + 1);
        JudgeStep(k);
    }
}

bool RiVuRevezi::FreshFrame(int camera, int k)
{
    CammerWidget* v = cammerWidget[camera];
    if (!v || !v->alive || v->reconnecting())
        return false;
    // A frame pulled since the countdown ended (for another step that ended
    // with it), else the frame of this moment; the screen shows it after the
    // decision.
    if (v->pulledNs >= framesFromNs && v->frameCount > frameMark[camera][k])
        return true;
    if (v->PullFrame()) {
        framePulledMs[camera] = monotonic_ms();
        return true;
    }
    return v->frameCount > frameMark[camera][k];
}

void RiVuRevezi::HoldForMissingCamera()
{
    if (!cameraHold) {
        qWarning("a camera is missing during detection: clamp, alarm and the open cycle's interlocks held");
        cameraHold = true;
    }
    if (!gpControlIO)
        return;
    gpControlIO->IOSetOut(kClampOut, 1);
    gpControlIO->IOSetOut(kAlarmOut, 1);
    if (cycleOpen)
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            if (StepActive(k) && !stepDecided[k])
                gpControlIO->IOSetOut(StepInterlock(k), 1);
    gpControlIO->IOFlashOut();
}

int RiVuRevezi::RunAlgorithm(int camera, int step)
{
    if (camera < 0 || camera >= numCamera || camera >= kMaxCamera || !cammerWidget[camera] || step < 0 ||
        step >= kMaxDetect)
        return 0;
    detectStep = step;
    QStringList records;
    int result = PrepareJudgement(camera, step, records);
    if (result < 0) {
        EngineJudgement(camera, step, records);
        result = cammerWidget[camera]->stepOk ? 1 : 0;
    }
    for (const QString& text : records)
        InsertRecord(text);
    return result;
}

int RiVuRevezi::PrepareJudgement(int camera, int step, QStringList& records)
{
    if (camera < 0 || camera >= numCamera || camera >= kMaxCamera || !cammerWidget[camera] || step < 0 ||
        step >= kMaxDetect)
        return 0;
    CammerWidget* v = cammerWidget[camera];
    unjudged[camera] = false;
    stepTrained[camera] = false;
    if (!FreshFrame(camera, step)) {
        // Neither a stale picture nor a missing one may pass a step.
        unjudged[camera] = true;
        v->stepOk = false;
        const QString text = lanStr(kTextUnjudged).arg(camera + 1).arg(step + 1);
        qWarning("%s", qPrintable(text));
        records.append(text);
        return 0;
    }
    // A step whose first template was never captured (a new mould) takes
    // this picture as its template instead of being judged against nothing.
    const bool noTemplate = step >= v->stepCount() ||
                            !QFile::exists(QStringLiteral("./cammer%1%2/template0.bmp").arg(camera + 1).arg(step + 1));
    if (v->untrained[step] || noTemplate) {
        // The step has no template yet: this picture becomes it.
        const int oldRun = runState;
        runState = RunState::Training;
        v->SaveReTrainImage(step);
        if (step < v->stepCount() && !v->tempUsed[step].isEmpty()) {
            v->tempUsed[step][0] = 1;
            if (v->tempCount[step] < 1)
                v->tempCount[step] = 1;
        }
        if (v->engine) {
            v->engine->CreateHomoShape(step);
            v->engine->CreateShape(step);
            v->engine->VarTrain(step);
        }
        // Only a retrain ordered by the operator goes on to region setting;
        // a step that merely had no template yet just takes one.
        if (v->untrained[step])
            templatesCaptured = true;
        v->untrained[step] = false;
        v->stepOk = true;
        stepTrained[camera] = true;
        cycleTrained = true;
        v->stepSettled[step] = true;
        runState = oldRun;
        LEDOnOff(4, 1);
        MachineOutputs::get().templateListChanged(
            QJsonObject{{QStringLiteral("camera"), camera}, {QStringLiteral("detect"), step}});
        return 1;
    }
    return -1;
}

void RiVuRevezi::EngineJudgement(int camera, int step, QStringList& records)
{
    CammerRecong* engine = cammerWidget[camera]->engine;
    if (!engine)
        return;
    engine->heldRecords = &records;
    engine->HomoTransShape(step);
    engine->ShapeMatch(step);
    engine->Run(step);
    engine->heldRecords = nullptr;
}

void RiVuRevezi::CheckNG(bool manual)
{
    if (gFromTrain)
        return;
    const int s = qBound(0, detectStep, kMaxDetect - 1);
    const bool wasNg = ngPresent;
    bool ok = true;
    for (int c = 0; c < numCamera; ++c)
        if (cammerWidget[c] && !cammerWidget[c]->stepOk)
            ok = false;
    if (ok) {
        stepDecided[s] = true;
        stepOwed[s] = false;
    }
    bool owed = false;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        owed = owed || (stepOwed[k] && !stepDecided[k] && StepActive(k));
    const bool lastStep = s == lastStepOfCycle();
    const bool closes = ok && cycleOpen && lastStep && !owed;
    cameraMissing = CameraCheck() == 0;
    const bool holdEnds = closes && cameraHold && !cameraMissing;
    if (holdEnds) {
        qInfo("cameras back and a cycle judged: the hold of the missing camera ends");
        cameraHold = false;
    }

    // An output that another undecided step of the open cycle holds stays
    // held (the two cavities of the two-colour and turntable modes).
    bool sharedHeld = false;
    for (int k = 0; k < gDNum && k < kMaxDetect && cycleOpen; ++k)
        sharedHeld = sharedHeld || (k != s && StepActive(k) && !stepDecided[k] && StepInterlock(k) == StepInterlock(s));

    // An NG is on disk before any output announces it: a stop between the
    // two never leaves an alarm on the wire that a restart forgets.
    if (!ok) {
        SaveLatchedNg();
        if (afterLatchWritten)
            afterLatchWritten();
    }

    // Outputs first: the machine must know before anything is drawn.
    if (gpControlIO) {
        gpControlIO->IOSetOut(StepInterlock(s), ok && !sharedHeld ? 0 : 1);
        gpControlIO->IOSetOut(kAlarmOut, ok && !cameraHold ? 0 : 1);
        if (cameraHold)
            gpControlIO->IOSetOut(kClampOut, 1);
        else if (holdEnds)
            gpControlIO->IOSetOut(kClampOut, 0);   // every step of the cycle passed
        gpControlIO->IOFlashOut();
    }
    lastStages.handedOver = steadyNs();

    detectState = ok ? DetectState::Ok : DetectState::NgLatched;
    ngPresent = !ok;
    countState = CountState::Detected;
    LEDOnOff(6, ok ? 1 : 0);
    LEDOnOff(7, ok ? 0 : 1);
    if (ok)
        ClearLatchedNg();

    if (!manual) {
        bool anyNg = false;
        for (int c = 0; c < numCamera; ++c) {
            if (!cammerWidget[c] || stepTrained[c])
                continue;
            gAllNum[c]++;
            if (!cammerWidget[c]->stepOk) {
                gFailNum[c]++;
                cycleFailed[c] = true;
                anyNg = true;
            }
        }
        if (anyNg)
            gSyncNGNum++;
    }
    if (closes && !cycleTrained) {
        bool anyCycleNg = false;
        for (int c = 0; c < numCamera; ++c) {
            gAllCycleNum[c]++;
            if (cycleFailed[c]) {
                gFailCycleNum[c]++;
                anyCycleNg = true;
            }
        }
        if (anyCycleNg)
            gSyncNGCycleNum++;
    }
    CountWrite();

    // The ring of recent NG pictures per step, which the ROI page browses.
    if (!manual) {
        const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
        for (int c = 0; c < numCamera; ++c) {
            CammerWidget* v = cammerWidget[c];
            if (!v || v->stepOk || unjudged[c] || !v->alignedFrame)
                continue;
            const int slot = v->ngCount[s] % CammerWidget::kRecentPictures;
            if (uchar* pic = v->ngPicture(s, slot)) {
                std::memcpy(pic, v->alignedFrame, static_cast<size_t>(v->frameBytes));
                v->ngCaptions[s][slot] = now;
                v->ngCount[s]++;
            }
        }
    }

    // How the operator cleared the alarm, per camera, read before the
    // pictures relabel the codes: a re-inspection that now passes counts as
    // re-inspection OK.
    QVector<QPair<int, int>> clearKinds;
    if (manual && ok && wasNg) {
        for (int c = 0; c < numCamera; ++c) {
            const int code = alarmCode[c * kMaxDetect + s];
            if (code >= AlarmCode::NotDetected && code <= AlarmCode::ReDetectedOk && cammerWidget[c])
                clearKinds.append(
                    {c, (code == AlarmCode::ReDetected && cammerWidget[c]->stepOk) ? AlarmCode::ReDetectedOk : code});
        }
    }
    if (!ok && !wasNg)
        MachineOutputs::get().alarmStarted(s);

    // Fault pictures: OK picture in slot 1, NG picture in slot 0. A
    // judgement's pictures are drawn at the same time, one camera a worker.
    if (!manual) {
        int drawn[kMaxCamera];
        int drawCount = 0;
        for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
            if (cammerWidget[c] && !(unjudged[c] && !cammerWidget[c]->stepOk))
                drawn[drawCount++] = c;
        const auto draw = [&](int i) {
            CammerWidget* v = cammerWidget[drawn[i]];
            v->SaveFailImage(s, v->stepOk ? 1 : 0);
        };
        if (drawCount > 1) {
            if (!judgePool)
                judgePool = std::make_unique<JudgePool>(kMaxCamera - 1);
            judgePool->runAll(drawCount, draw);
        } else {
            for (int i = 0; i < drawCount; ++i)
                draw(i);
        }
    }
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = cammerWidget[c];
        if (!v)
            continue;
        const bool lost = unjudged[c] && !v->stepOk;
        const int which = v->stepOk ? 1 : 0;
        int& code = alarmCode[c * kMaxDetect + s];
        int saved = -1;
        if (lost) {
            // No picture of this step exists: nothing is rendered from a stale frame.
        } else if (!manual) {
            saved = which;  // drawn above
        } else if (code == AlarmCode::NotDetected || code == AlarmCode::AddedAsTemplate) {
            // Let pass without judging: the held NG picture, labelled with
            // how the alarm was cleared.
            v->UpdateFailImage(s, 0);
            saved = 0;
        } else if ((code >= AlarmCode::SwitchedToMould && code <= AlarmCode::ReDetectedOk) || !v->stepOk) {
            // Judged again: the new picture, labelled when it cleared the alarm.
            v->SaveFailImage(s, which);
            if (v->stepOk)
                v->UpdateFailImage(s, which);
            saved = which;
        }
        if (saved >= 0 && pMutexSaveFail) {
            QMutexLocker lock(pMutexSaveFail);
            gisSaveFail[saved + 2 * (c * kMaxDetect + s)] = true;
        }
        if (!v->stepOk) {
            code = lost ? kCodeCameraLost : AlarmCode::NgWaiting;
            if (v->alarmTimer)
                v->alarmTimer->start(1000);
        }
    }
    MachineOutputs::get().cycleStepDone(s, ok);
    if (ok && wasNg)
        MachineOutputs::get().alarmCleared(clearKinds);
    manualDecision = false;

    if (!ok) {
        LCDOnOff(1);
        if (screenOffTimer && sysWord(Word::ScreenOffSeconds) > 0)
            screenOffTimer->start(sysWord(Word::ScreenOffSeconds) * 1000);
    } else {
        if (gDNum > 0)
            runStep = (s + 1) % gDNum;
        if (closes) {
            cycleOpen = false;
            countState = CountState::Waiting;
        }
    }
    RoiPageAfterDecision(ok, manual);
    lastStages.decided = steadyNs();
    if (ok && manual && owed)
        // Not from inside the operator's decision: the page closes first.
        QTimer::singleShot(0, this, &RiVuRevezi::JudgeOwedSteps);
    update();
}

QString RiVuRevezi::latchFile()
{
    return QStringLiteral("./nglatch.dat");
}

QString RiVuRevezi::oldLatchFile()
{
    return QStringLiteral("./nglatch.ini");
}

bool RiVuRevezi::LatchOnDisk()
{
    if (QFile::exists(oldLatchFile()))
        return true;
    QByteArray record;
    const InPlaceRecord::State state = InPlaceRecord::read(latchFile(), &record);
    return state == InPlaceRecord::State::Damaged || (state == InPlaceRecord::State::Valid && !record.isEmpty());
}

void RiVuRevezi::SaveLatchedNg()
{
    int failed = 0;
    int lost = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (cammerWidget[c] && !cammerWidget[c]->stepOk)
            failed |= 1 << c;
        if (unjudged[c])
            lost |= 1 << c;
    }
    int owed = 0;
    int decided = 0;
    for (int k = 0; k < kMaxDetect; ++k) {
        owed |= stepOwed[k] ? 1 << k : 0;
        decided |= stepDecided[k] ? 1 << k : 0;
    }
    const QByteArray text = QStringLiteral("step=%1\nfailed=%2\nlost=%3\nowed=%4\ndecided=%5\ntime=%6\n")
                                .arg(qBound(0, detectStep, kMaxDetect - 1))
                                .arg(failed)
                                .arg(lost)
                                .arg(owed)
                                .arg(decided)
                                .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                                .toUtf8();
    if (!latchRecord)
        latchRecord = std::make_unique<InPlaceRecord>(latchFile());
    if (!latchRecord->write(text))
        qWarning("the latched NG could not be kept on disk; it is held for this run only");
}

void RiVuRevezi::ClearLatchedNg()
{
    if (!latchRecord)
        latchRecord = std::make_unique<InPlaceRecord>(latchFile());
    // Written in place: an empty record is no NG. A file of an earlier
    // version goes only once the new one says so.
    QByteArray record;
    const InPlaceRecord::State state = InPlaceRecord::read(latchFile(), &record);
    const bool clear = state == InPlaceRecord::State::Missing || state == InPlaceRecord::State::Empty
                       || (state == InPlaceRecord::State::Valid && record.isEmpty());
    if (!clear && !latchRecord->write(QByteArray()))
        qWarning("%s could not be cleared", qPrintable(latchFile()));
    else if (QFile::exists(oldLatchFile()) && !QFile::remove(oldLatchFile()))
        qWarning("%s could not be removed", qPrintable(oldLatchFile()));
}

bool RiVuRevezi::RestoreLatchedNg()
{
    if (!latchRecord)
        latchRecord = std::make_unique<InPlaceRecord>(latchFile());
    // The values of the latch: "key=value" lines, in the [latch] group of an
    // earlier version's file.
    QMap<QString, QString> values;
    bool good = true;
    if (QFile::exists(oldLatchFile())) {
        QSettings ini(oldLatchFile(), QSettings::IniFormat);
        good = ini.status() == QSettings::NoError;
        ini.beginGroup(QStringLiteral("latch"));
        for (const QString& key : ini.childKeys())
            values.insert(key, ini.value(key).toString());
    } else {
        QByteArray record;
        switch (InPlaceRecord::read(latchFile(), &record)) {
        case InPlaceRecord::State::Missing:
        case InPlaceRecord::State::Empty:
            latchRecord->prepare();
            return false;
        case InPlaceRecord::State::Damaged:
            good = false;
            break;
        case InPlaceRecord::State::Valid:
            if (record.isEmpty()) {
                latchRecord->prepare();
                return false;
            }
            for (const QByteArray& line : record.split('\n')) {
                const int eq = line.indexOf('=');
                if (eq > 0)
                    values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
            }
            break;
        }
    }
    auto number = [&](const char* key, int lo, int hi) {
        bool isNumber = false;
        const int v = values.value(QLatin1String(key)).toInt(&isNumber);
        if (!isNumber || v < lo || v > hi)
            good = false;
        return v;
    };
    int step = number("step", 0, kMaxDetect - 1);
    int failed = number("failed", 0, 255);
    const int lost = number("lost", 0, 255);
    const int owed = number("owed", 0, 255);
    const int decided = number("decided", 0, 255);
    const int all = (1 << qBound(0, numCamera, kMaxCamera)) - 1;
    if (good && !StepActive(step))
        good = false;
    if (!good || (failed & all) == 0) {
        // Safety first: whatever the file says, the machine was stopped on an NG.
        qWarning("%s is unreadable; taken as an NG of the first step on every camera",
                 qPrintable(QFile::exists(oldLatchFile()) ? oldLatchFile() : latchFile()));
        step = qMax(0, [this] {
            for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
                if (StepActive(k))
                    return k;
            return 0;
        }());
        failed = all;
    }
    qWarning("an NG of step %d latched before the restart is held again", step + 1);
    cycleOpen = true;
    countState = CountState::Detected;
    detectStep = step;
    runStep = step;
    detectState = DetectState::NgLatched;
    ngPresent = true;
    for (int k = 0; k < kMaxDetect; ++k) {
        stepOwed[k] = good ? (owed >> k) & 1 : k != step;
        stepDecided[k] = good && ((decided >> k) & 1) && k != step;
    }
    stepOwed[step] = true;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        CammerWidget* v = cammerWidget[c];
        if (!v)
            continue;
        v->stepOk = !((failed >> c) & 1);
        unjudged[c] = good && ((lost >> c) & 1);
        if (!v->stepOk) {
            alarmCode[c * kMaxDetect + step] = unjudged[c] ? kCodeCameraLost : AlarmCode::NgWaiting;
            cycleFailed[c] = true;
        }
    }
    if (gpControlIO) {
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            if (StepActive(k) && !stepDecided[k])
                gpControlIO->IOSetOut(StepInterlock(k), 1);
        gpControlIO->IOSetOut(StepInterlock(step), 1);
        gpControlIO->IOSetOut(kAlarmOut, 1);
        gpControlIO->IOFlashOut();
    }
    LEDOnOff(6, 0);
    LEDOnOff(7, 1);
    // Kept in the file of this version (made now, while the disk may have
    // room); an earlier version's file goes once the new one holds the NG.
    SaveLatchedNg();
    QByteArray record;
    if (QFile::exists(oldLatchFile()) && InPlaceRecord::read(latchFile(), &record) == InPlaceRecord::State::Valid
        && !record.isEmpty())
        QFile::remove(oldLatchFile());
    return true;
}

void RiVuRevezi::StartLogoutTimer()
{
    if (!logoutTimer || OperatorRights::get().rightsLevel() == 0)
        return;
    const int seconds = sysWord(Word::AutoLogoutSeconds);
    if (seconds > 0)
        logoutTimer->start(seconds * 1000);
}

void RiVuRevezi::SlotReTrain()
{
    if (CheckPassword() == 0)
        return;
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = cammerWidget[c];
        if (!v)
            continue;
        for (int k = 0; k < gDNum && k < v->stepCount(); ++k) {
            if (!StepActive(k))
                continue;
            v->untrained[k] = true;
            if (v->ignoreMask[k]) {
                std::memset(v->ignoreMask[k], 0, static_cast<size_t>(v->pixelCount));
                v->SaveIgnorePoint(k);
            }
        }
    }
    if (CameraManager* cm = CameraManager::getInstance()) {
        cm->resetCameraSN();
        cm->saveCameraSN();
    }
    if (drawROIWidget)
        drawROIWidget->SlotTempDeleteAll();
    LEDOnOff(4, 1);
    InsertRecord(QStringLiteral("retrain"));
}

void RiVuRevezi::TimerShow()
{
    static int phase = 0;
    phase ^= 1;
    LEDOnOff(5, runState == RunState::Stopped ? 1 : phase);
    if (gSource != 0)   // the template source shows the template file's time
        gTempTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    TrainRenewedTemplates();
}

void RiVuRevezi::TimerLCD()
{
    if (screenOffTimer)
        screenOffTimer->stop();
    LCDOnOff(0);
}
