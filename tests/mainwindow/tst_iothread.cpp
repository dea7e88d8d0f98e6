// The board link end to end over a pseudo-terminal with the board simulator.
#include "boardsim.h"
#include "controlport.h"
#include "globals.h"
#include "posix_qextserialport.h"

#include <QMutexLocker>
#include <QSignalSpy>
#include <QtTest>

class TestIoThread : public QObject {
    Q_OBJECT
    BoardSimulator* sim = nullptr;
    IOThread* thread = nullptr;

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
