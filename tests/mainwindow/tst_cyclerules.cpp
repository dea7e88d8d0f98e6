// The step decisions of the moulding cycle without cameras or board: which
// interlock each decision frees or holds in the four detection modes, what
// counts, when a cycle closes, what an NG leaves on disk, and the rights'
// logout timer. Views without a camera stand in for the cameras; their
// verdicts are set by hand.
#include "cammerwidget.h"
#include "controlport.h"
#include "kitlinks.h"
#include "passwordbox.h"
#include "rivurevezi.h"
#include "testworkdir.h"
#include "wizardpara.h"

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
            win->cammerWidget[c] = new CammerWidget(win, c, _cameraInfo{});
        win->runState = 1;
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
        QTest::addColumn<int>("allDelta");       // gAllNum[0]
        QTest::addColumn<int>("failDelta");      // gFailNum[1]
        QTest::addColumn<int>("cycleDelta");     // gAllCycleNum[0]
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
        win->cycleOpen = true;
        win->cycleTrained = false;
        win->cameraHold = false;
        for (int k = 0; k < kMaxDetect; ++k) {
            win->stepOwed[k] = k < steps && !((decidedBefore >> k) & 1);
            win->stepDecided[k] = (decidedBefore >> k) & 1;
            if (k < steps && !win->stepDecided[k])
                gpControlIO->IOSetOut(win->StepInterlock(k), 1);
        }
        for (int c = 0; c < numCamera; ++c) {
            win->cammerWidget[c]->stepOk = !((failed >> c) & 1);
            win->stepTrained[c] = trained && c == 0;
            win->unjudged[c] = false;
        }
        win->cycleTrained = trained;
        win->detectStep = step;
        const int all0 = gAllNum[0], fail1 = gFailNum[1], cycles0 = gAllCycleNum[0];

        win->CheckNG(manual);

        QCOMPARE(gpControlIO->wantedOut() & 0x3ff, outputs);
        QCOMPARE(win->detectState, latched ? 2 : 1);
        QCOMPARE(QFile::exists(RiVuRevezi::latchFile()), latched);
        QCOMPARE(gAllNum[0] - all0, allDelta);
        QCOMPARE(gFailNum[1] - fail1, failDelta);
        QCOMPARE(gAllCycleNum[0] - cycles0, cycleDelta);
        QCOMPARE(win->cycleOpen, latched || step != steps - 1);
        QCoreApplication::processEvents();   // an owed step is judged now, within this folder
    }

    // A resolved product NG: the cavity step, owed since the same edge, is
    // judged at once; these views have no camera, so it ends unjudged.
    void owedStepJudgedAfterResolution()
    {
        TestWorkDir wd;
        configure(0, 2);
        win->cycleOpen = true;
        win->stepOwed[0] = win->stepOwed[1] = true;
        win->stepDecided[0] = win->stepDecided[1] = false;
        win->cammerWidget[0]->stepOk = win->cammerWidget[1]->stepOk = true;
        win->detectStep = 0;
        win->CheckNG(true);
        QTRY_COMPARE(win->detectStep, 1);
        QCOMPARE(win->detectState, 2);
        QCOMPARE(win->alarmCode[0 * kMaxDetect + 1], RiVuRevezi::kCodeCameraLost);
        QVERIFY(win->cycleOpen);
        QCOMPARE((gpControlIO->wantedOut() >> 2) & 1, 1);
    }

    void restartHoldsTheLatchedNg_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("failedCamera");
        QTest::newRow("cavity NG") << QByteArray("[latch]\nstep=1\nfailed=2\nlost=0\nowed=2\ndecided=1\n") << 1 << 1;
        QTest::newRow("garbled file") << QByteArray("[latch]\nstep=9\nfailed=x\n") << 0 << 0;
    }
    void restartHoldsTheLatchedNg()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, step);
        QFETCH(int, failedCamera);
        TestWorkDir wd;
        configure(0, 2);
        QFile f(RiVuRevezi::latchFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
        f.close();
        for (int n = 0; n < 10; ++n)
            gpControlIO->IOSetOut(n, 0);
        QVERIFY(win->RestoreLatchedNg());
        QCOMPARE(win->detectState, 2);
        QCOMPARE(win->runStep, step);
        QVERIFY(!win->cammerWidget[failedCamera]->stepOk);
        const int out = gpControlIO->wantedOut();
        QCOMPARE((out >> 2) & 1, 1);                        // alarm
        QCOMPARE((out >> win->StepInterlock(step)) & 1, 1); // the NG step's interlock
        win->StopDetect();
        QVERIFY(!QFile::exists(RiVuRevezi::latchFile()));
        win->runState = 1;
    }

    void rightsExpire()
    {
        kitlinks::Links links;
        links.paraWord = [](int n) { return n == 98 ? 1 : 0; };
        links.operatorPassword = [] { return QByteArray("4321"); };
        kitlinks::install(links);
        gpWPara->words[108] = 1;
        win->rightsLevel = 0;
        gpPasswordBox->findChild<QLineEdit*>()->setText(QStringLiteral("4321"));
        gpPasswordBox->accept();
        QCOMPARE(win->rightsLevel, 1);
        QVERIFY(win->logoutTimer->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(win->rightsLevel, 0, 5000);
        kitlinks::reset();
    }
};

QTEST_MAIN(TestCycleRules)
#include "tst_cyclerules.moc"
