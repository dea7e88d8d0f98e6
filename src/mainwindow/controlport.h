// The I/O board port: the wanted output word, its publication to the board
// thread, and the polling thread that exchanges frames with the board.
#pragma once

#include "cycleboard.h"
#include "iofunc.h"
#include "publictools.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>

// Monotonic milliseconds of the latest pass of the detection cycle. The I/O
// thread stops sending to the board while it is 11 s or more old, so a stalled
// GUI thread can never keep the interlocks in a stale state on the machine.
extern std::atomic<qint64> gRunStampMs;
void touchRunStamp();

// Rising input edges seen by the I/O thread since the cycle last looked; a
// short pulse is kept here even when the GUI thread is busy.
extern std::atomic<int> gInputRiseLatch;
// Steady-clock nanoseconds at which the I/O thread saw the latest rising edge.
extern std::atomic<qint64> gInputRiseNs;

// What a rising input edge holds on the wire before the cycle has seen it
// (the cycle's table, in wire levels), and what the I/O thread raised for
// edges the cycle has not taken yet. Guarded by pMutexIO.
struct EdgeHolds {
    static constexpr int kInputs = 10;
    int on[kInputs] = {};    // per input bit: output bits an edge sets
    int off[kInputs] = {};   // ... and clears (outputs wired inverted)
    int forcedOn = 0;        // raised for edges not yet taken by the cycle
    int forcedOff = 0;
};
extern EdgeHolds gEdgeHolds;
// The cycle's pass takes the edges latched since the previous one; the holds
// the I/O thread raised for them end with the next word the cycle hands over
// (the cycle has seen those edges by then and holds what they need). The
// inputs the board's first report found at their level are latched too (they
// hold from the first word) but are no edges: they go to `found`, not into
// the edges returned.
int takeInputEdges(int* found = nullptr);
// Whether a pass has taken the board's first report, and the number of the
// latest edge a pass took (the I/O thread numbers the edges it latches).
bool inputsReported();
quint64 inputEdgesTakenSeq();
// The gaps between the board's replies longer than IOThread::kPollGapMs, as
// the latest takeInputEdges took them with its edges (see CycleBoard).
CycleBoard::PollGaps pollGapsTaken();
// Called by the I/O thread the moment an edge (or an input found at the
// first report) held outputs on the wire: `edges`, `found`, edge number
// `seq`. It puts the opening on disk; set by whoever runs the cycle.
void setEdgeRecorder(std::function<void(int edges, int found, quint64 seq)> recorder);
// The cycle's wanted word (wire levels) published for the I/O thread, with
// the holds of edges the cycle has not taken yet; true when the published
// word changed.
bool publishOutputs(int wanted);

class ControlPort;
// The I/O board port while it is open (null before and in most tests).
extern ControlPort* gpControlIO;

class IOThread : public QThread {
    Q_OBJECT
public:
    explicit IOThread(QObject* parent = nullptr);
    ~IOThread() override;
    void stop() { stop_ = true; }
    // A new output word was published in gDataOut: the thread writes it to
    // the board at once (a command-1 frame between its requests) instead of
    // waiting for the next reply to show the difference.
    void handOver();
    // Steady-clock nanoseconds at which the latest command-1 frame was
    // written, and its word (the benchmarks' view of the hand-over).
    qint64 lastWriteNs() const { return lastWriteNs_.load(); }
    static constexpr qint64 kWatchdogMs = 11000;
    // One request to the board per pass.
    static constexpr int kPassMs = 5;
    // A machine's trigger lasts a tenth of a second at least (the unit of
    // its pulse and countdown words): replies further apart than that may
    // have missed one, and the gap is reported to the cycle.
    static constexpr int kPollGapMs = 100;
    // A board silent this long is a fault in any state (said on the screen
    // and in the record); it is reported to the cycle a second time then.
    static constexpr int kSilenceMs = CycleBoard::kSilenceMs;
    // The real-time priority asked for (SCHED_FIFO): above every thread of
    // the program and of a desktop, below the kernel's own.
    static constexpr int kRealtimePriority = 20;
    // Passes of this thread further apart than kPollGapMs (its own gaps,
    // not the board's: nothing was sent in them), and the longest so far.
    int ownGaps() const { return ownGaps_.load(); }
    int longestOwnGapMs() const { return longestOwnGapMs_.load(); }

signals:
    void sigIOChange();

protected:
    void run() override;

private:
    // Parses replies as they arrive until the end of the pass.
    void takeReplies(std::chrono::steady_clock::time_point passEnd, int& out, int& in,
                     const std::function<void(int)>& onInput, const std::function<void()>& onReply);
    // Writes a command-1 frame with `out` and notes when.
    void sendOutputs(int out);
    // Takes a pending hand-over: `out` becomes the published word, written
    // when it differs from the word last written.
    void takeHandOver(int& out);
    // A reply 2 came: the gap since the one before is measured.
    void replied();
    // A gap measured and not yet reported is reported (after the edges of
    // the reply that ended it); `locked`: pMutexIO is held.
    void reportGap(bool locked);
    // The board has been silent for longer than a gap (reported once), and
    // again once the silence is a fault.
    void checkSilence();
    // Asks for a real-time (else a raised) priority for this thread; says
    // once in the log what it got.
    static void raiseScheduling();
    // A pass begins: the time since the previous one is this thread's own.
    void passBegins();

    std::atomic<bool> stop_{false};
    int wakeFd_ = -1;  // eventfd: handOver() makes it readable
    int lastWritten_ = -1;
    std::atomic<qint64> lastWriteNs_{0};
    BoardReceiver receiver_;
    int pass_ = 0;
    bool reported_ = false;   // the board has sent its inputs once
    qint64 lastReplyNs_ = 0;  // steady clock
    int pendingGapMs_ = -1;   // a gap ended by the latest reply, not yet reported
    bool silenceReported_ = false;
    bool silenceFaultReported_ = false;
    // Nothing is taken from the line before this run's first request: what
    // it held before was no answer to this run.
    bool requested_ = false;
    qint64 lastPassNs_ = 0;
    qint64 ownGapsLoggedNs_ = 0;
    int ownGapsLogged_ = 0;
    std::atomic<int> ownGaps_{0};
    std::atomic<int> longestOwnGapMs_{0};
    bool pendingOngoing_ = false;  // the pending gap is a silence still lasting
};

class ControlPort : public QObject {
    Q_OBJECT
public:
    explicit ControlPort(QObject* parent = nullptr);
    ~ControlPort() override;

    void InitIOThread();
    void IOFlashOut();
    void IOSetOut(int n, int on);
    // Which logical outputs (bit per output) an edge of each input 0-9
    // holds; the I/O thread gets it in wire levels.
    void setEdgeHolds(const int holds[EdgeHolds::kInputs]);
    int wantedOut() const { return outWord_; }
    IOThread* ioThread() const { return thread_; }

signals:
    void sigIOChange();

private:
    // `word` with output n set logically `on`, in the wiring's sense.
    static int withOut(int word, int n, int on);
    // The wire table from the logical one, in the present wiring sense.
    void wireEdgeHolds();
    // The outputs wired inverted now (bit per output, from the inversion words).
    static int wiring();
    // The wanted word turned over where the inversion words changed.
    void followWiring();

    int outWord_ = 0;
    int wiredAs_ = 0;   // the wiring outWord_ is in
    int lastFlushed_ = -1;
    int edgeHolds_[EdgeHolds::kInputs] = {};
    IOThread* thread_ = nullptr;
};
