// The moulding cycle: the rules that keep a mould from closing on a stuck
// part (the rule block at the head of mouldcycle.cpp), the steps and their
// countdowns, the NG latch and its file, the owed steps, the hold of a
// missing camera, the door input and the counters. It writes the cycle's
// status (CycleStatus) and nothing else of the program: the machine, the
// cameras and the engines are the three interfaces it asks (board, frames,
// judge), and those who listen to it are four more, one each: the record
// (CycleLog), the pictures (CyclePictures), the network reports
// (CycleReports) and the screen (CycleScreen). Whoever owns it feeds it the
// board's input edges (pass), the countdown ticks (tick) and the operator's
// decisions; its own state stays inside and is read through the const
// accessors below (what everyone reads is in CycleStatus).
#pragma once

#include "cycleboard.h"
#include "cycleframes.h"
#include "cyclejudge.h"
#include "cyclelog.h"
#include "cyclepictures.h"
#include "cyclereports.h"
#include "cyclescreen.h"
#include "cyclestatus.h"
#include "edgemarks.h"
#include "globals.h"

#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class InPlaceRecord;

class MouldCycle {
public:
    MouldCycle(CycleStatus& status, CycleBoard& board, CycleFrames& frames, CycleJudge& judge, CycleLog& log,
               CyclePictures& pictures, CycleReports& reports, CycleScreen& screen);
    ~MouldCycle();
    MouldCycle(const MouldCycle&) = delete;
    MouldCycle& operator=(const MouldCycle&) = delete;

    // Where word n of the live system parameters is read (0 until set).
    void setWords(std::function<int(int)> words);
    // Called after an NG was latched on disk, before the outputs that
    // announce it are set (a kill test stops the program there).
    void setAfterLatchWritten(std::function<void()> hook);

    static constexpr int kClampOut = 0;
    static constexpr int kEjectorOut = 1;
    static constexpr int kAlarmOut = 2;
    static constexpr int kBoardOutputs = 10;
    static constexpr int kBoardInputs = 10;
    // Result code of a camera whose step could not be judged (lost camera,
    // no picture of this step); the record's text is operator text row
    // kTextUnjudged.
    static constexpr int kCodeCameraLost = AlarmCode::CameraLost;
    static constexpr int kTextUnjudged = 691;
    // Text row of a step held as an unjudged NG because its trigger may
    // have come while the program was not running (step number %1).
    static constexpr int kTextNotWatched = 736;
    // ... because the I/O board went unanswered for longer than a short
    // trigger pulse while the open cycle waited for it (step number %1).
    static constexpr int kTextPollGap = 737;
    // The I/O board does not answer (said while it lasts), and answered
    // again after %1 s (the record).
    static constexpr int kTextBoardSilent = 738;
    static constexpr int kTextBoardBack = 739;
    // A step doubted after a gap in the board's replies is awaited, before
    // it is held as possibly missed, until its trigger's usual time after
    // the opening (the longest of the latest kDelaysKept cycles) and this
    // margin are over, never less than the margin after the gap; while no
    // cycle has shown its trigger yet, kDoubtUnlearnedMs after the gap.
    static constexpr int kDoubtMarginMs = 1000;
    static constexpr int kDoubtUnlearnedMs = 3000;
    static constexpr int kDelaysKept = 4;
    // Camera %1's NG of step %2, latched before a restart that came before
    // its record rows were written (the record's row then).
    static constexpr int kTextNgRestored = 740;
    // ... of a camera that runs but gave no picture in time after the
    // opening (camera %1, step %2).
    static constexpr int kTextNoPicture = 745;

    // ---- Rules of a step ----
    bool StepActive(int k) const;
    int lastStepOfCycle() const;
    // Interlock output of step k (bit number) for the current mode.
    int StepInterlock(int k) const;
    // How step k was triggered in a pass: not, by its input's rising edge,
    // by the closing safety door alone, or by its own opening held earlier
    // (its countdown was running then).
    enum Trigger : int { NotTriggered = 0, ByInput = 1, ByDoor = 2, ByHeldOpening = 3 };
    int StepTrigger(int k, int rising, bool doorClosed) const;
    // The input that triggers step k.
    int triggerInputOf(int k) const;

    // ---- Fed by the owner ----
    // The I/O board was opened: the board's thread learns the edge holds
    // afresh. No output word is sent: the first one holds what the record
    // and the machine show (restoreLatchedNg, the first pass).
    void boardOpened();
    // One pass over the board's inputs: `level` the input word now,
    // `latched` the rising edges the board thread latched since the last
    // pass. An input risen in `level` without an edge was found at its level
    // (the board's first report). Returns whether a camera is missing.
    bool pass(int level, int latched);
    // Called by the board's thread, any thread: the edges of `edges` (and
    // the levels of `found`, the board's first report), edge number `seq`,
    // have just held outputs on the wire; they go into the record file now
    // (forced to the disk by the record's own thread after), before any pass
    // has seen them, unless a pass has already taken that edge. Never waits
    // for this thread's record writes nor for the disk.
    void edgeOnWire(int edges, int found, quint64 seq);
    // A tenth of a second of step's countdown went by (its timer's timeout).
    void tick(int step);
    void startDetect();
    void stopDetect();
    // Stops every countdown, every camera's verdict back to OK. A step whose
    // countdown it stops stays owed (judged once an NG is resolved).
    void resetRun();
    // The system words were accepted on the settings screen: a step they
    // disabled is no longer judged nor owed (its countdown cancelled, its
    // output freed unless something else holds it); a step they enabled is
    // held in the open cycle until it is judged. pass() does the same when
    // it finds the active steps changed.
    void wordsAccepted();
    // Runs `job` once the open cycle has closed (or detection stopped); at
    // once when no cycle is open. A later job replaces one still waiting.
    void afterCycle(std::function<void()> job);
    // Which outputs a rising edge of each board input holds now (see
    // CycleBoard::edgeHolds): what pass() would hold for that edge, from
    // the same rule (edgeAct). `closing`: as the decision now going out
    // leaves it, its open cycle closed (an edge then opens the next one).
    void edgeHoldTable(int holds[kBoardInputs], bool closing = false) const;
    // The decision on the step being judged: automatic after a countdown,
    // manual after the operator's answer on the ROI page.
    void decide(bool manual);
    // The operator's answers (CycleControl).
    void clearNg(int camera, int step, int how);
    void reDetect(int step, int cameraMask);
    void decideByOperator();
    // Word 158: the door closed on a latched product NG passes it and owes
    // the cavity steps a judgement.
    void passProductNgByDoor();
    // Before `step` is judged again on the operator's word: the interlock
    // the step releases is held until the new verdict (the clamp for the
    // cycle's last step, the ejector for the product step), unless its
    // words make it a pulse or cut it on an alarm; the word goes out at once.
    void holdForReDetect(int step);
    // The operator turned from the live view to pictures (PictureSource)
    // while an NG is latched: the alarm stops sounding, the interlocks stay.
    void pictureSourceChosen(int source);
    // Region setting on the ROI page: entered, left, the training run's return.
    void enterRegionSetting();
    void leaveRegionSetting();
    void backTrain();
    // The screen shows again the verdict it showed before the ROI page
    // opened (`shownBefore`, a DetectState), updated by any decision taken.
    void restoreShownVerdict(int shownBefore);
    // A camera view lost its camera: unless stopped, the hold of a missing camera.
    void cameraLost();
    // Judges step k now on every camera's fresh picture and decides it.
    void judgeStep(int k);
    // After an NG was resolved: the steps whose countdowns were dropped, in order.
    void judgeOwedSteps();
    // The ROI page's run of one camera on one step: 1 OK, 0 NG.
    int runAlgorithm(int camera, int step);
    // At start-up: an NG latched by the previous run is taken up again
    // (outputs held, NG state). True when there was one. Without one, the
    // openings the previous run held and had not judged are held again and
    // counted down afresh, judged on the pictures taken then. Prepares the
    // latch file either way.
    bool restoreLatchedNg();

    // The latched NG on disk ("nglatch.dat", a record rewritten in place, made
    // at start-up so that a full disk never stops it being written), so that
    // a restart keeps holding; without an NG, the open cycle's undecided
    // steps and the holds of a missing camera. "nglatch.ini" is the file of
    // earlier versions, still taken up at start-up.
    static QString latchFile();
    static QString oldLatchFile();
    // Whether the file on disk holds a latched NG.
    static bool LatchOnDisk();

    // ---- State of the open cycle, read ----
    bool countdownActive(int k) const { return k >= 0 && k < kMaxDetect && countdownActive_[k]; }
    // Step k was triggered in the open cycle and is not yet decided OK.
    bool stepOwed(int k) const { return k >= 0 && k < kMaxDetect && stepOwed_[k]; }
    // An opening of step k came while its countdown ran (judged next).
    bool edgeHeld(int k) const { return k >= 0 && k < kMaxDetect && edgeHeld_[k]; }
    // A camera went missing in detection: clamp and alarm held.
    bool cameraHold() const { return cameraHold_; }
    // A camera gave no pictures at all at the latest pass.
    bool cameraMissing() const { return cameraMissing_; }
    // The input word the latest pass saw (with the edges it latched).
    int lastInputs() const { return lastInputs_; }
    // Wall-clock milliseconds at which the latest cycle opened (0: none yet).
    qint64 lastCycleStartMs() const { return lastCycleStartMs_; }

    // Steady-clock nanoseconds of the stages of the latest decision, for the
    // benchmarks and the step's log line: the input edge seen by the board's
    // thread, the countdown started, due to end and over (its timer fired),
    // frames pulled, engines done, outputs handed to the I/O thread, the
    // decision done, records and screen done, and the output frame written
    // (0 where unknown: no edge of the board, a step judged late, a frame not
    // yet written when the step's work was done).
    struct DecisionStages {
        qint64 edgeSeen = 0, countdownStarted = 0, countdownDue = 0, countdownEnd = 0;
        qint64 framesPulled = 0, judged = 0, handedOver = 0, decided = 0, after = 0, written = 0;
    };
    const DecisionStages& lastStages() const { return lastStages_; }
    // The stages as one line, in milliseconds from the countdown's end
    // (the parts before it from the edge): "step 1 stages: ...".
    static QString stagesLine(int step, const DecisionStages& s);

private:
    // Test code only: puts a cycle into a state its operations cannot reach
    // quickly. Defined in the tests, never in the program.
    friend struct MouldCycleProbe;

    int word(int n) const { return words_(n); }

    // The phases of a decision.
    struct Decision {
        int step = 0;
        bool manual = false;
        bool ok = true;
        bool wasNg = false;
        bool owed = false;     // some step of the open cycle is still owed
        bool closes = false;   // the decision closes the cycle
        bool holdEnds = false; // ... and ends the hold of a missing camera
    };
    Decision weigh(bool manual);
    void latchAndSetOutputs(const Decision& d);
    void count(const Decision& d);
    QVector<QPair<int, int>> howCleared(const Decision& d) const;
    void renderPictures(const Decision& d);
    void close(const Decision& d);

    // What a triggered step does with an edge in the present state: the one
    // rule pass() acts on and edgeHoldTable() is made from.
    enum class EdgeAct {
        Nothing,     // (also: a held opening out of its sequential turn)
        Start,        // its countdown starts (the cycle opens first when closed)
        HoldEdge,     // its countdown runs: the opening is held, judged next
        Owe,          // an NG waits: the step is owed
        HoldMissing,  // a camera is missing: the step's output is held
    };
    EdgeAct edgeAct(int k, int how) const;
    // The trigger inputs of the steps the open cycle already holds
    // triggered (counting down, owed, an opening held, decided).
    int triggeredInputs() const;
    // At the first pass that knows the board's inputs: the steps the open
    // cycle waits for whose trigger may have come while nothing watched.
    void firstLookAtInputs(int level);
    // Whether step k of the open cycle waits for a trigger (nothing of this
    // cycle has triggered it yet).
    bool waitsForTrigger(int k) const;
    // The next of those steps the cycle would wait for in silence is held
    // as an unjudged NG, with the alarm, once nothing else is to be judged
    // first; `live` the edges this pass saw.
    void holdUnwatchedStep(int live);
    void holdUnjudged(int k);
    // Camera c gives step k no verdict: an NG, its text to `records`.
    void markUnjudged(int c, int k, QStringList& records);
    // The outputs the restored edge marks held on the wire, held again.
    void holdRestoredMarks();
    // A step's trigger in a pass that may start its countdown: the state
    // changed and the outputs set, handed to the board by the caller.
    void openCycle(int heldStep = -1);
    void startCountdown(int k, int how);
    // When step k's running countdown is due to end (steady clock), 0 when
    // none runs.
    qint64 countdownEndDue(int k) const;
    // Ends step's countdown, due at `dueNs`: judged now, or left owed while
    // stopped or an NG waits.
    void endCountdown(int step, qint64 dueNs);
    void holdForMissingCamera();
    // Whether step k keeps its output held: its countdown runs, an opening
    // of it is held or owed, or (unless the cycle closes) the open cycle has
    // not decided it.
    bool holdsOutput(int k, bool closing) const;
    bool outputHeld(int out, bool closing) const;
    int activeSteps() const;
    // The active steps differ from those of the last pass (words changed).
    void stepsChanged();
    // Step k no longer active: its countdown and openings are dropped, its
    // output freed when nothing else holds it.
    void dropStep(int k);
    void publishEdgeHolds(bool closing = false);
    // The latch file when it could not be made yet (a full disk at start-up):
    // tried again now and then, and at each NG.
    void retryLatchFile();
    // The cameras' fresh frames for step k: records of the unjudged ones.
    void pullFrames(int k, bool fresh[kMaxCamera], QStringList records[kMaxCamera], int only = -1);
    // The latch file: none (or resolved), an NG or openings held, or
    // unreadable; the values of a held one go to `values`.
    enum class LatchRead { None, Held, Damaged };
    static LatchRead readLatch(QMap<QString, QString>& values);
    // The record the disk should hold now: the NG (`ng`) with what the open
    // cycle owes, else the open cycle's undecided steps and a missing
    // camera's holds, else nothing (empty).
    QByteArray recordBody(bool ng, bool always = false) const;
    // The store of the record file, for the marks' writer.
    bool storeRecord(const QByteArray& text, bool fromBoard);
    // After the pass's own work: a gap in the board's polls the pass took
    // (while the cycle was open, or as it opened) leaves the steps the cycle
    // waits for possibly missed (holdUnwatchedStep). `openBefore`: the cycle
    // was open before the pass; `takenBefore`: the edge the pass before took.
    void notePollGap(bool openBefore, quint64 takenBefore);
    // A silence of the board over CycleBoard::kSilenceMs: said on the screen
    // and in the record while it lasts, its end with its length.
    void noteSilence(const CycleBoard::PollGaps& gaps);
    // A silence of `silentMs` that just ended may have hidden a whole
    // opening: its steps are held as possibly missed. True when they are.
    // `openBefore`: a cycle was open before the pass that saw it end.
    bool silenceMissedOpening(int silentMs, bool openBefore);
    // Until when (steady clock) step k, doubted by a gap that ended `now`,
    // is awaited (kDoubtMarginMs).
    qint64 doubtDue(int k, qint64 now) const;
    // Step k's trigger came `delayNs` after the opening.
    void learnDelay(int k, qint64 delayNs);
    // Writes recordBody when it differs from what the disk holds (one write
    // and sync). The NG decision passes `ng` before its state is set.
    void keepOnDisk(bool ng);
    void keepOnDisk() { keepOnDisk(status_.ngPresent); }
    // `retry`: also without an NG while the file takes no write.
    void keepOnDisk(bool ng, bool retry);
    // Openings of the previous run held again: the open cycle (`cycleOpen`)
    // with the steps of `decided` decided, those of `owed` counted down
    // afresh, a second opening of those of `edges` held; `missing` >= 0: the
    // hold of a missing camera with those outputs.
    void holdRestoredOpenings(bool cycleOpen, int owed, int edges, int decided, int missing);
    // A restored NG of `step` on the cameras of `failed` held again: the
    // cameras of `lost` had no picture, the steps of `owed` (-1: every
    // other step) are owed, those of `decided` were decided, a second
    // opening of those of `edges` held; `missing` >= 0: the hold of a
    // missing camera with those outputs.
    void holdRestoredNg(int step, int failed, int lost, int owed, int decided, int edges, int missing);
    void clearLatchedNg();
    int firstActiveStep() const;

    CycleStatus& status_;
    CycleBoard& board_;
    CycleFrames& frames_;
    CycleJudge& judge_;
    CycleLog& log_;
    CyclePictures& pictures_;
    CycleReports& reports_;
    CycleScreen& screen_;
    std::function<int(int)> words_;
    std::function<void()> afterLatchWritten_;

    bool countdownActive_[kMaxDetect] = {};
    bool stepOwed_[kMaxDetect] = {};       // triggered in the open cycle, not yet decided OK
    bool doorTriggered_[kMaxDetect] = {};  // triggered by the safety door closing (word 144), not by its input
    bool edgeHeld_[kMaxDetect] = {};       // an opening came while the step's countdown ran
    bool stepDecided_[kMaxDetect] = {};    // decided OK (or passed) in the open cycle
    // Which opening a step's countdown and a held edge belong to, by the pass
    // that took their edge (0: not known, as for what a restart restored).
    quint64 passSeq_ = 0;
    quint64 startedInPass_[kMaxDetect] = {};
    quint64 heldInPass_[kMaxDetect] = {};
    bool stepTrained_[kMaxCamera] = {};    // the camera took a template at the step being decided
    bool unjudged_[kMaxCamera] = {};       // the camera gave no picture for the step being decided
    QStringList noPictureNotes_;           // ... while it ran: said on the screen with the decision
    bool cameraHold_ = false;              // a camera went missing in detection: clamp and alarm held
    int missingHeld_ = 0;                  // outputs (bits) of openings that came while a camera was missing
    bool cameraMissing_ = false;
    int lastInputs_ = 0;
    qint64 lastCycleStartMs_ = 0;
    int cycleInterval_ = 0;     // between the two latest cycle starts, in 0.1 s
    int intervalBefore_ = 0;    // ... as it was before the latest start
    // The countdown's ticks are due at whole tenths after its start, so that
    // late timer events do not add up over a long countdown.
    qint64 countdownStartNs_[kMaxDetect] = {};  // steady clock
    int countdownTicks_[kMaxDetect] = {};
    DecisionStages lastStages_;
    std::unique_ptr<InPlaceRecord> latchRecord_;
    qint64 countdownEdgeNs_[kMaxDetect] = {};  // the edge that started the step's countdown, as the board saw it
    qint64 endedEdgeNs_ = 0;        // ... of the countdown that ended, for judgeStep
    qint64 endedStartNs_ = 0;       // ... and when that countdown started
    qint64 countdownEndedNs_ = 0;  // the countdown whose step judgeStep is judging ended then
    qint64 countdownDueNs_ = 0;    // ... and was due to end then
    qint64 framesFromNs_ = 0;      // frames pulled since then are fresh for the step being judged
    int knownActive_ = -1;         // the active steps (bit per step) the last pass saw; -1 none yet
    int publishedHolds_[kBoardInputs] = {};
    bool holdsPublished_ = false;
    qint64 latchRetryNs_ = 0;
    qint64 latchRetryGapNs_ = 0;   // grows while the file takes no write
    QByteArray keptBody_;      // what the latch file holds (without its time)
    bool bodyKept_ = false;    // ... known to be on disk
    int unkeptWrites_ = 0;     // writes failed since the record was last kept
    // The record is written by this thread and by the board's (an edge on
    // the wire, marked): the board's thread never waits for this one's
    // writes, and this one forces them to the disk after it let the file go.
    EdgeMarks marks_;
    // Board polls further apart than a short trigger pulse: how many the
    // passes have looked at, and the latest edge a pass had taken.
    quint64 pollGapsSeen_ = 0;
    // The log named a silence of the board while it lasted: the reply that
    // ends it says how long it was.
    bool silenceNoted_ = false;
    quint64 passTakenSeq_ = 0;
    bool inputsSeen_ = false;   // a pass has seen the board's reported inputs
    // Steps of the open cycle whose trigger may have come while nothing
    // watched (before the first look), until their trigger is seen live or
    // they are triggered, judged or held as unjudged.
    int unwatchedSteps_ = 0;
    // Of those, the steps a gap in the board's replies made doubtful (their
    // hold names that cause, not a program that was not running).
    int pollGapSteps_ = 0;
    // ... and when each of those is due to be held (steady clock).
    qint64 doubtDueNs_[kMaxDetect] = {};
    // When the open cycle opened (steady clock), and how long after an
    // opening each step's trigger came in the latest cycles (0: unknown).
    qint64 openedNs_ = 0;
    qint64 delaysNs_[kMaxDetect][kDelaysKept] = {};
    int delayNext_[kMaxDetect] = {};
    // The board's silence over the fault's bound was said.
    bool boardSilent_ = false;
    // The record rows of the decision being taken, kept with its NG on disk
    // until they are in the record (a restart records them then).
    QStringList pendingRows_;
    // Writes the decision's rows to the record, then the NG on disk without them.
    void recordRows();
    std::function<void()> afterCycle_;
};
