// The board link end to end over a pseudo-terminal with the board simulator.
#include "boardsim.h"
#include "controlport.h"
#include "globals.h"
#include "inplacerecord.h"
#include "posix_qextserialport.h"
#include "quietcycle.h"
#include "testworkdir.h"
#include "wizardpara.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class TestIoThread : public QObject {
    Q_OBJECT
    BoardSimulator* sim = nullptr;
    IOThread* thread = nullptr;
    // The line as the board saw it: (to the board, command, value) in order.
    std::mutex lineMutex;
    std::vector<std::tuple<bool, int, int>> line;

    void setOut(int w)
    {
        QMutexLocker l(pMutexIO);
        gDataOut = w;
    }
    int dataIn()
    {
        QMutexLocker l(pMutexIO);
        return gDataIn;
    }

private slots:
    void init()
    {
        if (!pMutexIO)
            pMutexIO = new QMutex;
        sim = new BoardSimulator;
        {
            std::lock_guard<std::mutex> l(lineMutex);
            line.clear();
        }
        sim->setTap([this](bool toBoard, int command, int value) {
            std::lock_guard<std::mutex> l(lineMutex);
            line.emplace_back(toBoard, command, value);
        });
        QVERIFY(sim->open());
        sim->start();
        qputenv("VMM_COM_PORT", sim->slaveName().toLocal8Bit());
        delete gpCom;
        gpCom = nullptr;
        ComInit();
        gIOID = 1;
        gDataIn = 0;
        setOut(0);
        gInputRiseLatch = 0;
        {
            QMutexLocker l(pMutexIO);
            gEdgeHolds = EdgeHolds{};
        }
        touchRunStamp();
        thread = new IOThread;
    }
    void cleanup()
    {
        thread->stop();
        thread->wait();
        delete thread;
        sim->stop();
        delete sim;
        delete gpCom;
        gpCom = nullptr;
    }

    // Every output off in its wiring sense from the first word the port
    // publishes (an inverted output is off with its bit set, output 4 a copy
    // of the one it follows), and an output whose inversion word changes
    // keeps its level in the machine's sense.
    void outputsOffInTheirWiringSense_data()
    {
        QTest::addColumn<int>("inverted");   // bit per output 0-8: its inversion word set
        QTest::addColumn<int>("follow");     // word 147
        QTest::addColumn<int>("offWord");
        QTest::newRow("straight") << 0 << 0 << 0;
        QTest::newRow("the demo's: the alarm inverted") << 0b100 << 0 << 0b100;
        QTest::newRow("clamp, ejector and alarm inverted") << 0b111 << 0 << 0b111;
        QTest::newRow("output 4 follows the inverted alarm") << 0b100 << 3 << 0b1100;
    }
    void outputsOffInTheirWiringSense()
    {
        QFETCH(int, inverted);
        QFETCH(int, follow);
        QFETCH(int, offWord);
        WizardPara para;
        for (int n = 0; n <= 8; ++n)
            para.words[Word::OutputInverted0 + n] = (inverted >> n) & 1;
        para.words[Word::Output4Follows] = follow;
        gpWPara = &para;
        const auto restore = qScopeGuard([] { gpWPara = nullptr; });
        ControlPort port;
        QCOMPARE(port.wantedOut(), offWord);
        QCOMPARE(int(gDataOut), offWord);
        // The alarm sounds; its wiring is turned over while it does, and
        // back while it is off: on, then off, in the machine's sense.
        const int alarm = 1 << 2;
        port.IOSetOut(2, 1);
        port.IOFlashOut();
        QCOMPARE(gDataOut & alarm, ~offWord & alarm);
        para.words[Word::OutputInverted0 + 2] ^= 1;
        port.IOFlashOut();
        QCOMPARE(gDataOut & alarm, offWord & alarm);
        QCOMPARE(gDataOut & ~alarm & ~(1 << 3), offWord & ~alarm & ~(1 << 3));
        port.IOSetOut(2, 0);
        para.words[Word::OutputInverted0 + 2] ^= 1;
        port.IOFlashOut();
        QCOMPARE(int(gDataOut), offWord);
    }

    void inputsReachTheCycle_data()
    {
        QTest::addColumn<bool>("faulty");
        QTest::newRow("clean line") << false;
        QTest::newRow("garbage, split, corrupt and dropped replies") << true;
    }
    void inputsReachTheCycle()
    {
        QFETCH(bool, faulty);
        if (faulty)
            sim->setFaults({3, 2, 5, 7});
        QSignalSpy spy(thread, &IOThread::sigIOChange);
        thread->start();
        sim->setInputs(0x205);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x205, 5000);
        // The change is signalled after the word is stored: wait for it too.
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 5000);
        QCOMPARE(gInputRiseLatch.load() & 0x205, 0x205);
        sim->setInputs(0x001);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x001, 5000);
    }

    // A reply on the line before this run asked anything (a run before
    // left it unread, the mould open then) is no report of the board: the
    // first inputs are those of a reply to this run's own request. Left
    // there before the port opens, or after.
    void firstReportIsAnAnswer_data()
    {
        QTest::addColumn<bool>("beforeOpen");
        QTest::newRow("left before the port opened") << true;
        QTest::newRow("arrived after it opened") << false;
    }
    void firstReportIsAnAnswer()
    {
        QFETCH(bool, beforeOpen);
        sim->setInputs(0);
        if (beforeOpen) {
            delete gpCom;
            gpCom = nullptr;
            sim->writeRaw(BoardSimulator::reply2(0x011, 0));
            QTest::qWait(50);
            ComInit();
            QCOMPARE(gpCom->bytesAvailable(), 0);   // emptied at open
        } else {
            sim->writeRaw(BoardSimulator::reply2(0x011, 0));
            QTRY_VERIFY_WITH_TIMEOUT(gpCom->bytesAvailable() >= 8, 5000);
        }
        takeInputEdges();   // nothing of a test before
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        int found = -1;
        QCOMPARE(takeInputEdges(&found), 0);
        QCOMPARE(found, 0);
        QCOMPARE(dataIn(), 0);
    }

    void outputsAreResentBeforeTheRequest()
    {
        thread->start();
        setOut(0x203);
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x203, 5000);
        const auto h = sim->history();
        int firstSet = -1;
        for (int i = 0; i < int(h.size()); ++i)
            if (h[i].first == 1) {
                firstSet = i;
                break;
            }
        QVERIFY(firstSet > 0);                  // only after a reply showed the difference
        QCOMPARE(h[firstSet].second, 0x203);
        QVERIFY(firstSet + 1 < int(h.size()));
        QCOMPARE(h[firstSet + 1].first, 2);     // then the pass's own request
        QCOMPARE(h[firstSet - 1].first, 2);
    }

    void handedOverOutputsAreWrittenWithoutAReply()
    {
        // A board that answers nothing: only the hand-over can get the word out.
        sim->setFaults({0, 0, 0, 1});
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        QCOMPARE(sim->framesOf(1), 0);
        setOut(0x105);
        thread->handOver();
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x105, 5000);
        // Written once: the same word handed over again is not repeated.
        thread->handOver();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 10, 5000);
        QCOMPARE(sim->framesOf(1), 1);
    }

    void shortPulseIsLatched()
    {
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        sim->setInputs(0x010);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x010, 5000);
        sim->setInputs(0);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0, 5000);
        // The level is gone, the edge is still there for the cycle to see.
        QCOMPARE(gInputRiseLatch.exchange(0) & 0x010, 0x010);
    }

    // The cycle's table says an edge of input 0 holds output 1 (and, wired
    // inverted, clears output 4). The thread that runs the cycle is blocked
    // here on purpose: it runs no events and hands nothing over, yet the
    // hold reaches the board, and the first output frame after the edge is
    // the hold. A stale word handed over before the cycle took the edge
    // keeps the hold, one handed over with a table that holds more for the
    // edge holds that too; the word after the cycle took it frees it.
    void edgeHoldWithoutTheCycle()
    {
        {
            QMutexLocker l(pMutexIO);
            gEdgeHolds.on[0] = 0x002;
            gEdgeHolds.off[0] = 0x010;
        }
        setOut(0x010);
        thread->start();
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x010, 5000);
        // Blocked: only the simulator's own state is watched, no events.
        // (How many requests the simulator takes between its reply and the
        // hold depends on when it is scheduled, not on this program.)
        sim->setInputs(0x001);
        QElapsedTimer waited;
        waited.start();
        while (sim->outputs() != 0x002 && waited.elapsed() < 30000)
            QThread::yieldCurrentThread();
        QCOMPARE(sim->outputs(), 0x002);
        {
            std::lock_guard<std::mutex> l(lineMutex);
            size_t reply = 0;
            while (reply < line.size() && !(!std::get<0>(line[reply]) && std::get<1>(line[reply]) == 2 &&
                                            (std::get<2>(line[reply]) & 1)))
                ++reply;
            QVERIFY(reply < line.size());
            size_t i = reply + 1;
            while (i < line.size() && !(std::get<0>(line[i]) && std::get<1>(line[i]) == 1))
                ++i;
            QVERIFY(i < line.size());
            QCOMPARE(std::get<2>(line[i]), 0x002);
        }
        QCOMPARE(gInputRiseLatch.load() & 1, 1);

        // A word the cycle handed over before it took the edge.
        QVERIFY(!publishOutputs(0x010));
        thread->handOver();
        int requests = sim->framesOf(2);
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > requests + 5, 5000);
        QCOMPARE(sim->outputs(), 0x002);
        // The cycle's table changed before it took the edge (its open cycle
        // closed, so the edge opens the next): the word it hands over with
        // that table holds what the table says for the edge.
        {
            QMutexLocker l(pMutexIO);
            gEdgeHolds.on[0] = 0x003;
        }
        QVERIFY(publishOutputs(0x010));
        thread->handOver();
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x003, 5000);
        // The cycle took the edge and decided nothing holds: freed.
        QCOMPARE(takeInputEdges() & 1, 1);
        QVERIFY(publishOutputs(0x010));
        thread->handOver();
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x010, 5000);
    }

    // Every sync of the record file is stuck (a slow disk). The opening is
    // held and marked in the cycle's own record file all the same, by the
    // cycle's own path (its sync handed to the record's thread, never done
    // on this one), and the polls go on: a short trigger of the next step,
    // on and off again while the sync waits, is seen and latched.
    void slowSyncStopsNoPoll()
    {
        TestWorkDir dir;
        QuietCycle quiet;
        std::mutex m;
        std::condition_variable cv;
        int syncing = 0;
        bool release = false;
        InPlaceRecord::setSyncSeam([&] {
            std::unique_lock<std::mutex> l(m);
            ++syncing;
            cv.notify_all();
            cv.wait(l, [&] { return release; });
        });
        // Also when a check fails: the syncs go on, the recorder goes.
        const auto unblock = qScopeGuard([&] {
            {
                std::lock_guard<std::mutex> l(m);
                release = true;
            }
            cv.notify_all();
            setEdgeRecorder(nullptr);
            thread->stop();
            thread->wait();
            InPlaceRecord::setSyncSeam(nullptr);
        });
        setEdgeRecorder([&](int edges, int found, quint64 seq) { quiet.cycle->edgeOnWire(edges, found, seq); });
        {
            QMutexLocker l(pMutexIO);
            gEdgeHolds.on[0] = 0x001;
        }
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        sim->setInputs(0x001);
        QTRY_COMPARE_WITH_TIMEOUT(sim->outputs(), 0x001, 5000);
        // The mark's sync waits now.
        {
            std::unique_lock<std::mutex> l(m);
            QVERIFY(cv.wait_for(l, std::chrono::seconds(30), [&] { return syncing >= 1; }));
        }
        QByteArray onDisk;
        QCOMPARE(InPlaceRecord::read(MouldCycle::latchFile(), &onDisk), InPlaceRecord::State::Valid);
        QVERIFY2(onDisk.contains("\nedge=1\n"), onDisk.constData());
        sim->setInputs(0x005);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x005, 5000);
        sim->setInputs(0x001);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x001, 5000);
        QCOMPARE(gInputRiseLatch.load() & 0x005, 0x005);
        std::lock_guard<std::mutex> l(m);
        QVERIFY(!release);   // still waiting
    }

    // A board that stops answering, and answers again with an edge: the
    // silence is reported while it lasts, and its end together with the
    // edge of the reply that ended it, for the cycle's pass to take.
    void repliesFarApartAreReported()
    {
        thread->start();
        sim->setInputs(0x001);
        QTRY_COMPARE_WITH_TIMEOUT(dataIn(), 0x001, 5000);
        takeInputEdges();
        const quint64 before = pollGapsTaken().count;
        sim->setFaults({0, 0, 0, 1});
        // (A pass held up by the load may end a gap first: the silence is
        // the report that says it still lasts.)
        QTRY_VERIFY_WITH_TIMEOUT((takeInputEdges(), pollGapsTaken().count > before && pollGapsTaken().ongoing), 5000);
        // Once the silence is a fault, again (still lasting).
        QTRY_VERIFY_WITH_TIMEOUT(
            (takeInputEdges(), pollGapsTaken().ongoing && pollGapsTaken().lastMs > IOThread::kSilenceMs), 5000);
        const quint64 silent = pollGapsTaken().count;
        sim->setInputs(0x011);
        sim->setFaults({});
        QTRY_VERIFY_WITH_TIMEOUT((takeInputEdges() & 0x010) != 0 || dataIn() == 0x011, 5000);
        takeInputEdges();
        const CycleBoard::PollGaps gaps = pollGapsTaken();
        QVERIFY(gaps.count > silent);
        QVERIFY(gaps.lastMs > IOThread::kPollGapMs);
        QVERIFY(!gaps.ongoing);
        QCOMPARE(gaps.endSeq, inputEdgesTakenSeq());
    }

    // The thread asks for a real-time priority as it starts and says once
    // what it got.
    void schedulingIsSaidOnce()
    {
        static QStringList heard;
        heard.clear();
        const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
            if (msg.startsWith(QLatin1String("I/O thread: real-time priority")))
                heard << msg;
        });
        const auto restore = qScopeGuard([before] { qInstallMessageHandler(before); });
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        QCOMPARE(heard.size(), 1);
    }

    void watchdogStopsAndResumes()
    {
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 3, 5000);
        gRunStampMs = monotonic_ms() - IOThread::kWatchdogMs - 1000;
        QTest::qWait(1200);  // the thread finishes its current pass and stalls
        const int stalled = sim->framesOf(2);
        QTest::qWait(600);
        QCOMPARE(sim->framesOf(2), stalled);
        touchRunStamp();
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > stalled, 5000);
    }

    void noFramesWhileIdIsZero()
    {
        gIOID = 0;
        thread->start();
        QTest::qWait(300);
        QCOMPARE(sim->framesOf(2), 0);
        gIOID = 1;
        QTRY_VERIFY_WITH_TIMEOUT(sim->framesOf(2) > 0, 5000);
    }
};

QTEST_GUILESS_MAIN(TestIoThread)
#include "tst_iothread.moc"
