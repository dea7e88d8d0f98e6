// The moulding cycle on two simulated network cameras, reached through the
// network-camera plug-in and the camera SDK, in a network namespace of this
// test: templates captured, a good part judged OK, a short shot judged NG,
// and a camera that goes away and comes back is reconnected on its own;
// slow cameras (1.2 frames a second) judge every step on a picture of its
// opening, in trigger mode too, where that picture is shown; a camera the
// regions expect that is missing or too slow at start holds the machine.
#include "cameramanager.h"
#include "cammerwidget.h"
#include "counted.h"
#include "databases.h"
#include "lanstr.h"
#include "mouldcycle.h"
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
#include <QSqlQuery>
#include <QScreen>
#include <QtTest>

#include <memory>

using namespace cyclerig;

namespace {
// The working folder's databases for the network cameras, with wide
// regions on both cameras and the words `edit` changes.
void twoCameraParams(const std::function<void(int*)>& edit)
{
    copyDatabases(QStringLiteral(VMM_BUILD_DIR), "libcamera_network.so");
    gAppDirPath = QDir::currentPath();
    putWideRegions("PARAM.db", 2, 10);
    editWords("PARAM.db", edit);
}

// How an expected camera is missing at start.
enum Missing { NotOpening, TooSlow, NotListed };

// The operation record's remarks so far.
QStringList remarks()
{
    QStringList out;
    QSqlQuery q(Databases::get().recordDb());
    q.exec(QStringLiteral("select remarks from RECORD order by rowid"));
    while (q.next())
        out << q.value(0).toString();
    return out;
}
}  // namespace

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
        QVERIFY(initLanStr() > 0);  // the words a missing camera is named by
    }

    // Each test's window loads the plug-ins as a new process would.
    void init() { CameraManager::getInstance()->interfaces.clear(); }

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

    // Cameras at 1.2 frames a second (the slowest accepted is under one a
    // second), the product step after 0.1 s and the cavity after the demo's
    // 1.5 s, with "Use External Trigger" on and off: every opening comes
    // 60-120 ms after the first camera's latest picture, its next one some
    // 700 ms later, more than 0.5 s after the product step's countdown
    // ended: each step waits for a picture made after the opening (never
    // the one waiting from before it, nor for less than the camera's
    // interval asks) and judges the good part OK. In trigger mode the
    // screen shows each step's judged picture.
    void slowCamerasJudgeEveryStepOnPicturesOfTheOpening_data()
    {
        QTest::addColumn<int>("trigger");
        QTest::newRow("external trigger") << 1;
        QTest::newRow("free running") << 0;
    }
    void slowCamerasJudgeEveryStepOnPicturesOfTheOpening()
    {
        NETNS_GUARD();
        QFETCH(int, trigger);
        TestWorkDir wd;
        twoCameraParams([trigger](int* w) {
            w[Word::ExternalTrigger] = trigger;
            w[Word::TriggerDelay0] = 1;
            w[Word::TriggerDelay0 + 1] = 15;
        });
        if (QTest::currentTestFailed())
            return;
        for (auto& c : cams_)
            c->knobs().frameIntervalMs = 833;
        const auto fast = qScopeGuard([this] {
            for (auto& c : cams_)
                c->knobs().frameIntervalMs = 0;
        });
        netcamsim::SimNetCamera& slow = *cams_[0];
        auto* win = new RiVuRevezi(nullptr);
        const auto close = closeAtEnd(win);
        QVERIFY(win->StartUp());
        QCOMPARE(numCamera, 2);
        QVERIFY(!CameraViews::at(1)->waitingForCamera());
        QVERIFY(CameraViews::at(0)->frameIntervalMs() > 700);
        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(inputsReported(), 5000);  // the opening is an edge, not a level found
        pulseMouldOpen();  // templates
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer22/template0.bmp") && !win->cycle().cycleOpen, 15000);
        using Sim = netcamsim::SimNetCamera;
        const uchar* shown = CameraViews::at(0)->shownPicture();
        const auto mouldClosedSeen = [] {
            QMutexLocker lock(pMutexIO);
            return (gDataIn & 1) == 0;
        };
        const int base = counted().allCycle[0];
        const int failBefore = counted().fail[0];
        const int cycles = 3;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const auto sinceMade = [&slow] { return gettimeofday_ms() - slow.lastMadeAt(); };
            for (const QDeadlineTimer phase(5000); (sinceMade() < 60 || sinceMade() > 120) && !phase.hasExpired();)
                QTest::qWait(2);
            const qint64 opening = gettimeofday_ms();
            QVERIFY(opening - slow.lastMadeAt() <= 120);
            const quint32 before = Sim::frameNumberOf(shown);
            sim.setInputs(kDoorClosed | 0x001);
            if (trigger) {
                // The product step's picture, then the cavity's (the same
                // one when no newer came): both made after the opening.
                QTRY_VERIFY_WITH_TIMEOUT(Sim::frameNumberOf(shown) != before || win->cycle().detectState == 2, 5000);
                QVERIFY2(Sim::madeAtOf(shown) >= opening,
                         qPrintable(QString("step 1: ms before the opening: %1").arg(opening - Sim::madeAtOf(shown))));
            }
            QTRY_VERIFY_WITH_TIMEOUT(counted().allCycle[0] == base + cycle + 1 || win->cycle().detectState == 2, 8000);
            QVERIFY2(win->cycle().detectState != 2, qPrintable(QString("cycle %1 NG").arg(cycle + 1)));
            if (trigger)
                QVERIFY2(Sim::madeAtOf(shown) >= opening,
                         qPrintable(QString("step 2: ms before the opening: %1").arg(opening - Sim::madeAtOf(shown))));
            sim.setInputs(kDoorClosed);
            QTRY_VERIFY_WITH_TIMEOUT(!win->cycle().cycleOpen && mouldClosedSeen(), 5000);
        }
        QCOMPARE(counted().fail[0], failBefore);
        win->StopDetect();
    }

    // Two cameras the regions expect, the second not there or too slow at
    // start (0.8 frames a second): its view waits for it, the screen and the
    // record say why, and an opening frees nothing (clamp, ejector and alarm
    // held, no cycle counted) until the camera comes; then it is judged.
    void anExpectedCameraMissingAtStartIsHeld_data()
    {
        QTest::addColumn<int>("missing");
        QTest::newRow("does not open") << int(NotOpening);
        QTest::newRow("too slow") << int(TooSlow);
        QTest::newRow("not listed (held until a restart)") << int(NotListed);
    }
    void anExpectedCameraMissingAtStartIsHeld()
    {
        NETNS_GUARD();
        QFETCH(int, missing);
        const bool slow = missing == TooSlow;
        TestWorkDir wd;
        twoCameraParams([](int* w) {
            w[Word::TriggerDelay0] = 3;
            w[Word::TriggerDelay0 + 1] = 5;
        });
        if (QTest::currentTestFailed())
            return;
        netcamsim::SimNetCamera& second = *cams_[1];
        const QByteArray listed = qgetenv("VMM_CAMERA_NETWORK");
        if (slow)
            second.knobs().frameIntervalMs = 1250;
        else if (missing == NotOpening)
            second.stop();
        else
            qputenv("VMM_CAMERA_NETWORK", R"({"discover":false,"cameras":[{"ip":"127.0.0.2","serial":"NETCYCLE-01"}]})");
        const auto restore = qScopeGuard([&second, listed] {
            qputenv("VMM_CAMERA_NETWORK", listed);
            second.knobs().frameIntervalMs = 0;
            if (!second.playing())
                second.start();
        });
        auto* win = new RiVuRevezi(nullptr);
        const auto close = closeAtEnd(win);
        QVERIFY(win->StartUp());
        QCOMPARE(numCamera, 2);
        CammerWidget* v = CameraViews::at(1);
        QVERIFY(v->waitingForCamera() && !v->isAlive() && CameraViews::at(0)->isAlive());
        const QString word = slow                      ? lanStr(747).arg(2).arg(v->refusedIntervalMs()).arg(1100)
                             : missing == NotOpening ? lanStr(746).arg(2)
                                                     : lanStr(749).arg(2);
        QVERIFY2(!slow || v->refusedIntervalMs() > 1100, qPrintable(QString::number(v->refusedIntervalMs())));
        QCOMPARE(v->missingWord(), word);
        QVERIFY(win->LatchWarningText().contains(word));
        QTRY_VERIFY_WITH_TIMEOUT(remarks().contains(word), 5000);

        gpControlIO->InitIOThread();
        QTRY_VERIFY_WITH_TIMEOUT(inputsReported(), 5000);
        const int base = counted().allCycle[0];
        const auto held = [this](int out) { return outBit(sim.outputs(), out) == wireLevel(1, out); };
        pulseMouldOpen();
        QTest::qWait(1500);  // past both countdowns
        QVERIFY(held(MouldCycle::kClampOut) && held(MouldCycle::kEjectorOut) && held(MouldCycle::kAlarmOut));
        QCOMPARE(counted().allCycle[0], base);
        if (missing == NotListed) {
            win->StopDetect();
            return;
        }

        // It comes: taken, said, and judged from then on.
        if (slow)
            second.knobs().frameIntervalMs = 0;
        else
            QVERIFY(second.start());
        QTRY_VERIFY_WITH_TIMEOUT(v->isAlive() && !v->waitingForCamera(), 20000);
        QVERIFY2(!win->LatchWarningText().contains(word), qPrintable(win->LatchWarningText()));
        QTRY_VERIFY_WITH_TIMEOUT(remarks().contains(lanStr(750).arg(2)), 5000);
        pulseMouldOpen();  // templates of both cameras
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists("cammer21/template0.bmp") && !win->cycle().cycleOpen, 15000);
        pulseMouldOpen();  // a good part
        QTRY_VERIFY_WITH_TIMEOUT(counted().allCycle[0] == base + 1 || win->cycle().detectState == 2, 15000);
        QVERIFY(win->cycle().detectState != 2);
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
