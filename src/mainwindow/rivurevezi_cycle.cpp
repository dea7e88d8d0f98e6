// The main window's side of the moulding cycle: it reads the board's inputs
// and pulls the cameras' frames in passes, feeds the cycle (MouldCycle,
// which holds every rule of the cycle) the inputs, the countdown ticks and
// the operator's decisions, and shows what it decides.
//
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

#include "screenlight.h"
#include "cameraviews.h"
#include "cameramanager.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "cycleadapter.h"
#include "drawroiwidget.h"
#include "notice.h"
#include "indexbutton.h"
#include "iofunc.h"
#include "lanstr.h"
#include "mouldcycle.h"
#include "operatordialogs.h"
#include "operatorrights.h"
#include "publictools.h"
#include "publictools_widget.h"
#include "sysword.h"

#include <QDateTime>
#include <QLabel>
#include <QMutexLocker>
#include <QTimer>

#include <cstring>

void RiVuRevezi::MakeCycle()
{
    cycleAdapter = std::make_unique<CycleAdapter>(this);
    CycleAdapter& a = *cycleAdapter;
    mould = std::make_unique<MouldCycle>(cycle_, a, a, a, a, a, a, a);
    mould->setWords(sysWord);
    // The I/O thread puts an opening on disk the moment it holds the wire.
    MouldCycle* m = mould.get();
    setEdgeRecorder([m](int edges, int found, quint64 seq) { m->edgeOnWire(edges, found, seq); });
}

bool RiVuRevezi::StepActive(int k) const
{
    return mould->StepActive(k);
}

int RiVuRevezi::StepInterlock(int k) const
{
    return mould->StepInterlock(k);
}

void RiVuRevezi::ResetRun()
{
    mould->resetRun();
}

void RiVuRevezi::StartDetect()
{
    mould->startDetect();
    if (indexButton)
        indexButton->setRunning(true);
}

void RiVuRevezi::StopDetect()
{
    mould->stopDetect();
    if (indexButton)
        indexButton->setRunning(false);
}

void RiVuRevezi::SlotStartStop()
{
    if (cycle().runState == RunState::Stopped) {
        StartDetect();
        Databases::get().InsertRecord(lanStr(136));
        return;
    }
    if (sysWord(Word::StopDetectPassword) != 0 && CheckPassword() == 0)
        return;
    // Stopping leaves the mould unwatched: never one stray tap away.
    if (!OperatorDialogs::get().choose(lanStr(140)))
        return;
    StopDetect();
    Databases::get().InsertRecord(lanStr(127));
}

void RiVuRevezi::Run()
{
    touchRunStamp();
    ++passCount;

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
        endingSoon = endingSoon ||
                     (mould->countdownActive(k) && cycle().countdownRemain[k] * 1000.0f <= float(kFramePullMs) + 0.5f);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!CameraViews::at(c))
            continue;
        // Counted from the end of the pull: a camera slow to deliver is not
        // asked again at once.
        if (!endingSoon && monotonic_ms() - framePulledMs[c] >= kFramePullMs) {
            CameraViews::at(c)->UpdateImage();
            framePulledMs[c] = monotonic_ms();
        }
        untilPull = qMin(untilPull, framePulledMs[c] + kFramePullMs - monotonic_ms());
        if (balance)
            CameraViews::at(c)->SetWB();
    }

    // The inputs and edges right before the pass: an edge it takes is on
    // disk by the end of the pass (or marked there by the I/O thread).
    int in = 0;
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        in = gDataIn;
    }
    int found = 0;
    const int latched = takeInputEdges(&found);
    gisSafeDoorOpen = ((in >> kSafetyDoorInput) & 1) == 0;
    int next = 100;
    // The levels the board's first report found are levels, not edges.
    if (mould->pass(in | found, latched))
        next = 1000;
    // The holds the I/O thread raised for this pass's edges end now: the
    // cycle has taken the edges and holds what they need.
    if (gpControlIO)
        gpControlIO->IOFlashOut();
    if (gpControlIO && gpControlIO->wantedOut() != lastOutWord) {
        lastOutWord = gpControlIO->wantedOut();
        next = 1;
    }
    if (!mould->cameraMissing())
        next = static_cast<int>(qBound<qint64>(1, untilPull, next));
    ShowLatchWarning();
    if (runTimer)
        runTimer->start(next);
}

QString RiVuRevezi::LatchWarningText() const
{
    // What an NG on the screen alone does not say: that a restart would
    // forget it, or why it holds without a judgement.
    QStringList lines;
    if (cycle().ngLatchUnkept)
        lines << lanStr(713).trimmed();
    if (!cycle().ngNote.isEmpty())
        lines << cycle().ngNote.trimmed();
    if (!cycle().boardNote.isEmpty())
        lines << cycle().boardNote.trimmed();
    // A camera the parameters expect and the program waits for.
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        if (CammerWidget* v = CameraViews::at(c); v && v->waitingForCamera())
            lines << v->missingWord();
    return lines.join(QLatin1Char('\n'));
}

void RiVuRevezi::ShowLatchWarning()
{
    const QString text = LatchWarningText();
    const bool shown = !text.isEmpty();
    if (!latchWarning) {
        if (!shown)
            return;
        // In a strip of its own below the camera pictures: it may stand for
        // hours, and must hide no state, counter or frame rate of a view.
        latchWarning = new QLabel(viewArea ? viewArea : this);
        latchWarning->setObjectName(QStringLiteral("latchWarning"));
        latchWarning->setAlignment(Qt::AlignCenter);
        latchWarning->setFont(screenFont(kLatchWarningPixels));
        latchWarning->setStyleSheet(
            QStringLiteral("font-family: wqy-microhei; font-size: %1px; color: white; background: rgb(200, 0, 0);")
                .arg(kLatchWarningPixels));
        latchWarning->setText(text);
        latchWarning->hide();
    }
    if (latchWarning->isHidden() != shown && text == latchWarningShown)
        return;
    latchWarningShown = text;
    latchWarning->setText(text);
    latchWarning->setVisible(shown);
    // The views give up the strip, or take it back.
    ChangeCammer();
}

QRect RiVuRevezi::PlaceLatchWarning(QRect area)
{
    if (!latchWarning || latchWarning->isHidden() || !viewArea || latchWarning->parentWidget() != viewArea)
        return area;
    // Beside the ROI page's column when the page lies over the views.
    int left = area.left();
    int right = area.right();
    if (drawROIWidget && drawROIWidget->isVisible()) {
        const QRect page(viewArea->mapFrom(this, drawROIWidget->pos()), drawROIWidget->size());
        if (page.left() <= left && page.right() >= left)
            left = page.right() + 1;
        else if (page.left() > left && page.left() <= right)
            right = page.left() - 1;
    }
    const int width = qMax(1, right - left + 1);
    const QFontMetrics fm(latchWarning->font());
    const QString lines = wrapAtWords(latchWarningShown, fm, width - 2 * kLatchWarningMargin);
    latchWarning->setText(lines);
    const int height = fm.size(0, lines).height() + 2 * kLatchWarningMargin;
    latchWarning->setGeometry(left, area.bottom() + 1 - height, width, height);
    latchWarning->raise();
    area.setBottom(area.bottom() - height);
    return area;
}

void RiVuRevezi::TimerUp(int step)
{
    mould->tick(step);
}

void RiVuRevezi::CheckNG(bool manual)
{
    mould->decide(manual);
}

int RiVuRevezi::RunAlgorithm(int camera, int step)
{
    return mould->runAlgorithm(camera, step);
}

bool RiVuRevezi::RestoreLatchedNg()
{
    return mould->restoreLatchedNg();
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
    // Every template but the first is deleted: never one stray tap away.
    if (!OperatorDialogs::get().choose(lanStr(137)))
        return;
    for (int c = 0; c < numCamera; ++c) {
        CammerWidget* v = CameraViews::at(c);
        if (!v)
            continue;
        for (int k = 0; k < gDNum && k < v->stepCount(); ++k) {
            if (!StepActive(k))
                continue;
            v->orderRetrain(k);
        }
    }
    if (CameraManager* cm = CameraManager::getInstance()) {
        cm->resetCameraSN();
        cm->saveCameraSN();
    }
    if (drawROIWidget)
        drawROIWidget->SlotTempDeleteAll();
    LEDOnOff(4, 1);
    Databases::get().InsertRecord(QStringLiteral("retrain"));
    // The templates come with the next opening, seconds later: the operator
    // is told at once that the tap was taken.
    Notice::post(this, lanStr(715));
}

void RiVuRevezi::TimerShow()
{
    static int phase = 0;
    phase ^= 1;
    LEDOnOff(5, cycle().runState == RunState::Stopped ? 1 : phase);
    if (gSource != PictureSource::Template)   // the template source shows the template file's time
        gTempTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    TrainRenewedTemplates();
}

void RiVuRevezi::TimerLCD()
{
    if (screenOffTimer)
        screenOffTimer->stop();
    LCDOnOff(0);
}
