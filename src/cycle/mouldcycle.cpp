// The moulding cycle. Its rules, kept together here:
//
// Trigger   A step k is active when k < gDNum, word 86+k is set and its trigger
//           input (word 49+k; 255, "all moulds", means the mould-open input 0)
//           is a board input 0-9. A rising edge of that input starts the
//           step's countdown. Edges are latched by the I/O thread, so a pulse
//           shorter than a pass of the cycle is never lost. Triggers are
//           ignored while stopped, in region setting and while a camera is
//           missing (every output the opening's steps drive is held then,
//           see Missing); in mode 3 with word 268
//           (sequential) only the current step listens. While an NG is
//           latched an edge starts no countdown but leaves its step owed.
// Openings  An opening is never passed unjudged. An edge of a step whose
//           countdown still runs (the machine opened again before the step
//           was decided) is held, one per step, and starts the step's next
//           countdown as soon as this one is decided: judged late, never
//           skipped; the step's output stays held from that edge until the
//           held opening is decided (the decision before it frees nothing
//           the held opening needs). A step that could not be judged in time
//           (an NG waiting for the operator, a countdown the operator's
//           re-detection or reset stopped) stays owed and is judged when the
//           NG is resolved; an opening never counts as OK without a
//           judgement. A cycle that opens never stops a countdown still
//           running: that opening is judged in the new cycle.
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
//           the previous cycle start, every camera's verdict back to OK, the
//           interlocks of all active steps set, count state 1. A triggered
//           step is owed a decision until it is decided OK or passed by the
//           operator; a new opening of a decided step makes it undecided
//           again. A held opening that opens a cycle brings the steps its
//           edge started: those decided OK meanwhile stay decided and free.
//           The cycle closes with the decision after which its last
//           active step is decided and no step is owed any more.
// Countdown Every countdown holds its step's output from its start, whatever
//           opened it (a new cycle, a held edge, the door, a step the words
//           just enabled). Word 40+k tenths of a second (its ticks due at
//           whole tenths after its start, late timer events do not add up),
//           then every
//           camera's detection and the decision. Countdowns end in the order
//           they were due, those due together in step order, whatever order
//           a loaded event loop hands their timers over in. The cameras' engines judge at
//           the same time, the GUI thread waiting for all of them before the
//           decision;
//           the operation record gets their texts after the decision, camera
//           by camera, and the screen shows the judged frames then. A step
//           without a template captures one first and counts as OK
//           (training). A countdown that ends while an NG is latched, or
//           that the operator's re-detection stopped, leaves its step owed.
// Picture   A step is judged on the frame each camera gives when the
//           countdown is over (pulled then, not at the next pass; steps whose
//           countdowns end on the same tick share that frame); a camera
//           that gives none then (a triggered camera) is judged on a frame
//           taken after the countdown began. A camera that runs free and
//           tells when its frames came gives the newest frame that came
//           after the step's own opening (the board's edge; each step its
//           own mark), waited for up to max(0.5 s, 1.5 of its frame
//           intervals) after the countdown. Never on an older one, always
//           of the camera's size. A camera that is missing
//           or gives no such frame leaves the step unjudged: NG for that
//           camera, code kCodeCameraLost, no picture saved from a stale
//           frame; the operation record says text row kTextUnjudged of a
//           lost camera, kTextNoPicture of a running one (also on the
//           screen's strip).
// Missing   While a camera is missing during detection, the clamp, the alarm
//           and every undecided interlock of the open cycle are held; an
//           opening that comes meanwhile starts nothing but holds every
//           output its steps drive (ejector and clamp), cycle open or not.
//           These holds (and the clamp and the alarm) stay after the camera
//           is back, an OK decision frees none of them, until a cycle has
//           closed with the cameras back, or until the operator stops
//           detection (word 95 then decides the clamp).
// Interlock Modes 0-2: product steps (even) hold the ejector output (bit 1),
//           cavity steps (odd) the clamp output (bit 0). Mode 3: OutputNo[k],
//           the last configured step OutputNo[7]. Logical 1 = interlock active
//           (mould closing or ejector forbidden); ControlPort applies the
//           wiring sense. The alarm is output bit 2. An OK decision frees its
//           output only when nothing else holds it: no other undecided step
//           of the open cycle on the same output, no countdown running and
//           no opening held or owed of a step on it, no hold of a missing
//           camera.
// Edge hold The hold of an opening does not wait for this thread: the cycle
//           hands the board's thread, whenever its state or the words
//           change, which outputs a rising edge of each input holds (made
//           from the very rule a pass takes that edge by, edgeAct: the
//           outputs of the steps it would trigger now, every active step's
//           when it would open the cycle, the door input for the clamp's
//           steps with word 144); that thread raises them the moment it
//           latches the edge. Only the cycle frees them, by the word it
//           hands over after a pass has seen the edge.
// Words     The settings accepted inside a cycle: a step they disabled is no
//           longer judged nor owed (its countdown cancelled, its held
//           opening dropped, its output freed unless something else holds
//           it or an NG waits); a step they enabled is held in the open
//           cycle until it is judged. The engines' retraining the accept
//           asks for waits until the open cycle has closed (afterCycle), so
//           that no countdown of this cycle overruns behind it.
// Decision  An NG is latched on disk first, then the outputs (before any
//           picture is rendered), then state and LEDs, counters and
//           count.ini (CycleLog), pictures (CyclePictures) and the network
//           reports (CycleReports), screen (CycleScreen). On OK the current
//           step advances modulo gDNum; on NG the interlock stays on, the alarm
//           rises and the NG is latched until the operator resolves it.
// Resolved  When the operator's decision clears the NG, the owed steps of the
//           open cycle are judged at once, in order.
// Door pass With word 158, the safety door closing (after it was opened)
//           while a product step's NG is latched passes that NG as the
//           operator's "do not detect" would, and every undecided cavity step
//           becomes owed and is judged then by the rules above.
// Latch     A latched NG is kept in nglatch.dat until it is resolved or
//           detection stops. The file is made at its full size at start-up and
//           rewritten in place (two slots with checksums, forced to disk), so
//           a full disk never keeps an NG from it; it is written before the
//           outputs that announce the NG. A disk already full at start-up:
//           the file is made as soon as there is room (tried again every few
//           seconds and at each NG), and while it cannot be, the status says
//           so (ngLatchUnkept) and the screen tells the operator. A program that starts with one (or
//           with an earlier version's nglatch.ini) comes up with the alarm and
//           every undecided interlock held, the NG latched and the ROI page
//           open on it; an unreadable file is taken as an NG of the first
//           active step on every camera.
// Openings  Without an NG the same record keeps what the cycle holds and
//           has not judged: the open cycle with its decided steps, the
//           steps owed a judgement (a countdown running or stopped), a
//           second opening held, a missing camera's holds. It is written
//           once per change, before the pass hands the new hold to anyone
//           (the board's thread has held the wire since the edge), and
//           again after each decision. A program that starts with one holds
//           those outputs from its first output word; each owed step counts
//           down again and is judged on the pictures the cameras take then
//           (a part stuck in the open mould is still there; the picture of
//           the moment is the mould's true state), a camera without one
//           makes it an unjudged NG; the steps not yet triggered wait for
//           their edges, and nothing is freed but by those judgements.
//           The board's thread marks an edge that holds something in the
//           record itself (edge=, the first report's levels found=) the
//           moment it holds the wire, unless a pass has taken it; the pass
//           that took it drops the mark with its own write. A restart holds
//           what the marks held and takes them as edges (levels found).
// Found     An input risen without an edge was found at its level (the
//           board's first report): for a step the open cycle holds triggered
//           it is that opening (judged once, counted once), else an opening.
//           At the first pass that knows the inputs, a cycle restored (an
//           NG with it or not) or opened by what was found may wait for
//           steps whose trigger is not at its level and may have come while
//           nothing watched. Until a step's trigger edge is seen live (or
//           the step is triggered, judged or held), the cycle never waits
//           for it in silence: whenever nothing else comes first (no NG
//           latched, no camera missing, no step owed a judgement that is
//           not counting down), the first of them (the one in turn,
//           sequential) is an unjudged NG with the alarm, for the operator
//           to resolve (the record and the screen say that its trigger may
//           have passed while the program was not running: a start that
//           finds the mould open is such a start); once resolved, the next
//           one is.
// Gaps      Board replies further apart than a short trigger (100 ms) while
//           the open cycle waits for a step's trigger (sequential: the step
//           in turn) put that step in doubt, and nothing more: its trigger
//           seen live before its bound is over starts it as any; after the
//           bound it is held as possibly missed, as above, with its own
//           text. The bound: the step's usual trigger time after the
//           opening (the longest of the latest cycles) and a margin, never
//           less than the margin after the gap; a fixed time after the gap
//           while no cycle has shown it. A board silent over
//           CycleBoard::kSilenceMs is said in any state, on the screen and
//           in the record, and its end with its length; one silent for
//           longer than a cycle of the machine while no cycle was open
//           opens one as it answers, each step possibly missed.
// Counters  Only automatic decisions count (`ProductionCounters`): per
//           judged step and camera a part, an NG part on NG; any NG one NG
//           decision. A camera that took a template is not counted for that
//           step. When a cycle closes that took no template, a cycle for every
//           camera, an NG cycle for a camera that failed any step of it, and
//           one NG cycle over all cameras when any did. count.ini is written
//           after every decision, replacing the old file only once the new
//           one is whole on disk.
#include "mouldcycle.h"

#include "inplacerecord.h"
#include "lanstr.h"
#include "productioncounters.h"
#include "word.h"

#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QtAlgorithms>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {
qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

MouldCycle::MouldCycle(CycleStatus& status, CycleBoard& board, CycleFrames& frames, CycleJudge& judge,
                       CycleLog& log, CyclePictures& pictures, CycleReports& reports, CycleScreen& screen)
    : status_(status), board_(board), frames_(frames), judge_(judge), log_(log), pictures_(pictures),
      reports_(reports), screen_(screen), words_([](int) { return 0; }),
      marks_([this](const QByteArray& text, bool fromBoard) { return storeRecord(text, fromBoard); })
{
    for (QTimer& timer : status_.countdownTimer) {
        timer.setInterval(100);
        timer.setTimerType(Qt::PreciseTimer);
    }
}

MouldCycle::~MouldCycle() = default;

void MouldCycle::setWords(std::function<int(int)> words)
{
    words_ = std::move(words);
}

void MouldCycle::setAfterLatchWritten(std::function<void()> hook)
{
    afterLatchWritten_ = std::move(hook);
}

// ---- Rules of a step -------------------------------------------------------------

bool MouldCycle::StepActive(int k) const
{
    if (k < 0 || k >= gDNum || k >= kMaxDetect || word(Word::StepEnabled0 + k) == 0)
        return false;
    const int t = word(Word::TriggerInput0 + k);
    return t == 255 || (t >= 0 && t <= 9);
}

int MouldCycle::lastStepOfCycle() const
{
    int last = -1;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k))
            last = k;
    return last;
}

int MouldCycle::firstActiveStep() const
{
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k))
            return k;
    return 0;
}

int MouldCycle::StepInterlock(int k) const
{
    if (word(Word::Mode) == DetectMode::MultiStep) {
        const int steps = qBound(1, word(Word::StepCountMode3), kMaxDetect);
        const int entry = (k >= steps - 1) ? 7 : k;
        return OutputNo[entry] - 1;
    }
    return (k % 2 == 0) ? kEjectorOut : kClampOut;
}

int MouldCycle::triggerInputOf(int k) const
{
    // 255: not assigned, the mould-open input.
    return word(Word::TriggerInput0 + k) == 255 ? 0 : word(Word::TriggerInput0 + k);
}

int MouldCycle::StepTrigger(int k, int rising, bool doorClosed) const
{
    const int t = triggerInputOf(k);
    if (t >= 0 && t < 31 && ((rising >> t) & 1))
        return ByInput;
    return doorClosed && StepInterlock(k) == kClampOut ? ByDoor : NotTriggered;
}

// ---- Detection on and off ----------------------------------------------------------

void MouldCycle::resetRun()
{
    judge_.resetVerdicts();
    for (int k = 0; k < kMaxDetect; ++k) {
        if (countdownActive_[k] && StepActive(k) && status_.runState != RunState::Stopped) {
            // Stopped, never dropped: the opening is judged once the
            // operator's decision is taken (its output stays held meanwhile).
            stepOwed_[k] = true;
            stepDecided_[k] = false;
            qInfo("step %d: its countdown stopped, the step stays owed", k + 1);
        }
        status_.countdownTimer[k].stop();
        countdownActive_[k] = false;
        status_.countdownRemain[k] = 0.0f;
    }
    std::fill(std::begin(unjudged_), std::end(unjudged_), false);
}

void MouldCycle::boardOpened()
{
    // Nothing is sent yet: the first output word holds whatever the record
    // and the machine show (an open mould found is an opening), never a
    // word that frees everything before anything is known.
    // A new board link learns the edge holds afresh.
    holdsPublished_ = false;
    publishEdgeHolds();
}

void MouldCycle::startDetect()
{
    status_.runState = RunState::Running;
    status_.detectState = DetectState::Idle;
    knownActive_ = activeSteps();
    board_.led(4, 1);
    publishEdgeHolds();
}

void MouldCycle::stopDetect()
{
    status_.runState = RunState::Stopped;
    resetRun();
    status_.cycleOpen = false;
    status_.countState = CountState::Waiting;
    status_.detectState = DetectState::Idle;
    status_.ngPresent = false;
    cameraHold_ = false;
    missingHeld_ = 0;
    std::fill(std::begin(stepOwed_), std::end(stepOwed_), false);
    std::fill(std::begin(doorTriggered_), std::end(doorTriggered_), false);
    std::fill(std::begin(edgeHeld_), std::end(edgeHeld_), false);
    unwatchedSteps_ = 0;
    pollGapSteps_ = 0;
    status_.ngNote.clear();
    clearLatchedNg();
    // Word 95: keep the mould from closing while detection is stopped.
    const bool holdClamp = word(Word::StopClampWhenStopped) != 0;
    for (int k = 0; k < kMaxDetect; ++k)
        board_.setOut(StepInterlock(k), 0);
    board_.setOut(kClampOut, holdClamp ? 1 : 0);
    board_.setOut(kAlarmOut, 0);
    board_.flashOut();
    board_.led(4, 0);
    board_.led(5, 1);
    // The held cycle record and the ROI cache are emptied with detection.
    reports_.detectStopped();
    publishEdgeHolds();
    if (afterCycle_) {
        const std::function<void()> job = std::move(afterCycle_);
        afterCycle_ = nullptr;
        job();
    }
}

void MouldCycle::afterCycle(std::function<void()> job)
{
    if (!job)
        return;
    if (!status_.cycleOpen || status_.runState == RunState::Stopped) {
        afterCycle_ = nullptr;
        job();
        return;
    }
    afterCycle_ = std::move(job);
}

// ---- Changed words ------------------------------------------------------------------

int MouldCycle::activeSteps() const
{
    int mask = 0;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k))
            mask |= 1 << k;
    return mask;
}

void MouldCycle::wordsAccepted()
{
    stepsChanged();
    publishEdgeHolds();
    // An output whose inversion word changed turns over in this word, not
    // in the next one a pass sends: held in the old sense would be free in
    // the new one meanwhile.
    board_.flashOut();
}

void MouldCycle::stepsChanged()
{
    const int now = activeSteps();
    const int before = knownActive_ < 0 ? now : knownActive_;
    knownActive_ = now;
    bool changed = false;
    // A step it enabled, in an open cycle: held until it is judged (it is
    // undecided in this cycle, so the cycle waits for it too).
    if (status_.cycleOpen && status_.runState != RunState::Stopped)
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            if (((now & ~before) >> k) & 1 && !stepDecided_[k]) {
                board_.setOut(StepInterlock(k), 1);
                changed = true;
            }
    for (int k = 0; k < kMaxDetect; ++k)
        if (!StepActive(k) && (countdownActive_[k] || edgeHeld_[k] || stepOwed_[k])) {
            dropStep(k);
            changed = true;
        }
    if (changed) {
        keepOnDisk();
        board_.flashOut();
    }
}

void MouldCycle::dropStep(int k)
{
    // Nobody asked for this step any more: judging it now would be judging
    // with a step the engines no longer hold (a false NG).
    if (countdownActive_[k])
        qInfo("step %d: disabled during its countdown, not judged", k + 1);
    status_.countdownTimer[k].stop();
    countdownActive_[k] = false;
    countdownStartNs_[k] = 0;
    status_.countdownRemain[k] = 0.0f;
    stepOwed_[k] = false;
    edgeHeld_[k] = false;
    doorTriggered_[k] = false;
    // An NG keeps what it holds until the operator resolves it.
    if (status_.detectState == DetectState::NgLatched || status_.runState == RunState::Stopped)
        return;
    const int out = StepInterlock(k);
    if (!outputHeld(out, false))
        board_.setOut(out, 0);
}

bool MouldCycle::holdsOutput(int k, bool closing) const
{
    if (!StepActive(k))
        return false;
    return countdownActive_[k] || edgeHeld_[k] || (stepOwed_[k] && !stepDecided_[k]) ||
           (!closing && status_.cycleOpen && !stepDecided_[k]);
}

bool MouldCycle::outputHeld(int out, bool closing) const
{
    if (cameraHold_ && (out == kClampOut || ((missingHeld_ >> out) & 1)))
        return true;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepInterlock(k) == out && holdsOutput(k, closing))
            return true;
    return false;
}

MouldCycle::EdgeAct MouldCycle::edgeAct(int k, int how) const
{
    const bool running = status_.runState == RunState::Running || status_.runState == RunState::Training;
    if (how == NotTriggered || !running || !StepActive(k))
        return EdgeAct::Nothing;
    // Nobody judges it while a camera is missing: its output is held.
    if (cameraMissing_)
        return EdgeAct::HoldMissing;
    if (status_.detectState == DetectState::NgLatched)
        return status_.cycleOpen && !stepDecided_[k] && !countdownActive_[k] ? EdgeAct::Owe : EdgeAct::Nothing;
    if (status_.detectState == DetectState::RegionSetting)
        return EdgeAct::Nothing;
    // A held opening is held already; a new one is held while it runs.
    if (countdownActive_[k])
        return how == ByHeldOpening ? EdgeAct::Nothing : EdgeAct::HoldEdge;
    // A sequential step listens only in its turn, and a held opening of it
    // starts only in its turn.
    if (word(Word::Mode) == DetectMode::MultiStep && word(Word::Sequential) != 0 && k != status_.runStep)
        return EdgeAct::Nothing;
    return EdgeAct::Start;
}

void MouldCycle::edgeHoldTable(int holds[kBoardInputs], bool closing) const
{
    std::fill(holds, holds + kBoardInputs, 0);
    // The edge of input i as pass() would take it: each step it triggers
    // holds its output, and a cycle it opens holds every active step's.
    int allSteps = 0;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k))
            allSteps |= 1 << StepInterlock(k);
    const bool running = status_.runState == RunState::Running || status_.runState == RunState::Training;
    for (int i = 0; i < kBoardInputs; ++i) {
        const bool doorClosed = i == kSafetyDoorInput && word(Word::SafetyDoorDetect) != 0;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            const int how = StepTrigger(k, 1 << i, doorClosed);
            // The decision going out closes the cycle (an OK: no NG waits):
            // an edge the next pass takes opens the next one.
            if (closing && how != NotTriggered && running && StepActive(k) && !cameraMissing_ &&
                status_.detectState != DetectState::RegionSetting)
                holds[i] |= 1 << StepInterlock(k) | allSteps;
            const EdgeAct act = edgeAct(k, how);
            if (act == EdgeAct::Nothing)
                continue;
            holds[i] |= 1 << StepInterlock(k);
            if (act == EdgeAct::Start && !status_.cycleOpen)
                holds[i] |= allSteps;
        }
    }
}

void MouldCycle::publishEdgeHolds(bool closing)
{
    int holds[kBoardInputs];
    edgeHoldTable(holds, closing);
    if (holdsPublished_ && std::equal(holds, holds + kBoardInputs, publishedHolds_))
        return;
    std::copy(holds, holds + kBoardInputs, publishedHolds_);
    holdsPublished_ = true;
    board_.edgeHolds(holds);
}

// ---- Passes, triggers and countdowns ----------------------------------------------

int MouldCycle::triggeredInputs() const
{
    int inputs = 0;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
        if (!StepActive(k))
            continue;
        if (countdownActive_[k] || stepOwed_[k] || edgeHeld_[k] || (status_.cycleOpen && stepDecided_[k])) {
            const int t = triggerInputOf(k);
            inputs |= 1 << t;
        }
    }
    return inputs;
}

bool MouldCycle::pass(int level, int latched)
{
    // The first pass that knows the board's inputs: a cycle open before it
    // (restored) or opened by what was found there opened while nothing
    // watched.
    ++passSeq_;
    const bool openBefore = status_.cycleOpen;
    const bool firstLook = !inputsSeen_ && board_.inputsKnown();
    bool unwatched = firstLook && (status_.cycleOpen || marks_.restoredInputs());
    inputsSeen_ = inputsSeen_ || firstLook;
    // The previous run's marks of edges on the wire that no pass recorded:
    // an edge is an edge of this pass, a level found then is found now.
    int restoredEdges = 0;
    int foundBefore = 0;
    marks_.takeRestored(&restoredEdges, &foundBefore);
    latched |= restoredEdges;
    // An input risen without an edge was found at its level (the board's
    // first report, a restart or a start with the mould open): for a step
    // the open cycle already holds triggered, that is the opening it holds
    // (judged once, counted once); for any other step it is an opening.
    const int found = ((level & ~lastInputs_) | foundBefore) & ~latched;
    // An edge latched before its level was published counts now; the level
    // the next pass reads is then no new edge.
    const int rising = latched | (found & ~triggeredInputs());
    unwatched = unwatched || (firstLook && (found & ~triggeredInputs()));
    lastInputs_ = level | latched;
    marks_.taking(latched | found);
    // Only the board thread's edges count for the door: it never reports the
    // door's first state as an edge.
    const bool doorClosed = word(Word::SafetyDoorDetect) != 0 && ((latched >> kSafetyDoorInput) & 1);
    const bool running = status_.runState == RunState::Running || status_.runState == RunState::Training;

    if (activeSteps() != knownActive_)
        stepsChanged();
    if (status_.ngLatchUnkept)
        retryLatchFile();
    cameraMissing_ = frames_.cameraMissing();
    if (cameraMissing_) {
        if (status_.runState != RunState::Stopped) {
            // Nobody judges these openings: every output their steps drive
            // is held, as for a camera lost inside a cycle.
            for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
                if (edgeAct(k, StepTrigger(k, rising, doorClosed)) == EdgeAct::HoldMissing) {
                    if (!((missingHeld_ >> StepInterlock(k)) & 1))
                        qWarning("step %d: an opening while a camera is missing, its output held", k + 1);
                    missingHeld_ |= 1 << StepInterlock(k);
                }
            holdForMissingCamera();
        }
    } else if (running && status_.detectState == DetectState::NgLatched && status_.cycleOpen &&
               word(Word::SkipToCavityAfterDoor) != 0 && ((latched >> kSafetyDoorInput) & 1) &&
               StepInterlock(status_.detectStep) == kEjectorOut) {
        passProductNgByDoor();
    } else if (running && status_.detectState == DetectState::NgLatched && status_.cycleOpen) {
        // The machine moved on while the NG waits: the step is owed and is
        // judged as soon as the NG is resolved, also after a restart (the
        // latch on disk says so).
        bool newlyOwed = false;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            const int how = StepTrigger(k, rising, doorClosed);
            const bool owe = edgeAct(k, how) == EdgeAct::Owe;
            if (owe || (edgeHeld_[k] && edgeAct(k, ByHeldOpening) == EdgeAct::Owe)) {
                newlyOwed = newlyOwed || !stepOwed_[k];
                stepOwed_[k] = true;
                if (owe)
                    doorTriggered_[k] = how == ByDoor;
                edgeHeld_[k] = false;
            }
        }
        if (newlyOwed)
            keepOnDisk();
    } else if (running && status_.detectState != DetectState::NgLatched &&
               status_.detectState != DetectState::RegionSetting) {
        bool opened = false;
        bool started = false;
        bool held = false;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
            if (!StepActive(k))
                continue;
            const int how = StepTrigger(k, rising, doorClosed);
            const EdgeAct act = edgeAct(k, how);
            if (act == EdgeAct::HoldEdge) {
                // The machine opened again before this step was decided.
                if (!edgeHeld_[k]) {
                    edgeHeld_[k] = held = true;
                    heldInPass_[k] = passSeq_;
                    qInfo("step %d: an opening during its countdown is held and judged next", k + 1);
                }
                continue;
            }
            if (countdownActive_[k])
                continue;
            // A held opening starts once its countdown is over (by the same
            // rule, in its turn).
            const bool heldStarts = edgeHeld_[k] && edgeAct(k, ByHeldOpening) == EdgeAct::Start;
            if (act != EdgeAct::Start && !heldStarts)
                continue;
            edgeHeld_[k] = false;
            if (!status_.cycleOpen) {
                openCycle(heldStarts && act != EdgeAct::Start ? k : -1);
                opened = true;
            }
            startCountdown(k, act == EdgeAct::Start ? how : ByHeldOpening);
            started = true;
        }
        // The openings on disk before anyone but the machine hears of them
        // (the board's thread held the wire at the edge already).
        if (started || held)
            keepOnDisk();
        if (started)
            board_.flashOut();
        if (opened)
            reports_.cycleStarted();
    }
    if (unwatched)
        firstLookAtInputs(level | foundBefore);
    notePollGap(openBefore, passTakenSeq_);
    holdUnwatchedStep(latched);
    // The marks of the edges this pass took are off the disk once what the
    // pass holds for them is on it (written above, or now).
    passTakenSeq_ = qMax(passTakenSeq_, board_.edgesTakenSeq());
    if (marks_.dropTaken(board_.edgesTakenSeq())) {
        bodyKept_ = false;
        keepOnDisk();
    }
    publishEdgeHolds();
    return cameraMissing_;
}

void MouldCycle::firstLookAtInputs(int level)
{
    if (!status_.cycleOpen)
        return;
    // A step whose trigger is not at its level may have had it come and go
    // while nothing watched, or be still to come: whatever latched NG or
    // running countdown comes first, the cycle must not end up waiting for
    // it in silence (holdUnwatchedStep).
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
        const int t = triggerInputOf(k);
        if (StepActive(k) && waitsForTrigger(k) && !((level >> t) & 1))
            unwatchedSteps_ |= 1 << k;
    }
}

void MouldCycle::noteSilence(const CycleBoard::PollGaps& gaps)
{
    // Whatever the cycle does: a loose cable between cycles leaves the
    // machine on the last word sent, every opening unseen.
    const bool fault = gaps.lastMs > CycleBoard::kSilenceMs;
    if (gaps.ongoing && fault && !boardSilent_) {
        boardSilent_ = true;
        status_.boardNote = lanStr(kTextBoardSilent);
        log_.record(status_.boardNote);
        qWarning("the board has not replied for %d ms", gaps.lastMs);
    } else if (!gaps.ongoing && (boardSilent_ || fault)) {
        // A silence seen only by the reply that ended it is said too.
        boardSilent_ = false;
        status_.boardNote.clear();
        log_.record(lanStr(kTextBoardBack).arg(QString::number(gaps.lastMs / 1000.0, 'f', 1)));
    }
}

bool MouldCycle::silenceMissedOpening(int silentMs, bool openBefore)
{
    // No cycle open, and the board silent for longer than a whole cycle of
    // the machine (the latest two openings apart): an opening may have come
    // and gone unseen. Its steps are held as possibly missed, one after the
    // other, the alarm with the first word the board takes. The reply that
    // ends the silence may show the mould open again (this pass opened the
    // cycle on it): the one before it is no less unseen; a step of the
    // cycle whose countdown runs is judged as any.
    const bool running = status_.runState == RunState::Running || status_.runState == RunState::Training;
    const bool opens = !status_.cycleOpen;
    // A cycle this pass opened measured itself against the silence: the
    // machine's cycle is the one before.
    const int interval = opens ? cycleInterval_ : intervalBefore_;
    if (openBefore || !running || cameraMissing_ || gFromTrain || interval <= 0 ||
        silentMs <= CycleBoard::kSilenceMs || silentMs < qint64(interval) * 100 ||
        status_.detectState == DetectState::NgLatched || status_.detectState == DetectState::RegionSetting)
        return false;
    qWarning("the board was silent for %d ms, longer than a cycle (%d ms): an opening may have passed unseen",
             silentMs, interval * 100);
    if (opens)
        openCycle();
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k)) {
            unwatchedSteps_ |= 1 << k;
            pollGapSteps_ |= 1 << k;
            doubtDueNs_[k] = 0;
        }
    keepOnDisk();
    board_.flashOut();
    if (opens)
        reports_.cycleStarted();
    return true;
}

qint64 MouldCycle::doubtDue(int k, qint64 now) const
{
    qint64 usual = *std::max_element(std::begin(delaysNs_[k]), std::end(delaysNs_[k]));
    // A trigger comes within a machine cycle of its opening: no bound waits
    // longer than that, whatever was learned.
    if (cycleInterval_ > 0)
        usual = qMin(usual, qint64(cycleInterval_) * 100000000);
    const qint64 margin = qint64(kDoubtMarginMs) * 1000000;
    if (usual <= 0 || openedNs_ <= 0)
        return now + qint64(kDoubtUnlearnedMs) * 1000000;
    return qMax(now, openedNs_ + usual) + margin;
}

void MouldCycle::learnDelay(int k, qint64 delayNs)
{
    if (k < 0 || k >= kMaxDetect || delayNs <= 0)
        return;
    // A cycle held open over later openings (its countdowns late on a
    // starved machine) counts its triggers from an opening long gone: such
    // a delay is no trigger's usual time.
    if (cycleInterval_ > 0 && delayNs >= qint64(cycleInterval_) * 100000000)
        return;
    delaysNs_[k][delayNext_[k]] = delayNs;
    delayNext_[k] = (delayNext_[k] + 1) % kDelaysKept;
}

void MouldCycle::notePollGap(bool openBefore, quint64 takenBefore)
{
    const CycleBoard::PollGaps gaps = board_.pollGaps();
    if (gaps.count == pollGapsSeen_)
        return;
    pollGapsSeen_ = gaps.count;
    noteSilence(gaps);
    // A silence named while it lasted gave its length so far; the reply
    // that ends it gives the whole.
    if ((silenceNoted_ || gaps.lastMs > CycleBoard::kSilenceMs) && !gaps.ongoing)
        qWarning("the board replied again after %d ms of silence", gaps.lastMs);
    silenceNoted_ = silenceNoted_ && gaps.ongoing;
    if (!gaps.ongoing && silenceMissedOpening(gaps.lastMs, openBefore))
        return;
    // The cycle waited through the gap when it was open before this pass,
    // or when an edge this pass took (one after takenBefore) came no later
    // than the gap's end: its opening may lie inside the gap, and so may a
    // later step's trigger. A cycle opened after the gap waited through none.
    if (!status_.cycleOpen || !(openBefore || gaps.endSeq > takenBefore))
        return;
    // A trigger shorter than the gap may have come and gone unseen, at its
    // level now or not: the step is in doubt, never waited for in silence.
    // Its trigger seen live before its usual time (and a margin) is over
    // ends the doubt, and the step is judged as any (holdUnwatchedStep);
    // a sequential step is in doubt only in its turn.
    const bool sequential = word(Word::Mode) == DetectMode::MultiStep && word(Word::Sequential) != 0;
    const qint64 now = steadyNs();
    int missed = 0;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k) && waitsForTrigger(k) && !((unwatchedSteps_ >> k) & 1) &&
            !(sequential && k != status_.runStep)) {
            missed |= 1 << k;
            doubtDueNs_[k] = doubtDue(k, now);
        }
    if (!missed)
        return;
    unwatchedSteps_ |= missed;
    pollGapSteps_ |= missed;
    QStringList steps;
    for (int k = 0; k < kMaxDetect; ++k)
        if ((missed >> k) & 1)
            steps << QString::number(k + 1);
    silenceNoted_ = gaps.ongoing;
    const int awaitMs = int((doubtDueNs_[qCountTrailingZeroBits(quint32(missed))] - now) / 1000000);
    if (gaps.ongoing)
        qWarning("the board has not replied for %d ms while the open cycle waits for the trigger of step %s: "
                 "a short trigger may pass unseen; awaited %d ms more",
                 gaps.lastMs, qPrintable(steps.join(QLatin1Char(','))), awaitMs);
    else
        qWarning("the board went %d ms without a reply while the open cycle waited for the trigger of step %s: "
                 "a short trigger may have passed unseen; awaited %d ms more",
                 gaps.lastMs, qPrintable(steps.join(QLatin1Char(','))), awaitMs);
}

bool MouldCycle::waitsForTrigger(int k) const
{
    return !stepDecided_[k] && !stepOwed_[k] && !countdownActive_[k] && !edgeHeld_[k];
}

void MouldCycle::holdUnwatchedStep(int live)
{
    if (!unwatchedSteps_)
        return;
    // A step no longer waits for an unseen trigger once it is triggered,
    // judged or held (an NG of its own), or its trigger's edge is seen.
    for (int k = 0; k < kMaxDetect; ++k)
        if (((unwatchedSteps_ >> k) & 1) &&
            (!status_.cycleOpen || !StepActive(k) || !waitsForTrigger(k) || StepTrigger(k, live, false) == ByInput))
            unwatchedSteps_ &= ~(1 << k);
    pollGapSteps_ &= unwatchedSteps_;
    const bool running = status_.runState == RunState::Running || status_.runState == RunState::Training;
    if (!unwatchedSteps_ || !running || cameraMissing_ || gFromTrain ||
        status_.detectState == DetectState::NgLatched || status_.detectState == DetectState::RegionSetting)
        return;
    // The steps the operator's decision left owed are judged first.
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k) && stepOwed_[k] && !stepDecided_[k] && !countdownActive_[k])
            return;
    // One at a time, in order; a later sequential step once it is its turn.
    // A picture now may be taken before what the trigger announces (the
    // part not yet ejected), so none passes the step: the operator looks
    // and resolves it.
    const bool sequential = word(Word::Mode) == DetectMode::MultiStep && word(Word::Sequential) != 0;
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (((unwatchedSteps_ >> k) & 1) && !(sequential && k != status_.runStep)) {
            // A doubt of a gap holds nothing before the trigger is due.
            if (((pollGapSteps_ >> k) & 1) && steadyNs() < doubtDueNs_[k])
                return;
            unwatchedSteps_ &= ~(1 << k);
            holdUnjudged(k);
            return;
        }
}

void MouldCycle::holdUnjudged(int k)
{
    qWarning("step %d: the open cycle waits for its trigger, which may have come while nothing watched; "
             "held as an unjudged NG",
             k + 1);
    // The operator's page answers for the step in turn.
    status_.detectStep = k;
    status_.runStep = k;
    stepOwed_[k] = true;
    stepDecided_[k] = false;
    lastStages_ = DecisionStages{};
    // No camera is at fault: the operator is told once why nothing was
    // judged, on the screen and in the record.
    const QString why = lanStr((pollGapSteps_ >> k) & 1 ? kTextPollGap : kTextNotWatched).arg(k + 1);
    pollGapSteps_ &= ~(1 << k);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!judge_.present(c))
            continue;
        stepTrained_[c] = false;
        unjudged_[c] = true;
        judge_.setVerdict(c, false);
    }
    screen_.stepJudged(k);
    pendingRows_ << why;
    decide(false);
    if (status_.ngPresent)
        status_.ngNote = why;
    recordRows();
    screen_.showJudgedFrames();
}

void MouldCycle::recordRows()
{
    const QStringList rows = pendingRows_;
    pendingRows_.clear();
    for (const QString& text : rows)
        log_.record(text);
    // The NG's record on disk no longer carries them (nothing written when
    // it never did).
    keepOnDisk();
}

void MouldCycle::openCycle(int heldStep)
{
    const qint64 wall = QDateTime::currentMSecsSinceEpoch();
    intervalBefore_ = cycleInterval_;
    if (lastCycleStartMs_ > 0)
        cycleInterval_ = static_cast<int>(qMin<qint64>((wall - lastCycleStartMs_) / 100, INT_MAX));
    lastCycleStartMs_ = wall;
    openedNs_ = steadyNs();
    // Not resetRun: a countdown still running is an opening of its own,
    // judged in the new cycle, never stopped unjudged.
    judge_.resetVerdicts();
    std::fill(std::begin(unjudged_), std::end(unjudged_), false);
    // Every trigger of this cycle is to come, watched.
    unwatchedSteps_ = 0;
    pollGapSteps_ = 0;
    // A held opening that opens the cycle brings the steps its very edge
    // started (the pass that held it): those already decided OK, judged
    // while the cycle before still waited for this step, are decided in
    // this cycle and stay free; holding them again would keep the ejector
    // until the next opening for a part already seen gone. A step started
    // by a later edge was judged in the cycle before (a sequential step in
    // its turn) and is held as any.
    bool keep[kMaxDetect] = {};
    const quint64 heldPass = heldStep >= 0 && heldStep < kMaxDetect ? heldInPass_[heldStep] : 0;
    for (int j = 0; j < gDNum && j < kMaxDetect; ++j) {
        keep[j] = heldPass > 0 && j != heldStep && StepActive(j) && stepDecided_[j] && !countdownActive_[j] &&
                  !edgeHeld_[j] && startedInPass_[j] == heldPass;
        if (StepActive(j) && !keep[j])
            board_.setOut(StepInterlock(j), 1);
    }
    std::fill(std::begin(status_.cycleFailed), std::end(status_.cycleFailed), false);
    judge_.cycleOpened();
    for (int j = 0; j < kMaxDetect; ++j) {
        stepOwed_[j] = countdownActive_[j];
        stepDecided_[j] = keep[j];
    }
    status_.cycleTrained = false;
    status_.cycleOpen = true;
    status_.countState = CountState::Detecting;
}

void MouldCycle::startCountdown(int k, int how)
{
    // A new opening of the step, undecided whatever the cycle decided of it
    // before; its output is held from now, whatever opened it (a new cycle,
    // a held edge, the door, a step the words just enabled).
    stepOwed_[k] = true;
    stepDecided_[k] = false;
    board_.setOut(StepInterlock(k), 1);
    doorTriggered_[k] = how == ByDoor;
    // A held opening belongs to the pass that held its edge; a countdown a
    // restart starts again to no pass known.
    startedInPass_[k] = how == ByHeldOpening ? heldInPass_[k] : passSeq_;
    countdownActive_[k] = true;
    status_.countdownRemain[k] = word(Word::TriggerDelay0 + k) / 10.0f;
    countdownStartNs_[k] = steadyNs();
    // The edge as the board's thread saw it, when it is this pass's (a held
    // edge starts its countdown later: its own time is gone).
    const qint64 edge = board_.inputEdgeNs();
    countdownEdgeNs_[k] = edge > 0 && countdownStartNs_[k] - edge < 1000000000LL ? edge : 0;
    // When a trigger of this step comes in a cycle: a gap's doubt is
    // awaited that long.
    if (how == ByInput && status_.cycleOpen && openedNs_ > 0)
        learnDelay(k, (countdownEdgeNs_[k] ? countdownEdgeNs_[k] : countdownStartNs_[k]) - openedNs_);
    // The step's pictures are those made after its opening: from the edge
    // (a later edge of any input only makes the mark later), else from now.
    frames_.countdownStarted(k, countdownEdgeNs_[k] > 0 ? countdownEdgeNs_[k] : countdownStartNs_[k]);
    countdownTicks_[k] = 0;
    status_.countdownTimer[k].start(100);
}

void MouldCycle::tick(int step)
{
    if (step < 0 || step >= kMaxDetect)
        return;
    if (!StepActive(step)) {
        // The words changed under a running countdown (before any pass saw it).
        knownActive_ = activeSteps();
        dropStep(step);
        board_.flashOut();
        keepOnDisk();
        publishEdgeHolds();
        return;
    }
    status_.countdownRemain[step] -= 0.1f;
    if (status_.countdownRemain[step] > 0.001f) {
        if (countdownStartNs_[step] > 0) {
            // The next tick at its whole tenth after the start.
            const qint64 due = countdownStartNs_[step] + 100000000LL * (++countdownTicks_[step] + 1);
            const qint64 waitMs = (due - steadyNs() + 999999) / 1000000;
            status_.countdownTimer[step].start(static_cast<int>(qBound<qint64>(0, waitMs, 100)));
        }
        return;
    }
    // When the countdown was due to end: steps ending on the same tick judge
    // the same frames.
    const qint64 endDue = countdownEndDue(step);
    const qint64 dueNs = endDue > 0 ? endDue : steadyNs();
    // The event loop hands over timers that are due together in no fixed
    // order, and on a loaded machine not even in the order they were due: a
    // countdown due to end before this one (or with it, of an earlier step)
    // whose timer has not come yet ends first. Steps started by one opening
    // are thus judged in step order, the product before its cavity, and the
    // NG latched is the first step's.
    const qint64 startedNs = countdownStartNs_[step];
    for (;;) {
        int first = -1;
        qint64 firstDue = 0;
        const qint64 now = steadyNs();
        for (int k = 0; k < kMaxDetect; ++k) {
            const qint64 due = k == step || !StepActive(k) ? 0 : countdownEndDue(k);
            if (due <= 0 || due > now || due > dueNs || (due == dueNs && k > step))
                continue;
            if (first < 0 || due < firstDue) {
                first = k;
                firstDue = due;
            }
        }
        if (first < 0)
            break;
        endCountdown(first, firstDue);
        // What that judgement did may have ended or restarted this countdown.
        if (!countdownActive_[step] || countdownStartNs_[step] != startedNs)
            return;
    }
    endCountdown(step, dueNs);
}

qint64 MouldCycle::countdownEndDue(int k) const
{
    if (!countdownActive_[k] || countdownStartNs_[k] <= 0)
        return 0;
    // The tick due next, and one more tenth for each tenth left after it.
    const int left = qMax(1, qRound(status_.countdownRemain[k] * 10.0f));
    return countdownStartNs_[k] + 100000000LL * (countdownTicks_[k] + left);
}

void MouldCycle::endCountdown(int step, qint64 dueNs)
{
    const qint64 endNs = steadyNs();
    const qint64 startedNs = countdownStartNs_[step];
    countdownStartNs_[step] = 0;
    status_.countdownTimer[step].stop();
    countdownActive_[step] = false;
    status_.countdownRemain[step] = 0.0f;
    if (status_.runState == RunState::Stopped || status_.detectState == DetectState::NgLatched ||
        status_.detectState == DetectState::RegionSetting)
        return;  // stopped, or an NG is waiting for the operator: the step stays owed
    countdownEndedNs_ = endNs;
    countdownDueNs_ = qMin(dueNs, endNs);
    endedStartNs_ = startedNs;
    endedEdgeNs_ = countdownEdgeNs_[step];
    judgeStep(step);
}

void MouldCycle::holdForMissingCamera()
{
    if (!cameraHold_) {
        qWarning("a camera is missing during detection: clamp, alarm and the open cycle's interlocks held");
        cameraHold_ = true;
    }
    board_.setOut(kClampOut, 1);
    board_.setOut(kAlarmOut, 1);
    for (int out = 0; out < kBoardOutputs; ++out)
        if ((missingHeld_ >> out) & 1)
            board_.setOut(out, 1);
    if (status_.cycleOpen)
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            if (StepActive(k) && !stepDecided_[k])
                board_.setOut(StepInterlock(k), 1);
    keepOnDisk();
    board_.flashOut();
}

void MouldCycle::cameraLost()
{
    if (status_.runState == RunState::Stopped)
        return;
    cameraMissing_ = true;
    holdForMissingCamera();
    publishEdgeHolds();
}

// ---- Judging -------------------------------------------------------------------------

void MouldCycle::pullFrames(int k, bool fresh[kMaxCamera], QStringList records[kMaxCamera], int only)
{
    bool want[kMaxCamera] = {};
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        fresh[c] = false;
        if ((only >= 0 && c != only) || !judge_.present(c))
            continue;
        unjudged_[c] = false;
        stepTrained_[c] = false;
        want[c] = true;
    }
    frames_.freshFrames(k, framesFromNs_, want, fresh);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!want[c] || fresh[c])
            continue;
        // Neither a stale picture nor a missing one may pass a step.
        markUnjudged(c, k, records[c]);
    }
}

void MouldCycle::markUnjudged(int c, int k, QStringList& records)
{
    unjudged_[c] = true;
    judge_.setVerdict(c, false);
    // A camera that runs and gave nothing in time is named as such, on the
    // screen too: it is slow, not lost.
    const bool running = frames_.cameraRunning(c);
    const QString text = lanStr(running ? kTextNoPicture : kTextUnjudged).arg(c + 1).arg(k + 1);
    qWarning("%s", qPrintable(text));
    records.append(text);
    if (running)
        noPictureNotes_.append(text);
}

void MouldCycle::judgeStep(int k)
{
    if (k < 0 || k >= kMaxDetect)
        return;
    status_.detectStep = k;
    // Fresh pictures first; then the engines of the cameras that are to be
    // judged, all at once, so that the decision is on complete results.
    QStringList records[kMaxCamera];
    lastStages_ = DecisionStages{};
    // An owed step judged late starts its stages now.
    lastStages_.countdownEnd = countdownEndedNs_ ? countdownEndedNs_ : steadyNs();
    lastStages_.countdownDue = countdownEndedNs_ ? countdownDueNs_ : 0;
    lastStages_.countdownStarted = countdownEndedNs_ ? endedStartNs_ : 0;
    lastStages_.edgeSeen = countdownEndedNs_ ? endedEdgeNs_ : 0;
    countdownEndedNs_ = endedStartNs_ = endedEdgeNs_ = 0;
    framesFromNs_ = countdownDueNs_ ? countdownDueNs_ : steadyNs();
    countdownDueNs_ = 0;
    bool fresh[kMaxCamera] = {};
    noPictureNotes_.clear();
    pullFrames(k, fresh, records);
    lastStages_.framesPulled = steadyNs();
    CycleJudge::Verdict verdict[kMaxCamera] = {};
    judge_.judge(k, fresh, verdict, records);
    for (int c = 0; c < kMaxCamera; ++c)
        if (fresh[c] && verdict[c] == CycleJudge::Trained)
            stepTrained_[c] = status_.cycleTrained = true;
    lastStages_.judged = steadyNs();
    // Held for the decision, whose fault pictures say what triggered it.
    status_.safeDoorDetect = doorTriggered_[k] ? 1 : 0;
    doorTriggered_[k] = false;
    screen_.stepJudged(k);
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        pendingRows_ << records[c];
    decide(false);
    if (status_.ngPresent && !noPictureNotes_.isEmpty())
        status_.ngNote = noPictureNotes_.join(QLatin1Char('\n'));
    noPictureNotes_.clear();
    status_.safeDoorDetect = 0;
    // The machine has its outputs: now the record and the screen.
    recordRows();
    screen_.showJudgedFrames();
    lastStages_.after = steadyNs();
    const qint64 written = board_.outputWrittenNs();
    lastStages_.written = written >= lastStages_.handedOver && lastStages_.handedOver > 0 ? written : 0;
    qInfo("%s", qPrintable(stagesLine(k, lastStages_)));
}

QString MouldCycle::stagesLine(int step, const DecisionStages& s)
{
    // Milliseconds from `from` to `to`, "-" where either is unknown.
    auto ms = [](qint64 from, qint64 to) {
        return from > 0 && to > 0 ? QString::number(double(to - from) / 1e6, 'f', 1) : QStringLiteral("-");
    };
    const qint64 end = s.countdownEnd;
    return QStringLiteral("step %1 stages: edge_to_countdown %2 countdown %3 late %4 frames %5 judged %6 "
                          "handed_over %7 written %8 decided %9 after %10")
        .arg(step + 1)
        .arg(ms(s.edgeSeen, s.countdownStarted), ms(s.countdownStarted, s.countdownEnd), ms(s.countdownDue, end),
             ms(end, s.framesPulled), ms(end, s.judged), ms(end, s.handedOver), ms(end, s.written),
             ms(end, s.decided), ms(end, s.after));
}

int MouldCycle::runAlgorithm(int camera, int step)
{
    if (camera < 0 || camera >= numCamera || camera >= kMaxCamera || !judge_.present(camera) || step < 0 ||
        step >= kMaxDetect)
        return 0;
    status_.detectStep = step;
    QStringList records[kMaxCamera];
    bool fresh[kMaxCamera] = {};
    pullFrames(step, fresh, records, camera);
    int result = 0;
    if (fresh[camera]) {
        CycleJudge::Verdict verdict[kMaxCamera] = {};
        judge_.judge(step, fresh, verdict, records);
        if (verdict[camera] == CycleJudge::Trained)
            stepTrained_[camera] = status_.cycleTrained = true;
        result = verdict[camera] == CycleJudge::Ng ? 0 : 1;
    }
    for (const QString& text : records[camera])
        log_.record(text);
    return result;
}

void MouldCycle::judgeOwedSteps()
{
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
        if (status_.runState == RunState::Stopped || status_.detectState == DetectState::NgLatched ||
            status_.detectState == DetectState::RegionSetting || gFromTrain || !status_.cycleOpen)
            return;
        if (!stepOwed_[k] || stepDecided_[k] || countdownActive_[k] || !StepActive(k))
            continue;
        qInfo("step %d judged now: its countdown was dropped while an NG waited", k + 1);
        judgeStep(k);
    }
}

// ---- The decision --------------------------------------------------------------------

void MouldCycle::decide(bool manual)
{
    if (gFromTrain)
        return;
    const Decision d = weigh(manual);
    // Any decision says anew why an NG holds (holdUnjudged, after this).
    status_.ngNote.clear();
    latchAndSetOutputs(d);
    count(d);
    // The ring of recent NG pictures per step, which the ROI page browses.
    if (!manual) {
        const QDateTime now = QDateTime::currentDateTime();
        for (int c = 0; c < numCamera; ++c)
            if (judge_.present(c) && !judge_.verdictOk(c) && !unjudged_[c])
                pictures_.keepNgPicture(c, d.step, now);
    }
    const QVector<QPair<int, int>> clearKinds = howCleared(d);
    if (!d.ok && !d.wasNg)
        reports_.alarmStarted(d.step);
    renderPictures(d);
    reports_.stepDone(d.step, d.ok);
    if (d.ok && d.wasNg)
        reports_.alarmCleared(clearKinds);
    status_.manualDecision = false;
    close(d);
}

MouldCycle::Decision MouldCycle::weigh(bool manual)
{
    Decision d;
    d.manual = manual;
    d.step = qBound(0, status_.detectStep, kMaxDetect - 1);
    d.wasNg = status_.ngPresent;
    for (int c = 0; c < numCamera; ++c)
        if (judge_.present(c) && !judge_.verdictOk(c))
            d.ok = false;
    if (d.ok) {
        stepDecided_[d.step] = true;
        stepOwed_[d.step] = false;
    }
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        d.owed = d.owed || (stepOwed_[k] && !stepDecided_[k] && StepActive(k));
    // Closes once the last step is decided and nothing is owed, whichever
    // step's decision that is (a held opening of an earlier step may be
    // decided after the last step).
    const int last = lastStepOfCycle();
    const bool lastDecided = last >= 0 && last < kMaxDetect && stepDecided_[last];
    d.closes = d.ok && status_.cycleOpen && lastDecided && !d.owed;
    cameraMissing_ = frames_.cameraMissing();
    d.holdEnds = d.closes && cameraHold_ && !cameraMissing_;
    if (d.holdEnds) {
        qInfo("cameras back and a cycle judged: the hold of the missing camera ends");
        cameraHold_ = false;
    }
    return d;
}

void MouldCycle::latchAndSetOutputs(const Decision& d)
{
    const int s = d.step;
    // An OK frees the step's output only when nothing else holds it: an
    // undecided step of the open cycle on the same output (the two cavities
    // of the two-colour and turntable modes), a held or running opening of
    // this step or another, or the hold of a missing camera.
    const bool held = !d.ok || outputHeld(StepInterlock(s), d.closes);

    // An NG is on disk before any output announces it: a stop between the
    // two never leaves an alarm on the wire that a restart forgets.
    if (!d.ok) {
        keepOnDisk(true);
        if (afterLatchWritten_)
            afterLatchWritten_();
    }

    // Outputs first: the machine must know before anything is drawn.
    board_.setOut(StepInterlock(s), held ? 1 : 0);
    board_.setOut(kAlarmOut, d.ok && !cameraHold_ ? 0 : 1);
    if (cameraHold_) {
        board_.setOut(kClampOut, 1);
        for (int out = 0; out < kBoardOutputs; ++out)
            if ((missingHeld_ >> out) & 1)
                board_.setOut(out, 1);
    } else if (d.holdEnds) {
        // Every step of the cycle passed with the cameras back.
        const int freed = missingHeld_ | 1 << kClampOut;
        missingHeld_ = 0;
        for (int out = 0; out < kBoardOutputs; ++out)
            if (((freed >> out) & 1) && !outputHeld(out, true))
                board_.setOut(out, 0);
    }
    // An opening the board's thread latched while this step was judged,
    // and no pass has taken yet, opens the next cycle once taken: the
    // outputs this word frees stay held for it (the board's thread holds,
    // for an edge not yet taken, what the table says when the word goes).
    if (d.closes)
        publishEdgeHolds(true);
    // Stamped as the word goes: the I/O thread may write it before
    // flashOut returns.
    lastStages_.handedOver = steadyNs();
    board_.flashOut();

    status_.detectState = d.ok ? DetectState::Ok : DetectState::NgLatched;
    status_.ngPresent = !d.ok;
    status_.countState = CountState::Detected;
    board_.led(6, d.ok ? 1 : 0);
    board_.led(7, d.ok ? 0 : 1);
}

void MouldCycle::count(const Decision& d)
{
    if (!d.manual) {
        bool anyNg = false;
        for (int c = 0; c < numCamera; ++c) {
            if (!judge_.present(c) || stepTrained_[c])
                continue;
            const bool ng = !judge_.verdictOk(c);
            ProductionCounters::get().countPart(c, ng);
            if (ng) {
                status_.cycleFailed[c] = true;
                anyNg = true;
            }
        }
        if (anyNg)
            ProductionCounters::get().countNgDecision();
    }
    if (d.closes && !status_.cycleTrained) {
        bool anyCycleNg = false;
        for (int c = 0; c < numCamera; ++c) {
            ProductionCounters::get().countCycle(c, status_.cycleFailed[c]);
            anyCycleNg = anyCycleNg || status_.cycleFailed[c];
        }
        if (anyCycleNg)
            ProductionCounters::get().countNgCycle();
    }
    log_.countersChanged();
}

QVector<QPair<int, int>> MouldCycle::howCleared(const Decision& d) const
{
    // How the operator cleared the alarm, per camera, read before the
    // pictures relabel the codes: a re-inspection that now passes counts as
    // re-inspection OK.
    QVector<QPair<int, int>> kinds;
    if (!d.manual || !d.ok || !d.wasNg)
        return kinds;
    for (int c = 0; c < numCamera; ++c) {
        const int code = status_.alarmCode[c * kMaxDetect + d.step];
        if (code >= AlarmCode::NotDetected && code <= AlarmCode::ReDetectedOk && judge_.present(c))
            kinds.append({c, (code == AlarmCode::ReDetected && judge_.verdictOk(c)) ? AlarmCode::ReDetectedOk : code});
    }
    return kinds;
}

void MouldCycle::renderPictures(const Decision& d)
{
    // Fault pictures: OK picture in slot 1, NG picture in slot 0. A
    // judgement's pictures are drawn at the same time, one camera a worker.
    const int s = d.step;
    if (!d.manual) {
        int cameras[kMaxCamera];
        int which[kMaxCamera];
        int count = 0;
        for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
            if (!judge_.present(c) || (unjudged_[c] && !judge_.verdictOk(c)))
                continue;
            cameras[count] = c;
            which[count++] = judge_.verdictOk(c) ? 1 : 0;
        }
        pictures_.newFaultPictures(s, cameras, which, count);
    }
    for (int c = 0; c < numCamera; ++c) {
        if (!judge_.present(c))
            continue;
        const bool ok = judge_.verdictOk(c);
        const bool lost = unjudged_[c] && !ok;
        const int which = ok ? 1 : 0;
        int& code = status_.alarmCode[c * kMaxDetect + s];
        if (lost) {
            // No picture of this step exists: nothing is rendered from a stale frame.
        } else if (!d.manual) {
            // Drawn above.
        } else if (code == AlarmCode::NotDetected || code == AlarmCode::AddedAsTemplate) {
            // Let pass without judging: the held NG picture, labelled with
            // how the alarm was cleared.
            code = pictures_.faultPicture(c, s, 0, CyclePictures::LabelHeld, code);
        } else if ((code >= AlarmCode::SwitchedToMould && code <= AlarmCode::ReDetectedOk) || !ok) {
            // Judged again: the new picture, labelled when it cleared the alarm.
            code = pictures_.faultPicture(c, s, which, ok ? CyclePictures::SaveLabelled : CyclePictures::SaveNew, code);
        }
        if (!ok)
            code = lost ? kCodeCameraLost : AlarmCode::NgWaiting;
    }
}

void MouldCycle::close(const Decision& d)
{
    if (d.ok) {
        if (gDNum > 0)
            status_.runStep = (d.step + 1) % gDNum;
        if (d.closes) {
            status_.cycleOpen = false;
            status_.countState = CountState::Waiting;
        }
    }
    screen_.stepDecided(d.step, d.ok, d.manual);
    lastStages_.decided = steadyNs();
    // The step judged (or the cycle closed) on disk once the machine has its
    // outputs and the screen the verdict: a stop before it only has the step
    // judged again.
    if (d.ok)
        keepOnDisk(false);
    if (d.ok && d.manual && d.owed)
        // Not from inside the operator's decision: the page closes first.
        screen_.owedStepsLater();
    publishEdgeHolds();
    if (d.closes && afterCycle_) {
        const std::function<void()> job = std::move(afterCycle_);
        afterCycle_ = nullptr;
        job();
    }
}

// ---- The operator's answers ------------------------------------------------------------

void MouldCycle::passProductNgByDoor()
{
    // Word 158: whoever opened and closed the door has dealt with the
    // product; its NG passes as "do not detect" would pass it, and the mould
    // cavity, which may have been reached into, is owed a judgement like any
    // (fresh pictures, an NG latched and held) before it may close.
    const int ng = qBound(0, status_.detectStep, kMaxDetect - 1);
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k) && !stepDecided_[k] && StepInterlock(k) == kClampOut) {
            stepOwed_[k] = true;
            doorTriggered_[k] = true;
        }
    qInfo("step %d: the product NG passed by the safety door; the mould cavity is judged again", ng + 1);
    resetRun();
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
        clearNg(c, ng, AlarmCode::NotDetected);
    decideByOperator();
}

void MouldCycle::clearNg(int camera, int step, int how)
{
    if (camera < 0 || camera >= kMaxCamera || step < 0 || step >= kMaxDetect)
        return;
    int& code = status_.alarmCode[camera * kMaxDetect + step];
    if (code == AlarmCode::NgWaiting)
        code = how;
}

void MouldCycle::reDetect(int step, int cameraMask)
{
    if (step >= 0 && step < kMaxDetect)
        status_.reDetectMask[step] = cameraMask;
}

void MouldCycle::decideByOperator()
{
    status_.manualDecision = true;
    decide(true);
}

void MouldCycle::holdForReDetect(int step)
{
    const int last = word(Word::Mode) == DetectMode::MultiStep ? gDNum - 1 : 1;
    if (step == last && word(Word::CutClampOnMouldAlarm) == 0 && word(Word::CavityNgClampPulse) == 0)
        board_.setOut(kClampOut, 1);
    else if (step == 0 && word(Word::NoEjectorControlInProduct) == 0 && word(Word::EjectorPulseOnProductNg) == 0 &&
             word(Word::CutEjectorOnProductAlarm) == 0)
        board_.setOut(kEjectorOut, 1);
    board_.flashOut();
}

void MouldCycle::pictureSourceChosen(int source)
{
    if (status_.detectState != DetectState::NgLatched || source == PictureSource::Live)
        return;
    board_.setOut(kAlarmOut, 0);
    board_.flashOut();
}

void MouldCycle::enterRegionSetting()
{
    status_.detectState = DetectState::RegionSetting;
    publishEdgeHolds();
}

void MouldCycle::leaveRegionSetting()
{
    status_.detectState = DetectState::Idle;
    publishEdgeHolds();
}

void MouldCycle::restoreShownVerdict(int shownBefore)
{
    if (status_.detectState == DetectState::Idle &&
        (shownBefore == DetectState::Ok || shownBefore == DetectState::NgLatched))
        status_.detectState = status_.ngPresent ? DetectState::NgLatched : DetectState::Ok;
}

void MouldCycle::backTrain()
{
    // A countdown running or an opening held keeps its output.
    for (const int out : {kClampOut, kEjectorOut}) {
        bool busy = false;
        for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
            busy = busy || (StepActive(k) && StepInterlock(k) == out && (countdownActive_[k] || edgeHeld_[k]));
        if (!busy)
            board_.setOut(out, 0);
    }
    board_.flashOut();
    status_.runState = RunState::Running;
    decide(true);
}

// ---- The latch on disk -----------------------------------------------------------------

QString MouldCycle::latchFile()
{
    return QStringLiteral("./nglatch.dat");
}

QString MouldCycle::oldLatchFile()
{
    return QStringLiteral("./nglatch.ini");
}

bool MouldCycle::LatchOnDisk()
{
    if (QFile::exists(oldLatchFile()))
        return true;
    QByteArray record;
    const InPlaceRecord::State state = InPlaceRecord::read(latchFile(), &record);
    // A record of openings alone is no NG.
    return state == InPlaceRecord::State::Damaged
           || (state == InPlaceRecord::State::Valid && (record.startsWith("step=") || record.contains("\nstep=")));
}

bool MouldCycle::storeRecord(const QByteArray& text, bool fromBoard)
{
    InPlaceRecord* record = latchRecord_.get();
    if (!record)
        return false;
    if (!fromBoard)
        return record->store(text);
    // The board's thread writes into the file this thread made and opened,
    // and leaves the sync to the record's own thread: no poll waits on it.
    // Failures are the pass's to report (it writes the same file next).
    if (!record->store(text, false))
        return false;
    record->syncSoon();
    return true;
}

void MouldCycle::edgeOnWire(int edges, int found, quint64 seq)
{
    marks_.mark(edges, found, seq);
}

QByteArray MouldCycle::recordBody(bool ng, bool always) const
{
    int owed = 0;
    int edges = 0;
    int decided = 0;
    for (int k = 0; k < kMaxDetect; ++k) {
        owed |= (stepOwed_[k] && (ng || !stepDecided_[k])) || countdownActive_[k] ? 1 << k : 0;
        edges |= edgeHeld_[k] ? 1 << k : 0;
        decided |= stepDecided_[k] ? 1 << k : 0;
    }
    // The outputs a missing camera's openings hold (the clamp and the alarm
    // with them), while that hold lasts.
    const QString missing = cameraHold_ ? QStringLiteral("missing=%1\n").arg(missingHeld_) : QString();
    if (!ng) {
        if (!status_.cycleOpen && owed == 0 && edges == 0 && !cameraHold_ && !always)
            return QByteArray();
        // The cameras that failed a step of the open cycle, for its count.
        int cycleFailed = 0;
        for (int c = 0; c < kMaxCamera; ++c)
            cycleFailed |= status_.cycleOpen && status_.cycleFailed[c] ? 1 << c : 0;
        return QStringLiteral("cycle=%1\nowed=%2\nedges=%3\ndecided=%4\ncyclefailed=%5\nturn=%6\n%7")
            .arg(status_.cycleOpen ? 1 : 0)
            .arg(owed)
            .arg(edges)
            .arg(decided)
            .arg(cycleFailed)
            .arg(qBound(0, status_.runStep, kMaxDetect - 1))
            .arg(missing)
            .toUtf8();
    }
    int failed = 0;
    int lost = 0;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (judge_.present(c) && !judge_.verdictOk(c))
            failed |= 1 << c;
        if (unjudged_[c])
            lost |= 1 << c;
    }
    QByteArray body = QStringLiteral("step=%1\nfailed=%2\nlost=%3\nowed=%4\ndecided=%5\nedges=%6\n%7")
        .arg(qBound(0, status_.detectStep, kMaxDetect - 1))
        .arg(failed)
        .arg(lost)
        .arg(owed)
        .arg(decided)
        .arg(edges)
        .arg(missing)
        .toUtf8();
    // Until the decision's record rows are in the record: a restart
    // records the NG's rows itself (the record is too small for the texts).
    if (!pendingRows_.isEmpty())
        body += "rows=1\n";
    return body;
}

void MouldCycle::keepOnDisk(bool ng)
{
    keepOnDisk(ng, false);
}

void MouldCycle::keepOnDisk(bool ng, bool retry)
{
    const QByteArray body = recordBody(ng);
    if (bodyKept_ && body == keptBody_)
        return;
    if (!ng && status_.ngLatchUnkept && !retry) {
        // No file yet (a full disk), or one that cannot be written: the
        // retry every few seconds writes what holds then; only an NG tries
        // at once.
        bodyKept_ = false;
        return;
    }
    if (!latchRecord_)
        latchRecord_ = std::make_unique<InPlaceRecord>(latchFile());
    // The write makes the file first when it is missing (room may have
    // come back since start-up); the edges on the wire that no pass has
    // taken yet stay marked in it. Forced to the disk once the file is let
    // go: the board's thread may mark an edge meanwhile.
    const QByteArray base = body.isEmpty() ? recordBody(false, true) : body;
    const bool kept = marks_.write(body, base) && latchRecord_->sync();
    // Said once per change, with the count of failed writes in between.
    if (!kept) {
        ++unkeptWrites_;
        if (!status_.ngLatchUnkept)
            qWarning("%s", ng ? "the latched NG could not be kept on disk; it is held for this run only"
                              : "the open cycle could not be kept on disk; a restart would not hold its openings");
    } else if (status_.ngLatchUnkept) {
        qInfo("%s is ready again after %d failed writes: a latched NG is kept across a restart",
              qPrintable(latchFile()), unkeptWrites_);
    }
    if (kept) {
        unkeptWrites_ = 0;
        latchRetryGapNs_ = 0;
    } else {
        marks_.setReady(false, base);
    }
    status_.ngLatchUnkept = !kept;
    bodyKept_ = kept;
    keptBody_ = body;
    // An earlier version's file goes once this one says what holds.
    if (kept && QFile::exists(oldLatchFile()) && !QFile::remove(oldLatchFile()))
        qWarning("%s could not be removed", qPrintable(oldLatchFile()));
}

void MouldCycle::retryLatchFile()
{
    const qint64 now = steadyNs();
    // Every few seconds; less and less often while the file takes no write
    // (each failed write is a line of the record's own).
    const qint64 gap = qMax<qint64>(5000000000LL, latchRetryGapNs_);
    if (latchRetryNs_ != 0 && now - latchRetryNs_ < gap)
        return;
    latchRetryNs_ = now;
    if (!latchRecord_)
        latchRecord_ = std::make_unique<InPlaceRecord>(latchFile());
    if (!latchRecord_->prepare())
        return;
    // Whatever holds now (an NG, openings) goes to the file; it is ready
    // again only once that write succeeded.
    bodyKept_ = false;
    keepOnDisk(status_.ngPresent, true);
    if (status_.ngLatchUnkept)
        latchRetryGapNs_ = qMin<qint64>(300000000000LL, 2 * gap);
}

void MouldCycle::clearLatchedNg()
{
    // Detection stops: no opening is held, none marked.
    marks_.clear(recordBody(false, true));
    if (!latchRecord_)
        latchRecord_ = std::make_unique<InPlaceRecord>(latchFile());
    // Written in place: an empty record is no NG. A file of an earlier
    // version goes only once the new one says so.
    QByteArray record;
    const InPlaceRecord::State state = InPlaceRecord::read(latchFile(), &record);
    const bool clear = state == InPlaceRecord::State::Missing || state == InPlaceRecord::State::Empty
                       || (state == InPlaceRecord::State::Valid && record.isEmpty());
    if (!clear && !(marks_.write(QByteArray(), recordBody(false, true)) && latchRecord_->sync())) {
        qWarning("%s could not be cleared", qPrintable(latchFile()));
        bodyKept_ = false;
        return;
    }
    bodyKept_ = true;
    keptBody_.clear();
    if (QFile::exists(oldLatchFile()) && !QFile::remove(oldLatchFile()))
        qWarning("%s could not be removed", qPrintable(oldLatchFile()));
}

MouldCycle::LatchRead MouldCycle::readLatch(QMap<QString, QString>& values)
{
    // The values of the latch: "key=value" lines, in the [latch] group of an
    // earlier version's file.
    if (QFile::exists(oldLatchFile())) {
        QSettings ini(oldLatchFile(), QSettings::IniFormat);
        const bool good = ini.status() == QSettings::NoError;
        ini.beginGroup(QStringLiteral("latch"));
        for (const QString& key : ini.childKeys())
            values.insert(key, ini.value(key).toString());
        return good ? LatchRead::Held : LatchRead::Damaged;
    }
    QByteArray record;
    switch (InPlaceRecord::read(latchFile(), &record)) {
    case InPlaceRecord::State::Missing:
    case InPlaceRecord::State::Empty:
        return LatchRead::None;
    case InPlaceRecord::State::Damaged:
        return LatchRead::Damaged;
    case InPlaceRecord::State::Valid:
        break;
    }
    if (record.isEmpty())
        return LatchRead::None;
    for (const QByteArray& line : record.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return LatchRead::Held;
}

bool MouldCycle::restoreLatchedNg()
{
    if (!latchRecord_)
        latchRecord_ = std::make_unique<InPlaceRecord>(latchFile());
    QMap<QString, QString> values;
    const LatchRead read = readLatch(values);
    if (read == LatchRead::None) {
        // A full disk now: made as soon as there is room (see retryLatchFile).
        status_.ngLatchUnkept = !latchRecord_->prepare();
        bodyKept_ = !status_.ngLatchUnkept;
        marks_.setReady(bodyKept_, recordBody(false, true));
        keptBody_.clear();
        return false;
    }
    bool good = read == LatchRead::Held;
    auto number = [&](const char* key, int lo, int hi) {
        bool isNumber = false;
        const int v = values.value(QLatin1String(key)).toInt(&isNumber);
        if (!isNumber || v < lo || v > hi)
            good = false;
        return v;
    };
    // Keys a record of an earlier version does not have.
    auto optional = [&](const char* key, int lo, int hi, int absent) {
        return values.contains(QLatin1String(key)) ? number(key, lo, hi) : absent;
    };
    const int owed = number("owed", 0, 255);
    const int decided = number("decided", 0, 255);
    const int edges = optional("edges", 0, 255, 0);
    const int missing = optional("missing", 0, (1 << kBoardOutputs) - 1, -1);
    // Edges the previous run's board thread held on the wire and recorded
    // before any pass of it could (and levels it found at its first report):
    // held again from the first word, taken by the first pass.
    const int wireEdges = optional("edge", 0, (1 << kBoardInputs) - 1, 0);
    const int wireFound = optional("found", 0, (1 << kBoardInputs) - 1, 0);
    if (good)
        marks_.restore(wireEdges, wireFound);
    if (good && !values.contains(QStringLiteral("step")) && values.contains(QStringLiteral("cycle"))) {
        // No NG: openings that were held and not judged.
        const int cycleOpen = number("cycle", 0, 1);
        const int cycleFailed = number("cyclefailed", 0, 255);
        const int turn = number("turn", 0, kMaxDetect - 1);
        if (good) {
            for (int c = 0; c < kMaxCamera; ++c)
                status_.cycleFailed[c] = cycleOpen && ((cycleFailed >> c) & 1);
            // The step whose turn it is (sequential detection).
            status_.runStep = turn;
            holdRestoredOpenings(cycleOpen != 0, owed, edges, decided, missing);
            return false;
        }
    }
    int step = number("step", 0, kMaxDetect - 1);
    int failed = number("failed", 0, 255);
    const int lost = number("lost", 0, 255);
    const int all = (1 << qBound(0, numCamera, kMaxCamera)) - 1;
    if (good && !StepActive(step))
        good = false;
    if (!good || (failed & all) == 0) {
        // Safety first: whatever the file says, the machine was stopped on an NG.
        qWarning("%s is unreadable; taken as an NG of the first step on every camera",
                 qPrintable(QFile::exists(oldLatchFile()) ? oldLatchFile() : latchFile()));
        step = qMax(0, firstActiveStep());
        failed = all;
    }
    // The run before was killed before the NG's rows were in the record:
    // one row per camera of the NG says so now.
    if (good && values.value(QStringLiteral("rows")) == QLatin1String("1"))
        for (int c = 0; c < numCamera && c < kMaxCamera; ++c)
            if ((failed >> c) & 1)
                log_.record(lanStr((lost >> c) & 1 ? kTextUnjudged : kTextNgRestored).arg(c + 1).arg(step + 1));
    holdRestoredNg(step, failed, good ? lost : 0, good ? owed : -1, good ? decided : 0, good ? edges : 0,
                   good ? missing : -1);
    return true;
}

void MouldCycle::holdRestoredNg(int step, int failed, int lost, int owed, int decided, int edges, int missing)
{
    qWarning("an NG of step %d latched before the restart is held again", step + 1);
    status_.cycleOpen = true;
    status_.countState = CountState::Detected;
    status_.detectStep = step;
    status_.runStep = step;
    status_.detectState = DetectState::NgLatched;
    status_.ngPresent = true;
    for (int k = 0; k < kMaxDetect; ++k) {
        stepOwed_[k] = owed >= 0 ? (owed >> k) & 1 : k != step;
        stepDecided_[k] = ((decided >> k) & 1) && k != step;
        edgeHeld_[k] = ((edges >> k) & 1) && StepActive(k);
        heldInPass_[k] = 0;
    }
    stepOwed_[step] = true;
    for (int c = 0; c < numCamera && c < kMaxCamera; ++c) {
        if (!judge_.present(c))
            continue;
        const bool ok = !((failed >> c) & 1);
        judge_.setVerdict(c, ok);
        unjudged_[c] = (lost >> c) & 1;
        if (!ok) {
            status_.alarmCode[c * kMaxDetect + step] = unjudged_[c] ? kCodeCameraLost : AlarmCode::NgWaiting;
            status_.cycleFailed[c] = true;
        }
    }
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k)
        if (StepActive(k) && !stepDecided_[k])
            board_.setOut(StepInterlock(k), 1);
    board_.setOut(StepInterlock(step), 1);
    board_.setOut(kAlarmOut, 1);
    if (missing >= 0) {
        cameraHold_ = true;
        missingHeld_ = missing;
        board_.setOut(kClampOut, 1);
        for (int out = 0; out < kBoardOutputs; ++out)
            if ((missingHeld_ >> out) & 1)
                board_.setOut(out, 1);
    }
    holdRestoredMarks();
    board_.flashOut();
    board_.led(6, 0);
    board_.led(7, 1);
    // Kept in the file of this version (made now, while the disk may have
    // room); an earlier version's file goes once the new one holds the NG.
    bodyKept_ = false;
    keepOnDisk();
    publishEdgeHolds();
}

void MouldCycle::holdRestoredOpenings(bool cycleOpen, int owed, int edges, int decided, int missing)
{
    qWarning("openings held before the restart are held again");
    if (cycleOpen) {
        status_.cycleOpen = true;
        status_.countState = CountState::Detecting;
        judge_.cycleOpened();
    }
    // Which opening each of them came with is not on disk: none is taken as
    // decided for a held one (held again when that opening opens a cycle).
    std::fill(std::begin(heldInPass_), std::end(heldInPass_), 0);
    for (int k = 0; k < kMaxDetect; ++k) {
        stepDecided_[k] = cycleOpen && ((decided >> k) & 1) && StepActive(k);
        edgeHeld_[k] = ((edges >> k) & 1) && StepActive(k);
    }
    if (missing >= 0) {
        cameraHold_ = true;
        missingHeld_ = missing;
        board_.setOut(kClampOut, 1);
        board_.setOut(kAlarmOut, 1);
        for (int out = 0; out < kBoardOutputs; ++out)
            if ((missingHeld_ >> out) & 1)
                board_.setOut(out, 1);
    }
    for (int k = 0; k < gDNum && k < kMaxDetect; ++k) {
        if (!StepActive(k))
            continue;
        const bool startsAgain = (owed >> k) & 1;
        if ((cycleOpen && !stepDecided_[k]) || startsAgain || edgeHeld_[k])
            board_.setOut(StepInterlock(k), 1);
        // What the mould shows now is what is judged: the step counts down
        // again and is judged on the pictures taken after that start, or
        // held as unjudged NG by a camera that gives none.
        if (startsAgain) {
            qWarning("step %d: its opening was not judged before the restart; judged again now", k + 1);
            startCountdown(k, ByInput);
            startedInPass_[k] = 0;
        }
    }
    holdRestoredMarks();
    board_.flashOut();
    bodyKept_ = false;
    keepOnDisk();
    publishEdgeHolds();
}

void MouldCycle::holdRestoredMarks()
{
    const int inputs = marks_.restoredInputs();
    if (!inputs)
        return;
    qWarning("openings the previous run held on the wire before it recorded them are held again");
    // What those edges hold by the rule in the state restored; the first
    // pass takes them as it takes any edge.
    int holds[kBoardInputs];
    edgeHoldTable(holds);
    for (int i = 0; i < kBoardInputs; ++i)
        if ((inputs >> i) & 1)
            for (int out = 0; out < kBoardOutputs; ++out)
                if ((holds[i] >> out) & 1)
                    board_.setOut(out, 1);
}
