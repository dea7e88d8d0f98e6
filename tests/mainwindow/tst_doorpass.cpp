// The door pass of a product NG (word 158) end to end: the board simulator
// on a pseudo-terminal, the replay camera plug-in, the main window's start-up
// and the engine. A process of its own: the camera plug-in's control socket
// lives as long as the process.
#include "cameraviews.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "cyclerig.h"
#include "drawroiwidget.h"
#include "lanstr.h"
#include "mouldcycle.h"
#include "rivurevezi.h"
#include "scriptedoutputs.h"
#include "testworkdir.h"
#include "wizardpara.h"

#include <QtTest>

namespace {
// Generous: sanitised builds on a loaded machine judge many times slower.
constexpr int kCycleWait = 30000;
const QString kControl = QStringLiteral("vmm-doorpass-test-%1").arg(QCoreApplication::applicationPid());

bool cameraCommand(const QString& line) { return cyclerig::cameraCommand(kControl, line); }
}  // namespace

using namespace cyclerig;

class TestDoorPass : public QObject {
    Q_OBJECT
    BoardSimulator sim;

    static int wire(int logical, int out) { return wireLevel(logical, out); }
    void pulseMouldOpen() { cyclerig::pulseMouldOpen(sim); }

private slots:
    void initTestCase()
    {
        startBoardAndCamera(sim, kControl, QStringLiteral("DOORPASS-00001"));
        initLanStr();
    }

    // Word 158: a product NG latched, the door opened and closed: the NG is
    // passed, the ejector freed, and the mould cavity judged again on a
    // fresh picture before the clamp is freed; a cavity still NG is latched
    // and held as any.
    void doorPassesProductNgAndRechecksTheCavity()
    {
        TestWorkDir wd;
        copyDatabases(QStringLiteral(VMM_BUILD_DIR), "libcamera_replay.so");
        gAppDirPath = wd.path();
        putWideRegions("PARAM.db", 1, 20);
        editWords("PARAM.db", [](int* w) {
            w[144] = 0;
            w[158] = 1;
            w[100] = 1;    // the product step on
            w[40] = 1;     // the product judged first,
            w[41] = 20;    // the cavity's countdown ends while its NG waits
        });
        if (QTest::currentTestFailed())
            return;
        sim.setInputs(kDoorClosed);
        auto* win = new RiVuRevezi(nullptr);
        const auto closeWindow = closeAtEnd(win);
        QVERIFY(win->StartUp());
        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(!gisSafeDoorOpen, 5000);
        pulseMouldOpen();   // the templates
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer12/template0.bmp") && !win->cycle().cycleOpen, kCycleWait);
        QVector<QPair<int, int>> decided;   // step, door flag while it was decided
        ScriptedOutputs outputs;
        outputs.onCycleStepDone = [&](int step, bool) { decided.append({step, win->cycle().safeDoorDetect}); };
        const auto productNg = [&] {
            QVERIFY(cameraCommand("* defect shortshot"));
            const quint64 before = CameraViews::at(0)->frameCount();
            QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(0)->frameCount() > before + 1, 5000);
            pulseMouldOpen();
            QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
            QCOMPARE(win->cycle().detectStep, 0);
            // The cavity's countdown ends under the NG: owed, not judged.
            QTRY_VERIFY_WITH_TIMEOUT(win->mould->stepOwed(1) && !win->mould->countdownActive(1), kCycleWait);
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 1), wire(1, 1), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(1, 2), 5000);
            QCOMPARE(outBit(sim.outputs(), 0), wire(1, 0));
        };

        // A clear mould: the product passed, the cavity judged OK, all free.
        productNg();
        QVERIFY(cameraCommand("* defect none"));
        const quint64 frames = CameraViews::at(0)->frameCount();
        QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(0)->frameCount() > frames + 1, 5000);
        decided.clear();
        cycleDoor(sim);
        QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen, kCycleWait);
        QCOMPARE(decided, (QVector<QPair<int, int>>{{0, 0}, {1, 1}}));
        QCOMPARE(win->cycle().detectState, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!win->drawROIWidget->isVisible(), 5000);
        for (int out : {0, 1, 2})
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), out), wire(0, out), 5000);

        // Something left in the mould: the product passes, the cavity's NG
        // is latched, the clamp stays forbidden and the alarm rises.
        productNg();
        decided.clear();
        cycleDoor(sim);
        QTRY_COMPARE_WITH_TIMEOUT(decided.size(), 2, kCycleWait);
        QCOMPARE(decided[1], qMakePair(1, 1));
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(win->cycle().detectStep, 1);
        QVERIFY(MouldCycle::LatchOnDisk());
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 1), wire(0, 1), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 0), wire(1, 0), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(1, 2), 5000);
        QVERIFY(cameraCommand("* defect none"));
        win->StopDetect();
    }
};

QTEST_MAIN(TestDoorPass)
#include "tst_doorpass.moc"
