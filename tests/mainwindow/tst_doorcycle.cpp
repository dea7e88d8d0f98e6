// The safety-door triggered detection (word 144) end to end: the board
// simulator on a pseudo-terminal, the replay camera plug-in, the main
// window's start-up and the engine.
#include "cameramanager.h"
#include "counted.h"
#include "cameraviews.h"
#include "cammerwidget.h"
#include "controlport.h"
#include "cyclerig.h"
#include "drawroiwidget.h"
#include "lanstr.h"
#include "rivurevezi.h"
#include "testworkdir.h"
#include "wizardpara.h"
#include "scriptedoutputs.h"

#include <QtTest>

namespace {
// Generous: sanitised builds on a loaded machine judge many times slower.
constexpr int kCycleWait = 30000;
const QString kControl = QStringLiteral("vmm-door-test-%1").arg(QCoreApplication::applicationPid());

bool cameraCommand(const QString& line) { return cyclerig::cameraCommand(kControl, line); }
}  // namespace

using namespace cyclerig;

class TestDoorCycle : public QObject {
    Q_OBJECT
    BoardSimulator sim;

    static int wire(int logical, int out) { return wireLevel(logical, out); }
    void pulseMouldOpen() { cyclerig::pulseMouldOpen(sim); }

private slots:
    void initTestCase()
    {
        startBoardAndCamera(sim, kControl, QStringLiteral("DOOR-00001"));
        initLanStr();
    }

    // Word 144: the safety door closing has the mould cavity (the clamp's
    // step) judged before the mould may close again; the door found closed
    // at start-up and a door closing with the word off trigger nothing.
    void doorTriggeredDetection()
    {
        TestWorkDir wd;
        copyDatabases(QStringLiteral(VMM_BUILD_DIR), "libcamera_replay.so");
        gAppDirPath = wd.path();
        putWideRegions("PARAM.db", 1, 20);
        editWords("PARAM.db", [](int* w) { w[144] = 1; });
        if (QTest::currentTestFailed())
            return;
        sim.setInputs(kDoorClosed);
        auto* win = new RiVuRevezi(nullptr);
        const auto closeWindow = closeAtEnd(win);
        QVERIFY(win->StartUp());
        QCOMPARE(gpWPara->words[144], 1);
        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(!gisSafeDoorOpen, 5000);
        QTest::qWait(500);
        QVERIFY(!win->cycle().cycleOpen);
        QVERIFY(!QFile::exists("cammer12/template0.bmp"));

        pulseMouldOpen();   // the templates
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer12/template0.bmp") && !win->cycle().cycleOpen, kCycleWait);
        QVector<QPair<int, int>> decided;   // step, door flag while it was decided
        ScriptedOutputs outputs;
        outputs.onCycleStepDone = [&](int step, bool) { decided.append({step, win->cycle().safeDoorDetect}); };

        gpWPara->words[144] = 0;
        cycleDoor(sim);
        QTRY_VERIFY_WITH_TIMEOUT(!gisSafeDoorOpen, 5000);
        QTest::qWait(500);
        QVERIFY(decided.isEmpty());

        gpWPara->words[144] = 1;
        const int judged = counted().all[0];
        cycleDoor(sim);
        QTRY_COMPARE_WITH_TIMEOUT(decided.size(), 1, kCycleWait);
        QCOMPARE(decided[0], qMakePair(1, 1));
        QCOMPARE(win->cycle().safeDoorDetect, 0);
        QCOMPARE(counted().all[0], judged + 1);
        QCOMPARE(win->cycle().detectState, 1);
        QVERIFY(!win->cycle().cycleOpen);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 0), wire(0, 0), 5000);

        // Something left in the mould: the clamp stays forbidden, the alarm
        // rises, and the operator's re-detection of a clear mould frees it.
        QVERIFY(cameraCommand("* defect shortshot"));
        // The door's detection judges the newest frame: wait until one taken
        // after the command is in (under load the camera lags behind it).
        const quint64 before = CameraViews::at(0)->frameCount();
        QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(0)->frameCount() > before + 1, 5000);
        cycleDoor(sim);
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, kCycleWait);
        QCOMPARE(win->cycle().detectStep, 1);
        QCOMPARE(decided.last(), qMakePair(1, 1));
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 0), wire(1, 0), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), 2), wire(1, 2), 5000);
        QVERIFY(cameraCommand("* defect none"));
        const quint64 frames = CameraViews::at(0)->frameCount();
        QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(0)->frameCount() > frames + 1, 5000);
        win->drawROIWidget->SlotReCheck();
        QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen, kCycleWait);
        QCOMPARE(decided.last(), qMakePair(1, 0));   // the operator's decision
        for (int out : {0, 2})
            QTRY_COMPARE_WITH_TIMEOUT(outBit(sim.outputs(), out), wire(0, out), 5000);
        win->StopDetect();
    }
};

QTEST_MAIN(TestDoorCycle)
#include "tst_doorcycle.moc"
