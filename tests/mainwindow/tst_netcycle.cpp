// The moulding cycle on two simulated network cameras, reached through the
// network-camera plug-in and the camera SDK, in a network namespace of this
// test: templates captured, a good part judged OK, a short shot judged NG,
// and a camera that goes away and comes back is reconnected on its own;
// under external trigger a slow camera's step is judged on a picture of its
// opening, and that picture is shown.
#include "cammerwidget.h"
#include "counted.h"
#include "cameraviews.h"
#include "controlport.h"
#include "publictools.h"
#include "cyclerig.h"
#include "rivurevezi.h"
#include "simnetcamera.h"
#include "support_netns.h"
#include "testworkdir.h"
#include "wizardpara.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScreen>
#include <QtTest>

#include <memory>

using namespace cyclerig;

class TestNetCycle : public QObject {
    Q_OBJECT
    BoardSimulator sim;
    std::unique_ptr<netcamsim::SimNetCamera> cams_[2];
    void pulseMouldOpen() { cyclerig::pulseMouldOpen(sim); }

private slots:
    void initTestCase()
    {
        NETNS_GUARD();
        QVERIFY(netns::prepare());
        for (int i = 0; i < 2; ++i) {
            netcamsim::Options o;
            o.address = QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i));
            o.width = 320;
            o.height = 256;
            cams_[i] = std::make_unique<netcamsim::SimNetCamera>(o);
            QVERIFY(cams_[i]->start());
        }
        QVERIFY(sim.open());
        sim.setInputs(kDoorClosed);
        sim.start();
        qputenv("VMM_COM_PORT", sim.slaveName().toLocal8Bit());
        qputenv("VMM_CAMERA_NETWORK", R"({"discover":false,"cameras":[{"ip":"127.0.0.2","serial":"NETCYCLE-01"},)"
                                      R"({"ip":"127.0.0.3","serial":"NETCYCLE-02"}]})");
        qputenv("VMM_CAMERA_SIMULATED", R"({"control":"vmm-netcycle-test-sim","cameras":[]})");
        pMutexIO = new QMutex;
        pMutexSaveFail = new QMutex;
    }

    void cycleOnNetworkCameras()
    {
        NETNS_GUARD();
        TestWorkDir wd;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        copyDatabases(build, "libcamera_network.so");
        gAppDirPath = wd.path();
        putWideRegions("PARAM.db", 2, 10);
        if (QTest::currentTestFailed())
            return;

        auto* win = new RiVuRevezi(nullptr);
        QVERIFY(win->StartUp());
        QCOMPARE(numCamera, 2);
        QVERIFY(cams_[0]->playing() && cams_[1]->playing());
        gpControlIO->InitIOThread();
        const int base = counted().allCycle[0];

        pulseMouldOpen();  // templates: a capture cycle is no OK cycle
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer21/template0.bmp") && !win->cycle().cycleOpen, 10000);
        QCOMPARE(counted().allCycle[0], base);

        pulseMouldOpen();  // a good part
        QTRY_VERIFY_WITH_TIMEOUT(counted().allCycle[0] == base + 1 || win->cycle().detectState == 2, 10000);
        QVERIFY2(win->cycle().detectState != 2, qPrintable(QString("good part judged NG: fail %1").arg(counted().fail[0])));

        // The second camera goes away and comes back: reported lost, then
        // reconnected without stopping the program.
        cams_[1]->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!CameraViews::at(1)->isAlive(), 15000);
        QVERIFY(cams_[1]->start());
        QTRY_VERIFY_WITH_TIMEOUT(CameraViews::at(1)->isAlive(), 15000);
        QVERIFY(cams_[1]->playing());

        cams_[0]->knobs().defect = true;  // a short shot on camera 1
        const int failBefore = counted().fail[0];
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, 10000);
        QCOMPARE(counted().fail[0], failBefore + 1);
        cams_[0]->knobs().defect = false;
        win->StopDetect();

        delete win;
        gpWin = nullptr;
        gpControlIO = nullptr;
    }

    // The demo's own parameter file (its region on the part, written for
    // this screen): the simulated camera's short shot is judged NG there.
    void demoRegionSeesTheShortShot()
    {
        NETNS_GUARD();
        TestWorkDir wd;
        const QString build = QStringLiteral(VMM_BUILD_DIR);
        copyDatabases(build, "libcamera_network.so");
        gAppDirPath = wd.path();
        writeDemoParams(build);
        if (QTest::currentTestFailed())
            return;

        auto* win = new RiVuRevezi(nullptr);
        QVERIFY(win->StartUp());
        gpControlIO->InitIOThread();
        const int base = counted().allCycle[0];
        pulseMouldOpen();  // templates
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer22/template0.bmp") && !win->cycle().cycleOpen, 15000);
        pulseMouldOpen();  // a good part
        QTRY_VERIFY_WITH_TIMEOUT(counted().allCycle[0] == base + 1 || win->cycle().detectState == 2, 15000);
        QVERIFY2(win->cycle().detectState != 2, "good part judged NG");

        for (auto& c : cams_)
            c->knobs().defect = true;
        const int failBefore = counted().fail[0];
        pulseMouldOpen();
        QTRY_COMPARE_WITH_TIMEOUT(win->cycle().detectState, 2, 15000);
        QCOMPARE(counted().fail[0], failBefore + 1);
        for (auto& c : cams_)
            c->knobs().defect = false;
        win->StopDetect();
        delete win;
        gpWin = nullptr;
        gpControlIO = nullptr;
    }

    // "Use External Trigger": the network cameras keep running free. The
    // opening comes 60-120 ms after the slow camera's latest picture came,
    // its next picture after the step's 0.2 s countdown ends: each of the
    // two steps is judged on a picture made after the opening (never the one
    // waiting from before it), and the screen shows it after the decision.
    void triggerModeJudgesPicturesOfTheOpening()
    {
        NETNS_GUARD();
        TestWorkDir wd;
        copyDatabases(QStringLiteral(VMM_BUILD_DIR), "libcamera_network.so");
        gAppDirPath = wd.path();
        putWideRegions("PARAM.db", 2, 10);
        editWords("PARAM.db", [](int* w) {
            w[Word::ExternalTrigger] = 1;
            w[Word::TriggerDelay0] = 2;
            w[Word::TriggerDelay0 + 1] = 6;
        });
        if (QTest::currentTestFailed())
            return;
        netcamsim::SimNetCamera& slow = *cams_[0];
        slow.knobs().frameIntervalMs = 400;
        const auto fast = qScopeGuard([&slow] { slow.knobs().frameIntervalMs = 0; });
        auto* win = new RiVuRevezi(nullptr);
        const auto close = closeAtEnd(win);
        QVERIFY(win->StartUp());
        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(inputsReported(), 5000);  // the opening is an edge, not a level found
        pulseMouldOpen();  // templates
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer12/template0.bmp") && !win->cycle().cycleOpen, 15000);
        using Sim = netcamsim::SimNetCamera;
        const uchar* shown = CameraViews::at(0)->shownPicture();
        const auto mouldClosedSeen = [] {
            QMutexLocker lock(pMutexIO);
            return (gDataIn & 1) == 0;
        };
        for (int cycle = 0; cycle < 4; ++cycle) {
            const auto sinceMade = [&slow] { return gettimeofday_ms() - slow.lastMadeAt(); };
            for (const QDeadlineTimer phase(5000); (sinceMade() < 60 || sinceMade() > 120) && !phase.hasExpired();)
                QTest::qWait(2);
            const qint64 opening = gettimeofday_ms();
            QVERIFY(opening - slow.lastMadeAt() <= 120);
            sim.setInputs(kDoorClosed | 0x001);
            for (int step = 0; step < 2; ++step) {
                const quint32 before = Sim::frameNumberOf(shown);
                QTRY_VERIFY_WITH_TIMEOUT(Sim::frameNumberOf(shown) != before || win->cycle().detectState == 2, 5000);
                QVERIFY2(win->cycle().detectState != 2, "judged NG");
                QVERIFY2(Sim::madeAtOf(shown) >= opening, qPrintable(QString("ms before the opening: %1, step %2")
                                                                       .arg(opening - Sim::madeAtOf(shown))
                                                                       .arg(step + 1)));
            }
            sim.setInputs(kDoorClosed);
            QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen && mouldClosedSeen(), 5000);
        }
        win->StopDetect();
    }

    void cleanupTestCase()
    {
        for (auto& c : cams_)
            c.reset();
    }
};

NETNS_TEST_MAIN_APP(TestNetCycle, QApplication)
#include "tst_netcycle.moc"
