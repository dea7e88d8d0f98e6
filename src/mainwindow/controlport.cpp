#include "controlport.h"

#include "globals.h"
#include "posix_qextserialport.h"
#include "rivurevezi.h"
#include "publictools.h"
#include "sysword.h"

#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <cstring>

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

ControlPort* gpControlIO = nullptr;

std::atomic<qint64> gRunStampMs{0};
std::atomic<int> gInputRiseLatch{0};
std::atomic<qint64> gInputRiseNs{0};
EdgeHolds gEdgeHolds;

namespace {
// Guarded by pMutexIO: the first report's levels not yet taken, whether a
// pass took that report, the numbers of the latest edge latched and taken.
int firstFound = 0;
bool firstPending = false;
bool firstTaken = false;
quint64 edgeSeq = 0;
std::atomic<quint64> edgeSeqTaken{0};
// Guarded by pMutexIO: the gaps between replies reported by the I/O thread;
// and (the cycle's thread only) those the latest take of edges saw.
CycleBoard::PollGaps gapsReported;
CycleBoard::PollGaps gapsTaken;

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
// The cycle's recorder of edges on the wire, under its own lock so that it
// can be replaced while the I/O thread runs.
std::mutex recorderMutex;
std::function<void(int, int, quint64)> edgeRecorder;
}  // namespace

int takeInputEdges(int* found)
{
    if (found)
        *found = 0;
    if (!pMutexIO)
        return gInputRiseLatch.exchange(0);
    QMutexLocker lock(pMutexIO);
    gEdgeHolds.forcedOn = gEdgeHolds.forcedOff = 0;
    int edges = gInputRiseLatch.exchange(0);
    if (firstPending) {
        firstPending = false;
        firstTaken = true;
        edges &= ~firstFound;
        if (found)
            *found = firstFound;
    }
    edgeSeqTaken.store(edgeSeq);
    // Together with the edges: a gap the pass sees ended no later than the
    // edges it takes.
    gapsTaken = gapsReported;
    return edges;
}

CycleBoard::PollGaps pollGapsTaken()
{
    return gapsTaken;
}

bool inputsReported()
{
    if (!pMutexIO)
        return true;
    QMutexLocker lock(pMutexIO);
    return firstTaken;
}

quint64 inputEdgesTakenSeq()
{
    return edgeSeqTaken.load();
}

void setEdgeRecorder(std::function<void(int, int, quint64)> recorder)
{
    std::lock_guard<std::mutex> lock(recorderMutex);
    edgeRecorder = std::move(recorder);
}

bool publishOutputs(int wanted)
{
    if (!pMutexIO) {
        const bool changed = gDataOut != wanted;
        gDataOut = wanted;
        return changed;
    }
    QMutexLocker lock(pMutexIO);
    // An edge not yet taken holds what the cycle's table says now, too: the
    // cycle may have changed since it was latched (closed its cycle, so that
    // the edge opens the next one as it is taken).
    const int pending = gInputRiseLatch.load();
    for (int i = 0; i < EdgeHolds::kInputs; ++i)
        if ((pending >> i) & 1) {
            gEdgeHolds.forcedOn |= gEdgeHolds.on[i];
            gEdgeHolds.forcedOff |= gEdgeHolds.off[i];
        }
    const int word = (wanted | gEdgeHolds.forcedOn) & ~gEdgeHolds.forcedOff;
    const bool changed = gDataOut != word;
    gDataOut = word;
    return changed;
}

void touchRunStamp()
{
    gRunStampMs.store(monotonic_ms());
}

IOThread::IOThread(QObject* parent)
    : QThread(parent)
{
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        qWarning("I/O thread: no eventfd (%s); outputs go out at the next reply", std::strerror(errno));
}

IOThread::~IOThread()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void IOThread::handOver()
{
    if (wakeFd_ < 0)
        return;
    const quint64 one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    (void)!::write(wakeFd_, &one, sizeof one);
}

void IOThread::sendOutputs(int out)
{
    ComSend(1, out);
    lastWritten_ = out;
    lastWriteNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
}

void IOThread::takeHandOver(int& out)
{
    quint64 count = 0;
    while (::read(wakeFd_, &count, sizeof count) > 0) {
    }
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        out = gDataOut;
    }
    if (out != lastWritten_)
        sendOutputs(out);
}

void IOThread::raiseScheduling()
{
    // The polls must go out when due whatever the GUI and the engines do: a
    // thread of the same priority as eight judging cameras waits its turn
    // behind them, and a trigger pulse is over by then.
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    const int fifo = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
    if (fifo == 0) {
        qInfo("I/O thread: real-time priority %d (SCHED_FIFO)", kRealtimePriority);
        return;
    }
    // No real-time right: the highest nice level granted, this thread only.
    const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    int nice = -20;
    while (nice < 0 && ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0)
        nice += 5;
    qWarning("I/O thread: real-time priority refused (%s); runs at nice %d", std::strerror(fifo), nice);
}

void IOThread::passBegins()
{
    const qint64 now = steadyNowNs();
    if (lastPassNs_ > 0) {
        const int ms = int(qMin<qint64>((now - lastPassNs_) / 1000000, INT_MAX));
        if (ms > kPollGapMs) {
            ++ownGaps_;
            if (ms > longestOwnGapMs_.load())
                longestOwnGapMs_.store(ms);
        }
    }
    lastPassNs_ = now;
    // Counted, one line a minute at most: a busy machine says how often it
    // held this thread up, and how long at worst.
    if (ownGaps_.load() != ownGapsLogged_ && now - ownGapsLoggedNs_ >= 60LL * 1000000000) {
        qWarning("I/O thread: %d passes late by more than %d ms since start, the longest %d ms", ownGaps_.load(),
                 kPollGapMs, longestOwnGapMs_.load());
        ownGapsLogged_ = ownGaps_.load();
        ownGapsLoggedNs_ = now;
    }
}

void IOThread::run()
{
    raiseScheduling();
    while (!stop_) {
        passBegins();
        if (monotonic_ms() - gRunStampMs.load() >= kWatchdogMs) {
            qWarning("controlport_thread - main_thread > 10s will timeout exit");
            // Stopped on purpose: no gap of this thread's own.
            lastPassNs_ = 0;
            QThread::msleep(1000);
            continue;
        }
        int out = 0;
        int in = 0;
        if (pMutexIO) {
            QMutexLocker lock(pMutexIO);
            out = gDataOut;
            in = gDataIn;
        }
        if (gIOID == 0) {
            QThread::msleep(kPassMs);
            continue;
        }
        checkSilence();
        // Until the board has reported once, any word is news (parse is
        // given no input word it could equal): that first report is the
        // inputs found, even all low.
        const std::function<void(int)> onInput = [this, &in, &out](int word) {
            int rising = word & ~in;
            const bool changed = word != in;
            // The door's state in the board's first report is no edge: a
            // door found closed is not a door that just closed.
            const bool first = !reported_;
            if (first)
                rising &= ~(1 << kSafetyDoorInput);
            reported_ = true;
            // The edge before the level: a pass that reads the new level
            // finds its edge latched too and counts the two as one.
            int held = -1;
            int holding = 0;   // the inputs whose edge holds something
            quint64 seq = 0;
            if (rising)
                gInputRiseNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
            {
                QMutexLocker lock(pMutexIO);
                if (first) {
                    // Found at their level, not risen: the cycle tells the
                    // two apart (takeInputEdges).
                    firstFound = rising;
                    firstPending = true;
                }
                if (rising) {
                    // Latched together with the holds it raises: the cycle's
                    // pass takes both at once (takeInputEdges).
                    gInputRiseLatch.fetch_or(rising);
                    seq = ++edgeSeq;
                    int on = 0;
                    int off = 0;
                    for (int i = 0; i < EdgeHolds::kInputs; ++i)
                        if ((rising >> i) & 1) {
                            on |= gEdgeHolds.on[i];
                            off |= gEdgeHolds.off[i];
                            if (gEdgeHolds.on[i] | gEdgeHolds.off[i])
                                holding |= 1 << i;
                        }
                    gEdgeHolds.forcedOn |= on;
                    gEdgeHolds.forcedOff |= off;
                    const int word = (gDataOut | on) & ~off;
                    if (word != gDataOut) {
                        gDataOut = word;
                        held = word;
                    }
                }
                gDataIn = word;
                // With the edge of the reply that ended it.
                reportGap(true);
            }
            in = word;
            // The hold goes out now, not after the cycle's pass: the GUI
            // thread may be busy for a while.
            if (held >= 0) {
                out = held;
                sendOutputs(out);
            }
            // Then the opening goes to disk from here, a write and a sync
            // after its edge, whatever the GUI thread is doing.
            if (holding) {
                std::lock_guard<std::mutex> lock(recorderMutex);
                if (edgeRecorder)
                    edgeRecorder(first ? 0 : holding, first ? holding : 0, seq);
            }
            // Queued to the GUI thread: the cycle runs at once, not at its
            // next timer pass (a first report of nothing waits for that).
            if (changed)
                emit sigIOChange();
        };
        // Whatever came after the previous pass stopped waiting.
        const std::function<void()> onReply = [this] { replied(); };
        receiver_.receive();
        if (!requested_)
            receiver_.clear();
        else if (receiver_.parse(out, reported_ ? in : -1, onInput, onReply))
            sendOutputs(out);
        reportGap(false);
        ++pass_;
        const int cmd = BoardRequestForPass(pass_);
        if (cmd != 2)
            receiver_.requestSent(cmd);
        ComSend(cmd, 0);
        requested_ = true;
        if (pass_ >= 210)
            pass_ = 0;
        takeReplies(std::chrono::steady_clock::now() + std::chrono::milliseconds(kPassMs), out, in, onInput,
                    onReply);
    }
}

void IOThread::replied()
{
    const qint64 now = steadyNowNs();
    if (lastReplyNs_ > 0 && now - lastReplyNs_ > qint64(kPollGapMs) * 1000000)
        pendingGapMs_ = int(qMin<qint64>((now - lastReplyNs_) / 1000000, INT_MAX));
    lastReplyNs_ = now;
    silenceReported_ = false;
    silenceFaultReported_ = false;
}

void IOThread::reportGap(bool locked)
{
    if (pendingGapMs_ < 0 || !pMutexIO)
        return;
    const auto report = [this] {
        ++gapsReported.count;
        gapsReported.endSeq = edgeSeq;
        gapsReported.lastMs = pendingGapMs_;
        gapsReported.ongoing = pendingOngoing_;
    };
    if (locked) {
        report();
    } else {
        QMutexLocker lock(pMutexIO);
        report();
    }
    pendingGapMs_ = -1;
    pendingOngoing_ = false;
}

void IOThread::checkSilence()
{
    // A board that stops answering: reported while it lasts (and again with
    // the reply that ends it), so that the cycle does not wait in silence.
    // Once the silence is a fault, a second time.
    const qint64 silent = steadyNowNs() - lastReplyNs_;
    if (lastReplyNs_ == 0 || silent <= qint64(kPollGapMs) * 1000000)
        return;
    const bool fault = silent > qint64(kSilenceMs) * 1000000;
    if (silenceReported_ && (silenceFaultReported_ || !fault))
        return;
    silenceReported_ = true;
    silenceFaultReported_ = fault;
    // Rounded up: a silence found over a bound is reported over it (500.4 ms
    // is no 500 ms silence to the cycle, which compares whole ms).
    pendingGapMs_ = int(qMin<qint64>((silent + 999999) / 1000000, INT_MAX));
    pendingOngoing_ = true;
    reportGap(false);
}

void IOThread::takeReplies(std::chrono::steady_clock::time_point passEnd, int& out, int& in,
                           const std::function<void(int)>& onInput, const std::function<void()>& onReply)
{
    // The reply is parsed the moment it arrives, so an input edge reaches the
    // cycle one line time after the request instead of one pass later; the
    // requests keep their pace of one per pass. A hand-over of new outputs
    // wakes the wait and is written at once: the line is full duplex and
    // every frame is written whole by this thread, so it never splits one.
    for (;;) {
        const qint64 left =
            std::chrono::duration_cast<std::chrono::microseconds>(passEnd - std::chrono::steady_clock::now()).count();
        if (left <= 0 || stop_)
            return;
        const int ready = gpCom ? gpCom->waitForReadyRead(left, wakeFd_) : -1;
        if (ready == 0)
            continue;   // the time is up
        if (ready == 2) {
            takeHandOver(out);
            continue;
        }
        // A port that cannot be waited on, or that reports bytes it then does
        // not give, must not turn the pass into a busy loop.
        if (ready < 0 || receiver_.receive() == 0) {
            QThread::usleep(static_cast<unsigned long>(left));
            return;
        }
        if (receiver_.parse(out, reported_ ? in : -1, onInput, onReply))
            sendOutputs(out);
        reportGap(false);
    }
}

ControlPort::ControlPort(QObject* parent)
    : QObject(parent)
{
    gIOID = 1;
    ComInit();
    // Every output off in its wiring sense: an output wired inverted (its
    // inversion word set, as the alarm's is by default) is off with its bit
    // set. A word of zeros would sound an inverted alarm, or free an
    // inverted interlock, before anything was decided.
    wiredAs_ = wiring();
    outWord_ = 0;
    for (int n = 0; n < 10; ++n)
        outWord_ = withOut(outWord_, n, 0);
    if (const int follow = sysWord(Word::Output4Follows))
        outWord_ = withOut(outWord_, follow - 1, 0);
    if (pMutexIO) {
        QMutexLocker lock(pMutexIO);
        gDataOut = outWord_;
        // Nothing held for a link that was never told what to hold.
        gEdgeHolds = EdgeHolds{};
    } else {
        gDataOut = outWord_;
    }
}

ControlPort::~ControlPort()
{
    setEdgeRecorder(nullptr);
    if (thread_) {
        thread_->stop();
        thread_->wait(3000);
    }
}

void ControlPort::InitIOThread()
{
    if (thread_)
        return;
    thread_ = new IOThread(this);
    if (gpWin)
        connect(thread_, &IOThread::sigIOChange, gpWin, &RiVuRevezi::Run);
    touchRunStamp();
    thread_->start(QThread::InheritPriority);
}

void ControlPort::IOFlashOut()
{
    followWiring();
    wireEdgeHolds();
    const bool published = publishOutputs(outWord_);
    if (outWord_ != lastFlushed_ || published) {
        lastFlushed_ = outWord_;
        if (thread_)
            thread_->handOver();
        emit sigIOChange();
    }
}

void ControlPort::IOSetOut(int n, int on)
{
    followWiring();
    outWord_ = withOut(outWord_, n, on);
}

int ControlPort::wiring()
{
    int inverted = 0;
    for (int n = 0; n <= 8; ++n)
        if (sysWord(Word::OutputInverted0 + n) != 0)
            inverted |= 1 << n;
    return inverted;
}

void ControlPort::followWiring()
{
    // The wanted word is in wire levels: an output whose inversion word the
    // settings changed keeps its level in the machine's sense (an alarm that
    // was off stays off), so its bit turns over.
    const int now = wiring();
    if (now == wiredAs_)
        return;
    outWord_ ^= now ^ wiredAs_;
    wiredAs_ = now;
    const int follow = sysWord(Word::Output4Follows);
    if (follow != 0) {
        const int n = follow - 1;
        outWord_ = ((outWord_ >> n) & 1) ? (outWord_ | 1 << 3) : (outWord_ & ~(1 << 3));
    }
}

int ControlPort::withOut(int word, int n, int on)
{
    if (n < 0 || n > 9)
        return word;
    // The wiring sense of outputs 0-8 comes from the inversion words.
    bool level = on != 0;
    if (n <= 8 && sysWord(Word::OutputInverted0 + n) != 0)
        level = !level;
    if (level)
        word |= (1 << n);
    else
        word &= ~(1 << n);
    const int follow = sysWord(Word::Output4Follows);
    if (follow != 0 && n == follow - 1) {
        if (level)
            word |= (1 << 3);
        else
            word &= ~(1 << 3);
    }
    return word;
}

void ControlPort::setEdgeHolds(const int holds[EdgeHolds::kInputs])
{
    std::copy(holds, holds + EdgeHolds::kInputs, edgeHolds_);
    wireEdgeHolds();
}

void ControlPort::wireEdgeHolds()
{
    // Read again at every hand-over: the wiring words may have changed.
    int on[EdgeHolds::kInputs] = {};
    int off[EdgeHolds::kInputs] = {};
    for (int i = 0; i < EdgeHolds::kInputs; ++i)
        for (int n = 0; n < 10; ++n)
            if ((edgeHolds_[i] >> n) & 1) {
                on[i] |= withOut(0, n, 1);
                off[i] |= ~withOut(0x3ff, n, 1) & 0x3ff;
            }
    if (!pMutexIO)
        return;
    QMutexLocker lock(pMutexIO);
    std::copy(on, on + EdgeHolds::kInputs, gEdgeHolds.on);
    std::copy(off, off + EdgeHolds::kInputs, gEdgeHolds.off);
}
