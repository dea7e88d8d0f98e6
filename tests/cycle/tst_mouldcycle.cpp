// The cycle's rules as one decision table: each row sets up a mode, plays a
// script of board inputs, countdown ticks, camera faults and the operator's
// answers against fakes of the board, the cameras, the engines and those who
// listen (record, pictures, reports, screen), and states the output word the
// machine has after each event.
//
// Output word bits: 1 clamp held, 2 ejector held, 4 alarm, 8 the second
// interlock of mode 3.
#include "mouldcycle.h"
#include "counted.h"

#include "inplacerecord.h"
#include "lanstr.h"
#include "mouldcycleprobe.h"
#include "testworkdir.h"
#include "word.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

#include <chrono>
#include <memory>
#include <thread>

namespace {

qint64 steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct FakeBoard : CycleBoard {
    int wanted = 0;
    int sent = 0;    // the word the machine got with the last flash
    int low = ~0;    // bits of every word sent since the script's last event (AND)
    qint64 edgeNs = 0;     // when the board's thread saw the latest edge
    bool writes = true;    // the frame is written the moment it is handed over
    qint64 writtenNs = 0;
    int holds[MouldCycle::kBoardInputs] = {};   // the table the board's thread holds on an edge
    quint64 seq = 0;       // the board's thread's latest edge (every pass takes all)
    PollGaps gaps;         // replies further apart than a short trigger, as the passes took them
    std::function<void(int before, int now)> onFlash;
    void setOut(int n, int on) override { wanted = on ? (wanted | 1 << n) : (wanted & ~(1 << n)); }
    void flashOut() override
    {
        if (onFlash)
            onFlash(sent, wanted);
        sent = wanted;
        low &= sent;
        if (writes)
            writtenNs = steadyNow();
    }
    void edgeHolds(const int table[10]) override { std::copy(table, table + MouldCycle::kBoardInputs, holds); }
    void led(int, int) override {}
    qint64 inputEdgeNs() const override { return edgeNs; }
    qint64 outputWrittenNs() const override { return writtenNs; }
    quint64 edgesTakenSeq() const override { return seq; }
    PollGaps pollGaps() const override { return gaps; }
};

// Pictures and verdicts: each camera judges OK unless the script said
// otherwise for its next judgement.
struct FakeCameras : CycleFrames, CycleJudge {
    enum Frame { Fresh, Empty, TooOld };
    bool missing = false;
    Frame next[kMaxCamera] = {};
    Verdict nextVerdict[kMaxCamera] = {Ok, Ok, Ok, Ok, Ok, Ok, Ok, Ok};
    bool ok[kMaxCamera] = {true, true, true, true, true, true, true, true};
    qint64 frameNs[kMaxCamera] = {};
    int judged = 0;

    bool cameraMissing() override { return missing; }
    bool slow[kMaxCamera] = {};  // runs, but gives its next picture too late
    void countdownStarted(int, qint64) override {}
    bool cameraRunning(int c) override { return !missing && slow[c]; }
    bool freshFrame(int c, int, qint64 fromNs) override
    {
        const Frame f = next[c];
        next[c] = Fresh;
        if (f == Empty)
            return false;
        if (f == TooOld)
            return frameNs[c] >= fromNs;   // the last frame is from before the countdown
        frameNs[c] = fromNs;
        return true;
    }
    void judge(int step, const bool fresh[kMaxCamera], Verdict verdict[kMaxCamera],
               QStringList records[kMaxCamera]) override
    {
        std::fill(std::begin(slow), std::end(slow), false);
        for (int c = 0; c < numCamera; ++c) {
            if (!fresh[c])
                continue;
            verdict[c] = nextVerdict[c];
            nextVerdict[c] = Ok;
            ok[c] = verdict[c] != Ng;
            records[c].append(QStringLiteral("judged %1 %2").arg(c).arg(step));
            ++judged;
        }
    }
    bool present(int c) override { return c >= 0 && c < numCamera; }
    bool verdictOk(int c) override { return ok[c]; }
    void setVerdict(int c, bool v) override { ok[c] = v; }
    void resetVerdicts() override { std::fill(std::begin(ok), std::end(ok), true); }
    void cycleOpened() override {}
};

// Those who listen to the cycle, each writing down what it hears in order
// (a labelled picture leaves its code labelled).
struct FakeLog : CycleLog {
    QStringList heard;
    void record(const QString& text) override { heard << "row " + text; }
    void countersChanged() override { heard << "count"; }
};

struct FakePictures : CyclePictures {
    QStringList heard;
    int faultPicture(int c, int s, int which, Picture what, int code) override
    {
        const char* how[] = {"new", "held", "labelled"};
        heard << QStringLiteral("%1 %2 %3 slot %4").arg(how[what]).arg(c).arg(s).arg(which);
        return what == SaveNew ? code : AlarmCode::afterLabel(code);
    }
    void newFaultPictures(int s, const int* cameras, const int* which, int count) override
    {
        QString line = QStringLiteral("new %1:").arg(s);
        for (int i = 0; i < count; ++i)
            line += QStringLiteral(" %1/%2").arg(cameras[i]).arg(which[i]);
        heard << line;
    }
    void keepNgPicture(int c, int s, const QDateTime&) override { heard << QStringLiteral("keep %1 %2").arg(c).arg(s); }
};

struct FakeReports : CycleReports {
    QStringList heard;
    void cycleStarted() override { heard << "cycle"; }
    void stepDone(int s, bool ok) override { heard << QStringLiteral("step %1 %2").arg(s).arg(ok ? "ok" : "ng"); }
    void alarmStarted(int s) override { heard << QStringLiteral("alarm %1").arg(s); }
    void alarmCleared(const QVector<QPair<int, int>>& kinds) override
    {
        QString line = "cleared";
        for (const auto& k : kinds)
            line += QStringLiteral(" %1:%2").arg(k.first).arg(k.second);
        heard << line;
    }
    void detectStopped() override { heard << "stopped"; }
};

struct FakeScreen : CycleScreen {
    QStringList heard;
    bool owedLater = false;
    void stepJudged(int s) override { heard << QStringLiteral("judged %1").arg(s); }
    void stepDecided(int s, bool ok, bool manual) override
    {
        heard << QStringLiteral("decided %1 %2 %3").arg(s).arg(ok ? "ok" : "ng", manual ? "manual" : "auto");
    }
    void owedStepsLater() override
    {
        heard << "owed";
        owedLater = true;
    }
    void showJudgedFrames() override { heard << "frames"; }
};

// One program: a status, the fakes and the cycle over them; `restart`
// builds the cycle again as a new process would, on the same files.
struct Rig {
    QMap<int, int> words;
    FakeBoard board;
    FakeCameras cameras;
    FakeLog log;
    FakePictures pictures;
    FakeReports reports;
    FakeScreen screen;
    std::unique_ptr<CycleStatus> status;
    std::unique_ptr<MouldCycle> cycle;
    int level = 0;
    int wired = 0;                   // edges the board's thread latched that no pass took yet
    bool alarmBeforeLatch = false;   // an NG's alarm went out before the NG was on disk
    bool holdBeforeRecord = false;   // an interlock went out before the disk held what the cycle holds
    bool reDetecting = false;        // the operator's re-detection holds what no restart must
    int retrained = 0;               // the accept's retraining, run

    void start()
    {
        cycle.reset();
        status = std::make_unique<CycleStatus>();
        board = FakeBoard{};
        board.onFlash = [this](int before, int now) {
            const bool alarmRises = !(before & 4) && (now & 4);
            if (alarmRises && cycle && !cycle->cameraHold() && !status->ngLatchUnkept && !MouldCycle::LatchOnDisk())
                alarmBeforeLatch = true;
            const int raised = now & ~before & ~4;
            if (raised && cycle && status->runState != RunState::Stopped && !reDetecting && !status->ngLatchUnkept &&
                !recordOnDisk())
                holdBeforeRecord = true;
        };
        cameras.resetVerdicts();
        cycle = std::make_unique<MouldCycle>(*status, board, cameras, cameras, log, pictures, reports, screen);
        cycle->setWords([this](int n) { return words.value(n); });
        wired = 0;   // the new process's board thread starts afresh
        cycle->boardOpened();
        cycle->startDetect();
        cycle->restoreLatchedNg();
    }
    // The latch file holds something a restart takes up.
    static bool recordOnDisk()
    {
        QByteArray record;
        const InPlaceRecord::State state = InPlaceRecord::read(MouldCycle::latchFile(), &record);
        return state == InPlaceRecord::State::Damaged || (state == InPlaceRecord::State::Valid && !record.isEmpty());
    }
    // Mode 0 on one camera: the product step on input 3, the cavity on 4,
    // one tick each, the door a trigger.
    void standard()
    {
        numCamera = 1;
        gDNum = 2;
        words[Word::SafetyDoorDetect] = 1;
        for (int k = 0; k < 2; ++k) {
            words[Word::StepEnabled0 + k] = 1;
            words[Word::TriggerInput0 + k] = 3 + k;
            words[Word::TriggerDelay0 + k] = 1;
        }
    }
    void everyCameraClears(int how)
    {
        const int s = status->runStep;
        cycle->resetRun();
        for (int c = 0; c < numCamera; ++c)
            cycle->clearNg(c, s, how);
        cycle->decideByOperator();
    }
    void reDetect()
    {
        const int s = status->runStep;
        cycle->resetRun();
        cycle->holdForReDetect(s);
        int mask = 0;
        for (int c = 0; c < numCamera; ++c) {
            cycle->clearNg(c, s, AlarmCode::ReDetected);
            cycle->runAlgorithm(c, s);
            mask |= 1 << c;
        }
        cycle->reDetect(s, mask);
        cycle->decideByOperator();
    }
    // A pass: the board's thread's edges, with those it latched unseen.
    void passNow(int latched)
    {
        cycle->pass(level, latched | wired);
        wired = 0;
    }
    // Plays one event of a script; false for a word the script does not know.
    bool play(const QString& e)
    {
        const int n = e.right(1).toInt();
        // Inputs as they change while no pass looks: an edge the board's
        // thread latches and holds on the wire (and marks on disk), an
        // input found at its level, an input fallen.
        static const QRegularExpression unseen(QStringLiteral("^(wire|found|gone)(\\d)$"));
        const QRegularExpressionMatch m = unseen.match(e);
        // The board silent for 100 ms so far, reported while it lasts (the
        // next pass takes it).
        // "quiet": silent for 800 ms so far, a fault of the board.
        if (e == "silent" || e == "quiet") {
            ++board.gaps.count;
            board.gaps.endSeq = board.seq;
            board.gaps.lastMs = e == "quiet" ? 800 : 100;
            board.gaps.ongoing = true;
            return true;
        }
        // The machine's cycle is 6 s (the latest two openings apart).
        if (e == "6s") {
            MouldCycleProbe::setCycleInterval(*cycle, 6000);
            return true;
        }
        // The bound of a step in doubt after a gap is over; a pass follows.
        if (e == "due") {
            MouldCycleProbe::doubtsDue(*cycle);
            passNow(0);
            return true;
        }
        // The board unpolled for a while (500 ms); its reply after the gap
        // shows input n risen ("gapN", a pass follows), or nothing new
        // ("gap", the next pass takes it). "answer": the reply after a
        // silence of 15 s ("answerN": showing input n risen).
        if (e.startsWith("gap") || e.startsWith("answer")) {
            const int bit = e.size() == (e.startsWith("gap") ? 4 : 7) ? 1 << n : 0;
            level |= bit;
            board.seq += bit ? 1 : 0;
            ++board.gaps.count;
            board.gaps.endSeq = board.seq;
            board.gaps.lastMs = e.startsWith("answer") ? 15000 : 500;
            board.gaps.ongoing = false;
            if (bit)
                passNow(bit);
            return true;
        }
        if (m.hasMatch()) {
            const int bit = 1 << n;
            if (m.captured(1) == "wire") {
                level |= bit;
                wired |= bit;
                board.sent |= board.holds[n];
                board.low = board.sent;
                cycle->edgeOnWire(bit, 0, ++board.seq);
            } else if (m.captured(1) == "found") {
                level |= bit;
            } else {
                level &= ~bit;
            }
            return true;
        }
        if (e == "update") {                // a start on the earlier version's empty latch file (1 KiB of zeros)
            cycle.reset();
            QFile f(MouldCycle::latchFile());
            if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(1024, '\0')) != 1024)
                return false;
            f.close();
            start();
        } else if (e.startsWith('u')) {     // input n rises
            level |= 1 << n;
            passNow(1 << n);
        } else if (e.startsWith('d') && e != "door") {   // input n falls
            level &= ~(1 << n);
            passNow(0);
        } else if (e == "door") {           // the safety door closes
            level |= 1 << kSafetyDoorInput;
            passNow(1 << kSafetyDoorInput);
        } else if (e == "p") {
            passNow(0);
        } else if (e == "t") {              // a tenth of a second
            for (int k = 0; k < kMaxDetect; ++k)
                if (cycle->countdownActive(k))
                    cycle->tick(k);
        } else if (e == "late") {           // ... gone by in real time, its timers come in reverse step order
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            for (int k = kMaxDetect - 1; k >= 0; --k)
                if (cycle->countdownActive(k))
                    cycle->tick(k);
        } else if (e.startsWith("ng")) {
            cameras.nextVerdict[n] = CycleJudge::Ng;
        } else if (e.startsWith("train")) {
            cameras.nextVerdict[n] = CycleJudge::Trained;
        } else if (e.startsWith("empty")) {
            cameras.next[n] = FakeCameras::Empty;
        } else if (e.startsWith("old")) {
            cameras.next[n] = FakeCameras::TooOld;
        } else if (e.startsWith("slow")) {
            cameras.next[n] = FakeCameras::Empty;
            cameras.slow[n] = true;
        } else if (e == "lost" || e == "back") {
            cameras.missing = e == "lost";
            passNow(0);
        } else if (e == "pass") {           // "Don't Detect"
            everyCameraClears(AlarmCode::NotDetected);
        } else if (e == "tmpl") {           // added as a template
            everyCameraClears(AlarmCode::AddedAsTemplate);
        } else if (e == "redo") {           // detected again
            reDetecting = true;
            reDetect();
            reDetecting = false;
        } else if (e == "hold") {           // a re-detection asked for, not yet judged
            reDetecting = true;
            cycle->resetRun();
            cycle->holdForReDetect(status->runStep);
            reDetecting = false;
        } else if (e == "pics" || e == "live") {   // the ROI page shows pictures / the live view
            cycle->pictureSourceChosen(e == "live" ? PictureSource::Live : PictureSource::RecentNg);
        } else if (e == "owed") {           // the owed steps, once asked for
            if (screen.owedLater)
                cycle->judgeOwedSteps();
            screen.owedLater = false;
        } else if (e == "region" || e == "leave") {   // region setting on the ROI page
            if (e == "region")
                cycle->enterRegionSetting();
            else
                cycle->leaveRegionSetting();
        } else if (e.startsWith("off") || e.startsWith("on")) {   // step n disabled / enabled in the words
            words[Word::StepEnabled0 + n] = e.startsWith("on") ? 1 : 0;
        } else if (e == "accept") {         // ... and the settings screen's accept tells the cycle
            cycle->wordsAccepted();
            cycle->afterCycle([this] { ++retrained; });
        } else if (e == "stop") {
            cycle->stopDetect();
        } else if (e == "restart") {
            start();
        } else if (e == "earlier") {        // a restart on the NG record of an earlier version
            cycle.reset();
            InPlaceRecord older(MouldCycle::latchFile());
            if (!older.write("step=0\nfailed=1\nlost=0\nowed=1\ndecided=0\ntime=2026-12-01T10:00:00\n"))
                return false;
            start();
        } else if (e == "full") {           // a restart on a disk without room for the latch file
            QFile::remove(MouldCycle::latchFile());
            if (!QDir().mkdir(MouldCycle::latchFile() + ".new"))   // its making place taken, as a full disk refuses it
                return false;
            start();
        } else if (e == "room") {           // ... and room again
            if (!QDir().rmdir(MouldCycle::latchFile() + ".new"))
                return false;
        } else if (e == "later") {          // a pass some seconds later
            MouldCycleProbe::latchRetryDue(*cycle);
            passNow(0);
        } else if (e == "garble") {         // the latch file damaged, then a restart
            QFile f(MouldCycle::latchFile());
            if (!f.open(QIODevice::ReadWrite))
                return false;
            f.seek(4);
            f.write("garbage over both slots of the record, garbage, garbage");
            f.seek(520);
            f.write("garbage over both slots of the record, garbage, garbage");
            f.close();
            start();
        } else {
            return false;
        }
        return true;
    }
};

}  // namespace

class TestMouldCycle : public QObject {
    Q_OBJECT

private slots:
    void rules_data()
    {
        // mode: 0-3 (1 and 2 alike: four steps, two cavities and two
        // products sharing outputs); cameras; script: events, "=w" the word
        // the machine has after the event; counts: camera 0's judged / NG /
        // cycles / NG cycles; code: camera 0's result code of step 0 and 1.
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("cameras");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("codes");
        QTest::addColumn<int>("detectState");

        // ---- automatic decisions
        QTest::newRow("mode 0: product and cavity OK, cycle closes")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: product NG holds the ejector and raises the alarm")
            << 0 << 1 << "u3=3 ng0 t=7 d3 u4=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0: cavity NG keeps the clamp held")
            << 0 << 1 << "u3=3 t=1 d3 u4 ng0 t=5" << "2 1 0 0" << "0 3" << 2;
        QTest::newRow("mode 0: NG on the second camera only")
            << 0 << 2 << "u3=3 ng1 t=7" << "1 0 0 0" << "0 0" << 2;
        QTest::newRow("mode 0: a training step counts nothing")
            << 0 << 1 << "u3=3 train0 t=1 d3 u4=1 t=0" << "1 0 0 0" << "0 0" << 1;
        QTest::newRow("mode 0: an opening during a countdown is judged next, never passed")
            << 0 << 1 << "u3=3 d3 u3=3 t=3 p=3 t=1 d3 u4=1 t=0" << "3 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: a held opening with a short shot is NG, its ejector never freed")
            << 0 << 1 << "u3=3 d3 u3=3 t=3 ng0 p=3 t=7" << "2 1 0 0" << "3 0" << 2;
        // Both steps on the mould-open input, the cavity's countdown three
        // ticks: the second opening comes while the cavity still counts down.
        QTest::newRow("mode 0 mould-open: a second opening holds what it triggers until judged")
            << 0 << 1 << "u3=3 t=1 d3 u3=3 t=1 t=1 p=1 t=1 t=1 t=0" << "4 0 2 0" << "0 0" << 1;
        // ... its product judged OK before the first opening's cavity: the
        // cycle its held cavity opens has the product decided, the ejector
        // stays free through the close, and the next opening is a cycle of
        // its own
        QTest::newRow("mode 0 mould-open: a second opening's product judged first is not held again")
            << 0 << 1 << "u3=3 t=1 d3 u3=3 t=1 t=1 d3=1 t=1 t=1 t=0 u3=3 t=1 t=1 t=0" << "6 0 3 0" << "0 0" << 1;
        // ... but a product its edge did not start is held in the cycle that
        // edge opens, until it is judged, also one judged after that edge
        QTest::newRow("mode 0: a held cavity opening opens the next cycle, its product held until judged")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 d4 u4=1 t=1 p=3 t=2 u3=3 t=1 d3 u4=1 t=0" << "5 0 3 0" << "0 0" << 1;
        QTest::newRow("mode 0: a product judged after a held cavity's edge is held in the cycle it opens")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 d4 u4=1 u3=3 t=1 p=3 t=2" << "4 0 2 0" << "0 0" << 1;
        QTest::newRow("mode 0 mould-open: a second opening with a short shot")
            << 0 << 1 << "u3=3 t=1 d3 u3=3 ng0 t=7" << "2 1 0 0" << "3 0" << 2;
        // ... and with one delay: both due on one tick, judged in step order
        // whatever order their timers come in, so the NG latched is the
        // product's and the cavity stays owed
        QTest::newRow("mode 0 mould-open one delay: a short shot, the timers late and out of order")
            << 0 << 1 << "u3=3 ng0 late=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0 mould-open one delay: killed in the countdowns over a short shot, the timers out of order")
            << 0 << 1 << "u3=3 restart=3 ng0 late=7 pass=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0: stopped, an opening triggers nothing")
            << 0 << 1 << "stop=1 u3=1 t=1" << "0 0 0 0" << "0 0" << 0;
        QTest::newRow("mode 0: in region setting an opening triggers nothing")
            << 0 << 1 << "region u3=0 t=0 d3 leave u3=3 t=1" << "1 0 0 0" << "0 0" << 1;
        QTest::newRow("mode 0: a countdown ending while an NG waits leaves its step owed")
            << 0 << 1 << "u3 u4 ng0 t=7 pass=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0: door closing re-checks the cavity step")
            << 0 << 1 << "door=3 ng0 t=7" << "1 1 0 0" << "0 3" << 2;
        QTest::newRow("mode 1: a cavity OK keeps the clamp the other cavity holds")
            << 1 << 1 << "u3=3 t=3 d3 u4 t=3 d4 u5 t=1 d5 u6 t=0" << "4 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 2: product NG of the second colour")
            << 2 << 1 << "u3=3 t=3 d3 u4 t=3 d4 u5 ng0 t=7" << "3 1 0 0" << "0 0" << 2;
        QTest::newRow("mode 3: interlocks by output table, last step on the clamp")
            << 3 << 1 << "u3=11 t=9 d3 u4=9 t=1 d4 u5=1 t=0" << "3 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 3 sequential: a step out of turn is ignored")
            << 3 << 1 << "u4=0 u3=11 t=9 d4 u4=9 t=1" << "2 0 0 0" << "0 0" << 1;
        QTest::newRow("mode 3 sequential: a second opening held in a countdown starts only in its turn")
            << 3 << 1 << "u3=11 d3 u3=11 t=11 p=11 u4=11 t=3 d4 u5=3 t=2 p=11 t=9" << "4 0 1 0" << "0 0" << 1;

        // ---- the operator's answers to an NG
        QTest::newRow("mode 0: NG passed without judging")
            << 0 << 1 << "u3 ng0 t=7 pass=1 d3 u4 t=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0: NG added as a template")
            << 0 << 1 << "u3 ng0 t=7 tmpl=1" << "1 1 0 0" << "9 0" << 1;
        QTest::newRow("mode 0: re-detected and now OK")
            << 0 << 1 << "u3 ng0 t=7 redo=1 d3 u4 t=0" << "2 1 1 1" << "8 0" << 1;
        QTest::newRow("mode 0: re-detected and still NG keeps everything held")
            << 0 << 1 << "u3 ng0 t=7 ng0 redo=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0: a re-detection of the product step holds the ejector until judged")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 t=0 hold=2" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: NG pictures looked at silence the alarm, the interlocks stay")
            << 0 << 1 << "u3 ng0 t=7 live=7 pics=3 pass=1" << "1 1 0 0" << "9 0" << 1;
        QTest::newRow("mode 0: pictures looked at keep the alarm of a lost camera")
            << 0 << 1 << "u3=3 lost=7 pics=7 u4=7 back=7 t=5 d3 u4=5 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: cavity opened while the NG waited is owed and judged after")
            << 0 << 1 << "u3 ng0 t=7 d3 u4=7 t=7 pass=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0 word 158: the door passes a product NG, the cavity is judged again")
            << 0 << 1 << "u3 ng0 t=7 d3 door=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0 word 158: the re-checked cavity's NG is latched and held as any")
            << 0 << 1 << "u3 ng0 t=7 d3 door=1 ng0 owed=5" << "2 2 0 0" << "9 3" << 2;
        QTest::newRow("mode 0 word 158: the door passes no cavity NG")
            << 0 << 1 << "u3=3 t=1 d3 u4 ng0 t=5 door=5" << "2 1 0 0" << "0 3" << 2;
        QTest::newRow("mode 0: the door passes no product NG while the door-pass word is off")
            << 0 << 1 << "u3 ng0 t=7 d3 door=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 1: owed cavity still NG after the resolution")
            << 1 << 1 << "u3 ng0 t=7 d3 u4=7 pass=3 ng0 owed=7" << "2 2 0 0" << "9 3" << 2;

        // ---- cameras: lost, no frame, a frame too old
        QTest::newRow("mode 0: empty frame is an unjudged NG")
            << 0 << 1 << "u3=3 empty0 t=7" << "1 1 0 0" << "11 0" << 2;
        QTest::newRow("mode 0: frame from before the countdown is an unjudged NG")
            << 0 << 1 << "u3=3 old0 t=7" << "1 1 0 0" << "11 0" << 2;
        QTest::newRow("mode 0: camera lost holds clamp and alarm until a cycle closed")
            << 0 << 1 << "u3=3 lost=7 u4=7 back=7 t=5 d3 u4=5 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: an opening while a camera is missing holds its ejector until a cycle closed")
            << 0 << 1 << "lost=5 u3=7 back=7 d3 u3=7 t=7 d3 u4=7 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: an OK never frees the clamp while a camera is still missing")
            << 0 << 1 << "u3=3 u4=3 lost=7 t=5" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: camera lost while stopped adds no hold")
            << 0 << 1 << "stop=1 lost=1" << "0 0 0 0" << "0 0" << 0;

        // ---- the settings accepted inside a countdown
        QTest::newRow("mode 0: a step disabled in its countdown is not judged, its ejector freed")
            << 0 << 1 << "u3=3 off0 accept=1 t=1 d3 u4=1 t=0" << "1 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: a step disabled just before its countdown ends is not judged")
            << 0 << 1 << "u3=3 off0 t=1 d3 u4=1 t=0" << "1 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: a step enabled in an open cycle is held until judged")
            << 0 << 1 << "off1 u3=2 on1 accept=3 t=1 d3 u4=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: a held opening of a step disabled is dropped")
            << 0 << 1 << "u3=3 d3 u3=3 off0 accept=1 t=1 p=1 d3 u4=1 t=0" << "1 0 1 0" << "0 0" << 1;

        // ---- restarts with a latched NG, stop
        QTest::newRow("mode 0: restart holds the latched cavity NG")
            << 0 << 1 << "u3 t=1 d3 u4 ng0 t=5 restart=5 pass=0" << "2 1 1 1" << "0 9" << 1;
        QTest::newRow("mode 0: restart with a product NG, the cavity owed before it is judged after")
            << 0 << 1 << "u3 ng0 t=7 d3 u4=7 restart=7 pass=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 0: damaged latch file is an NG of the first step")
            << 0 << 2 << "u3 t=1 d3 u4 ng0 t=5 garble=7" << "2 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0: a resolved NG is not held again after a restart, the open cycle's clamp is")
            << 0 << 1 << "u3 ng0 t=7 pass=1 restart=1 d3=5 u4=5 t=5 redo=0" << "2 2 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: an NG record of an earlier version, without openings, is held")
            << 0 << 1 << "earlier=7 pass=1 u4=1 t=0" << "1 0 1 1" << "9 0" << 1;
        QTest::newRow("mode 0: the earlier version's empty latch file holds nothing")
            << 0 << 1 << "update=0 u3=3 t=1 d3 u4=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: stop releases the latch, word 95 keeps the clamp")
            << 0 << 1 << "u3 ng0 t=7 stop=1 restart=0" << "1 1 0 0" << "0 0" << 0;

        // ---- killed inside an open cycle, then restarted: what was held is
        // held from the first word, an owed step counts down again and is
        // judged on the pictures of then, a step not yet triggered waits
        QTest::newRow("mode 0: killed before the first step was decided, it is judged after the restart")
            << 0 << 1 << "u3=3 restart=3 t=1 d3=5 u4=5 t=5 redo=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: killed in a countdown over a short shot, held until the NG")
            << 0 << 1 << "u3=3 restart=3 ng0 t=7 d3 u4=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0: killed between the steps, the clamp held until the cavity is judged")
            << 0 << 1 << "u3=3 t=1 d3 restart=1 p=5 u4=5 redo=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: killed with an opening held in a countdown, both judged after the restart")
            << 0 << 1 << "u3=3 d3 u3=3 restart=3 t=3 p=7 t=7 d3 u4=7 pass=2 owed=0" << "3 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: killed in the cavity's countdown, it is judged after the restart")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 restart=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 3 sequential: killed between the steps, the next step keeps its turn")
            << 3 << 1 << "u3=11 t=9 d3 restart=9 u3=13 u4=13 redo=1 d4=5 u5=5 pass=0" << "3 2 1 1" << "0 11" << 1;
        // ... a step the restored cycle waits for: its trigger found at its
        // level is an opening, judged; else it may have come unseen, and the
        // step is an unjudged NG with the alarm (rows above, and here in
        // mode 3 sequential, where only the step in turn waits for one)
        QTest::newRow("mode 0: killed between the steps, the cavity's trigger found at its level is judged at once")
            << 0 << 1 << "u3=3 t=1 d3 found4 restart=1 p=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 3 sequential: killed between the steps, the next step's trigger passed unseen")
            << 3 << 1 << "u3=11 t=9 d3 restart=9 p=13 u5=13 pass=1 u5=1 t=0" << "3 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 3 sequential: killed between the steps, the next step's trigger found at its level")
            << 3 << 1 << "u3=11 t=9 d3 found4 restart=9 p=9 t=1 d4=5 u5=5 pass=0" << "3 1 1 1" << "0 0" << 1;
        // ... and so for every step that waits, one after the other, also
        // behind an NG restored with the cycle: resolving one never leaves
        // the next waiting in silence; a trigger seen live ends the doubt
        QTest::newRow("mode 0: restarted on a product NG, the cavity's trigger passed unseen: NG once the first is resolved")
            << 0 << 1 << "u3 ng0 t=7 restart=7 p=7 pass=1 p=5 redo=0" << "2 2 1 1" << "9 11" << 1;
        QTest::newRow("mode 0: restarted on a product NG, the cavity's trigger seen while the NG waits is judged")
            << 0 << 1 << "u3 ng0 t=7 restart=7 p=7 d3 u4=7 pass=1 owed=0" << "2 1 1 1" << "9 0" << 1;
        QTest::newRow("mode 1: killed after the first step, each later step's trigger passed unseen")
            << 1 << 1 << "u3=3 t=3 d3 restart=3 p=7 pass=3 p=7 pass=1 p=5 pass=0" << "4 3 1 1" << "0 11" << 1;
        // ... the steps the operator's decision left owed are judged first:
        // no pass raises the next unjudged NG while one is owed
        QTest::newRow("mode 1: restarted on a product NG with the cavity owed, the owed step is judged before the unjudged NG")
            << 1 << 1 << "u3=3 ng0 t=7 d3 u4=7 restart=7 p=7 pass=3 p=3 owed=3 p=7 pass=1 p=5 pass=0" << "4 3 1 1"
            << "9 0" << 1;
        // ... and a step whose trigger edge is seen live, even out of its
        // sequential turn, waits for its turn's trigger as any
        QTest::newRow("mode 3 sequential: restarted between the steps, a trigger seen live out of turn ends the doubt")
            << 3 << 1 << "u3=11 t=9 d3 found4 restart=9 p=9 u5=9 t=1 p=1 d5 u5=1 t=0" << "3 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 3 sequential: killed after the first step, each later step's trigger passed unseen")
            << 3 << 1 << "u3=11 t=9 d3 restart=9 p=13 pass=1 p=5 pass=0" << "3 2 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: started with nothing held, the cavity's trigger passed before the mould was found open")
            << 0 << 1 << "found3 restart=0 p=7 t=7 redo=2 owed=0" << "2 1 1 1" << "0 11" << 1;
        // ... restarted with the mould still open: the open mould is the
        // opening restored, not a second one (judged once, counted once)
        QTest::newRow("mode 0 mould-open: killed in the countdowns, the mould still open, each judged once")
            << 0 << 1 << "u3=3 restart=3 p=3 t=1 t=1 t=0 p=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: killed in a countdown, the mould still open, judged once")
            << 0 << 1 << "u3=3 restart=3 p=7 t=7 p=7 t=7 redo=2 owed=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0 mould-open: killed with a second opening held, the mould still open, both judged once")
            << 0 << 1 << "u3=3 t=1 d3 u3=3 restart=3 p=3 t=1 t=1 t=1 p=3 t=3 t=3 t=2" << "4 0 2 0" << "0 0" << 1;
        // ... killed after the board's thread held an edge on the wire and
        // before any pass: the edge's mark on disk holds it again, the mould
        // closed meanwhile or not, and it is judged once
        QTest::newRow("mode 0 mould-open: killed right after the edge, the mould closed meanwhile, held and judged")
            << 0 << 1 << "wire3=3 gone3 restart=3 p=3 t=1 t=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0 mould-open: killed right after the edge, the mould still open, judged once")
            << 0 << 1 << "wire3=3 restart=3 p=3 t=1 t=1 t=0 p=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0 mould-open: a second opening killed right after its edge is judged after the first")
            << 0 << 1 << "u3=3 d3 wire3=3 gone3 restart=3 p=3 t=3 t=3 t=3 p=3 t=1 t=1 t=0" << "4 0 2 0" << "0 0" << 1;
        QTest::newRow("mode 0 mould-open: an edge its pass has taken is no second opening after a restart")
            << 0 << 1 << "wire3=3 p=3 restart=3 p=3 t=1 t=1 t=0" << "2 0 1 0" << "0 0" << 1;
        // ... the board unpolled for longer than a short trigger while the
        // open cycle waited for one: in doubt, held as possibly missed once
        // its bound is over (never waited for in silence, never stopped
        // before the trigger is due); its trigger seen before that is
        // judged as any; a gap before the opening misses nothing
        QTest::newRow("mode 0: the board unpolled between the steps, the cavity an unjudged NG once due")
            << 0 << 1 << "u3=3 t=1 d3 gap p=1 p=1 due=5 redo=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: a gap between the steps, then the cavity's trigger seen: judged")
            << 0 << 1 << "u3=3 t=1 d3 gap p=1 u4=1 t=0 due=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: the board silent over the cavity's whole pulse: an unjudged NG within the bound")
            << 0 << 1 << "u3=3 t=1 d3 quiet p=1 due=5 answer p=5 redo=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: the opening seen at the end of a gap, the cavity's trigger maybe in it")
            << 0 << 1 << "gap3=3 t=1 due=5 redo=0" << "2 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 3 sequential: a gap doubts only the step in turn")
            << 3 << 1 << "u3=11 t=9 d3 gap p=9 due=13 pass=1 p=1 u5=1 t=0" << "3 1 1 1" << "0 11" << 1;
        QTest::newRow("mode 0: a silence longer than a cycle between the cycles: each step held as possibly missed")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 t=0 6s quiet p=0 answer p=7 pass=1 p=5 pass=0" << "4 2 2 1" << "11 11" << 1;
        QTest::newRow("mode 0: ... ended by a reply with the mould open again: the opening it hid is held as possibly missed")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 t=0 6s quiet p=0 answer3=7" << "3 1 1 0" << "0 11" << 2;
        QTest::newRow("mode 0: a silence of the board between the cycles, the first opening after it judged as any")
            << 0 << 1 << "u3=3 t=1 d3 u4=1 t=0 quiet p=0 answer p=0 u3=3 t=1 d3 u4=1 t=0" << "4 0 2 0" << "0 0" << 1;
        QTest::newRow("mode 0: a gap before the opening misses nothing")
            << 0 << 1 << "gap u3=3 t=1 d3 gap4=1 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: an opening while a camera is missing is held across a restart until a cycle closed")
            << 0 << 1 << "lost=5 u3=7 d3 restart=7 back=7 u3=7 t=7 d3 u4=7 t=0" << "2 0 1 0" << "0 0" << 1;
        QTest::newRow("mode 0: a disk full at start-up: an opening once there is room is kept across a restart")
            << 0 << 1 << "full=0 room u3=3 restart=3 t=1" << "1 0 0 0" << "0 0" << 1;
        QTest::newRow("mode 0: a disk full at start-up: the NG once there is room is kept across a restart")
            << 0 << 1 << "full=0 u3=3 room ng0 t=7 restart=7" << "1 1 0 0" << "3 0" << 2;
        QTest::newRow("mode 0: a disk full at start-up: an NG latched meanwhile is kept once the retry finds room")
            << 0 << 1 << "full=0 u3=3 ng0 t=7 room p later restart=7" << "1 1 0 0" << "3 0" << 2;
    }

    void rules()
    {
        QFETCH(int, mode);
        QFETCH(int, cameras);
        QFETCH(QString, script);
        QFETCH(QString, counts);
        QFETCH(QString, codes);
        QFETCH(int, detectState);
        TestWorkDir dir;
        numCamera = cameras;
        gFromTrain = false;
        ProductionCounters::get().restore(CounterValues{});

        Rig rig;
        const int steps = mode == 0 ? 2 : mode == 3 ? 3 : 4;
        gDNum = steps;
        rig.words[Word::Mode] = mode;
        rig.words[Word::StepCountMode3] = 3;
        rig.words[Word::Sequential] = QByteArray(QTest::currentDataTag()).contains("sequential") ? 1 : 0;
        rig.words[Word::SafetyDoorDetect] = 1;
        rig.words[Word::StopClampWhenStopped] = 1;
        const bool mouldOpen = QByteArray(QTest::currentDataTag()).contains("mould-open");
        const bool oneDelay = QByteArray(QTest::currentDataTag()).contains("one delay");
        rig.words[Word::SkipToCavityAfterDoor] = QByteArray(QTest::currentDataTag()).contains("word 158") ? 1 : 0;
        for (int k = 0; k < steps; ++k) {
            rig.words[Word::StepEnabled0 + k] = 1;
            rig.words[Word::TriggerInput0 + k] = mouldOpen ? 3 : 3 + k;
            rig.words[Word::TriggerDelay0 + k] = mouldOpen && k == 1 && !oneDelay ? 3 : 1;   // ticks
        }
        rig.start();

        int at = 0;
        for (const QString& token : script.split(' ')) {
            const QStringList parts = token.split('=');
            const int before = rig.board.sent;
            rig.board.low = before;
            int holds[MouldCycle::kBoardInputs];
            std::copy(std::begin(rig.board.holds), std::end(rig.board.holds), holds);
            QVERIFY2(rig.play(parts[0]), qPrintable("unknown event " + parts[0]));
            ++at;
            // An input edge holds nothing the board's thread did not hold
            // at that edge already (the table it was handed before).
            const int input = parts[0] == "door" ? kSafetyDoorInput : parts[0].startsWith('u') ? parts[0].right(1).toInt() : -1;
            if (input >= 0)
                QVERIFY2((rig.board.sent & ~before & ~4 & ~holds[input]) == 0,
                         qPrintable(QStringLiteral("event %1 (%2) held %3, the edge's table only %4")
                                        .arg(at).arg(parts[0]).arg(rig.board.sent & ~before & ~4).arg(holds[input])));
            // Held before and after an event: never freed in between, not
            // even for one word (a new process may start from nothing).
            if (parts[0] != "restart" && parts[0] != "garble" && parts[0] != "full" && parts[0] != "earlier"
                && parts[0] != "update")
                QVERIFY2((before & rig.board.sent & ~rig.board.low) == 0,
                         qPrintable(QStringLiteral("event %1 (%2) freed %3 for a moment")
                                        .arg(at).arg(parts[0]).arg(before & rig.board.sent & ~rig.board.low)));
            if (parts.size() > 1)
                QVERIFY2(rig.board.sent == parts[1].toInt(),
                         qPrintable(QStringLiteral("after event %1 (%2): word %3, wanted %4")
                                        .arg(at).arg(parts[0]).arg(rig.board.sent).arg(parts[1])));
        }
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(counted().all[0]).arg(counted().fail[0]).arg(counted().allCycle[0]).arg(counted().failCycle[0]),
                 counts);
        QCOMPARE(QStringLiteral("%1 %2").arg(rig.status->alarmCode[0]).arg(rig.status->alarmCode[1]), codes);
        QCOMPARE(rig.status->detectState, detectState);
        // Never an NG on the machine without it on disk, nor before.
        if (rig.status->detectState == DetectState::NgLatched)
            QVERIFY(MouldCycle::LatchOnDisk());
        QVERIFY2(!rig.alarmBeforeLatch, "an NG's alarm went out before the NG was on disk");
        QVERIFY2(!rig.holdBeforeRecord, "an interlock went out before the disk held it");
    }

    // Who hears what, in which order: the record gets the counters after the
    // outputs and the engines' rows after the decision; the network reports
    // the alarm before the step's NG and its clearing after the step's OK;
    // the screen is asked for the owed steps only by the operator's decision
    // that leaves some owed; a camera without a picture gets a row and no
    // picture. "%U" is the row of camera 1 unjudged at step 1; "%W" the
    // row (and the screen's note) of step 2 held unjudged at a restart, its
    // trigger perhaps passed while the program was not running; "%G" the
    // same for a trigger perhaps passed while the board did not answer.
    void listeners_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("pictures");
        QTest::addColumn<QString>("reports");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("note");
        QTest::newRow("OK cycle")
            << "u3 t d3 u4 t"
            << "count, row judged 0 0, count, row judged 0 1"
            << "new 0: 0/1, new 1: 0/1"
            << "cycle, step 0 ok, step 1 ok"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ok auto, frames" << "";
        QTest::newRow("NG passed by the operator, the owed cavity judged after")
            << "u3 u4 ng0 t pass owed"
            << "count, row judged 0 0, count, count, row judged 0 1"
            << "keep 0 0, new 0: 0/0, held 0 0 slot 0, new 1: 0/1"
            << "cycle, alarm 0, step 0 ng, step 0 ok, cleared 0:4, step 1 ok"
            << "judged 0, decided 0 ng auto, frames, decided 0 ok manual, owed, judged 1, decided 1 ok auto, frames"
            << "";
        QTest::newRow("no picture, then stopped")
            << "u3 empty0 t stop"
            << "count, row %U"
            << "new 0:"
            << "cycle, alarm 0, step 0 ng, stopped"
            << "judged 0, decided 0 ng auto, frames" << "";
        QTest::newRow("a running camera without a picture in time: said in the record and on the screen")
            << "u3 slow0 t"
            << "count, row %N"
            << "new 0:"
            << "cycle, alarm 0, step 0 ng"
            << "judged 0, decided 0 ng auto, frames" << "%N";
        QTest::newRow("killed between the steps: the cavity held unjudged says why, once")
            << "u3 t d3 restart p"
            << "count, row judged 0 0, count, row %W"
            << "new 0: 0/1, new 1:"
            << "cycle, step 0 ok, alarm 1, step 1 ng"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ng auto, frames" << "%W";
        QTest::newRow("the board unanswered between the steps: the cavity held unjudged names that cause")
            << "u3 t d3 gap p due"
            << "count, row judged 0 0, count, row %G"
            << "new 0: 0/1, new 1:"
            << "cycle, step 0 ok, alarm 1, step 1 ng"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ng auto, frames" << "%G";
        // A silence of the board over its bound: the record says so while
        // it lasts (and the screen, "%S"), and its end with its length
        // ("%B"); an opening in doubt is held once its bound is over.
        QTest::newRow("the board silent between the cycles: said while it lasts")
            << "u3 t d3 u4 t quiet p"
            << "count, row judged 0 0, count, row judged 0 1, row %S"
            << "new 0: 0/1, new 1: 0/1"
            << "cycle, step 0 ok, step 1 ok"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ok auto, frames" << "";
        QTest::newRow("the board silent between the steps: the cavity held unjudged, the silence's end said")
            << "u3 t d3 quiet p due answer p"
            << "count, row judged 0 0, row %S, count, row %G, row %B"
            << "new 0: 0/1, new 1:"
            << "cycle, step 0 ok, alarm 1, step 1 ng"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ng auto, frames" << "%G";
        QTest::newRow("... and no longer once it is resolved")
            << "u3 t d3 restart p pass"
            << "count, row judged 0 0, count, row %W, count"
            << "new 0: 0/1, new 1:"
            << "cycle, step 0 ok, alarm 1, step 1 ng, step 1 ok, cleared"
            << "judged 0, decided 0 ok auto, frames, judged 1, decided 1 ng auto, frames, decided 1 ok manual" << "";
    }
    void listeners()
    {
        QFETCH(QString, script);
        QFETCH(QString, log);
        QFETCH(QString, pictures);
        QFETCH(QString, reports);
        QFETCH(QString, screen);
        QFETCH(QString, note);
        TestWorkDir dir;
        gFromTrain = false;
        QVERIFY(initLanStr() > 0);   // the unjudged camera's row is an operator text
        const QString why = lanStr(MouldCycle::kTextNotWatched).arg(2);
        QVERIFY(why.contains('2') && why != lanStr(MouldCycle::kTextUnjudged).arg(1).arg(2));
        const QString gapWhy = lanStr(MouldCycle::kTextPollGap).arg(2);
        QVERIFY(gapWhy.contains('2') && gapWhy != why);
        Rig rig;
        rig.standard();
        rig.start();
        for (const QString& e : script.split(' '))
            QVERIFY2(rig.play(e), qPrintable(e));
        const QString slowWhy = lanStr(MouldCycle::kTextNoPicture).arg(1).arg(1);
        QVERIFY(!slowWhy.isEmpty() && slowWhy != lanStr(MouldCycle::kTextUnjudged).arg(1).arg(1));
        QCOMPARE(rig.log.heard.join(", "),
                 QString(log)
                     .replace("%U", lanStr(MouldCycle::kTextUnjudged).arg(1).arg(1))
                     .replace("%W", why)
                     .replace("%G", gapWhy)
                     .replace("%N", slowWhy)
                     .replace("%S", lanStr(MouldCycle::kTextBoardSilent))
                     .replace("%B", lanStr(MouldCycle::kTextBoardBack).arg("15.0")));
        QCOMPARE(rig.status->boardNote, QString(log.endsWith("%S") ? lanStr(MouldCycle::kTextBoardSilent) : ""));
        QCOMPARE(rig.pictures.heard.join(", "), pictures);
        QCOMPARE(rig.reports.heard.join(", "), reports);
        QCOMPARE(rig.screen.heard.join(", "), screen);
        QCOMPARE(rig.status->ngNote, QString(note).replace("%W", why).replace("%G", gapWhy).replace("%N", slowWhy));
    }

    // An NG's record rows are written after its decision (the outputs
    // first): a kill after the NG is on disk and before its rows leaves the
    // restart a row per camera of the NG; a restart after the rows, none.
    void ngRowsAcrossAKill_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("killed");   // restarted on the file as the NG's latch left it
        QTest::addColumn<int>("text");      // the row the restart records, 0 none
        QTest::newRow("killed before the NG's rows") << "u3 ng0 t" << true << int(MouldCycle::kTextNgRestored);
        QTest::newRow("restarted after them") << "u3 ng0 t" << false << 0;
        QTest::newRow("no picture, killed before its row") << "u3 empty0 t" << true << int(MouldCycle::kTextUnjudged);
    }
    void ngRowsAcrossAKill()
    {
        QFETCH(QString, script);
        QFETCH(bool, killed);
        QFETCH(int, text);
        TestWorkDir dir;
        QVERIFY(initLanStr() > 0);
        Rig rig;
        rig.standard();
        rig.start();
        QByteArray atKill;
        rig.cycle->setAfterLatchWritten([&atKill] {
            QFile f(MouldCycle::latchFile());
            if (f.open(QIODevice::ReadOnly))
                atKill = f.readAll();
        });
        for (const QString& e : script.split(' '))
            QVERIFY2(rig.play(e), qPrintable(e));
        QVERIFY(!atKill.isEmpty());
        const int before = rig.log.heard.size();
        if (killed) {
            QFile f(MouldCycle::latchFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(atKill), qint64(atKill.size()));
        }
        QVERIFY(rig.play("restart"));
        QCOMPARE(rig.status->detectState, int(DetectState::NgLatched));
        const QStringList after = rig.log.heard.mid(before);
        QCOMPARE(after.join(", "), text ? "row " + lanStr(text).arg(1).arg(1) : QString());
    }

    // The settings accepted: the word goes out with the accept, not with
    // the next pass (an output whose wiring turned would be free meanwhile).
    void acceptHandsTheWordOver()
    {
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        rig.start();
        QVERIFY(rig.play("u3"));
        rig.board.wanted ^= 1 << MouldCycle::kAlarmOut;   // as the port's word turns with its wiring
        rig.cycle->wordsAccepted();
        QCOMPARE(rig.board.sent, rig.board.wanted);
    }

    // How long a step in doubt after a gap is awaited, in ms after the
    // opening: the fixed bound after the gap while no cycle showed its
    // trigger's time; once one did (at once here), the margin after the gap.
    void doubtBound_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("atLeast");
        QTest::addColumn<int>("below");
        QTest::newRow("no cycle yet") << "u3 t d3 gap p" << MouldCycle::kDoubtUnlearnedMs << MouldCycle::kDoubtUnlearnedMs + 2000;
        QTest::newRow("learned from a cycle") << "u3 t d3 u4 t d4 u3 t d3 gap p" << MouldCycle::kDoubtMarginMs
                                              << MouldCycle::kDoubtUnlearnedMs;
        // "late": a cycle held open over later openings saw step 2's
        // trigger 13 s after its opening, in a machine cycle of 6 s.
        QTest::newRow("a trigger later than a cycle is not learned")
            << "u3 t d3 u4 t d4 u3 t d3 late gap p" << MouldCycle::kDoubtMarginMs << MouldCycle::kDoubtUnlearnedMs;
    }
    void doubtBound()
    {
        QFETCH(QString, script);
        QFETCH(int, atLeast);
        QFETCH(int, below);
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        rig.start();
        for (const QString& e : script.split(' ')) {
            if (e == "late") {
                MouldCycleProbe::setCycleInterval(*rig.cycle, 6000);
                MouldCycleProbe::learnDelay(*rig.cycle, 1, 13000);
                continue;
            }
            QVERIFY2(rig.play(e), qPrintable(e));
        }
        const qint64 due = MouldCycleProbe::doubtAfterOpeningMs(*rig.cycle, 1);
        QVERIFY2(due >= atLeast && due < below, qPrintable(QString::number(due)));
    }

    // What the log says of the board's silences while the open cycle waits
    // for a trigger: a gap reported once it ended, its whole length; one
    // named while it lasts, its length so far, and the reply that ends it
    // the whole; nothing when the cycle waits for no trigger. "|" parts
    // the lines.
    void pollGapLines_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("lines");
        const QString went = QStringLiteral(
            "the board went 500 ms without a reply while the open cycle waited for the trigger of step 2: "
            "a short trigger may have passed unseen; awaited 3000 ms more");
        QTest::newRow("a gap ended between the steps") << "u3 t d3 gap p" << went;
        QTest::newRow("a silence named while it lasts, then its end")
            << "u3 t d3 silent p gap p"
            << "the board has not replied for 100 ms while the open cycle waits for the trigger of step 2: "
               "a short trigger may pass unseen; awaited 3000 ms more|the board replied again after 500 ms of silence";
        QTest::newRow("a silence and its end taken by one pass") << "u3 t d3 silent gap p" << went;
        QTest::newRow("a silence while the mould is closed") << "silent p gap p" << "";
        QTest::newRow("a second silence of a step already in doubt")
            << "u3 t d3 gap p silent p gap p" << went;
        // A silence over the fault's bound is named in any state, and its end.
        QTest::newRow("a silence of the board while the mould is closed")
            << "quiet p answer p" << "the board has not replied for 800 ms|the board replied again after 15000 ms of silence";
        QTest::newRow("a silence of the board seen only at its end") << "answer p" << "the board replied again after 15000 ms of silence";
    }
    void pollGapLines()
    {
        QFETCH(QString, script);
        QFETCH(QString, lines);
        static QStringList heard;
        heard.clear();
        const QtMessageHandler before = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& msg) {
                if (msg.startsWith(QLatin1String("the board")))
                    heard << msg;
            });
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        rig.start();
        bool played = true;
        for (const QString& e : script.split(' '))
            played = played && rig.play(e);
        qInstallMessageHandler(before);
        QVERIFY(played);
        QCOMPARE(heard.join('|'), lines);
    }

    // What a rising edge of input bits kSafetyDoorInput (the door, word 144
    // on), 3 (the product step) and 4 (the cavity step) holds at once, as
    // the board's thread is told after each state ("end"), or had been told
    // when the word that freed the clamp went out ("freed": an edge latched
    // then and taken by the next pass holds that): bits of the output word.
    void edgeHolds_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("holds");
        QTest::newRow("running: an edge that opens the cycle holds every step's output") << "p" << "end" << "3 3 3";
        QTest::newRow("cycle open: only the steps the edge triggers") << "u3 t" << "end" << "1 2 1";
        QTest::newRow("the word closing the cycle: an edge not yet taken opens the next")
            << "u3 t d3 u4 t" << "freed" << "3 3 3";
        QTest::newRow("stopped") << "stop" << "end" << "0 0 0";
        QTest::newRow("region setting") << "region p" << "end" << "0 0 0";
        QTest::newRow("an NG waits: the product already passed holds nothing") << "u3 t d3 u4 ng0 t" << "end" << "1 0 1";
        QTest::newRow("a camera missing in region setting: every opening held") << "region lost" << "end" << "1 2 1";
        QTest::newRow("a step the words disabled") << "off0 p" << "end" << "1 0 1";
    }
    void edgeHolds()
    {
        QFETCH(QString, script);
        QFETCH(QString, when);
        QFETCH(QString, holds);
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        rig.start();
        const auto table = [&rig] {
            return QStringLiteral("%1 %2 %3").arg(rig.board.holds[kSafetyDoorInput]).arg(rig.board.holds[3]).arg(rig.board.holds[4]);
        };
        QString freed = QStringLiteral("never");
        const std::function<void(int, int)> checks = rig.board.onFlash;
        rig.board.onFlash = [&](int before, int now) {
            checks(before, now);
            if ((before & 1) && !(now & 1))
                freed = table();
        };
        for (const QString& e : script.split(' '))
            QVERIFY(rig.play(e));
        QCOMPARE(when == "freed" ? freed : table(), holds);
    }

    // The accept's retraining waits for the open cycle to close, or for
    // detection to stop; with no cycle open it runs at once. Once each.
    void retrainAfterTheCycle_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("runs");   // after each event
        QTest::newRow("no cycle open") << "accept p" << "1 1";
        QTest::newRow("inside a countdown") << "u3 accept accept t d3 u4 t p" << "0 0 0 0 0 0 1 1";
        QTest::newRow("detection stopped") << "u3 accept stop" << "0 0 1";
    }
    void retrainAfterTheCycle()
    {
        QFETCH(QString, script);
        QFETCH(QString, runs);
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        rig.start();
        QStringList seen;
        for (const QString& e : script.split(' ')) {
            QVERIFY(rig.play(e));
            seen << QString::number(rig.retrained);
        }
        QCOMPARE(seen.join(' '), runs);
    }

    // A disk full at start-up: the latch file cannot be made, an NG is held
    // for this run only and the status says so, until there is room; the
    // next NG save makes the file and keeps the NG across a restart.
    void latchFileMadeWhenThereIsRoom()
    {
        TestWorkDir dir;
        Rig rig;
        rig.standard();
        // No room: the file's making place is taken (as a full disk refuses it).
        QVERIFY(QDir().mkdir(MouldCycle::latchFile() + ".new"));
        rig.start();
        QVERIFY(rig.status->ngLatchUnkept);
        for (const char* e : {"u3", "ng0", "t"})
            QVERIFY(rig.play(e));
        QCOMPARE(rig.status->detectState, int(DetectState::NgLatched));
        QVERIFY(rig.status->ngLatchUnkept);
        QVERIFY(!MouldCycle::LatchOnDisk());
        QCOMPARE(rig.board.sent, 7);   // held all the same
        QVERIFY(QDir().rmdir(MouldCycle::latchFile() + ".new"));
        // The cavity opens while the NG waits: owed, and the NG saved again.
        for (const char* e : {"d3", "u4"})
            QVERIFY(rig.play(e));
        QVERIFY(!rig.status->ngLatchUnkept);
        QVERIFY(MouldCycle::LatchOnDisk());
        QVERIFY(rig.play("restart"));
        QCOMPARE(rig.status->detectState, int(DetectState::NgLatched));
        QCOMPARE(rig.board.sent, 7);
    }

    // A judged step's stages in their order, each known or logged as
    // unknown: an edge the board saw long before the countdown (a held one)
    // and an output frame not yet written are not taken for this step's.
    void stages_data()
    {
        QTest::addColumn<qint64>("edgeAgeMs");
        QTest::addColumn<bool>("writes");
        QTest::newRow("edge of this pass, frame written") << qint64(0) << true;
        QTest::newRow("edge of long ago") << qint64(5000) << true;
        QTest::newRow("frame not yet written") << qint64(0) << false;
    }
    void stages()
    {
        QFETCH(qint64, edgeAgeMs);
        QFETCH(bool, writes);
        TestWorkDir dir;
        numCamera = 2;
        gDNum = 2;
        Rig rig;
        rig.words[Word::StepEnabled0] = 1;
        rig.words[Word::TriggerInput0] = 3;
        rig.words[Word::TriggerDelay0] = 1;
        rig.start();
        rig.board.writes = writes;
        rig.board.writtenNs = 0;
        rig.board.edgeNs = steadyNow() - edgeAgeMs * 1000000;
        QVERIFY(rig.play("u3"));
        QVERIFY(rig.play("t"));
        const MouldCycle::DecisionStages s = rig.cycle->lastStages();
        const QString line = MouldCycle::stagesLine(0, s);
        QVERIFY2(line.startsWith("step 1 stages: edge_to_countdown "), qPrintable(line));
        QCOMPARE(line.split(' ').size(), 21);
        if (edgeAgeMs == 0) {
            QCOMPARE(s.edgeSeen, rig.board.edgeNs);
            QVERIFY(s.countdownStarted >= s.edgeSeen);
        } else {
            QCOMPARE(s.edgeSeen, qint64(0));
            QVERIFY2(line.contains("edge_to_countdown - "), qPrintable(line));
        }
        QVERIFY(s.countdownStarted > 0);
        QVERIFY(s.countdownDue >= s.countdownStarted && s.countdownDue <= s.countdownEnd);
        const qint64 order[] = {s.countdownEnd, s.framesPulled, s.judged, s.handedOver, s.decided, s.after};
        for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i)
            QVERIFY2(order[i] >= order[i - 1] && order[i - 1] > 0, qPrintable(line));
        QCOMPARE(s.written, writes ? rig.board.writtenNs : qint64(0));
        QVERIFY2(writes ? s.written >= s.handedOver : line.contains("written - "), qPrintable(line));
        QVERIFY2(!line.contains(" late -") && !line.contains(" frames -"), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestMouldCycle)
#include "tst_mouldcycle.moc"
