// The step decisions of the moulding cycle in the four detection modes, with
// views without a camera whose verdicts are set by hand; the logout timer;
// and an input edge on the board waking the cycle at once.
#include "boardsim.h"
#include "counted.h"
#include "cameraviews.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "globals.h"
#include "cyclecontrol.h"
#include "inplacerecord.h"
#include "lanstr.h"
#include "operatordialogs.h"
#include "passwordbox.h"
#include "posix_qextserialport.h"
#include "mouldcycle.h"
#include "mouldcycleprobe.h"
#include "rivurevezi.h"
#include "testworkdir.h"
#include "wizardpara.h"
#include "operatorrights.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

class TestCycleRules : public QObject {
    Q_OBJECT
    RiVuRevezi* win = nullptr;

    void configure(int mode, int steps)
    {
        int* w = gpWPara->words;
        for (int n = 76; n <= 84; ++n)
            w[n] = 0;            // outputs wired straight
        w[147] = 0;
        w[175] = mode;
        w[217] = steps;
        gDNum = steps;
        for (int k = 0; k < kMaxDetect; ++k) {
            w[86 + k] = k < steps ? 1 : 0;
            w[49 + k] = 255;
        }
    }

private slots:
    void initTestCase()
    {
        qputenv("VMM_COM_PORT", "/nonexistent/tty");
        pMutexIO = new QMutex;
        pMutexSaveFail = new QMutex;
        gpWPara = new WizardPara;
        win = new RiVuRevezi;
        gpWin = win;
        gpControlIO = new ControlPort(win);
        numCamera = 2;
        for (int c = 0; c < numCamera; ++c)
            CameraViews::set(c, new CammerWidget(win, c, _cameraInfo{}));
        win->cycleStatus().runState = 1;
    }

    void decisions_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("decidedBefore");  // steps already passed in this cycle
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("failed");         // cameras NG, bit per camera
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("trained");       // camera 0 took a template at this step
        QTest::addColumn<int>("outputs");        // logical output word afterwards
        QTest::addColumn<int>("allDelta");       // counted().all[0]
        QTest::addColumn<int>("failDelta");      // counted().fail[1]
        QTest::addColumn<int>("cycleDelta");     // counted().allCycle[0]
        QTest::addColumn<bool>("latched");       // NG latched and kept on disk
        //                          mode steps before step failed manual trained  outputs   all fail cyc latched
        QTest::newRow("standard product OK") << 0 << 2 << 0 << 0 << 0 << false << false << 0b001 << 1 << 0 << 0 << false;
        QTest::newRow("standard cavity OK closes") << 0 << 2 << 1 << 1 << 0 << false << false << 0b000 << 1 << 0 << 1 << false;
        QTest::newRow("standard product NG") << 0 << 2 << 0 << 0 << 2 << false << false << 0b111 << 1 << 1 << 0 << true;
        QTest::newRow("standard cavity NG") << 0 << 2 << 1 << 1 << 2 << false << false << 0b101 << 1 << 1 << 0 << true;
        QTest::newRow("manual re-detect still NG counts nothing") << 0 << 2 << 1 << 1 << 1 << true << false << 0b101 << 0 << 0 << 0 << true;
        QTest::newRow("manual pass at the last step closes") << 0 << 2 << 1 << 1 << 0 << true << false << 0b000 << 0 << 0 << 1 << false;
        QTest::newRow("manual pass of the product leaves the cavity owed") << 0 << 2 << 0 << 0 << 0 << true << false << 0b001 << 0 << 0 << 0 << false;
        QTest::newRow("template cycle is no OK cycle") << 0 << 2 << 1 << 1 << 0 << false << true << 0b000 << 0 << 0 << 0 << false;
        QTest::newRow("two-colour right product") << 1 << 4 << 0b0011 << 2 << 0 << false << false << 0b001 << 1 << 0 << 0 << false;
        QTest::newRow("two-colour right cavity NG") << 1 << 4 << 0b0111 << 3 << 1 << false << false << 0b101 << 1 << 0 << 0 << true;
        QTest::newRow("turntable left cavity OK, right cavity still holds the clamp") << 2 << 4 << 0b0001 << 1 << 0 << false << false << 0b011 << 1 << 0 << 0 << false;
        QTest::newRow("multiple first step") << 3 << 3 << 0 << 0 << 0 << false << false << 0b1001 << 1 << 0 << 0 << false;
        QTest::newRow("multiple middle step NG") << 3 << 3 << 0b001 << 1 << 2 << false << false << 0b1101 << 1 << 1 << 0 << true;
        QTest::newRow("multiple last step closes") << 3 << 3 << 0b011 << 2 << 0 << false << false << 0b0000 << 1 << 0 << 1 << false;
    }
    void decisions()
    {
        QFETCH(int, mode);
        QFETCH(int, steps);
        QFETCH(int, decidedBefore);
        QFETCH(int, step);
        QFETCH(int, failed);
        QFETCH(bool, manual);
        QFETCH(bool, trained);
        QFETCH(int, outputs);
        QFETCH(int, allDelta);
        QFETCH(int, failDelta);
        QFETCH(int, cycleDelta);
        QFETCH(bool, latched);
        TestWorkDir wd;
        configure(mode, steps);

        // A cycle opened on one mould-open edge: every step triggered and
        // held; the steps decided before were freed.
        for (int n = 0; n < 10; ++n)
            gpControlIO->IOSetOut(n, 0);
        win->cycleStatus().cycleOpen = true;
        win->cycleStatus().cycleTrained = false;
        MouldCycleProbe::setCameraHold(*win->mould, false);
        for (int k = 0; k < kMaxDetect; ++k) {
            const bool decided = (decidedBefore >> k) & 1;
            MouldCycleProbe::setStepOwed(*win->mould, k, k < steps && !decided);
            MouldCycleProbe::setStepDecided(*win->mould, k, decided);
            if (k < steps && !decided)
                gpControlIO->IOSetOut(win->StepInterlock(k), 1);
        }
        for (int c = 0; c < numCamera; ++c) {
            CameraViews::at(c)->stepOk = !((failed >> c) & 1);
            MouldCycleProbe::setStepTrained(*win->mould, c, trained && c == 0);
            MouldCycleProbe::setUnjudged(*win->mould, c, false);
        }
        win->cycleStatus().cycleTrained = trained;
        win->cycleStatus().detectStep = step;
        const int all0 = counted().all[0], fail1 = counted().fail[1], cycles0 = counted().allCycle[0];
        // An NG is on disk before any output announces it.
        int outAtLatch = -1;
        bool onDiskAtLatch = false;
        win->mould->setAfterLatchWritten([&] {
            outAtLatch = gpControlIO->wantedOut() & 0x3ff;
            onDiskAtLatch = MouldCycle::LatchOnDisk();
        });

        win->CheckNG(manual);
        win->mould->setAfterLatchWritten(nullptr);
        QCOMPARE(outAtLatch >= 0, latched);
        if (latched) {
            QVERIFY(onDiskAtLatch);
            QCOMPARE(outAtLatch & 0b100, 0);
        }

        QCOMPARE(gpControlIO->wantedOut() & 0x3ff, outputs);
        QCOMPARE(win->cycle().detectState, latched ? 2 : 1);
        QCOMPARE(MouldCycle::LatchOnDisk(), latched);
        QCOMPARE(counted().all[0] - all0, allDelta);
        QCOMPARE(counted().fail[1] - fail1, failDelta);
        QCOMPARE(counted().allCycle[0] - cycles0, cycleDelta);
        QCOMPARE(win->cycle().cycleOpen, latched || step != steps - 1);
        QCoreApplication::processEvents();   // an owed step is judged now, within this folder
    }

    // A latch the previous run left: this version's file, or the file of an
    // earlier version (taken up, then kept in this version's file). One that
    // cannot be read still means the machine stopped on an NG: the first
    // step's interlock and the alarm are held.
    void storedLatchIsHeld_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("failedCameras");
        QTest::addColumn<int>("outputs");
        const QByteArray old("[latch]\nstep=1\nfailed=1\nlost=0\nowed=3\ndecided=1\ntime=2026-12-01T10:00:00\n");
        QTest::newRow("earlier version's file") << "nglatch.ini" << old << 1 << 0b01 << 0b101;
        QTest::newRow("earlier version's file, garbled") << "nglatch.ini" << QByteArray("[latch]\nstep=9\nfailed=x\n") << 0
                                                         << 0b11 << 0b111;
        QTest::newRow("this version's file, garbled") << "nglatch.dat" << QByteArray("[latch]\nstep=9\nfailed=x\n") << 0
                                                      << 0b11 << 0b111;
    }
    void storedLatchIsHeld()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, step);
        QFETCH(int, failedCameras);
        QFETCH(int, outputs);
        TestWorkDir wd;
        configure(0, 2);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        for (int n = 0; n < 10; ++n)
            gpControlIO->IOSetOut(n, 0);
        MouldCycleProbe::reopenLatchFile(*win->mould);
        QVERIFY(win->RestoreLatchedNg());
        QCOMPARE(win->cycle().detectState, 2);
        QCOMPARE(win->cycle().detectStep, step);
        for (int c = 0; c < 2; ++c)
            QCOMPARE(CameraViews::at(c)->stepOk, !((failedCameras >> c) & 1));
        QCOMPARE(gpControlIO->wantedOut() & 0b111, outputs);
        // Kept in this version's file from now on, at its full size.
        QVERIFY(!QFile::exists(MouldCycle::oldLatchFile()));
        QCOMPARE(QFileInfo(MouldCycle::latchFile()).size(), 8192);
        QVERIFY(MouldCycle::LatchOnDisk());
        MouldCycleProbe::reopenLatchFile(*win->mould);
        configure(0, 2);
        QVERIFY(win->RestoreLatchedNg());
        QCOMPARE(win->cycle().detectStep, step);
        QCOMPARE(gpControlIO->wantedOut() & 0b111, outputs);
        win->StopDetect();
        QVERIFY(!MouldCycle::LatchOnDisk());
        QVERIFY(!win->RestoreLatchedNg());
        MouldCycleProbe::reopenLatchFile(*win->mould);
        win->cycleStatus().runState = 1;
    }

    void rightsExpire()
    {
        // Factory passwords on (word 98), operator password "4321".
        struct Words : CycleControl {
            int paraWord(int n) override { return n == 98 ? 1 : 0; }
        } words;
        struct Password : OperatorDialogs {
            QByteArray operatorPassword() override { return QByteArray("4321"); }
        } password;
        CycleControl* cycle = CycleControl::install(&words);
        OperatorDialogs* dialogs = OperatorDialogs::install(&password);
        gpWPara->words[108] = 1;
        OperatorRights::get().setRightsLevel(0);
        gpPasswordBox->findChild<QLineEdit*>()->setText(QStringLiteral("4321"));
        gpPasswordBox->accept();
        QCOMPARE(OperatorRights::get().rightsLevel(), 1);
        QVERIFY(win->logoutTimer->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(OperatorRights::get().rightsLevel(), 0, 5000);
        CycleControl::install(cycle);
        OperatorDialogs::install(dialogs);
    }

    // The machine opens again while a step still counts down: that opening
    // is held and counts the step down again once it is decided, never lost.
    void openingDuringACountdownIsHeld()
    {
        TestWorkDir wd;
        configure(0, 2);
        win->cycleStatus().runState = 1;
        win->cycleStatus().detectState = 0;
        win->cycleStatus().cycleOpen = false;
        gInputRiseLatch = 0;
        gpWPara->words[40] = gpWPara->words[41] = 5;
        const auto restore = qScopeGuard([this] {
            win->StopDetect();
            win->cycleStatus().runState = 1;
            QMutexLocker lock(pMutexIO);
            gDataIn = 0;
        });

        // The I/O thread latches the edge before it publishes the level: the
        // level a later pass reads is the same opening, not a second one.
        {
            QMutexLocker lock(pMutexIO);
            gDataIn = 0;
        }
        MouldCycleProbe::setLastInputs(*win->mould, 0);
        gInputRiseLatch.fetch_or(1);
        win->Run();
        QVERIFY(win->mould->countdownActive(0) && win->mould->countdownActive(1));
        {
            QMutexLocker lock(pMutexIO);
            gDataIn = 1;
        }
        win->Run();
        QVERIFY(!win->mould->edgeHeld(0) && !win->mould->edgeHeld(1));
        win->cycleStatus().countdownRemain[0] = 0.3f;
        gInputRiseLatch.fetch_or(1);   // the next opening, too early
        win->Run();
        QCOMPARE(win->cycle().countdownRemain[0], 0.3f);   // the running countdown goes on
        // Step 0 decided OK; its held opening starts its next countdown.
        MouldCycleProbe::setCountdownActive(*win->mould, 0, false);
        MouldCycleProbe::setStepDecided(*win->mould, 0, true);
        MouldCycleProbe::setStepOwed(*win->mould, 0, false);
        win->Run();
        QVERIFY(win->mould->countdownActive(0));
        QVERIFY(win->mould->stepOwed(0));
        QCOMPARE(win->cycle().countdownRemain[0], 0.5f);
        // Only once: no further pass starts it again.
        MouldCycleProbe::setCountdownActive(*win->mould, 0, false);
        win->Run();
        QVERIFY(!win->mould->countdownActive(0));
    }

    // The I/O thread learns from the cycle's pass what an edge of each input
    // holds, in the wiring's sense: both steps on the mould-open input, the
    // ejector wired inverted (held = its line low).
    void edgeHoldsReachTheIoThread()
    {
        TestWorkDir wd;
        configure(0, 2);
        win->cycleStatus().runState = 1;
        win->cycleStatus().detectState = 0;
        gpWPara->words[77] = 1;
        const auto restore = qScopeGuard([] { gpWPara->words[77] = 0; });
        win->Run();
        QMutexLocker lock(pMutexIO);
        QCOMPARE(gEdgeHolds.on[0], 0b001);
        QCOMPARE(gEdgeHolds.off[0], 0b010);
        QCOMPARE(gEdgeHolds.on[3] | gEdgeHolds.off[3], 0);
    }

    // While an NG could not be kept across a restart, the screen says so
    // (text row 713), and stops saying so once it can.
    void unkeptLatchIsShown()
    {
        initLanStr();
        win->cycleStatus().ngLatchUnkept = true;
        win->ShowLatchWarning();
        QVERIFY(win->latchWarning && !win->latchWarning->isHidden());
        QCOMPARE(win->latchWarning->text(), lanStr(713));
        QVERIFY(!lanStr(713).isEmpty());
        // ... and why an NG holds without a judgement, with it or alone.
        const QString why = lanStr(MouldCycle::kTextNotWatched).arg(2);
        win->cycleStatus().ngNote = why;
        win->ShowLatchWarning();
        QCOMPARE(win->latchWarningShown, lanStr(713) + '\n' + why);
        win->cycleStatus().ngLatchUnkept = false;
        win->ShowLatchWarning();
        QVERIFY(!win->latchWarning->isHidden());
        QCOMPARE(win->latchWarningShown, why);
        win->cycleStatus().ngNote.clear();
        win->ShowLatchWarning();
        QVERIFY(win->latchWarning->isHidden());
    }

    void inputEdgeWakesTheCycle()
    {
        BoardSimulator sim;
        QVERIFY(sim.open());
        sim.start();
        qputenv("VMM_COM_PORT", sim.slaveName().toLocal8Bit());
        delete gpControlIO;
        delete gpCom;
        gpCom = nullptr;
        {
            QMutexLocker lock(pMutexIO);
            gDataIn = 0;
        }
        gInputRiseLatch = 0;
        gpControlIO = new ControlPort(win);
        // The fallback timer cannot fire during the test: only the edge can
        // run a pass of the cycle before it.
        QTimer fallback;
        fallback.setSingleShot(true);
        bool timerFired = false;
        connect(&fallback, &QTimer::timeout, [&] { timerFired = true; });
        connect(&fallback, &QTimer::timeout, win, &RiVuRevezi::Run);
        win->runTimer = &fallback;
        const auto restore = qScopeGuard([this] {
            win->runTimer = nullptr;
            delete gpControlIO;   // stops the I/O thread
            qputenv("VMM_COM_PORT", "/nonexistent/tty");
            delete gpCom;
            gpCom = nullptr;
            gpControlIO = new ControlPort(win);
        });
        fallback.start(3600 * 1000);
        const int passes = win->passCount;
        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(sim.framesOf(2) > 3, 5000);
        QCOMPARE(win->passCount, passes);   // inputs unchanged: no pass
        // Queued behind Run: notes the first pass that saw the input.
        int seen = -1;
        connect(gpControlIO->ioThread(), &IOThread::sigIOChange, win, [&] {
            if (seen < 0 && (win->mould->lastInputs() & 0x20))
                seen = timerFired ? 0 : 1;
        });
        sim.setInputs(0x20);   // no step's trigger
        QTRY_VERIFY_WITH_TIMEOUT(seen >= 0, 5000);
        QCOMPARE(seen, 1);
    }
};

QTEST_MAIN(TestCycleRules)
#include "tst_cyclerules.moc"
