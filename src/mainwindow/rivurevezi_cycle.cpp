// The moulding cycle. Its rules, kept together here:
//
// Trigger   A step k is active when k < gDNum, word 86+k is set and its trigger
//           input (word 49+k; 255, "all moulds", means the mould-open input 0)
//           is a board input 0-9. A rising edge of that input starts the
//           step's countdown. Edges are latched by the I/O thread, so a pulse
//           shorter than a pass of the cycle is never lost. Triggers are
//           ignored while stopped, while an NG is latched, in region setting,
//           while a camera is missing, and while that step's countdown runs;
//           in mode 3 with word 268 (sequential) only the current step listens.
// Cycle     The first triggered step of a cycle opens it: the interval since
//           the previous cycle start, ResetRun, the interlocks of all active
//           steps set, count state 1.
// Countdown Word 40+k tenths of a second, then RunAlgorithm for every camera
//           and CheckNG. A step without a template captures one first and
//           counts as OK (training).
// Interlock Modes 0-2: product steps (even) hold the ejector output (bit 1),
//           cavity steps (odd) the clamp output (bit 0). Mode 3: OutputNo[k],
//           the last configured step OutputNo[7]. Logical 1 = interlock active
//           (mould closing or ejector forbidden); ControlPort applies the
//           wiring sense. The alarm is output bit 2.
// CheckNG   Outputs first (before any picture is rendered), then state and
//           LEDs, counters and count.ini, pictures, screen. On OK the current
//           step advances modulo gDNum; on NG the interlock stays on, the alarm
//           rises and the NG is latched until the operator resolves it.
// Counters  Per automatic step decision and camera gAllNum[c]++, on NG
//           gFailNum[c]++; any NG gSyncNGNum++. At the cycle's last active step
//           gAllCycleNum[c]++, gFailCycleNum[c]++ for a camera that failed any
//           step of the cycle, gSyncNGCycleNum++ when any did. count.ini is
//           written after every decision.
#include "rivurevezi.h"

#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "drawroiwidget.h"
#include "indexbutton.h"
#include "iofunc.h"
#include "lanstr.h"
#include "sysword.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kClampOut = 0;
constexpr int kEjectorOut = 1;
constexpr int kAlarmOut = 2;
}  // namespace

bool RiVuRevezi::StepActive(int k) const
{
    if (k < 0 || k >= gDNum || k >= kMaxDetect || sysWord(86 + k) == 0)
        return false;
    const int t = sysWord(49 + k);
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
    if (sysWord(175) == 3) {
        const int steps = qBound(1, sysWord(217), kMaxDetect);
        const int entry = (k >= steps - 1) ? 7 : k;
        return OutputNo[entry] - 1;
    }
    return (k % 2 == 0) ? kEjectorOut : kClampOut;
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
}

void RiVuRevezi::StartDetect()
{
    runState = 1;
    detectState = 0;
    LEDOnOff(4, 1);
    if (indexButton)
        indexButton->setRunning(true);
}

void RiVuRevezi::StopDetect()
{
    runState = 3;
    ResetRun();
    cycleOpen = false;
    countState = 3;
    detectState = 0;
    ngPresent = false;
    if (gpControlIO) {
        // Word 95: keep the mould from closing while detection is stopped.
        const bool holdClamp = sysWord(95) != 0;
        for (int k = 0; k < kMaxDetect; ++k)
            gpControlIO->IOSetOut(StepInterlock(k), 0);
        gpControlIO->IOSetOut(kClampOut, holdClamp ? 1 : 0);
        gpControlIO->IOSetOut(kAlarmOut, 0);
        gpControlIO->IOFlashOut();
    }
    LEDOnOff(4, 0);
    LEDOnOff(5, 1);
    // The held cycle record and the ROI cache are emptied with detection.
    if (onDetectStopped)
        onDetectStopped();
    if (indexButton)
        indexButton->setRunning(false);
}

void RiVuRevezi::SlotStartStop()
{
    if (runState == 3) {
        StartDetect();
        InsertRecord(lanStr(136));
        return;
    }
    if (sysWord(137) != 0 && CheckPassword() == 0)
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
    const int rising = gInputRiseLatch.exchange(0) | (in & ~lastInputs);
    lastInputs = in;
    gisSafeDoorOpen = (in >> 2) & 1;

    for (int c = 0; c < numCamera; ++c) {
        if (!cammerWidget[c])
            continue;
        cammerWidget[c]->UpdateImage();
        if (passCount % 50 == 0)
            cammerWidget[c]->SetWB();
    }

    int next = 100;
    cameraMissing = CameraCheck() == 0;
    if (cameraMissing) {
        next = 1000;
    } else if ((runState == 1 || runState == 2) && detectState != 2 && detectState != 3) {
        const bool sequential = sysWord(175) == 3 && sysWord(268) != 0;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            if (!StepActive(k) || countdownActive[k])
                continue;
            if (sequential && k != runStep)
                continue;
            const int t = sysWord(49 + k) == 255 ? 0 : sysWord(49 + k);
            if (!((rising >> t) & 1))
                continue;
            if (!cycleOpen) {
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                if (lastCycleStartMs > 0)
                    cycleInterval = static_cast<int>(qMin<qint64>((now - lastCycleStartMs) / 100, INT_MAX));
                lastCycleStartMs = now;
                ResetRun();
                for (int j = 0; j < gDNum && j < kMaxDetect; ++j)
                    if (StepActive(j) && gpControlIO)
                        gpControlIO->IOSetOut(StepInterlock(j), 1);
                for (int c = 0; c < kMaxCamera; ++c) {
                    cycleFailed[c] = false;
                    if (c < numCamera && cammerWidget[c])
                        std::fill(std::begin(cammerWidget[c]->stepSettled), std::end(cammerWidget[c]->stepSettled), false);
                }
                cycleOpen = true;
                countState = 1;
                if (gpControlIO)
                    gpControlIO->IOFlashOut();
                if (onCycleStart)
                    onCycleStart();
            }
            countdownActive[k] = true;
            countdownRemain[k] = sysWord(40 + k) / 10.0f;
            countdownTimer[k].start(100);
        }
    }
    if (gpControlIO && gpControlIO->wantedOut() != lastOutWord) {
        lastOutWord = gpControlIO->wantedOut();
        next = 1;
    }
    if (runTimer)
        runTimer->start(next);
}

void RiVuRevezi::TimerUp(int step)
{
    if (step < 0 || step >= kMaxDetect)
        return;
    countdownRemain[step] -= 0.1f;
    if (countdownRemain[step] > 0.001f)
        return;
    countdownTimer[step].stop();
    countdownActive[step] = false;
    countdownRemain[step] = 0.0f;
    if (runState == 3 || detectState == 2 || detectState == 3)
        return;  // stopped, or an NG is waiting for the operator
    detectStep = step;
    for (int c = 0; c < numCamera; ++c)
        RunAlgorithm(c, step);
    CheckArea();
    CheckNG(false);
}

int RiVuRevezi::RunAlgorithm(int camera, int step)
{
    if (camera < 0 || camera >= numCamera || !cammerWidget[camera] || step < 0 || step >= kMaxDetect)
        return 0;
    CammerWidget* v = cammerWidget[camera];
    detectStep = step;
    // A step whose first template was never captured (a new mould) takes
    // this picture as its template instead of being judged against nothing.
    const bool noTemplate = step >= v->stepCount() ||
                            !QFile::exists(QStringLiteral("./cammer%1%2/template0.bmp").arg(camera + 1).arg(step + 1));
    if (v->untrained[step] || noTemplate) {
        // The step has no template yet: this picture becomes it.
        const int oldRun = runState;
        runState = 2;
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
        v->stepSettled[step] = true;
        runState = oldRun;
        LEDOnOff(4, 1);
        if (onTemplateCaptured)
            onTemplateCaptured(camera, step);
        return 1;
    }
    if (v->engine) {
        v->engine->HomoTransShape(step);
        v->engine->ShapeMatch();
        v->engine->Run(step);
    }
    return v->stepOk ? 1 : 0;
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

    // Outputs first: the machine must know before anything is drawn.
    if (gpControlIO) {
        gpControlIO->IOSetOut(StepInterlock(s), ok ? 0 : 1);
        gpControlIO->IOSetOut(kAlarmOut, ok ? 0 : 1);
        gpControlIO->IOFlashOut();
    }

    detectState = ok ? 1 : 2;
    ngPresent = !ok;
    countState = 2;
    LEDOnOff(6, ok ? 1 : 0);
    LEDOnOff(7, ok ? 0 : 1);

    if (!manual) {
        bool anyNg = false;
        for (int c = 0; c < numCamera; ++c) {
            if (!cammerWidget[c])
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
    const bool lastStep = s == lastStepOfCycle();
    if (lastStep && (ok || manual)) {
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
            if (!v || v->stepOk || !v->alignedFrame)
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
            if (code >= 4 && code <= 8 && cammerWidget[c])
                clearKinds.append({c, (code == 7 && cammerWidget[c]->stepOk) ? 8 : code});
        }
    }
    if (!ok && !wasNg && onAlarmStart)
        onAlarmStart(s);

    // Fault pictures: OK picture in slot 1, NG picture in slot 0.
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = cammerWidget[c];
        if (!v)
            continue;
        const int which = v->stepOk ? 1 : 0;
        int& code = alarmCode[c * kMaxDetect + s];
        int saved = -1;
        if (!manual) {
            v->SaveFailImage(s, which);
            saved = which;
        } else if (code == 4 || code == 5) {
            // Let pass without judging: the held NG picture, labelled with
            // how the alarm was cleared.
            v->UpdateFailImage(s, 0);
            saved = 0;
        } else if ((code >= 6 && code <= 8) || !v->stepOk) {
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
            code = 3;
            if (v->alarmTimer)
                v->alarmTimer->start(1000);
        }
    }
    if (onCycleStepDone)
        onCycleStepDone(s, ok);
    if (ok && wasNg && onAlarmCleared)
        onAlarmCleared(clearKinds);
    manualDecision = false;

    if (!ok) {
        LCDOnOff(1);
        if (screenOffTimer && sysWord(105) > 0)
            screenOffTimer->start(sysWord(105) * 1000);
    } else {
        if (gDNum > 0)
            runStep = (s + 1) % gDNum;
        if (lastStep) {
            cycleOpen = false;
            countState = 3;
        }
    }
    RoiPageAfterDecision(ok, manual);
    update();
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
    LEDOnOff(5, runState == 3 ? 1 : phase);
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
